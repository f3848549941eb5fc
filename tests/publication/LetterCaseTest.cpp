// Ids in any letter case name the same user, type and parameter in the
// database as they do in the directory: a document that names its sender
// and receiver in other cases than the lists spell them is published all
// the same, and joins and IN lists over stored ids agree.
#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/ConnectionScope.h"
#include "foundation/DBUtils.h"
#include "foundation/I18N.h"
#include "platform/Database.h"
#include "platform/Object.h"
#include "publication/Collaboration.h"
#include "publication/SenderList.h"
#include "publication/Utility.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

class LetterCaseTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
  }
  // Stores a document as the intake does and returns its id.
  int store(const std::string& type, const std::string& sender, const std::string& body) {
    exec("INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, STATUS, XMLBODY) VALUES ('" + type + "', '" + sender + "', 0, '" +
         body + "')");
    return std::stoi(scalar("SELECT MAX(DOCUMENTID) FROM DOCUMENT"));
  }
  std::string column(const std::string& sql) {
    return scalar("SELECT IFNULL(GROUP_CONCAT(V, ','), '') FROM (" + sql + ")");
  }
  Utility u;
};

TEST_F(LetterCaseTest, SenderAndReceiverSpelledInOtherCasesArePublished) {
  const std::string text =
      "<ORDER><DOCTYPE-ID>order</DOCTYPE-ID><SENDER>ALICE</SENDER><RECEIVER>Bob</RECEIVER><NUMBER>7</NUMBER></ORDER>";
  std::int32_t senderBP = 0;
  std::string sender;
  u.GetSenderBPAndName(text, senderBP, sender);
  EXPECT_EQ(senderBP, 100);
  const std::string type = u.GetDocType(text, 0);
  EXPECT_TRUE(SenderList().CheckAuthorizationForSender(type, sender));

  const int doc = store(type, sender, text);
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(doc), 1);
  EXPECT_EQ(column("SELECT USERID AS V FROM PUBLICATION WHERE DOCUMENTID = " + std::to_string(doc)), "bob");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE DOCUMENTID = " + std::to_string(doc)), "0");

  // The recipient acts under yet another spelling of his id.
  Collaboration collaboration;
  EXPECT_EQ(collaboration.GetPublicationStatus(doc, "BOB"), 0);
  collaboration.AcceptPublication(doc, "BoB");
  EXPECT_EQ(collaboration.GetPublicationStatus(doc, "bob"), 1);
}

TEST_F(LetterCaseTest, JoinsAndInListsMatchIdsInAnyCase) {
  // A copy stored under another spelling than the distribution list's.
  const int doc = store("Order", "alice", "<ORDER/>");
  exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID) VALUES (" + std::to_string(doc) + ", 'CAROL'), (" +
       std::to_string(doc) + ", 'Dave')");
  auto users = std::make_shared<Dictionary>();
  users->Add("1", Variant(std::string("carol")));
  users->Add("2", Variant(std::string("DAVE")));
  auto rs = u.GetRecipientsFromPublicationTableByUsers(doc, "ORDER", false, users);
  std::vector<std::string> found;
  for (; !rs->EOF_(); rs->MoveNext()) found.push_back(rs->Fields("USERID").Value().text());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"CAROL", "Dave"}));

  // The type's description and the parameters and labels, by any spelling.
  EXPECT_EQ(u.GetDocumentTypeDescription("order"), "Purchase order");
  EXPECT_EQ(DBUtils::GetParameter("sitelink"), DBUtils::GetParameter("SiteLink"));
  EXPECT_EQ(I18N::GetLabel("slbsh0052"), I18N::GetLabel("SLBSH0052"));
  // One type, one parameter: a second spelling is the same key.
  EXPECT_NE(scalar("SELECT COUNT(*) FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = 'Order'"), "0");
  EXPECT_EQ(column("SELECT DOCUMENTTYPEID AS V FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID IN ('order', 'INVOICE')"),
            "INVOICE,ORDER");
}

TEST_F(LetterCaseTest, KeysSpelledInAnotherCaseAreDuplicates) {
  Error e = EXPECT_RAISES(hr::kDatabase, {
    ConnectionScope conn;
    conn.get()->Execute("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('order', 'Second order type')");
  });
  EXPECT_NE(e.description().find("UNIQUE"), std::string::npos) << e.description();
  e = EXPECT_RAISES(hr::kDatabase, {
    ConnectionScope conn;
    conn.get()->Execute("INSERT INTO COLLABORATIONPARAMETER (PARAMNAME, PARAMVALUE) VALUES ('SITELINK', 'x')");
  });
  EXPECT_NE(e.description().find("UNIQUE"), std::string::npos) << e.description();
}

}  // namespace
}  // namespace quillon
