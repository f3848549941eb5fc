#include "imports/EDI.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "document/FileHandling.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "imports/EDIInternal.h"
#include "imports/SiteRunLock.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace quillon {

using General::Guarded;

namespace edi {

namespace {

std::string textOf(Recordset& rs, const char* column) {
  Variant v = rs[column];
  return v.isNull() || v.isEmpty() ? std::string() : v.text();
}

std::int32_t numberOf(Recordset& rs, const char* column) {
  Variant v = rs[column];
  return v.isNull() || v.isEmpty() ? 0 : v.toInt32();
}

Network readNetwork(Recordset& rs) {
  Network n;
  n.id = textOf(rs, "NETWORKID");
  n.useSemaphore = numberOf(rs, "USESEMAPHORE") != 0;
  n.stopFile = textOf(rs, "STOPFILE");
  n.startFile = textOf(rs, "STARTFILE");
  n.semaphore = textOf(rs, "SEMAPHORE");
  n.rootFolder = textOf(rs, "ROOTFOLDER");
  n.comFolder = textOf(rs, "COMFOLDER");
  n.outFolder = textOf(rs, "OUTFOLDER");
  n.inFolder = textOf(rs, "INFOLDER");
  n.protocol = numberOf(rs, "PROTOCOL");
  n.ftpPort = numberOf(rs, "FTPPORT");
  n.ftpUser = textOf(rs, "FTPUSERID");
  n.ftpPassword = textOf(rs, "FTPPASSWORD");
  n.ftpTransferType = numberOf(rs, "FTPTRANSFERTYPE");
  n.tempFolder = textOf(rs, "TEMPFOLDER");
  return n;
}

// A handshake file is a name inside the command folder, never a path.
std::string commandFileName(const Network& n, const std::string& name, const char* column) {
  const std::string trimmed = text::Trim(name);
  if (trimmed == "." || trimmed == ".." || trimmed.find_first_of("/\\") != std::string::npos ||
      trimmed.find('\0') != std::string::npos)
    throw Error(InvalidParamValue, Source("CommAllowedAccSemaphore"),
                "The " + std::string(column) + " '" + name + "' of EDI Network '" + n.id +
                    "' is not a file name in the command folder.");
  return trimmed;
}

Place commandFolder(const Network& n) { return Resolve(text::JoinPath(text::Trim(n.rootFolder), n.comFolder)); }

std::pair<std::string, std::string> ftpCommandFolder(const Network& n) {
  return ReadServerAndFolderFromFTPAddress(n.rootFolder, n.comFolder);
}

bool isFilePresentInCommandFolder(const Network& n, const std::string& file) {
  return Guarded(Source("isFilePresentInCommandFolder"), [&] {
    if (n.protocol == kFilePath) return LocalFiles::IsFile(Child(commandFolder(n), file).local);
    if (n.protocol == kFtp) {
      auto [server, folder] = ftpCommandFolder(n);
      return EDI().filePresentViaFTP(file, folder, server, n.ftpPort, n.ftpUser, n.ftpPassword);
    }
    throw Error(InvalidParamValue, Source("isFilePresentInCommandFolder"), "Unknown protocol : " + std::to_string(n.protocol));
  });
}

// An empty file, complete as soon as it exists.
void createStartFileInCommandFolder(const Network& n, const std::string& file) {
  const std::string source = Source("createStartFileInCommandFolder");
  Guarded(source, [&] {
    if (n.protocol == kFilePath) {
      const Place start = Child(commandFolder(n), file);
      int fd = ::open(start.local.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0)
        LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be created", start.shown,
                          std::error_code(errno, std::generic_category()));
      ::fsync(fd);
      ::close(fd);
      return;
    }
    if (n.protocol == kFtp) {
      auto [server, folder] = ftpCommandFolder(n);
      FtpConnection connection(server, folder, n.ftpPort, n.ftpUser, n.ftpPassword);
      try {
        connection.session().PutBytes("", file, TransferModeOf(n.ftpTransferType));
      } catch (...) {
        connection.Fail(source, "WinInet.FtpPutFile",
                        {{"hFtpSession", connection.handle()},
                         {"lpszLocalFile", ""},
                         {"lpszRemoteFile", file},
                         {"dwFlags(FileFormat)", std::to_string(TransferFlagsOf(n.ftpTransferType))},
                         {"dwContext", "0"}});
      }
      return;
    }
    throw Error(InvalidParamValue, source, "Unknown protocol: " + std::to_string(n.protocol));
  });
}

// The semaphore handshake; without it communication is always allowed.
bool CommAllowedAccSemaphore(const Network& n) {
  return Guarded(Source("CommAllowedAccSemaphore"), [&] {
    if (!n.useSemaphore) return true;
    const std::string semaphore = commandFileName(n, n.semaphore, "SEMAPHORE");
    if (semaphore.empty())
      throw Error(InvalidParamValue, Source("CommAllowedAccSemaphore"),
                  "EDI Network '" + n.id + "' uses the semaphore handshake but names no SEMAPHORE file.");
    const std::string stop = commandFileName(n, n.stopFile, "STOPFILE");
    if (!stop.empty() && isFilePresentInCommandFolder(n, stop)) return false;
    const std::string start = commandFileName(n, n.startFile, "STARTFILE");
    if (!start.empty() && !isFilePresentInCommandFolder(n, start)) createStartFileInCommandFolder(n, start);
    return isFilePresentInCommandFolder(n, semaphore);
  });
}

void removeSemaphoreFile(const Network& n) {
  const std::string source = Source("removeSemaphoreFile");
  const std::string semaphore = text::Trim(n.semaphore);
  Guarded(
      source, [&] { return "Error in deleting SEMAPHORE file '" + semaphore + "' " + "for Edi Network '" + n.id + "'"; },
      [&] {
        if (n.protocol == kFilePath) {
          const Place file = Child(commandFolder(n), semaphore);
          std::error_code ec;
          fs::remove(file.local, ec);  // one already gone is as good as deleted
          if (ec) LocalFiles::Raise(hr::kPermissionDenied, source, "The file cannot be deleted", file.shown, ec);
          return;
        }
        if (n.protocol == kFtp) {
          auto [server, folder] = ftpCommandFolder(n);
          EDI().deleteFileViaFTP(semaphore, folder, server, n.ftpPort, n.ftpUser, n.ftpPassword);
          return;
        }
        throw Error(InvalidParamValue, source, "Unknown protocol: " + std::to_string(n.protocol));
      });
}

std::string getXmlPath1Folder() {
  return Guarded(Source("getXmlPath1Folder"), [] { return std::string("Could not retrieve or create XMLPATH1 folder"); }, [] {
    FileHandling files;
    std::string folder = files.GetFolderName(static_cast<std::int32_t>(EFolderType::XmlPath1Folder));
    if (!files.FolderExists(folder)) files.CreateFolderTree(folder);
    return folder;
  });
}

void exchangeEDIMessagesForEDINetwork(const Network& n, Counts& counts) {
  Guarded(Source("exchangeEDIMessagesForEDINetwork"), [&] {
    MoveFilesFromB2BToEDINetwork(n, counts);
    const std::string import = getXmlPath1Folder();
    MoveFilesFromEDINetworkToB2B(n, import, counts);
  });
}

void processEdiNetwork(const Network& n, Counts& counts) {
  Guarded(
      Source("processEdiNetwork"),
      [&] { return "Could not finish exchanging EDI messages properly for " + std::string(" EDI Network '") + n.id + "' "; },
      [&] {
        // A network not allowed now is left for the next run.
        if (!CommAllowedAccSemaphore(n)) return;
        exchangeEDIMessagesForEDINetwork(n, counts);
        if (n.useSemaphore) removeSemaphoreFile(n);
      });
}

// Raises only when the networks cannot be read; a failing network is
// logged and the next one follows.
void processEDINetworks(Counts& counts) {
  const std::string source = Source("processEDINetworks");
  Guarded(source, [&] {
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet("SELECT * FROM EDINETWORK ORDER BY SEQUENCE");
    for (; !rs->EOF_(); rs->MoveNext()) {
      ++counts.networks;
      try {
        processEdiNetwork(readNetwork(*rs), counts);
      } catch (...) {
        ++counts.errors;
        General::LogEvent(source);
      }
    }
  });
}

}  // namespace
}  // namespace edi

EDIRunSummary RunEDIExchange() {
  const auto started = std::chrono::steady_clock::now();
  EDIRunSummary summary;
  edi::Counts counts;
  // startRun: whatever escapes is logged, never raised to the scheduler.
  try {
    SiteRunLock lock("edi-run.lock", "the EDI exchange", edi::Source("startRun"));
    if (!lock.held()) {
      summary.skipped = true;
      try {
        throw Error(hr::kFail, edi::Source("startRun"),
                    "Another run of the EDI exchange is still working on this site; this run exchanged nothing.");
      } catch (...) {
        General::LogEvent(edi::Source("startRun"));
      }
    } else {
      edi::processEDINetworks(counts);
    }
    summary.ran = true;
  } catch (...) {
    summary.failure = ErrorInfo::current().description;
    General::LogError(edi::Source("startRun"));
  }
  summary.networks = counts.networks;
  summary.filesSent = counts.filesSent;
  summary.messagesSent = counts.messagesSent;
  summary.filesReceived = counts.filesReceived;
  summary.errors = counts.errors;
  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return summary;
}

void EDI::Run() { RunEDIExchange(); }

bool EDI::filePresentViaFTP(const std::string& i_sFile, const std::string& i_sFolder, const std::string& i_sSystem,
                            std::int32_t i_lSystemPort, const std::string& i_sUser, const std::string& i_sPassword) {
  const std::string source = edi::Source("filePresentViaFTP");
  return Guarded(source, [&] {
    edi::FtpConnection connection(i_sSystem, i_sFolder, i_lSystemPort, i_sUser, i_sPassword);
    return edi::FilePresent(connection, i_sFile, source);
  });
}

void EDI::deleteFileViaFTP(const std::string& i_sFile, const std::string& i_sFolder, const std::string& i_sSystem,
                           std::int32_t i_lSystemPort, const std::string& i_sUser, const std::string& i_sPassword) {
  const std::string source = edi::Source("deleteFileViaFTP");
  Guarded(source, [&] {
    edi::FtpConnection connection(i_sSystem, i_sFolder, i_lSystemPort, i_sUser, i_sPassword);
    try {
      connection.session().Delete(i_sFile);
    } catch (...) {
      connection.Fail(source, "WinInet.FtpDeleteFile", {{"hFtpSession", connection.handle()}, {"lpszFileName", i_sFile}});
    }
  });
}

std::string EDI::checkEdiReferences(const std::string& i_sNetWorkID, std::int32_t i_lLanguageID) {
  return Guarded(edi::Source("checkEdiReferences"), [&] {
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
        "SELECT TOP 1 ADDRESS FROM SENDMETHODPROPERTY " "WHERE PROTOCOL = " + Encoding::SqlLong(edi::kEdiProtocol) +
        "AND ADDRESS = " + Encoding::SqlText(i_sNetWorkID));
    if (rs->EOF_() || rs->Fields("ADDRESS").Value().isNull()) return std::string();
    // A quotation mark inside the label is doubled, so the script text stays one string.
    const std::string label = text::Replace(I18N::GetLabelForLocale("SLBSH5852", i_lLanguageID), "\"", "\"\"");
    return "Array(\"" + label + "\")";
  });
}

const ClassInfo* EDI::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<EDI>("Quillon.EDI")
          .bind<&EDI::Run>("Run")
          .bind<&EDI::filePresentViaFTP>(
              "filePresentViaFTP", {"i_sFile", "i_sFolder", "i_sSystem", "i_lSystemPort", "i_sUser", "i_sPassword"})
          .bind<&EDI::deleteFileViaFTP>(
              "deleteFileViaFTP", {"i_sFile", "i_sFolder", "i_sSystem", "i_lSystemPort", "i_sUser", "i_sPassword"})
          .bind<&EDI::checkEdiReferences>("checkEdiReferences", {"i_sNetWorkID", opt("i_lLanguageID", 1033)})
          .done();
  return info;
}

namespace {
const bool kRegistered = (EDI().classInfo(), true);
}

}  // namespace quillon
