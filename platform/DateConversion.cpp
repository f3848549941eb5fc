#include "platform/DateConversion.h"

#include <cstdlib>
#include <string>

#include "platform/Error.h"
#include "platform/LazyModule.h"
#include "platform/Text.h"

namespace quillon {

namespace {

struct LocaleEntry {
  std::int32_t lcid;
  const char* name;
};

// Windows LCIDs and the ICU locales they stand for. The first entry of a
// language is its main LCID: the reverse look-up of GetSystemDefaultLCID
// takes it for a language whose country is not listed, and for a name that
// two LCIDs share (es_ES: 3082, the modern sort, before 1034).
constexpr LocaleEntry kLocales[] = {
    {1033, "en_US"}, {2057, "en_GB"}, {3081, "en_AU"}, {4105, "en_CA"}, {5129, "en_NZ"}, {6153, "en_IE"},
    {7177, "en_ZA"}, {16393, "en_IN"}, {1031, "de_DE"}, {3079, "de_AT"}, {2055, "de_CH"}, {4103, "de_LU"},
    {1036, "fr_FR"}, {2060, "fr_BE"}, {3084, "fr_CA"}, {4108, "fr_CH"}, {1043, "nl_NL"}, {2067, "nl_BE"},
    {1040, "it_IT"}, {2064, "it_CH"}, {3082, "es_ES"}, {1034, "es_ES"}, {2058, "es_MX"}, {1046, "pt_BR"},
    {2070, "pt_PT"}, {1030, "da_DK"}, {1053, "sv_SE"}, {1044, "nb_NO"}, {1035, "fi_FI"}, {1039, "is_IS"},
    {1045, "pl_PL"}, {1029, "cs_CZ"}, {1051, "sk_SK"}, {1038, "hu_HU"}, {1060, "sl_SI"}, {1050, "hr_HR"},
    {1048, "ro_RO"}, {1026, "bg_BG"}, {1032, "el_GR"}, {1055, "tr_TR"}, {1049, "ru_RU"}, {1058, "uk_UA"},
    {1061, "et_EE"}, {1062, "lv_LV"}, {1063, "lt_LT"}, {1027, "ca_ES"}, {1037, "he_IL"}, {1025, "ar_SA"},
    {1054, "th_TH"}, {1041, "ja_JP"}, {1042, "ko_KR"}, {2052, "zh_CN"}, {1028, "zh_TW"}, {3076, "zh_HK"},
    {4100, "zh_SG"},
};

constexpr std::int32_t kFallbackLCID = 1033;

// The automation date range: years 100 to 9999.
constexpr int kFirstYear = 100;
constexpr int kLastYear = 9999;

const LocaleEntry* entryOf(std::int32_t lcid) {
  for (const auto& e : kLocales)
    if (e.lcid == lcid) return &e;
  return nullptr;
}

// The ICU reader of libquillon_icu.so (platform/DateConversionModule.cpp),
// loaded on the first date text: a process that reads no date text does
// not load ICU's locale and calendar library.
using ParseDate = int(const std::string& localeName, const std::string& text, int& year, int& month, int& day);

ParseDate* parseDate() {
  static ParseDate* parse = LazyModule::Function<ParseDate>("icu", "quillon_icu_parse_date");
  return parse;
}

// "de_DE.UTF-8@euro" -> "de_DE"; "de-DE" -> "de_DE".
std::string bareLocaleName(std::string name) {
  name = name.substr(0, name.find_first_of(".@"));
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
}

std::string languageOf(const std::string& name) { return name.substr(0, name.find('_')); }

}  // namespace

std::string LocaleNameOfLCID(std::int32_t lcid) {
  const LocaleEntry* e = entryOf(lcid);
  return e ? e->name : entryOf(kFallbackLCID)->name;
}

Variant ConvertDate(const Variant& value, std::int32_t lcid) {
  switch (value.type()) {
    case VarType::Date:
      return value;
    case VarType::Boolean:
    case VarType::Byte:
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Double: {
      // A number beyond the date range is refused as automation refuses it.
      double d = value.toDouble();
      if (!oleDateInRange(d)) throw Error(hr::kOverflow, "Basalt.DateConversion", "Overflow");
      return Variant::date(d);
    }
    case VarType::String:
      break;
    default:
      return Variant::null();
  }
  std::string trimmed = text::Trim(value.toString());
  if (trimmed.empty()) return Variant::null();
  int year = 0, month = 0, day = 0;
  if (parseDate()(LocaleNameOfLCID(lcid), trimmed, year, month, day) != 1) return Variant::null();
  if (year < kFirstYear || year > kLastYear) return Variant::null();  // a date, but outside the automation range
  return Variant::date(oleDateFromParts(year, month, day));
}

std::int32_t GetSystemDefaultLCID() {
  std::string name;
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      name = v;
      break;
    }
  }
  name = bareLocaleName(name);
  if (name.empty() || name == "C" || name == "POSIX") return kFallbackLCID;
  for (const auto& e : kLocales)
    if (equalsIgnoreCase(e.name, name)) return e.lcid;
  std::string language = languageOf(name);
  for (const auto& e : kLocales)
    if (equalsIgnoreCase(languageOf(e.name), language)) return e.lcid;
  return kFallbackLCID;
}

const ClassInfo* DateConverter::classInfo() const {
  using A = std::vector<Variant>;
  static const ClassInfo* info =
      ClassBuilder<DateConverter>("Basalt.DateConversion")
          .method("ConvertDate", {in("i_vValue"), in("i_lLCID")},
                  [](DateConverter& c, A& a) { return c.ConvertDate(a[0], a[1].toInt32()); })
          .method("GetSystemDefaultLCID", {}, [](DateConverter& c, A&) { return Variant(c.GetSystemDefaultLCID()); })
          .done();
  return info;
}

namespace {
const bool kRegistered = (DateConverter().classInfo(), true);
}

}  // namespace quillon
