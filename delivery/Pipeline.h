// Pipeline: tells the platform whether business partners and document
// types are still referred to by send-method routes.
#pragma once

#include "platform/Object.h"
#include "platform/ReferentialIntegrity.h"

namespace quillon {

class Pipeline : public Object, public IReferentialIntegrity {
 public:
  const ClassInfo* classInfo() const override;
  // "BUSINESSPARTNER" with key "BUSINESSPARTNERID", "DOCUMENTTYPE" with key
  // "DOCUMENTTYPEID": whether a route uses the value; other types: false.
  bool IReferentialIntegrity_Exists(const std::string& objectType, const Variant& keyNames,
                                    const Variant& keyValues) override;
  bool IReferentialIntegrity_BeforeDelete(const std::string& objectType, const Variant& keyNames,
                                          const Variant& keyValues) override;
};

}  // namespace quillon
