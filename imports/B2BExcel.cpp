#include "imports/B2BExcel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <regex>

#include "document/FileHandling.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "platform/FileStore.h"
#include "platform/Spreadsheet.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"

namespace quillon {

using General::Guarded;
using spreadsheet::Sheet;

namespace {

constexpr const char* kTempSheet = "Z2IZezaza";
constexpr const char* kRoot = "B2BEXCEL";
constexpr const char* kReadOnlyMessage = "Cannot acces read-only documents for update or append mode";

// Custom properties that carry routing data, and the element each becomes.
const std::vector<std::pair<std::string, std::string>>& routingProperties() {
  static const std::vector<std::pair<std::string, std::string>> table = {
      {"B2B-DOCTYPE-ID", "DOCTYPE-ID"}, {"B2B-SENDER", "SENDER"},
      {"B2B-CONTACT", "CONTACT"},       {"B2B-SHOW", "SHOW"},
      {"B2B-RECEIVER", "RECEIVER"},     {"B2B-BUSINESSPARTNER", "BUSINESSPARTNER"},
      {"B2B-BUS-PART-C", "BUS-PART-C"}, {"B2B-BUS-PART-S", "BUS-PART-S"},
  };
  return table;
}

std::string source(const char* step) { return std::string("Quillon.B2BExcel.") + step; }

// The local file a workbook path names: network paths ("\\server\share\…")
// resolve below the site's share root, local ones get "/" separators.
std::string localFile(const std::string& path) { return FileStore().ResolvePath(path); }

std::string lowerExtension(const std::string& path) { return text::LCase(FileHandling().GetFileExtension(path)); }

bool isDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isLetters(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

// A whole row number from digits; 0 when it does not fit a sheet.
long rowNumber(const std::string& digits) {
  if (!isDigits(digits) || digits.size() > 9) return 0;
  return std::stol(digits);
}

bool toNumber(const std::string& s, double& out) {
  if (!text::IsNumeric(s)) return false;
  try {
    out = Variant(text::Trim(s)).toDouble();
    return true;
  } catch (...) {
    return false;
  }
}

// Whether a cell's text compares with the search value by the operator:
// "<" and ">" numerically (both sides must be numbers), "=" as trimmed text.
bool compares(const std::string& cell, EExcelSearchOptions op, const std::string& value) {
  if (op == EExcelSearchOptions::Equals) return text::Trim(cell) == text::Trim(value);
  double a = 0, b = 0;
  if (!toNumber(cell, a) || !toNumber(value, b)) return false;
  return op == EExcelSearchOptions::GREATERTHAN ? a > b : a < b;
}

// A date in the forms the component writes ("YYYY-MM-DD[ hh:mm[:ss]]")
// or the en-US form "M/D/YYYY".
bool toDate(const std::string& s, double& out) {
  if (parseOleDate(s, out)) return true;
  static const std::regex us(R"(^ *([0-9]{1,2})/([0-9]{1,2})/([0-9]{4}) *$)");
  std::smatch m;
  if (!std::regex_match(s, m, us)) return false;
  int month = std::stoi(m[1]), day = std::stoi(m[2]), year = std::stoi(m[3]);
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  out = oleDateFromParts(year, month, day);
  int y, mo, d, h, mi, se;
  oleDateToParts(out, y, mo, d, h, mi, se);
  return y == year && mo == month && d == day;
}

EMsoDocProperties msoType(spreadsheet::PropertyType t) {
  switch (t) {
    case spreadsheet::PropertyType::Number: return EMsoDocProperties::EMsoPropertyTypeNumber;
    case spreadsheet::PropertyType::Boolean: return EMsoDocProperties::EMsoPropertyTypeBoolean;
    case spreadsheet::PropertyType::Date: return EMsoDocProperties::EMsoPropertyTypeDate;
    case spreadsheet::PropertyType::Text: break;
  }
  return EMsoDocProperties::EMsoPropertyTypeString;
}

std::string invalidAddressText(const std::string& position) {
  return I18N::LabelWith("SLBSH4529", {{"[%ADDRESS%]", position}});
}

}  // namespace

// ---- workbook to XML ---------------------------------------------------------------------

void B2BExcel::OpenWorkBook(const std::string& path, WorkbookPtr& book, bool readOnly) {
  Guarded(source("OpenWorkBook"), [&] {
    std::string ext = lowerExtension(path);
    if (ext != "xls" && ext != "xlt") throw Error(NotAnExcelFile, source("OpenWorkBook"), I18N::GetLabel("SLBSH4525"));
    try {
      book = spreadsheet::Open(localFile(path), readOnly);
    } catch (const Error& e) {
      // A file that is there but does not open as a workbook (corrupt,
      // protected, something else) is "not an Excel file".
      if (e.number() != hr::kFail) throw;
      throw Error(NotAnExcelFile, source("OpenWorkBook"), I18N::GetLabel("SLBSH4525") + " " + e.description());
    }
    if (book->readOnly() != readOnly) {
      auto reps = PublicationErrorHandling::NewReplacementsDocument();
      PublicationErrorHandling::AddReplacement(reps, "[%FILELOCATION%]", path);
      PublicationErrorHandling::LogPublicationError(docID_, InsertExcelError,
                                                    I18N::LabelWith("SLBSH4535", {{"[%FILELOCATION%]", path}}),
                                                    source("OpenWorkBook"), "SLBSH4535", reps);
      book->close();
      book.reset();
      throw Error(InsertExcelError, source("OpenWorkBook"), kReadOnlyMessage);
    }
  });
}

void B2BExcel::TransformExcelToXML(const std::string& i_sExcelFileLocation, std::shared_ptr<DomDocument>& o_oXml) {
  const std::string method = source("TransformExcelToXML");
  WorkbookPtr book;
  try {
    if (!o_oXml) o_oXml = std::make_shared<DomDocument>();
    OpenWorkBook(i_sExcelFileLocation, book, true);
  } catch (...) {
    if (book) book->close();
    General::ReRaiseError(method);
    throw;
  }
  try {
    GetWorkBookNameFromExcel(book, o_oXml);
    GetCustomerPropertiesFromExcel(book, o_oXml);
    GetValuesFromWorkBook(book, o_oXml);
    CloseWorkBook(book);
  } catch (...) {
    if (book) book->close();
    General::ReRaiseError(method + ".ContentError");
    throw;
  }
}

void B2BExcel::GetWorkBookNameFromExcel(const WorkbookPtr& book, const std::shared_ptr<DomDocument>& dom) {
  Guarded(source("GetWorkBookNameFromExcel"), [&] {
    std::string name = book->fileName();
    // A leading "~" is the folder import's mark of a claimed file.
    if (!name.empty() && name[0] == '~') name.erase(0, 1);
    CreateXMLElement(kRoot, kRoot, dom, "", {{"WorkBook", name}});
  });
}

void B2BExcel::CreateXMLElement(const std::string& parentName, const std::string& name,
                                const std::shared_ptr<DomDocument>& dom, const std::string& text,
                                const std::vector<std::pair<std::string, std::string>>& attributes) {
  Guarded(source("CreateXMLElement"), [&] {
    auto element = dom->createElement(name);
    if (!text.empty()) element->setText(text);
    for (const auto& [attribute, value] : attributes)
      if (!value.empty()) element->setAttribute(attribute, value);
    auto root = dom->documentElement();
    if (!root) {
      dom->setDocumentElement(element);
      return;
    }
    if (root->nodeName() == parentName) {
      root->appendChild(element);
      return;
    }
    // Under the root's last child: cells go into the latest worksheet.
    auto children = root->childNodes();
    auto last = children->length() > 0 ? children->item(children->length() - 1) : nullptr;
    (last ? last : root)->appendChild(element);
  });
}

void B2BExcel::GetCustomerPropertiesFromExcel(const WorkbookPtr& book, const std::shared_ptr<DomDocument>& dom) {
  Guarded(source("GetCustomerPropertiesFromExcel"), [&] {
    for (const auto& property : book->properties()) {
      if (property.name == "B2B-USESDISTLIST") {
        bool on = false;
        try {
          on = property.value.toBool();
        } catch (...) {
          on = false;  // a value that is no truth value does not switch the list on
        }
        if (on) CreateXMLElement(kRoot, "USESDISTLIST", dom, "1");
        continue;
      }
      for (const auto& [propertyName, element] : routingProperties()) {
        if (property.name != propertyName) continue;
        for (const auto& part : text::Split(property.value.text(), ";")) CreateXMLElement(kRoot, element, dom, part);
      }
    }
  });
}

void B2BExcel::GetColumnAndRowFromCellAddress(const std::string& address, std::string& column, long& row) {
  Guarded(source("GetColumnAndRowFromCellAddress"), [&] {
    // "$B$12": the column between the first two "$", the row after the second.
    auto parts = text::Split(address, "$");
    if (parts.size() != 3) throw Error(InValidExcelAddress, source("GetColumnAndRowFromCellAddress"), invalidAddressText(address));
    column = parts[1];
    row = rowNumber(parts[2]);
  });
}

void B2BExcel::GetValuesFromWorkBook(const WorkbookPtr& book, const std::shared_ptr<DomDocument>& dom) {
  Guarded(source("GetValuesFromWorkBook"), [&] {
    for (const auto& sheetName : book->sheetNames()) {
      CreateXMLElement(kRoot, "WorkSheet", dom, "", {{"Name", sheetName}});
      auto sheet = book->sheet(sheetName);
      spreadsheet::Area area = sheet->usedArea();
      if (area.empty()) continue;
      auto cells = sheet->read(area);
      std::size_t i = 0;
      for (long r = area.firstRow; r <= area.lastRow; ++r) {
        for (long c = area.firstColumn; c <= area.lastColumn; ++c) {
          const spreadsheet::Cell& cell = cells[i++];
          std::string value = cell.valueText();
          if (text::Trim(value).empty()) continue;
          std::string column;
          long row = 0;
          GetColumnAndRowFromCellAddress("$" + spreadsheet::ColumnLetters(c) + "$" + std::to_string(r), column, row);
          CreateXMLElement("WorkSheet", "Cell", dom, value,
                           {{"Row", std::to_string(row)}, {"Column", column}, {"Formula", cell.formula}});
        }
      }
    }
  });
}

void B2BExcel::CloseWorkBook(WorkbookPtr& i_oExcelBook) {
  Guarded(source("CloseWorkBook"), [&] {
    if (i_oExcelBook) i_oExcelBook->close();
    i_oExcelBook.reset();
  });
}

// ---- XML to workbook ---------------------------------------------------------------------

WorkbookPtr B2BExcel::TransformXMLToExcel(const std::string& i_sXml, EWriteMode i_nWriteMode, std::int32_t i_lDocID,
                                          bool i_bTemplateUsed, const std::string& i_sFilePath,
                                          const std::string& i_sFilePathDest) {
  return Guarded(source("TransformXMLToExcel"), [&] {
    const std::string method = source("TransformXMLToExcel");
    docID_ = i_lDocID;
    templateUsed_ = i_bTemplateUsed;
    // A block's row belongs to one conversion: a row remembered from an
    // earlier workbook would overwrite data in this one.
    nextFreeRow_ = 0;
    lastBlock_ = -1;
    auto dom = std::make_shared<DomDocument>();
    if (!dom->loadXML(i_sXml)) {
      const ParseError& e = dom->parseError();
      throw Error(e.errorCode != 0 ? e.errorCode : XMLLoadError, "MSXML.DOMDocument",
                  e.reason + " DocumentID: " + std::to_string(i_lDocID));
    }
    input_ = dom;
    WorkbookPtr book;
    try {
      switch (i_nWriteMode) {
        case EWriteMode::Append:
          if (text::Trim(i_sFilePath).empty()) throw Error(MissingFileLocation, method, I18N::GetLabel("SLBSH4526"));
          AppendWorkBook(i_sFilePath, dom, book);
          break;
        case EWriteMode::Update:
          if (text::Trim(i_sFilePath).empty()) throw Error(MissingFileLocation, method, I18N::GetLabel("SLBSH4526"));
          UpdateWorkBook(i_sFilePath, i_sFilePathDest, dom, book);
          break;
        case EWriteMode::Create:
          if (!i_bTemplateUsed) {
            CreateWorkBook(dom, book);
          } else {
            if (text::Trim(i_sFilePath).empty() && text::Trim(i_sFilePathDest).empty())
              throw Error(MissingFileLocation, method, I18N::GetLabel("SLBSH4526"));
            if (lowerExtension(i_sFilePath) != "xlt") {
              // A workbook used as a template: a copy is filled in place.
              FileHandling().CopyFile(i_sFilePath, i_sFilePathDest, true);
              UpdateWorkBook(i_sFilePathDest, "", dom, book);
            } else {
              UpdateWorkBook(i_sFilePath, i_sFilePathDest, dom, book);
            }
          }
          break;
        default:
          throw Error(InvalidParamValue, method, "Unknown write mode " + std::to_string(value(i_nWriteMode)) + ".");
      }
    } catch (...) {
      if (book) book->close();
      input_.reset();
      throw;
    }
    input_.reset();
    return book;
  });
}

void B2BExcel::AppendWorkBook(const std::string& path, const std::shared_ptr<DomDocument>& dom, WorkbookPtr& book) {
  Guarded(source("AppendWorkBook"), [&] {
    OpenWorkBook(path, book, false);
    SetCustomerPropertiesFromXml(dom, book);
    FillWorkBook(dom, book, EWriteMode::Append);
  });
}

void B2BExcel::UpdateWorkBook(const std::string& path, const std::string& destPath,
                              const std::shared_ptr<DomDocument>& dom, WorkbookPtr& book) {
  Guarded(source("UpdateWorkBook"), [&] {
    OpenWorkBook(path, book, false);
    SetCustomerPropertiesFromXml(dom, book);
    FillWorkBook(dom, book, EWriteMode::Update);
    // A template itself stays as it is: the filled copy goes to the destination.
    if (lowerExtension(path) == "xlt")
      book->saveAs(localFile(destPath));
    else
      book->save();
  });
}

void B2BExcel::CreateWorkBook(const std::shared_ptr<DomDocument>& dom, WorkbookPtr& book) {
  Guarded(source("CreateWorkBook"), [&] {
    book = spreadsheet::Create();
    SetCustomerPropertiesFromXml(dom, book);
    std::string original = GetOriginalFileNameFromXml(dom);
    if (!text::Trim(original).empty()) SetOriginalFileNameInExcel(book, original);
    FillWorkBook(dom, book, EWriteMode::Create);
  });
}

void B2BExcel::SetCustomerPropertiesFromXml(const std::shared_ptr<DomDocument>& dom, WorkbookPtr& book) {
  Guarded(source("SetCustomerPropertiesFromXml"), [&] {
    auto nodes = Utility().ExecuteXSLPatternReturnAllNodes(dom, "//*[@B2BPROPLABEL and @B2BPROPVALUE and @B2BPROPTYPE]");
    if (!nodes) return;
    for (const auto& node : nodes->nodes())
      SetCustomerPropertyInExcel(book, node->getAttribute("B2BPROPLABEL"), Variant(node->getAttribute("B2BPROPVALUE")),
                                 node->getAttribute("B2BPROPTYPE"));
  });
}

std::string B2BExcel::GetOriginalFileNameFromXml(const std::shared_ptr<DomDocument>& dom) {
  return Guarded(source("GetOriginalFileNameFromXml"), [&] {
    auto node = dom->selectSingleNode("//*[@B2BORIGINALFILENAME]");
    return node ? node->getAttribute("B2BORIGINALFILENAME") : std::string();
  });
}

void B2BExcel::SetOriginalFileNameInExcel(WorkbookPtr& book, const std::string& name) {
  Guarded(source("SetOriginalFileNameInExcel"),
          [&] { SetCustomerPropertyInExcel(book, "B2B-ORIGINALNAME", Variant(name), "Text"); });
}

void B2BExcel::FillWorkBook(const std::shared_ptr<DomDocument>& dom, const WorkbookPtr& book, EWriteMode mode) {
  if (mode == EWriteMode::Create) DeleteDefaultSheets(book);
  auto nodes = Utility().ExecuteXSLPatternReturnAllNodes(dom, "//*[@B2BWORKSHEET]");
  if (nodes) {
    for (const auto& node : nodes->nodes()) {
      auto sheet = ProcessSheetName(book, node->getAttribute("B2BWORKSHEET"));
      long lastRow = mode == EWriteMode::Append ? GetLastRowFromWorkSheet(*sheet) : 0;
      ProcessNode(node, *sheet, mode, lastRow);
    }
  }
  if (mode == EWriteMode::Create) DeleteTempSheet(book);
}

void B2BExcel::DeleteDefaultSheets(const WorkbookPtr& book) {
  Guarded(source("DeleteDefaultSheets"), [&] {
    auto names = book->sheetNames();
    book->sheet(1)->setName(kTempSheet);
    for (std::size_t i = 1; i < names.size(); ++i) book->removeSheet(names[i]);
  });
}

void B2BExcel::DeleteTempSheet(const WorkbookPtr& book) {
  Guarded(source("DeleteTempSheet"), [&] {
    if (!IsPresentSheetName(book, kTempSheet)) return;
    // A workbook needs one sheet: when nothing was placed, the temporary
    // sheet stays as an empty "Sheet1" instead.
    if (book->sheetNames().size() == 1)
      book->sheet(kTempSheet)->setName("Sheet1");
    else
      book->removeSheet(kTempSheet);
  });
}

bool B2BExcel::IsPresentSheetName(const WorkbookPtr& book, const std::string& name) {
  return Guarded(source("IsPresentSheetName"), [&] { return book->sheet(name) != nullptr; });
}

std::shared_ptr<Sheet> B2BExcel::ProcessSheetName(const WorkbookPtr& book, const std::string& name) {
  return Guarded(source("ProcessSheetName"), [&] {
    return IsPresentSheetName(book, name) ? book->sheet(name) : book->addSheet(name);
  });
}

long B2BExcel::GetLastRowFromWorkSheet(Sheet& sheet) {
  // The last row with content, so that appended rows never land on one
  // that is in use, also when the sheet's first rows are empty.
  return Guarded(source("GetLastRowFromWorkSheet"), [&] {
    spreadsheet::Area area = sheet.usedArea();
    return area.empty() ? 0L : area.lastRow;
  });
}

B2BExcel::Placement B2BExcel::GetB2BAttibutesFromXml(const std::shared_ptr<DomNode>& node) {
  return Guarded(source("GetB2BAttibutesFromXml"), [&] {
    Placement p;
    p.labelPos = node->getAttribute("B2BLABELPOS");
    p.label = node->hasAttribute("B2BLABEL") ? node->getAttribute("B2BLABEL") : node->nodeName();
    p.valuePos = node->getAttribute("B2BVALUEPOS");
    if (node->hasAttribute("B2BVALUE")) {
      p.value = node->getAttribute("B2BVALUE");
    } else {
      std::string content = node->text();
      if (!text::Trim(content).empty()) p.value = content;
    }
    std::string block = text::Trim(node->getAttribute("B2BBLOCK"));
    double number = 0;
    if (toNumber(block, number) && number >= 1 && number < 2e9) p.block = static_cast<long>(number);
    return p;
  });
}

void B2BExcel::ProcessNode(const std::shared_ptr<DomNode>& node, Sheet& sheet, EWriteMode mode, long lastRow) {
  Guarded(source("ProcessNode"), [&] {
    Placement p = GetB2BAttibutesFromXml(node);
    if (!text::Trim(p.labelPos).empty()) {
      Position at = GetAbsoluteCellPosition(p.labelPos, sheet, mode, lastRow, p.block);
      if (at.row > 0 && !at.column.empty()) InsertCellInWorkBook(sheet, at, p.label);
    }
    if (!text::Trim(p.valuePos).empty() && !p.value.empty()) {
      Position at = GetAbsoluteCellPosition(p.valuePos, sheet, mode, lastRow, p.block);
      if (at.row > 0 && !at.column.empty()) InsertCellInWorkBook(sheet, at, p.value);
    }
    auto children = node->childNodes();
    for (const auto& child : children->nodes()) {
      if (child->nodeType() != DomNodeType::Element || child->hasAttribute("B2BWORKSHEET")) continue;
      ProcessNode(child, sheet, mode, lastRow);
    }
  });
}

// ---- positions ---------------------------------------------------------------------------

B2BExcel::Position B2BExcel::GetAbsoluteCellPosition(const std::string& position, Sheet& sheet, EWriteMode mode,
                                                     long lastRow, long block) {
  return Guarded(
      source("GetAbsoluteCellPosition"),
      [&] { return I18N::LabelWith("SLBSH4532", {{"[%SHEET%]", sheet.name()}, {"[%ADDRESS%]", position}}); },
      [&] {
        const std::string method = source("GetAbsoluteCellPosition");
        const bool blockRows = mode == EWriteMode::Update && !templateUsed_;
        Position result;
        if (blockRows) result = Position{1, "A"};
        for (const auto& part : text::Split(position, "|")) {
          auto conditions = text::Split(part, "AND");
          Search first = GetSearchValues(conditions[0], position);
          std::vector<Search> more;
          for (std::size_t i = 1; i < conditions.size(); ++i) more.push_back(GetSearchValues(conditions[i], position));
          Position found;
          if (first.kind == Search::Row) {
            found.row = first.row;
          } else if (first.kind == Search::Reference) {
            TranslateCellPositionIntoRowAndColumn(text::Trim(conditions[0]), found.column, found.row);
          } else if (first.fromPattern && first.value.empty()) {
            // Nothing to search for: the element is not placed at all, also
            // when later parts name a column (it would land on the start
            // row, over whatever is there).
            return Position{};
          } else {
            bool byRow = isDigits(first.key);
            long hit = byRow ? SearchRowByArgument(sheet, first, more) : SearchColumnByArgument(sheet, first, more);
            if (hit > 0 && byRow) {
              found = Position{rowNumber(first.key), spreadsheet::ColumnLetters(hit)};
            } else if (hit > 0) {
              found = Position{hit, text::UCase(first.key)};
            } else if (blockRows && block >= 1) {
              found = Position{NextFreeRow(sheet, block), byRow ? std::string() : text::UCase(first.key)};
            } else {
              throw Error(InValidExcelAddress, method, invalidAddressText(position));
            }
          }
          if (found.row <= 0 && found.column.empty()) throw Error(InValidExcelAddress, method, invalidAddressText(position));
          if (found.row > 0) result.row = found.row;
          if (!found.column.empty()) result.column = found.column;
        }
        result.row += lastRow;
        return result;
      });
}

B2BExcel::Search B2BExcel::GetSearchValues(const std::string& condition, const std::string& position) {
  return Guarded(source("GetSearchValues"), [&] {
    Search s;
    std::string c = text::Trim(condition);
    if (isDigits(c)) {
      s.kind = Search::Row;
      s.row = rowNumber(c);
      if (s.row > 0) return s;
    }
    std::size_t at = c.find_first_of("><=");
    if (at == std::string::npos) {
      static const std::regex reference(R"(^[A-Za-z]{1,3}[0-9]*$)");
      if (!std::regex_match(c, reference))
        throw Error(InValidExcelAddress, source("GetSearchValues"), invalidAddressText(position));
      s.kind = Search::Reference;
      return s;
    }
    s.kind = Search::Compare;
    s.key = text::Trim(c.substr(0, at));
    s.op = c[at] == '>' ? EExcelSearchOptions::GREATERTHAN
           : c[at] == '<' ? EExcelSearchOptions::LessThan
                          : EExcelSearchOptions::Equals;
    s.value = text::Trim(c.substr(at + 1));
    if (!(isDigits(s.key) && rowNumber(s.key) > 0) && !(isLetters(s.key) && spreadsheet::ColumnNumber(s.key) > 0))
      throw Error(InValidExcelAddress, source("GetSearchValues"), invalidAddressText(position));
    if (!s.value.empty() && s.value.back() == '?') {
      // The search value is taken from the XML being written.
      s.fromPattern = true;
      s.value = Utility().ExecuteXSLPattern(input_, s.value.substr(0, s.value.size() - 1));
    }
    return s;
  });
}

void B2BExcel::TranslateCellPositionIntoRowAndColumn(const std::string& reference, std::string& column, long& row) {
  Guarded(source("TranslateCellPositionIntoRowAndColumn"), [&] {
    std::size_t digits = reference.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(reference[digits - 1]))) --digits;
    column = text::UCase(reference.substr(0, digits));
    row = digits < reference.size() ? rowNumber(reference.substr(digits)) : 0;
  });
}

long B2BExcel::SearchColumnByArgument(Sheet& sheet, const Search& first, const std::vector<Search>& more) {
  return Guarded(source("SearchColumnByArgument"), [&] {
    spreadsheet::Area used = sheet.usedArea();
    if (used.empty()) return 0L;
    long keyColumn = spreadsheet::ColumnNumber(first.key);
    long low = keyColumn, high = keyColumn;
    for (const auto& m : more) {
      long c = spreadsheet::ColumnNumber(m.key);
      if (m.kind != Search::Compare || c <= 0)
        throw Error(InValidExcelAddress, source("SearchColumnByArgument"), invalidAddressText(m.key));
      low = std::min(low, c);
      high = std::max(high, c);
    }
    // One read of rows 1 to the last used row, over the columns the
    // conditions name.
    spreadsheet::Area block{1, low, used.lastRow, high};
    auto cells = sheet.read(block);
    auto cellText = [&](long row, long column) {
      return cells[static_cast<std::size_t>((row - 1) * block.columns() + (column - low))].valueText();
    };
    for (long row = 1; row <= used.lastRow; ++row) {
      std::string value = cellText(row, keyColumn);
      if (text::Trim(value).empty() || !compares(value, first.op, first.value)) continue;
      if (CheckAndConditionForColumn(more, [&](long column) { return cellText(row, column); })) return row;
    }
    return 0L;
  });
}

long B2BExcel::SearchRowByArgument(Sheet& sheet, const Search& first, const std::vector<Search>& more) {
  return Guarded(source("SearchRowByArgument"), [&] {
    spreadsheet::Area used = sheet.usedArea();
    if (used.empty()) return 0L;
    long keyRow = rowNumber(first.key);
    long low = keyRow, high = keyRow;
    for (const auto& m : more) {
      long r = rowNumber(m.key);
      if (m.kind != Search::Compare || r <= 0)
        throw Error(InValidExcelAddress, source("SearchRowByArgument"), invalidAddressText(m.key));
      low = std::min(low, r);
      high = std::max(high, r);
    }
    spreadsheet::Area block{low, 1, high, used.lastColumn};
    auto cells = sheet.read(block);
    auto cellText = [&](long row, long column) {
      return cells[static_cast<std::size_t>((row - low) * block.columns() + (column - 1))].valueText();
    };
    for (long column = 1; column <= used.lastColumn; ++column) {
      std::string value = cellText(keyRow, column);
      if (text::Trim(value).empty() || !compares(value, first.op, first.value)) continue;
      if (CheckAndConditionForRow(more, [&](long row) { return cellText(row, column); })) return column;
    }
    return 0L;
  });
}

bool B2BExcel::CheckAndConditionForColumn(const std::vector<Search>& more,
                                          const std::function<std::string(long)>& cellInColumn) {
  return Guarded(source("CheckAndConditionForColumn"), [&] {
    for (const auto& m : more)
      if (!compares(cellInColumn(spreadsheet::ColumnNumber(m.key)), m.op, m.value)) return false;
    return true;
  });
}

bool B2BExcel::CheckAndConditionForRow(const std::vector<Search>& more, const std::function<std::string(long)>& cellInRow) {
  return Guarded(source("CheckAndConditionForRow"), [&] {
    for (const auto& m : more)
      if (!compares(cellInRow(rowNumber(m.key)), m.op, m.value)) return false;
    return true;
  });
}

long B2BExcel::NextFreeRow(Sheet& sheet, long block) {
  if (block != lastBlock_) {
    spreadsheet::Area used = sheet.usedArea();
    nextFreeRow_ = (used.empty() ? 0 : used.lastRow) + 1;
    lastBlock_ = block;
  }
  return nextFreeRow_;
}

void B2BExcel::InsertCellInWorkBook(Sheet& sheet, const Position& at, const std::string& value) {
  try {
    sheet.write(at.row, spreadsheet::ColumnNumber(at.column), value);
  } catch (...) {
    std::string description = I18N::LabelWith("SLBSH4530", {{"[%SHEET%]", sheet.name()},
                                                             {"[%COLUMN%]", at.column},
                                                             {"[%ROW%]", std::to_string(at.row)},
                                                             {"[%VALUE%]", value}});
    ErrorInfo cause = ErrorInfo::current();
    General::LogError(source("InsertCellInWorkBook"), cause.description);
    throw Error(InsertExcelError, source("InsertCellInWorkBook"), description);
  }
}

// ---- saving and custom properties --------------------------------------------------------

void B2BExcel::WriteExcelObjectToFile(WorkbookPtr& i_oExcelWorkBook, const std::string& i_sFileLocation,
                                      bool i_bCloseWorkBook) {
  Guarded(source("WriteExcelObjectToFile"), [&] {
    if (!i_oExcelWorkBook) throw Error(hr::kObjectRequired, source("WriteExcelObjectToFile"), "Object required: the workbook");
    i_oExcelWorkBook->saveAs(localFile(i_sFileLocation));
    if (i_bCloseWorkBook) CloseWorkBook(i_oExcelWorkBook);
  });
}

void B2BExcel::ReportPropertyError(const std::string& label, const std::string& description,
                                   const std::vector<std::pair<std::string, std::string>>& replacements) {
  const std::string method = source("SetCustomerPropertyInExcel");
  auto reps = PublicationErrorHandling::NewReplacementsDocument();
  for (const auto& [name, value] : replacements) PublicationErrorHandling::AddReplacement(reps, name, value);
  std::int32_t id = PublicationErrorHandling::LogPublicationError(docID_, InsertExcelError, description, method, label, reps);
  // Without a stored document there is no publication error to show:
  // the log keeps the trace instead.
  if (id == 0) General::LogError(method, description);
}

void B2BExcel::SetCustomerPropertyInExcel(WorkbookPtr& i_uExcelBook, const std::string& i_sPropertyName,
                                          const Variant& i_vPropertyValue, const std::string& i_sPropertyType) {
  Guarded(source("SetCustomerPropertyInExcel"), [&] {
    if (!i_uExcelBook)
      throw Error(hr::kObjectRequired, source("SetCustomerPropertyInExcel"), "Object required: the workbook");
    const std::string type = text::LCase(text::Trim(i_sPropertyType));
    auto misfit = [&] {
      ReportPropertyError("SLBSH4533",
                          I18N::LabelWith("SLBSH4533", {{"[%PROPERTY%]", i_sPropertyName}, {"[%PROPERTYTYPE%]", i_sPropertyType}}),
                          {{"[%PROPERTY%]", i_sPropertyName}, {"[%PROPERTYTYPE%]", i_sPropertyType}});
    };
    Variant value;
    spreadsheet::PropertyType wanted = spreadsheet::PropertyType::Text;
    const std::string given = i_vPropertyValue.isNull() ? std::string() : i_vPropertyValue.text();
    if (type == "text") {
      value = Variant(given);
    } else if (type == "number") {
      double n = 0;
      if (!i_vPropertyValue.isNumeric() && !toNumber(given, n)) return misfit();
      if (i_vPropertyValue.isNumeric()) n = i_vPropertyValue.toDouble();
      value = (std::floor(n) == n && std::fabs(n) < 2147483647.0) ? Variant(static_cast<int>(n)) : Variant(n);
      wanted = spreadsheet::PropertyType::Number;
    } else if (type == "date") {
      double d = 0;
      if (i_vPropertyValue.type() == VarType::Date)
        d = i_vPropertyValue.toDate();
      else if (!toDate(given, d))
        return misfit();
      value = Variant::date(d);
      wanted = spreadsheet::PropertyType::Date;
    } else if (type == "boolean") {
      std::string b = text::LCase(text::Trim(given));
      if (i_vPropertyValue.type() == VarType::Boolean)
        value = Variant(i_vPropertyValue.toBool());
      else if (b == "yes" || b == "true")
        value = Variant(true);
      else if (b == "no" || b == "false")
        value = Variant(false);
      else
        return misfit();
      wanted = spreadsheet::PropertyType::Boolean;
    } else {
      return misfit();
    }
    for (const auto& existing : i_uExcelBook->properties()) {
      if (!equalsIgnoreCase(existing.name, i_sPropertyName)) continue;
      if (existing.type() == wanted) {
        i_uExcelBook->setProperty(existing.name, value);
        return;
      }
      std::string excelType = std::to_string(quillon::value(msoType(existing.type())));
      std::vector<std::pair<std::string, std::string>> reps = {{"[%PROPERTY%]", i_sPropertyName},
                                                               {"[%PROPERTYTYPE%]", i_sPropertyType},
                                                               {"[%EXCELPROPERTYTYPE%]", excelType},
                                                               {"[%EXCELPROPERTYNAME%]", existing.name}};
      ReportPropertyError("SLBSH4534",
                          I18N::LabelWith("SLBSH4534", {{"[%PROPERTY%]", i_sPropertyName},
                                                        {"[%PROPERTYTYPE%]", i_sPropertyType},
                                                        {"[%EXCELPROPERTYTYPE%]", excelType},
                                                        {"[%EXCELPROPERTYNAME%]", existing.name}}),
                          reps);
      return;
    }
    i_uExcelBook->setProperty(i_sPropertyName, value);
  });
}

Variant B2BExcel::GetCustomerPropertyFromExcel(WorkbookPtr& i_uExcelBook, const std::string& i_sPropertyName) {
  return Guarded(source("GetCustomerPropertyFromExcel"), [&] {
    if (!i_uExcelBook)
      throw Error(hr::kObjectRequired, source("GetCustomerPropertyFromExcel"), "Object required: the workbook");
    for (const auto& p : i_uExcelBook->properties())
      if (equalsIgnoreCase(p.name, i_sPropertyName)) return p.value;
    return Variant();
  });
}

// ---- by-name registration ----------------------------------------------------------------

const ClassInfo* B2BExcel::classInfo() const {
  using X = B2BExcel;
  static const ClassInfo* info =
      ClassBuilder<X>("Quillon.B2BExcel")
          .bind<&X::TransformExcelToXML>("TransformExcelToXML", {"i_sExcelFileLocation", optRef("o_oXml", Variant())})
          .bind<&X::CloseWorkBook>("CloseWorkBook", {"i_oExcelBook"})
          .bind<&X::TransformXMLToExcel>("TransformXMLToExcel",
                                         {"i_sXml", "i_nWriteMode", "i_lDocID", "i_bTemplateUsed",
                                          opt("i_sFilePath", Variant("")), opt("i_sFilePathDest", Variant(""))})
          .bind<&X::WriteExcelObjectToFile>("WriteExcelObjectToFile",
                                            {"i_oExcelWorkBook", "i_sFileLocation", "i_bCloseWorkBook"})
          .bind<&X::SetCustomerPropertyInExcel>("SetCustomerPropertyInExcel",
                                                {"i_uExcelBook", "i_sPropertyName", "i_vPropertyValue", "i_sPropertyType"})
          .bind<&X::GetCustomerPropertyFromExcel>("GetCustomerPropertyFromExcel", {"i_uExcelBook", "i_sPropertyName"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (B2BExcel().classInfo(), true);
}

}  // namespace quillon
