// Time per GetParameter call against a bare prepared SELECT on the same
// site database through the SQLite C API, and their ratio.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/DBUtils.h"
#include "foundation/General.h"
#include "foundation/Site.h"
#include "platform/Configuration.h"

using namespace quillon;
using Clock = std::chrono::steady_clock;

namespace {

template <class F>
double nanosPerCall(long iterations, F&& f) {
  for (long i = 0; i < iterations / 10; ++i) f();  // warm up
  auto start = Clock::now();
  for (long i = 0; i < iterations; ++i) f();
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / static_cast<double>(iterations);
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = argc > 1 ? std::atol(argv[1]) : 200000;
  char tmpl[] = "/tmp/quillon-bench-XXXXXX";
  std::string dir = ::mkdtemp(tmpl);
  Site::Create(dir);
  ::setenv(kSiteEnvironmentVariable, dir.c_str(), 1);
  General::ResetThreadState();

  std::size_t sink = 0;
  double component = nanosPerCall(iterations, [&] { sink += DBUtils::GetParameter("SiteLink").size(); });

  sqlite3* db = nullptr;
  sqlite3_open_v2(Site::DatabasePath(dir).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT PARAMVALUE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = ?", -1, &st, nullptr);
  double bare = nanosPerCall(iterations, [&] {
    sqlite3_bind_text(st, 1, "SiteLink", -1, SQLITE_STATIC);
    if (sqlite3_step(st) == SQLITE_ROW) sink += static_cast<std::size_t>(sqlite3_column_bytes(st, 0));
    sqlite3_reset(st);
  });
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::filesystem::remove_all(dir);

  std::printf("iterations                     %ld\n", iterations);
  std::printf("GetParameter                   %10.0f ns/call\n", component);
  std::printf("bare prepared SELECT (C API)   %10.0f ns/call\n", bare);
  std::printf("ratio                          %10.2f (target <= 3)\n", component / bare);
  return sink == 0 ? 1 : 0;
}
