#include "platform/DatabaseAdmin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/DatabaseBackend.h"
#include "platform/Error.h"

namespace quillon::DatabaseAdmin {

namespace {

const char* kSource = "Quillon.DatabaseAdmin";

std::string lowered(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

db::ConnectionSettings settingsOf(const std::string& database) {
  std::string l = lowered(database);
  bool connectionString = l.rfind("postgresql://", 0) == 0 || l.rfind("postgres://", 0) == 0 ||
                          l.find("provider") != std::string::npos || l.find("data source") != std::string::npos;
  return db::ParseConnectionString(connectionString ? database : "Provider=SQLite;Data Source=" + database);
}

// Runs `work` on a handle of its own inside one transaction; failures carry
// `what` and the engine's message.
template <class Work>
void inTransaction(db::Handle& h, const std::string& what, Work work) {
  try {
    h.begin();
    work();
    h.commit();
  } catch (const Error& e) {
    try {
      h.rollback();
    } catch (...) {
    }
    throw Error(hr::kDatabase, kSource, what + ": " + e.description());
  }
}

long long countTables(db::Handle& h) {
  db::Prepared p = h.prepare("SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema()", {});
  std::vector<db::Row> rows;
  p.statement->run({}, &rows);
  return rows.empty() ? 0 : static_cast<long long>(rows[0][0].toDouble());
}

}  // namespace

bool IsPostgreSQL(const std::string& database) { return settingsOf(database).engine == db::Engine::PostgreSQL; }

void CreateDatabase(const std::string& database, const std::string& script) {
  db::ConnectionSettings settings = settingsOf(database);
  std::unique_ptr<db::Handle> h;
  if (settings.engine == db::Engine::SQLite) {
    // A new, empty file (an empty file is an empty database).
    int fd = ::open(settings.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      struct stat st {};
      if (::stat(settings.path.c_str(), &st) == 0)
        throw Error(hr::kFail, kSource, "The database '" + settings.path + "' exists already.");
      throw Error(hr::kDatabase, kSource, "Cannot create the database '" + settings.path + "'.");
    }
    ::close(fd);
    try {
      h = db::OpenSqlite(settings.path);
    } catch (const Error& e) {
      ::unlink(settings.path.c_str());
      throw Error(hr::kDatabase, kSource, "Cannot create the database '" + settings.path + "': " + e.description());
    }
  } else {
    h = db::OpenHandle(settings);
    if (countTables(*h) > 0)
      throw Error(hr::kFail, kSource, "The PostgreSQL " + settings.description + " holds tables already.");
  }
  inTransaction(*h, "The schema script failed on the " + settings.description, [&] { h->runScript(script); });
  h->makeDurable();
}

void InsertRows(const std::string& database, const std::string& table, const std::vector<std::string>& columns,
                const std::vector<std::vector<std::string>>& rows) {
  db::ConnectionSettings settings = settingsOf(database);
  std::unique_ptr<db::Handle> h = db::OpenHandle(settings);
  h->setTimeout(30);
  std::string sql = "INSERT INTO " + h->quoteName(table) + " (";
  std::string marks;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    sql += (i ? ", " : "") + h->quoteName(columns[i]);
    marks += (i ? ", " : "") + h->placeholder(static_cast<int>(i + 1));
  }
  sql += ") VALUES (" + marks + ")";
  inTransaction(*h, "Cannot insert into " + table, [&] {
    db::Prepared p = h->prepare(sql, {});
    for (const auto& row : rows) {
      db::Params params(columns.size());
      for (std::size_t i = 0; i < columns.size() && i < row.size(); ++i) {
        params[i].kind = db::Param::Text;
        params[i].text = row[i];
      }
      p.statement->run(params, nullptr);
    }
  });
  h->makeDurable();
}

}  // namespace quillon::DatabaseAdmin
