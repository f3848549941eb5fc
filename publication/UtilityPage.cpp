// Utility: small functions for the portal's pages (URL and HTML decoding,
// posted form values, the Format function), the send-history test and the
// server-configuration read.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/Lookups.h"
#include "platform/CodePage.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of `digits` hexadecimal digits at `at`, -1 when they are not all there.
long hexAt(const std::string& s, std::size_t at, int digits) {
  if (at + digits > s.size()) return -1;
  long v = 0;
  for (int i = 0; i < digits; ++i) {
    int h = hexValue(s[at + i]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

void appendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

[[noreturn]] void undecodable(const std::string& sequence) {
  throw Error(InvalidParamValue, "Quillon.Utility.urlDecode", "This character '" + sequence + "' couldn't be decoded.");
}

// ---- the Format function ----

std::string lower(std::string s) { return text::LCase(s); }

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

struct DateParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int weekday = 0;    // 1 = Sunday
  int dayOfYear = 0;  // 1-based
};

DateParts partsOf(double d) {
  DateParts p;
  oleDateToParts(d, p.year, p.month, p.day, p.hour, p.minute, p.second);
  double midnight = oleDateFromParts(p.year, p.month, p.day);
  // 1899-12-31 (day 1) was a Sunday.
  long days = static_cast<long>(std::floor(midnight));
  p.weekday = static_cast<int>(((days - 1) % 7 + 7) % 7) + 1;
  p.dayOfYear = static_cast<int>(midnight - oleDateFromParts(p.year, 1, 1)) + 1;
  return p;
}

std::string two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

// The week of the year with Sunday as the first day and the week of
// 1 January as the first week.
int weekOfYear(const DateParts& p) {
  DateParts jan1 = partsOf(oleDateFromParts(p.year, 1, 1));
  return (p.dayOfYear - 1 + (jan1.weekday - 1)) / 7 + 1;
}

bool startsWithNoCase(const std::string& s, std::size_t at, const std::string& what) {
  return s.size() - at >= what.size() && lower(s.substr(at, what.size())) == lower(what);
}

std::string formatDate(double value, const std::string& format);

// Named date formats, as the en-US locale writes them.
std::string namedDate(const std::string& name, double value, bool& known) {
  known = true;
  std::string n = lower(name);
  if (n == "general date") {
    double whole = std::floor(value);
    if (value == whole) return formatDate(value, "m/d/yyyy");
    if (whole == 0) return formatDate(value, "h:nn:ss AM/PM");
    return formatDate(value, "m/d/yyyy h:nn:ss AM/PM");
  }
  if (n == "long date") return formatDate(value, "dddd, mmmm d, yyyy");
  if (n == "medium date") return formatDate(value, "d-mmm-yy");
  if (n == "short date") return formatDate(value, "m/d/yyyy");
  if (n == "long time") return formatDate(value, "h:nn:ss AM/PM");
  if (n == "medium time") return formatDate(value, "hh:nn AM/PM");
  if (n == "short time") return formatDate(value, "hh:nn");
  known = false;
  return {};
}

std::string formatDate(double value, const std::string& f) {
  bool known = false;
  std::string named = namedDate(f, value, known);
  if (known) return named;
  DateParts p = partsOf(value);
  // "m" is a minute right after an hour (and before a second).
  bool afterHour = false;
  bool twelveHour = false;
  for (std::size_t i = 0; i < f.size(); ++i) {
    for (const char* ampm : {"am/pm", "a/p", "ampm"})
      if (startsWithNoCase(f, i, ampm)) twelveHour = true;
  }
  std::string out;
  for (std::size_t i = 0; i < f.size();) {
    char c = f[i];
    char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t run = 1;
    while (i + run < f.size() && std::tolower(static_cast<unsigned char>(f[i + run])) == lc) ++run;
    if (c == '"') {
      std::size_t end = f.find('"', i + 1);
      out += f.substr(i + 1, (end == std::string::npos ? f.size() : end) - i - 1);
      i = end == std::string::npos ? f.size() : end + 1;
      continue;
    }
    if (c == '\\') {
      if (i + 1 < f.size()) out += f[i + 1];
      i += 2;
      continue;
    }
    if (startsWithNoCase(f, i, "am/pm")) {
      std::string t = p.hour < 12 ? "AM" : "PM";
      out += std::isupper(static_cast<unsigned char>(c)) ? t : lower(t);
      i += 5;
      continue;
    }
    if (startsWithNoCase(f, i, "a/p")) {
      std::string t = p.hour < 12 ? "A" : "P";
      out += std::isupper(static_cast<unsigned char>(c)) ? t : lower(t);
      i += 3;
      continue;
    }
    if (startsWithNoCase(f, i, "ampm")) {
      out += p.hour < 12 ? "AM" : "PM";
      i += 4;
      continue;
    }
    switch (lc) {
      case 'd':
        if (run == 1) out += std::to_string(p.day);
        else if (run == 2) out += two(p.day);
        else if (run == 3) out += std::string(kDays[p.weekday - 1]).substr(0, 3);
        else if (run == 4) out += kDays[p.weekday - 1];
        else if (run == 5) out += formatDate(value, "m/d/yyyy");
        else out += formatDate(value, "dddd, mmmm d, yyyy");
        break;
      case 'w':
        out += std::to_string(run == 1 ? p.weekday : weekOfYear(p));
        break;
      case 'm':
        if (run <= 2 && afterHour) {
          out += run == 1 ? std::to_string(p.minute) : two(p.minute);
        } else if (run == 1) out += std::to_string(p.month);
        else if (run == 2) out += two(p.month);
        else if (run == 3) out += std::string(kMonths[p.month - 1]).substr(0, 3);
        else out += kMonths[p.month - 1];
        break;
      case 'n':
        out += run == 1 ? std::to_string(p.minute) : two(p.minute);
        break;
      case 'q':
        out += std::to_string((p.month - 1) / 3 + 1);
        break;
      case 'y':
        if (run == 1) out += std::to_string(p.dayOfYear);
        else if (run <= 3) out += two(p.year % 100);
        else out += std::to_string(p.year);
        break;
      case 'h': {
        int h = twelveHour ? (p.hour % 12 == 0 ? 12 : p.hour % 12) : p.hour;
        out += run == 1 ? std::to_string(h) : two(h);
        break;
      }
      case 's':
        out += run == 1 ? std::to_string(p.second) : two(p.second);
        break;
      case 't':
        if (run >= 5) {
          out += formatDate(value, "h:nn:ss AM/PM");
          break;
        }
        [[fallthrough]];
      default:
        out.append(f, i, run);
    }
    if (lc == 'h') afterHour = true;
    else if (lc != ':' && lc != ' ' && lc != 'm') afterHour = false;
    i += run;
  }
  return out;
}

// A number through one section of a numeric format ("#,##0.00", "0%", "0.00E+00", ...).
std::string formatNumberSection(double value, const std::string& f) {
  // Literal text and placeholders apart.
  bool percent = false, thousands = false, scientific = false;
  int intZeros = 0, decimals = 0, decimalHashes = 0, expDigits = 0;
  bool expPlus = false;
  bool seenPoint = false, seenDigit = false;
  std::string prefix, suffix;
  for (std::size_t i = 0; i < f.size(); ++i) {
    char c = f[i];
    std::string& literal = seenDigit ? suffix : prefix;
    if (c == '"') {
      std::size_t end = f.find('"', i + 1);
      literal += f.substr(i + 1, (end == std::string::npos ? f.size() : end) - i - 1);
      i = end == std::string::npos ? f.size() : end;
    } else if (c == '\\') {
      if (i + 1 < f.size()) literal += f[++i];
    } else if ((c == 'E' || c == 'e') && i + 1 < f.size() && (f[i + 1] == '+' || f[i + 1] == '-') && seenDigit) {
      scientific = true;
      expPlus = f[i + 1] == '+';
      i += 2;
      while (i < f.size() && (f[i] == '0' || f[i] == '#')) ++expDigits, ++i;
      --i;
    } else if (c == '0' || c == '#') {
      seenDigit = true;
      if (seenPoint) {
        ++decimals;
        if (c == '#') ++decimalHashes;
      } else if (c == '0') {
        ++intZeros;
      }
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
      seenDigit = true;
    } else if (c == ',' && seenDigit && !seenPoint) {
      thousands = true;
    } else if (c == '%') {
      percent = true;
      literal += '%';
    } else {
      literal += c;
    }
  }
  if (percent) value *= 100;
  double magnitude = std::fabs(value);
  std::string digits;
  if (scientific) {
    int exponent = magnitude == 0 ? 0 : static_cast<int>(std::floor(std::log10(magnitude)));
    double mantissa = magnitude == 0 ? 0 : magnitude / std::pow(10.0, exponent);
    char b[64];
    std::snprintf(b, sizeof b, "%.*f", decimals, mantissa);
    if (std::string(b).rfind("10", 0) == 0 && mantissa != 0) {  // rounding carried into the next power
      ++exponent;
      std::snprintf(b, sizeof b, "%.*f", decimals, mantissa / 10);
    }
    std::string e = std::to_string(std::abs(exponent));
    while (static_cast<int>(e.size()) < expDigits) e = "0" + e;
    digits = std::string(b) + "E" + (exponent < 0 ? "-" : (expPlus ? "+" : "")) + e;
  } else {
    char b[512];
    std::snprintf(b, sizeof b, "%.*f", decimals, magnitude);
    std::string s = b;
    std::string whole = s.substr(0, s.find('.'));
    std::string fraction = s.find('.') == std::string::npos ? "" : s.substr(s.find('.') + 1);
    // Optional decimal places ("#") drop their trailing zeros.
    int drop = 0;
    while (drop < decimalHashes && !fraction.empty() && fraction.back() == '0') fraction.pop_back(), ++drop;
    if (whole == "0" && intZeros == 0) whole.clear();
    while (static_cast<int>(whole.size()) < intZeros) whole = "0" + whole;
    if (thousands)
      for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3) whole.insert(static_cast<std::size_t>(at), ",");
    digits = whole + (fraction.empty() ? "" : "." + fraction);
  }
  return prefix + digits + suffix;
}

std::string formatNumber(double value, const std::string& format) {
  std::string n = lower(format);
  if (n == "general number") {
    Variant v(value);
    return v.text();
  }
  if (n == "currency") return value < 0 ? "(" + formatNumberSection(-value, "$#,##0.00") + ")" : formatNumberSection(value, "$#,##0.00");
  if (n == "fixed") return (value < 0 ? "-" : "") + formatNumberSection(value, "0.00");
  if (n == "standard") return (value < 0 ? "-" : "") + formatNumberSection(value, "#,##0.00");
  if (n == "percent") return (value < 0 ? "-" : "") + formatNumberSection(value, "0.00%");
  if (n == "scientific") return (value < 0 ? "-" : "") + formatNumberSection(value, "0.00E+00");
  if (n == "yes/no") return value != 0 ? "Yes" : "No";
  if (n == "true/false") return value != 0 ? "True" : "False";
  if (n == "on/off") return value != 0 ? "On" : "Off";
  // Up to three sections: positive; negative; zero.
  std::vector<std::string> sections;
  std::string current;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '"') {
      std::size_t end = format.find('"', i + 1);
      if (end == std::string::npos) end = format.size() - 1;
      current += format.substr(i, end - i + 1);
      i = end;
    } else if (format[i] == '\\' && i + 1 < format.size()) {
      current += format.substr(i, 2);
      ++i;
    } else if (format[i] == ';') {
      sections.push_back(current);
      current.clear();
    } else {
      current += format[i];
    }
  }
  sections.push_back(current);
  if (value == 0 && sections.size() >= 3 && !sections[2].empty()) return formatNumberSection(0, sections[2]);
  if (value < 0 && sections.size() >= 2 && !sections[1].empty()) return formatNumberSection(-value, sections[1]);
  std::string out = formatNumberSection(value, sections[0]);
  return value < 0 && out.find_first_of("123456789") != std::string::npos ? "-" + out : out;
}

bool isNamedNumberFormat(const std::string& format) {
  std::string n = lower(format);
  for (const char* named : {"general number", "currency", "fixed", "standard", "percent", "scientific", "yes/no",
                            "true/false", "on/off"})
    if (n == named) return true;
  return false;
}

// "@", "&", "<" and ">" (outside quotes) make a text format.
bool isTextFormat(const std::string& format) {
  if (isNamedNumberFormat(format)) return false;
  bool inQuote = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '"') inQuote = !inQuote;
    if (inQuote) continue;
    if (format[i] == '\\') {
      ++i;
      continue;
    }
    if (std::string("@&<>").find(format[i]) != std::string::npos) return true;
  }
  return false;
}

bool isDateFormat(const std::string& format) {
  if (isNamedNumberFormat(format) || isTextFormat(format)) return false;
  std::string n = lower(format);
  for (const char* named : {"general date", "long date", "medium date", "short date", "long time", "medium time",
                            "short time"})
    if (n == named) return true;
  bool inQuote = false;
  for (std::size_t i = 0; i < n.size(); ++i) {
    if (n[i] == '"') inQuote = !inQuote;
    if (inQuote) continue;
    if (n[i] == '\\') {
      ++i;
      continue;
    }
    if (std::string("dmyhnswqt").find(n[i]) != std::string::npos) return true;
  }
  return false;
}

// Text placeholders: ">" upper case, "<" lower case, "@"/"&" one character each.
std::string formatText(const std::string& value, const std::string& format) {
  std::string body;
  bool upper = false, lowerCase = false;
  for (char c : format) {
    if (c == '>') upper = true;
    else if (c == '<') lowerCase = true;
    else body += c;
  }
  std::string v = upper ? text::UCase(value) : lowerCase ? text::LCase(value) : value;
  std::size_t placeholders = 0;
  for (char c : body)
    if (c == '@' || c == '&') ++placeholders;
  if (placeholders == 0) return body.empty() ? v : body;
  // Placeholders fill from the right, as the Format function does.
  std::string out;
  long next = static_cast<long>(v.size()) - 1;
  for (long i = static_cast<long>(body.size()) - 1; i >= 0; --i) {
    char c = body[static_cast<std::size_t>(i)];
    if (c == '@' || c == '&') {
      if (next >= 0) out.insert(out.begin(), v[static_cast<std::size_t>(next--)]);
      else if (c == '@') out.insert(out.begin(), ' ');
    } else {
      out.insert(out.begin(), c);
    }
  }
  if (next >= 0) out.insert(0, v.substr(0, static_cast<std::size_t>(next + 1)));
  return out;
}

}  // namespace

std::string Utility::urlDecode(const std::string& iText) {
  return Guarded("Quillon.Utility.urlDecode", [&] {
    std::string out, bytes;  // `bytes`: a run of "%XX" still to be decoded
    auto flush = [&] {
      if (bytes.empty()) return;
      // Percent-encoded UTF-8 is taken as it is; other bytes are in the
      // site's ANSI code page (a form posted by an older page).
      out += IsUtf8(bytes) ? bytes : FromCodePage(bytes, SystemAnsiCodePage());
      bytes.clear();
    };
    for (std::size_t i = 0; i < iText.size();) {
      char c = iText[i];
      if (c == '%') {
        if (i + 1 < iText.size() && (iText[i + 1] == 'u' || iText[i + 1] == 'U')) {
          long unit = hexAt(iText, i + 2, 4);
          if (unit < 0) undecodable(iText.substr(i, 6));
          flush();
          unsigned long cp = static_cast<unsigned long>(unit);
          std::size_t used = 6;
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            // A surrogate pair written as two "%u" units.
            long low = (i + 7 < iText.size() && iText[i + 6] == '%' && (iText[i + 7] == 'u' || iText[i + 7] == 'U'))
                           ? hexAt(iText, i + 8, 4)
                           : -1;
            if (low < 0xDC00 || low > 0xDFFF) undecodable(iText.substr(i, 6));
            cp = 0x10000 + ((static_cast<unsigned long>(unit) - 0xD800) << 10) + (static_cast<unsigned long>(low) - 0xDC00);
            used = 12;
          } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            undecodable(iText.substr(i, 6));
          }
          appendUtf8(out, cp);
          i += used;
          continue;
        }
        long byte = hexAt(iText, i + 1, 2);
        if (byte < 0) undecodable(iText.substr(i, 3));
        bytes += static_cast<char>(byte);
        i += 3;
        continue;
      }
      flush();
      out += c == '+' ? ' ' : c;
      ++i;
    }
    flush();
    return out;
  });
}

std::string Utility::HTMLDecode(const std::string& iText) {
  return Guarded("Quillon.Utility.HTMLDecode", [&] {
    const std::vector<std::pair<std::string, std::string>> entities = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}};
    bool any = false;
    for (const auto& [entity, c] : entities) any = any || text::InStr(1, iText, entity, true) > 0;
    if (!any) return iText;
    std::string out = iText;
    for (const auto& [entity, c] : entities) out = text::Replace(out, entity, c, -1, true);
    return out;
  });
}

bool Utility::RetrieveElementFromRequestFormCollection(const std::string& iFormString, const std::string& iPattern,
                                                       std::string& oValue) {
  return Guarded("Quillon.Utility.RetrieveElementFromRequestFormCollection", [&] {
    if (iPattern.empty()) return false;
    long at = text::InStr(1, iFormString, iPattern, true);
    if (at == 0) return false;
    std::size_t start = static_cast<std::size_t>(at - 1) + iPattern.size();
    std::size_t end = iFormString.find('&', start);
    oValue = urlDecode(iFormString.substr(start, end == std::string::npos ? std::string::npos : end - start));
    return true;
  });
}

std::string Utility::Formats(const Variant& i_vSource, const Variant& i_vFormat) {
  return Guarded("Quillon.Utility.Formats", [&]() -> std::string {
    if (i_vSource.isNull() || i_vSource.isEmpty()) return {};
    std::string format = i_vFormat.text();
    if (format.empty()) return i_vSource.text();
    if (isTextFormat(format)) return formatText(i_vSource.text(), format);
    if (i_vSource.type() == VarType::Date) return formatDate(i_vSource.toDate(), format);
    if (i_vSource.type() == VarType::Boolean) {
      std::string n = lower(format);
      if (n == "yes/no" || n == "true/false" || n == "on/off") return formatNumber(i_vSource.toBool() ? -1 : 0, format);
    }
    if (i_vSource.isNumeric()) {
      if (isDateFormat(format) && oleDateInRange(i_vSource.toDouble())) return formatDate(i_vSource.toDouble(), format);
      return formatNumber(i_vSource.toDouble(), format);
    }
    std::string s = i_vSource.text();
    if (text::IsNumeric(s) && !isDateFormat(format)) return formatNumber(Variant(s).toDouble(), format);
    double date = 0;
    if (isDateFormat(format) && parseOleDate(text::Trim(s), date)) return formatDate(date, format);
    return formatText(s, format);
  });
}

bool Utility::CheckSentLog(const std::string& iDocTypeID, const std::string& iSenderID, std::int32_t iBPID,
                           std::int32_t iDocID) {
  return Guarded("Quillon.Utility.CheckSentLog", [&] {
    std::string sql =
        "SELECT SENDMETHODHISTORY.HISTORYID FROM SENDMETHODHISTORY LEFT OUTER JOIN DOCUMENT "
        "ON SENDMETHODHISTORY.DOCUMENTID = DOCUMENT.DOCUMENTID "
        "WHERE ((SENDMETHODHISTORY.DOCUMENTTYPEID = " +
        SqlText(iDocTypeID) + " " + "AND BUSINESSPARTNERID = " + SqlLong(iBPID) + ") " +
        "OR (DOCUMENT.SENDER = " + SqlText(iSenderID) + ")) ";
    if (iDocID != 0) sql += "AND (SENDMETHODHISTORY.DOCUMENTID = " + SqlLong(iDocID) + ")";
    return Lookups::HasRow(sql);
  });
}

std::string Utility::GetZ2IZezazaParameter(const std::string& i_sParamName) {
  return Guarded("Quillon.Utility.GetZ2IZezazaParameter", [&] { return DBUtils::GetParameter(i_sParamName); });
}

}  // namespace quillon
