// What the transports of PushDocUtils share: the output file name, the
// document's attachments, the Excel working folders and clean-up.
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "delivery/PushTransports.h"
#include "document/FileHandling.h"
#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "imports/B2BExcel.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Spreadsheet.h"
#include "platform/Text.h"
#include "publication/Attachments.h"
#include "publication/Utility.h"

namespace quillon::push {

bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return c == '/' || c == '\\' || u < 0x20 || u == 0x7F;
  });
}

std::string GetSendMethodOutputFileName(std::int32_t docID, const TSendMethodProperties& p) {
  const std::string id = std::to_string(docID);
  const std::string suffix = p.nSuffix == ESendMethodSuffix::DocumentID ? "_" + id : "";
  const std::string trimmed = text::Trim(p.sFileName);
  const std::string base = trimmed.empty() || trimmed.front() == '.' ? id : p.sFileName;
  const std::string extension = p.nFormat == ESendMethodFormat::Excel ? "xls" : p.sFileExtension;
  const std::string name = base + suffix + "." + extension;
  // The name is joined to a target folder (a partner's share, an FTP
  // folder, the EDI staging folder): a separator or ".." would place the
  // file elsewhere.
  if (!IsPlainName(name))
    throw Error(FileError, "Quillon.PushDocUtils.GetSendMethodOutputFileName",
                "The output file name '" + name + "' is not a plain file name.");
  return name;
}

bool AttachmentsWanted(const Extended& a) {
  const std::string flag = text::Trim(a[1]);
  return !flag.empty() && Variant(flag).toBool();
}

std::vector<Attachment> DocumentAttachments(std::int32_t docID, const std::string& sender, const std::string& source) {
  Attachments attachments;
  std::string url, folder;
  if (!attachments.GetAttachmentUrlAndFolder(url, folder))
    throw Error(AttachmentsSupported, source,
                I18N::LabelWith("SLBSH5071", {{"[%PARAMNAME%]", "AttachmentsVirtualPath"}}) + " ");
  std::shared_ptr<Recordset> rs =
      sender.empty() ? attachments.getDBFiles(docID) : attachments.GetDocumentAttachmentsBySenderRS(sender, docID);
  std::vector<Attachment> files;
  const std::string documentFolder = text::JoinPath(folder, std::to_string(docID));
  for (; !rs->EOF_(); rs->MoveNext()) {
    std::string name = rs->Fields(0).Value().text();
    // The names come from partners' mails and uploads; one that is not a
    // plain name would be read from, and copied to, another folder.
    if (!IsPlainName(name))
      throw Error(FileError, source, "The attachment name '" + name + "' of document " + std::to_string(docID) +
                                         " is not a plain file name.");
    files.push_back({name, text::JoinPath(documentFolder, name)});
  }
  rs->Close();
  return files;
}

std::string ExcelTempFolder() {
  FileHandling files;
  return files.GetFolderName(value(EFolderType::ExcelTempFolder), "");
}

std::string ExcelTempFile(const std::string& name) { return text::JoinPath(ExcelTempFolder(), name); }

std::string TempFolder() {
  FileHandling files;
  return files.GetFolderName(value(EFolderType::TempFolder), "");
}

WorkFolder::WorkFolder(const std::string& parent) {
  const std::string pattern = text::JoinPath(parent, "delivery-XXXXXX");
  std::string buffer = text::LocalPath(pattern);
  if (!::mkdtemp(buffer.data())) {
    const int error = errno;
    throw Error(FileError, "Quillon.PushDocUtils.WorkFolder",
                "The working folder cannot be made in '" + parent + "': " + std::strerror(error) + ".");
  }
  path_ = pattern.substr(0, pattern.size() - 6) + buffer.substr(buffer.size() - 6);
}

WorkFolder::~WorkFolder() {
  std::error_code ignored;  // a working folder left behind fails no delivery
  std::filesystem::remove_all(text::LocalPath(path_), ignored);
}

std::string WorkFolder::File(const std::string& name) const { return text::JoinPath(path_, name); }

std::string TemplateCopy(const TSendMethodProperties& p) {
  return text::Trim(p.sTempFileName).empty() ? ExcelTempFile(p.sFileName) : p.sTempFileName;
}

std::string ExcelTemplatePath(const std::string& templateName) {
  std::string folder = DBUtils::GetParameter("ExcelTemplatesPath");
  if (text::Right(folder, 1) != "\\") folder += "\\";
  return folder + templateName;
}

std::string DataText(const Variant& data) { return data.isObject() || data.isArray() ? std::string() : data.text(); }

void CloseWorkbookQuietly(const Variant& data) {
  auto book = data.as<spreadsheet::Workbook>();
  if (!book) return;
  try {
    B2BExcel excel;
    excel.CloseWorkBook(book);
  } catch (...) {
    // Clean-up: the delivery's own outcome is what the caller hears about.
  }
}

void DeleteQuietly(const std::string& path) {
  if (text::Trim(path).empty()) return;
  try {
    FileHandling files;
    if (files.FileExists(path)) files.DeleteFileFromDisk(path);
  } catch (...) {
    // A temporary file that stays behind is no reason to fail a delivery.
  }
}

std::string MaskAddress(const std::string& address) {
  std::string out = address;
  for (std::size_t scheme = out.find("://"); scheme != std::string::npos; scheme = out.find("://", scheme + 3)) {
    const std::size_t start = scheme + 3;
    const std::size_t end = out.find_first_of("/@", start);
    if (end == std::string::npos || out[end] != '@') continue;
    const std::size_t colon = out.find(':', start);
    if (colon == std::string::npos || colon > end) continue;
    out.replace(colon + 1, end - colon - 1, "********");
  }
  return out;
}

std::string WriteTemporaryText(const std::string& text, bool unicode) {
  Utility utility;
  return utility.WriteXMLFileToDiskAsciiOrUnicode(text, "", unicode);
}

void FormatNotSupported(std::int32_t format, const std::string& source) {
  throw Error(SendMethodFormatNotSupported, source,
              I18N::LabelWith("SLBSH4326", {{"[%FORMAT%]", std::to_string(format)}}));
}

}  // namespace quillon::push
