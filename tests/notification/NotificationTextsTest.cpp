// The texts a notification would carry: which stored mail or template is
// chosen, and how the template's placeholders are filled. Also who is to be
// notified. Links are covered with the mails themselves.
#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "notification/Notification.h"
#include "notification/NotificationPlaceholders.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "tests/notification/NotificationSite.h"

namespace quillon {
namespace {

using test::NotificationSite;
namespace ph = NotificationPlaceholders;

TEST(NotificationPlaceholdersTest, FillReplacesEveryOccurrenceInOnePass) {
  int asked = 0;
  std::vector<ph::Substitution> subs{
      {"[%DOCID%]", [&] { ++asked; return std::string("42"); }},
      {"[%DOCTYPE%]", [] { return std::string("[%DOCID%] and [%doctype%]"); }},
      {"[%TOLIST%]", [] { return std::string("never asked"); }},
  };
  EXPECT_EQ(ph::Fill("[%DocId%]/[%DOCID%]: [%docid%]", subs), "42/42: 42");
  EXPECT_EQ(asked, 1);  // one value per placeholder, however often it occurs
  // Inserted values are data: a placeholder inside one stays as it is.
  EXPECT_EQ(ph::Fill("[%DOCTYPE%]", subs), "[%DOCID%] and [%doctype%]");
  // Unknown, unfinished and nested-looking texts stay as written.
  EXPECT_EQ(ph::Fill("[%INBOXLINK%] [% DOCID%] [%[%DOCID%]%] 100%] [%", subs), "[%INBOXLINK%] [% DOCID%] [%42%] 100%] [%");
  EXPECT_EQ(ph::Fill("", subs), "");
  EXPECT_EQ(ph::LinkForMail("http://portal/doc view.asp?a=b c"), "http://portal/doc%20view.asp?a=b%20c");
}

class NotificationTextsTest : public NotificationSite {
 protected:
  struct Props {
    bool found = false;
    std::string subject, body, cc;
    bool ccDoc = false, ccAtt = false;
  };
  Props props(int partner, int doc, int mode, const std::string& toList = "", const std::string& ccList = "") {
    Props p;
    p.found = Notification().GetNotificationProperties(partner, doc, static_cast<std::uint8_t>(mode), p.subject,
                                                       p.body, p.cc, p.ccDoc, p.ccAtt, toList, ccList);
    return p;
  }
};

TEST_F(NotificationTextsTest, TemplatesFallBackFromPartnerToTypeToGeneral) {
  store(1);
  store(2, "INVOICE");
  EXPECT_FALSE(props(200, 1, 2).found);

  addTemplate("-1", -1, 2, "general [%DOCID%]", "general body");
  EXPECT_EQ(props(200, 1, 2).subject, "general 1");
  addTemplate("ORDER", -1, 2, "type default", "type body", true, true);
  addTemplate("ORDER", 200, 2, "Borealis", "Borealis body");
  addTemplate("ORDER", 300, 1, "Cobalt sender", "sender body");
  EXPECT_EQ(props(200, 1, 2).subject, "Borealis");
  Props cobalt = props(300, 1, 2);  // Cobalt has only a mode-1 template of its own
  EXPECT_EQ(cobalt.subject + "|" + cobalt.body, "type default|type body");
  EXPECT_TRUE(cobalt.ccDoc && cobalt.ccAtt);
  EXPECT_EQ(cobalt.cc, "");  // templates carry no copy list
  EXPECT_EQ(props(200, 2, 2).subject, "general 2");  // no template for invoices
  EXPECT_FALSE(props(200, 1, 1).found);  // no general default for mode 1

  // The copy mail has templates of its own only.
  EXPECT_FALSE(props(-2, 1, 2).found);
  addTemplate("-1", -2, 2, "copy general", "b");
  EXPECT_EQ(props(-2, 1, 2).subject, "copy general");
  addTemplate("ORDER", -2, 2, "copy of order [%DOCID%]", "b");
  EXPECT_EQ(props(-2, 1, 2).subject, "copy of order 1");
}

TEST_F(NotificationTextsTest, StoredMailsAreUsedAsStored) {
  store(3);
  addTemplate("-1", -1, 2, "template [%DOCID%]", "template body");
  storeMail(200, 3, 2, "Stored [%DOCID%]", "Stored body [%DOCTYPE%] [%INBOXLINK%]", "cc@example.test", true, false);
  Props p = props(200, 3, 2);
  EXPECT_TRUE(p.found);
  EXPECT_EQ(p.subject + "|" + p.body + "|" + p.cc, "Stored [%DOCID%]|Stored body [%DOCTYPE%] [%INBOXLINK%]|cc@example.test");
  EXPECT_TRUE(p.ccDoc);
  EXPECT_FALSE(p.ccAtt);
  // Other partners and modes of the document still use the template.
  EXPECT_EQ(props(300, 3, 2).subject, "template 3");
  EXPECT_EQ(props(300, 3, 2).cc, "");
}

TEST_F(NotificationTextsTest, PlaceholdersOfAnyCaseAreAllReplacedAndOtherModesKept) {
  store(4);
  addTemplate("ORDER", -1, 2, "[%doctype%] [%DocID%]",
              "Document [%DOCID%] ([%DOCTYPE%]), again [%docid%]. [%OUTBOXLINK%] [%TOLIST%] [%CCLIST%] [%FOO%]");
  Props p = props(200, 4, 2, "to@example.test", "cc@example.test");
  EXPECT_EQ(p.subject, "Purchase order 4");
  // A sender's placeholders in a recipient's mail stay as written.
  EXPECT_EQ(p.body, "Document 4 (Purchase order), again 4. [%OUTBOXLINK%] [%TOLIST%] [%CCLIST%] [%FOO%]");

  addTemplate("ORDER", -1, 1, "Sent: [%DOCID%]", "To [%ToList%]; cc [%cclist%]; [%INBOXLINK%]");
  p = props(100, 4, 1, "bob@example.test; dave@example.test", "boss@example.test");
  EXPECT_EQ(p.subject, "Sent: 4");
  EXPECT_EQ(p.body, "To bob@example.test; dave@example.test; cc boss@example.test; [%INBOXLINK%]");
}

TEST_F(NotificationTextsTest, InsertedValuesAreNeverExpandedAgain) {
  store(5);
  exec("UPDATE DOCUMENTTYPE SET DESCRIPTION = 'Order [%DOCID%] [%CCLIST%]' WHERE DOCUMENTTYPEID = 'ORDER'");
  addTemplate("ORDER", -1, 1, "[%DOCTYPE%] / [%DOCID%]", "[%TOLIST%] | [%CCLIST%]");
  Props p = props(100, 5, 1, "[%DOCTYPE%]@example.test", "x@example.test");
  EXPECT_EQ(p.subject, "Order [%DOCID%] [%CCLIST%] / 5");
  EXPECT_EQ(p.body, "[%DOCTYPE%]@example.test | x@example.test");
}

TEST_F(NotificationTextsTest, BlankListsAreLookedUp) {
  store(6);
  publish(6, "bob");
  publish(6, "carol");
  publish(6, "dave");
  publish(6, "erin");  // no e-mail wanted
  addTemplate("-1", -1, 1, "s", "[%TOLIST%]|[%CCLIST%]");
  Props p = props(100, 6, 1, "  ", "");
  auto bar = p.body.find('|');
  auto to = text::Split(p.body.substr(0, bar), ";");
  std::sort(to.begin(), to.end());
  EXPECT_EQ(text::Join(to, ","), "bob@example.test,carol@example.test,dave@example.test");
  EXPECT_EQ(p.body.substr(bar), "|");

  // The copy list a stored mail of the sender's view names.
  storeMail(-2, 6, 1, "", "", "boss@example.test; audit@example.test");
  EXPECT_EQ(props(100, 6, 1, "a@example.test").body, "a@example.test|boss@example.test; audit@example.test");
}

TEST_F(NotificationTextsTest, RecipientsAreThoseWhoWantMailAndStillHoldTheDocument) {
  store(8);
  publish(8, "bob", 2);    // deleted by the recipient
  publish(8, "carol", 5);  // viewed
  publish(8, "dave", 9);   // downloaded and deleted
  publish(8, "erin", 0);   // does not want e-mail
  Notification n;
  auto rs = n.getRecipientsWithNotification(8, "ORDER", -1);
  std::vector<std::string> users;
  for (; !rs->EOF_(); rs->MoveNext()) users.push_back(rs->Fields("USERID").Value().text());
  EXPECT_EQ(users, std::vector<std::string>{"carol"});
  EXPECT_EQ(rs->FieldCount(), 4);
  EXPECT_TRUE(n.RecipientsWithNotificationExist(8, "order", 200));
  EXPECT_FALSE(n.RecipientsWithNotificationExist(8, "ORDER", 300));
  EXPECT_FALSE(n.RecipientsWithNotificationExist(8, "INVOICE", -1));

  store(9);
  for (const char* u : {"dave", "bob", "carol"}) publish(9, u);
  rs = n.getRecipientsWithNotification(9, "ORDER", 0);
  std::vector<int> partners;
  for (; !rs->EOF_(); rs->MoveNext()) partners.push_back(rs->Fields("BUSINESSPARTNERID").Value().toInt32());
  EXPECT_EQ(partners, (std::vector<int>{200, 200, 300}));
}

}  // namespace
}  // namespace quillon
