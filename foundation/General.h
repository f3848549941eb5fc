// General: configuration files, the component factory, the error handler,
// logging and GUIDs, shared by every class of the component.
//
// Error convention. Every public method ends its failure path in
// ReRaiseError with its source ("Quillon.<Class>.<Method>"). In C++ the
// pending error is the exception being handled, so ReRaiseError is called
// from a catch block (Guarded() below does that for a whole method body):
// it logs the error and raises it again with the innermost number and
// source and a description grown by one "METHOD: … caught: …(HEX)." layer.
//
// Module state (connection string, configuration-file paths, membership
// values, logging level, SQL formatter) is per thread and fills on first
// use; it is never refreshed for the life of the thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Variant.h"

namespace quillon {

class Object;
class Connection;

namespace General {

using Info = std::optional<std::string>;

std::string GetB2BConfigFile();
std::string getSiteConfigFile();
std::string getInstallDir();

// Creates an outside component by programmatic id. A failed creation is
// logged and gives an Empty variant.
Variant B2B_getComponent(const std::string& progID);

// The component of that programmatic id, for a caller that cannot go on
// without it: when it cannot be created (or is not a T), Error
// hr::kObjectRequired with `source` and "Object required: <progID> could
// not be created." is raised.
template <class T = Object>
std::shared_ptr<T> RequireComponent(const std::string& progID, const std::string& source) {
  std::shared_ptr<T> object = B2B_getComponent(progID).template as<T>();
  if (!object) throw Error(hr::kObjectRequired, source, "Object required: " + progID + " could not be created.");
  return object;
}

std::int16_t iGeneral_B2BLogging();

void LogTrace(const std::string& method, const Info& info = std::nullopt);
void LogError(const std::string& method, const Info& info = std::nullopt);
void LogEvent(const std::string& method, const Info& info = std::nullopt);

// Logs and re-raises the pending error with one more description layer.
// With no error pending it logs and returns.
void ReRaiseError(const std::string& method, const Info& info = std::nullopt);

// The description ReRaiseError gives an error passing through `method`.
std::string LayeredDescription(const ErrorInfo& pending, const std::string& method, const Info& info);

// Runs `body`; any failure ends in ReRaiseError(method, info()).
template <class F>
decltype(auto) Guarded(const std::string& method, F&& body) {
  try {
    return body();
  } catch (...) {
    ReRaiseError(method);
    throw;  // only reached for an error record with number 0
  }
}
template <class F, class I>
decltype(auto) Guarded(const std::string& method, I&& info, F&& body) {
  try {
    return body();
  } catch (...) {
    std::optional<std::string> text;
    try {
      text = info();
    } catch (...) {
      // The information text is a courtesy: the original failure is what counts.
    }
    ReRaiseError(method, text);
    throw;
  }
}

std::string GetMembershipUser();
std::string GetMembershipCode();

std::string iGeneral_GenerateGUID();

// Closes an open connection and releases it; raises nothing.
void CloseConnection(std::shared_ptr<Connection>& conn);

// The per-thread module state.
struct ModuleState {
  std::string connectionString;
  std::string b2bConfigFile;
  std::string siteConfigFile;
  std::string membershipUser;
  std::string membershipCode;
  bool membershipCodeRead = false;  // an empty code is a value too
  std::int16_t loggingLevel = 0;
  bool loggingLevelRead = false;
  std::shared_ptr<Object> sqlFormatter;
};
ModuleState& ThreadState();
// Empties this thread's module state, as a new thread would start. Used
// when one thread serves several sites in turn (tests, the command line).
void ResetThreadState();

}  // namespace General

// Names of the configuration files in the installation directory.
inline constexpr const char* kB2BConfigFileName = "Z2IZezazaConfiguration.xml";
inline constexpr const char* kSiteConfigFileName = "SiteConfiguration.xml";

}  // namespace quillon
