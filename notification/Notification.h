// Notification: the e-mails about a stored document, and the tables they
// are built from.
//
// After a document is stored and published, SendNotifications mails, in
// this order, every recipient who asked for an e-mail (mode 2), the copy
// list of the document (mode 2, partner -2) and the document's sender
// (mode 1). Each mail's subject and body come from a mail stored for the
// document (NOTIFICATIONEMAIL, used exactly as stored) or else from the
// best template (NOTIFICATIONTEMPLATE): the partner's own for the type,
// then the type's default (partner -1), then the general default (type
// "-1"). Template placeholders are filled in one pass (see
// NotificationPlaceholders.h); those not meant for the mail's mode stay as
// written.
//
// A recipient or copy mail that fails becomes a publication error of the
// document (labels "SLBSH6082" and "SLBSH6083") and does not stop the
// others; such a record can be sent again with ReSendNotification, which
// closes it only after the mail went out. A failing sender mail raises to
// the caller.
//
// Template and stored-mail maintenance (NotificationTemplates.cpp) adds,
// changes, deletes and reads those rows and checks texts for placeholders
// that do not belong where they are to be stored.
//
// Modes: 1 = the sender's mail, 2 = a recipient's mail or the copy mail.
// Partners: a positive id, -1 = any partner, -2 = the copy mail. Type "-1"
// = any document type. Objects hold no state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Object.h"

namespace quillon {

class Recordset;

class Notification : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // ---- sending ----
  // Sends every notification of the document: nothing when its show flag
  // is off.
  void SendNotifications(std::int32_t i_lDocID);
  // The subject, body, copy list and copy flags a notification of this
  // partner, document and mode would carry; false (and blanks) when there
  // is neither a stored mail nor a template. The lists fill "[%TOLIST%]"
  // and "[%CCLIST%]"; left blank they are looked up.
  bool GetNotificationProperties(std::int32_t i_lBPID, std::int32_t i_lDocID, std::uint8_t i_yNotificationMode,
                                 std::string& o_sSubject, std::string& o_sBody, std::string& o_sCc, bool& o_bCcDoc,
                                 bool& o_bCcAtt, const std::string& i_sToList = "", const std::string& i_sCcList = "");
  // Sends again the one notification a publication error records (the
  // recipient it names, or the copy mail), then closes that error. A
  // failure records a new error, raises and leaves the old one open.
  void ReSendNotification(std::int32_t i_lDocID, const std::string& i_sDocTypeID, std::int32_t i_lPubErrorID);
  // The users to notify of the document (USERID, BUSINESSPARTNERID,
  // HTMLATTACHMENT, ATTACHMENTS) by partner; all partners unless i_lBP > 0.
  std::shared_ptr<Recordset> getRecipientsWithNotification(std::int32_t i_lDocID, const std::string& i_sDocTypeID,
                                                           std::int32_t i_lBP);
  bool RecipientsWithNotificationExist(std::int32_t i_lDocID, const std::string& i_sDocTypeID, std::int32_t i_lBP);

  // ---- templates ----
  // The modes that may still get a template, as bits: 1 = mode 1, 2 = mode 2
  // (the copy partner -2 has mode 2 only).
  std::int32_t CanAddNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID);
  // Type "-1" or a type of DOCUMENTTYPE (else MissingDocumentTypeID); a
  // second template for the same type, partner and mode is refused.
  void AddNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID, std::uint8_t i_yNotificationMode,
                               const std::string& i_sSubject, const std::string& i_sBody, bool i_bCcDoc, bool i_bCcAtt);
  // Changes an existing template; does nothing when there is none.
  void UpdateNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                  std::uint8_t i_yNotificationMode, const std::string& i_sSubject,
                                  const std::string& i_sBody, bool i_bCcDoc, bool i_bCcAtt);
  void DeleteNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                  std::uint8_t i_yNotificationMode);
  // The template's texts as stored; false when there is none.
  bool GetNotificationTemplateProperties(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                         std::uint8_t i_yNotificationMode, std::string& o_sSubject,
                                         std::string& o_sBody, bool& o_bCcDoc, bool& o_bCcAtt);
  // The template the partner falls back to: the type's default, else the
  // general one (for the copy partner: the general copy template). Raises
  // NotPresent when there is none.
  void GetDefaultNotificationTemplateProperties(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                                std::uint8_t i_yNotificationMode, std::string& o_sSubject,
                                                std::string& o_sBody, bool& o_bCcDoc, bool& o_bCcAtt);
  // Type "-1" with partner -1 or -2.
  bool IsDefaultNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                     std::uint8_t i_yNotificationMode);

  // ---- mails stored for one document ----
  void AddNotificationEmail(std::int32_t i_lBPID, std::int32_t i_lDocID, std::uint8_t i_yNotificationMode,
                            const std::string& i_sSubject, const std::string& i_sBody, const std::string& i_sCc,
                            bool i_bCcDoc, bool i_bCcAtt);
  // Changes the stored mail, or adds it when there is none.
  void UpdateNotificationEmail(std::int32_t i_lBPID, std::int32_t i_lDocID, std::uint8_t i_yNotificationMode,
                               const std::string& i_sSubject, const std::string& i_sBody, const std::string& i_sCc,
                               bool i_bCcDoc, bool i_bCcAtt);
  void DeleteNotificationEmail(std::int32_t i_lBPID, std::int32_t i_lDocID, std::uint8_t i_yNotificationMode);

  // ---- placeholder checks ----
  // True when the text holds no placeholder that is out of place there;
  // otherwise o_sInvalidCodes names them ("'[%DOCID%]', '[%DOCTYPE%]'").
  bool IsValidSubjectForNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                             std::uint8_t i_yNotificationMode, const std::string& i_sSubject,
                                             std::string& o_sInvalidCodes);
  bool IsValidSubjectForNotificationEmail(const std::string& i_sSubject, std::string& o_sInvalidCodes);
  bool IsValidBodyForNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                          std::uint8_t i_yNotificationMode, const std::string& i_sBody,
                                          std::string& o_sInvalidCodes);
  bool IsValidBodyForNotificationEmail(const std::string& i_sBody, std::string& o_sInvalidCodes);
};

}  // namespace quillon
