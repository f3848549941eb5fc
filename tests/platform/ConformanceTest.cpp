// The database behaviours the component relies on, run on a site database
// of each engine: SQLite (quillon.db) and PostgreSQL (a throwaway cluster,
// tests/PostgresServer.h). Every case runs the same SQL Server texts on both
// and expects the same answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/Site.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "tests/PostgresServer.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

enum class Engine { SQLite, PostgreSQL };

class ConformanceTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    SiteOptions options;
    if (GetParam() == Engine::PostgreSQL) {
      std::string why;
      if (!test::PostgresServer::Available(&why)) GTEST_SKIP() << why;
      options.database = test::PostgresServer::Shared().NewDatabase();
    }
    char tmpl[] = "/tmp/quillon-conf-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    Site::Create(dir_, options);
    connectionString_ = options.database.empty() ? "Provider=SQLite;Data Source=" + Site::DatabasePath(dir_)
                                                 : options.database;
    conn_ = connect();
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, SHOWACCEPTREJECT) VALUES ('ORDER', 'Order', 1)");
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, SHOWACCEPTREJECT) VALUES ('Invoice', 'Invoice', 0)");
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, SHOWACCEPTREJECT) VALUES ('despatch', 'Despatch advice', 0)");
  }
  void TearDown() override {
    if (conn_) conn_->Close();
    conn_.reset();
    Connection::ReleaseIdleHandles();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  std::shared_ptr<Connection> connect() const {
    auto c = std::make_shared<Connection>();
    c->Open(connectionString_);
    return c;
  }
  long exec(const std::string& sql) {
    long n = 0;
    conn_->Execute(sql, &n);
    return n;
  }
  std::shared_ptr<Recordset> open(const std::string& sql, int cursor = ado::adOpenForwardOnly,
                                  int lock = ado::adLockReadOnly, const std::shared_ptr<Connection>& c = nullptr) {
    auto rs = std::make_shared<Recordset>();
    rs->SetCursorLocation(ado::adUseClient);
    rs->Open(sql, c ? c : conn_, cursor, lock);
    return rs;
  }
  std::string text(const std::string& sql, const std::shared_ptr<Connection>& c = nullptr) {
    auto rs = (c ? c : conn_)->Execute(sql);
    if (rs->EOF_()) return "<no row>";
    Variant v = rs->Fields(0).Value();
    return v.isNull() ? "NULL" : v.toString();
  }
  // The first column of every row, joined by ",".
  std::string column(const std::string& sql) {
    auto rs = conn_->Execute(sql);
    std::string out;
    for (; !rs->EOF_(); rs->MoveNext()) {
      Variant v = rs->Fields(0).Value();
      out += (out.empty() ? "" : ",") + (v.isNull() ? std::string("NULL") : v.toString());
    }
    return out;
  }
  long newDocument(const std::string& type, const std::string& created) {
    auto rs = open("SELECT * FROM DOCUMENT WHERE DOCUMENTID=-1", ado::adOpenKeyset, ado::adLockOptimistic);
    rs->AddNew();
    rs->Fields("DOCUMENTTYPEID").SetValue(Variant(type));
    rs->Fields("SENDER").SetValue(Variant(std::string("alice")));
    rs->Fields("CREATIONDATE").SetValue(Variant(created));
    rs->Update();
    return rs->Fields("DOCUMENTID").Value().toInt32();
  }

  std::string dir_;
  std::string connectionString_;
  std::shared_ptr<Connection> conn_;
};

TEST_P(ConformanceTest, EveryCursorAndLockCombinationReadsMovesFindsAndFetches) {
  const std::vector<std::pair<int, int>> combinations = {
      {ado::adOpenForwardOnly, ado::adLockReadOnly}, {ado::adOpenKeyset, ado::adLockOptimistic},
      {ado::adOpenForwardOnly, ado::adLockOptimistic}, {ado::adOpenDynamic, ado::adLockOptimistic},
      {ado::adOpenStatic, ado::adLockReadOnly}};
  for (auto [cursor, lock] : combinations) {
    SCOPED_TRACE(std::to_string(cursor) + "/" + std::to_string(lock));
    auto rs = open("SELECT DOCUMENTTYPEID, DESCRIPTION FROM DOCUMENTTYPE ORDER BY DESCRIPTION", cursor, lock);
    ASSERT_EQ(rs->RecordCount(), 3);
    EXPECT_EQ(rs->Fields("documenttypeid").Value().toString(), "despatch");
    EXPECT_EQ(rs->Fields(0).Name(), "DOCUMENTTYPEID");  // as the statement spells it
    rs->Find("DOCUMENTTYPEID = 'ORDER'");
    ASSERT_FALSE(rs->EOF_());
    EXPECT_EQ(rs->Fields("DESCRIPTION").Value().toString(), "Order");
    rs->MoveFirst();
    Variant rows = rs->GetRows();
    EXPECT_TRUE(rs->EOF_());
    EXPECT_EQ(rows.array().at(1, 2).toString(), "Order");
    EXPECT_EQ(rows.array().at(0, 1).toString(), "Invoice");
  }
  // Execute's recordset and columns of `*` (upper case on both engines).
  auto rs = conn_->Execute("SELECT * FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID='invoice'");
  ASSERT_FALSE(rs->EOF_());
  EXPECT_EQ(rs->Fields(0).Name(), "DOCUMENTTYPEID");
  EXPECT_EQ(rs->Fields("SHOWACCEPTREJECT").Value().type(), VarType::Int32);
}

TEST_P(ConformanceTest, UpdatableOpensReadBackKeysDefaultsAndChanges) {
  long first = newDocument("ORDER", "2024-03-01 10:00:00");
  long second = newDocument("ORDER", "2024-03-02 10:00:00");
  EXPECT_GT(first, 0);
  EXPECT_GT(second, first);
  auto rs = open("SELECT * FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(second), ado::adOpenKeyset,
                 ado::adLockOptimistic);
  ASSERT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->Fields("STATUS").Value().toInt32(), 0);  // the column's default, read back
  EXPECT_EQ(rs->Fields("SHOW").Value().toInt32(), 1);
  EXPECT_EQ(rs->Fields("CREATIONDATE").Value().type(), VarType::Date);
  rs->Fields("STATUS").SetValue(Variant(3));
  rs->Update();
  EXPECT_EQ(text("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(second)), "3");
  EXPECT_EQ(text("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(first)), "0");

  // A row copied in with its own key: keys assigned later do not collide.
  exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID) VALUES (" + std::to_string(second + 10) + ", 'ORDER')");
  EXPECT_GT(newDocument("ORDER", "2024-03-03 10:00:00"), second + 10);

  // A table without a key: only the current row changes and goes.
  exec("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) VALUES (1, 1, 'same')");
  exec("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) VALUES (1, 1, 'same')");
  auto tags = open("SELECT * FROM TAGSVALUE WHERE DOCUMENTID=1", ado::adOpenForwardOnly, ado::adLockOptimistic);
  tags->Fields("TAGVALUE").SetValue(Variant(std::string("changed")));
  tags->Update();
  EXPECT_EQ(column("SELECT TAGVALUE FROM TAGSVALUE ORDER BY TAGVALUE"), "changed,same");
  tags->Delete();
  EXPECT_EQ(column("SELECT TAGVALUE FROM TAGSVALUE"), "same");

  // The row went away under the recordset: the update says so.
  auto gone = open("SELECT * FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(first), ado::adOpenKeyset,
                   ado::adLockOptimistic);
  exec("DELETE FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(first));
  gone->Fields("STATUS").SetValue(Variant(9));
  EXPECT_THROW(gone->Update(), Error);
}

TEST_P(ConformanceTest, LongTextsNullsAndChunksKeepEveryByte) {
  long id = newDocument("ORDER", "2024-03-01 10:00:00");
  std::string big;
  long letters = 0;  // characters, not bytes: each line holds two 2-byte letters
  for (int i = 0; big.size() < 3'000'000; ++i, letters -= 2) big += "<line n=\"" + std::to_string(i) + "\">O'Brien \\ \xC3\xA9t\xC3\xA9 ;--</line>\n";
  auto rs = open("SELECT * FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(id), ado::adOpenKeyset, ado::adLockOptimistic);
  for (std::size_t at = 0; at < big.size(); at += 65536) rs->Fields("XMLBODY").AppendChunk(big.substr(at, 65536));
  rs->Fields("SENDER").SetValue(Variant::null());
  rs->Update();
  auto back = open("SELECT XMLBODY, SENDER, TEMPXMLBODY FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(id));
  EXPECT_TRUE(back->Fields("XMLBODY").Value().toString() == big);
  EXPECT_EQ(back->Fields("XMLBODY").ActualSize(), static_cast<long>(big.size()));
  EXPECT_TRUE(back->Fields("SENDER").Value().isNull());
  EXPECT_TRUE(back->Fields("TEMPXMLBODY").Value().isNull());
  EXPECT_EQ(text("SELECT ISNULL(SENDER, 'nobody') FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(id)), "nobody");
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENT WHERE SENDER IS NULL"), "1");
  EXPECT_EQ(text("SELECT LEN(XMLBODY) FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(id)),
            std::to_string(static_cast<long>(big.size()) + letters));
}

TEST_P(ConformanceTest, DatesAreWrittenAsTextAndCompareInOrder) {
  newDocument("ORDER", "2024-01-15 08:00:00");
  newDocument("ORDER", "2023-12-31 23:59:59");
  newDocument("ORDER", "2024-02-01 00:00:00");
  EXPECT_EQ(column("SELECT CREATIONDATE FROM DOCUMENT WHERE CREATIONDATE >= '2024-01-01 00:00:00' ORDER BY CREATIONDATE"),
            "2024-01-15 08:00:00,2024-02-01 00:00:00");
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENT WHERE CREATIONDATE < GETDATE()"), "3");
  // A date field written from a Date value reads back as the same Date.
  auto rs = open("SELECT * FROM DOCUMENT WHERE CREATIONDATE < '2024-01-01 00:00:00'", ado::adOpenKeyset, ado::adLockOptimistic);
  ASSERT_EQ(rs->RecordCount(), 1);
  Variant when = rs->Fields("CREATIONDATE").Value();
  rs->Fields("ENTRANCEDATE").SetValue(when);
  rs->Update();
  EXPECT_EQ(text("SELECT ENTRANCEDATE FROM DOCUMENT WHERE ENTRANCEDATE IS NOT NULL"), "2023-12-31 23:59:59");
}

TEST_P(ConformanceTest, TheComponentsSqlShapesRunAsWritten) {
  long a = newDocument("ORDER", "2024-01-01 00:00:00");
  long b = newDocument("invoice", "2024-01-02 00:00:00");
  newDocument("ORDER", "2024-01-03 00:00:00");
  // TOP with ORDER BY, [names], dbo., a join, a number glued to a keyword.
  EXPECT_EQ(column("SELECT TOP 2 [DOCUMENTID] FROM dbo.[DOCUMENT] ORDER BY DOCUMENTID DESC"),
            std::to_string(a + 2) + "," + std::to_string(b));
  EXPECT_EQ(column("SELECT T.DESCRIPTION FROM DOCUMENT D INNER JOIN DOCUMENTTYPE T ON D.DOCUMENTTYPEID = "
                   "T.DOCUMENTTYPEID WHERE D.DOCUMENTID=" + std::to_string(b) + "ORDER BY T.DESCRIPTION"),
            "Invoice");
  EXPECT_EQ(exec("DELETE FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(a) + "AND STATUS=0"), 1);
  // Ids compare without letter case: equality, IN, LIKE, joins, keys.
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID IN ('order', 'INVOICE')"), "2");
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENTTYPE WHERE DESCRIPTION LIKE '%ADVICE'"), "1");
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID LIKE 'O%'"), "1");
  EXPECT_THROW(exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID) VALUES ('order')"), Error);
  // Texts joined with +: SQLite cannot tell it from addition (the
  // component's texts do not use it); PostgreSQL sites define it.
  if (GetParam() == Engine::PostgreSQL) {
    EXPECT_EQ(text("SELECT DOCUMENTTYPEID + '/' + DESCRIPTION FROM DOCUMENTTYPE WHERE SHOWACCEPTREJECT = 1"),
              "ORDER/Order");
    EXPECT_EQ(text("SELECT '5' + 1"), "6");
  }
  // LEN, flags compared with 0/1.
  EXPECT_EQ(text("SELECT LEN(DESCRIPTION) FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID='despatch'"), "15");
  // Literals are never rewritten, whatever they hold.
  const std::string tricky = "TOP 5 ISNULL( [x] dbo.y GETDATE() LEN( a+b 5WHERE LIKE \\%";
  exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('T1', '" + tricky + "')");
  EXPECT_EQ(text("SELECT DESCRIPTION FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID='t1'"), tricky);
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENTTYPE WHERE DESCRIPTION LIKE '%\\%'"), "1");
  // A second statement is refused before anything runs.
  EXPECT_THROW(exec("DELETE FROM DOCUMENTTYPE; DELETE FROM DOCUMENT"), Error);
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENTTYPE"), "4");
}

TEST_P(ConformanceTest, RecordsAffectedCountOnlyChangedRows) {
  for (int i = 0; i < 3; ++i) newDocument("ORDER", "2024-01-01 00:00:00");
  EXPECT_EQ(exec("UPDATE DOCUMENT SET STATUS=2 WHERE DOCUMENTTYPEID='order'"), 3);
  EXPECT_EQ(exec("UPDATE DOCUMENT SET STATUS=2 WHERE DOCUMENTTYPEID='nothing'"), 0);
  EXPECT_EQ(exec("INSERT INTO TAGSVALUE (DOCUMENTID, TAGID, TAGVALUE) SELECT DOCUMENTID, 1, 'x' FROM DOCUMENT"), 3);
  EXPECT_EQ(exec("DELETE FROM TAGSVALUE"), 3);
  long n = 0;
  conn_->Execute("SELECT * FROM DOCUMENT", &n);
  EXPECT_EQ(n, -1);
}

TEST_P(ConformanceTest, TransactionsCommitRollBackAndSurviveAFailedStatement) {
  conn_->BeginTrans();
  exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID) VALUES ('GONE')");
  conn_->RollbackTrans();
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID='GONE'"), "0");

  conn_->BeginTrans();
  exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID) VALUES ('KEPT')");
  EXPECT_THROW(exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID) VALUES ('kept')"), Error);  // duplicate key
  exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID) VALUES ('ALSO')");  // the transaction goes on
  conn_->CommitTrans();
  EXPECT_FALSE(conn_->InTransaction());
  EXPECT_EQ(column("SELECT DOCUMENTTYPEID FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID IN ('kept', 'also') ORDER BY 1"),
            "ALSO,KEPT");

  // The statement forms of the same.
  exec("BEGIN TRAN");
  exec("DELETE FROM DOCUMENTTYPE");
  exec("ROLLBACK TRAN");
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENTTYPE"), "5");
}

TEST_P(ConformanceTest, TwoConnectionsWorkAtOnce) {
  auto other = connect();
  auto reading = open("SELECT DOCUMENTTYPEID FROM DOCUMENTTYPE ORDER BY DOCUMENTTYPEID", ado::adOpenForwardOnly,
                      ado::adLockReadOnly, other);
  long id = newDocument("ORDER", "2024-01-01 00:00:00");
  EXPECT_EQ(text("SELECT COUNT(*) FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(id), other), "1");
  // Uncommitted work of one is invisible to the other until it commits.
  conn_->BeginTrans();
  exec("UPDATE DOCUMENT SET STATUS=7 WHERE DOCUMENTID=" + std::to_string(id));
  EXPECT_EQ(text("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(id), other), "0");
  conn_->CommitTrans();
  EXPECT_EQ(text("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID=" + std::to_string(id), other), "7");
  EXPECT_EQ(reading->RecordCount(), 3);
  // A recordset detached from its connection stays readable.
  reading->SetActiveConnectionNothing();
  other->Close();
  reading->MoveLast();
  EXPECT_EQ(reading->Fields(0).Value().toString(), "ORDER");
}

INSTANTIATE_TEST_SUITE_P(Engines, ConformanceTest, ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return info.param == Engine::SQLite ? "SQLite" : "PostgreSQL"; });

}  // namespace
}  // namespace quillon
