// Utility: the spreadsheet engine's presence as a requirement, and the
// manual download of a document.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "delivery/SendMethod.h"
#include "document/Document.h"
#include "document/FileHandling.h"
#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "imports/B2BExcel.h"
#include "platform/Directory.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "publication/Collaboration.h"
#include "publication/Utility.h"
#include "publication/UtilityInternal.h"

namespace quillon {

using General::Guarded;

namespace {

// The text of a label token "[%KEY%]"; "" for no token.
std::string labelTextOfToken(const std::string& token) {
  if (token.size() < 5 || token.compare(0, 2, "[%") != 0) return {};
  return I18N::GetLabel(token.substr(2, token.size() - 4));
}

std::string readWhole(const std::string& path, const std::string& source) {
  std::ifstream in(utility_detail::LocalFile(path, source), std::ios::binary);
  if (!in) LocalFiles::Raise(hr::kFileNotFound, source, "The workbook cannot be read", path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace

bool Utility::IsExcelInstalledWithErrRaise() {
  const std::string source = "Quillon.Utility.IsExcelInstalledWithErrRaise";
  return Guarded(source, [&] {
    if (!IsExcelInstalled()) throw Error(ExcelNotInstalled, source, I18N::GetLabel("SLBSH0040"));
    return true;
  });
}

Variant Utility::DownloadDocument(std::int32_t i_lDocumentID, const std::string& i_sUserID, std::int16_t i_iFileFormat) {
  const std::string source = "Quillon.Utility.DownloadDocument";
  std::int32_t partner = 0, sendMethodID = 0;
  std::string type;
  ESendMethodFormat format = ESendMethodFormat::Excel;
  ESendMethodFileFormat fileFormat{};
  SendMethod sendMethods;
  try {
    Document document;
    type = document.GetDocumentTypeOfDocument(i_lDocumentID);
    std::string xml = document.GetXmlDocument(i_lDocumentID);
    partner = GetAUObject(i_sUserID)->BusinessPartnerID();
    if (i_iFileFormat >= 1) {
      format = ESendMethodFormat::XML;
      fileFormat = sendMethods.SendMethodFileFormat_IntegerToEnum(i_iFileFormat);
    }
    TSendMethodProperties properties;
    sendMethodID = sendMethods.GetSendMethodManualDownload(partner, type, static_cast<std::int16_t>(format),
                                                          static_cast<std::uint8_t>(fileFormat), properties);
    std::string xsl = text::Trim(properties.sXslFileName);
    if (!xsl.empty()) xml = transformXMLStringToHTML(xml, GetTransformXSLPath() + xsl);

    Variant answer;
    if (format == ESendMethodFormat::XML) {
      answer = Variant(xml);
    } else {
      FileHandling files;
      // The folder parameter carries no trailing separator: joining keeps
      // the workbook inside it.
      std::string workbookFile =
          text::JoinPath(files.GetFolderName(value(EFolderType::ExcelTempFolder)),
                         "ExcelTemp_" + std::to_string(i_lDocumentID) + ".xls");
      B2BExcel excel;
      WorkbookPtr workbook;
      try {
        std::string templateName = text::Trim(properties.sExcelTemplate);
        if (!templateName.empty()) {
          std::string templates = DBUtils::GetParameter("ExcelTemplatesPath");
          if (templates.empty() || templates.back() != '\\') templates += '\\';
          workbook = excel.TransformXMLToExcel(xml, EWriteMode::Create, i_lDocumentID, true, templates + templateName,
                                               workbookFile);
          excel.CloseWorkBook(workbook);
        } else {
          workbook = excel.TransformXMLToExcel(xml, EWriteMode::Create, i_lDocumentID, false);
          excel.WriteExcelObjectToFile(workbook, workbookFile, true);
        }
        answer = Variant(VariantArray::ofBytes(readWhole(workbookFile, source)));
      } catch (...) {
        // No open workbook and no half-written file is left behind.
        try {
          if (workbook) excel.CloseWorkBook(workbook);
        } catch (...) {
        }
        try {
          if (files.FileExists(workbookFile)) files.DeleteFileFromDisk(workbookFile);
        } catch (...) {
        }
        throw;
      }
      files.DeleteFileFromDisk(workbookFile);
    }
    // Marked downloaded only once the answer is there: a download that
    // fails leaves the recipient's copy as it was.
    Collaboration().SetPublicationStatus(i_lDocumentID, i_sUserID, value(PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED), 0);
    sendMethods.AddSendMethodToHistory(sendMethodID, partner, -1, i_lDocumentID, type, 0,
                                       sendMethods.getSendMethodStatus_SENT());
    return answer;
  } catch (...) {
    StoreErr();
    // The failure is recorded for the error box and in the send history;
    // a failure of that bookkeeping is logged and never hides the original.
    try {
      auto reps = PublicationErrorHandling::NewReplacementsDocument();
      std::string formatText = labelTextOfToken(sendMethods.GetSendMethodFormatLabel(format));
      if (format == ESendMethodFormat::XML)
        formatText += " " + labelTextOfToken(sendMethods.GetSendMethodFileFormatLabel(fileFormat));
      std::string partnerName;
      try {
        partnerName = GetBusinessPartnerName(partner);
      } catch (...) {
      }
      PublicationErrorHandling::AddReplacement(reps, "[%BPName%]", partnerName);
      PublicationErrorHandling::AddReplacement(reps, "[%Format%]", formatText);
      std::int32_t errorID = PublicationErrorHandling::LogPublicationError(
          i_lDocumentID, savedError_.number, savedError_.description, source, "SLBSH1301", reps);
      sendMethods.AddSendMethodToHistory(sendMethodID, partner, -1, i_lDocumentID, type, errorID,
                                         sendMethods.getSendMethodStatus_NOTSENT());
    } catch (...) {
      General::LogError(source, "The failed download of document " + std::to_string(i_lDocumentID) +
                                    " could not be recorded as a publication error.");
    }
    RestoreErr();
    General::ReRaiseError(source);
    throw;
  }
}

}  // namespace quillon
