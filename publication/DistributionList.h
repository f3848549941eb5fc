// DistributionList: who receives which document type, per business partner.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"
#include "platform/ReferentialIntegrity.h"

namespace quillon {

class DistributionList : public Object, public IReferentialIntegrity {
 public:
  const ClassInfo* classInfo() const override;

  bool UserFoundOnDBList(const std::string& iDocTypeID, const std::string& iUserID);
  bool BPFoundOnDBList(const std::string& iDocTypeID, std::int32_t iBPID);
  bool AnyBPFoundOnDBList(const std::string& iDocTypeID);
  void RemoveBPsFromDBList(const std::string& iDocTypeID);

  // Whether a row still refers to a business partner, user, user and
  // document type, user and partner, or document type.
  bool IReferentialIntegrity_Exists(const std::string& objectType, const Variant& keyNames,
                                    const Variant& keyValues) override;
  bool IReferentialIntegrity_BeforeDelete(const std::string& objectType, const Variant& keyNames,
                                          const Variant& keyValues) override;
};

}  // namespace quillon
