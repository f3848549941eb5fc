// Utility: the spreadsheet engine's presence.
#include "foundation/General.h"
#include "platform/Spreadsheet.h"
#include "publication/Utility.h"

namespace quillon {

bool Utility::IsExcelInstalled() {
  // The engine is asked to start, so "installed" also means "usable":
  // a broken installation answers false instead of failing later.
  return General::Guarded("Quillon.Utility.IsExcelInstalled", [] { return spreadsheet::Available(); });
}

}  // namespace quillon
