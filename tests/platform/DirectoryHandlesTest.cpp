// The directory file stays open per thread: what that must not change.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/Directory.h"
#include "platform/Error.h"
#include "tests/CallCounters.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

class DirectoryHandlesTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
  }
  std::string directoryDb() const { return dir() + "/directory.db"; }
};

TEST_F(DirectoryHandlesTest, RepeatedLookUpsNeitherReopenNorRecompile) {
  BusinessPartnerRegistry partners;
  DirectoryUser user;
  EXPECT_EQ(partners.GetName(200), "Borealis Retail");
  user.Open("bob", "", "");
  auto before = test::Counts();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(partners.GetName(300), "Cobalt Logistics");
    EXPECT_EQ(partners.FindByCode('C', "ACME-C"), 100);
    user.Open("carol", "", "");
    EXPECT_EQ(user.BusinessPartnerID(), 200);
    EXPECT_TRUE(DirectoryValidator().Validate("dave", "dave-demo").toBool());
  }
  auto used = test::Counts() - before;
  EXPECT_EQ(used.opens, 0u);
  EXPECT_LE(used.compiles, 2u);  // the code and password look-ups, once each
}

TEST_F(DirectoryHandlesTest, AnIdleHandleLetsAnotherProcessWrite) {
  // A handle kept open between operations must hold no lock: a writer on
  // its own connection gets through at once.
  DirectoryUser user;
  user.Open("alice", "", "");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(directoryDb().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; UPDATE users SET email = 'a@new.example' WHERE cn = 'alice'; COMMIT;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(other);
  sqlite3_close(other);
  user.Open("alice", "", "");
  EXPECT_EQ(user.EmailAddress(), "a@new.example") << "a kept handle sees what others committed";
}

TEST_F(DirectoryHandlesTest, ADirectoryMadeAnewAtTheSamePathIsOpenedAfresh) {
  DirectoryUser user;
  user.Open("bob", "", "");
  // The directory is removed with its log files, and another thread (as an
  // operator's command would) creates a new one at the same path, with
  // only erin in it.
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(directoryDb() + suffix);
  std::thread([&] {
    DirectoryAdmin::CreateEmpty(directoryDb());
    DirectoryAdmin::AddPartner(directoryDb(), 500, "Echo", "", "");
    DirectoryAdmin::UserRecord erin;
    erin.cn = "erin";
    erin.partnerID = 500;
    erin.email = "erin@echo.example";
    DirectoryAdmin::AddUser(directoryDb(), erin);
  }).join();
  user.Open("erin", "", "");
  EXPECT_EQ(user.BusinessPartnerID(), 500);
  EXPECT_THROW(user.Open("bob", "", ""), Error);
  // Removed: the kept handle does not hide it.
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(directoryDb() + suffix);
  EXPECT_THROW(user.Open("erin", "", ""), Error);
}

TEST_F(DirectoryHandlesTest, LettingGoOfARemovedFileLeavesTheNewFilesLogAlone) {
  DirectoryUser user;
  user.Open("bob", "", "");
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(directoryDb() + suffix);
  // A new directory whose last change is still only in its write-ahead
  // log, held by a writer that stays open.
  std::thread([&] {
    DirectoryAdmin::CreateEmpty(directoryDb());
    DirectoryAdmin::AddPartner(directoryDb(), 500, "Echo", "", "");
  }).join();
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open_v2(directoryDb().c_str(), &writer, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_wal_autocheckpoint(writer, 0);
  ASSERT_EQ(sqlite3_exec(writer,
                         "INSERT INTO users (cn, partner_id, email) VALUES ('erin', 500, 'erin@echo.example')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  // This thread notices the new file and closes its handle on the old one.
  user.Open("erin", "", "");
  EXPECT_EQ(user.BusinessPartnerID(), 500);
  EXPECT_TRUE(fs::exists(directoryDb() + "-wal"));
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open_v2(directoryDb().c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(reader, "SELECT COUNT(*) FROM users WHERE cn = 'erin'", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 1) << "the new file's committed row must survive";
  sqlite3_finalize(st);
  sqlite3_close(reader);
  sqlite3_close(writer);
}

TEST_F(DirectoryHandlesTest, EachThreadHasItsOwnHandle) {
  std::vector<std::thread> threads;
  std::atomic<int> found{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        DirectoryUser u;
        u.Open(i % 2 ? "bob" : "dave", "", "");
        if (u.BusinessPartnerID() == (i % 2 ? 200 : 300)) ++found;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(found.load(), 80);
}

}  // namespace
}  // namespace quillon
