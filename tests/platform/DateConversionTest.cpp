// Reading date texts in the locale of their writer.
#include "platform/DateConversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>

#include "platform/Error.h"
#include "platform/Object.h"

namespace quillon {
namespace {

// The date a text gives, as "YYYY-MM-DD", or "null".
std::string read(const std::string& text, std::int32_t lcid) {
  Variant v = ConvertDate(Variant(text), lcid);
  if (v.isNull()) return "null";
  EXPECT_EQ(v.type(), VarType::Date);
  return formatOleDate(v.toDate()).substr(0, 10);
}

TEST(DateConversionTest, EachLocaleReadsItsShortAndMediumDates) {
  struct Case {
    std::int32_t lcid;
    const char* shortText;
    const char* mediumText;
  };
  const Case cases[] = {
      {1033, "1/31/04", "Jan 31, 2004"},    {1031, "31.01.04", "31.01.2004"}, {1036, "31/01/2004", "31 janv. 2004"},
      {2057, "31/01/2004", "31 Jan 2004"}, {1043, "31-01-2004", "31 jan 2004"}, {1040, "31/01/04", "31 gen 2004"},
      {3082, "31/1/04", "31 ene 2004"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read(c.shortText, c.lcid), "2004-01-31") << c.lcid << " " << c.shortText;
    EXPECT_EQ(read(c.mediumText, c.lcid), "2004-01-31") << c.lcid << " " << c.mediumText;
    // ISO dates are read in every locale.
    EXPECT_EQ(read("2004-01-31", c.lcid), "2004-01-31") << c.lcid;
  }
  EXPECT_EQ(read("  1/31/2004  ", 1033), "2004-01-31");  // four-digit years and blanks around
  EXPECT_EQ(read("jan 31, 2004", 1033), "2004-01-31");
}

TEST(DateConversionTest, TextsOfOtherLocalesOrImpossibleDatesAreNoDates) {
  EXPECT_EQ(read("31.01.2004", 1033), "null");
  EXPECT_EQ(read("1/31/2004", 2057), "null");  // month 31 in day-first order
  EXPECT_EQ(read("31.02.2004", 1031), "null");  // read strictly, not rolled into March
  EXPECT_EQ(read("2004-02-30", 1031), "null");
  EXPECT_EQ(read("1/31/2004 and more", 1033), "null");  // the whole text must be the date
  EXPECT_EQ(read("soon", 1033), "null");
  EXPECT_EQ(read("", 1033), "null");
  EXPECT_EQ(read("   ", 1031), "null");
  EXPECT_EQ(read("0050-01-31", 1033), "null");  // outside the automation date range
  EXPECT_TRUE(ConvertDate(Variant::null(), 1031).isNull());
  EXPECT_TRUE(ConvertDate(Variant(), 1031).isNull());
}

TEST(DateConversionTest, DatesAndNumbersPassThrough) {
  double d = oleDateFromParts(2004, 1, 31, 13, 30);
  Variant date = ConvertDate(Variant::date(d), 1031);
  EXPECT_EQ(date.type(), VarType::Date);
  EXPECT_DOUBLE_EQ(date.toDate(), d);
  Variant number = ConvertDate(Variant(38017), 1033);
  EXPECT_EQ(number.type(), VarType::Date);
  EXPECT_EQ(formatOleDate(number.toDate()), "2004-01-31 00:00:00");
}

// A number is a date only within the automation range (years 100 to
// 9999); beyond it, and for NaN and infinities, the conversion is refused
// with Overflow, as automation refuses it, instead of printing garbage.
TEST(DateConversionTest, NumbersOutsideTheDateRangeOverflow) {
  const double first = oleDateFromParts(100, 1, 1);
  const double last = oleDateFromParts(9999, 12, 31, 23, 59, 59);
  EXPECT_EQ(formatOleDate(ConvertDate(Variant(first), 1033).toDate()), "0100-01-01 00:00:00");
  EXPECT_EQ(formatOleDate(ConvertDate(Variant(last), 1033).toDate()), "9999-12-31 23:59:59");
  for (double bad : {1e300, -1e300, 1e16, -1e16, first - 1, last + 1, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    try {
      Variant v = ConvertDate(Variant(bad), 1033);
      ADD_FAILURE() << bad << " gave " << (v.isNull() ? std::string("Null") : v.text());
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), hr::kOverflow) << bad;
    }
  }
  try {
    ConvertDate(Variant(2147483647), 1033);
    ADD_FAILURE() << "the largest Long is no date";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), hr::kOverflow);
  }
}

TEST(DateConversionTest, UnknownLocalesReadAsEnglishUnitedStates) {
  EXPECT_EQ(LocaleNameOfLCID(1031), "de_DE");
  EXPECT_EQ(LocaleNameOfLCID(9999), "en_US");
  EXPECT_EQ(read("1/31/2004", 9999), "2004-01-31");
  EXPECT_EQ(read("31.01.2004", 0), "null");
}

class SystemLocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
      const char* v = std::getenv(var);
      saved_.emplace_back(var, v ? std::optional<std::string>(v) : std::nullopt);
      ::unsetenv(var);
    }
  }
  void TearDown() override {
    for (const auto& [var, v] : saved_) {
      if (v)
        ::setenv(var.c_str(), v->c_str(), 1);
      else
        ::unsetenv(var.c_str());
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(SystemLocaleTest, TheProcessLocaleGivesTheDefaultLCID) {
  EXPECT_EQ(GetSystemDefaultLCID(), 1033);  // nothing set
  const std::pair<const char*, std::int32_t> names[] = {
      {"de_DE.UTF-8", 1031}, {"fr_FR@euro", 1036}, {"en_GB", 2057}, {"es_ES.UTF-8", 3082}, {"de_BE.UTF-8", 1031},
      {"C", 1033},           {"C.UTF-8", 1033},    {"POSIX", 1033}, {"xx_YY.UTF-8", 1033},
  };
  for (const auto& [name, lcid] : names) {
    ::setenv("LANG", name, 1);
    EXPECT_EQ(GetSystemDefaultLCID(), lcid) << name;
  }
  // The time locale outranks LANG, and LC_ALL outranks both.
  ::setenv("LANG", "en_US.UTF-8", 1);
  ::setenv("LC_TIME", "nl_NL.UTF-8", 1);
  EXPECT_EQ(GetSystemDefaultLCID(), 1043);
  ::setenv("LC_ALL", "it_IT.UTF-8", 1);
  EXPECT_EQ(GetSystemDefaultLCID(), 1040);
}

TEST(DateConversionTest, TheConversionIsReachableByName) {
  auto converter = Registry::instance().create("Basalt.DateConversion");
  std::vector<Variant> args{Variant("31.01.2004"), Variant(1031)};
  Variant date = converter->invoke("ConvertDate", args);
  EXPECT_EQ(formatOleDate(date.toDate()), "2004-01-31 00:00:00");
}

}  // namespace
}  // namespace quillon
