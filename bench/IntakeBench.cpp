// The intake steps that exist, document after document, on a sample site on
// disk and on one in memory (/dev/shm): read the input file, recognise the
// sender, type and default receiver, check the sender's authorisation,
// store the DOCUMENT row, publish it to its recipients, make the work
// durable and only then remove the input file.
//
// Prints documents per second, syncs, compiled SQL statements and XML
// parses per document, against two floors measured in the same run: one
// write+fdatasync on the same disk, and the same rows written through the
// bare SQLite C API with prepared statements. When the PostgreSQL server
// binaries are installed, the same intake also runs on a PostgreSQL site
// (a throwaway cluster on a Unix socket, tests/PostgresServer.h) in the
// same run.
//
//   bench_intake [DOCUMENTS=2000] [DISK_FOLDER=/var/tmp] [MEMORY_FOLDER=/dev/shm]
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "foundation/DBUtils.h"
#include "foundation/General.h"
#include "foundation/Site.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Variant.h"
#include "platform/XmlDom.h"
#include "publication/SenderList.h"
#include "publication/Utility.h"
#include "tests/CallCounters.h"
#include "tests/PostgresServer.h"

namespace fs = std::filesystem;
using namespace quillon;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWarmUp = 50;

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string newFolder(const std::string& parent) {
  std::string tmpl = parent + "/quillon-bench-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a folder in " + parent);
  return tmpl;
}

// The sample order with its own order number.
std::string orderText(const std::string& sample, int n) {
  std::string text = sample;
  const std::string number = "PO-2026-0042";
  auto at = text.find(number);
  if (at != std::string::npos) text.replace(at, number.size(), "PO-" + std::to_string(100000 + n));
  return text;
}

// One intake of the file at `path`; returns the new document's id.
std::int32_t intake(const std::string& path) {
  std::string text = readAll(path);
  // Parsed once; every step reads the same DOM.
  auto dom = std::make_shared<DomDocument>();
  if (!dom->loadXML(text)) throw std::runtime_error("not XML: " + path);
  Utility u;
  std::int32_t senderBP = 0;
  std::string sender;
  UtilityDom::GetSenderBPAndName(u, dom, senderBP, sender);
  std::string type = UtilityDom::GetDocType(u, dom, senderBP);
  if (!SenderList().CheckAuthorizationForSender(type, sender)) throw std::runtime_error("sender refused");

  auto conn = DBUtils::GetConnection();
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  rs->Open("SELECT * FROM DOCUMENT WHERE 0=1", conn, ado::adOpenKeyset, ado::adLockOptimistic);
  rs->AddNew();
  rs->Fields("CREATIONDATE").SetValue(Variant::date(oleNow()));
  rs->Fields("ENTRANCEDATE").SetValue(Variant::date(oleNow()));
  rs->Fields("STATUS").SetValue(Variant(static_cast<std::int16_t>(-1)));
  u.SetLongDBTextField(text, "ORIGINALXMLBODY", rs);
  rs->Update();
  std::int32_t docID = rs->Fields("DOCUMENTID").Value().toInt32();
  rs->Close();
  General::CloseConnection(conn);

  std::string receiver = UtilityDom::GetDefaultReceiver(u, dom);
  conn = DBUtils::GetConnection();
  rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  rs->Open("SELECT * FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(docID), conn, ado::adOpenDynamic,
           ado::adLockOptimistic);
  rs->Fields("DOCUMENTTYPEID").SetValue(Variant(type));
  rs->Fields("SENDER").SetValue(Variant(sender));
  rs->Fields("DEFAULTRECEIVER").SetValue(Variant(receiver));
  rs->Fields("STATUS").SetValue(Variant(static_cast<std::int16_t>(0)));
  u.SetLongDBTextField(text, "XMLBODY", rs);
  rs->Update();
  rs->Close();
  General::CloseConnection(conn);

  UtilityDom::GetRecipientsAndFillPublicationTable(u, docID, type, dom);
  // The input goes only once what it became is on disk.
  conn = DBUtils::GetConnection();
  conn->MakeDurable();
  General::CloseConnection(conn);
  fs::remove(path);
  return docID;
}

struct Result {
  double perSecond = 0;
  double syncs = 0, compiles = 0, textParses = 0, fileParses = 0, opens = 0;
  long publications = 0;
};

Result run(const std::string& parent, int documents, const std::string& sample, const std::string& database = {}) {
  std::string dir = newFolder(parent);
  SiteOptions options;
  options.sampleData = true;
  options.database = database;
  Site::Create(dir, options);
  // As on a site in service, the configuration files are not brand new
  // (a file changed within the last seconds is read again at each use).
  for (const char* name : {kB2BConfigFileName, kSiteConfigFileName}) {
    timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ::utimensat(AT_FDCWD, (dir + "/" + name).c_str(), old, 0);
  }
  ::setenv(kSiteEnvironmentVariable, dir.c_str(), 1);
  General::ResetThreadState();
  std::string in = dir + "/xml/in1";
  for (int i = 0; i < kWarmUp + documents; ++i) {
    std::ofstream(in + "/doc-" + std::to_string(i) + ".xml", std::ios::binary) << orderText(sample, i);
  }
  for (int i = 0; i < kWarmUp; ++i) intake(in + "/doc-" + std::to_string(i) + ".xml");

  test::CallCounts before = test::Counts();
  auto start = Clock::now();
  for (int i = kWarmUp; i < kWarmUp + documents; ++i) intake(in + "/doc-" + std::to_string(i) + ".xml");
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  test::CallCounts used = test::Counts() - before;

  Result r;
  r.perSecond = documents / seconds;
  r.syncs = static_cast<double>(used.syncs) / documents;
  r.compiles = static_cast<double>(used.compiles) / documents;
  r.textParses = static_cast<double>(used.textParses) / documents;
  r.fileParses = static_cast<double>(used.fileParses) / documents;
  r.opens = static_cast<double>(used.opens) / documents;
  r.publications = DBUtils::getDisconnectedReadOnlyRecordSet("SELECT COUNT(*) FROM PUBLICATION")->Fields(0).Value().toInt32();
  General::ResetThreadState();
  Connection::ReleaseIdleHandles();
  fs::remove_all(dir);
  return r;
}

// Milliseconds for one 4 KiB write and fdatasync of a file in `parent`.
double syncFloor(const std::string& parent, int rounds) {
  std::string path = parent + "/quillon-bench-sync";
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write in " + parent);
  char block[4096] = {};
  auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    if (::pwrite(fd, block, sizeof block, static_cast<off_t>(i) * 4096) != static_cast<ssize_t>(sizeof block) ||
        ::fdatasync(fd) != 0)
      throw std::runtime_error("write or sync failed in " + parent);
  }
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / rounds;
  ::close(fd);
  ::unlink(path.c_str());
  return ms;
}

// Microseconds per document for the same rows through prepared statements
// in one transaction per document (the database work an intake cannot
// avoid), on a copy of the sample site's schema in `parent`.
double bareFloor(const std::string& parent, int documents, const std::string& sample) {
  std::string dir = newFolder(parent);
  Site::Create(dir, {});
  sqlite3* db = nullptr;
  sqlite3_open_v2(Site::DatabasePath(dir).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
  sqlite3_stmt *doc = nullptr, *pub = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, STATUS, CREATIONDATE, ORIGINALXMLBODY, XMLBODY) "
                     "VALUES ('ORDER', 'alice', 0, '2026-01-01 00:00:00', ?1, ?1)",
                     -1, &doc, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO PUBLICATION VALUES (?1, ?2, 0, 0, NULL)", -1, &pub, nullptr);
  auto start = Clock::now();
  for (int i = 0; i < documents; ++i) {
    std::string text = orderText(sample, i);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_bind_text(doc, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_step(doc);
    sqlite3_reset(doc);
    sqlite3_int64 id = sqlite3_last_insert_rowid(db);
    for (const char* user : {"bob", "dave"}) {
      sqlite3_bind_int64(pub, 1, id);
      sqlite3_bind_text(pub, 2, user, -1, SQLITE_STATIC);
      sqlite3_step(pub);
      sqlite3_reset(pub);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / documents;
  sqlite3_finalize(doc);
  sqlite3_finalize(pub);
  sqlite3_close(db);
  fs::remove_all(dir);
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  int documents = argc > 1 ? std::atoi(argv[1]) : 2000;
  std::string disk = argc > 2 ? argv[2] : "/var/tmp";
  std::string memory = argc > 3 ? argv[3] : "/dev/shm";
  if (documents <= 0) {
    std::fprintf(stderr, "usage: bench_intake [DOCUMENTS] [DISK_FOLDER] [MEMORY_FOLDER]\n");
    return 2;
  }
  if (!test::CountersActive()) {
    std::fprintf(stderr, "bench_intake: the call counters are not in effect (the executable must export them)\n");
    return 1;
  }
  try {
    std::string sample = readAll(Site::DataDir() + "/sample/documents/order.xml");
    Result onDisk = run(disk, documents, sample);
    Result inMemory = run(memory, documents, sample);
    Result onPostgres;
    std::string why;
    const bool postgres = test::PostgresServer::Available(&why);
    if (postgres) onPostgres = run(disk, documents, sample, test::PostgresServer::Shared().NewDatabase());
    double sync = syncFloor(disk, 200);
    double bare = bareFloor(memory, documents, sample);

    std::printf("intake steps, %d documents of the sample order (after %d warm-up documents)\n", documents, kWarmUp);
    std::printf("%-44s %14s %14s\n", "", "on disk", "in memory");
    std::printf("%-44s %14s %14s\n", "folder", disk.c_str(), memory.c_str());
    std::printf("%-44s %14.1f %14.1f\n", "documents/s", onDisk.perSecond, inMemory.perSecond);
    std::printf("%-44s %14.0f %14.0f\n", "wall time per document (us)", 1e6 / onDisk.perSecond,
                1e6 / inMemory.perSecond);
    std::printf("%-44s %14.2f %14.2f\n", "syncs (fsync+fdatasync)/document", onDisk.syncs, inMemory.syncs);
    std::printf("%-44s %14.2f %14.2f\n", "SQL statements compiled/document", onDisk.compiles, inMemory.compiles);
    std::printf("%-44s %14.2f %14.2f\n", "XML texts parsed/document", onDisk.textParses, inMemory.textParses);
    std::printf("%-44s %14.2f %14.2f\n", "XML files parsed/document (configuration)", onDisk.fileParses,
                inMemory.fileParses);
    std::printf("%-44s %14.2f %14.2f\n", "SQLite handles opened/document", onDisk.opens, inMemory.opens);
    std::printf("%-44s %14ld %14ld\n", "PUBLICATION rows at the end", onDisk.publications, inMemory.publications);
    if (postgres) {
      std::printf("PostgreSQL site (throwaway local cluster with fsync off, Unix socket, folders in %s)\n", disk.c_str());
      std::printf("%-44s %14.1f\n", "documents/s", onPostgres.perSecond);
      std::printf("%-44s %14.0f\n", "wall time per document (us)", 1e6 / onPostgres.perSecond);
      std::printf("%-44s %14.2f\n", "syncs (fsync+fdatasync)/document, this process", onPostgres.syncs);
      std::printf("%-44s %14ld\n", "PUBLICATION rows at the end", onPostgres.publications);
      std::printf("%-44s %14.2f\n", "PostgreSQL / SQLite on disk, documents/s", onPostgres.perSecond / onDisk.perSecond);
    } else {
      std::printf("PostgreSQL site: not measured (%s)\n", why.c_str());
    }
    std::printf("floor: one 4 KiB write + fdatasync on %-14s %10.2f ms (at most %.0f syncs/s)\n", disk.c_str(), sync,
                1000.0 / sync);
    std::printf("floor: the same rows through the bare C API     %10.1f us/document in memory (%.0f documents/s)\n",
                bare, 1e6 / bare);
    std::printf("intake in memory / bare C API floor             %10.1f x\n", (1e6 / inMemory.perSecond) / bare);
    return 0;
  } catch (const Error& e) {
    std::fprintf(stderr, "bench_intake: %s\n", e.description().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_intake: %s\n", e.what());
  }
  return 1;
}
