// Transports that write files: a partner's folder (local or a network
// share) and the staging folder of an EDI network.
#include <filesystem>
#include <system_error>

#include "delivery/PushTransports.h"
#include "document/Document.h"
#include "document/FileHandling.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "imports/B2BExcel.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/Spreadsheet.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace fs = std::filesystem;

namespace quillon::push {

namespace {

std::string failureInfo(const std::string& file, std::int32_t docID) {
  return I18N::LabelWith("SLBSH4229", {{"[%FILENAME%]", file}}) + " " +
         I18N::LabelWith("SLBSH4228", {{"[%DOCID%]", std::to_string(docID)}}) + " ";
}

// The local file-system path of a local or network path.
fs::path resolved(const std::string& path) {
  if (text::IsNetworkPath(path)) return FileStore().ResolvePath(path);
  return text::LocalPath(path);
}

// The folder part of a path and its last part.
std::string folderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}
std::string nameOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Writes the text under a "~" name beside the target and then renames it
// over the target in one step, so whoever watches the folder sees either
// the old file or the whole new one, never a part.
void writeWhole(const std::string& text, const std::string& target, bool unicode, const std::string& source) {
  const std::string partial = folderOf(target) + "~" + nameOf(target);
  FileHandling files;
  files.createTextFile(text, partial, unicode);
  std::error_code ec;
  fs::rename(resolved(partial), resolved(target), ec);
  if (ec) {
    DeleteQuietly(partial);
    throw Error(hr::kPathFileAccess, source, "The file '" + target + "' could not be written: " + ec.message() + ".");
  }
}

// A folder name built from a value that comes from the directory or the
// configuration (a partner's name, a document type): separators and names
// made only of dots would lead out of the staging tree.
std::string safeFolderPart(const std::string& part) {
  std::string out;
  for (char c : part) {
    const auto u = static_cast<unsigned char>(c);
    out += (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  if (out.find_first_not_of('.') == std::string::npos) out = "_" + out;
  return out;
}

// Appends one level to a folder and creates it when missing.
std::string subFolder(FileHandling& files, const std::string& folder, const std::string& part) {
  std::string path = folder;
  if (text::Right(path, 1) != "\\" && text::Right(path, 1) != "/") path += "\\";
  path += part;
  if (!files.FolderExists(path)) files.CreateFolderTree(path);
  return path;
}

// The workbook written into the partner's folder by write mode.
void SendByFileStreamForExcel(std::int32_t docID, const Variant& data, const TSendMethodProperties& p,
                              const std::string& target) {
  const std::string source = "Quillon.PushDocUtils.SendByFileStreamForExcel";
  General::Guarded(source, [&] {
    FileHandling files;
    B2BExcel excel;
    const std::string temp =
        text::JoinPath(ExcelTempFolder(), files.GetFileName(value(EFileType::TempFile), "", "", "", ".xls"));
    WorkbookPtr book;
    try {
      switch (p.nWriteMode) {
        case EWriteMode::Update:
        case EWriteMode::Append:
          files.CopyFile(target, temp, true);
          book = excel.TransformXMLToExcel(DataText(data), p.nWriteMode, docID, false, temp);
          excel.CloseWorkBook(book);
          break;
        case EWriteMode::Create:
          if (!text::Trim(p.sExcelTemplate).empty())
            book = excel.TransformXMLToExcel(DataText(data), EWriteMode::Create, docID, true,
                                             ExcelTemplatePath(p.sExcelTemplate));
          else
            book = excel.TransformXMLToExcel(DataText(data), EWriteMode::Create, docID, false);
          excel.WriteExcelObjectToFile(book, temp, true);
          break;
        default:
          // Without a write mode nothing would be written, and the
          // delivery would still count as done.
          throw Error(InvalidParamValue, source,
                      "The write mode " + std::to_string(value(p.nWriteMode)) + " of the send method is not valid.");
      }
      files.CopyFile(temp, target, true);
    } catch (...) {
      if (book) CloseWorkbookQuietly(Variant(book));
      DeleteQuietly(temp);
      throw;
    }
    DeleteQuietly(temp);
  });
}

}  // namespace

void SendByFileStream(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a) {
  std::string targetFile;
  General::Guarded(
      "Quillon.PushDocUtils.SendByFileStream", [&] { return failureInfo(targetFile, docID); },
      [&] {
        const std::string source = "Quillon.PushDocUtils.SendByFileStream";
        if (p.nFormat != ESendMethodFormat::XML && p.nFormat != ESendMethodFormat::Excel)
          FormatNotSupported(value(p.nFormat), source);
        // An empty address would name the root folder.
        if (text::Trim(p.sAddress).empty())
          throw Error(FileError, source, "The send method names no target folder.");
        std::string folder = p.sAddress;
        if (text::Right(folder, 1) != "\\") folder += "\\";
        targetFile = folder + GetSendMethodOutputFileName(docID, p);

        std::vector<Attachment> attachments;
        if (AttachmentsWanted(a)) attachments = DocumentAttachments(docID, "", source);
        // Attachments first: whoever picks up the document finds them there.
        FileHandling files;
        for (const Attachment& att : attachments)
          files.CopyFile(att.storedFile, folder + std::to_string(docID) + "_" + att.name, true);

        if (p.nFormat == ESendMethodFormat::XML)
          writeWhole(DataText(data), targetFile, p.nFileFormat == ESendMethodFileFormat::Unicode, source);
        else
          SendByFileStreamForExcel(docID, data, p, targetFile);
      });
}

void SendByEDI(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a) {
  std::string file;
  General::Guarded(
      "Quillon.PushDocUtils.SendByEDI", [&] { return failureInfo(file, docID); },
      [&] {
        const std::string source = "Quillon.PushDocUtils.SendByEDI";
        // Only XML is staged; any other format would be reported as sent
        // with nothing handed to the exchange.
        if (p.nFormat != ESendMethodFormat::XML) FormatNotSupported(value(p.nFormat), source);
        const std::string network = a[0];
        const std::string merge = a[2];

        auto rs = DBUtils::getDisconnectedReadOnlyRecordSet("SELECT TEMPFOLDER FROM EDINETWORK WHERE NETWORKID = " +
                                                            Encoding::SqlText(network));
        const std::string temp = rs->EOF_() ? std::string() : text::Trim(rs->Fields("TEMPFOLDER").Value().text());
        rs->Close();
        if (temp.empty())
          throw Error(FileError, source, "Temporary folder for EDI Network '" + network + "' not filled");
        // The merge file names the group the exchange sends as one file; a
        // message outside a group is never sent.
        if (!IsPlainName(merge))
          throw Error(FileError, source,
                      "The merge file '" + merge + "' of the send method is not a plain folder name.");

        FileHandling files;
        std::string folder = subFolder(files, temp, "Messages");
        folder = subFolder(files, folder, merge);

        const bool unicode = p.nFileFormat == ESendMethodFileFormat::Unicode;
        const std::string stale = folder + "\\" + (unicode ? "ASCII" : "Unicode");
        if (files.FileExists(stale)) files.DeleteFileFromDisk(stale);
        files.createTextFile("", folder + "\\" + (unicode ? "Unicode" : "ASCII"), false);

        Document document;
        Utility utility;
        const std::string sender = document.GetSenderOfDocument(docID);
        const std::int32_t partner = utility.GetAUBusinessPartnerID(sender);
        folder = subFolder(files, folder, safeFolderPart(document.GetDocumentTypeOfDocument(docID)));
        folder = subFolder(files, folder,
                           safeFolderPart(std::to_string(partner) + "_" +
                                          text::Trim(utility.GetBusinessPartnerName(partner))));

        const std::string name = GetSendMethodOutputFileName(docID, p);
        file = folder + "\\" + name;
        const std::string partial = folder + "\\~" + name;
        // The exchange skips "~" files, so it never merges a partly written one.
        files.createTextFile(DataText(data), partial, unicode);
        try {
          files.MoveFile(partial, file);
        } catch (...) {
          // A message of that name still waits for the exchange: it stays,
          // and this one is reported as not sent.
          DeleteQuietly(partial);
          throw;
        }
      });
}

}  // namespace quillon::push
