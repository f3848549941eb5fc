// By-name access to the module operations (DBUtils, General, I18N) for
// operators: they register in Registry::operatorModules(), which only the
// command line's explicit operator switch (`quillon --modules ...`)
// consults. They are not classes of the automation interface, so the
// portal, rules and method-call strings never reach them by name.
#include "foundation/DBUtils.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Database.h"
#include "platform/Object.h"

namespace quillon {

namespace {

template <int Id>
class Module : public Object {
 public:
  const ClassInfo* classInfo() const override { return info; }
  static inline const ClassInfo* info = nullptr;
};

using DBUtilsModule = Module<1>;
using GeneralModule = Module<2>;
using I18NModule = Module<3>;

const bool kRegistered = [] {
  Registry& modules = Registry::operatorModules();
  DBUtilsModule::info =
      ClassBuilder<DBUtilsModule>("Quillon.DBUtils")
          .bind<&DBUtils::GetParameter>("GetParameter", {"name"})
          // Runs only statements that read: see DBUtils::getDisconnectedReadOnlyRecordSet.
          .bind<&DBUtils::getDisconnectedReadOnlyRecordSet>("getDisconnectedReadOnlyRecordSet", {"sql"})
          .done(modules);
  GeneralModule::info = ClassBuilder<GeneralModule>("Quillon.General")
                            .bind<&General::iGeneral_GenerateGUID>("iGeneral_GenerateGUID")
                            .bind<&General::iGeneral_B2BLogging>("iGeneral_B2BLogging")
                            .bind<&General::GetB2BConfigFile>("GetB2BConfigFile")
                            .bind<&General::getSiteConfigFile>("getSiteConfigFile")
                            .bind<&General::getInstallDir>("getInstallDir")
                            .bind<&General::GetMembershipUser>("GetMembershipUser")
                            .bind<&General::GetMembershipCode>("GetMembershipCode")
                            .done(modules);
  I18NModule::info =
      ClassBuilder<I18NModule>("Quillon.I18N")
          .bind<&I18N::GetLabel>("GetLabel", {"key"})
          .bind<&I18N::GetLabelForLocale>("GetLabelForLocale", {"key", "localeID"})
          .bind<&I18N::GetLabelWithReplacements>("GetLabelWithReplacements",
                                                 {"key", "localeID", opt("replacements", Variant())})
          .done(modules);
  return true;
}();

}  // namespace
}  // namespace quillon
