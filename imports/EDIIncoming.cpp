// Incoming EDI files: each file of the network's in folder arrives in the
// first XML import folder as "<name>_<network>_<time>.xml" for the folder
// import.
//
// A file is never lost and never taken twice: it appears in the import
// folder under its final name only when complete (a rename, or a synced
// copy under a "~" name that the folder import never picks up), it never
// replaces a file there (a second file of the same name and second gets
// "_1", "_2", … before ".xml"), and it is removed from the network before
// it is published: when that removal fails, the fetched copy is dropped
// and the file stays on the network for the next run.
#include <sys/stat.h>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "imports/EDIInternal.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace quillon::edi {

namespace {

// The incoming name with "_n" before ".xml" for the n-th try (0: as is).
std::string numbered(const std::string& name, int n) {
  if (n == 0) return name;
  return name.substr(0, name.size() - 4) + "_" + std::to_string(n) + ".xml";
}

bool taken(const Place& folder, const std::string& name) {
  struct stat st {};
  return ::lstat(Child(folder, name).local.c_str(), &st) == 0 ||
         ::lstat(Child(folder, "~" + name).local.c_str(), &st) == 0;
}

// The first numbered form of the name that is free in the folder.
std::string freeName(const Place& folder, const std::string& name) {
  for (int n = 0;; ++n)
    if (!taken(folder, numbered(name, n)) || n >= 100000) return numbered(name, n);
}

constexpr int kMaxTries = 100;

// Renames a received "~" file to a free final name; false with the error
// when that failed (the file then stays under its "~" name).
bool publish(const Place& temporary, const Place& folder, const std::string& name, std::error_code& ec) {
  std::string candidate = name;
  for (int attempt = 0; attempt < kMaxTries; ++attempt) {
    if (RenameNoReplace(temporary.local, Child(folder, candidate).local, ec)) {
      SyncFolder(folder.local);
      return true;
    }
    if (ec != std::errc::file_exists) return false;
    candidate = freeName(folder, name);
  }
  return false;
}

void logStaysAsTemporary(const Place& temporary, const std::string& from, const std::error_code& ec, Counts& counts) {
  try {
    LocalFiles::Raise(hr::kPathFileAccess, Source("moveFilesFromEDINetworkToB2B"), "The received file cannot be renamed",
                      temporary.shown, ec);
  } catch (...) {
    LogFailure(Source("moveFilesFromEDINetworkToB2B"),
               "The file '" + from + "' was received and removed from the EDI network; it stays as '" +
                   temporary.shown + "' in the import folder.",
               counts);
  }
}

// Protocol 30: one file from the network's in folder into the import folder.
void receiveLocalFile(const Place& file, const Place& import, const Network& network, Counts& counts) {
  const std::string name = freeName(import, MakeIncomingFileName(file.local.filename().string(), network.id, wallClockSeconds()));
  Place target = Child(import, name);
  try {
    std::error_code ec;
    for (int attempt = 0; attempt < kMaxTries; ++attempt) {
      // Within one file system the file moves whole, in one step.
      if (RenameNoReplace(file.local, target.local, ec)) {
        SyncFolder(import.local);
        ++counts.filesReceived;
        return;
      }
      if (ec != std::errc::file_exists) break;
      target = Child(import, freeName(import, name));
    }
    if (ec != std::errc::cross_device_link)
      LocalFiles::Raise(hr::kPathFileAccess, Source("moveFilesFromEDINetworkToB2B"), "The file cannot be moved", file.shown, ec);
    // Across file systems: a synced copy under a "~" name, then the
    // original is removed, then the copy gets its name.
    const Place temporary = Child(import, "~" + target.local.filename().string());
    if (!CopyDurably(file.local, temporary.local, ec)) {
      RemoveQuietly(temporary.local);
      LocalFiles::Raise(hr::kPathFileAccess, Source("moveFilesFromEDINetworkToB2B"), "The file cannot be copied to", temporary.shown, ec);
    }
    std::error_code removeError;
    fs::remove(file.local, removeError);
    if (removeError) {
      RemoveQuietly(temporary.local);
      LocalFiles::Raise(hr::kPathFileAccess, Source("moveFilesFromEDINetworkToB2B"), "The file cannot be removed", file.shown, removeError);
    }
    ++counts.filesReceived;
    if (!publish(temporary, import, target.local.filename().string(), ec)) logStaysAsTemporary(temporary, file.shown, ec, counts);
  } catch (...) {
    LogFailure(Source("moveFilesFromEDINetworkToB2B"),
               "Error in moving file '" + file.shown + "' to '" + target.shown + "'", counts);
  }
}

// One file of the FTP in folder: fetched under a "~" name, deleted on the
// server, then published in the import folder. Raises when the file cannot
// be fetched or deleted; no local copy is left then.
void receiveFtpFile(FtpConnection& connection, const std::string& name, const Place& import, const Network& network,
                    Counts& counts) {
  const std::string source = Source("moveFilesFromEDINetworkToB2B");
  net::FtpSession& ftp = connection.session();
  const std::string flags = std::to_string(TransferFlagsOf(network.ftpTransferType));
  const std::string finalName = freeName(import, MakeIncomingFileName(name, network.id, wallClockSeconds()));
  const Place temporary = Child(import, "~" + finalName);
  try {
    ftp.GetFile(name, temporary.local.string(), TransferModeOf(network.ftpTransferType));
  } catch (...) {
    // A partial copy is never taken for the file.
    RemoveQuietly(temporary.local);
    connection.Fail(source, "WinInet.FtpGetFile",
                    {{"hFtpSession", connection.handle()},
                     {"lpszRemoteFile", name},
                     {"lpszNewFile", temporary.shown},
                     {"fFailIfExist", "False"},
                     {"dwFlagsAndAttributes", "128"},
                     {"dwFlags", flags},
                     {"dwContext", "0"}});
  }
  try {
    ftp.Delete(name);
  } catch (...) {
    // Kept, the copy would be taken in again with the next run's copy.
    RemoveQuietly(temporary.local);
    connection.Fail(source, "WinInet.FtpDeleteFile", {{"hFtpSession", connection.handle()}, {"lpszFileName", name}});
  }
  ++counts.filesReceived;
  std::error_code ec;
  if (!publish(temporary, import, finalName, ec)) logStaysAsTemporary(temporary, name, ec, counts);
}

void receiveByFtp(const Network& network, const std::string& server, const std::string& folder, const Place& import,
                  Counts& counts) {
  const std::string source = Source("moveFilesFromEDINetworkToB2B");
  FtpConnection connection(server, folder, network.ftpPort, network.ftpUser, network.ftpPassword);
  net::FtpSession& ftp = connection.session();
  std::vector<std::string> names;
  try {
    names = ftp.List(true);
  } catch (...) {
    connection.Fail(source, "WinInet.FindFirstFile",
                    {{"hFtpSession", connection.handle()},
                     {"lpszSearchFile", "*"},
                     {"lpFindFileData", ""},
                     {"dwFlags", "0"},
                     {"dwContext", "0"}});
  }
  for (const std::string& listedName : names) {
    const std::string name = text::Trim(listedName);
    // A "~" file is still being written.
    if (name.empty() || name == "." || name == ".." || name[0] == '~') continue;
    // A file that cannot be fetched or let go (a folder the server does
    // not tell apart, a file it may not read) is logged and the next file
    // follows, so one such entry never blocks the rest of the folder.
    try {
      receiveFtpFile(connection, name, import, network, counts);
    } catch (...) {
      LogFailure(source, "Error in moving file '" + name + "' from the EDI network to '" + import.shown + "'", counts);
    }
  }
}

}  // namespace

void MoveFilesFromEDINetworkToB2B(const Network& network, const std::string& importFolder, Counts& counts) {
  const std::string source = Source("moveFilesFromEDINetworkToB2B");
  std::string sourceFolder, server;
  auto information = [&] {
    const bool ftp = network.protocol == kFtp;
    return std::string("Error in moving files to Collaboration for : ") + kCrLf + "EDI Network       : " + network.id +
           kCrLf + "Source Folder     : " + sourceFolder + kCrLf + "Destination Folder: " + importFolder + kCrLf +
           "Protocol          : " + std::to_string(network.protocol) + kCrLf + "FTP Server        : " +
           (ftp ? server : "") + kCrLf + "FTP Server Port   : " + (ftp ? std::to_string(network.ftpPort) : "") +
           kCrLf + "User              : " + (ftp ? network.ftpUser : "");
  };
  General::Guarded(source, information, [&] {
    const Place import = Resolve(importFolder);
    if (network.protocol == kFilePath) {
      sourceFolder = text::JoinPath(text::Trim(network.rootFolder), network.inFolder);
      const Place in = Resolve(sourceFolder);
      if (!LocalFiles::IsFolder(in.local)) LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", in.shown);
      for (const std::string& name : ListFolder(in).files) {
        if (name[0] == '~') continue;  // still being written
        receiveLocalFile(Child(in, name), import, network, counts);
      }
      return;
    }
    if (network.protocol == kFtp) {
      auto [ftpServer, folder] = ReadServerAndFolderFromFTPAddress(network.rootFolder, network.inFolder);
      server = ftpServer;
      sourceFolder = folder;
      receiveByFtp(network, ftpServer, folder, import, counts);
      return;
    }
    throw Error(InvalidParamValue, source, "Unknown protocol: " + std::to_string(network.protocol));
  });
}

}  // namespace quillon::edi
