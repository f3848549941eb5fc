// DBUtils: connections, portal parameters and read-only recordsets.
//
// Every operation that touches the database opens its own connection and
// closes it before it returns; the platform keeps the physical handles in a
// per-thread pool, so this stays cheap.
#pragma once

#include <memory>
#include <string>

namespace quillon {

class Connection;
class Recordset;

namespace DBUtils {

// A new open connection with the component's connection string; the
// caller closes it with General::CloseConnection.
std::shared_ptr<Connection> GetConnection();
// The same with the command timeout (seconds, 0 = no limit) set first.
std::shared_ptr<Connection> GetConnectionWithODBCTimeoutIs(long timeout);
// Fills the per-thread connection string from the B2B configuration file
// when it is empty; a failure is logged and leaves it empty.
void GetConnectionString();
// The trimmed PARAMVALUE of a COLLABORATIONPARAMETER row; raises
// MissingParameter when there is no row for `name`.
std::string GetParameter(const std::string& name);
// A recordset detached from any connection, opened read-only. A text with
// a statement that would change anything is refused before it runs.
std::shared_ptr<Recordset> getDisconnectedReadOnlyRecordSet(const std::string& sql);
// Closes an open recordset and releases it.
void CloseRecordset(std::shared_ptr<Recordset>& rs);

}  // namespace DBUtils
}  // namespace quillon
