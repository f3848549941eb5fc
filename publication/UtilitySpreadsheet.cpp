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

// ---- by-name registration ----------------------------------------------------------------
// The registry takes one block per class, and Utility's block lives in
// Utility.cpp. This file adds its method to that block during static
// initialisation (before any call can run), instead of editing it.

namespace {

const bool kSpreadsheetMethodsRegistered = [] {
  auto* info = const_cast<ClassInfo*>(Utility().classInfo());
  if (info && !info->find("IsExcelInstalled"))
    info->methods.push_back(MethodInfo{"IsExcelInstalled", {}, [](Object& self, std::vector<Variant>&) {
                                         return Variant(static_cast<Utility&>(self).IsExcelInstalled());
                                       }});
  return true;
}();

}  // namespace

}  // namespace quillon
