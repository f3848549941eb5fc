#include <gtest/gtest.h>

#include "foundation/I18N.h"
#include "foundation/LabelReplacements.h"
#include "platform/Error.h"
#include "platform/Object.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

class I18NTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    exec("INSERT INTO I18NTEXT VALUES ('SLBSH9001', 1033, 'File [%FILE%] and [%FILE%] but not [%file%].')");
    exec("INSERT INTO I18NTEXT VALUES ('SLBSH9002', 1033, 'Format [%label1%], again [%LABEL1%].')");
    exec("INSERT INTO I18NTEXT VALUES ('SLBSH9003', 1033, 'XML')");
    exec("INSERT INTO I18NTEXT VALUES ('SLBSH9003', 1031, 'XML (de)')");
    exec("INSERT INTO I18NTEXT VALUES ('SLBSH9002', 1031, 'Format [%LABEL1%].')");
  }
  std::shared_ptr<Dictionary> dict(std::initializer_list<std::pair<std::string, std::string>> items) {
    auto d = std::make_shared<Dictionary>();
    for (const auto& [k, v] : items) d->Add(k, Variant(v));
    return d;
  }
};

TEST_F(I18NTest, LocaleZeroIsEnglishAndThereIsNoFallBack) {
  EXPECT_EQ(I18N::GetLabelForLocale("SLBSH9003", 0), "XML");
  EXPECT_EQ(I18N::GetLabelForLocale("SLBSH9003", 1033), "XML");
  EXPECT_EQ(I18N::GetLabel("SLBSH9003"), "XML");
  EXPECT_EQ(I18N::GetLabelForLocale("SLBSH9003", 1031), "XML (de)");
  EXPECT_EQ(I18N::GetLabelForLocale("SLBSH9001", 1031), "<font color='red'>Error SLBSH9001</font>");
  EXPECT_EQ(I18N::GetLabelWithReplacements("SLBSH9999", 1033, dict({{"[%X%]", "y"}})),
            "<font color='red'>Error SLBSH9999</font>");
}

TEST_F(I18NTest, PlainPlaceholdersReplaceEveryCaseSensitiveOccurrence) {
  EXPECT_EQ(I18N::GetLabelWithReplacements("SLBSH9001", 0, dict({{" [%FILE%] ", "a.xml"}})),
            "File a.xml and a.xml but not [%file%].");
}

TEST_F(I18NTest, LabelPlaceholdersReplaceTheFirstOccurrenceInAnyCase) {
  // The item holds the inner key with two extra characters on each side.
  EXPECT_EQ(I18N::GetLabelWithReplacements("SLBSH9002", 0, dict({{"[%LABEL1%]", "[%SLBSH9003%]"}})),
            "Format XML, again [%LABEL1%].");
  // Only keys that begin with "[%LABEL" in capitals name a label; others are plain text.
  EXPECT_EQ(I18N::GetLabelWithReplacements("SLBSH9002", 0, dict({{"[%label1%]", "[%SLBSH9003%]"}})),
            "Format [%SLBSH9003%], again [%LABEL1%].");
  EXPECT_EQ(I18N::GetLabelWithReplacements("SLBSH9002", 1031, dict({{"[%LABEL1%]", "[%SLBSH9003%]"}})),
            "Format XML (de).");
  EXPECT_EQ(I18N::GetLabelWithReplacements("SLBSH9002", 0, dict({{"[%LABEL1%]", "[%SLBSH9998%]"}})),
            "Format <font color='red'>Error SLBSH9998</font>, again [%LABEL1%].");
}

TEST_F(I18NTest, PortalLookupReportsTheLabelAndLanguageOnFailure) {
  LabelReplacements lr;
  EXPECT_EQ(lr.I18NCollByReplacementsForASP("SLBSH9001", 1033, dict({{"[%FILE%]", "b"}})),
            "File b and b but not [%file%].");
  EXPECT_EQ(lr.I18NCollByReplacementsForASP("SLBSH9003", 1033, nullptr), "XML");
  auto bad = std::make_shared<Dictionary>();
  bad->Add("[%FILE%]", Variant(VariantArray::ofStrings({"not", "text"})));
  Error e = EXPECT_RAISES(hr::kTypeMismatch, lr.I18NCollByReplacementsForASP("SLBSH9001", 1033, bad));
  std::string info = I18N::LabelWith("SLBSH4351", {{"[%LABELKEY%]", "SLBSH9001"}, {"[%LANGUAGEID%]", "1033"}});
  EXPECT_NE(info.find("SLBSH9001"), std::string::npos);
  EXPECT_NE(info.find("1033"), std::string::npos);
  EXPECT_NE(e.description().find("METHOD: Quillon.LabelReplacements.I18NCollByReplacementsForASP caught: "),
            std::string::npos);
  EXPECT_NE(e.description().find(" Additional information: " + info), std::string::npos) << e.description();
}

// Label keys come from callers and documents: they are looked up as text,
// never run as SQL, and an unknown one still gives its red text.
TEST_F(I18NTest, KeysAreLookedUpLiterallyAndNeverRunAsSql) {
  exec("INSERT INTO I18NTEXT VALUES ('O''Key', 1033, 'quoted key')");
  EXPECT_EQ(I18N::GetLabel("O'Key"), "quoted key");
  EXPECT_EQ(I18N::GetLabelForLocale("O'Key", 1033), "quoted key");
  const std::string rows = scalar("SELECT COUNT(*) FROM I18NTEXT");
  const std::vector<std::string> hostile = {
      "SLBSH9003' OR '1'='1",
      "x'; DELETE FROM I18NTEXT; --",
      "x' UNION SELECT name FROM sqlite_master --",
      "SLBSH9003'",
      std::string("SLBSH9003\0", 10),
  };
  for (const std::string& key : hostile) {
    const std::string red = "<font color='red'>Error " + key + "</font>";
    EXPECT_EQ(I18N::GetLabel(key), red) << key;
    EXPECT_EQ(I18N::GetLabelForLocale(key, 1031), red) << key;
    EXPECT_EQ(I18N::GetLabelWithReplacements(key, 0, dict({{"[%X%]", "y"}})), red) << key;
    LabelReplacements lr;
    EXPECT_EQ(lr.I18NCollByReplacementsForASP(key, 1033, nullptr), red) << key;
    // The same key inside a "[%LABEL…" placeholder.
    EXPECT_EQ(I18N::GetLabelWithReplacements("SLBSH9002", 0, dict({{"[%LABEL1%]", "[%" + key + "%]"}})),
              "Format " + red + ", again [%LABEL1%].")
        << key;
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM I18NTEXT"), rows);
}

}  // namespace
}  // namespace quillon
