#include "platform/Directory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

using DirectoryAdmin::UserRecord;

// Every test starts from a sample site: partners 100, 200, 300 and the
// users alice, bob, carol and dave.
class DirectoryTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
  }
  std::string directoryDb() const { return dir() + "/directory.db"; }

  // One value of a query on the directory database.
  Variant directoryValue(const std::string& sql) const {
    auto c = std::make_shared<Connection>();
    c->Open("Provider=SQLite;Data Source=" + directoryDb());
    Variant v = c->Execute(sql)->Fields(0).Value();
    c->Close();
    return v;
  }
  long userCount() const { return directoryValue("SELECT COUNT(*) FROM users").toInt32(); }

  static UserRecord user(const std::string& cn, std::int32_t partner, std::optional<std::string> password = {}) {
    UserRecord u;
    u.cn = cn;
    u.partnerID = partner;
    u.email = cn + "@example.test";
    u.password = std::move(password);
    return u;
  }

  std::vector<std::string> searchCns(const std::vector<std::string>& criteria) {
    auto rs = DirectoryMembers().Search(Variant(VariantArray::ofStrings(criteria)));
    std::vector<std::string> out;
    for (; !rs->EOF_(); rs->MoveNext()) out.push_back((*rs)["cn"].toString());
    return out;
  }
};

TEST_F(DirectoryTest, OpensAUserWithEveryAttribute) {
  DirectoryUser u;
  u.Open("alice", "cn=quillon-script", "");
  EXPECT_EQ(u.cn(), "alice");
  EXPECT_EQ(u.EmployeeNumber(), "42");
  EXPECT_EQ(u.BusinessPartnerID(), 100);
  EXPECT_EQ(u.EmailAddress(), "alice@acme.example");
  EXPECT_EQ(u.GivenName(), "Alice");
  EXPECT_EQ(u.FamilyName(), "Anderson");
  EXPECT_EQ(u.ApplicationIDs(), (std::vector<std::int32_t>{1, 2}));

  // dave's file line leaves language and locale empty.
  DirectoryUser dave;
  dave.Open("dave", "", "");
  EXPECT_EQ(dave.LanguageID(), 1033);
  EXPECT_EQ(dave.LocaleID(), 1033);
  EXPECT_TRUE(dave.ApplicationIDs().empty());
  EXPECT_EQ(dave.EmployeeNumber(), "");

  // A cn names its user without letter case; the stored spelling is kept.
  DirectoryUser upper;
  upper.Open("ALICE", "", "");
  EXPECT_EQ(upper.cn(), "alice");
}

TEST_F(DirectoryTest, ByNameCallsReachTheSameUser) {
  auto obj = Registry::instance().create("Slate.User");
  std::vector<Variant> args{Variant("carol"), Variant(""), Variant("")};
  obj->invoke("Open", args);
  std::vector<Variant> none;
  EXPECT_EQ(obj->invoke("EmailAddress", none).toString(), "carol@borealis.example");
  EXPECT_EQ(obj->invoke("LanguageID", none).toInt32(), 1031);
  Variant apps = obj->invoke("ApplicationIDs", none);
  ASSERT_TRUE(apps.isArray());
  ASSERT_EQ(apps.array().size(), 1u);
  EXPECT_EQ(apps.array().at(0).toInt32(), 2);
  for (const char* id : {"Slate.Members", "Slate.Validator", "Granite.BusinessPartner"})
    EXPECT_NE(Registry::instance().create(id), nullptr) << id;
}

TEST_F(DirectoryTest, UnknownUsersAreRefusedAndAFailedOpenForgetsThePreviousUser) {
  DirectoryUser u;
  ErrorInfo e = EXPECT_RAISES(hr::kNoSuchEntry, u.Open("mallory", "", "")).info();
  EXPECT_EQ(e.number, hr::kNoSuchEntry);
  EXPECT_EQ(e.source, "Slate.User");
  EXPECT_EQ(e.description, "The user 'mallory' is not in the directory.");

  u.Open("alice", "", "");
  EXPECT_RAISES(hr::kNoSuchEntry, u.Open("mallory", "", ""));
  EXPECT_RAISES(hr::kFail, u.cn());
  EXPECT_RAISES(hr::kFail, DirectoryUser().EmailAddress());
}

TEST_F(DirectoryTest, SearchesByOneOrSeveralCriteria) {
  auto rs = DirectoryMembers().Search(Variant(VariantArray::ofStrings({"cn=alice"})));
  ASSERT_EQ(rs->RecordCount(), 1);
  EXPECT_FALSE(rs->IsConnected());
  EXPECT_EQ((*rs)["BusinessPartnerID"].type(), VarType::Int32);
  EXPECT_EQ((*rs)["BusinessPartnerID"].toInt32(), 100);
  EXPECT_EQ((*rs)["employeenumber"].toString(), "42");
  EXPECT_EQ((*rs)["mail"].toString(), "alice@acme.example");
  EXPECT_EQ((*rs)["givenName"].toString(), "Alice");
  EXPECT_EQ((*rs)["sn"].toString(), "Anderson");

  EXPECT_EQ(searchCns({"employeenumber=42"}), std::vector<std::string>{"alice"});
  EXPECT_EQ(searchCns({"CN=Alice"}), std::vector<std::string>{"alice"});
  EXPECT_EQ(searchCns({"businesspartnerid=200"}), (std::vector<std::string>{"bob", "carol"}));
  EXPECT_EQ(searchCns({"mail=c*"}), std::vector<std::string>{"carol"});
  EXPECT_EQ(searchCns({"businesspartnerid=200", "givenname=B*"}), std::vector<std::string>{"bob"});
  EXPECT_EQ(searchCns({"businesspartnerid=100", "sn=Brown"}), std::vector<std::string>{});
  EXPECT_EQ(searchCns({"cn=*"}).size(), 4u);
  EXPECT_EQ(searchCns({}).size(), 4u);
  // "=*" asks for a value: dave has no employee number.
  EXPECT_EQ(searchCns({"employeenumber=*"}), (std::vector<std::string>{"alice", "bob", "carol"}));
  EXPECT_EQ(searchCns({"businesspartnerid=3*"}), std::vector<std::string>{"dave"});
}

TEST_F(DirectoryTest, SearchValuesAreTextNotSql) {
  DirectoryAdmin::AddUser(directoryDb(), user("a_b", 100));
  DirectoryAdmin::AddUser(directoryDb(), user("axb", 100));
  DirectoryAdmin::AddUser(directoryDb(), user("o'neil", 100));
  EXPECT_EQ(searchCns({"cn=a_*"}), std::vector<std::string>{"a_b"});
  EXPECT_EQ(searchCns({"cn=%"}), std::vector<std::string>{});
  EXPECT_EQ(searchCns({"cn=o'neil"}), std::vector<std::string>{"o'neil"});
  EXPECT_EQ(searchCns({"cn=x' OR '1'='1"}), std::vector<std::string>{});
}

// Callers that search with a value taken from a document escape it: the
// escaped value matches itself only, whatever characters it holds.
TEST_F(DirectoryTest, EscapedValuesMatchLiterally) {
  DirectoryAdmin::AddUser(directoryDb(), user("x(y)", 100));
  DirectoryAdmin::AddUser(directoryDb(), user("back\\slash", 100));
  DirectoryAdmin::AddUser(directoryDb(), user("star*", 100));
  auto escaped = [](const std::string& v) { return DirectoryMembers::EscapeValue(v); };
  EXPECT_EQ(escaped("a*(b)\\"), "a\\2a\\28b\\29\\5c");
  EXPECT_EQ(escaped(std::string("n\0ul", 4)), "n\\00ul");
  EXPECT_EQ(escaped("o'neil"), "o'neil");
  for (const std::string& cn : std::vector<std::string>{"alice", "x(y)", "back\\slash", "star*", "o'neil"}) {
    std::vector<std::string> expected;
    if (cn != "o'neil") expected.push_back(cn);
    EXPECT_EQ(searchCns(std::vector<std::string>{"cn=" + escaped(cn)}), expected) << cn;
  }
  // Wildcards written in the value are data once escaped.
  for (const std::string& value :
       std::vector<std::string>{"*", "a*", "star", "*)(cn=*", "\\", std::string("alice\0", 6), "alic\\65"}) {
    EXPECT_EQ(searchCns(std::vector<std::string>{"cn=" + escaped(value)}), std::vector<std::string>{}) << value;
    EXPECT_EQ(searchCns(std::vector<std::string>{"employeenumber=" + escaped(value)}), std::vector<std::string>{})
        << value;
  }
  // Escapes may also be written by hand; an unescaped final "*" stays a wildcard.
  EXPECT_EQ(searchCns({"cn=star\\2A"}), std::vector<std::string>{"star*"});
  EXPECT_EQ(searchCns({"cn=\\61lice"}), std::vector<std::string>{"alice"});
  EXPECT_EQ(searchCns({"cn=x\\28*"}), std::vector<std::string>{"x(y)"});
  EXPECT_EQ(searchCns({"businesspartnerid=\\32\\30\\30"}), (std::vector<std::string>{"bob", "carol"}));
  DirectoryMembers m;
  for (const char* bad : {"cn=a\\", "cn=a\\4", "cn=a\\zz"})
    EXPECT_RAISES(hr::kInvalidArg, m.Search(Variant(bad)));
}

TEST_F(DirectoryTest, BadCriteriaRaiseAClearError) {
  DirectoryMembers m;
  for (const char* bad : {"cn", "title=boss", "cn=", "cn=a*b", "businesspartnerid=abc", "businesspartnerid=1x*"}) {
    ErrorInfo e = EXPECT_RAISES(hr::kInvalidArg, m.Search(Variant(VariantArray::ofStrings({"cn=alice", bad})))).info();
    EXPECT_EQ(e.number, hr::kInvalidArg) << bad;
    EXPECT_EQ(e.source, "Slate.Members") << bad;
    EXPECT_NE(e.description.find(bad), std::string::npos) << e.description;
  }
  EXPECT_RAISES(hr::kInvalidArg, m.Search(Variant(42)));
  EXPECT_RAISES(hr::kInvalidArg, m.Search(Variant(VariantArray({Variant(7)}))));
}

TEST_F(DirectoryTest, ValidatesPasswordsByRehashing) {
  DirectoryValidator v;
  EXPECT_TRUE(v.Validate("alice", "alice-demo").toBool());
  EXPECT_EQ(v.Validate("alice", "alice-demo").type(), VarType::Boolean);
  EXPECT_FALSE(v.Validate("alice", "Alice-demo").toBool());
  EXPECT_FALSE(v.Validate("alice", "bob-demo").toBool());
  EXPECT_FALSE(v.Validate("mallory", "alice-demo").toBool());
  // Text after a NUL must not be cut off and the rest accepted.
  EXPECT_FALSE(v.Validate("alice", std::string("alice-demo\0junk", 15)).toBool());

  DirectoryAdmin::AddUser(directoryDb(), user("erin", 100));  // no password
  EXPECT_FALSE(v.Validate("erin", "").toBool());
  EXPECT_FALSE(v.Validate("erin", "anything").toBool());
  EXPECT_FALSE(v.Validate("alice", "").toBool());
}

TEST_F(DirectoryTest, StoresOnlySaltedHashes) {
  DirectoryAdmin::AddUser(directoryDb(), user("erin", 100, "same secret"));
  DirectoryAdmin::AddUser(directoryDb(), user("frank", 200, "same secret"));
  std::string erin = directoryValue("SELECT password_hash FROM users WHERE cn = 'erin'").toString();
  std::string frank = directoryValue("SELECT password_hash FROM users WHERE cn = 'frank'").toString();
  EXPECT_EQ(erin.find("same secret"), std::string::npos);
  EXPECT_EQ(erin.rfind("$", 0), 0u) << "a crypt setting string";
  EXPECT_NE(erin, frank);
  DirectoryValidator v;
  EXPECT_TRUE(v.Validate("erin", "same secret").toBool());
  EXPECT_TRUE(v.Validate("frank", "same secret").toBool());

  EXPECT_RAISES(hr::kInvalidArg, DirectoryAdmin::AddUser(directoryDb(), user("gina", 100, "")));
  EXPECT_RAISES(hr::kInvalidArg, DirectoryAdmin::AddUser(directoryDb(), user("gina", 100, std::string(600, 'x'))));
}

TEST_F(DirectoryTest, FindsPartnerNamesAndCodes) {
  BusinessPartnerRegistry r;
  EXPECT_TRUE(r.Exists(100));
  EXPECT_FALSE(r.Exists(999));
  EXPECT_EQ(r.GetName(300), "Cobalt Logistics");
  ErrorInfo e = EXPECT_RAISES(hr::kNoSuchEntry, r.GetName(999)).info();
  EXPECT_EQ(e.number, hr::kNoSuchEntry);
  EXPECT_NE(e.description.find("999"), std::string::npos);

  EXPECT_EQ(r.FindByCode('C', "ACME-C"), 100);
  EXPECT_EQ(r.FindByCode('s', "ACME-S"), 100);
  EXPECT_EQ(r.FindByCode('S', "ACME-C"), 0);  // a customer code is no supplier code
  EXPECT_EQ(r.FindByCode('C', "acme-c"), 0);  // codes compare exactly
  EXPECT_EQ(r.FindByCode('S', ""), 0);        // partner 200 has no supplier code
  EXPECT_RAISES(hr::kInvalidArg, r.FindByCode('X', "ACME-C"));

  auto byName = Registry::instance().create("Granite.BusinessPartner");
  std::vector<Variant> args{Variant("C"), Variant("BORE-C")};
  EXPECT_EQ(byName->invoke("FindByCode", args).toInt32(), 200);
}

TEST_F(DirectoryTest, ReplacingAPartnerKeepsItsUsersAndCodesStayUnique) {
  DirectoryAdmin::AddPartner(directoryDb(), 100, "Acme Supplies Ltd", "ACME-C", "ACME-S2");
  BusinessPartnerRegistry r;
  EXPECT_EQ(r.GetName(100), "Acme Supplies Ltd");
  EXPECT_EQ(r.FindByCode('S', "ACME-S2"), 100);
  EXPECT_EQ(r.FindByCode('S', "ACME-S"), 0);
  DirectoryUser u;
  u.Open("alice", "", "");
  EXPECT_EQ(u.BusinessPartnerID(), 100);

  // Another partner cannot take a code in use; nothing of it is stored.
  EXPECT_RAISES(hr::kInvalidArg, DirectoryAdmin::AddPartner(directoryDb(), 400, "Copycat", "ACME-C", ""));
  EXPECT_FALSE(r.Exists(400));
  EXPECT_RAISES(hr::kInvalidArg, DirectoryAdmin::AddPartner(directoryDb(), 0, "Zero", "", ""));
  EXPECT_RAISES(hr::kInvalidArg, DirectoryAdmin::AddPartner(directoryDb(), 500, " ", "", ""));
}

TEST_F(DirectoryTest, AddUserWithAnUnknownPartnerChangesNothing) {
  UserRecord replacement = user("alice", 999, "new password");
  ErrorInfo e = EXPECT_RAISES(hr::kNoSuchEntry, DirectoryAdmin::AddUser(directoryDb(), replacement)).info();
  EXPECT_EQ(e.number, hr::kNoSuchEntry);
  EXPECT_NE(e.description.find("999"), std::string::npos);
  EXPECT_RAISES(hr::kNoSuchEntry, DirectoryAdmin::AddUser(directoryDb(), user("erin", 999)));

  EXPECT_EQ(userCount(), 4);
  DirectoryUser u;
  u.Open("alice", "", "");
  EXPECT_EQ(u.BusinessPartnerID(), 100);
  EXPECT_EQ(u.ApplicationIDs(), (std::vector<std::int32_t>{1, 2}));
  EXPECT_TRUE(DirectoryValidator().Validate("alice", "alice-demo").toBool());
}

TEST_F(DirectoryTest, ASecondUserWithTheSameCnReplacesTheFirst) {
  UserRecord r = user("Alice", 200);
  r.applications = {3, 3};
  r.languageID = 0;  // not set
  DirectoryAdmin::AddUser(directoryDb(), r);
  EXPECT_EQ(userCount(), 4);
  DirectoryUser u;
  u.Open("alice", "", "");
  EXPECT_EQ(u.cn(), "Alice");
  EXPECT_EQ(u.BusinessPartnerID(), 200);
  EXPECT_EQ(u.EmailAddress(), "Alice@example.test");
  EXPECT_EQ(u.EmployeeNumber(), "");
  EXPECT_EQ(u.LanguageID(), 1033);
  EXPECT_EQ(u.ApplicationIDs(), std::vector<std::int32_t>{3});
  // The replacement has no password, so the old one is gone too.
  EXPECT_FALSE(DirectoryValidator().Validate("alice", "alice-demo").toBool());
}

TEST_F(DirectoryTest, RefusesIncompleteUserRecords) {
  std::vector<UserRecord> bad(6, user("erin", 100));
  bad[0].cn = "";
  bad[1].cn = " erin";
  bad[2].email = "";
  bad[3].email = "erin.example.test";
  bad[4].applications = {0};
  bad[5].givenName = "Erin\tTab";
  for (const auto& u : bad) EXPECT_RAISES(hr::kInvalidArg, DirectoryAdmin::AddUser(directoryDb(), u));
  EXPECT_EQ(userCount(), 4);
}

TEST_F(DirectoryTest, LoadsAFileAllOrNothing) {
  std::string good = writeFile("more.tsv",
                               "# comment\n\npartner\t400\tDelta Foods\tDELTA-C\r\n"
                               "user\terin\t400\terin@delta.example\tErin\tEvans\t\t\t7\t1, 2\tpw\n");
  DirectoryAdmin::LoadFile(directoryDb(), good);
  DirectoryUser u;
  u.Open("erin", "", "");
  EXPECT_EQ(u.BusinessPartnerID(), 400);
  EXPECT_EQ(u.ApplicationIDs(), (std::vector<std::int32_t>{1, 2}));
  EXPECT_TRUE(DirectoryValidator().Validate("erin", "pw").toBool());

  std::string bad = writeFile("bad.tsv", "partner\t500\tEcho Metals\nuser\tfrank\t999\tfrank@echo.example\n");
  ErrorInfo e = EXPECT_RAISES(hr::kNoSuchEntry, DirectoryAdmin::LoadFile(directoryDb(), bad)).info();
  EXPECT_NE(e.description.find("Line 2"), std::string::npos) << e.description;
  EXPECT_FALSE(BusinessPartnerRegistry().Exists(500));

  std::string malformed = writeFile("malformed.tsv", "partner\tfive\tEcho Metals\n");
  EXPECT_NE(EXPECT_RAISES(hr::kInvalidArg,
                          DirectoryAdmin::LoadFile(directoryDb(), malformed)).info().description.find("Line 1"),
            std::string::npos);
  EXPECT_RAISES(hr::kFileNotFound, DirectoryAdmin::LoadFile(directoryDb(), dir() + "/none.tsv"));
}

TEST_F(DirectoryTest, BindChoosesAnotherSiteConfiguration) {
  // A second directory, named relative to its configuration file.
  std::string other = dir() + "/other";
  std::filesystem::create_directories(other);
  DirectoryAdmin::CreateEmpty(other + "/people.db");
  std::string config = writeFile("other/Site.xml", Configuration::Compose({}, {{"DIRECTORY", "Database", "people.db"}}));
  EXPECT_EQ(DirectoryAdmin::DatabasePath(config), other + "/people.db");
  DirectoryAdmin::AddPartner(other + "/people.db", 1, "Other Partner", "", "");

  ::unsetenv(kSiteEnvironmentVariable);
  BusinessPartnerRegistry unbound;
  EXPECT_RAISES(hr::kFail, unbound.Exists(1));
  BusinessPartnerRegistry r;
  r.Bind(config);
  EXPECT_TRUE(r.Exists(1));
  EXPECT_FALSE(r.Exists(100));
  DirectoryUser u;
  u.Bind(other + "\\Site.xml");  // a Windows path reads as a local one
  EXPECT_RAISES(hr::kNoSuchEntry, u.Open("alice", "", ""));
  ::setenv(kSiteEnvironmentVariable, dir().c_str(), 1);
}

TEST_F(DirectoryTest, RefusesMissingForeignOrExistingDirectoryFiles) {
  EXPECT_RAISES(hr::kFail, DirectoryAdmin::CreateEmpty(directoryDb()));
  std::ofstream(dir() + "/foreign.db") << "not a database";
  ErrorInfo e = EXPECT_RAISES(hr::kFail, DirectoryAdmin::ListUsers(dir() + "/foreign.db")).info();
  EXPECT_NE(e.description.find("not a directory database"), std::string::npos) << e.description;
  // The site database is SQLite but no directory.
  EXPECT_RAISES(hr::kFail, DirectoryAdmin::ListUsers(dbPath()));
  e = EXPECT_RAISES(hr::kFail, DirectoryAdmin::ListPartners(dir() + "/missing.db")).info();
  EXPECT_NE(e.description.find("does not exist"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir() + "/missing.db"));

  setConfigValue("SiteConfiguration.xml", "DIRECTORY", "Database", "");
  EXPECT_RAISES(hr::kFail, DirectoryValidator().Validate("alice", "alice-demo"));
}

}  // namespace
}  // namespace quillon
