// Several folder-import workers (processes of the `quillon` command) on one
// PostgreSQL site, while another process keeps reading a user's inbox list
// as the portal's pages do. Every file must become exactly one document,
// nothing may be left or lost, and no inbox read may fail or see a list
// shrink or a document twice.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/DBUtils.h"
#include "foundation/General.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "publication/Collaboration.h"
#include "publication/SQLQueries.h"
#include "tests/PostgresServer.h"
#include "tests/TestSite.h"
#include "tests/imports/FolderImportWorkers.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

constexpr std::int32_t kInbox = 1;

Variant emptyOneBased() { return Variant(VariantArray(std::vector<VariantArray::Bound>{{1, 0}})); }

// One read of bob's order inbox as the portal makes it: the list view's
// SQL text run on a connection of the site, and the count of new documents.
// Returns the listed document ids; raises what the component raises.
std::vector<int> readInbox(std::int32_t& newDocuments) {
  std::string sql, errors;
  SQLQueries().GetDocListQuery(kInbox, "ORDER", emptyOneBased(), emptyOneBased(), 0, emptyOneBased(), emptyOneBased(),
                               0, 0, "bob", sql, errors);
  auto conn = DBUtils::GetConnection();
  std::vector<int> ids;
  auto rs = conn->Execute(sql);
  for (; !rs->EOF_(); rs->MoveNext()) ids.push_back(rs->Fields("DOCUMENTID").Value().toInt32());
  rs->Close();
  General::CloseConnection(conn);
  newDocuments = Collaboration().countNewDocumentsForInbox("ORDER", "bob");
  return ids;
}

class DocumentImportPostgresWorkersTest : public test::TestSite, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    std::string why;
    if (!test::PostgresServer::Available(&why)) GTEST_SKIP() << "no PostgreSQL server to run on: " << why;
    // Every site of this test binary lives on the process's own cluster.
    ::setenv("QUILLON_TEST_DATABASE", "postgresql", 1);
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
    // The scheduled intake notifies, as on a site in service.
    exec(test::kDefaultNotificationTemplates);
    ASSERT_TRUE(onPostgres());
  }

  std::string in1() const { return dir() + "/xml/in1"; }

  pid_t startWorker(int n) const {
    const pid_t pid = test::StartImportWorker(QUILLON_CLI, dir(), dir() + "/worker" + std::to_string(n) + ".txt");
    EXPECT_NE(pid, 0);
    return pid;
  }

  // A child process that reads the inbox until `stop` exists, then writes
  // what it saw into `report`: "reads R during S final F" or "FAILED: ...".
  pid_t startInboxReader(const std::string& stop, const std::string& report, int files) {
    // The child must not share this process's open database handles.
    General::ResetThreadState();
    Connection::ReleaseIdleHandles();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    std::string result;
    try {
      long reads = 0, during = 0;
      std::size_t previous = 0;
      std::int32_t previousNew = 0;
      for (;;) {
        const bool last = fs::exists(stop);
        std::int32_t newDocuments = 0;
        const std::vector<int> ids = readInbox(newDocuments);
        const std::set<int> distinct(ids.begin(), ids.end());
        ++reads;
        if (distinct.size() != ids.size()) throw std::runtime_error("a document listed twice");
        if (ids.size() < previous) throw std::runtime_error("the list shrank");
        if (newDocuments < previousNew) throw std::runtime_error("the count of new documents shrank");
        if (newDocuments < static_cast<std::int32_t>(ids.size()))
          throw std::runtime_error("fewer new documents counted than listed just before");
        if (!ids.empty() && ids.size() < static_cast<std::size_t>(files)) ++during;
        previous = ids.size();
        previousNew = newDocuments;
        if (last) {
          result = "reads " + std::to_string(reads) + " during " + std::to_string(during) + " final " +
                   std::to_string(ids.size()) + " new " + std::to_string(newDocuments);
          break;
        }
      }
    } catch (const Error& e) {
      result = "FAILED: " + e.description();
    } catch (const std::exception& e) {
      result = std::string("FAILED: ") + e.what();
    }
    std::ofstream(report) << result;
    ::_exit(0);
  }

  // How many documents each order number became.
  std::map<std::string, int> documentsByNumber() const { return test::DocumentsByOrderNumber(connectionString()); }
};

// Workers (the parameter: how many) over a few hundred files at once.
TEST_P(DocumentImportPostgresWorkersTest, EveryFileOnceWhileTheInboxIsRead) {
  const int workers = GetParam();
  constexpr int kFiles = 300;
  for (int n = 0; n < kFiles; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.xml", n);
    std::ofstream(in1() + "/" + name) << test::NumberedOrder(n);
  }
  const std::string stop = dir() + "/stop-reading", report = dir() + "/reader.txt";
  const pid_t reader = startInboxReader(stop, report, kFiles);
  ASSERT_GT(reader, 0);

  std::vector<pid_t> pids;
  for (int w = 0; w < workers; ++w) pids.push_back(startWorker(w));
  long seen = 0;
  for (int w = 0; w < workers; ++w) {
    int status = 0;
    ::waitpid(pids[w], &status, 0);
    const std::string output = read(dir() + "/worker" + std::to_string(w) + ".txt");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    const std::size_t at = output.find("folder-import: ");
    ASSERT_NE(at, std::string::npos) << output;
    seen += std::stol(output.substr(at + 15));
    EXPECT_NE(output.find(" 0 errors, "), std::string::npos) << output;
  }
  std::ofstream(stop) << "";
  int readerStatus = 0;
  ::waitpid(reader, &readerStatus, 0);
  EXPECT_TRUE(WIFEXITED(readerStatus) && WEXITSTATUS(readerStatus) == 0);

  // Each file seen by one worker, imported once, none left or set aside.
  EXPECT_EQ(seen, kFiles);
  const auto docs = documentsByNumber();
  EXPECT_EQ(docs.size(), static_cast<std::size_t>(kFiles));
  for (const auto& [number, count] : docs) EXPECT_EQ(count, 1) << number;
  EXPECT_TRUE(fs::is_empty(in1()));
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(dir() + "/xml/error", ec))
    EXPECT_FALSE(e.is_regular_file()) << e.path() << " set aside";

  // The reader never failed, read while the workers wrote, and its last
  // read lists every document.
  const std::string seenByReader = read(report);
  std::printf("[ reader   ] %d workers: %s\n", workers, seenByReader.c_str());
  ASSERT_EQ(seenByReader.rfind("reads ", 0), 0u) << seenByReader;
  long reads = 0, during = 0, final = 0;
  ASSERT_EQ(std::sscanf(seenByReader.c_str(), "reads %ld during %ld final %ld", &reads, &during, &final), 3);
  EXPECT_GT(during, 0) << "no read happened while the workers imported";
  EXPECT_EQ(final, kFiles);
}

INSTANTIATE_TEST_SUITE_P(Workers, DocumentImportPostgresWorkersTest, ::testing::Values(2, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param) + "Workers";
                         });

}  // namespace
}  // namespace quillon
