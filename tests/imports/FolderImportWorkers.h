// What the folder-import tests that run several workers share: numbered
// orders, worker processes of the command, and the count of documents each
// order became (on SQLite and PostgreSQL sites alike).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Database.h"

extern char** environ;

namespace quillon::test {

// An order for bob from alice whose NUMBER is "N" and five digits of n.
inline std::string NumberedOrder(int n) {
  char number[16];
  std::snprintf(number, sizeof number, "N%05d", n);
  return std::string("<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><RECEIVER>bob</RECEIVER><NUMBER>") +
         number + "</NUMBER></ORDER>";
}

// The default notification templates of a site in service, so that every
// scheduled intake writes its mails.
inline constexpr const char* kDefaultNotificationTemplates =
    "INSERT INTO NOTIFICATIONTEMPLATE (DOCUMENTTYPEID, BUSINESSPARTNERID, MODE, SUBJECT, BODY) VALUES "
    "('-1', -1, 1, 'Sent', 'Sent'), ('-1', -1, 2, 'New', 'New'), ('-1', -2, 2, 'Copy', 'Copy')";

// Starts `CLI --site SITE run folder-import` with its standard output and
// error appended to the file `output`; 0 when it could not be started.
inline pid_t StartImportWorker(const std::string& cli, const std::string& site, const std::string& output) {
  std::vector<std::string> args = {cli, "--site", site, "run", "folder-import"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline int WaitForWorker(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// How many stored documents each order number ("N00042") became; "?" counts
// documents without one.
inline std::map<std::string, int> DocumentsByOrderNumber(const std::string& connectionString) {
  std::map<std::string, int> out;
  auto conn = std::make_shared<Connection>();
  conn->Open(connectionString);
  auto rs = conn->Execute("SELECT ORIGINALXMLBODY FROM DOCUMENT");
  for (; !rs->EOF_(); rs->MoveNext()) {
    const std::string body = rs->Fields(0).Value().toString();
    const std::size_t at = body.find("<NUMBER>");
    ++out[at == std::string::npos ? "?" : body.substr(at + 8, 6)];
  }
  rs->Close();
  conn->Close();
  return out;
}

}  // namespace quillon::test
