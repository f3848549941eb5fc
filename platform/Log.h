// Log: the platform log service ("Basalt.Log").
//
// Entries go to the file "log/quillon.log" of the site directory
// (QUILLON_SITE); without a site they go to standard error. One entry is one
// line, written with a single append so that several processes can share
// the file:
//   YYYY-MM-DD hh:mm:ss <TAB> ERROR|EVENT <TAB> source <TAB> code <TAB> message
// with backslash, tab, CR and LF in source and message escaped as \\ \t \r \n.
// Logging never raises: a log that cannot be written is reported on
// standard error and the caller goes on.
#pragma once

#include <string>
#include <vector>

#include "platform/Object.h"

namespace quillon {

struct LogEntry {
  std::string time;
  std::string kind;  // "ERROR" or "EVENT"
  std::string source;
  long code = 0;
  std::string message;
};

class Log : public Object {
 public:
  const ClassInfo* classInfo() const override;

  void WriteError(const std::string& source, const std::string& message, long code, const Variant& extra = {});
  void WriteEvent(const std::string& source, const std::string& message, long code, const Variant& extra = {});

  // The log file of the current site ("" without a site).
  static std::string FilePath();
  // Reads the entries of a log file (for operators and tests).
  static std::vector<LogEntry> ReadEntries(const std::string& path);

 private:
  void write(const char* kind, const std::string& source, const std::string& message, long code);
};

}  // namespace quillon
