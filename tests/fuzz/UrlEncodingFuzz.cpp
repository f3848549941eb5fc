// URL escaping of any bytes: only unreserved characters and %XX come out,
// and decoding them gives the bytes back.
#include <cstdint>
#include <string>

#include "platform/UrlEncoding.h"

using namespace quillon;

namespace {
int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool unreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const std::string out = UrlEscape(in);
  std::string back;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '%') {
      if (i + 2 >= out.size()) __builtin_trap();
      int high = hex(out[i + 1]), low = hex(out[i + 2]);
      if (high < 0 || low < 0) __builtin_trap();
      back += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      if (!unreserved(out[i])) __builtin_trap();
      back += out[i];
    }
  }
  if (back != in) __builtin_trap();
  return 0;
}
