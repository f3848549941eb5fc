// Notifications sent to a real SMTP server on loopback: who gets which
// mail, in which order, with which texts and files, and what a failure
// leaves for the error box and a re-send.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "notification/Notification.h"
#include "platform/Error.h"
#include "platform/Mail.h"
#include "platform/Text.h"
#include "publication/Utility.h"
#include "tests/LoopbackServers.h"
#include "tests/notification/NotificationSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

using test::LoopbackServers;

struct Sent {
  std::string from;
  std::vector<std::string> to;
  mail::ReceivedMail mail;
};

class NotificationMailTest : public test::NotificationSite {
 protected:
  void SetUp() override {
    NotificationSite::SetUp();
    exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'http://portal.example.test/b2b site' WHERE PARAMNAME = "
         "'SiteLink'");
    exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'doc view.asp' WHERE PARAMNAME = 'SiteLinkStartingPoint'");
    // alice sends orders and wants to hear what became of them.
    exec("INSERT INTO SENDERLIST VALUES ('ORDER', 100, 'alice', 1, 0, 0)");
  }
  // Starts a relay (refusing the given recipients) and sends the site's mail there.
  void relay(std::vector<std::string> refuse = {}) {
    if (port_) servers_.Stop(port_);
    LoopbackServers::SmtpOptions options;
    options.refuse = std::move(refuse);
    port_ = servers_.StartSmtp(options);
    ASSERT_NE(port_, 0);
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpServer", "127.0.0.1");
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpPort", std::to_string(port_));
    received_ = servers_.SmtpMessages().size();  // one mail folder serves every relay started
  }
  // The mails that arrived since the last call, in arrival order; bodies
  // without the line break the transfer adds at the end.
  std::vector<Sent> arrived() {
    auto all = servers_.SmtpMessages();
    std::vector<Sent> out;
    for (std::size_t i = received_; i < all.size(); ++i) {
      out.push_back(Sent{all[i].mailFrom, all[i].recipients, mail::ParseMail(all[i].bytes)});
      std::string& body = out.back().mail.body;
      if (!body.empty() && body.back() == '\n') body.pop_back();
    }
    received_ = all.size();
    return out;
  }
  static std::string link(int doc, int senderMode) {
    return "http://portal.example.test/b2b%20site/doc%20view.asp?DocID=" + std::to_string(doc) +
           "&DocTypeID=ORDER&SenderMode=" + std::to_string(senderMode);
  }
  std::string openErrors(int doc) const {
    return scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE CLOSED = 0 AND DOCUMENTID = " + std::to_string(doc));
  }
  int errorOf(int doc, const std::string& user) const {
    return std::stoi(scalar("SELECT PUBLICATIONERRORID FROM PUBLICATIONERRORS WHERE DOCUMENTID = " +
                            std::to_string(doc) + " AND REPLACEMENTS LIKE '%>" + user + "<%'"));
  }
  // The standard texts: a general recipient template, Cobalt's own, and the sender's.
  void standardTemplates() {
    addTemplate("-1", -1, 2, "New [%DOCTYPE%] [%DOCID%]", "See [%INBOXLINK%]\nNot yours: [%OUTBOXLINK%]");
    addTemplate("ORDER", 300, 2, "Cobalt: [%docid%]", "Cobalt [%InboxLink%] [%inboxlink%]");
    addTemplate("-1", -1, 1, "Sent [%DOCID%]",
                "To: [%TOLIST%]\nCc: [%CCLIST%]\nOut: [%OUTBOXLINK%]\nErrors: [%ERRORBOXLINK%].");
  }

  Notification n;

 private:
  LoopbackServers servers_;
  int port_ = 0;
  std::size_t received_ = 0;
};

TEST_F(NotificationMailTest, RecipientsThenCopyListThenSender) {
  relay();
  standardTemplates();
  store(10);
  for (const char* u : {"dave", "bob", "carol", "erin"}) publish(10, u);  // erin wants no mail
  storeMail(-2, 10, 2, "Copy of [%DOCID%]", "Copy body", "boss@example.test");
  n.SendNotifications(10);

  auto mails = arrived();
  ASSERT_EQ(mails.size(), 5u);
  for (const auto& m : mails) EXPECT_EQ(m.from, "alice@example.test");
  // Borealis first (ordered by partner), both from the general template.
  std::vector<std::string> borealis{mails[0].to.at(0), mails[1].to.at(0)};
  std::sort(borealis.begin(), borealis.end());
  EXPECT_EQ(borealis, (std::vector<std::string>{"bob@example.test", "carol@example.test"}));
  for (int i : {0, 1}) {
    EXPECT_EQ(mails[i].mail.subject, "New Purchase order 10");
    EXPECT_EQ(mails[i].mail.body, "See " + link(10, 1) + "\nNot yours: [%OUTBOXLINK%]");
  }
  EXPECT_EQ(mails[2].to, std::vector<std::string>{"dave@example.test"});
  EXPECT_EQ(mails[2].mail.subject, "Cobalt: 10");
  EXPECT_EQ(mails[2].mail.body, "Cobalt " + link(10, 1) + " " + link(10, 1));
  // The copy mail as stored.
  EXPECT_EQ(mails[3].to, std::vector<std::string>{"boss@example.test"});
  EXPECT_EQ(mails[3].mail.subject, "Copy of [%DOCID%]");
  // The sender, from and to the own address, told who got what.
  EXPECT_EQ(mails[4].to, std::vector<std::string>{"alice@example.test"});
  EXPECT_EQ(mails[4].mail.subject, "Sent 10");
  const std::string& body = mails[4].mail.body;
  auto toLine = body.substr(4, body.find('\n') - 4);
  auto to = text::Split(toLine, "; ");
  std::sort(to.begin(), to.end());
  EXPECT_EQ(to, (std::vector<std::string>{"bob@example.test", "carol@example.test", "dave@example.test"}));
  EXPECT_NE(body.find("\nCc: boss@example.test\nOut: " + link(10, 0) + "\nErrors: ."), std::string::npos) << body;
  EXPECT_EQ(errorLabels(10), "");
}

TEST_F(NotificationMailTest, NothingForADocumentNotShown) {
  relay();
  standardTemplates();
  store(11, "ORDER", false);
  publish(11, "bob");
  storeMail(-2, 11, 2, "Copy", "Copy body", "boss@example.test");
  n.SendNotifications(11);
  EXPECT_TRUE(arrived().empty());
}

TEST_F(NotificationMailTest, EachFailingRecipientIsRecordedAndLeftOutOfTheToList) {
  relay({"carol@example.test"});
  // Only Borealis has a template: Cobalt's recipients have none to fall back to.
  addTemplate("ORDER", 200, 2, "Borealis [%DOCID%]", "body");
  addTemplate("-1", -1, 1, "Sent", "To: [%TOLIST%]|Errors: [%ERRORBOXLINK%]");
  exec("UPDATE DISTRIBUTIONLIST SET EMAIL = 1 WHERE USERID = 'erin'");
  exec("INSERT INTO DISTRIBUTIONLIST VALUES ('ORDER', 200, 'ghost', 1, 0, 0)");  // not in the directory
  store(12);
  for (const char* u : {"bob", "carol", "ghost", "dave", "erin"}) publish(12, u);
  n.SendNotifications(12);

  auto mails = arrived();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"bob@example.test"});
  EXPECT_EQ(mails[0].mail.subject, "Borealis 12");
  // No mail reached a Cobalt recipient with Borealis's texts.
  EXPECT_EQ(mails[1].mail.body, "To: bob@example.test|Errors: " + link(12, 2));

  EXPECT_EQ(errorLabels(12), "SLBSH6082,SLBSH6082,SLBSH6082,SLBSH6082");
  EXPECT_EQ(scalar("SELECT COUNT(DISTINCT SOURCE) || SOURCE FROM PUBLICATIONERRORS"),
            "1Quillon.Notification.SendNotificationToRecipients");
  const std::string carol = scalar("SELECT REPLACEMENTS FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " +
                                   std::to_string(errorOf(12, "carol")));
  EXPECT_NE(carol.find("<REP name=\"[%USERID%]\">carol</REP><REP name=\"[%EMAILADDRESS%]\">carol@example.test</REP>"),
            std::string::npos)
      << carol;
  const std::string dave =
      scalar("SELECT ERRORNUMBER || '|' || DESCRIPTION FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " +
             std::to_string(errorOf(12, "dave")));
  EXPECT_EQ(dave.substr(0, dave.find('|')), std::to_string(DefaultTemplateNotFound));
  EXPECT_NE(dave.find("No notification template found (Document type, Business partner, Recipient notification)"),
            std::string::npos);
  EXPECT_EQ(dave.substr(dave.size() - 14), "\r\nUser: 'dave'");
  EXPECT_NE(errorOf(12, "ghost"), 0);
  EXPECT_NE(errorOf(12, "erin"), 0);
}

TEST_F(NotificationMailTest, TheSenderIsNotToldOfRecipientsWhoseMailFailed) {
  relay({"bob@example.test"});
  standardTemplates();
  store(13);
  publish(13, "bob");
  n.SendNotifications(13);
  auto mails = arrived();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"alice@example.test"});
  EXPECT_EQ(mails[0].mail.body.substr(0, 9), "To: \nCc: ");
}

TEST_F(NotificationMailTest, ASendingFailureOfTheSenderReachesTheCaller) {
  relay({"alice@example.test"});
  standardTemplates();
  store(14);
  publish(14, "bob");
  EXPECT_RAISES(hr::kMailRecipientsRejected, n.SendNotifications(14));
  auto mails = arrived();
  ASSERT_EQ(mails.size(), 1u);  // bob had his already
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"bob@example.test"});

  // A sender who does not ask for mail gets none, and nothing fails.
  exec("UPDATE SENDERLIST SET NOTIFICATION = 0");
  n.SendNotifications(14);
  EXPECT_EQ(arrived().size(), 1u);
}

TEST_F(NotificationMailTest, WhatNoMailCarriesIsNeitherRenderedNorReadNorLogged) {
  relay();
  standardTemplates();
  // The type's HTML rendering cannot be made: only a mail that asks for it may fail.
  exec("UPDATE DOCUMENTTYPE SET HTMLATTACHMENTXSL = 'missing.xsl' WHERE DOCUMENTTYPEID = 'ORDER'");
  store(20);
  publish(20, "bob");
  const std::size_t logged = logEntries().size();
  n.SendNotifications(20);
  EXPECT_EQ(arrived().size(), 2u);
  EXPECT_EQ(errorLabels(20), "");
  // No copy mail stored and no copy template: nothing to send, nothing to log.
  EXPECT_EQ(logEntries().size(), logged);

  exec("UPDATE DISTRIBUTIONLIST SET HTMLATTACHMENT = 1 WHERE USERID = 'bob'");
  store(21);
  publish(21, "bob");
  publish(21, "dave");
  n.SendNotifications(21);
  auto mails = arrived();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"dave@example.test"});
  EXPECT_EQ(mails[1].to, std::vector<std::string>{"alice@example.test"});
  EXPECT_EQ(errorLabels(21), "SLBSH6082");

  // A copy mail sent again from the error box still needs its texts.
  exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, LABEL, REPLACEMENTS) VALUES (21, 'SLBSH6083', "
       "'<REPS><REP name=\"[%EMAILADDRESS%]\">boss@example.test</REP></REPS>')");
  const std::string copyError = scalar("SELECT MAX(PUBLICATIONERRORID) FROM PUBLICATIONERRORS");
  EXPECT_RAISES(DefaultTemplateNotFound, n.ReSendNotification(21, "ORDER", std::stoi(copyError)));
}

TEST_F(NotificationMailTest, ReSendingARecipientClosesTheErrorOnlyWhenTheMailWentOut) {
  relay({"carol@example.test"});
  standardTemplates();
  store(15);
  publish(15, "bob");
  publish(15, "carol");
  n.SendNotifications(15);
  arrived();
  const int first = errorOf(15, "carol");

  // Still refused: a new record, the old one stays open.
  Error e = EXPECT_RAISES(hr::kMailRecipientsRejected, n.ReSendNotification(15, "ORDER", first));
  EXPECT_NE(e.description().find("METHOD: Quillon.Notification.ReSendNotification"), std::string::npos);
  EXPECT_EQ(openErrors(15), "2");
  EXPECT_EQ(scalar("SELECT SOURCE FROM PUBLICATIONERRORS ORDER BY PUBLICATIONERRORID DESC"),
            "Quillon.Notification.SendNotificationToRecipient");

  relay();
  n.ReSendNotification(15, "ORDER", first);
  auto mails = arrived();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"carol@example.test"});
  EXPECT_EQ(mails[0].mail.subject, "New Purchase order 15");
  EXPECT_EQ(scalar("SELECT CLOSED <> 0 FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " + std::to_string(first)),
            "1");

}

TEST_F(NotificationMailTest, OnlyAFailedNotificationOfTheDocumentIsSentAgainOrClosed) {
  relay({"carol@example.test"});
  standardTemplates();
  store(15);
  publish(15, "carol");
  n.SendNotifications(15);
  arrived();
  const int carol = errorOf(15, "carol");
  relay();
  store(16);
  publish(16, "carol");
  exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, LABEL, REPLACEMENTS) VALUES (15, 'SLBSH0883', "
       "'<REPS><REP name=\"[%DOCID%]\">15</REP></REPS>')");
  const int pushFailure = std::stoi(scalar("SELECT MAX(PUBLICATIONERRORID) FROM PUBLICATIONERRORS"));

  // Another document's notification error, a delivery error of this
  // document, an unknown id and no id: refused, nothing mailed or closed.
  const std::vector<std::pair<int, int>> refused{{16, carol}, {15, pushFailure}, {15, pushFailure + 100}, {15, 0}};
  for (const auto& [doc, error] : refused) {
    Error e = EXPECT_RAISES(InvalidParamValue, n.ReSendNotification(doc, "ORDER", error));
    EXPECT_NE(e.description().find("is not a failed notification of document " + std::to_string(doc)),
              std::string::npos)
        << e.description();
  }
  EXPECT_EQ(arrived().size(), 0u);
  EXPECT_EQ(openErrors(15), "2");
}

TEST_F(NotificationMailTest, AFailedCopyMailIsRecordedAndSentAgain) {
  relay({"boss@example.test"});
  standardTemplates();
  store(17);
  storeMail(-2, 17, 2, "Copy", "Copy body", "boss@example.test");
  n.SendNotifications(17);
  auto mails = arrived();
  ASSERT_EQ(mails.size(), 1u);  // the sender, told of no copy list
  EXPECT_NE(mails[0].mail.body.find("Cc: \n"), std::string::npos);
  EXPECT_EQ(errorLabels(17), "SLBSH6083");
  const std::string id = scalar("SELECT PUBLICATIONERRORID FROM PUBLICATIONERRORS WHERE DOCUMENTID = 17");
  EXPECT_EQ(scalar("SELECT SOURCE || '|' || REPLACEMENTS FROM PUBLICATIONERRORS"),
            "Quillon.Notification.SendNotificationToCc|<REPS><REP name=\"[%EMAILADDRESS%]\">boss@example.test</REP></REPS>");

  relay();
  n.ReSendNotification(17, "ORDER", std::stoi(id));
  mails = arrived();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, std::vector<std::string>{"boss@example.test"});
  EXPECT_EQ(mails[0].mail.subject, "Copy");
  EXPECT_EQ(openErrors(17), "0");
}

TEST_F(NotificationMailTest, FilesGoOnlyToThoseWhoAskedAndOnlyFromTheDocumentsFolder) {
  relay();
  standardTemplates();
  exec("UPDATE DOCUMENTTYPE SET HTMLATTACHMENTXSL = 'order.xsl' WHERE DOCUMENTTYPEID = 'ORDER'");
  writeFile("xsl/html/order.xsl",
            "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
            "<xsl:template match='/'><html><body>Order <xsl:value-of select='//NUMBER'/></body></html></xsl:template>"
            "</xsl:stylesheet>");
  writeFile("attachments/18/terms.txt", "terms");
  writeFile("attachments/secret.txt", "not for partners");
  exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (18, 'terms.txt'), (18, '../secret.txt')");
  exec("UPDATE DISTRIBUTIONLIST SET HTMLATTACHMENT = 1, ATTACHMENTS = 1 WHERE USERID = 'bob'");
  exec("UPDATE DISTRIBUTIONLIST SET HTMLATTACHMENT = 1 WHERE USERID = 'dave'");
  store(18);
  for (const char* u : {"bob", "carol", "dave"}) publish(18, u);
  storeMail(-2, 18, 2, "Copy", "Copy body", "boss@example.test", false, true);
  n.SendNotifications(18);

  auto mails = arrived();
  ASSERT_EQ(mails.size(), 5u);
  auto names = [](const Sent& s) {
    std::vector<std::string> v;
    for (const auto& a : s.mail.attachments) v.push_back(a.name);
    std::sort(v.begin(), v.end());
    return text::Join(v, ",");
  };
  for (const auto& m : mails) {
    const std::string& to = m.to.at(0);
    if (to == "bob@example.test") {
      EXPECT_EQ(names(m), "18.html,terms.txt");
      for (const auto& a : m.mail.attachments) {
        if (a.name == "terms.txt") {
          EXPECT_EQ(a.content, "terms");
        }
      }
    } else if (to == "dave@example.test") {
      EXPECT_EQ(names(m), "18.html");
    } else if (to == "boss@example.test") {
      EXPECT_EQ(names(m), "terms.txt");  // the copy asked for the files, not the rendering
    } else {
      EXPECT_EQ(names(m), "") << to;
    }
  }
  // The rendering was a temporary file.
  EXPECT_FALSE(fs::exists(text::LocalPath(Utility().AddTempPathIfNoDriveFound("18.html"))));
}

}  // namespace
}  // namespace quillon
