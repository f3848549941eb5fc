// IReferentialIntegrity: the platform's question "is this entity still
// referred to?" before it deletes a business partner, a user, a document
// type or their links. Components that keep references implement it.
#pragma once

#include <string>

#include "platform/Variant.h"

namespace quillon {

class IReferentialIntegrity {
 public:
  virtual ~IReferentialIntegrity() = default;
  // objectType: "BUSINESSPARTNER", "USER", "USER_DOCUMENTTYPE",
  // "USER_BUSINESSPARTNER", "DOCUMENTTYPE"; keyNames and keyValues are
  // one-dimensional arrays matched by index.
  virtual bool IReferentialIntegrity_Exists(const std::string& objectType, const Variant& keyNames,
                                            const Variant& keyValues) = 0;
  virtual bool IReferentialIntegrity_BeforeDelete(const std::string& objectType, const Variant& keyNames,
                                                  const Variant& keyValues) = 0;
};

}  // namespace quillon
