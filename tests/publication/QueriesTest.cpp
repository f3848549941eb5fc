// The list-view texts run on a real site database with seeded documents,
// publications, tags, attachments and errors; and the document-type
// reference check.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "publication/Queries.h"
#include "publication/SQLQueries.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

constexpr std::int32_t kOutbox = 0, kInbox = 1, kErrorBox = 2;

Variant oneBased(std::vector<Variant> items) {
  VariantArray a(std::vector<VariantArray::Bound>{{1, static_cast<long>(items.size())}});
  for (std::size_t i = 0; i < items.size(); ++i) a.at(static_cast<long>(i) + 1) = items[i];
  return Variant(std::move(a));
}

struct Filter {
  std::string name, value;
};

class ListQueryTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    std::string db = dir() + "/directory.db";
    DirectoryAdmin::AddPartner(db, 100, "Acme Supplies", "ACME-C", "ACME-S");
    DirectoryAdmin::AddPartner(db, 200, "Borealis Retail", "BOR-C", "BOR-S");
    for (auto [cn, bp] : std::vector<std::pair<std::string, int>>{{"alice", 100}, {"bob", 200}, {"carol", 200}}) {
      DirectoryAdmin::UserRecord u;
      u.cn = cn;
      u.partnerID = bp;
      u.email = cn + "@example.com";
      DirectoryAdmin::AddUser(db, u);
    }
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Order'), ('INVOICE', 'Invoice')");
    exec("INSERT INTO TAGSCONFIG (TAGID, DOCUMENTTYPEID, DESCRIPTION, SEQUENCENUMBER) VALUES (11, 'ORDER', 'Number', 1),"
         " (12, 'ORDER', 'Buyer', 2)");
    // id, type, sender, status, show, parent
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, SHOW, DOC_DOCUMENTID, CREATIONDATE) VALUES"
         " (1, 'ORDER', 'alice', 1, 1, NULL, '2026-01-01 10:00:00'),"
         " (2, 'ORDER', 'alice', 1, 1, NULL, '2026-01-02 10:00:00'),"
         " (3, 'ORDER', 'alice', 0, 1, NULL, '2026-01-03 10:00:00'),"
         " (4, 'ORDER', 'alice', 4, 1, NULL, '2026-01-04 10:00:00'),"
         " (5, 'ORDER', 'alice', 1, 0, NULL, '2026-01-05 10:00:00'),"
         " (6, 'INVOICE', 'alice', 1, 1, NULL, '2026-01-06 10:00:00'),"
         " (7, 'INVOICE', 'alice', 1, 1, 1, '2026-01-07 10:00:00'),"
         " (8, 'INVOICE', 'carol', 1, 1, 1, '2026-01-08 10:00:00'),"
         " (9, 'INVOICE', 'carol', 1, 1, 1, '2026-01-09 10:00:00'),"
         " (10, '', 'alice', 1, 1, 1, '2026-01-10 10:00:00')");
    exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS) VALUES (1, 'bob', 0), (1, 'carol', 1), (2, 'bob', 2),"
         " (3, 'bob', 0), (4, 'bob', 1), (5, 'bob', 0), (6, 'bob', 0), (7, 'bob', 5), (9, 'carol', 0), (10, 'bob', 0)");
    exec("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) VALUES (1, 11, 'PO-1'), (1, 12, 'Borealis'),"
         " (3, 11, 'PO-3'), (4, 11, 'PO-4'), (5, 11, 'X-5')");
    exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (1, 'a.pdf'), (1, 'b.pdf'), (3, 'c.pdf')");
    // Errors: CLOSED bit 2 hides from the sender, bit 4 from recipients.
    exec("INSERT INTO PUBLICATIONERRORS (PUBLICATIONERRORID, DOCUMENTID, ERRORNUMBER, CLOSED) VALUES"
         " (1, 1, 1, 0), (2, 2, 1, 0), (3, 3, 1, 2), (4, 5, 1, 4), (5, 7, 1, 0)");
    exec("INSERT INTO SENDMETHODHISTORY (BUSINESSPARTNERID, DOCUMENTID, PUBLICATIONERRORID) VALUES (200, 1, 1), (200, 2, 2),"
         " (200, 5, 4)");
  }

  // Calls the builder with 1-based arrays, as the page passes them.
  void build(std::int32_t mode, const std::string& user, std::int32_t parent, const std::vector<Variant>& tags,
             const std::vector<Filter>& filters, std::string& sql, std::string& errors) {
    std::vector<Variant> names, values;
    for (const Filter& f : filters) {
      names.push_back(Variant(f.name));
      values.push_back(Variant(f.value));
    }
    sql = errors = "unchanged";
    SQLQueries().GetDocListQuery(mode, "ORDER", oneBased(tags), oneBased(std::vector<Variant>(tags.size(), Variant("x"))),
                                 static_cast<std::int32_t>(tags.size()), oneBased(names), oneBased(values),
                                 static_cast<std::int32_t>(filters.size()), parent, user, sql, errors);
  }
  std::string query(std::int32_t mode, const std::string& user, std::int32_t parent = 0, std::vector<Variant> tags = {},
                    std::vector<Filter> filters = {}) {
    std::string sql, errors;
    build(mode, user, parent, tags, filters, sql, errors);
    EXPECT_EQ(errors, "");
    return sql;
  }
  // The o_sErrors text of a refusal.
  std::string refused(std::int32_t mode, std::vector<Filter> filters, std::vector<Variant> tags = {}) {
    std::string sql, errors;
    Error e = EXPECT_RAISES(InvalidParamValue, build(mode, "alice", 0, tags, filters, sql, errors));
    EXPECT_EQ(e.source(), "Quillon.SQLQueries.GetDocListQuery");
    EXPECT_NE(e.description().find("METHOD: Quillon.SQLQueries.GetDocListQuery caught: "), std::string::npos);
    EXPECT_EQ(sql, "");
    return errors;
  }

  // Runs a returned text on the site database: DOCUMENTID -> row count.
  std::map<int, int> run(const std::string& sql) {
    auto conn = DBUtils::GetConnection();
    auto rs = conn->Execute(sql);
    std::map<int, int> rows;
    for (; !rs->EOF_(); rs->MoveNext()) ++rows[rs->Fields("DOCUMENTID").Value().toInt32()];
    rs->Close();
    General::CloseConnection(conn);
    return rows;
  }
  std::set<int> ids(const std::string& sql) {
    std::set<int> out;
    for (auto [id, count] : run(sql)) {
      EXPECT_EQ(count, 1) << "document " << id << " listed more than once";
      out.insert(id);
    }
    return out;
  }
  // One column of the row of a document.
  std::string field(const std::string& sql, int doc, const std::string& column) {
    auto conn = DBUtils::GetConnection();
    auto rs = conn->Execute(sql);
    std::string out = "<no row>";
    for (; !rs->EOF_(); rs->MoveNext())
      if (rs->Fields("DOCUMENTID").Value().toInt32() == doc) out = rs->Fields(column).Value().isNull() ? "NULL" : rs->Fields(column).Value().text();
    rs->Close();
    General::CloseConnection(conn);
    return out;
  }
};

TEST_F(ListQueryTest, InboxListsLiveVisibleCopiesWithTagColumns) {
  std::string sql = query(kInbox, "bob", 0, {Variant(11), Variant("12")});
  // Not 2 (bob deleted his copy), 3 (new), 5 (hidden), 6 (other type).
  EXPECT_EQ(ids(sql), (std::set<int>{1, 4}));
  EXPECT_EQ(field(sql, 1, "T1"), "PO-1");
  EXPECT_EQ(field(sql, 1, "T2"), "Borealis");
  EXPECT_EQ(field(sql, 4, "T2"), "NULL");
  EXPECT_EQ(field(sql, 1, "NR"), "2");
  EXPECT_EQ(field(sql, 1, "CHILDID"), "1");
  EXPECT_EQ(field(sql, 4, "CHILDID"), "NULL");
  EXPECT_EQ(field(sql, 1, "USERID"), "bob");
  EXPECT_EQ(field(sql, 4, "DSTATUS"), "4");
  EXPECT_EQ(ids(query(kInbox, "carol")), (std::set<int>{1}));
}

TEST_F(ListQueryTest, InboxChildrenOfAParent) {
  // 7 is bob's, 8 has no recipients; 9 is carol's only; 10 has no type.
  std::string sql = query(kInbox, "bob", 1, {Variant(11)});
  EXPECT_EQ(sql.find("T1"), std::string::npos);  // no tag columns for children
  EXPECT_EQ(ids(sql), (std::set<int>{7, 8}));
  EXPECT_EQ(ids(query(kInbox, "carol", 1)), (std::set<int>{8, 9}));
}

TEST_F(ListQueryTest, OutboxListsTheSendersDocumentsOnce) {
  std::string sql = query(kOutbox, "alice", 0, {Variant(11)});
  // Every document of the type that is not deleted, whatever its recipients or show flag.
  EXPECT_EQ(ids(sql), (std::set<int>{1, 2, 3, 5}));
  EXPECT_EQ(field(sql, 5, "T1"), "X-5");
  EXPECT_EQ(field(sql, 3, "NR"), "1");
  EXPECT_EQ(field(sql, 2, "NR"), "NULL");
  EXPECT_EQ(ids(query(kOutbox, "bob")), (std::set<int>{}));
  // Modes other than inbox and error box list the outbox.
  EXPECT_EQ(ids(query(value(SENDERMODE::CHANGEDOCTYPEMODE), "alice")), (std::set<int>{1, 2, 3, 5}));

  EXPECT_EQ(ids(query(kOutbox, "alice", 1)), (std::set<int>{7, 8}));
  EXPECT_EQ(ids(query(kOutbox, "carol", 1)), (std::set<int>{8, 9}));
}

TEST_F(ListQueryTest, ErrorBoxForSenderAndRecipients) {
  // alice sends: error 3 is hidden from her, error 4 only from recipients.
  std::string sql = query(kErrorBox, "alice", 0, {Variant(11)});
  EXPECT_EQ(ids(sql), (std::set<int>{1, 2, 5}));
  EXPECT_EQ(field(sql, 1, "T1"), "PO-1");
  // bob sees the errors his partner's deliveries had on his live, visible copies.
  EXPECT_EQ(ids(query(kErrorBox, "bob")), (std::set<int>{1}));
  EXPECT_EQ(ids(query(kErrorBox, "alice", 1)), (std::set<int>{7}));
  EXPECT_EQ(ids(query(kErrorBox, "bob", 1)), (std::set<int>{}));
  EXPECT_EQ(ids(query(kErrorBox, "alice", 0, {}, {{"DOCUMENT.DOCUMENTID =", "5"}})), (std::set<int>{5}));
  // A status filter means nothing in the error box.
  EXPECT_EQ(ids(query(kErrorBox, "alice", 0, {}, {{"DOCUMENT.STATUS =", "nonsense"}})), (std::set<int>{1, 2, 5}));
}

TEST_F(ListQueryTest, FiltersNarrowTheLists) {
  EXPECT_EQ(ids(query(kOutbox, "alice", 0, {Variant(11)}, {{"T1.TAGVALUE like", "PO-%"}})), (std::set<int>{1, 3}));
  EXPECT_EQ(ids(query(kOutbox, "alice", 0, {}, {{"DOCUMENT.SENDER LIKE", "O'Brien"}})), (std::set<int>{}));
  EXPECT_EQ(ids(query(kOutbox, "alice", 0, {}, {{"DOCUMENT.DOCUMENTID =", "3"}})), (std::set<int>{3}));
  EXPECT_EQ(ids(query(kOutbox, "alice", 0, {}, {{"DOCUMENT.DOCUMENTID >=", "2"}, {"DOCUMENT.DOCUMENTID <", "5"}})),
            (std::set<int>{2, 3}));
  EXPECT_EQ(ids(query(kOutbox, "alice", 0, {}, {{"DOCUMENT.DOCUMENTID =", "999999999"}})), (std::set<int>{}));
  // Document statuses in the outbox, trimmed; recipient statuses in the inbox.
  EXPECT_EQ(ids(query(kOutbox, "alice", 0, {}, {{"DOCUMENT.STATUS =", " New "}})), (std::set<int>{3}));
  EXPECT_EQ(ids(query(kInbox, "bob", 0, {}, {{"PUBLICATION.STATUS =", "Accepted "}})), (std::set<int>{4}));
  EXPECT_EQ(ids(query(kInbox, "bob", 1, {}, {{"PUBLICATION.STATUS =", "viewed"}})), (std::set<int>{7}));
  // A pair no filter kind takes adds nothing; a blank name is skipped.
  EXPECT_EQ(ids(query(kOutbox, "alice", 0, {}, {{"DOCUMENT.SENDER", "bob"}, {"", "x"}})), (std::set<int>{1, 2, 3, 5}));
}

TEST_F(ListQueryTest, RefusedValuesFillTheErrors) {
  const std::string number = "The value entered for 'Filter' is not a valid document number.|Enter a whole number from 1 to 999999999.";
  for (const char* v : {"0", "1000000000", "abc", ""}) EXPECT_EQ(refused(kOutbox, {{"DOCUMENT.DOCUMENTID =", v}}), number) << v;
  const std::string status = "The value entered for 'Filter' is not a valid status.";
  EXPECT_EQ(refused(kOutbox, {{"DOCUMENT.STATUS =", "nEw"}}),
            status + "|Allowed values: New, Published, Accepted, Partially Accepted, Deleted, Sent.");
  EXPECT_EQ(refused(kOutbox, {{"DOCUMENT.STATUS =", "New*"}}),
            status + "|Allowed values: New, Published, Accepted, Partially Accepted, Deleted, Sent."
                     "|Wildcards (*) are not allowed in a status filter.");
  EXPECT_EQ(refused(kInbox, {{"PUBLICATION.STATUS =", "Published"}}),
            status + "|Allowed values: New, Accepted, Rejected, Viewed, Downloaded.");
}

TEST_F(ListQueryTest, OnlyColumnExpressionsAndWholeTagIDsReachTheText) {
  for (const char* name : {"DOCUMENT.SENDER like'x' OR 1=1 --", "1=1) OR (DOCUMENT.SENDER like", "DOCUMENT.SENDER; DROP TABLE X like",
                           "DOCUMENT.DOCUMENTID", "DOCUMENT.SENDERlike", "A.B.C like"}) {
    std::string errors = refused(kOutbox, {{name, "1"}});
    EXPECT_NE(errors.find("is not a column name followed by a comparison"), std::string::npos) << name;
  }
  for (const Variant& tag : {Variant("1) OR (1=1"), Variant("-1"), Variant(1.5), Variant("")}) {
    EXPECT_NE(refused(kOutbox, {}, {tag}).find("is not a whole number"), std::string::npos) << tag.text();
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "10");
}

TEST_F(ListQueryTest, ByNameCallWritesTheOutputs) {
  auto q = Registry::instance().create("Quillon.SQLQueries");
  std::vector<Variant> args{Variant(kOutbox), Variant("ORDER"), Variant(), Variant(), Variant(0),
                            oneBased({Variant("DOCUMENT.DOCUMENTID =")}), oneBased({Variant("3")}), Variant(1),
                            Variant(0), Variant("alice"), Variant("x"), Variant("x")};
  q->invoke("GetDocListQuery", args);
  EXPECT_EQ(ids(args[10].text()), (std::set<int>{3}));
  EXPECT_EQ(args[11].text(), "");
  args[6] = oneBased({Variant("0")});
  EXPECT_RAISES(InvalidParamValue, q->invoke("GetDocListQuery", args));
}

TEST_F(ListQueryTest, AnyOtherFailureLeavesItsDescriptionInTheErrors) {
  std::string sql, errors;
  SQLQueries q;
  // More filters than the arrays hold.
  EXPECT_RAISES(hr::kSubscript,
      q.GetDocListQuery(kOutbox, "ORDER", Variant(), Variant(), 0, oneBased({Variant("DOCUMENT.SENDER like")}),
                                 oneBased({Variant("a%")}), 2, 0, "alice", sql, errors));
  EXPECT_EQ(errors, "Subscript out of range");
  EXPECT_EQ(sql, "");
  // The error box needs the user's partner.
  EXPECT_RAISES(hr::kNoSuchEntry,
      q.GetDocListQuery(kErrorBox, "ORDER", Variant(), Variant(), 0, Variant(), Variant(), 0, 0, "nobody", sql, errors));
  EXPECT_NE(errors, "");
}

class DocTypeReferencesTest : public test::TestSite {};

TEST_F(DocTypeReferencesTest, NamesEveryKindOfReferenceInOrder) {
  Queries q;
  exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Order'), ('FREE', 'Unused'),"
       " ('NEWTYPE', 'Converted')");
  EXPECT_EQ(q.CheckDocTypeReferences("FREE"), "");
  EXPECT_EQ(q.CheckDocTypeReferences("NOSUCHTYPE"), "");

  exec("INSERT INTO SENDMETHOD (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID) VALUES (1, 100, 'ORDER', 7)");
  EXPECT_EQ(q.CheckDocTypeReferences("ORDER"), "Array(\"Send methods with rules\")");
  exec("INSERT INTO SENDMETHOD (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID) VALUES (2, 200, 'ORDER', -1)");
  exec("INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER) VALUES ('ORDER', 'alice'), ('ORDER', 'bob')");
  exec("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('ORDER', 200, 'bob')");
  exec("INSERT INTO SENDERLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('ORDER', 100, 'alice')");
  exec("INSERT INTO RULEHEADER (RULETYPE, ASSIGNEDID) VALUES (2, 'ORDER')");
  exec("INSERT INTO RECEIVEMETHOD (BUSINESSPARTNERID, DOCUMENTTYPEID) VALUES (100, 'ORDER')");
  exec("INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Number'), ('ORDER', 'Buyer')");
  exec("INSERT INTO XMLTEMPLATE (DOCUMENTTYPEID) VALUES ('ORDER')");
  exec("INSERT INTO NOTIFICATIONTEMPLATE (DOCUMENTTYPEID, BUSINESSPARTNERID, MODE) VALUES ('ORDER', 100, 1)");
  exec("INSERT INTO DOCTYPETODOCTYPE (DOCUMENTTYPEID, NEWDOCUMENTTYPEID) VALUES ('ORDER', 'NEWTYPE')");
  EXPECT_EQ(q.CheckDocTypeReferences("ORDER"),
            "Array(\"Documents\",\"Distribution list\",\"Sender list\",\"Send methods\",\"Send methods with rules\","
            "\"Document-type rules\",\"Receive methods\",\"User-defined fields\",\"XML templates\","
            "\"Document type conversions\",\"Notification templates\")");
  // The target of a conversion is referred to as well.
  EXPECT_EQ(q.CheckDocTypeReferences("NEWTYPE"), "Array(\"Document type conversions\")");

  // Names in the caller's language, ready for a script: quotes doubled.
  exec("INSERT INTO I18NTEXT (LABEL, LOCALEID, TEXT) VALUES ('SLBSH5903', 1031, 'Typ-\"Umwandlungen\"')");
  EXPECT_EQ(q.CheckDocTypeReferences("NEWTYPE", 1031), "Array(\"Typ-\"\"Umwandlungen\"\"\")");
  std::vector<Variant> args{Variant("NEWTYPE")};
  EXPECT_EQ(Registry::instance().create("Quillon.Queries")->invoke("CheckDocTypeReferences", args).text(),
            "Array(\"Document type conversions\")");
}

}  // namespace
}  // namespace quillon
