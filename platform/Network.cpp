#include "platform/Network.h"

#include "platform/Error.h"
#include "platform/LazyModule.h"
#include "platform/net/NetModule.h"

namespace quillon::net {

const NetModuleApi& NetModule() {
  auto* entry = LazyModule::Function<const NetModuleApi*()>(kNetModuleName, kNetModuleSymbol);
  const NetModuleApi* api = entry();
  if (!api || api->version != kNetModuleVersion)
    throw Error(hr::kCannotCreate, "Quillon.Network", "The network module libquillon_net.so does not match this platform library.");
  return *api;
}

std::string SystemErrorText(std::int32_t number) {
  switch (number) {
    case syserr::kFileNotFound: return "The system cannot find the file specified.";
    case syserr::kPathNotFound: return "The system cannot find the path specified.";
    case syserr::kAccessDenied: return "Access is denied.";
    case syserr::kFileExists: return "The file exists.";
    case syserr::kInvalidName: return "The file name, directory name, or volume label syntax is incorrect.";
    case wininet::kTimeout: return "The operation timed out.";
    case wininet::kExtendedError: return "The server returned extended information.";
    case wininet::kInternalError: return "An internal error occurred in the internet client.";
    case wininet::kInvalidUrl: return "The URL is invalid.";
    case wininet::kUnrecognizedScheme: return "The URL does not use a recognized protocol.";
    case wininet::kNameNotResolved: return "The server name or address could not be resolved.";
    case wininet::kLoginFailure: return "The login request was denied.";
    case wininet::kCannotConnect: return "A connection with the server could not be established.";
    case wininet::kConnectionAborted: return "The connection with the server was terminated abnormally.";
    case wininet::kConnectionReset: return "The connection with the server was reset.";
    case wininet::kInvalidCa: return "The certificate authority is invalid or incorrect.";
    case wininet::kTransferInProgress: return "There is already an FTP request in progress on this session.";
    case wininet::kFtpDropped: return "The FTP session was terminated.";
    case wininet::kInvalidServerResponse: return "The server response could not be parsed.";
    case wininet::kSecureChannelError: return "An error occurred in the secure channel support.";
    default: return {};
  }
}

HttpResponse HttpSend(const HttpRequest& request) { return NetModule().httpSend(request); }

FtpSession::FtpSession(const FtpOptions& options) : backend_(NetModule().ftpOpen(options)) {}
FtpSession::~FtpSession() = default;

void FtpSession::ChangeDirectory(const std::string& path) { backend_->changeDirectory(path); }
std::string FtpSession::CurrentDirectory() const { return backend_->currentDirectory(); }
void FtpSession::PutFile(const std::string& localPath, const std::string& remoteName, TransferMode mode) {
  backend_->putFile(localPath, remoteName, mode);
}
void FtpSession::PutBytes(const std::string& bytes, const std::string& remoteName, TransferMode mode) {
  backend_->putBytes(bytes, remoteName, mode);
}
void FtpSession::GetFile(const std::string& remoteName, const std::string& localPath, TransferMode mode,
                         bool failIfExists) {
  backend_->getFile(remoteName, localPath, mode, failIfExists);
}
std::string FtpSession::GetBytes(const std::string& remoteName, TransferMode mode) {
  return backend_->getBytes(remoteName, mode);
}
void FtpSession::Delete(const std::string& remoteName) { backend_->remove(remoteName); }
void FtpSession::Rename(const std::string& fromName, const std::string& toName) {
  backend_->rename(fromName, toName);
}
std::vector<std::string> FtpSession::List(bool filesOnly) { return backend_->list(filesOnly); }
bool FtpSession::Exists(const std::string& remoteName) { return backend_->exists(remoteName); }

}  // namespace quillon::net
