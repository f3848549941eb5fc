// By-name access to the module operations (DBUtils, General, I18N), so that
// operators and scripts can reach them through `quillon call` like the
// public classes.
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
  DBUtilsModule::info =
      ClassBuilder<DBUtilsModule>("Quillon.DBUtils")
          .method("GetParameter", {in("name")}, [](auto&, auto& a) { return Variant(DBUtils::GetParameter(a[0].toString())); })
          .method("getDisconnectedReadOnlyRecordSet", {in("sql")},
                  [](auto&, auto& a) { return Variant(DBUtils::getDisconnectedReadOnlyRecordSet(a[0].toString())); })
          .done();
  GeneralModule::info =
      ClassBuilder<GeneralModule>("Quillon.General")
          .method("iGeneral_GenerateGUID", {}, [](auto&, auto&) { return Variant(General::iGeneral_GenerateGUID()); })
          .method("iGeneral_B2BLogging", {}, [](auto&, auto&) { return Variant(General::iGeneral_B2BLogging()); })
          .method("GetB2BConfigFile", {}, [](auto&, auto&) { return Variant(General::GetB2BConfigFile()); })
          .method("getSiteConfigFile", {}, [](auto&, auto&) { return Variant(General::getSiteConfigFile()); })
          .method("getInstallDir", {}, [](auto&, auto&) { return Variant(General::getInstallDir()); })
          .method("GetMembershipUser", {}, [](auto&, auto&) { return Variant(General::GetMembershipUser()); })
          .method("GetMembershipCode", {}, [](auto&, auto&) { return Variant(General::GetMembershipCode()); })
          .done();
  I18NModule::info =
      ClassBuilder<I18NModule>("Quillon.I18N")
          .method("GetLabel", {in("key")}, [](auto&, auto& a) { return Variant(I18N::GetLabel(a[0].toString())); })
          .method("GetLabelForLocale", {in("key"), in("localeID")},
                  [](auto&, auto& a) { return Variant(I18N::GetLabelForLocale(a[0].toString(), a[1].toInt32())); })
          .method("GetLabelWithReplacements", {in("key"), in("localeID"), opt("replacements", Variant())},
                  [](auto&, auto& a) {
                    return Variant(I18N::GetLabelWithReplacements(a[0].toString(), a[1].toInt32(),
                                                                  a[2].template as<Dictionary>()));
                  })
          .done();
  return true;
}();

}  // namespace
}  // namespace quillon
