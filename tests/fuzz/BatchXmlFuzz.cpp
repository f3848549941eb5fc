// The batch check against the plain definition: a text passes exactly when
// every element, from its "<" to some closing tag "</name>", parses.
#include <cstdint>
#include <string>

#include "document/Document.h"
#include "platform/Error.h"
#include "platform/XmlDom.h"
#include "tests/document/BatchXmlOracle.h"
#include "tests/fuzz/FuzzSite.h"

using namespace quillon;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::UseTemporarySite();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  bool passed = true;
  try {
    Document().ParseBatchXMLString(in);
  } catch (const Error&) {
    passed = false;
  }
  if (size <= 4096 && passed != test::completeByEveryClosingTag(in)) __builtin_trap();
  return 0;
}
