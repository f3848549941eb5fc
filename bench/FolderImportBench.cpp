// The folder import of many small XML documents: 1, 2 and 4 workers at once
// (processes of the `quillon` command, `quillon run folder-import`, as the
// scheduler starts them), each run on a fresh sample site holding the same
// files; on a site with its embedded SQLite database and, when the
// PostgreSQL server binaries are installed, on a PostgreSQL site (a local
// throwaway cluster with a durable server's settings, bench/BenchPostgres.h);
// each with the default notification templates (every intake writes its
// notification mails, synced, into the site's pickup folder) and without
// them (no mail at all).
//
// Prints files per second, the scaling over one worker, CPU time per file,
// each worker's peak resident memory, and checks that every file became
// exactly one document (no duplicates, no losses), against two floors
// measured in the same run: one 4 KiB write + fdatasync on the same disk
// (every file costs at least the durable point of its document), and the
// same documents handed to Document.ProcessDocument directly, in one
// process, without files (the intake's own cost on SQLite, up to 2,000
// documents).
//
//   bench_folder_import [FILES=2000] [FOLDER=/var/tmp] [QUILLON=<beside this program>/quillon]
#include <fcntl.h>
#include <spawn.h>
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
#include <iterator>
#include <sstream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "document/Document.h"
#include "foundation/General.h"
#include "foundation/Site.h"
#include "bench/BenchPostgres.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Error.h"

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

// The site's database, through the component's own connection layer.
std::shared_ptr<Connection> openDatabase(const std::string& connection) {
  auto conn = std::make_shared<Connection>();
  conn->Open(connection);
  return conn;
}

// A sample site whose import folder holds `files` orders; on `database`
// when one is given, with or without notification templates.
struct BenchSite {
  std::string dir, connection;
};
BenchSite makeSite(const std::string& parent, int files, const std::string& database = {}, bool notify = true);

// Documents per second of Document.ProcessDocument called directly.
double intakeFloor(const std::string& parent, int documents, double& cpuMsPerDocument) {
  const std::string site = makeSite(parent, 0).dir;
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

BenchSite makeSite(const std::string& parent, int files, const std::string& database, bool notify) {
  const std::string dir = newFolder(parent);
  SiteOptions options;
  options.sampleData = true;
  options.database = database;
  Site::Create(dir, options);
  // As on a site in service, the configuration files are not brand new.
  for (const char* name : {kB2BConfigFileName, kSiteConfigFileName}) {
    bench::MakeNotBrandNew(dir + "/" + name);
  }
  const std::string connection =
      database.empty() ? "Provider=SQLite;Data Source=" + Site::DatabasePath(dir) : database;
  if (notify) {
    // Default notification templates: the scheduled intake notifies
    // (the mails go to the site's pickup folder).
    auto conn = openDatabase(connection);
    conn->Execute(
        "INSERT INTO NOTIFICATIONTEMPLATE (DOCUMENTTYPEID, BUSINESSPARTNERID, MODE, SUBJECT, BODY) VALUES "
        "('-1', -1, 1, 'Sent', 'Sent'), ('-1', -1, 2, 'New', 'New'), ('-1', -2, 2, 'Copy', 'Copy')");
    conn->Close();
  }
  const std::string in = dir + "/xml/in1/";
  for (int n = 0; n < files; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "order-%06d.xml", n);
    std::ofstream(in + name, std::ios::binary) << order(n);
  }
  ::sync();
  return {dir, connection};
}

struct Outcome {
  double seconds = 0;
  std::vector<long> peakKiB;  // per worker
  double cpuSeconds = 0;      // user + system time of the workers
  double serverCpuSeconds = 0;  // the same of their PostgreSQL backends
  std::vector<int> exitCodes;
  long documents = 0, distinct = 0, left = 0, inErrorFolder = 0, mails = 0;
};

// VmHWM of a running process in KiB, 0 when it cannot be read.
long peakOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// CPU seconds of the PostgreSQL server's ended backends (the children the
// postmaster has reaped), 0 on SQLite sites or when it cannot be read. A
// worker's backend ends with its connection, so the difference over a run
// is the server's work for that run (its background processes left out).
double serverCpuSeconds(bool onPostgres) {
  if (!onPostgres) return 0;
  std::ifstream pidFile(bench::DurablePostgres().socketDir() + "/data/postmaster.pid");
  std::string pid;
  std::getline(pidFile, pid);
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string text;
  std::getline(stat, text);
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::vector<std::string> f{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
  // After the name: state is field 3 of the file; cutime and cstime are 16 and 17.
  if (f.size() < 15) return 0;
  return (std::stod(f[13]) + std::stod(f[14])) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

Outcome importWith(const std::string& quillon, const BenchSite& target, int workers) {
  const std::string& site = target.dir;
  const bool onPostgres = target.connection.rfind("postgresql:", 0) == 0;
  const double serverBefore = serverCpuSeconds(onPostgres);
  Outcome out;
  std::vector<pid_t> pids;
  const auto start = Clock::now();
  for (int w = 0; w < workers; ++w) {
    std::vector<std::string> args = {quillon, "--site", site, "run", "folder-import"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Their summary lines are not part of the report; errors still show.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + quillon);
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
  // The postmaster reaps a backend shortly after its client has gone.
  if (onPostgres) ::usleep(500000);
  out.serverCpuSeconds = serverCpuSeconds(onPostgres) - serverBefore;

  // Every document by its order number (read from the stored texts).
  auto conn = openDatabase(target.connection);
  auto rs = conn->Execute("SELECT ORIGINALXMLBODY FROM DOCUMENT");
  std::set<std::string> numbers;
  for (; !rs->EOF_(); rs->MoveNext()) {
    const std::string body = rs->Fields(0).Value().toString();
    const std::size_t at = body.find("<NUMBER>");
    numbers.insert(at == std::string::npos ? "?" : body.substr(at + 8, 7));
    ++out.documents;
  }
  rs->Close();
  conn->Close();
  out.distinct = static_cast<long>(numbers.size());
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(site + "/mail/pickup", ec))
    if (e.path().filename().string()[0] != '~') ++out.mails;
  for (const auto& e : fs::directory_iterator(site + "/xml/in1")) {
    (void)e;
    ++out.left;
  }
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
    const int files = argc > 1 ? std::atoi(argv[1]) : 2000;
    const std::string parent = argc > 2 ? argv[2] : "/var/tmp";
    const std::string quillon =
        argc > 3 ? argv[3] : (fs::read_symlink("/proc/self/exe").parent_path() / "quillon").string();
    if (files <= 0) throw std::runtime_error("FILES must be above 0");

    const double floorMs = syncFloor(parent, 200);
    std::printf("folder import of %d small XML documents in %s, %ld processors\n", files, parent.c_str(),
                ::sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("floor: one 4 KiB write + fdatasync: %.2f ms (at most %.0f durable points per second)\n", floorMs,
                1000.0 / floorMs);
    const int intakeDocuments = files < 2000 ? files : 2000;
    double intakeCpuMs = 0;
    const double intakePerSecond = intakeFloor(parent, intakeDocuments, intakeCpuMs);
    std::printf("floor: ProcessDocument called directly on SQLite, %d documents: %.1f documents/s (%.2f ms each, "
                "CPU %.2f ms)\n",
                intakeDocuments, intakePerSecond, 1000.0 / intakePerSecond, intakeCpuMs);

    std::string why;
    const bool postgres = test::PostgresServer::Available(&why);
    if (postgres)
      std::printf("PostgreSQL: local cluster, data on /tmp, %s\n",
                  bench::PostgresSettings(bench::DurablePostgres()).c_str());
    else
      std::printf("PostgreSQL site: not measured (%s)\n", why.c_str());

    bool sound = true;
    // files/s by (database, notifications, workers), for the summary.
    std::map<std::string, std::map<int, double>> rates;
    std::vector<std::string> order;
    for (const bool onPostgres : {false, true}) {
      if (onPostgres && !postgres) continue;
      for (const bool notify : {true, false}) {
        const std::string label = std::string(onPostgres ? "PostgreSQL" : "SQLite") +
                                  (notify ? ", notifications" : ", no notifications");
        order.push_back(label);
        std::printf("%s\n", label.c_str());
        for (int workers : {1, 2, 4}) {
          const BenchSite site =
              makeSite(parent, files, onPostgres ? bench::DurablePostgres().NewDatabase() : std::string(), notify);
          const Outcome o = importWith(quillon, site, workers);
          rates[label][workers] = files / o.seconds;
          std::printf("  %d worker%s: %.1f s, %.1f files/s (%.2f× one worker, %.2f ms per file, %.1f× the sync "
                      "floor), CPU %.2f ms per file",
                      workers, workers == 1 ? " " : "s", o.seconds, files / o.seconds,
                      (files / o.seconds) / rates[label][1], 1000.0 * o.seconds / files,
                      1000.0 * o.seconds / files / floorMs, 1000.0 * o.cpuSeconds / files);
          if (onPostgres) std::printf(" + server %.2f ms", 1000.0 * o.serverCpuSeconds / files);
          std::printf(", peak memory");
          for (long kib : o.peakKiB) std::printf(" %.1f", kib / 1024.0);
          std::printf(" MiB\n    documents %ld, distinct %ld, duplicates %ld, files left %ld, in the error folder "
                      "%ld, mails %ld, exit",
                      o.documents, o.distinct, o.documents - o.distinct, o.left, o.inErrorFolder, o.mails);
          for (int code : o.exitCodes) std::printf(" %d", code);
          std::printf("\n");
          if (o.documents != files || o.distinct != files || o.left != 0) sound = false;
          fs::remove_all(site.dir);
        }
      }
    }
    std::printf("\nfiles/s (scaling over one worker)\n%-32s %18s %18s %18s\n", "", "1 worker", "2 workers",
                "4 workers");
    for (const std::string& label : order) {
      std::printf("%-32s", label.c_str());
      for (int workers : {1, 2, 4}) {
        char cell[40];
        std::snprintf(cell, sizeof cell, "%.1f (%.2f×)", rates[label][workers],
                      rates[label][workers] / rates[label][1]);
        std::printf(" %18s", cell);
      }
      std::printf("\n");
    }
    General::ResetThreadState();
    Connection::ReleaseIdleHandles();
    if (!sound) {
      std::printf("FAILED: some files were not imported exactly once\n");
      return 1;
    }
    return 0;
  } catch (const Error& e) {
    std::fprintf(stderr, "bench_folder_import: %s\n", e.description().c_str());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_folder_import: %s\n", e.what());
    return 2;
  }
}
