// FileStore: the file-store component for network paths ("Shale.File")
// and style sheets kept on shares ("Shale.XML").
//
// A network path "\\server\share\dir\file" lives below the share root of
// the current site: the key "ShareRoot" of section "FILESTORE" in
// QUILLON_SITE/SiteConfiguration.xml (a relative root is taken from the
// site folder). It resolves to ShareRoot/server/share/dir/file; server and
// share names are compared without letter case, as Windows does, and are
// stored in lower case; the folders and files below a share keep their
// case. Both "\" and "/" separate the parts, empty parts and "." are
// skipped.
//
// Names from documents, mails and partners reach these paths, so a path
// may never leave the share root: a ".." part, an empty, "." or ".." server
// or share name, and a NUL character are refused with Error kBadFileName
// before anything is touched. Every other path is a local one (backslashes
// become "/"), so copying and moving between a share and a local folder
// work with one call.
//
// Errors use the automation run-time numbers of file access (below, and
// hr::kFileNotFound) with the source "Shale.File.<Method>"; a path in a
// message is the path as the caller wrote it.
//
// The share root is read at every call. Objects hold no state and are
// cheap; not thread-safe per instance.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Mail.h"
#include "platform/Object.h"

namespace quillon {

namespace hr {
constexpr std::int32_t kBadFileName = static_cast<std::int32_t>(0x800A0034);      // run-time error 52
constexpr std::int32_t kFileAlreadyExists = static_cast<std::int32_t>(0x800A003A);  // run-time error 58
constexpr std::int32_t kPermissionDenied = static_cast<std::int32_t>(0x800A0046);   // run-time error 70
constexpr std::int32_t kPathFileAccess = static_cast<std::int32_t>(0x800A004B);     // run-time error 75
constexpr std::int32_t kPathNotFound = static_cast<std::int32_t>(0x800A004C);       // run-time error 76
}  // namespace hr

class FileStore : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The local file-system path of a network or local path (see above).
  std::string ResolvePath(const std::string& path) const;

  bool FileExists(const std::string& path) const;
  bool FolderExists(const std::string& path) const;
  // Creates the folder with every missing parent; an existing folder is fine.
  void CreateFolderTree(const std::string& path);
  // A destination ending in a separator names the folder to copy or move
  // into. The destination's folder must exist. An existing destination file
  // is replaced only when `overwrite` is true; MoveFile never replaces one.
  void CopyFile(const std::string& from, const std::string& to, bool overwrite);
  void MoveFile(const std::string& from, const std::string& to);
  void DeleteFile(const std::string& path);
  // Deletes the folder with everything in it. A share or server itself
  // ("\\server\share") cannot be deleted.
  void DeleteFolder(const std::string& path);
  // Copies a folder with its content into `to` (created when missing).
  void CopyFolder(const std::string& from, const std::string& to, bool overwrite);
  // Names of the files directly in the folder, sorted by byte value.
  std::vector<std::string> GetFileNames(const std::string& folder) const;
  // Writes the text as a new file, replacing an existing one: ANSI text in
  // the site's code page, or with `unicode` UTF-16LE after the byte-order
  // mark (platform/TextFile.h). ANSI text the code page cannot hold is
  // refused, never written with stand-in characters.
  void CreateTextFile(const std::string& text, const std::string& path, bool unicode);
  // Appends the text in the form the file has (Unicode after a byte-order
  // mark, ANSI otherwise); a missing or empty file is created as ANSI text,
  // or as Unicode text when the code page cannot hold it.
  void AppendTextFile(const std::string& text, const std::string& path);
  // The file's bytes, unconverted.
  std::string GetFileContent(const std::string& path) const;

  // Sends one plain-text mail through the site's mail service
  // (platform/Mail.h) with the HTML file, the XML file and the attachments
  // as files (empty paths are skipped). A network path resolves below the
  // share root, a local path stays local; every file is shown under its own
  // name, never a path. When the relay refuses some recipients the others
  // still get the mail and Error hr::kMailRecipientsRejected (source
  // "Shale.File.SendMail") names the refused ones. By name, the attachments
  // are a one-dimensional array of paths or a (column, row) array of rows
  // whose first column is the path.
  mail::SendResult SendMail(const std::string& from, const std::string& to, const std::string& subject,
                            const std::string& body, const std::string& htmlFile, const std::string& xmlFile,
                            const std::vector<std::string>& attachments);
  // The paths of an attachments argument as described above.
  static std::vector<std::string> AttachmentPaths(const Variant& attachments);

  // The share root of the current site (an absolute local folder).
  static std::string ShareRoot();
};

// "Shale.XML": XSL transformations whose style sheet may lie on a share.
class FileStoreXml : public Object {
 public:
  const ClassInfo* classInfo() const override;
  // Parses the XML text, loads the style sheet from the resolved path and
  // returns the transformation's output. Parse and load failures raise
  // Error with the parser's number and reason.
  std::string ApplyStyleSheet(const std::string& xmlText, const std::string& styleSheetPath) const;
};

}  // namespace quillon
