#include "foundation/LabelReplacements.h"

#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"

namespace quillon {

std::string LabelReplacements::I18NCollByReplacementsForASP(const std::string& i_sKey, long i_lLanguageID,
                                                            const std::shared_ptr<Dictionary>& i_oReplDict) {
  return General::Guarded(
      "Quillon.LabelReplacements.I18NCollByReplacementsForASP",
      [&] {
        return I18N::LabelWith("SLBSH4351",
                               {{"[%LABELKEY%]", i_sKey}, {"[%LANGUAGEID%]", std::to_string(i_lLanguageID)}});
      },
      [&] { return I18N::GetLabelWithReplacements(i_sKey, i_lLanguageID, i_oReplDict); });
}

std::shared_ptr<Dictionary> LabelReplacements::GetAllReplacementsFromTableForASP(const std::string& i_sTable,
                                                                                 std::int32_t i_lErrorID) {
  return General::Guarded(
      "Quillon.LabelReplacements.GetAllReplacementsFromTableForASP",
      [&] {
        return I18N::LabelWith("SLBSH4350", {{"[%TABLE%]", i_sTable}, {"[%ERRORID%]", std::to_string(i_lErrorID)}});
      },
      [&] {
        auto replacements = std::make_shared<Dictionary>();
        PublicationErrorHandling::GetReplacementsFromTable(replacements, i_sTable, i_lErrorID);
        return replacements;
      });
}

const ClassInfo* LabelReplacements::classInfo() const {
  using L = LabelReplacements;
  static const ClassInfo* info =
      ClassBuilder<LabelReplacements>("Quillon.LabelReplacements")
          .bind<&L::I18NCollByReplacementsForASP>("I18NCollByReplacementsForASP",
                                                  {"i_sKey", "i_lLanguageID", opt("i_oReplDict", Variant())})
          .bind<&L::GetAllReplacementsFromTableForASP>("GetAllReplacementsFromTableForASP", {"i_sTable", "i_lErrorID"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (LabelReplacements().classInfo(), true);
}

}  // namespace quillon
