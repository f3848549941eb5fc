#include "platform/FileStore.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/Configuration.h"
#include "platform/Error.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "platform/XmlDom.h"

namespace fs = std::filesystem;

namespace quillon {

namespace {

std::string sourceOf(const char* method) { return std::string("Shale.File.") + method; }

// The parts of a network path after the leading two backslashes.
std::vector<std::string> networkParts(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (std::size_t i = 2; i < path.size(); ++i) {
    if (text::IsPathSeparator(path[i])) {
      parts.push_back(current);
      current.clear();
    } else {
      current += path[i];
    }
  }
  parts.push_back(current);
  return parts;
}

[[noreturn]] void refuse(const std::string& source, const std::string& path, const std::string& why) {
  throw Error(hr::kBadFileName, source, "The path " + LocalFiles::Quoted(path) + " is not allowed: " + why + ".");
}

// Resolves a path for the method `source`; `levels` gets the number of
// parts below the share root (server, share, …), 0 for a local path.
fs::path resolve(const std::string& path, const std::string& source, std::size_t* levels = nullptr) {
  if (levels) *levels = 0;
  if (text::Trim(path).empty()) throw Error(hr::kBadFileName, source, "No path was given.");
  if (path.find('\0') != std::string::npos) refuse(source, path, "it contains a NUL character");
  if (!text::IsNetworkPath(path)) return fs::path(text::LocalPath(path));

  std::vector<std::string> parts = networkParts(path);
  if (parts.size() < 2 || parts[0].empty() || parts[1].empty())
    refuse(source, path, "a network path names a server and a share (\\\\server\\share\\...)");
  fs::path resolved = FileStore::ShareRoot();
  std::size_t depth = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part == "..") refuse(source, path, "it leaves its folder (\"..\")");
    if (i < 2) {
      if (part == ".") refuse(source, path, "the server or share name is \".\"");
      resolved /= toLowerAscii(part);
    } else {
      if (part.empty() || part == ".") continue;
      resolved /= part;
    }
    ++depth;
  }
  if (levels) *levels = depth;
  return resolved;
}

// A destination that ends in a separator names a folder: the source's file
// name is added to it.
fs::path destinationFor(const std::string& to, const fs::path& resolvedTo, const fs::path& from) {
  if (!to.empty() && text::IsPathSeparator(to.back())) return resolvedTo / from.filename();
  return resolvedTo;
}

void requireParentFolder(const fs::path& p, const std::string& source, const std::string& path) {
  fs::path parent = p.parent_path();
  if (!parent.empty() && !LocalFiles::IsFolder(parent)) LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", path);
}

// The last part of a path as its file name, for the name an attachment shows.
std::string lastPartOf(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && text::IsPathSeparator(path[end - 1])) --end;
  std::size_t start = end;
  while (start > 0 && !text::IsPathSeparator(path[start - 1])) --start;
  return path.substr(start, end - start);
}

std::string refusedMessage(const mail::SendResult& r) {
  std::string accepted;
  for (const auto& a : r.accepted) accepted += (accepted.empty() ? "" : ", ") + a;
  return "The mail relay refused some recipients: " + r.refusedText() + ". The message went to the others (" +
         accepted + ").";
}

}  // namespace

std::string FileStore::ShareRoot() {
  const char* source = "Shale.File.ShareRoot";
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (!site || !*site)
    throw Error(hr::kFail, source, "No site is chosen (QUILLON_SITE is not set), so network paths cannot be resolved.");
  fs::path siteDir = text::LocalPath(site);
  Configuration config;
  config.Load((siteDir / "SiteConfiguration.xml").string());
  std::string root = text::Trim(config.GetValue("FILESTORE", "ShareRoot").text());
  if (root.empty())
    throw Error(hr::kFail, source,
                "The site configuration has no share root (section FILESTORE, key ShareRoot), so network paths "
                "cannot be resolved.");
  fs::path r = text::LocalPath(root);
  if (r.is_relative()) r = siteDir / r;
  return r.lexically_normal().string();
}

std::string FileStore::ResolvePath(const std::string& path) const {
  return resolve(path, sourceOf("ResolvePath")).string();
}

bool FileStore::FileExists(const std::string& path) const {
  return LocalFiles::IsFile(resolve(path, sourceOf("FileExists")));
}

bool FileStore::FolderExists(const std::string& path) const {
  return LocalFiles::IsFolder(resolve(path, sourceOf("FolderExists")));
}

void FileStore::CreateFolderTree(const std::string& path) {
  std::string source = sourceOf("CreateFolderTree");
  fs::path p = resolve(path, source);
  std::error_code ec;
  fs::create_directories(p, ec);
  if (ec || !LocalFiles::IsFolder(p)) LocalFiles::Raise(hr::kPathFileAccess, source, "The folder cannot be created", path, ec);
}

void FileStore::CopyFile(const std::string& from, const std::string& to, bool overwrite) {
  std::string source = sourceOf("CopyFile");
  fs::path src = resolve(from, source);
  fs::path dst = destinationFor(to, resolve(to, source), src);
  if (!LocalFiles::IsFile(src)) LocalFiles::Raise(hr::kFileNotFound, source, "File not found", from);
  requireParentFolder(dst, source, to);
  if (LocalFiles::IsFolder(dst)) LocalFiles::Raise(hr::kPermissionDenied, source, "The destination is a folder", to);
  if (LocalFiles::IsFile(dst) && !overwrite) LocalFiles::Raise(hr::kFileAlreadyExists, source, "File already exists", to);
  std::error_code ec;
  if (fs::exists(dst, ec) && fs::equivalent(src, dst, ec)) return;  // a file copied onto itself stays as it is
  fs::copy_file(src, dst, fs::copy_options::overwrite_existing, ec);
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be copied to", to, ec);
}

void FileStore::MoveFile(const std::string& from, const std::string& to) {
  std::string source = sourceOf("MoveFile");
  fs::path src = resolve(from, source);
  fs::path dst = destinationFor(to, resolve(to, source), src);
  if (!LocalFiles::IsFile(src)) LocalFiles::Raise(hr::kFileNotFound, source, "File not found", from);
  requireParentFolder(dst, source, to);
  std::error_code ec;
  if (fs::exists(dst, ec)) LocalFiles::Raise(hr::kFileAlreadyExists, source, "File already exists", to);
  fs::rename(src, dst, ec);
  if (ec == std::errc::cross_device_link) {
    // The share root may be another file system than the local folder.
    ec.clear();
    fs::copy_file(src, dst, ec);
    if (!ec) fs::remove(src, ec);
  }
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be moved to", to, ec);
}

void FileStore::DeleteFile(const std::string& path) {
  std::string source = sourceOf("DeleteFile");
  fs::path p = resolve(path, source);
  if (!LocalFiles::IsFile(p)) LocalFiles::Raise(hr::kFileNotFound, source, "File not found", path);
  std::error_code ec;
  fs::remove(p, ec);
  if (ec) LocalFiles::Raise(hr::kPermissionDenied, source, "The file cannot be deleted", path, ec);
}

void FileStore::DeleteFolder(const std::string& path) {
  std::string source = sourceOf("DeleteFolder");
  std::size_t levels = 0;
  fs::path p = resolve(path, source, &levels);
  if (text::IsNetworkPath(path) && levels <= 2)
    LocalFiles::Raise(hr::kPermissionDenied, source, "A share cannot be deleted", path);
  if (!LocalFiles::IsFolder(p)) LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", path);
  std::error_code ec;
  fs::path absolute = fs::weakly_canonical(p, ec);
  if (!ec && absolute == absolute.root_path())
    LocalFiles::Raise(hr::kPermissionDenied, source, "The root folder cannot be deleted", path);
  fs::remove_all(p, ec);
  if (ec) LocalFiles::Raise(hr::kPermissionDenied, source, "The folder cannot be deleted", path, ec);
}

void FileStore::CopyFolder(const std::string& from, const std::string& to, bool overwrite) {
  std::string source = sourceOf("CopyFolder");
  fs::path src = resolve(from, source);
  fs::path dst = resolve(to, source);
  if (!LocalFiles::IsFolder(src)) LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", from);
  std::error_code ec;
  fs::create_directories(dst, ec);
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, source, "The folder cannot be created", to, ec);
  auto options = fs::copy_options::recursive |
                 (overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::skip_existing);
  fs::copy(src, dst, options, ec);
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, source, "The folder cannot be copied to", to, ec);
}

std::vector<std::string> FileStore::GetFileNames(const std::string& folder) const {
  std::string source = sourceOf("GetFileNames");
  fs::path p = resolve(folder, source);
  if (!LocalFiles::IsFolder(p)) LocalFiles::Raise(hr::kPathNotFound, source, "Path not found", folder);
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError)) names.push_back(it->path().filename().string());
  }
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, source, "The folder cannot be listed", folder, ec);
  std::sort(names.begin(), names.end());
  return names;
}

void FileStore::CreateTextFile(const std::string& text, const std::string& path, bool unicode) {
  std::string source = sourceOf("CreateTextFile");
  fs::path p = resolve(path, source);
  requireParentFolder(p, source, path);
  if (LocalFiles::IsFolder(p)) LocalFiles::Raise(hr::kPermissionDenied, source, "The path names a folder", path);
  TextFile::Write(p, text, unicode ? TextFile::Form::Unicode : TextFile::Form::Ansi, source, path);
}

void FileStore::AppendTextFile(const std::string& text, const std::string& path) {
  std::string source = sourceOf("AppendTextFile");
  fs::path p = resolve(path, source);
  requireParentFolder(p, source, path);
  if (LocalFiles::IsFolder(p)) LocalFiles::Raise(hr::kPermissionDenied, source, "The path names a folder", path);
  TextFile::Append(p, text, TextFile::Form::AnsiOrUnicode, source, path);
}

std::string FileStore::GetFileContent(const std::string& path) const {
  std::string source = sourceOf("GetFileContent");
  fs::path p = resolve(path, source);
  if (!LocalFiles::IsFile(p)) LocalFiles::Raise(hr::kFileNotFound, source, "File not found", path);
  std::ifstream in(p, std::ios::binary);
  if (!in) LocalFiles::Raise(hr::kPermissionDenied, source, "The file cannot be read", path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> FileStore::AttachmentPaths(const Variant& attachments) {
  std::vector<std::string> paths;
  auto add = [&](const Variant& v) {
    if (v.isEmpty() || v.isNull()) return;
    std::string path = v.text();
    if (!text::Trim(path).empty()) paths.push_back(path);
  };
  if (!attachments.isArray()) {
    add(attachments);
    return paths;
  }
  const VariantArray& a = attachments.array();
  if (a.dimensions() == 2) {
    for (long row = a.lbound(2); row <= a.ubound(2); ++row) add(a.at(a.lbound(1), row));
  } else if (a.dimensions() == 1) {
    for (long i = a.lbound(); i <= a.ubound(); ++i) add(a.at(i));
  } else {
    throw Error(hr::kInvalidArg, sourceOf("SendMail"), "The attachments must be a list of paths or of attachment rows.");
  }
  return paths;
}

mail::SendResult FileStore::SendMail(const std::string& from, const std::string& to, const std::string& subject,
                                     const std::string& body, const std::string& htmlFile, const std::string& xmlFile,
                                     const std::vector<std::string>& attachments) {
  const std::string source = sourceOf("SendMail");
  mail::OutgoingMail m;
  m.from = from;
  m.to = to;
  m.subject = subject;
  m.body = body;
  for (const std::string* file : {&htmlFile, &xmlFile})
    if (!text::Trim(*file).empty()) m.attachments.push_back({resolve(*file, source).string(), lastPartOf(*file)});
  for (const std::string& file : attachments)
    if (!text::Trim(file).empty()) m.attachments.push_back({resolve(file, source).string(), lastPartOf(file)});
  mail::SendResult result = mail::SendMail(m);
  if (!result.refused.empty()) throw Error(hr::kMailRecipientsRejected, source, refusedMessage(result));
  return result;
}

std::string FileStoreXml::ApplyStyleSheet(const std::string& xmlText, const std::string& styleSheetPath) const {
  const char* source = "Shale.XML.ApplyStyleSheet";
  DomDocument xml;
  if (!xml.loadXML(xmlText)) {
    const ParseError& e = xml.parseError();
    throw Error(e.errorCode ? e.errorCode : hr::kFail, source,
                "The XML text could not be parsed: " + e.reason + " (line " + std::to_string(e.line) + ", column " +
                    std::to_string(e.linepos) + ").");
  }
  std::string resolved = resolve(styleSheetPath, source).string();
  DomDocument xsl;
  if (!xsl.load(resolved)) {
    const ParseError& e = xsl.parseError();
    throw Error(e.errorCode ? e.errorCode : hr::kFail, source,
                "The style sheet " + LocalFiles::Quoted(styleSheetPath) + " could not be loaded: " + e.reason + ".");
  }
  return xml.transformNode(xsl);
}

const ClassInfo* FileStore::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<FileStore>("Shale.File")
          .method("ResolvePath", {in("Path")},
                  [](FileStore& f, auto& a) { return Variant(f.ResolvePath(a[0].text())); })
          .method("FileExists", {in("Path")},
                  [](FileStore& f, auto& a) { return Variant(f.FileExists(a[0].text())); })
          .method("FolderExists", {in("Folder")},
                  [](FileStore& f, auto& a) { return Variant(f.FolderExists(a[0].text())); })
          .method("CreateFolderTree", {in("Folder")},
                  [](FileStore& f, auto& a) {
                    f.CreateFolderTree(a[0].text());
                    return Variant();
                  })
          .method("CopyFile", {in("Source"), in("Destination"), opt("OverWriteFiles", Variant(true))},
                  [](FileStore& f, auto& a) {
                    f.CopyFile(a[0].text(), a[1].text(), a[2].toBool());
                    return Variant();
                  })
          .method("MoveFile", {in("Source"), in("Destination")},
                  [](FileStore& f, auto& a) {
                    f.MoveFile(a[0].text(), a[1].text());
                    return Variant();
                  })
          .method("DeleteFile", {in("Path")},
                  [](FileStore& f, auto& a) {
                    f.DeleteFile(a[0].text());
                    return Variant();
                  })
          .method("DeleteFolder", {in("Folder")},
                  [](FileStore& f, auto& a) {
                    f.DeleteFolder(a[0].text());
                    return Variant();
                  })
          .method("CopyFolder", {in("Source"), in("Destination"), opt("OverWriteFiles", Variant(true))},
                  [](FileStore& f, auto& a) {
                    f.CopyFolder(a[0].text(), a[1].text(), a[2].toBool());
                    return Variant();
                  })
          .method("GetFileNames", {in("Folder")},
                  [](FileStore& f, auto& a) { return Variant(VariantArray::ofStrings(f.GetFileNames(a[0].text()))); })
          .method("CreateTextFile", {in("Text"), in("FileName"), opt("Unicode", Variant(false))},
                  [](FileStore& f, auto& a) {
                    f.CreateTextFile(a[0].text(), a[1].text(), a[2].toBool());
                    return Variant();
                  })
          .method("AppendTextFile", {in("Text"), in("FileName")},
                  [](FileStore& f, auto& a) {
                    f.AppendTextFile(a[0].text(), a[1].text());
                    return Variant();
                  })
          .method("GetFileContent", {in("FileName")},
                  [](FileStore& f, auto& a) { return Variant(f.GetFileContent(a[0].text())); })
          .method("SendMail",
                  {in("From"), in("To"), in("Subject"), in("Body"), opt("HtmlFile", Variant("")),
                   opt("XmlFile", Variant("")), opt("Attachments", Variant())},
                  [](FileStore& f, auto& a) {
                    f.SendMail(a[0].text(), a[1].text(), a[2].text(), a[3].text(), a[4].text(), a[5].text(),
                               FileStore::AttachmentPaths(a[6]));
                    return Variant();
                  })
          .done();
  return info;
}

const ClassInfo* FileStoreXml::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<FileStoreXml>("Shale.XML")
          .method("ApplyStyleSheet", {in("XmlText"), in("StyleSheetPath")},
                  [](FileStoreXml& x, auto& a) { return Variant(x.ApplyStyleSheet(a[0].text(), a[1].text())); })
          .done();
  return info;
}

namespace {
const bool kRegistered = (FileStore().classInfo(), FileStoreXml().classInfo(), true);
}

}  // namespace quillon
