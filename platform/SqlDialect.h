// SqlDialect: adapts SQL Server texts to SQLite or PostgreSQL.
//
// The component writes its SQL for SQL Server. translate() rewrites the
// constructs the target database lacks and leaves everything else as
// written. For SQLite:
//   SELECT [DISTINCT] TOP n …      -> SELECT [DISTINCT] … LIMIT n  (per statement
//                                     or parenthesised subquery; TOP 100 PERCENT
//                                     is dropped)
//   dbo.NAME, [dbo].[NAME]         -> NAME, "NAME"
//   [NAME]                         -> "NAME"
//   5WHERE, =1AND, -1OR            -> 5 WHERE, =1 AND, -1 OR
//   ISNULL( / LEN( / GETDATE()     -> IFNULL( / LENGTH( / datetime('now','localtime')
//   N'text'                        -> 'text'
//   BEGIN TRAN / COMMIT TRAN       -> BEGIN TRANSACTION / COMMIT TRANSACTION
//   INSERT INTO T … WHERE … AND x NOT IN (SELECT T.x FROM T WHERE …)
//                                  -> INSERT OR IGNORE INTO T … WHERE …
//                                     (insert only what T lacks: T's unique
//                                     key over the compared columns skips
//                                     the rest; used where T has one)
// For PostgreSQL the same, except:
//   SELECT … TOP n in a member of UNION/EXCEPT/INTERSECT
//                                  -> (SELECT … LIMIT n)
//   [NAME], "NAME"                 -> "name"  (PostgreSQL folds unquoted names
//                                     to lower case and the schema's names
//                                     are unquoted, so a quoted name must be
//                                     in lower case to find them)
//   ISNULL( / GETDATE()            -> COALESCE( / LOCALTIMESTAMP(0)
//   x LIKE 'p' (also NOT LIKE)     -> x ILIKE 'p' ESCAPE ''  (SQL Server's
//                                     default collation ignores letter case;
//                                     PostgreSQL's LIKE would read "\" as an
//                                     escape character, SQL Server's does not)
//   INSERT … NOT IN (…) as above   -> INSERT INTO T … ON CONFLICT DO NOTHING
// `+` between texts is concatenation in SQL Server. SQLite has no form for
// it (the text is left alone, and SQLite adds the texts as numbers). A
// PostgreSQL site database defines the operator text + text as
// concatenation (data/schema.postgresql.sql), so PostgreSQL's own type
// resolution tells concatenation from addition and the text stays as
// written.
// Single-quoted literals, comments and the names inside quoted identifiers
// (apart from letter case for PostgreSQL) are never changed.
//
// tokenize() is the scanner translate() works on; the database layer uses
// it to recognise single-table SELECTs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

struct SqlToken {
  enum Kind {
    Word,        // keyword or plain identifier (letters, digits, _, @, #, $)
    Number,      // 12, 1.5, 2E-3, 0x1F
    String,      // 'text' with '' inside
    Identifier,  // "name" or [name]
    Comment,     // -- to end of line, /* … */
    Space,
    Punct        // any other single character
  };
  Kind kind;
  std::string_view text;  // points into the scanned text
  std::size_t pos;        // offset in the scanned text

  bool significant() const { return kind != Space && kind != Comment; }
  bool isWord(std::string_view upperWord) const;  // case-insensitive
  bool isPunct(char c) const { return kind == Punct && text.size() == 1 && text[0] == c; }
};

// The database a text is translated for.
enum class SqlTarget { SQLite, PostgreSQL };

struct SqlDialect {
  static std::string translate(const std::string& sqlServerText, SqlTarget target = SqlTarget::SQLite);
  static std::vector<SqlToken> tokenize(std::string_view sql);
};

}  // namespace quillon
