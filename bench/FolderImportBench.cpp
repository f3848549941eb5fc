// The folder import of many small XML documents on a sample site with its
// embedded SQLite database: one worker, then two workers at once (processes
// of the `quillon` command, `quillon run folder-import`, as the scheduler
// starts them), each on a fresh site holding the same files.
//
// Prints files per second, each worker's peak resident memory, and checks
// that every file became exactly one document (no duplicates, no losses),
// against two floors measured in the same run: one 4 KiB write + fdatasync
// on the same disk (every file costs at least the durable point of its
// document), and the same documents handed to Document.ProcessDocument
// directly, in one process, without files (the intake's own cost, up to
// 2,000 documents).
//
//   bench_folder_import [FILES=10000] [FOLDER=/var/tmp] [QUILLON=<beside this program>/quillon]
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "document/Document.h"
#include "foundation/General.h"
#include "foundation/Site.h"
#include "platform/Configuration.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace quillon;
using Clock = std::chrono::steady_clock;

namespace {

std::string newFolder(const std::string& parent) {
  std::string tmpl = parent + "/quillon-bench-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a folder in " + parent);
  return tmpl;
}

std::string order(int n) {
  return "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><RECEIVER>bob</RECEIVER><NUMBER>" +
         std::to_string(1000000 + n) + "</NUMBER><TOTAL>12.50</TOTAL></ORDER>\n";
}

void sql(sqlite3* db, const std::string& text) {
  char* message = nullptr;
  if (sqlite3_exec(db, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string m = message ? message : "?";
    sqlite3_free(message);
    throw std::runtime_error(m + " in " + text);
  }
}

std::string scalar(sqlite3* db, const std::string& text) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, text.c_str(), -1, &st, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db));
  std::string out;
  if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
    out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  return out;
}

// A sample site whose import folder holds `files` orders.
std::string makeSite(const std::string& parent, int files);

// Documents per second of Document.ProcessDocument called directly.
double intakeFloor(const std::string& parent, int documents, double& cpuMsPerDocument) {
  const std::string site = makeSite(parent, 0);
  ::setenv(kSiteEnvironmentVariable, site.c_str(), 1);
  General::ResetThreadState();
  Document document;
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  const auto start = Clock::now();
  for (int n = 0; n < documents; ++n) {
    std::string type, recipient, typeOut, sender, defaultRecipient;
    std::int32_t docID = 0, senderBP = 0;
    std::int16_t status = 0;
    Document().ProcessDocument(0, order(n), type, recipient, docID, senderBP, typeOut, sender, defaultRecipient, status);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  auto cpu = [](const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
  };
  cpuMsPerDocument = 1000.0 * (cpu(after) - cpu(before)) / documents;
  General::ResetThreadState();
  fs::remove_all(site);
  return documents / seconds;
}

std::string makeSite(const std::string& parent, int files) {
  const std::string dir = newFolder(parent);
  SiteOptions options;
  options.sampleData = true;
  Site::Create(dir, options);
  // As on a site in service, the configuration files are not brand new.
  for (const char* name : {kB2BConfigFileName, kSiteConfigFileName}) {
    timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ::utimensat(AT_FDCWD, (dir + "/" + name).c_str(), old, 0);
  }
  sqlite3* db = nullptr;
  sqlite3_open_v2(Site::DatabasePath(dir).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  // Default notification templates: the scheduled intake notifies
  // (the mails go to the site's pickup folder).
  sql(db,
      "INSERT INTO NOTIFICATIONTEMPLATE (DOCUMENTTYPEID, BUSINESSPARTNERID, MODE, SUBJECT, BODY) VALUES "
      "('-1', -1, 1, 'Sent', 'Sent'), ('-1', -1, 2, 'New', 'New'), ('-1', -2, 2, 'Copy', 'Copy')");
  sqlite3_close(db);
  const std::string in = dir + "/xml/in1/";
  for (int n = 0; n < files; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "order-%06d.xml", n);
    std::ofstream(in + name, std::ios::binary) << order(n);
  }
  ::sync();
  return dir;
}

struct Outcome {
  double seconds = 0;
  std::vector<long> peakKiB;  // per worker
  double cpuSeconds = 0;      // user + system time of the workers
  std::vector<int> exitCodes;
  long documents = 0, distinct = 0, left = 0, inErrorFolder = 0;
};

// VmHWM of a running process in KiB, 0 when it cannot be read.
long peakOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

Outcome importWith(const std::string& quillon, const std::string& site, int workers) {
  Outcome out;
  std::vector<pid_t> pids;
  const auto start = Clock::now();
  for (int w = 0; w < workers; ++w) {
    std::vector<std::string> args = {quillon, "--site", site, "run", "folder-import"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
      throw std::runtime_error("cannot start " + quillon);
    pids.push_back(pid);
  }
  // The peak resident memory of a worker is its VmHWM, read while it runs
  // (the rusage of a spawned child also counts the parent it was cloned from).
  out.peakKiB.assign(pids.size(), 0);
  out.exitCodes.assign(pids.size(), -1);
  std::size_t running = pids.size();
  std::vector<bool> done(pids.size(), false);
  while (running > 0) {
    for (std::size_t i = 0; i < pids.size(); ++i) {
      if (done[i]) continue;
      const long hwm = peakOf(pids[i]);
      if (hwm > out.peakKiB[i]) out.peakKiB[i] = hwm;
      int status = 0;
      rusage usage{};
      if (::wait4(pids[i], &status, WNOHANG, &usage) == pids[i]) {
        done[i] = true;
        --running;
        out.exitCodes[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        out.cpuSeconds += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                          usage.ru_stime.tv_usec / 1e6;
      }
    }
    if (running > 0) ::usleep(10000);
  }
  out.seconds = std::chrono::duration<double>(Clock::now() - start).count();

  sqlite3* db = nullptr;
  sqlite3_open_v2(Site::DatabasePath(site).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  out.documents = std::stol(scalar(db, "SELECT COUNT(*) FROM DOCUMENT"));
  out.distinct = std::stol(scalar(
      db, "SELECT COUNT(DISTINCT substr(ORIGINALXMLBODY, instr(ORIGINALXMLBODY, '<NUMBER>') + 8, 7)) FROM DOCUMENT"));
  sqlite3_close(db);
  for (const auto& e : fs::directory_iterator(site + "/xml/in1")) {
    (void)e;
    ++out.left;
  }
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(site + "/xml/error", ec))
    if (e.is_regular_file()) ++out.inErrorFolder;
  return out;
}

// Milliseconds for one 4 KiB write and fdatasync of a file in `parent`.
double syncFloor(const std::string& parent, int rounds) {
  const std::string path = parent + "/quillon-bench-sync";
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write in " + parent);
  char block[4096] = {};
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i)
    if (::pwrite(fd, block, sizeof block, static_cast<off_t>(i) * 4096) != static_cast<ssize_t>(sizeof block) ||
        ::fdatasync(fd) != 0)
      throw std::runtime_error("write or sync failed in " + parent);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / rounds;
  ::close(fd);
  ::unlink(path.c_str());
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::string parent = argc > 2 ? argv[2] : "/var/tmp";
    const std::string quillon =
        argc > 3 ? argv[3] : (fs::read_symlink("/proc/self/exe").parent_path() / "quillon").string();
    if (files <= 0) throw std::runtime_error("FILES must be above 0");

    const double floorMs = syncFloor(parent, 200);
    std::printf("folder import of %d small XML documents in %s\n", files, parent.c_str());
    std::printf("floor: one 4 KiB write + fdatasync: %.2f ms (at most %.0f durable points per second)\n", floorMs,
                1000.0 / floorMs);
    const int intakeDocuments = files < 2000 ? files : 2000;
    double intakeCpuMs = 0;
    const double intakePerSecond = intakeFloor(parent, intakeDocuments, intakeCpuMs);
    std::printf("floor: ProcessDocument called directly, %d documents: %.1f documents/s (%.2f ms each, CPU %.2f ms)\n",
                intakeDocuments, intakePerSecond, 1000.0 / intakePerSecond, intakeCpuMs);
    bool sound = true;
    for (int workers : {1, 2}) {
      const std::string site = makeSite(parent, files);
      const Outcome o = importWith(quillon, site, workers);
      std::printf("%d worker%s: %.1f s, %.1f files/s (%.2f ms per file, %.1f× the sync floor, %.2f× the intake floor)",
                  workers, workers == 1 ? " " : "s", o.seconds, files / o.seconds, 1000.0 * o.seconds / files,
                  1000.0 * o.seconds / files / floorMs, intakePerSecond * o.seconds / files);
      std::printf(", CPU %.2f ms per file, peak memory", 1000.0 * o.cpuSeconds / files);
      for (long kib : o.peakKiB) std::printf(" %.1f MiB", kib / 1024.0);
      std::printf("\n  documents %ld, distinct %ld, duplicates %ld, files left %ld, in the error folder %ld, exit",
                  o.documents, o.distinct, o.documents - o.distinct, o.left, o.inErrorFolder);
      for (int code : o.exitCodes) std::printf(" %d", code);
      std::printf("\n");
      if (o.documents != files || o.distinct != files || o.left != 0) sound = false;
      fs::remove_all(site);
    }
    if (!sound) {
      std::printf("FAILED: some files were not imported exactly once\n");
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_folder_import: %s\n", e.what());
    return 2;
  }
}
