// LabelReplacements: label lookups for the portal's pages.
#pragma once

#include <memory>
#include <string>

#include "platform/Object.h"

namespace quillon {

class LabelReplacements : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The label text in the language with the dictionary's placeholders filled.
  std::string I18NCollByReplacementsForASP(const std::string& i_sKey, long i_lLanguageID,
                                           const std::shared_ptr<Dictionary>& i_oReplDict);
};

}  // namespace quillon
