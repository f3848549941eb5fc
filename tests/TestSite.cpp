#include "tests/TestSite.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "foundation/General.h"
#include "foundation/Site.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "tests/PostgresServer.h"

namespace fs = std::filesystem;

namespace quillon::test {

void TestSite::SetUp() {
  char tmpl[] = "/tmp/quillon-test-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  dir_ = tmpl;
  ::setenv(kSiteEnvironmentVariable, dir_.c_str(), 1);
  General::ResetThreadState();
  if (createOnSetUp_) createSite();
}

void TestSite::createSite(bool sampleData) {
  SiteOptions options;
  options.sampleData = sampleData;
  if (TestOnPostgres()) {
    database_ = PostgresServer::Shared().NewDatabase();
    options.database = database_;
  }
  Site::Create(dir_, options);
  if (!database_.empty()) {
    // Tests check results with SQLite's IFNULL and GROUP_CONCAT; the same
    // on the test's PostgreSQL database (never part of a site's schema).
    const std::size_t at = database_.find("@/") + 2;
    const std::string name = database_.substr(at, database_.find('?') - at);
    PostgresServer::Shared().Psql(name, R"(
CREATE FUNCTION ifnull(anycompatible, anycompatible) RETURNS anycompatible LANGUAGE sql IMMUTABLE
  AS 'SELECT coalesce($1, $2)';
CREATE FUNCTION group_concat_step(text, anyelement) RETURNS text LANGUAGE sql IMMUTABLE
  AS 'SELECT CASE WHEN $2 IS NULL THEN $1 WHEN $1 IS NULL THEN $2::text ELSE $1 || '','' || $2::text END';
CREATE AGGREGATE group_concat(anyelement) (SFUNC = group_concat_step, STYPE = text);
CREATE FUNCTION group_concat_step(text, anyelement, text) RETURNS text LANGUAGE sql IMMUTABLE
  AS 'SELECT CASE WHEN $2 IS NULL THEN $1 WHEN $1 IS NULL THEN $2::text ELSE $1 || $3 || $2::text END';
CREATE AGGREGATE group_concat(anyelement, text) (SFUNC = group_concat_step, STYPE = text);
)");
  }
  General::ResetThreadState();
}

void TestSite::TearDown() {
  General::ResetThreadState();
  // The server's connections of this test's database are not kept idle.
  if (!database_.empty()) Connection::ReleaseIdleHandles();
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

std::string TestSite::dbPath() const { return Site::DatabasePath(dir_); }

std::string TestSite::connectionString() const {
  return database_.empty() ? "Provider=SQLite;Data Source=" + dbPath() : database_;
}

void TestSite::exec(const std::string& sql) const {
  if (!database_.empty()) {
    // Through the database layer, so the same SQL Server text is adapted
    // to PostgreSQL as the component's are.
    try {
      auto conn = std::make_shared<Connection>();
      conn->Open(database_);
      conn->ExecuteBatch(sql);
      conn->Close();
    } catch (const Error& e) {
      FAIL() << e.description() << " in " << sql;
    }
    return;
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(dbPath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(db, 10000);
  char* msg = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
  std::string m = msg ? msg : "";
  sqlite3_free(msg);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << m << " in " << sql;
}

std::string TestSite::scalar(const std::string& sql) const {
  if (!database_.empty()) {
    try {
      auto conn = std::make_shared<Connection>();
      conn->Open(database_);
      auto rs = conn->Execute(sql);
      std::string out = "<no row>";
      if (!rs->EOF_()) {
        Variant v = rs->Fields(0).Value();
        // A comparison reads as a Boolean on PostgreSQL, as 1/0 on SQLite.
        out = v.isNull() ? "NULL" : v.type() == VarType::Boolean ? (v.toBool() ? "1" : "0") : v.toString();
      }
      rs->Close();
      conn->Close();
      return out;
    } catch (const Error& e) {
      ADD_FAILURE() << e.description() << " in " << sql;
      return "<error>";
    }
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(dbPath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  std::string out = "<no row>";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(st, 0);
    out = t ? reinterpret_cast<const char*>(t) : "NULL";
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

Error expectRaises(std::int64_t number, const std::function<void()>& f, const char* statement, const char* file,
                   int line) {
  try {
    f();
  } catch (const Error& e) {
    if (number != kAnyError && e.number() != number)
      ADD_FAILURE_AT(file, line) << statement << " raised " << hexNumber(e.number()) << " instead of "
                                 << hexNumber(static_cast<std::int32_t>(number)) << ": " << e.description();
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE_AT(file, line) << statement << " raised a non-Error exception: " << e.what();
    return Error(0, "", "");
  } catch (...) {
    ADD_FAILURE_AT(file, line) << statement << " raised a non-Error exception";
    return Error(0, "", "");
  }
  ADD_FAILURE_AT(file, line) << statement << " raised no error";
  return Error(0, "", "");
}

std::string TestSite::read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<LogEntry> TestSite::logEntries() const { return Log::ReadEntries(dir_ + "/log/quillon.log"); }

std::string TestSite::writeFile(const std::string& relative, const std::string& content) const {
  fs::path p = fs::path(dir_) / relative;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
  return p.string();
}

void TestSite::setConfigValue(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& value) const {
  fs::path p = fs::path(dir_) / file;
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  std::string open = "<section name=\"" + section + "\">\n";
  std::string entry = "    <key name=\"" + key + "\">" + value + "</key>\n";
  std::regex existing("    <key name=\"" + key + "\">[^<]*</key>\n");
  auto pos = text.find(open);
  if (pos == std::string::npos) {
    text.replace(text.find("</configuration>"), 0, "  " + open + entry + "  </section>\n");
  } else {
    std::string head = text.substr(0, pos + open.size());
    std::string rest = text.substr(pos + open.size());
    auto end = rest.find("  </section>");
    std::string body = rest.substr(0, end);
    if (std::regex_search(body, existing))
      body = std::regex_replace(body, existing, entry);
    else
      body += entry;
    text = head + body + rest.substr(end);
  }
  std::ofstream(p) << text;
}

}  // namespace quillon::test
