#include "cli/ConfigCommand.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/General.h"
#include "platform/Configuration.h"
#include "platform/Error.h"
#include "platform/Object.h"
#include "platform/XmlDom.h"

namespace fs = std::filesystem;

namespace quillon::cli {

namespace {

const char* kMask = "********";

int usage(const std::string& message) {
  std::cerr << "quillon config: " << message << "\nTry 'quillon --help'.\n";
  return 2;
}

// A well-formed command that cannot be carried out: no site, no such key,
// a file that cannot be read or replaced.
struct Refused {
  std::string message;
};

// A password is never shown, whatever its section.
bool isSecret(const std::string& key) { return toLowerAscii(key).find("password") != std::string::npos; }

std::string shown(const std::string& key, const std::string& value) { return isSecret(key) ? kMask : value; }

fs::path siteConfigurationFile() {
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (!site || !*site) throw Refused{"no site: pass --site DIR or set " + std::string(kSiteEnvironmentVariable)};
  fs::path file = fs::path(site) / kSiteConfigFileName;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) throw Refused{"no site at '" + std::string(site) + "' (" + file.string() + " is missing)"};
  return file;
}

// Only characters an XML 1.0 document may hold, in valid UTF-8: anything
// else would leave a file that no longer loads.
bool storableText(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      ++i;
      continue;
    }
    std::size_t n = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    std::uint32_t cp = c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static const std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return false;
    i += n;
  }
  return true;
}

std::string readWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Refused{"cannot read '" + file.string() + "'"};
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The first element child of `parent` named `element` whose attribute
// "name" equals `name` without letter case: the one the component reads.
std::shared_ptr<DomNode> findNamed(const DomNode& parent, const std::string& element, const std::string& name) {
  auto children = parent.selectNodes(element);
  for (const auto& c : children->nodes())
    if (equalsIgnoreCase(c->getAttribute("name"), name)) return c;
  return nullptr;
}

bool isBlankText(const std::shared_ptr<DomNode>& n) {
  if (!n || n->nodeType() != DomNodeType::Text) return false;
  return n->nodeValue().find_first_not_of(" \t\r\n") == std::string::npos;
}

// Appends `child` as the last element of `parent` on a line of its own,
// indented as the installer writes the file; the closing tag of the parent
// keeps its own line.
void appendIndented(DomDocument& doc, DomNode& parent, const std::shared_ptr<DomNode>& child, const std::string& indent,
                    const std::string& closingIndent) {
  auto last = parent.childNodes()->item(parent.childNodes()->length() - 1);
  if (isBlankText(last)) parent.removeChild(last);
  parent.appendChild(doc.createTextNode("\n" + indent));
  parent.appendChild(child);
  parent.appendChild(doc.createTextNode("\n" + closingIndent));
}

// The XML declaration at the start of a text ("" when it has none).
std::string declarationOf(const std::string& text) {
  if (text.rfind("<?xml", 0) != 0) return {};
  std::size_t end = text.find("?>");
  return end == std::string::npos ? std::string() : text.substr(0, end + 2);
}

// The file's text with the key set to `value`. The rest of the file -
// other sections, comments, layout - stays as it was.
std::string withValue(const fs::path& file, const std::string& original, const std::string& section,
                      const std::string& key, const std::string& value) {
  DomDocument doc;
  doc.setPreserveWhiteSpace(true);
  if (!doc.loadXML(original))
    throw Refused{"'" + file.string() + "' is not readable XML: " + doc.parseError().reason};
  auto root = doc.documentElement();
  if (!root || root->nodeName() != "configuration")
    throw Refused{"'" + file.string() + "' is not a configuration document"};

  auto sectionNode = findNamed(*root, "section", section);
  if (!sectionNode) {
    sectionNode = doc.createElement("section");
    sectionNode->setAttribute("name", section);
    appendIndented(doc, *root, sectionNode, "  ", "");
  }
  auto keyNode = findNamed(*sectionNode, "key", key);
  if (!keyNode) {
    keyNode = doc.createElement("key");
    keyNode->setAttribute("name", key);
    appendIndented(doc, *sectionNode, keyNode, "    ", "  ");
  }
  keyNode->setText(value);

  std::string text = doc.xml();
  // The serializer writes UTF-8 and a declaration without encoding; an
  // original declaration that says UTF-8 (or nothing) is kept as written.
  std::string before = declarationOf(original), after = declarationOf(text);
  std::string lowered = toLowerAscii(before);
  if (!before.empty() && !after.empty() &&
      (lowered.find("encoding") == std::string::npos || lowered.find("utf-8") != std::string::npos))
    text = before + text.substr(after.size());
  if (!original.empty() && original.back() == '\n' && (text.empty() || text.back() != '\n')) text += '\n';

  // What is written must load again, with the value as given.
  DomDocument check;
  check.setPreserveWhiteSpace(true);
  if (!check.loadXML(text)) throw Refused{"the changed configuration would not load: " + check.parseError().reason};
  return text;
}

std::string errnoText(const std::string& what, const fs::path& p) {
  return what + " '" + p.string() + "': " + std::strerror(errno);
}

// Replaces `file` with `content` so that a crash leaves either the old or
// the new file, never part of one: the text goes to a new file in the same
// folder, which gets the old file's mode and owner, reaches the disk, and
// is renamed over the old one; then the folder entry reaches the disk.
void replaceFile(const fs::path& file, const std::string& content) {
  std::error_code ec;
  fs::path real = fs::canonical(file, ec);  // a linked file is replaced where it lives
  if (ec) throw Refused{"cannot resolve '" + file.string() + "': " + ec.message()};
  struct stat st {};
  if (::stat(real.c_str(), &st) != 0) throw Refused{errnoText("cannot read the mode of", real)};

  std::string tmpl = (real.parent_path() / ("." + real.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());  // created with mode 0600
  if (fd < 0) throw Refused{errnoText("cannot create a new file beside", real)};
  fs::path tmp(name.data());
  auto fail = [&](const std::string& message) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw Refused{message};
  };
  if (::fchmod(fd, st.st_mode & 07777) != 0) fail(errnoText("cannot set the mode of", tmp));
  // Run as another user (root), the file must stay its owner's: the
  // component runs as that owner and reads it.
  if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(fd, st.st_uid, st.st_gid) != 0)
    fail(errnoText("cannot give the new file the owner of", real));
  for (std::size_t done = 0; done < content.size();) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(errnoText("cannot write", tmp));
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) fail(errnoText("cannot write", tmp));
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    throw Refused{errnoText("cannot write", tmp)};
  }
  if (::rename(tmp.c_str(), real.c_str()) != 0) {
    std::string message = errnoText("cannot replace", real);
    ::unlink(tmp.c_str());
    throw Refused{message};
  }
  int dir = ::open(real.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || ::fsync(dir) != 0) {
    if (dir >= 0) ::close(dir);
    throw Refused{errnoText("the new file is in place but its folder could not be synced:", real.parent_path())};
  }
  ::close(dir);
}

int get(const std::string& section, const std::string& key) {
  fs::path file = siteConfigurationFile();
  Variant value;
  try {
    Configuration config;
    config.Load(file.string());
    value = config.GetValue(section, key);
  } catch (const Error& e) {
    throw Refused{e.description()};
  }
  if (value.isEmpty()) throw Refused{"the key '" + key + "' of section '" + section + "' is not set in " + file.string()};
  std::cout << shown(key, value.toString()) << "\n";
  return 0;
}

// Holds an exclusive lock on the folder of the configuration file while a
// change reads and replaces it, so two changes at once never lose one.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& folder) : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) throw Refused{errnoText("cannot open the folder", folder)};
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      std::string message = errnoText("cannot lock the folder", folder);
      ::close(fd_);
      throw Refused{message};
    }
  }
  ~FolderLock() { ::close(fd_); }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

int set(const std::string& section, const std::string& key, const std::string& value) {
  fs::path file = siteConfigurationFile();
  std::error_code ec;
  fs::path real = fs::canonical(file, ec);
  FolderLock lock(ec ? file.parent_path() : real.parent_path());
  replaceFile(file, withValue(file, readWhole(file), section, key, value));
  std::cout << "[" << section << "] " << key << " = " << shown(key, value) << "\n";
  return 0;
}

}  // namespace

int RunConfigCommand(const std::vector<std::string>& args) {
  if (args.empty()) return usage("say get SECTION KEY or set SECTION KEY VALUE");
  const std::string& verb = args[0];
  if (verb != "get" && verb != "set") return usage("unknown sub-command '" + verb + "' (get or set)");
  if (verb == "get" && args.size() != 3) return usage("get takes SECTION KEY");
  if (verb == "set" && args.size() != 4) return usage("set takes SECTION KEY VALUE (or --value-stdin)");
  const std::string& section = args[1];
  const std::string& key = args[2];
  if (section.empty() || key.empty()) return usage("the section and the key must not be empty");
  if (!storableText(section) || !storableText(key)) return usage("the section and the key must be plain text");
  try {
    if (verb == "get") return get(section, key);
    std::string value = args[3];
    // A password given on the command line is seen by every user of the
    // machine (ps); from standard input it is not.
    if (value == "--value-stdin") {
      if (!std::getline(std::cin, value)) value.clear();
      if (!value.empty() && value.back() == '\r') value.pop_back();
    }
    if (!storableText(value))
      return usage("the value holds control characters or is not UTF-8 text; the file could not hold it");
    return set(section, key, value);
  } catch (const Refused& r) {
    std::cerr << "quillon config: " << r.message << "\n";
    return 1;
  }
}

}  // namespace quillon::cli
