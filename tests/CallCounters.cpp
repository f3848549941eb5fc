#include "tests/CallCounters.h"

#include <dlfcn.h>
#include <libxml/parser.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>

namespace {

std::atomic<std::uint64_t> gSyncs{0}, gCompiles{0}, gTextParses{0}, gFileParses{0}, gOpens{0};

// The next definition of `name` after this executable (libc, SQLite, libxml2).
template <class Fn>
Fn* next(const char* name) {
  void* p = ::dlsym(RTLD_NEXT, name);
  if (!p) {
    std::fprintf(stderr, "CallCounters: no real %s\n", name);
    std::abort();
  }
  return reinterpret_cast<Fn*>(p);
}

}  // namespace

extern "C" {

int fsync(int fd) {
  static auto* real = next<int(int)>("fsync");
  ++gSyncs;
  return real(fd);
}

int fdatasync(int fd) {
  static auto* real = next<int(int)>("fdatasync");
  ++gSyncs;
  return real(fd);
}

int sqlite3_prepare_v2(sqlite3* db, const char* sql, int bytes, sqlite3_stmt** stmt, const char** tail) {
  static auto* real = next<int(sqlite3*, const char*, int, sqlite3_stmt**, const char**)>("sqlite3_prepare_v2");
  ++gCompiles;
  return real(db, sql, bytes, stmt, tail);
}

int sqlite3_prepare_v3(sqlite3* db, const char* sql, int bytes, unsigned int flags, sqlite3_stmt** stmt,
                       const char** tail) {
  static auto* real =
      next<int(sqlite3*, const char*, int, unsigned int, sqlite3_stmt**, const char**)>("sqlite3_prepare_v3");
  ++gCompiles;
  return real(db, sql, bytes, flags, stmt, tail);
}

int sqlite3_open_v2(const char* file, sqlite3** db, int flags, const char* vfs) {
  static auto* real = next<int(const char*, sqlite3**, int, const char*)>("sqlite3_open_v2");
  ++gOpens;
  return real(file, db, flags, vfs);
}

xmlDocPtr xmlCtxtReadMemory(xmlParserCtxtPtr ctxt, const char* buffer, int size, const char* url, const char* encoding,
                            int options) {
  static auto* real =
      next<xmlDocPtr(xmlParserCtxtPtr, const char*, int, const char*, const char*, int)>("xmlCtxtReadMemory");
  ++(url ? gFileParses : gTextParses);
  return real(ctxt, buffer, size, url, encoding, options);
}

}  // extern "C"

namespace quillon::test {

CallCounts Counts() { return {gSyncs.load(), gCompiles.load(), gTextParses.load(), gFileParses.load(), gOpens.load()}; }

bool CountersActive() {
  // The global lookup finds the executable's definitions only when it
  // exports them; then the shared libraries bind to them as well.
  return ::dlsym(RTLD_DEFAULT, "sqlite3_prepare_v3") == reinterpret_cast<void*>(&sqlite3_prepare_v3) &&
         ::dlsym(RTLD_DEFAULT, "fdatasync") == reinterpret_cast<void*>(&fdatasync) &&
         ::dlsym(RTLD_DEFAULT, "xmlCtxtReadMemory") == reinterpret_cast<void*>(&xmlCtxtReadMemory);
}

}  // namespace quillon::test
