// PublishCreateDocument: puts documents into the system for a publisher:
// an XML text, an XML or Excel file, or an OBI envelope.
//
// Synchronously, the document goes through the intake at once
// (Document.ProcessDocumentWithAttachments, not interactive) and the
// result is its new id. A synchronous publication that fails keeps its
// input in a new error folder (the XML as "Error.xml", a workbook under
// its own name, the attachments beside them, each under a name not yet
// used there) and raises the failure.
//
// Asynchronously, the document is dropped as a file into the second XML
// import folder for the next folder import, and the result is 0. A drop
// file is named PREFIX_yyyy.mm.dd_hh.mm.ss-N.EXT with the first N from 0 to
// 98 not yet used; it is written under its name with a leading "~" (which
// the folder import never takes) and then renamed, so an import never reads
// a half-written file. Attachments cannot travel with a drop file.
//
// The object keeps one value: the publisher's language ID, in which the
// texts of attachment errors are written (0 until set, read as 1033).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class PublishCreateDocument : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The XML text, synchronously, with the attachments.
  std::int32_t Main(const std::string& i_sXMLStr, const Variant& i_oAttachments);
  // The XML text, synchronously, without attachments.
  std::int32_t MainX(const std::string& i_sXMLStr);
  // Attachments: a collection (or array) of file paths; Empty, Nothing or
  // an empty collection for none.
  std::int32_t PublishXmlDocument(const std::string& i_sXmlString, const Variant& i_oAttachments,
                                  bool i_bSynchronous);
  // A ".xml" file (any letter case) as XML, every other file as a workbook.
  std::int32_t PublishDocument(const std::string& i_sFile, const Variant& i_oAttachments, bool i_bSynchronous);
  // An ".xls" workbook, converted to XML for a synchronous publication or
  // dropped as it is.
  std::int32_t PublishExcelDocument(const std::string& i_sExcelFile, const Variant& i_oAttachments,
                                    bool i_bSynchronous);
  // An OBI envelope (Base64 text): its XML synchronously, the envelope as
  // received when dropped.
  std::int32_t PublishObiDocument(const std::string& i_sObiObject, bool i_bSynchronous);

  // Copies the files of a collection of paths into the document's
  // attachment folder and records one ATTACHMENT row per copied file. A
  // path given twice (letters compared without case) is copied once; a
  // file that cannot be copied becomes a publication error of the document
  // and the others are still copied. Empty, Nothing or an empty collection
  // does nothing. A Variant array of paths is taken as well.
  void CopyAttachmentCollection(std::int32_t i_lDocID, const Variant& i_oAttachments);

  // A non-empty numeric text sets the language, anything else sets 1033.
  void SetPublisherLanguageID(const std::string& i_sLanguageID);
  std::int32_t GetPublisherLanguageID() const { return languageID_; }

 private:
  // The intake of the text; raises ProcessDocumentError when no document,
  // sender or type came out of it.
  std::int32_t PublishDocumentSync(const std::string& xml, const Variant& attachments);
  // Drops the text (or, when sourceFile is named, a copy of that file).
  void PublishDocumentAsync(const std::string& content, const std::string& sourceFile, const std::string& prefix,
                            const std::string& extension);

  std::int32_t languageID_ = 0;
};

}  // namespace quillon
