// The intake of one document on a real sample site: the stored rows, the
// publications, the failures with their texts, the administrator's mail
// through a real SMTP server, the log and the durable point.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "document/Document.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Error.h"
#include "platform/Mail.h"
#include "platform/Variant.h"
#include "tests/CallCounters.h"
#include "tests/LoopbackServers.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

const std::string kOrder =
    "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><REQUISITIONER>Alice</REQUISITIONER>"
    "<RECEIVER>bob</RECEIVER><RECEIVER>mallory</RECEIVER><BUSINESSPARTNER>300</BUSINESSPARTNER>"
    "<NUMBER>PO-7</NUMBER><TOTAL>99.50</TOTAL></ORDER>";

// An order of the sample site with something put in before </ORDER>.
std::string orderWith(const std::string& extra) {
  std::string xml = kOrder;
  xml.insert(xml.rfind("</ORDER>"), extra);
  return xml;
}

// The outputs of one intake, in the order the call takes them.
struct Intake {
  std::int32_t interActive = 0;
  std::string originalType, chosenRecipient;
  std::int32_t docID = 0, senderBP = 0;
  std::string type, sender, defaultRecipient;
  std::int16_t status = 0;
  Variant result;

  void run(const std::string& xml) {
    result = Document().ProcessDocument(interActive, xml, originalType, chosenRecipient, docID, senderBP, type, sender,
                                        defaultRecipient, status);
  }
};

class ProcessDocumentTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
    smtpPort = servers.StartSmtp();
    ASSERT_NE(smtpPort, 0);
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpServer", "127.0.0.1");
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpPort", std::to_string(smtpPort));
  }

  std::string row(const std::string& columns, std::int32_t docID) const {
    return scalar("SELECT " + columns + " FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(docID));
  }
  std::string count(const std::string& table) const { return scalar("SELECT COUNT(*) FROM " + table); }
  std::vector<mail::ReceivedMail> mails() const {
    std::vector<mail::ReceivedMail> parsed;
    for (const auto& m : servers.SmtpMessages()) parsed.push_back(mail::ParseMail(m.bytes));
    return parsed;
  }
  // The label texts with CR LF, as mails and errors carry them.
  static std::string label(const std::string& key) { return I18N::GetLabel(key); }

  test::LoopbackServers servers;
  int smtpPort = 0;
};

// ---- the whole road of a scheduled intake --------------------------------------------------

TEST_F(ProcessDocumentTest, AScheduledIntakeStoresConvertsRecordsAndPublishes) {
  // A receive method turns the partner's order into the standard XML; two
  // user-defined fields read it.
  writeFile("xsl/transform/acme-order.xsl",
            "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
            "<xsl:template match='@*|node()'><xsl:copy><xsl:apply-templates select='@*|node()'/></xsl:copy>"
            "</xsl:template><xsl:template match='ORDER'><ORDER><STANDARD>yes</STANDARD>"
            "<xsl:apply-templates select='@*|node()'/></ORDER></xsl:template></xsl:stylesheet>");
  exec("INSERT INTO RECEIVEMETHOD (BUSINESSPARTNERID, DOCUMENTTYPEID, XSLFILENAME) VALUES (100, 'ORDER', 'acme-order.xsl')");
  exec("INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, DESCRIPTION, SEQUENCENUMBER, TAGATTRXSL, XSLPATTERN) VALUES "
       "('ORDER', 'Number', 1, 1, 'NUMBER'), ('ORDER', 'Converted', 2, 1, 'STANDARD')");

  Intake in;
  in.run(kOrder);
  ASSERT_GT(in.docID, 0);
  EXPECT_EQ(in.result.toInt32(), in.docID);
  EXPECT_EQ(in.senderBP, 100);
  EXPECT_EQ(in.type, "ORDER");
  EXPECT_EQ(in.sender, "alice");
  EXPECT_EQ(in.defaultRecipient, "bob");  // a requisitioner makes the first receiver the default
  EXPECT_EQ(in.status, 1);

  const std::int32_t id = in.docID;
  EXPECT_EQ(row("DOCUMENTTYPEID || '|' || SENDER || '|' || DEFAULTRECEIVER || '|' || STATUS || '|' || SHOW", id),
            "ORDER|alice|bob|1|1");
  EXPECT_EQ(row("ORIGINALXMLBODY", id), kOrder);
  EXPECT_EQ(row("TEMPXMLBODY IS NULL", id), "1");
  const std::string body = row("XMLBODY", id);
  EXPECT_NE(body.find("<STANDARD>yes</STANDARD>"), std::string::npos) << body;
  EXPECT_EQ(body.find("mallory"), std::string::npos) << "the routing tags are emptied once read";
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(TAGVALUE, ',') FROM (SELECT TAGVALUE FROM TAGSVALUE WHERE DOCUMENTID = " +
                   std::to_string(id) + " ORDER BY TAGID) AS T"),
            "PO-7,yes");
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(USERID, ',') FROM (SELECT USERID FROM PUBLICATION ORDER BY USERID) AS P"), "bob,dave");
  EXPECT_EQ(scalar("SELECT LABEL FROM PUBLICATIONERRORS"), "SLBSH0008");  // mallory
  EXPECT_TRUE(mails().empty()) << "a successful intake tells the administrator nothing";
}

TEST_F(ProcessDocumentTest, OneIntakeSyncsTheDiskOnceAndParsesItsTextOnce) {
  if (!test::CountersActive()) GTEST_SKIP() << "call counters not linked";
  Intake warm;
  warm.run(kOrder);
  const test::CallCounts before = test::Counts();
  Intake in;
  in.run(kOrder);
  const test::CallCounts used = test::Counts() - before;
  ASSERT_GT(in.docID, 0);
  // On PostgreSQL the server makes the commit durable; this process syncs nothing.
  EXPECT_EQ(used.syncs, onPostgres() ? 0u : 1u) << "one durable point per intake";
  EXPECT_EQ(used.textParses, 1u) << "without a receive method the received DOM serves every step";
}

// ---- what is looked up and what is refused -------------------------------------------------

TEST_F(ProcessDocumentTest, AnEmptyTextStoresAnEmptyRowAndLooksNothingUp) {
  Intake in;
  in.run("");
  ASSERT_GT(in.docID, 0);
  EXPECT_EQ(in.senderBP, 0);
  EXPECT_EQ(in.type, "");
  EXPECT_EQ(row("IFNULL(DOCUMENTTYPEID, 'none') || '|' || ORIGINALXMLBODY || '|' || XMLBODY", in.docID), "none||");
  EXPECT_EQ(count("PUBLICATION"), "0");
  EXPECT_EQ(count("PUBLICATIONERRORS"), "0");
}

TEST_F(ProcessDocumentTest, MalformedXmlIsDescribedInFourLinesAndLeavesNoRow) {
  const std::string xml = "<ORDER><NUMBER>1</ORDER>";
  Intake scheduled;
  scheduled.docID = 0;
  Error e = EXPECT_RAISES(ProcessDocumentError, scheduled.run(xml));
  EXPECT_EQ(e.source(), "Quillon.Document.ProcessDocument");
  EXPECT_EQ(scheduled.docID, 0);
  EXPECT_EQ(count("DOCUMENT"), "0");
  // The scheduled caller sees the layered description around the four lines.
  EXPECT_NE(e.description().find("METHOD: Quillon.Document.ProcessDocument caught: "), std::string::npos);
  EXPECT_NE(e.description().find(label("SLBSH1839") + "\r\n"), std::string::npos);
  EXPECT_NE(e.description().find("\r\n" + I18N::LabelWith("SLBSH1840", {{"[%ERROR_LINE%]", "1"}}) + "\r\n"),
            std::string::npos)
      << e.description();

  // A portal user sees the bare four lines.
  Intake interactive;
  interactive.interActive = -1;
  Error bare = EXPECT_RAISES(ProcessDocumentError, interactive.run(xml));
  const auto lines = bare.description();
  EXPECT_EQ(lines.rfind(label("SLBSH1839") + "\r\n", 0), 0u) << lines;
  EXPECT_NE(lines.find(I18N::LabelWith("SLBSH1841", {{"[%ERROR_COLUMN%]", ""}})), std::string::npos);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3);

  // One mail per failed call, without a document part: nothing was parsed.
  auto got = mails();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].subject, label("SLBSH0038"));
  EXPECT_EQ(got[0].to, "admin@localhost");
  EXPECT_NE(got[0].body.find(label("SLBSH1839")), std::string::npos);
  EXPECT_EQ(got[0].body.find(label("SLBSH0036")), std::string::npos);
  // Each failure stays in the log beside the mail.
  int logged = 0;
  for (const auto& entry : logEntries())
    if (entry.kind == "ERROR" && entry.source == "Quillon.Document.ProcessDocument") ++logged;
  EXPECT_GE(logged, 2);
}

TEST_F(ProcessDocumentTest, AScheduledIntakeNeedsSenderAndTypeAPortalUserDoesNot) {
  exec("INSERT INTO SENDERLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('ORDER', 0, 'zed')");
  const std::string unknownSender = "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>zed</SENDER></ORDER>";
  Intake scheduled;
  Error e = EXPECT_RAISES(ProcessDocumentError, scheduled.run(unknownSender));
  EXPECT_NE(e.description().find(label("SLBSH1826")), std::string::npos);
  Intake portal;
  portal.interActive = -1;
  portal.run(unknownSender);
  EXPECT_GT(portal.docID, 0);
  EXPECT_EQ(portal.senderBP, 0);
  EXPECT_EQ(row("DOCUMENTTYPEID || '|' || SENDER", portal.docID), "ORDER|zed");

  const std::string unknownType = "<NOTE><DOCTYPE-ID>MEMO</DOCTYPE-ID><SENDER>alice</SENDER></NOTE>";
  Intake scheduled2;
  e = EXPECT_RAISES(ProcessDocumentError, scheduled2.run(unknownType));
  EXPECT_NE(e.description().find(label("SLBSH0006")), std::string::npos);
  Intake portal2;
  portal2.interActive = -1;
  portal2.run(unknownType);
  EXPECT_GT(portal2.docID, 0);
  EXPECT_EQ(portal2.type, "");
  EXPECT_EQ(row("IFNULL(DOCUMENTTYPEID, 'none')", portal2.docID), "none");
}

TEST_F(ProcessDocumentTest, ASenderOutsideTheSenderListIsRefusedByName) {
  // dave may not send orders; a portal user is shown by the directory's name.
  const std::string xml = "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>dave</SENDER></ORDER>";
  Intake portal;
  portal.interActive = -1;
  Error e = EXPECT_RAISES(ProcessDocumentError, portal.run(xml));
  EXPECT_EQ(e.description(),
            I18N::LabelWith("SLBSH1720", {{"[%USER%]", "Dave Davies"}, {"[%DOCTYPE%]", "Purchase order"}}));
  Intake scheduled;
  e = EXPECT_RAISES(ProcessDocumentError, scheduled.run(xml));
  EXPECT_NE(e.description().find(I18N::LabelWith("SLBSH1720", {{"[%USER%]", "dave"}, {"[%DOCTYPE%]", "Purchase order"}})),
            std::string::npos);
  EXPECT_EQ(count("DOCUMENT"), "0");
}

TEST_F(ProcessDocumentTest, AnObiEnvelopeIsRefusedBeforeAnythingIsStored) {
  const std::string obi =
      "<OBI_ORDER version='3.0'><SENDER>alice</SENDER><NUMBER>1</NUMBER></OBI_ORDER>";
  Intake in;
  Error e = EXPECT_RAISES(ProcessDocumentError, in.run(obi));
  EXPECT_NE(e.description().find(label("SLBSH4304")), std::string::npos);
  EXPECT_EQ(count("DOCUMENT"), "0");
  ASSERT_EQ(mails().size(), 1u);
  EXPECT_NE(mails()[0].body.find(label("SLBSH0036") + ":"), std::string::npos) << "the parsed document goes along";
}

// ---- failures once the document has its type -----------------------------------------------

TEST_F(ProcessDocumentTest, AFailureAfterTheTypeIsStoredKeepsTheRowWithOneError) {
  // Once the document has its type, its body can no longer be rewritten:
  // the recipient step fails when it stores the body without the routing tags.
  exec("CREATE TRIGGER refuse BEFORE UPDATE OF XMLBODY ON DOCUMENT WHEN OLD.DOCUMENTTYPEID IS NOT NULL "
       "BEGIN SELECT RAISE(ABORT, 'read only'); END");
  Intake in;
  Error e = EXPECT_RAISES(ProcessDocumentError, in.run(kOrder));
  EXPECT_NE(e.description().find(label("SLBSH1829")), std::string::npos);
  EXPECT_EQ(in.docID, 0) << "the caller gets no id, whether or not a row remains";
  EXPECT_EQ(count("DOCUMENT"), "1");
  const std::string kept = scalar("SELECT DOCUMENTID FROM DOCUMENT");
  EXPECT_EQ(scalar("SELECT COUNT(*) || '|' || LABEL || '|' || DESCRIPTION FROM PUBLICATIONERRORS WHERE LABEL = 'SLBSH1812'"),
            "1|SLBSH1812|" + label("SLBSH1829"));
  auto got = mails();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].subject, I18N::LabelWith("SLBSH0037", {{"[%DOCID%]", kept}}));
  EXPECT_NE(got[0].body.find(label("SLBSH0036") + ":\n" + kOrder), std::string::npos) << got[0].body;
}

TEST_F(ProcessDocumentTest, AFailureBeforeTheTypeIsStoredRemovesTheRow) {
  // The properties cannot be written: the row has no type yet and goes.
  exec("CREATE TRIGGER refuse BEFORE UPDATE OF SENDER ON DOCUMENT BEGIN SELECT RAISE(ABORT, 'read only'); END");
  Intake in;
  Error e = EXPECT_RAISES(ProcessDocumentError, in.run(kOrder));
  EXPECT_NE(e.description().find(label("SLBSH1825")), std::string::npos);
  EXPECT_EQ(count("DOCUMENT"), "0");
  EXPECT_EQ(count("PUBLICATIONERRORS"), "0");
  EXPECT_EQ(mails().size(), 1u);
}

TEST_F(ProcessDocumentTest, WithoutAMailServerTheFailureIsStillLogged) {
  servers.Stop(smtpPort);
  Intake in;
  EXPECT_RAISES(ProcessDocumentError, in.run("<ORDER>"));
  bool failure = false, mailFailure = false;
  for (const auto& entry : logEntries()) {
    if (entry.source == "Quillon.Document.ProcessDocument" && entry.kind == "ERROR") failure = true;
    if (entry.message.find("could not be told by mail") != std::string::npos) mailFailure = true;
  }
  EXPECT_TRUE(failure);
  EXPECT_TRUE(mailFailure);
}

TEST_F(ProcessDocumentTest, NotificationsAfterDeliveryNeverUndoTheIntake) {
  // The sample site has no notification template, and alice asks to be
  // told of her orders: her mail cannot be written, bob's and dave's
  // neither. The document stands, and the error box says why nobody was told.
  Intake in;
  in.run(kOrder);
  ASSERT_GT(in.docID, 0);
  EXPECT_EQ(row("STATUS", in.docID), "1");
  const std::string id = std::to_string(in.docID);
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(LABEL, ',') FROM (SELECT LABEL FROM PUBLICATIONERRORS WHERE DOCUMENTID = " +
                   id + " ORDER BY PUBLICATIONERRORID) AS E"),
            "SLBSH0008,SLBSH6082,SLBSH6082,SLBSH1810");
  const std::string sender = scalar("SELECT ERRORNUMBER || '|' || DESCRIPTION FROM PUBLICATIONERRORS WHERE LABEL = "
                                    "'SLBSH1810'");
  EXPECT_EQ(sender.substr(0, sender.find('|')), std::to_string(DefaultTemplateNotFound));
  EXPECT_NE(sender.find(label("SLBSH1810") + "\r\n"), std::string::npos) << sender;
  bool logged = false;
  for (const auto& entry : logEntries())
    if (entry.kind == "ERROR" && entry.message.find("Document " + id + ": " + label("SLBSH1810")) != std::string::npos)
      logged = true;
  EXPECT_TRUE(logged);
  EXPECT_TRUE(mails().empty()) << "the administrator is told of failed intakes only";

  // With templates the same intake mails the recipients who asked, then the sender.
  exec("INSERT INTO NOTIFICATIONTEMPLATE (DOCUMENTTYPEID, BUSINESSPARTNERID, MODE, SUBJECT, BODY) VALUES "
       "('-1', -1, 2, 'New [%DOCTYPE%] [%DOCID%]', 'See [%INBOXLINK%]'), "
       "('-1', -1, 1, 'Sent [%DOCID%]', 'To: [%TOLIST%]')");
  Intake told;
  told.run(kOrder);
  ASSERT_GT(told.docID, 0);
  std::vector<std::string> to;
  for (const auto& m : mails()) to.push_back(m.to + "|" + m.subject);
  std::sort(to.begin(), to.end());
  const std::string n = std::to_string(told.docID);
  EXPECT_EQ(to, (std::vector<std::string>{"alice@acme.example|Sent " + n, "bob@borealis.example|New Purchase order " + n,
                                          "dave@cobalt.example|New Purchase order " + n}));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE DOCUMENTID = " + n + " AND LABEL <> 'SLBSH0008'"), "0");
}

// ---- portal users ---------------------------------------------------------------------------

TEST_F(ProcessDocumentTest, APortalUserPublishesWithoutStatusPushOrNotification) {
  Intake in;
  in.interActive = -1;
  in.run(kOrder);
  ASSERT_GT(in.docID, 0);
  EXPECT_EQ(in.status, 1);
  EXPECT_EQ(row("STATUS", in.docID), "0") << "the recipient step leaves a portal user's status alone";
  EXPECT_EQ(count("SENDMETHODHISTORY"), "0");
  EXPECT_TRUE(mails().empty());

  // A chosen recipient is the only one.
  Intake chosen;
  chosen.interActive = -1;
  chosen.chosenRecipient = "carol";
  chosen.run(kOrder);
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(USERID) FROM PUBLICATION WHERE DOCUMENTID = " + std::to_string(chosen.docID)),
            "carol");
}

TEST_F(ProcessDocumentTest, TheShowFlagHidesOnlyOnOtherValues) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "1"},      {"<B2BSHOW>true</B2BSHOW>", "1"}, {"<B2BSHOW>  TRUE </B2BSHOW>", "1"},
      {"<B2BSHOW>1</B2BSHOW>", "1"}, {"<B2BSHOW>0</B2BSHOW>", "0"},   {"<B2BSHOW>false</B2BSHOW>", "0"},
      {"<B2BSHOW>yes</B2BSHOW>", "0"}};
  for (const auto& [element, shown] : cases) {
    Intake in;
    in.interActive = -1;
    in.run(orderWith(element));
    EXPECT_EQ(row("SHOW", in.docID), shown) << element;
  }
}

// ---- change of document type ---------------------------------------------------------------

TEST_F(ProcessDocumentTest, ATypeChangeConvertsWithItsStyleSheetOrKeepsTheBody) {
  exec("INSERT INTO SENDERLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('INVOICE', 100, 'alice')");
  // Without a conversion row the body goes over unchanged; nobody is
  // published to, as there is no standard XML of the new type.
  Intake plain;
  plain.interActive = -1;
  plain.originalType = "ORDER";
  plain.type = "INVOICE";
  plain.run(kOrder);
  ASSERT_GT(plain.docID, 0);
  EXPECT_EQ(row("DOCUMENTTYPEID || '|' || XMLBODY || '|' || IFNULL(TEMPXMLBODY, 'null')", plain.docID),
            "INVOICE|" + kOrder + "|null");
  EXPECT_EQ(count("PUBLICATION"), "0");

  writeFile("xsl/transform/order-to-invoice.xsl",
            "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
            "<xsl:template match='/'><INVOICE><FOR><xsl:value-of select='//NUMBER'/></FOR></INVOICE></xsl:template>"
            "</xsl:stylesheet>");
  exec("INSERT INTO DOCTYPETODOCTYPE (DOCUMENTTYPEID, NEWDOCUMENTTYPEID, TRANSFORMXSLNAME) VALUES ('ORDER', 'INVOICE', "
       "'order-to-invoice.xsl')");
  Intake converted;
  converted.interActive = -1;
  converted.originalType = "ORDER";
  converted.type = "INVOICE";
  converted.run(kOrder);
  EXPECT_NE(row("XMLBODY", converted.docID).find("<INVOICE><FOR>PO-7</FOR></INVOICE>"), std::string::npos);
  EXPECT_EQ(row("TEMPXMLBODY IS NULL", converted.docID), "1");
}

// ---- tracing ------------------------------------------------------------------------------

TEST_F(ProcessDocumentTest, TheStepsAreTracedAboveLoggingLevelOne) {
  Intake quiet;
  quiet.run(kOrder);
  for (const auto& entry : logEntries()) EXPECT_EQ(entry.message.find("_start - Document"), std::string::npos);

  setConfigValue("Z2IZezazaConfiguration.xml", "GLOBAL", "B2BLogging", "2");
  General::ResetThreadState();
  Intake traced;
  traced.run(kOrder);
  std::vector<std::string> markers;
  for (const auto& entry : logEntries())
    if (entry.source == "Quillon.Document.ProcessDocument" && entry.kind == "EVENT") markers.push_back(entry.message);
  const std::string id = std::to_string(traced.docID);
  const std::vector<std::string> expected = {"LoadXmlInDom_Start - Document 0",
                                             "createDocumentIDAndStoreXmlBody_start - Document 0",
                                             "createDocumentIDAndStoreXmlBody_end - Document " + id,
                                             "fillPublicationTableWithRecipients_end - Document " + id,
                                             "sendNotificationEmails_end - Document " + id};
  std::size_t at = 0;
  for (const std::string& marker : expected) {
    while (at < markers.size() && markers[at].find(" INFO: " + marker + ".") == std::string::npos) ++at;
    EXPECT_LT(at, markers.size()) << "missing or out of order: " << marker;
  }
}

}  // namespace
}  // namespace quillon
