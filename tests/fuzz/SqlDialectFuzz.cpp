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
  // Translating never fails, and keeps every string literal a literal of
  // its own. (A text with an unterminated literal or quoted name is
  // refused by SQLite whatever the translation does with it: a clause
  // moved to the end of such a text lands inside the open quote.)
  std::string out = SqlDialect::translate(in);
  auto literals = [](const std::string& sql, bool& unterminated) {
    std::size_t n = 0;
    for (const SqlToken& t : SqlDialect::tokenize(sql)) {
      if (t.kind == SqlToken::Identifier) {
        const char open = t.text.front();
        const char close = open == '[' ? ']' : open;
        std::size_t quotes = 0;
        for (char c : t.text) quotes += c == close;
        if (t.text.size() < 2 || t.text.back() != close || (open == close && quotes % 2 != 0)) unterminated = true;
        continue;
      }
      if (t.kind != SqlToken::String) continue;
      std::size_t quotes = 0;
      for (char c : t.text) quotes += c == '\'';
      if (quotes % 2 == 0 && quotes >= 2)
        ++n;
      else
        unterminated = true;
    }
    return n;
  };
  bool unterminated = false;
  std::size_t before = literals(in, unterminated);
  if (unterminated) return 0;
  std::size_t after = literals(out, unterminated);
  if (after < before || unterminated) __builtin_trap();  // GETDATE() adds two of its own
  return 0;
}
