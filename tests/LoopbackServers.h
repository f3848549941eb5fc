// LoopbackServers: real mail, FTP, HTTP and IMAP servers for tests.
//
// A LoopbackServers object owns a fresh work folder and starts, on request,
// each of these servers on 127.0.0.1 with a port the kernel chose:
//   SMTP  tests/servers/smtp_sink.py (aiosmtpd): every message kept byte for
//         byte in the Maildir smtpMaildir(), with its envelope
//   FTP   tests/servers/ftp_server.py (pyftpdlib): one user on ftpRoot()
//   HTTP  tests/servers/http_server.py: records every request and answers
//         as SetHttpAnswer says; optionally HTTPS with a fresh certificate
//   IMAP  Dovecot with its own configuration (tests/servers/dovecot.conf.in),
//         serving the Maildir accounts below boxesRoot() (the same folders
//         a Maildir mailbox reads)
// The Python servers run under /usr/bin/python3 (Debian's modules).
//
// Servers run as the current user, or as "nobody" when the test runs as
// root (Dovecot refuses root; the SMTP sink and Dovecot share the user so
// both can write the mailboxes). Every server exits with the test process,
// also when the process is killed, and the destructor stops them by
// process id and removes the folder. Starting fails the test (ADD_FAILURE)
// and returns 0 when a server does not come up within a few seconds.
//
// Typical use:
//   LoopbackServers servers;
//   int port = servers.StartSmtp();
//   ... send to 127.0.0.1:port ...
//   auto got = servers.SmtpMessages();   // arrival order
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace quillon::test {

class LoopbackServers {
 public:
  LoopbackServers();
  ~LoopbackServers();
  LoopbackServers(const LoopbackServers&) = delete;
  LoopbackServers& operator=(const LoopbackServers&) = delete;

  const std::string& folder() const { return folder_; }

  // Makes a folder (and its parents) the servers may write into.
  void MakeServerFolder(const std::string& path) const;
  // Writes a file the servers may replace or delete.
  void WriteServerFile(const std::string& path, const std::string& bytes) const;

  // --- SMTP sink ---
  struct SmtpOptions {
    std::vector<std::string> refuse;  // recipients answered "550"
    std::string user, password;       // require AUTH with these
    bool deliverToBoxes = false;      // also a copy per recipient into boxesRoot()/<local part>
  };
  int StartSmtp(const SmtpOptions& options);
  int StartSmtp() { return StartSmtp(SmtpOptions{}); }
  std::string smtpMaildir() const { return folder_ + "/smtp"; }
  struct SmtpMessage {
    std::string file;   // path in smtpMaildir()/new
    std::string bytes;  // exactly as received
    std::string mailFrom;
    std::vector<std::string> recipients;  // accepted envelope recipients
  };
  std::vector<SmtpMessage> SmtpMessages() const;

  // --- FTP ---
  int StartFtp(const std::string& user = "edi", const std::string& password = "secret");
  std::string ftpRoot() const { return folder_ + "/ftp"; }

  // --- HTTP ---
  int StartHttp(bool tls = false);
  // The certificate of the HTTPS server, to trust as CA file.
  std::string httpCertificate() const { return folder_ + "/http-cert.pem"; }
  struct HttpAnswer {
    int status = 200;
    std::string reason = "OK";
    std::string body;
    std::string contentType = "text/plain; charset=utf-8";
    double delaySeconds = 0;
  };
  void SetHttpAnswer(const HttpAnswer& answer) const;
  struct HttpRecord {
    std::string method, path, version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The first header of that name (any case); "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
  };
  std::vector<HttpRecord> HttpRequests() const;

  // --- Mailboxes and IMAP ---
  std::string boxesRoot() const { return folder_ + "/boxes"; }
  // Puts a message into the Maildir account (new/) as a mail service
  // would; returns its file name (the Maildir id).
  std::string DeliverToBox(const std::string& account, const std::string& bytes) const;
  // Dovecot serving the accounts below boxesRoot(), all with one password.
  int StartImap(const std::vector<std::string>& accounts, const std::string& password = "secret");

  // Stops one server (by the port Start* returned); the destructor stops all.
  void Stop(int port);
  // The process id of the server on that port (-1 when none runs).
  pid_t Pid(int port) const;

 private:
  struct Server {
    pid_t pid = -1;
    int port = 0;
    int stdinFd = -1;
    int stopSignal = 15;  // SIGTERM
    std::string name;
  };
  Server launch(const std::string& name, const std::vector<std::string>& command, bool reportsPort, int knownPort,
               bool reportFailure = true);
  void stop(Server& s);
  void ownForServers(const std::string& path) const;

  std::string folder_;
  std::vector<Server> servers_;
  bool root_ = false;
  unsigned serverUid_ = 0, serverGid_ = 0;
};

}  // namespace quillon::test
