// UrlEncoding: percent-encoding of text for URLs.
#pragma once

#include <string>

namespace quillon {

// Every byte except the unreserved characters A-Z a-z 0-9 "-" "." "_" "~"
// becomes "%" and two upper-case hexadecimal digits (UTF-8 text is encoded
// byte by byte; a blank becomes "%20").
std::string UrlEscape(const std::string& s);

}  // namespace quillon
