#include "tests/PostgresServer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quillon::test {
namespace {

std::string binDir() {
  const char* env = std::getenv("QUILLON_PG_BIN");
  return env && *env ? env : "/usr/lib/postgresql/15/bin";
}

// initdb and the server refuse to run as root: they run as nobody then.
std::string asServerUser() { return ::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : ""; }

// Runs a shell command; its output (stdout and stderr) and exit status.
int run(const std::string& command, std::string* output = nullptr) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void runOrThrow(const std::string& command) {
  std::string out;
  if (run(command, &out) != 0) throw std::runtime_error(command + " failed: " + out);
}

// Where an initialised data folder is kept between test processes.
std::string templateDir() { return "/tmp/quillon-pg15-initdb-" + std::to_string(::geteuid()); }

pid_t ownerPid = 0;

}  // namespace

bool TestOnPostgres() {
  const char* v = std::getenv("QUILLON_TEST_DATABASE");
  return v && std::string(v) == "postgresql";
}

bool PostgresServer::Available(std::string* why) {
  for (const char* tool : {"initdb", "pg_ctl", "psql"}) {
    if (::access((binDir() + "/" + tool).c_str(), X_OK) != 0) {
      if (why) *why = binDir() + "/" + tool + " is missing (package postgresql-15)";
      return false;
    }
  }
  return true;
}

PostgresServer& PostgresServer::Shared() {
  static PostgresServer server;
  return server;
}

PostgresServer::PostgresServer() {
  ownerPid = ::getpid();
  char tmpl[] = "/tmp/qpg-XXXXXX";  // short: the socket path must stay under 108 bytes
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  if (::geteuid() == 0) runOrThrow("chown nobody:nogroup " + dir_);
  const std::string data = dir_ + "/data";
  const std::string tpl = templateDir();
  if (fs::exists(tpl + "/PG_VERSION")) {
    runOrThrow(asServerUser() + "cp -a " + tpl + " " + data);
  } else {
    runOrThrow(asServerUser() + binDir() + "/initdb -D " + data +
               " -U quillon --auth=trust -E UTF8 --locale=C.UTF-8 --no-sync --no-instructions");
    // Kept for the next process; renamed into place so that a process
    // running at the same time never copies half a folder.
    const std::string staging = tpl + ".tmp" + std::to_string(::getpid());
    if (run(asServerUser() + "cp -a " + data + " " + staging) == 0 && ::rename(staging.c_str(), tpl.c_str()) != 0)
      run("rm -rf " + staging);
  }
  runOrThrow(asServerUser() + binDir() + "/pg_ctl -w -D " + data + " -l " + dir_ + "/server.log -o \"-k " + dir_ +
             " -p " + std::to_string(port_) +
             " -c listen_addresses='' -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
             " -c max_connections=200\" start");
  started_ = true;
  // A watchdog stops the cluster and removes its folder once this process
  // is gone, also when it was killed or left without running destructors.
  run("setsid sh -c 'while kill -0 " + std::to_string(::getpid()) + " 2>/dev/null; do sleep 1; done; " +
      asServerUser() + binDir() + "/pg_ctl -D " + dir_ + "/data -m immediate -w stop; rm -rf " + dir_ +
      "' </dev/null >/dev/null 2>&1 &");
}

PostgresServer::~PostgresServer() {
  // A forked child leaving by exit() must not stop its parent's server.
  if (::getpid() != ownerPid) return;
  if (started_) run(asServerUser() + binDir() + "/pg_ctl -D " + dir_ + "/data -m immediate -w stop");
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string PostgresServer::NewDatabase() {
  std::string name = "site" + std::to_string(++next_);
  Psql("postgres", "CREATE DATABASE " + name + " OWNER quillon");
  return "postgresql://quillon@/" + name + "?host=" + dir_ + "&port=" + std::to_string(port_);
}

std::string PostgresServer::Psql(const std::string& name, const std::string& sql) const {
  const std::string file = dir_ + "/query.sql";
  std::ofstream(file, std::ios::binary) << sql;
  std::string out;
  int rc = run(binDir() + "/psql -X -A -t -q -v ON_ERROR_STOP=1 -h " + dir_ + " -p " + std::to_string(port_) +
                   " -U quillon -d " + name + " -f " + file,
               &out);
  EXPECT_EQ(rc, 0) << out << " in " << sql;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace quillon::test
