#include "platform/Database.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/DatabaseBackend.h"
#include "platform/Error.h"
#include "platform/LazyModule.h"
#include "platform/Log.h"
#include "platform/SqlDialect.h"

namespace quillon {

namespace {

constexpr const char* kSource = "Quillon.Database";
// ADO's adErrObjectOpen (3705): Open on an object that is already open.
constexpr std::int32_t kObjectOpen = static_cast<std::int32_t>(0x800A0E79);
// Names of the key columns added to the select list of updatable recordsets.
constexpr const char* kKeyAlias = "__quillon_key";
// At most this many idle handles per data source stay pooled on a thread.
constexpr std::size_t kMaxIdleHandles = 8;
// At most this many prepared statements are kept per handle and cache.
constexpr std::size_t kMaxCachedStatements = 128;

[[noreturn]] void raise(std::int32_t number, std::string message) { throw Error(number, kSource, std::move(message)); }

// A failure of a statement: the SQL text goes to the log for the operator,
// the raised description carries only the message. Descriptions travel to
// callers and their pages, and statements hold names and values that are
// nobody's business there.
void logStatement(const Error& e, const std::string& sql) {
  Log().WriteError(kSource, e.description() + "\r\nSQL: " + sql, e.number());
}

[[noreturn]] void raiseForStatement(std::int32_t number, const std::string& message, const std::string& sql) {
  Error e(number, kSource, message);
  logStatement(e, sql);
  throw e;
}

[[noreturn]] void raiseSeveral(const std::string& sql) {
  raiseForStatement(hr::kDbSeveralStatements,
                    "The SQL text holds more than one statement; a call runs exactly one, so nothing was run.", sql);
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
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string lowerText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
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
// Updatable selects

// The parts of `SELECT <cols> FROM <table> [alias] [WHERE …] [ORDER BY …]
// [LIMIT …]` the updatable recordset needs; nothing for other statements.
struct SingleTableSelect {
  std::string table;     // as written (may be quoted)
  std::size_t listEnd;   // where the select list ends
  std::size_t fromPos;   // where FROM begins
};

std::optional<SingleTableSelect> singleTableSelect(const std::string& sql) {
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
                 t->isWord("NOT") || t->isWord("FOR") || t->isWord("OFFSET"));
  };
  if (!isName(at(i)) || isClause(at(i))) return std::nullopt;
  const SqlToken* tableFirst = at(i);
  const SqlToken* tableLast = tableFirst;
  ++i;
  if (at(i) && at(i)->isPunct('.') && isName(at(i + 1))) {  // schema.table
    tableLast = at(i + 1);
    i += 2;
  }
  if (at(i) && at(i)->isWord("AS")) ++i;
  if (isName(at(i)) && !isClause(at(i))) ++i;  // an alias
  // Only WHERE / ORDER BY / LIMIT may follow at this level.
  for (std::size_t k = i; k < top.size(); ++k) {
    const SqlToken* t = top[k];
    if (k == i && !(t->isWord("WHERE") || t->isWord("ORDER") || t->isWord("LIMIT"))) return std::nullopt;
    if (t->isWord("GROUP") || t->isWord("HAVING") || t->isWord("UNION") || t->isWord("EXCEPT") ||
        t->isWord("INTERSECT") || t->isWord("WINDOW") || t->isWord("FOR") || t->isPunct(';'))
      return std::nullopt;
  }
  SingleTableSelect s;
  s.table = sql.substr(tableFirst->pos, tableLast->pos + tableLast->text.size() - tableFirst->pos);
  s.listEnd = listEnd;
  s.fromPos = from->pos;
  return s;
}

// ---------------------------------------------------------------------------
// Literals as parameters
//
// The component pastes values into its SQL texts as literals, so the same
// statement arrives with another document id or user each time. Before a
// text is looked up in a handle's statement cache, its literals become
// numbered parameters ("?1" for SQLite, "$1" for PostgreSQL) and their
// values are bound at each run, so every variant of one statement shares
// one compiled program. Only literals whose replacement cannot change the
// statement's meaning or result are taken: the select list of a SELECT
// statement (whose texts name the result columns), ORDER BY and GROUP BY
// terms (a number there is a column position), the count of TOP, aliases
// and names, and N'…' or X'…' forms stay as written. For PostgreSQL, text
// literals in any select list stay too: a parameter there would have no
// type to take from its place. Texts that are not plain SELECT, INSERT,
// UPDATE or DELETE statements, or that carry parameters of their own, stay
// whole. Numbered parameters keep their values in place even when the
// dialect translation drops a clause.

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
// beyond 64 bits.
bool numberValue(std::string_view token, db::Param& out) {
  std::string text(token);
  if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return false;
  if (text.find_first_of(".eE") == std::string::npos) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || end != text.c_str() + text.size()) return false;
    out.kind = db::Param::Integer;
    out.integer = v;
    return true;
  }
  char* end = nullptr;
  double d = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return false;
  out.kind = db::Param::Real;
  out.real = d;
  out.text = text;
  return true;
}

// Fills `key` with the text whose literals are parameters and `values`
// with their values; false (and nothing filled) when the text stays whole.
bool parameterise(const std::string& sql, std::string& key, db::Params& values, const db::Handle& engine) {
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
  const bool typedPlaces = engine.target() == SqlTarget::PostgreSQL;

  // What holds at one parenthesis level.
  struct Level {
    bool keepAll = false;     // inside a select list of the statement, or TOP's count
    bool keepText = false;    // inside any select list (typed parameters only)
    bool selectList = false;  // between SELECT and FROM of the statement's own select
    bool anySelectList = false;  // between SELECT and FROM of any select
    bool ordering = false;    // in ORDER BY / GROUP BY terms
  };
  std::vector<Level> levels(1);
  db::Params found;
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
      if (c == '?' || c == ':' || c == '$') return false;  // parameters of its own
      if (c == '(') {
        Level inner;
        inner.keepAll = level.keepAll || level.selectList || (prev && prev->isWord("TOP"));
        inner.keepText = level.keepText || level.anySelectList;
        levels.push_back(inner);
      } else if (c == ')') {
        if (levels.size() > 1) levels.pop_back();
      } else if (c == ';') {
        level.selectList = level.anySelectList = level.ordering = false;
      }
    } else if (t.kind == SqlToken::Word) {
      if (t.text[0] == '@') return false;
      if (t.isWord("SELECT")) {
        if (levels.size() == 1 && selectStatement) level.selectList = true;
        level.anySelectList = typedPlaces;
      } else if (t.isWord("FROM")) {
        level.selectList = level.anySelectList = false;
      } else if (t.isWord("BY")) {
        if (prev && (prev->isWord("ORDER") || prev->isWord("GROUP"))) level.ordering = true;
      } else if (t.isWord("LIMIT") || t.isWord("OFFSET") || t.isWord("HAVING") || t.isWord("UNION") ||
                 t.isWord("EXCEPT") || t.isWord("INTERSECT") || t.isWord("WINDOW")) {
        level.ordering = false;
      }
    } else if (t.kind == SqlToken::Number || t.kind == SqlToken::String) {
      bool keep = level.keepAll || level.selectList || level.ordering;
      if (t.kind == SqlToken::String && (level.keepText || level.anySelectList)) keep = true;
      if (prev && (prev->isWord("TOP") || prev->isWord("AS") || prev->isPunct('.') || prev->isWord("COLLATE") ||
                   prev->isWord("INTO") || prev->isWord("FROM") || prev->isWord("JOIN") || prev->isWord("UPDATE") ||
                   prev->isWord("TABLE") || prev->isWord("ESCAPE")))
        keep = true;
      // N'…', X'…': a word glued to the literal.
      if (i > 0 && tokens[i - 1].kind == SqlToken::Word) keep = true;
      db::Param value;
      value.literal = true;
      if (!keep) {
        if (t.kind == SqlToken::String) {
          if (t.text.size() < 2 || t.text.back() != '\'') return false;  // unterminated: let the engine report it
          value.kind = db::Param::Text;
          value.text = stringValue(t.text);
        } else if (!numberValue(t.text, value)) {
          keep = true;
        }
      }
      if (!keep) {
        found.push_back(std::move(value));
        if (found.size() > kMaxLiterals) return false;
        out.append(sql, copied, t.pos - copied);
        out += engine.placeholder(static_cast<int>(found.size()));
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

// ---------------------------------------------------------------------------
// Result column names
//
// PostgreSQL reports unquoted names in lower case. A column the statement
// names (a column, or an alias) gets the spelling the statement wrote, its
// select list first; a column the statement does not name (one of `*`)
// gets the name in upper case, as the site schema declares its columns.

std::shared_ptr<const db::Shape> respelled(const db::Shape& shape, std::size_t shown, const std::string& sql) {
  std::vector<SqlToken> tokens = SqlDialect::tokenize(sql);
  std::size_t listEnd = sql.size();
  int depth = 0;
  for (const SqlToken& t : tokens) {
    if (t.isPunct('(')) ++depth;
    if (t.isPunct(')')) --depth;
    if (depth == 0 && t.isWord("FROM")) {
      listEnd = t.pos;
      break;
    }
  }
  std::unordered_map<std::string, std::string> spelling;
  for (int pass = 0; pass < 2; ++pass)
    for (const SqlToken& t : tokens) {
      if ((pass == 0) != (t.pos < listEnd)) continue;
      if (t.kind == SqlToken::Word) spelling.emplace(lowerText(t.text), std::string(t.text));
      if (t.kind == SqlToken::Identifier) {
        std::string name = unquote(t.text);
        spelling.emplace(lowerText(name), name);
      }
    }
  auto out = std::make_shared<db::Shape>(shape.begin(), shape.begin() + static_cast<std::ptrdiff_t>(shown));
  for (db::Column& c : *out) {
    auto it = spelling.find(lowerText(c.name));
    if (it != spelling.end()) {
      c.name = it->second;
    } else if (c.name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") == std::string::npos) {
      for (char& ch : c.name) ch = upper(ch);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Physical handles, their statement caches, and the per-thread pool

// How an updatable recordset writes back to its table.
struct Target {
  std::string table;  // as the statement wrote it
  db::TableInfo info;
};

struct CachedStatement {
  std::unique_ptr<db::Statement> stmt;
  bool several = false;  // the text holds more than one statement: refused, never run
  bool empty = false;    // the text holds no statement at all (blanks, comments, ";")
  std::shared_ptr<const Target> target;  // set when the select is updatable
  std::size_t hidden = 0;                // key columns at the end of the result
  std::shared_ptr<const db::Shape> source;  // the engine's shape `shape` was made from
  std::shared_ptr<const db::Shape> shape;   // the columns a recordset shows
  bool inUse = false;
};

using StatementCache = std::unordered_map<std::string, CachedStatement>;

class PooledHandle {
 public:
  PooledHandle(std::string key, std::unique_ptr<db::Handle> engine) : key_(std::move(key)), engine_(std::move(engine)) {}
  PooledHandle(const PooledHandle&) = delete;
  PooledHandle& operator=(const PooledHandle&) = delete;
  ~PooledHandle() {
    // Statements go before the connection they were compiled on.
    queries_.clear();
    updatable_.clear();
    direct_.clear();
    engine_.reset();
  }

  const std::string& key() const { return key_; }
  db::Handle& engine() const { return *engine_; }
  SqlTarget target() const { return engine_->target(); }

  // The prepared statement for a component SQL text, translated once; the
  // values of its literals, to bind at each run, go to `values`.
  CachedStatement& query(const std::string& sql, db::Params& values) { return lookup(queries_, sql, values, false); }
  // The same, for a recordset that may write back: a single-table select
  // of a table gets the table's key among its columns. Other texts behave
  // as query().
  CachedStatement& updatableQuery(const std::string& sql, db::Params& values) {
    return lookup(updatable_, sql, values, true);
  }

  // A statement this layer wrote itself (the engine's SQL, no translation).
  CachedStatement& direct(const std::string& text) {
    auto it = direct_.find(text);
    if (it != direct_.end()) return it->second;
    CachedStatement c;
    try {
      db::Prepared p = engine_->prepare(text, {});
      c.stmt = std::move(p.statement);
    } catch (const Error& e) {
      logStatement(e, text);
      throw;
    }
    return insert(direct_, text, std::move(c));
  }

  // Runs a cached statement; a failure is logged with `sql`, the text as
  // the caller wrote it.
  long run(CachedStatement& c, const db::Params& values, std::vector<db::Row>* rows, const std::string& sql) {
    struct InUse {
      CachedStatement& c;
      explicit InUse(CachedStatement& s) : c(s) { c.inUse = true; }
      ~InUse() { c.inUse = false; }
    } inUse(c);
    try {
      return c.stmt->run(values, rows);
    } catch (const Error& e) {
      logStatement(e, sql);
      throw;
    }
  }

  // The columns a recordset shows for a statement that has run.
  const std::shared_ptr<const db::Shape>& shownShape(CachedStatement& c, const std::string& sql) {
    std::shared_ptr<const db::Shape> source = c.stmt->shape();
    if (c.shape && source == c.source) return c.shape;
    std::size_t shown = source->size() >= c.hidden ? source->size() - c.hidden : 0;
    if (engine_->foldsNames())
      c.shape = respelled(*source, shown, sql);
    else if (c.hidden == 0)
      c.shape = source;
    else
      c.shape = std::make_shared<db::Shape>(source->begin(), source->begin() + static_cast<std::ptrdiff_t>(shown));
    c.source = std::move(source);
    return c.shape;
  }

  // Statement shapes (texts with literals as parameters) known to only read.
  bool knownReadOnly(const std::string& shape) const { return readOnly_.count(shape) != 0; }
  void rememberReadOnly(const std::string& shape) {
    if (readOnly_.size() >= kMaxCachedStatements) readOnly_.clear();
    readOnly_.insert(shape);
  }

 private:
  CachedStatement& lookup(StatementCache& cache, const std::string& sql, db::Params& values, bool updatable) {
    values.clear();
    auto it = cache.find(sql);
    if (it != cache.end()) return it->second;
    std::string key;
    bool parameterised = parameterise(sql, key, values, *engine_);
    if (parameterised && (it = cache.find(key)) != cache.end()) return it->second;
    CachedStatement c;
    try {
      try {
        build(c, parameterised ? key : sql, values, updatable);
      } catch (const Error&) {
        if (!parameterised) throw;
        // Some places take no parameter (one whose type the engine cannot
        // tell): the text is compiled with its literals instead.
        values.clear();
        parameterised = false;
        c = CachedStatement();
        build(c, sql, values, updatable);
      }
    } catch (const Error& e) {
      logStatement(e, sql);
      throw;
    }
    return insert(cache, parameterised ? key : sql, std::move(c));
  }

  void build(CachedStatement& c, const std::string& text, const db::Params& values, bool updatable) {
    std::string translated = SqlDialect::translate(text, engine_->target());
    if (updatable) {
      if (auto single = singleTableSelect(translated)) {
        std::optional<db::TableInfo> info;
        try {
          info = engine_->describeTable(single->table);
        } catch (const Error&) {
          // Not a table this layer can address: the recordset is read-only.
        }
        if (info) {
          std::string keys;
          for (std::size_t k = 0; k < info->key.size(); ++k)
            keys += ", " + info->key[k] + " AS " + engine_->quoteName(kKeyAlias + std::to_string(k));
          std::string withKeys = translated.substr(0, single->listEnd) + keys + " " + translated.substr(single->fromPos);
          try {
            db::Prepared p = engine_->prepare(withKeys, values);
            if (p.statement) {
              c.stmt = std::move(p.statement);
              c.hidden = info->key.size();
              c.target = std::make_shared<const Target>(Target{single->table, std::move(*info)});
              return;
            }
          } catch (const Error&) {
            // The plain text below reports what is wrong with it.
          }
        }
      }
    }
    db::Prepared p = engine_->prepare(translated, values);
    c.stmt = std::move(p.statement);
    c.several = p.several;
    c.empty = p.empty;
  }

  CachedStatement& insert(StatementCache& cache, const std::string& key, CachedStatement c) {
    if (cache.size() >= kMaxCachedStatements) {
      for (auto it = cache.begin(); it != cache.end();) {
        if (it->second.inUse)
          ++it;
        else
          it = cache.erase(it);
      }
    }
    return cache.emplace(key, std::move(c)).first->second;
  }

  std::string key_;
  std::unique_ptr<db::Handle> engine_;
  StatementCache queries_;
  StatementCache updatable_;
  StatementCache direct_;
  std::unordered_set<std::string> readOnly_;
};

struct Pool {
  std::unordered_map<std::string, std::vector<std::unique_ptr<PooledHandle>>> idle;
  ~Pool();
};
thread_local bool tPoolGone = false;
thread_local Pool tPool;
Pool::~Pool() {
  idle.clear();
  tPoolGone = true;
}

std::unique_ptr<PooledHandle> acquireHandle(const db::ConnectionSettings& settings) {
  if (!tPoolGone) {
    auto it = tPool.idle.find(settings.poolKey);
    while (it != tPool.idle.end() && !it->second.empty()) {
      std::unique_ptr<PooledHandle> h = std::move(it->second.back());
      it->second.pop_back();
      if (h->engine().usable()) return h;
    }
  }
  return std::make_unique<PooledHandle>(settings.poolKey, db::OpenHandle(settings));
}

void releaseHandle(std::unique_ptr<PooledHandle> h) {
  if (!h) return;
  try {
    if (h->engine().inTransaction()) h->engine().rollback();
  } catch (...) {
    return;  // a handle that cannot roll back is not used again
  }
  if (tPoolGone || !h->engine().usable()) return;
  auto& idle = tPool.idle[h->key()];
  if (idle.size() < kMaxIdleHandles) idle.push_back(std::move(h));
}

}  // namespace

// ---------------------------------------------------------------------------
// What the engines share (DatabaseBackend.h)

namespace db {

void Raise(std::int32_t number, const std::string& message) { throw Error(number, kSource, message); }

Variant IntegerVariant(std::int64_t v) {
  if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int>(v));
  return Variant(static_cast<double>(v));
}

ValueKind KindOfTypeName(std::string_view declared) {
  std::string word;
  for (char c : declared) {
    if (c == '(' || c == ' ') break;
    word += lower(c);
  }
  if (word == "integer" || word == "int" || word == "bigint" || word == "long" || word == "mediumint" ||
      word == "int4" || word == "int8")
    return ValueKind::Int32;
  if (word == "smallint" || word == "int2") return ValueKind::Int16;
  if (word == "tinyint" || word == "bit") return ValueKind::Byte;
  if (word == "real" || word == "float" || word == "double" || word == "money" || word == "smallmoney" ||
      word == "float4" || word == "float8")
    return ValueKind::Double;
  if (word == "datetime" || word == "date" || word == "smalldatetime" || word == "datetime2" || word == "timestamp")
    return ValueKind::Date;
  return ValueKind::Storage;
}

Variant ConformToKind(Variant v, ValueKind kind) {
  switch (kind) {
    case ValueKind::Date:
      if (v.isString()) {
        double d;
        if (parseOleDate(v.text(), d)) return Variant::date(d);
      }
      return v;
    case ValueKind::Int16:
      if (v.type() == VarType::Int32 && v.toInt32() >= INT16_MIN && v.toInt32() <= INT16_MAX)
        return Variant(static_cast<std::int16_t>(v.toInt32()));
      return v;
    case ValueKind::Byte:
      if ((v.type() == VarType::Int32 || v.type() == VarType::Int16) && v.toInt32() >= 0 && v.toInt32() <= 255)
        return Variant(static_cast<std::uint8_t>(v.toInt32()));
      return v;
    default: return v;
  }
}

Param ParamOf(const Variant& v) {
  Param p;
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null: break;
    case VarType::Boolean:
      p.kind = Param::Integer;
      p.integer = v.toBool() ? 1 : 0;
      break;
    case VarType::Byte:
    case VarType::Int16:
    case VarType::Int32:
      p.kind = Param::Integer;
      p.integer = v.toInt32();
      break;
    case VarType::Double:
      p.kind = Param::Real;
      p.real = v.toDouble();
      break;
    case VarType::Date:
      p.kind = Param::Text;
      p.text = formatOleDate(v.toDate());
      break;
    case VarType::String:
      p.kind = Param::Text;
      p.text = v.toString();
      break;
    case VarType::Array:
      p.kind = Param::Bytes;
      p.text = v.array().bytes();
      break;
    case VarType::Object: raise(hr::kTypeMismatch, "An object cannot be stored in a database field.");
  }
  return p;
}

std::unique_ptr<Handle> OpenHandle(const ConnectionSettings& settings) {
  if (settings.engine == Engine::SQLite) return OpenSqlite(settings.path);
  static OpenPostgresFunction* open = LazyModule::Function<OpenPostgresFunction>(kPostgresModule, kPostgresSymbol);
  return std::unique_ptr<Handle>(open(settings));
}

}  // namespace db

// ---------------------------------------------------------------------------
// Connection

class ConnectionImpl {
 public:
  std::string connectionString;
  long commandTimeout = 30;
  std::unique_ptr<PooledHandle> handle;

  PooledHandle& open() const {
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
  std::shared_ptr<const db::Shape> shape;
  std::shared_ptr<const Target> target;  // set while the recordset can write back
  std::string sql;

  std::vector<db::Row> rows;
  std::vector<db::Row> keys;  // per row, the values of the table's key (updatable only)
  long current = 0;
  bool currentDeleted = false;

  enum class Editing { None, Edit, AddNew };
  Editing editing = Editing::None;
  std::vector<Variant> buffer;  // the row being edited
  std::vector<char> changed;  // per field: 0 untouched, 1 set, kChunked written by AppendChunk
  static constexpr char kChunked = 2;
  long positionBeforeAdd = 0;

  // What INSERT and UPDATE read back: the table's columns among the
  // fields (by field index), then the key.
  std::string returning;
  std::vector<int> returnedFields;

  long count() const { return static_cast<long>(rows.size()); }
  int fieldCount() const { return shape ? static_cast<int>(shape->size()) : 0; }

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
    keys.clear();
    current = 0;
    currentDeleted = false;
    editing = Editing::None;
    buffer.clear();
    changed.clear();
    returning.clear();
    returnedFields.clear();
    owner_.fields_.clear();
  }

  void makeFields() {
    owner_.fields_.clear();
    owner_.fields_.reserve(shape->size());
    for (std::size_t i = 0; i < shape->size(); ++i)
      owner_.fields_.push_back(std::unique_ptr<Field>(new Field(&owner_, (*shape)[i].name, static_cast<int>(i))));
  }

  // Takes the rows of a run; for an updatable select the key columns at the
  // end of each row go to `keys`.
  void load(std::vector<db::Row> all, std::size_t hidden) {
    if (hidden == 0) {
      rows = std::move(all);
      return;
    }
    rows.reserve(all.size());
    keys.reserve(all.size());
    for (db::Row& row : all) {
      std::size_t shown = row.size() >= hidden ? row.size() - hidden : 0;
      keys.emplace_back(std::make_move_iterator(row.begin() + static_cast<std::ptrdiff_t>(shown)),
                        std::make_move_iterator(row.end()));
      row.resize(shown);
      rows.push_back(std::move(row));
    }
  }

  // --- writing ---------------------------------------------------------

  bool fromTarget(int index) const {
    const db::Column& col = (*shape)[static_cast<std::size_t>(index)];
    return !col.origin.empty() && sameText(col.table, target->info.name);
  }

  PooledHandle& writableHandle() const {
    if (!connection) raise(hr::kDbNotUpdatable, "The recordset is not connected to a database, so it cannot be updated.");
    if (!target)
      raise(hr::kDbNotUpdatable,
            "Current Recordset does not support updating. Open a single-table SELECT with a lock type other than "
            "read-only to update it.");
    PooledHandle* h = connection->impl()->handle.get();
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
    if (!fromTarget(index))
      raise(hr::kDbNotUpdatable, "The field '" + (*shape)[static_cast<std::size_t>(index)].name +
                                     "' is not a column of table " + target->table + " and cannot be updated.");
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
    keys.emplace_back(target->info.key.size(), Variant::null());
    current = count() - 1;
    currentDeleted = false;
    buffer = rows.back();
    changed.assign(buffer.size(), 0);
    editing = Editing::AddNew;
  }

  // The RETURNING clause: the table's columns among the fields and the key.
  const std::string& returningClause(const db::Handle& engine) {
    if (!returning.empty()) return returning;
    returnedFields.clear();
    for (int i = 0; i < fieldCount(); ++i) {
      if (!fromTarget(i)) continue;
      returning += (returning.empty() ? " RETURNING " : ", ") + engine.quoteName((*shape)[static_cast<std::size_t>(i)].origin);
      returnedFields.push_back(i);
    }
    for (const std::string& k : target->info.key) returning += (returning.empty() ? " RETURNING " : ", ") + k;
    return returning;
  }

  // The condition that picks the current row by its key.
  std::string keyCondition(const db::Handle& engine, db::Params& params) const {
    std::string where;
    const db::Row& key = keys[static_cast<std::size_t>(current)];
    for (std::size_t k = 0; k < target->info.key.size(); ++k) {
      params.push_back(db::ParamOf(key[k]));
      where += (k ? " AND " : " WHERE ") + target->info.key[k] + " = " +
               engine.placeholder(static_cast<int>(params.size()));
    }
    return where;
  }

  void update() {
    requireOpen();
    PooledHandle& h = writableHandle();
    if (editing == Editing::None) return;
    db::Handle& engine = h.engine();
    std::vector<int> cols;
    for (std::size_t i = 0; i < changed.size(); ++i)
      if (changed[i]) cols.push_back(static_cast<int>(i));
    std::string text;
    db::Params params;
    if (editing == Editing::AddNew) {
      if (cols.empty()) {
        text = "INSERT INTO " + target->table + " DEFAULT VALUES";
      } else {
        text = "INSERT INTO " + target->table + " (";
        std::string marks;
        for (std::size_t k = 0; k < cols.size(); ++k) {
          params.push_back(db::ParamOf(buffer[static_cast<std::size_t>(cols[k])]));
          text += (k ? ", " : "") + engine.quoteName((*shape)[static_cast<std::size_t>(cols[k])].origin);
          marks += (k ? ", " : "") + engine.placeholder(static_cast<int>(k + 1));
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
        params.push_back(db::ParamOf(buffer[static_cast<std::size_t>(cols[k])]));
        text += (k ? ", " : "") + engine.quoteName((*shape)[static_cast<std::size_t>(cols[k])].origin) + " = " +
                engine.placeholder(static_cast<int>(k + 1));
      }
      text += keyCondition(engine, params);
    }
    text += returningClause(engine);
    std::vector<db::Row> back;
    long affected = h.run(h.direct(text), params, &back, text);
    if (editing == Editing::Edit && affected == 0)
      raiseForStatement(hr::kDbRowNotLocated,
                        "Row cannot be located for updating. Some values may have been changed since it was last read.",
                        text);
    auto& row = rows[static_cast<std::size_t>(current)];
    row = std::move(buffer);
    editing = Editing::None;
    buffer.clear();
    changed.clear();
    // The row as stored, so keys and defaults the database assigned show.
    if (!back.empty()) {
      const db::Row& stored = back.front();
      std::size_t k = 0;
      for (; k < returnedFields.size() && k < stored.size(); ++k) {
        std::size_t field = static_cast<std::size_t>(returnedFields[k]);
        row[field] = db::ConformToKind(stored[k], (*shape)[field].kind);
      }
      db::Row& key = keys[static_cast<std::size_t>(current)];
      for (std::size_t j = 0; j < key.size() && k + j < stored.size(); ++j) key[j] = stored[k + j];
    }
  }

  void cancelUpdate() {
    requireOpen();
    if (editing == Editing::AddNew) {
      rows.pop_back();
      keys.pop_back();
      current = positionBeforeAdd;
    }
    editing = Editing::None;
    buffer.clear();
    changed.clear();
  }

  void deleteCurrent() {
    requireOpen();
    PooledHandle& h = writableHandle();
    if (editing == Editing::AddNew) {  // the new row was never stored
      cancelUpdate();
      return;
    }
    editing = Editing::None;
    if (!onRow()) raiseNoRow();
    db::Params params;
    std::string text = "DELETE FROM " + target->table + keyCondition(h.engine(), params);
    h.run(h.direct(text), params, nullptr, text);
    rows.erase(rows.begin() + current);
    keys.erase(keys.begin() + current);
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

// ---------------------------------------------------------------------------
// Connection members

Connection::Connection() : impl_(std::make_unique<ConnectionImpl>()) {}

Connection::~Connection() {
  try {
    Close();
  } catch (...) {
  }
}

void Connection::Open(const std::string& connectionString, const std::string& user, const std::string& password,
                      long) {
  if (impl_->handle) raise(kObjectOpen, "Operation is not allowed when the object is open.");
  // The component opens the same connection string over and over; remember
  // the last one read on this thread.
  thread_local std::string lastString;
  thread_local std::optional<db::ConnectionSettings> lastSettings;
  std::optional<db::ConnectionSettings> given;
  const db::ConnectionSettings* settings;
  if (!user.empty() || !password.empty()) {
    given = db::ParseConnectionString(connectionString, user, password);
    settings = &*given;
  } else {
    if (!lastSettings || connectionString != lastString) {
      lastSettings.reset();
      lastSettings = db::ParseConnectionString(connectionString);
      lastString = connectionString;
    }
    settings = &*lastSettings;
  }
  std::unique_ptr<PooledHandle> h = acquireHandle(*settings);
  h->engine().setTimeout(impl_->commandTimeout);
  impl_->handle = std::move(h);
  if (impl_->connectionString != connectionString) impl_->connectionString = connectionString;
}

void Connection::Close() { releaseHandle(std::move(impl_->handle)); }

void Connection::ReleaseIdleHandles() {
  if (!tPoolGone) tPool.idle.clear();
}

int Connection::State() const { return impl_->handle ? ado::adStateOpen : ado::adStateClosed; }

long Connection::CommandTimeout() const { return impl_->commandTimeout; }

void Connection::SetCommandTimeout(long seconds) {
  impl_->commandTimeout = seconds < 0 ? 0 : seconds;
  if (impl_->handle) impl_->handle->engine().setTimeout(impl_->commandTimeout);
}

const std::string& Connection::ConnectionString() const { return impl_->connectionString; }

bool Connection::IsPostgreSQL() const { return impl_->open().target() == SqlTarget::PostgreSQL; }

void Connection::MakeDurable() { impl_->open().engine().makeDurable(); }

void Connection::BeginTrans() { impl_->open().engine().begin(); }
void Connection::CommitTrans() { impl_->open().engine().commit(); }
void Connection::RollbackTrans() { impl_->open().engine().rollback(); }
bool Connection::InTransaction() const { return impl_->open().engine().inTransaction(); }

std::shared_ptr<Recordset> Connection::Execute(const std::string& sql, long* recordsAffected, long) {
  PooledHandle& h = impl_->open();
  auto rs = std::make_shared<Recordset>();
  RecordsetImpl& r = *rs->impl();
  db::Params values;
  CachedStatement& c = h.query(sql, values);
  long affected = 0;
  if (c.several) raiseSeveral(sql);
  if (!c.empty) {
    std::vector<db::Row> rows;
    long changed = h.run(c, values, &rows, sql);
    const std::shared_ptr<const db::Shape>& shape = h.shownShape(c, sql);
    if (!shape->empty()) {
      r.shape = shape;
      r.rows = std::move(rows);
      affected = -1;
    } else {
      affected = changed;
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

void Connection::RequireReadOnly(const std::string& sql) {
  PooledHandle& h = impl_->open();
  // SQLite checks under an authorizer, and setting one expires every
  // compiled statement of the handle, so a statement shape found to only
  // read is remembered: values do not change what a statement does.
  // PostgreSQL's check is made each time, as it also makes the next run of
  // the statement read-only.
  std::string key;
  db::Params values;
  const std::string& shape = parameterise(sql, key, values, h.engine()) ? key : sql;
  if (h.target() == SqlTarget::SQLite && h.knownReadOnly(shape)) return;
  try {
    h.engine().requireReadOnly(SqlDialect::translate(shape, h.target()));
  } catch (const Error& e) {
    logStatement(e, sql);
    throw;
  }
  h.rememberReadOnly(shape);
}

long Connection::ExecuteBatch(const std::string& script) {
  PooledHandle& h = impl_->open();
  try {
    return h.engine().runScript(SqlDialect::translate(script, h.target()));
  } catch (const Error& e) {
    logStatement(e, script);
    throw;
  }
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
  PooledHandle& h = connection->impl()->open();
  r.reset();
  bool writable = lockType == ado::adLockPessimistic || lockType == ado::adLockOptimistic ||
                  lockType == ado::adLockBatchOptimistic;
  db::Params values;
  CachedStatement& c = writable ? h.updatableQuery(sql, values) : h.query(sql, values);
  if (c.several) raiseSeveral(sql);
  if (!c.empty) {
    std::vector<db::Row> rows;
    h.run(c, values, &rows, sql);
    const std::shared_ptr<const db::Shape>& shape = h.shownShape(c, sql);
    if (shape->empty()) return;  // not a query: it ran, the recordset stays closed
    r.shape = shape;
    r.target = c.target;
    r.load(std::move(rows), c.hidden);
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
          .method("BeginTrans", {}, [](Connection& c, Args&) { c.BeginTrans(); return Variant(1); })
          .method("CommitTrans", {}, [](Connection& c, Args&) { c.CommitTrans(); return Variant(); })
          .method("RollbackTrans", {}, [](Connection& c, Args&) { c.RollbackTrans(); return Variant(); })
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
