// DatabaseBackend: what a database engine provides to the ADO-like layer of
// platform/Database.h. Internal to the platform: the component never sees it.
//
// The layer above keeps everything that is the same for every engine: the
// client-side recordset (rows in memory, moving, Find, GetRows, the edit
// buffer, disconnected copies), the per-thread pool of physical handles,
// the statement caches, literals turned into parameters, the translation
// of the component's SQL Server texts (SqlDialect) and the logging of
// failed statements. An engine provides a physical handle that prepares and
// runs statements in its own SQL, describes results and tables, and keeps
// transactions and the durable point.
//
// Engines: SQLite (platform/db/SqliteBackend.cpp, inside the platform
// library) and PostgreSQL (platform/db/PgBackend.cpp, in the module
// libquillon_pg.so that only a process opening a PostgreSQL database loads).
//
// Failures: engine functions raise Error (number hr::kDatabase unless said
// otherwise) whose description is the engine's message; they never write
// the statement into it, and never a password. The layer above logs the
// statement.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/SqlDialect.h"
#include "platform/Variant.h"

namespace quillon::db {

// How a column's values become Variants, from the type the column was
// declared with (or, for expressions, the type the engine reports).
enum class ValueKind { Storage, Int32, Int16, Byte, Double, Date };

struct Column {
  std::string name;    // as the engine names it
  ValueKind kind = ValueKind::Storage;
  std::string table;   // for a column read straight from a table: the table,
  std::string origin;  // and its column, both as the catalog spells them
};
using Shape = std::vector<Column>;
using Row = std::vector<Variant>;

// A value bound to a statement parameter.
struct Param {
  enum Kind { Null, Integer, Real, Text, Bytes } kind = Null;
  std::int64_t integer = 0;
  double real = 0;
  std::string text;  // Text and Bytes; for Real, the literal as written (may be empty)
  // A literal of the statement's text turned into a parameter: an engine
  // that types parameters gives it the type the literal would have had.
  // Other values (field values) take the type their place in the statement
  // asks for.
  bool literal = false;
};
using Params = std::vector<Param>;

// A field value as a parameter: Boolean as 1/0, dates as the text
// "YYYY-MM-DD hh:mm:ss", arrays as bytes. Raises for objects.
Param ParamOf(const Variant& v);

// An engine integer as a Variant: Int32 when it fits, else Double.
Variant IntegerVariant(std::int64_t v);
// The value kind of a declared type name ("INTEGER", "smallint", "int2",
// "DATETIME", "tinyint", ...).
ValueKind KindOfTypeName(std::string_view declared);
// A value read back as another kind than the column's (a date as text, a
// small integer as Int32) in the column's own kind.
Variant ConformToKind(Variant v, ValueKind kind);

// How one table's rows are addressed by the updatable recordset.
struct TableInfo {
  std::string name;  // as the catalog spells it
  // SQL expressions (ready to paste) that identify one row: the primary
  // key's columns, else those of a unique index over columns that are never
  // NULL, else the engine's own row address (SQLite's rowid, PostgreSQL's
  // ctid) for a table that has no key.
  std::vector<std::string> key;
  bool physicalKey = false;  // `key` is the engine's row address
};

// A compiled statement of one handle (exactly one statement).
class Statement {
 public:
  virtual ~Statement() = default;
  // Runs with `params` (one per placeholder, in order; extra values are
  // ignored). Every row of the result is appended to `rows` when given.
  // Returns the number of rows an INSERT, UPDATE or DELETE changed (0 for
  // other statements).
  virtual long run(const Params& params, std::vector<Row>* rows) = 0;
  // The columns of the result as of the last run or preparation; empty for
  // a statement that returns no rows. A new object when they changed (the
  // schema changed under a cached statement).
  virtual std::shared_ptr<const Shape> shape() = 0;
};

// What preparing a text gave.
struct Prepared {
  std::unique_ptr<Statement> statement;  // null when `several` or `empty`
  bool several = false;  // the text holds more than one statement: never run
  bool empty = false;    // blanks, comments and ";" only: nothing to run
};

// One physical connection. Belongs to one thread at a time.
class Handle {
 public:
  virtual ~Handle() = default;  // a handle that wrote makes its work durable first; never throws

  // The SQL dialect of the engine, for SqlDialect::translate.
  virtual SqlTarget target() const = 0;
  // The placeholder of parameter `n` (1-based): "?1" or "$1".
  virtual std::string placeholder(int n) const = 0;
  // A name quoted for the engine's SQL (as the engine's catalog spells names).
  virtual std::string quoteName(const std::string& name) const = 0;
  // True when the engine reports unquoted names in lower case, so the layer
  // above gives result columns the spelling the statement used.
  virtual bool foldsNames() const = 0;

  // Compiles a text of the engine's SQL. `several`/`empty` as in Prepared.
  // `sample` are the parameters of the first run (an engine that types
  // parameters types them from it; later runs may bind other values).
  virtual Prepared prepare(const std::string& text, const Params& sample) = 0;
  // Runs a script of several statements in order, each on its own (a
  // failing one stops the script, those before it have run); returns the
  // rows they changed.
  virtual long runScript(const std::string& text) = 0;

  // Seconds a statement may run or wait for a lock (0 = no limit).
  virtual void setTimeout(long seconds) = 0;

  virtual void begin() = 0;
  virtual void commit() = 0;  // raises, having rolled back, when the transaction cannot commit
  virtual void rollback() = 0;
  virtual bool inTransaction() const = 0;

  // Puts every commit so far on the database on disk (see Database.h).
  virtual void makeDurable() = 0;

  // Raises unless `text` (one statement) only reads. An engine may also
  // make the next run of exactly this text read-only.
  virtual void requireReadOnly(const std::string& text) = 0;

  // How rows of the table named by `written` (a name as the statement wrote
  // it, possibly quoted) are addressed; nothing for views and unknown names.
  virtual std::optional<TableInfo> describeTable(const std::string& written) = 0;

  // False once the connection is lost: the handle is not pooled again.
  virtual bool usable() const = 0;
};

// ---------------------------------------------------------------------------
// Connection strings

enum class Engine { SQLite, PostgreSQL };

struct ConnectionSettings {
  Engine engine = Engine::SQLite;
  std::string path;  // SQLite: the database file
  // PostgreSQL: libpq keywords and values (a URI is passed as "dbname" and
  // expanded by libpq).
  std::vector<std::pair<std::string, std::string>> pgParams;
  std::string poolKey;      // handles with the same key are interchangeable
  std::string description;  // for messages: never holds a password
};

// Reads "Provider=SQLite;Data Source=PATH", "Provider=PostgreSQL;Host=…;
// Port=…;Database=…;User=…;Password=…" (keys without regard to letter case)
// or a "postgresql://" URI. `user`/`password` (ADO's Open arguments) take
// precedence over the string's when not empty. Raises when no data source
// or database is given.
ConnectionSettings ParseConnectionString(const std::string& connectionString, const std::string& user = {},
                                     const std::string& password = {});

// The connection string with every password replaced by "********".
std::string MaskPasswords(const std::string& connectionString);

// Opens a physical handle for `settings` (SQLite here; PostgreSQL through the
// module libquillon_pg.so).
std::unique_ptr<Handle> OpenHandle(const ConnectionSettings& settings);

// The SQLite engine (platform/db/SqliteBackend.cpp).
std::unique_ptr<Handle> OpenSqlite(const std::string& path);

// The entry point libquillon_pg.so exports.
using OpenPostgresFunction = Handle*(const ConnectionSettings& settings);
inline constexpr const char* kPostgresModule = "pg";
inline constexpr const char* kPostgresSymbol = "quillon_pg_open";

// Raises Error(number, message) with source "Quillon.Database".
[[noreturn]] void Raise(std::int32_t number, const std::string& message);

}  // namespace quillon::db
