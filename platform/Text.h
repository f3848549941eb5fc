// Text: the string and path conventions of the component.
//
// Text is UTF-8 std::string. Where the component counts characters (Left,
// Mid, Len, cutting to 255 characters) it counts Unicode code points and
// never splits one. Blanks for Trim are spaces only, as the automation
// Trim function strips them.
//
// Paths arrive in Windows form. A path that begins with two backslashes is
// a network path and is kept as written (the file store resolves it);
// every other path is local, and its backslashes become "/".
#pragma once

#include <string>
#include <vector>

namespace quillon::text {

std::string Trim(const std::string& s);   // leading and trailing spaces
std::string LTrim(const std::string& s);
std::string RTrim(const std::string& s);
std::string UCase(const std::string& s);  // ASCII letters only
std::string LCase(const std::string& s);

long Len(const std::string& s);  // code points
std::string Left(const std::string& s, long count);
std::string Right(const std::string& s, long count);
// 1-based start, as Mid; count < 0 means to the end.
std::string Mid(const std::string& s, long start, long count = -1);

// 1-based position of `what` in `s` from `start`, 0 when absent (InStr).
long InStr(long start, const std::string& s, const std::string& what, bool ignoreCase = false);

// Replace(s, find, with, start=1, count=-1, compare): count = -1 replaces
// every occurrence; ignoreCase compares ASCII letters without case.
std::string Replace(const std::string& s, const std::string& find, const std::string& with, long count = -1,
                    bool ignoreCase = false);

// True for a number as the automation IsNumeric reads one: blanks around,
// an optional sign, digits with an optional decimal point and exponent, or
// "&H" followed by hexadecimal digits.
bool IsNumeric(const std::string& s);

std::vector<std::string> Split(const std::string& s, const std::string& delimiter);
std::string Join(const std::vector<std::string>& parts, const std::string& delimiter);

bool IsPathSeparator(char c);
// The folder joined with a name, with the separator the folder already
// uses ("\" when it has a backslash, else "/"); no separator is doubled.
std::string JoinPath(const std::string& folder, const std::string& name);

// True for a path that starts with two backslashes (\\server\share\…).
bool IsNetworkPath(const std::string& path);
// A local path with "/" separators; network paths come back unchanged.
std::string LocalPath(const std::string& path);

// Carriage return + line feed.
inline constexpr const char* vbCrLf = "\r\n";

}  // namespace quillon::text
