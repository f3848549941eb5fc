#include "document/Document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/Error.h"
#include "platform/XmlDom.h"
#include "tests/TestSite.h"
#include "tests/document/BatchXmlOracle.h"

namespace quillon {
namespace {

class DocumentTest : public test::TestSite {
 protected:
  void addDocument(int id, const std::string& type, const std::string& sender, int status) {
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS) VALUES (" + std::to_string(id) + ", " + type +
         ", '" + sender + "', " + std::to_string(status) + ")");
  }
  Document doc;
};

TEST_F(DocumentTest, ReadersGiveTheStoredValuesAndEmptyOnesForAMissingRow) {
  exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, SHOW, DOC_DOCUMENTID, XMLBODY, ORIGINALXMLBODY) "
       "VALUES (5, 'ORDER', 'alice', 5, 1, 3, '<ORDER><N>1</N></ORDER>', '<RAW/>')");
  EXPECT_EQ(doc.GetXmlDocument(5), "<ORDER><N>1</N></ORDER>");
  EXPECT_EQ(doc.GetXmlDomDocument(5)->documentElement()->nodeName(), "ORDER");
  EXPECT_EQ(doc.GetOriginalXmlDocument(5), "<RAW/>");
  EXPECT_EQ(doc.GetDocumentTypeOfDocument(5), "ORDER");
  EXPECT_TRUE(doc.UserIsSenderOfDocument(5, "alice"));
  EXPECT_FALSE(doc.UserIsSenderOfDocument(5, "Alice"));
  EXPECT_EQ(doc.GetParentDocIdOfDocument(5), 3);
  EXPECT_EQ(doc.GetStatusOfDocument(5), DOCUMENTSTATUS::DOCUMENTSENT);
  EXPECT_TRUE(doc.GetShowFlag(5));

  EXPECT_EQ(doc.GetXmlDocument(99), "");
  EXPECT_EQ(doc.GetXmlDomDocument(99)->documentElement(), nullptr);
  EXPECT_EQ(doc.GetOriginalXmlDocument(99), "");
  EXPECT_EQ(doc.GetDocumentTypeOfDocument(99), "");
  EXPECT_EQ(doc.GetSenderOfDocument(99), "");
  EXPECT_EQ(doc.GetParentDocIdOfDocument(99), 0);
  EXPECT_EQ(doc.GetStatusOfDocument(99), DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS);
  EXPECT_FALSE(doc.GetShowFlag(99));
  EXPECT_TRUE(doc.getChildDocuments(99).isEmpty());
  EXPECT_TRUE(doc.getDocumentProperty(99, "SENDER").isEmpty());

  // Stored values outside 0..5, and Null, are unknown statuses.
  exec("INSERT INTO DOCUMENT (DOCUMENTID, STATUS, SHOW) VALUES (6, 7, 0), (7, NULL, NULL)");
  EXPECT_EQ(doc.GetStatusOfDocument(6), DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS);
  EXPECT_EQ(doc.GetStatusOfDocument(7), DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS);
  EXPECT_FALSE(doc.GetShowFlag(6));
}

TEST_F(DocumentTest, MalformedBodyRaisesTheParserCodeWithLineAsHelpContext) {
  exec("INSERT INTO DOCUMENT (DOCUMENTID, XMLBODY) VALUES (1, '<A>\n<B></A>')");
  Error e = EXPECT_RAISES(test::kAnyError, doc.GetXmlDomDocument(1));
  EXPECT_NE(e.number(), 0);
  EXPECT_EQ(e.source(), "Quillon.Document.GetXMLDomDocument");
  EXPECT_NE(e.description().find("caught: DOM Error: "), std::string::npos) << e.description();
  EXPECT_EQ(e.helpContext(), 2);
}

TEST_F(DocumentTest, ChildDocumentsAndPropertiesComeAsFieldByRowArrays) {
  addDocument(1, "'P'", "a", 0);
  exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, DOC_DOCUMENTID) VALUES (2, 'A', 1), (3, 'B', 1)");
  Variant children = doc.getChildDocuments(1);
  const VariantArray& c = children.array();
  ASSERT_EQ(c.dimensions(), 2);
  ASSERT_EQ(c.ubound(1), 1);
  ASSERT_EQ(c.ubound(2), 1);
  EXPECT_EQ(c.at(0, 0).toInt32() + c.at(0, 1).toInt32(), 5);
  EXPECT_EQ(c.at(1, c.at(0, 0).toInt32() == 2 ? 0 : 1).text(), "A");

  Variant row = doc.getDocumentProperty(1, " DOCUMENT.SENDER ,STATUS,DOCUMENTTYPEID ");
  EXPECT_EQ(row.array().ubound(1), 2);
  EXPECT_EQ(row.array().at(0, 0).text(), "a");
  EXPECT_EQ(row.array().at(2, 0).text(), "P");

  for (const char* bad : {"SENDER; DELETE FROM DOCUMENT", "*", "", "SENDER,", "1", "(SELECT 1)", "SENDER FROM DOCUMENT --",
                          "A.B.C", "SENDER AS X"}) {
    Error e = EXPECT_RAISES(InvalidParamValue, doc.getDocumentProperty(1, bad));
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "3");
}

TEST_F(DocumentTest, BodyUpdatesStampTheirDateAndKeepLongBodiesWhole) {
  addDocument(1, "'ORDER'", "a", 0);
  // 2.5 million characters, some of them two bytes long, across several write pieces.
  std::string body = "<X>";
  while (body.size() < 2'500'000 - 4) body += "abcd\xC3\xA9";
  body += "</X>";
  doc.UpdateDocumentWithXmlBody(1, body);
  EXPECT_EQ(doc.GetXmlDocument(1), body);
  EXPECT_NE(scalar("SELECT CREATIONDATE FROM DOCUMENT WHERE DOCUMENTID = 1"), "NULL");
  EXPECT_EQ(scalar("SELECT ENTRANCEDATE FROM DOCUMENT WHERE DOCUMENTID = 1"), "NULL");

  doc.UpdateDocumentWithOriginalXmlBody(1, "<O/>");
  EXPECT_EQ(doc.GetOriginalXmlDocument(1), "<O/>");
  EXPECT_EQ(scalar("SELECT LENGTH(ENTRANCEDATE) FROM DOCUMENT WHERE DOCUMENTID = 1"), "19");

}

TEST_F(DocumentTest, BodyUpdatesOfAMissingDocumentAreRefused) {
  addDocument(1, "'ORDER'", "a", 0);
  for (auto update : {&Document::UpdateDocumentWithXmlBody, &Document::UpdateDocumentWithOriginalXmlBody}) {
    Error e = EXPECT_RAISES(DocumentIDNotInDatabase, (doc.*update)(42, "<Y/>"));
    EXPECT_EQ(e.source(), update == &Document::UpdateDocumentWithXmlBody ? "Quillon.Document.UpdateDocumentWithXmlBody"
                                                                        : "Quillon.Document.UpdateDocumentWithOriginalXmlBody");
    EXPECT_NE(e.description().find("Document with documentID = 42 doesn't exist."), std::string::npos) << e.description();
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "1");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT WHERE XMLBODY IS NOT NULL OR ORIGINALXMLBODY IS NOT NULL"), "0");
}

TEST_F(DocumentTest, RowWritersChangeOnlyWhatTheyAreFor) {
  addDocument(1, "NULL", "a", 0);
  addDocument(2, "'ORDER'", "a", 0);
  addDocument(3, "''", "a", 0);
  EXPECT_TRUE(doc.UpdateDocTableWithDocType(1, ""));
  EXPECT_EQ(doc.GetDocumentTypeOfDocument(1), "");
  EXPECT_TRUE(doc.UpdateDocTableWithDocType(99, "X"));
  doc.setParentDocument(2, 1);
  EXPECT_EQ(doc.GetParentDocIdOfDocument(2), 1);

  exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID) VALUES (1, 'u'), (2, 'u'), (2, 'v'), (3, 'u')");
  doc.RemoveRecipientsForDocument(2);
  doc.deleteAllUsersFromPublicationList(Variant("3"));
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(DOCUMENTID) FROM PUBLICATION"), "1");

  // Only rows without a type are removed.
  doc.RemoveInvalidDocument(2);
  doc.RemoveInvalidDocument(3);
  EXPECT_TRUE(doc.UpdateDocTableWithDocType(1, "INVOICE"));
  doc.RemoveInvalidDocument(1);
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(DOCUMENTTYPEID) FROM (SELECT * FROM DOCUMENT ORDER BY DOCUMENTID)"),
            "INVOICE,ORDER");
}

TEST_F(DocumentTest, StatusConversionsAcceptOnlyTheListedSpellings) {
  std::string status = " Sent ";
  EXPECT_EQ(doc.ConvertStatusFromStringToEnum(status), DOCUMENTSTATUS::DOCUMENTSENT);
  EXPECT_EQ(status, "Sent");
  for (std::string s : {"SeNt", "Partially accepted", "newx", ""})
    EXPECT_EQ(doc.ConvertStatusFromStringToEnum(s), DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS) << s;
  std::string partial = "PARTIALLY ACCEPT", removed = "removed";
  EXPECT_EQ(doc.ConvertStatusFromStringToEnum(partial), DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED);
  EXPECT_EQ(doc.ConvertStatusFromStringToEnum(removed), DOCUMENTSTATUS::DOCUMENTDELETED);
  EXPECT_EQ(doc.ConvertStatusFromIntToEnum(3), DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED);
  EXPECT_EQ(doc.ConvertStatusFromIntToEnum(6), DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS);
  EXPECT_EQ(doc.ConvertStatusFromIntToEnum(-3), DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS);

  // By name, the caller's variable receives the trimmed text.
  std::vector<Variant> args{Variant("  new ")};
  EXPECT_EQ(doc.invoke("ConvertStatusFromStringToEnum", args).toInt32(), 0);
  EXPECT_EQ(args[0].text(), "new");
}

TEST_F(DocumentTest, WhoMayOpenADocument) {
  addDocument(1, "'ORDER'", "alice", 0);  // new
  addDocument(2, "'ORDER'", "alice", 1);  // published
  addDocument(3, "'ORDER'", "alice", 4);  // deleted
  addDocument(4, "NULL", "alice", 1);     // no type
  exec("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('ORDER', 7, 'bob'), "
       "('ORDER', 7, 'dave')");
  exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS) VALUES (1, 'bob', 0), (2, 'bob', 0), (2, 'dave', 2)");
  EXPECT_TRUE(doc.IsValidChildDoc(1, "alice", 0));
  EXPECT_FALSE(doc.IsValidChildDoc(1, "bob", 0));
  EXPECT_TRUE(doc.IsValidChildDoc(2, "bob", 1));
  EXPECT_FALSE(doc.IsValidChildDoc(2, "carol", 1));
  EXPECT_FALSE(doc.IsValidChildDoc(2, "dave", 1));  // his copy is deleted
  EXPECT_FALSE(doc.IsValidChildDoc(3, "alice", 0));
  EXPECT_FALSE(doc.IsValidChildDoc(4, "alice", 0));

  exec("UPDATE DOCUMENT SET DOC_DOCUMENTID = 9 WHERE DOCUMENTID IN (1, 2)");
  EXPECT_TRUE(doc.IsValidParentDoc(9, "bob", 1));
  EXPECT_FALSE(doc.IsValidParentDoc(9, "carol", 1));
  EXPECT_FALSE(doc.IsValidParentDoc(1, "alice", 0));
}

TEST_F(DocumentTest, BatchTextMustBeASequenceOfCompleteElements) {
  doc.ParseBatchXMLString("<?xml version=\"1.0\"?><A x=\"1\"><B/></A>\n<!-- next --><C>t</C>");
  doc.ParseBatchXMLString("<A><A>inner</A><B>\xC3\xA9</B></A><A>2</A>");  // the first </A> closes the inner one
  doc.ParseBatchXMLFile("");

  std::string label = I18N::GetLabel("SLBSH0039");
  Error e = EXPECT_RAISES(-1, doc.ParseBatchXMLString("<A>1</A><B>2"));
  EXPECT_EQ(e.source(), "Quillon.Document.ParseBatchXMLString");
  EXPECT_EQ(e.description(), "\r\nMETHOD: Quillon.Document.ParseBatchXMLString caught: " + label +
                                 "(FFFFFFFF). Additional information: This is not an proper XML Batch file.");
  EXPECT_EQ(EXPECT_RAISES(-1, doc.ParseBatchXMLFile("<A>")).source(), "Quillon.Document.ParseBatchXMLFile");

  // Closing tags that never make the element parse: every one is tried once, then the scan gives up.
  EXPECT_RAISES(-1, doc.ParseBatchXMLString("<A><B></A>"));
  std::string endless = "<A><B>";
  for (int i = 0; i < 2000; ++i) endless += "</A>";
  auto started = std::chrono::steady_clock::now();
  EXPECT_NE(EXPECT_RAISES(-1, doc.ParseBatchXMLString(endless)).description().find(label), std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST_F(DocumentTest, BatchOutcomesMatchTryingEveryClosingTag) {
  const std::vector<std::string> pieces = {
      "<A>", "</A>", "<B>", "</B>", "<A/>", "x", "<!-- c -->", "<!-- </A> -->", "<?p d?>", "<A x='</A>'>",
      "<A >", "</A >", "<![CDATA[</A>]]>", " ", "<A\n>", "&amp;", "&bad;", "<", "\xC3\xA9", "</B></A>"};
  unsigned seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  int passed = 0, failed = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (unsigned n = next() % 9; n > 0; --n) text += pieces[next() % pieces.size()];
    bool expected = test::completeByEveryClosingTag(text);
    bool ok = true;
    try {
      doc.ParseBatchXMLString(text);
    } catch (const Error& e) {
      ok = false;
      EXPECT_EQ(e.number(), -1) << text;
    }
    EXPECT_EQ(ok, expected) << text;
    (ok ? passed : failed)++;
  }
  EXPECT_GT(passed, 100);  // both outcomes were exercised
  EXPECT_GT(failed, 100);
}

// Each element is read once: a batch of many elements, or one element with
// many inner ones of its own name, is checked in one pass (trying every
// closing tag would parse the text once per tag).
TEST_F(DocumentTest, BatchesAreCheckedInOnePass) {
  std::string wide = "<A>";
  for (int i = 0; i < 100000; ++i) wide += "<A>" + std::to_string(i) + "</A>";
  wide += "</A>";
  doc.ParseBatchXMLString(wide + wide);
  std::string many;
  for (int i = 0; i < 50000; ++i) many += "<B n='" + std::to_string(i) + "'><B/></B>\n";
  doc.ParseBatchXMLString(many);
  EXPECT_RAISES(-1, doc.ParseBatchXMLString(wide + "<A>"));
}

// A well-formed element nested deeper than the parser allows is not "not
// closed": the parser's own error says what is wrong.
TEST_F(DocumentTest, ABatchTooDeepIsReportedAsSuch) {
  std::string deep;
  for (int i = 0; i < 3000; ++i) deep += "<A>";
  for (int i = 0; i < 3000; ++i) deep += "</A>";
  Error e = EXPECT_RAISES(test::kAnyError, doc.ParseBatchXMLString(deep));
  EXPECT_NE(e.number(), -1);
  EXPECT_EQ(static_cast<std::uint32_t>(e.number()) & 0xFFFFF000u, static_cast<std::uint32_t>(kXmlParseErrorBase));
  EXPECT_NE(e.description().find("depth"), std::string::npos) << e.description();
  EXPECT_NE(e.description().find("This is not an proper XML Batch file."), std::string::npos);
}

}  // namespace
}  // namespace quillon
