// The loopback servers must never outlive the test that started them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/LoopbackServers.h"

namespace quillon::test {
namespace {

// True while the process exists and is not a zombie waiting to be reaped.
bool running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

bool endsWithin(pid_t pid, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (running(pid) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !running(pid);
}

TEST(LoopbackServers, ServersEndWhenTheTestProcessIsKilled) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    LoopbackServers servers;
    int smtp = servers.StartSmtp();
    int ftp = servers.StartFtp();
    int imap = servers.StartImap({"alice"});
    pid_t pids[3] = {servers.Pid(smtp), servers.Pid(ftp), servers.Pid(imap)};
    char folder[256] = {};
    std::strncpy(folder, servers.folder().c_str(), sizeof folder - 1);
    if (::write(pipeFds[1], pids, sizeof pids) != sizeof pids || ::write(pipeFds[1], folder, sizeof folder) != sizeof folder)
      ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  pid_t pids[3] = {-1, -1, -1};
  char folder[256] = {};
  ASSERT_EQ(::read(pipeFds[0], pids, sizeof pids), static_cast<ssize_t>(sizeof pids));
  ASSERT_EQ(::read(pipeFds[0], folder, sizeof folder), static_cast<ssize_t>(sizeof folder));
  ::close(pipeFds[0]);
  for (pid_t p : pids) ASSERT_GT(p, 0);
  for (pid_t p : pids) EXPECT_TRUE(running(p));

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  for (pid_t p : pids) EXPECT_TRUE(endsWithin(p, std::chrono::seconds(3))) << "server " << p << " outlived its test";
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

TEST(LoopbackServers, StopEndsOneServerAndLeavesTheOthers) {
  LoopbackServers servers;
  int smtp = servers.StartSmtp();
  int http = servers.StartHttp();
  pid_t smtpPid = servers.Pid(smtp);
  servers.Stop(smtp);
  EXPECT_FALSE(running(smtpPid));
  EXPECT_EQ(servers.Pid(smtp), -1);
  EXPECT_TRUE(running(servers.Pid(http)));
}

}  // namespace
}  // namespace quillon::test
