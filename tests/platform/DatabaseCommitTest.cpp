// When the database syncs, and which statements share one compiled program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/Database.h"
#include "platform/Error.h"
#include "tests/CallCounters.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::Counts;

class DatabaseCommitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::CountersActive()) << "the test binary must export the call counters";
    std::string templ = (fs::temp_directory_path() / "quillon-commit-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    path_ = (dir_ / "site.db").string();
    std::ofstream(path_).close();
    conn_ = connect();
    exec("CREATE TABLE T (ID INTEGER PRIMARY KEY, NAME VARCHAR(50), N INT, R REAL)");
    exec("INSERT INTO T (NAME, N) VALUES ('alice', 1), ('Bob', 2), ('carol', 3)");
  }
  void TearDown() override {
    conn_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::shared_ptr<Connection> connect() const {
    auto c = std::make_shared<Connection>();
    c->Open("Provider=SQLite;Data Source=" + path_);
    return c;
  }
  long exec(const std::string& sql) {
    long affected = 0;
    conn_->Execute(sql, &affected);
    return affected;
  }
  Variant scalar(const std::string& sql) { return conn_->Execute(sql)->Fields(0).Value(); }

  fs::path dir_;
  std::string path_;
  std::shared_ptr<Connection> conn_;
};

// ---- commit policy -------------------------------------------------------------------

TEST_F(DatabaseCommitTest, CommitsWaitForOneSyncAtTheDurablePoint) {
  auto before = Counts();
  for (int i = 0; i < 20; ++i) exec("INSERT INTO T (NAME, N) VALUES ('x', " + std::to_string(i) + ")");
  exec("UPDATE T SET N = N + 1 WHERE NAME = 'x'");
  EXPECT_EQ((Counts() - before).syncs, 0u) << "a commit must not sync on its own";

  before = Counts();
  conn_->MakeDurable();
  auto synced = (Counts() - before).syncs;
  EXPECT_GE(synced, 1u);
  EXPECT_LE(synced, 2u);  // the WAL, and its folder the first time the file is synced

  // Another connection sees every committed row; a second durable point
  // with nothing new costs at most one more sync.
  EXPECT_EQ(connect()->Execute("SELECT COUNT(*) FROM T WHERE NAME = 'x'")->Fields(0).Value().toInt32(), 20);
  before = Counts();
  conn_->MakeDurable();
  EXPECT_LE((Counts() - before).syncs, 1u);
}

TEST_F(DatabaseCommitTest, AFreshHandleCanMakeTheDatabaseDurable) {
  // A handle that has not read yet has no WAL open; a durable point must
  // still sync (what other connections or processes committed).
  std::string other = (dir_ / "other.db").string();
  std::ofstream(other).close();
  std::thread([&] {
    Connection c;
    c.Open("Provider=SQLite;Data Source=" + other);
    auto before = Counts();
    EXPECT_NO_THROW(c.MakeDurable());
    EXPECT_GE((Counts() - before).syncs, 1u);
  }).join();
}

TEST_F(DatabaseCommitTest, DurablePointRefusesAnOpenTransactionAndAClosedConnection) {
  exec("BEGIN TRANSACTION");
  exec("INSERT INTO T (NAME) VALUES ('pending')");
  EXPECT_THROW(conn_->MakeDurable(), Error);
  exec("COMMIT TRANSACTION");
  EXPECT_NO_THROW(conn_->MakeDurable());
  conn_->Close();
  EXPECT_THROW(conn_->MakeDurable(), Error);
}

TEST_F(DatabaseCommitTest, AHandleThatWroteSyncsWhenItsThreadEnds) {
  test::CallCounts before{}, afterWrites{};
  std::thread([&] {
    Connection c;
    c.Open("Provider=SQLite;Data Source=" + path_);
    before = Counts();
    long n = 0;
    c.Execute("INSERT INTO T (NAME) VALUES ('late')", &n);
    EXPECT_EQ(n, 1);
    c.Close();
    afterWrites = Counts();
  }).join();
  EXPECT_EQ((afterWrites - before).syncs, 0u);
  EXPECT_GE((Counts() - afterWrites).syncs, 1u) << "the pooled handle must sync what it wrote when it goes";
}

// A worker that opens the database while another process holds it for a
// moment (its commit, its last connection closing the log) waits for it as
// a statement would: the open used to fail at once with "database is
// locked", and a scheduled job then stopped as if misconfigured.
TEST_F(DatabaseCommitTest, AnOpenWaitsWhileAnotherConnectionHoldsTheDatabase) {
  // An exclusive lock needs the database to itself: no other handle open.
  conn_.reset();
  Connection::ReleaseIdleHandles();
  auto holder = connect();
  holder->Execute("PRAGMA locking_mode=EXCLUSIVE");
  holder->Execute("INSERT INTO T (NAME) VALUES ('held')");  // takes the lock and keeps it
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder->Execute("PRAGMA locking_mode=NORMAL");
    holder->Execute("SELECT COUNT(*) FROM T");  // gives the lock back
  });
  std::shared_ptr<Connection> waiting;
  const auto start = std::chrono::steady_clock::now();
  try {
    waiting = connect();
  } catch (const Error& e) {
    ADD_FAILURE() << e.description();
  }
  const auto waited = std::chrono::steady_clock::now() - start;
  release.join();
  ASSERT_TRUE(waiting);
  EXPECT_GE(waited, std::chrono::milliseconds(200)) << "the lock was not held";
  EXPECT_EQ(waiting->Execute("SELECT COUNT(*) FROM T WHERE NAME = 'held'")->Fields(0).Value().toInt32(), 1);
}

// ---- one compiled statement for texts that differ in values ------------------------------

TEST_F(DatabaseCommitTest, TextsDifferingOnlyInValuesCompileOnceAndGiveTheirOwnRows) {
  scalar("SELECT NAME FROM T WHERE ID = 1");
  auto before = Counts();
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID = 2").text(), "Bob");
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID = 3").text(), "carol");
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID = 1").text(), "alice");
  EXPECT_EQ(exec("UPDATE T SET NAME = 'bob' WHERE ID = 2"), 1);
  EXPECT_EQ(exec("UPDATE T SET NAME = 'Carol' WHERE ID = 3"), 1);
  EXPECT_EQ(exec("INSERT INTO T (NAME, N, R) VALUES ('dave', 4, 4.5)"), 1);
  EXPECT_EQ(exec("INSERT INTO T (NAME, N, R) VALUES ('erin', 5, 0.25)"), 1);
  EXPECT_EQ(exec("DELETE FROM T WHERE NAME = 'erin'"), 1);
  EXPECT_EQ(exec("DELETE FROM T WHERE NAME = 'nobody'"), 0);
  // One compilation each for the UPDATE, the INSERT and the DELETE.
  EXPECT_EQ((Counts() - before).compiles, 3u);
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID = 3").text(), "Carol");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T WHERE R = 4.5 AND N = 4 AND NAME = 'dave'").toInt32(), 1);
}

TEST_F(DatabaseCommitTest, BoundValuesKeepTheMeaningOfTheLiterals) {
  exec("INSERT INTO T (NAME, N) VALUES ('it''s', 7)");
  EXPECT_EQ(scalar("SELECT N FROM T WHERE NAME = 'it''s'").toInt32(), 7);
  // Column affinity applies to a bound value as to a literal.
  exec("INSERT INTO T (NAME, N) VALUES ('text', '42')");
  EXPECT_EQ(scalar("SELECT typeof(N) FROM T WHERE NAME = 'text'").text(), "integer");
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE N = '42'").text(), "text");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T WHERE N > -2 AND N <= 3.0").toInt32(), 3);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T WHERE NAME LIKE 'c%' OR NAME IN ('alice', 'nobody')").toInt32(), 2);
  // A number glued to a keyword, as SQL Server texts have it.
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID=1AND N=1").text(), "alice");
  // WHERE 0=1 still gives the empty result with every column.
  auto none = conn_->Execute("SELECT * FROM T WHERE 0=1");
  EXPECT_TRUE(none->EOF_());
  EXPECT_EQ(none->FieldCount(), 4);
}

TEST_F(DatabaseCommitTest, SelectListsOrderingAndTopStayAsWritten) {
  // The select list names the result columns.
  auto rs = conn_->Execute("SELECT 5, 'x', NAME FROM T WHERE ID = 1");
  EXPECT_EQ(rs->Fields(0).Name(), "5");
  EXPECT_EQ(rs->Fields(0).Value().toInt32(), 5);
  EXPECT_EQ(rs->Fields(1).Name(), "'x'");
  // A number in ORDER BY is a column position, not a value.
  EXPECT_EQ(scalar("SELECT NAME, N FROM T ORDER BY 2 DESC").text(), "carol");
  EXPECT_EQ(scalar("SELECT NAME, N FROM T ORDER BY 1").text(), "Bob");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM (SELECT N % 2 AS P FROM T GROUP BY 1)").toInt32(), 2);
  // TOP's count stays a count.
  auto two = conn_->Execute("SELECT TOP 2 NAME FROM T WHERE N > 0 ORDER BY ID");
  EXPECT_EQ(two->RecordCount(), 2);
  auto one = conn_->Execute("SELECT TOP 1 NAME FROM T WHERE N > 0 ORDER BY ID");
  EXPECT_EQ(one->RecordCount(), 1);
  // A subquery in the select list keeps its text as the column name too.
  auto sub = conn_->Execute("SELECT (SELECT COUNT(*) FROM T WHERE N > 1) FROM T WHERE ID = 1");
  EXPECT_EQ(sub->Fields(0).Name(), "(SELECT COUNT(*) FROM T WHERE N > 1)");
  EXPECT_EQ(sub->Fields(0).Value().toInt32(), 2);
}

TEST_F(DatabaseCommitTest, TheReadOnlyCheckJudgesAStatementShapeOnce) {
  conn_->RequireReadOnly("SELECT NAME FROM T WHERE ID = 1");
  auto before = Counts();
  for (int id = 2; id < 6; ++id) conn_->RequireReadOnly("SELECT NAME FROM T WHERE ID = " + std::to_string(id));
  EXPECT_EQ((Counts() - before).compiles, 0u);
  // Writing stays refused, whatever its values, and a refusal is never remembered.
  for (int id = 1; id < 3; ++id) {
    EXPECT_THROW(conn_->RequireReadOnly("DELETE FROM T WHERE ID = " + std::to_string(id)), Error);
    EXPECT_THROW(conn_->RequireReadOnly("SELECT NAME FROM T WHERE ID = " + std::to_string(id) + "; DELETE FROM T"), Error);
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T").toInt32(), 3);
}

TEST_F(DatabaseCommitTest, UpdatableRecordsetsSharingAStatementWriteTheirOwnRow) {
  for (int id : {2, 3}) {
    auto rs = std::make_shared<Recordset>();
    rs->Open("SELECT NAME FROM T WHERE ID = " + std::to_string(id), conn_, ado::adOpenKeyset, ado::adLockOptimistic);
    ASSERT_FALSE(rs->EOF_());
    rs->Fields("NAME").SetValue(Variant("row" + std::to_string(id)));
    rs->Update();
  }
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID = 1").text(), "alice");
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID = 2").text(), "row2");
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID = 3").text(), "row3");
}

}  // namespace
}  // namespace quillon
