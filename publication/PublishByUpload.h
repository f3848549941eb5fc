// PublishByUpload: the files a page's upload step stored for a document
// that is not published yet, and the clean-up of what uploads leave behind.
//
// An upload works with a placeholder DOCUMENT row (no document type) whose
// id names the staging folder PATH\<id> that holds the uploaded files.
// Reading the upload empties the staging folder and removes it; the
// placeholder goes when the page deletes it, or with the first clean-up
// after the day it was made.
//
// Every public method re-raises its failures through ReRaiseError with the
// source "Quillon.PublishByUpload.<Method>".
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class PublishByUpload : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The XML text of the uploaded XML file ("" when there is no staging
  // folder). Every file of the folder is deleted; with several XML files
  // the last one read wins. No usable (non-empty) XML file raises
  // MissingXMLFile, an OBI document CannotLoadFile, a malformed one the
  // parser's number.
  std::string ReadXMLFile(const std::string& iXMLPath, std::int32_t iDocID);
  // The XML of the uploaded workbook (".xls"), likewise; failures raise
  // NotAnExcelFile.
  std::string ReadExcelFile(const std::string& i_sExcelPath, std::int32_t i_lDocID);
  // Removes the staging folder and the placeholder row.
  void DeleteXMLFileAndDocument(const std::string& iXMLTempPath, std::int32_t iDocID);
  // Removes the placeholder row (a row with a document type stays).
  void DeleteTempDocumentInDB(std::int32_t iDocID);
  // Removes every placeholder made before today, with its publication
  // errors and the files of its staging folder below iPath.
  void DeleteAllOldTempXMLFiles(const std::string& iPath);
};

}  // namespace quillon
