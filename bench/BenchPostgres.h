// The PostgreSQL server of a benchmark: the tests' throwaway cluster
// (tests/PostgresServer.h), restarted with a durable server's settings.
// The tests run their cluster with fsync and synchronous commit off; a
// benchmark that compares with SQLite's durable commits must pay for the
// same flushes, so the cluster is restarted without those options (its
// data folder stays on /tmp's disk, its socket where it was).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "tests/PostgresServer.h"

namespace quillon::bench {

inline test::PostgresServer& DurablePostgres() {
  auto& server = test::PostgresServer::Shared();
  static bool restarted = false;
  if (!restarted) {
    const char* env = std::getenv("QUILLON_PG_BIN");
    const std::string bin = env && *env ? env : "/usr/lib/postgresql/15/bin";
    const std::string user = ::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "";
    const std::string command = user + bin + "/pg_ctl -w -m fast -D " + server.socketDir() + "/data -l " +
                                server.socketDir() + "/server.log -o \"-k " + server.socketDir() + " -p " +
                                std::to_string(server.port()) +
                                " -c listen_addresses='' -c max_connections=200\" restart >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("cannot restart the PostgreSQL cluster");
    restarted = true;
  }
  return server;
}

// "fsync on, synchronous_commit on, full_page_writes on" as the server says.
inline std::string PostgresSettings(test::PostgresServer& server) {
  return server.Psql("postgres",
                     "SELECT 'fsync ' || current_setting('fsync') || ', synchronous_commit ' ||"
                     " current_setting('synchronous_commit') || ', full_page_writes ' ||"
                     " current_setting('full_page_writes')");
}

}  // namespace quillon::bench
