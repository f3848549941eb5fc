#include <gtest/gtest.h>

#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "platform/Database.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

class DBUtilsTest : public test::TestSite {};

TEST_F(DBUtilsTest, GetParameterTrimsAndRefusesAMissingName) {
  exec("INSERT INTO COLLABORATIONPARAMETER VALUES ('Padded', '   value with blanks  ')");
  EXPECT_EQ(DBUtils::GetParameter("Padded"), "value with blanks");
  EXPECT_EQ(DBUtils::GetParameter("SiteLink"), "http://localhost/quillon");
  Error e = EXPECT_RAISES(MissingParameter, DBUtils::GetParameter("Missing"));
  EXPECT_EQ(e.source(), "Quillon.DBUtils.GetParameter");
  EXPECT_EQ(e.description(),
            "\r\nMETHOD: DBUtils.GetParameter caught: Couldn't get the parameter 'Missing' from the database.(800401FE).");
}

TEST_F(DBUtilsTest, LiteralsKeepQuotesAsData) {
  const std::string tricky = "O'Brien'); DROP TABLE DOCUMENT; --";
  exec("INSERT INTO COLLABORATIONPARAMETER VALUES ('Tricky', 'x')");
  auto conn = DBUtils::GetConnection();
  long affected = 0;
  conn->Execute("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = " + Encoding::SqlText(tricky) +
                    " WHERE PARAMNAME = " + Encoding::SqlText("Tricky"),
                &affected);
  General::CloseConnection(conn);
  EXPECT_EQ(affected, 1);
  EXPECT_EQ(DBUtils::GetParameter("Tricky"), tricky);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "0");  // the table is still there
  EXPECT_EQ(Encoding::SqlText("it's"), "'it''s'");
  EXPECT_EQ(Encoding::SqlLikePattern("a%'b"), "'a%''b'");
  EXPECT_EQ(Encoding::SqlLong(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(Encoding::SqlByte(255), "255");
}

TEST_F(DBUtilsTest, DisconnectedRecordsetsOutliveTheirConnection) {
  auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
      "SELECT PARAMNAME, PARAMVALUE FROM COLLABORATIONPARAMETER WHERE PARAMNAME LIKE 'XMLPath%' ORDER BY PARAMNAME");
  ASSERT_FALSE(rs->EOF_());
  EXPECT_EQ(rs->Fields("paramname").Value().toString(), "XMLPath1");
  rs->MoveNext();
  EXPECT_EQ(rs->Fields("PARAMNAME").Value().toString(), "XMLPath2");
  EXPECT_FALSE(rs->IsConnected());
  EXPECT_RAISES(hr::kDbNotUpdatable, rs->Fields("PARAMVALUE").SetValue(Variant("x")));
  DBUtils::CloseRecordset(rs);
  EXPECT_EQ(rs, nullptr);
}

TEST_F(DBUtilsTest, ConnectionFailuresCarryTheirMethod) {
  // A connection string that names a database that does not exist.
  writeFile("Z2IZezazaConfiguration.xml",
            "<configuration><connectionStrings><component name=\"Quillon\">Provider=SQLite;Data Source=" + dir() +
                "/absent.db</component></connectionStrings></configuration>");
  Error e = EXPECT_RAISES(hr::kDatabase, DBUtils::GetConnection());
  EXPECT_EQ(e.description().rfind("\r\nMETHOD: DBUtils.GetConnection caught: ", 0), 0u) << e.description();
  EXPECT_NE(e.description().find("absent.db"), std::string::npos);
  // Without a connection string the failure is logged, and the open then fails.
  General::ResetThreadState();
  writeFile("Z2IZezazaConfiguration.xml", "<configuration/>");
  EXPECT_RAISES(hr::kDatabase, DBUtils::GetConnectionWithODBCTimeoutIs(5));
  bool logged = false;
  for (const auto& e : logEntries())
    logged |= e.message.find("Trying the default connectionstring.") != std::string::npos;
  EXPECT_TRUE(logged);
}

}  // namespace
}  // namespace quillon
