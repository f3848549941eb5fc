// Patterns as callers write them: checked, built and evaluated on a
// document without ever raising from the evaluation.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"
#include "tests/fuzz/FuzzSite.h"

using namespace quillon;

namespace {
std::shared_ptr<DomDocument> sample() {
  static std::shared_ptr<DomDocument> doc = [] {
    auto d = std::make_shared<DomDocument>();
    d->loadXML("<ORDER id='7' xmlns:x='urn:x'><SENDER>alice</SENDER><RECEIVER>bob</RECEIVER>"
               "<LINE n='1'><QTY>\n 3 </QTY></LINE><LINE n='2'/><x:NOTE>a &amp; b</x:NOTE><![CDATA[c]]></ORDER>");
    return d;
  }();
  return doc;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::UseTemporarySite();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::int32_t kind = static_cast<std::int32_t>(data[0] % 6) - 2;  // -2 .. 3: the kinds and some others
  std::string pattern(reinterpret_cast<const char*>(data) + 1, size - 1);
  Utility u;
  try {
    u.CheckXslPattern(pattern, kind);
  } catch (const Error&) {
  }
  const std::string built = u.ConstructXslPattern(kind, pattern);
  // The contract: evaluation never raises, a bad pattern matches nothing.
  u.ExecuteXSLPattern(sample(), built);
  u.ExecuteXSLPatternReturnAllNodes(sample(), built);
  return 0;
}
