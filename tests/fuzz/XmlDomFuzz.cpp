// The DOM on any text: a parsed document serialises to a text that parses
// to a document with the same text, whose serialisation is then stable
// (libxml2 may drop an empty CDATA section on the second reading), and
// every way of reading it either works or raises an Error.
#include <cstdint>
#include <string>

#include "platform/Error.h"
#include "platform/XmlDom.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool preserve = data[0] & 1;
  const std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
  DomDocument doc;
  doc.setPreserveWhiteSpace(preserve);
  if (!doc.loadXML(in)) {
    if (doc.parseError().errorCode == 0) __builtin_trap();  // a failure always says why
    return 0;
  }
  const std::string xml = doc.xml();
  DomDocument again, third;
  again.setPreserveWhiteSpace(preserve);
  third.setPreserveWhiteSpace(preserve);
  if (!again.loadXML(xml) || !third.loadXML(again.xml()) || third.xml() != again.xml()) __builtin_trap();
  try {
    if (again.text() != doc.text()) __builtin_trap();
    auto nodes = doc.selectNodes("//node() | //@*");
    for (const auto& node : nodes->nodes()) {
      node->text();
      node->nodeValue();
      node->xml();
      node->nodeName();
      node->getAttribute("a");
    }
  } catch (const Error&) {
    // Entity expansion beyond its cap.
  }
  return 0;
}
