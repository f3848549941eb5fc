// The platform's front of the spreadsheet engine: loads libquillon_calc.so
// on first use and hands the calls on; the small value helpers live here.
#include "platform/Spreadsheet.h"

#include <atomic>
#include <cmath>
#include <cstdio>

#include "platform/Error.h"
#include "platform/LazyModule.h"
#include "platform/calc/CalcModule.h"

namespace quillon::spreadsheet {

namespace {

std::atomic<bool> loaded{false};

EngineApi& engine() {
  auto* api = LazyModule::Function<EngineApi*()>("calc", kCalcEngineSymbol)();
  loaded = true;
  return *api;
}

}  // namespace

std::string Cell::valueText() const {
  switch (kind) {
    case CellKind::Empty: return {};
    case CellKind::Text:
    case CellKind::Error: return text;
    case CellKind::Number: return Variant(number).toString();
    case CellKind::Date: {
      std::string full = formatOleDate(number);
      if (number >= 1 && std::floor(number) == number) return full.substr(0, 10);
      if (number >= 0 && number < 1) return full.substr(11);
      return full;
    }
  }
  return {};
}

long ColumnNumber(const std::string& letters) {
  if (letters.empty() || letters.size() > 3) return 0;
  long n = 0;
  for (char c : letters) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') return 0;
    n = n * 26 + (c - 'A' + 1);
  }
  return n;
}

std::string ColumnLetters(long column) {
  std::string out;
  while (column > 0) {
    long rest = (column - 1) % 26;
    out.insert(out.begin(), static_cast<char>('A' + rest));
    column = (column - 1) / 26;
  }
  return out;
}

PropertyType Property::type() const {
  switch (value.type()) {
    case VarType::Boolean: return PropertyType::Boolean;
    case VarType::Date: return PropertyType::Date;
    case VarType::Byte:
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Double: return PropertyType::Number;
    default: return PropertyType::Text;
  }
}

std::shared_ptr<Workbook> Open(const std::string& path, bool readOnly) { return engine().open(path, readOnly); }

std::shared_ptr<Workbook> Create() { return engine().create(); }

bool Available() {
  try {
    return engine().available();
  } catch (...) {
    return false;
  }
}

long EngineProcessId() { return loaded ? engine().processId() : 0; }

void StopEngine() {
  if (loaded) engine().stop();
}

}  // namespace quillon::spreadsheet
