#include "foundation/General.h"

#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Guid.h"
#include "platform/Log.h"
#include "platform/Object.h"
#include "platform/Text.h"

namespace quillon::General {

namespace {

const char* const kCrLf = "\r\n";

std::shared_ptr<Configuration> newConfiguration() {
  return RequireComponent<Configuration>("Basalt.Configuration", "Quillon.General");
}

std::shared_ptr<Log> newLog() {
  // The log is the last resort of every handler: create it directly so a
  // failing factory cannot recurse into LogError.
  return std::make_shared<Log>();
}

std::string logMessage(const ErrorInfo& pending, const std::string& method, const Info& info) {
  std::string m = method + " caught: " + pending.description + "(" + hexNumber(pending.number) + ").";
  if (info) m += " Additional information: " + *info;
  return m;
}

void writeLog(bool error, const std::string& method, const Info& info) {
  ErrorInfo pending = ErrorInfo::current();
  auto log = newLog();
  std::string message = logMessage(pending, method, info);
  if (error)
    log->WriteError(pending.source, message, 0);
  else
    log->WriteEvent(pending.source, message, 0);
}

}  // namespace

ModuleState& ThreadState() {
  thread_local ModuleState state;
  return state;
}

void ResetThreadState() { ThreadState() = ModuleState{}; }

std::string getInstallDir() {
  try {
    auto cfg = newConfiguration();
    auto records = cfg->GetInstallationRecords(kProductName);
    std::string dir;
    for (long i = 0; i < records->Count(); ++i) {
      auto record = records->entry(i).second.as<Dictionary>();
      if (record) dir = record->Item("InstallDir").text();
    }
    return dir;
  } catch (...) {
    LogError("General.getInstallDir", "Can't Getting the install directory where Z2IZezaza is installed.");
    return {};
  }
}

namespace {
// Fills a cached configuration-file path from the installation directory.
// An empty directory is not cached, so a later call can still find the site.
std::string configFile(std::string& cache, const char* fileName, const char* method, const char* info) {
  try {
    if (cache.empty()) {
      std::string dir = getInstallDir();
      if (dir.empty()) return "\\" + std::string(fileName);
      cache = dir + "\\" + fileName;
    }
    return cache;
  } catch (...) {
    LogError(method, std::string(info));
    return cache;
  }
}
}  // namespace

std::string GetB2BConfigFile() {
  return configFile(ThreadState().b2bConfigFile, kB2BConfigFileName, "General.GetB2BConfigFile",
                    "Getting the Z2IZezaza configuration file is failed.");
}

std::string getSiteConfigFile() {
  return configFile(ThreadState().siteConfigFile, kSiteConfigFileName, "General.getSiteConfigFile",
                    "Getting the site configuration file is failed.");
}

Variant B2B_getComponent(const std::string& progID) {
  // No transaction-server object context exists on this platform: every
  // component is created directly.
  try {
    return Variant(Registry::instance().create(progID));
  } catch (...) {
    LogError("General.B2B_getComponent", "Create instance of " + progID + " failed.");
    return {};
  }
}

std::int16_t iGeneral_B2BLogging() {
  ModuleState& st = ThreadState();
  if (st.loggingLevelRead) return st.loggingLevel;
  st.loggingLevelRead = true;
  st.loggingLevel = 0;
  try {
    auto cfg = newConfiguration();
    cfg->Load(GetB2BConfigFile());
    bool readFailed = false;
    std::int16_t level = 0;
    try {
      level = cfg->GetValue("GLOBAL", "B2BLogging").toInt16();
    } catch (...) {
      readFailed = true;  // a missing or non-numeric value means no tracing
    }
    if (!readFailed && level >= 1 && level < 99) st.loggingLevel = level;
    return st.loggingLevel;
  } catch (...) {
    LogError("general.bas\\iGeneral_B2BLogging");
    return 0;
  }
}

void LogTrace(const std::string& method, const Info& info) {
  ErrorInfo pending = ErrorInfo::current();
  std::string message = std::string(kCrLf) + "ERROR 0x" + hexNumber(pending.number) + kCrLf + " METHOD: " + method +
                        kCrLf + " DESC: " + pending.description + "." + kCrLf;
  if (info) message += " INFO: " + *info + "." + kCrLf;
  newLog()->WriteEvent(method, message, 2);
}

void LogError(const std::string& method, const Info& info) { writeLog(true, method, info); }

void LogEvent(const std::string& method, const Info& info) { writeLog(false, method, info); }

std::string LayeredDescription(const ErrorInfo& pending, const std::string& method, const Info& info) {
  std::string d = std::string(kCrLf) + "METHOD: " + method + " caught: " + pending.description + "(" +
                  hexNumber(pending.number) + ").";
  if (info) d += " Additional information: " + *info;
  return d;
}

void ReRaiseError(const std::string& method, const Info& info) {
  ErrorInfo pending = ErrorInfo::current();
  if (!pending.pending()) {
    LogError(method, info);
    return;
  }
  std::string description = LayeredDescription(pending, method, info);
  LogError(method, info);
  throw Error(pending.number, pending.source, std::move(description), pending.helpFile, pending.helpContext);
}

std::string GetMembershipUser() {
  ModuleState& st = ThreadState();
  if (st.membershipUser.empty()) {
    auto cfg = newConfiguration();
    cfg->Load(getSiteConfigFile());
    std::string user = cfg->GetValue("MEMBERSHIP", "MemScriptUser").text();
    std::string root = cfg->GetValue("MEMBERSHIP", "LDAPRoot").text();
    if (!root.empty()) user += "," + root;
    st.membershipUser = user;
  }
  return st.membershipUser;
}

std::string GetMembershipCode() {
  ModuleState& st = ThreadState();
  if (!st.membershipCodeRead) {
    auto cfg = newConfiguration();
    cfg->Load(getSiteConfigFile());
    st.membershipCode = cfg->GetValue("MEMBERSHIP", "MemScriptCode").text();
    st.membershipCodeRead = true;
  }
  return st.membershipCode;
}

std::string iGeneral_GenerateGUID() {
  return Guarded("Quillon.iGeneral_GenerateGUID", [] {
    std::array<std::uint8_t, 16> g{};
    if (!NewGuid(g)) throw Error(hr::kFail, "Quillon.iGeneral_GenerateGUID", "Could not generate GUID (unique identifier)");
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(32);
    for (std::uint8_t b : g) {
      out += digits[b >> 4];
      out += digits[b & 0xF];
    }
    return out;
  });
}

void CloseConnection(std::shared_ptr<Connection>& conn) {
  try {
    if (conn && conn->State() == ado::adStateOpen) conn->Close();
  } catch (...) {
    // Closing is best effort: the caller is usually in its own error path.
  }
  conn.reset();
}

}  // namespace quillon::General
