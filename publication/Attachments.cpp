#include "publication/Attachments.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "document/FileHandling.h"
#include "foundation/ConnectionScope.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/Lookups.h"
#include "platform/Configuration.h"
#include "platform/FileStore.h"
#include "platform/Database.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace fs = std::filesystem;

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

const std::string kClassSource = "Quillon.Attachments.";
std::string sourceOf(const char* method) { return kClassSource + method; }

// The size of a file; a network path is resolved by the file store.
std::uintmax_t fileSize(const std::string& path) {
  std::string local = text::LocalPath(path);
  if (text::IsNetworkPath(path)) {
    std::vector<Variant> args{Variant(path)};
    local = General::RequireComponent("Shale.File", kClassSource + "fileSize")->invoke("ResolvePath", args).text();
  }
  std::error_code ec;
  std::uintmax_t size = fs::file_size(local, ec);
  if (ec) throw Error(hr::kPathFileAccess, kClassSource + "fileSize", "The size of '" + path + "' cannot be read: " + ec.message() + ".");
  return size;
}

// Makes a value end in `separator` and use no other separator: the
// separator is added when the value ends in neither "\" nor "/", every
// other separator is replaced, and one is added when it still does not end
// in it.
std::string normalised(std::string value, char separator) {
  const char other = separator == '\\' ? '/' : '\\';
  if (value.empty() || !text::IsPathSeparator(value.back())) value += separator;
  for (char& c : value)
    if (c == other) c = separator;
  if (value.back() != separator) value += separator;
  return value;
}

bool startsWithHttp(const std::string& url) {
  const std::string lower = text::LCase(url);
  return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

[[noreturn]] void unusable(const std::string& why) {
  throw Error(MissingFileLocation, sourceOf("GetAttachmentUrlAndFolder"), why);
}

std::string configured(const Configuration& cfg, const char* section, const char* key) {
  return text::Trim(cfg.GetValue(section, key).text());
}

// The site's public address of a virtual path below the application
// directory, by the site's SSL mode.
std::string siteUrl(const std::string& virtualPath) {
  auto cfg = General::RequireComponent<Configuration>("Basalt.Configuration", sourceOf("GetAttachmentUrlAndFolder"));
  cfg->Load(General::getSiteConfigFile());
  const std::string mode = configured(*cfg, "COMMONPARAMETERS", "SSLMODE");
  const bool secure = text::LCase(mode) != "none";
  const std::string hostKey = secure ? "SECUREHOSTNAME" : "NONSECUREHOSTNAME";
  const std::string host = configured(*cfg, "GLOBAL", hostKey.c_str());
  // A URL without a host would point nowhere.
  if (host.empty()) unusable("The site configuration has no " + hostKey + " in section GLOBAL.");
  std::string application = configured(*cfg, "GLOBAL", "APPLICATIONDIRECTORY");
  while (!application.empty() && application.front() == '/') application.erase(0, 1);
  while (!application.empty() && application.back() == '/') application.pop_back();
  return std::string(secure ? "https://" : "http://") + host + (application.empty() ? "" : "/" + application) + virtualPath;
}

// Fills URL and folder or raises MissingFileLocation with the reason.
void urlAndFolder(std::string& url, std::string& folder) {
  url = DBUtils::GetParameter("AttachmentsVirtualPath");
  folder = DBUtils::GetParameter("AttachmentsFolder");
  if (url.empty()) unusable("The parameter 'AttachmentsVirtualPath' is empty.");
  Utility utility;
  if (!folder.empty()) {
    folder = normalised(folder, '\\');
    url = normalised(url, '/');
    if (!utility.DirExist(folder)) unusable("The attachments folder '" + folder + "' does not exist.");
    if (!startsWithHttp(url)) unusable("The attachments URL '" + url + "' does not begin with http:// or https://.");
    return;
  }
  // Only a virtual path: the folder lies below the installation directory.
  url = normalised(url, '/');
  if (url.front() != '/') url = "/" + url;
  folder = General::getInstallDir() + url;
  if (!utility.DirExist(folder)) unusable("The attachments folder '" + folder + "' does not exist.");
  url = siteUrl(url);
}

}  // namespace

bool Attachments::IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string("\\/\0", 3)) == std::string::npos;
}

void Attachments::ExamenFolderForNewFilesAndWriteThemToDB(std::int32_t iDocID, const std::string& iAbsolutePath) {
  Guarded(sourceOf("ExamenFolderForNewFilesAndWriteThemToDB"), [&] {
    Utility utility;
    if (!utility.DirExist(iAbsolutePath)) return;
    FileHandling files;
    auto names = files.getFileNamesInFolder(iAbsolutePath);
    auto known = getDBFiles(iDocID);
    ConnectionScope conn;
    std::shared_ptr<Recordset> rows;  // opened for the first new file
    for (long i = 1; i <= names->Count(); ++i) {
      const std::string name = names->Item(i).text();
      const std::string path = text::JoinPath(iAbsolutePath, name);
      if (fileSize(path) == 0) {
        files.DeleteFileFromDisk(path);
        continue;
      }
      // Every search starts at the first row: a search that found nothing
      // leaves the cursor at the end.
      bool recorded = false;
      if (known->RecordCount() > 0) {
        known->MoveFirst();
        known->Find("AttachmentFileName='" + text::Replace(name, "'", "''") + "'");
        recorded = !known->EOF_();
      }
      if (recorded) continue;
      if (!rows) rows = OpenForUpdate("SELECT * FROM ATTACHMENT WHERE ATTACHMENTID = -1", conn.get());
      rows->AddNew();
      rows->Fields("DOCUMENTID").SetValue(Variant(iDocID));
      rows->Fields("ATTACHMENTFILENAME").SetValue(Variant(name));
      rows->Update();
    }
    if (rows) rows->Close();
  });
}

std::shared_ptr<Recordset> Attachments::getDBFiles(std::int32_t iDocID) {
  return Guarded(sourceOf("getDBFiles"), [&] {
    return DBUtils::getDisconnectedReadOnlyRecordSet("select attachmentfilename from attachment where DocumentID = " +
                                                     SqlLong(iDocID));
  });
}

std::shared_ptr<Recordset> Attachments::GetDocumentAttachmentsBySenderRS(const std::string& iSender, std::int32_t iDocID) {
  return Guarded(sourceOf("GetDocumentAttachmentsBySenderRS"), [&] {
    return DBUtils::getDisconnectedReadOnlyRecordSet(
        "SELECT ATTACHMENT.ATTACHMENTFILENAME, ATTACHMENT.ATTACHMENTID "
        "FROM ATTACHMENT INNER JOIN DOCUMENT ON "
        "ATTACHMENT.DOCUMENTID = DOCUMENT.DOCUMENTID "
        "WHERE (DOCUMENT.SENDER = " +
        SqlText(iSender) + ") AND (DOCUMENT.DOCUMENTID = " + SqlLong(iDocID) + ")");
  });
}

std::shared_ptr<Recordset> Attachments::GetDocumentAttachmentsRS(std::int32_t i_lDocID) {
  return Guarded(sourceOf("GetDocumentAttachmentsRS"), [&] {
    return DBUtils::getDisconnectedReadOnlyRecordSet(
        "SELECT ATTACHMENT.ATTACHMENTFILENAME, ATTACHMENT.ATTACHMENTID "
        "FROM ATTACHMENT "
        "WHERE ATTACHMENT.DOCUMENTID = " +
        SqlLong(i_lDocID));
  });
}

void Attachments::DeleteAttachment(std::int32_t iDocID, std::int32_t iAttID, const std::string& iAttFile,
                                   const std::string& iPath) {
  const std::string source = sourceOf("DeleteAttachment");
  Guarded(source, [&] {
    // The name comes from the page; it may only name a file in the document's own folder.
    if (!IsPlainFileName(iAttFile))
      throw Error(InvalidParamValue, source, "The attachment name '" + iAttFile + "' is not a plain file name.");
    Lookups::Execute("DELETE FROM ATTACHMENT WHERE ATTACHMENTID = " + SqlLong(iAttID));
    FileHandling files;
    files.DeleteFileFromDisk(text::JoinPath(text::JoinPath(iPath, std::to_string(iDocID)), iAttFile));
  });
}

bool Attachments::GetAttachmentUrlAndFolder(std::string& o_sURL, std::string& o_sFolder) {
  ErrorInfo failure;
  return GetAttachmentUrlAndFolder(o_sURL, o_sFolder, failure);
}

bool Attachments::GetAttachmentUrlAndFolder(std::string& o_sURL, std::string& o_sFolder, ErrorInfo& o_uFailure) {
  o_uFailure = ErrorInfo{};
  try {
    urlAndFolder(o_sURL, o_sFolder);
    return true;
  } catch (...) {
    o_uFailure = ErrorInfo::current();
    General::LogError(sourceOf("GetAttachmentUrlAndFolder"), I18N::GetLabel("SLBSH5725"));
    return false;
  }
}

const ClassInfo* Attachments::classInfo() const {
  using T = Attachments;
  using UrlAndFolder = bool (Attachments::*)(std::string&, std::string&);
  static const ClassInfo* info =
      ClassBuilder<Attachments>("Quillon.Attachments")
          .bind<&T::ExamenFolderForNewFilesAndWriteThemToDB>("ExamenFolderForNewFilesAndWriteThemToDB",
                                                             {"iDocID", "iAbsolutePath"})
          .bind<&T::getDBFiles>("getDBFiles", {"iDocID"})
          .bind<&T::GetDocumentAttachmentsBySenderRS>("GetDocumentAttachmentsBySenderRS", {"iSender", "iDocID"})
          .bind<&T::GetDocumentAttachmentsRS>("GetDocumentAttachmentsRS", {"i_lDocID"})
          .bind<&T::DeleteAttachment>("DeleteAttachment", {"iDocID", "iAttID", "iAttFile", "iPath"})
          .bind<static_cast<UrlAndFolder>(&T::GetAttachmentUrlAndFolder)>("GetAttachmentUrlAndFolder",
                                                                          {"o_sURL", "o_sFolder"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Attachments().classInfo(), true);
}

}  // namespace quillon
