#include "platform/Configuration.h"

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <unordered_map>
#include <filesystem>

#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"

namespace fs = std::filesystem;

namespace quillon {

namespace {

const char* kSource = "Basalt.Configuration";

std::string escapeXml(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// When and where a file was last changed, as far as stat() tells.
struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modifiedNs = 0;
  bool operator==(const Stamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs;
  }
};

bool stampOf(const std::string& path, Stamp& out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  out = Stamp{st.st_dev, st.st_ino, st.st_size,
              static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  return true;
}

std::int64_t nowNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A file's time stamp moves in clock ticks, so two writes within one tick
// can leave the same stamp. A parse is trusted only for a file that had
// not changed for this long before it was parsed; a younger file is parsed
// again at each Load until it is old enough.
constexpr std::int64_t kSettledNs = 2000000000;

}  // namespace

// The parts of a configuration file the class answers from: for each
// section (the first of a name, without letter case) its keys (the first
// of a name), and the connection strings.
struct ConfigurationValues {
  std::unordered_map<std::string, std::unordered_map<std::string, std::string>> sections;
  std::unordered_map<std::string, std::string> components;  // trimmed texts
};

namespace {

std::shared_ptr<const ConfigurationValues> parseFile(const std::string& local);

struct CachedFile {
  Stamp stamp;
  std::int64_t parsedNs = 0;
  std::shared_ptr<const ConfigurationValues> values;
};

// The parsed file at `local`, from this thread's cache when the file has
// not changed since it was parsed.
std::shared_ptr<const ConfigurationValues> valuesOf(const std::string& local) {
  thread_local std::unordered_map<std::string, CachedFile> cache;
  Stamp stamp;
  bool stamped = stampOf(local, stamp);
  if (stamped) {
    auto it = cache.find(local);
    if (it != cache.end() && it->second.stamp == stamp && stamp.modifiedNs + kSettledNs < it->second.parsedNs)
      return it->second.values;
  }
  std::int64_t parsedNs = nowNs();
  auto values = parseFile(local);  // raises for a missing or foreign file
  if (stamped) {
    if (cache.size() >= 16) cache.clear();  // a thread reads a handful of files
    cache[local] = CachedFile{stamp, parsedNs, values};
  }
  return values;
}

// A relative "Data Source" of a connection string is read from `folder`
// (the configuration file's), so a site copied or moved as a whole uses its
// own database. An absolute path, a network path and SQLite's ":memory:"
// stay as written; so does the rest of the string.
std::string resolveDataSource(const std::string& connectionString, const fs::path& folder) {
  std::string out;
  std::size_t start = 0;
  while (start <= connectionString.size()) {
    std::size_t semi = connectionString.find(';', start);
    std::string part = connectionString.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
    std::size_t eq = part.find('=');
    if (eq != std::string::npos && equalsIgnoreCase(text::Trim(part.substr(0, eq)), "Data Source")) {
      std::string value = text::Trim(part.substr(eq + 1));
      char quote = 0;
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        quote = value.front();
        value = value.substr(1, value.size() - 2);
      }
      bool keep = value.empty() || value == ":memory:" || value.rfind("\\\\", 0) == 0 ||
                  fs::path(text::LocalPath(value)).is_absolute() || folder.empty();
      if (!keep) {
        value = (folder / text::LocalPath(value)).lexically_normal().string();
        part = part.substr(0, eq + 1) + (quote ? std::string(1, quote) + value + quote : value);
      }
    }
    out += part;
    if (semi == std::string::npos) break;
    out += ';';
    start = semi + 1;
  }
  return out;
}

}  // namespace

namespace {

std::shared_ptr<const ConfigurationValues> parseFile(const std::string& local) {
  auto doc = std::make_shared<DomDocument>();
  // A value is kept as written, blanks at its ends included (a password may have them).
  doc->setPreserveWhiteSpace(true);
  if (!doc->load(local))
    throw Error(doc->parseError().errorCode ? doc->parseError().errorCode : hr::kFail, kSource,
                "The configuration file '" + local + "' could not be loaded: " + doc->parseError().reason);
  auto root = doc->documentElement();
  if (!root || root->nodeName() != "configuration")
    throw Error(hr::kFail, kSource, "The file '" + local + "' is not a configuration document.");
  auto values = std::make_shared<ConfigurationValues>();
  auto sections = root->selectNodes("section");
  for (const auto& section : sections->nodes()) {
    auto [entry, first] = values->sections.try_emplace(toLowerAscii(section->getAttribute("name")));
    if (!first) continue;  // a later section of the same name is never read
    auto keys = section->selectNodes("key");
    for (const auto& key : keys->nodes()) entry->second.try_emplace(toLowerAscii(key->getAttribute("name")), key->text());
  }
  if (auto strings = root->selectSingleNode("connectionStrings")) {
    auto components = strings->selectNodes("component");
    for (const auto& c : components->nodes())
      values->components.try_emplace(toLowerAscii(c->getAttribute("name")), text::Trim(c->text()));
  }
  return values;
}

}  // namespace

void Configuration::Load(const std::string& path) {
  std::string local = text::LocalPath(path);
  values_ = valuesOf(local);
  path_ = local;
}

Variant Configuration::GetValue(const std::string& section, const std::string& key) const {
  if (!values_) throw Error(hr::kFail, kSource, "No configuration file is loaded.");
  auto sec = values_->sections.find(toLowerAscii(section));
  if (sec == values_->sections.end()) return {};
  auto k = sec->second.find(toLowerAscii(key));
  if (k == sec->second.end()) return {};
  return Variant(k->second);
}

std::string Configuration::GetConnectionString(const std::string& component) const {
  if (!values_) throw Error(hr::kFail, kSource, "No configuration file is loaded.");
  auto c = values_->components.find(toLowerAscii(component));
  if (c == values_->components.end())
    throw Error(hr::kFail, kSource,
                "The configuration file '" + path_ + "' has no connection string for the component '" + component + "'.");
  return resolveDataSource(c->second, fs::path(path_).parent_path());
}

std::shared_ptr<Dictionary> Configuration::GetInstallationRecords(const std::string& product) const {
  auto records = std::make_shared<Dictionary>();
  if (!equalsIgnoreCase(product, kProductName)) return records;
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (!site || !*site)
    throw Error(hr::kFail, kSource,
                std::string("No site is chosen: set ") + kSiteEnvironmentVariable + " to the site directory (or pass --site).");
  auto record = std::make_shared<Dictionary>();
  record->Add("Product", Variant(product));
  record->Add("InstallDir", Variant(std::string(site)));
  records->Add(product, Variant(record));
  return records;
}

std::string Configuration::Compose(const std::vector<std::pair<std::string, std::string>>& connectionStrings,
                                   const std::vector<std::tuple<std::string, std::string, std::string>>& values) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>\n";
  if (!connectionStrings.empty()) {
    out += "  <connectionStrings>\n";
    for (const auto& [name, value] : connectionStrings)
      out += "    <component name=\"" + escapeXml(name) + "\">" + escapeXml(value) + "</component>\n";
    out += "  </connectionStrings>\n";
  }
  std::string current;
  bool open = false;
  for (const auto& [section, key, value] : values) {
    if (!open || section != current) {
      if (open) out += "  </section>\n";
      out += "  <section name=\"" + escapeXml(section) + "\">\n";
      current = section;
      open = true;
    }
    out += "    <key name=\"" + escapeXml(key) + "\">" + escapeXml(value) + "</key>\n";
  }
  if (open) out += "  </section>\n";
  out += "</configuration>\n";
  return out;
}

const ClassInfo* Configuration::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<Configuration>("Basalt.Configuration")
          .method("Load", {in("Path")}, [](Configuration& c, auto& a) { c.Load(a[0].toString()); return Variant(); })
          .method("GetValue", {in("Section"), in("Key")},
                  [](Configuration& c, auto& a) { return c.GetValue(a[0].toString(), a[1].toString()); })
          .method("GetConnectionString", {in("Component"), ref("ConnectionString")},
                  [](Configuration& c, auto& a) {
                    a[1] = Variant(c.GetConnectionString(a[0].toString()));
                    return Variant();
                  })
          .method("GetInstallationRecords", {in("Product"), ref("Records")},
                  [](Configuration& c, auto& a) {
                    a[1] = Variant(c.GetInstallationRecords(a[0].toString()));
                    return Variant();
                  })
          .done();
  return info;
}

namespace {
const bool kRegistered = (Configuration().classInfo(), true);
}

}  // namespace quillon
