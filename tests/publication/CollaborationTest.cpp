// Recipients' copies, document status, publication errors and the portal's
// query texts, on a real site with seeded documents. Every query text is
// run on the site database through the platform's own connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "document/Document.h"
#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "platform/Object.h"
#include "publication/Collaboration.h"
#include "publication/Utility.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

class CollaborationTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, EXTDESCRIPTION, ICONFILENAME, SHOWACCEPTREJECT) VALUES"
         " ('ORDER', 'Purchase order', 'Orders', 'order.gif', 1), ('INVOICE', 'Invoice', 'Bills', 'inv.gif', 0),"
         " ('SHIP', 'Shipping notice', '', '', 0)");
    exec("INSERT INTO DISTRIBUTIONLIST VALUES ('ORDER', 200, 'bob', 1, 0, 0), ('ORDER', 200, 'carol', 0, 0, 0),"
         " ('ORDER', 300, 'dave', 1, 0, 0), ('INVOICE', 200, 'bob', 0, 0, 0)");
    // 1: published order with three recipients; 2: a new order; 3: a deleted
    // invoice; 4: a hidden invoice of dave's; 5: a child of 1 sent by bob.
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, SHOW, DOC_DOCUMENTID) VALUES"
         " (1, 'ORDER', 'alice', 1, 1, NULL), (2, 'ORDER', 'alice', 0, 1, NULL), (3, 'INVOICE', 'alice', 4, 1, NULL),"
         " (4, 'INVOICE', 'dave', 1, 0, NULL), (5, 'ORDER', 'bob', 1, 1, 1)");
    exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS, FORWARD) VALUES (1, 'bob', 0, 1), (1, 'carol', 5, 0),"
         " (1, 'dave', 1, 0), (2, 'bob', 0, 0), (3, 'bob', 2, 0), (4, 'bob', 0, 0), (5, 'bob', 0, 0), (5, 'carol', 6, 0)");
    exec("INSERT INTO TAGSCONFIG (TAGID, DOCUMENTTYPEID, DESCRIPTION, SEQUENCENUMBER) VALUES (1, 'ORDER', 'Number', 2),"
         " (2, 'ORDER', 'Buyer', 1)");
    exec("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) VALUES (1, 1, '4711'), (1, 2, 'ACME'), (2, 1, '4712')");
    exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (1, 'a.pdf'), (1, 'b.pdf'), (2, 'c.pdf')");
    std::string db = dir() + "/directory.db";
    DirectoryAdmin::AddPartner(db, 100, "Acme Supplies", "ACME-C", "ACME-S");
    DirectoryAdmin::AddPartner(db, 200, "Borealis Retail", "BOR-C", "BOR-S");
    DirectoryAdmin::AddPartner(db, 300, "Cobalt Logistics", "COB-C", "COB-S");
    for (auto [cn, bp] : std::vector<std::pair<std::string, int>>{{"alice", 100}, {"bob", 200}, {"carol", 200}, {"dave", 300}}) {
      DirectoryAdmin::UserRecord u;
      u.cn = cn;
      u.partnerID = bp;
      u.email = cn + "@example.com";
      DirectoryAdmin::AddUser(db, u);
    }
  }

  std::string copy(int doc, const std::string& user) {
    return scalar("SELECT STATUS FROM PUBLICATION WHERE DOCUMENTID = " + std::to_string(doc) + " AND USERID = '" + user + "'");
  }
  void setCopy(int doc, const std::string& user, int status) {
    exec("UPDATE PUBLICATION SET STATUS = " + std::to_string(status) + " WHERE DOCUMENTID = " + std::to_string(doc) +
         " AND USERID = '" + user + "'");
  }
  std::string docStatus(int doc) { return scalar("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(doc)); }
  void setDocStatus(int doc, int status) {
    exec("UPDATE DOCUMENT SET STATUS = " + std::to_string(status) + " WHERE DOCUMENTID = " + std::to_string(doc));
  }
  int addError(int doc, const std::string& label, int closed) {
    exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, ERRORNUMBER, DESCRIPTION, LABEL, CLOSED) VALUES (" +
         std::to_string(doc) + ", 1, 'failed', '" + label + "', " + std::to_string(closed) + ")");
    return std::stoi(scalar("SELECT MAX(PUBLICATIONERRORID) FROM PUBLICATIONERRORS"));
  }
  std::string closed(int errorID) {
    return scalar("SELECT CLOSED FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " + std::to_string(errorID));
  }

  // Runs a returned query text on the site database; each row as its
  // named columns joined with "|".
  std::vector<std::string> run(const std::string& sql, const std::vector<std::string>& columns) {
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(sql);
    std::vector<std::string> rows;
    while (!rs->EOF_()) {
      std::string row;
      for (const std::string& c : columns) row += (row.empty() ? "" : "|") + rs->Fields(c).Value().text();
      rows.push_back(row);
      rs->MoveNext();
    }
    return rows;
  }
  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
  using Rows = std::vector<std::string>;

  Collaboration c;
};

// ---- the state machine of a recipient's copy -----------------------------------------------

TEST_F(CollaborationTest, CopyTransitions) {
  // current, requested, stored
  const std::vector<std::tuple<int, int, int>> cases = {
      // a new copy takes what is asked
      {0, 5, 5}, {0, 6, 6}, {0, 1, 1}, {0, 4, 4},
      // viewing and downloading never downgrade, nothing returns to new
      {5, 0, 5}, {5, 6, 6}, {5, 1, 1}, {6, 5, 6}, {6, 0, 6}, {6, 4, 4},
      {1, 5, 1}, {1, 6, 1}, {1, 0, 1}, {4, 6, 4}, {4, 0, 4}, {8, 5, 8}, {2, 0, 2},
      // a rejected copy can still be accepted
      {4, 1, 1},
      // deleting keeps what the recipient had done
      {0, 2, 2}, {1, 2, 3}, {4, 2, 7}, {5, 2, 8}, {6, 2, 9}, {0, 9, 2}, {1, 7, 3},
      // an already deleted copy stores the requested value
      {3, 2, 2}, {2, 7, 7},
  };
  for (auto [current, requested, stored] : cases) {
    setCopy(1, "bob", current);
    c.SetPublicationStatus(1, "bob", requested);
    EXPECT_EQ(copy(1, "bob"), std::to_string(stored)) << current << " asked for " << requested;
  }
  EXPECT_EQ(copy(1, "carol"), "5");  // other copies untouched
  EXPECT_EQ(c.GetPublicationStatus(1, "bob"), 7);
  EXPECT_EQ(c.GetPublicationStatus(1, "nobody"), -1);
}

TEST_F(CollaborationTest, StatusRequestsOutsideTheStateMachine) {
  // No copy: nothing is written and no row appears.
  c.SetPublicationStatus(1, "nobody", 5);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATION WHERE USERID = 'nobody'"), "0");
  // A value that is no status is refused rather than stored.
  for (int bad : {-1, 10, 42}) {
    EXPECT_RAISES(InvalidParamValue, c.SetPublicationStatus(1, "bob", bad));
  }
  EXPECT_EQ(copy(1, "bob"), "0");
  // With an error id only the link changes.
  c.SetPublicationStatus(1, "carol", 1, 77);
  EXPECT_EQ(copy(1, "carol"), "5");
  EXPECT_EQ(scalar("SELECT PUBLICATIONERRORID FROM PUBLICATION WHERE DOCUMENTID = 1 AND USERID = 'carol'"), "77");
  EXPECT_EQ(scalar("SELECT PUBLICATIONERRORID FROM PUBLICATION WHERE DOCUMENTID = 1 AND USERID = 'bob'"), "NULL");
}

// ---- acceptance and the document's status ----------------------------------------------------

TEST_F(CollaborationTest, AcceptanceByEarlierAndLastRecipient) {
  c.AcceptPublication(1, "bob");
  EXPECT_EQ(copy(1, "bob"), "1");
  EXPECT_EQ(docStatus(1), "3");  // carol has not accepted yet
  // An accepted copy the recipient deleted still counts as accepted.
  setCopy(1, "dave", 3);
  c.AcceptPublication(1, "carol");
  EXPECT_EQ(copy(1, "carol"), "1");
  EXPECT_EQ(docStatus(1), "2");

  // Someone without a copy cannot move the document's status.
  setDocStatus(1, 1);
  Error e = EXPECT_RAISES(NotPresent, c.AcceptPublication(1, "mallory"));
  EXPECT_NE(e.description().find("METHOD: Quillon.Collaboration.AcceptPublication"), std::string::npos);
  EXPECT_EQ(docStatus(1), "1");

  // A deleted document stays deleted when its last recipient accepts.
  c.AcceptPublication(3, "bob");
  EXPECT_EQ(docStatus(3), "4");
}

TEST_F(CollaborationTest, DocumentStatusRules) {
  Document d;
  d.SetDocumentStatus(3, DOCUMENTSTATUS::DOCUMENTDELETED);
  EXPECT_EQ(docStatus(3), "4");
  d.SetDocumentStatus(3, DOCUMENTSTATUS::DOCUMENTACCEPTED);
  EXPECT_EQ(docStatus(3), "4");
  setDocStatus(4, 5);
  d.SetDocumentStatus(4, DOCUMENTSTATUS::DOCUMENTPUBLISHED);
  EXPECT_EQ(docStatus(4), "5");
  d.SetDocumentStatus(4, DOCUMENTSTATUS::DOCUMENTACCEPTED);
  EXPECT_EQ(docStatus(4), "2");
  EXPECT_RAISES(InvalidParamValue, d.SetDocumentStatus(4, static_cast<DOCUMENTSTATUS>(9)));
  EXPECT_EQ(docStatus(4), "2");

  // Publishing a new document closes its "CannotPublish" errors only.
  int unknownUser = addError(2, "SLBSH0008", 0);
  int badPartner = addError(2, "SLBSH4482", 2);
  int attachment = addError(2, "SLBSH1808", 0);
  int otherDoc = addError(1, "SLBSH0008", 0);
  d.SetDocumentStatus(2, DOCUMENTSTATUS::DOCUMENTPUBLISHED);
  EXPECT_EQ(docStatus(2), "1");
  EXPECT_EQ(closed(unknownUser), "1");
  EXPECT_EQ(closed(badPartner), "3");
  EXPECT_EQ(closed(attachment), "0");
  EXPECT_EQ(closed(otherDoc), "0");

  // Deleting a new document removes its publications; a published one keeps them.
  setDocStatus(2, 0);
  d.SetDocumentStatus(1, DOCUMENTSTATUS::DOCUMENTDELETED);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATION WHERE DOCUMENTID = 1"), "3");
  d.SetDocumentStatus(2, DOCUMENTSTATUS::DOCUMENTDELETED);
  EXPECT_EQ(docStatus(2), "4");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATION WHERE DOCUMENTID = 2"), "0");
}

TEST_F(CollaborationTest, DeletingFromOnesView) {
  EXPECT_TRUE(c.deleteDocument2(1, "ORDER", value(SENDERMODE::RECEIVERMODE), "dave", ""));
  EXPECT_EQ(copy(1, "dave"), "3");
  EXPECT_TRUE(c.deleteDocument2(1, "ORDER", value(SENDERMODE::ERRORMODE), "carol", ""));
  EXPECT_EQ(copy(1, "carol"), "8");
  // Only the sender deletes the document itself.
  EXPECT_FALSE(c.deleteDocument2(1, "ORDER", value(SENDERMODE::SENDERMODE), "bob", ""));
  EXPECT_EQ(docStatus(1), "1");
  EXPECT_TRUE(c.deleteDocument2(1, "ORDER", value(SENDERMODE::SENDERMODE), "alice", ""));
  EXPECT_EQ(docStatus(1), "4");
  EXPECT_FALSE(c.deleteDocument2(2, "ORDER", value(SENDERMODE::UPLOADMODE), "alice", ""));
  EXPECT_EQ(docStatus(2), "0");

  // Child document 5: bob both sent it and holds a copy, carol holds one.
  EXPECT_TRUE(c.deleteDocument2(5, "ORDER", value(SENDERMODE::RECEIVERMODE), "bob", "", true));
  EXPECT_EQ(copy(5, "bob"), "2");
  EXPECT_EQ(docStatus(5), "4");
  EXPECT_TRUE(c.deleteDocument2(5, "ORDER", value(SENDERMODE::SENDERMODE), "carol", "", true));
  EXPECT_EQ(copy(5, "carol"), "9");
  EXPECT_FALSE(c.deleteDocument2(5, "ORDER", value(SENDERMODE::RECEIVERMODE), "dave", "", true));
}

// ---- publication errors ----------------------------------------------------------------------

TEST_F(CollaborationTest, ClosingErrors) {
  int a = addError(1, "SLBSH0008", 4);
  int b = addError(1, "SLBSH4476", 0);
  int d = addError(1, "SLBSH4479", 0);
  int other = addError(2, "SLBSH0008", 0);
  c.ClosePublicationErrors(other, 1);  // not an error of document 1
  EXPECT_EQ(closed(other), "0");
  c.ClosePublicationErrors(other);
  EXPECT_EQ(closed(other), "1");

  c.ClosePublicationErrorsForOneCategory(1, "sElEcTrEcIpIeNtS");
  EXPECT_EQ(closed(a), "5");
  EXPECT_EQ(closed(b), "1");
  EXPECT_EQ(closed(d), "0");
  c.ClosePublicationErrorsForOneCategory(1, "CANNOTPUBLISH");
  EXPECT_EQ(closed(d), "1");

  Error e = EXPECT_RAISES(InvalidParamValue, c.ClosePublicationErrorsForOneCategory(1, "Sending"));
  EXPECT_EQ(e.source(), "Quillon.Collaboration.ClosePublicationErrorsForOneCategory");
  EXPECT_NE(e.description().find(" caught: Not supported Category : Sending("), std::string::npos) << e.description();
}

TEST_F(CollaborationTest, HidingAndDeletingErrors) {
  int e1 = addError(1, "SLBSH0008", 0);
  int e2 = addError(1, "SLBSH0008", 1);
  int foreign = addError(4, "SLBSH0008", 0);
  c.SetPublicationErrorStatusToRemoved(1, "alice", e1);  // the sender
  EXPECT_EQ(closed(e1), "2");
  c.SetPublicationErrorStatusToRemoved(1, "bob", e1);  // a recipient
  EXPECT_EQ(closed(e1), "6");
  c.SetPublicationErrorStatusToRemoved(1, "mallory", e2);
  EXPECT_EQ(closed(e2), "1");
  // The sender of document 1 cannot hide an error of document 4.
  c.SetPublicationErrorStatusToRemoved(1, "alice", foreign);
  EXPECT_EQ(closed(foreign), "0");

  c.DeletePublicationErrors(1);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE DOCUMENTID = 1"), "0");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS"), "1");
}

// ---- query texts run on the site database ----------------------------------------------------

TEST_F(CollaborationTest, DetailQueries) {
  const Rows senderView = {"Purchase order|1|Buyer|ACME", "Purchase order|1|Number|4711"};
  EXPECT_EQ(run(c.GetDocumentDetails2(0, 1, "alice"), {"DESCRIPTION", "STATUS", "TAGDESCRIPTION", "TAGVALUE"}), senderView);
  EXPECT_EQ(run(c.GetDocumentDetails2(0, 1, "bob"), {"STATUS"}), Rows{});
  EXPECT_EQ(run(c.GetDocumentDetails2(2, 1, "bob"), {"SENDER", "TAGDESCRIPTION", "TAGVALUE"}),
            (Rows{"alice|Buyer|ACME", "alice|Number|4711"}));
  // A tag without a value still gives its row; a deleted document none.
  EXPECT_EQ(run(c.GetDocumentDetails2(0, 2, "alice"), {"TAGDESCRIPTION", "TAGVALUE"}), (Rows{"Buyer|", "Number|4712"}));
  EXPECT_EQ(run(c.GetDocumentDetails2(0, 3, "alice"), {"STATUS"}), Rows{});

  EXPECT_EQ(run(c.GetDocumentDetails2(1, 1, "bob"), {"SENDER", "STATUS", "FORWARD", "TAGDESCRIPTION", "TAGVALUE"}),
            (Rows{"alice|0|1|Buyer|ACME", "alice|0|1|Number|4711"}));
  EXPECT_EQ(run(c.GetDocumentDetails2(1, 1, "alice"), {"STATUS"}), Rows{});
  EXPECT_EQ(run(c.GetDocumentDetails2(1, 2, "bob"), {"STATUS"}), Rows{});  // not published yet
  EXPECT_EQ(c.GetDocumentDetails2(3, 1, "alice"), "");
}

TEST_F(CollaborationTest, AddresseeAndAttachmentQueries) {
  EXPECT_EQ(sorted(run(c.GetAddresseeStatusQueryStr(1, "alice"), {"BUSINESSPARTNERID", "USERID", "STATUS"})),
            (Rows{"200|bob|0", "200|carol|5", "300|dave|1"}));
  EXPECT_EQ(run(c.GetAddresseeStatusQueryStr(1, "alice"), {"BUSINESSPARTNERID"}).back(), "300");
  EXPECT_EQ(run(c.GetAddresseeStatusQueryStr(1, "bob"), {"USERID"}), Rows{});
  EXPECT_EQ(sorted(run(c.GetAddresseeStatusQueryStr2(1, "alice"), {"USERID", "STATUS"})),
            (Rows{"bob|0", "carol|5", "dave|1"}));
  EXPECT_EQ(run(c.GetAddresseeStatusQueryStr2(1, "carol"), {"USERID"}), Rows{});

  auto files = run(c.GetDocumentAttachmentsQueryStr(false, 1, "bob"), {"ATTACHMENTFILENAME", "ATTACHMENTID"});
  EXPECT_EQ(sorted(files), (Rows{"a.pdf|1", "b.pdf|2"}));
  EXPECT_EQ(run(c.GetDocumentAttachmentsQueryStr(true, 4, "dave"), {"ATTACHMENTID"}), Rows{});
}

TEST_F(CollaborationTest, DocumentTypeListQueries) {
  exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS) VALUES (6, 'SHIP', 'alice', 0), (7, 'SHIP', 'alice', 2)");
  const std::vector<std::string> cols = {"DESCRIPTION", "DOCUMENTTYPEID", "ICONFILENAME", "EXTDESCRIPTION"};
  // The sender's types, without the deleted invoice, once each.
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(0, "alice"), cols),
            (Rows{"Purchase order|ORDER|order.gif|Orders", "Shipping notice|SHIP||"}));
  // The recipient's: live copies of published, shown documents only.
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(1, "bob"), {"DOCUMENTTYPEID"}), Rows{"ORDER"});
  setCopy(3, "bob", 0);
  exec("UPDATE DOCUMENT SET SHOW = 1 WHERE DOCUMENTID = 4");
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(1, "bob"), {"DOCUMENTTYPEID"}), (Rows{"INVOICE", "ORDER"}));
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(1, "alice"), {"DOCUMENTTYPEID"}), Rows{});

  // The error box: the sender's visible errors, and a recipient's through
  // the delivery to the recipient's partner.
  int orderError = addError(1, "SLBSH0008", 0);
  int invoiceError = addError(4, "SLBSH0008", 0);
  exec("INSERT INTO SENDMETHODHISTORY (BUSINESSPARTNERID, DOCUMENTID, PUBLICATIONERRORID) VALUES (200, 1, " +
       std::to_string(orderError) + "), (200, 4, " + std::to_string(invoiceError) + ")");
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(2, "alice"), {"DOCUMENTTYPEID"}), Rows{"ORDER"});
  EXPECT_EQ(sorted(run(c.GetDocumentTypeListQueryStr2(2, "bob"), {"DOCUMENTTYPEID"})), (Rows{"INVOICE", "ORDER"}));
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(2, "dave"), cols), Rows{"Invoice|INVOICE|inv.gif|Bills"});  // its sender
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(2, "carol"), {"DOCUMENTTYPEID"}), Rows{"ORDER"});  // same partner as bob
  exec("UPDATE PUBLICATIONERRORS SET CLOSED = 4 WHERE PUBLICATIONERRORID = " + std::to_string(orderError));
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(2, "bob"), {"DOCUMENTTYPEID"}), Rows{"INVOICE"});
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(2, "alice"), {"DOCUMENTTYPEID"}), Rows{"ORDER"});
  exec("UPDATE PUBLICATIONERRORS SET CLOSED = 3 WHERE PUBLICATIONERRORID = " + std::to_string(orderError));
  EXPECT_EQ(run(c.GetDocumentTypeListQueryStr2(2, "alice"), {"DOCUMENTTYPEID"}), Rows{});
  EXPECT_EQ(c.GetDocumentTypeListQueryStr2(7, "alice"), "");
}

TEST_F(CollaborationTest, AllDocumentTypesAndTheirOrdering) {
  exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES (' PAD ', '  Padded ')");
  auto keys = [](const std::shared_ptr<Dictionary>& d) { return d->Keys(); };
  auto byDescription = c.getAllDocumentTypes(Variant("DESCRIPTION desc"));
  EXPECT_EQ(keys(byDescription), (std::vector<std::string>{"SHIP", "ORDER", "INVOICE", "PAD"}));
  EXPECT_EQ(byDescription->Item("PAD").text(), "Padded");
  EXPECT_EQ(keys(c.getAllDocumentTypes(Variant(" DOCUMENTTYPE.DESCRIPTION ASC , DOCUMENTTYPEID"))),
            (std::vector<std::string>{"PAD", "INVOICE", "ORDER", "SHIP"}));
  EXPECT_EQ(c.getAllDocumentTypes()->Count(), 4);
  EXPECT_EQ(c.getAllDocumentTypes(Variant::null())->Count(), 4);
  EXPECT_EQ(c.getAllDocumentTypes(Variant("  "))->Count(), 4);
  for (const char* bad : {"DESCRIPTION; DELETE FROM DOCUMENTTYPE", "1", "DESCRIPTION DESC LIMIT 1", "DESCRIPTION,",
                          "(SELECT 1)", "DESCRIPTION UP"}) {
    EXPECT_RAISES(InvalidParamValue, c.getAllDocumentTypes(Variant(bad)));
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENTTYPE"), "4");
}

TEST_F(CollaborationTest, InboxCounters) {
  EXPECT_FALSE(c.showCountOfNewDocumentsInInbox());
  setConfigValue("Z2IZezazaConfiguration.xml", "GLOBAL", "ShowCountNewDocuments", "1");
  EXPECT_TRUE(c.showCountOfNewDocumentsInInbox());
  setConfigValue("Z2IZezazaConfiguration.xml", "GLOBAL", "ShowCountNewDocuments", "yes");
  EXPECT_FALSE(c.showCountOfNewDocumentsInInbox());

  // Document 2 is still new: bob's new copies are those of 1 and of the child 5.
  EXPECT_EQ(c.countNewDocumentsForInbox("ORDER", "bob"), 2);
  EXPECT_EQ(c.countNewDocumentsForInbox("ORDER", "carol"), 0);
  EXPECT_EQ(c.countNewDocumentsForInbox("INVOICE", "bob"), 0);  // deleted copy, hidden document
}

// ---- Utility's status helpers ------------------------------------------------------------------

TEST_F(CollaborationTest, UtilityStatusHelpers) {
  Utility u;
  EXPECT_EQ(u.GetPublicationStatus(1, "carol"), 5);
  EXPECT_EQ(u.GetPublicationStatus(1, "alice"), -1);
  EXPECT_EQ(u.GetForwardFlag(1, "bob"), 1);
  EXPECT_EQ(u.GetForwardFlag(1, "carol"), 0);
  EXPECT_EQ(u.GetForwardFlag(2, "carol"), -1);
  EXPECT_TRUE(u.ShowAcceptRejectButtons("ORDER"));
  EXPECT_FALSE(u.ShowAcceptRejectButtons("INVOICE"));
  EXPECT_FALSE(u.ShowAcceptRejectButtons("NOSUCH"));

  const std::vector<std::pair<std::string, PUBLICATIONSTATUS>> names = {
      {"  Viewed ", PUBLICATIONSTATUS::PUBLICATIONVIEWED}, {"ACCEPT", PUBLICATIONSTATUS::PUBLICATIONACC},
      {"reject", PUBLICATIONSTATUS::PUBLICATIONREJECTED},  {"DownLoad", PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED},
      {"new", PUBLICATIONSTATUS::PUBLICATIONNEW},          {"vIEWED", PUBLICATIONSTATUS::PUBLICATIONUNKNOWNSTATUS},
      {"Downloads", PUBLICATIONSTATUS::PUBLICATIONUNKNOWNSTATUS}, {"", PUBLICATIONSTATUS::PUBLICATIONUNKNOWNSTATUS}};
  for (auto [text, expected] : names) {
    std::string s = text;
    EXPECT_EQ(u.ConvertPublicationStatusFromStringToEnum(s), expected) << text;
    EXPECT_EQ(s.find(' '), std::string::npos);
  }
}

// ---- calls by name ------------------------------------------------------------------------------

TEST_F(CollaborationTest, ByNameCalls) {
  auto collaboration = Registry::instance().create("Quillon.Collaboration");
  std::vector<Variant> args{Variant(1), Variant("bob"), Variant(5)};
  collaboration->invoke("SetPublicationStatus", args);
  EXPECT_EQ(copy(1, "bob"), "5");
  std::vector<Variant> none;
  EXPECT_EQ(collaboration->invoke("getAllDocumentTypes", none).as<Dictionary>()->Count(), 3);
  std::vector<Variant> del{Variant(1), Variant("ORDER"), Variant(1), Variant("carol"), Variant("")};
  EXPECT_TRUE(collaboration->invoke("deleteDocument2", del).toBool());
  EXPECT_EQ(copy(1, "carol"), "8");

  auto utility = Registry::instance().create("Quillon.Utility");
  std::vector<Variant> status{Variant(" view ")};
  EXPECT_EQ(utility->invoke("ConvertPublicationStatusFromStringToEnum", status).toInt32(), 5);
  EXPECT_EQ(status[0].text(), "view");

  auto document = Registry::instance().create("Quillon.Document");
  std::vector<Variant> set{Variant(2), Variant(1)};
  document->invoke("SetDocumentStatus", set);
  EXPECT_EQ(docStatus(2), "1");
}

}  // namespace
}  // namespace quillon
