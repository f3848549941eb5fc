#include "foundation/DBUtils.h"

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Text.h"

namespace quillon::DBUtils {

using General::Guarded;

namespace {
std::shared_ptr<Connection> openConnection(const long* timeout) {
  General::ModuleState& st = General::ThreadState();
  if (text::Trim(st.connectionString).empty()) GetConnectionString();
  auto conn = std::make_shared<Connection>();
  if (timeout) conn->SetCommandTimeout(*timeout);
  conn->Open(st.connectionString, "", "", -1);
  return conn;
}
}  // namespace

std::shared_ptr<Connection> GetConnection() {
  return Guarded("DBUtils.GetConnection", [] { return openConnection(nullptr); });
}

std::shared_ptr<Connection> GetConnectionWithODBCTimeoutIs(long timeout) {
  return Guarded("DBUtils.GetConnectionWithODBCTimeoutIs", [&] { return openConnection(&timeout); });
}

void GetConnectionString() {
  General::ModuleState& st = General::ThreadState();
  if (!st.connectionString.empty()) return;
  try {
    auto cfg = General::RequireComponent<Configuration>("Basalt.Configuration", "Quillon.DBUtils");
    cfg->Load(General::GetB2BConfigFile());
    st.connectionString = cfg->GetConnectionString("Quillon");
  } catch (...) {
    General::LogError("DBUtils.GetConnection",
                      "Couldn't get the connection string from the Basalt dll. Trying the default connectionstring.");
  }
}

std::string GetParameter(const std::string& name) {
  std::shared_ptr<Connection> conn;
  try {
    conn = GetConnection();
    auto rs = conn->Execute("SELECT PARAMVALUE FROM COLLABORATIONPARAMETER " "WHERE PARAMNAME = " + Encoding::SqlText(name));
    if (rs->EOF_())
      throw Error(MissingParameter, "Quillon.DBUtils.GetParameter",
                  "Couldn't get the parameter '" + name + "' from the database.");
    std::string value = text::Trim(rs->Fields(0).Value().text());
    rs->Close();
    General::CloseConnection(conn);
    return value;
  } catch (...) {
    General::CloseConnection(conn);
    General::ReRaiseError("DBUtils.GetParameter");
    throw;
  }
}

std::shared_ptr<Recordset> getDisconnectedReadOnlyRecordSet(const std::string& sql) {
  std::shared_ptr<Connection> conn;
  try {
    conn = GetConnection();
    // A read-only recordset never comes from a statement that changes data.
    conn->RequireReadOnly(sql);
    auto rs = std::make_shared<Recordset>();
    rs->SetCursorLocation(ado::adUseClient);
    rs->Open(sql, conn, ado::adOpenForwardOnly, ado::adLockReadOnly, -1);
    rs->SetActiveConnectionNothing();
    General::CloseConnection(conn);
    return rs;
  } catch (...) {
    General::CloseConnection(conn);
    General::ReRaiseError("Quillon.DBUtils.getDisconnectedReadOnlyRecordSet");
    throw;
  }
}

void CloseRecordset(std::shared_ptr<Recordset>& rs) {
  Guarded("Quillon.DBUtils.CloseRecordset", [&] {
    if (rs && rs->State() == ado::adStateOpen) rs->Close();
    rs.reset();
  });
}

}  // namespace quillon::DBUtils
