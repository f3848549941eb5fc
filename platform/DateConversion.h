// DateConversion: reading a date text the way a user of a locale writes it.
//
// Locales are Windows locale identifiers (LCIDs), as the directory stores
// them for every user. One table maps each supported LCID to an ICU locale
// (1033 en_US, 1031 de_DE, 1036 fr_FR, 2057 en_GB, 1043 nl_NL, 1040 it_IT,
// 3082 es_ES and the other common European, American and Asian locales);
// an LCID that is not in the table is read as en_US (1033), the
// platform's default locale.
//
// A text is a date in a locale when, after trimming, it matches as a whole
// one of the locale's short or medium date patterns ("dd.MM.yy" and
// "dd.MM.y" for de_DE, "M/d/yy" and "MMM d, y" for en_US), read strictly
// (no rolling of 31.02 into March), or the ISO form "yyyy-MM-dd", which
// every locale accepts. Month names compare without letter case. The
// result carries no time of day; a date outside the automation range
// (years 100 to 9999) counts as no date. A two-digit year falls into the window
// from 80 years before to 20 years after today.
//
// The ICU formatters are kept per thread, so the functions are safe to call
// from several threads.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"
#include "platform/Variant.h"

namespace quillon {

// The date that `value` gives in the locale `lcid`:
//   a Date passes through; a number (or Boolean) becomes the Date of that
//   automation value, and one outside the date range (or NaN) raises
//   Overflow (hr::kOverflow), as automation does; a text becomes its Date
//   when it is a date in the locale (see above). Anything else (a text that
//   is no date, an empty or blank text, Null, Empty, an array or object)
//   gives Null. Texts are read by ICU in the module libquillon_icu.so,
//   loaded on the first text; raises Error also when that module cannot be
//   loaded.
Variant ConvertDate(const Variant& value, std::int32_t lcid);

// The LCID of the process's locale: the first of the environment
// variables LC_ALL, LC_TIME and LANG that is set and not empty, as the C
// library chooses the time locale. "de_DE.UTF-8" (codeset and "@modifier"
// ignored) gives 1031; a locale that is not in the table but whose language
// is gives that language's main LCID ("de_BE" gives 1031); "C", "POSIX",
// no setting or an unknown language give 1033.
std::int32_t GetSystemDefaultLCID();

// The ICU locale name the table gives for an LCID ("en_US" for an LCID not
// in the table).
std::string LocaleNameOfLCID(std::int32_t lcid);

// "Basalt.DateConversion": the same operations reachable by name.
class DateConverter : public Object {
 public:
  const ClassInfo* classInfo() const override;
  Variant ConvertDate(const Variant& i_vValue, std::int32_t i_lLCID) { return quillon::ConvertDate(i_vValue, i_lLCID); }
  std::int32_t GetSystemDefaultLCID() { return quillon::GetSystemDefaultLCID(); }
};

}  // namespace quillon
