// The site the installer makes: private to its owner, movable as a whole,
// and with defaults under which attachments can be stored at once.
#include "foundation/Site.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/DBUtils.h"
#include "foundation/General.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Object.h"
#include "platform/Text.h"
#include "publication/Attachments.h"
#include "publication/PublishCreateDocument.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

class SiteTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
  }
  static unsigned modeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
  }
  void storesAnAttachment();
  // Points the thread at another site folder.
  static void useSite(const std::string& folder) {
    ::setenv("QUILLON_SITE", folder.c_str(), 1);
    General::ResetThreadState();
  }
};

// The database holds send-method passwords and the directory password
// hashes: nothing of a site is readable by anyone but its owner, whatever
// the umask of the process that made it.
TEST_F(SiteTest, TheSiteIsPrivateToItsOwner) {
  mode_t previous = ::umask(0);
  createSite(true);
  ::umask(previous);
  EXPECT_EQ(modeOf(dir()), 0700u);
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir())) {
    if (entry.is_directory()) {
      EXPECT_EQ(modeOf(entry.path()), 0700u) << entry.path();
    } else {
      EXPECT_EQ(modeOf(entry.path()), 0600u) << entry.path();
      ++files;
    }
  }
  EXPECT_GT(files, 5);
  // Files the database makes later take its mode.
  DBUtils::GetParameter("SiteLink");
  for (const char* extra : {"quillon.db-wal", "quillon.db-shm"}) {
    if (fs::exists(dir() + "/" + extra)) {
      EXPECT_EQ(modeOf(dir() + "/" + extra), 0600u) << extra;
    }
  }
}

// A copy of a site works on its own files: nothing in it points back at the
// folder it was made in.
TEST_F(SiteTest, ACopiedSiteUsesItsOwnDatabaseAndDirectory) {
  createSite(true);
  const std::string copy = dir() + "-copy";
  fs::copy(dir(), copy, fs::copy_options::recursive);
  useSite(copy);
  auto conn = DBUtils::GetConnection();
  conn->Execute("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'copy' WHERE PARAMNAME = 'SiteLink'");
  General::CloseConnection(conn);
  EXPECT_EQ(DBUtils::GetParameter("SiteLink"), "copy");
  Configuration siteConfig;
  siteConfig.Load(copy + "/SiteConfiguration.xml");
  EXPECT_EQ(siteConfig.GetValue("DIRECTORY", "Database").text().find(dir()), std::string::npos);
  EXPECT_EQ(siteConfig.GetValue("FILESTORE", "ShareRoot").text().find(dir()), std::string::npos);
  useSite(dir());
  EXPECT_EQ(DBUtils::GetParameter("SiteLink"), "http://localhost/quillon");
  std::error_code ec;
  fs::remove_all(copy, ec);
}

// An operator may still name a database anywhere with an absolute path.
TEST_F(SiteTest, AnAbsoluteDatabasePathIsKept) {
  createSite();
  const std::string elsewhere = dir() + "-elsewhere";
  fs::create_directories(elsewhere);
  for (const char* part : {"", "-wal"})  // a live database in WAL mode is both files
    if (fs::exists(dbPath() + part)) fs::copy_file(dbPath() + part, elsewhere + "/other.db" + part);
  std::ofstream(dir() + "/Z2IZezazaConfiguration.xml")
      << Configuration::Compose({{"Quillon", "Provider=SQLite;Data Source=" + elsewhere + "/other.db"}},
                                {{"GLOBAL", "B2BLogging", "0"}});
  General::ResetThreadState();
  auto conn = DBUtils::GetConnection();
  conn->Execute("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'other' WHERE PARAMNAME = 'SiteLink'");
  General::CloseConnection(conn);
  EXPECT_EQ(DBUtils::GetParameter("SiteLink"), "other");
  EXPECT_EQ(scalar("SELECT PARAMVALUE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'SiteLink'"),
            "http://localhost/quillon");
  std::error_code ec;
  fs::remove_all(elsewhere, ec);
}

// Attachments can be stored on a site just made by the installer, with or
// without the demo data.
void SiteTest::storesAnAttachment() {
  std::string url, folder;
  ErrorInfo why;
  ASSERT_TRUE(Attachments().GetAttachmentUrlAndFolder(url, folder, why)) << why.description;
  EXPECT_EQ(url, "http://localhost/quillon/attachments/");
  EXPECT_TRUE(fs::is_directory(text::LocalPath(folder))) << folder;

  exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS) VALUES (7, 'ORDER', 'alice', 1)");
  std::string source = writeFile("upload/note.txt", "attached");
  auto files = std::make_shared<Collection>();
  files->Add(Variant(source));
  PublishCreateDocument().CopyAttachmentCollection(7, Variant(files));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS"), "0") << scalar("SELECT DESCRIPTION FROM PUBLICATIONERRORS");
  EXPECT_EQ(scalar("SELECT ATTACHMENTFILENAME FROM ATTACHMENT WHERE DOCUMENTID = 7"), "note.txt");
  EXPECT_EQ(read(dir() + "/attachments/7/note.txt"), "attached");
}

TEST_F(SiteTest, AFreshSiteStoresAttachments) {
  createSite(false);
  storesAnAttachment();
}

TEST_F(SiteTest, AFreshDemoSiteStoresAttachments) {
  createSite(true);
  storesAnAttachment();
}

}  // namespace
}  // namespace quillon
