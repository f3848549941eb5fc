#include "platform/Error.h"

#include <cstdio>
#include <exception>
#include <new>

namespace quillon {

Error::Error(std::int32_t number, std::string source, std::string description, std::string helpFile,
             std::int32_t helpContext)
    : Error(ErrorInfo{number, std::move(source), std::move(description), std::move(helpFile), helpContext}) {}

Error::Error(ErrorInfo info) : std::runtime_error(info.description), info_(std::move(info)) {}

ErrorInfo ErrorInfo::current() {
  std::exception_ptr p = std::current_exception();
  if (!p) return {};
  try {
    std::rethrow_exception(p);
  } catch (const Error& e) {
    return e.info();
  } catch (const std::bad_alloc&) {
    return ErrorInfo{hr::kOutOfMemory, "Quillon", "Out of memory"};
  } catch (const std::exception& e) {
    return ErrorInfo{hr::kFail, "Quillon", e.what()};
  } catch (...) {
    return ErrorInfo{hr::kFail, "Quillon", "Unknown failure"};
  }
}

std::string hexNumber(std::int32_t number) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<std::uint32_t>(number));
  return buf;
}

}  // namespace quillon
