// Shared set-up of the EDI exchange tests: a site with EDI networks, staged
// outgoing messages and a look at folders.
#pragma once

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Encoding.h"
#include "imports/EDI.h"
#include "tests/TestSite.h"

namespace quillon::test {

struct EdiNetworkRow {
  std::string id = "NET1";
  int sequence = 1;
  bool useSemaphore = false;
  std::string stopFile = "STOP", startFile = "START", semaphore = "SEMAPHORE";
  std::string root, comFolder = "cmd", outFolder = "out", inFolder = "in";
  int protocol = 30;
  int port = 0;
  std::string user, password;
  int transferType = 20;
  std::string tempFolder;
};

class EdiSite : public TestSite {
 protected:
  void addNetwork(const EdiNetworkRow& n) const {
    using Encoding::SqlLong;
    using Encoding::SqlText;
    exec("INSERT INTO EDINETWORK (NETWORKID, SEQUENCE, USESEMAPHORE, STOPFILE, STARTFILE, SEMAPHORE, ROOTFOLDER, "
         "COMFOLDER, OUTFOLDER, INFOLDER, PROTOCOL, FTPPORT, FTPUSERID, FTPPASSWORD, FTPTRANSFERTYPE, TEMPFOLDER) "
         "VALUES (" +
         SqlText(n.id) + ", " + SqlLong(n.sequence) + ", " + SqlLong(n.useSemaphore ? 1 : 0) + ", " +
         SqlText(n.stopFile) + ", " + SqlText(n.startFile) + ", " + SqlText(n.semaphore) + ", " + SqlText(n.root) +
         ", " + SqlText(n.comFolder) + ", " + SqlText(n.outFolder) + ", " + SqlText(n.inFolder) + ", " +
         SqlLong(n.protocol) + ", " + SqlLong(n.port) + ", " + SqlText(n.user) + ", " + SqlText(n.password) + ", " +
         SqlLong(n.transferType) + ", " + SqlText(n.tempFolder) + ")");
  }

  // A network on local folders below the site: DIR/<id>/{cmd,out,in} and
  // the staging folder DIR/edi/<id>.
  EdiNetworkRow localNetwork(const std::string& id = "NET1") const {
    EdiNetworkRow n;
    n.id = id;
    n.root = dir() + "/" + id;
    n.tempFolder = dir() + "/edi/" + id;
    for (const char* sub : {"cmd", "out", "in"}) std::filesystem::create_directories(n.root + "/" + sub);
    return n;
  }

  // Stages an outgoing message as the EDI send method does.
  std::string stage(const EdiNetworkRow& n, const std::string& group, const std::string& relative,
                    const std::string& bytes) const {
    std::filesystem::path p = std::filesystem::path(n.tempFolder) / "Messages" / group / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }

  // Outgoing messages wait for the run after the second they were made
  // in: this waits until that second is over.
  static void letThisSecondPass() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::this_thread::sleep_until(floor<seconds>(now) + seconds(1) + milliseconds(20));
  }

  // Regular files directly in a folder, sorted.
  static std::vector<std::string> files(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file()) names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static bool exists(const std::string& path) { return std::filesystem::exists(path); }

  // The log entries whose message holds `part`.
  std::vector<LogEntry> logged(const std::string& part) const {
    std::vector<LogEntry> out;
    for (const LogEntry& e : logEntries())
      if (e.message.find(part) != std::string::npos) out.push_back(e);
    return out;
  }
};

// Runs `body` with the file-system rights of an ordinary user (uid 65534)
// when the test runs as root, which the permission bits would not stop.
template <class F>
void WithOrdinaryUserRights(F body) {
  const bool root = ::geteuid() == 0;
  if (root) {
    ::setfsgid(65534);
    ::setfsuid(65534);
  }
  try {
    body();
  } catch (...) {
    if (root) {
      ::setfsuid(0);
      ::setfsgid(0);
    }
    throw;
  }
  if (root) {
    ::setfsuid(0);
    ::setfsgid(0);
  }
}

}  // namespace quillon::test
