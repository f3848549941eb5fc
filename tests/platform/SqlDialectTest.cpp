#include "platform/SqlDialect.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

std::string tr(const std::string& s) { return SqlDialect::translate(s); }

TEST(SqlDialectTest, TopBecomesLimitAtTheEndOfItsSelect) {
  EXPECT_EQ(tr("SELECT TOP 5 * FROM T"), "SELECT * FROM T LIMIT 5");
  EXPECT_EQ(tr("SELECT TOP 1 A FROM T WHERE B=2 ORDER BY A DESC"), "SELECT A FROM T WHERE B=2 ORDER BY A DESC LIMIT 1");
  EXPECT_EQ(tr("select distinct top 3 A from T;"), "select distinct A from T LIMIT 3;");
  EXPECT_EQ(tr("SELECT TOP (10) A FROM T"), "SELECT A FROM T LIMIT (10)");
  // A trailing comment must not swallow the LIMIT.
  EXPECT_EQ(tr("SELECT TOP 2 A FROM T -- newest\n"), "SELECT A FROM T LIMIT 2 -- newest\n");
  EXPECT_EQ(tr("SELECT TOP 100 PERCENT A FROM T ORDER BY A"), "SELECT A FROM T ORDER BY A");
}

TEST(SqlDialectTest, TopInSubqueriesAndCompoundsStaysWithItsOwnSelect) {
  EXPECT_EQ(tr("SELECT * FROM T WHERE ID IN (SELECT TOP 1 ID FROM U ORDER BY D DESC) ORDER BY ID"),
            "SELECT * FROM T WHERE ID IN (SELECT ID FROM U ORDER BY D DESC LIMIT 1) ORDER BY ID");
  EXPECT_EQ(tr("SELECT TOP 2 * FROM (SELECT TOP 5 A FROM T ORDER BY A) X ORDER BY A DESC"),
            "SELECT * FROM (SELECT A FROM T ORDER BY A LIMIT 5) X ORDER BY A DESC LIMIT 2");
  EXPECT_EQ(tr("SELECT TOP 1 A FROM T UNION ALL SELECT TOP 2 B FROM U ORDER BY 1"),
            "SELECT * FROM (SELECT A FROM T LIMIT 1) UNION ALL SELECT * FROM (SELECT B FROM U LIMIT 2) ORDER BY 1");
  EXPECT_EQ(tr("INSERT INTO X (A) SELECT TOP 3 A FROM T ORDER BY A"),
            "INSERT INTO X (A) SELECT A FROM T ORDER BY A LIMIT 3");
}

TEST(SqlDialectTest, OwnerPrefixIsRemoved) {
  EXPECT_EQ(tr("DELETE FROM dbo.PUBLICATION"), "DELETE FROM PUBLICATION");
  EXPECT_EQ(tr("SELECT DBO.T.A FROM Dbo.T JOIN [dbo].[U] ON 1=1"), "SELECT T.A FROM T JOIN \"U\" ON 1=1");
  // Only the owner itself: other names ending in "dbo" stay.
  EXPECT_EQ(tr("SELECT XDBO.A FROM XDBO"), "SELECT XDBO.A FROM XDBO");
  EXPECT_EQ(tr("UPDATE T SET A='dbo.x' WHERE B=\"dbo\""), "UPDATE T SET A='dbo.x' WHERE B=\"dbo\"");
}

TEST(SqlDialectTest, NumberGluedToKeywordGetsABlank) {
  EXPECT_EQ(tr("DELETE FROM T WHERE DOCUMENTID=5WHERE"), "DELETE FROM T WHERE DOCUMENTID=5 WHERE");
  EXPECT_EQ(tr("SELECT * FROM T WHERE A=1AND B=-1OR C=2.5ORDER BY A"),
            "SELECT * FROM T WHERE A=1 AND B=-1 OR C=2.5 ORDER BY A");
  EXPECT_EQ(tr("CASE WHEN A=1 THEN 5ELSE 6END"), "CASE WHEN A=1 THEN 5 ELSE 6 END");
  // Digits inside identifiers, hexadecimal and exponents are single tokens.
  EXPECT_EQ(tr("SELECT COL1AND, T1AND FROM T2OR WHERE X=0x1F AND Y=1E5"),
            "SELECT COL1AND, T1AND FROM T2OR WHERE X=0x1F AND Y=1E5");
}

TEST(SqlDialectTest, FunctionsBracketsAndUnicodeLiterals) {
  EXPECT_EQ(tr("SELECT ISNULL(A,''), LEN (B) FROM [My Table] WHERE D < GETDATE ( )"),
            "SELECT IFNULL(A,''), LENGTH (B) FROM \"My Table\" WHERE D < datetime('now','localtime')");
  // Not a call: SQLite's own postfix ISNULL, and a column named LEN.
  EXPECT_EQ(tr("SELECT LEN FROM T WHERE A ISNULL"), "SELECT LEN FROM T WHERE A ISNULL");
  EXPECT_EQ(tr("SELECT [a]]b\"c] FROM T"), "SELECT \"a]b\"\"c\" FROM T");
  EXPECT_EQ(tr("UPDATE T SET A=N'x' WHERE N=1"), "UPDATE T SET A='x' WHERE N=1");
  EXPECT_EQ(tr("BEGIN TRAN"), "BEGIN TRANSACTION");
}

TEST(SqlDialectTest, LiteralsAndCommentsAreNeverChanged) {
  const std::string literal = "'it''s TOP 5 dbo.T [x] 5AND ISNULL( GETDATE() -- /*'";
  EXPECT_EQ(tr("SELECT " + literal + " FROM T"), "SELECT " + literal + " FROM T");
  EXPECT_EQ(tr("SELECT A FROM T /* TOP 5 dbo.x [y] */ WHERE B='['"), "SELECT A FROM T /* TOP 5 dbo.x [y] */ WHERE B='['");
  // An unterminated literal runs to the end and is left for SQLite to report.
  EXPECT_EQ(tr("SELECT 'abc dbo.x"), "SELECT 'abc dbo.x");
  const std::string plain = "INSERT INTO X (A, B) SELECT A, B + 'x' FROM Y WHERE A LIKE 'a%'";
  EXPECT_EQ(tr(plain), plain);
  // Dropping the N of a Unicode literal never glues two literals into one.
  EXPECT_EQ(tr("SELECT 'a'N'b'"), "SELECT 'a' 'b'");
  EXPECT_EQ(tr("SELECT N'a'N'b', N'c'"), "SELECT 'a' 'b', 'c'");
}

TEST(SqlDialectTest, InsertOfWhatTheTableLacksSkipsExistingRowsByItsKey) {
  const std::string fill =
      "INSERT INTO PUBLICATION SELECT 7, DISTRIBUTIONLIST.USERID, 0, 0, NULL FROM DISTRIBUTIONLIST "
      "WHERE DISTRIBUTIONLIST.DOCUMENTTYPEID = 'ORDER'  AND USERID = 'bob' ";
  const std::string guard =
      " AND DISTRIBUTIONLIST.USERID NOT IN (SELECT PUBLICATION.USERID FROM PUBLICATION WHERE "
      "PUBLICATION.USERID = DISTRIBUTIONLIST.USERID AND DOCUMENTID = 7)";
  EXPECT_EQ(tr(fill + guard), "INSERT OR IGNORE INTO PUBLICATION SELECT 7, DISTRIBUTIONLIST.USERID, 0, 0, NULL FROM "
                              "DISTRIBUTIONLIST WHERE DISTRIBUTIONLIST.DOCUMENTTYPEID = 'ORDER'  AND USERID = 'bob'");
  EXPECT_EQ(tr("insert into [dbo].[PUBLICATION] select 1, U from L where A = 1 and U not in "
               "(select P.U from dbo.Publication P where P.D = 1);"),
            "insert OR IGNORE into \"PUBLICATION\" select 1, U from L where A = 1;");
  // Anything else stays as written: a NOT IN on another table, one that is
  // not the last condition, one inside parentheses, a subquery that joins,
  // and the same words inside a literal.
  for (const std::string& kept : {
           std::string("INSERT INTO P SELECT 1, U FROM L WHERE A = 1 AND U NOT IN (SELECT U FROM Q WHERE D = 1)"),
           std::string("INSERT INTO P SELECT 1, U FROM L WHERE U NOT IN (SELECT U FROM P WHERE D = 1) AND A = 1"),
           std::string("INSERT INTO P SELECT 1, U FROM L WHERE (A = 1 AND U NOT IN (SELECT U FROM P WHERE D = 1))"),
           std::string("INSERT INTO P SELECT 1, U FROM L WHERE A = 1 AND U NOT IN (SELECT U FROM P, Q WHERE D = 1)"),
           std::string("INSERT INTO P SELECT 1, U FROM L WHERE A = 1 AND U NOT IN (SELECT U FROM P) OR B = 2"),
           std::string("INSERT INTO P SELECT 1, 'AND U NOT IN (SELECT U FROM P)' FROM L"),
           std::string("DELETE FROM P WHERE A = 1 AND U NOT IN (SELECT U FROM P WHERE D = 1)"),
       })
    EXPECT_EQ(tr(kept), kept);
}

TEST(SqlDialectTest, TokenizerKeepsPositionsAndKinds) {
  auto t = SqlDialect::tokenize("a='x''y'[b]1.5");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[2].kind, SqlToken::String);
  EXPECT_EQ(t[2].text, "'x''y'");
  EXPECT_EQ(t[3].kind, SqlToken::Identifier);
  EXPECT_EQ(t[4].kind, SqlToken::Number);
  EXPECT_EQ(t[4].pos, 11u);
}

}  // namespace
}  // namespace quillon
