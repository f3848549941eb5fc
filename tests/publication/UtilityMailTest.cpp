// Mails about documents, read back from a real SMTP server on loopback or
// from the site's pickup folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/FileStore.h"
#include "platform/Mail.h"
#include "platform/Object.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "publication/Utility.h"
#include "tests/LoopbackServers.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

constexpr std::int32_t kSender = static_cast<std::int32_t>(SENDERMODE::SENDERMODE);
constexpr std::int32_t kReceiver = static_cast<std::int32_t>(SENDERMODE::RECEIVERMODE);

// A style sheet whose output differs at every transformation, so mails
// that carry one rendering carry byte-identical files.
const char* kRandomXsl = R"XSL(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:math="http://exslt.org/math" extension-element-prefixes="math">
  <xsl:output method="html"/>
  <xsl:template match="/"><html><body><p><xsl:value-of select="//NUMBER"/></p><p><xsl:value-of select="math:random()"/></p></body></html></xsl:template>
</xsl:stylesheet>)XSL";

class UtilityMailTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, HTMLATTACHMENTXSL) VALUES "
         "('ORDER', 'Purchase order', 'order.xsl'), ('PLAIN', 'Plain note', ''), ('RUSH ORDER', 'Rush order', '')");
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, XMLBODY) VALUES "
         "(10, 'ORDER', 'alice', 1, '<ORDER><NUMBER>PO-10</NUMBER></ORDER>'),"
         "(11, 'PLAIN', 'alice', 1, '<NOTE>hello</NOTE>')");
    writeFile("xsl/html/order.xsl", kRandomXsl);
    std::string db = dir() + "/directory.db";
    DirectoryAdmin::AddPartner(db, 100, "Alpha Supplies", "", "");
    DirectoryAdmin::AddPartner(db, 200, "Borealis Retail", "", "");
    addUser("alice", 100, "alice@alpha.test");
    addUser("bob", 200, "bob@borealis.test");
    addUser("carol", 200, "carol@borealis.test");
    addUser("dave", 200, "dave@borealis.test");
  }
  void addUser(const std::string& cn, int partner, const std::string& mail) {
    DirectoryAdmin::UserRecord u;
    u.cn = cn;
    u.partnerID = partner;
    u.email = mail;
    DirectoryAdmin::AddUser(dir() + "/directory.db", u);
  }
  // Points the site at the loopback relay.
  int startRelay(const test::LoopbackServers::SmtpOptions& options = {}) {
    int port = servers.StartSmtp(options);
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpServer", "127.0.0.1");
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpPort", std::to_string(port));
    return port;
  }
  struct Received {
    std::vector<std::string> recipients;
    mail::ReceivedMail mail;
  };
  std::vector<Received> received() const {
    std::vector<Received> out;
    for (const auto& m : servers.SmtpMessages()) out.push_back({m.recipients, mail::ParseMail(m.bytes)});
    return out;
  }
  std::vector<std::string> pickupFiles() const {
    std::vector<std::string> files;
    fs::path folder = fs::path(dir()) / "mail" / "pickup";
    if (fs::exists(folder))
      for (const auto& f : fs::directory_iterator(folder)) files.push_back(f.path().string());
    return files;
  }
  std::vector<std::string> tempFiles(const std::string& extension) const {
    std::vector<std::string> files;
    for (const auto& f : fs::directory_iterator(fs::path(dir()) / "temp"))
      if (f.path().extension() == extension) files.push_back(f.path().string());
    return files;
  }
  static std::string attachmentNamed(const mail::ReceivedMail& m, const std::string& name) {
    for (const auto& a : m.attachments)
      if (a.name == name) return a.content;
    return "<missing " + name + ">";
  }
  // The text of a text attachment (the renderings are Unicode files).
  static std::string attachedText(const mail::ReceivedMail& m, const std::string& name) {
    return TextFile::Decode(attachmentNamed(m, name));
  }
  // Distribution list and live copies of document 10 for these users.
  void publishTo(const std::vector<std::tuple<std::string, bool, bool>>& users) {
    for (const auto& [user, html, attachments] : users) {
      exec("INSERT INTO DISTRIBUTIONLIST VALUES ('ORDER', 200, '" + user + "', 1, " + (html ? "1" : "0") + ", " +
           (attachments ? "1" : "0") + ")");
      exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS, FORWARD) VALUES (10, '" + user + "', 0, 0)");
    }
  }

  test::LoopbackServers servers;
  Utility u;
};

TEST_F(UtilityMailTest, AMissingAddressIsRefusedBeforeAnyMailIsMade) {
  Error noReceiver = EXPECT_RAISES(MissingEmailReceiverError, u.SendEmail("alice@alpha.test", "", "s", "b", "", ""));
  EXPECT_EQ(noReceiver.source(), "Utility");
  EXPECT_NE(noReceiver.description().find("The Receiver is missing."), std::string::npos);
  Error noSender = EXPECT_RAISES(MissingEmailSenderError, u.SendEmail("  ", "bob@borealis.test", "s", "b", "", ""));
  EXPECT_EQ(noSender.source(), "Utility");
  EXPECT_NE(noSender.description().find("The Sender is missing."), std::string::npos);
  // Nothing was composed: without a relay a message would be in the pickup folder.
  EXPECT_TRUE(pickupFiles().empty());
}

TEST_F(UtilityMailTest, WithoutARelayTheWholeMessageLandsInThePickupFolder) {
  u.SendEmail("alice@alpha.test", "bob@borealis.test", "Order PO-10", "Grüße\r\nline 2", "", "");
  auto files = pickupFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(fs::path(files[0]).extension(), ".eml");
  mail::ReceivedMail m = mail::ParseMail(read(files[0]));
  EXPECT_EQ(m.fromAddress, "alice@alpha.test");
  EXPECT_EQ(m.subject, "Order PO-10");
  EXPECT_EQ(m.body, "Grüße\nline 2\n");
}

TEST_F(UtilityMailTest, EveryAddressGetsTheMailWithBothFilesUnderTheirOwnNames) {
  startRelay();
  std::string html = u.WriteXMLFileToDisk("<html>PO-10</html>", "10.html");
  std::string xml = u.WriteXMLFileToDiskAsciiOrUnicode("<ORDER>ü</ORDER>", "10.xml", false);
  u.SendEmail("alice@alpha.test", "bob@borealis.test; carol@borealis.test, dave@borealis.test", "Bestellung über 10 €",
              "Body", html, xml);
  auto got = received();
  ASSERT_EQ(got.size(), 1u);
  std::set<std::string> to(got[0].recipients.begin(), got[0].recipients.end());
  EXPECT_EQ(to, (std::set<std::string>{"bob@borealis.test", "carol@borealis.test", "dave@borealis.test"}));
  EXPECT_EQ(got[0].mail.subject, "Bestellung über 10 €");
  ASSERT_EQ(got[0].mail.attachments.size(), 2u);
  EXPECT_EQ(got[0].mail.attachments[0].name, "10.html");
  EXPECT_EQ(got[0].mail.attachments[1].name, "10.xml");
  EXPECT_EQ(got[0].mail.attachments[0].content, read(html));  // Unicode file as written
  EXPECT_EQ(got[0].mail.attachments[1].content, "<ORDER>\xFC</ORDER>");  // ANSI, code page 1252
}

TEST_F(UtilityMailTest, ARefusedRecipientIsReportedAndTheOthersStillGetTheMail) {
  test::LoopbackServers::SmtpOptions options;
  options.refuse = {"carol@borealis.test"};
  startRelay(options);
  Error e = EXPECT_RAISES(hr::kMailRecipientsRejected,
                          u.SendEmail("alice@alpha.test", "bob@borealis.test; carol@borealis.test", "s", "b", "", ""));
  EXPECT_NE(e.description().find("carol@borealis.test"), std::string::npos);
  auto got = received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].recipients, std::vector<std::string>{"bob@borealis.test"});

  // The same through the file store's mail operation.
  EXPECT_RAISES(hr::kMailRecipientsRejected,
                u.SendEmailWithAttachments("alice@alpha.test", "carol@borealis.test, dave@borealis.test", "s", "b", "",
                                           "", Variant()));
  EXPECT_EQ(received().size(), 2u);
}

TEST_F(UtilityMailTest, AttachmentsOnSharesAndInRowsAreSentUnderTheirFileNames) {
  startRelay();
  // A share below the site's share root, and a local file.
  std::string onShare = writeFile("shares/fileserver/docs/10/data sheet.pdf", "%PDF-1.4 share");
  std::string local = writeFile("attachments/10/terms.txt", "terms");
  ASSERT_FALSE(onShare.empty());
  // Attachment rows as a (column, row) array: path first, id second.
  VariantArray rows(std::vector<VariantArray::Bound>{{0, 2}, {0, 2}});
  rows.at(0, 0) = Variant(std::string("\\\\FileServer\\docs\\10\\data sheet.pdf"));
  rows.at(1, 0) = Variant(1);
  rows.at(0, 1) = Variant(local);
  rows.at(1, 1) = Variant(2);
  u.SendEmailWithAttachments("alice@alpha.test", "bob@borealis.test", "Files", "See attached.", "", "",
                             Variant(rows));
  // And as a plain list of paths.
  u.SendEmailWithAttachments("alice@alpha.test", "bob@borealis.test", "Files", "See attached.", "", "",
                             Variant(VariantArray::ofStrings({local})));
  auto got = received();
  ASSERT_EQ(got.size(), 2u);
  ASSERT_EQ(got[0].mail.attachments.size(), 2u);
  EXPECT_EQ(attachmentNamed(got[0].mail, "data sheet.pdf"), "%PDF-1.4 share");
  EXPECT_EQ(attachmentNamed(got[0].mail, "terms.txt"), "terms");
  ASSERT_EQ(got[1].mail.attachments.size(), 1u);
  EXPECT_EQ(got[1].mail.attachments[0].name, "terms.txt");

  // A network path may not climb out of the share root.
  EXPECT_RAISES(hr::kBadFileName,
                u.SendEmailWithAttachments("alice@alpha.test", "bob@borealis.test", "s", "b", "", "",
                                           Variant(VariantArray::ofStrings({"\\\\fileserver\\docs\\..\\..\\..\\quillon.db"}))));
  EXPECT_EQ(received().size(), 2u);
}

TEST_F(UtilityMailTest, SubjectsNameTheTypeAndTellSenderFromRecipient) {
  exec("UPDATE I18NTEXT SET TEXT = 'Neues Dokument' WHERE LABEL = 'SLBSH1712' AND LOCALEID = 1033");
  exec("INSERT INTO I18NTEXT (LABEL, LOCALEID, TEXT) VALUES ('SLBSH1907', 1031, 'Dokumenttyp'), "
       "('SLBSH1712', 1031, 'Neu eingegangen')");
  EXPECT_EQ(u.GetSubject("1033", "", "ORDER", kReceiver), "Neues Dokument, document type 'Purchase order'");
  EXPECT_EQ(u.GetSubject("1033", "", "ORDER", kSender), "Your document has been sent, document type 'Purchase order'");
  // The recipients' default subject handed to the sender becomes the sender's.
  EXPECT_EQ(u.GetSubject("1033", "Neues Dokument", "ORDER", kSender),
            "Your document has been sent, document type 'Purchase order'");
  EXPECT_EQ(u.GetSubject("1033", "Re: PO-10", "ORDER", kSender), "Re: PO-10");
  EXPECT_EQ(u.GetSubject("1031", "", "ORDER", kReceiver), "Neu eingegangen, Dokumenttyp 'Purchase order'");
}

TEST_F(UtilityMailTest, BodiesCarryTheLinkTheListsAndTheErrorNoticeWhereTheyBelong) {
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'https://portal.test/b2b' WHERE PARAMNAME = 'SiteLink'");
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = '/start page/' WHERE PARAMNAME = 'SiteLinkStartingPoint'");
  const std::string link = "https://portal.test/b2b/start%20page?DocID=10&DocTypeID=ORDER&SenderMode=1";
  std::string receiver = u.GetBody(1033, 10, "ORDER", kReceiver);
  EXPECT_EQ(receiver, "Document 10 (document type 'Purchase order') has been published.\r\n\r\n"
                      "You can open the document here: " + link + "\r\n\r\n");
  // The copy list's mail has no site link.
  std::string cc = u.GetBody(1033, 10, "ORDER", kReceiver, "Please check.", true);
  EXPECT_EQ(cc, "Please check.\r\n\r\n");
  EXPECT_EQ(u.GetDefaultBody(1033, 10, "ORDER"), "Document 10 (document type 'Purchase order') has been published.\r\n\r\n");

  // The sender's body lists the recipients and, with open errors, links the error box.
  std::string sender = u.GetBody(1033, 10, "ORDER", kSender, "Sent.", false, "bob@borealis.test", "x@cc.test");
  EXPECT_NE(sender.find("The document was sent to: bob@borealis.test\r\n"), std::string::npos);
  EXPECT_NE(sender.find("Copies were sent to: x@cc.test\r\n\r\n"), std::string::npos);
  EXPECT_EQ(sender.find("error box"), std::string::npos);
  exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, ERRORNUMBER, DESCRIPTION, SOURCE, CLOSED) VALUES (10, 1, 'x', 'y', 0)");
  sender = u.GetBody(1033, 10, "ORDER", kSender, "Sent.", false, "bob@borealis.test", "");
  EXPECT_NE(sender.find("Errors occurred while publishing this document. You can view the errors in the error box: "
                        "https://portal.test/b2b/start%20page?DocID=10&DocTypeID=ORDER&SenderMode=2\r\n"),
            std::string::npos);
}

TEST_F(UtilityMailTest, ALinkCarriesTheTypeEncodedAndNoBlank) {
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'http://portal.test' WHERE PARAMNAME = 'SiteLink'");
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'ecoll\\' WHERE PARAMNAME = 'SiteLinkStartingPoint'");
  EXPECT_EQ(u.getPagePath(), "http://portal.test/");
  EXPECT_EQ(u.getECollPath(), "ecoll");
  EXPECT_EQ(u.getDocumentHyperlinkBySenderMode(10, " RUSH ORDER ", 0),
            "http://portal.test/ecoll?DocID=10&DocTypeID=RUSH%20ORDER&SenderMode=0");
  EXPECT_EQ(u.getDocumentHyperlinkBySenderMode(7, "A=B&C", 1),
            "http://portal.test/ecoll?DocID=7&DocTypeID=A%3DB%26C&SenderMode=1");
  EXPECT_EQ(u.getReceiveUrl(), "http://localhost/quillon/receive");
}

TEST_F(UtilityMailTest, TheSecondOfThreeRecipientsFailingStopsNeitherOtherOneRenderingGoesWithEveryMail) {
  test::LoopbackServers::SmtpOptions options;
  options.refuse = {"carol@borealis.test"};
  startRelay(options);
  publishTo({{"bob", true, false}, {"carol", true, false}, {"dave", true, false}});
  u.SendEmailToRecipients(10, "boss@alpha.test", "", "", true);

  auto got = received();
  ASSERT_EQ(got.size(), 3u);  // bob, dave and the copy list
  std::set<std::string> reached;
  for (const auto& r : got) reached.insert(r.recipients.begin(), r.recipients.end());
  EXPECT_EQ(reached, (std::set<std::string>{"bob@borealis.test", "dave@borealis.test", "boss@alpha.test"}));
  // One rendering: the same bytes in every mail.
  std::string first = attachmentNamed(got[0].mail, "10.html");
  EXPECT_NE(TextFile::Decode(first).find("PO-10"), std::string::npos);
  for (const auto& r : got) EXPECT_EQ(attachmentNamed(r.mail, "10.html"), first);
  EXPECT_TRUE(tempFiles(".html").empty());  // deleted at the end

  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE DOCUMENTID = 10"), "1");
  EXPECT_EQ(scalar("SELECT LABEL FROM PUBLICATIONERRORS WHERE DOCUMENTID = 10"), "SLBSH1817");
  EXPECT_EQ(scalar("SELECT SOURCE FROM PUBLICATIONERRORS WHERE DOCUMENTID = 10"), "Quillon.Utility.SendEmailToRecipients");
  std::string description = scalar("SELECT DESCRIPTION FROM PUBLICATIONERRORS WHERE DOCUMENTID = 10");
  EXPECT_NE(description.find("carol@borealis.test"), std::string::npos);
  EXPECT_NE(description.find("\r\nUser: 'carol'"), std::string::npos);
  // Each recipient's body links the inbox; the copy list's does not.
  for (const auto& r : got) {
    bool toCopyList = r.recipients == std::vector<std::string>{"boss@alpha.test"};
    EXPECT_EQ(r.mail.body.find("SenderMode=1") != std::string::npos, !toCopyList) << r.recipients[0];
  }
}

TEST_F(UtilityMailTest, SkippingBothListsSendsAndReadsNothing) {
  startRelay();
  publishTo({{"bob", true, false}});
  // Not even the document is read: one that does not exist raises nothing.
  u.SendEmailToRecipientsEx(999, nullptr, "boss@alpha.test", "", "", true, true, true, true);
  u.SendEmailToRecipientsEx(10, nullptr, "boss@alpha.test", "", "", true, true, true, true);
  EXPECT_TRUE(received().empty());
}

TEST_F(UtilityMailTest, ChosenRecipientsOnlyAndATypeWithoutStyleSheetGivesNoAttachment) {
  startRelay();
  exec("INSERT INTO DISTRIBUTIONLIST VALUES ('PLAIN', 200, 'bob', 1, 1, 0), ('PLAIN', 200, 'carol', 1, 1, 0)");
  exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS, FORWARD) VALUES (11, 'bob', 0, 0), (11, 'carol', 0, 0)");
  EXPECT_EQ(u.getHTMLAttachment(11), "");
  auto only = std::make_shared<Dictionary>();
  only->Add("1", Variant(std::string("carol")));
  u.SendEmailToRecipientsEx(11, only, "", "Note", "Hello", true, false, false, false);
  auto got = received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].recipients, std::vector<std::string>{"carol@borealis.test"});
  EXPECT_EQ(got[0].mail.subject, "Note");
  EXPECT_TRUE(got[0].mail.attachments.empty());
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS"), "0");
}

TEST_F(UtilityMailTest, TheSenderIsMailedOnlyWhenTheSenderListAsksForIt) {
  startRelay();
  publishTo({{"bob", false, false}});
  u.SendEmailToSender(10);  // alice has no SENDERLIST row
  exec("INSERT INTO SENDERLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID, NOTIFICATION, ATTACHMENTS, HTMLATTACHMENT) "
       "VALUES ('ORDER', 100, 'alice', 0, 0, 1)");
  u.SendEmailToSender(10);
  EXPECT_TRUE(received().empty());

  exec("UPDATE SENDERLIST SET NOTIFICATION = 1");
  u.SendEmailToSender(10);
  auto got = received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].recipients, std::vector<std::string>{"alice@alpha.test"});
  EXPECT_EQ(got[0].mail.fromAddress, "alice@alpha.test");
  EXPECT_EQ(got[0].mail.subject, "Your document has been sent, document type 'Purchase order'");
  EXPECT_NE(got[0].mail.body.find("The document was sent to: bob@borealis.test"), std::string::npos);
  EXPECT_NE(attachedText(got[0].mail, "10.html").find("PO-10"), std::string::npos);
  EXPECT_TRUE(tempFiles(".html").empty());
}

TEST_F(UtilityMailTest, TheRenderingXmlAndLinkGoToTheReceiverAndTheCopyListGetsWhatItAskedFor) {
  startRelay();
  u.sendEmailByGettingHTMLAndXML("alice@alpha.test", "bob@borealis.test", "Body", "Order", "10", "ORDER",
                                 "<ORDER><NUMBER>PO-10b</NUMBER></ORDER>", "cc@alpha.test", false, 0, 1033);
  auto got = received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].mail.body.rfind("Body\n\nLink to the document:\n", 0), 0u);
  EXPECT_NE(got[0].mail.body.find("SenderMode=1"), std::string::npos);  // sender mode 0 -> the receiver's view
  EXPECT_NE(attachedText(got[0].mail, "10.html").find("PO-10b"), std::string::npos);
  EXPECT_NE(attachmentNamed(got[0].mail, "10.xml"), "<missing 10.xml>");
  EXPECT_EQ(got[1].recipients, std::vector<std::string>{"cc@alpha.test"});
  EXPECT_TRUE(got[1].mail.attachments.empty());
  EXPECT_TRUE(tempFiles(".html").empty());
  EXPECT_TRUE(tempFiles(".xml").empty());
}

TEST_F(UtilityMailTest, TheAdministratorHearsOfAFileAndAMissingAddressIsOnlyLogged) {
  startRelay();
  u.SendEmailToAdministrator("/data/in/~order.xml");
  auto got = received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].recipients, std::vector<std::string>{"admin@localhost"});
  EXPECT_EQ(got[0].mail.subject, "A file was moved to the error folder");
  EXPECT_NE(got[0].mail.body.find("The file '/data/in/~order.xml' could not be processed"), std::string::npos);

  exec("DELETE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'AdminEmailAddress'");
  u.SendEmailToAdministrator("x.xml");
  EXPECT_EQ(received().size(), 1u);
  auto log = logEntries();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const LogEntry& e) {
    return e.message.find("AdminEmailAddress") != std::string::npos &&
           e.message.find("Quillon.Utility.SendEmailToAdministrator") != std::string::npos;
  }));
}

}  // namespace
}  // namespace quillon
