// The mail and fax transports against a real SMTP sink and the pickup
// folder: who gets the mail, from whom, with which subject and files.
#include <gtest/gtest.h>

#include <filesystem>

#include "delivery/PushDocUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Error.h"
#include "platform/Mail.h"
#include "platform/Spreadsheet.h"
#include "tests/LoopbackServers.h"
#include "tests/delivery/PushFixture.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

const std::string kOrder = "<ORDER><NUMBER>4711</NUMBER></ORDER>";

class TransportMailTest : public test::PushSite {
 protected:
  test::LoopbackServers servers;
  PushDocUtils push;
  PushDocUtils::ExtendedProperties noAttachments{"", "False", ""};

  void useSink() {
    const int port = servers.StartSmtp();
    ASSERT_NE(port, 0);
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpServer", "127.0.0.1");
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpPort", std::to_string(port));
  }
  static TSendMethodProperties mailMethod(const std::string& address) {
    return xmlMethod(ESendMethodProtocol::Email, address);
  }
  mail::ReceivedMail only() {
    auto got = servers.SmtpMessages();
    EXPECT_EQ(got.size(), 1u);
    return got.empty() ? mail::ReceivedMail{} : mail::ParseMail(got.back().bytes);
  }
  // Files left in the site's temporary folder.
  std::size_t tempFiles() const {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir() + "/temp")) n += e.is_regular_file();
    return n;
  }
};

TEST_F(TransportMailTest, TheDocumentGoesAsAttachmentFromItsSender) {
  useSink();
  const std::int32_t doc = storeOrder();
  const std::string id = std::to_string(doc);
  TSendMethodProperties p = mailMethod("orders@delta.example");
  push.SendByEmail2(doc, Variant(kOrder), p, noAttachments);
  mail::ReceivedMail m = only();
  EXPECT_EQ(m.fromAddress, "sam@100.example");
  EXPECT_EQ(m.to, "orders@delta.example");
  EXPECT_EQ(m.subject, "Document " + id);
  EXPECT_EQ(m.body, "");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].name, id + ".xml");
  EXPECT_EQ(m.attachments[0].content, kOrder);
  EXPECT_EQ(tempFiles(), 0u);  // the written file is gone
}

TEST_F(TransportMailTest, APortalUserGetsItInTheUsersLanguage) {
  useSink();
  exec("INSERT INTO I18NTEXT (LABEL, LOCALEID, TEXT) VALUES ('SLBSH4228', 1031, 'Dokument [%DOCID%]')");
  const std::int32_t doc = storeOrder();
  TSendMethodProperties p = mailMethod("ignored@example");
  p.sUser = "nils";
  push.SendByEmail2(doc, Variant(kOrder), p, noAttachments);
  mail::ReceivedMail m = only();
  EXPECT_EQ(m.to, "nils@300.example");
  EXPECT_EQ(m.subject, "Dokument " + std::to_string(doc));
}

TEST_F(TransportMailTest, AttachmentsGoAlongWithTheirContent) {
  useSink();
  const std::int32_t doc = storeOrder();
  const std::string id = std::to_string(doc);
  writeFile("attachments/" + id + "/terms.pdf", "PDF-terms");
  exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (" + id + ", 'terms.pdf')");
  TSendMethodProperties p = mailMethod("orders@delta.example");
  push.SendByEmail2(doc, Variant(kOrder), p, {"", "True", ""});
  mail::ReceivedMail m = only();
  ASSERT_EQ(m.attachments.size(), 2u);
  EXPECT_EQ(m.attachments[0].name, id + ".xml");
  EXPECT_EQ(m.attachments[1].name, "terms.pdf");
  EXPECT_EQ(m.attachments[1].content, "PDF-terms");

  // Without an attachments location the mail does not go without them.
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = '' WHERE PARAMNAME = 'AttachmentsVirtualPath'");
  Error e = EXPECT_RAISES(AttachmentsSupported, push.SendByEmail2(doc, Variant(kOrder), p, {"", "True", ""}));
  EXPECT_EQ(e.source(), "SendByEmail2");
  EXPECT_EQ(servers.SmtpMessages().size(), 1u);
  // The older form never looks at attachments.
  push.SendByEmail(doc, Variant(kOrder), p);
  EXPECT_EQ(servers.SmtpMessages().size(), 2u);
  EXPECT_NE(read(dir() + "/log/quillon.log").find("use SendByEmail2"), std::string::npos);
}

TEST_F(TransportMailTest, FaxesAreMailedToTheNumberAtTheGateway) {
  useSink();
  const std::int32_t doc = storeOrder();
  TSendMethodProperties p = mailMethod("0049301234");
  p.nProtocol = ESendMethodProtocol::Fax;
  Variant data(kOrder);
  push.SendByFax2(doc, data, p, noAttachments);
  EXPECT_EQ(p.sAddress, "0049301234@fax.localhost");  // the record shows the gateway address
  mail::ReceivedMail m = only();
  EXPECT_EQ(servers.SmtpMessages().back().recipients, std::vector<std::string>{"0049301234@fax.localhost"});
  EXPECT_EQ(m.attachments.size(), 1u);
}

TEST_F(TransportMailTest, WithoutARelayMailsWaitInThePickupFolder) {
  const std::string out = dir() + "/mail/pickup";
  const std::int32_t doc = storeOrder();
  TSendMethodProperties p = mailMethod("orders@delta.example");
  addSendMethod(kDelta, p);
  push.PushDocumentToReceivers(doc, "ORDER");
  EXPECT_EQ(history(doc).substr(history(doc).size() - 2), ":1");
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(out)) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].extension(), ".eml");
  // Given no XML, the push engine mails the document as stored.
  mail::ReceivedMail m = mail::ParseMail(read(files[0].string()));
  EXPECT_EQ(m.attachments.at(0).content, scalar("SELECT XMLBODY FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(doc)));
  EXPECT_NE(m.attachments.at(0).content.find("<AMOUNT>1500</AMOUNT>"), std::string::npos);
}

TEST_F(TransportMailTest, FailuresNameTheRecipientAndLeaveNoFiles) {
  useSink();
  const std::int32_t doc = storeOrder();
  TSendMethodProperties nobody = mailMethod("");
  Error e = EXPECT_RAISES(MissingEmailReceiverError, push.SendByEmail2(doc, Variant(kOrder), nobody, noAttachments));
  EXPECT_NE(e.description().find("Additional information: The e-mail could not be sent to ''. Sender: "
                                 "'sam@100.example'. Attachment: '"),
            std::string::npos)
      << e.description();
  EXPECT_EQ(tempFiles(), 0u);

  TSendMethodProperties obi = mailMethod("orders@delta.example");
  obi.nFormat = ESendMethodFormat::OBI;
  EXPECT_RAISES(SendMethodFormatNotSupported, push.SendByEmail2(doc, Variant("QUJD"), obi, noAttachments));

  TSendMethodProperties fax = mailMethod("");
  Variant data(kOrder);
  fax.sAddress = "";
  Error f = EXPECT_RAISES(test::kAnyError, push.SendByFax2(doc, data, fax, noAttachments));
  EXPECT_NE(f.description().find("The fax could not be sent through the fax gateway 'fax.localhost'."),
            std::string::npos)
      << f.description();
  EXPECT_TRUE(servers.SmtpMessages().empty());
}

TEST_F(TransportMailTest, EachMailWritesItsFileApartFromOtherDeliveriesOfTheSameName) {
  useSink();
  const std::int32_t doc = storeOrder();
  // Another delivery's file of the same name waits in the shared folders.
  writeFile("temp/order.xml", "another document");
  writeFile("excel/temp/order.xls", "another workbook");

  TSendMethodProperties p = mailMethod("orders@delta.example");
  p.sFileName = "order";
  push.SendByEmail2(doc, Variant(kOrder), p, noAttachments);
  mail::ReceivedMail m = only();
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].name, "order.xml");
  EXPECT_EQ(m.attachments[0].content, kOrder);

  // A workbook made from a template, through the engine.
  {
    auto blank = spreadsheet::Create();
    blank->saveAs(dir() + "/excel/templates/order.xlt");
    blank->close();
  }
  TSendMethodProperties excel = mailMethod("orders@delta.example");
  excel.nFormat = ESendMethodFormat::Excel;
  excel.sFileName = "order";
  excel.sExcelTemplate = "order.xlt";
  const std::int32_t method = addSendMethod(kDelta, excel);
  push.ExecuteSendMethod(kDelta, doc, method, -1);
  auto got = servers.SmtpMessages();
  ASSERT_EQ(got.size(), 2u);
  mail::ReceivedMail book = mail::ParseMail(got.back().bytes);
  ASSERT_EQ(book.attachments.size(), 1u);
  EXPECT_EQ(book.attachments[0].name, "order.xls");
  EXPECT_NE(book.attachments[0].content, "another workbook");

  // The other files are untouched and no working file stays behind.
  EXPECT_EQ(read(dir() + "/temp/order.xml"), "another document");
  EXPECT_EQ(read(dir() + "/excel/temp/order.xls"), "another workbook");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir() + "/temp"), fs::directory_iterator()), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir() + "/excel/temp"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace quillon
