#include "publication/Utility.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "delivery/PushDocUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

class UtilityTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, HTMLATTACHMENTXSL) VALUES ('ORDER', 'Purchase order', 'order.xsl')");
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS) VALUES (10, 'ORDER', 'alice', 1)");
    // Distribution list: who receives orders, with mail preferences.
    exec("INSERT INTO DISTRIBUTIONLIST VALUES ('ORDER', 200, 'bob', 1, 1, 0), ('ORDER', 200, 'carol', 1, 0, 1),"
         " ('ORDER', 300, 'dave', 0, 0, 0), ('ORDER', 300, 'erin', 1, 0, 0), ('INVOICE', 200, 'bob', 1, 0, 0)");
    // erin has deleted her copy (status 2 = new, deleted).
    exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS, FORWARD) VALUES (10, 'bob', 0, 0), (10, 'carol', 5, 0),"
         " (10, 'dave', 1, 0), (10, 'erin', 2, 0)");
    std::string db = dir() + "/directory.db";
    DirectoryAdmin::AddPartner(db, 200, "Borealis Retail", "BOR-C", "BOR-S");
    DirectoryAdmin::AddPartner(db, 300, "Cobalt Logistics", "", "");
    addUser("bob", 200, "bob@borealis.example", {1}, "bob-secret");
    addUser("carol", 200, "carol@borealis.example", {1, 2}, std::nullopt);
    addUser("dave", 300, "dave@cobalt.example", {}, std::nullopt);
    addUser("erin", 300, "erin@cobalt.example", {}, std::nullopt);
  }
  void addUser(const std::string& cn, int partner, const std::string& mail, std::vector<std::int32_t> apps,
               std::optional<std::string> password) {
    DirectoryAdmin::UserRecord u;
    u.cn = cn;
    u.partnerID = partner;
    u.email = mail;
    u.applications = std::move(apps);
    u.password = std::move(password);
    DirectoryAdmin::AddUser(dir() + "/directory.db", u);
  }
  static std::vector<std::string> users(const std::shared_ptr<Recordset>& rs) {
    std::vector<std::string> out;
    while (!rs->EOF_()) {
      out.push_back(rs->Fields("USERID").Value().text());
      rs->MoveNext();
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  Utility u;
};

TEST_F(UtilityTest, PatternsAreBuiltAndCheckedWithTheCallerTextTrimmed) {
  EXPECT_EQ(u.ConstructXslPattern(value(TagAttrXsl::TAGVALUE), "NUMBER"), "//NUMBER");
  EXPECT_EQ(u.ConstructXslPattern(value(TagAttrXsl::ATTRVALUE), "id"), "//@id");
  EXPECT_EQ(u.ConstructXslPattern(value(TagAttrXsl::XSLPATTERN), "/A/B"), "/A/B");
  EXPECT_EQ(u.ConstructXslPattern(value(TagAttrXsl::FIXEDTEXT), "x"), "");

  const int tag = value(TagAttrXsl::TAGVALUE), xsl = value(TagAttrXsl::XSLPATTERN);
  std::string p = "  my.tag  ";
  EXPECT_FALSE(u.CheckXslPattern(p, tag));
  EXPECT_EQ(p, "my.tag");
  const std::vector<std::pair<std::string, bool>> tagCases = {
      {"ORDER", true}, {"DOCTYPE-ID", true}, {"a b", false}, {"a`b", false}, {"42", false}, {"9lives", false},
      {"x/y", false},  {"x\\y", false},      {"a\"b", false}, {"a~", false}};
  for (const auto& [text, ok] : tagCases) {
    std::string t = text;
    EXPECT_EQ(u.CheckXslPattern(t, tag), ok) << text;
  }
  const std::vector<std::pair<std::string, bool>> xslCases = {
      {"//ORDER/NUMBER", true}, {"/a\\b", false}, {"//", false}, {"\\\\", false}, {"/", false},
      {"//A[@x = 1]", false},   {"1/A", false},   {"12", false}, {"//@id", true}};
  for (const auto& [text, ok] : xslCases) {
    std::string t = text;
    EXPECT_EQ(u.CheckXslPattern(t, xsl), ok) << text;
  }
  std::string anything = " 12 a/b\\c ";
  EXPECT_TRUE(u.CheckXslPattern(anything, value(TagAttrXsl::FIXEDTEXT)));
  EXPECT_TRUE(u.CheckXslPattern(anything, -3));
}

TEST_F(UtilityTest, PatternEvaluationNeverRaises) {
  auto doc = std::make_shared<DomDocument>();
  ASSERT_TRUE(doc->loadXML("<ORDER><NUMBER>  PO-7  </NUMBER><LINE n='1'/><LINE n='2'/></ORDER>"));
  EXPECT_EQ(u.ExecuteXSLPattern(doc, "//NUMBER"), "PO-7");
  EXPECT_EQ(u.ExecuteXSLPattern(doc, "//NOTHERE"), "");
  EXPECT_EQ(u.ExecuteXSLPattern(doc, "//[unbalanced"), "");
  EXPECT_EQ(u.ExecuteXSLPattern(doc, ""), "");
  EXPECT_EQ(u.ExecuteXSLPatternReturnAllNodes(doc, "//LINE")->length(), 2);
  EXPECT_EQ(u.ExecuteXSLPatternReturnAllNodes(doc, "//[bad"), nullptr);
}

// A pretty-printed document reads like a compact one: routing tags, rule
// values and field values carry no line breaks or indentation.
TEST_F(UtilityTest, PatternValuesOfPrettyPrintedDocumentsCarryNoLayout) {
  auto doc = std::make_shared<DomDocument>();
  ASSERT_TRUE(doc->loadXML("<ORDER>\n  <QTY>\n    42\n  </QTY>\n  <RECEIVER>\n    <USER>bob</USER>\n  </RECEIVER>\n"
                           "  <B2BSHOW>\r\n\t0\r\n  </B2BSHOW>\n</ORDER>\n"));
  EXPECT_EQ(u.ExecuteXSLPattern(doc, "//QTY"), "42");
  EXPECT_EQ(u.ExecuteXSLPattern(doc, "//RECEIVER"), "bob");
  EXPECT_EQ(u.ExecuteXSLPattern(doc, "//B2BSHOW"), "0");
}

TEST_F(UtilityTest, LiveRecipientsSkipDeletedCopies) {
  EXPECT_EQ(users(u.GetRecipientsFromPublicationTable(10, "ORDER")), (std::vector<std::string>{"bob", "carol", "dave"}));
  auto mail = u.GetRecipientsFromPublicationTable(10, "ORDER", true);
  EXPECT_EQ(mail->FieldCount(), 5);
  EXPECT_EQ(mail->Fields("HTMLATTACHMENTXSL").Value().text(), "order.xsl");
  EXPECT_EQ(users(mail), (std::vector<std::string>{"bob", "carol"}));
  EXPECT_TRUE(u.GetRecipientsFromPublicationTable(99, "ORDER")->EOF_());

  auto only = std::make_shared<Dictionary>();
  only->Add("1", Variant("carol"));
  only->Add("2", Variant("dave"));
  auto byUsers = u.GetRecipientsFromPublicationTableByUsers(10, "ORDER", false, only);
  EXPECT_EQ(byUsers->FieldCount(), 3);
  EXPECT_EQ(users(byUsers), (std::vector<std::string>{"carol", "dave"}));
  EXPECT_TRUE(u.GetRecipientsFromPublicationTableByUsers(10, "ORDER", true, std::make_shared<Dictionary>())->EOF_());
}

TEST_F(UtilityTest, ToRecipientListBreaksAfterTheFirstAddress) {
  EXPECT_EQ(u.GetToRecipientList(10, "ORDER"), "bob@borealis.example;\r\ncarol@borealis.example");
  exec("UPDATE DISTRIBUTIONLIST SET EMAIL = 0 WHERE USERID = 'carol'");
  EXPECT_EQ(u.GetToRecipientList(10, "ORDER"), "bob@borealis.example");
  exec("UPDATE DISTRIBUTIONLIST SET EMAIL = 1");
  exec("UPDATE PUBLICATION SET STATUS = 0");
  std::string three = u.GetToRecipientList(10, "ORDER");
  EXPECT_EQ(text::Split(three, "\r\n").size(), 2u) << three;
  EXPECT_EQ(three.back(), 'e');
  EXPECT_EQ(std::count(three.begin(), three.end(), ';'), 3);
  EXPECT_EQ(u.GetToRecipientList(11, "ORDER"), "");
}

TEST_F(UtilityTest, DocumentTypeLookUpsAndOpenErrors) {
  EXPECT_TRUE(u.DocTypeFoundInTable("ORDER"));
  EXPECT_FALSE(u.DocTypeFoundInTable("O'NEIL"));
  EXPECT_EQ(u.GetDocumentTypeDescription("ORDER"), "Purchase order");
  EXPECT_EQ(u.getXSL("ORDER"), "order.xsl");
  EXPECT_EQ(u.GetHtmlAttachmentXsl("NONE"), "");
  EXPECT_FALSE(u.CheckPublicationErrors(10));
  exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, ERRORNUMBER, CLOSED) VALUES (10, 1, 1)");
  EXPECT_FALSE(u.CheckPublicationErrors(10));
  exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, ERRORNUMBER, CLOSED) VALUES (10, 1, 0)");
  EXPECT_TRUE(u.CheckPublicationErrors(10));
}

TEST_F(UtilityTest, DirectoryAndPartnerLookUps) {
  EXPECT_EQ(u.getIISVirtID(), "1");
  EXPECT_EQ(u.GetAUBusinessPartnerID("carol"), 200);
  EXPECT_EQ(u.GetAUEmailAddress("dave"), "dave@cobalt.example");
  EXPECT_EQ(u.GetBusinessPartnerName(300), "Cobalt Logistics");
  EXPECT_RAISES(hr::kNoSuchEntry, u.GetAUEmailAddress("nobody"));

  std::string virt;
  auto rs = u.GetAuoRSByCriteria(Variant("cn=bob"), virt);
  EXPECT_EQ(virt, "1");
  ASSERT_FALSE(rs->EOF_());
  EXPECT_EQ(rs->Fields("BusinessPartnerID").Value().toInt32(), 200);
  EXPECT_EQ(rs->Fields("cn").Value().text(), "bob");

  EXPECT_TRUE(u.CheckUserAuthorization("bob", "bob-secret", "").toBool());
  EXPECT_FALSE(u.CheckUserAuthorization("bob", "wrong", "").toBool());
  EXPECT_FALSE(u.CheckUserAuthorization("carol", "", "").toBool());

  EXPECT_EQ(u.GetApplicationID("Collaboration"), 2);
  EXPECT_TRUE(u.UserAccessToApplicationAllowed("carol", "Collaboration"));
  EXPECT_FALSE(u.UserAccessToApplicationAllowed("bob", "Collaboration"));
}

TEST_F(UtilityTest, NetworkPathsAreAskedOfTheFileStore) {
  std::filesystem::create_directories(dir() + "/shares/fileserver/share/in");
  writeFile("shares/fileserver/share/in/a.xml", "<a/>");
  EXPECT_TRUE(u.DirExist("\\\\fileserver\\share\\in"));
  EXPECT_FALSE(u.DirExist("\\\\fileserver\\share\\out"));
  EXPECT_TRUE(u.FileExistAlsoRemote("\\\\fileserver\\share\\in", "a.xml"));
  EXPECT_FALSE(u.FileExistAlsoRemote("\\\\fileserver\\share\\in\\", "b.xml"));
  // The local tests never reach the store.
  EXPECT_FALSE(u.DirExistOnThisServer("\\\\fileserver\\share\\in"));
  EXPECT_TRUE(u.FileExist(dir() + "\\shares\\fileserver\\share\\in\\a.xml"));
  EXPECT_TRUE(u.FileExistAlsoRemote(dir() + "/shares/fileserver/share/in", "a.xml"));
}

TEST_F(UtilityTest, LongTextsGoInPiecesAndEmptyTextsStayEmpty) {
  auto conn = std::make_shared<Connection>();
  conn->Open("Provider=SQLite;Data Source=" + dbPath());
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  rs->Open("SELECT XMLBODY FROM DOCUMENT WHERE DOCUMENTID = 10", conn, ado::adOpenKeyset, ado::adLockOptimistic);
  std::string body(2500000, 'x');
  body.replace(999999, 2, "\xC3\xA9");  // a two-byte character across the first piece boundary
  u.SetLongDBTextField(body, "XMLBODY", rs);
  rs->Update();
  EXPECT_EQ(scalar("SELECT LENGTH(XMLBODY) FROM DOCUMENT WHERE DOCUMENTID = 10"), "2499999");
  EXPECT_EQ(scalar("SELECT SUBSTR(XMLBODY, 1000000, 1) FROM DOCUMENT WHERE DOCUMENTID = 10"), "\xC3\xA9");
  u.SetLongDBTextField("", "XMLBODY", rs);
  rs->Update();
  EXPECT_EQ(scalar("SELECT XMLBODY FROM DOCUMENT WHERE DOCUMENTID = 10"), "");
}

TEST_F(UtilityTest, NullSafeValuesAndArrayTexts) {
  EXPECT_EQ(u.CheckLong(Variant::null()), 0);
  EXPECT_EQ(u.CheckLong(Variant("123")), 123);
  EXPECT_RAISES(hr::kOverflow, u.CheckLong(Variant(40000)));
  EXPECT_EQ(u.CheckString(Variant::null()), "");
  EXPECT_EQ(u.CheckString(Variant(7)), "7");
  Variant items(VariantArray::ofStrings({"a", "b", "c"}));
  EXPECT_EQ(u.MakeStringFromArray(items), "a, b, c");
  EXPECT_EQ(u.ConvertArrayToList(items), "a, b, c");
  EXPECT_EQ(u.ConvertArrayToList(Variant("not an array")), "");
  EXPECT_EQ(u.ConvertArrayToList(Variant(VariantArray())), "");
}

TEST_F(UtilityTest, StoreErrKeepsThePendingError) {
  try {
    throw Error(FileError, "Quillon.Test", "disk full");
  } catch (...) {
    u.StoreErr();
  }
  EXPECT_EQ(u.SavedError().number, FileError);
  EXPECT_EQ(u.SavedError().description, "disk full");
}

TEST_F(UtilityTest, PushDocUtilsTextHelpers) {
  PushDocUtils p;
  EXPECT_EQ(p.URLEncode("a b=c&d/é"), "a%20b%3Dc%26d%2F%C3%A9");
  auto rs = u.GetRecipientsFromPublicationTable(10, "ORDER", true);
  EXPECT_EQ(p.GetField(rs, "HTMLATTACHMENTXSL"), "order.xsl");
  exec("UPDATE DOCUMENTTYPE SET HTMLATTACHMENTXSL = NULL");
  EXPECT_EQ(p.GetField(u.GetRecipientsFromPublicationTable(10, "ORDER", true), "HTMLATTACHMENTXSL"), "");
}

}  // namespace
}  // namespace quillon
