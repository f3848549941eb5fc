// libquillon_icu.so: reading date texts with ICU for platform/DateConversion.
#include <unicode/datefmt.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cfloat>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

void toUtc(icu::DateFormat& format) { format.setTimeZone(*icu::TimeZone::getGMT()); }

// The patterns one locale accepts, built once per thread and locale.
struct LocaleFormats {
  std::vector<std::unique_ptr<icu::DateFormat>> formats;
};

std::unique_ptr<icu::DateFormat> strict(icu::DateFormat* format) {
  std::unique_ptr<icu::DateFormat> f(format);
  if (f) {
    f->setLenient(false);
    toUtc(*f);
  }
  return f;
}

const LocaleFormats& formatsOf(const std::string& localeName) {
  thread_local std::map<std::string, LocaleFormats> cache;
  auto it = cache.find(localeName);
  if (it != cache.end()) return it->second;
  LocaleFormats lf;
  UErrorCode status = U_ZERO_ERROR;
  // ISO first: it is unambiguous, and some locales' own patterns would
  // misread its leading year as a day.
  lf.formats.push_back(strict(new icu::SimpleDateFormat(icu::UnicodeString("yyyy-MM-dd"), icu::Locale::getRoot(), status)));
  if (U_FAILURE(status)) lf.formats.back().reset();
  icu::Locale locale(localeName.c_str());
  for (auto style : {icu::DateFormat::kShort, icu::DateFormat::kMedium})
    lf.formats.push_back(strict(icu::DateFormat::createDateInstance(style, locale)));
  return cache.emplace(localeName, std::move(lf)).first->second;
}

// The whole text read by one pattern, or nothing.
std::optional<UDate> parseWhole(const icu::DateFormat& format, const icu::UnicodeString& text) {
  icu::ParsePosition pos(0);
  UDate d = format.parse(text, pos);
  if (pos.getErrorIndex() >= 0 || pos.getIndex() != text.length()) return std::nullopt;
  return d;
}

}  // namespace

// Reads `text` (UTF-8, trimmed) as a date of the ICU locale `localeName`:
// 1 with the proleptic Gregorian year, month and day when one of the
// locale's patterns reads the whole text, 0 when none does, -1 when ICU
// fails. Never throws.
extern "C" int quillon_icu_parse_date(const std::string& localeName, const std::string& text, int& year, int& month,
                                      int& day) {
  try {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    for (const auto& format : formatsOf(localeName).formats) {
      if (!format) continue;
      auto instant = parseWhole(*format, u);
      if (!instant) continue;
      UErrorCode status = U_ZERO_ERROR;
      icu::GregorianCalendar cal(*icu::TimeZone::getGMT(), status);
      if (U_FAILURE(status)) return -1;
      cal.setGregorianChange(-DBL_MAX, status);  // no Julian calendar before 1582
      cal.setTime(*instant, status);
      year = cal.get(UCAL_EXTENDED_YEAR, status);
      month = cal.get(UCAL_MONTH, status) + 1;
      day = cal.get(UCAL_DATE, status);
      return U_FAILURE(status) ? -1 : 1;
    }
    return 0;
  } catch (...) {
    return -1;  // memory: the text could not be read
  }
}
