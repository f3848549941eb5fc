#include "delivery/PushDocUtils.h"

#include "foundation/General.h"
#include "platform/Database.h"
#include "platform/Text.h"
#include "platform/UrlEncoding.h"

namespace quillon {

std::string PushDocUtils::GetField(const std::shared_ptr<Recordset>& i_oRS, const std::string& i_sFieldName) {
  return General::Guarded("Quillon.PushDocUtils.GetField", [&] {
    if (!i_oRS) throw Error(hr::kObjectRequired, "Quillon.PushDocUtils.GetField", "Object required: the recordset");
    return text::Trim(i_oRS->Fields(i_sFieldName).Value().text());
  });
}

std::string PushDocUtils::URLEncode(const std::string& iStr) {
  return General::Guarded("Quillon.PushDocUtils.EncodeURL",
                          [&] { return text::Replace(UrlEscape(iStr), "=", "%3D"); });
}

const ClassInfo* PushDocUtils::classInfo() const {
  static const ClassInfo* info = ClassBuilder<PushDocUtils>("Quillon.PushDocUtils")
                                     .bind<&PushDocUtils::GetField>("GetField", {ref("i_oRS"), ref("i_sFieldName")})
                                     .bind<&PushDocUtils::URLEncode>("URLEncode", {ref("iStr")})
                                     .done();
  return info;
}

namespace {
const bool kRegistered = (PushDocUtils().classInfo(), true);
}

}  // namespace quillon
