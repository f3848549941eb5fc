// Directory: the site's directory of users and business partners.
//
// The directory lives in its own SQLite file, named by the site
// configuration (section "DIRECTORY", key "Database"; a relative path is
// read from the configuration file's folder). It holds
//   partners           id, name, customer code (C), supplier code (S)
//   users              cn, employee number, partner, e-mail, language and
//                      locale ids, given and family name, password hash
//   user_applications  which application ids a user may use
// A cn names one user without letter case ("Alice" is "alice"), as a
// directory common name does. A partner code identifies one partner: two
// partners never share a non-empty code of the same kind.
//
// Passwords are kept only as salted hashes made by libcrypt with its
// preferred method (yescrypt on Debian); a password is checked by hashing
// it again with the stored setting. Empty passwords are never accepted.
//
// Every class binds to a site configuration file with Bind; without one the
// current site's SiteConfiguration.xml (in QUILLON_SITE) is used, looked up
// when the directory is first needed. The classes open the directory file
// for each operation and close it again; they never create it (only
// DirectoryAdmin::CreateEmpty does).
//
// Failures raise Error with the class's programmatic id as the source:
// kNoSuchEntry for an unknown user or partner, hr::kInvalidArg for bad
// input (a search criterion, a record to add), hr::kDatabase for SQLite
// failures and hr::kFail for a missing or foreign directory file.
//
// Objects are not thread-safe; each belongs to the thread that made it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Object.h"
#include "platform/Variant.h"

namespace quillon {

class Recordset;

namespace hr {
// "There is no such object on the server": an unknown user or partner.
constexpr std::int32_t kNoSuchEntry = static_cast<std::int32_t>(0x80072030);
}  // namespace hr

inline constexpr std::int32_t kDefaultLCID = 1033;

// "Slate.User": one directory user. Open reads the user's attributes once;
// the accessors give that snapshot and raise Error until a user is open.
class DirectoryUser : public Object {
 public:
  const ClassInfo* classInfo() const override;
  void Bind(const std::string& siteConfigFile);
  // Opens the user whose cn is userID. account/code are the membership
  // script account and its code; the directory is local, so they are
  // accepted as given. Raises kNoSuchEntry for an unknown user.
  void Open(const std::string& userID, const std::string& account, const std::string& code);
  std::string cn() const;
  std::string EmployeeNumber() const;
  std::int32_t BusinessPartnerID() const;
  std::string EmailAddress() const;
  std::int32_t LanguageID() const;  // 1033 when not set
  std::int32_t LocaleID() const;    // 1033 when not set
  std::string GivenName() const;
  std::string FamilyName() const;
  std::vector<std::int32_t> ApplicationIDs() const;  // ascending

 private:
  struct Snapshot {
    std::string cn, employeeNumber, email, givenName, familyName;
    std::int32_t partnerID = 0, languageID = kDefaultLCID, localeID = kDefaultLCID;
    std::vector<std::int32_t> applications;
  };
  const Snapshot& current() const;
  std::string databasePath_;  // empty: the current site's
  std::optional<Snapshot> user_;
};

// "Slate.Members": directory searches.
class DirectoryMembers : public Object {
 public:
  const ClassInfo* classInfo() const override;
  void Bind(const std::string& siteConfigFile);
  // Signs in with the membership script account; the directory is local, so
  // the account is accepted as given. Raises when the directory cannot be
  // opened, so a misconfigured site shows at once.
  void Open(const std::string& account, const std::string& code);
  // criteria: a one-dimensional array of texts "attribute=value" (or one
  // such text). Attributes, without letter case: cn, employeenumber, mail,
  // businesspartnerid, givenname, sn. Values compare without letter case; a
  // value ending in "*" matches every non-empty value that begins with the
  // rest ("cn=*" matches every user). As in a directory search filter,
  // "\XX" (two hex digits) in a value stands for that byte: "\2a" is a
  // literal "*", "\5c" a backslash. A value taken from a document or a
  // caller must go through EscapeValue, so that it matches itself only.
  // Every criterion must hold; an empty array matches every user.
  // Returns a detached read-only Recordset ordered by cn with the fields
  // BusinessPartnerID (Int32), cn, employeenumber, mail, givenName, sn,
  // languageID and localeID (Int32). Raises hr::kInvalidArg for a bad criterion.
  std::shared_ptr<Recordset> Search(const Variant& criteria);
  // `value` written for a criterion so that it matches itself only: "*",
  // "(", ")", "\" and NUL become "\2a", "\28", "\29", "\5c" and "\00"
  // (other control characters likewise; no directory value holds one, so
  // such a value matches nothing).
  static std::string EscapeValue(const std::string& value);

 private:
  std::string databasePath_;  // empty: the current site's
};

// "Slate.Validator": password checks.
class DirectoryValidator : public Object {
 public:
  const ClassInfo* classInfo() const override;
  void Bind(const std::string& siteConfigFile);
  // A Boolean: true when the user exists, has a password and `password`
  // matches it. An empty password never matches.
  Variant Validate(const std::string& user, const std::string& password);

 private:
  std::string databasePath_;  // empty: the current site's
};

// "Granite.BusinessPartner": the partner registry.
class BusinessPartnerRegistry : public Object {
 public:
  const ClassInfo* classInfo() const override;
  void Bind(const std::string& siteConfigFile);
  bool Exists(std::int32_t id);
  std::string GetName(std::int32_t id);  // raises kNoSuchEntry for an unknown id
  // The id of the partner whose code of `kind` ('C' customer, 'S' supplier,
  // either case) equals `code` exactly; 0 when none or when code is empty.
  // Raises hr::kInvalidArg for another kind.
  std::int32_t FindByCode(char kind, const std::string& code);

 private:
  std::string databasePath_;  // empty: the current site's
};

// Administration, for the installer and the operator command.
namespace DirectoryAdmin {

struct PartnerRecord {
  std::int32_t id = 0;
  std::string name, codeC, codeS;
};

struct UserRecord {
  std::string cn, employeeNumber, email, givenName, familyName;
  std::int32_t partnerID = 0;
  std::int32_t languageID = kDefaultLCID;  // 0: not set (reads as 1033)
  std::int32_t localeID = kDefaultLCID;    // 0: not set (reads as 1033)
  std::vector<std::int32_t> applications;
  std::optional<std::string> password;     // nullopt: the user has no password
};

// A user as ListUsers gives it: never the password nor its hash.
struct ListedUser {
  UserRecord user;  // password is always nullopt
  bool hasPassword = false;
};

// Creates a directory file with empty tables; raises when the file exists.
void CreateEmpty(const std::string& databasePath);
// Adds a partner, or replaces the one with the same id (its users stay).
// The id must be positive and the name non-empty; a non-empty code used by
// another partner is refused.
void AddPartner(const std::string& databasePath, std::int32_t id, const std::string& name, const std::string& codeC,
                const std::string& codeS);
// Adds a user, or replaces the one with the same cn entirely (attributes,
// applications and password), in one transaction. Refused with nothing
// changed: an unknown partner (kNoSuchEntry), an empty cn or e-mail, a cn
// with surrounding blanks or control characters, an e-mail without "@",
// a negative LCID, an application id below 1, an empty password.
void AddUser(const std::string& databasePath, const UserRecord& user);
std::vector<PartnerRecord> ListPartners(const std::string& databasePath);  // by id
std::vector<ListedUser> ListUsers(const std::string& databasePath);        // by cn
// The directory file of a site configuration file (Windows or local path).
std::string DatabasePath(const std::string& siteConfigFile);
// Loads a directory file of tab-separated lines, all or nothing:
//   partner<TAB>id<TAB>name[<TAB>codeC[<TAB>codeS]]
//   user<TAB>cn<TAB>partner<TAB>email[<TAB>given<TAB>family<TAB>language<TAB>locale
//       <TAB>employeenumber<TAB>applications (comma-separated)<TAB>password]
// Empty lines and lines starting with "#" are skipped; an empty language or
// locale is 1033, an empty password none. Raises naming the line at fault.
void LoadFile(const std::string& databasePath, const std::string& tsvPath);

}  // namespace DirectoryAdmin

}  // namespace quillon
