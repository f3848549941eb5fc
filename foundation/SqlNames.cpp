#include "foundation/SqlNames.h"

#include "platform/Object.h"

namespace quillon::SqlNames {

namespace {
bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
}  // namespace

bool IsIdentifier(const std::string& s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  for (char c : s)
    if (!isNameChar(c)) return false;
  return true;
}

bool IsColumnReference(const std::string& s) {
  auto dot = s.find('.');
  if (dot == std::string::npos) return IsIdentifier(s);
  return IsIdentifier(s.substr(0, dot)) && IsIdentifier(s.substr(dot + 1));
}

bool IsPlainTableName(const std::string& s) {
  std::string name = s;
  if (name.size() > 4 && equalsIgnoreCase(name.substr(0, 4), "dbo.")) name = name.substr(4);
  return IsIdentifier(name);
}

}  // namespace quillon::SqlNames
