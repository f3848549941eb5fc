// Outgoing EDI messages: each group folder of TEMPFOLDER\Messages is merged
// into one file and moved to its network; the message files are removed
// once the merged file has arrived.
//
// A message is never lost and never sent twice:
// - the merged file and its log are written and synced under "~" names in
//   the "Log" folder first; the network receives the merged file under a
//   temporary name and sees it under its final name only when complete;
// - a group whose move fails keeps all its message files for the next
//   run, and its log and archive copy are removed;
// - a merged file still waiting on the network under the group's name is
//   never replaced (the move fails until the network has taken it);
// - a message file that cannot be removed after it was sent is recorded in
//   the "Log" folder (kSentNotRemoved), left out of every later merge and
//   removed by a later run as soon as that works.
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "imports/EDIInternal.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "platform/TextFile.h"

namespace fs = std::filesystem;

namespace quillon::edi {

namespace {

// Message files already sent whose removal failed, one per line:
// device, inode, size, time of last change (ns) and path, tab-separated.
const char* const kSentNotRemoved = "SentNotRemoved.txt";

const char* const kTakeCare =
    "TAKE CARE: if individual EDI message files cannot be removed, you risk that they are sent again to the "
    "backend; Please, solve this problem as soon as possible!";

struct Message {
  Place file;
  FileIdentity identity;
};

class SentLedger {
 public:
  explicit SentLedger(const Place& logFolder) : file_(Child(logFolder, kSentNotRemoved)), folder_(logFolder) {}

  // A ledger that cannot be read would let its messages go out again:
  // the outgoing step fails instead.
  void Load() {
    std::error_code ec;
    if (!fs::exists(file_.local, ec)) return;
    std::istringstream lines(ReadFileBytes(file_, Source("moveFilesFromB2BToEDINetwork")));
    for (std::string line; std::getline(lines, line);) {
      Entry e;
      std::istringstream fields(line);
      std::string rest;
      if (!(fields >> e.identity.device >> e.identity.inode >> e.identity.size >> e.identity.modifiedNs)) continue;
      std::getline(fields, rest);
      if (rest.size() < 2 || rest[0] != '\t') continue;
      std::size_t tab = rest.find('\t', 1);
      if (tab == std::string::npos) continue;
      e.local = rest.substr(1, tab - 1);
      e.shown = rest.substr(tab + 1);
      entries_.push_back(e);
    }
  }

  bool Holds(const FileIdentity& identity) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.identity == identity; });
  }

  void Add(const Message& m) {
    entries_.push_back({m.file.local.string(), m.file.shown, m.identity});
    changed_ = true;
  }

  // Removes the recorded files that are still there unchanged; entries of
  // files that are gone or were replaced are dropped.
  void RetryRemovals(Counts& counts) {
    std::vector<Entry> kept;
    for (const Entry& e : entries_) {
      FileIdentity now;
      if (!IdentityOf(e.local, now) || !(now == e.identity)) {
        changed_ = true;
        continue;
      }
      std::error_code ec;
      fs::remove(e.local, ec);
      if (!ec) {
        changed_ = true;
        continue;
      }
      logUnremoved(e.shown, ec, counts);
      kept.push_back(e);
    }
    entries_ = std::move(kept);
  }

  // Writes the ledger when it changed: a new file under a "~" name,
  // synced, renamed over the old one.
  void Save() {
    if (!changed_) return;
    if (entries_.empty()) {
      std::error_code ec;
      fs::remove(file_.local, ec);
      if (ec) LocalFiles::Raise(hr::kPathFileAccess, Source("removeMergedDocuments"), "The file cannot be removed", file_.shown, ec);
      changed_ = false;
      return;
    }
    std::error_code ec;
    fs::create_directories(folder_.local, ec);
    Place temporary = Child(folder_, std::string("~") + kSentNotRemoved);
    {
      DurableFile out(temporary);
      std::string text;
      for (const Entry& e : entries_)
        text += std::to_string(e.identity.device) + "\t" + std::to_string(e.identity.inode) + "\t" +
                std::to_string(e.identity.size) + "\t" + std::to_string(e.identity.modifiedNs) + "\t" + e.local +
                "\t" + e.shown + "\n";
      out.Write(text);
      out.Commit();
    }
    fs::rename(temporary.local, file_.local, ec);
    if (ec) {
      RemoveQuietly(temporary.local);
      LocalFiles::Raise(hr::kPathFileAccess, Source("removeMergedDocuments"), "The file cannot be written", file_.shown, ec);
    }
    SyncFolder(folder_.local);
    changed_ = false;
  }

  static void logUnremoved(const std::string& shown, const std::error_code& ec, Counts& counts) {
    const std::string text = "Could not delete file '" + shown + "'" + kCrLf + "Error description: " + ec.message() +
                             kCrLf + kTakeCare;
    try {
      throw Error(hr::kPermissionDenied, Source("removeMergedDocuments"), "The file '" + shown + "' cannot be deleted: " + ec.message() + ".");
    } catch (...) {
      LogFailure(Source("removeMergedDocuments"), text, counts);
    }
  }

 private:
  struct Entry {
    std::string local, shown;
    FileIdentity identity;
  };
  Place file_, folder_;
  std::vector<Entry> entries_;
  bool changed_ = false;
};

// One group folder being merged.
struct Group {
  Place folder;
  std::string name;
  std::string marker;  // "Unicode" or "ASCII"
  bool unicode = false;
  std::time_t runTime = 0;
};

// mergeFilesInFolder: the files of a folder, then its sub folders, that
// belong in the merged file.
void collectMessages(const Group& group, const Place& folder, const SentLedger& ledger,
                     std::vector<Message>& out) {
  Listing listing = ListFolder(folder);
  for (const std::string& name : listing.files) {
    if (SameName(name, group.name) || SameName(name, group.marker)) continue;
    if (!name.empty() && name[0] == '~') continue;  // still being written
    Message m{Child(folder, name), {}};
    if (!IdentityOf(m.file.local, m.identity)) continue;
    // Files made during this second or later wait for the next run.
    if (CreationTime(m.file.local) >= group.runTime) continue;
    if (ledger.Holds(m.identity)) continue;  // sent already
    out.push_back(m);
  }
  for (const std::string& name : listing.folders) collectMessages(group, Child(folder, name), ledger, out);
}

// The bytes of a text in the group's form: Unicode (UTF-16LE, the
// byte-order mark at the start of the file) or ANSI in the site's code
// page, which must hold every character.
std::string encoded(const Group& group, const std::string& text, const std::string& shownFile) {
  if (group.unicode) return ToUtf16LE(text);
  const int codePage = SystemAnsiCodePage();
  bool lossless = true;
  std::string ansi = ToCodePage(text, codePage, &lossless);
  if (!lossless)
    throw Error(hr::kInvalidArg, Source("mergeFilesInFolder"),
                "The EDI message '" + shownFile + "' holds characters that the ANSI code page " +
                    std::to_string(codePage) + " of the group '" + group.name +
                    "' cannot represent; the group was not sent.");
  return ansi;
}

void writeMergedFiles(const Group& group, const std::vector<Message>& messages, const Place& merged,
                      const Place& log) {
  DurableFile mergedOut(merged);
  DurableFile logOut(log);
  const std::string unicodeMark = "\xFF\xFE";
  if (group.unicode) {
    mergedOut.Write(unicodeMark);
    logOut.Write(unicodeMark);
  }
  for (const Message& m : messages) {
    std::string text = TextFile::Decode(ReadFileBytes(m.file, Source("mergeFilesInFolder")));
    mergedOut.Write(encoded(group, text + kCrLf, m.file.shown));
    std::string line = m.file.shown + kCrLf;
    // A path the code page cannot hold is still listed, as UTF-8.
    if (group.unicode) {
      logOut.Write(ToUtf16LE(line));
    } else {
      bool lossless = true;
      std::string ansi = ToCodePage(line, SystemAnsiCodePage(), &lossless);
      logOut.Write(lossless ? ansi : line);
    }
  }
  mergedOut.Commit();
  logOut.Commit();
}

// removeMergedDocuments: every sent message file goes; one that cannot is
// logged and recorded so that it is never sent again.
void removeMergedDocuments(const std::vector<Message>& messages, SentLedger& ledger, Counts& counts) {
  bool recorded = false;
  std::vector<const Message*> unremoved;
  for (const Message& m : messages) {
    std::error_code ec;
    fs::remove(m.file.local, ec);
    if (!ec) continue;
    SentLedger::logUnremoved(m.file.shown, ec, counts);
    ledger.Add(m);
    unremoved.push_back(&m);
    recorded = true;
  }
  if (!recorded) return;
  try {
    ledger.Save();
  } catch (...) {
    std::string files;
    for (const Message* m : unremoved) files += std::string(kCrLf) + m->file.shown;
    LogFailure(Source("removeMergedDocuments"),
               "The sent EDI message files that could not be deleted could not be recorded either; the next run "
               "sends them again unless they are removed first:" + files,
               counts);
  }
}

// Merges one group and moves it to the network.
void sendGroup(const Network& network, const Place& groupFolder, const std::string& groupName, const Place& logFolder,
               SentLedger& ledger, Counts& counts) {
  Group group;
  group.folder = groupFolder;
  group.name = groupName;
  group.runTime = wallClockSeconds();
  Listing top = ListFolder(groupFolder);
  group.unicode = std::any_of(top.files.begin(), top.files.end(), [](const std::string& n) { return SameName(n, "Unicode"); });
  group.marker = group.unicode ? "Unicode" : "ASCII";

  std::vector<Message> messages;
  collectMessages(group, groupFolder, ledger, messages);
  if (messages.empty()) return;

  std::error_code ec;
  fs::create_directories(logFolder.local, ec);
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, Source("moveFilesFromB2BToEDINetwork"), "The folder cannot be created", logFolder.shown, ec);
  const std::string stamped = TimeStamp(group.runTime) + "_" + groupName;
  const Place merged = Child(logFolder, "~" + stamped);
  const Place log = Child(logFolder, "~" + stamped + ".log");
  try {
    writeMergedFiles(group, messages, merged, log);
  } catch (...) {
    RemoveQuietly(merged.local);
    RemoveQuietly(log.local);
    throw;
  }

  try {
    MoveFileToFolder(merged, groupName, network.protocol == kFtp ? network.outFolder : text::JoinPath(text::Trim(network.rootFolder), network.outFolder), network);
  } catch (...) {
    // The messages stay for the next run; so do no log and no archive copy.
    RemoveQuietly(merged.local);
    RemoveQuietly(log.local);
    LogFailure(Source("moveFilesFromB2BToEDINetwork"),
               "The EDI messages of the group '" + groupName + "' of EDI Network '" + network.id +
                   "' were not sent; they stay for the next run.",
               counts);
    return;
  }
  ++counts.filesSent;
  counts.messagesSent += static_cast<long>(messages.size());

  // The archive copy and the log keep their names without "~".
  for (const auto& [from, to] : {std::pair{merged, Child(logFolder, stamped)}, std::pair{log, Child(logFolder, stamped + ".log")}}) {
    std::error_code renameError;
    fs::rename(from.local, to.local, renameError);
    if (renameError) {
      try {
        LocalFiles::Raise(hr::kPathFileAccess, Source("moveFilesFromB2BToEDINetwork"), "The file cannot be renamed to", to.shown, renameError);
      } catch (...) {
        LogFailure(Source("moveFilesFromB2BToEDINetwork"), "The group '" + groupName + "' was sent; its file stays as '" + from.shown + "'.", counts);
      }
    }
  }
  removeMergedDocuments(messages, ledger, counts);
}

}  // namespace

void MoveFilesFromB2BToEDINetwork(const Network& network, Counts& counts) {
  const std::string source = Source("moveFilesFromB2BToEDINetwork");
  General::Guarded(source, [&] {
    // Nothing can be staged for a network without a temporary folder.
    if (text::Trim(network.tempFolder).empty()) return;
    const Place temp = Resolve(text::Trim(network.tempFolder));
    const Place messages = Child(temp, "Messages");
    if (!LocalFiles::IsFolder(messages.local)) return;
    const Place logFolder = Child(temp, "Log");
    SentLedger ledger(logFolder);
    ledger.Load();
    ledger.RetryRemovals(counts);
    ledger.Save();
    for (const std::string& groupName : ListFolder(messages).folders) {
      try {
        sendGroup(network, Child(messages, groupName), groupName, logFolder, ledger, counts);
      } catch (...) {
        LogFailure(source, "The EDI messages of the group '" + groupName + "' of EDI Network '" + network.id +
                               "' were not sent; they stay for the next run.",
                   counts);
      }
    }
  });
}

void MoveFileToFolder(const Place& source, const std::string& name, const std::string& target,
                      const Network& network) {
  const std::string step = Source("moveFileToFolder");
  if (network.protocol == kFilePath) {
    const Place folder = Resolve(target);
    const Place final = Child(folder, name);
    const Place temporary = Child(folder, "~" + name);
    try {
      if (!LocalFiles::IsFolder(folder.local)) LocalFiles::Raise(hr::kPathNotFound, step, "Path not found", folder.shown);
      std::error_code ec;
      if (fs::exists(fs::symlink_status(final.local, ec)))
        LocalFiles::Raise(hr::kFileAlreadyExists, step,
                          "File already exists (the EDI network has not taken it yet)", final.shown);
      if (!CopyDurably(source.local, temporary.local, ec)) {
        RemoveQuietly(temporary.local);
        LocalFiles::Raise(hr::kPathFileAccess, step, "The file cannot be copied to", temporary.shown, ec);
      }
      if (!RenameNoReplace(temporary.local, final.local, ec)) {
        RemoveQuietly(temporary.local);
        LocalFiles::Raise(ec == std::errc::file_exists ? hr::kFileAlreadyExists : hr::kPathFileAccess, step,
                          "The file cannot be renamed to", final.shown, ec);
      }
      SyncFolder(folder.local);
    } catch (...) {
      const ErrorInfo cause = ErrorInfo::current();
      throw Error(cause.number, step,
                  "Error in moving file '" + source.shown + "' " + "to file '" + final.shown + "'" + kCrLf +
                      "Technical info: " + cause.description);
    }
    return;
  }
  if (network.protocol == kFtp) {
    auto [server, folder] = ReadServerAndFolderFromFTPAddress(network.rootFolder, target);
    FtpConnection connection(server, folder, network.ftpPort, network.ftpUser, network.ftpPassword);
    UploadFile(connection, source, name, network.ftpTransferType, step);
    return;
  }
  throw Error(InvalidParamValue, step, "Unknown protocol: '" + std::to_string(network.protocol) + "'");
}

}  // namespace quillon::edi
