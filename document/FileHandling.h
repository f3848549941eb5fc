// FileHandling: the component's working folders, file names with time
// stamps, writing text or copying files with explicit create/overwrite
// rules, and the usual file and folder queries.
//
// Paths are written in Windows form. A path that begins with two
// backslashes (a network share) is handed to the file store "Shale.File",
// created by name for each call; every other path is local and its
// backslashes become "/". MoveFile and CopyFile use the file store when
// either side is a network path. Text in the program is UTF-8; text files
// are ANSI, in the site's ANSI code page, or Unicode, UTF-16LE after the
// byte-order mark (platform/TextFile.h). createTextFile writes the form it
// is asked for and refuses ANSI text the code page cannot hold;
// WriteFileToDisk writes ANSI text, or Unicode text when the code page
// cannot hold it, and appends in the form the file already has.
// GetFileContentAsString reads every form back as UTF-8 text.
//
// Host folders for the Windows folder types: WindowsFolder is "/etc" (the
// system's configuration), SystemFolder "/usr/lib" (its libraries),
// TempFolder the site's "temp" folder when it exists, else TMPDIR, else
// "/tmp".
//
// Every public method ends its failure path in ReRaiseError with the
// source "Quillon.FileHandling.<Method>". Objects hold no state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Object.h"

namespace quillon {

// Open modes of the text streams WriteFileToDisk writes with.
inline constexpr std::int32_t kForReading = 1;
inline constexpr std::int32_t kForWriting = 2;
inline constexpr std::int32_t kForAppending = 8;

class FileHandling : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The part after the last "." of the last path part; "" when none.
  std::string GetFileExtension(const std::string& i_sFileName);
  // The folder of an EFolderType value; types outside 1 to 13 act as AsIs.
  // Configured folders raise MissingParameter when their parameter is absent.
  std::string GetFolderName(std::int32_t i_nFolderType, const std::string& i_sFolderName = "");
  // Joins the trimmed parts by EFileType. TempFile uses a fresh name
  // "radXXXXX.tmp" instead of i_sFileName; Backup is the AsIs name followed
  // by ".bak"; other values act as AsIs.
  std::string GetFileName(std::int32_t i_nFileType, const std::string& i_sFilePrefix, const std::string& i_sFileName,
                          const std::string& i_sFileSuffix, const std::string& i_sFileExtension);
  // Writes a text or a source file to i_sDestFile after checking, in this
  // order: destination named, mode not reading, a source given, the source
  // file present, the destination present or creatable, the destination
  // absent or overwritable, the destination folder present or creatable.
  // A named source file wins over a text. Modes: kForWriting replaces the
  // content, kForAppending (the default) appends; any other mode is refused
  // with WrongIOMode.
  void WriteFileToDisk(const std::string& i_sDestFile, const std::string& i_sSourceString = "",
                       const std::string& i_sSourceFile = "", bool i_bCreateFolders = false, bool i_bCreateFile = true,
                       bool i_bOverwriteFile = false, std::int32_t i_nIOMode = kForAppending);
  // Creates the folder i_sFilePath with every missing parent.
  void CreateFolderTree(const std::string& i_sFilePath);
  // The full paths of the folder's files (text items), sorted by name; a
  // network folder's paths are network paths.
  std::shared_ptr<Collection> getFilesInFolder(const std::string& i_sFolder);
  // The names of the folder's files, sorted.
  std::shared_ptr<Collection> getFileNamesInFolder(const std::string& i_sFolder);
  // The whole content; a missing file raises CannotLoadFile (SLBSH4560).
  std::string GetFileContentAsString(const std::string& i_sFileName);
  void deleteFolderAndFilesInFolder(const Variant& i_sFolder);
  void DeleteFileFromDisk(const std::string& i_sFileName);
  // The destination must not exist.
  void MoveFile(const std::string& i_sFromFile, const std::string& i_sToFile);
  // An existing destination is replaced only with i_bOverwiteFiles.
  void CopyFile(const std::string& i_sFromFile, const std::string& i_sToFile, bool i_bOverwiteFiles);
  bool FileExists(const std::string& i_sFileName);
  bool FolderExists(const std::string& i_sFolderName);
  // False when empty or holding one of : * ? " < > |
  bool IsValidFolderName(const std::string& i_sFolderName);
  // The last path part without its extension.
  std::string GetBaseName(const std::string& i_sPath);
  // The folder joined with the name, or with base & "_" & n & "." &
  // extension for the first n = 1, 2, … not yet used ("a_1" for a name
  // without extension).
  std::string GetUniqueFileName(const std::string& i_sFolderName, const std::string& i_sFileName);
  // Writes the text as a new file, replacing an existing one.
  void createTextFile(const std::string& i_sTextStream, const std::string& i_sFileName, bool i_bUnicode);
};

}  // namespace quillon
