#include "platform/Database.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/SqlDialect.h"

namespace quillon {

namespace {

constexpr const char* kSource = "Quillon.Database";
// ADO's adErrObjectOpen (3705): Open on an object that is already open.
constexpr std::int32_t kObjectOpen = static_cast<std::int32_t>(0x800A0E79);
// Name of the rowid column added to the select list of updatable recordsets.
constexpr const char* kRowidAlias = "__quillon_rowid";
// At most this many idle handles per data source stay pooled on a thread.
constexpr std::size_t kMaxIdleHandles = 8;
// At most this many prepared statements are kept per handle and cache.
constexpr std::size_t kMaxCachedStatements = 128;

[[noreturn]] void raise(std::int32_t number, std::string message) { throw Error(number, kSource, std::move(message)); }

// A failure of a statement: the SQL text goes to the log for the operator,
// the raised description carries only the message. Descriptions travel to
// callers and their pages, and statements hold names and values that are
// nobody's business there.
[[noreturn]] void raiseForStatement(std::int32_t number, const std::string& message, const std::string& sql) {
  Log().WriteError(kSource, message + "\r\nSQL: " + sql, number);
  raise(number, message);
}

[[noreturn]] void raiseSeveral(const std::string& sql) {
  raiseForStatement(hr::kDbSeveralStatements,
                    "The SQL text holds more than one statement; a call runs exactly one, so nothing was run.", sql);
}

// True when `tail` (what follows the first statement of a text) holds
// anything besides blanks, comments and ";". The scanner knows literals,
// quoted names and comments, so a ";" inside them does not count.
bool holdsAnotherStatement(std::string_view tail) {
  for (const SqlToken& t : SqlDialect::tokenize(tail))
    if (t.significant() && !t.isPunct(';')) return true;
  return false;
}

[[noreturn]] void raiseNoRow() {
  raise(hr::kDbNoRow,
        "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current "
        "record.");
}
[[noreturn]] void raiseClosed() { raise(hr::kDbClosed, "Operation is not allowed when the object is closed."); }

std::string trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string quoteIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

// The name a (possibly quoted) identifier token stands for.
std::string unquote(std::string_view t) {
  if (t.size() < 2 || (t[0] != '"' && t[0] != '[')) return std::string(t);
  char close = t[0] == '[' ? ']' : '"';
  std::string out;
  for (std::size_t i = 1; i + 1 < t.size(); ++i) {
    out += t[i];
    if (t[i] == close && t[i + 1] == close) ++i;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Column types

// How a column's values are turned into Variants, from its declared type.
enum class ValueKind { Storage, Int32, Int16, Byte, Double, Date };

ValueKind kindOfDeclType(const char* declType) {
  if (!declType) return ValueKind::Storage;
  std::string word;
  for (const char* p = declType; *p && *p != '(' && *p != ' '; ++p) word += lower(*p);
  if (word == "integer" || word == "int" || word == "bigint" || word == "long" || word == "mediumint" ||
      word == "int4" || word == "int8")
    return ValueKind::Int32;
  if (word == "smallint" || word == "int2") return ValueKind::Int16;
  if (word == "tinyint" || word == "bit") return ValueKind::Byte;
  if (word == "real" || word == "float" || word == "double" || word == "money" || word == "smallmoney")
    return ValueKind::Double;
  if (word == "datetime" || word == "date" || word == "smalldatetime" || word == "datetime2") return ValueKind::Date;
  return ValueKind::Storage;
}

Variant integerVariant(sqlite3_int64 v) {
  if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int>(v));
  return Variant(static_cast<double>(v));
}

Variant readValue(sqlite3_stmt* s, int col, ValueKind kind) {
  switch (sqlite3_column_type(s, col)) {
    case SQLITE_NULL: return Variant::null();
    case SQLITE_INTEGER: {
      sqlite3_int64 v = sqlite3_column_int64(s, col);
      if (kind == ValueKind::Int16 && v >= INT16_MIN && v <= INT16_MAX) return Variant(static_cast<std::int16_t>(v));
      if (kind == ValueKind::Byte && v >= 0 && v <= 255) return Variant(static_cast<std::uint8_t>(v));
      if (kind == ValueKind::Double) return Variant(static_cast<double>(v));
      return integerVariant(v);
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

void bindValue(sqlite3_stmt* s, int index, const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null: sqlite3_bind_null(s, index); break;
    case VarType::Boolean: sqlite3_bind_int(s, index, v.toBool() ? 1 : 0); break;
    case VarType::Byte:
    case VarType::Int16:
    case VarType::Int32: sqlite3_bind_int(s, index, v.toInt32()); break;
    case VarType::Double: sqlite3_bind_double(s, index, v.toDouble()); break;
    case VarType::Date: {
      std::string text = formatOleDate(v.toDate());
      sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
    case VarType::String: {
      std::string text = v.toString();
      sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
    case VarType::Array: {
      std::string bytes = v.array().bytes();
      sqlite3_bind_blob(s, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      break;
    }
    case VarType::Object: raise(hr::kTypeMismatch, "An object cannot be stored in a database field.");
  }
}

// ---------------------------------------------------------------------------
// Result shapes and updatable selects

struct Column {
  std::string name;
  ValueKind kind = ValueKind::Storage;
  std::string origin;  // the table column behind it; empty for expressions
};

// The columns of a result. The rowid of an updatable select is the last
// result column and is not listed in `columns`.
struct Shape {
  std::vector<Column> columns;
  bool hasRowid = false;
};

// What is needed to write back to the one table of an updatable select.
struct Target {
  std::string table;      // as written in the FROM clause (may be quoted)
  std::string tableName;  // unquoted, to compare with column origins
  std::string reread;     // SELECT <same columns>, rowid … WHERE _rowid_=?
};

// For `SELECT <cols> FROM <table> [alias] [WHERE …] [ORDER BY …] [LIMIT …]`
// gives the target and the select with the rowid added to its columns;
// nothing for any other statement.
std::optional<std::pair<Target, std::string>> singleTableSelect(const std::string& sql) {
  std::vector<SqlToken> all = SqlDialect::tokenize(sql);
  // Significant tokens at parenthesis depth 0; anything nested is opaque.
  std::vector<const SqlToken*> top;
  int depth = 0;
  for (const SqlToken& t : all) {
    if (!t.significant()) continue;
    if (t.isPunct('(')) {
      if (depth++ == 0) top.push_back(&t);
    } else if (t.isPunct(')')) {
      if (--depth < 0) return std::nullopt;
    } else if (depth == 0) {
      top.push_back(&t);
    }
  }
  while (!top.empty() && top.back()->isPunct(';')) top.pop_back();
  std::size_t i = 0;
  auto at = [&](std::size_t k) -> const SqlToken* { return k < top.size() ? top[k] : nullptr; };
  if (!at(0) || !at(0)->isWord("SELECT")) return std::nullopt;
  i = 1;
  if (at(i) && at(i)->isWord("ALL")) ++i;
  if (at(i) && at(i)->isWord("DISTINCT")) return std::nullopt;
  std::size_t listStart = i;
  while (at(i) && !at(i)->isWord("FROM")) ++i;
  if (!at(i) || i == listStart) return std::nullopt;
  const SqlToken* from = at(i);
  const SqlToken* lastOfList = at(i - 1);
  std::size_t listBegin = top[listStart]->pos;
  std::size_t listEnd = lastOfList->pos + (lastOfList->isPunct('(') ? 0 : lastOfList->text.size());
  if (lastOfList->isPunct('(')) {  // the list ends with a parenthesised expression: find its close
    int d = 0;
    for (const SqlToken& t : all) {
      if (t.pos < lastOfList->pos || !t.significant()) continue;
      if (t.isPunct('(')) ++d;
      if (t.isPunct(')') && --d == 0) {
        listEnd = t.pos + 1;
        break;
      }
    }
  }
  ++i;
  auto isName = [](const SqlToken* t) { return t && (t->kind == SqlToken::Word || t->kind == SqlToken::Identifier); };
  auto isClause = [](const SqlToken* t) {
    return t && (t->isWord("WHERE") || t->isWord("ORDER") || t->isWord("LIMIT") || t->isWord("GROUP") ||
                 t->isWord("HAVING") || t->isWord("UNION") || t->isWord("EXCEPT") || t->isWord("INTERSECT") ||
                 t->isWord("WINDOW") || t->isWord("JOIN") || t->isWord("INNER") || t->isWord("LEFT") ||
                 t->isWord("RIGHT") || t->isWord("FULL") || t->isWord("CROSS") || t->isWord("NATURAL") ||
                 t->isWord("OUTER") || t->isWord("ON") || t->isWord("USING") || t->isWord("INDEXED") ||
                 t->isWord("NOT"));
  };
  if (!isName(at(i)) || isClause(at(i))) return std::nullopt;
  const SqlToken* tableFirst = at(i);
  const SqlToken* tableLast = tableFirst;
  ++i;
  if (at(i) && at(i)->isPunct('.') && isName(at(i + 1))) {  // schema.table
    tableLast = at(i + 1);
    i += 2;
  }
  const SqlToken* fromLast = tableLast;
  if (at(i) && at(i)->isWord("AS")) ++i;
  if (isName(at(i)) && !isClause(at(i))) fromLast = at(i++);
  // Only WHERE / ORDER BY / LIMIT may follow at this level.
  for (std::size_t k = i; k < top.size(); ++k) {
    const SqlToken* t = top[k];
    if (k == i && !(t->isWord("WHERE") || t->isWord("ORDER") || t->isWord("LIMIT"))) return std::nullopt;
    if (t->isWord("GROUP") || t->isWord("HAVING") || t->isWord("UNION") || t->isWord("EXCEPT") ||
        t->isWord("INTERSECT") || t->isWord("WINDOW") || t->isPunct(';'))
      return std::nullopt;
  }
  Target target;
  target.table = sql.substr(tableFirst->pos, tableLast->pos + tableLast->text.size() - tableFirst->pos);
  target.tableName = unquote(tableLast->text);
  std::string list = sql.substr(listBegin, listEnd - listBegin);
  std::string fromClause = sql.substr(tableFirst->pos, fromLast->pos + fromLast->text.size() - tableFirst->pos);
  target.reread = "SELECT " + list + ", _rowid_ FROM " + fromClause + " WHERE _rowid_=?";
  std::string withRowid = sql.substr(0, listEnd) + ", _rowid_ AS " + kRowidAlias + " " + sql.substr(from->pos);
  return std::make_pair(std::move(target), std::move(withRowid));
}

// ---------------------------------------------------------------------------
// Literals as host parameters
//
// The component pastes values into its SQL texts as literals, so the same
// statement arrives with another document id or user each time. Before a
// text is looked up in a handle's statement cache, its literals become
// numbered host parameters ("?1", "?2", …) and their values are bound at
// each run, so every variant of one statement shares one compiled program.
// Only literals whose replacement cannot change the statement's meaning or
// result are taken: the select list of a SELECT statement (whose texts name
// the result columns), ORDER BY and GROUP BY terms (a number there is a
// column position), the count of TOP, aliases and names, and N'…' or X'…'
// forms stay as written. Texts that are not plain SELECT, INSERT, UPDATE
// or DELETE statements, or that carry host parameters of their own, stay
// whole. Numbered parameters keep their values in place even when the
// dialect translation drops a clause.

struct Literal {
  enum Kind { Integer, Real, Text } kind = Text;
  sqlite3_int64 integer = 0;
  double real = 0;
  std::string text;
};
using Literals = std::vector<Literal>;

// More literals than this and the text is compiled as it is.
constexpr std::size_t kMaxLiterals = 250;

// The value of a string literal token ('it''s' -> it's).
std::string stringValue(std::string_view token) {
  std::string out;
  if (token.size() < 2) return out;
  for (std::size_t i = 1; i + 1 < token.size(); ++i) {
    out += token[i];
    if (token[i] == '\'' && token[i + 1] == '\'') ++i;
  }
  return out;
}

// Reads a decimal number token; false for hexadecimal forms and integers
// SQLite would turn into reals.
bool numberValue(std::string_view token, Literal& out) {
  std::string text(token);
  if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return false;
  if (text.find_first_of(".eE") == std::string::npos) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || end != text.c_str() + text.size()) return false;
    out.kind = Literal::Integer;
    out.integer = v;
    return true;
  }
  char* end = nullptr;
  double d = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return false;
  out.kind = Literal::Real;
  out.real = d;
  return true;
}

// Fills `key` with the text whose literals are parameters and `values`
// with their values; false (and nothing filled) when the text stays whole.
bool parameterise(const std::string& sql, std::string& key, Literals& values) {
  std::vector<SqlToken> tokens = SqlDialect::tokenize(sql);
  const SqlToken* first = nullptr;
  for (const SqlToken& t : tokens)
    if (t.significant()) {
      first = &t;
      break;
    }
  if (!first || !(first->isWord("SELECT") || first->isWord("INSERT") || first->isWord("UPDATE") ||
                  first->isWord("DELETE")))
    return false;
  const bool selectStatement = first->isWord("SELECT");

  // What holds at one parenthesis level.
  struct Level {
    bool keepAll = false;     // inside a select list of the statement, or TOP's count
    bool selectList = false;  // between SELECT and FROM of the statement's own select
    bool ordering = false;    // in ORDER BY / GROUP BY terms
  };
  std::vector<Level> levels(1);
  Literals found;
  std::string out;
  out.reserve(sql.size() + 16);
  std::size_t copied = 0;
  const SqlToken* prev = nullptr;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const SqlToken& t = tokens[i];
    if (!t.significant()) continue;
    Level& level = levels.back();
    if (t.kind == SqlToken::Punct) {
      char c = t.text[0];
      if (c == '?' || c == ':' || c == '$') return false;  // host parameters of its own
      if (c == '(') {
        Level inner;
        inner.keepAll = level.keepAll || level.selectList || (prev && prev->isWord("TOP"));
        levels.push_back(inner);
      } else if (c == ')') {
        if (levels.size() > 1) levels.pop_back();
      } else if (c == ';') {
        level.selectList = level.ordering = false;
      }
    } else if (t.kind == SqlToken::Word) {
      if (t.text[0] == '@') return false;
      if (t.isWord("SELECT")) {
        if (levels.size() == 1 && selectStatement) level.selectList = true;
      } else if (t.isWord("FROM")) {
        level.selectList = false;
      } else if (t.isWord("BY")) {
        if (prev && (prev->isWord("ORDER") || prev->isWord("GROUP"))) level.ordering = true;
      } else if (t.isWord("LIMIT") || t.isWord("OFFSET") || t.isWord("HAVING") || t.isWord("UNION") ||
                 t.isWord("EXCEPT") || t.isWord("INTERSECT") || t.isWord("WINDOW")) {
        level.ordering = false;
      }
    } else if (t.kind == SqlToken::Number || t.kind == SqlToken::String) {
      bool keep = level.keepAll || level.selectList || level.ordering;
      if (prev && (prev->isWord("TOP") || prev->isWord("AS") || prev->isPunct('.') || prev->isWord("COLLATE") ||
                   prev->isWord("INTO") || prev->isWord("FROM") || prev->isWord("JOIN") || prev->isWord("UPDATE") ||
                   prev->isWord("TABLE")))
        keep = true;
      // N'…', X'…': a word glued to the literal.
      if (i > 0 && tokens[i - 1].kind == SqlToken::Word) keep = true;
      Literal value;
      if (!keep) {
        if (t.kind == SqlToken::String) {
          if (t.text.size() < 2 || t.text.back() != '\'') return false;  // unterminated: let SQLite report it
          value.text = stringValue(t.text);
        } else if (!numberValue(t.text, value)) {
          keep = true;
        }
      }
      if (!keep) {
        found.push_back(std::move(value));
        if (found.size() > kMaxLiterals) return false;
        out.append(sql, copied, t.pos - copied);
        out += '?';
        out += std::to_string(found.size());
        if (i + 1 < tokens.size() && (tokens[i + 1].kind == SqlToken::Word || tokens[i + 1].kind == SqlToken::Number))
          out += ' ';
        copied = t.pos + t.text.size();
      }
    }
    prev = &t;
  }
  if (found.empty()) return false;
  out.append(sql, copied, std::string::npos);
  key = std::move(out);
  values = std::move(found);
  return true;
}

void bindLiterals(sqlite3_stmt* s, const Literals& values) {
  int count = sqlite3_bind_parameter_count(s);
  for (std::size_t k = 0; k < values.size(); ++k) {
    int index = static_cast<int>(k) + 1;
    // A clause the dialect dropped takes its parameters with it.
    if (index > count) break;
    const Literal& v = values[k];
    switch (v.kind) {
      case Literal::Integer: sqlite3_bind_int64(s, index, v.integer); break;
      case Literal::Real: sqlite3_bind_double(s, index, v.real); break;
      case Literal::Text:
        sqlite3_bind_text(s, index, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
        break;
    }
  }
}

// ---------------------------------------------------------------------------
// Physical handles, their statement caches, and the per-thread pool

struct CachedStatement {
  sqlite3_stmt* stmt = nullptr;
  bool several = false;  // the text holds more than one statement: refused, never run
  bool empty = false;    // the text holds no statement at all (blanks, comments, ";")
  std::shared_ptr<const Target> target;  // set when the select is updatable
  std::shared_ptr<const Shape> shape;    // built on first use
  int reprepares = -1;                   // SQLite's re-prepare count when `shape` was built
  bool inUse = false;
};

class Handle {
 public:
  Handle(const std::string& path) : path_(path) {
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close_v2(db_);
      db_ = nullptr;
      std::error_code ec;
      if (!std::filesystem::exists(path, ec))
        raise(hr::kDatabase, "The database file '" + path + "' does not exist.");
      raise(hr::kDatabase, "Cannot open the database file '" + path + "': " + why);
    }
    sqlite3_extended_result_codes(db_, 1);
    std::string why;
    if (!configure(why)) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      raise(hr::kDatabase, "Cannot open the database file '" + path + "': " + why);
    }
    sqlite3_progress_handler(db_, 1000, &Handle::progress, this);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
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
    for (auto* cache : {&queries_, &updatable_, &direct_})
      for (auto& [text, c] : *cache) sqlite3_finalize(c.stmt);
    sqlite3_close_v2(db_);
  }

  // Makes every transaction committed so far on this database durable.
  // In WAL mode with synchronous=NORMAL a commit only appends to the WAL
  // file; one sync of that file puts every commit in it (of any connection
  // or process) on disk. Checkpoints sync the WAL before they copy it and
  // the database after, so what they moved is durable too. Without WAL
  // every commit syncs (synchronous=FULL) and there is nothing to do.
  void makeDurable();

  sqlite3* db() const { return db_; }
  const std::string& path() const { return path_; }

  void setTimeout(long seconds) {
    int ms = seconds <= 0 ? 24 * 3600 * 1000 : (seconds > INT_MAX / 1000 ? INT_MAX : static_cast<int>(seconds * 1000));
    if (ms != busyMs_) {
      sqlite3_busy_timeout(db_, ms);
      busyMs_ = ms;
    }
    timeoutSeconds_ = seconds;
  }
  // Starts the clock for one statement's run time.
  void arm() {
    armed_ = timeoutSeconds_ > 0;
    if (armed_) deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
  }
  bool timedOut() const { return armed_ && std::chrono::steady_clock::now() > deadline_; }

  [[noreturn]] void fail(const std::string& sql) const {
    std::string message = sqlite3_errcode(db_) == SQLITE_INTERRUPT && timedOut() ? "Query timeout expired"
                                                                                 : sqlite3_errmsg(db_);
    raiseForStatement(hr::kDatabase, message, sql);
  }

  // The prepared statement for a component SQL text, translated once; the
  // values of its literals, to bind at each run, go to `values`.
  CachedStatement& query(const std::string& sql, Literals& values) {
    values.clear();
    auto it = queries_.find(sql);
    if (it != queries_.end()) return it->second;
    std::string key;
    const std::string& text = parameterise(sql, key, values) ? key : sql;
    if (&text != &sql && (it = queries_.find(text)) != queries_.end()) return it->second;
    CachedStatement c;
    prepare(SqlDialect::translate(text), sql, c);
    return insert(queries_, text, std::move(c));
  }
  // The same, for a recordset that may write back: a single-table select
  // gets the rowid among its columns. Other texts behave as query().
  CachedStatement& updatableQuery(const std::string& sql, Literals& values) {
    values.clear();
    auto it = updatable_.find(sql);
    if (it != updatable_.end()) return it->second;
    std::string key;
    const std::string& text = parameterise(sql, key, values) ? key : sql;
    if (&text != &sql && (it = updatable_.find(text)) != updatable_.end()) return it->second;
    CachedStatement c;
    std::string translated = SqlDialect::translate(text);
    if (auto single = singleTableSelect(translated)) {
      // A view or a table without rowid refuses _rowid_; such a select is read-only.
      if (tryPrepare(single->second, c)) c.target = std::make_shared<const Target>(std::move(single->first));
    }
    if (!c.stmt) prepare(translated, sql, c);
    return insert(updatable_, text, std::move(c));
  }
  // Statement shapes (texts with literals as parameters) known to only read.
  bool knownReadOnly(const std::string& shape) const { return readOnly_.count(shape) != 0; }
  void rememberReadOnly(const std::string& shape) {
    if (readOnly_.size() >= kMaxCachedStatements) readOnly_.clear();
    readOnly_.insert(shape);
  }

  // A statement this layer wrote itself (SQLite syntax, no translation).
  CachedStatement& direct(const std::string& sql) {
    auto it = direct_.find(sql);
    if (it != direct_.end()) return it->second;
    CachedStatement c;
    prepare(sql, sql, c);
    return insert(direct_, sql, std::move(c));
  }

 private:
  static int progress(void* self) { return static_cast<Handle*>(self)->timedOut() ? 1 : 0; }

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

  // Prepares a text of exactly one statement; false (nothing kept) otherwise.
  bool tryPrepare(const std::string& text, CachedStatement& c) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v3(db_, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT, &c.stmt,
                           &tail) != SQLITE_OK ||
        !c.stmt || holdsAnotherStatement(std::string_view(tail, text.data() + text.size() - tail))) {
      sqlite3_finalize(c.stmt);
      c.stmt = nullptr;
      return false;
    }
    return true;
  }

  void prepare(const std::string& text, const std::string& original, CachedStatement& c) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v3(db_, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT, &c.stmt,
                           &tail) != SQLITE_OK) {
      sqlite3_finalize(c.stmt);
      c.stmt = nullptr;
      fail(original);
    }
    // Blanks and comments only: no statement. Anything but blanks, comments
    // and ';' after the first statement: a second one, never run.
    if (!c.stmt) {
      c.empty = !holdsAnotherStatement(std::string_view(tail, text.data() + text.size() - tail));
      c.several = !c.empty;
    } else if (holdsAnotherStatement(std::string_view(tail, text.data() + text.size() - tail))) {
      sqlite3_finalize(c.stmt);
      c.stmt = nullptr;
      c.several = true;
    }
  }

  CachedStatement& insert(std::unordered_map<std::string, CachedStatement>& cache, const std::string& key,
                          CachedStatement c) {
    if (cache.size() >= kMaxCachedStatements) {
      for (auto it = cache.begin(); it != cache.end();) {
        if (it->second.inUse) {
          ++it;
        } else {
          sqlite3_finalize(it->second.stmt);
          it = cache.erase(it);
        }
      }
    }
    return cache.emplace(key, std::move(c)).first->second;
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  bool wal_ = false;
  int changesAtDurablePoint_ = 0;
  int busyMs_ = -1;
  long timeoutSeconds_ = 30;
  bool armed_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::unordered_map<std::string, CachedStatement> queries_;
  std::unordered_map<std::string, CachedStatement> updatable_;
  std::unordered_map<std::string, CachedStatement> direct_;
  std::unordered_set<std::string> readOnly_;
};

// Marks a cached statement busy for one run and resets it afterwards, so a
// finished statement never holds a read lock.
class StatementRun {
 public:
  StatementRun(Handle& h, CachedStatement& c) : c_(c), s_(c.stmt) {
    c_.inUse = true;
    h.arm();
  }
  ~StatementRun() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
    c_.inUse = false;
  }
  StatementRun(const StatementRun&) = delete;
  StatementRun& operator=(const StatementRun&) = delete;
  sqlite3_stmt* stmt() const { return s_; }

 private:
  CachedStatement& c_;
  sqlite3_stmt* s_;
};

void Handle::makeDurable() {
  if (!sqlite3_get_autocommit(db_))
    raise(hr::kDatabase, "A transaction is still open: commit it before making the database durable.");
  if (!wal_) return;
  sqlite3_file* wal = walFile();
  if (!wal) {
    // The handle opens the WAL with its first read.
    CachedStatement& c = direct("SELECT 1 FROM sqlite_schema LIMIT 1");
    StatementRun run(*this, c);
    int rc = sqlite3_step(run.stmt());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
      raise(hr::kDatabase, "Cannot read '" + path_ + "' to make it durable: " + sqlite3_errmsg(db_));
  }
  wal = walFile();
  if (!wal) raise(hr::kDatabase, "The write-ahead log of '" + path_ + "' is not open, so it cannot be synced.");
  int rc = wal->pMethods->xSync(wal, SQLITE_SYNC_NORMAL);
  if (rc != SQLITE_OK)
    raise(hr::kDatabase, "The write-ahead log of '" + path_ + "' could not be synced: " + sqlite3_errstr(rc));
  changesAtDurablePoint_ = sqlite3_total_changes(db_);
}

struct Pool {
  std::unordered_map<std::string, std::vector<std::unique_ptr<Handle>>> idle;
  ~Pool();
};
thread_local bool tPoolGone = false;
thread_local Pool tPool;
Pool::~Pool() {
  idle.clear();
  tPoolGone = true;
}

std::unique_ptr<Handle> acquireHandle(const std::string& path) {
  if (!tPoolGone) {
    auto it = tPool.idle.find(path);
    if (it != tPool.idle.end() && !it->second.empty()) {
      std::unique_ptr<Handle> h = std::move(it->second.back());
      it->second.pop_back();
      return h;
    }
  }
  return std::make_unique<Handle>(path);
}

void releaseHandle(std::unique_ptr<Handle> h) {
  if (!h) return;
  if (!sqlite3_get_autocommit(h->db())) sqlite3_exec(h->db(), "ROLLBACK", nullptr, nullptr, nullptr);
  if (tPoolGone) return;
  auto& idle = tPool.idle[h->path()];
  if (idle.size() < kMaxIdleHandles) idle.push_back(std::move(h));
}

// "Provider=SQLite;Data Source=PATH": the path, or empty when none is given.
std::string dataSourceOf(const std::string& connectionString) {
  std::string_view rest = connectionString;
  while (!rest.empty()) {
    std::size_t semi = rest.find(';');
    std::string_view part = rest.substr(0, semi);
    rest = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
    std::size_t eq = part.find('=');
    if (eq == std::string_view::npos) continue;
    if (!sameText(trim(part.substr(0, eq)), "data source")) continue;
    std::string value = trim(part.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return {};
}

}  // namespace

// ---------------------------------------------------------------------------
// Connection

class ConnectionImpl {
 public:
  std::string connectionString;
  long commandTimeout = 30;
  std::unique_ptr<Handle> handle;

  Handle& open() const {
    if (!handle) raiseClosed();
    return *handle;
  }
};

class RecordsetImpl {
 public:
  explicit RecordsetImpl(Recordset& owner) : owner_(owner) {}

  int state = ado::adStateClosed;
  int cursorLocation = ado::adUseServer;
  int cursorType = ado::adOpenForwardOnly;
  int lockType = ado::adLockReadOnly;

  std::shared_ptr<Connection> connection;
  std::shared_ptr<const Shape> shape;
  std::shared_ptr<const Target> target;  // set while the recordset can write back
  std::string sql;

  std::vector<std::vector<Variant>> rows;
  std::vector<sqlite3_int64> rowids;
  long current = 0;
  bool currentDeleted = false;

  enum class Editing { None, Edit, AddNew };
  Editing editing = Editing::None;
  std::vector<Variant> buffer;  // the row being edited
  std::vector<char> changed;  // per field: 0 untouched, 1 set, kChunked written by AppendChunk
  static constexpr char kChunked = 2;
  long positionBeforeAdd = 0;

  long count() const { return static_cast<long>(rows.size()); }
  int fieldCount() const { return shape ? static_cast<int>(shape->columns.size()) : 0; }

  void requireOpen() const {
    if (state != ado::adStateOpen) raiseClosed();
  }
  bool onRow() const { return !currentDeleted && current >= 0 && current < count(); }
  void requireRow() const {
    requireOpen();
    if (editing == Editing::None && !onRow()) raiseNoRow();
  }

  void reset() {
    shape.reset();
    target.reset();
    rows.clear();
    rowids.clear();
    current = 0;
    currentDeleted = false;
    editing = Editing::None;
    buffer.clear();
    changed.clear();
    owner_.fields_.clear();
  }

  void makeFields() {
    owner_.fields_.clear();
    owner_.fields_.reserve(shape->columns.size());
    for (std::size_t i = 0; i < shape->columns.size(); ++i)
      owner_.fields_.push_back(std::unique_ptr<Field>(new Field(&owner_, shape->columns[i].name, static_cast<int>(i))));
  }

  // Reads the rows of a statement that has been stepped once (rc).
  void load(Handle& h, sqlite3_stmt* s, int rc, const std::string& originalSql) {
    int visible = fieldCount();
    while (rc == SQLITE_ROW) {
      std::vector<Variant> row;
      row.reserve(static_cast<std::size_t>(visible));
      for (int i = 0; i < visible; ++i) row.push_back(readValue(s, i, shape->columns[static_cast<std::size_t>(i)].kind));
      if (shape->hasRowid) rowids.push_back(sqlite3_column_int64(s, visible));
      rows.push_back(std::move(row));
      rc = sqlite3_step(s);
    }
    if (rc != SQLITE_DONE) h.fail(originalSql);
  }

  // --- writing ---------------------------------------------------------

  Handle& writableHandle() const {
    if (!connection) raise(hr::kDbNotUpdatable, "The recordset is not connected to a database, so it cannot be updated.");
    if (!target)
      raise(hr::kDbNotUpdatable,
            "Current Recordset does not support updating. Open a single-table SELECT with a lock type other than "
            "read-only to update it.");
    Handle* h = connection->impl()->handle.get();
    if (!h) raiseClosed();
    return *h;
  }

  void beginEdit() {
    if (editing != Editing::None) return;
    buffer = rows[static_cast<std::size_t>(current)];
    changed.assign(buffer.size(), 0);
    editing = Editing::Edit;
  }

  void setValue(int index, Variant v) {
    requireOpen();
    writableHandle();
    requireRow();
    const Column& col = shape->columns[static_cast<std::size_t>(index)];
    if (col.origin.empty())
      raise(hr::kDbNotUpdatable, "The field '" + col.name + "' is not a column of table " + target->table +
                                     " and cannot be updated.");
    if (v.isObject()) raise(hr::kTypeMismatch, "An object cannot be stored in a database field.");
    beginEdit();
    buffer[static_cast<std::size_t>(index)] = std::move(v);
    changed[static_cast<std::size_t>(index)] = 1;
  }

  // As in ADO, the first chunk written to a field after the edit of a row
  // began replaces the stored value; later chunks are appended to it.
  void appendChunk(int index, const std::string& chunk) {
    requireRow();
    bool continuing = editing != Editing::None && changed[static_cast<std::size_t>(index)] == kChunked;
    std::string text = continuing ? buffer[static_cast<std::size_t>(index)].text() : std::string();
    text += chunk;
    setValue(index, Variant(std::move(text)));
    changed[static_cast<std::size_t>(index)] = kChunked;
  }

  const Variant& value(int index) const {
    requireRow();
    if (editing != Editing::None) return buffer[static_cast<std::size_t>(index)];
    return rows[static_cast<std::size_t>(current)][static_cast<std::size_t>(index)];
  }

  void addNew() {
    requireOpen();
    writableHandle();
    if (editing != Editing::None) update();
    positionBeforeAdd = current;
    rows.emplace_back(static_cast<std::size_t>(fieldCount()), Variant::null());
    rowids.push_back(0);
    current = count() - 1;
    currentDeleted = false;
    buffer = rows.back();
    changed.assign(buffer.size(), 0);
    editing = Editing::AddNew;
  }

  void update() {
    requireOpen();
    Handle& h = writableHandle();
    if (editing == Editing::None) return;
    std::string text;
    std::vector<int> cols;
    for (std::size_t i = 0; i < changed.size(); ++i)
      if (changed[i]) cols.push_back(static_cast<int>(i));
    sqlite3_int64 rowid = rowids[static_cast<std::size_t>(current)];
    if (editing == Editing::AddNew) {
      if (cols.empty()) {
        text = "INSERT INTO " + target->table + " DEFAULT VALUES";
      } else {
        text = "INSERT INTO " + target->table + " (";
        std::string marks;
        for (std::size_t k = 0; k < cols.size(); ++k) {
          if (k) {
            text += ", ";
            marks += ", ";
          }
          text += quoteIdentifier(shape->columns[static_cast<std::size_t>(cols[k])].origin);
          marks += '?';
        }
        text += ") VALUES (" + marks + ")";
      }
    } else {
      if (cols.empty()) {
        editing = Editing::None;
        return;
      }
      text = "UPDATE " + target->table + " SET ";
      for (std::size_t k = 0; k < cols.size(); ++k) {
        if (k) text += ", ";
        text += quoteIdentifier(shape->columns[static_cast<std::size_t>(cols[k])].origin) + "=?";
      }
      text += " WHERE _rowid_=?";
    }
    {
      CachedStatement& c = h.direct(text);
      StatementRun run(h, c);
      int n = 0;
      for (int col : cols) bindValue(run.stmt(), ++n, buffer[static_cast<std::size_t>(col)]);
      if (editing == Editing::Edit) sqlite3_bind_int64(run.stmt(), ++n, rowid);
      if (sqlite3_step(run.stmt()) != SQLITE_DONE) h.fail(text);
    }
    if (editing == Editing::AddNew) rowid = sqlite3_last_insert_rowid(h.db());
    rowids[static_cast<std::size_t>(current)] = rowid;
    rows[static_cast<std::size_t>(current)] = std::move(buffer);
    editing = Editing::None;
    buffer.clear();
    changed.clear();
    reread(h, rowid);
  }

  // Reads the row back, so keys and defaults the database assigned show.
  void reread(Handle& h, sqlite3_int64 rowid) {
    CachedStatement& c = h.direct(target->reread);
    StatementRun run(h, c);
    sqlite3_bind_int64(run.stmt(), 1, rowid);
    int rc = sqlite3_step(run.stmt());
    if (rc == SQLITE_ROW) {
      auto& row = rows[static_cast<std::size_t>(current)];
      for (int i = 0; i < fieldCount(); ++i)
        row[static_cast<std::size_t>(i)] = readValue(run.stmt(), i, shape->columns[static_cast<std::size_t>(i)].kind);
    } else if (rc != SQLITE_DONE) {
      h.fail(target->reread);
    }
    // No row: the update moved it (a new key); keep the values as written.
  }

  void cancelUpdate() {
    requireOpen();
    if (editing == Editing::AddNew) {
      rows.pop_back();
      rowids.pop_back();
      current = positionBeforeAdd;
    }
    editing = Editing::None;
    buffer.clear();
    changed.clear();
  }

  void deleteCurrent() {
    requireOpen();
    Handle& h = writableHandle();
    if (editing == Editing::AddNew) {  // the new row was never stored
      cancelUpdate();
      return;
    }
    editing = Editing::None;
    if (!onRow()) raiseNoRow();
    static const std::string kDelete = "DELETE FROM ";
    std::string text = kDelete + target->table + " WHERE _rowid_=?";
    {
      CachedStatement& c = h.direct(text);
      StatementRun run(h, c);
      sqlite3_bind_int64(run.stmt(), 1, rowids[static_cast<std::size_t>(current)]);
      if (sqlite3_step(run.stmt()) != SQLITE_DONE) h.fail(text);
    }
    rows.erase(rows.begin() + current);
    rowids.erase(rowids.begin() + current);
    // As in ADO the deleted row stays current until the cursor moves; the
    // next row now sits at `current`.
    currentDeleted = true;
  }

  // Leaving the current row stores a pending edit, as ADO does.
  void leaveRow() {
    requireOpen();
    if (editing != Editing::None) update();
  }

  // --- moving ------------------------------------------------------------

  void moveNext() {
    leaveRow();
    if (currentDeleted) {
      currentDeleted = false;
      return;
    }
    if (current >= count()) raiseNoRow();
    ++current;
  }
  void movePrevious() {
    leaveRow();
    if (currentDeleted) {
      currentDeleted = false;
      --current;
      return;
    }
    if (current < 0 || count() == 0) raiseNoRow();
    --current;
  }
  void moveFirst() {
    leaveRow();
    currentDeleted = false;
    current = 0;
  }
  void moveLast() {
    leaveRow();
    currentDeleted = false;
    current = count() == 0 ? 0 : count() - 1;
  }

  // --- Find ----------------------------------------------------------------

  struct Criterion {
    int field = 0;
    std::string op;  // "=", "<>", "<", ">", "<=", ">=", "LIKE"
    enum { Number, Text, Date, Null } kind = Text;
    double number = 0;
    std::string text;
  };

  Criterion parseCriterion(const std::string& criteria) {
    auto bad = [&]() -> Criterion {
      raise(hr::kInvalidArg, "Find cannot read the criteria \"" + criteria + "\".");
    };
    std::size_t i = 0;
    auto skipBlanks = [&] {
      while (i < criteria.size() && (criteria[i] == ' ' || criteria[i] == '\t')) ++i;
    };
    skipBlanks();
    std::string name;
    if (i < criteria.size() && criteria[i] == '[') {
      std::size_t e = criteria.find(']', i);
      if (e == std::string::npos) return bad();
      name = criteria.substr(i + 1, e - i - 1);
      i = e + 1;
    } else {
      while (i < criteria.size() && criteria[i] != ' ' && criteria[i] != '\t' && criteria[i] != '=' &&
             criteria[i] != '<' && criteria[i] != '>')
        name += criteria[i++];
    }
    if (name.empty()) return bad();
    Criterion c;
    c.field = owner_.Fields(name).index_;
    skipBlanks();
    if (criteria.compare(i, 2, "<=") == 0 || criteria.compare(i, 2, ">=") == 0 || criteria.compare(i, 2, "<>") == 0) {
      c.op = criteria.substr(i, 2);
      i += 2;
    } else if (i < criteria.size() && (criteria[i] == '=' || criteria[i] == '<' || criteria[i] == '>')) {
      c.op = criteria.substr(i, 1);
      i += 1;
    } else if (sameText(std::string_view(criteria).substr(i, 4), "like") && i + 4 < criteria.size() &&
               (criteria[i + 4] == ' ' || criteria[i + 4] == '\'')) {
      c.op = "LIKE";
      i += 4;
    } else {
      return bad();
    }
    skipBlanks();
    std::string value = trim(std::string_view(criteria).substr(i));
    if (!value.empty() && value.front() == '\'') {
      c.kind = Criterion::Text;
      std::size_t k = 1;
      for (; k < value.size(); ++k) {
        if (value[k] == '\'') {
          if (k + 1 < value.size() && value[k + 1] == '\'') {
            c.text += '\'';
            ++k;
            continue;
          }
          break;
        }
        c.text += value[k];
      }
      if (k != value.size() - 1) return bad();
    } else if (!value.empty() && value.front() == '#') {
      if (value.size() < 2 || value.back() != '#' || !parseOleDate(value.substr(1, value.size() - 2), c.number))
        return bad();
      c.kind = Criterion::Date;
    } else if (sameText(value, "null")) {
      c.kind = Criterion::Null;
    } else {
      char* end = nullptr;
      c.number = std::strtod(value.c_str(), &end);
      if (value.empty() || end != value.c_str() + value.size()) return bad();
      c.kind = Criterion::Number;
    }
    if (c.op == "LIKE" && c.kind != Criterion::Text) return bad();
    if (c.kind == Criterion::Null && c.op != "=" && c.op != "<>") return bad();
    return c;
  }

  static std::string lowerText(const std::string& s) {
    std::string out = s;
    for (char& ch : out) ch = lower(ch);
    return out;
  }

  // `*` and `%` stand for any run of characters; case-insensitive.
  static bool like(std::string_view text, std::string_view pattern) {
    std::size_t t = 0, p = 0, starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
      if (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) {
        starP = p++;
        starT = t;
      } else if (p < pattern.size() && lower(pattern[p]) == lower(text[t])) {
        ++p;
        ++t;
      } else if (starP != std::string_view::npos) {
        p = starP + 1;
        t = ++starT;
      } else {
        return false;
      }
    }
    while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) ++p;
    return p == pattern.size();
  }

  static bool compare(int order, const std::string& op) {
    if (op == "=") return order == 0;
    if (op == "<>") return order != 0;
    if (op == "<") return order < 0;
    if (op == ">") return order > 0;
    if (op == "<=") return order <= 0;
    return order >= 0;  // ">="
  }

  static bool matches(const Variant& v, const Criterion& c) {
    if (c.kind == Criterion::Null) return (c.op == "=") == v.isNull();
    if (v.isNull() || v.isEmpty()) return false;
    if (c.op == "LIKE") return like(v.text(), c.text);
    double a = 0, b = c.number;
    bool numeric = false;
    if (c.kind == Criterion::Number || c.kind == Criterion::Date) {
      if (v.isNumeric()) {
        a = v.type() == VarType::Date ? v.toDate() : v.toDouble();
        numeric = true;
      } else if (c.kind == Criterion::Date) {
        numeric = parseOleDate(v.text(), a);
      } else {
        std::string s = v.text();
        char* end = nullptr;
        a = std::strtod(s.c_str(), &end);
        numeric = !s.empty() && end == s.c_str() + s.size();
      }
      if (!numeric) return false;
      return compare(a < b ? -1 : (a > b ? 1 : 0), c.op);
    }
    // A text criterion: a date field compares as a date when the text is one.
    if (v.type() == VarType::Date && parseOleDate(c.text, b)) {
      a = v.toDate();
      return compare(a < b ? -1 : (a > b ? 1 : 0), c.op);
    }
    std::string x = lowerText(v.text()), y = lowerText(c.text);
    return compare(x.compare(y), c.op);
  }

  void find(const std::string& criteria, long skip, int direction) {
    requireOpen();
    Criterion c = parseCriterion(criteria);
    leaveRow();
    long step = direction == ado::adSearchBackward ? -1 : 1;
    long k;
    if (currentDeleted)
      k = step > 0 ? current : current - 1;
    else if (current < 0)
      k = step > 0 ? 0 : -1;
    else if (current >= count())
      k = step > 0 ? count() : count() - 1;
    else
      k = current;
    currentDeleted = false;
    k += skip * step;
    for (; k >= 0 && k < count(); k += step) {
      if (matches(rows[static_cast<std::size_t>(k)][static_cast<std::size_t>(c.field)], c)) {
        current = k;
        return;
      }
    }
    current = step > 0 ? count() : -1;
  }

  Recordset& owner_;
};

namespace {

// Builds the column list of a statement that has just been stepped. For an
// updatable select, the columns that come from its table remember their
// table column (a subquery in the select list may name another table's).
std::shared_ptr<const Shape> shapeOf(sqlite3_stmt* s, const Target* target) {
  auto shape = std::make_shared<Shape>();
  int n = sqlite3_column_count(s);
  bool hasRowid = target != nullptr;
  if (hasRowid) --n;
  shape->hasRowid = hasRowid;
  shape->columns.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    Column col;
    const char* name = sqlite3_column_name(s, i);
    col.name = name ? name : "";
    col.kind = kindOfDeclType(sqlite3_column_decltype(s, i));
    if (target) {
      const char* origin = sqlite3_column_origin_name(s, i);
      const char* table = sqlite3_column_table_name(s, i);
      if (origin && table && sameText(table, target->tableName)) col.origin = origin;
    }
    shape->columns.push_back(std::move(col));
  }
  return shape;
}

// The shape of a cached statement, rebuilt when SQLite re-prepared it (the
// schema changed).
const std::shared_ptr<const Shape>& cachedShape(CachedStatement& c) {
  int reprepares = sqlite3_stmt_status(c.stmt, SQLITE_STMTSTATUS_REPREPARE, 0);
  if (!c.shape || reprepares != c.reprepares) {
    c.shape = shapeOf(c.stmt, c.target.get());
    c.reprepares = reprepares;
  }
  return c.shape;
}

// Runs a script of several statements in order without caching them and
// returns the rows they changed; rows of queries are read and dropped.
long runBatch(Handle& h, const std::string& original) {
  std::string text = SqlDialect::translate(original);
  const char* p = text.c_str();
  const char* end = p + text.size();
  long affected = 0;
  h.arm();
  while (p < end) {
    sqlite3_stmt* s = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(h.db(), p, static_cast<int>(end - p), &s, &tail) != SQLITE_OK) {
      sqlite3_finalize(s);
      h.fail(original);
    }
    p = tail;
    if (!s) continue;  // blanks or a comment
    struct Finalize {
      sqlite3_stmt* s;
      ~Finalize() { sqlite3_finalize(s); }
    } finalize{s};
    int before = sqlite3_total_changes(h.db());
    int rc = sqlite3_step(s);
    while (rc == SQLITE_ROW) rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) h.fail(original);
    if (sqlite3_total_changes(h.db()) != before) affected += sqlite3_changes(h.db());
  }
  return affected;
}

}  // namespace

// ---------------------------------------------------------------------------
// Connection members

Connection::Connection() : impl_(std::make_unique<ConnectionImpl>()) {}

Connection::~Connection() {
  try {
    Close();
  } catch (...) {
  }
}

void Connection::Open(const std::string& connectionString, const std::string&, const std::string&, long) {
  if (impl_->handle) raise(kObjectOpen, "Operation is not allowed when the object is open.");
  // The component opens the same connection string over and over; remember
  // the last one read on this thread.
  thread_local std::string lastString, lastPath;
  if (connectionString != lastString || lastPath.empty()) {
    std::string path = dataSourceOf(connectionString);
    if (path.empty())
      raise(hr::kDatabase, "No data source is given in the connection string \"" + connectionString +
                               "\" (expected \"Provider=SQLite;Data Source=PATH\").");
    lastString = connectionString;
    lastPath = std::move(path);
  }
  std::unique_ptr<Handle> h = acquireHandle(lastPath);
  h->setTimeout(impl_->commandTimeout);
  impl_->handle = std::move(h);
  if (impl_->connectionString != connectionString) impl_->connectionString = connectionString;
}

void Connection::Close() { releaseHandle(std::move(impl_->handle)); }

int Connection::State() const { return impl_->handle ? ado::adStateOpen : ado::adStateClosed; }

long Connection::CommandTimeout() const { return impl_->commandTimeout; }

void Connection::SetCommandTimeout(long seconds) {
  impl_->commandTimeout = seconds < 0 ? 0 : seconds;
  if (impl_->handle) impl_->handle->setTimeout(impl_->commandTimeout);
}

const std::string& Connection::ConnectionString() const { return impl_->connectionString; }

void Connection::MakeDurable() { impl_->open().makeDurable(); }

std::shared_ptr<Recordset> Connection::Execute(const std::string& sql, long* recordsAffected, long) {
  Handle& h = impl_->open();
  auto rs = std::make_shared<Recordset>();
  RecordsetImpl& r = *rs->impl();
  Literals values;
  CachedStatement& c = h.query(sql, values);
  long affected = 0;
  if (c.several) raiseSeveral(sql);
  if (!c.empty) {
    StatementRun run(h, c);
    bindLiterals(run.stmt(), values);
    sqlite3* db = h.db();
    int before = sqlite3_total_changes(db);
    int rc = sqlite3_step(run.stmt());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) h.fail(sql);
    if (sqlite3_column_count(run.stmt()) > 0) {
      r.shape = cachedShape(c);
      r.load(h, run.stmt(), rc, sql);
      affected = -1;
    } else {
      affected = sqlite3_total_changes(db) != before ? sqlite3_changes(db) : 0;
    }
  }
  if (r.shape) {
    r.state = ado::adStateOpen;
    r.cursorType = ado::adOpenForwardOnly;
    r.lockType = ado::adLockReadOnly;
    r.sql = sql;
    r.connection = std::dynamic_pointer_cast<Connection>(weak_from_this().lock());
    r.makeFields();
  }
  if (recordsAffected) *recordsAffected = affected;
  return rs;
}

namespace {

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

}  // namespace

void Connection::RequireReadOnly(const std::string& sql) {
  Handle& h = impl_->open();
  // Setting an authorizer expires every compiled statement of the handle,
  // so a statement shape found to only read is remembered: values do not
  // change what a statement does.
  std::string key;
  Literals values;
  const std::string& shape = parameterise(sql, key, values) ? key : sql;
  if (h.knownReadOnly(shape)) return;
  std::string text = SqlDialect::translate(sql);
  sqlite3* db = h.db();
  // Each statement is only prepared (never stepped) under the authorizer.
  sqlite3_set_authorizer(db, readOnlyAuthorizer, nullptr);
  struct Restore {
    sqlite3* db;
    ~Restore() { sqlite3_set_authorizer(db, nullptr, nullptr); }
  } restore{db};
  const char* p = text.c_str();
  const char* end = p + text.size();
  while (p < end) {
    sqlite3_stmt* s = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, p, static_cast<int>(end - p), &s, &tail);
    bool readOnly = rc == SQLITE_OK && (!s || sqlite3_stmt_readonly(s));
    sqlite3_finalize(s);
    // Any other failure (a syntax error, an unknown table) is left for the
    // run itself to report; nothing after it runs.
    if (rc != SQLITE_OK && rc != SQLITE_AUTH) return;
    if (!readOnly) raise(hr::kDatabase, "Only a query that reads is allowed here: " + sql);
    p = tail;
  }
  h.rememberReadOnly(shape);
}

long Connection::ExecuteBatch(const std::string& script) {
  Handle& h = impl_->open();
  return runBatch(h, script);
}

// ---------------------------------------------------------------------------
// Field members

const Variant& Field::Value() const { return owner_->impl_->value(index_); }

void Field::SetValue(const Variant& v) { owner_->impl_->setValue(index_, v); }

void Field::AppendChunk(const std::string& chunk) { owner_->impl_->appendChunk(index_, chunk); }

long Field::ActualSize() const {
  const Variant& v = Value();
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null: return 0;
    case VarType::Boolean:
    case VarType::Int16: return 2;
    case VarType::Byte: return 1;
    case VarType::Int32: return 4;
    case VarType::Double:
    case VarType::Date: return 8;
    case VarType::Array: return static_cast<long>(v.array().size());
    default: return static_cast<long>(v.text().size());
  }
}

// ---------------------------------------------------------------------------
// Recordset members

Recordset::Recordset() : impl_(std::make_unique<RecordsetImpl>(*this)) {}

Recordset::~Recordset() = default;

void Recordset::SetCursorLocation(int location) { impl_->cursorLocation = location; }
int Recordset::CursorLocation() const { return impl_->cursorLocation; }
int Recordset::CursorType() const { return impl_->cursorType; }
int Recordset::LockType() const { return impl_->lockType; }

void Recordset::Open(const std::string& sql, const std::shared_ptr<Connection>& connection, int cursorType,
                     int lockType, long) {
  RecordsetImpl& r = *impl_;
  if (r.state == ado::adStateOpen) raise(kObjectOpen, "Operation is not allowed when the object is open.");
  if (!connection) raise(hr::kDbClosed, "The recordset has no open connection to run its query on.");
  Handle& h = connection->impl()->open();
  r.reset();
  bool writable = lockType == ado::adLockPessimistic || lockType == ado::adLockOptimistic ||
                  lockType == ado::adLockBatchOptimistic;
  Literals values;
  CachedStatement& c = writable ? h.updatableQuery(sql, values) : h.query(sql, values);
  if (c.several) raiseSeveral(sql);
  if (!c.empty) {
    StatementRun run(h, c);
    bindLiterals(run.stmt(), values);
    int rc = sqlite3_step(run.stmt());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) h.fail(sql);
    if (sqlite3_column_count(run.stmt()) == 0) return;  // not a query: it ran, the recordset stays closed
    r.shape = cachedShape(c);
    r.target = c.target;
    r.load(h, run.stmt(), rc, sql);
  }
  if (!r.shape) return;
  r.state = ado::adStateOpen;
  r.cursorType = cursorType;
  r.lockType = lockType;
  r.sql = sql;
  r.connection = connection;
  r.makeFields();
}

void Recordset::Close() {
  if (impl_->state != ado::adStateOpen) return;
  impl_->reset();
  impl_->connection.reset();
  impl_->state = ado::adStateClosed;
}

int Recordset::State() const { return impl_->state; }

void Recordset::SetActiveConnectionNothing() {
  if (impl_->state == ado::adStateOpen) impl_->leaveRow();
  impl_->connection.reset();
}

bool Recordset::IsConnected() const { return impl_->connection != nullptr; }

bool Recordset::EOF_() const {
  impl_->requireOpen();
  return !impl_->currentDeleted && impl_->current >= impl_->count();
}

bool Recordset::BOF_() const {
  impl_->requireOpen();
  return !impl_->currentDeleted && (impl_->current < 0 || impl_->count() == 0);
}

void Recordset::MoveFirst() { impl_->moveFirst(); }
void Recordset::MoveNext() { impl_->moveNext(); }
void Recordset::MovePrevious() { impl_->movePrevious(); }
void Recordset::MoveLast() { impl_->moveLast(); }

long Recordset::RecordCount() const {
  impl_->requireOpen();
  return impl_->count();
}

long Recordset::AbsolutePosition() const {
  impl_->requireOpen();
  return impl_->onRow() ? impl_->current + 1 : -1;
}

int Recordset::FieldCount() const { return impl_->fieldCount(); }

Field& Recordset::Fields(const std::string& name) {
  impl_->requireOpen();
  for (auto& f : fields_)
    if (sameText(f->Name(), name)) return *f;
  raise(hr::kDbNoField, "Item cannot be found in the collection corresponding to the requested name or ordinal: '" +
                            name + "'.");
}

Field& Recordset::Fields(int index) {
  impl_->requireOpen();
  if (index < 0 || index >= static_cast<int>(fields_.size()))
    raise(hr::kDbNoField, "Item cannot be found in the collection corresponding to the requested name or ordinal: " +
                              std::to_string(index) + ".");
  return *fields_[static_cast<std::size_t>(index)];
}

void Recordset::AddNew() { impl_->addNew(); }
void Recordset::Update() { impl_->update(); }
void Recordset::CancelUpdate() { impl_->cancelUpdate(); }
void Recordset::Delete() { impl_->deleteCurrent(); }

Variant Recordset::GetRows(long rows) {
  RecordsetImpl& r = *impl_;
  r.leaveRow();
  if (!r.onRow()) raiseNoRow();
  long available = r.count() - r.current;
  long n = rows < 0 || rows > available ? available : rows;
  long fields = r.fieldCount();
  VariantArray a(std::vector<VariantArray::Bound>{{0, fields}, {0, n}});
  for (long j = 0; j < n; ++j) {
    const auto& row = r.rows[static_cast<std::size_t>(r.current + j)];
    for (long i = 0; i < fields; ++i) a.at(i, j) = row[static_cast<std::size_t>(i)];
  }
  r.current += n;
  return Variant(std::move(a));
}

void Recordset::Find(const std::string& criteria, long skip, int direction) {
  impl_->find(criteria, skip, direction);
}

// ---------------------------------------------------------------------------
// By-name access

namespace {

const ClassInfo* connectionClass() {
  using Args = std::vector<Variant>;
  static const ClassInfo* info =
      ClassBuilder<Connection>("ADODB.Connection")
          .method("Open", {in("ConnectionString"), opt("UserID", Variant("")), opt("Password", Variant("")),
                           opt("Options", Variant(-1))},
                  [](Connection& c, Args& a) {
                    c.Open(a[0].toString(), a[1].text(), a[2].text(), a[3].toInt32());
                    return Variant();
                  })
          .method("Close", {}, [](Connection& c, Args&) { c.Close(); return Variant(); })
          .method("Execute", {in("CommandText"), optRef("RecordsAffected", Variant()), opt("Options", Variant(-1))},
                  [](Connection& c, Args& a) {
                    long affected = 0;
                    auto rs = c.Execute(a[0].toString(), &affected, a[2].toInt32());
                    a[1] = Variant(affected);
                    return Variant(rs);
                  })
          .method("State", {}, [](Connection& c, Args&) { return Variant(c.State()); })
          .method("ConnectionString", {}, [](Connection& c, Args&) { return Variant(c.ConnectionString()); })
          .done();
  return info;
}

const ClassInfo* recordsetClass() {
  using Args = std::vector<Variant>;
  static const ClassInfo* info =
      ClassBuilder<Recordset>("ADODB.Recordset")
          .method("Open", {in("Source"), in("ActiveConnection"), opt("CursorType", Variant(-1)),
                           opt("LockType", Variant(-1)), opt("Options", Variant(-1))},
                  [](Recordset& r, Args& a) {
                    r.Open(a[0].toString(), a[1].as<Connection>(), a[2].toInt32(), a[3].toInt32(), a[4].toInt32());
                    return Variant();
                  })
          .method("Close", {}, [](Recordset& r, Args&) { r.Close(); return Variant(); })
          .method("MoveNext", {}, [](Recordset& r, Args&) { r.MoveNext(); return Variant(); })
          .method("MoveFirst", {}, [](Recordset& r, Args&) { r.MoveFirst(); return Variant(); })
          .method("EOF", {}, [](Recordset& r, Args&) { return Variant(r.EOF_()); })
          .method("BOF", {}, [](Recordset& r, Args&) { return Variant(r.BOF_()); })
          .method("RecordCount", {}, [](Recordset& r, Args&) { return Variant(r.RecordCount()); })
          .method("State", {}, [](Recordset& r, Args&) { return Variant(r.State()); })
          .method("Fields", {in("Index")},
                  [](Recordset& r, Args& a) {
                    return a[0].isNumeric() ? r.Fields(a[0].toInt32()).Value() : r.Fields(a[0].toString()).Value();
                  })
          .method("GetRows", {opt("Rows", Variant(-1))}, [](Recordset& r, Args& a) { return r.GetRows(a[0].toInt32()); })
          .done();
  return info;
}

[[maybe_unused]] const bool kRegistered = (connectionClass(), recordsetClass(), true);

}  // namespace

const ClassInfo* Connection::classInfo() const { return connectionClass(); }
const ClassInfo* Recordset::classInfo() const { return recordsetClass(); }

}  // namespace quillon
