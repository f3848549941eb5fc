#include "platform/Directory.h"

#include <crypt.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/DatabaseAdmin.h"
#include "platform/Error.h"
#include "platform/SqlFormatter.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace quillon {

namespace {

const char* kAdminSource = "Quillon.Directory";
const char* kUserSource = "Slate.User";
const char* kMembersSource = "Slate.Members";
const char* kValidatorSource = "Slate.Validator";
const char* kPartnerSource = "Granite.BusinessPartner";
const char* kSiteConfigFile = "SiteConfiguration.xml";

// Raised to `PRAGMA user_version` by the schema; a file with another
// version is not a directory this code knows how to read.
constexpr int kSchemaVersion = 1;

// Text columns compare without letter case, as directory attributes do;
// partner codes are identifiers and compare exactly. Optional texts are ''
// rather than NULL, so searches and accessors never meet a NULL.
const char* kSchema = R"sql(
CREATE TABLE partners (
  id INTEGER PRIMARY KEY CHECK (id > 0),
  name TEXT NOT NULL CHECK (name <> ''),
  code_c TEXT NOT NULL DEFAULT '',
  code_s TEXT NOT NULL DEFAULT ''
);
CREATE UNIQUE INDEX partners_code_c ON partners (code_c) WHERE code_c <> '';
CREATE UNIQUE INDEX partners_code_s ON partners (code_s) WHERE code_s <> '';
CREATE TABLE users (
  cn TEXT NOT NULL PRIMARY KEY COLLATE NOCASE CHECK (cn <> ''),
  employeenumber TEXT NOT NULL DEFAULT '' COLLATE NOCASE,
  partner_id INTEGER NOT NULL REFERENCES partners (id),
  email TEXT NOT NULL COLLATE NOCASE CHECK (email <> ''),
  language_id INTEGER,
  locale_id INTEGER,
  given_name TEXT NOT NULL DEFAULT '' COLLATE NOCASE,
  family_name TEXT NOT NULL DEFAULT '' COLLATE NOCASE,
  password_hash TEXT
);
CREATE INDEX users_partner ON users (partner_id);
CREATE TABLE user_applications (
  cn TEXT NOT NULL COLLATE NOCASE REFERENCES users (cn) ON DELETE CASCADE,
  application_id INTEGER NOT NULL CHECK (application_id > 0),
  PRIMARY KEY (cn, application_id)
);
PRAGMA user_version = 1;
)sql";

// ---------------------------------------------------------------------------
// SQLite access: values always bound. Each thread keeps its open directory
// handles and their compiled statements, so an operation neither reopens
// the file (with its checks) nor compiles its statements again. A handle
// is used again only while the path still names the same file: a file
// replaced or created anew is opened afresh.

// One open directory file of this thread.
struct OpenFile {
  sqlite3* db = nullptr;
  dev_t device = 0;
  ino_t inode = 0;
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool inUse = false;
  };
  std::unordered_map<std::string, Cached> statements;

  OpenFile() = default;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    for (auto& [text, c] : statements) sqlite3_finalize(c.stmt);
    // SQLite does not checkpoint (nor delete the log files of) a file that
    // was removed or replaced while open, so closing a handle on an old
    // file leaves a new file's log alone.
    sqlite3_close_v2(db);
  }
};

// At most this many directory files stay open per thread.
constexpr std::size_t kMaxOpenFiles = 4;

struct OpenFiles {
  std::vector<std::pair<std::string, std::shared_ptr<OpenFile>>> files;  // most recently used last
};

OpenFiles& openFiles() {
  thread_local OpenFiles cache;
  return cache;
}

class Db {
 public:
  Db(const std::string& path, const char* source) : path_(path), source_(source) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
      throw Error(hr::kFail, source_, "The directory database '" + path + "' does not exist.");
    auto& files = openFiles().files;
    for (auto it = files.begin(); it != files.end(); ++it) {
      if (it->first != path) continue;
      std::shared_ptr<OpenFile> f = it->second;
      files.erase(it);
      if (f->device == st.st_dev && f->inode == st.st_ino) {
        file_ = f;
        files.emplace_back(path, f);
        return;
      }
      break;  // another file now: open it afresh
    }
    auto f = std::make_shared<OpenFile>();
    f->device = st.st_dev;
    f->inode = st.st_ino;
    file_ = f;
    if (sqlite3_open_v2(path.c_str(), &f->db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      fail("Cannot open the directory database '" + path + "'");
    sqlite3_busy_timeout(f->db, 10000);
    int version = -1;
    sqlite3_stmt* v = nullptr;
    if (sqlite3_prepare_v2(f->db, "PRAGMA user_version", -1, &v, nullptr) == SQLITE_OK && sqlite3_step(v) == SQLITE_ROW)
      version = sqlite3_column_int(v, 0);
    sqlite3_finalize(v);
    if (version != kSchemaVersion)
      throw Error(hr::kFail, source_, "The file '" + path + "' is not a directory database.");
    exec("PRAGMA foreign_keys=ON;");
    // Kept only once it is known to be a directory file.
    if (files.size() >= kMaxOpenFiles) {
      auto idle = std::find_if(files.begin(), files.end(), [](const auto& e) { return e.second.use_count() == 1; });
      if (idle != files.end()) files.erase(idle);
    }
    files.emplace_back(path, f);
  }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  sqlite3* get() const { return file_->db; }
  const char* source() const { return source_; }

  void exec(const char* sql) {
    char* msg = nullptr;
    if (sqlite3_exec(get(), sql, nullptr, nullptr, &msg) != SQLITE_OK) {
      std::string m = msg ? msg : sqlite3_errmsg(get());
      sqlite3_free(msg);
      throw Error(hr::kDatabase, source_, "The directory database '" + path_ + "' failed: " + m);
    }
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw Error(hr::kDatabase, source_, what + ": " + (get() ? sqlite3_errmsg(get()) : "out of memory"));
  }

  // The compiled statement for `sql`, kept with the handle; a statement
  // already running (the same text twice at once) gets a copy of its own,
  // and then `owned` is set: the caller finalizes it.
  sqlite3_stmt* statement(const char* sql, bool& owned) {
    owned = false;
    OpenFile::Cached& c = file_->statements[sql];
    if (!c.inUse) {
      if (!c.stmt && sqlite3_prepare_v3(get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &c.stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(c.stmt);
        c.stmt = nullptr;
        fail("Cannot prepare a directory query");
      }
      c.inUse = true;
      return c.stmt;
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(get(), sql, -1, &s, nullptr) != SQLITE_OK) {
      sqlite3_finalize(s);
      fail("Cannot prepare a directory query");
    }
    owned = true;
    return s;
  }
  // Hands a statement back: reset, so it holds no lock, and unbound.
  void release(const char* sql, sqlite3_stmt* s, bool owned) {
    if (owned) {
      sqlite3_finalize(s);
      return;
    }
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    file_->statements[sql].inUse = false;
  }

 private:
  std::string path_;
  const char* source_;
  std::shared_ptr<OpenFile> file_;
};

class Stmt {
 public:
  Stmt(Db& db, const char* sql) : db_(db), sql_(sql) { st_ = db.statement(sql, owned_); }
  ~Stmt() { db_.release(sql_, st_, owned_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& bind(int i, const std::string& v) {
    sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& bind(int i, std::int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  Stmt& bindNull(int i) {
    sqlite3_bind_null(st_, i);
    return *this;
  }
  // True for a row, false when done; raises on failure.
  bool step() {
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    db_.fail("A directory query failed");
  }
  void run() {
    step();
    sqlite3_reset(st_);
  }
  void reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  std::string text(int col) const {
    const unsigned char* p = sqlite3_column_text(st_, col);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(st_, col)))
             : std::string();
  }
  std::int32_t int32(int col) const { return static_cast<std::int32_t>(sqlite3_column_int64(st_, col)); }
  bool isNull(int col) const { return sqlite3_column_type(st_, col) == SQLITE_NULL; }

 private:
  Db& db_;
  const char* sql_;
  bool owned_ = false;
  sqlite3_stmt* st_ = nullptr;
};

// A write transaction that rolls back unless committed. IMMEDIATE takes the
// write lock at once, so checks made inside it still hold at the commit.
class Transaction {
 public:
  explicit Transaction(Db& db) : db_(db) { db_.exec("BEGIN IMMEDIATE;"); }
  ~Transaction() {
    if (!done_) sqlite3_exec(db_.get(), "ROLLBACK;", nullptr, nullptr, nullptr);
  }
  void commit() {
    db_.exec("COMMIT;");
    done_ = true;
  }

 private:
  Db& db_;
  bool done_ = false;
};

// ---------------------------------------------------------------------------
// Passwords

// libcrypt's work area; wiped afterwards, as it holds the passphrase.
struct CryptArea {
  std::unique_ptr<crypt_data> data = std::make_unique<crypt_data>();  // zeroed
  ~CryptArea() { explicit_bzero(data.get(), sizeof *data); }
};

bool usablePassphrase(const std::string& password) {
  return !password.empty() && password.size() < CRYPT_MAX_PASSPHRASE_SIZE && password.find('\0') == std::string::npos;
}

std::string hashPassword(const std::string& password, const char* source) {
  if (password.empty()) throw Error(hr::kInvalidArg, source, "An empty password cannot be stored.");
  if (!usablePassphrase(password))
    throw Error(hr::kInvalidArg, source,
                "A password must be shorter than " + std::to_string(CRYPT_MAX_PASSPHRASE_SIZE) +
                    " bytes and hold no NUL character.");
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  // No prefix: the library's preferred method and cost; no random bytes
  // given: the library draws them from the operating system.
  if (!crypt_gensalt_rn(nullptr, 0, nullptr, 0, setting, sizeof setting))
    throw Error(hr::kFail, source, std::string("Cannot make a password salt: ") + std::strerror(errno));
  CryptArea area;
  const char* hash = crypt_rn(password.c_str(), setting, area.data.get(), sizeof *area.data);
  if (!hash || hash[0] == '*')
    throw Error(hr::kFail, source, std::string("Cannot hash the password: ") + std::strerror(errno));
  return hash;
}

bool passwordMatches(const std::string& password, const std::string& storedHash) {
  if (!usablePassphrase(password) || storedHash.empty()) return false;
  CryptArea area;
  const char* hash = crypt_rn(password.c_str(), storedHash.c_str(), area.data.get(), sizeof *area.data);
  if (!hash || hash[0] == '*') return false;
  std::size_t n = std::strlen(hash);
  if (n != storedHash.size()) return false;
  // Compare every byte, so the time taken does not tell how much matched.
  unsigned char diff = 0;
  for (std::size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(hash[i] ^ storedHash[i]);
  return diff == 0;
}

// ---------------------------------------------------------------------------
// Checks on records

bool hasControlCharacter(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

void requirePlainText(const std::string& what, const std::string& value, const char* source) {
  if (hasControlCharacter(value))
    throw Error(hr::kInvalidArg, source, "The " + what + " must not hold tabs, line breaks or other control characters.");
}

void checkPartner(std::int32_t id, const std::string& name, const std::string& codeC, const std::string& codeS) {
  if (id <= 0) throw Error(hr::kInvalidArg, kAdminSource, "A partner id must be a positive number, not " + std::to_string(id) + ".");
  if (text::Trim(name).empty()) throw Error(hr::kInvalidArg, kAdminSource, "The partner " + std::to_string(id) + " needs a name.");
  requirePlainText("partner name", name, kAdminSource);
  requirePlainText("customer code", codeC, kAdminSource);
  requirePlainText("supplier code", codeS, kAdminSource);
}

void checkUser(const DirectoryAdmin::UserRecord& u) {
  if (u.cn.empty()) throw Error(hr::kInvalidArg, kAdminSource, "A user needs a cn.");
  requirePlainText("cn", u.cn, kAdminSource);
  if (u.cn.front() == ' ' || u.cn.back() == ' ')
    throw Error(hr::kInvalidArg, kAdminSource, "The cn '" + u.cn + "' must not begin or end with a blank.");
  if (text::Trim(u.email).empty()) throw Error(hr::kInvalidArg, kAdminSource, "The user '" + u.cn + "' needs an e-mail address.");
  requirePlainText("e-mail address", u.email, kAdminSource);
  auto at = u.email.find('@');
  if (at == std::string::npos || at == 0 || at + 1 == u.email.size())
    throw Error(hr::kInvalidArg, kAdminSource, "The e-mail address '" + u.email + "' of '" + u.cn + "' is not of the form name@domain.");
  requirePlainText("given name", u.givenName, kAdminSource);
  requirePlainText("family name", u.familyName, kAdminSource);
  requirePlainText("employee number", u.employeeNumber, kAdminSource);
  if (u.languageID < 0 || u.localeID < 0)
    throw Error(hr::kInvalidArg, kAdminSource, "The language and locale ids of '" + u.cn + "' must not be negative.");
  for (std::int32_t app : u.applications)
    if (app <= 0)
      throw Error(hr::kInvalidArg, kAdminSource, "The application id " + std::to_string(app) + " of '" + u.cn + "' is not positive.");
}

// ---------------------------------------------------------------------------
// Writes, inside a transaction the caller holds.

void writePartner(Db& db, std::int32_t id, const std::string& name, const std::string& codeC, const std::string& codeS) {
  struct Code {
    const char* sql;
    const std::string& value;
    const char* label;
  };
  for (const Code& code : {Code{"SELECT id FROM partners WHERE code_c = ?1 AND id <> ?2", codeC, "customer"},
                           Code{"SELECT id FROM partners WHERE code_s = ?1 AND id <> ?2", codeS, "supplier"}}) {
    if (code.value.empty()) continue;
    Stmt owner(db, code.sql);
    owner.bind(1, code.value).bind(2, std::int64_t{id});
    if (owner.step())
      throw Error(hr::kInvalidArg, kAdminSource,
                  std::string("The ") + code.label + " code '" + code.value + "' belongs to partner " +
                      std::to_string(owner.int32(0)) + " already.");
  }
  // An upsert, not INSERT OR REPLACE: replacing would delete the row and
  // trip the users that refer to it.
  Stmt st(db,
          "INSERT INTO partners (id, name, code_c, code_s) VALUES (?1, ?2, ?3, ?4) "
          "ON CONFLICT (id) DO UPDATE SET name = excluded.name, code_c = excluded.code_c, code_s = excluded.code_s");
  st.bind(1, std::int64_t{id}).bind(2, name).bind(3, codeC).bind(4, codeS).run();
}

// `hash` is the hashed password (made before the transaction: hashing is
// slow on purpose and must not hold the write lock).
void writeUser(Db& db, const DirectoryAdmin::UserRecord& u, const std::optional<std::string>& hash) {
  Stmt partner(db, "SELECT 1 FROM partners WHERE id = ?1");
  partner.bind(1, std::int64_t{u.partnerID});
  if (!partner.step())
    throw Error(hr::kNoSuchEntry, kAdminSource,
                "The business partner " + std::to_string(u.partnerID) + " of the user '" + u.cn + "' is not in the directory.");
  Stmt(db, "DELETE FROM user_applications WHERE cn = ?1").bind(1, u.cn).run();
  Stmt(db, "DELETE FROM users WHERE cn = ?1").bind(1, u.cn).run();
  Stmt ins(db,
           "INSERT INTO users (cn, employeenumber, partner_id, email, language_id, locale_id, given_name, family_name, "
           "password_hash) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  ins.bind(1, u.cn).bind(2, u.employeeNumber).bind(3, std::int64_t{u.partnerID}).bind(4, u.email);
  if (u.languageID) ins.bind(5, std::int64_t{u.languageID}); else ins.bindNull(5);
  if (u.localeID) ins.bind(6, std::int64_t{u.localeID}); else ins.bindNull(6);
  ins.bind(7, u.givenName).bind(8, u.familyName);
  if (hash) ins.bind(9, *hash); else ins.bindNull(9);
  ins.run();
  Stmt app(db, "INSERT OR IGNORE INTO user_applications (cn, application_id) VALUES (?1, ?2)");
  for (std::int32_t id : u.applications) {
    app.bind(1, u.cn).bind(2, std::int64_t{id}).run();
    app.reset();
  }
}

// ---------------------------------------------------------------------------
// Binding

// The directory file of an object: the one its Bind chose, else the
// current site's.
std::string directoryOf(const std::string& bound, const char* source) {
  if (!bound.empty()) return bound;
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (!site || !*site)
    throw Error(hr::kFail, source,
                std::string("No site is chosen: set ") + kSiteEnvironmentVariable +
                    " to the site directory, or Bind to a site configuration file.");
  return DirectoryAdmin::DatabasePath(std::string(site) + "/" + kSiteConfigFile);
}

bool parseInt32(const std::string& s, std::int32_t& out) {
  if (s.empty() || s.size() > 11) return false;
  std::size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size() || s.find_first_not_of("0123456789", i) != std::string::npos) return false;
  long long v = std::stoll(s);
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<std::int32_t>(v);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// DirectoryUser

void DirectoryUser::Bind(const std::string& siteConfigFile) { databasePath_ = DirectoryAdmin::DatabasePath(siteConfigFile); }

void DirectoryUser::Open(const std::string& userID, const std::string& account, const std::string& code) {
  user_.reset();
  Db db(directoryOf(databasePath_, kUserSource), kUserSource);
  Stmt st(db,
          "SELECT cn, employeenumber, partner_id, email, COALESCE(language_id, 1033), COALESCE(locale_id, 1033), "
          "given_name, family_name FROM users WHERE cn = ?1");
  st.bind(1, userID);
  if (!st.step()) throw Error(hr::kNoSuchEntry, kUserSource, "The user '" + userID + "' is not in the directory.");
  Snapshot s;
  s.cn = st.text(0);
  s.employeeNumber = st.text(1);
  s.partnerID = st.int32(2);
  s.email = st.text(3);
  s.languageID = st.int32(4);
  s.localeID = st.int32(5);
  s.givenName = st.text(6);
  s.familyName = st.text(7);
  Stmt apps(db, "SELECT application_id FROM user_applications WHERE cn = ?1 ORDER BY application_id");
  apps.bind(1, s.cn);
  while (apps.step()) s.applications.push_back(apps.int32(0));
  user_ = std::move(s);
}

const DirectoryUser::Snapshot& DirectoryUser::current() const {
  if (!user_) throw Error(hr::kFail, kUserSource, "No user is open: call Open first.");
  return *user_;
}

std::string DirectoryUser::cn() const { return current().cn; }
std::string DirectoryUser::EmployeeNumber() const { return current().employeeNumber; }
std::int32_t DirectoryUser::BusinessPartnerID() const { return current().partnerID; }
std::string DirectoryUser::EmailAddress() const { return current().email; }
std::int32_t DirectoryUser::LanguageID() const { return current().languageID; }
std::int32_t DirectoryUser::LocaleID() const { return current().localeID; }
std::string DirectoryUser::GivenName() const { return current().givenName; }
std::string DirectoryUser::FamilyName() const { return current().familyName; }
std::vector<std::int32_t> DirectoryUser::ApplicationIDs() const { return current().applications; }

// ---------------------------------------------------------------------------
// DirectoryMembers

void DirectoryMembers::Bind(const std::string& siteConfigFile) {
  databasePath_ = DirectoryAdmin::DatabasePath(siteConfigFile);
}

void DirectoryMembers::Open(const std::string& account, const std::string& code) {
  Db db(directoryOf(databasePath_, kMembersSource), kMembersSource);
}

namespace {

struct SearchAttribute {
  const char* name;    // as criteria spell it, lower case
  const char* column;  // in the users table
  bool numeric;
};

const SearchAttribute kSearchAttributes[] = {
    {"cn", "cn", false},          {"employeenumber", "employeenumber", false}, {"mail", "email", false},
    {"businesspartnerid", "partner_id", true}, {"givenname", "given_name", false}, {"sn", "family_name", false},
};

[[noreturn]] void badCriterion(const std::string& criterion, const std::string& why) {
  throw Error(hr::kInvalidArg, kMembersSource, "The search criterion '" + criterion + "' " + why);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value a criterion writes: "\XX" (two hex digits) stands for that
// byte, as in a directory search filter, so "\2a" is a literal "*". Sets
// `wildcard` when the value ends in an unescaped "*" (which is removed).
std::string decodeValue(const std::string& criterion, const std::string& written, bool& wildcard) {
  wildcard = !written.empty() && written.back() == '*';
  std::string_view rest(written.data(), written.size() - (wildcard ? 1 : 0));
  std::string value;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '*') badCriterion(criterion, "may hold '*' only at the end of its value (write \\2a for a literal '*').");
    if (c != '\\') {
      value += c;
      continue;
    }
    int high = i + 1 < rest.size() ? hexDigit(rest[i + 1]) : -1;
    int low = i + 2 < rest.size() ? hexDigit(rest[i + 2]) : -1;
    if (high < 0 || low < 0) badCriterion(criterion, "holds a '\\' that is not followed by two hexadecimal digits.");
    value += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return value;
}

// One criterion as an SQL condition; values enter only as literals.
std::string condition(const std::string& criterion) {
  const SqlFormatter sql;
  auto eq = criterion.find('=');
  if (eq == std::string::npos) badCriterion(criterion, "is not of the form attribute=value.");
  if (hasControlCharacter(criterion)) badCriterion(criterion, "holds a control character.");
  std::string name = toLowerAscii(text::Trim(criterion.substr(0, eq)));
  std::string value = text::Trim(criterion.substr(eq + 1));
  const SearchAttribute* attr = nullptr;
  for (const auto& a : kSearchAttributes)
    if (name == a.name) attr = &a;
  if (!attr)
    badCriterion(criterion, "names an unknown attribute; use cn, employeenumber, mail, businesspartnerid, givenname or sn.");
  if (value.empty()) badCriterion(criterion, "has no value.");
  bool prefix = false;
  value = decodeValue(criterion, value, prefix);
  // No directory value holds a control character (they are refused when a
  // user or partner is written), and a literal could not carry a NUL.
  if (hasControlCharacter(value)) return "0";

  std::string column = std::string("users.") + attr->column;
  if (attr->numeric) {
    if (prefix) {
      if (value.find_first_not_of("0123456789") != std::string::npos)
        badCriterion(criterion, "needs digits before the '*'.");
      return "CAST(" + column + " AS TEXT) LIKE " + sql.Text(value + "%");
    }
    std::int32_t id = 0;
    if (!parseInt32(value, id)) badCriterion(criterion, "needs a whole number as its value.");
    return column + " = " + sql.Long(id);
  }
  if (!prefix) return column + " = " + sql.Text(value);
  // The typed prefix is literal text: LIKE's own wildcards are escaped.
  std::string pattern;
  for (char c : value) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return "(" + column + " LIKE " + sql.Text(pattern + "%") + " ESCAPE '\\' AND " + column + " <> '')";
}

}  // namespace

std::string DirectoryMembers::EscapeValue(const std::string& value) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '*' || c == '(' || c == ')' || c == '\\' || u < 0x20 || u == 0x7F) {
      out += '\\';
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::shared_ptr<Recordset> DirectoryMembers::Search(const Variant& criteria) {
  std::vector<std::string> texts;
  if (criteria.isString()) {
    texts.push_back(criteria.toString());
  } else if (criteria.isArray() && criteria.array().dimensions() == 1) {
    for (const Variant& v : criteria.array().elements()) {
      if (!v.isString())
        throw Error(hr::kInvalidArg, kMembersSource,
                    "Each search criterion must be a text \"attribute=value\", not a " + v.typeName() + ".");
      texts.push_back(v.toString());
    }
  } else {
    throw Error(hr::kInvalidArg, kMembersSource,
                "The search criteria must be an array of texts \"attribute=value\", not a " + criteria.typeName() + ".");
  }
  std::string where;
  for (const auto& t : texts) where += (where.empty() ? " WHERE " : " AND ") + condition(t);

  std::string path = directoryOf(databasePath_, kMembersSource);
  { Db check(path, kMembersSource); }  // a clear message for a missing or foreign file
  auto conn = std::make_shared<Connection>();
  conn->Open("Provider=SQLite;Data Source=" + path);
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  try {
    rs->Open(
        "SELECT users.partner_id AS \"BusinessPartnerID\", users.cn AS \"cn\", users.employeenumber AS \"employeenumber\", "
        "users.email AS \"mail\", users.given_name AS \"givenName\", users.family_name AS \"sn\", "
        "COALESCE(users.language_id, 1033) AS \"languageID\", COALESCE(users.locale_id, 1033) AS \"localeID\" "
        "FROM users" + where + " ORDER BY users.cn",
        conn, ado::adOpenStatic, ado::adLockReadOnly);
  } catch (...) {
    conn->Close();
    throw;
  }
  rs->SetActiveConnectionNothing();
  conn->Close();
  return rs;
}

// ---------------------------------------------------------------------------
// DirectoryValidator

void DirectoryValidator::Bind(const std::string& siteConfigFile) {
  databasePath_ = DirectoryAdmin::DatabasePath(siteConfigFile);
}

Variant DirectoryValidator::Validate(const std::string& user, const std::string& password) {
  Db db(directoryOf(databasePath_, kValidatorSource), kValidatorSource);
  Stmt st(db, "SELECT password_hash FROM users WHERE cn = ?1");
  st.bind(1, user);
  if (!st.step() || st.isNull(0)) return Variant(false);
  return Variant(passwordMatches(password, st.text(0)));
}

// ---------------------------------------------------------------------------
// BusinessPartnerRegistry

void BusinessPartnerRegistry::Bind(const std::string& siteConfigFile) {
  databasePath_ = DirectoryAdmin::DatabasePath(siteConfigFile);
}

bool BusinessPartnerRegistry::Exists(std::int32_t id) {
  Db db(directoryOf(databasePath_, kPartnerSource), kPartnerSource);
  Stmt st(db, "SELECT 1 FROM partners WHERE id = ?1");
  st.bind(1, std::int64_t{id});
  return st.step();
}

std::string BusinessPartnerRegistry::GetName(std::int32_t id) {
  Db db(directoryOf(databasePath_, kPartnerSource), kPartnerSource);
  Stmt st(db, "SELECT name FROM partners WHERE id = ?1");
  st.bind(1, std::int64_t{id});
  if (!st.step())
    throw Error(hr::kNoSuchEntry, kPartnerSource, "The business partner " + std::to_string(id) + " is not in the directory.");
  return st.text(0);
}

std::int32_t BusinessPartnerRegistry::FindByCode(char kind, const std::string& code) {
  const char* sql = nullptr;
  if (kind == 'C' || kind == 'c')
    sql = "SELECT id FROM partners WHERE code_c = ?1";
  else if (kind == 'S' || kind == 's')
    sql = "SELECT id FROM partners WHERE code_s = ?1";
  else
    throw Error(hr::kInvalidArg, kPartnerSource,
                std::string("A partner code is of kind 'C' (customer) or 'S' (supplier), not '") + kind + "'.");
  if (code.empty()) return 0;
  Db db(directoryOf(databasePath_, kPartnerSource), kPartnerSource);
  Stmt st(db, sql);
  st.bind(1, code);
  return st.step() ? st.int32(0) : 0;
}

// ---------------------------------------------------------------------------
// DirectoryAdmin

namespace DirectoryAdmin {

void CreateEmpty(const std::string& databasePath) { DatabaseAdmin::CreateDatabase(databasePath, kSchema); }

void AddPartner(const std::string& databasePath, std::int32_t id, const std::string& name, const std::string& codeC,
                const std::string& codeS) {
  checkPartner(id, name, codeC, codeS);
  Db db(databasePath, kAdminSource);
  Transaction tx(db);
  writePartner(db, id, name, codeC, codeS);
  tx.commit();
}

void AddUser(const std::string& databasePath, const UserRecord& user) {
  checkUser(user);
  std::optional<std::string> hash;
  if (user.password) hash = hashPassword(*user.password, kAdminSource);
  Db db(databasePath, kAdminSource);
  Transaction tx(db);
  writeUser(db, user, hash);
  tx.commit();
}

std::vector<PartnerRecord> ListPartners(const std::string& databasePath) {
  Db db(databasePath, kAdminSource);
  Stmt st(db, "SELECT id, name, code_c, code_s FROM partners ORDER BY id");
  std::vector<PartnerRecord> out;
  while (st.step()) out.push_back(PartnerRecord{st.int32(0), st.text(1), st.text(2), st.text(3)});
  return out;
}

std::vector<ListedUser> ListUsers(const std::string& databasePath) {
  Db db(databasePath, kAdminSource);
  // The hash itself never leaves the database; only whether there is one.
  Stmt st(db,
          "SELECT cn, employeenumber, partner_id, email, COALESCE(language_id, 1033), COALESCE(locale_id, 1033), "
          "given_name, family_name, password_hash IS NOT NULL FROM users ORDER BY cn");
  Stmt apps(db, "SELECT application_id FROM user_applications WHERE cn = ?1 ORDER BY application_id");
  std::vector<ListedUser> out;
  while (st.step()) {
    ListedUser l;
    UserRecord& u = l.user;
    u.cn = st.text(0);
    u.employeeNumber = st.text(1);
    u.partnerID = st.int32(2);
    u.email = st.text(3);
    u.languageID = st.int32(4);
    u.localeID = st.int32(5);
    u.givenName = st.text(6);
    u.familyName = st.text(7);
    l.hasPassword = st.int32(8) != 0;
    apps.bind(1, u.cn);
    while (apps.step()) u.applications.push_back(apps.int32(0));
    apps.reset();
    out.push_back(std::move(l));
  }
  return out;
}

std::string DatabasePath(const std::string& siteConfigFile) {
  Configuration cfg;
  cfg.Load(siteConfigFile);
  std::string configured = text::Trim(cfg.GetValue("DIRECTORY", "Database").text());
  std::string local = text::LocalPath(siteConfigFile);
  if (configured.empty())
    throw Error(hr::kFail, kAdminSource,
                "The site configuration '" + local + "' names no directory database (section DIRECTORY, key Database).");
  if (text::IsNetworkPath(configured))
    throw Error(hr::kFail, kAdminSource,
                "The directory database must be a local file, not the network path '" + configured + "'.");
  fs::path p = text::LocalPath(configured);
  if (p.is_relative()) p = fs::path(local).parent_path() / p;
  return p.lexically_normal().string();
}

namespace {

struct FileEntry {
  int line = 0;
  bool isPartner = false;
  PartnerRecord partner;
  UserRecord user;
  std::optional<std::string> hash;
};

std::int32_t numberField(const std::string& value, const std::string& what, std::int32_t ifEmpty) {
  if (value.empty()) return ifEmpty;
  std::int32_t out = 0;
  if (!parseInt32(value, out)) throw Error(hr::kInvalidArg, kAdminSource, "The " + what + " '" + value + "' is not a whole number.");
  return out;
}

FileEntry parseLine(const std::vector<std::string>& f) {
  FileEntry e;
  if (f[0] == "partner") {
    if (f.size() < 3 || f.size() > 5)
      throw Error(hr::kInvalidArg, kAdminSource, "A partner line has the fields partner, id, name, code C and code S.");
    e.isPartner = true;
    e.partner.id = numberField(f[1], "partner id", 0);
    e.partner.name = f[2];
    if (f.size() > 3) e.partner.codeC = f[3];
    if (f.size() > 4) e.partner.codeS = f[4];
    checkPartner(e.partner.id, e.partner.name, e.partner.codeC, e.partner.codeS);
    return e;
  }
  if (f[0] == "user") {
    if (f.size() < 4 || f.size() > 11)
      throw Error(hr::kInvalidArg, kAdminSource,
                  "A user line has the fields user, cn, partner, email, given name, family name, language, locale, "
                  "employee number, applications and password.");
    auto field = [&](std::size_t i) { return i < f.size() ? f[i] : std::string(); };
    UserRecord& u = e.user;
    u.cn = f[1];
    u.partnerID = numberField(f[2], "partner id", 0);
    u.email = f[3];
    u.givenName = field(4);
    u.familyName = field(5);
    u.languageID = numberField(field(6), "language id", kDefaultLCID);
    u.localeID = numberField(field(7), "locale id", kDefaultLCID);
    u.employeeNumber = field(8);
    for (const auto& app : text::Split(field(9), ","))
      if (!text::Trim(app).empty()) u.applications.push_back(numberField(text::Trim(app), "application id", 0));
    if (!field(10).empty()) u.password = field(10);
    checkUser(u);
    if (u.password) e.hash = hashPassword(*u.password, kAdminSource);
    u.password.reset();
    return e;
  }
  throw Error(hr::kInvalidArg, kAdminSource, "A line begins with \"partner\" or \"user\", not \"" + f[0] + "\".");
}

Error atLine(const Error& e, int line, const std::string& path) {
  return Error(e.number(), kAdminSource, "Line " + std::to_string(line) + " of '" + path + "': " + e.description());
}

}  // namespace

void LoadFile(const std::string& databasePath, const std::string& tsvPath) {
  std::string local = text::LocalPath(tsvPath);
  std::ifstream in(local, std::ios::binary);
  if (!in) throw Error(hr::kFileNotFound, kAdminSource, "Cannot read the directory file '" + local + "'.");
  std::vector<FileEntry> entries;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (text::Trim(line).empty() || line[0] == '#') continue;
    try {
      entries.push_back(parseLine(text::Split(line, "\t")));
    } catch (const Error& e) {
      throw atLine(e, number, local);
    }
    entries.back().line = number;
  }
  Db db(databasePath, kAdminSource);
  Transaction tx(db);
  for (const FileEntry& e : entries) {
    try {
      if (e.isPartner)
        writePartner(db, e.partner.id, e.partner.name, e.partner.codeC, e.partner.codeS);
      else
        writeUser(db, e.user, e.hash);
    } catch (const Error& err) {
      throw atLine(err, e.line, local);
    }
  }
  tx.commit();
}

}  // namespace DirectoryAdmin

// ---------------------------------------------------------------------------
// Registrations

const ClassInfo* DirectoryUser::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<DirectoryUser>("Slate.User")
          .method("Bind", {in("SiteConfigFile")}, [](DirectoryUser& u, auto& a) { u.Bind(a[0].toString()); return Variant(); })
          .method("Open", {in("UserID"), in("Account"), in("Code")},
                  [](DirectoryUser& u, auto& a) {
                    u.Open(a[0].toString(), a[1].text(), a[2].text());
                    return Variant();
                  })
          .method("cn", {}, [](DirectoryUser& u, auto&) { return Variant(u.cn()); })
          .method("EmployeeNumber", {}, [](DirectoryUser& u, auto&) { return Variant(u.EmployeeNumber()); })
          .method("BusinessPartnerID", {}, [](DirectoryUser& u, auto&) { return Variant(u.BusinessPartnerID()); })
          .method("EmailAddress", {}, [](DirectoryUser& u, auto&) { return Variant(u.EmailAddress()); })
          .method("LanguageID", {}, [](DirectoryUser& u, auto&) { return Variant(u.LanguageID()); })
          .method("LocaleID", {}, [](DirectoryUser& u, auto&) { return Variant(u.LocaleID()); })
          .method("GivenName", {}, [](DirectoryUser& u, auto&) { return Variant(u.GivenName()); })
          .method("FamilyName", {}, [](DirectoryUser& u, auto&) { return Variant(u.FamilyName()); })
          .method("ApplicationIDs", {},
                  [](DirectoryUser& u, auto&) {
                    std::vector<Variant> ids;
                    for (std::int32_t id : u.ApplicationIDs()) ids.emplace_back(id);
                    return Variant(VariantArray(std::move(ids)));
                  })
          .done();
  return info;
}

const ClassInfo* DirectoryMembers::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<DirectoryMembers>("Slate.Members")
          .method("Bind", {in("SiteConfigFile")}, [](DirectoryMembers& m, auto& a) { m.Bind(a[0].toString()); return Variant(); })
          .method("Open", {in("Account"), in("Code")},
                  [](DirectoryMembers& m, auto& a) {
                    m.Open(a[0].text(), a[1].text());
                    return Variant();
                  })
          .method("Search", {in("Criteria")}, [](DirectoryMembers& m, auto& a) { return Variant(m.Search(a[0])); })
          .done();
  return info;
}

const ClassInfo* DirectoryValidator::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<DirectoryValidator>("Slate.Validator")
          .method("Bind", {in("SiteConfigFile")}, [](DirectoryValidator& v, auto& a) { v.Bind(a[0].toString()); return Variant(); })
          .method("Validate", {in("User"), in("Password")},
                  [](DirectoryValidator& v, auto& a) { return v.Validate(a[0].text(), a[1].text()); })
          .done();
  return info;
}

const ClassInfo* BusinessPartnerRegistry::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<BusinessPartnerRegistry>("Granite.BusinessPartner")
          .method("Bind", {in("SiteConfigFile")},
                  [](BusinessPartnerRegistry& r, auto& a) { r.Bind(a[0].toString()); return Variant(); })
          .method("Exists", {in("ID")}, [](BusinessPartnerRegistry& r, auto& a) { return Variant(r.Exists(a[0].toInt32())); })
          .method("GetName", {in("ID")}, [](BusinessPartnerRegistry& r, auto& a) { return Variant(r.GetName(a[0].toInt32())); })
          .method("FindByCode", {in("Kind"), in("Code")},
                  [](BusinessPartnerRegistry& r, auto& a) {
                    std::string kind = a[0].toString();
                    if (kind.size() != 1)
                      throw Error(hr::kInvalidArg, kPartnerSource,
                                  "A partner code is of kind \"C\" (customer) or \"S\" (supplier), not \"" + kind + "\".");
                    return Variant(r.FindByCode(kind[0], a[1].toString()));
                  })
          .done();
  return info;
}

namespace {
const bool kRegistered = (DirectoryUser().classInfo(), DirectoryMembers().classInfo(), DirectoryValidator().classInfo(),
                          BusinessPartnerRegistry().classInfo(), true);
}

}  // namespace quillon
