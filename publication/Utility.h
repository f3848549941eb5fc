// Utility: shared look-ups and value conversions used across the component
// and by the portal's pages: XSL patterns on DOM documents, a document's
// live recipients, document-type look-ups, open publication errors,
// directory and partner access, file tests that understand network paths,
// keeping an error across clean-up code, and Null-safe field values.
//
// A Utility object keeps only the site's IIS virtual id (read once) and
// the error saved by StoreErr. Not thread-safe; one object per caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Error.h"
#include "platform/Object.h"

namespace quillon {

class DomDocument;
class DomNode;
class DomNodeList;
class Recordset;
class DirectoryUser;

class Utility : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // XSL patterns. A tag name becomes "//name", an attribute "//@name".
  std::string ExecuteXSLPattern(const std::shared_ptr<DomNode>& i_oXMLDoc, const std::string& i_sXslPattern);
  // nullptr when the selection fails (never raises).
  std::shared_ptr<DomNodeList> ExecuteXSLPatternReturnAllNodes(const std::shared_ptr<DomNode>& iXMLDoc,
                                                               const std::string& iXslPattern);
  std::string ConstructXslPattern(std::int32_t iTagAttrXsl, const std::string& iXslPattern);
  // Trims iXslPattern in place.
  bool CheckXslPattern(std::string& iXslPattern, std::int32_t iTagAttrXsl);

  // A document's live recipients (statuses other than the deleted ones)
  // with their mail preferences; always a recordset, possibly empty.
  std::shared_ptr<Recordset> GetRecipientsFromPublicationTable(std::int32_t iDocID, const std::string& iDocTypeID,
                                                               bool iEmailFlag = false);
  std::shared_ptr<Recordset> GetRecipientsFromPublicationTableByUsers(std::int32_t iDocID, const std::string& iDocTypeID,
                                                                      bool iEmailFlag = false,
                                                                      const std::shared_ptr<Dictionary>& iUserIDs = nullptr);
  std::string GetToRecipientList(std::int32_t iDocID, const std::string& iDocTypeID);

  bool DocTypeFoundInTable(const std::string& iDocTypeID);
  std::string GetDocumentTypeDescription(const std::string& iDocTypeID);
  std::string getXSL(const std::string& iDocTypeID);
  std::string GetHtmlAttachmentXsl(const std::string& iDocTypeID);
  bool CheckPublicationErrors(std::int32_t iDocID);

  // A recipient's copy: its status, or its forward flag; -1 without a copy.
  std::int32_t GetPublicationStatus(std::int32_t iDocID, const std::string& iRecipientID);
  std::int32_t GetForwardFlag(std::int32_t iDocID, const std::string& iRecipientID);
  // Trims iStatus in place, then accepts the fixed spellings of each
  // status ("Viewed", "viewed", "VIEWED", "View", …); anything else gives
  // PUBLICATIONUNKNOWNSTATUS.
  PUBLICATIONSTATUS ConvertPublicationStatusFromStringToEnum(std::string& iStatus);
  // Whether the document type shows the accept and reject buttons; false
  // for an unknown type.
  bool ShowAcceptRejectButtons(const std::string& i_sDocTypeID);

  // Directory and partner registry.
  std::string getIISVirtID();
  std::shared_ptr<DirectoryUser> GetAUObject(const std::string& iUserID);
  std::shared_ptr<DirectoryUser> getAUOAddress(const std::string& iIISVirtID, const std::string& iUserID);
  // Fills an empty iIISVirtID in place.
  std::shared_ptr<Recordset> GetAuoRSByCriteria(const Variant& iCriteria, std::string& iIISVirtID);
  std::int32_t GetAUBusinessPartnerID(const std::string& iUserID);
  std::string GetAUEmailAddress(const std::string& iUserID);
  std::string GetBusinessPartnerName(std::int32_t i_lBPID);
  Variant CheckUserAuthorization(const std::string& i_sUser, const std::string& i_sPassword, const std::string& i_sXml);
  std::int32_t GetApplicationID(const std::string& i_sApplicationName);
  bool UserAccessToApplicationAllowed(const std::string& i_sUser, const std::string& i_sApplicationName);

  // File tests; a path that begins with two backslashes goes to the file store.
  bool FileExist(const std::string& iFileName);
  bool DirExist(const std::string& iDirName);
  bool DirExistOnThisServer(const std::string& iDirName);
  bool FileExistAlsoRemote(const std::string& iPath, const std::string& iFileName);

  // Publishing a stored document to its recipients. Each (document, user)
  // pair gets one PUBLICATION row, only ever from the distribution list.
  // Returns the number of rows inserted (idempotent).
  std::int32_t FillPublicationTable(std::int32_t iDocID, const std::string& iDocTypeID, std::int32_t iBPID = 0,
                                    const std::string& iUserID = "");
  // Resolves the recipients from the routing tags, the OBI envelope or the
  // whole list; 1 when at least one recipient was found, else 0.
  std::int32_t GetRecipientsAndFillPublicationTable(std::int32_t iDocID, const std::string& iDocTypeID = "",
                                                    const std::string& iXMLStr = "");
  // Publishes to the recipients one routing tag names, records a
  // publication error for each that cannot be resolved, empties the tags
  // and stores the document.
  bool ExecuteXslPatternAndFillPublicationTable(std::int32_t iDocID, const std::string& iDocTypeID,
                                                const std::shared_ptr<DomNode>& iXMLDoc, const std::string& iXslPattern);
  bool ClearTagsAndWriteDocToDB(std::int32_t iDocID, const std::shared_ptr<DomNode>& iXMLDoc, const std::string& iXslPattern);
  void RemoveAllRoutingInfoFromDocument(std::int32_t iDocID, const std::shared_ptr<DomNode>& iXMLDoc);
  // Type, sender and default receiver of an incoming document.
  std::string GetDocType(const std::string& iXMLStr, std::int32_t iBPID = 0);
  void GetSenderBPAndName(const std::string& iXMLStr, std::int32_t& oSenderBP, std::string& oSenderName);
  std::string GetDefaultReceiver(const std::string& iXMLStr);
  bool BPOfDocumentEqualsBPOfUser(const std::string& i_sUser, const std::string& i_sXml);

  // Plug-ins named by a method-call string "project.class[.method]": the
  // class part (before the second dot) is the programmatic id, the method
  // part (after it) the member to call.
  Variant GetClass(const std::string& iDllClassMethodString);
  Variant GetMethod(const std::string& iDllClassMethodString);
  // The plug-in's answer for the arguments (by reference): through the
  // IMethodCall contract when the class implements it and no method is
  // named, else by name (the named method, or "IMethodCall_MethodCall").
  bool CallMethod(const std::string& iDllClassMethodString, Variant& iArguments);
  // The same with a workbook, GetExcelWorkBook and "IMethodCall_GetExcelWorkBook";
  // a template copy named by i_sFilePathTemplate is deleted afterwards.
  bool CallMethodForExcel(const std::string& iDllClassMethodString, Variant& i_oExcelWorkBook,
                          const std::string& i_sFilePathTemplate = "");
  // Whether an object of the class part can be created.
  bool CheckMethodCall(const std::string& iDllClassMethodString);

  // Whether the spreadsheet engine is installed and starts (UtilitySpreadsheet.cpp).
  bool IsExcelInstalled();

  // Saves the pending error (call inside a catch block) / hands it back.
  // In C++ the error being handled survives clean-up code anyway; these
  // keep the record for callers that re-raise it explicitly (SavedError).
  Variant StoreErr();
  Variant RestoreErr();
  const ErrorInfo& SavedError() const { return savedError_; }

  // Writes a long text into a field of the current row in pieces of
  // 1,000,000 characters through the field's chunk append.
  void SetLongDBTextField(const std::string& iFieldContent, const std::string& iFieldName,
                          const std::shared_ptr<Recordset>& oRS);
  // Null gives 0; other values go through a 16-bit conversion (overflow raises).
  std::int32_t CheckLong(const Variant& iVar);
  std::string CheckString(const Variant& iVar);
  std::string MakeStringFromArray(const Variant& iArray);
  std::string ConvertArrayToList(const Variant& iArray);

 private:
  std::string iisVirtID_;
  ErrorInfo savedError_;
};

// The same steps on a document parsed already, so that an intake parses
// its text once and hands the DOM from step to step: each does what the
// Utility method of its name does with the text, on behalf of `u`. The
// first three only read the document; the recipients' resolution empties
// its routing tags (hand it a copy to keep them). A missing DOM raises
// hr::kObjectRequired.
namespace UtilityDom {
std::string GetDocType(Utility& u, const std::shared_ptr<DomDocument>& iXMLDoc, std::int32_t iBPID = 0);
void GetSenderBPAndName(Utility& u, const std::shared_ptr<DomDocument>& iXMLDoc, std::int32_t& oSenderBP,
                        std::string& oSenderName);
std::string GetDefaultReceiver(Utility& u, const std::shared_ptr<DomDocument>& iXMLDoc);
std::int32_t GetRecipientsAndFillPublicationTable(Utility& u, std::int32_t iDocID, const std::string& iDocTypeID,
                                                  const std::shared_ptr<DomDocument>& iXMLDoc);
}  // namespace UtilityDom

}  // namespace quillon
