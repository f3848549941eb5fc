// Several folder-import workers (processes of the `quillon` command) on one
// site: every file is taken by one of them, and workers killed at random
// moments lose nothing and import nothing twice.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/TestSite.h"
#include "tests/imports/FolderImportWorkers.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

std::string fileName(int n) {
  char name[32];
  std::snprintf(name, sizeof name, "f%05d.xml", n);
  return name;
}

class DocumentImportWorkersTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
    exec(test::kDefaultNotificationTemplates);
  }

  std::string in1() const { return dir() + "/xml/in1"; }

  void putFiles(int count) const {
    for (int n = 0; n < count; ++n) std::ofstream(in1() + "/" + fileName(n)) << test::NumberedOrder(n);
  }
  // The same, where every twentieth file is no XML and every twentieth
  // (shifted by ten) holds a document of an unknown type.
  static bool broken(int n) { return n % 20 == 0; }
  static bool rejected(int n) { return n % 20 == 10; }
  void putMixedFiles(int count) const {
    for (int n = 0; n < count; ++n) {
      std::string text = test::NumberedOrder(n);
      if (broken(n)) text = text.substr(0, text.size() - 3);
      if (rejected(n)) text.replace(text.find(">ORDER<"), 7, ">NOSUCHTYPE<");
      std::ofstream(in1() + "/" + fileName(n)) << text;
    }
  }

  // Starts `quillon --site DIR run folder-import` with its output in a file.
  pid_t startWorker() const {
    const pid_t pid = test::StartImportWorker(QUILLON_CLI, dir(), dir() + "/worker-output.txt");
    EXPECT_NE(pid, 0);
    return pid;
  }
  static int wait(pid_t pid) { return test::WaitForWorker(pid); }

  // How many documents each order number became.
  std::map<std::string, int> documentsByNumber() const { return test::DocumentsByOrderNumber(connectionString()); }
  static std::string numberOf(const std::string& name) {
    const std::size_t f = name.find('f');
    return "N" + name.substr(f + 1, 5);
  }
  std::set<std::string> errorFolderNames() const {
    std::set<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir() + "/xml/error", ec))
      if (e.is_regular_file()) out.insert(e.path().filename().string());
    return out;
  }
};

TEST_F(DocumentImportWorkersTest, TheCommandFailsOnlyWhenTheJobCannotRun) {
  std::ofstream(in1() + "/broken.xml") << "<ORDER>";
  std::ofstream(in1() + "/good.xml") << test::NumberedOrder(1);
  int status = wait(startWorker());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a failed file is no failure of the job";
  EXPECT_NE(read(dir() + "/worker-output.txt").find("folder-import: 2 files seen, 1 document made, 1 error, "),
            std::string::npos)
      << read(dir() + "/worker-output.txt");

  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = '' WHERE PARAMNAME = 'EDIDelimiter'");
  status = wait(startWorker());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "without a delimiter the job cannot run";
}

TEST_F(DocumentImportWorkersTest, TwoWorkersTakeEveryFileExactlyOnce) {
  constexpr int kFiles = 200;
  putFiles(kFiles);
  const pid_t a = startWorker();
  const pid_t b = startWorker();
  const int sa = wait(a), sb = wait(b);
  EXPECT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0) << read(dir() + "/worker-output.txt");
  EXPECT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0) << read(dir() + "/worker-output.txt");

  const auto docs = documentsByNumber();
  EXPECT_EQ(docs.size(), static_cast<std::size_t>(kFiles));
  for (const auto& [number, count] : docs) EXPECT_EQ(count, 1) << number;
  EXPECT_TRUE(fs::is_empty(in1()));
  EXPECT_TRUE(errorFolderNames().empty());
  // Each worker printed its summary; together they saw every file once.
  const std::string output = read(dir() + "/worker-output.txt");
  EXPECT_EQ(output.find("locked"), std::string::npos) << output;
  long seen = 0;
  std::size_t at = 0;
  while ((at = output.find("folder-import: ", at)) != std::string::npos) {
    at += 15;
    seen += std::stol(output.substr(at));
  }
  EXPECT_EQ(seen, kFiles) << output;
}

// Workers killed with SIGKILL at random moments, one or two at a time, then
// one that runs to the end and reports what the killed ones left claimed.
// Every file must end imported once, in the error folder (files that are no
// XML, rejected documents), or claimed and reported; none imported twice,
// none claimable left, none lost.
TEST_F(DocumentImportWorkersTest, WorkersKilledAtRandomMomentsLoseNothingAndImportNothingTwice) {
  constexpr int kFiles = 300;
  putMixedFiles(kFiles);
  std::mt19937 random(20261208);
  // Short lives, so that the folder lasts many of them on an idle machine
  // as well as on a loaded one.
  std::uniform_int_distribution<int> delayMs(0, 100);
  int kills = 0;
  for (int round = 0; round < 200; ++round) {
    bool anyLeft = false;
    for (const auto& e : fs::directory_iterator(in1()))
      if (e.path().filename().string()[0] != '~') anyLeft = true;
    if (!anyLeft) break;
    std::vector<pid_t> workers = {startWorker()};
    if (round % 3 == 2) workers.push_back(startWorker());
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
    for (pid_t pid : workers) {
      ::kill(pid, SIGKILL);
      const int status = wait(pid);
      if (WIFSIGNALED(status)) ++kills;
    }
  }
  EXPECT_GT(kills, 10) << "the workers must really be killed while they work";

  setConfigValue("SiteConfiguration.xml", "DOCUMENTIMPORT", "StaleClaimSeconds", "0");
  const int last = wait(startWorker());
  EXPECT_TRUE(WIFEXITED(last) && WEXITSTATUS(last) == 0);

  const auto docs = documentsByNumber();
  const std::set<std::string> errors = errorFolderNames();
  std::set<std::string> claimed, claimable;
  for (const auto& e : fs::directory_iterator(in1())) {
    const std::string name = e.path().filename().string();
    (name[0] == '~' ? claimed : claimable).insert(name);
  }
  std::string log = read(dir() + "/log/quillon.log");
  int imported = 0, inErrorFolder = 0, claimedReported = 0, importedAndClaimed = 0;
  for (int n = 0; n < kFiles; ++n) {
    const std::string name = fileName(n);
    const auto found = docs.find(numberOf(name));
    const int count = found == docs.end() ? 0 : found->second;
    EXPECT_LE(count, 1) << name << " imported twice";
    EXPECT_EQ(claimable.count(name), 0u) << name << " left claimable after a full run";
    const bool isClaimed = claimed.count("~" + name) != 0;
    if (isClaimed) {
      // The report tells whether the file's document was stored.
      const std::size_t at = log.find("/~" + name + "' was claimed for import");
      EXPECT_NE(at, std::string::npos) << name << " not reported";
      if (at != std::string::npos) {
        // A file that is no XML cannot be read for its documents: the
        // report can only say that some may have been taken in.
        const std::string line = log.substr(at, log.find('\n', at) - at);
        const char* expected = broken(n)    ? "Some of its documents may have been taken in already."
                               : count == 1 ? "1 of its 1 document(s) were stored"
                                            : "None of its 1 document(s)";
        EXPECT_NE(line.find(expected), std::string::npos) << line;
      }
      ++claimedReported;
      if (count == 1) ++importedAndClaimed;
    }
    if (errors.count(name)) ++inErrorFolder;
    if (count == 1) ++imported;
    if (broken(n) || rejected(n)) {
      EXPECT_EQ(count, 0) << name;
    }
    EXPECT_TRUE(count == 1 || isClaimed || errors.count(name)) << name << " lost";
  }
  std::printf("[ counts   ] %d kills; %d files: %d imported once (%d of them left claimed), %d claimed and "
              "reported, %d in the error folder\n",
              kills, kFiles, imported, importedAndClaimed, claimedReported, inErrorFolder);
}

}  // namespace
}  // namespace quillon
