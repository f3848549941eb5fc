// LabelReplacements: label lookups for the portal's pages.
#pragma once

#include <cstdint>
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

  // The placeholder values stored with one publication error of the table
  // (placeholder -> value, in the order they were stored), for the page to
  // render the error's label in the reader's language.
  std::shared_ptr<Dictionary> GetAllReplacementsFromTableForASP(const std::string& i_sTable, std::int32_t i_lErrorID);
};

}  // namespace quillon
