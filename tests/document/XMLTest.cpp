#include <gtest/gtest.h>

#include <regex>

#include "document/XML.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/Error.h"
#include "platform/XmlDom.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

const char* kStyleSheet = R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/">Order <xsl:value-of select="/ORDER/NUMBER"/></xsl:template>
</xsl:stylesheet>)";

class XMLTest : public test::TestSite {
 protected:
  XML xml;
};

TEST_F(XMLTest, MalformedTextReportsParserCodeReasonLineAndColumn) {
  Error e = EXPECT_RAISES(test::kAnyError,
                          xml.XmlStringToDomDocument("<ORDER>\n  <NUMBER>1</NUMBER>\n  <LINE></ORDER>"));
  EXPECT_EQ(e.source(), "Quillon.XML.LoadXmlInDomDocument");
  EXPECT_NE(e.number(), 0);
  std::regex shape(
      "\r\nMETHOD: Quillon\\.XML\\.XmlStringToDomDocument caught: Unable to parse the XML document: It is not present, "
      "invalid or not well-formed\r\nDescription : [^\r\n]+\r\nLine        : 3\r\nColumn      : [1-9][0-9]*\\(" +
      hexNumber(e.number()) + "\\)\\.");
  EXPECT_TRUE(std::regex_match(e.description(), shape)) << e.description();
}

TEST_F(XMLTest, BlankTextIsReadAsAnEmptyFileName) {
  Error e = EXPECT_RAISES(hr::kResourceNotFound, xml.XmlStringToDomDocument("   "));
  EXPECT_NE(e.description().find("well-formed\r\nFile/URL    : \r\nDescription : "), std::string::npos)
      << e.description();
}

TEST_F(XMLTest, FilesLoadAndMissingFilesNameThemselves) {
  std::string path = writeFile("in/order.xml", "<ORDER><NUMBER>77</NUMBER></ORDER>");
  EXPECT_EQ(xml.XmlFileToDomDocument(path)->selectSingleNode("/ORDER/NUMBER")->text(), "77");
  Error e = EXPECT_RAISES(hr::kResourceNotFound, xml.XmlFileToDomDocument(dir() + "\\in\\absent.xml"));
  EXPECT_NE(e.description().find("File/URL    : " + dir() + "\\in\\absent.xml\r\nDescription : "), std::string::npos);
}

TEST_F(XMLTest, StyleSheetsApplyAndBlankNamesLeaveTheXmlUnchanged) {
  std::string xsl = writeFile("xsl/order.xsl", kStyleSheet);
  EXPECT_EQ(xml.ApplyXslStyleSheetToXmlString("<ORDER><NUMBER>42</NUMBER></ORDER>", xsl), "Order 42");
  auto dom = xml.XmlStringToDomDocument("<ORDER><NUMBER>42</NUMBER></ORDER>");
  std::string blank = "  ";
  EXPECT_EQ(xml.ApplyXslStyleSheetToXmlDomDocument(dom, blank), dom->xml());
  EXPECT_NE(dom->xml().find("<NUMBER>42</NUMBER>"), std::string::npos);
}

TEST_F(XMLTest, MissingStyleSheetGivesCannotLoadFileWithTheLabelText) {
  std::string missing = dir() + "/xsl/none.xsl";
  Error e = EXPECT_RAISES(CannotLoadFile, xml.ApplyXslStyleSheetToXmlString("<a/>", missing));
  EXPECT_EQ(e.source(), "Quillon.XML.LoadXslInDomDocument");
  std::string label = I18N::LabelWith("SLBSH0052", {{"[%FILENAME%]", missing}});
  EXPECT_NE(label.find(missing), std::string::npos);
  // Three layers: the style-sheet load, the DOM variant and the string variant.
  EXPECT_EQ(e.description(), "\r\nMETHOD: Quillon.XML.ApplyXslStyleSheetToXmlString caught: "
                             "\r\nMETHOD: Quillon.XML.ApplyXslStyleSheetToXmlDomDocument caught: "
                             "\r\nMETHOD: Quillon.XML.XslFileToDomDocument caught: " +
                                 label + "(80040214).(80040214).(80040214).");
}

TEST_F(XMLTest, MalformedStyleSheetGivesTheParserBlock) {
  std::string bad = writeFile("xsl/bad.xsl", "<xsl:stylesheet>\n<oops></xsl:stylesheet>");
  Error e = EXPECT_RAISES(test::kAnyError, xml.XslFileToDomDocument(bad));
  EXPECT_NE(e.number(), CannotLoadFile);
  std::regex shape("\r\nMETHOD: Quillon\\.XML\\.XslFileToDomDocument caught: Unable to parse the XSL file " + bad +
                   ": It is not present, invalid or not well-formed\\. \r\nDescription : [^\r\n]+\r\nLine        : 2"
                   "\r\nColumn      : [0-9]+\r\n\\(" + hexNumber(e.number()) + "\\)\\.");
  EXPECT_TRUE(std::regex_match(e.description(), shape)) << e.description();
}

TEST_F(XMLTest, NoDocumentGiven) {
  std::shared_ptr<DomDocument> none;
  std::string xsl = "x.xsl";
  Error e = EXPECT_RAISES(hr::kObjectRequired, xml.ApplyXslStyleSheetToXmlDomDocument(none, xsl));
  EXPECT_EQ(e.description(),
            "\r\nMETHOD: Quillon.XML.ApplyXslStyleSheetToXmlDomDocument caught: Not a valid Xml DOM document is given(" +
                hexNumber(e.number()) + ").");
}

}  // namespace
}  // namespace quillon
