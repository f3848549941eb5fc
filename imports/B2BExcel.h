// B2BExcel: converts between spreadsheet workbooks (".xls", ".xlt") and XML.
//
// Workbook to XML (TransformExcelToXML): every non-blank cell of every
// sheet and the routing properties of the workbook become
//   <B2BEXCEL WorkBook="name.xls">
//     <RECEIVER>4711</RECEIVER>…                 (custom properties)
//     <WorkSheet Name="Sheet1">
//       <Cell Row="1" Column="A">Order</Cell>
//       <Cell Row="2" Column="B" Formula="=SUM(B1,B3)">12</Cell>…
// The routing properties "B2B-DOCTYPE-ID", "B2B-SENDER", "B2B-CONTACT",
// "B2B-SHOW", "B2B-RECEIVER", "B2B-BUSINESSPARTNER", "B2B-BUS-PART-C" and
// "B2B-BUS-PART-S" give one element per ";"-separated part (without the
// "B2B-" prefix); "B2B-USESDISTLIST" gives <USESDISTLIST>1</USESDISTLIST>
// when true. Properties come in the engine's order (by name).
//
// XML to workbook (TransformXMLToExcel): elements carry placement
// attributes. B2BWORKSHEET picks the sheet for the element and its
// descendants; B2BLABELPOS/B2BLABEL and B2BVALUEPOS/B2BVALUE place a label
// (default: the element's name) and a value (default: the element's text);
// B2BBLOCK groups elements that fill one new row in update mode;
// B2BPROPLABEL/B2BPROPVALUE/B2BPROPTYPE set a custom property and
// B2BORIGINALFILENAME names the original file ("B2B-ORIGINALNAME").
//
// A position is parts separated by "|", resolved in order, each giving a
// row, a column or both (later parts win): "3" (row), "B" or "B12" (cell),
// or a search "KEY op VALUE" with op ">", "<" or "=": a column key ("A=4711")
// walks down that column, a row key ("1=Total") along that row, and takes
// the first non-empty cell that compares ("<", ">" numerically, "=" as
// trimmed text). Further conditions joined by "AND" must hold in the same
// row (column). A value ending in "?" is an XPath evaluated on the input
// XML. In update mode without a template the position starts at A1, and a
// search that finds nothing for an element with a block number places it
// in the first free row below the sheet's content, one row per block.
// In append mode rows count from the last used row of the sheet. Paths may
// be network paths ("\\server\share\…", below the site's share root).
//
// Write modes: Create (a new workbook, or a copy of a template), Update (an
// existing workbook, saved at the end; a ".xlt" template is saved as the
// destination) and Append (an existing workbook, below its content). The
// workbook is returned open; the caller saves it (WriteExcelObjectToFile)
// and closes it (CloseWorkBook).
//
// Object state between calls: the document id (for publication errors),
// whether a template is used and, within one conversion, the row of the
// current block. Not thread-safe; one object per caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Object.h"

namespace quillon {

class DomDocument;
class DomNode;

namespace spreadsheet {
class Workbook;
class Sheet;
}  // namespace spreadsheet

using WorkbookPtr = std::shared_ptr<spreadsheet::Workbook>;

class B2BExcel : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // Fills o_oXml (a new document when it is not set) from the workbook.
  void TransformExcelToXML(const std::string& i_sExcelFileLocation, std::shared_ptr<DomDocument>& o_oXml);
  // Closes the workbook's document and releases the handle.
  void CloseWorkBook(WorkbookPtr& i_oExcelBook);
  // The workbook, open; see the write modes above.
  WorkbookPtr TransformXMLToExcel(const std::string& i_sXml, EWriteMode i_nWriteMode, std::int32_t i_lDocID,
                                  bool i_bTemplateUsed, const std::string& i_sFilePath = "",
                                  const std::string& i_sFilePathDest = "");
  // Saves under the path (".xlt" as a template), then closes when asked.
  void WriteExcelObjectToFile(WorkbookPtr& i_oExcelWorkBook, const std::string& i_sFileLocation, bool i_bCloseWorkBook);
  // Types "Text", "Number", "Date", "Boolean" (any case). A type or value
  // that does not fit, or a property of that name with another type, is
  // written as a publication error of the object's document, not raised.
  void SetCustomerPropertyInExcel(WorkbookPtr& i_uExcelBook, const std::string& i_sPropertyName,
                                  const Variant& i_vPropertyValue, const std::string& i_sPropertyType);
  // The value, Empty when the workbook has no property of that name.
  Variant GetCustomerPropertyFromExcel(WorkbookPtr& i_uExcelBook, const std::string& i_sPropertyName);

 private:
  struct Placement {
    std::string labelPos, label, valuePos, value;
    long block = 0;
  };
  struct Position {
    long row = 0;
    std::string column;
  };
  // One condition of a position.
  struct Search {
    enum Kind { Row, Reference, Compare } kind = Row;
    long row = 0;
    std::string column;
    std::string key;
    EExcelSearchOptions op = EExcelSearchOptions::Equals;
    std::string value;
    bool fromPattern = false;
  };

  void OpenWorkBook(const std::string& path, WorkbookPtr& book, bool readOnly);
  void GetWorkBookNameFromExcel(const WorkbookPtr& book, const std::shared_ptr<DomDocument>& dom);
  void CreateXMLElement(const std::string& parentName, const std::string& name, const std::shared_ptr<DomDocument>& dom,
                        const std::string& text, const std::vector<std::pair<std::string, std::string>>& attributes = {});
  void GetCustomerPropertiesFromExcel(const WorkbookPtr& book, const std::shared_ptr<DomDocument>& dom);
  void GetValuesFromWorkBook(const WorkbookPtr& book, const std::shared_ptr<DomDocument>& dom);
  void GetColumnAndRowFromCellAddress(const std::string& address, std::string& column, long& row);

  void CreateWorkBook(const std::shared_ptr<DomDocument>& dom, WorkbookPtr& book);
  void UpdateWorkBook(const std::string& path, const std::string& destPath, const std::shared_ptr<DomDocument>& dom,
                      WorkbookPtr& book);
  void AppendWorkBook(const std::string& path, const std::shared_ptr<DomDocument>& dom, WorkbookPtr& book);
  void SetCustomerPropertiesFromXml(const std::shared_ptr<DomDocument>& dom, WorkbookPtr& book);
  void FillWorkBook(const std::shared_ptr<DomDocument>& dom, const WorkbookPtr& book, EWriteMode mode);
  void ProcessNode(const std::shared_ptr<DomNode>& node, spreadsheet::Sheet& sheet, EWriteMode mode, long lastRow);
  std::shared_ptr<spreadsheet::Sheet> ProcessSheetName(const WorkbookPtr& book, const std::string& name);
  bool IsPresentSheetName(const WorkbookPtr& book, const std::string& name);
  long GetLastRowFromWorkSheet(spreadsheet::Sheet& sheet);
  void DeleteDefaultSheets(const WorkbookPtr& book);
  void DeleteTempSheet(const WorkbookPtr& book);
  Placement GetB2BAttibutesFromXml(const std::shared_ptr<DomNode>& node);
  Position GetAbsoluteCellPosition(const std::string& position, spreadsheet::Sheet& sheet, EWriteMode mode, long lastRow,
                                   long block);
  Search GetSearchValues(const std::string& condition, const std::string& position);
  void TranslateCellPositionIntoRowAndColumn(const std::string& reference, std::string& column, long& row);
  long SearchColumnByArgument(spreadsheet::Sheet& sheet, const Search& first, const std::vector<Search>& more);
  long SearchRowByArgument(spreadsheet::Sheet& sheet, const Search& first, const std::vector<Search>& more);
  bool CheckAndConditionForColumn(const std::vector<Search>& more, const std::function<std::string(long)>& cellInColumn);
  bool CheckAndConditionForRow(const std::vector<Search>& more, const std::function<std::string(long)>& cellInRow);
  void InsertCellInWorkBook(spreadsheet::Sheet& sheet, const Position& at, const std::string& value);
  std::string GetOriginalFileNameFromXml(const std::shared_ptr<DomDocument>& dom);
  void SetOriginalFileNameInExcel(WorkbookPtr& book, const std::string& name);

  void ReportPropertyError(const std::string& label, const std::string& description,
                           const std::vector<std::pair<std::string, std::string>>& replacements);
  long NextFreeRow(spreadsheet::Sheet& sheet, long block);

  std::int32_t docID_ = 0;
  bool templateUsed_ = false;
  long nextFreeRow_ = 0;
  long lastBlock_ = -1;
  std::shared_ptr<DomDocument> input_;  // the XML being written, for "?" searches
};

}  // namespace quillon
