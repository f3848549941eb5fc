// DatabaseAdmin: creating a site database (used by the installer only; the
// component itself never creates, alters or drops tables).
#pragma once

#include <string>
#include <vector>

namespace quillon::DatabaseAdmin {

// Creates a new SQLite database file (WAL mode) and runs `script` in it.
// Raises Error when the file exists already or the script fails.
void CreateDatabase(const std::string& path, const std::string& script);

// Inserts rows into `table` with bound values, in one transaction.
// A row shorter than the column list leaves the remaining columns NULL.
void InsertRows(const std::string& path, const std::string& table, const std::vector<std::string>& columns,
                const std::vector<std::vector<std::string>>& rows);

}  // namespace quillon::DatabaseAdmin
