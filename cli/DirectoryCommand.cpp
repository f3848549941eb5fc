#include "cli/DirectoryCommand.h"

#include <string.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Configuration.h"
#include "platform/Directory.h"
#include "platform/Error.h"

namespace quillon::cli {

namespace {

int usage(const std::string& message) {
  std::cerr << "quillon directory: " << message << "\nTry 'quillon --help'.\n";
  return 2;
}

// Refusals of well-formed commands: bad values, unknown partners, …
struct Refused {
  std::string message;
};

// Options after the sub-command: "--name VALUE", "--name=VALUE" or a flag;
// "--" ends them. Unknown or repeated options are usage errors.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;
  std::set<std::string> flags;

  std::optional<std::string> value(const std::string& name) const {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second.back();
  }
  const std::vector<std::string>& all(const std::string& name) const {
    static const std::vector<std::string> none;
    auto it = values.find(name);
    return it == values.end() ? none : it->second;
  }
};

// Returns an error message, or nothing when the arguments parse.
std::optional<std::string> parse(const std::vector<std::string>& args, const std::set<std::string>& single,
                                 const std::set<std::string>& repeatable, const std::set<std::string>& flags,
                                 Arguments& out) {
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a.compare(0, 2, "--") != 0) {
      out.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = a, value;
    bool inlineValue = false;
    if (auto eq = a.find('='); eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inlineValue = true;
    }
    if (flags.count(name)) {
      if (inlineValue) return name + " takes no value";
      out.flags.insert(name);
      continue;
    }
    bool isSingle = single.count(name) > 0;
    if (!isSingle && !repeatable.count(name)) return "unknown option " + name;
    if (!inlineValue) {
      if (i + 1 >= args.size()) return name + " needs a value";
      value = args[++i];
    }
    auto& slot = out.values[name];
    if (isSingle && !slot.empty()) return name + " is given twice";
    slot.push_back(value);
  }
  return std::nullopt;
}

std::int32_t number(const std::string& text, const std::string& what) {
  bool ok = !text.empty() && text.size() <= 11;
  std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  ok = ok && start < text.size() && text.find_first_not_of("0123456789", start) == std::string::npos;
  long long v = ok ? std::stoll(text) : 0;
  if (!ok || v < INT32_MIN || v > INT32_MAX) throw Refused{"the " + what + " '" + text + "' is not a whole number"};
  return static_cast<std::int32_t>(v);
}

std::string siteConfigFile() {
  return std::string(std::getenv(kSiteEnvironmentVariable)) + "/SiteConfiguration.xml";
}

int addPartner(const std::vector<std::string>& args) {
  Arguments a;
  if (auto bad = parse(args, {"--code-c", "--code-s"}, {}, {}, a)) return usage(*bad);
  if (a.positional.size() != 2) return usage("add-partner takes an ID and a NAME");
  std::int32_t id = number(a.positional[0], "partner id");
  std::string db = DirectoryAdmin::DatabasePath(siteConfigFile());
  DirectoryAdmin::AddPartner(db, id, a.positional[1], a.value("--code-c").value_or(""), a.value("--code-s").value_or(""));
  std::cout << "Partner " << id << " '" << a.positional[1] << "' saved.\n";
  return 0;
}

int addUser(const std::vector<std::string>& args) {
  Arguments a;
  if (auto bad = parse(args,
                       {"--partner", "--email", "--given", "--family", "--language", "--locale", "--employee-number"},
                       {"--application"}, {"--password-stdin"}, a))
    return usage(*bad);
  if (a.positional.size() != 1) return usage("add-user takes one CN");
  DirectoryAdmin::UserRecord u;
  u.cn = a.positional[0];
  if (u.cn.empty()) throw Refused{"the CN must not be empty"};
  auto partner = a.value("--partner");
  if (!partner) throw Refused{"add-user needs --partner ID"};
  u.partnerID = number(*partner, "partner id");
  auto email = a.value("--email");
  if (!email) throw Refused{"add-user needs --email ADDRESS"};
  if (email->empty()) throw Refused{"the e-mail address must not be empty"};
  u.email = *email;
  u.givenName = a.value("--given").value_or("");
  u.familyName = a.value("--family").value_or("");
  u.employeeNumber = a.value("--employee-number").value_or("");
  if (auto v = a.value("--language")) u.languageID = number(*v, "language LCID");
  if (auto v = a.value("--locale")) u.localeID = number(*v, "locale LCID");
  for (const auto& app : a.all("--application")) u.applications.push_back(number(app, "application id"));
  if (a.flags.count("--password-stdin")) {
    std::string line;
    if (!std::getline(std::cin, line)) throw Refused{"--password-stdin found no password on standard input"};
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) throw Refused{"the password on standard input is empty"};
    u.password = line;
    explicit_bzero(line.data(), line.size());
  }
  std::string db = DirectoryAdmin::DatabasePath(siteConfigFile());
  try {
    DirectoryAdmin::AddUser(db, u);
  } catch (...) {
    if (u.password) explicit_bzero(u.password->data(), u.password->size());
    throw;
  }
  if (u.password) explicit_bzero(u.password->data(), u.password->size());
  std::cout << "User '" << u.cn << "' saved" << (u.password ? " with a password" : " without a password") << ".\n";
  return 0;
}

int list(const std::vector<std::string>& args) {
  if (args.size() > 1) return usage("list takes no arguments");
  std::string db = DirectoryAdmin::DatabasePath(siteConfigFile());
  auto partners = DirectoryAdmin::ListPartners(db);
  auto users = DirectoryAdmin::ListUsers(db);
  std::map<std::int32_t, std::string> names;
  std::cout << "Business partners (" << partners.size() << "):\n";
  for (const auto& p : partners) {
    names[p.id] = p.name;
    std::cout << "  " << p.id << "  " << p.name;
    if (!p.codeC.empty()) std::cout << "  customer code " << p.codeC;
    if (!p.codeS.empty()) std::cout << "  supplier code " << p.codeS;
    std::cout << "\n";
  }
  std::cout << "Users (" << users.size() << "):\n";
  for (const auto& l : users) {
    const auto& u = l.user;
    std::cout << "  " << u.cn << "  partner " << u.partnerID << " (" << names[u.partnerID] << ")  " << u.email;
    std::string name = u.givenName + (u.givenName.empty() || u.familyName.empty() ? "" : " ") + u.familyName;
    if (!name.empty()) std::cout << "  " << name;
    if (!u.employeeNumber.empty()) std::cout << "  employee " << u.employeeNumber;
    std::cout << "  language " << u.languageID << "  locale " << u.localeID;
    if (!u.applications.empty()) {
      std::cout << "  applications ";
      for (std::size_t i = 0; i < u.applications.size(); ++i) std::cout << (i ? "," : "") << u.applications[i];
    }
    std::cout << (l.hasPassword ? "  password set" : "  no password") << "\n";
  }
  return 0;
}

}  // namespace

int RunDirectoryCommand(const std::vector<std::string>& args) {
  if (args.empty()) return usage("directory needs add-partner, add-user or list");
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (!site || !*site) return usage(std::string("no site: pass --site DIR or set ") + kSiteEnvironmentVariable);
  const std::string& command = args[0];
  try {
    if (command == "add-partner") return addPartner(args);
    if (command == "add-user") return addUser(args);
    if (command == "list") return list(args);
  } catch (const Refused& r) {
    std::cerr << "quillon directory " << command << ": " << r.message << "\n";
    return 1;
  } catch (...) {
    std::cerr << "quillon directory " << command << ": " << ErrorInfo::current().description << "\n";
    return 1;
  }
  return usage("unknown directory command '" + command + "'");
}

}  // namespace quillon::cli
