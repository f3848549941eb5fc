// Collaboration: what the portal's pages ask about a published document —
// the state of each recipient's copy (new, viewed, downloaded, accepted,
// rejected and their deleted forms), acceptance and deletion, the closing
// and hiding of publication errors, the inbox counters, and the SQL texts
// of the detail, addressee, attachment and document-type views.
//
// The query-text methods do not run their SQL: they return it and the page
// runs it. Every other operation opens its own connection and closes it
// before it returns. Objects hold no state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Object.h"

namespace quillon {

class Collaboration : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // ---- a recipient's copy ----
  // The recipient accepts; the document becomes accepted when no other
  // recipient is left unaccepted, partially accepted otherwise. A user
  // without a publication of the document raises NotPresent.
  void AcceptPublication(std::int32_t iDocID, const std::string& iUserID);
  // With a publication-error id other than 0 only links that error to the
  // copy. Otherwise moves the copy to iStatus, except that viewing or
  // downloading never downgrades it and deleting keeps what the recipient
  // had done with it. iStatus must be a PUBLICATIONSTATUS value (0 to 9).
  void SetPublicationStatus(std::int32_t iDocID, const std::string& iUserID, std::int32_t iStatus,
                            std::int32_t iPublicationErrorID = 0);
  // The status of the user's copy, -1 when there is none.
  std::int32_t GetPublicationStatus(std::int32_t iDocID, const std::string& iUserID);
  // Deletes the document from one user's view: the recipient's copy takes
  // its deleted form, the sender's document becomes deleted. iDocTypeID and
  // iPath are accepted and not used. False when nothing was deleted.
  bool deleteDocument2(std::int32_t iDocID, const std::string& iDocTypeID, std::int32_t iSenderMode,
                       const std::string& iUserName, const std::string& iPath, bool iIsChildDoc = false);

  // ---- query texts for the page ----
  // iIsSender carries a SENDERMODE value: 0 sender, 1 recipient, 2 error box.
  std::string GetDocumentDetails2(std::int32_t iIsSender, std::int32_t iDocID, const std::string& iUser);
  std::string GetAddresseeStatusQueryStr(std::int32_t iDocID, const std::string& iUser);
  std::string GetAddresseeStatusQueryStr2(std::int32_t iDocID, const std::string& iUser);
  // iIsSender and iUser are accepted and not used.
  std::string GetDocumentAttachmentsQueryStr(bool iIsSender, std::int32_t iDocID, const std::string& iUser);
  // iMode: 0 the sender's types, 1 the recipient's, 2 those of the error box.
  std::string GetDocumentTypeListQueryStr2(std::int32_t iMode, const std::string& iUser);

  // ---- document types and counters ----
  // Type id → description, both trimmed, in row order. iOrderBy (Empty,
  // Null or blank for none) must be column names, each optionally followed
  // by ASC or DESC, separated by commas; anything else raises
  // InvalidParamValue.
  std::shared_ptr<Dictionary> getAllDocumentTypes(const Variant& iOrderBy = Variant());
  // "GLOBAL"/"ShowCountNewDocuments" of the server configuration is 1.
  bool showCountOfNewDocumentsInInbox();
  std::int32_t countNewDocumentsForInbox(const std::string& i_sDocTypeID, const std::string& i_sUserID);

  // ---- publication errors ----
  // Closes one open error (of the document, when iDocID is not 0).
  void ClosePublicationErrors(std::int32_t iPublicationErrorID, std::int32_t iDocID = 0);
  // Closes the document's open errors of a category: "CannotPublish" or
  // "SelectRecipients" in any letter case; any other category raises.
  void ClosePublicationErrorsForOneCategory(std::int32_t i_lDocID, const std::string& i_sCategory);
  // Hides an error of the document from the user's view: from the sender's
  // when the user sent the document, from the recipients' when the user is
  // one of them.
  void SetPublicationErrorStatusToRemoved(std::int32_t i_lDocID, const std::string& i_sUser,
                                          std::int32_t i_lPublicationErrorID);
  void DeletePublicationErrors(std::int32_t iDocID);
};

}  // namespace quillon
