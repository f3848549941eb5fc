// The directory command as an operator uses it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/Database.h"
#include "tests/TestSite.h"
#include "tests/cli/CliRunner.h"

namespace quillon {
namespace {

struct QuillonRun {
  int status = -1;
  std::string out, err;
};

class DirectoryCliTest : public test::TestSite {
 protected:
  // Runs quillon on the test site with `input` as standard input.
  QuillonRun runQuillon(const std::vector<std::string>& args, const std::string& input = "") {
    std::string in = writeFile("cli-stdin.txt", input);
    std::string errFile = dir() + "/cli-stderr.txt";
    std::vector<std::string> all{"--site", dir()};
    all.insert(all.end(), args.begin(), args.end());
    test::CliRun run = test::RunQuillon(all, " <" + test::ShellQuote(in) + " 2>" + test::ShellQuote(errFile));
    QuillonRun r;
    r.status = run.status;
    r.out = std::move(run.out);
    r.err = read(errFile);
    return r;
  }
  QuillonRun directory(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), "directory");
    return runQuillon(args, input);
  }
  nlohmann::json callMethod(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--modules", "call"};
    all.insert(all.end(), args.begin(), args.end());
    QuillonRun r = runQuillon(all);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return nlohmann::json::parse(r.out, nullptr, false);
  }
  bool validates(const std::string& user, const std::string& password) {
    auto j = callMethod({"Slate.Validator.Validate", nlohmann::json(user).dump(), nlohmann::json(password).dump()});
    return j["result"] == true;
  }
  std::string list() {
    QuillonRun r = directory({"list"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  void addAcmeAndAlice() {
    QuillonRun p = directory({"add-partner", "100", "Acme Supplies", "--code-c", "ACME-C"});
    ASSERT_EQ(p.status, 0) << p.err;
    QuillonRun u = directory({"add-user", "alice", "--partner", "100", "--email", "alice@acme.example", "--given", "Alice",
                              "--employee-number", "42", "--application", "1", "--application", "2", "--password-stdin"},
                             "secret\n");
    ASSERT_EQ(u.status, 0) << u.err;
  }
};

TEST_F(DirectoryCliTest, AddedUsersSignInWithThePasswordFromStandardInput) {
  addAcmeAndAlice();
  EXPECT_TRUE(validates("alice", "secret"));
  EXPECT_FALSE(validates("alice", "secret\n"));
  EXPECT_FALSE(validates("alice", "wrong"));
  auto found = callMethod({"Slate.Members.Search", R"(["employeenumber=42"])"});
  ASSERT_EQ(found["result"].size(), 1u) << found.dump();
  EXPECT_EQ(found["result"][0]["BusinessPartnerID"], 100);

  // A Windows line break is a line break too.
  QuillonRun bob = directory({"add-user", "bob", "--partner", "100", "--email", "bob@acme.example", "--password-stdin"},
                             "hunter2\r\nignored\n");
  ASSERT_EQ(bob.status, 0) << bob.err;
  EXPECT_TRUE(validates("bob", "hunter2"));
}

TEST_F(DirectoryCliTest, ListShowsPartnersAndUsersButNeverAHash) {
  addAcmeAndAlice();
  std::string out = list();
  EXPECT_NE(out.find("Acme Supplies"), std::string::npos) << out;
  EXPECT_NE(out.find("ACME-C"), std::string::npos) << out;
  EXPECT_NE(out.find("alice"), std::string::npos) << out;
  EXPECT_NE(out.find("alice@acme.example"), std::string::npos) << out;
  auto c = std::make_shared<Connection>();
  c->Open("Provider=SQLite;Data Source=" + dir() + "/directory.db");
  std::string hash = c->Execute("SELECT password_hash FROM users WHERE cn = 'alice'")->Fields(0).Value().toString();
  c->Close();
  EXPECT_EQ(out.find(hash), std::string::npos) << out;
  EXPECT_EQ(out.find("secret"), std::string::npos) << out;
  EXPECT_EQ(out.find('$'), std::string::npos) << out;
}

TEST_F(DirectoryCliTest, ASecondAddUserReplacesTheUser) {
  addAcmeAndAlice();
  QuillonRun r = directory({"add-user", "alice", "--partner", "100", "--email", "alice@new.example"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string out = list();
  EXPECT_NE(out.find("alice@new.example"), std::string::npos) << out;
  EXPECT_EQ(out.find("alice@acme.example"), std::string::npos) << out;
  EXPECT_NE(out.find("Users (1)"), std::string::npos) << out;
  EXPECT_FALSE(validates("alice", "secret"));
}

TEST_F(DirectoryCliTest, RefusalsExitOneAndChangeNothing) {
  addAcmeAndAlice();
  std::string before = list();
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"add-user", "alice", "--partner", "999", "--email", "a@b.example"}, ""},
      {{"add-user", "alice", "--partner", "abc", "--email", "a@b.example"}, ""},
      {{"add-user", "alice", "--email", "a@b.example"}, ""},
      {{"add-user", "alice", "--partner", "100"}, ""},
      {{"add-user", "", "--partner", "100", "--email", "a@b.example"}, ""},
      {{"add-user", "alice", "--partner", "100", "--email", ""}, ""},
      {{"add-user", "alice", "--partner", "100", "--email", "a@b.example", "--language", "en"}, ""},
      {{"add-user", "alice", "--partner", "100", "--email", "a@b.example", "--locale", "1033x"}, ""},
      {{"add-user", "alice", "--partner", "100", "--email", "a@b.example", "--application", "portal"}, ""},
      {{"add-user", "alice", "--partner", "100", "--email", "a@b.example", "--password-stdin"}, ""},
      {{"add-user", "alice", "--partner", "100", "--email", "a@b.example", "--password-stdin"}, "\n"},
      {{"add-partner", "1x", "Bad Id"}, ""},
      {{"add-partner", "200", "Copycat", "--code-c", "ACME-C"}, ""},
  };
  for (const auto& [args, input] : refused) {
    QuillonRun r = directory(args, input);
    std::string shown;
    for (const auto& a : args) shown += " [" + a + "]";
    EXPECT_EQ(r.status, 1) << shown << "\n" << r.out << r.err;
    EXPECT_FALSE(r.err.empty()) << shown;
  }
  EXPECT_EQ(list(), before);
  EXPECT_TRUE(validates("alice", "secret"));
}

TEST_F(DirectoryCliTest, UsageErrorsExitTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"remove-user", "alice"},
           {"add-partner", "100"},
           {"add-partner", "100", "Acme", "--colour", "red"},
           {"add-user", "alice", "--partner"},
           {"add-user", "alice", "bob", "--partner", "100", "--email", "a@b.example"},
           {"add-user", "alice", "--partner", "100", "--partner", "200", "--email", "a@b.example"},
           {"list", "extra"},
       }) {
    QuillonRun r = directory(args);
    EXPECT_EQ(r.status, 2) << (args.empty() ? std::string("(none)") : args[0]) << "\n" << r.err;
    EXPECT_NE(r.err.find("quillon"), std::string::npos);
  }
  EXPECT_NE(list().find("Users (0)"), std::string::npos);
}

}  // namespace
}  // namespace quillon
