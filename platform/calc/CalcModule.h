// The entry point of libquillon_calc.so, shared by the module and the
// platform's front (platform/Spreadsheet.cpp). Nothing here names the
// engine's own types, so the front compiles without them.
#pragma once

#include <memory>
#include <string>

#include "platform/Spreadsheet.h"

namespace quillon::spreadsheet {

class EngineApi {
 public:
  virtual ~EngineApi() = default;
  virtual std::shared_ptr<Workbook> open(const std::string& path, bool readOnly) = 0;
  virtual std::shared_ptr<Workbook> create() = 0;
  virtual bool available() = 0;
  virtual long processId() = 0;
  virtual void stop() = 0;
};

}  // namespace quillon::spreadsheet

// The module's one exported symbol: the process-wide engine.
extern "C" quillon::spreadsheet::EngineApi* quillon_calc_engine();
inline constexpr const char* kCalcEngineSymbol = "quillon_calc_engine";
