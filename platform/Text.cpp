#include "platform/Text.h"

#include <cctype>

namespace quillon::text {

namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte offset of the code point with the given 0-based index (or size()).
std::size_t byteOffset(const std::string& s, long index) {
  std::size_t i = 0;
  long n = 0;
  while (i < s.size() && n < index) {
    ++i;
    while (i < s.size() && isContinuation(static_cast<unsigned char>(s[i]))) ++i;
    ++n;
  }
  return i;
}

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::size_t find(const std::string& s, const std::string& what, std::size_t from, bool ignoreCase) {
  if (!ignoreCase) return s.find(what, from);
  if (what.empty()) return from <= s.size() ? from : std::string::npos;
  for (std::size_t i = from; i + what.size() <= s.size(); ++i) {
    std::size_t k = 0;
    while (k < what.size() && lower(s[i + k]) == lower(what[k])) ++k;
    if (k == what.size()) return i;
  }
  return std::string::npos;
}

}  // namespace

std::string LTrim(const std::string& s) {
  std::size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}
std::string RTrim(const std::string& s) {
  std::size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}
std::string Trim(const std::string& s) { return LTrim(RTrim(s)); }

std::string UCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}
std::string LCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = lower(c);
  return r;
}

long Len(const std::string& s) {
  long n = 0;
  for (unsigned char c : s)
    if (!isContinuation(c)) ++n;
  return n;
}

std::string Left(const std::string& s, long count) {
  if (count <= 0) return {};
  return s.substr(0, byteOffset(s, count));
}

std::string Right(const std::string& s, long count) {
  long len = Len(s);
  if (count >= len) return s;
  if (count <= 0) return {};
  return s.substr(byteOffset(s, len - count));
}

std::string Mid(const std::string& s, long start, long count) {
  if (start < 1) start = 1;
  std::size_t b = byteOffset(s, start - 1);
  if (b >= s.size()) return {};
  if (count < 0) return s.substr(b);
  std::size_t e = b;
  long n = 0;
  while (e < s.size() && n < count) {
    ++e;
    while (e < s.size() && isContinuation(static_cast<unsigned char>(s[e]))) ++e;
    ++n;
  }
  return s.substr(b, e - b);
}

long InStr(long start, const std::string& s, const std::string& what, bool ignoreCase) {
  if (start < 1) start = 1;
  std::size_t from = byteOffset(s, start - 1);
  if (from > s.size()) return 0;
  std::size_t pos = find(s, what, from, ignoreCase);
  if (pos == std::string::npos) return 0;
  return Len(s.substr(0, pos)) + 1;
}

std::string Replace(const std::string& s, const std::string& what, const std::string& with, long count,
                    bool ignoreCase) {
  if (what.empty() || count == 0) return s;
  std::string out;
  std::size_t from = 0;
  long done = 0;
  while (count < 0 || done < count) {
    std::size_t pos = find(s, what, from, ignoreCase);
    if (pos == std::string::npos) break;
    out.append(s, from, pos - from);
    out += with;
    from = pos + what.size();
    ++done;
  }
  out.append(s, from, std::string::npos);
  return out;
}

bool IsNumeric(const std::string& s) {
  std::string t = Trim(s);
  std::size_t i = 0, n = t.size();
  if (n > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h')) {
    for (i = 2; i < n; ++i)
      if (!std::isxdigit(static_cast<unsigned char>(t[i]))) return false;
    return true;
  }
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  if (i < n && t[i] == '.') {
    ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exp = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++exp;
    if (exp == 0) return false;
  }
  return i == n;
}

std::vector<std::string> Split(const std::string& s, const std::string& delimiter) {
  std::vector<std::string> out;
  if (s.empty()) return out;  // as Split, an empty text gives an empty array
  if (delimiter.empty()) {
    out.push_back(s);
    return out;
  }
  std::size_t from = 0;
  for (;;) {
    std::size_t pos = s.find(delimiter, from);
    if (pos == std::string::npos) {
      out.push_back(s.substr(from));
      return out;
    }
    out.push_back(s.substr(from, pos - from));
    from = pos + delimiter.size();
  }
}

std::string Join(const std::vector<std::string>& parts, const std::string& delimiter) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += delimiter;
    out += parts[i];
  }
  return out;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (IsPathSeparator(folder.back())) return folder + name;
  char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
  return folder + separator + name;
}

bool IsNetworkPath(const std::string& path) { return path.size() >= 2 && path[0] == '\\' && path[1] == '\\'; }

std::string LocalPath(const std::string& path) {
  if (IsNetworkPath(path)) return path;
  std::string r = path;
  for (char& c : r)
    if (c == '\\') c = '/';
  return r;
}

}  // namespace quillon::text
