// Network: the internet client for HTTP requests and FTP sessions (libcurl).
//
// HTTP. HttpSend makes one request (a form POST by default, or a GET) and
// returns the status code, the reason phrase of the status line, the
// headers and the body, whatever the status: a 500 answer is a response,
// not an error. Requests use HTTP/1.1, send no "Expect: 100-continue",
// follow no redirect (a form with credentials is never re-sent elsewhere)
// and verify HTTPS certificates (against caFile when given).
//
// FTP. An FtpSession logs in when it is made and keeps one connection (and
// its login) for all its operations; it works in a current directory that
// ChangeDirectory moves (a path starting with "/" is taken from the
// server's root, any other from the current directory). Names passed to
// the operations are relative to the current directory and may contain
// "/". Transfers are passive unless `active` is set. ASCII transfers send
// text with CRLF line ends whatever the local file has (LF or CRLF) and
// store received text with LF line ends; binary transfers keep every byte.
// A file is fetched into a temporary name beside its target and renamed
// when complete, so a failed transfer leaves no partial file. A session is
// used by one thread at a time; a second operation while one is running
// fails with 12110.
//
// Failures raise Error with a system error number of the Windows internet
// client where one fits (constants below; a local file error uses the
// Windows system numbers 2, 3, 5, 80), the source "Quillon.Http" or
// "Quillon.Ftp", and the client's own text as description; an error the
// server reported (12003) carries the server's answer. Texts never contain
// a password.
//
// libcurl lives in the module libquillon_net.so, loaded on first use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillon::net {

inline constexpr const char* kHttpSource = "Quillon.Http";
inline constexpr const char* kFtpSource = "Quillon.Ftp";

// System error numbers of the Windows internet client.
namespace wininet {
constexpr std::int32_t kTimeout = 12002;              // ERROR_INTERNET_TIMEOUT
constexpr std::int32_t kExtendedError = 12003;        // ERROR_INTERNET_EXTENDED_ERROR: the server's answer
constexpr std::int32_t kInternalError = 12004;        // ERROR_INTERNET_INTERNAL_ERROR
constexpr std::int32_t kInvalidUrl = 12005;           // ERROR_INTERNET_INVALID_URL
constexpr std::int32_t kUnrecognizedScheme = 12006;   // ERROR_INTERNET_UNRECOGNIZED_SCHEME
constexpr std::int32_t kNameNotResolved = 12007;      // ERROR_INTERNET_NAME_NOT_RESOLVED
constexpr std::int32_t kLoginFailure = 12015;         // ERROR_INTERNET_LOGIN_FAILURE
constexpr std::int32_t kCannotConnect = 12029;        // ERROR_INTERNET_CANNOT_CONNECT
constexpr std::int32_t kConnectionAborted = 12030;    // ERROR_INTERNET_CONNECTION_ABORTED
constexpr std::int32_t kConnectionReset = 12031;      // ERROR_INTERNET_CONNECTION_RESET
constexpr std::int32_t kInvalidCa = 12045;            // ERROR_INTERNET_INVALID_CA
constexpr std::int32_t kTransferInProgress = 12110;   // ERROR_FTP_TRANSFER_IN_PROGRESS
constexpr std::int32_t kFtpDropped = 12111;           // ERROR_FTP_DROPPED
constexpr std::int32_t kInvalidServerResponse = 12152;  // ERROR_HTTP_INVALID_SERVER_RESPONSE
constexpr std::int32_t kSecureChannelError = 12157;   // ERROR_INTERNET_SECURE_CHANNEL_ERROR
}  // namespace wininet

// Windows system error numbers used for local files and names.
namespace syserr {
constexpr std::int32_t kFileNotFound = 2;     // ERROR_FILE_NOT_FOUND
constexpr std::int32_t kPathNotFound = 3;     // ERROR_PATH_NOT_FOUND
constexpr std::int32_t kAccessDenied = 5;     // ERROR_ACCESS_DENIED
constexpr std::int32_t kFileExists = 80;      // ERROR_FILE_EXISTS
constexpr std::int32_t kInvalidName = 123;    // ERROR_INVALID_NAME
}  // namespace syserr

// A short text for a system error number above ("" for others), as the
// system's message table would give it.
std::string SystemErrorText(std::int32_t number);

struct HttpRequest {
  std::string url;     // "http://host[:port]/path" or "https://…"
  std::string method = "POST";  // "POST" or "GET"
  std::string body;    // sent as is (POST)
  std::string contentType = "application/x-www-form-urlencoded";
  std::string proxy;   // "" for a direct connection; "host" or "host:port"
  long proxyPort = -1; // added to a proxy without a port when not -1
  std::string caFile;  // CA certificates to trust for HTTPS ("" = the system's)
  std::string agent = "Quillon";
  long connectTimeoutSeconds = 60;
  long stallTimeoutSeconds = 300;  // no byte moving this long fails (0 = wait forever)
  long timeoutSeconds = 0;         // the whole request (0 = no limit)
};

struct HttpResponse {
  long status = 0;
  std::string reason;  // "OK", "Internal Server Error", … as the server wrote it
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

HttpResponse HttpSend(const HttpRequest& request);

enum class TransferMode { Ascii, Binary };

struct FtpOptions {
  std::string host;
  long port = 0;  // 0: 21
  std::string user;      // "" logs in as "anonymous"
  std::string password;
  bool active = false;  // PORT/EPRT instead of passive data connections
  std::string proxy;    // "" for a direct connection
  long proxyPort = -1;
  long connectTimeoutSeconds = 60;
  long stallTimeoutSeconds = 300;
};

class FtpBackend;

class FtpSession {
 public:
  // Connects and logs in; raises Error (12015 for a refused login).
  explicit FtpSession(const FtpOptions& options);
  ~FtpSession();
  FtpSession(const FtpSession&) = delete;
  FtpSession& operator=(const FtpSession&) = delete;

  // Raises 12003 with the server's answer when the folder does not exist;
  // the current directory then stays as it was.
  void ChangeDirectory(const std::string& path);
  // "" at the login directory, "in/orders", or "/edi/in".
  std::string CurrentDirectory() const;

  void PutFile(const std::string& localPath, const std::string& remoteName, TransferMode mode);
  void PutBytes(const std::string& bytes, const std::string& remoteName, TransferMode mode);
  // An existing local file is replaced unless failIfExists (then 80).
  void GetFile(const std::string& remoteName, const std::string& localPath, TransferMode mode, bool failIfExists = false);
  std::string GetBytes(const std::string& remoteName, TransferMode mode);
  void Delete(const std::string& remoteName);
  // Renames a file (RNFR/RNTO). The new name lies in the file's folder
  // unless it starts with "/" (then it is taken from the server's root).
  // Whether a file already holding the new name is replaced is the
  // server's choice (most replace it): check with List() first when that
  // matters. An upload under a temporary name followed by a rename never
  // shows a partly written file under its final name.
  void Rename(const std::string& fromName, const std::string& toName);
  // Names in the current directory ("." and ".." left out); filesOnly
  // leaves out folders where the server tells them apart (MLSD).
  std::vector<std::string> List(bool filesOnly = false);
  // True when the folder lists exactly this name (case counts); a missing
  // folder raises 12003.
  bool Exists(const std::string& remoteName);

 private:
  std::unique_ptr<FtpBackend> backend_;
};

}  // namespace quillon::net
