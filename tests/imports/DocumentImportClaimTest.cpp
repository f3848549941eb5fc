// How the folder import claims a file where the import folder's file system
// has no no-replace rename (NFS answers EINVAL), and when a claim fails for
// another reason. This executable stands in for the C library's renameat2
// (its symbol comes first for the component's library), so a test can make
// the no-replace rename unsupported or failing.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "foundation/General.h"
#include "imports/DocumentImport.h"
#include "platform/Database.h"
#include "tests/TestSite.h"
#include "tests/imports/FolderImportWorkers.h"

namespace fs = std::filesystem;

namespace {
// 0: the real call; otherwise the error a no-replace rename fails with.
int gNoReplaceError = 0;
}  // namespace

extern "C" int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned int flags) {
  using Real = int(int, const char*, int, const char*, unsigned int);
  static auto* real = reinterpret_cast<Real*>(::dlsym(RTLD_NEXT, "renameat2"));
  if (gNoReplaceError != 0 && (flags & RENAME_NOREPLACE) != 0) {
    errno = gNoReplaceError;
    return -1;
  }
  return real(olddirfd, oldpath, newdirfd, newpath, flags);
}

namespace quillon {
namespace {

class DocumentImportClaimTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
  }
  void TearDown() override {
    gNoReplaceError = 0;
    TestSite::TearDown();
  }
  std::string in1() const { return dir() + "/xml/in1"; }

  // Stored documents per order number.
  std::map<std::string, int> documentsByNumber() const { return test::DocumentsByOrderNumber(connectionString()); }
};

TEST_F(DocumentImportClaimTest, WithoutTheNoReplaceRenameWorkersClaimByLinkAndTakeEveryFileOnce) {
  gNoReplaceError = EINVAL;
  constexpr int kFiles = 120, kWorkers = 3;
  for (int n = 0; n < kFiles; ++n) std::ofstream(in1() + "/f" + std::to_string(n) + ".xml") << test::NumberedOrder(n);
  // A file whose claimed name is taken by an earlier claim waits, as with
  // the rename.
  std::ofstream(in1() + "/held.xml") << test::NumberedOrder(99999);
  std::ofstream(in1() + "/~held.xml") << test::NumberedOrder(99999);

  // Worker processes of this executable, so that they share its renameat2.
  General::ResetThreadState();
  Connection::ReleaseIdleHandles();
  std::fflush(nullptr);
  std::vector<pid_t> workers;
  for (int w = 0; w < kWorkers; ++w) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const FolderImportSummary s = RunFolderImport();
      std::ofstream(dir() + "/seen" + std::to_string(w)) << s.filesSeen << " " << s.errors;
      ::_exit(s.failure.empty() ? 0 : 1);
    }
    workers.push_back(pid);
  }
  long seen = 0;
  for (int w = 0; w < kWorkers; ++w) {
    int status = 0;
    ::waitpid(workers[w], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    long filesSeen = 0, errors = -1;
    std::ifstream(dir() + "/seen" + std::to_string(w)) >> filesSeen >> errors;
    EXPECT_EQ(errors, 0);
    seen += filesSeen;
  }
  EXPECT_EQ(seen, kFiles);
  const auto docs = documentsByNumber();
  EXPECT_EQ(docs.size(), static_cast<std::size_t>(kFiles));
  for (const auto& [number, count] : docs) EXPECT_EQ(count, 1) << number;
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(in1())) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"held.xml", "~held.xml"}));
}

TEST_F(DocumentImportClaimTest, AClaimThatFailsIsAnErrorAndTheFileStays) {
  std::ofstream(in1() + "/a.xml") << test::NumberedOrder(1);
  for (int error : {EIO, EACCES}) {
    gNoReplaceError = error;
    const FolderImportSummary s = RunFolderImport();
    EXPECT_EQ(s.filesSeen, 0);
    EXPECT_EQ(s.errors, 1) << "a file that cannot be claimed is never passed over in silence";
    EXPECT_TRUE(fs::exists(in1() + "/a.xml"));
    EXPECT_FALSE(fs::exists(in1() + "/~a.xml"));
  }
  bool logged = false;
  for (const auto& e : logEntries()) logged = logged || e.message.find("cannot be claimed for import") != std::string::npos;
  EXPECT_TRUE(logged);

  // Once the folder works again the file is taken.
  gNoReplaceError = 0;
  const FolderImportSummary s = RunFolderImport();
  EXPECT_EQ(s.filesSeen, 1);
  EXPECT_EQ(s.errors, 0);
  EXPECT_EQ(documentsByNumber().size(), 1u);
}

}  // namespace
}  // namespace quillon
