// Utility: the spreadsheet engine's presence as a requirement, and the
// manual download of a document.
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "publication/Utility.h"

namespace quillon {

using General::Guarded;

bool Utility::IsExcelInstalledWithErrRaise() {
  const std::string source = "Quillon.Utility.IsExcelInstalledWithErrRaise";
  return Guarded(source, [&] {
    if (!IsExcelInstalled()) throw Error(ExcelNotInstalled, source, I18N::GetLabel("SLBSH0040"));
    return true;
  });
}

}  // namespace quillon
