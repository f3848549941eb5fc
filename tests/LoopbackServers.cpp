#include "tests/LoopbackServers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace quillon::test {

namespace {

const char* kPython = "/usr/bin/python3";

std::string serversDir() { return std::string(QUILLON_SOURCE_DIR) + "/tests/servers"; }

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Writes beside the target and renames, so a server never reads half a file.
void replaceFile(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".tmp";
  writeAll(temp, bytes);
  fs::rename(temp, path);
}

bool canConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// A port nobody listens on right now (the kernel's choice).
int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

bool exited(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid;
}

// Runs a command to its end (for openssl); true on exit status 0.
bool runToEnd(const std::vector<std::string>& command, const std::string& log) {
  std::vector<char*> argv;
  for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(logFd, 1);
    ::dup2(logFd, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(logFd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

LoopbackServers::LoopbackServers() {
  char tmpl[] = "/tmp/quillon-servers-XXXXXX";
  if (!::mkdtemp(tmpl)) {
    ADD_FAILURE() << "cannot create the server folder: " << std::strerror(errno);
    return;
  }
  folder_ = tmpl;
  root_ = ::geteuid() == 0;
  if (root_) {
    const passwd* pw = ::getpwnam("nobody");
    const group* gr = ::getgrnam("nogroup");
    serverUid_ = pw ? pw->pw_uid : 65534;
    serverGid_ = gr ? gr->gr_gid : 65534;
  } else {
    serverUid_ = ::geteuid();
    serverGid_ = ::getegid();
  }
  ownForServers(folder_);
}

LoopbackServers::~LoopbackServers() {
  for (auto& s : servers_) stop(s);
  std::error_code ec;
  if (!folder_.empty()) fs::remove_all(folder_, ec);
}

void LoopbackServers::ownForServers(const std::string& path) const {
  if (root_ && ::chown(path.c_str(), serverUid_, serverGid_) != 0)
    ADD_FAILURE() << "cannot hand " << path << " to the server user: " << std::strerror(errno);
}

void LoopbackServers::MakeServerFolder(const std::string& path) const {
  // Every level below the work folder goes to the server user.
  fs::path p(path);
  std::vector<fs::path> made;
  for (fs::path q = p; !q.empty() && q.string().size() > folder_.size() && !fs::exists(q); q = q.parent_path())
    made.push_back(q);
  fs::create_directories(p);
  for (const auto& q : made) ownForServers(q.string());
}

void LoopbackServers::WriteServerFile(const std::string& path, const std::string& bytes) const {
  MakeServerFolder(fs::path(path).parent_path().string());
  writeAll(path, bytes);
  ownForServers(path);
}

LoopbackServers::Server LoopbackServers::launch(const std::string& name, const std::vector<std::string>& command,
                                                bool reportsPort, int knownPort, bool reportFailure) {
  Server s;
  s.name = name;
  std::vector<std::string> args;
  if (root_) {
    args = {"/usr/bin/setpriv", "--reuid=" + std::to_string(serverUid_), "--regid=" + std::to_string(serverGid_),
            "--clear-groups", "--pdeathsig", "SIGKILL"};
  }
  args.insert(args.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Debian's Python must not write byte-code caches into the source tree.
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "PYTHON", 6) != 0) envText.push_back(*e);
  envText.push_back("PYTHONDONTWRITEBYTECODE=1");
  std::vector<char*> envp;
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);

  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return s;
  }
  std::string logPath = folder_ + "/" + name + ".log";
  int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    ::dup2(in[0], 0);
    ::dup2(reportsPort ? out[1] : logFd, 1);
    ::dup2(logFd, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(logFd);
  s.pid = pid;
  s.stdinFd = in[1];

  auto deadline = Clock::now() + std::chrono::seconds(10);
  if (reportsPort) {
    std::string text;
    while (Clock::now() < deadline && text.find('\n') == std::string::npos) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 50) > 0) {
        char buffer[256];
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
      }
    }
    if (text.compare(0, 5, "PORT ") == 0) s.port = std::atoi(text.c_str() + 5);
  } else {
    while (Clock::now() < deadline && !exited(pid)) {
      if (canConnect(knownPort)) {
        s.port = knownPort;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ::close(out[0]);
  if (s.port == 0) {
    stop(s);
    if (reportFailure) ADD_FAILURE() << name << " did not start; its log says:\n" << readAll(logPath);
  }
  return s;
}

void LoopbackServers::stop(Server& s) {
  if (s.stdinFd >= 0) ::close(s.stdinFd);
  s.stdinFd = -1;
  if (s.pid <= 0) return;
  ::kill(s.pid, s.stopSignal);
  auto deadline = Clock::now() + std::chrono::seconds(3);
  bool gone = false;
  while (!(gone = exited(s.pid)) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (!gone) {
    ::kill(s.pid, SIGKILL);
    ::waitpid(s.pid, nullptr, 0);
  }
  s.pid = -1;
  s.port = 0;
}

pid_t LoopbackServers::Pid(int port) const {
  for (const auto& s : servers_)
    if (s.port == port) return s.pid;
  return -1;
}

void LoopbackServers::Stop(int port) {
  for (auto& s : servers_)
    if (s.port == port && s.pid > 0) stop(s);
}

int LoopbackServers::StartSmtp(const SmtpOptions& options) {
  MakeServerFolder(smtpMaildir());
  std::vector<std::string> command = {kPython, serversDir() + "/smtp_sink.py", "--maildir", smtpMaildir()};
  for (const auto& r : options.refuse) command.insert(command.end(), {"--refuse", r});
  if (!options.user.empty()) command.insert(command.end(), {"--user", options.user, "--password", options.password});
  if (options.deliverToBoxes) {
    MakeServerFolder(boxesRoot());
    command.insert(command.end(), {"--boxes", boxesRoot()});
  }
  servers_.push_back(launch("smtp", command, true, 0));
  return servers_.back().port;
}

std::vector<LoopbackServers::SmtpMessage> LoopbackServers::SmtpMessages() const {
  std::vector<SmtpMessage> messages;
  std::error_code ec;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(smtpMaildir() + "/new", ec), end; !ec && it != end; it.increment(ec))
    files.push_back(it->path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    SmtpMessage m;
    m.file = f.string();
    m.bytes = readAll(m.file);
    auto envelope = nlohmann::json::parse(readAll(smtpMaildir() + "/envelope/" + f.filename().string() + ".json"),
                                          nullptr, false);
    if (!envelope.is_discarded()) {
      m.mailFrom = envelope.value("mail_from", "");
      for (const auto& r : envelope["rcpt_tos"]) m.recipients.push_back(r.get<std::string>());
    }
    messages.push_back(std::move(m));
  }
  return messages;
}

int LoopbackServers::StartFtp(const std::string& user, const std::string& password) {
  MakeServerFolder(ftpRoot());
  std::vector<std::string> command = {kPython, serversDir() + "/ftp_server.py", "--root", ftpRoot(), "--user", user,
                                      "--password", password};
  servers_.push_back(launch("ftp", command, true, 0));
  return servers_.back().port;
}

int LoopbackServers::StartHttp(bool tls) {
  std::string dir = folder_ + "/http";
  MakeServerFolder(dir);
  std::vector<std::string> command = {kPython, serversDir() + "/http_server.py", "--folder", dir};
  if (tls) {
    std::string key = folder_ + "/http-key.pem";
    bool made = runToEnd({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                          "-nodes", "-keyout", key, "-out", httpCertificate(), "-days", "2", "-subj", "/CN=127.0.0.1",
                          "-addext", "subjectAltName=IP:127.0.0.1"},
                         folder_ + "/openssl.log");
    if (!made) {
      ADD_FAILURE() << "openssl could not make a certificate:\n" << readAll(folder_ + "/openssl.log");
      return 0;
    }
    ownForServers(key);
    ownForServers(httpCertificate());
    command.insert(command.end(), {"--cert", httpCertificate(), "--key", key});
  }
  servers_.push_back(launch(tls ? "https" : "http", command, true, 0));
  return servers_.back().port;
}

void LoopbackServers::SetHttpAnswer(const HttpAnswer& a) const {
  nlohmann::json j = {{"status", a.status},
                      {"reason", a.reason},
                      {"body", a.body},
                      {"contentType", a.contentType},
                      {"delay", a.delaySeconds}};
  std::string path = folder_ + "/http/answer.json";
  replaceFile(path, j.dump());
  ownForServers(path);
}

std::string LoopbackServers::HttpRecord::header(const std::string& name) const {
  for (const auto& [k, v] : headers)
    if (k.size() == name.size() && std::equal(k.begin(), k.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return v;
  return {};
}

bool LoopbackServers::HttpRecord::hasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(), [&](const auto& h) {
    return h.first.size() == name.size() && std::equal(h.first.begin(), h.first.end(), name.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
  });
}

std::vector<LoopbackServers::HttpRecord> LoopbackServers::HttpRequests() const {
  std::vector<HttpRecord> records;
  for (int n = 1;; ++n) {
    std::string base = folder_ + "/http/requests/" + std::to_string(n);
    if (!fs::exists(base + ".json")) break;
    auto j = nlohmann::json::parse(readAll(base + ".json"), nullptr, false);
    if (j.is_discarded()) break;
    HttpRecord r;
    r.method = j.value("method", "");
    r.path = j.value("path", "");
    r.version = j.value("version", "");
    for (const auto& h : j["headers"]) r.headers.emplace_back(h[0].get<std::string>(), h[1].get<std::string>());
    r.body = readAll(base + ".body");
    records.push_back(std::move(r));
  }
  return records;
}

std::string LoopbackServers::DeliverToBox(const std::string& account, const std::string& bytes) const {
  static std::atomic<unsigned> counter{0};
  std::string box = boxesRoot() + "/" + account;
  for (const char* sub : {"tmp", "new", "cur"}) MakeServerFolder(box + "/" + sub);
  char name[96];
  std::snprintf(name, sizeof name, "%lld.Q%06u_%d.loopback", static_cast<long long>(::time(nullptr)), ++counter,
                static_cast<int>(::getpid()));
  std::string temp = box + "/tmp/" + name;
  writeAll(temp, bytes);
  ownForServers(temp);
  fs::rename(temp, box + "/new/" + name);
  return name;
}

int LoopbackServers::StartImap(const std::vector<std::string>& accounts, const std::string& password) {
  std::string dir = folder_ + "/dovecot";
  MakeServerFolder(dir + "/run");
  MakeServerFolder(dir + "/state");
  MakeServerFolder(boxesRoot());
  std::string users;
  for (const auto& a : accounts) {
    for (const char* sub : {"tmp", "new", "cur"}) MakeServerFolder(boxesRoot() + "/" + a + "/" + sub);
    users += a + ":{PLAIN}" + password + "::::\n";
  }
  WriteServerFile(dir + "/passwd", users);
  const passwd* pw = ::getpwuid(serverUid_);
  const group* gr = ::getgrgid(serverGid_);
  std::string user = pw ? pw->pw_name : "nobody", groupName = gr ? gr->gr_name : "nogroup";

  for (int attempt = 0; attempt < 3; ++attempt) {
    int port = freePort();
    std::string conf = readAll(serversDir() + "/dovecot.conf.in");
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"@DIR@", dir},
             {"@USER@", user},
             {"@GROUP@", groupName},
             {"@UID@", std::to_string(serverUid_)},
             {"@GID@", std::to_string(serverGid_)},
             {"@MAILDIRS@", boxesRoot()},
             {"@PORT@", std::to_string(port)}}) {
      for (std::size_t at; (at = conf.find(name)) != std::string::npos;) conf.replace(at, name.size(), value);
    }
    WriteServerFile(dir + "/dovecot.conf", conf);
    Server s = launch("dovecot", {"/usr/sbin/dovecot", "-c", dir + "/dovecot.conf", "-F"}, false, port, attempt == 2);
    if (s.port != 0) {
      // Dovecot's orderly shutdown waits a second for its children; killed,
      // its children notice at once and end too.
      s.stopSignal = SIGKILL;
      servers_.push_back(s);
      return port;
    }
  }
  return 0;
}

}  // namespace quillon::test
