#include "document/FileHandling.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Configuration.h"
#include "platform/Error.h"
#include "platform/LocalFiles.h"
#include "platform/FileStore.h"
#include "platform/Text.h"
#include "platform/TextFile.h"

namespace fs = std::filesystem;

namespace quillon {

using General::Guarded;

namespace {

const std::string kClassSource = "Quillon.FileHandling.";

std::string sourceOf(const char* method) { return kClassSource + method; }

bool isNetwork(const std::string& path) { return text::IsNetworkPath(path); }
fs::path localPath(const std::string& path) { return fs::path(text::LocalPath(path)); }

// ---- paths as text (the caller's form is kept: "\" stays "\") ----

// The path up to its last separator: "" for a bare name, "/" for a file in
// the root.
std::string parentOf(const std::string& path) {
  std::size_t pos = path.find_last_of("\\/");
  if (pos == std::string::npos) return "";
  if (pos == 0) return path.substr(0, 1);
  return path.substr(0, pos);
}

// The last part of a path, trailing separators ignored.
std::string lastPart(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && text::IsPathSeparator(path[end - 1])) --end;
  std::size_t start = end;
  while (start > 0 && !text::IsPathSeparator(path[start - 1])) --start;
  return path.substr(start, end - start);
}

std::string extensionOf(const std::string& path) {
  std::string name = lastPart(path);
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot + 1);
}

std::string baseNameOf(const std::string& path) {
  std::string name = lastPart(path);
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// ---- the file store for network paths ----

std::shared_ptr<Object> fileStore() {
  return General::RequireComponent("Shale.File", "Quillon.FileHandling");
}

Variant callStore(const std::string& method, std::vector<Variant> args) { return fileStore()->invoke(method, args); }

// ---- workers: the file store for network paths, the local file system otherwise ----

bool fileExists(const std::string& path) {
  if (isNetwork(path)) return callStore("FileExists", {Variant(path)}).toBool();
  return !path.empty() && LocalFiles::IsFile(localPath(path));
}

bool folderExists(const std::string& path) {
  if (isNetwork(path)) return callStore("FolderExists", {Variant(path)}).toBool();
  return !path.empty() && LocalFiles::IsFolder(localPath(path));
}

void createFolderTree(const std::string& path, const std::string& source) {
  if (isNetwork(path)) {
    callStore("CreateFolderTree", {Variant(path)});
    return;
  }
  if (text::Trim(path).empty()) throw Error(hr::kBadFileName, source, "No folder was given.");
  fs::path p = localPath(path);
  std::error_code ec;
  fs::create_directories(p, ec);
  if (ec || !LocalFiles::IsFolder(p)) LocalFiles::Raise(hr::kPathFileAccess, source, "The folder cannot be created", path, ec);
}

std::vector<std::string> fileNames(const std::string& folder, const std::string& source) {
  std::vector<std::string> names;
  if (isNetwork(folder)) {
    Variant list = callStore("GetFileNames", {Variant(folder)});
    for (const Variant& v : list.array().elements()) names.push_back(v.text());
    return names;
  }
  fs::path p = localPath(folder);
  if (folder.empty() || !LocalFiles::IsFolder(p)) LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", folder);
  std::error_code ec;
  for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError)) names.push_back(it->path().filename().string());
  }
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, source, "The folder cannot be listed", folder, ec);
  std::sort(names.begin(), names.end());
  return names;
}

std::string readBytes(const std::string& path, const std::string& source) {
  if (isNetwork(path)) return callStore("GetFileContent", {Variant(path)}).text();
  fs::path p = localPath(path);
  if (!LocalFiles::IsFile(p)) LocalFiles::Raise(hr::kFileNotFound, source, "File not found", path);
  std::ifstream in(p, std::ios::binary);
  if (!in) LocalFiles::Raise(hr::kPermissionDenied, source, "The file cannot be read", path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The local file a text is written to: a network path is resolved by the
// file store, so both kinds of path go through the one write path of
// TextFile. The file's folder must exist and the path must not name a folder.
fs::path writableFile(const std::string& path, const std::string& source) {
  if (text::Trim(path).empty()) throw Error(hr::kBadFileName, source, "No file name was given.");
  fs::path p = isNetwork(path) ? fs::path(callStore("ResolvePath", {Variant(path)}).text()) : localPath(path);
  fs::path parent = p.parent_path();
  if (!parent.empty() && !LocalFiles::IsFolder(parent)) LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", path);
  if (LocalFiles::IsFolder(p)) LocalFiles::Raise(hr::kPermissionDenied, source, "The path names a folder", path);
  return p;
}

// Writes or appends text as a text stream does: ANSI in the site's code
// page, and Unicode for text the code page cannot hold (an existing file
// keeps its form; see TextFile).
void writeText(const std::string& path, const std::string& text, bool append, const std::string& source) {
  fs::path file = writableFile(path, source);
  if (append)
    TextFile::Append(file, text, TextFile::Form::AnsiOrUnicode, source, path);
  else
    TextFile::Write(file, text, TextFile::Form::AnsiOrUnicode, source, path);
}

// A local destination ending in a separator names the folder to copy into.
fs::path localDestination(const std::string& to, const fs::path& from) {
  fs::path d = localPath(to);
  if (!to.empty() && text::IsPathSeparator(to.back())) d /= from.filename();
  return d;
}

void copyFile(const std::string& from, const std::string& to, bool overwrite, const std::string& source) {
  if (isNetwork(from) || isNetwork(to)) {
    callStore("CopyFile", {Variant(from), Variant(to), Variant(overwrite)});
    return;
  }
  fs::path s = localPath(from);
  fs::path d = localDestination(to, s);
  if (from.empty() || !LocalFiles::IsFile(s)) LocalFiles::Raise(hr::kFileNotFound, source, "File not found", from);
  if (!d.parent_path().empty() && !LocalFiles::IsFolder(d.parent_path()))
    LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", to);
  if (LocalFiles::IsFolder(d)) LocalFiles::Raise(hr::kPermissionDenied, source, "The destination is a folder", to);
  std::error_code ec;
  if (LocalFiles::IsFile(d)) {
    if (!overwrite) LocalFiles::Raise(hr::kFileAlreadyExists, source, "File already exists", to);
    if (fs::equivalent(s, d, ec)) return;  // a file copied onto itself stays as it is
  }
  fs::copy_file(s, d, fs::copy_options::overwrite_existing, ec);
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be copied to", to, ec);
}

void moveFile(const std::string& from, const std::string& to, const std::string& source) {
  if (isNetwork(from) || isNetwork(to)) {
    callStore("MoveFile", {Variant(from), Variant(to)});
    return;
  }
  fs::path s = localPath(from);
  fs::path d = localDestination(to, s);
  if (from.empty() || !LocalFiles::IsFile(s)) LocalFiles::Raise(hr::kFileNotFound, source, "File not found", from);
  if (!d.parent_path().empty() && !LocalFiles::IsFolder(d.parent_path()))
    LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", to);
  std::error_code ec;
  if (fs::exists(d, ec)) LocalFiles::Raise(hr::kFileAlreadyExists, source, "File already exists", to);
  fs::rename(s, d, ec);
  if (ec == std::errc::cross_device_link) {
    ec.clear();
    fs::copy_file(s, d, ec);
    if (!ec) fs::remove(s, ec);
  }
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be moved to", to, ec);
}

// ---- clock and names ----

std::tm localNow() {
  std::time_t now = wallClockSeconds();
  std::tm parts{};
  ::localtime_r(&now, &parts);
  return parts;
}

// "_yyyy.mm.dd_hh.mm.ss" of the local clock.
std::string timeStampSuffix() {
  std::tm now = localNow();
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "_%Y.%m.%d_%H.%M.%S", &now);
  return buffer;
}

// A fresh temporary file name in the form the platform's file system gives
// them: "rad" and five hexadecimal digits, extension ".tmp".
std::string temporaryName() {
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<unsigned> digits(0, 0xFFFFF);
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "rad%05X.tmp", digits(generator));
  return buffer;
}

std::string temporaryFolder() {
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (site && *site) {
    std::string dir = General::getInstallDir();
    if (!dir.empty()) {
      fs::path temp = localPath(dir) / "temp";
      if (LocalFiles::IsFolder(temp)) return temp.string();
    }
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp && *tmp ? tmp : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

std::string FileHandling::GetFileExtension(const std::string& i_sFileName) {
  return Guarded(sourceOf("GetFileExtension"), [&] { return extensionOf(i_sFileName); });
}

std::string FileHandling::GetFolderName(std::int32_t i_nFolderType, const std::string& i_sFolderName) {
  return Guarded(sourceOf("GetFolderName"), [&]() -> std::string {
    switch (static_cast<EFolderType>(i_nFolderType)) {
      case EFolderType::UploadFolder: return DBUtils::GetParameter("XmlUploadTempDir");
      case EFolderType::ErrorFolder: return DBUtils::GetParameter("ErrorPath");
      case EFolderType::XmlPath1Folder: return DBUtils::GetParameter("XMLPath1");
      case EFolderType::XmlPath2Folder: return DBUtils::GetParameter("XMLPath2");
      case EFolderType::XmlErrorFolder: return DBUtils::GetParameter("XMLErrorPath");
      case EFolderType::ObiFolder: return DBUtils::GetParameter("ObiPath");
      case EFolderType::WindowsFolder: return "/etc";
      case EFolderType::SystemFolder: return "/usr/lib";
      case EFolderType::TempFolder: return temporaryFolder();
      case EFolderType::WithTimeStamp: return i_sFolderName + timeStampSuffix();
      case EFolderType::AttachmentsVirtualFolder: return DBUtils::GetParameter("AttachmentsVirtualPath");
      case EFolderType::ExcelTempFolder: {
        std::string folder = DBUtils::GetParameter("ExcelTempFolder");
        if (!folder.empty() && !folderExists(folder)) createFolderTree(folder, sourceOf("GetFolderName"));
        return folder;
      }
      case EFolderType::AsIs:
      default: return text::Trim(i_sFolderName).empty() ? "." : i_sFolderName;
    }
  });
}

std::string FileHandling::GetFileName(std::int32_t i_nFileType, const std::string& i_sFilePrefix,
                                      const std::string& i_sFileName, const std::string& i_sFileSuffix,
                                      const std::string& i_sFileExtension) {
  return Guarded(sourceOf("GetFileName"), [&] {
    std::string prefix = text::Trim(i_sFilePrefix);
    std::string name = text::Trim(i_sFileName);
    std::string tail = text::Trim(i_sFileSuffix) + text::Trim(i_sFileExtension);
    switch (static_cast<EFileType>(i_nFileType)) {
      case EFileType::TempFile: return prefix + temporaryName() + tail;
      case EFileType::WithTimeStamp: return prefix + name + timeStampSuffix() + tail;
      case EFileType::Backup: return prefix + name + tail + ".bak";
      case EFileType::AsIs:
      default: return prefix + name + tail;
    }
  });
}

void FileHandling::WriteFileToDisk(const std::string& i_sDestFile, const std::string& i_sSourceString,
                                   const std::string& i_sSourceFile, bool i_bCreateFolders, bool i_bCreateFile,
                                   bool i_bOverwriteFile, std::int32_t i_nIOMode) {
  const std::string source = sourceOf("WriteFileToDisk");
  Guarded(source, [&] {
    if (text::Trim(i_sDestFile).empty())
      throw Error(MissingParameter, source + "_DestFile", I18N::GetLabel("SLBSH4566"));
    if (i_nIOMode == kForReading) throw Error(WrongIOMode, source, I18N::GetLabel("SLBSH4562"));
    if (i_nIOMode != kForWriting && i_nIOMode != kForAppending)
      throw Error(WrongIOMode, source,
                  "The I/O mode " + std::to_string(i_nIOMode) + " is neither writing (2) nor appending (8).");
    const bool sourceFileNamed = !text::Trim(i_sSourceFile).empty();
    if (i_sSourceString.empty() && !sourceFileNamed)
      throw Error(NotPresent, source + "_SourceFile", I18N::GetLabel("SLBSH4565"));
    if (sourceFileNamed && !fileExists(i_sSourceFile))
      throw Error(NotPresent, source + "_SourceFile", I18N::LabelWith("SLBSH4561", {{"[%FILENAME%]", i_sSourceFile}}));
    const bool destinationExists = fileExists(i_sDestFile);
    if (!destinationExists && !i_bCreateFile)
      throw Error(NotPresent, source + "_DestFile", I18N::LabelWith("SLBSH4561", {{"[%FILENAME%]", i_sDestFile}}));
    if (destinationExists && !i_bOverwriteFile)
      throw Error(AlreadyPresent, source, I18N::LabelWith("SLBSH4563", {{"[%FILENAME%]", i_sDestFile}}));
    const std::string folder = parentOf(i_sDestFile);
    if (!folder.empty() && !folderExists(folder)) {
      if (!i_bCreateFolders)
        throw Error(NotPresent, source + "_DestFolder", I18N::LabelWith("SLBSH4564", {{"[%FOLDERNAME%]", folder}}));
      createFolderTree(folder, source);
    }

    const bool append = i_nIOMode == kForAppending;
    if (sourceFileNamed) {
      if (append)
        writeText(i_sDestFile, TextFile::Decode(readBytes(i_sSourceFile, source)), true, source);
      else
        copyFile(i_sSourceFile, i_sDestFile, true, source);
    } else {
      writeText(i_sDestFile, i_sSourceString, append, source);
    }
  });
}

void FileHandling::CreateFolderTree(const std::string& i_sFilePath) {
  const std::string source = sourceOf("CreateFolderTree");
  Guarded(source, [&] { createFolderTree(i_sFilePath, source); });
}

std::shared_ptr<Collection> FileHandling::getFilesInFolder(const std::string& i_sFolder) {
  const std::string source = sourceOf("getFilesInFolder");
  return Guarded(source, [&] {
    auto files = std::make_shared<Collection>();
    for (const std::string& name : fileNames(i_sFolder, source)) files->Add(Variant(text::JoinPath(i_sFolder, name)));
    return files;
  });
}

std::shared_ptr<Collection> FileHandling::getFileNamesInFolder(const std::string& i_sFolder) {
  const std::string source = sourceOf("getFileNamesInFolder");
  return Guarded(source, [&] {
    auto names = std::make_shared<Collection>();
    for (const std::string& name : fileNames(i_sFolder, source)) names->Add(Variant(name));
    return names;
  });
}

std::string FileHandling::GetFileContentAsString(const std::string& i_sFileName) {
  const std::string source = sourceOf("GetFileContentAsString");
  return Guarded(source, [&] {
    if (!fileExists(i_sFileName))
      throw Error(CannotLoadFile, source, I18N::LabelWith("SLBSH4560", {{"[%FILENAME%]", i_sFileName}}));
    return TextFile::Decode(readBytes(i_sFileName, source));
  });
}

void FileHandling::deleteFolderAndFilesInFolder(const Variant& i_sFolder) {
  const std::string source = sourceOf("deleteFolderAndFilesInFolder");
  Guarded(source, [&] {
    std::string folder = i_sFolder.text();
    if (isNetwork(folder)) {
      callStore("DeleteFolder", {Variant(folder)});
      return;
    }
    fs::path p = localPath(folder);
    if (folder.empty() || !LocalFiles::IsFolder(p)) LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", folder);
    std::error_code ec;
    fs::path absolute = fs::weakly_canonical(p, ec);
    if (!ec && absolute == absolute.root_path())
      LocalFiles::Raise(hr::kPermissionDenied, source, "The root folder cannot be deleted", folder);
    fs::remove_all(p, ec);
    if (ec) LocalFiles::Raise(hr::kPermissionDenied, source, "The folder cannot be deleted", folder, ec);
  });
}

void FileHandling::DeleteFileFromDisk(const std::string& i_sFileName) {
  const std::string source = sourceOf("DeleteFileFromDisk");
  Guarded(source, [&] {
    if (isNetwork(i_sFileName)) {
      callStore("DeleteFile", {Variant(i_sFileName)});
      return;
    }
    fs::path p = localPath(i_sFileName);
    if (i_sFileName.empty() || !LocalFiles::IsFile(p)) LocalFiles::Raise(hr::kFileNotFound, source, "File not found", i_sFileName);
    std::error_code ec;
    fs::remove(p, ec);
    if (ec) LocalFiles::Raise(hr::kPermissionDenied, source, "The file cannot be deleted", i_sFileName, ec);
  });
}

void FileHandling::MoveFile(const std::string& i_sFromFile, const std::string& i_sToFile) {
  const std::string source = sourceOf("MoveFile");
  Guarded(source, [&] { moveFile(i_sFromFile, i_sToFile, source); });
}

void FileHandling::CopyFile(const std::string& i_sFromFile, const std::string& i_sToFile, bool i_bOverwiteFiles) {
  const std::string source = sourceOf("CopyFile");
  Guarded(source, [&] { copyFile(i_sFromFile, i_sToFile, i_bOverwiteFiles, source); });
}

bool FileHandling::FileExists(const std::string& i_sFileName) {
  return Guarded(sourceOf("FileExists"), [&] { return fileExists(i_sFileName); });
}

bool FileHandling::FolderExists(const std::string& i_sFolderName) {
  return Guarded(sourceOf("FolderExists"), [&] { return folderExists(i_sFolderName); });
}

bool FileHandling::IsValidFolderName(const std::string& i_sFolderName) {
  return Guarded(sourceOf("IsValidFolderName"), [&] {
    return !i_sFolderName.empty() && i_sFolderName.find_first_of(":*?\"<>|") == std::string::npos;
  });
}

std::string FileHandling::GetBaseName(const std::string& i_sPath) {
  return Guarded(sourceOf("GetBaseName"), [&] { return baseNameOf(i_sPath); });
}

std::string FileHandling::GetUniqueFileName(const std::string& i_sFolderName, const std::string& i_sFileName) {
  return Guarded(sourceOf("GetUniqueFileName"), [&] {
    std::string path = text::JoinPath(i_sFolderName, i_sFileName);
    const std::string base = baseNameOf(i_sFileName);
    const std::string extension = extensionOf(i_sFileName);
    for (long counter = 1; fileExists(path); ++counter)
      path = text::JoinPath(i_sFolderName, base + "_" + std::to_string(counter) + (extension.empty() ? "" : "." + extension));
    return path;
  });
}

void FileHandling::createTextFile(const std::string& i_sTextStream, const std::string& i_sFileName, bool i_bUnicode) {
  const std::string source = sourceOf("createTextFile");
  Guarded(source, [&] {
    if (isNetwork(i_sFileName)) {
      callStore("CreateTextFile", {Variant(i_sTextStream), Variant(i_sFileName), Variant(i_bUnicode)});
      return;
    }
    TextFile::Write(writableFile(i_sFileName, source), i_sTextStream,
                    i_bUnicode ? TextFile::Form::Unicode : TextFile::Form::Ansi, source, i_sFileName);
  });
}

const ClassInfo* FileHandling::classInfo() const {
  using F = FileHandling;
  static const ClassInfo* info =
      ClassBuilder<FileHandling>("Quillon.FileHandling")
          .bind<&F::GetFileExtension>("GetFileExtension", {"i_sFileName"})
          .bind<&F::GetFolderName>("GetFolderName", {"i_nFolderType", opt("i_sFolderName", "")})
          .bind<&F::GetFileName>("GetFileName",
                                 {"i_nFileType", "i_sFilePrefix", "i_sFileName", "i_sFileSuffix", "i_sFileExtension"})
          .bind<&F::WriteFileToDisk>("WriteFileToDisk",
                                     {"i_sDestFile", opt("i_sSourceString", ""), opt("i_sSourceFile", ""),
                                      opt("i_bCreateFolders", false), opt("i_bCreateFile", true),
                                      opt("i_bOverwriteFile", false), opt("i_nIOMode", kForAppending)})
          .bind<&F::CreateFolderTree>("CreateFolderTree", {"i_sFilePath"})
          .bind<&F::getFilesInFolder>("getFilesInFolder", {"i_sFolder"})
          .bind<&F::getFileNamesInFolder>("getFileNamesInFolder", {"i_sFolder"})
          .bind<&F::GetFileContentAsString>("GetFileContentAsString", {"i_sFileName"})
          .bind<&F::deleteFolderAndFilesInFolder>("deleteFolderAndFilesInFolder", {"i_sFolder"})
          .bind<&F::DeleteFileFromDisk>("DeleteFileFromDisk", {"i_sFileName"})
          .bind<&F::MoveFile>("MoveFile", {"i_sFromFile", "i_sToFile"})
          .bind<&F::CopyFile>("CopyFile", {"i_sFromFile", "i_sToFile", "i_bOverwiteFiles"})
          .bind<&F::FileExists>("FileExists", {"i_sFileName"})
          .bind<&F::FolderExists>("FolderExists", {"i_sFolderName"})
          .bind<&F::IsValidFolderName>("IsValidFolderName", {"i_sFolderName"})
          .bind<&F::GetBaseName>("GetBaseName", {"i_sPath"})
          .bind<&F::GetUniqueFileName>("GetUniqueFileName", {"i_sFolderName", "i_sFileName"})
          .bind<&F::createTextFile>("createTextFile", {"i_sTextStream", "i_sFileName", "i_bUnicode"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (FileHandling().classInfo(), true);
}

}  // namespace quillon
