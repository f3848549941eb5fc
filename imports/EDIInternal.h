// The steps of the EDI exchange (imports/EDI.h), shared by its source files
// EDI.cpp (runs, networks, handshake, references), EDIFiles.cpp (local
// files), EDIFtp.cpp (FTP), EDIOutgoing.cpp and EDIIncoming.cpp. Not part
// of the component's interface.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/Network.h"

namespace quillon::edi {

// "Quillon.EDI." + step: the source of a step's errors and log entries.
std::string Source(const char* step);

// Protocols of a network (ESendMethodProtocol) and the ASCII transfer type.
inline constexpr std::int32_t kFilePath = 30;
inline constexpr std::int32_t kFtp = 40;
inline constexpr std::int32_t kEdiProtocol = 80;
inline constexpr std::int32_t kAsciiTransfer = 10;

inline constexpr const char* kCrLf = "\r\n";

// One row of EDINETWORK.
struct Network {
  std::string id;
  bool useSemaphore = false;
  std::string stopFile, startFile, semaphore;
  std::string rootFolder, comFolder, outFolder, inFolder;
  std::int32_t protocol = 0;
  std::int32_t ftpPort = 0;
  std::string ftpUser, ftpPassword;
  std::int32_t ftpTransferType = 0;
  std::string tempFolder;
};

// What one run did, for the summary of the command line.
struct Counts {
  long networks = 0;
  long filesSent = 0;     // merged files that reached a network
  long messagesSent = 0;  // message files inside them
  long filesReceived = 0;
  long errors = 0;        // failures logged while the run went on
};

// ---- local files (EDIFiles.cpp) ----

// A path as the operator wrote it (for messages and logs) and the local
// path it stands for: a network path (\\server\share\…) is resolved by the
// file store "Shale.File", which keeps it below the site's share root;
// any other path is local, its backslashes becoming "/".
struct Place {
  std::string shown;
  std::filesystem::path local;
};
Place Resolve(const std::string& path);
// The place of a name inside a folder; the name is one path part.
Place Child(const Place& folder, const std::string& name);

// A name that may become one path part: a path separator, a control
// character or a character Windows forbids in names becomes "_".
std::string SafeNamePart(const std::string& name);
// Letter case ignored (ASCII), as Windows compares file names.
bool SameName(const std::string& a, const std::string& b);

// "yyyy-mm-dd-hh-mm-ss" of the local clock.
std::string TimeStamp(std::time_t t);
// The name part before the first "." (the whole name without one) + "_" +
// network id + "_" + time stamp + ".xml", each part made safe as a name.
std::string MakeIncomingFileName(const std::string& name, const std::string& networkId, std::time_t t);

// The time a file was created (its birth time where the file system keeps
// one, else its last change of content), in whole seconds.
std::time_t CreationTime(const std::filesystem::path& file);

// Which file a path held when it was read: the same device, inode, size
// and time of last change mean the same, unchanged file.
struct FileIdentity {
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modifiedNs = 0;
  bool operator==(const FileIdentity&) const = default;
};
bool IdentityOf(const std::filesystem::path& file, FileIdentity& out);

// Regular files and sub folders of a folder, each sorted by name.
struct Listing {
  std::vector<std::string> files, folders;
};
Listing ListFolder(const Place& folder);

// A file written in place and synced before it is closed. The destructor
// closes a file that was not committed; the caller removes it.
class DurableFile {
 public:
  explicit DurableFile(const Place& file);
  ~DurableFile();
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;
  void Write(const std::string& bytes);
  void Commit();  // sync and close

 private:
  Place file_;
  int fd_ = -1;
};

// Renames without ever replacing an existing file; false with EEXIST in
// `ec` when `to` exists. Raises nothing.
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec);
// Copies `from` to `to` (created, or truncated when it exists) and syncs it.
bool CopyDurably(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec);
// Syncs a folder so that names just added or removed in it survive a crash.
void SyncFolder(const std::filesystem::path& folder);
// Removes a file, ignoring every failure (for temporary files).
void RemoveQuietly(const std::filesystem::path& file);

// The whole content of a file; raises with `source` when it cannot be read.
std::string ReadFileBytes(const Place& file, const std::string& source);

// ---- FTP (EDIFtp.cpp) ----

// Server and folder of an address "ftp://server[/path]" joined with a sub
// folder; raises InValidFileFormat "Invalid FTP folder <address>" for an
// address that does not begin with "ftp://" (any letter case).
std::pair<std::string, std::string> ReadServerAndFolderFromFTPAddress(const std::string& address,
                                                                     const std::string& subFolder);

net::TransferMode TransferModeOf(std::int32_t transferType);
// The WinInet transfer flags of a transfer type: 1 (ASCII) or 2 (binary).
std::int32_t TransferFlagsOf(std::int32_t transferType);

using Parameters = std::vector<std::pair<std::string, std::string>>;

// An FTP login working in one folder (makeFTPconnection), closed when it
// ends (closeInternetConnection). Transfers run in active mode, as an
// internet session opened with no flags does. Every failure is raised as
// the text of the internet command that failed (Fail).
class FtpConnection {
 public:
  FtpConnection(const std::string& server, const std::string& folder, std::int32_t port, const std::string& user,
                const std::string& password);
  ~FtpConnection();
  FtpConnection(const FtpConnection&) = delete;
  FtpConnection& operator=(const FtpConnection&) = delete;

  net::FtpSession& session() { return *session_; }
  // The value shown for the session handle in error texts.
  std::string handle() const;
  const std::string& folder() const { return folder_; }

  // Raises the pending error (the one being handled) as the text of the
  // internet command with its parameters, with `source`.
  [[noreturn]] void Fail(const std::string& source, const std::string& command, const Parameters& parameters) const;

 private:
  std::string server_, folder_, user_;
  std::int32_t port_ = 0;
  long number_ = 0;
  std::unique_ptr<net::FtpSession> session_;
};

// "Error '<n> - <system text>' occured in the following WinInet command :"
// with the command, one line per parameter and the server, port, folder
// and user (buildWinInetErrorText); the client's own text follows as
// "Details".
std::string BuildWinInetErrorText(std::int32_t number, const std::string& command, const Parameters& parameters,
                                  const std::string& server, std::int32_t port, const std::string& folder,
                                  const std::string& user, const std::string& details);

// True when a file of that name (trimmed, any letter case) is listed in
// the connection's folder.
bool FilePresent(FtpConnection& connection, const std::string& file, const std::string& source);

// Uploads a local file under a temporary "~" name and renames it to its
// name, so the network never sees a partial file under the final name. A
// file of that name still waiting in the folder (any letter case) is never
// replaced: the upload is refused instead.
void UploadFile(FtpConnection& connection, const Place& localFile, const std::string& remoteName,
                std::int32_t transferType, const std::string& source);

// ---- the steps ----

// Outgoing: merges each group of TEMPFOLDER\Messages and moves it to the
// network (EDIOutgoing.cpp).
void MoveFilesFromB2BToEDINetwork(const Network& network, Counts& counts);
// Moves the merged file to the network under `name`; raises on failure.
void MoveFileToFolder(const Place& source, const std::string& name, const std::string& target,
                      const Network& network);
// Incoming: fetches the network's files into the import folder
// (EDIIncoming.cpp).
void MoveFilesFromEDINetworkToB2B(const Network& network, const std::string& importFolder, Counts& counts);

// Logs the pending error, or an error made of `text` when none is
// pending, as an event of `source` with `text` as its information, and
// counts it.
void LogFailure(const std::string& source, const std::string& text, Counts& counts);

}  // namespace quillon::edi
