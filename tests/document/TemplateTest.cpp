// Templates, receive methods and user-defined fields against a real site.
#include "document/Template.h"

#include <gtest/gtest.h>

#include "document/ReceiveMethod.h"
#include "document/UserDefinedFields.h"
#include "foundation/DBUtils.h"
#include "foundation/General.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/XmlDom.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---- Template ----------------------------------------------------------------------------

class TemplateTest : public test::TestSite {
 protected:
  Template t;
};

TEST_F(TemplateTest, InsertReadUpdateDeleteRoundTrip) {
  std::int32_t id = t.InsertTemplate("PO'S", "http://portal/po.xml", "<PO/>", "po.xsl");
  ASSERT_GT(id, 0);

  Variant url;
  EXPECT_EQ(t.GetXmlTemplateDocument("PO'S", url), "<PO/>");
  EXPECT_EQ(url.text(), "http://portal/po.xml");
  EXPECT_EQ(t.getXslUrl("PO'S"), "po.xsl");
  EXPECT_TRUE(t.checkTemplateByDocumentTypeID("PO'S"));
  EXPECT_FALSE(t.checkTemplateByDocumentTypeID("INVOICE"));

  // A template longer than one write chunk replaces the old text entirely.
  std::string big = "<PO>" + std::string(2'100'000, 'x') + "</PO>";
  t.UpdateTemplate(id, "PO'S", "http://portal/po2.xml", big, "po2.xsl");
  Variant tid, xsl, xmlUrl, xml;
  EXPECT_TRUE(t.getTemplateProperties("PO'S", tid, xsl, xmlUrl, xml).isEmpty());
  EXPECT_EQ(tid.toInt32(), id);
  EXPECT_EQ(xsl.text(), "po2.xsl");
  EXPECT_EQ(xmlUrl.text(), "http://portal/po2.xml");
  EXPECT_EQ(xml.text(), big);

  t.DeleteTemplate(id);
  EXPECT_FALSE(t.checkTemplateByDocumentTypeID("PO'S"));
  url = Variant("stale");
  EXPECT_EQ(t.GetXmlTemplateDocument("PO'S", url), "");
  EXPECT_EQ(url.text(), "");
  EXPECT_EQ(t.getXslUrl("PO'S"), "");
  t.getTemplateProperties("PO'S", tid, xsl, xmlUrl, xml);
  EXPECT_EQ(tid.toInt32(), 0);
  EXPECT_EQ(xml.text(), "");
}

TEST_F(TemplateTest, NullColumnsGiveEmptyTexts) {
  exec("INSERT INTO XMLTEMPLATE (DOCUMENTTYPEID) VALUES ('ORDER')");
  Variant url = Variant("stale");
  EXPECT_EQ(t.GetXmlTemplateDocument("ORDER", url), "");
  EXPECT_EQ(url.text(), "");
  EXPECT_EQ(t.getXslUrl("ORDER"), "");
  Variant tid, xsl, xmlUrl, xml;
  t.getTemplateProperties("ORDER", tid, xsl, xmlUrl, xml);
  EXPECT_GT(tid.toInt32(), 0);
  EXPECT_EQ(xsl.text() + xmlUrl.text() + xml.text(), "");
}

TEST_F(TemplateTest, UpdatingAnUnknownIdFailsAndWritesNothing) {
  Error e = EXPECT_RAISES(hr::kDbNoRow, t.UpdateTemplate(99, "ORDER", "u", "<ORDER/>", "x.xsl"));
  EXPECT_TRUE(contains(e.description(), "METHOD: Quillon.Template.UpdateTemplate caught: ")) << e.description();
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM XMLTEMPLATE"), "0");
}

TEST_F(TemplateTest, FailedReadsNameTheDocumentType) {
  exec("DROP TABLE XMLTEMPLATE");
  const std::string info = " Additional information: The XML template of the document type 'ORDER' could not be read.";
  Error e = EXPECT_RAISES(hr::kDatabase, t.getXslUrl("ORDER"));
  EXPECT_TRUE(contains(e.description(), "METHOD: Quillon.Template.getXslUrl caught: ")) << e.description();
  EXPECT_TRUE(contains(e.description(), info)) << e.description();
  Variant a, b, c, d;
  e = EXPECT_RAISES(hr::kDatabase, t.getTemplateProperties("ORDER", a, b, c, d));
  EXPECT_TRUE(contains(e.description(), "METHOD: Quillon.Template.getTemplateProperties caught: "));
  EXPECT_TRUE(contains(e.description(), info)) << e.description();
}

// ---- ReceiveMethod -----------------------------------------------------------------------

class ReceiveMethodTest : public test::TestSite {
 protected:
  ReceiveMethod rm;
};

TEST_F(ReceiveMethodTest, LookupsMatchPartnerAndTypeAndMissRowsQuietly) {
  std::int32_t id = rm.InsertReceiveMethod(200, "ORDER", "order-200.xsl");
  rm.InsertReceiveMethod(300, "ORDER", "order-300.xsl");
  rm.InsertReceiveMethod(200, "INVOICE", "invoice-200.xsl");
  ASSERT_GT(id, 0);
  EXPECT_EQ(rm.GetXslFileName(200, "ORDER"), "order-200.xsl");
  EXPECT_EQ(rm.GetXslFileName(300, "ORDER"), "order-300.xsl");
  EXPECT_EQ(rm.GetReceiveMethodID(200, "ORDER"), id);
  EXPECT_EQ(rm.GetXslFileName(400, "ORDER"), "");
  EXPECT_EQ(rm.GetReceiveMethodID(200, "DESPATCH"), 0);

  rm.UpdateReceiveMethod(id, "order-200-v2.xsl");
  EXPECT_EQ(rm.GetXslFileName(200, "ORDER"), "order-200-v2.xsl");
  EXPECT_EQ(rm.GetXslFileName(300, "ORDER"), "order-300.xsl");
  EXPECT_RAISES(hr::kDbNoRow, rm.UpdateReceiveMethod(999, "x.xsl"));

  rm.DeleteReceiveMethod(id);
  EXPECT_EQ(rm.GetXslFileName(200, "ORDER"), "");
  EXPECT_EQ(rm.GetReceiveMethodID(200, "ORDER"), 0);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM RECEIVEMETHOD"), "2");
}

TEST_F(ReceiveMethodTest, IdLookupFailureKeepsItsHistoricSource) {
  exec("DROP TABLE RECEIVEMETHOD");
  Error e = EXPECT_RAISES(hr::kDatabase, rm.GetReceiveMethodID(200, "ORDER"));
  EXPECT_TRUE(contains(e.description(), "METHOD: Quillon.ReceiveMethod.GetReceivemethodID caught: "))
      << e.description();
}

// ---- UserDefinedFields -------------------------------------------------------------------

const char* kOrder10 =
    "<ORDER currency=\"EUR\"><NUMBER> 4711 </NUMBER><LINE><ITEM>Nut</ITEM></LINE><LINE><ITEM>Bolt</ITEM></LINE></ORDER>";

class UserDefinedFieldsTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    // Kinds: 1 tag value, 2 attribute value, 3 XSL pattern.
    exec("INSERT INTO TAGSCONFIG (TAGID, DOCUMENTTYPEID, TAGATTRXSL, XSLPATTERN) VALUES (1, 'ORDER', 1, 'NUMBER'),"
         " (2, 'ORDER', 2, 'currency'), (3, 'ORDER', 3, '/ORDER/LINE[2]/ITEM'), (4, 'ORDER', 1, 'ABSENT'),"
         " (5, 'INVOICE', 1, 'NUMBER')");
    exec(std::string("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, XMLBODY) VALUES (10, 'ORDER', '") + kOrder10 +
         "'), (11, 'ORDER', '<ORDER><NUMBER>4712</NUMBER></ORDER>'), (12, 'ORDER', '<ORDER><NUMBER>1</ORDER>'),"
         " (13, 'ORDER', NULL), (20, 'INVOICE', '<INVOICE><NUMBER>9</NUMBER></INVOICE>')");
  }
  // "tag=value" pairs of a document, in tag order.
  std::string values(int docID) {
    return scalar("SELECT COALESCE(GROUP_CONCAT(TAGID || '=' || TAGVALUE, ','), '') FROM (SELECT TAGID, TAGVALUE FROM "
                  "TAGSVALUE WHERE DOCUMENTID = " + std::to_string(docID) + " ORDER BY TAGID, TAGVALUE)");
  }
  static std::shared_ptr<DomDocument> dom(const std::string& xml) {
    auto d = std::make_shared<DomDocument>();
    EXPECT_TRUE(d->loadXML(xml));
    return d;
  }
  UserDefinedFields udf;
};

TEST_F(UserDefinedFieldsTest, FillingReplacesTheDocumentsRowsAndStoresUnmatchedTagsEmpty) {
  exec("INSERT INTO TAGSVALUE VALUES (10, 1, 'old'), (10, 99, 'stale'), (11, 1, 'other document')");
  EXPECT_TRUE(udf.FillTagsValueTable(10, "ORDER", dom(kOrder10)));
  EXPECT_EQ(values(10), "1=4711,2=EUR,3=Bolt,4=");
  EXPECT_EQ(values(11), "1=other document");

  // On the caller's connection, which stays open.
  auto conn = DBUtils::GetConnection();
  EXPECT_TRUE(udf.FillTagsValueTable(10, "ORDER", dom("<ORDER><NUMBER>5</NUMBER></ORDER>"), conn));
  EXPECT_EQ(conn->State(), ado::adStateOpen);
  General::CloseConnection(conn);
  EXPECT_EQ(values(10), "1=5,2=,3=,4=");

  // An empty document changes nothing; a missing one is an error.
  EXPECT_FALSE(udf.FillTagsValueTable(10, "ORDER", std::make_shared<DomDocument>()));
  EXPECT_EQ(values(10), "1=5,2=,3=,4=");
  EXPECT_RAISES(hr::kObjectRequired, udf.FillTagsValueTable(10, "ORDER", nullptr));
}

TEST_F(UserDefinedFieldsTest, RefillingFromTheStoredBodyAndDeletingADocumentsTags) {
  exec("INSERT INTO TAGSVALUE VALUES (10, 1, 'old'), (10, 99, 'stale'), (11, 1, 'kept')");
  udf.UpdateValuesInTagsValueTable(10, "ORDER");
  EXPECT_EQ(values(10), "1=4711,2=EUR,3=Bolt,4=");
  udf.DeleteTagsForDocument(10);
  EXPECT_EQ(values(10), "");
  EXPECT_EQ(values(11), "1=kept");
}

TEST_F(UserDefinedFieldsTest, AddingATagSkipsAndLogsAMalformedDocument) {
  udf.AddTagsValueTable("ORDER", 1);
  EXPECT_EQ(values(10), "1=4711");
  EXPECT_EQ(values(11), "1=4712");
  EXPECT_EQ(values(12), "");
  EXPECT_EQ(values(13), "");
  EXPECT_EQ(values(20), "");
  int malformed = 0, others = 0;
  for (const LogEntry& e : logEntries()) {
    if (contains(e.message, "Quillon.Utility.AddTagsValueTable caught: ") &&
        contains(e.message, "Unable to update user-defined fields for xml document with id '12 and type 'ORDER'"))
      ++malformed;
    else if (contains(e.message, "AddTagsValueTable"))
      ++others;
  }
  EXPECT_EQ(malformed, 1);
  EXPECT_EQ(others, 0);  // the document without a body is skipped quietly

  // A tag that is not configured for the type adds nothing.
  udf.AddTagsValueTable("ORDER", 5);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM TAGSVALUE WHERE TAGID = 5"), "0");
}

TEST_F(UserDefinedFieldsTest, UpdatingATagReplacesOnlyThatTagsValues) {
  exec("INSERT INTO TAGSVALUE VALUES (10, 1, 'stale'), (11, 1, 'stale'), (10, 2, 'EUR')");
  exec("UPDATE TAGSCONFIG SET TAGATTRXSL = 3, XSLPATTERN = '/ORDER/LINE[1]/ITEM' WHERE TAGID = 1");
  EXPECT_TRUE(udf.UpdateTagsValueTable("ORDER", 1).isEmpty());
  EXPECT_EQ(values(10), "1=Nut,2=EUR");
  EXPECT_EQ(values(11), "1=");
}

TEST_F(UserDefinedFieldsTest, FailuresCarryTheirInformation) {
  exec("ALTER TABLE DOCUMENT RENAME TO DOCUMENT_GONE");
  Error e = EXPECT_RAISES(hr::kDatabase, udf.AddTagsValueTable("ORDER", 1));
  EXPECT_TRUE(contains(e.description(), "METHOD: Quillon.UserDefinedFields.AddTagsValueTable caught: "));
  EXPECT_TRUE(contains(e.description(),
                       " Additional information: Document Type ID: 'ORDER', Tag ID: '1', XSL pattern: '//NUMBER'"))
      << e.description();
  e = EXPECT_RAISES(hr::kDatabase, udf.UpdateTagsValueTable("ORDER", 1));
  EXPECT_TRUE(contains(e.description(), " Additional information: Doc. Type ID: 'ORDER' Tag ID: '1'"))
      << e.description();
}

// ---- by-name calls -----------------------------------------------------------------------

TEST_F(UserDefinedFieldsTest, ByNameCallsWriteBackOutputsAndTakeXmlText) {
  exec("INSERT INTO XMLTEMPLATE (DOCUMENTTYPEID, XMLTEMPLATEURL, XMLTEMPLATE) VALUES ('ORDER', 'u.xml', '<ORDER/>')");
  auto tpl = Registry::instance().create("Quillon.Template");
  std::vector<Variant> args{Variant("ORDER"), Variant::null()};
  EXPECT_EQ(tpl->invoke("GetXmlTemplateDocument", args).text(), "<ORDER/>");
  EXPECT_EQ(args[1].text(), "u.xml");

  auto u = Registry::instance().create("Quillon.UserDefinedFields");
  args = {Variant(11), Variant("ORDER"), Variant("<ORDER><NUMBER>8</NUMBER></ORDER>")};
  EXPECT_TRUE(u->invoke("FillTagsValueTable", args).toBool());
  EXPECT_EQ(values(11), "1=8,2=,3=,4=");
}

}  // namespace
}  // namespace quillon
