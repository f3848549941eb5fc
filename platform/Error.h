// Error: the one exception type of the component and its platform.
//
// Every failure travels as an Error carrying an automation error record:
// a 32-bit number, a source, a description, a help file and a help context.
// Failures from libraries (SQLite, libxml2, the C++ runtime) are turned into
// an Error at the platform boundary, or by ErrorInfo::current() when a
// handler catches something else (std::bad_alloc, std::exception, …).
//
// "The pending error" of an error handler is the exception being handled:
// inside a catch block ErrorInfo::current() gives its record; outside any
// catch block there is no pending error (number 0).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quillon {

// Well-known numbers used by the platform layer.
namespace hr {
constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005);          // unspecified failure
constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000E);
constexpr std::int32_t kInvalidArg = static_cast<std::int32_t>(0x80070057);
constexpr std::int32_t kTypeMismatch = static_cast<std::int32_t>(0x800A000D);  // run-time error 13
constexpr std::int32_t kOverflow = static_cast<std::int32_t>(0x800A0006);      // run-time error 6
constexpr std::int32_t kSubscript = static_cast<std::int32_t>(0x800A0009);     // run-time error 9
constexpr std::int32_t kObjectRequired = static_cast<std::int32_t>(0x800A01A8);  // run-time error 424
constexpr std::int32_t kCannotCreate = static_cast<std::int32_t>(0x800A01AD);    // run-time error 429
constexpr std::int32_t kNoSuchMember = static_cast<std::int32_t>(0x800A01B6);    // run-time error 438
constexpr std::int32_t kWrongArgCount = static_cast<std::int32_t>(0x800A01C2);   // run-time error 450
constexpr std::int32_t kFileNotFound = static_cast<std::int32_t>(0x800A0035);    // run-time error 53
constexpr std::int32_t kResourceNotFound = static_cast<std::int32_t>(0x800C0006);  // INET_E_OBJECT_NOT_FOUND
constexpr std::int32_t kDatabase = static_cast<std::int32_t>(0x80040E14);       // provider: command failed
constexpr std::int32_t kDbNoRow = static_cast<std::int32_t>(0x800A0BCD);        // BOF or EOF is true
constexpr std::int32_t kDbClosed = static_cast<std::int32_t>(0x800A0E78);       // object is closed
constexpr std::int32_t kDbNoField = static_cast<std::int32_t>(0x800A0CC1);      // item not found
constexpr std::int32_t kDbNotUpdatable = static_cast<std::int32_t>(0x800A0CB3); // operation not allowed
}  // namespace hr

struct ErrorInfo {
  std::int32_t number = 0;
  std::string source;
  std::string description;
  std::string helpFile;
  std::int32_t helpContext = 0;

  bool pending() const { return number != 0; }
  // The record of the exception currently being handled; number 0 when
  // called outside a catch block.
  static ErrorInfo current();
};

class Error : public std::runtime_error {
 public:
  Error(std::int32_t number, std::string source, std::string description, std::string helpFile = {},
        std::int32_t helpContext = 0);
  explicit Error(ErrorInfo info);

  std::int32_t number() const { return info_.number; }
  const std::string& source() const { return info_.source; }
  const std::string& description() const { return info_.description; }
  const std::string& helpFile() const { return info_.helpFile; }
  std::int32_t helpContext() const { return info_.helpContext; }
  const ErrorInfo& info() const { return info_; }

 private:
  ErrorInfo info_;
};

// Upper-case hexadecimal without leading zeros; negative numbers as their
// 8-digit two's complement (0x800401FE -> "800401FE", 10 -> "A", 0 -> "0").
std::string hexNumber(std::int32_t number);

}  // namespace quillon
