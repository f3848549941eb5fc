// The entry points of libquillon_net.so (libcurl HTTP, FTP and IMAP),
// shared by the module and its fronts (platform/Network.cpp,
// platform/Mailbox.cpp). The rest of the component sees platform/Network.h
// and platform/Mailbox.h only.
//
// The module exports one C function returning a versioned table; sessions
// are objects behind the abstract classes below. Entry points raise
// quillon::Error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Network.h"

namespace quillon::net {

class FtpBackend {
 public:
  virtual ~FtpBackend() = default;
  virtual void changeDirectory(const std::string& path) = 0;
  virtual std::string currentDirectory() const = 0;
  virtual void putFile(const std::string& localPath, const std::string& remoteName, TransferMode mode) = 0;
  virtual void putBytes(const std::string& bytes, const std::string& remoteName, TransferMode mode) = 0;
  virtual void getFile(const std::string& remoteName, const std::string& localPath, TransferMode mode,
                       bool failIfExists) = 0;
  virtual std::string getBytes(const std::string& remoteName, TransferMode mode) = 0;
  virtual void remove(const std::string& remoteName) = 0;
  virtual std::vector<std::string> list(bool filesOnly) = 0;
  virtual bool exists(const std::string& remoteName) = 0;
  virtual void rename(const std::string& fromName, const std::string& toName) = 0;
};

struct ImapOptions {
  std::string host;
  long port = 0;                 // 0: 143, or 993 with "tls"
  std::string security = "none"; // "none", "starttls" or "tls"
  std::string user;
  std::string password;
  std::string caFile;
  std::string folder = "INBOX";
  long connectTimeoutSeconds = 30;
  long stallTimeoutSeconds = 120;
};

class ImapBackend {
 public:
  virtual ~ImapBackend() = default;
  virtual std::vector<std::uint64_t> uids() = 0;  // ascending
  virtual std::string fetch(std::uint64_t uid) = 0;
  virtual void remove(std::uint64_t uid) = 0;
};

struct NetModuleApi {
  int version;
  HttpResponse (*httpSend)(const HttpRequest& request);
  FtpBackend* (*ftpOpen)(const FtpOptions& options);
  ImapBackend* (*imapOpen)(const ImapOptions& options, const char* source);
};

inline constexpr int kNetModuleVersion = 2;
inline constexpr const char* kNetModuleName = "net";
inline constexpr const char* kNetModuleSymbol = "quillon_net_module";

// The module's table (loads libquillon_net.so on first use).
const NetModuleApi& NetModule();

}  // namespace quillon::net

extern "C" const quillon::net::NetModuleApi* quillon_net_module();
