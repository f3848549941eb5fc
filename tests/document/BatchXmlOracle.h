// A reference for the batch check: a text passes exactly when every
// element, from its "<" to some closing tag "</name>", parses. It tries every
// closing tag with a whole parse: slow, but plainly right, so the real check
// is compared with it by the unit test and the fuzz target.
#pragma once

#include <string>

#include "platform/XmlDom.h"

namespace quillon::test {

inline bool completeByEveryClosingTag(const std::string& text) {
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

}  // namespace quillon::test
