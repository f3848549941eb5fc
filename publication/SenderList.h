// SenderList: who may send which document type, and the sender's own
// notification wishes.
#pragma once

#include <string>

#include "platform/Object.h"

namespace quillon {

class SenderList : public Object {
 public:
  const ClassInfo* classInfo() const override;

  bool CheckAuthorizationForSender(const std::string& iDocTypeID, const std::string& iUserID);
  bool GetNotification(const std::string& iDocTypeID, const std::string& iUserID);
  bool GetNotification3(const std::string& iDocTypeID, const std::string& iUserID, bool& o_bNotification,
                        bool& o_bAttachments, bool& o_bHTMLAttachment);
  Variant GetNotification2(const std::string& iDocTypeID, const std::string& iUserID, bool& o_bNotification,
                           bool& o_bAttachments, bool& o_bHTMLAttachment, std::string& o_sHTMLATTACHMENTXSL);
  bool GetAttachments(const std::string& iDocTypeID, const std::string& iUserID);
  bool GetDocumentAsAttachment(const std::string& iDocTypeID, const std::string& iUserID);
};

}  // namespace quillon
