// Document: operations on one DOCUMENT row — read or replace its XML
// bodies, read its type, sender, parent, children, status and show flag,
// link a forwarded document to its parent, decide whether a user may open
// a document, remove its recipients or a half-stored row, and check that a
// batch text is a sequence of complete XML elements.
//
// Every operation opens its own connection and closes it before it
// returns. A missing row is no error for the reading operations: texts
// come back empty, numbers 0, the status DOCUMENTUNKNOWNSTATUS.
//
// The intake of a new document (DocumentProcess.cpp) runs the whole road
// of one incoming XML text: parse, recognise, store, convert, publish,
// deliver and notify; see ProcessDocument.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Object.h"

namespace quillon {

class DomDocument;
class Utility;

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

  // ---- intake (DocumentProcess.cpp) ----
  // Takes one incoming document in: parses iOriginalXmlBody once, refuses
  // an OBI envelope while OBI intake is off, reads the show flag, finds
  // sender, type and default receiver (the ones the caller passes in are
  // kept), checks that the sender may send the type, stores the document
  // (a new row when oDocID is 0, else it refreshes that row), converts it
  // to the standard XML of its type (or, when iOriginalDocTypeID is given,
  // from that type to oDocTypeID), writes its properties and user-defined
  // fields, publishes it to its recipients and, for a scheduled intake,
  // pushes it to the receiving partners and sends the notifications. The
  // work is made durable before it returns the new id (also in oDocID).
  //
  // iInterActive: -1 for a portal user (no push, no notification, sender
  // and type may stay unknown), 0 for a scheduled intake.
  //
  // A failing step raises ProcessDocumentError (source
  // "Quillon.Document.ProcessDocument") whose text names the step; a
  // document that has no type yet is removed, one that has keeps its row
  // and, from the conversion on, one publication error. The administrator
  // gets one mail per failed call, the log one entry, and oDocID is 0.
  Variant ProcessDocument(std::int32_t iInterActive, const std::string& iOriginalXmlBody,
                          std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient, std::int32_t& oDocID,
                          std::int32_t& oSenderBPID, std::string& oDocTypeID, std::string& oSenderName,
                          std::string& oDefRecipient, std::int16_t& oStatus, std::int32_t iForwardedDocID = -1);
  // The same, and the files of the collection of paths are copied to the
  // document as its attachments.
  Variant ProcessDocumentWithAttachments(std::int32_t iInterActive, const std::string& iOriginalXmlBody,
                                         std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                                         Variant& i_oAttachments, std::int32_t& oDocID, std::int32_t& oSenderBPID,
                                         std::string& oDocTypeID, std::string& oSenderName,
                                         std::string& oDefRecipient, std::int16_t& oStatus,
                                         std::int32_t iForwardedDocID = -1);
  // Converts a stored document from one type to another with the style
  // sheet of their DOCTYPETODOCTYPE row; without a row the body is kept.
  void TransformDocToNewDocType(std::int32_t iDocID, const std::string& iOriginalDocTypeID,
                                const std::string& iNewDocTypeID);

 private:
  void ParseBatch(const std::string& text, const std::string& source);

  // ---- intake steps (DocumentProcess.cpp) ----
  Variant ProcessDocumentInternal(std::int32_t iInterActive, const std::string& iOriginalXmlBody,
                                  std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                                  const Variant* attachments, std::int32_t& oDocID, std::int32_t& oSenderBPID,
                                  std::string& oDocTypeID, std::string& oSenderName, std::string& oDefRecipient,
                                  std::int16_t& oStatus, std::int32_t iForwardedDocID);
  std::int32_t StoreOriginalDocument(const std::string& xml);
  void UpdateDocument(std::int32_t docID, const std::string& docTypeID, const std::string& sender,
                      const std::string& defaultReceiver, std::int16_t status, bool showFlag,
                      std::int32_t forwardedDocID);
  std::string TransformDocumentToStandard(std::int32_t docID, const std::string& docTypeID, std::int32_t senderBPID);
  bool GetShowFlagFromDoc(const std::shared_ptr<DomDocument>& dom);
  void CopyOriginalXMLtoXMLBody(std::int32_t docID);
  void CopyTempXMLtoXMLBody(std::int32_t docID);
  void CopyOriginalXMLtoTempXMLBody(std::int32_t docID);
  void UpdateTempXMLBodyWithNULLInDocument(std::int32_t docID);
  std::string GetXSLFromDoctypeToDoctypeTable(const std::string& docTypeID, const std::string& newDocTypeID);
  std::shared_ptr<DomDocument> GetTempXmlDomDocument(std::int32_t docID);
  // `xml` is the document's text for the administrator's mail ("" when
  // nothing was parsed).
  void HandleProcessDocumentError(std::int32_t& docID, const std::string& errorText, bool& mailSent,
                                  const std::string& xml, Utility& utility);
};

}  // namespace quillon
