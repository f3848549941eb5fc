#include "platform/Configuration.h"

#include <cstdlib>
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

// Finds the child element of `parent` with the given tag whose "name"
// attribute equals `name` without letter case.
std::shared_ptr<DomNode> namedChild(const DomNode& parent, const std::string& tag, const std::string& name) {
  auto list = parent.selectNodes(tag);
  for (const auto& node : list->nodes())
    if (equalsIgnoreCase(node->getAttribute("name"), name)) return node;
  return nullptr;
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

void Configuration::Load(const std::string& path) {
  std::string local = text::LocalPath(path);
  auto doc = std::make_shared<DomDocument>();
  if (!doc->load(local))
    throw Error(doc->parseError().errorCode ? doc->parseError().errorCode : hr::kFail, kSource,
                "The configuration file '" + local + "' could not be loaded: " + doc->parseError().reason);
  auto root = doc->documentElement();
  if (!root || root->nodeName() != "configuration")
    throw Error(hr::kFail, kSource, "The file '" + local + "' is not a configuration document.");
  path_ = local;
  doc_ = std::move(doc);
}

Variant Configuration::GetValue(const std::string& section, const std::string& key) const {
  if (!doc_) throw Error(hr::kFail, kSource, "No configuration file is loaded.");
  auto sec = namedChild(*doc_->documentElement(), "section", section);
  if (!sec) return {};
  auto k = namedChild(*sec, "key", key);
  if (!k) return {};
  return Variant(k->text());
}

std::string Configuration::GetConnectionString(const std::string& component) const {
  if (!doc_) throw Error(hr::kFail, kSource, "No configuration file is loaded.");
  auto strings = doc_->documentElement()->selectSingleNode("connectionStrings");
  auto c = strings ? namedChild(*strings, "component", component) : nullptr;
  if (!c)
    throw Error(hr::kFail, kSource,
                "The configuration file '" + path_ + "' has no connection string for the component '" + component + "'.");
  return resolveDataSource(text::Trim(c->text()), fs::path(path_).parent_path());
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
