// Spreadsheet: workbooks (".xls" and ".xlt") read and written through a
// spreadsheet engine.
//
// The engine is a headless office process driven over its component
// interface. It lives in the module libquillon_calc.so, which is loaded on
// the first call here (platform/LazyModule.h), so a process that never
// opens a workbook never loads it. One engine process serves the whole
// calling process: it starts on first use on a private profile, dies with
// the caller (also when the caller is killed) and is started again when it
// has died. Every open workbook is one document in the engine; closing the
// workbook closes that document.
//
// A process that has used the engine ends at exit() once its standard
// streams are flushed (_exit with the same status): the connection's
// threads run to the very end. Exit handlers the caller registered before
// the engine's last call do not run; keep nothing there that must happen.
//
// Cells are addressed 1-based (row 1, column 1 = "A1"). Writes are buffered
// per sheet and sent in bulk before the sheet is read, saved or closed.
// Written text is read as typed input in the en-US locale: numbers and
// dates are recognised and a text beginning with "=" is a formula in the
// spreadsheet's own notation ("=IF(B1>5,\"x\",2)", "=Sheet2!A1"). Formulas
// that reach outside the workbook (other files, web services, DDE) are
// written as text instead, because the engine would evaluate them on this
// server.
//
// Failures raise Error: a file the engine cannot open (not a workbook,
// corrupt, password-protected) raises Error(hr::kFail) within a bounded
// time; an engine that is missing or does not start raises
// Error(hr::kCannotCreate). Workbooks are not thread-safe; the engine is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Object.h"
#include "platform/Variant.h"

namespace quillon::spreadsheet {

// The largest sheet an ".xls" file holds.
inline constexpr long kMaxRows = 65536;
inline constexpr long kMaxColumns = 256;

enum class CellKind { Empty, Text, Number, Date, Error };

struct Cell {
  CellKind kind = CellKind::Empty;
  std::string text;     // Text: the text; Error: the error's display ("#DIV/0!")
  double number = 0;    // Number; Date: an automation date
  std::string formula;  // "=…" in the spreadsheet's notation for a formula cell, else ""

  // The value as text: numbers as the automation conversion writes them,
  // dates as "YYYY-MM-DD" (with " hh:mm:ss" when there is a time).
  std::string valueText() const;
};

// A block of cells, 1-based and inclusive; lastRow 0 is the empty block.
struct Area {
  long firstRow = 0;
  long firstColumn = 0;
  long lastRow = 0;
  long lastColumn = 0;
  bool empty() const { return lastRow <= 0 || lastColumn <= 0; }
  long rows() const { return empty() ? 0 : lastRow - firstRow + 1; }
  long columns() const { return empty() ? 0 : lastColumn - firstColumn + 1; }
};

// "A" → 1, "IV" → 256; 0 for anything but letters.
long ColumnNumber(const std::string& letters);
// 1 → "A", 256 → "IV".
std::string ColumnLetters(long column);

class Sheet {
 public:
  virtual ~Sheet() = default;
  virtual std::string name() = 0;
  virtual void setName(const std::string& name) = 0;
  // The smallest block holding every cell with content; empty when none.
  virtual Area usedArea() = 0;
  // The cells of the block, row by row (rows() * columns() cells).
  virtual std::vector<Cell> read(const Area& area) = 0;
  // Writes one cell as typed input; "" empties it. A position outside the
  // ".xls" limits raises Error(hr::kInvalidArg).
  virtual void write(long row, long column, const std::string& input) = 0;
};

// Custom (user-defined) document properties.
enum class PropertyType { Text, Number, Boolean, Date };
struct Property {
  std::string name;
  Variant value;  // String, Int32 or Double, Boolean, Date
  PropertyType type() const;
};

// An open workbook. It is an automation object so that it can travel in a
// Variant between the component's methods and plug-ins; it has no by-name
// methods of its own. Released without Close, it closes its document.
class Workbook : public Object {
 public:
  // The file's name without its folder ("" for a new workbook).
  virtual std::string fileName() = 0;
  virtual bool readOnly() = 0;
  virtual std::vector<std::string> sheetNames() = 0;
  // 1-based; raises for an index out of range.
  virtual std::shared_ptr<Sheet> sheet(long index) = 0;
  // Case-insensitive; nullptr when none.
  virtual std::shared_ptr<Sheet> sheet(const std::string& name) = 0;
  // Adds a sheet after the last one.
  virtual std::shared_ptr<Sheet> addSheet(const std::string& name) = 0;
  virtual void removeSheet(const std::string& name) = 0;
  virtual std::vector<Property> properties() = 0;
  // Adds the property or replaces the value of the one of that exact name.
  virtual void setProperty(const std::string& name, const Variant& value) = 0;
  // Saves to the file it came from.
  virtual void save() = 0;
  // Saves under another path; ".xlt" writes a template, anything else ".xls".
  // An existing file is replaced.
  virtual void saveAs(const std::string& path) = 0;
  virtual void close() = 0;  // closing twice does nothing
  virtual bool closed() = 0;
};

// Opens a workbook file (a local path).
std::shared_ptr<Workbook> Open(const std::string& path, bool readOnly);
// A new workbook with one empty sheet.
std::shared_ptr<Workbook> Create();
// True when the engine is installed and starts; never raises.
bool Available();
// The engine's process id, 0 when it is not running (tests and benchmarks).
long EngineProcessId();
// Stops the engine; the next call starts a new one. Open workbooks are lost.
void StopEngine();

}  // namespace quillon::spreadsheet
