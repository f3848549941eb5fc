// Time of Queries.CheckDocTypeReferences on a site whose document type is
// used by many documents, against the query text that joined every
// referring table at once, and against a one-row look-up of the type on the
// same connection (the floor).
//
//   build/bench_doctype_references [DOCUMENTS] [OLD_QUERY_LIMIT]
//
// DOCUMENTS (default 100000) documents of the type are stored, with a few
// rows in each of the other referring tables. Both texts are timed at
// growing document counts; the joined one only up to OLD_QUERY_LIMIT
// (default: all of them), since its cost grows with the number of documents
// times the rows of every other referring table (144 per document here).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/ConnectionScope.h"
#include "foundation/General.h"
#include "foundation/Site.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "publication/Queries.h"

using namespace quillon;
using Clock = std::chrono::steady_clock;

namespace {

// The former text: one row per combination of referring rows, of which
// only the first was read.
const char* kJoinedQuery =
    "SELECT DISTINCT DOCUMENT.DOCUMENTTYPEID AS DO, RECEIVEMETHOD.DOCUMENTTYPEID AS R, "
    "TAGSCONFIG.DOCUMENTTYPEID AS T, SENDMETHOD.DOCUMENTTYPEID AS SM, XMLTEMPLATE.DOCUMENTTYPEID AS X, "
    "DOCTYPETODOCTYPE.DOCUMENTTYPEID AS DD, DOCTYPETODOCTYPE.NEWDOCUMENTTYPEID AS DN, "
    "SENDERLIST.DOCUMENTTYPEID AS SL, DISTRIBUTIONLIST.DOCUMENTTYPEID AS DB, RULEHEADER.ASSIGNEDID AS A, "
    "NOTIFICATIONTEMPLATE.DOCUMENTTYPEID AS NT "
    "FROM DOCUMENTTYPE LEFT OUTER JOIN DOCUMENT ON DOCUMENT.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
    "LEFT OUTER JOIN RECEIVEMETHOD ON RECEIVEMETHOD.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
    "LEFT OUTER JOIN TAGSCONFIG ON TAGSCONFIG.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
    "LEFT OUTER JOIN SENDMETHOD ON SENDMETHOD.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
    "LEFT OUTER JOIN XMLTEMPLATE ON XMLTEMPLATE.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
    "LEFT OUTER JOIN DOCTYPETODOCTYPE ON (DOCTYPETODOCTYPE.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID OR "
    "DOCTYPETODOCTYPE.NEWDOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID) "
    "LEFT OUTER JOIN SENDERLIST ON SENDERLIST.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
    "LEFT OUTER JOIN DISTRIBUTIONLIST ON DISTRIBUTIONLIST.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
    "LEFT OUTER JOIN RULEHEADER ON RULEHEADER.ASSIGNEDID = DOCUMENTTYPE.DOCUMENTTYPEID "
    "LEFT OUTER JOIN NOTIFICATIONTEMPLATE ON NOTIFICATIONTEMPLATE.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
    "WHERE DOCUMENTTYPE.DOCUMENTTYPEID = 'ORDER'";

template <class F>
double millis(F&& f) {
  auto start = Clock::now();
  f();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The best of `runs` timings, in milliseconds.
template <class F>
double bestOf(int runs, F&& f) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) best = std::min(best, millis(f));
  return best;
}

void execute(const std::string& sql) {
  ConnectionScope conn;
  conn.get()->Execute(sql);
}

// Adds documents of type ORDER until there are `count`, in one transaction.
void fillDocuments(long& stored, long count) {
  if (count <= stored) return;
  std::string sql = "WITH RECURSIVE N(I) AS (SELECT " + std::to_string(stored + 1) + " UNION ALL SELECT I + 1 FROM N WHERE I < " +
                    std::to_string(count) +
                    ") INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, STATUS, XMLBODY) "
                    "SELECT 'ORDER', 'alice', 1, '<ORDER><NUMBER>' || I || '</NUMBER></ORDER>' FROM N";
  execute(sql);
  stored = count;
}

}  // namespace

int main(int argc, char** argv) {
  const long documents = argc > 1 ? std::atol(argv[1]) : 100000;
  const long oldLimit = argc > 2 ? std::atol(argv[2]) : documents;
  char tmpl[] = "/tmp/quillon-bench-XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  Site::Create(dir);
  ::setenv(kSiteEnvironmentVariable, dir.c_str(), 1);
  General::ResetThreadState();

  // A busy type: a few rows in every table that can refer to it.
  execute("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Order'), ('INVOICE', 'Invoice')");
  execute("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES "
          "('ORDER', 200, 'bob'), ('ORDER', 200, 'carol'), ('ORDER', 300, 'dave')");
  execute("INSERT INTO SENDERLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('ORDER', 100, 'alice'), "
          "('ORDER', 100, 'erin')");
  execute("INSERT INTO SENDMETHOD (SENDMETHODID, BUSINESSPARTNERID, DOCUMENTTYPEID, RULEID) VALUES "
          "(1, 200, 'ORDER', -1), (2, 300, 'ORDER', 7)");
  execute("INSERT INTO RULEHEADER (RULETYPE, ASSIGNEDID) VALUES (2, 'ORDER')");
  execute("INSERT INTO RECEIVEMETHOD (BUSINESSPARTNERID, DOCUMENTTYPEID) VALUES (100, 'ORDER'), (200, 'ORDER')");
  execute("INSERT INTO TAGSCONFIG (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Number'), ('ORDER', 'Buyer'), "
          "('ORDER', 'Date')");
  execute("INSERT INTO XMLTEMPLATE (DOCUMENTTYPEID) VALUES ('ORDER')");
  execute("INSERT INTO NOTIFICATIONTEMPLATE (DOCUMENTTYPEID, BUSINESSPARTNERID, MODE) VALUES ('ORDER', 100, 1), "
          "('ORDER', 200, 1)");
  execute("INSERT INTO DOCTYPETODOCTYPE (DOCUMENTTYPEID, NEWDOCUMENTTYPEID) VALUES ('ORDER', 'INVOICE')");

  Queries queries;
  long stored = 0;
  std::printf("%-10s %16s %16s %12s\n", "documents", "joined text ms", "current ms", "floor ms");
  std::string answer;
  // Both texts on growing sites; the joined one while it stays affordable.
  for (long n = 250;; n = std::min(n * 2, documents)) {
    fillDocuments(stored, n);
    double current = bestOf(5, [&] { answer = queries.CheckDocTypeReferences("ORDER"); });
    double floor = bestOf(5, [&] {
      ConnectionScope conn;
      auto rs = conn.get()->Execute("SELECT DESCRIPTION FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = 'ORDER'");
      rs->Close();
    });
    if (n <= oldLimit) {
      double joined = millis([&] {
        ConnectionScope conn;
        auto rs = conn.get()->Execute(kJoinedQuery);
        rs->Close();
      });
      std::printf("%-10ld %16.1f %16.3f %12.3f\n", n, joined, current, floor);
    } else {
      std::printf("%-10ld %16s %16.3f %12.3f\n", n, "(skipped)", current, floor);
    }
    if (n >= documents) break;
  }
  if (oldLimit < documents) std::printf("joined text skipped above %ld documents\n", oldLimit);
  std::printf("answer: %s\n", answer.c_str());
  std::filesystem::remove_all(dir);
  return answer.empty() ? 1 : 0;
}
