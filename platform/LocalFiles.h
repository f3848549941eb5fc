// LocalFiles: the few checks and the error text that every worker on the
// local file system shares (the file store and FileHandling).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/Error.h"

namespace quillon::LocalFiles {

inline bool IsFile(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_regular_file(p, ec);
}

inline bool IsFolder(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_directory(p, ec);
}

inline std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Raises "<what>: '<path>'." with the system's reason when there is one.
[[noreturn]] inline void Raise(std::int32_t number, const std::string& source, const std::string& what,
                               const std::string& path, const std::error_code& ec = {}) {
  std::string message = what + ": " + Quoted(path) + ".";
  if (ec) message += " " + ec.message() + ".";
  throw Error(number, source, message);
}

}  // namespace quillon::LocalFiles
