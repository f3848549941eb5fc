// Workbook and XML conversion against a real site and the real engine.
// Workbooks are made by the tests with the engine itself.
#include "imports/B2BExcel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Error.h"
#include "platform/Spreadsheet.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

using spreadsheet::Area;

class B2BExcelTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    if (!spreadsheet::Available()) GTEST_SKIP() << "the spreadsheet engine is not installed";
    fs::create_directories(dir() + "/books");
  }

  std::string book(const std::string& name) const { return dir() + "/books/" + name; }

  // Writes a workbook: rows of cells per sheet, then custom properties.
  void makeWorkbook(const std::string& path, const std::vector<std::pair<std::string, std::vector<std::vector<std::string>>>>& sheets,
                    const std::vector<std::pair<std::string, Variant>>& properties = {}) {
    auto wb = spreadsheet::Create();
    bool first = true;
    for (const auto& [name, rows] : sheets) {
      auto sheet = first ? wb->sheet(1) : wb->addSheet(name);
      if (first) sheet->setName(name);
      first = false;
      for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
          if (!rows[r][c].empty()) sheet->write(static_cast<long>(r + 1), static_cast<long>(c + 1), rows[r][c]);
    }
    for (const auto& [name, value] : properties) wb->setProperty(name, value);
    wb->saveAs(path);
    wb->close();
  }

  // The cell texts of a saved workbook's sheet, "" for empty cells.
  std::vector<std::vector<std::string>> cellsOf(const std::string& path, const std::string& sheetName) {
    auto wb = spreadsheet::Open(path, true);
    auto sheet = wb->sheet(sheetName);
    EXPECT_TRUE(sheet) << sheetName;
    std::vector<std::vector<std::string>> out;
    if (!sheet) return out;
    Area used = sheet->usedArea();
    if (used.empty()) return out;
    Area all{1, 1, used.lastRow, used.lastColumn};
    auto cells = sheet->read(all);
    out.assign(static_cast<std::size_t>(all.rows()), std::vector<std::string>(static_cast<std::size_t>(all.columns())));
    for (long r = 0; r < all.rows(); ++r)
      for (long c = 0; c < all.columns(); ++c)
        out[r][c] = cells[static_cast<std::size_t>(r * all.columns() + c)].valueText();
    return out;
  }

  std::shared_ptr<DomDocument> toXml(const std::string& path) {
    std::shared_ptr<DomDocument> dom;
    excel.TransformExcelToXML(path, dom);
    return dom;
  }

  static std::vector<std::string> texts(const std::shared_ptr<DomDocument>& dom, const std::string& xpath) {
    std::vector<std::string> out;
    auto nodes = dom->selectNodes(xpath);
    for (const auto& n : nodes->nodes()) out.push_back(n->text());
    return out;
  }

  B2BExcel excel;
};

using Rows = std::vector<std::vector<std::string>>;

TEST_F(B2BExcelTest, WorkbookBecomesGenericXml) {
  makeWorkbook(book("~order.xls"),
               {{"Lines", {{"Item", "12", "=B1*2", "   "}, {"", "Widget"}}}, {"Empty", {}}},
               {{"B2B-RECEIVER", Variant("4711;4712")},
                {"B2B-USESDISTLIST", Variant(true)},
                {"B2B-DOCTYPE-ID", Variant("ORDER")},
                {"B2B-SHOW", Variant("1")},
                {"b2b-sender", Variant("not routed: names compare exactly")},
                {"Author", Variant("ignored")}});
  auto dom = toXml(book("~order.xls"));
  auto root = dom->documentElement();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->nodeName(), "B2BEXCEL");
  EXPECT_EQ(root->getAttribute("WorkBook"), "order.xls");  // without the claiming mark
  EXPECT_EQ(texts(dom, "/B2BEXCEL/RECEIVER"), (std::vector<std::string>{"4711", "4712"}));
  EXPECT_EQ(texts(dom, "/B2BEXCEL/USESDISTLIST"), std::vector<std::string>{"1"});
  EXPECT_EQ(texts(dom, "/B2BEXCEL/DOCTYPE-ID"), std::vector<std::string>{"ORDER"});
  EXPECT_EQ(texts(dom, "/B2BEXCEL/SHOW"), std::vector<std::string>{"1"});
  EXPECT_TRUE(texts(dom, "/B2BEXCEL/SENDER").empty());
  EXPECT_TRUE(texts(dom, "//Author").empty());

  auto sheetList = dom->selectNodes("/B2BEXCEL/WorkSheet");
  auto sheets = sheetList->nodes();
  ASSERT_EQ(sheets.size(), 2u);
  EXPECT_EQ(sheets[0]->getAttribute("Name"), "Lines");
  EXPECT_EQ(sheets[1]->getAttribute("Name"), "Empty");
  EXPECT_EQ(sheets[1]->selectNodes("Cell")->length(), 0);
  auto cellList = sheets[0]->selectNodes("Cell");
  auto cells = cellList->nodes();
  ASSERT_EQ(cells.size(), 4u);  // the blank cell is left out
  EXPECT_EQ(cells[0]->xml(), "<Cell Row=\"1\" Column=\"A\">Item</Cell>");
  EXPECT_EQ(cells[1]->attributes()->length(), 2);
  EXPECT_EQ(cells[2]->xml(), "<Cell Row=\"1\" Column=\"C\" Formula=\"=B1*2\">24</Cell>");
  EXPECT_EQ(cells[3]->xml(), "<Cell Row=\"2\" Column=\"B\">Widget</Cell>");
  EXPECT_FALSE(fs::exists(book(".~lock.~order.xls#")));
}

TEST_F(B2BExcelTest, FilesThatCannotBeReadFailWithTheirOwnErrors) {
  std::ofstream(book("order.csv")) << "a;b\n";
  Error e = EXPECT_RAISES(test::kAnyError, toXml(book("order.csv")));
  EXPECT_EQ(e.number(), NotAnExcelFile);
  EXPECT_EQ(e.source(), "Quillon.B2BExcel.OpenWorkBook");
  EXPECT_NE(e.description().find("METHOD: Quillon.B2BExcel.TransformExcelToXML caught: "), std::string::npos);
  EXPECT_EQ(e.description().find(".ContentError"), std::string::npos) << "an opening failure, not a reading one";

  std::ofstream(book("broken.xls"), std::ios::binary) << std::string("\xD0\xCF\x11\xE0 not really a workbook", 27);
  e = EXPECT_RAISES(test::kAnyError, toXml(book("broken.xls")));
  EXPECT_EQ(e.number(), NotAnExcelFile);

  // A password-protected workbook (made by the engine, password "secret")
  // fails at once instead of waiting for someone to type the password.
  fs::copy_file(std::string(QUILLON_SOURCE_DIR) + "/tests/imports/data/protected.xls", book("protected.xls"));
  auto start = std::chrono::steady_clock::now();
  e = EXPECT_RAISES(test::kAnyError, toXml(book("protected.xls")));
  EXPECT_EQ(e.number(), NotAnExcelFile);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  // Writing needs a file to write to.
  WorkbookPtr wb;
  e = EXPECT_RAISES(test::kAnyError, wb = excel.TransformXMLToExcel("<A/>", EWriteMode::Append, 0, false));
  EXPECT_EQ(e.number(), MissingFileLocation);
  e = EXPECT_RAISES(test::kAnyError, wb = excel.TransformXMLToExcel("<A/>", EWriteMode::Create, 0, true, " ", ""));
  EXPECT_EQ(e.number(), MissingFileLocation);
  e = EXPECT_RAISES(test::kAnyError, wb = excel.TransformXMLToExcel("<A>", EWriteMode::Create, 42, false));
  EXPECT_EQ(e.source(), "MSXML.DOMDocument");
  EXPECT_NE(e.description().find(" DocumentID: 42"), std::string::npos);
  for (const auto& f : fs::directory_iterator(dir() + "/books"))
    EXPECT_NE(f.path().filename().string().rfind(".~lock", 0), 0u) << f.path();
}

// The XML of an order with placement attributes.
const char* kOrderXml = R"(<ORDER B2BWORKSHEET="Order" B2BORIGINALFILENAME="po-17.xml">
  <NUMBER B2BLABELPOS="A1" B2BVALUEPOS="B1">4711</NUMBER>
  <CUSTOMER B2BLABELPOS="3|A" B2BLABEL="Customer" B2BVALUEPOS="3|B">Delta Foods</CUSTOMER>
  <EMPTY B2BLABELPOS="A5" B2BVALUEPOS="B5">   </EMPTY>
  <TOTAL B2BVALUEPOS="C1" B2BVALUE="=B1*2"/>
  <PROPS B2BPROPLABEL="B2B-RECEIVER" B2BPROPVALUE="400;401" B2BPROPTYPE="Text"/>
  <PROPS B2BPROPLABEL="Pieces" B2BPROPVALUE="12" B2BPROPTYPE="number"/>
  <LINES B2BWORKSHEET="Lines">
    <LINE B2BLABELPOS="A1" B2BVALUEPOS="B1">first</LINE>
  </LINES>
</ORDER>)";

TEST_F(B2BExcelTest, CreateModeRoundTripsThroughAFileThatOtherReadersOpen) {
  WorkbookPtr wb = excel.TransformXMLToExcel(kOrderXml, EWriteMode::Create, 0, false);
  ASSERT_TRUE(wb);
  EXPECT_EQ(excel.GetCustomerPropertyFromExcel(wb, "b2b-originalname").text(), "po-17.xml");
  EXPECT_EQ(excel.GetCustomerPropertyFromExcel(wb, "Pieces").toInt32(), 12);
  EXPECT_TRUE(excel.GetCustomerPropertyFromExcel(wb, "Unknown").isEmpty());
  excel.WriteExcelObjectToFile(wb, book("out.xls"), true);
  EXPECT_FALSE(wb);

  auto dom = toXml(book("out.xls"));
  // The temporary sheet is gone; the sheets come in the order they were made.
  std::vector<std::string> names;
  auto sheetList = dom->selectNodes("//WorkSheet");
  for (const auto& s : sheetList->nodes()) names.push_back(s->getAttribute("Name"));
  EXPECT_EQ(names, (std::vector<std::string>{"Order", "Lines"}));
  EXPECT_EQ(texts(dom, "/B2BEXCEL/RECEIVER"), (std::vector<std::string>{"400", "401"}));
  auto cell = [&](const std::string& sheet, const std::string& row, const std::string& column) {
    auto n = dom->selectSingleNode("//WorkSheet[@Name='" + sheet + "']/Cell[@Row='" + row + "' and @Column='" + column + "']");
    return n ? n->text() : std::string("(none)");
  };
  EXPECT_EQ(cell("Order", "1", "A"), "NUMBER");  // the element's name is the default label
  EXPECT_EQ(cell("Order", "1", "B"), "4711");
  EXPECT_EQ(cell("Order", "3", "A"), "Customer");  // "3|A": row 3, then column A
  EXPECT_EQ(cell("Order", "3", "B"), "Delta Foods");
  EXPECT_EQ(cell("Order", "5", "A"), "EMPTY");
  EXPECT_EQ(cell("Order", "5", "B"), "(none)");  // no value: nothing written
  EXPECT_EQ(cell("Order", "1", "C"), "9422");
  EXPECT_EQ(dom->selectSingleNode("//Cell[@Column='C']")->getAttribute("Formula"), "=B1*2");
  EXPECT_EQ(cell("Lines", "1", "B"), "first");
  EXPECT_EQ(dom->selectNodes("//WorkSheet[@Name='Order']/Cell")->length(), 6);

  std::string seen;
  FILE* p = ::popen(("/usr/bin/python3 -c 'import xlrd; b = xlrd.open_workbook(\"" + book("out.xls") +
                     "\"); print(b.sheet_names(), b.sheet_by_name(\"Order\").cell_value(2, 1))' 2>&1")
                        .c_str(),
                    "r");
  char buffer[1024];
  while (p && std::fgets(buffer, sizeof buffer, p)) seen += buffer;
  if (p) ::pclose(p);
  EXPECT_NE(seen.find("['Order', 'Lines'] Delta Foods"), std::string::npos) << seen;
}

TEST_F(B2BExcelTest, UpdateModeFindsRowsBySearchAndGivesEachNewBlockOneRow) {
  makeWorkbook(book("stock.xls"), {{"Stock", {{"Item", "Qty", "Price"}, {"A-1", "5", "10"}, {"B-2", "7", "20"}, {"B-2", "9", "30"}}}});
  const std::string xml = R"(<STOCK B2BWORKSHEET="Stock">
    <KEY>B-2</KEY>
    <QTY B2BVALUEPOS="A=B-2 AND C>25|B">99</QTY>
    <PRICE B2BVALUEPOS="A=//KEY?|C">21</PRICE>
    <HEADER B2BVALUEPOS="1=Price|4">p</HEADER>
    <NEW><ITEM B2BBLOCK="1" B2BVALUEPOS="A=Z-9|A">Z-9</ITEM><Q B2BBLOCK="1" B2BVALUEPOS="A=Z-9 AND B=x|B">1</Q></NEW>
    <NEW><ITEM B2BBLOCK="2" B2BVALUEPOS="A=Y-8|A">Y-8</ITEM><Q B2BBLOCK="2" B2BVALUEPOS="A=Y-8 AND B=x|B">2</Q></NEW>
    <NONE B2BVALUEPOS="A=//NOKEY?|D">never written</NONE>
  </STOCK>)";
  WorkbookPtr wb = excel.TransformXMLToExcel(xml, EWriteMode::Update, 0, false, book("stock.xls"));
  excel.CloseWorkBook(wb);
  // Saved in place.
  Rows expected = {{"Item", "Qty", "Price"}, {"A-1", "5", "10"}, {"B-2", "7", "21"}, {"B-2", "99", "p"}, {"Z-9", "1", ""}, {"Y-8", "2", ""}};
  EXPECT_EQ(cellsOf(book("stock.xls"), "Stock"), expected);

  // A search that finds nothing, without a block, is an invalid address
  // that names the sheet and the position.
  Error e = EXPECT_RAISES(test::kAnyError, excel.TransformXMLToExcel(R"(<S B2BWORKSHEET="Stock"><V B2BVALUEPOS="A=nothing|B">1</V></S>)", EWriteMode::Update, 0,
                              false, book("stock.xls")));
  EXPECT_EQ(e.number(), InValidExcelAddress);
  EXPECT_NE(e.description().find("'A=nothing|B'"), std::string::npos) << e.description();
  EXPECT_NE(e.description().find("Additional information:"), std::string::npos) << e.description();
  e = EXPECT_RAISES(test::kAnyError, excel.TransformXMLToExcel(R"(<S B2BWORKSHEET="Stock"><V B2BVALUEPOS="A1 = ?">1</V></S>)", EWriteMode::Update, 0, false,
                              book("stock.xls")));
  EXPECT_EQ(e.number(), InValidExcelAddress);
  EXPECT_EQ(cellsOf(book("stock.xls"), "Stock"), expected);
}

TEST_F(B2BExcelTest, AppendModeWritesBelowTheLastUsedRow) {
  // The first row is empty: rows are appended below the last used row,
  // never onto one in use.
  makeWorkbook(book("log.xls"), {{"Log", {{}, {"jan", "a"}, {"feb", "b"}}}});
  const std::string xml = R"(<LOG B2BWORKSHEET="Log"><M B2BVALUEPOS="A1">mar</M><V B2BVALUEPOS="B1">c</V>
    <N B2BWORKSHEET="Fresh"><V B2BVALUEPOS="A2">x</V></N></LOG>)";
  WorkbookPtr wb = excel.TransformXMLToExcel(xml, EWriteMode::Append, 0, false, book("log.xls"));
  excel.WriteExcelObjectToFile(wb, book("log.xls"), true);
  Rows log = cellsOf(book("log.xls"), "Log");
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2], (std::vector<std::string>{"feb", "b"}));
  EXPECT_EQ(log[3], (std::vector<std::string>{"mar", "c"}));
  EXPECT_EQ(cellsOf(book("log.xls"), "Fresh"), (Rows{{""}, {"x"}}));
}

TEST_F(B2BExcelTest, TemplatesAreCopiedAndStayUnchanged) {
  makeWorkbook(book("form.xls"), {{"Form", {{"Order:", ""}, {"Total:", ""}}}});
  const std::string xml = R"(<F B2BWORKSHEET="Form"><N B2BVALUEPOS="A=Order:|B">17</N><T B2BVALUEPOS="A=Total:|B">99</T></F>)";
  WorkbookPtr wb = excel.TransformXMLToExcel(xml, EWriteMode::Create, 0, true, book("form.xls"), book("filled.xls"));
  excel.CloseWorkBook(wb);
  EXPECT_EQ(cellsOf(book("filled.xls"), "Form"), (Rows{{"Order:", "17"}, {"Total:", "99"}}));
  EXPECT_EQ(cellsOf(book("form.xls"), "Form"), (Rows{{"Order:"}, {"Total:"}}));

  // A real template (".xlt") is opened and saved as the destination.
  wb = spreadsheet::Open(book("form.xls"), true);
  wb->saveAs(book("form.xlt"));
  wb->close();
  wb = excel.TransformXMLToExcel(xml, EWriteMode::Create, 0, true, book("form.xlt"), book("from-template.xls"));
  excel.CloseWorkBook(wb);
  EXPECT_EQ(cellsOf(book("from-template.xls"), "Form"), (Rows{{"Order:", "17"}, {"Total:", "99"}}));
  EXPECT_EQ(cellsOf(book("form.xlt"), "Form"), (Rows{{"Order:"}, {"Total:"}}));
}

TEST_F(B2BExcelTest, PropertiesOfTheWrongTypeBecomePublicationErrors) {
  exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS) VALUES (77, 'ORDER', 'alice', 0)");
  const std::string xml = R"(<P>
    <A B2BPROPLABEL="Pieces" B2BPROPVALUE="many" B2BPROPTYPE="Number"/>
    <B B2BPROPLABEL="Shipped" B2BPROPVALUE="yes" B2BPROPTYPE="BOOLEAN"/>
    <C B2BPROPLABEL="Hold" B2BPROPVALUE="no" B2BPROPTYPE="boolean"/>
    <D B2BPROPLABEL="Due" B2BPROPVALUE="3/15/2024" B2BPROPTYPE="Date"/>
    <E B2BPROPLABEL="Odd" B2BPROPVALUE="1" B2BPROPTYPE="Currency"/>
    <F B2BPROPLABEL="Ref" B2BPROPVALUE="R-1" B2BPROPTYPE="Text"/>
    <G B2BPROPLABEL="REF" B2BPROPVALUE="5" B2BPROPTYPE="Number"/>
  </P>)";
  WorkbookPtr wb = excel.TransformXMLToExcel(xml, EWriteMode::Create, 77, false);
  EXPECT_TRUE(excel.GetCustomerPropertyFromExcel(wb, "Pieces").isEmpty());
  EXPECT_TRUE(excel.GetCustomerPropertyFromExcel(wb, "Shipped").toBool());
  EXPECT_FALSE(excel.GetCustomerPropertyFromExcel(wb, "Hold").toBool());
  EXPECT_EQ(formatOleDate(excel.GetCustomerPropertyFromExcel(wb, "Due").toDate()), "2024-03-15 00:00:00");
  EXPECT_EQ(excel.GetCustomerPropertyFromExcel(wb, "Ref").text(), "R-1");  // not replaced by a number
  excel.CloseWorkBook(wb);
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(LABEL || ':' || ERRORNUMBER, ',') FROM (SELECT * FROM PUBLICATIONERRORS "
                   "WHERE DOCUMENTID = 77 ORDER BY PUBLICATIONERRORID)"),
            "SLBSH4533:" + std::to_string(InsertExcelError) + ",SLBSH4533:" + std::to_string(InsertExcelError) +
                ",SLBSH4534:" + std::to_string(InsertExcelError));
  EXPECT_EQ(scalar("SELECT REPLACEMENTS FROM PUBLICATIONERRORS WHERE LABEL = 'SLBSH4534'"),
            "<REPS><REP name=\"[%PROPERTY%]\">REF</REP><REP name=\"[%PROPERTYTYPE%]\">Number</REP>"
            "<REP name=\"[%EXCELPROPERTYTYPE%]\">4</REP><REP name=\"[%EXCELPROPERTYNAME%]\">Ref</REP></REPS>");
}

TEST_F(B2BExcelTest, PositionsCombinePartsSearchBothWaysAndRefuseWhatTheyCannotPlace) {
  makeWorkbook(book("grid.xls"), {{"Grid", {{"Code", "Qty", "Note"}, {"X1", "4", "a"}, {"X2", "12", "b"}, {"X3", "30", "c"}}}});
  // With a template, update mode starts nowhere: every position names its
  // row and column itself.
  const std::string xml = R"(<G B2BWORKSHEET="Grid">
    <A B2BVALUEPOS="B>10 AND C=c|C">numeric, with a second condition</A>
    <B B2BVALUEPOS="B&lt;5 | D">below five</B>
    <C B2BVALUEPOS="1=Note|3">row search</C>
    <D B2BVALUEPOS="1=Qty AND 3>10|6">row search, second condition below</D>
    <E B2BVALUEPOS="E7">plain cell</E>
    <F B2BVALUEPOS="8|B">row, then column</F>
  </G>)";
  WorkbookPtr wb = excel.TransformXMLToExcel(xml, EWriteMode::Update, 0, true, book("grid.xls"), "");
  excel.CloseWorkBook(wb);
  Rows grid = cellsOf(book("grid.xls"), "Grid");
  ASSERT_EQ(grid.size(), 8u);
  EXPECT_EQ(grid[3][2], "numeric, with a second condition");  // row of 30 (12 fails C=c)
  EXPECT_EQ(grid[1][3], "below five");                         // row of 4, column D
  EXPECT_EQ(grid[2][2], "row search");                         // column of "Note", row 3
  EXPECT_EQ(grid[5][1], "row search, second condition below");  // column B: row 3 holds 12 > 10
  EXPECT_EQ(grid[6][4], "plain cell");
  EXPECT_EQ(grid[7][1], "row, then column");

  for (const char* position : {"B>abc|C", "A1=X1", "C=zzz", "#$%", "1=nothing|2"}) {
    Error e = EXPECT_RAISES(test::kAnyError, excel.TransformXMLToExcel(std::string("<G B2BWORKSHEET=\"Grid\"><V B2BVALUEPOS=\"") + position + "\">v</V></G>",
                                EWriteMode::Update, 0, true, book("grid.xls"), ""));
    EXPECT_EQ(e.number(), InValidExcelAddress) << position;
  }
  // A cell outside an ".xls" sheet is refused with the sheet, column, row
  // and value named.
  Error e = EXPECT_RAISES(test::kAnyError, excel.TransformXMLToExcel(R"(<G B2BWORKSHEET="Grid"><V B2BVALUEPOS="IW1">wide</V></G>)", EWriteMode::Create, 0, false));
  EXPECT_EQ(e.number(), InsertExcelError);
  EXPECT_NE(e.description().find("'wide'"), std::string::npos) << e.description();
  EXPECT_NE(e.description().find("column IW, row 1"), std::string::npos) << e.description();
  EXPECT_EQ(cellsOf(book("grid.xls"), "Grid"), grid);

  // Nothing placed at all: the new workbook keeps one empty sheet, never
  // the temporary one.
  wb = excel.TransformXMLToExcel("<NOTHING/>", EWriteMode::Create, 0, false);
  auto names = wb->sheetNames();
  excel.CloseWorkBook(wb);
  EXPECT_EQ(names, std::vector<std::string>{"Sheet1"});
}

TEST_F(B2BExcelTest, CallableByName) {
  auto utility = Registry::instance().create("Quillon.Utility");
  std::vector<Variant> none;
  EXPECT_TRUE(utility->invoke("IsExcelInstalled", none).toBool());

  auto object = Registry::instance().create("Quillon.B2BExcel");
  std::vector<Variant> args = {Variant(std::string(kOrderXml)), Variant(20), Variant(0), Variant(false)};
  Variant wb = object->invoke("TransformXMLToExcel", args);
  ASSERT_TRUE(wb.isSetObject());
  args = {wb, Variant(book("named.xls")), Variant(true)};
  object->invoke("WriteExcelObjectToFile", args);
  EXPECT_FALSE(args[0].isSetObject());  // closed and released
  args = {Variant(book("named.xls"))};
  object->invoke("TransformExcelToXML", args);
  auto dom = args[1].as<DomDocument>();
  ASSERT_TRUE(dom);
  EXPECT_EQ(dom->documentElement()->getAttribute("WorkBook"), "named.xls");

  // Network paths lie below the site's share root, for writing and reading.
  fs::create_directories(dir() + "/shares/files/out");
  args = {Variant(std::string(kOrderXml)), Variant(20), Variant(0), Variant(false)};
  args = {object->invoke("TransformXMLToExcel", args), Variant("\\\\FILES\\out\\net.xls"), Variant(true)};
  object->invoke("WriteExcelObjectToFile", args);
  EXPECT_TRUE(fs::exists(dir() + "/shares/files/out/net.xls"));
  args = {Variant("\\\\files\\out\\net.xls")};
  object->invoke("TransformExcelToXML", args);
  EXPECT_EQ(args[1].as<DomDocument>()->documentElement()->getAttribute("WorkBook"), "net.xls");
}

}  // namespace
}  // namespace quillon
