// SqlDialect: adapts SQL Server texts to SQLite.
//
// The component writes its SQL for SQL Server. translate() rewrites the
// constructs SQLite lacks and leaves everything else as written:
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
// Single-quoted literals, double-quoted identifiers and comments are never
// changed. `+` as string concatenation cannot be told from addition and is
// left alone.
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

struct SqlDialect {
  static std::string translate(const std::string& sqlServerText);
  static std::vector<SqlToken> tokenize(std::string_view sql);
};

}  // namespace quillon
