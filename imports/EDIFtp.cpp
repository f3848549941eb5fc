// FTP for the EDI exchange: addresses, logins in a folder, uploads that
// never show a partial file, and the texts of failed internet commands.
#include <atomic>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "imports/EDIInternal.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace quillon::edi {

std::pair<std::string, std::string> ReadServerAndFolderFromFTPAddress(const std::string& address,
                                                                     const std::string& subFolder) {
  const std::string trimmed = text::Trim(address);
  if (text::LCase(trimmed.substr(0, 6)) != "ftp://")
    throw Error(InValidFileFormat, Source("readServerAndFolderFromFTPAddress"), "Invalid FTP folder " + address);
  const std::string rest = trimmed.substr(6);
  const std::size_t slash = rest.find('/');
  const std::string server = rest.substr(0, slash);
  if (slash == std::string::npos) return {server, text::Trim(subFolder)};
  std::string folder = rest.substr(slash);
  const bool folderEnds = !folder.empty() && folder.back() == '/';
  const bool subBegins = !subFolder.empty() && subFolder.front() == '/';
  if (folderEnds && subBegins)
    folder += subFolder.substr(1);
  else if (folderEnds || subBegins)
    folder += subFolder;
  else
    folder += "/" + subFolder;
  return {server, folder};
}

net::TransferMode TransferModeOf(std::int32_t transferType) {
  return transferType == kAsciiTransfer ? net::TransferMode::Ascii : net::TransferMode::Binary;
}

std::int32_t TransferFlagsOf(std::int32_t transferType) { return transferType == kAsciiTransfer ? 1 : 2; }

std::string BuildWinInetErrorText(std::int32_t number, const std::string& command, const Parameters& parameters,
                                  const std::string& server, std::int32_t port, const std::string& folder,
                                  const std::string& user, const std::string& details) {
  const std::string systemText = net::SystemErrorText(number);
  std::string t = "Error '" + std::to_string(number) + (systemText.empty() ? "" : " - " + systemText) +
                  "' occured in the following WinInet command : " + kCrLf + command + "(";
  for (std::size_t i = 0; i < parameters.size(); ++i)
    t += (i ? std::string(",") + kCrLf : std::string()) + "\t[" + parameters[i].first + "]=" + parameters[i].second;
  t += std::string(")") + kCrLf + "Using: " + "FTP Server    : '" + server + "' " + kCrLf + "Port          : '" +
       std::to_string(port) + "' " + kCrLf + "TargetFolder  : '" + folder + "' " + kCrLf + "UserID        : '" +
       user + "' ";
  if (!details.empty()) t += std::string(kCrLf) + "Details       : " + details;
  return t;
}

namespace {
std::atomic<long> gConnections{0};
}

FtpConnection::FtpConnection(const std::string& server, const std::string& folder, std::int32_t port,
                             const std::string& user, const std::string& password)
    : server_(server), folder_(folder), user_(user), port_(port), number_(++gConnections) {
  const std::string source = Source("makeFTPconnection");
  net::FtpOptions options;
  options.host = server;
  options.port = port;
  options.user = user;
  options.password = password;
  options.active = true;
  try {
    session_ = std::make_unique<net::FtpSession>(options);
  } catch (...) {
    Fail(source, "WinInet.InternetConnect",
         {{"hInternetSession", std::to_string(number_)},
          {"sServerName", server},
          {"nServerPort", std::to_string(port)},
          {"sUserName", user},
          {"sUserPassword", "********"},
          {"lService", "1"},
          {"lFlags", "0"},
          {"lContext", "0"}});
  }
  if (text::Trim(folder).empty()) return;
  try {
    session_->ChangeDirectory(folder);
  } catch (...) {
    Fail(source, "WinInet.FtpSetCurrentDirectory", {{"hFtpSession", handle()}, {"lpszDirectory", folder}});
  }
}

FtpConnection::~FtpConnection() = default;

std::string FtpConnection::handle() const { return std::to_string(number_); }

void FtpConnection::Fail(const std::string& source, const std::string& command, const Parameters& parameters) const {
  const ErrorInfo cause = ErrorInfo::current();
  throw Error(cause.number, source,
              BuildWinInetErrorText(cause.number, command, parameters, server_, port_, folder_, user_,
                                    cause.description));
}

namespace {

bool listed(const std::vector<std::string>& names, const std::string& name, bool anyCase) {
  for (const std::string& n : names)
    if (anyCase ? SameName(n, name) : n == name) return true;
  return false;
}

std::vector<std::string> listFolder(FtpConnection& connection, const std::string& pattern, const std::string& source) {
  try {
    return connection.session().List(false);
  } catch (...) {
    connection.Fail(source, "WinInet.FindFirstFile",
                    {{"hFtpSession", connection.handle()},
                     {"lpszSearchFile", pattern},
                     {"lpFindFileData", ""},
                     {"dwFlags", "0"},
                     {"dwContent", "0"}});
  }
}

}  // namespace

bool FilePresent(FtpConnection& connection, const std::string& file, const std::string& source) {
  const std::string wanted = text::Trim(file);
  for (const std::string& name : listFolder(connection, file, source))
    if (SameName(text::Trim(name), wanted)) return true;
  return false;
}

void UploadFile(FtpConnection& connection, const Place& localFile, const std::string& remoteName,
                std::int32_t transferType, const std::string& source) {
  net::FtpSession& ftp = connection.session();
  const std::string temporary = "~" + remoteName;
  auto putParameters = [&](const std::string& remote) {
    return Parameters{{"hFtpSession", connection.handle()},
                      {"lpszLocalFile", localFile.shown},
                      {"lpszRemoteFile", remote},
                      {"dwFlags(FileFormat)", std::to_string(TransferFlagsOf(transferType))},
                      {"dwContext", "0"}};
  };
  // The network takes a merged file away when it has read it; one still
  // there under this name (in any letter case) would be overwritten, and
  // the messages in it lost.
  if (listed(listFolder(connection, "*", source), remoteName, true)) {
    try {
      throw Error(net::syserr::kFileExists, net::kFtpSource,
                  "A file named '" + remoteName +
                      "' is still waiting in the folder: it is not replaced, and the messages are sent when the "
                      "network has taken it.");
    } catch (...) {
      connection.Fail(source, "WinInet.FtpPutFile", putParameters(remoteName));
    }
  }
  try {
    ftp.PutFile(localFile.local.string(), temporary, TransferModeOf(transferType));
  } catch (...) {
    const ErrorInfo cause = ErrorInfo::current();
    try {
      ftp.Delete(temporary);
    } catch (...) {
      // A partial upload under the temporary name is never taken for a
      // message file; the next upload replaces it.
    }
    try {
      throw Error(cause);
    } catch (...) {
      connection.Fail(source, "WinInet.FtpPutFile", putParameters(temporary));
    }
  }
  try {
    ftp.Rename(temporary, remoteName);
  } catch (...) {
    const ErrorInfo cause = ErrorInfo::current();
    // The answer to the rename may be lost although it was done.
    try {
      auto names = ftp.List(false);
      if (listed(names, remoteName, false) && !listed(names, temporary, false)) return;
    } catch (...) {
    }
    try {
      ftp.Delete(temporary);
    } catch (...) {
    }
    try {
      throw Error(cause);
    } catch (...) {
      connection.Fail(source, "WinInet.FtpRenameFile",
                      {{"hFtpSession", connection.handle()}, {"lpszExisting", temporary}, {"lpszNew", remoteName}});
    }
  }
}

}  // namespace quillon::edi
