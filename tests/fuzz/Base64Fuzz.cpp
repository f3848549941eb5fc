// Base64 and code-page conversions of arbitrary bytes.
#include <cstdint>
#include <string>

#include "document/Base64.h"
#include "platform/Error.h"
#include "tests/fuzz/FuzzSite.h"

using namespace quillon;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::UseTemporarySite();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  Base64 b;
  // Any bytes come back from their Base64 text unchanged.
  if (!in.empty() && b.Base64Decode(b.Base64Encode(in)) != in) __builtin_trap();
  // Any text is decoded or refused with an Error.
  try {
    b.Base64Decode(in);
  } catch (const Error&) {
  }
  try {
    b.StripIllegalChars(in);
    b.ByteToUnicodeString(b.UnicodeStringToByte(in));
    b.InsertNewlineChars(in, static_cast<std::int32_t>(size % 100) - 10);
  } catch (const Error&) {
  }
  return 0;
}
