// IMethodCall24: the newer plug-in contract for deliveries.
//
// One plug-in instance receives, in this order: setBusinessPartnerID,
// setDocumentID, setDocumentAttachments (only when attachments are wanted
// and present), setExcelWorkBook or setDocumentXML, then Process; it is
// released afterwards. The component's own bodies are empty. The class
// cannot be created by name.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class IMethodCall24 : public Object {
 public:
  const ClassInfo* classInfo() const override;
  virtual void setBusinessPartnerID(std::int32_t i_lBPID);
  virtual void setDocumentID(std::int32_t i_lDocID);
  virtual void setDocumentAttachments(Variant& i_asAttachments);
  virtual void setDocumentXML(const std::string& i_sDocumentData);
  virtual void setExcelWorkBook(const Variant& i_oExcelWorkBook);
  virtual void Process();
};

}  // namespace quillon
