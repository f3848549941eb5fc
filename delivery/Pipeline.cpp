#include "delivery/Pipeline.h"

#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "foundation/Lookups.h"
#include "platform/Database.h"
#include "platform/Text.h"

namespace quillon {

bool Pipeline::IReferentialIntegrity_Exists(const std::string& objectType, const Variant& keyNames,
                                            const Variant& keyValues) {
  return General::Guarded("Quillon.Pipeline.IReferentialIntegrity_Exists()", [&] {
    std::string type = text::UCase(objectType);
    std::string keyName, sqlHead;
    bool numeric;
    if (type == "BUSINESSPARTNER") {
      keyName = "BUSINESSPARTNERID";
      sqlHead = "SELECT BUSINESSPARTNERID FROM SENDMETHOD WHERE BUSINESSPARTNERID = ";
      numeric = true;
    } else if (type == "DOCUMENTTYPE") {
      keyName = "DOCUMENTTYPEID";
      sqlHead = "SELECT DOCUMENTTYPEID FROM SENDMETHOD WHERE DOCUMENTTYPEID = ";
      numeric = false;
    } else {
      return false;
    }
    // When several keys match, the last one decides; with none the answer stays true.
    bool answer = true;
    const VariantArray& names = keyNames.array();
    const VariantArray& values = keyValues.array();
    for (long i = names.lbound(); i <= names.ubound(); ++i) {
      if (names.at(i).text() != keyName) continue;
      const Variant& v = values.at(i);
      answer = Lookups::HasRow(sqlHead + (numeric ? Encoding::SqlLong(v.toInt32()) : Encoding::SqlText(v.text())));
    }
    return answer;
  });
}

bool Pipeline::IReferentialIntegrity_BeforeDelete(const std::string&, const Variant&, const Variant&) { return true; }

const ClassInfo* Pipeline::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<Pipeline>("Quillon.Pipeline")
          .bind<&Pipeline::IReferentialIntegrity_Exists>("IReferentialIntegrity_Exists", {"ObjectType", "KeyNames", "KeyValues"})
          .bind<&Pipeline::IReferentialIntegrity_BeforeDelete>(
              "IReferentialIntegrity_BeforeDelete", {opt("ObjectType", ""), opt("KeyNames", Variant()), opt("KeyValues", Variant())})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Pipeline().classInfo(), true);
}

}  // namespace quillon
