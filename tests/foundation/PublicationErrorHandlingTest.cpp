#include "foundation/PublicationErrorHandling.h"

#include <gtest/gtest.h>

#include <functional>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "foundation/LabelReplacements.h"
#include "platform/Error.h"
#include "platform/Object.h"
#include "platform/XmlDom.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

namespace PEH = PublicationErrorHandling;

class PublicationErrorHandlingTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID) VALUES (7, 'ORDER'), (8, NULL)");
  }
  std::string column(const std::string& name, std::int32_t id) {
    return scalar("SELECT " + name + " FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " + std::to_string(id));
  }
};

TEST_F(PublicationErrorHandlingTest, ReplacementsSurviveTheRoundTripInOrder) {
  auto values = std::make_shared<Dictionary>();
  values->Add("[%USER%]", Variant("zoe"));
  values->Add("[%DOCID%]", Variant("7"));
  values->Add("[%TEXT%]", Variant(" a < b & \"c\" "));
  std::shared_ptr<DomDocument> reps;  // not set: a new document is made
  PEH::AddReplacements(reps, values);

  std::int32_t id = PEH::LogPublicationError(7, 42, "It failed", "Quillon.Test", "SLBSH1812", reps);
  ASSERT_GT(id, 0);
  EXPECT_EQ(column("DOCUMENTID || '|' || ERRORNUMBER || '|' || DESCRIPTION || '|' || LABEL || '|' || CLOSED", id),
            "7|42|It failed|SLBSH1812|0");
  EXPECT_EQ(column("LENGTH(CREATIONDATE)", id), "19");

  auto back = LabelReplacements().GetAllReplacementsFromTableForASP("dbo.PUBLICATIONERRORS", id);
  EXPECT_EQ(back->Keys(), values->Keys());
  for (long i = 0; i < values->Count(); ++i) EXPECT_EQ(back->entry(i).second.text(), values->entry(i).second.text());

  // A document whose root is not REPS is replaced; one with a REPS root is extended.
  auto other = std::make_shared<DomDocument>();
  ASSERT_TRUE(other->loadXML("<OTHER/>"));
  PEH::AddReplacements(other, values);
  PEH::AddReplacement(other, "[%MORE%]", "x");
  EXPECT_EQ(other->documentElement()->nodeName(), "REPS");
  EXPECT_EQ(other->selectNodes("/REPS/REP")->length(), 4);
}

TEST_F(PublicationErrorHandlingTest, RowsAreWrittenOnlyForTypedDocumentsWithOptionalColumnsNull) {
  EXPECT_EQ(PEH::LogPublicationError(8, 1, "d", "s", "L"), 0);
  EXPECT_EQ(PEH::LogPublicationError(99, 1, "d", "s", "L", PEH::NewReplacementsDocument()), 0);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS"), "0");

  // 254 ASCII characters, then two-byte characters: the cut keeps 255 whole characters.
  std::string source(254, 's');
  for (int i = 0; i < 10; ++i) source += "\xC3\xA9";
  std::string description(1000, 'd');
  std::int32_t id = PEH::LogPublicationError(7, 1, description, source, "");
  EXPECT_EQ(column("SOURCE", id), std::string(254, 's') + "\xC3\xA9");
  EXPECT_EQ(column("LENGTH(DESCRIPTION)", id), "1000");
  EXPECT_EQ(column("LABEL", id), "NULL");
  EXPECT_EQ(column("REPLACEMENTS", id), "NULL");
  EXPECT_EQ(LabelReplacements().GetAllReplacementsFromTableForASP("PUBLICATIONERRORS", id)->Count(), 0);
}

TEST_F(PublicationErrorHandlingTest, StoredReplacementsAreReadSafely) {
  exec("INSERT INTO PUBLICATIONERRORS (PUBLICATIONERRORID, DOCUMENTID, REPLACEMENTS) VALUES "
       "(1, 7, '<REPS><REP name=\"[%A%]\">1</REP><REP name=\"[%A%]\">2</REP></REPS>'), (2, 7, '   ')");
  EXPECT_EQ(LabelReplacements().GetAllReplacementsFromTableForASP("PUBLICATIONERRORS", 2)->Count(), 0);

  Error repeated = EXPECT_RAISES(test::kAnyError,
                                 LabelReplacements().GetAllReplacementsFromTableForASP("PUBLICATIONERRORS", 1));
  EXPECT_NE(repeated.number(), 0);
  EXPECT_NE(repeated.description().find("Additional information: " +
                                        I18N::LabelWith("SLBSH4350", {{"[%TABLE%]", "PUBLICATIONERRORS"}, {"[%ERRORID%]", "1"}})),
            std::string::npos)
      << repeated.description();

  for (const char* bad : {"PUBLICATIONERRORS; DROP TABLE DOCUMENT", "PUBLICATIONERRORS WHERE 1=1 OR", "", "dbo.",
                          "x.PUBLICATIONERRORS", "[PUBLICATIONERRORS]"}) {
    std::shared_ptr<Dictionary> dict;
    EXPECT_RAISES(InvalidParamValue, PEH::GetReplacementsFromTable(dict, bad, 1));
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "2");
}

}  // namespace
}  // namespace quillon
