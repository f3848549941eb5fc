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

  // Whether the spreadsheet engine is usable; raises ExcelNotInstalled
  // (label SLBSH0040) when it is not (UtilityDownload.cpp).
  bool IsExcelInstalledWithErrRaise();

  // ---- mail (UtilityMail.cpp) ----
  // One plain-text UTF-8 mail with up to two file attachments (an empty
  // name adds none). An empty sender or receiver raises before anything is
  // composed. Several addresses in one argument (";" or ",") are all
  // recipients. When the relay refuses some recipients the others still get
  // the mail, and the call raises hr::kMailRecipientsRejected naming the
  // refused ones.
  void SendEmail(const std::string& iSender, const std::string& iReceiver, const std::string& iSubject,
                 const std::string& iBody, const std::string& iHTMLFileName, const std::string& iXMLFileName);
  // The same with the files of i_aAttachment as well, sent by the file store
  // ("Shale.File"): a one-dimensional array of paths, or a (column, row)
  // array of attachment rows whose first column is the path.
  void SendEmailWithAttachments(const std::string& iSender, const std::string& iReceiver, const std::string& iSubject,
                                const std::string& iBody, const std::string& iHTMLFileName,
                                const std::string& iXMLFileName, const Variant& i_aAttachment);
  // A mail with the document's HTML rendering, its XML and (iSenderMode
  // other than -1) a link to its page, to iBcc and then to iCcList; the
  // temporary files are deleted afterwards.
  void sendEmailByGettingHTMLAndXML(const std::string& iFrom, const std::string& iBcc, const std::string& iBody,
                                    const std::string& iSubject, const std::string& iDocID, const std::string& iDocType,
                                    const std::string& iXMLStr, const std::string& iCcList = "",
                                    bool iAddHtmlDocToCcList = false, std::int32_t iSenderMode = -1,
                                    std::int32_t iLanguageID = 1033);
  // Mails the document's sender when the sender list asks for it.
  void SendEmailToSender(std::int32_t iDocID, const std::string& iSubject = "", const std::string& iBody = "",
                         bool iAddHtmlAttachment = false, const std::string& iToRecipientList = "",
                         const std::string& iCcRecipientList = "");
  void SendEmailToRecipients(std::int32_t iDocID, const std::string& iCcRecipientList = "",
                             const std::string& iSubject = "", const std::string& iBody = "",
                             bool iAddHtmlAttachment = false);
  // Each e-mail recipient of the document (all live ones, or those among
  // iUserIDs) gets a mail; a recipient that fails becomes a publication
  // error (SLBSH1817) and the others still get theirs. Then one mail to the
  // CC list. The HTML rendering is made at most once and deleted at the end.
  void SendEmailToRecipientsEx(std::int32_t iDocID, const std::shared_ptr<Dictionary>& iUserIDs,
                               const std::string& iCcRecipientList, const std::string& iSubject,
                               const std::string& iBody, bool iAddHtmlAttachment, bool iSkipTo = false,
                               bool iSkipCC = false, bool iUsePublicationUsersOnly = true);
  // Tells the administrator (parameter "AdminEmailAddress") about a file;
  // an address that cannot be read is logged, not raised. An error being
  // handled by the caller stays the caller's.
  void SendEmailToAdministrator(const std::string& i_oFileName);
  // Subject and body texts in a language (LCID; 0 or an unreadable text
  // means 1033). iSenderMode is a SENDERMODE value.
  std::string GetSubject(const std::string& iLanguageID, const std::string& iSubject, const std::string& iDocTypeID,
                         std::int32_t iSenderMode = static_cast<std::int32_t>(SENDERMODE::RECEIVERMODE));
  std::string GetBody(std::int32_t iLanguageID, std::int32_t iDocID, const std::string& iDocTypeID,
                      std::int32_t iSenderMode, const std::string& iBody = "", bool iCcFlag = false,
                      const std::string& iToRecipientList = "", const std::string& iCcRecipientList = "");
  std::string GetDefaultBody(std::int32_t iLanguageID, std::int32_t iDocID, const std::string& iDocTypeID,
                             const std::string& iBody = "");

  // ---- links to the portal (UtilityMail.cpp) ----
  // SiteLink + SiteLinkStartingPoint + "?DocID=…&DocTypeID=…&SenderMode=…".
  std::string getDocumentHyperlinkBySenderMode(std::int32_t iDocID, const std::string& iDocTypeID,
                                               std::int32_t iSenderMode);
  std::string getPagePath();   // "SiteLink" ending in "/"
  std::string getECollPath();  // "SiteLinkStartingPoint" without a trailing separator
  std::string getReceiveUrl();  // "ReceiveUrl" of section GLOBAL

  // ---- HTML rendering and style sheets (UtilityFiles.cpp) ----
  // The path of the document's HTML rendering in the temporary folder, ""
  // when its type has no style sheet (or the document does not exist).
  std::string getHTMLAttachment(std::int32_t iDocID);
  std::string getHTMLAttachmentByUsingXML(std::int32_t iDocID, const std::string& iDocType, const std::string& iXml);
  // A style sheet on a share goes through "Shale.XML", any other through XML.
  std::string transformXMLStringToHTML(const std::string& iXMLStr, const std::string& iXSLFileName);
  std::string transformXMLToHTMLCommon(const std::shared_ptr<DomDocument>& iXMLDom, const std::string& iXSLFileName);
  // "TransformXSLPath" ending in "/" (a URL) or "\" (a folder).
  std::string GetTransformXSLPath();
  // False when the type has no style sheet; raises when it does not load.
  bool CanAttachHTMLFile(const std::string& iDocType);

  // ---- temporary and error files (UtilityFiles.cpp) ----
  // Writes the text (Unicode or ANSI) and returns the full path. An empty
  // name gets a fresh temporary name; a name without a folder of its own
  // goes to the temporary folder (AddTempPathIfNoDriveFound).
  std::string WriteXMLFileToDisk(const std::string& iXMLStr, const std::string& iFileName = "");
  std::string WriteXMLFileToDiskAsciiOrUnicode(const std::string& iXMLStr, const std::string& iFileName = "",
                                               bool iUnicode = true);
  // Deletes the file when it exists.
  void DeleteXMLFileFromDisk(const std::string& iFileName);
  void DeleteHTMLAttachment(const std::string& iFileName);
  // An absolute path (or a network path) stays as it is; any other name is
  // reduced to its last part and put into the temporary folder, so it can
  // never leave that folder.
  std::string AddTempPathIfNoDriveFound(const std::string& iFileName);
  // "XMLErrorPath" + date and time, created when missing.
  std::string CreateErrorDir();
  // Writes the content into the error folder under the name (its last
  // part, a leading "~" removed; numbered when taken) and returns the path.
  std::string WriteXmlFileToErrorDir(const std::string& iContent, const std::string& iFileName = "");
  // Moves the file into the error folder (named as above), tells the
  // administrator and returns the new path.
  std::string MoveFileToErrorDir(const std::string& iFileName);

  // ---- page functions (UtilityPage.cpp) ----
  // "+", "%XX" and "%uXXXX" decoded; a sequence that cannot be decoded raises.
  std::string urlDecode(const std::string& iText);
  std::string HTMLDecode(const std::string& iText);
  // The URL-decoded value after iPattern in a posted form string, up to the
  // next "&"; false when the pattern is absent.
  bool RetrieveElementFromRequestFormCollection(const std::string& iFormString, const std::string& iPattern,
                                                std::string& oValue);
  // The automation Format function (Sunday first, the week of 1 January first).
  std::string Formats(const Variant& i_vSource, const Variant& i_vFormat);
  // Whether something was sent already for the type and partner, or by the sender.
  bool CheckSentLog(const std::string& iDocTypeID, const std::string& iSenderID, std::int32_t iBPID,
                    std::int32_t iDocID = 0);
  std::string GetZ2IZezazaParameter(const std::string& i_sParamName);

  // ---- manual download (UtilityDownload.cpp) ----
  // The document as the user's partner downloads it: the XML text (a
  // String) for i_iFileFormat 1 or more, the workbook's bytes below 1.
  Variant DownloadDocument(std::int32_t i_lDocumentID, const std::string& i_sUserID, std::int16_t i_iFileFormat);

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
