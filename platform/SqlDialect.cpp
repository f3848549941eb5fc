#include "platform/SqlDialect.h"

#include <cstddef>

namespace quillon {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// UTF-8 lead and continuation bytes count as letters, as SQL Server allows
// non-ASCII letters in plain identifiers.
bool isWordStart(char c) { return isAlpha(c) || c == '_' || c == '@' || c == '#' || static_cast<unsigned char>(c) >= 0x80; }
bool isWordChar(char c) { return isWordStart(c) || isDigit(c) || c == '$'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Offset just past a quoted run starting at `i` (the opening quote), where a
// doubled closing quote stands for itself. An unterminated run ends the text.
std::size_t endOfQuoted(std::string_view s, std::size_t i, char close) {
  for (std::size_t j = i + 1; j < s.size(); ++j) {
    if (s[j] != close) continue;
    if (j + 1 < s.size() && s[j + 1] == close) {
      ++j;
      continue;
    }
    return j + 1;
  }
  return s.size();
}

std::size_t endOfNumber(std::string_view s, std::size_t i) {
  std::size_t j = i;
  if (s[j] == '0' && j + 2 < s.size() && (s[j + 1] == 'x' || s[j + 1] == 'X') && isHexDigit(s[j + 2])) {
    j += 2;
    while (j < s.size() && isHexDigit(s[j])) ++j;
    return j;
  }
  while (j < s.size() && isDigit(s[j])) ++j;
  if (j < s.size() && s[j] == '.') {
    ++j;
    while (j < s.size() && isDigit(s[j])) ++j;
  }
  // An exponent only when digits follow, so that "5ELSE" stays 5 + ELSE.
  if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
    std::size_t k = j + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    if (k < s.size() && isDigit(s[k])) {
      while (k < s.size() && isDigit(s[k])) ++k;
      j = k;
    }
  }
  return j;
}

// The name inside a quoted identifier token, unescaped.
std::string identifierName(const SqlToken& t) {
  std::string out;
  if (t.text.size() < 2) return out;
  char close = t.text[0] == '[' ? ']' : t.text[0];
  std::string_view inner = t.text.substr(1, t.text.back() == close ? t.text.size() - 2 : t.text.size() - 1);
  for (std::size_t i = 0; i < inner.size(); ++i) {
    out += inner[i];
    if (inner[i] == close && i + 1 < inner.size() && inner[i + 1] == close) ++i;
  }
  return out;
}

// What translate() does to each token: drop it, replace its text, and/or
// add text before or after it.
struct Edit {
  bool drop = false;
  bool replaced = false;
  std::string replacement;
  std::string prefix;
  std::string suffix;
};

class Translator {
 public:
  Translator(std::string_view sql, SqlTarget target)
      : sql_(sql), target_(target), tokens_(SqlDialect::tokenize(sql)), edits_(tokens_.size()) {}

  std::string run() {
    insertUnlessPresent();
    for (std::size_t i = 0; i < tokens_.size(); ++i) {
      const SqlToken& t = tokens_[i];
      switch (t.kind) {
        case SqlToken::Word: word(i); break;
        case SqlToken::Identifier: identifier(i); break;
        case SqlToken::Number:
          // SQL Server reads "5WHERE" as 5 followed by WHERE; SQLite wants a blank.
          if (i + 1 < tokens_.size() && tokens_[i + 1].kind == SqlToken::Word) edits_[i].suffix += ' ';
          break;
        default: break;
      }
    }
    std::string out;
    out.reserve(sql_.size() + 16);
    for (std::size_t i = 0; i < tokens_.size(); ++i) {
      const Edit& e = edits_[i];
      out += e.prefix;
      if (!e.drop) {
        if (e.replaced)
          out += e.replacement;
        else
          out += tokens_[i].text;
      }
      out += e.suffix;
    }
    return out;
  }

 private:
  std::size_t nextSignificant(std::size_t i) const {
    for (++i; i < tokens_.size(); ++i)
      if (tokens_[i].significant()) return i;
    return tokens_.size();
  }
  std::size_t previousSignificant(std::size_t i) const {
    while (i-- > 0)
      if (tokens_[i].significant()) return i;
    return tokens_.size();
  }
  bool wordAt(std::size_t i, std::string_view w) const { return i < tokens_.size() && tokens_[i].isWord(w); }
  bool punctAt(std::size_t i, char c) const { return i < tokens_.size() && tokens_[i].isPunct(c); }
  void replace(std::size_t i, std::string text) {
    edits_[i].replaced = true;
    edits_[i].replacement = std::move(text);
  }
  void dropRange(std::size_t from, std::size_t to) {  // inclusive
    for (std::size_t k = from; k <= to && k < tokens_.size(); ++k) edits_[k].drop = true;
  }
  // "dbo" directly followed by "." is the owner prefix.
  bool dropOwnerPrefix(std::size_t i) {
    if (!punctAt(i + 1, '.')) return false;
    edits_[i].drop = true;
    edits_[i + 1].drop = true;
    return true;
  }

  bool postgres() const { return target_ == SqlTarget::PostgreSQL; }

  void identifier(std::size_t i) {
    std::string name = identifierName(tokens_[i]);
    if (equalsUpper(name, "DBO") && dropOwnerPrefix(i)) return;
    if (tokens_[i].text[0] != '[' && !postgres()) return;
    std::string quoted = "\"";
    for (char c : name) {
      if (c == '"') quoted += '"';
      // PostgreSQL keeps quoted names as written and the schema's names are
      // folded to lower case (ASCII letters only, as PostgreSQL folds them).
      quoted += postgres() ? lowerAscii(c) : c;
    }
    quoted += '"';
    replace(i, std::move(quoted));
  }

  static char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

  static bool equalsUpper(const std::string& s, std::string_view upperWord) {
    if (s.size() != upperWord.size()) return false;
    for (std::size_t k = 0; k < s.size(); ++k)
      if (upper(s[k]) != upperWord[k]) return false;
    return true;
  }

  void word(std::size_t i) {
    const SqlToken& t = tokens_[i];
    if (t.isWord("DBO")) {
      dropOwnerPrefix(i);
    } else if (t.isWord("SELECT")) {
      top(i);
    } else if (t.isWord("ISNULL")) {
      if (punctAt(nextSignificant(i), '(')) replace(i, postgres() ? "COALESCE" : "IFNULL");
    } else if (t.isWord("LEN")) {
      if (punctAt(nextSignificant(i), '(')) replace(i, "LENGTH");
    } else if (t.isWord("GETDATE")) {
      std::size_t open = nextSignificant(i);
      std::size_t close = nextSignificant(open);
      if (punctAt(open, '(') && punctAt(close, ')')) {
        replace(i, postgres() ? "LOCALTIMESTAMP(0)" : "datetime('now','localtime')");
        dropRange(i + 1, close);
      }
    } else if (t.isWord("N")) {
      // N'text' is a Unicode literal; every SQLite literal is. Right after
      // another literal the N is all that keeps the two apart ('a'N'b' would
      // become the one literal 'a''b'), so a blank takes its place there.
      if (i + 1 < tokens_.size() && tokens_[i + 1].kind == SqlToken::String) {
        if (i > 0 && tokens_[i - 1].kind == SqlToken::String)
          replace(i, " ");
        else
          edits_[i].drop = true;
      }
    } else if (t.isWord("LIKE")) {
      if (postgres()) like(i);
    } else if (t.isWord("TRAN")) {
      std::size_t p = previousSignificant(i);
      if (wordAt(p, "BEGIN") || wordAt(p, "COMMIT") || wordAt(p, "ROLLBACK")) replace(i, "TRANSACTION");
    }
  }

  // LIKE ignores letter case in SQL Server (its default collation) and
  // SQLite (ASCII letters); PostgreSQL's ILIKE does so too. A pattern that
  // is a literal or a parameter gets ESCAPE '', as PostgreSQL would
  // otherwise read a backslash in it as an escape character.
  void like(std::size_t i) {
    replace(i, "ILIKE");
    std::size_t p = nextSignificant(i);
    if (p >= tokens_.size()) return;
    std::size_t last;
    if (tokens_[p].kind == SqlToken::String) {
      last = p;
    } else if ((punctAt(p, '$') || punctAt(p, '?')) && p + 1 < tokens_.size() &&
               tokens_[p + 1].kind == SqlToken::Number) {
      last = p + 1;
    } else {
      return;
    }
    if (!wordAt(nextSignificant(last), "ESCAPE")) edits_[last].suffix += " ESCAPE ''";
  }

  // SELECT [DISTINCT|ALL] TOP n … : drop "TOP n" and put "LIMIT n" at the end
  // of this select (its statement, or the parentheses it stands in).
  void top(std::size_t select) {
    std::size_t i = nextSignificant(select);
    if (wordAt(i, "DISTINCT") || wordAt(i, "ALL")) i = nextSignificant(i);
    if (!wordAt(i, "TOP")) return;
    std::size_t topWord = i;
    std::size_t countEnd;
    std::string count;
    std::size_t c = nextSignificant(topWord);
    if (c < tokens_.size() && tokens_[c].kind == SqlToken::Number) {
      count = std::string(tokens_[c].text);
      countEnd = c;
    } else if (punctAt(c, '(')) {
      std::size_t close = matchingParen(c);
      if (close >= tokens_.size()) return;
      std::size_t from = tokens_[c].pos + 1;
      count = "(" + trim(sql_.substr(from, tokens_[close].pos - from)) + ")";
      countEnd = close;
    } else {
      return;
    }
    std::size_t after = nextSignificant(countEnd);
    bool allRows = false;
    if (wordAt(after, "PERCENT")) {
      if (count != "100" && count != "(100)") return;  // a real percentage has no SQLite form
      allRows = true;
      countEnd = after;
    } else if (wordAt(after, "WITH") && wordAt(nextSignificant(after), "TIES")) {
      return;  // no SQLite form either; let SQLite report it
    }
    dropRange(topWord, countEnd);
    if (countEnd + 1 < tokens_.size() && tokens_[countEnd + 1].kind == SqlToken::Space) edits_[countEnd + 1].drop = true;
    if (allRows) return;

    // Find where this select ends: a closing parenthesis or ';' at its own
    // level, or a UNION/EXCEPT/INTERSECT that joins it to another select.
    // In the last select of a compound, a trailing ORDER BY sorts the whole
    // compound, so that select ends before it.
    std::size_t before = previousSignificant(select);
    if (wordAt(before, "ALL")) before = previousSignificant(before);
    bool compound = wordAt(before, "UNION") || wordAt(before, "EXCEPT") || wordAt(before, "INTERSECT");
    int depth = 0;
    std::size_t last = countEnd;
    for (std::size_t k = countEnd + 1; k < tokens_.size(); ++k) {
      const SqlToken& t = tokens_[k];
      if (!t.significant()) continue;
      if (t.isPunct('(')) {
        ++depth;
      } else if (t.isPunct(')')) {
        if (depth == 0) break;
        --depth;
      } else if (depth == 0) {
        if (t.isPunct(';')) break;
        if (t.isWord("UNION") || t.isWord("EXCEPT") || t.isWord("INTERSECT")) {
          compound = true;
          break;
        }
        if (compound && t.isWord("ORDER")) break;
      }
      last = k;
    }
    if (compound && postgres()) {
      // A member of a compound takes its own LIMIT inside parentheses.
      edits_[select].prefix += "(";
      edits_[last].suffix += " LIMIT " + count + ")";
    } else if (compound) {
      // SQLite allows LIMIT only after the last select of a compound, so a
      // limited member becomes a subquery of its own.
      edits_[select].prefix += "SELECT * FROM (";
      edits_[last].suffix += " LIMIT " + count + ")";
    } else {
      edits_[last].suffix += " LIMIT " + count;
    }
  }

  // The name a table token stands for: a plain word, or a quoted name.
  std::string tableName(std::size_t i) const {
    if (i >= tokens_.size()) return {};
    const SqlToken& t = tokens_[i];
    if (t.kind == SqlToken::Word) return std::string(t.text);
    if (t.kind == SqlToken::Identifier) return identifierName(t);
    return {};
  }
  // The table named at `i` (after an optional dbo. prefix); `last` is its
  // last token. Empty when there is no name.
  std::string tableAt(std::size_t i, std::size_t& last) const {
    std::string name = tableName(i);
    if (equalsUpper(name, "DBO") && punctAt(nextSignificant(i), '.')) {
      i = nextSignificant(nextSignificant(i));
      name = tableName(i);
    }
    last = i;
    return name;
  }
  static bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
      if (upper(a[k]) != upper(b[k])) return false;
    return true;
  }

  // INSERT INTO T [(cols)] SELECT … WHERE … AND x NOT IN (SELECT T.x FROM T
  // WHERE …), the SQL Server way to insert only the rows T does not hold
  // yet, becomes INSERT OR IGNORE INTO T … without that last condition. A
  // SELECT that reads the insert's own table makes SQLite copy its whole
  // result aside before inserting; without it the rows go in as they are
  // read, and T's unique key over the compared columns skips those already
  // there (and a row the SELECT gives twice). The form is used only on
  // tables with such a key. For PostgreSQL the same insert ends with ON
  // CONFLICT DO NOTHING: its SELECT sees the table as it was when the
  // statement began, so a row the SELECT gives twice would otherwise
  // violate the key.
  void insertUnlessPresent() {
    std::size_t insert = 0;
    while (insert < tokens_.size() && !tokens_[insert].significant()) ++insert;
    if (!wordAt(insert, "INSERT")) return;
    std::size_t into = nextSignificant(insert);
    if (!wordAt(into, "INTO")) return;
    std::size_t targetLast = 0;
    std::string target = tableAt(nextSignificant(into), targetLast);
    if (target.empty()) return;
    std::size_t k = nextSignificant(targetLast);
    if (punctAt(k, '(')) k = nextSignificant(matchingParen(k));
    if (!wordAt(k, "SELECT")) return;
    // The last condition at the statement's own level must be the
    // NOT IN on the target, with nothing after it but a ';'.
    std::size_t lastAnd = tokens_.size();
    int depth = 0;
    for (std::size_t j = k; j < tokens_.size(); ++j) {
      if (!tokens_[j].significant()) continue;
      if (tokens_[j].isPunct('(')) ++depth;
      else if (tokens_[j].isPunct(')')) --depth;
      else if (depth == 0 && tokens_[j].isWord("AND")) lastAnd = j;
      else if (depth == 0 && tokens_[j].isPunct(';') && nextSignificant(j) < tokens_.size()) return;
    }
    if (lastAnd >= tokens_.size()) return;
    std::size_t j = nextSignificant(lastAnd);
    if (tableName(j).empty()) return;
    if (punctAt(nextSignificant(j), '.')) j = nextSignificant(nextSignificant(j));
    if (tableName(j).empty()) return;
    std::size_t notWord = nextSignificant(j);
    std::size_t inWord = nextSignificant(notWord);
    std::size_t open = nextSignificant(inWord);
    if (!wordAt(notWord, "NOT") || !wordAt(inWord, "IN") || !punctAt(open, '(')) return;
    std::size_t close = matchingParen(open);
    if (close >= tokens_.size()) return;
    std::size_t after = nextSignificant(close);
    if (after < tokens_.size() && !(punctAt(after, ';') && nextSignificant(after) >= tokens_.size())) return;
    if (!wordAt(nextSignificant(open), "SELECT")) return;
    // The subquery reads the target alone: FROM T, then WHERE or its end.
    std::size_t from = tokens_.size();
    depth = 0;
    for (std::size_t m = open + 1; m < close; ++m) {
      if (!tokens_[m].significant()) continue;
      if (tokens_[m].isPunct('(')) ++depth;
      else if (tokens_[m].isPunct(')')) --depth;
      else if (depth == 0 && tokens_[m].isWord("FROM")) {
        from = m;
        break;
      }
    }
    if (from >= close) return;
    std::size_t sourceLast = 0;
    if (!sameName(tableAt(nextSignificant(from), sourceLast), target)) return;
    std::size_t rest = nextSignificant(sourceLast);
    if (wordAt(rest, "AS")) rest = nextSignificant(rest);
    if (rest < close && !wordAt(rest, "WHERE") && !tableName(rest).empty()) rest = nextSignificant(rest);  // an alias
    if (rest != close && !wordAt(rest, "WHERE")) return;

    std::size_t dropFrom = lastAnd;
    if (lastAnd > 0 && tokens_[lastAnd - 1].kind == SqlToken::Space) --dropFrom;
    dropRange(dropFrom, close);
    if (postgres())
      edits_[close].suffix += " ON CONFLICT DO NOTHING";
    else
      edits_[insert].suffix += " OR IGNORE";
  }

  std::size_t matchingParen(std::size_t open) const {
    int depth = 0;
    for (std::size_t k = open; k < tokens_.size(); ++k) {
      if (tokens_[k].isPunct('(')) ++depth;
      if (tokens_[k].isPunct(')') && --depth == 0) return k;
    }
    return tokens_.size();
  }

  static std::string trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return std::string(s);
  }

  std::string_view sql_;
  SqlTarget target_;
  std::vector<SqlToken> tokens_;
  std::vector<Edit> edits_;
};

}  // namespace

bool SqlToken::isWord(std::string_view upperWord) const {
  if (kind != Word || text.size() != upperWord.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k)
    if (upper(text[k]) != upperWord[k]) return false;
  return true;
}

std::vector<SqlToken> SqlDialect::tokenize(std::string_view s) {
  std::vector<SqlToken> out;
  out.reserve(s.size() / 3 + 1);
  std::size_t i = 0;
  auto push = [&](SqlToken::Kind kind, std::size_t end) {
    out.push_back(SqlToken{kind, s.substr(i, end - i), i});
    i = end;
  };
  while (i < s.size()) {
    char c = s[i];
    if (c == '\'') {
      push(SqlToken::String, endOfQuoted(s, i, '\''));
    } else if (c == '"') {
      push(SqlToken::Identifier, endOfQuoted(s, i, '"'));
    } else if (c == '[') {
      push(SqlToken::Identifier, endOfQuoted(s, i, ']'));
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      std::size_t e = s.find('\n', i);
      push(SqlToken::Comment, e == std::string_view::npos ? s.size() : e);
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      std::size_t e = s.find("*/", i + 2);
      push(SqlToken::Comment, e == std::string_view::npos ? s.size() : e + 2);
    } else if (isSpace(c)) {
      std::size_t e = i;
      while (e < s.size() && isSpace(s[e])) ++e;
      push(SqlToken::Space, e);
    } else if (isDigit(c) || (c == '.' && i + 1 < s.size() && isDigit(s[i + 1]) && (i == 0 || !isWordChar(s[i - 1])))) {
      push(SqlToken::Number, endOfNumber(s, i));
    } else if (isWordStart(c)) {
      std::size_t e = i;
      while (e < s.size() && isWordChar(s[e])) ++e;
      push(SqlToken::Word, e);
    } else {
      push(SqlToken::Punct, i + 1);
    }
  }
  return out;
}

std::string SqlDialect::translate(const std::string& sqlServerText, SqlTarget target) {
  return Translator(sqlServerText, target).run();
}

}  // namespace quillon
