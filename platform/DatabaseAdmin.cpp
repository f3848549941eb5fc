#include "platform/DatabaseAdmin.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "platform/Error.h"

namespace quillon::DatabaseAdmin {

namespace {

const char* kSource = "Quillon.DatabaseAdmin";

struct Handle {
  sqlite3* db = nullptr;
  ~Handle() { sqlite3_close_v2(db); }
};

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
  throw Error(hr::kDatabase, kSource, what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

void exec(sqlite3* db, const std::string& sql, const std::string& what) {
  char* msg = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
    std::string m = msg ? msg : "unknown failure";
    sqlite3_free(msg);
    throw Error(hr::kDatabase, kSource, what + ": " + m);
  }
}

}  // namespace

void CreateDatabase(const std::string& path, const std::string& script) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) throw Error(hr::kFail, kSource, "The database '" + path + "' exists already.");
  Handle h;
  if (sqlite3_open_v2(path.c_str(), &h.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
    fail(h.db, "Cannot create the database '" + path + "'");
  exec(h.db, "PRAGMA journal_mode=WAL;", "Cannot switch '" + path + "' to WAL mode");
  exec(h.db, "BEGIN;" + script + "\nCOMMIT;", "The schema script failed on '" + path + "'");
}

void InsertRows(const std::string& path, const std::string& table, const std::vector<std::string>& columns,
                const std::vector<std::vector<std::string>>& rows) {
  Handle h;
  if (sqlite3_open_v2(path.c_str(), &h.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    fail(h.db, "Cannot open the database '" + path + "'");
  sqlite3_busy_timeout(h.db, 30000);
  std::string sql = "INSERT INTO \"" + table + "\" (";
  std::string marks;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    sql += (i ? ", \"" : "\"") + columns[i] + "\"";
    marks += i ? ", ?" : "?";
  }
  sql += ") VALUES (" + marks + ")";
  exec(h.db, "BEGIN;", "Cannot begin a transaction");
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(h.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) fail(h.db, "Cannot prepare " + sql);
  for (const auto& row : rows) {
    sqlite3_reset(stmt);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (i < row.size())
        sqlite3_bind_text(stmt, static_cast<int>(i + 1), row[i].c_str(), static_cast<int>(row[i].size()), SQLITE_TRANSIENT);
      else
        sqlite3_bind_null(stmt, static_cast<int>(i + 1));
    }
    if (sqlite3_step(stmt) != SQLITE_DONE) {
      std::string m = sqlite3_errmsg(h.db);
      sqlite3_finalize(stmt);
      throw Error(hr::kDatabase, kSource, "Cannot insert into " + table + ": " + m);
    }
  }
  sqlite3_finalize(stmt);
  exec(h.db, "COMMIT;", "Cannot commit the rows of " + table);
}

}  // namespace quillon::DatabaseAdmin
