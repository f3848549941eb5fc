// Queries: which kinds of records still use a document type, for the page
// that is about to delete one.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class Queries : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The names of the kinds of records that refer to the type, as a script
  // array text: Array("Documents","Sender list"); "" when nothing does.
  // The names are label texts in the given language.
  std::string CheckDocTypeReferences(const std::string& iDocTypeID, std::int32_t iLanguageID = 1033);
};

}  // namespace quillon
