#include "foundation/EnumsConstantsGlobalVars.h"

namespace quillon {

const ClassInfo* EnumsConstantsGlobalVars::classInfo() const {
  static const ClassInfo* info = ClassBuilder<EnumsConstantsGlobalVars>("Quillon.EnumsConstantsGlobalVars").done();
  return info;
}

namespace {
const bool kRegistered = (EnumsConstantsGlobalVars().classInfo(), true);
}

}  // namespace quillon
