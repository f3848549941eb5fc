// PostgresServer: a throwaway PostgreSQL cluster for the tests of one process.
//
// Started on first use: initdb into a temporary folder (a copy of an
// initialised data folder kept in /tmp after the first run, which saves
// most of initdb's time), pg_ctl with the server listening on a Unix
// socket in that folder only, trust authentication for the user "quillon".
// When the tests run as root, initdb and the server run as "nobody"
// (PostgreSQL refuses root). Stopped and removed when the process exits.
//
// Each call of NewDatabase creates an empty database owned by "quillon"
// and returns its connection string, so every test gets a database of its
// own while the process starts the server once.
#pragma once

#include <string>

namespace quillon::test {

class PostgresServer {
 public:
  // False (with the reason) when the PostgreSQL server binaries are missing.
  static bool Available(std::string* why = nullptr);

  // The running cluster of this process (started on the first call).
  static PostgresServer& Shared();

  // A new empty database: "postgresql://quillon@/NAME?host=SOCKDIR&port=PORT".
  std::string NewDatabase();

  // Runs SQL with psql on database `name` as the cluster's superuser;
  // returns its output (unaligned, tuples only). Fails the test on error.
  std::string Psql(const std::string& name, const std::string& sql) const;

  const std::string& socketDir() const { return dir_; }
  int port() const { return port_; }

  ~PostgresServer();

 private:
  PostgresServer();
  std::string dir_;   // the cluster's folder: data/, the socket, the log
  int port_ = 5432;   // only names the socket file
  int next_ = 0;
  bool started_ = false;
};

// True when the site tests of this process run on PostgreSQL (environment
// variable QUILLON_TEST_DATABASE=postgresql), false for SQLite.
bool TestOnPostgres();

}  // namespace quillon::test
