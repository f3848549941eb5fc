// Document: operations on one DOCUMENT row — read or replace its XML
// bodies, read its type, sender, parent, children, status and show flag,
// link a forwarded document to its parent, decide whether a user may open
// a document, remove its recipients or a half-stored row, and check that a
// batch text is a sequence of complete XML elements.
//
// Every operation opens its own connection and closes it before it
// returns. A missing row is no error for the reading operations: texts
// come back empty, numbers 0, the status DOCUMENTUNKNOWNSTATUS.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Object.h"

namespace quillon {

class DomDocument;

class Document : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // ---- reading ----
  std::string GetXmlDocument(std::int32_t iDocID);
  // XMLBODY parsed into a new DOM document (an empty document when there
  // is no row). A parse failure raises the parser's code with the
  // description "DOM Error: " + reason, the location as help file and the
  // line as help context.
  std::shared_ptr<DomDocument> GetXmlDomDocument(std::int32_t iDocID);
  std::string GetOriginalXmlDocument(std::int32_t iDocID);
  std::string GetDocumentTypeOfDocument(std::int32_t iDocID);
  std::string GetSenderOfDocument(std::int32_t iDocID);
  // Exact, case-sensitive comparison with the stored sender.
  bool UserIsSenderOfDocument(std::int32_t i_lDocID, const std::string& i_sUser);
  std::int32_t GetParentDocIdOfDocument(std::int32_t iDocID);
  // DOCUMENTID and DOCUMENTTYPEID of the children as a (field, row) array;
  // Empty when there are none.
  Variant getChildDocuments(std::int32_t i_lParentDocID);
  // The listed columns of the row as a (field, row) array; Empty when there
  // is no row. i_sFieldNames must be a comma-separated list of column names
  // (optionally "table." in front); anything else raises InvalidParamValue.
  Variant getDocumentProperty(std::int32_t i_lDocID, const std::string& i_sFieldNames);
  DOCUMENTSTATUS GetStatusOfDocument(std::int32_t iDocID);
  bool GetShowFlag(std::int32_t i_lDocID);

  // ---- writing ----
  // XMLBODY := the body, CREATIONDATE := now.
  void UpdateDocumentWithXmlBody(std::int32_t iDocID, const std::string& iXmlBody);
  // ORIGINALXMLBODY := the body, ENTRANCEDATE := now.
  void UpdateDocumentWithOriginalXmlBody(std::int32_t iDocID, const std::string& iOriginalXmlBody);
  // Sets DOCUMENTTYPEID when the type is not empty; true whenever it completes.
  bool UpdateDocTableWithDocType(std::int32_t iDocID, const std::string& iDocTypeID);
  void setParentDocument(std::int32_t lChildDocID, std::int32_t lParentDocID);
  void RemoveRecipientsForDocument(std::int32_t iDocID);
  void deleteAllUsersFromPublicationList(const Variant& i_lDocID);
  // Deletes the row only while it has no document type.
  void RemoveInvalidDocument(std::int32_t iDocID);
  // The status rules of a whole document: a deleted document can only be
  // deleted again and a sent one does not fall back to published. Leaving
  // new for published closes the document's "CannotPublish" errors;
  // deleting a new document removes its publication rows. iDocStatus must
  // be a DOCUMENTSTATUS value (0 to 5).
  void SetDocumentStatus(std::int32_t iDocID, DOCUMENTSTATUS iDocStatus);

  // ---- converting and checking ----
  DOCUMENTSTATUS ConvertStatusFromIntToEnum(std::int16_t iStatus);
  // Trims iStatus in place, then accepts the fixed spellings of each status.
  DOCUMENTSTATUS ConvertStatusFromStringToEnum(std::string& iStatus);
  // May the user open the document? iSenderMode is accepted and not used.
  bool IsValidChildDoc(std::int32_t iDocID, const std::string& iUser, std::int32_t iSenderMode);
  // True when the user may open at least one child of the document.
  bool IsValidParentDoc(std::int32_t iDocID, const std::string& iUser, std::int32_t iSenderMode);
  // True when the user is one of the document's live recipients.
  bool UserIsRecipientOfDoc(std::int32_t iDocID, const std::string& iUser);
  // Raise unless the text is a sequence of complete XML elements.
  void ParseBatchXMLString(const std::string& iXMLStr);
  void ParseBatchXMLFile(const std::string& iXMLStr);

 private:
  void ParseBatch(const std::string& text, const std::string& source);
};

}  // namespace quillon
