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
  static const ClassInfo* info =
      ClassBuilder<LabelReplacements>("Quillon.LabelReplacements")
          .method("I18NCollByReplacementsForASP", {in("i_sKey"), in("i_lLanguageID"), opt("i_oReplDict", Variant())},
                  [](LabelReplacements& self, auto& a) {
                    auto dict = a[2].template as<Dictionary>();
                    if (!a[2].isEmpty() && !a[2].isNull() && !a[2].isObject())
                      throw Error(hr::kTypeMismatch, "Quillon.LabelReplacements",
                                  "Type mismatch: i_oReplDict must be a dictionary");
                    return Variant(self.I18NCollByReplacementsForASP(a[0].toString(), a[1].toInt32(), dict));
                  })
          .method("GetAllReplacementsFromTableForASP", {in("i_sTable"), in("i_lErrorID")},
                  [](LabelReplacements& self, auto& a) {
                    return Variant(self.GetAllReplacementsFromTableForASP(a[0].text(), a[1].toInt32()));
                  })
          .done();
  return info;
}

namespace {
const bool kRegistered = (LabelReplacements().classInfo(), true);
}

}  // namespace quillon
