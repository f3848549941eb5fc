// Recipient resolution on real stored documents, distribution lists and a
// real directory.
#include <gtest/gtest.h>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "platform/Variant.h"
#include "platform/XmlDom.h"
#include "publication/DistributionList.h"
#include "publication/SenderList.h"
#include "publication/Utility.h"
#include "tests/CallCounters.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

class RecipientsTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Purchase order')");
    exec("INSERT INTO DISTRIBUTIONLIST VALUES ('ORDER', 200, 'bob', 1, 0, 0), ('ORDER', 200, 'carol', 0, 0, 0),"
         " ('ORDER', 300, 'dave', 1, 0, 0)");
    exec("INSERT INTO SENDERLIST VALUES ('ORDER', 100, 'alice', 1, 0, 1)");
    std::string db = dir() + "/directory.db";
    DirectoryAdmin::AddPartner(db, 100, "Acme Supplies", "ACME-C", "ACME-S");
    DirectoryAdmin::AddPartner(db, 200, "Borealis Retail", "BOR-C", "BOR-S");
    DirectoryAdmin::AddPartner(db, 300, "Cobalt Logistics", "", "COB-S");
    for (auto [cn, bp, number] : std::vector<std::tuple<std::string, int, std::string>>{
             {"alice", 100, "42"}, {"bob", 200, ""}, {"carol", 200, ""}, {"dave", 300, ""}}) {
      DirectoryAdmin::UserRecord u;
      u.cn = cn;
      u.partnerID = bp;
      u.email = cn + "@example.com";
      u.employeeNumber = number;
      DirectoryAdmin::AddUser(db, u);
    }
  }
  // Stores a document of type ORDER with the given routing part.
  int store(int id, const std::string& routing) {
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, XMLBODY) VALUES (" + std::to_string(id) +
         ", 'ORDER', 'alice', 0, '<ORDER><SENDER>alice</SENDER>" + routing + "<NUMBER>1</NUMBER></ORDER>')");
    return id;
  }
  std::string publications(int doc) {
    return scalar("SELECT IFNULL(GROUP_CONCAT(USERID, ','), '') FROM (SELECT USERID FROM PUBLICATION WHERE DOCUMENTID = " +
                  std::to_string(doc) + " ORDER BY USERID)");
  }
  std::string errorLabels(int doc) {
    return scalar("SELECT IFNULL(GROUP_CONCAT(LABEL, ','), '') FROM (SELECT LABEL FROM PUBLICATIONERRORS WHERE DOCUMENTID = " +
                  std::to_string(doc) + " ORDER BY PUBLICATIONERRORID)");
  }
  std::string body(int doc) { return scalar("SELECT XMLBODY FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(doc)); }
  Utility u;
};

TEST_F(RecipientsTest, FillingThePublicationTableIsIdempotent) {
  store(1, "");
  EXPECT_EQ(u.FillPublicationTable(1, "ORDER", 200), 2);
  EXPECT_EQ(u.FillPublicationTable(1, "ORDER", 200), 0);
  EXPECT_EQ(u.FillPublicationTable(1, "ORDER", 0, "dave"), 1);
  EXPECT_EQ(u.FillPublicationTable(1, "ORDER"), 0);
  EXPECT_EQ(publications(1), "bob,carol,dave");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATION WHERE STATUS = 0 AND FORWARD = 0 AND PUBLICATIONERRORID IS NULL"), "3");
}

TEST_F(RecipientsTest, TheWholeListWinsAndTheTagsAreEmptied) {
  store(2, "<USESDISTLIST> true </USESDISTLIST><RECEIVER>nobody</RECEIVER>");
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(2), 1);
  EXPECT_EQ(publications(2), "bob,carol,dave");
  EXPECT_EQ(errorLabels(2), "");  // the RECEIVER was never read
  EXPECT_EQ(body(2).find("nobody"), std::string::npos);
  EXPECT_EQ(body(2).find("true"), std::string::npos);
}

TEST_F(RecipientsTest, ReceiversArePublishedOrRecordedAsErrors) {
  store(3, "<RECEIVER>carol</RECEIVER><RECEIVER>mallory</RECEIVER>");
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(3), 1);
  EXPECT_EQ(publications(3), "carol");
  EXPECT_EQ(errorLabels(3), "SLBSH0008");
  EXPECT_NE(scalar("SELECT DESCRIPTION FROM PUBLICATIONERRORS WHERE DOCUMENTID = 3").find("mallory"), std::string::npos);
  EXPECT_EQ(body(3).find("carol"), std::string::npos);

  // A receiver who already holds the document counts as found, without an error.
  store(4, "<RECEIVER>bob</RECEIVER>");
  u.FillPublicationTable(4, "ORDER", 0, "bob");
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(4), 1);
  EXPECT_EQ(errorLabels(4), "");

  store(5, "<RECEIVER>mallory</RECEIVER>");
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(5), 0);
  EXPECT_EQ(publications(5), "");
}

TEST_F(RecipientsTest, PartnersByIdAndByCode) {
  store(6, "<BUSINESSPARTNER>200</BUSINESSPARTNER>");
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(6), 1);
  EXPECT_EQ(publications(6), "bob,carol");

  store(7, "<BUSINESSPARTNER>ABC</BUSINESSPARTNER>");
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(7), 0);
  EXPECT_EQ(errorLabels(7), "SLBSH4475,SLBSH0008");

  // An empty first BUSINESSPARTNER sends resolution to the partner codes.
  store(8, "<BUSINESSPARTNER/><BUSINESSPARTNER>200</BUSINESSPARTNER><BUS-PART-S>COB-S</BUS-PART-S>"
           "<BUS-PART-C>NO-SUCH</BUS-PART-C>");
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(8), 1);
  EXPECT_EQ(publications(8), "dave");
  EXPECT_EQ(errorLabels(8), "SLBSH4476,SLBSH0008");
  // The later BUSINESSPARTNER was not used and stays in the stored text.
  EXPECT_NE(body(8).find("200"), std::string::npos);
}

TEST_F(RecipientsTest, RecordedErrorTextsNameTheRecipientAndKeepNoPlaceholder) {
  // A partner code nobody has, a partner whose users are on no list, and a
  // user who is on no list: each leaves a text an operator can act on.
  store(10, "<BUSINESSPARTNER>ABC</BUSINESSPARTNER>");
  store(11, "<BUSINESSPARTNER>100</BUSINESSPARTNER>");
  store(12, "<RECEIVER>mallory</RECEIVER>");
  for (int doc : {10, 11, 12}) EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(doc), 0);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE DOCUMENTID IN (10, 11, 12)"), "4");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE INSTR(DESCRIPTION, '[%') OR INSTR(DESCRIPTION, '%]')"),
            "0");
  EXPECT_EQ(scalar("SELECT DESCRIPTION FROM PUBLICATIONERRORS WHERE DOCUMENTID = 11"),
            "Document 11 could not be published to the recipient '100' (document type 'Purchase order'): the recipient "
            "is not on the distribution list or its publication failed.");
  std::string unknownCode = scalar("SELECT GROUP_CONCAT(DESCRIPTION, '|') FROM PUBLICATIONERRORS WHERE DOCUMENTID = 10");
  EXPECT_NE(unknownCode.find("recipient 'ABC'"), std::string::npos) << unknownCode;
}

TEST_F(RecipientsTest, NothingToResolve) {
  store(9, "");
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(9), 0);
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(0, "ORDER", "<a/>"), 0);
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(99), 0);  // no such document
}

TEST_F(RecipientsTest, SenderByNameOrByContact) {
  std::int32_t bp = -1;
  std::string name;
  u.GetSenderBPAndName("<ORDER><SENDER> bob </SENDER></ORDER>", bp, name);
  EXPECT_EQ(bp, 200);
  EXPECT_EQ(name, "bob");
  u.GetSenderBPAndName("<ORDER><CONTACT>42</CONTACT></ORDER>", bp, name);
  EXPECT_EQ(bp, 100);
  EXPECT_EQ(name, "alice");
  u.GetSenderBPAndName("<ORDER><CONTACT>carol</CONTACT></ORDER>", bp, name);
  EXPECT_EQ(bp, 200);
  Error e = EXPECT_RAISES(ProcessDocumentError, u.GetSenderBPAndName("<ORDER/>", bp, name));
  EXPECT_EQ(bp, 0);
  EXPECT_EQ(name, "");
  EXPECT_NE(e.description().find("Additional information: "), std::string::npos);
  EXPECT_RAISES(test::kAnyError, u.GetSenderBPAndName("<ORDER>", bp, name));
  EXPECT_TRUE(u.BPOfDocumentEqualsBPOfUser("carol", "<ORDER><SENDER>bob</SENDER></ORDER>"));
  EXPECT_FALSE(u.BPOfDocumentEqualsBPOfUser("dave", "<ORDER><SENDER>bob</SENDER></ORDER>"));
}

// A sender or contact written with directory wildcards or filter
// characters names nobody: the document belongs to no partner.
TEST_F(RecipientsTest, SenderAndContactAreMatchedLiterally) {
  DirectoryAdmin::UserRecord odd;
  odd.cn = "e(v)e\\*";
  odd.partnerID = 300;
  odd.email = "eve@example.com";
  DirectoryAdmin::AddUser(dir() + "/directory.db", odd);
  std::int32_t bp = -1;
  std::string name = "x";
  for (const std::string value : {"*", "a*", "b*", "*)(cn=*", "al\\69ce", "4*", "\\2a", "b&#9;ob"}) {
    u.GetSenderBPAndName("<ORDER><SENDER>" + value + "</SENDER></ORDER>", bp, name);
    EXPECT_EQ(bp, 0) << value;
    EXPECT_EQ(name, value == "b&#9;ob" ? "b\tob" : value) << value;
    u.GetSenderBPAndName("<ORDER><CONTACT>" + value + "</CONTACT></ORDER>", bp, name);
    EXPECT_EQ(bp, 0) << value;
    EXPECT_FALSE(u.BPOfDocumentEqualsBPOfUser("alice", "<ORDER><SENDER>" + value + "</SENDER></ORDER>")) << value;
  }
  u.GetSenderBPAndName("<ORDER><SENDER>e(v)e\\*</SENDER></ORDER>", bp, name);
  EXPECT_EQ(bp, 300);
  EXPECT_EQ(name, "e(v)e\\*");
  u.GetSenderBPAndName("<ORDER><CONTACT>E(V)E\\*</CONTACT></ORDER>", bp, name);
  EXPECT_EQ(bp, 300);
}

TEST_F(RecipientsTest, DefaultReceiverNeedsARequisitioner) {
  EXPECT_EQ(u.GetDefaultReceiver("<ORDER><RECEIVER>bob</RECEIVER></ORDER>"), "");
  EXPECT_EQ(u.GetDefaultReceiver("<ORDER><REQUISITIONER>x</REQUISITIONER><RECEIVER> bob </RECEIVER></ORDER>"), "bob");
}

TEST_F(RecipientsTest, DocumentTypeFromTheTagWhenKnown) {
  EXPECT_EQ(u.GetDocType("<X><DOCTYPE-ID>ORDER</DOCTYPE-ID></X>"), "ORDER");
  EXPECT_EQ(u.GetDocType("<X><DOCTYPE-ID>UNKNOWN</DOCTYPE-ID></X>"), "");
  EXPECT_EQ(u.GetDocType("<X/>", 100), "");
}

TEST_F(RecipientsTest, DistributionAndSenderListQuestions) {
  DistributionList d;
  EXPECT_TRUE(d.UserFoundOnDBList("ORDER", "bob"));
  EXPECT_FALSE(d.UserFoundOnDBList("ORDER", ""));
  EXPECT_TRUE(d.BPFoundOnDBList("ORDER", 300));
  EXPECT_FALSE(d.BPFoundOnDBList("ORDER", 0));
  EXPECT_TRUE(d.AnyBPFoundOnDBList("ORDER"));
  auto names = [](std::vector<std::string> n) { return Variant(VariantArray::ofStrings(n)); };
  auto vals = [](std::vector<Variant> v) { return Variant(VariantArray(std::move(v))); };
  EXPECT_TRUE(d.IReferentialIntegrity_Exists("BusinessPartner", names({"BUSINESSPARTNERID"}), vals({Variant(100)})));
  EXPECT_FALSE(d.IReferentialIntegrity_Exists("BUSINESSPARTNER", names({"BUSINESSPARTNERID"}), vals({Variant(400)})));
  EXPECT_TRUE(d.IReferentialIntegrity_Exists("user", names({"USERID"}), vals({Variant("alice")})));
  EXPECT_TRUE(d.IReferentialIntegrity_Exists("USER_DOCUMENTTYPE", names({"USERID", "DOCUMENTTYPEID"}),
                                             vals({Variant("dave"), Variant("ORDER")})));
  EXPECT_FALSE(d.IReferentialIntegrity_Exists("USER_BUSINESSPARTNER", names({"USERID", "BUSINESSPARTNERID"}),
                                              vals({Variant("dave"), Variant(200)})));
  EXPECT_FALSE(d.IReferentialIntegrity_Exists("INVOICE", names({"X"}), vals({Variant(1)})));
  d.RemoveBPsFromDBList("ORDER");
  EXPECT_FALSE(d.AnyBPFoundOnDBList("ORDER"));

  SenderList s;
  EXPECT_TRUE(s.CheckAuthorizationForSender("ORDER", "alice"));
  EXPECT_FALSE(s.CheckAuthorizationForSender("ORDER", "bob"));
  bool n = false, a = true, h = false;
  std::string xsl = "x";
  EXPECT_TRUE(s.GetNotification2("ORDER", "alice", n, a, h, xsl).toBool());
  EXPECT_TRUE(n);
  EXPECT_FALSE(a);
  EXPECT_TRUE(h);
  EXPECT_EQ(xsl, "");
  EXPECT_TRUE(s.GetDocumentAsAttachment("ORDER", "alice"));
  EXPECT_FALSE(s.GetAttachments("ORDER", "alice"));
  EXPECT_FALSE(s.GetNotification("ORDER", "bob"));
}

TEST_F(RecipientsTest, AUserListedTwiceGetsOneCopy) {
  // bob is on the list for two partners, and carol's row is there twice.
  exec("INSERT INTO DISTRIBUTIONLIST VALUES ('ORDER', 300, 'bob', 0, 0, 0), ('ORDER', 200, 'carol', 0, 0, 0)");
  store(1, "");
  EXPECT_EQ(u.FillPublicationTable(1, "ORDER"), 3);
  EXPECT_EQ(publications(1), "bob,carol,dave");
  EXPECT_EQ(u.FillPublicationTable(1, "ORDER", 300), 0);
  EXPECT_EQ(u.FillPublicationTable(1, "ORDER", 0, "bob"), 0);
  EXPECT_EQ(publications(1), "bob,carol,dave");

  // The same through the routing tags of a stored document.
  store(2, "<RECEIVER>bob</RECEIVER><BUSINESSPARTNER>300</BUSINESSPARTNER>");
  EXPECT_EQ(u.GetRecipientsAndFillPublicationTable(2), 1);
  EXPECT_EQ(publications(2), "bob,dave");
  EXPECT_EQ(errorLabels(2), "");
}

TEST_F(RecipientsTest, AnIntakeParsesItsDocumentOnce) {
  const std::string text =
      "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><REQUISITIONER>Al</REQUISITIONER>"
      "<RECEIVER>bob</RECEIVER><RECEIVER>mallory</RECEIVER><BUSINESSPARTNER>300</BUSINESSPARTNER></ORDER>";
  std::int32_t bp = 0;
  std::string sender;
  auto before = test::Counts();
  u.GetSenderBPAndName(text, bp, sender);
  EXPECT_EQ((test::Counts() - before).textParses, 1u) << "the text form parses once";
  EXPECT_EQ(bp, 100);
  EXPECT_EQ(sender, "alice");

  auto dom = std::make_shared<DomDocument>();
  ASSERT_TRUE(dom->loadXML(text));
  before = test::Counts();
  bp = -1;
  sender = "x";
  UtilityDom::GetSenderBPAndName(u, dom, bp, sender);
  EXPECT_EQ(bp, 100);
  EXPECT_EQ(sender, "alice");
  EXPECT_EQ(UtilityDom::GetDocType(u, dom, bp), "ORDER");
  EXPECT_EQ(UtilityDom::GetDefaultReceiver(u, dom), "bob");
  store(1, "");
  EXPECT_EQ(UtilityDom::GetRecipientsAndFillPublicationTable(u, 1, "ORDER", dom), 1);
  EXPECT_EQ((test::Counts() - before).textParses, 0u) << "the DOM forms parse nothing";
  EXPECT_EQ(publications(1), "bob,dave");
  EXPECT_EQ(errorLabels(1), "SLBSH0008");
  // The routing tags are emptied in the DOM handed in and in the stored body.
  EXPECT_EQ(u.ExecuteXSLPattern(dom, "//RECEIVER"), "");
  EXPECT_EQ(body(1).find("mallory"), std::string::npos);

  // Failures as in the text forms.
  try {
    UtilityDom::GetSenderBPAndName(u, nullptr, bp, sender);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), hr::kObjectRequired);
    EXPECT_EQ(bp, 0);
    EXPECT_EQ(sender, "");
  }
  EXPECT_THROW(UtilityDom::GetDocType(u, nullptr), Error);
  auto empty = std::make_shared<DomDocument>();
  EXPECT_EQ(UtilityDom::GetRecipientsAndFillPublicationTable(u, 1, "ORDER", empty), 0);
  bp = 7;
  try {
    u.GetSenderBPAndName("<ORDER>", bp, sender);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(bp, 0);
    EXPECT_NE(e.description().find("Additional information: "), std::string::npos);
  }
}

}  // namespace
}  // namespace quillon
