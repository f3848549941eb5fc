// Utility: temporary and error files, and the HTML rendering of documents.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "document/FileHandling.h"
#include "document/XML.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Database.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"
#include "publication/UtilityInternal.h"

namespace fs = std::filesystem;

namespace quillon {

using Encoding::SqlLong;
using General::Guarded;

namespace utility_detail {

std::string LastPart(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && text::IsPathSeparator(path[end - 1])) --end;
  std::size_t start = end;
  while (start > 0 && !text::IsPathSeparator(path[start - 1])) --start;
  return path.substr(start, end - start);
}

fs::path LocalFile(const std::string& path, const std::string& source) {
  if (text::IsNetworkPath(path)) return General::RequireComponent<FileStore>("Shale.File", source)->ResolvePath(path);
  return fs::path(text::LocalPath(path));
}

}  // namespace utility_detail

using utility_detail::LastPart;
using utility_detail::LocalFile;

namespace {

// A path that names its own place: absolute on this system, a network
// path, or one with a drive letter ("C:\…", kept as the caller wrote it).
bool hasDrive(const std::string& path) {
  if (text::IsNetworkPath(path)) return true;
  if (!path.empty() && text::IsPathSeparator(path[0])) return true;
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string temporaryFolder() { return FileHandling().GetFolderName(static_cast<std::int32_t>(EFolderType::TempFolder)); }

std::string temporaryName() {
  return FileHandling().GetFileName(static_cast<std::int32_t>(EFileType::TempFile), "", "", "", "");
}

// Creates the file only when no file of that name exists; false when one
// does. Claiming a name this way keeps two writers from sharing a file.
bool claim(const fs::path& file, const std::string& source, const std::string& shown) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (errno == EEXIST) return false;
  LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be created", shown,
                    std::error_code(errno, std::generic_category()));
}

// The name tried for the n-th time: the part before the first "." then n
// then the rest ("order.xml" -> "order1.xml"); the name itself for n = 0.
std::string numbered(const std::string& name, int n) {
  if (n == 0) return name;
  std::size_t dot = name.find('.');
  if (dot == std::string::npos) return name + std::to_string(n);
  return name.substr(0, dot) + std::to_string(n) + name.substr(dot);
}

// A name from outside, fit for a file in one folder: its last part, without
// a leading "~" (the mark of a claimed file), "" when nothing usable is left.
std::string plainName(const std::string& name) {
  std::string base = LastPart(name);
  if (!base.empty() && base[0] == '~') base.erase(0, 1);
  if (base == "." || base == ".." || base.find('\0') != std::string::npos) return {};
  return text::Trim(base).empty() ? std::string() : base;
}

// Claims the first free numbered form of `name` in the local folder and
// returns the name chosen.
std::string claimUnique(const fs::path& folder, const std::string& name, const std::string& source,
                        const std::string& shownFolder) {
  for (int n = 0;; ++n) {
    std::string candidate = numbered(name, n);
    if (claim(folder / candidate, source, text::JoinPath(shownFolder, candidate))) return candidate;
    if (n > 100000)
      LocalFiles::Raise(hr::kFileAlreadyExists, source, "No free file name is left", text::JoinPath(shownFolder, name));
  }
}

// Moves a file without ever replacing one at the destination; false when
// the destination exists. Across file systems the copy is flushed to disk
// before the source is removed.
bool moveNoReplace(const fs::path& from, const fs::path& to, const std::string& source, const std::string& shownTo) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  int err = errno;
  if (err == EEXIST) return false;
  if (err != EXDEV && err != EINVAL && err != ENOSYS)
    LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be moved to", shownTo,
                      std::error_code(err, std::generic_category()));
  if (!claim(to, source, shownTo)) return false;
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (!ec) {
    int fd = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) ec = std::error_code(errno, std::generic_category());
    if (fd >= 0) ::close(fd);
  }
  if (!ec) fs::remove(from, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(to, ignored);
    LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be moved to", shownTo, ec);
  }
  return true;
}

// The folder of HTML style sheets: a URL ends in "/", a folder in "\".
std::string styleSheetFolder(const std::string& parameter) {
  std::string folder = DBUtils::GetParameter(parameter);
  if (text::LCase(text::Left(folder, 4)) == "http") {
    if (folder.empty() || folder.back() != '/') folder += '/';
  } else if (folder.empty() || !text::IsPathSeparator(folder.back())) {
    folder += '\\';
  }
  return folder;
}

// "yyyy-mm-dd_hh-mm-ss" of the local clock.
std::string errorFolderStamp() {
  std::time_t now = wallClockSeconds();
  std::tm parts{};
  ::localtime_r(&now, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d_%H-%M-%S", &parts);
  return buffer;
}

}  // namespace

// ---- temporary files ----------------------------------------------------------

std::string Utility::AddTempPathIfNoDriveFound(const std::string& iFileName) {
  const std::string source = "Quillon.Utility.AddTempPathIfNoDriveFound";
  return Guarded(source, [&] {
    if (hasDrive(iFileName)) return iFileName;
    std::string name = LastPart(iFileName);
    if (text::Trim(name).empty() || name == "." || name == "..")
      throw Error(hr::kBadFileName, source, "The name '" + iFileName + "' names no file.");
    return text::JoinPath(temporaryFolder(), name);
  });
}

std::string Utility::WriteXMLFileToDisk(const std::string& iXMLStr, const std::string& iFileName) {
  return Guarded(
      "Quillon.Utility.WriteXMLFileToDisk", [&] { return "(" + iFileName + ", True)"; },
      [&] { return WriteXMLFileToDiskAsciiOrUnicode(iXMLStr, iFileName, true); });
}

std::string Utility::WriteXMLFileToDiskAsciiOrUnicode(const std::string& iXMLStr, const std::string& iFileName,
                                                      bool iUnicode) {
  const std::string source = "Quillon.Utility.WriteXMLFileToDiskAsciiOrUnicode";
  return Guarded(
      source, [&] { return "(" + iFileName + ", " + (iUnicode ? "True" : "False") + ")"; },
      [&] {
        std::string path;
        if (text::Trim(iFileName).empty()) {
          // A fresh name, claimed so that no other writer gets the same one.
          std::string folder = temporaryFolder();
          do path = text::JoinPath(folder, temporaryName());
          while (!claim(LocalFile(path, source), source, path));
        } else {
          path = AddTempPathIfNoDriveFound(iFileName);
        }
        TextFile::Write(LocalFile(path, source), iXMLStr, iUnicode ? TextFile::Form::Unicode : TextFile::Form::Ansi,
                        source, path);
        return path;
      });
}

void Utility::DeleteXMLFileFromDisk(const std::string& iFileName) {
  const std::string source = "Quillon.Utility.DeleteXMLFileFromDisk";
  Guarded(
      source,
      [&] {
        return I18N::LabelWith("SLBSH4567", {{"[%FILENAME%]", iFileName}}) + text::vbCrLf + I18N::GetLabel("SLBSH0881");
      },
      [&] {
        if (text::Trim(iFileName).empty()) return;
        fs::path file = LocalFile(AddTempPathIfNoDriveFound(iFileName), source);
        if (!LocalFiles::IsFile(file)) return;
        std::error_code ec;
        if (!fs::remove(file, ec) && ec)
          LocalFiles::Raise(hr::kPermissionDenied, source, "The file cannot be deleted", iFileName, ec);
      });
}

void Utility::DeleteHTMLAttachment(const std::string& iFileName) {
  Guarded("Quillon.Utility.DeleteHTMLAttachment", [&] { DeleteXMLFileFromDisk(iFileName); });
}

// ---- error folder -----------------------------------------------------------------

std::string Utility::CreateErrorDir() {
  return Guarded("Quillon.Utility.CreateErrorDir", [&] {
    std::string root = DBUtils::GetParameter("XMLErrorPath");
    FileHandling files;
    if (!files.FolderExists(root)) files.CreateFolderTree(root);
    std::string folder = text::JoinPath(root, errorFolderStamp());
    if (!files.FolderExists(folder)) files.CreateFolderTree(folder);
    return folder;
  });
}

std::string Utility::WriteXmlFileToErrorDir(const std::string& iContent, const std::string& iFileName) {
  const std::string source = "Quillon.Utility.WriteXmlFileToErrorDir";
  return Guarded(
      source, [&] { return "File: '" + iFileName + "'"; },
      [&] {
        std::string name = plainName(iFileName);
        if (name.empty()) name = temporaryName();
        std::string folder = CreateErrorDir();
        fs::path local = LocalFile(folder, source);
        std::string chosen = claimUnique(local, name, source, folder);
        std::string path = text::JoinPath(folder, chosen);
        // ANSI where the code page holds the text, else Unicode: an error
        // file never loses a character.
        TextFile::Write(local / chosen, iContent, TextFile::Form::AnsiOrUnicode, source, path);
        return path;
      });
}

std::string Utility::MoveFileToErrorDir(const std::string& iFileName) {
  const std::string source = "Quillon.Utility.MoveFileToErrorDir";
  return Guarded(
      source, [&] { return "File: '" + iFileName + "'"; },
      [&] {
        fs::path from = LocalFile(iFileName, source);
        if (!LocalFiles::IsFile(from)) LocalFiles::Raise(hr::kFileNotFound, source, "File not found", iFileName);
        std::string name = plainName(iFileName);
        if (name.empty()) name = temporaryName();
        std::string folder = CreateErrorDir();
        fs::path local = LocalFile(folder, source);
        std::string path;
        for (int n = 0; path.empty(); ++n) {
          std::string candidate = numbered(name, n);
          if (moveNoReplace(from, local / candidate, source, text::JoinPath(folder, candidate)))
            path = text::JoinPath(folder, candidate);
        }
        SendEmailToAdministrator(path);
        return path;
      });
}

// ---- HTML rendering ------------------------------------------------------------------

std::string Utility::GetTransformXSLPath() {
  return Guarded("Quillon.Utility.GetTransformXSLPath", [&] { return styleSheetFolder("TransformXSLPath"); });
}

std::string Utility::transformXMLStringToHTML(const std::string& iXMLStr, const std::string& iXSLFileName) {
  const std::string source = "Quillon.Utility.transformXMLStringToHTML";
  return Guarded(
      source, [&] { return "XSL file: '" + iXSLFileName + "'"; },
      [&]() -> std::string {
        if (text::IsNetworkPath(iXSLFileName))
          return General::RequireComponent<FileStoreXml>("Shale.XML", source)->ApplyStyleSheet(iXMLStr, iXSLFileName);
        return XML().ApplyXslStyleSheetToXmlString(iXMLStr, iXSLFileName);
      });
}

std::string Utility::transformXMLToHTMLCommon(const std::shared_ptr<DomDocument>& iXMLDom,
                                              const std::string& iXSLFileName) {
  const std::string source = "Quillon.Utility.transformXMLToHTMLCommon";
  return Guarded(source, [&] {
    if (!iXMLDom) throw Error(hr::kObjectRequired, source, "Object required: the XML document");
    return transformXMLStringToHTML(iXMLDom->xml(), iXSLFileName);
  });
}

std::string Utility::getHTMLAttachmentByUsingXML(std::int32_t iDocID, const std::string& iDocType,
                                                 const std::string& iXml) {
  return Guarded(
      "Quillon.Utility.getHTMLAttachmentByUsingXML", [&] { return "DocumentID: '" + std::to_string(iDocID) + "'"; },
      [&]() -> std::string {
        auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
            "SELECT XMLBODY, HTMLATTACHMENTXSL FROM DOCUMENT AS DOC, DOCUMENTTYPE AS DOCTYPE WHERE "
            "DOC.DOCUMENTID = " +
            SqlLong(iDocID) +
            " AND "
            "DOC.DOCUMENTTYPEID = DOCTYPE.DOCUMENTTYPEID");
        if (rs->EOF_()) return {};
        std::string xsl = text::Trim(rs->Fields("HTMLATTACHMENTXSL").Value().text());
        if (xsl.empty() || text::InStr(1, xsl, ".xsl", true) == 0) return {};
        const bool given = !text::Trim(iDocType).empty() && !iXml.empty();
        std::string xml = given ? iXml : rs->Fields("XMLBODY").Value().text();
        std::string html = transformXMLStringToHTML(xml, styleSheetFolder("HTMLXSLPath") + xsl);
        return WriteXMLFileToDisk(html, std::to_string(iDocID) + ".html");
      });
}

std::string Utility::getHTMLAttachment(std::int32_t iDocID) {
  return Guarded("Quillon.Utility.getHTMLAttachment", [&] { return getHTMLAttachmentByUsingXML(iDocID, "", ""); });
}

bool Utility::CanAttachHTMLFile(const std::string& iDocType) {
  const std::string source = "Quillon.Utility.CanAttachHTMLFile";
  return Guarded(source, [&] {
    std::string xsl = text::Trim(GetHtmlAttachmentXsl(iDocType));
    if (xsl.empty()) return false;
    std::string file = styleSheetFolder("HTMLXSLPath") + xsl;
    try {
      XML().XslFileToDomDocument(file);
    } catch (...) {
      ErrorInfo why = ErrorInfo::current();
      throw Error(why.number ? why.number : XSLParseError, source,
                  "The XML Object couldn't load the XSL file '" + file + "'.");
    }
    return true;
  });
}

}  // namespace quillon
