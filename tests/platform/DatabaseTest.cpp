#include "platform/Database.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "tests/TestSite.h"
#include "platform/Log.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// A fresh, empty SQLite file (a zero-length file is a valid empty database)
// in its own temporary folder, with one open connection.
class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "quillon-db-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    path_ = (dir_ / "site.db").string();
    std::ofstream(path_).close();
    conn_ = connect();
    exec("CREATE TABLE T (ID INTEGER PRIMARY KEY, NAME VARCHAR(50), N INT, CREATED DATETIME DEFAULT '2001-02-03 04:05:06')");
    exec("INSERT INTO T (NAME, N) VALUES ('alice', 1), ('Bob', 2), ('carol', 3)");
  }
  void TearDown() override {
    conn_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string connectionString() const { return "Provider=SQLite; data source = " + path_; }
  std::shared_ptr<Connection> connect() const {
    auto c = std::make_shared<Connection>();
    c->Open(connectionString());
    return c;
  }
  long exec(const std::string& sql) {
    long affected = 0;
    conn_->Execute(sql, &affected);
    return affected;
  }
  std::shared_ptr<Recordset> open(const std::string& sql, int lock = ado::adLockOptimistic) {
    auto rs = std::make_shared<Recordset>();
    rs->Open(sql, conn_, ado::adOpenStatic, lock);
    return rs;
  }
  Variant scalar(const std::string& sql) { return conn_->Execute(sql)->Fields(0).Value(); }

  fs::path dir_;
  std::string path_;
  std::shared_ptr<Connection> conn_;
};

TEST_F(DatabaseTest, ExecuteCountsChangedRowsAndTranslates) {
  EXPECT_EQ(exec("UPDATE dbo.T SET N=N+10 WHERE N>=2"), 2);
  EXPECT_EQ(exec("DELETE FROM T WHERE ID=99"), 0);
  EXPECT_EQ(exec("CREATE TABLE U (A INT)"), 0);  // not the count of the previous statement
  EXPECT_EQ(conn_->ExecuteBatch("INSERT INTO U SELECT N FROM T; INSERT INTO U VALUES (7)"), 4);
  long affected = 0;
  auto rs = conn_->Execute("SELECT TOP 1 NAME FROM [T] WHERE ID=2ORDER BY ID", &affected);
  EXPECT_EQ(affected, -1);
  ASSERT_EQ(rs->State(), ado::adStateOpen);
  EXPECT_EQ((*rs)["NAME"].toString(), "Bob");
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(conn_->Execute("DELETE FROM U")->State(), ado::adStateClosed);
}

TEST_F(DatabaseTest, AddNewReadsBackTheAssignedKeyAndDefaults) {
  for (const char* sql : {"SELECT * FROM T WHERE ID=-1", "SELECT ID, NAME, CREATED FROM T WHERE 0=1"}) {
    auto rs = open(sql);
    EXPECT_TRUE(rs->EOF_() && rs->BOF_());
    ASSERT_GE(rs->FieldCount(), 3);  // the columns are known without a row; the rowid is hidden
    EXPECT_EQ(rs->Fields(0).Name(), "ID");
    rs->AddNew();
    EXPECT_TRUE(rs->Fields("ID").Value().isNull());
    rs->Fields("NAME").SetValue(Variant(std::string(sql).substr(0, 10)));
    rs->Update();
    EXPECT_EQ(rs->Fields("ID").Value().type(), VarType::Int32);
    long id = rs->Fields("ID").Value().toInt32();
    EXPECT_GT(id, 3);
    EXPECT_EQ(rs->Fields("CREATED").Value().type(), VarType::Date);
    EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID=" + std::to_string(id)).toString(), std::string(sql).substr(0, 10));
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T").toInt32(), 5);
}

TEST_F(DatabaseTest, UpdateChangesOnlyTheCurrentRowAndMovingCommits) {
  auto rs = open("SELECT NAME, N AS Num FROM T ORDER BY ID");
  rs->MoveNext();
  rs->Fields("Num").SetValue(Variant(20));
  EXPECT_EQ(rs->Fields("Num").Value().toInt32(), 20);  // the edit shows before Update
  rs->Update();
  rs->Fields("NAME").SetValue(Variant("bobby"));
  rs->MoveNext();  // leaving an edited row stores it
  rs->Fields("NAME").SetValue(Variant("caro"));
  rs->CancelUpdate();
  EXPECT_EQ(rs->Fields("NAME").Value().toString(), "carol");
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(NAME || N, ',') FROM T").toString(), "alice1,bobby20,carol3");
}

TEST_F(DatabaseTest, DeleteLeavesNextRowForMoveNext) {
  auto rs = open("SELECT * FROM T ORDER BY ID");
  rs->MoveNext();
  rs->Delete();
  EXPECT_RAISES(hr::kDbNoRow, rs->Fields("NAME").Value());
  EXPECT_FALSE(rs->EOF_());
  rs->MoveNext();
  EXPECT_EQ(rs->Fields("NAME").Value().toString(), "carol");
  EXPECT_EQ(rs->RecordCount(), 2);
  // The classic loop deletes everything.
  rs->MoveFirst();
  while (!rs->EOF_()) {
    rs->Delete();
    rs->MoveNext();
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T").toInt32(), 0);
}

TEST_F(DatabaseTest, AppendChunkAddsPiecesToTheValue) {
  auto rs = open("SELECT ID, NAME FROM T WHERE ID=-1");
  rs->AddNew();
  rs->Fields("NAME").AppendChunk("abc");
  rs->Fields("NAME").AppendChunk("");
  rs->Fields("NAME").AppendChunk("d'ef");
  rs->Update();
  EXPECT_EQ(rs->Fields("NAME").ActualSize(), 7);
  long id = rs->Fields("ID").Value().toInt32();
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID=" + std::to_string(id)).toString(), "abcd'ef");
}

TEST_F(DatabaseTest, FirstChunkOfAnEditReplacesTheStoredValue) {
  // Rewriting a long text must not append to what the row held before.
  auto rs = open("SELECT ID, NAME FROM T WHERE NAME = 'alice'");
  ASSERT_FALSE(rs->EOF_());
  rs->Fields("NAME").AppendChunk("new ");
  rs->Fields("NAME").AppendChunk("text");
  rs->Update();
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T WHERE NAME = 'new text'").toInt32(), 1);
  rs->Fields("NAME").AppendChunk("again");
  rs->Update();
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T WHERE NAME = 'again'").toInt32(), 1);
}

TEST_F(DatabaseTest, DetachedRecordsetStaysReadableButRefusesWrites) {
  auto rs = open("SELECT * FROM T ORDER BY ID");
  rs->SetActiveConnectionNothing();
  conn_->Close();
  conn_->Close();  // closing twice is fine
  conn_.reset();
  EXPECT_FALSE(rs->IsConnected());
  rs->MoveLast();
  EXPECT_EQ(rs->Fields("name").Value().toString(), "carol");
  EXPECT_RAISES(hr::kDbNotUpdatable, rs->Fields("NAME").SetValue(Variant("x")));
  EXPECT_RAISES(hr::kDbNotUpdatable, rs->AddNew());
  EXPECT_RAISES(hr::kDbNotUpdatable, rs->Delete());
}

TEST_F(DatabaseTest, OnlySingleTableSelectsWithAWritableLockAreUpdatable) {
  exec("CREATE TABLE U (ID INTEGER PRIMARY KEY, TID INT)");
  EXPECT_RAISES(hr::kDbNotUpdatable, open("SELECT * FROM T", ado::adLockReadOnly)->AddNew());
  EXPECT_RAISES(hr::kDbNotUpdatable, open("SELECT T.NAME FROM T JOIN U ON U.TID=T.ID")->AddNew());
  EXPECT_RAISES(hr::kDbNotUpdatable, open("SELECT N FROM T GROUP BY N")->AddNew());
  // An expression column of an updatable select cannot be written.
  auto rs = open("SELECT ID, N*2 AS DOUBLED, (SELECT COUNT(*) FROM U) AS C FROM T");
  EXPECT_RAISES(hr::kDbNotUpdatable, rs->Fields("DOUBLED").SetValue(Variant(1)));
  EXPECT_RAISES(hr::kDbNotUpdatable, rs->Fields("C").SetValue(Variant(1)));
  EXPECT_EQ(rs->FieldCount(), 3);
}

TEST_F(DatabaseTest, FieldsAreFoundByNameInAnyCase) {
  auto rs = open("SELECT NAME, N FROM T ORDER BY ID", ado::adLockReadOnly);
  EXPECT_EQ(&rs->Fields("name"), &rs->Fields("NAME"));
  EXPECT_EQ(&rs->Fields("nAmE"), &rs->Fields(0));
  EXPECT_RAISES(hr::kDbNoField, rs->Fields("MISSING"));
  EXPECT_RAISES(hr::kDbNoField, rs->Fields(2));
}

TEST_F(DatabaseTest, ValuesFollowTheDeclaredType) {
  exec("CREATE TABLE V (I INTEGER, S SMALLINT, Y TINYINT, B BIT, R REAL, M MONEY, D DATETIME, X NUMERIC, W VARCHAR(9), Z)");
  exec("INSERT INTO V VALUES (5000000000, 7, 200, 1, 2, 3, 'not a date', 12, 12, x'4142'), "
       "(-4, 70000, NULL, 0, 1.5, 0, '2024-03-05', 'x', 'w', 2.5)");
  auto rs = open("SELECT *, 1+1 AS E, 'q' AS F FROM V", ado::adLockReadOnly);
  auto type = [&](const char* f) { return rs->Fields(f).Value().type(); };
  EXPECT_EQ(type("I"), VarType::Double);  // beyond 32 bits
  EXPECT_EQ(type("S"), VarType::Int16);
  EXPECT_EQ(type("Y"), VarType::Byte);
  EXPECT_EQ(type("B"), VarType::Byte);
  EXPECT_EQ(type("R"), VarType::Double);
  EXPECT_EQ(type("M"), VarType::Double);
  EXPECT_EQ(type("D"), VarType::String);  // unreadable as a date
  EXPECT_EQ(type("X"), VarType::Int32);   // no type of its own: by storage class
  EXPECT_EQ(type("W"), VarType::String);  // text affinity stored 12 as text
  EXPECT_EQ(rs->Fields("Z").Value().toString(), "AB");
  EXPECT_EQ(type("E"), VarType::Int32);
  EXPECT_EQ(type("F"), VarType::String);
  rs->MoveNext();
  EXPECT_EQ(type("I"), VarType::Int32);
  EXPECT_EQ(type("S"), VarType::Int32);  // out of SMALLINT range
  EXPECT_TRUE(rs->Fields("Y").Value().isNull());
  EXPECT_EQ(type("D"), VarType::Date);
  EXPECT_EQ(rs->Fields("Z").Value().toDouble(), 2.5);
}

TEST_F(DatabaseTest, DatesAndBooleansAreStoredAsText) {
  auto rs = open("SELECT * FROM T WHERE ID=1");
  rs->Fields("CREATED").SetValue(Variant::date(oleDateFromParts(2024, 3, 5, 14, 30, 0)));
  rs->Fields("N").SetValue(Variant(true));
  rs->Update();
  EXPECT_EQ(scalar("SELECT CREATED || '|' || N FROM T WHERE ID=1").toString(), "2024-03-05 14:30:00|1");
  auto again = open("SELECT CREATED FROM T WHERE ID=1", ado::adLockReadOnly);
  EXPECT_EQ(again->Fields(0).Value().type(), VarType::Date);
  EXPECT_EQ(again->Fields(0).Value().toDate(), oleDateFromParts(2024, 3, 5, 14, 30, 0));
  rs->Fields("NAME").SetValue(Variant::null());
  rs->Update();
  EXPECT_TRUE(scalar("SELECT NAME FROM T WHERE ID=1").isNull());
}

TEST_F(DatabaseTest, GetRowsGivesFieldByRowArrayFromTheCurrentRow) {
  auto rs = open("SELECT ID, NAME FROM T ORDER BY ID", ado::adLockReadOnly);
  rs->MoveNext();
  Variant rows = rs->GetRows();
  EXPECT_TRUE(rs->EOF_());
  const VariantArray& a = rows.array();
  ASSERT_EQ(a.dimensions(), 2);
  EXPECT_EQ(a.ubound(1), 1);
  EXPECT_EQ(a.ubound(2), 1);
  EXPECT_EQ(a.at(0, 0).toInt32(), 2);
  EXPECT_EQ(a.at(1, 1).toString(), "carol");
  rs->MoveFirst();
  EXPECT_EQ(rs->GetRows(1).array().ubound(2), 0);
  EXPECT_EQ(rs->AbsolutePosition(), 2);
  rs->MoveLast();
  rs->MoveNext();
  EXPECT_RAISES(hr::kDbNoRow, rs->GetRows());
}

TEST_F(DatabaseTest, FindMatchesTextNumbersAndPatterns) {
  exec("INSERT INTO T (NAME, N, CREATED) VALUES ('o''neil', 4, '2020-01-01')");
  auto rs = open("SELECT * FROM T ORDER BY ID", ado::adLockReadOnly);
  rs->Find("NAME = 'BOB'");
  EXPECT_EQ(rs->Fields("ID").Value().toInt32(), 2);
  rs->Find("N >= 3");
  EXPECT_EQ(rs->Fields("NAME").Value().toString(), "carol");
  rs->Find("[NAME]='O''Neil'");
  EXPECT_EQ(rs->Fields("N").Value().toInt32(), 4);
  rs->Find("NAME LIKE 'a*'", 0, ado::adSearchBackward);
  EXPECT_EQ(rs->Fields("ID").Value().toInt32(), 1);
  rs->Find("NAME LIKE '%o%'", 1);  // skipping the current row
  EXPECT_EQ(rs->Fields("NAME").Value().toString(), "Bob");
  rs->Find("CREATED > #2010-01-01#");
  EXPECT_EQ(rs->Fields("N").Value().toInt32(), 4);
  rs->Find("N <> 4", 1);
  EXPECT_TRUE(rs->EOF_());
  rs->MoveFirst();
  EXPECT_RAISES(hr::kDbNoField, rs->Find("NOPE = 1"));
  EXPECT_RAISES(hr::kInvalidArg, rs->Find("N = 'unterminated"));
}

TEST_F(DatabaseTest, CursorRulesFollowAdo) {
  auto rs = open("SELECT * FROM T WHERE N=2", ado::adLockReadOnly);
  EXPECT_FALSE(rs->BOF_());
  rs->MoveNext();
  EXPECT_TRUE(rs->EOF_());
  EXPECT_RAISES(hr::kDbNoRow, rs->MoveNext());
  EXPECT_RAISES(hr::kDbNoRow, rs->Fields("NAME").Value());
  rs->MovePrevious();
  EXPECT_EQ(rs->AbsolutePosition(), 1);
  rs->MovePrevious();
  EXPECT_TRUE(rs->BOF_());
  EXPECT_RAISES(hr::kDbNoRow, rs->MovePrevious());
  rs->Close();
  rs->Close();
  EXPECT_RAISES(hr::kDbClosed, rs->EOF_());
}

TEST_F(DatabaseTest, OpenFailuresNameTheCause) {
  Connection c;
  std::string missing = (dir_ / "nothere.db").string();
  Error e = EXPECT_RAISES(hr::kDatabase, c.Open("Provider=SQLite;Data Source=" + missing));
  EXPECT_NE(e.description().find(missing), std::string::npos) << e.description();
  EXPECT_FALSE(fs::exists(missing));  // never created
  e = EXPECT_RAISES(hr::kDatabase, c.Open("Provider=SQLite;Data Source= "));
  EXPECT_NE(e.description().find("No data source is given in the connection string"), std::string::npos);
  EXPECT_EQ(c.State(), ado::adStateClosed);
}

TEST_F(DatabaseTest, FailedSqlReportsSqliteMessageAndLogsTheSqlAsWritten) {
  fs::create_directories(dir_ / "log");
  const char* before = std::getenv("QUILLON_SITE");
  std::string previousSite = before ? before : "";
  setenv("QUILLON_SITE", dir_.c_str(), 1);
  Error e = EXPECT_RAISES(hr::kDatabase, conn_->Execute("SELECT * FROM dbo.NOPE"));
  EXPECT_EQ(e.source(), "Quillon.Database");
  // The statement goes to the log only: callers and their pages never see it.
  EXPECT_EQ(e.description(), "no such table: NOPE");
  e = EXPECT_RAISES(hr::kDatabase, exec("INSERT INTO T (ID) VALUES (1)"));
  EXPECT_NE(e.description().find("UNIQUE constraint failed: T.ID"), std::string::npos);
  // The connection is still usable afterwards.
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T").toInt32(), 3);
  std::vector<LogEntry> entries = Log::ReadEntries((dir_ / "log" / "quillon.log").string());
  if (before) setenv("QUILLON_SITE", previousSite.c_str(), 1); else unsetenv("QUILLON_SITE");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].source, "Quillon.Database");
  EXPECT_NE(entries[0].message.find("no such table: NOPE"), std::string::npos) << entries[0].message;
  EXPECT_NE(entries[0].message.find("SELECT * FROM dbo.NOPE"), std::string::npos) << entries[0].message;
  EXPECT_NE(entries[1].message.find("INSERT INTO T (ID) VALUES (1)"), std::string::npos) << entries[1].message;
}

TEST_F(DatabaseTest, ConnectionsOnOneThreadShareThePool) {
  // A temporary table lives in one physical handle, which shows whether two
  // connections got the same one.
  conn_->Execute("CREATE TEMP TABLE MARK (A INT)");
  conn_->Close();
  auto again = connect();
  EXPECT_NO_THROW(again->Execute("SELECT * FROM MARK"));
  auto parallel = connect();  // `again` holds the pooled handle: a new one
  EXPECT_RAISES(hr::kDatabase, parallel->Execute("SELECT * FROM MARK"));
  EXPECT_EQ(again->ConnectionString(), connectionString());
}

TEST_F(DatabaseTest, ClosingRollsBackAnOpenTransaction) {
  exec("BEGIN TRAN");
  exec("DELETE FROM T");
  conn_->Close();
  conn_ = connect();
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T").toInt32(), 3);
}

TEST_F(DatabaseTest, CachedStatementsFollowSchemaChanges) {
  EXPECT_EQ(open("SELECT * FROM T", ado::adLockReadOnly)->FieldCount(), 4);
  exec("ALTER TABLE T ADD COLUMN EXTRA TEXT DEFAULT 'e'");
  auto rs = open("SELECT * FROM T", ado::adLockReadOnly);
  EXPECT_EQ(rs->FieldCount(), 5);
  EXPECT_EQ(rs->Fields("EXTRA").Value().toString(), "e");
}

TEST_F(DatabaseTest, ClassesAnswerByName) {
  std::shared_ptr<Object> c = conn_;
  std::vector<Variant> args{Variant("SELECT NAME FROM T WHERE ID=3")};
  auto rs = c->invoke("Execute", args).as<Recordset>();
  ASSERT_TRUE(rs);
  std::vector<Variant> none;
  EXPECT_FALSE(rs->invoke("EOF", none).toBool());
  EXPECT_EQ(rs->classInfo()->progId, "ADODB.Recordset");
}

// One call runs one statement: a text that smuggles in a second one is
// refused before anything runs, whatever the first one is.
TEST_F(DatabaseTest, ASecondStatementIsRefusedAndNothingRuns) {
  constexpr std::int32_t kInvalidParamValue = static_cast<std::int32_t>(0x80040227);
  EXPECT_EQ(hr::kDbSeveralStatements, kInvalidParamValue);
  const std::vector<std::string> smuggled = {
      "SELECT NAME FROM T WHERE NAME = 'x'; DELETE FROM T",
      "UPDATE T SET N = 0; DELETE FROM T;",
      "DELETE FROM T WHERE ID = 1;DELETE FROM T",
      "INSERT INTO T (NAME) VALUES ('d') -- a comment\n; DELETE FROM T",
      "SELECT 1; /* c */ SELECT 2",
  };
  for (const std::string& sql : smuggled) {
    EXPECT_RAISES(kInvalidParamValue, conn_->Execute(sql));
    EXPECT_RAISES(kInvalidParamValue, conn_->Execute(sql));
    EXPECT_RAISES(kInvalidParamValue, open(sql));
    EXPECT_RAISES(kInvalidParamValue, open(sql, ado::adLockReadOnly));
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T").toInt32(), 3);
  EXPECT_EQ(scalar("SELECT SUM(N) FROM T").toInt32(), 6);
  // Trailing ";", blanks and comments are no second statement, nor is a ";"
  // inside a literal, a quoted name or a comment.
  EXPECT_EQ(exec("UPDATE T SET NAME = 'a;b' WHERE ID = 1 ; ; \n -- done; really\n /* ; */ "), 1);
  EXPECT_EQ(scalar("SELECT NAME FROM T WHERE ID = 1;").toString(), "a;b");
  EXPECT_EQ(scalar("SELECT NAME AS [x;y] FROM T /* ; DELETE FROM T */ WHERE ID = 1").toString(), "a;b");
  EXPECT_EQ(open("SELECT * FROM T WHERE NAME <> '--;' ;")->RecordCount(), 3);
  // A trigger body holds statements of its own but is one statement.
  exec("CREATE TRIGGER TR AFTER INSERT ON T BEGIN UPDATE T SET N = 9 WHERE ID = NEW.ID; END;");
  exec("INSERT INTO T (NAME) VALUES ('dan')");
  EXPECT_EQ(scalar("SELECT N FROM T WHERE NAME = 'dan'").toInt32(), 9);
  // An empty text runs nothing.
  EXPECT_EQ(exec(" -- nothing\n"), 0);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM T").toInt32(), 4);
}

TEST_F(DatabaseTest, ABatchIsRunOnlyWhenAskedFor) {
  EXPECT_EQ(conn_->ExecuteBatch("CREATE TABLE U (A INT);\nINSERT INTO U VALUES (1); -- one\n"
                                "INSERT INTO U VALUES (';');\nUPDATE U SET A = 2 WHERE A = 1;"),
            3);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM U").toInt32(), 2);
  // A failing statement stops the batch; the ones before it have run.
  EXPECT_RAISES(hr::kDatabase, conn_->ExecuteBatch("INSERT INTO U VALUES (3); INSERT INTO NOPE VALUES (1); "
                                                  "INSERT INTO U VALUES (4)"));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM U").toInt32(), 3);
}

}  // namespace
}  // namespace quillon
