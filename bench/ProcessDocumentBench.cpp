// Document.ProcessDocument, document after document, on the embedded
// SQLite site, against a floor measured in the same run.
//
// Each document is a 3-4 KB order that a receive-method style sheet turns
// into the standard XML, with two user-defined fields, published to three
// recipients of one partner, pushed once by file path; notifications run
// and send nothing (no template, and nobody asks for a mail).
//
// Counted per document: SQL statements executed and compiled, XML texts
// and files parsed, XPath evaluations, style-sheet applications, syncs and
// SQLite handles opened. Statements, XPath evaluations and style-sheet
// applications are counted by wrappers in this executable; the others come
// from tests/CallCounters.h.
//
// The floor does per document what no intake can avoid, with libxml2 and
// SQLite directly: the same number of XML parses of the order, the same
// XPath look-ups (the expressions the intake compiled, replayed), the same
// number of SQL statements of the same kinds as prepared statements on one
// connection (each its own transaction, as the component runs them), and
// one sync of the write-ahead log per document.
//
// When the PostgreSQL server binaries are installed, the same intake runs
// once more in the same run on a PostgreSQL site (a throwaway local cluster
// on a Unix socket, restarted with a durable server's settings,
// bench/BenchPostgres.h; its data folder is on /tmp's disk), and documents per second are printed side by side.
//
//   bench_process_document [DOCUMENTS=2000] [FOLDER=/dev/shm]
#include <dlfcn.h>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "delivery/SendMethod.h"
#include "document/Document.h"
#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/Site.h"
#include "foundation/TSendMethodProperties.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "platform/Variant.h"
#include "tests/CallCounters.h"
#include "bench/BenchPostgres.h"
#include "tests/PostgresServer.h"

namespace fs = std::filesystem;
using namespace quillon;
using Clock = std::chrono::steady_clock;

// ---- counters of this benchmark ---------------------------------------------------------

namespace {
bool gCounting = false;   // only the component's work is counted
bool gCapturing = false;  // one document's statements and expressions are kept
std::uint64_t gStatements = 0, gXPath = 0, gTransforms = 0;
std::map<std::string, int> gStatementKinds;  // first word -> count, of the captured document
std::vector<std::string> gExpressions;       // XPath texts compiled for the captured document
std::vector<std::string> gStatementTexts;    // the statements of the captured document, in order

template <class F>
F* next(const char* name) {
  return reinterpret_cast<F*>(::dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" {

// A statement is executed when it is stepped while not running yet.
int sqlite3_step(sqlite3_stmt* stmt) {
  static auto* real = next<int(sqlite3_stmt*)>("sqlite3_step");
  if (gCounting && !sqlite3_stmt_busy(stmt)) {
    ++gStatements;
    if (gCapturing) {
      const char* sql = sqlite3_sql(stmt);
      std::string text = sql ? sql : "";
      std::size_t b = text.find_first_not_of(" \t\r\n(");
      std::size_t e = text.find_first_of(" \t\r\n", b);
      std::string word = b == std::string::npos ? "?" : text.substr(b, e - b);
      for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      ++gStatementKinds[word];
      gStatementTexts.push_back(text);
    }
  }
  return real(stmt);
}

xmlXPathObjectPtr xmlXPathCompiledEval(xmlXPathCompExprPtr comp, xmlXPathContextPtr ctx) {
  static auto* real = next<xmlXPathObjectPtr(xmlXPathCompExprPtr, xmlXPathContextPtr)>("xmlXPathCompiledEval");
  if (gCounting) ++gXPath;
  return real(comp, ctx);
}

xmlXPathCompExprPtr xmlXPathCtxtCompile(xmlXPathContextPtr ctxt, const xmlChar* str) {
  static auto* real = next<xmlXPathCompExprPtr(xmlXPathContextPtr, const xmlChar*)>("xmlXPathCtxtCompile");
  if (gCapturing && str) gExpressions.emplace_back(reinterpret_cast<const char*>(str));
  return real(ctxt, str);
}

// libxslt's entry point, reached by the style-sheet module.
void* xsltApplyStylesheetUser(void* style, void* doc, const char** params, const char* output, void* profile,
                              void* userCtxt) {
  // libxslt is loaded by the module, outside the global scope RTLD_NEXT searches.
  using Apply = void*(void*, void*, const char**, const char*, void*, void*);
  static auto* real = [] {
    void* lib = ::dlopen("libxslt.so.1", RTLD_LAZY | RTLD_NOLOAD);
    return reinterpret_cast<Apply*>(lib ? ::dlsym(lib, "xsltApplyStylesheetUser") : nullptr);
  }();
  if (gCounting) ++gTransforms;
  return real(style, doc, params, output, profile, userCtxt);
}

}  // extern "C"

namespace {

constexpr int kWarmUp = 50;

// CPU seconds of this process: on a machine shared with other work, the
// figure that says what one core does.
double cpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string newFolder(const std::string& parent) {
  std::string tmpl = parent + "/quillon-bench-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a folder in " + parent);
  return tmpl;
}

// An order of 3-4 KB: routed to the distribution list, with a number and
// a total for the user-defined fields.
std::string orderText(int n) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ORDER>\n  <DOCTYPE-ID>ORDER</DOCTYPE-ID>\n"
      "  <SENDER>alice</SENDER>\n  <USESDISTLIST>1</USESDISTLIST>\n  <NUMBER>PO-" +
      std::to_string(100000 + n) + "</NUMBER>\n  <DATE>2026-12-08</DATE>\n  <TOTAL>" + std::to_string(1000 + n % 997) +
      ".50</TOTAL>\n  <LINES>\n";
  for (int line = 1; line <= 40; ++line)
    xml += "    <LINE number=\"" + std::to_string(line) + "\" item=\"A-" + std::to_string(100 + line) +
           "\" quantity=\"" + std::to_string(line % 7 + 1) + "\" price=\"4.50\">Steel bolts M8, zinc</LINE>\n";
  return xml + "  </LINES>\n</ORDER>\n";
}

void exec(const std::string& sql) {
  auto conn = DBUtils::GetConnection();
  conn->Execute(sql);
  General::CloseConnection(conn);
}

// The sample site with what the benchmark's order needs; its database is
// the SQLite file in the site folder, or `database` when one is given.
std::string prepareSite(const std::string& parent, const std::string& database = {}) {
  std::string dir = newFolder(parent);
  SiteOptions options;
  options.sampleData = true;
  options.database = database;
  Site::Create(dir, options);
  // As on a site in service, the configuration files are not brand new
  // (a file changed within the last seconds is read again at each use).
  for (const char* name : {kB2BConfigFileName, kSiteConfigFileName}) {
    bench::MakeNotBrandNew(dir + "/" + name);
  }
  ::setenv(kSiteEnvironmentVariable, dir.c_str(), 1);
  General::ResetThreadState();

  std::ofstream(dir + "/xsl/transform/bench-order.xsl")
      << "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
         "<xsl:template match='@*|node()'><xsl:copy><xsl:apply-templates select='@*|node()'/></xsl:copy>"
         "</xsl:template><xsl:template match='ORDER'><ORDER><STANDARD>yes</STANDARD>"
         "<xsl:apply-templates select='@*|node()'/></ORDER></xsl:template></xsl:stylesheet>";
  // Not brand new either: a style sheet written in the last seconds is compiled at each use.
  bench::MakeNotBrandNew(dir + "/xsl/transform/bench-order.xsl");
  exec("INSERT INTO RECEIVEMETHOD (BUSINESSPARTNERID, DOCUMENTTYPEID, XSLFILENAME) VALUES (100, 'ORDER', "
       "'bench-order.xsl')");
  exec("INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, DESCRIPTION, SEQUENCENUMBER, TAGATTRXSL, XSLPATTERN) VALUES "
       "('ORDER', 'Number', 1, 1, 'NUMBER')");
  exec("INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, DESCRIPTION, SEQUENCENUMBER, TAGATTRXSL, XSLPATTERN) VALUES "
       "('ORDER', 'Total', 2, 1, 'TOTAL')");
  // Three recipients of Borealis Retail, none of whom wants a mail; the
  // sender neither.
  DirectoryAdmin::UserRecord erin;
  erin.cn = "erin";
  erin.partnerID = 200;
  erin.email = "erin@borealis.example";
  DirectoryAdmin::AddUser(DirectoryAdmin::DatabasePath(dir + "/" + kSiteConfigFileName), erin);
  exec("DELETE FROM DISTRIBUTIONLIST WHERE USERID = 'dave'");
  exec("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID, EMAIL, HTMLATTACHMENT, ATTACHMENTS) "
       "VALUES ('ORDER', 200, 'erin', 0, 0, 0)");
  exec("UPDATE DISTRIBUTIONLIST SET EMAIL = 0");
  exec("UPDATE SENDERLIST SET NOTIFICATION = 0");
  // Borealis Retail gets its orders as files.
  fs::create_directories(dir + "/outbox");
  TSendMethodProperties p;
  p.bAutoPush = true;
  p.nProtocol = ESendMethodProtocol::FilePath;
  p.nFormat = ESendMethodFormat::XML;
  p.sAddress = dir + "/outbox";
  p.sFileExtension = "xml";
  p.nSuffix = ESendMethodSuffix::None;
  p.nFileFormat = ESendMethodFileFormat::ASCII;
  SendMethod methods;
  methods.AddSendMethod2(methods.AddSendMethodProperties3(p, {"False", "", ""}), 200, "ORDER", -1);
  return dir;
}

std::int32_t intake(const std::string& text) {
  std::string originalType, originalRecipient, type, sender, defaultRecipient;
  std::int32_t docID = 0, senderBP = 0;
  std::int16_t status = 0;
  Document().ProcessDocument(0, text, originalType, originalRecipient, docID, senderBP, type, sender,
                             defaultRecipient, status);
  return docID;
}

struct Result {
  double perSecond = 0;     // wall clock
  double perCpuSecond = 0;  // CPU time
  double statements = 0, compiles = 0, textParses = 0, fileParses = 0, xpath = 0, transforms = 0, syncs = 0,
         opens = 0;
  std::string check;  // what the last document became
};

double perDoc(std::uint64_t n, int documents) { return static_cast<double>(n) / documents; }

Result runComponent(const std::string& dir, int documents) {
  for (int i = 0; i < kWarmUp; ++i) intake(orderText(i));
  // One document's statements and expressions, for the floor and the report.
  gCounting = gCapturing = true;
  intake(orderText(kWarmUp));
  gCapturing = false;
  gStatements = gXPath = gTransforms = 0;

  const test::CallCounts before = test::Counts();
  std::int32_t last = 0;
  const auto start = Clock::now();
  const double cpuStart = cpuSeconds();
  for (int i = 0; i < documents; ++i) last = intake(orderText(kWarmUp + 1 + i));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = cpuSeconds() - cpuStart;
  gCounting = false;
  const test::CallCounts used = test::Counts() - before;

  Result r;
  r.perSecond = documents / seconds;
  r.perCpuSecond = documents / cpu;
  r.statements = perDoc(gStatements, documents);
  r.compiles = perDoc(used.compiles, documents);
  r.textParses = perDoc(used.textParses, documents);
  r.fileParses = perDoc(used.fileParses, documents);
  r.xpath = perDoc(gXPath, documents);
  r.transforms = perDoc(gTransforms, documents);
  r.syncs = perDoc(used.syncs, documents);
  r.opens = perDoc(used.opens, documents);
  auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
      "SELECT (SELECT COUNT(*) FROM PUBLICATION WHERE DOCUMENTID = " + std::to_string(last) +
      ") || ' recipients, ' || (SELECT COUNT(*) FROM TAGSVALUE WHERE DOCUMENTID = " + std::to_string(last) +
      ") || ' field values, ' || (SELECT COUNT(*) FROM PUBLICATIONERRORS) || ' publication errors in all'");
  r.check = rs->Fields(0).Value().text();
  r.check += ", " + std::to_string(std::distance(fs::directory_iterator(dir + "/outbox"), fs::directory_iterator())) +
             " files pushed";
  return r;
}

struct Floor {
  double wallUs = 0, cpuUs = 0;  // per document
};

// The floor, per document.
Floor runFloor(const std::string& parent, int documents, const Result& component) {
  std::string dir = newFolder(parent);
  Site::Create(dir, {});
  const std::string dbPath = Site::DatabasePath(dir);
  sqlite3* db = nullptr;
  sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
  sqlite3_exec(db,
               "INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, STATUS, CREATIONDATE, ORIGINALXMLBODY, XMLBODY) "
               "VALUES ('ORDER', 'alice', 0, '2026-01-01 00:00:00', '', '')",
               nullptr, nullptr, nullptr);
  sqlite3_stmt *insert = nullptr, *select = nullptr, *update = nullptr, *remove = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, STATUS, CREATIONDATE, ORIGINALXMLBODY) "
                     "VALUES ('ORDER', 'alice', -1, '2026-01-01 00:00:00', ?1)",
                     -1, &insert, nullptr);
  sqlite3_prepare_v2(db, "SELECT * FROM DOCUMENT WHERE DOCUMENTID = ?1", -1, &select, nullptr);
  sqlite3_prepare_v2(db, "UPDATE DOCUMENT SET STATUS = 1, XMLBODY = ?2 WHERE DOCUMENTID = ?1", -1, &update, nullptr);
  sqlite3_prepare_v2(db, "DELETE FROM PUBLICATIONERRORS WHERE DOCUMENTID = ?1", -1, &remove, nullptr);

  // The statement mix of one intake, spread over the document's rows.
  const long total = std::lround(component.statements);
  long inserts = 0, updates = 0, deletes = 0;
  for (const auto& [kind, n] : gStatementKinds) {
    if (kind == "INSERT") inserts = n;
    if (kind == "UPDATE") updates = n;
    if (kind == "DELETE") deletes = n;
  }
  const long selects = std::max(0L, total - inserts - updates - deletes);
  const long parses = std::lround(component.textParses);
  const long lookups = std::lround(component.xpath);
  const int walFd = ::open((dbPath + "-wal").c_str(), O_RDWR);

  auto step = [](sqlite3_stmt* s) {
    while (sqlite3_step(s) == SQLITE_ROW) {
    }
    sqlite3_reset(s);
  };
  const auto start = Clock::now();
  const double cpuStart = cpuSeconds();
  for (int i = 0; i < documents; ++i) {
    const std::string text = orderText(i);
    xmlDocPtr doc = nullptr;
    for (long p = 0; p < parses; ++p) {
      if (doc) xmlFreeDoc(doc);
      doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, XML_PARSE_NONET);
    }
    if (doc && !gExpressions.empty()) {
      xmlXPathContextPtr ctx = xmlXPathNewContext(doc);
      for (long x = 0; x < lookups; ++x) {
        const std::string& expr = gExpressions[static_cast<std::size_t>(x) % gExpressions.size()];
        xmlXPathFreeObject(xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expr.c_str()), ctx));
      }
      xmlXPathFreeContext(ctx);
    }
    if (doc) xmlFreeDoc(doc);

    sqlite3_bind_text(insert, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    step(insert);
    const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
    for (long s = 1; s < inserts; ++s) {
      sqlite3_bind_text(insert, 1, "", 0, SQLITE_STATIC);
      step(insert);
    }
    for (long s = 0; s < updates; ++s) {
      sqlite3_bind_int64(update, 1, id);
      sqlite3_bind_text(update, 2, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
      step(update);
    }
    for (long s = 0; s < deletes; ++s) {
      sqlite3_bind_int64(remove, 1, id);
      step(remove);
    }
    for (long s = 0; s < selects; ++s) {
      sqlite3_bind_int64(select, 1, id - (s % 3));
      step(select);
    }
    if (walFd >= 0) ::fdatasync(walFd);
  }
  Floor f;
  f.wallUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / documents;
  f.cpuUs = (cpuSeconds() - cpuStart) * 1e6 / documents;
  if (walFd >= 0) ::close(walFd);
  for (sqlite3_stmt* s : {insert, select, update, remove}) sqlite3_finalize(s);
  sqlite3_close(db);
  fs::remove_all(dir);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const int documents = argc > 1 ? std::atoi(argv[1]) : 2000;
  const std::string folder = argc > 2 ? argv[2] : "/dev/shm";
  if (documents <= 0) {
    std::fprintf(stderr, "usage: bench_process_document [DOCUMENTS] [FOLDER]\n");
    return 2;
  }
  if (!test::CountersActive()) {
    std::fprintf(stderr, "bench_process_document: the call counters are not in effect (the executable must export them)\n");
    return 1;
  }
  try {
    const std::string dir = prepareSite(folder);
    const Result r = runComponent(dir, documents);
    General::ResetThreadState();
    fs::remove_all(dir);
    const Floor floor = runFloor(folder, documents, r);

    // The same intake on a PostgreSQL site. The statement counters see
    // SQLite only; the syncs counted are this process's own.
    std::string why;
    const bool postgres = test::PostgresServer::Available(&why);
    Result pg;
    std::string pgSettings;
    if (postgres) {
      auto& server = bench::DurablePostgres();
      pgSettings = bench::PostgresSettings(server);
      const std::string pgDir = prepareSite(folder, server.NewDatabase());
      pg = runComponent(pgDir, documents);
      General::ResetThreadState();
      Connection::ReleaseIdleHandles();
      fs::remove_all(pgDir);
    }

    std::printf("Document.ProcessDocument, %d documents of %zu bytes in %s (after %d warm-up documents)\n",
                documents, orderText(0).size(), folder.c_str(), kWarmUp + 1);
    std::printf("  each became: %s\n", r.check.c_str());
    std::printf("%-46s %12s %12s\n", "", "wall clock", "CPU time");
    std::printf("%-46s %12.1f %12.1f\n", "documents/s", r.perSecond, r.perCpuSecond);
    std::printf("%-46s %12.0f %12.0f\n", "time per document (us)", 1e6 / r.perSecond, 1e6 / r.perCpuSecond);
    std::printf("%-46s %12.2f\n", "SQL statements executed/document", r.statements);
    std::printf("%-46s %12.2f\n", "SQL statements compiled/document", r.compiles);
    std::printf("%-46s %12.2f\n", "XML texts parsed/document", r.textParses);
    std::printf("%-46s %12.2f\n", "XML files parsed/document", r.fileParses);
    std::printf("%-46s %12.2f\n", "XPath evaluations/document", r.xpath);
    std::printf("%-46s %12.2f\n", "style sheets applied/document", r.transforms);
    std::printf("%-46s %12.2f\n", "syncs (fsync+fdatasync)/document", r.syncs);
    std::printf("%-46s %12.2f\n", "SQLite handles opened/document", r.opens);
    std::printf("  statements of one document by kind:");
    for (const auto& [kind, n] : gStatementKinds) std::printf(" %s %d", kind.c_str(), n);
    std::printf("\n  XPath expressions compiled for one document: %zu\n", gExpressions.size());
    // QUILLON_BENCH_LIST=1 lists them, to see where the statements go.
    if (std::getenv("QUILLON_BENCH_LIST")) {
      for (const std::string& sql : gStatementTexts) std::printf("    sql: %s\n", sql.c_str());
      for (const std::string& x : gExpressions) std::printf("    xpath: %s\n", x.c_str());
    }
    std::printf("%-46s %12.0f %12.0f\n", "floor: same parses, look-ups, statements (us)", floor.wallUs, floor.cpuUs);
    std::printf("%-46s %12.0f %12.0f\n", "floor documents/s", 1e6 / floor.wallUs, 1e6 / floor.cpuUs);
    std::printf("%-46s %12.2f %12.2f\n", "component / floor", (1e6 / r.perSecond) / floor.wallUs,
                (1e6 / r.perCpuSecond) / floor.cpuUs);
    if (postgres) {
      std::printf("same intake, SQLite site (%s) and PostgreSQL site (local server, data on /tmp, %s):\n",
                  folder.c_str(), pgSettings.c_str());
      std::printf("  each became on PostgreSQL: %s\n", pg.check.c_str());
      std::printf("%-46s %12s %12s\n", "", "SQLite", "PostgreSQL");
      std::printf("%-46s %12.1f %12.1f\n", "documents/s (wall clock)", r.perSecond, pg.perSecond);
      std::printf("%-46s %12.0f %12.0f\n", "time per document (us)", 1e6 / r.perSecond, 1e6 / pg.perSecond);
      std::printf("%-46s %12.0f %12.0f\n", "CPU of this process per document (us)", 1e6 / r.perCpuSecond,
                  1e6 / pg.perCpuSecond);
      std::printf("%-46s %12.2f %12.2f\n", "syncs of this process/document", r.syncs, pg.syncs);
      std::printf("%-46s %12.2f %12.2f\n", "XML texts parsed/document", r.textParses, pg.textParses);
      std::printf("%-46s %12.2f\n", "PostgreSQL / SQLite, documents/s", pg.perSecond / r.perSecond);
    } else {
      std::printf("PostgreSQL site: not measured (%s)\n", why.c_str());
    }
    return 0;
  } catch (const Error& e) {
    std::fprintf(stderr, "bench_process_document: %s\n", e.description().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_process_document: %s\n", e.what());
  }
  return 1;
}
