// The SQL translator and its scanner on any text.
#include <cstdint>
#include <string>

#include "platform/SqlDialect.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  // The tokens cover the text exactly, in order.
  std::size_t at = 0;
  for (const SqlToken& t : SqlDialect::tokenize(in)) {
    if (t.pos != at || t.text.empty() || in.compare(t.pos, t.text.size(), t.text) != 0) __builtin_trap();
    at += t.text.size();
  }
  if (at != in.size()) __builtin_trap();
  // Translating never fails, and string literals come through unchanged.
  std::string out = SqlDialect::translate(in);
  std::size_t literals = 0, kept = 0;
  for (const SqlToken& t : SqlDialect::tokenize(in))
    if (t.kind == SqlToken::String && t.text.size() > 1 && t.text.back() == '\'') ++literals;
  for (const SqlToken& t : SqlDialect::tokenize(out))
    if (t.kind == SqlToken::String && t.text.size() > 1 && t.text.back() == '\'') ++kept;
  if (kept < literals) __builtin_trap();
  return 0;
}
