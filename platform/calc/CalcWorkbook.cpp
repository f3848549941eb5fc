// Workbooks as documents of the engine.
//
// Every call to the engine is a round trip to another process, so cells
// are read and written in blocks: a read takes the values of a whole block
// in one call, and writes wait in a per-sheet buffer until the sheet is
// read, saved or closed. A buffered write never touches a cell that it
// does not name: blocks sent in one call cover only named or empty cells.
#include <com/sun/star/beans/PropertyAttribute.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertyAccess.hpp>
#include <com/sun/star/beans/XPropertyContainer.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XDocumentProperties.hpp>
#include <com/sun/star/document/XDocumentPropertiesSupplier.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionDisapprove.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/Date.hpp>
#include <com/sun/star/util/DateTime.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <osl/file.hxx>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>

#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/calc/CalcInternal.h"

namespace fs = std::filesystem;

namespace quillon::calc {

using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using spreadsheet::Area;
using spreadsheet::Cell;
using spreadsheet::CellKind;

namespace {

// Loading a hostile or broken file must not hang the caller.
constexpr auto kLoadLimit = std::chrono::seconds(60);
// Above this many cells a flush does not take a snapshot of the block
// around the buffered writes; it writes cell by cell instead.
constexpr long kSnapshotLimit = 200000;

css::beans::PropertyValue prop(const char* name, const Any& value) {
  css::beans::PropertyValue p;
  p.Name = rtl::OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

Sequence<css::beans::PropertyValue> props(std::initializer_list<css::beans::PropertyValue> list) {
  Sequence<css::beans::PropertyValue> out(static_cast<sal_Int32>(list.size()));
  std::copy(list.begin(), list.end(), out.getArray());
  return out;
}

// Answers every question the engine asks while loading (passwords, filter
// options, repairs) with "abort", so a load never waits for a person.
class AbortingHandler : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
 public:
  void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override {
    const auto continuations = request->getContinuations();
    for (const auto& c : continuations) {
      Reference<css::task::XInteractionAbort> abort(c, UNO_QUERY);
      if (abort.is()) {
        abort->select();
        return;
      }
    }
    for (const auto& c : continuations) {
      Reference<css::task::XInteractionDisapprove> no(c, UNO_QUERY);
      if (no.is()) {
        no->select();
        return;
      }
    }
  }
};

rtl::OUString fileUrl(const std::string& path) {
  rtl::OUString url;
  if (osl::FileBase::getFileURLFromSystemPath(U(path), url) != osl::FileBase::E_None)
    throw Error(hr::kInvalidArg, kSource, "not a usable file path: '" + path + "'");
  return url;
}

std::string lowerExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  return text::LCase(ext);
}

rtl::OUString filterFor(const std::string& path) {
  return U(lowerExtension(path) == "xlt" ? "MS Excel 97 Vorlage/Template" : "MS Excel 97");
}

double oleFromDateTime(const css::util::DateTime& d) {
  return oleDateFromParts(d.Year, d.Month, d.Day, d.Hours, d.Minutes, d.Seconds);
}

// A property value of the engine as a Variant; nullopt for types the
// workbook format does not keep.
std::optional<Variant> toVariant(const Any& a) {
  switch (a.getValueTypeClass()) {
    case css::uno::TypeClass_STRING: return Variant(Utf8(a.get<rtl::OUString>()));
    case css::uno::TypeClass_BOOLEAN: return Variant(a.get<bool>());
    case css::uno::TypeClass_BYTE:
    case css::uno::TypeClass_SHORT:
    case css::uno::TypeClass_UNSIGNED_SHORT:
    case css::uno::TypeClass_LONG: return Variant(static_cast<int>(a.get<sal_Int32>()));
    case css::uno::TypeClass_HYPER:
    case css::uno::TypeClass_UNSIGNED_LONG:
    case css::uno::TypeClass_FLOAT:
    case css::uno::TypeClass_DOUBLE: return Variant(a.get<double>());
    default: break;
  }
  css::util::DateTime dt;
  if (a >>= dt) return Variant::date(oleFromDateTime(dt));
  css::util::Date d;
  if (a >>= d) return Variant::date(oleDateFromParts(d.Year, d.Month, d.Day));
  return std::nullopt;
}

Any toAny(const Variant& v) {
  switch (v.type()) {
    case VarType::Boolean: return Any(v.toBool());
    case VarType::Byte:
    case VarType::Int16:
    case VarType::Int32: return Any(static_cast<sal_Int32>(v.toInt32()));
    case VarType::Double: return Any(v.toDouble());
    case VarType::Date: {
      int y, mo, d, h, mi, s;
      oleDateToParts(v.toDate(), y, mo, d, h, mi, s);
      css::util::DateTime dt;
      dt.Year = static_cast<sal_Int16>(y);
      dt.Month = static_cast<sal_uInt16>(mo);
      dt.Day = static_cast<sal_uInt16>(d);
      dt.Hours = static_cast<sal_uInt16>(h);
      dt.Minutes = static_cast<sal_uInt16>(mi);
      dt.Seconds = static_cast<sal_uInt16>(s);
      return Any(dt);
    }
    default: return Any(U(v.text()));
  }
}

// Formulas that make the engine reach outside the workbook when it
// calculates them: other files, web services, DDE links and references
// built from text at run time. Checked on the formula without its string
// literals.
bool reachesOutside(const std::string& formula) {
  std::string code;
  bool inString = false;
  for (char c : formula) {
    if (c == '"') {
      inString = !inString;
      continue;
    }
    if (!inString) code += c;
  }
  code = text::UCase(code);
  for (const char* word : {"WEBSERVICE", "DDE", "INDIRECT", "[", "#$", "://", "FILE:"})
    if (code.find(word) != std::string::npos) return true;
  return false;
}

bool isFormulaInput(const std::string& input) { return input.size() > 1 && input[0] == '='; }

// Input that the engine reads as a number without any format: such input
// can go in a block. Other input that starts like a number (dates, times,
// percentages, amounts) is typed cell by cell, so that the cell also gets
// the matching format, as typing it would give.
bool needsTypedInput(const std::string& input) {
  static const std::regex plainNumber(R"(^ *[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)? *$)");
  static const std::regex numberLike(R"(^ *[-+$(.]?[0-9])");
  return std::regex_search(input, numberLike) && !std::regex_match(input, plainNumber);
}

std::string toSheetNotation(const std::string& formula);

// Translates a formula from the engine's notation ("=IF(B1>5;\"x\";2)",
// "$Sheet1.A1") to the spreadsheet's: ";" between arguments becomes ",".
// False for formulas with inline arrays or the engine's own intersection
// operator, whose translation needs the engine.
bool fromEngineNotation(std::string& formula) {
  std::string out;
  bool inString = false;
  for (char c : formula) {
    if (c == '"') inString = !inString;
    if (!inString && (c == '{' || c == '!' || c == '|')) return false;
    out += (!inString && c == ';') ? ',' : c;
  }
  formula = toSheetNotation(out);
  return true;
}

// The engine writes sheet references as "$Sheet1.A1" or "$'My sheet'.A1";
// the spreadsheet's notation is "Sheet1!A1" or "'My sheet'!A1". String
// literals are left as they are.
std::string toSheetNotation(const std::string& formula) {
  static const std::regex reference(R"(\$?('(?:[^']|'')+'|[A-Za-z0-9_]+)\.(\$?[A-Za-z]{1,3}\$?[0-9]+))");
  static const std::regex bareName(R"([A-Za-z_][A-Za-z0-9_]*)");
  std::string out;
  std::string code;
  auto convert = [&] {
    std::string converted;
    auto begin = std::sregex_iterator(code.begin(), code.end(), reference);
    std::size_t last = 0;
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
      std::string sheet = (*it)[1].str();
      if (sheet[0] != '\'' && !std::regex_match(sheet, bareName)) sheet = "'" + sheet + "'";
      converted += code.substr(last, static_cast<std::size_t>(it->position()) - last) + sheet + "!" + (*it)[2].str();
      last = static_cast<std::size_t>(it->position() + it->length());
    }
    out += converted + code.substr(last);
    code.clear();
  };
  bool inString = false;
  for (char c : formula) {
    if (c == '"') {
      if (!inString) convert();
      inString = !inString;
      out += c;
      continue;
    }
    if (inString)
      out += c;
    else
      code += c;
  }
  convert();
  return out;
}

}  // namespace

// ---- sheets ------------------------------------------------------------------------------

class CalcSheet : public spreadsheet::Sheet {
 public:
  // The engine gives a new object for the same sheet on every request, so
  // a sheet is known by its name, which only setName changes.
  CalcSheet(Reference<css::sheet::XSpreadsheet> sheet, std::string name)
      : sheet_(std::move(sheet)), name_(std::move(name)) {}

  std::string name() override { return name_; }

  void setName(const std::string& name) override {
    Call("cannot rename the sheet to '" + name + "'",
         [&] { Reference<css::container::XNamed>(sheet_, UNO_QUERY_THROW)->setName(U(name)); });
    name_ = name;
  }

  Area usedArea() override {
    flush();
    return Call("cannot measure a sheet", [&] {
      Reference<css::sheet::XCellRangesQuery> query(sheet_, UNO_QUERY_THROW);
      using namespace css::sheet::CellFlags;
      auto ranges = query->queryContentCells(static_cast<sal_Int16>(VALUE | DATETIME | STRING | FORMULA));
      Area area;
      for (const auto& r : ranges->getRangeAddresses()) {
        if (area.empty()) {
          area = Area{r.StartRow + 1, r.StartColumn + 1, r.EndRow + 1, r.EndColumn + 1};
          continue;
        }
        area.firstRow = std::min<long>(area.firstRow, r.StartRow + 1);
        area.firstColumn = std::min<long>(area.firstColumn, r.StartColumn + 1);
        area.lastRow = std::max<long>(area.lastRow, r.EndRow + 1);
        area.lastColumn = std::max<long>(area.lastColumn, r.EndColumn + 1);
      }
      return area;
    });
  }

  std::vector<Cell> read(const Area& area) override {
    flush();
    std::vector<Cell> cells(static_cast<std::size_t>(area.rows() * area.columns()));
    if (area.empty()) return cells;
    Call("cannot read a sheet", [&] {
      auto range = block(area);
      const auto data = Reference<css::sheet::XCellRangeData>(range, UNO_QUERY_THROW)->getDataArray();
      for (sal_Int32 r = 0; r < data.getLength(); ++r) {
        for (sal_Int32 c = 0; c < data[r].getLength(); ++c) {
          Cell& cell = cells[static_cast<std::size_t>(r * area.columns() + c)];
          const Any& v = data[r][c];
          double number = 0;
          rtl::OUString s;
          if (v >>= number) {
            cell.kind = CellKind::Number;
            cell.number = number;
          } else if ((v >>= s) && !s.isEmpty()) {
            cell.kind = CellKind::Text;
            cell.text = Utf8(s);
          }
        }
      }
      Reference<css::sheet::XCellRangesQuery> query(range, UNO_QUERY_THROW);
      auto at = [&](long row, long column) -> Cell& {
        return cells[static_cast<std::size_t>((row - area.firstRow) * area.columns() + (column - area.firstColumn))];
      };
      forEachCell(query->queryContentCells(css::sheet::CellFlags::DATETIME), [&](long row, long column) {
        Cell& cell = at(row, column);
        if (cell.kind == CellKind::Number) cell.kind = CellKind::Date;
      });
      // All formulas in one call, in the engine's notation; the few that
      // the plain translation cannot handle are asked for one by one.
      Sequence<Sequence<rtl::OUString>> formulas;
      forEachCell(query->queryContentCells(css::sheet::CellFlags::FORMULA), [&](long row, long column) {
        if (!formulas.hasElements())
          formulas = Reference<css::sheet::XCellRangeFormula>(range, UNO_QUERY_THROW)->getFormulaArray();
        std::string formula = Utf8(formulas[static_cast<sal_Int32>(row - area.firstRow)]
                                           [static_cast<sal_Int32>(column - area.firstColumn)]);
        if (!fromEngineNotation(formula)) {
          auto cell = sheet_->getCellByPosition(column - 1, row - 1);
          Reference<css::beans::XPropertySet> props(cell, UNO_QUERY_THROW);
          formula = toSheetNotation(Utf8(props->getPropertyValue(U("FormulaLocal")).get<rtl::OUString>()));
        }
        at(row, column).formula = formula;
      });
      forEachCell(query->queryFormulaCells(css::sheet::FormulaResult::ERROR), [&](long row, long column) {
        Cell& cell = at(row, column);
        cell.kind = CellKind::Error;
        cell.text = Utf8(Reference<css::text::XTextRange>(sheet_->getCellByPosition(column - 1, row - 1), UNO_QUERY_THROW)
                             ->getString());
      });
    });
    return cells;
  }

  void write(long row, long column, const std::string& input) override {
    if (row < 1 || row > spreadsheet::kMaxRows || column < 1 || column > spreadsheet::kMaxColumns)
      throw Error(hr::kInvalidArg, kSource,
                  "the cell at row " + std::to_string(row) + ", column " + std::to_string(column) +
                      " lies outside a workbook sheet (" + std::to_string(spreadsheet::kMaxRows) + " rows, " +
                      std::to_string(spreadsheet::kMaxColumns) + " columns)");
    pending_[{row, column}] = input;
  }

  // Sends the buffered writes.
  void flush() {
    if (pending_.empty()) return;
    auto pending = std::move(pending_);
    pending_.clear();
    Call("cannot write to the sheet", [&] { send(pending); });
  }

  void discard() { pending_.clear(); }

 private:
  using Writes = std::map<std::pair<long, long>, std::string>;

  Reference<css::table::XCellRange> block(const Area& a) const {
    return sheet_->getCellRangeByPosition(a.firstColumn - 1, a.firstRow - 1, a.lastColumn - 1, a.lastRow - 1);
  }

  template <class F>
  static void forEachCell(const Reference<css::sheet::XSheetCellRanges>& ranges, F&& f) {
    for (const auto& r : ranges->getRangeAddresses())
      for (long row = r.StartRow + 1; row <= r.EndRow + 1; ++row)
        for (long column = r.StartColumn + 1; column <= r.EndColumn + 1; ++column) f(row, column);
  }

  void setBlock(const Area& a, const std::vector<std::vector<std::string>>& inputs) {
    Sequence<Sequence<rtl::OUString>> rows(static_cast<sal_Int32>(inputs.size()));
    auto* rowData = rows.getArray();
    for (std::size_t r = 0; r < inputs.size(); ++r) {
      Sequence<rtl::OUString> row(static_cast<sal_Int32>(inputs[r].size()));
      auto* cells = row.getArray();
      for (std::size_t c = 0; c < inputs[r].size(); ++c) cells[c] = U(inputs[r][c]);
      rowData[r] = row;
    }
    Reference<css::sheet::XCellRangeFormula>(block(a), UNO_QUERY_THROW)->setFormulaArray(rows);
  }

  // Plain input goes in blocks; formulas (in the spreadsheet's notation,
  // which the block call does not read) and formatted input one by one.
  void send(const Writes& writes) {
    Writes plain;
    std::vector<std::pair<std::pair<long, long>, std::string>> typed;
    for (const auto& [at, input] : writes) {
      if (isFormulaInput(input) && reachesOutside(input)) {
        plain[at] = "'" + input;  // kept as text, never calculated here
      } else if (isFormulaInput(input) || needsTypedInput(input)) {
        plain[at] = "";
        typed.emplace_back(at, input);
      } else {
        plain[at] = input;
      }
    }
    sendPlain(plain);
    for (const auto& [at, formula] : typed) {
      auto cell = sheet_->getCellByPosition(at.second - 1, at.first - 1);
      Reference<css::beans::XPropertySet>(cell, UNO_QUERY_THROW)->setPropertyValue(U("FormulaLocal"), Any(U(formula)));
    }
  }

  void sendPlain(const Writes& writes) {
    if (writes.empty()) return;
    Area box{writes.begin()->first.first, writes.begin()->first.second, writes.rbegin()->first.first, 0};
    box.lastColumn = box.firstColumn;
    for (const auto& [at, input] : writes) {
      box.firstColumn = std::min(box.firstColumn, at.second);
      box.lastColumn = std::max(box.lastColumn, at.second);
    }
    if (box.rows() * box.columns() > kSnapshotLimit) {
      for (const auto& [at, input] : writes) setBlock(Area{at.first, at.second, at.first, at.second}, {{input}});
      return;
    }
    // Which cells of the box hold something now: a block may only cover
    // named cells and empty ones.
    const auto current = Reference<css::sheet::XCellRangeFormula>(block(box), UNO_QUERY_THROW)->getFormulaArray();
    auto occupied = [&](long row, long column) {
      return !current[static_cast<sal_Int32>(row - box.firstRow)][static_cast<sal_Int32>(column - box.firstColumn)].isEmpty() &&
             writes.find({row, column}) == writes.end();
    };
    // Segments: per row, runs of named cells between occupied ones.
    struct Segment {
      long row, first, last;
    };
    std::vector<Segment> segments;
    for (auto it = writes.begin(); it != writes.end();) {
      long row = it->first.first;
      long first = it->first.second, last = first;
      auto next = std::next(it);
      while (next != writes.end() && next->first.first == row) {
        bool blocked = false;
        for (long c = last + 1; c < next->first.second && !blocked; ++c) blocked = occupied(row, c);
        if (blocked) {
          segments.push_back({row, first, last});
          first = next->first.second;
        }
        last = next->first.second;
        ++next;
      }
      segments.push_back({row, first, last});
      it = next;
    }
    // Bands: consecutive rows whose segments can share one block.
    std::size_t i = 0;
    while (i < segments.size()) {
      Area band{segments[i].row, segments[i].first, segments[i].row, segments[i].last};
      std::size_t j = i + 1;
      while (j < segments.size() && segments[j].row == band.lastRow + 1) {
        Area grown{band.firstRow, std::min(band.firstColumn, segments[j].first), segments[j].row,
                   std::max(band.lastColumn, segments[j].last)};
        bool blocked = false;
        for (long r = grown.firstRow; r <= grown.lastRow && !blocked; ++r)
          for (long c = grown.firstColumn; c <= grown.lastColumn && !blocked; ++c) blocked = occupied(r, c);
        if (blocked) break;
        band = grown;
        ++j;
      }
      std::vector<std::vector<std::string>> inputs(static_cast<std::size_t>(band.rows()),
                                                   std::vector<std::string>(static_cast<std::size_t>(band.columns())));
      for (long r = band.firstRow; r <= band.lastRow; ++r)
        for (long c = band.firstColumn; c <= band.lastColumn; ++c) {
          auto w = writes.find({r, c});
          if (w != writes.end()) inputs[r - band.firstRow][c - band.firstColumn] = w->second;
        }
      setBlock(band, inputs);
      i = j;
    }
  }

  Reference<css::sheet::XSpreadsheet> sheet_;
  std::string name_;
  Writes pending_;
};

// ---- workbooks ---------------------------------------------------------------------------

class CalcWorkbook : public spreadsheet::Workbook {
 public:
  explicit CalcWorkbook(Reference<css::lang::XComponent> document) : document_(std::move(document)) {}
  ~CalcWorkbook() override { close(); }

  std::string fileName() override {
    return Call("cannot read the workbook's name", [&] {
      rtl::OUString url = Reference<css::frame::XModel>(document_, UNO_QUERY_THROW)->getURL();
      if (url.isEmpty()) return std::string();
      rtl::OUString path;
      osl::FileBase::getSystemPathFromFileURL(url, path);
      return fs::path(Utf8(path)).filename().string();
    });
  }

  bool readOnly() override {
    return Call("cannot read the workbook's state",
                [&] { return bool(Reference<css::frame::XStorable>(document_, UNO_QUERY_THROW)->isReadonly()); });
  }

  std::vector<std::string> sheetNames() override {
    return Call("cannot list the workbook's sheets", [&] {
      std::vector<std::string> names;
      for (const auto& n : sheets()->getElementNames()) names.push_back(Utf8(n));
      return names;
    });
  }

  std::shared_ptr<spreadsheet::Sheet> sheet(long index) override {
    return Call("cannot open sheet " + std::to_string(index), [&] {
      Reference<css::container::XIndexAccess> byIndex(sheets(), UNO_QUERY_THROW);
      if (index < 1 || index > byIndex->getCount())
        throw Error(hr::kSubscript, kSource, "the workbook has no sheet " + std::to_string(index));
      Reference<css::sheet::XSpreadsheet> uno(byIndex->getByIndex(index - 1), UNO_QUERY_THROW);
      return wrap(uno, Utf8(Reference<css::container::XNamed>(uno, UNO_QUERY_THROW)->getName()));
    });
  }

  std::shared_ptr<spreadsheet::Sheet> sheet(const std::string& name) override {
    std::string actual = actualName(name);
    if (actual.empty()) return nullptr;
    return Call("cannot open the sheet '" + name + "'", [&] {
      return wrap(Reference<css::sheet::XSpreadsheet>(sheets()->getByName(U(actual)), UNO_QUERY_THROW), actual);
    });
  }

  std::shared_ptr<spreadsheet::Sheet> addSheet(const std::string& name) override {
    return Call("cannot add the sheet '" + name + "'", [&] {
      auto all = sheets();
      auto count = Reference<css::container::XIndexAccess>(all, UNO_QUERY_THROW)->getCount();
      all->insertNewByName(U(name), static_cast<sal_Int16>(count));
      return wrap(Reference<css::sheet::XSpreadsheet>(all->getByName(U(name)), UNO_QUERY_THROW), name);
    });
  }

  void removeSheet(const std::string& name) override {
    std::string actual = actualName(name);
    if (actual.empty()) throw Error(hr::kSubscript, kSource, "the workbook has no sheet '" + name + "'");
    Call("cannot remove the sheet '" + name + "'", [&] {
      for (auto it = wrappers_.begin(); it != wrappers_.end(); ++it)
        if (equalsIgnoreCase((*it)->name(), actual)) {
          (*it)->discard();
          wrappers_.erase(it);
          break;
        }
      sheets()->removeByName(U(actual));
    });
  }

  std::vector<spreadsheet::Property> properties() override {
    return Call("cannot read the workbook's custom properties", [&] {
      std::vector<spreadsheet::Property> out;
      Reference<css::beans::XPropertyAccess> access(userProperties(), UNO_QUERY_THROW);
      for (const auto& p : access->getPropertyValues()) {
        auto value = toVariant(p.Value);
        if (value) out.push_back(spreadsheet::Property{Utf8(p.Name), *value});
      }
      return out;
    });
  }

  void setProperty(const std::string& name, const Variant& value) override {
    Call("cannot set the custom property '" + name + "'", [&] {
      auto container = userProperties();
      Reference<css::beans::XPropertySet> set(container, UNO_QUERY_THROW);
      Any any = toAny(value);
      if (set->getPropertySetInfo()->hasPropertyByName(U(name))) {
        try {
          set->setPropertyValue(U(name), any);
          return;
        } catch (const css::lang::IllegalArgumentException&) {
          // A value of another type: the property is replaced below.
        }
        container->removeProperty(U(name));
      }
      container->addProperty(U(name), css::beans::PropertyAttribute::REMOVABLE, any);
    });
  }

  void save() override {
    flushAll();
    Call("cannot save the workbook", [&] { Reference<css::frame::XStorable>(document_, UNO_QUERY_THROW)->store(); });
  }

  void saveAs(const std::string& path) override {
    flushAll();
    std::string absolute = fs::absolute(path).lexically_normal().string();
    Call("cannot save the workbook as '" + path + "'", [&] {
      auto args = props({prop("FilterName", Any(filterFor(absolute))), prop("Overwrite", Any(true))});
      Reference<css::frame::XStorable>(document_, UNO_QUERY_THROW)->storeAsURL(fileUrl(absolute), args);
    });
  }

  void close() override {
    if (!document_.is()) return;
    for (auto& w : wrappers_) w->discard();
    wrappers_.clear();
    auto document = std::move(document_);
    document_.clear();
    try {
      Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
      if (closeable.is())
        closeable->close(true);
      else
        document->dispose();
    } catch (...) {
      // The engine has died or the document is gone already: nothing is left to close.
    }
    KeepExitLast();
  }

  bool closed() override { return !document_.is(); }

 private:
  Reference<css::sheet::XSpreadsheets> sheets() {
    if (!document_.is()) throw Error(hr::kObjectRequired, kSource, "the workbook is closed");
    return Reference<css::sheet::XSpreadsheetDocument>(document_, UNO_QUERY_THROW)->getSheets();
  }

  Reference<css::beans::XPropertyContainer> userProperties() {
    if (!document_.is()) throw Error(hr::kObjectRequired, kSource, "the workbook is closed");
    return Reference<css::document::XDocumentPropertiesSupplier>(document_, UNO_QUERY_THROW)
        ->getDocumentProperties()
        ->getUserDefinedProperties();
  }

  // The sheet's name as the workbook spells it, "" when there is none.
  std::string actualName(const std::string& name) {
    for (const auto& n : sheetNames())
      if (equalsIgnoreCase(n, name)) return n;
    return {};
  }

  std::shared_ptr<spreadsheet::Sheet> wrap(const Reference<css::sheet::XSpreadsheet>& uno, const std::string& name) {
    for (auto& w : wrappers_)
      if (equalsIgnoreCase(w->name(), name)) return w;
    wrappers_.push_back(std::make_shared<CalcSheet>(uno, name));
    return wrappers_.back();
  }

  void flushAll() {
    for (auto& w : wrappers_) w->flush();
  }

  Reference<css::lang::XComponent> document_;
  std::vector<std::shared_ptr<CalcSheet>> wrappers_;
};

std::shared_ptr<spreadsheet::Workbook> OpenWorkbook(const std::string& path, bool readOnly) {
  std::string absolute = fs::absolute(path).lexically_normal().string();
  std::error_code ec;
  if (!fs::is_regular_file(absolute, ec))
    throw Error(hr::kFileNotFound, kSource, "the workbook '" + path + "' does not exist");
  Remote remote = Connect();
  Reference<css::lang::XComponent> document;
  bool expired = false;
  try {
    Reference<css::task::XInteractionHandler> handler(new AbortingHandler());
    auto args = props({
        prop("Hidden", Any(true)),
        prop("ReadOnly", Any(readOnly)),
        prop("FilterName", Any(filterFor(absolute))),
        prop("AsTemplate", Any(false)),
        prop("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
        prop("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)),
        prop("InteractionHandler", Any(handler)),
    });
    WithDeadline(
        kLoadLimit, [&] { document = remote.desktop->loadComponentFromURL(fileUrl(absolute), U("_blank"), 0, args); },
        expired);
  } catch (const css::uno::Exception& e) {
    if (expired)
      throw Error(hr::kFail, kSource, "cannot open the workbook '" + path + "': the engine did not finish in time.");
    Raise("cannot open the workbook '" + path + "'", e);
  }
  if (!document.is()) throw Error(hr::kFail, kSource, "cannot open the workbook '" + path + "': not a workbook.");
  Reference<css::sheet::XSpreadsheetDocument> isSpreadsheet(document, UNO_QUERY);
  auto workbook = std::make_shared<CalcWorkbook>(document);
  if (!isSpreadsheet.is()) {
    workbook->close();
    throw Error(hr::kFail, kSource, "cannot open the workbook '" + path + "': not a workbook.");
  }
  return workbook;
}

std::shared_ptr<spreadsheet::Workbook> CreateWorkbook() {
  Remote remote = Connect();
  return Call("cannot create a workbook", [&] {
    auto args = props({prop("Hidden", Any(true))});
    Reference<css::lang::XComponent> document =
        remote.desktop->loadComponentFromURL(U("private:factory/scalc"), U("_blank"), 0, args);
    if (!document.is()) throw Error(hr::kFail, kSource, "cannot create a workbook.");
    return std::static_pointer_cast<spreadsheet::Workbook>(std::make_shared<CalcWorkbook>(document));
  });
}

}  // namespace quillon::calc
