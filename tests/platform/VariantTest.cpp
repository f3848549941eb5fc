#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Error.h"
#include "platform/Object.h"
#include "platform/Text.h"
#include "platform/Variant.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

TEST(Variant, ConversionsFollowAutomationRules) {
  EXPECT_EQ(Variant("  42 ").toInt32(), 42);
  EXPECT_EQ(Variant(2.5).toInt32(), 2);  // banker's rounding
  EXPECT_EQ(Variant(3.5).toInt32(), 4);
  EXPECT_EQ(Variant().toInt32(), 0);
  EXPECT_EQ(Variant().toString(), "");
  EXPECT_EQ(Variant(true).toString(), "True");
  EXPECT_EQ(Variant(1.25).toString(), "1.25");
  EXPECT_EQ(Variant::null().text(), "");
  EXPECT_RAISES(hr::kTypeMismatch, Variant("abc").toInt32());
  EXPECT_RAISES(hr::kTypeMismatch, Variant::null().toString());
  EXPECT_RAISES(hr::kOverflow, Variant(40000).toInt16());
  EXPECT_EQ(Variant(32767).toInt16(), 32767);
  EXPECT_EQ(Variant(5000000000LL).type(), VarType::Double);
}

TEST(Variant, DatesRollOverAndPrintAsText) {
  // 2004-02-30 is the 1st of March 2004, as DateSerial gives it.
  EXPECT_EQ(formatOleDate(oleDateFromParts(2004, 2, 30)), "2004-03-01 00:00:00");
  EXPECT_EQ(formatOleDate(oleDateFromParts(1899, 12, 30, 6, 0, 0)), "1899-12-30 06:00:00");
  double d = 0;
  ASSERT_TRUE(parseOleDate("2026-12-08 13:45:07", d));
  EXPECT_EQ(Variant::date(d).toString(), "2026-12-08 13:45:07");
  EXPECT_FALSE(parseOleDate("08.12.2026", d));
  EXPECT_FALSE(parseOleDate("2026-13-01", d));
  // Times out of range are no date (the seconds once overflowed an int).
  EXPECT_FALSE(parseOleDate("2020-04-28 13:45:0788888888888888888888888", d));
  EXPECT_FALSE(parseOleDate("2020-04-28 13:45:inf", d));
  EXPECT_FALSE(parseOleDate("2020-04-28 13:45:nan", d));
  EXPECT_FALSE(parseOleDate("2020-04-28 13:45:-1", d));
  EXPECT_FALSE(parseOleDate("2020-04-28 -1:45", d));
  EXPECT_FALSE(parseOleDate("2020-04-28 13:-5", d));
  EXPECT_TRUE(parseOleDate("2020-04-28 13:45:07.5", d));
  EXPECT_DOUBLE_EQ(oleDateFromParts(1900, 1, 1), 2.0);
}

// Values no integer or date can hold are refused with Overflow, never
// converted through undefined behaviour.
TEST(Variant, OutOfRangeNumbersAndDatesOverflow) {
  const double nan = std::nan("");
  for (double bad : {nan, HUGE_VAL, -HUGE_VAL, 1e300}) {
    EXPECT_RAISES(hr::kOverflow, Variant(bad).toInt32());
    EXPECT_RAISES(hr::kOverflow, Variant(bad).toInt16());
    EXPECT_RAISES(hr::kOverflow, Variant(bad).toByte());
    EXPECT_RAISES(hr::kOverflow, Variant(bad).toDate());
    EXPECT_RAISES(hr::kOverflow, Variant::date(bad).toString());
    EXPECT_RAISES(hr::kOverflow, formatOleDate(bad));
  }
  EXPECT_RAISES(hr::kOverflow, Variant::date(1e16).toString());
  EXPECT_RAISES(hr::kOverflow, Variant::date(-657435).toString());
  EXPECT_EQ(Variant::date(-657434).toString(), "0100-01-01 00:00:00");
  double parsed = 0;
  EXPECT_FALSE(parseOleDate("0099-12-31", parsed));
  EXPECT_TRUE(parseOleDate("0100-01-01", parsed));
  EXPECT_EQ(Variant::date(2958465.5).toString(), "9999-12-31 12:00:00");
  EXPECT_EQ(Variant(2147483647.4).toInt32(), 2147483647);
  EXPECT_RAISES(hr::kOverflow, Variant(2147483647.5).toInt32());
  // Parts far out of range roll over without overflowing the arithmetic.
  EXPECT_EQ(formatOleDate(oleDateFromParts(2000, 13, 1)), "2001-01-01 00:00:00");
  EXPECT_EQ(formatOleDate(oleDateFromParts(2000, -11, 1)), "1999-01-01 00:00:00");
  EXPECT_RAISES(hr::kOverflow, formatOleDate(oleDateFromParts(2000, INT_MIN, INT_MIN, INT_MIN)));
}

// A date taken right after a file operation is never before the file's
// own change time (the stale-claim report finds documents stored since a
// claim by comparing the two). The kernel's coarse clock, which time()
// reads, lags a file's change time by up to a tick, so the rounds run
// close around five turns of the second, where a lag shows.
TEST(Variant, TheClockNeverRunsBehindAFilesChangeTime) {
  const std::string dir = testing::TempDir() + "quillon-clock";
  ::mkdir(dir.c_str(), 0700);
  const std::string a = dir + "/a", b = dir + "/b";
  auto nowNs = [] {
    struct timespec t {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
  };
  int behind = 0, rounds = 0;
  for (int turn = 0; turn < 5; ++turn) {
    const long long next = (nowNs() / 1000000000LL + 1) * 1000000000LL;
    const long long wait = next - 30000000LL - nowNs();
    if (wait > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
    while (nowNs() < next + 30000000LL) {
      const int fd = ::open(a.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
      ASSERT_GE(fd, 0);
      ::close(fd);
      ASSERT_EQ(::rename(a.c_str(), b.c_str()), 0);
      struct stat st {};
      ASSERT_EQ(::stat(b.c_str(), &st), 0);
      const std::string date = formatOleDate(oleNow());
      std::tm parts{};
      ::localtime_r(&st.st_ctim.tv_sec, &parts);
      const std::string changed = formatOleDate(oleDateFromParts(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                                                                 parts.tm_hour, parts.tm_min, parts.tm_sec));
      if (date < changed) ++behind;
      ++rounds;
    }
  }
  ::unlink(b.c_str());
  ::rmdir(dir.c_str());
  EXPECT_EQ(behind, 0) << "of " << rounds << " rounds";
}

TEST(Variant, ArraysAreValuesWithBounds) {
  Variant a(VariantArray::ofStrings({"x", "y"}));
  Variant b = a;
  b.array().at(0) = Variant("changed");
  EXPECT_EQ(a.array().at(0).toString(), "x");
  EXPECT_EQ(a.array().ubound(), 1);
  EXPECT_EQ(Variant(VariantArray()).array().ubound(), -1);

  VariantArray rows({VariantArray::Bound{0, 2}, VariantArray::Bound{0, 3}});
  rows.at(1, 2) = Variant(7);
  EXPECT_EQ(rows.ubound(1), 1);
  EXPECT_EQ(rows.ubound(2), 2);
  EXPECT_EQ(rows.at(1, 2).toInt32(), 7);
  EXPECT_RAISES(hr::kSubscript, rows.at(2, 0));
  EXPECT_EQ(VariantArray::ofBytes(std::string("\x00\xff", 2)).bytes(), std::string("\x00\xff", 2));
}

TEST(Dictionary, KeepsInsertionOrderAndRefusesDuplicates) {
  Dictionary d;
  d.Add("b", Variant(1));
  d.Add("a", Variant(2));
  EXPECT_EQ(d.Keys(), (std::vector<std::string>{"b", "a"}));
  EXPECT_RAISES(test::kAnyError, d.Add("b", Variant(3)));
  EXPECT_FALSE(d.Exists("B"));
  d.setCompareMode(1);
  EXPECT_TRUE(d.Exists("B"));
}

class Adder : public Object {
 public:
  const ClassInfo* classInfo() const override {
    static const ClassInfo* info =
        ClassBuilder<Adder>("Test.Adder")
            .method("Add", {in("a"), opt("b", Variant(10)), optRef("o_lSum", Variant())},
                    [](Adder&, auto& args) {
                      args[2] = Variant(args[0].toInt32() + args[1].toInt32());
                      args[0] = Variant(-1);  // by value: the caller must not see this
                      return Variant(true);
                    })
            .method("Refuse", {ref("o_sErrors")},
                    [](Adder&, auto& args) -> Variant {
                      args[0] = Variant("bad filter");
                      throw Error(hr::kInvalidArg, "Test.Adder", "refused");
                    })
            .done();
    return info;
  }
};

TEST(Registry, CallsByNameWithDefaultsAndByReferenceArguments) {
  Adder().classInfo();
  auto obj = Registry::instance().create("test.adder");
  std::vector<Variant> args{Variant(5), Variant(7), Variant()};
  EXPECT_TRUE(obj->invoke("ADD", args).toBool());
  EXPECT_EQ(args[0].toInt32(), 5);
  EXPECT_EQ(args[2].toInt32(), 12);

  // Left-out optional arguments take their defaults; outputs stay visible.
  std::vector<Variant> one{Variant(5)};
  obj->invoke("Add", one);
  ASSERT_EQ(one.size(), 3u);
  EXPECT_EQ(one[2].toInt32(), 15);

  // Outputs are written back when the method raises, too.
  std::vector<Variant> errors{Variant("")};
  EXPECT_RAISES(hr::kInvalidArg, obj->invoke("Refuse", errors));
  EXPECT_EQ(errors[0].toString(), "bad filter");

  std::vector<Variant> tooFew;
  EXPECT_RAISES(hr::kWrongArgCount, obj->invoke("Add", tooFew));
  std::vector<Variant> none;
  EXPECT_RAISES(hr::kNoSuchMember, obj->invoke("Subtract", none));
  EXPECT_RAISES(hr::kCannotCreate, Registry::instance().create("No.Such.Class"));
}

TEST(Text, CountsCharactersNotBytes) {
  const std::string s = "Grüße, 日本";
  EXPECT_EQ(text::Len(s), 9);
  EXPECT_EQ(text::Left(s, 4), "Grüß");
  EXPECT_EQ(text::Mid(s, 8, 1), "日");
  EXPECT_EQ(text::Right(s, 2), "日本");
  EXPECT_EQ(text::InStr(1, s, "日"), 8);
  EXPECT_EQ(text::Trim("  a b  "), "a b");
  EXPECT_EQ(text::Replace("aXbxc", "x", "-", -1, true), "a-b-c");
  EXPECT_EQ(text::Replace("aXbxc", "x", "-", 1, false), "aXb-c");
  EXPECT_TRUE(text::Split("", ",").empty());
}

TEST(Text, IsNumericReadsNumbersAsAutomationDoes) {
  for (const char* yes : {"42", " -3.5 ", "1e5", "+.5", "&H1F", "7."}) EXPECT_TRUE(text::IsNumeric(yes)) << yes;
  for (const char* no : {"", " ", "abc", "1a", "1e", ".", "-", "0x10", "nan", "inf", "1 2"})
    EXPECT_FALSE(text::IsNumeric(no)) << no;
}

TEST(Text, NetworkPathsStayAndLocalPathsUseSlashes) {
  EXPECT_TRUE(text::IsNetworkPath("\\\\server\\share\\a.xml"));
  EXPECT_EQ(text::LocalPath("\\\\server\\share\\a.xml"), "\\\\server\\share\\a.xml");
  EXPECT_EQ(text::LocalPath("/srv/site\\xml\\a.xml"), "/srv/site/xml/a.xml");
  EXPECT_FALSE(text::IsNetworkPath("\\single"));
}

TEST(Error, HexNumberHasNoLeadingZerosAndTwosComplement) {
  EXPECT_EQ(hexNumber(static_cast<std::int32_t>(0x800401FE)), "800401FE");
  EXPECT_EQ(hexNumber(10), "A");
  EXPECT_EQ(hexNumber(0), "0");
}

}  // namespace
}  // namespace quillon
