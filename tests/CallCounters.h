// CallCounters: how often a process asks the disk to sync, opens a
// database, compiles an SQL statement and parses an XML text, for tests
// and benchmarks.
//
// The counters come from wrappers around fsync/fdatasync (libc),
// sqlite3_open_v2 and sqlite3_prepare_v2/v3 (SQLite) and xmlCtxtReadMemory
// (libxml2) that are linked into the executable: the executable must export them
// (ENABLE_EXPORTS in CMake), so calls from the shared libraries of the
// component reach the wrappers first; each wrapper counts and calls the
// real function. Nothing in the component changes.
//
// Counters are process-wide and thread-safe.
#pragma once

#include <cstdint>

namespace quillon::test {

struct CallCounts {
  std::uint64_t syncs = 0;         // fsync + fdatasync calls
  std::uint64_t compiles = 0;      // SQL statements prepared
  std::uint64_t textParses = 0;    // XML parses of a text in memory (no document URL)
  std::uint64_t fileParses = 0;    // XML parses of a file (a document URL is given)
  std::uint64_t opens = 0;         // SQLite database handles opened

  CallCounts operator-(const CallCounts& o) const {
    return {syncs - o.syncs, compiles - o.compiles, textParses - o.textParses, fileParses - o.fileParses,
            opens - o.opens};
  }
};

// The counts so far in this process.
CallCounts Counts();

// True when the wrappers are in effect (the executable exports them and
// the component's libraries resolved to them).
bool CountersActive();

}  // namespace quillon::test
