// The SQLite engine behind platform/Database.h (see DatabaseBackend.h).
//
// Handles are opened in WAL mode with synchronous=NORMAL (commits append to
// the WAL; the durable point syncs it), a busy timeout and a progress
// handler that ends a statement running past the command timeout.
#include <sqlite3.h>

#include <chrono>
#include <climits>
#include <filesystem>

#include "platform/DatabaseBackend.h"
#include "platform/Error.h"
#include "platform/SqlDialect.h"

namespace quillon::db {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// True when `tail` (what follows the first statement of a text) holds
// anything besides blanks, comments and ";".
bool holdsAnotherStatement(std::string_view tail) {
  for (const SqlToken& t : SqlDialect::tokenize(tail))
    if (t.significant() && !t.isPunct(';')) return true;
  return false;
}

std::string quote(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

// The name a (possibly quoted) identifier stands for.
std::string unquote(std::string_view t) {
  if (t.size() < 2 || (t[0] != '"' && t[0] != '[' && t[0] != '`')) return std::string(t);
  char close = t[0] == '[' ? ']' : t[0];
  std::string out;
  for (std::size_t i = 1; i + 1 < t.size(); ++i) {
    out += t[i];
    if (t[i] == close && t[i + 1] == close) ++i;
  }
  return out;
}

Variant readValue(sqlite3_stmt* s, int col, ValueKind kind) {
  switch (sqlite3_column_type(s, col)) {
    case SQLITE_NULL: return Variant::null();
    case SQLITE_INTEGER: {
      sqlite3_int64 v = sqlite3_column_int64(s, col);
      if (kind == ValueKind::Int16 && v >= INT16_MIN && v <= INT16_MAX) return Variant(static_cast<std::int16_t>(v));
      if (kind == ValueKind::Byte && v >= 0 && v <= 255) return Variant(static_cast<std::uint8_t>(v));
      if (kind == ValueKind::Double) return Variant(static_cast<double>(v));
      return IntegerVariant(v);
    }
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(s, col));
    case SQLITE_TEXT: {
      const char* p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
      std::string text(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col)));
      if (kind == ValueKind::Date) {
        double d;
        if (parseOleDate(text, d)) return Variant::date(d);
      }
      return Variant(std::move(text));
    }
    default: {  // SQLITE_BLOB
      const char* p = static_cast<const char*>(sqlite3_column_blob(s, col));
      return Variant(std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(s, col))));
    }
  }
}

void bind(sqlite3_stmt* s, int index, const Param& p) {
  switch (p.kind) {
    case Param::Null: sqlite3_bind_null(s, index); break;
    case Param::Integer: sqlite3_bind_int64(s, index, p.integer); break;
    case Param::Real: sqlite3_bind_double(s, index, p.real); break;
    case Param::Text:
      sqlite3_bind_text(s, index, p.text.data(), static_cast<int>(p.text.size()), SQLITE_TRANSIENT);
      break;
    case Param::Bytes:
      sqlite3_bind_blob(s, index, p.text.data(), static_cast<int>(p.text.size()), SQLITE_TRANSIENT);
      break;
  }
}

class SqliteHandle;

class SqliteStatement : public Statement {
 public:
  SqliteStatement(SqliteHandle& h, sqlite3_stmt* s) : h_(h), s_(s) {}
  ~SqliteStatement() override { sqlite3_finalize(s_); }
  long run(const Params& params, std::vector<Row>* rows) override;
  std::shared_ptr<const Shape> shape() override;

 private:
  SqliteHandle& h_;
  sqlite3_stmt* s_;
  std::shared_ptr<const Shape> shape_;
  int reprepares_ = -1;  // SQLite's re-prepare count when shape_ was built
};

// Allows what a plain query needs and denies everything else.
int readOnlyAuthorizer(void*, int action, const char*, const char*, const char*, const char*) {
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
      return SQLITE_OK;
    default:
      return SQLITE_DENY;
  }
}

class SqliteHandle : public Handle {
 public:
  explicit SqliteHandle(const std::string& path) : path_(path) {
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close_v2(db_);
      db_ = nullptr;
      std::error_code ec;
      if (!std::filesystem::exists(path, ec)) Raise(hr::kDatabase, "The database file '" + path + "' does not exist.");
      Raise(hr::kDatabase, "Cannot open the database file '" + path + "': " + why);
    }
    sqlite3_extended_result_codes(db_, 1);
    // Setting up the journal reads the database: while another process
    // holds a lock for a moment (its commit, its last connection closing
    // the log), the open waits as a statement would instead of failing.
    setTimeout(timeoutSeconds_);
    std::string why;
    if (!configure(why)) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      Raise(hr::kDatabase, "Cannot open the database file '" + path + "': " + why);
    }
    sqlite3_progress_handler(db_, 1000, &SqliteHandle::progress, this);
  }
  SqliteHandle(const SqliteHandle&) = delete;
  SqliteHandle& operator=(const SqliteHandle&) = delete;
  ~SqliteHandle() override {
    // What this handle committed since its last durable point becomes
    // durable before it goes, so a short process (one command) that wrote
    // leaves nothing only in the page cache.
    if (sqlite3_total_changes(db_) != changesAtDurablePoint_) {
      try {
        makeDurable();
      } catch (...) {
        // Closing must not fail; the commit itself is complete either way.
      }
    }
    sqlite3_close_v2(db_);
  }

  SqlTarget target() const override { return SqlTarget::SQLite; }
  std::string placeholder(int n) const override { return "?" + std::to_string(n); }
  std::string quoteName(const std::string& name) const override { return quote(name); }
  bool foldsNames() const override { return false; }

  Prepared prepare(const std::string& text, const Params&) override {
    Prepared p;
    sqlite3_stmt* s = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v3(db_, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT, &s, &tail) !=
        SQLITE_OK) {
      sqlite3_finalize(s);
      fail();
    }
    // Blanks and comments only: no statement. Anything but blanks, comments
    // and ';' after the first statement: a second one, never run.
    bool another = holdsAnotherStatement(std::string_view(tail, text.data() + text.size() - tail));
    if (!s) {
      p.empty = !another;
      p.several = another;
    } else if (another) {
      sqlite3_finalize(s);
      p.several = true;
    } else {
      p.statement = std::make_unique<SqliteStatement>(*this, s);
    }
    return p;
  }

  long runScript(const std::string& text) override {
    const char* p = text.c_str();
    const char* end = p + text.size();
    long affected = 0;
    arm();
    while (p < end) {
      sqlite3_stmt* s = nullptr;
      const char* tail = nullptr;
      if (sqlite3_prepare_v2(db_, p, static_cast<int>(end - p), &s, &tail) != SQLITE_OK) {
        sqlite3_finalize(s);
        fail();
      }
      p = tail;
      if (!s) continue;  // blanks or a comment
      struct Finalize {
        sqlite3_stmt* s;
        ~Finalize() { sqlite3_finalize(s); }
      } finalize{s};
      int before = sqlite3_total_changes(db_);
      int rc = sqlite3_step(s);
      while (rc == SQLITE_ROW) rc = sqlite3_step(s);
      if (rc != SQLITE_DONE) fail();
      if (sqlite3_total_changes(db_) != before) affected += sqlite3_changes(db_);
    }
    return affected;
  }

  void setTimeout(long seconds) override {
    int ms = seconds <= 0 ? 24 * 3600 * 1000 : (seconds > INT_MAX / 1000 ? INT_MAX : static_cast<int>(seconds * 1000));
    if (ms != busyMs_) {
      sqlite3_busy_timeout(db_, ms);
      busyMs_ = ms;
    }
    timeoutSeconds_ = seconds;
  }

  void begin() override { exec("BEGIN"); }
  void commit() override {
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      std::string why = sqlite3_errmsg(db_);
      if (inTransaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      Raise(hr::kDatabase, "The transaction could not be committed and was rolled back: " + why);
    }
  }
  void rollback() override {
    if (inTransaction()) exec("ROLLBACK");
  }
  bool inTransaction() const override { return !sqlite3_get_autocommit(db_); }

  // In WAL mode with synchronous=NORMAL a commit only appends to the WAL
  // file; one sync of that file puts every commit in it (of any connection
  // or process) on disk. Checkpoints sync the WAL before they copy it and
  // the database after, so what they moved is durable too. Without WAL
  // every commit syncs (synchronous=FULL) and there is nothing to do.
  void makeDurable() override {
    if (inTransaction())
      Raise(hr::kDatabase, "A transaction is still open: commit it before making the database durable.");
    if (!wal_) return;
    sqlite3_file* wal = walFile();
    if (!wal) {
      // The handle opens the WAL with its first read.
      sqlite3_stmt* s = nullptr;
      int rc = sqlite3_prepare_v2(db_, "SELECT 1 FROM sqlite_schema LIMIT 1", -1, &s, nullptr);
      if (rc == SQLITE_OK) rc = sqlite3_step(s);
      sqlite3_finalize(s);
      if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        Raise(hr::kDatabase, "Cannot read '" + path_ + "' to make it durable: " + sqlite3_errmsg(db_));
    }
    wal = walFile();
    if (!wal) Raise(hr::kDatabase, "The write-ahead log of '" + path_ + "' is not open, so it cannot be synced.");
    int rc = wal->pMethods->xSync(wal, SQLITE_SYNC_NORMAL);
    if (rc != SQLITE_OK)
      Raise(hr::kDatabase, "The write-ahead log of '" + path_ + "' could not be synced: " + sqlite3_errstr(rc));
    changesAtDurablePoint_ = sqlite3_total_changes(db_);
  }

  void requireReadOnly(const std::string& text) override {
    // Each statement is only prepared (never stepped) under the authorizer.
    sqlite3_set_authorizer(db_, readOnlyAuthorizer, nullptr);
    struct Restore {
      sqlite3* db;
      ~Restore() { sqlite3_set_authorizer(db, nullptr, nullptr); }
    } restore{db_};
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end) {
      sqlite3_stmt* s = nullptr;
      const char* tail = nullptr;
      int rc = sqlite3_prepare_v2(db_, p, static_cast<int>(end - p), &s, &tail);
      bool readOnly = rc == SQLITE_OK && (!s || sqlite3_stmt_readonly(s));
      sqlite3_finalize(s);
      // Any other failure (a syntax error, an unknown table) is left for
      // the run itself to report; nothing after it runs.
      if (rc != SQLITE_OK && rc != SQLITE_AUTH) return;
      if (!readOnly) Raise(hr::kDatabase, "Only a query that reads is allowed here.");
      p = tail;
    }
  }

  std::optional<TableInfo> describeTable(const std::string& written) override {
    std::string name = unquote(written);
    auto dot = name.rfind('.');
    if (dot != std::string::npos && written.find('"') == std::string::npos) name = name.substr(dot + 1);
    TableInfo info;
    {
      std::vector<Row> rows;
      query("SELECT type, name FROM sqlite_schema WHERE name = ?1 COLLATE NOCASE AND type IN ('table', 'view')",
            {name}, rows);
      if (rows.empty() || rows[0][0].text() != "table") return std::nullopt;
      info.name = rows[0][1].text();
    }
    // PRAGMA table_info: cid, name, type, notnull, dflt_value, pk.
    std::vector<Row> columns;
    query("SELECT name, \"notnull\", pk FROM pragma_table_info(?1) ORDER BY pk", {info.name}, columns);
    for (const Row& c : columns)
      if (c[2].toInt32() > 0) info.key.push_back(quote(c[0].text()));
    if (info.key.empty()) {
      auto notNull = [&](const std::string& column) {
        for (const Row& c : columns)
          if (sameText(c[0].text(), column)) return c[1].toInt32() != 0;
        return false;
      };
      std::vector<Row> indexes;
      query("SELECT name FROM pragma_index_list(?1) WHERE \"unique\" = 1 AND partial = 0 ORDER BY name", {info.name},
            indexes);
      for (const Row& index : indexes) {
        std::vector<Row> parts;
        query("SELECT name FROM pragma_index_info(?1) ORDER BY seqno", {index[0].text()}, parts);
        bool usable = !parts.empty();
        for (const Row& part : parts) usable = usable && !part[0].isNull() && notNull(part[0].text());
        if (!usable) continue;
        for (const Row& part : parts) info.key.push_back(quote(part[0].text()));
        break;
      }
    }
    if (info.key.empty()) {
      info.key.push_back("_rowid_");
      info.physicalKey = true;
    }
    return info;
  }

  bool usable() const override { return true; }

  // --- used by SqliteStatement -------------------------------------------

  sqlite3* db() const { return db_; }

  // Starts the clock for one statement's run time.
  void arm() {
    armed_ = timeoutSeconds_ > 0;
    if (armed_) deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
  }

  [[noreturn]] void fail() const {
    Raise(hr::kDatabase, sqlite3_errcode(db_) == SQLITE_INTERRUPT && timedOut() ? "Query timeout expired"
                                                                                : sqlite3_errmsg(db_));
  }

 private:
  static int progress(void* self) { return static_cast<SqliteHandle*>(self)->timedOut() ? 1 : 0; }
  bool timedOut() const { return armed_ && std::chrono::steady_clock::now() > deadline_; }

  void exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail();
  }

  // A catalog query of this layer's own, with text parameters.
  void query(const char* sql, const std::vector<std::string>& args, std::vector<Row>& rows) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) {
      sqlite3_finalize(s);
      fail();
    }
    for (std::size_t i = 0; i < args.size(); ++i)
      sqlite3_bind_text(s, static_cast<int>(i + 1), args[i].data(), static_cast<int>(args[i].size()), SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      Row row;
      for (int c = 0; c < sqlite3_column_count(s); ++c) row.push_back(readValue(s, c, ValueKind::Storage));
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) fail();
  }

  // WAL mode, so readers and one writer of several processes work side by
  // side, and in it synchronous=NORMAL: commits do not sync, durable
  // points do (makeDurable). A file system without WAL support keeps its
  // rollback journal with the default, a sync per commit.
  bool configure(std::string& why) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &st, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      const unsigned char* mode = sqlite3_column_text(st, 0);
      wal_ = mode && sameText(reinterpret_cast<const char*>(mode), "wal");
      rc = SQLITE_OK;
    }
    sqlite3_finalize(st);
    const char* settings = wal_ ? "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=OFF;" : "PRAGMA foreign_keys=OFF;";
    char* err = nullptr;
    if (rc == SQLITE_OK) rc = sqlite3_exec(db_, settings, nullptr, nullptr, &err);
    if (rc == SQLITE_OK) return true;
    why = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    return false;
  }

  // The open WAL file of this handle, or null before its first read.
  sqlite3_file* walFile() {
    sqlite3_file* f = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_JOURNAL_POINTER, &f) != SQLITE_OK) return nullptr;
    return f && f->pMethods ? f : nullptr;
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  bool wal_ = false;
  int changesAtDurablePoint_ = 0;
  int busyMs_ = -1;
  long timeoutSeconds_ = 30;
  bool armed_ = false;
  std::chrono::steady_clock::time_point deadline_;
};

long SqliteStatement::run(const Params& params, std::vector<Row>* rows) {
  // Reset afterwards (also on failure), so a finished statement never
  // holds a read lock.
  struct Reset {
    sqlite3_stmt* s;
    ~Reset() {
      sqlite3_reset(s);
      sqlite3_clear_bindings(s);
    }
  } reset{s_};
  int count = sqlite3_bind_parameter_count(s_);
  for (std::size_t k = 0; k < params.size() && static_cast<int>(k) < count; ++k)
    bind(s_, static_cast<int>(k) + 1, params[k]);
  h_.arm();
  sqlite3* db = h_.db();
  int before = sqlite3_total_changes(db);
  int rc = sqlite3_step(s_);
  if (rc == SQLITE_ROW) {
    std::shared_ptr<const Shape> columns = shape();
    int n = static_cast<int>(columns->size());
    while (rc == SQLITE_ROW) {
      if (rows) {
        Row row;
        row.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) row.push_back(readValue(s_, i, (*columns)[static_cast<std::size_t>(i)].kind));
        rows->push_back(std::move(row));
      }
      rc = sqlite3_step(s_);
    }
  }
  if (rc != SQLITE_DONE) h_.fail();
  return sqlite3_total_changes(db) != before ? sqlite3_changes(db) : 0;
}

// The columns, rebuilt when SQLite re-prepared the statement (the schema
// changed).
std::shared_ptr<const Shape> SqliteStatement::shape() {
  int reprepares = sqlite3_stmt_status(s_, SQLITE_STMTSTATUS_REPREPARE, 0);
  if (shape_ && reprepares == reprepares_) return shape_;
  auto shape = std::make_shared<Shape>();
  int n = sqlite3_column_count(s_);
  shape->reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    Column col;
    const char* name = sqlite3_column_name(s_, i);
    col.name = name ? name : "";
    const char* declared = sqlite3_column_decltype(s_, i);
    col.kind = declared ? KindOfTypeName(declared) : ValueKind::Storage;
    const char* origin = sqlite3_column_origin_name(s_, i);
    const char* table = sqlite3_column_table_name(s_, i);
    if (origin && table) {
      col.origin = origin;
      col.table = table;
    }
    shape->push_back(std::move(col));
  }
  shape_ = std::move(shape);
  reprepares_ = reprepares;
  return shape_;
}

}  // namespace

std::unique_ptr<Handle> OpenSqlite(const std::string& path) { return std::make_unique<SqliteHandle>(path); }

}  // namespace quillon::db
