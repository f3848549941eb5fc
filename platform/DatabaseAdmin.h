// DatabaseAdmin: creating a site database (used by the installer only; the
// component itself never creates, alters or drops tables).
//
// `database` is a connection string (platform/Database.h: SQLite or
// PostgreSQL) or, for SQLite, the path of the database file.
#pragma once

#include <string>
#include <vector>

namespace quillon::DatabaseAdmin {

// Creates the site database and runs `script` (statements separated by
// ";") in it, in one transaction. SQLite: a new file in WAL mode; raises
// when the file exists already. PostgreSQL: the database must exist (its
// owner is the site's user) and hold no tables yet; raises otherwise.
// Raises Error when the script fails (nothing of it is kept then).
void CreateDatabase(const std::string& database, const std::string& script);

// Inserts rows into `table` with bound values, in one transaction.
// A row shorter than the column list leaves the remaining columns NULL.
void InsertRows(const std::string& database, const std::string& table, const std::vector<std::string>& columns,
                const std::vector<std::vector<std::string>>& rows);

// True when `database` names a PostgreSQL database.
bool IsPostgreSQL(const std::string& database);

}  // namespace quillon::DatabaseAdmin
