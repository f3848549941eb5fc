// The batch check against the plain definition: a text passes exactly when
// every element, from its "<" to some closing tag "</name>", parses.
#include <cstdint>
#include <string>

#include "document/Document.h"
#include "platform/Error.h"
#include "platform/XmlDom.h"
#include "tests/fuzz/FuzzSite.h"

using namespace quillon;

namespace {

// Tries every closing tag with a whole parse: slow, but plainly right.
bool completeByEveryClosingTag(const std::string& text) {
  std::size_t pos = 0;
  while (true) {
    std::size_t open = text.find('<', pos);
    if (open == std::string::npos) return true;
    if (open + 1 < text.size() && (text[open + 1] == '!' || text[open + 1] == '?')) {
      pos = open + 1;
      continue;
    }
    std::size_t nameEnd = text.find_first_of("> ", open + 1);
    if (nameEnd == std::string::npos) nameEnd = text.size();
    const std::string closing = "</" + text.substr(open + 1, nameEnd - open - 1) + ">";
    std::size_t from = nameEnd;
    while (true) {
      std::size_t close = text.find(closing, from);
      if (close == std::string::npos) return false;
      std::size_t end = close + closing.size();
      DomDocument d;
      if (d.loadXML(text.substr(open, end - open))) {
        pos = end;
        break;
      }
      from = end;
    }
  }
}

}  // namespace

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
  if (size <= 4096 && passed != completeByEveryClosingTag(in)) __builtin_trap();
  return 0;
}
