// Maintenance of notification templates and stored mails on a real site,
// and the checks of where each placeholder may be stored.
#include <gtest/gtest.h>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "notification/Notification.h"
#include "platform/Error.h"
#include "platform/Object.h"
#include "tests/notification/NotificationSite.h"

namespace quillon {
namespace {

using test::NotificationSite;

class NotificationTemplatesTest : public NotificationSite {
 protected:
  Notification n;
  std::string subject, body;
  bool ccDoc = false, ccAtt = false;
};

TEST_F(NotificationTemplatesTest, ModesLeftToAddAndOneTemplatePerKey) {
  EXPECT_EQ(n.CanAddNotificationTemplate("ORDER", 200), 3);
  addTemplate("ORDER", 200, 1, "s1", "b1");
  EXPECT_EQ(n.CanAddNotificationTemplate("ORDER", 200), 2);
  // Type ids compare without letter case, here as everywhere.
  EXPECT_EQ(n.CanAddNotificationTemplate("order", 200), 2);
  addTemplate("ORDER", 200, 2, "s2", "b2");
  EXPECT_EQ(n.CanAddNotificationTemplate("ORDER", 200), 0);
  EXPECT_EQ(n.CanAddNotificationTemplate("ORDER", 300), 3);

  // The copy partner only has mode 2; a stray mode-1 row does not make
  // mode 1 look addable nor push the answer out of the set of modes.
  EXPECT_EQ(n.CanAddNotificationTemplate("-1", -2), 2);
  exec("INSERT INTO NOTIFICATIONTEMPLATE (DOCUMENTTYPEID, BUSINESSPARTNERID, MODE) VALUES ('-1', -2, 1)");
  EXPECT_EQ(n.CanAddNotificationTemplate("-1", -2), 2);
  addTemplate("-1", -2, 2, "copy", "copy body");
  EXPECT_EQ(n.CanAddNotificationTemplate("-1", -2), 0);

  // A second template for the same key is refused and the first one kept.
  Error e = EXPECT_RAISES(test::kAnyError, addTemplate("order", 200, 1, "other", "other"));
  EXPECT_NE(e.description().find("METHOD: Quillon.Notification.AddNotificationTemplate"), std::string::npos);
  EXPECT_EQ(scalar("SELECT COUNT(*) || SUBJECT FROM NOTIFICATIONTEMPLATE WHERE DOCUMENTTYPEID = 'ORDER' AND "
                   "BUSINESSPARTNERID = 200 AND MODE = 1"),
            "1s1");
}

TEST_F(NotificationTemplatesTest, TemplatesNeedAKnownDocumentType) {
  Error e = EXPECT_RAISES(MissingDocumentTypeID, addTemplate("NOSUCH", -1, 2, "s", "b"));
  EXPECT_EQ(e.source(), "Quillon.Notification.AddNotificationTemplate");
  EXPECT_NE(e.description().find("The document type 'NOSUCH' does not exist."), std::string::npos);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM NOTIFICATIONTEMPLATE"), "0");
  // "-1" is every type and needs no row of its own.
  addTemplate("-1", -1, 2, "s", "b", true, false);
  EXPECT_TRUE(n.GetNotificationTemplateProperties("-1", -1, 2, subject, body, ccDoc, ccAtt));
  EXPECT_EQ(subject + "|" + body, "s|b");
  EXPECT_TRUE(ccDoc);
  EXPECT_FALSE(ccAtt);
}

TEST_F(NotificationTemplatesTest, UpdateChangesOnlyAnExistingTemplateAndDeleteIsQuiet) {
  addTemplate("ORDER", 200, 2, "Order [%DOCID%]", "Body", false, false);
  n.UpdateNotificationTemplate("ORDER", 200, 2, "New [%DOCID%]", "New body", false, true);
  EXPECT_TRUE(n.GetNotificationTemplateProperties("ORDER", 200, 2, subject, body, ccDoc, ccAtt));
  EXPECT_EQ(subject + "|" + body, "New [%DOCID%]|New body");  // as stored, placeholders unreplaced
  EXPECT_FALSE(ccDoc);
  EXPECT_TRUE(ccAtt);

  // No template for mode 1: updating it creates nothing.
  n.UpdateNotificationTemplate("ORDER", 200, 1, "x", "y", true, true);
  EXPECT_FALSE(n.GetNotificationTemplateProperties("ORDER", 200, 1, subject, body, ccDoc, ccAtt));
  EXPECT_EQ(subject + body, "");
  EXPECT_FALSE(ccDoc || ccAtt);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM NOTIFICATIONTEMPLATE"), "1");

  n.DeleteNotificationTemplate("ORDER", 200, 1);  // none: no error
  n.DeleteNotificationTemplate("ORDER", 300, 2);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM NOTIFICATIONTEMPLATE"), "1");
  n.DeleteNotificationTemplate("ORDER", 200, 2);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM NOTIFICATIONTEMPLATE"), "0");
}

TEST_F(NotificationTemplatesTest, DefaultTemplateIsTheTypesThenTheGeneralOne) {
  Error e = EXPECT_RAISES(NotPresent, n.GetDefaultNotificationTemplateProperties("ORDER", 200, 2, subject, body,
                                                                                   ccDoc, ccAtt));
  EXPECT_EQ(e.source(), "Quillon.Notification.GetDefaultNotificationTemplateProperties");
  EXPECT_NE(e.description().find("No notification template found"), std::string::npos);

  addTemplate("-1", -1, 2, "general", "general body", false, true);
  addTemplate("ORDER", 200, 2, "own", "own body");  // the partner's own is not its default
  addTemplate("-1", -2, 2, "copy", "copy body", true, false);
  n.GetDefaultNotificationTemplateProperties("ORDER", 200, 2, subject, body, ccDoc, ccAtt);
  EXPECT_EQ(subject + "|" + body, "general|general body");
  EXPECT_FALSE(ccDoc);
  EXPECT_TRUE(ccAtt);

  addTemplate("ORDER", -1, 2, "type", "type body");
  n.GetDefaultNotificationTemplateProperties("ORDER", 200, 2, subject, body, ccDoc, ccAtt);
  EXPECT_EQ(subject, "type");
  n.GetDefaultNotificationTemplateProperties("INVOICE", 200, 2, subject, body, ccDoc, ccAtt);
  EXPECT_EQ(subject, "general");
  // Another mode has no default yet.
  EXPECT_RAISES(NotPresent, n.GetDefaultNotificationTemplateProperties("ORDER", 200, 1, subject, body, ccDoc, ccAtt));

  // The copy mail falls back to the general copy template only.
  n.GetDefaultNotificationTemplateProperties("ORDER", -2, 2, subject, body, ccDoc, ccAtt);
  EXPECT_EQ(subject + "|" + body, "copy|copy body");
  EXPECT_TRUE(ccDoc);

  EXPECT_FALSE(n.IsDefaultNotificationTemplate("-1", 17, 2));
  EXPECT_TRUE(n.IsDefaultNotificationTemplate("-1", -2, 1));
  EXPECT_TRUE(n.IsDefaultNotificationTemplate("-1", -1, 2));
  EXPECT_FALSE(n.IsDefaultNotificationTemplate("ORDER", -1, 2));
}

TEST_F(NotificationTemplatesTest, StoredMailsAreAddedByUpdateAndKeptOnePerKey) {
  store(7);
  n.UpdateNotificationEmail(-2, 7, 2, "Copy", "Copy body", "x@example.test", true, false);
  EXPECT_EQ(scalar("SELECT SUBJECT || '|' || BODY || '|' || CC || '|' || CCDOC || CCATT FROM NOTIFICATIONEMAIL "
                   "WHERE BUSINESSPARTNERID = -2 AND DOCUMENTID = 7 AND MODE = 2"),
            "Copy|Copy body|x@example.test|10");
  n.UpdateNotificationEmail(-2, 7, 2, "Copy 2", "Body 2", "y@example.test", false, true);
  EXPECT_EQ(scalar("SELECT COUNT(*) || SUBJECT || CC || CCDOC || CCATT FROM NOTIFICATIONEMAIL"),
            "1Copy 2y@example.test01");

  EXPECT_RAISES(test::kAnyError, n.AddNotificationEmail(-2, 7, 2, "again", "again", "", false, false));
  n.AddNotificationEmail(200, 7, 2, "For Borealis", "body", "", false, false);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM NOTIFICATIONEMAIL WHERE DOCUMENTID = 7"), "2");

  n.DeleteNotificationEmail(-2, 7, 1);  // none: no error
  n.DeleteNotificationEmail(-2, 7, 2);
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(BUSINESSPARTNERID) FROM NOTIFICATIONEMAIL"), "200");
}

TEST_F(NotificationTemplatesTest, PlaceholdersAreCheckedForWhereTheyAreStored) {
  std::string invalid = "stale";
  // A sender's body may name the lists and link to the outbox and error box.
  EXPECT_TRUE(n.IsValidBodyForNotificationTemplate("ORDER", 200, 1, "To: [%TOLIST%] [%OUTBOXLINK%]", invalid));
  EXPECT_EQ(invalid, "");
  // ... the copy template may not, nor may a subject.
  EXPECT_FALSE(n.IsValidBodyForNotificationTemplate("ORDER", -2, 1, "To: [%TOLIST%]", invalid));
  EXPECT_EQ(invalid, "'[%TOLIST%]'");
  EXPECT_FALSE(n.IsValidSubjectForNotificationTemplate("ORDER", 200, 1, "[%ccList%] for [%DOCID%]", invalid));
  EXPECT_EQ(invalid, "'[%CCLIST%]'");

  // A recipient's body may link to the inbox only; the check finds any letter case.
  EXPECT_TRUE(n.IsValidBodyForNotificationTemplate("ORDER", 200, 2, "[%inboxlink%] [%DOCTYPE%]", invalid));
  EXPECT_FALSE(n.IsValidBodyForNotificationTemplate("ORDER", 200, 2,
                                                    "[%ErrorBoxLink%] [%INBOXLINK%] [%outboxlink%]", invalid));
  EXPECT_EQ(invalid, "'[%OUTBOXLINK%]', '[%ERRORBOXLINK%]'");
  EXPECT_FALSE(n.IsValidBodyForNotificationTemplate("ORDER", -2, 2, "[%INBOXLINK%]", invalid));
  EXPECT_FALSE(n.IsValidSubjectForNotificationTemplate("ORDER", 200, 2, "[%INBOXLINK%]", invalid));

  // Stored mails are final texts: every placeholder is out of place there.
  EXPECT_FALSE(n.IsValidSubjectForNotificationEmail("Order [%DOCTYPE%] [%docid%]", invalid));
  EXPECT_EQ(invalid, "'[%DOCID%]', '[%DOCTYPE%]'");
  EXPECT_FALSE(n.IsValidBodyForNotificationEmail("[%INBOXLINK%] [%TOLIST%]", invalid));
  EXPECT_EQ(invalid, "'[%INBOXLINK%]', '[%TOLIST%]'");
  EXPECT_TRUE(n.IsValidBodyForNotificationEmail("Order 42 [%OTHER%] 100% [%", invalid));
  EXPECT_EQ(invalid, "");
}

TEST_F(NotificationTemplatesTest, MethodsAreCallableByName) {
  addTemplate("ORDER", 200, 2, "Subject", "Body", true, false);
  std::vector<Variant> args{Variant("ORDER"), Variant(200), Variant(2), Variant(), Variant(), Variant(), Variant()};
  EXPECT_TRUE(n.invoke("GetNotificationTemplateProperties", args).toBool());
  EXPECT_EQ(args[3].text() + "|" + args[4].text(), "Subject|Body");
  EXPECT_TRUE(args[5].toBool());
  EXPECT_FALSE(args[6].toBool());

  std::vector<Variant> check{Variant("[%DOCID%]"), Variant()};
  EXPECT_FALSE(n.invoke("IsValidSubjectForNotificationEmail", check).toBool());
  EXPECT_EQ(check[1].text(), "'[%DOCID%]'");

  // The optional lists of GetNotificationProperties may be left out.
  store(5);
  std::vector<Variant> props{Variant(200), Variant(5), Variant(2), Variant(), Variant(), Variant(), Variant(), Variant()};
  EXPECT_TRUE(n.invoke("GetNotificationProperties", props).toBool());
  EXPECT_EQ(props.size(), 10u);
  EXPECT_EQ(props[3].text(), "Subject");
}

}  // namespace
}  // namespace quillon
