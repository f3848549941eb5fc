// Temporary and error files, style sheets and the HTML rendering, on a real site.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <set>
#include <thread>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/Mail.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"
#include "tests/LoopbackServers.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

const char* kOrderXsl = R"XSL(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html"/>
  <xsl:template match="/"><html><body><b><xsl:value-of select="//NUMBER"/></b></body></html></xsl:template>
</xsl:stylesheet>)XSL";

class UtilityFilesTest : public test::TestSite {
 protected:
  std::string temp() const { return dir() + "/temp"; }
  std::vector<std::string> filesIn(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& f : fs::directory_iterator(folder)) names.push_back(f.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  Utility u;
};

TEST_F(UtilityFilesTest, TemporaryFilesStayInTheTemporaryFolder) {
  EXPECT_EQ(u.WriteXMLFileToDisk("<A/>", "10.xml"), temp() + "/10.xml");
  // A name with folders of its own is reduced to its last part.
  EXPECT_EQ(u.WriteXMLFileToDisk("<B/>", "../../quillon.db"), temp() + "/quillon.db");
  EXPECT_EQ(u.WriteXMLFileToDisk("<C/>", "..\\..\\evil.xml"), temp() + "/evil.xml");
  EXPECT_EQ(u.AddTempPathIfNoDriveFound("sub/dir/x.xml"), temp() + "/x.xml");
  EXPECT_RAISES(hr::kBadFileName, u.WriteXMLFileToDisk("<D/>", "../"));
  EXPECT_EQ(read(dir() + "/quillon.db").substr(0, 15), "SQLite format 3");  // the database is untouched
  // A path of its own is kept: the caller chose the folder.
  std::string own = dir() + "/xml/out.xml";
  EXPECT_EQ(u.AddTempPathIfNoDriveFound(own), own);
  EXPECT_EQ(u.WriteXMLFileToDiskAsciiOrUnicode("<E/>", own, false), own);
  EXPECT_EQ(read(own), "<E/>");

  // Unicode is UTF-16LE after the byte-order mark; ANSI text the code page
  // cannot hold is refused rather than written with stand-ins.
  EXPECT_EQ(read(temp() + "/10.xml"), std::string("\xFF\xFE<\0A\0/\0>\0", 10));
  EXPECT_RAISES(hr::kInvalidArg, u.WriteXMLFileToDiskAsciiOrUnicode("<A>\xE2\x82\xAC \xE4\xB8\xAD</A>", "cjk.xml", false));
}

TEST_F(UtilityFilesTest, UnnamedTemporaryFilesNeverShareAName) {
  std::set<std::string> paths;
  for (int i = 0; i < 50; ++i) {
    std::string p = u.WriteXMLFileToDiskAsciiOrUnicode("<N>" + std::to_string(i) + "</N>", "", false);
    EXPECT_EQ(fs::path(p).parent_path().string(), temp());
    EXPECT_EQ(read(p), "<N>" + std::to_string(i) + "</N>");
    paths.insert(p);
  }
  EXPECT_EQ(paths.size(), 50u);
}

TEST_F(UtilityFilesTest, DeletingRemovesOnlyTheNamedTemporaryFile) {
  std::string p = u.WriteXMLFileToDisk("<A/>", "10.html");
  u.DeleteHTMLAttachment(p);
  EXPECT_FALSE(fs::exists(p));
  u.DeleteXMLFileFromDisk(p);  // gone already: nothing to do
  u.DeleteXMLFileFromDisk("");
  // A relative name means the temporary folder, never a file outside it.
  std::string outside = writeFile("keep.xml", "<K/>");
  u.DeleteXMLFileFromDisk("../keep.xml");
  EXPECT_TRUE(fs::exists(outside));
}

TEST_F(UtilityFilesTest, ErrorFilesGetUniqueNamesInsideTheErrorFolder) {
  std::string folder = u.CreateErrorDir();
  EXPECT_EQ(fs::path(folder).parent_path().string(), dir() + "/xml/error");
  EXPECT_TRUE(fs::is_directory(folder));
  // "yyyy-mm-dd_hh-mm-ss": no blanks, no "/" or ":".
  std::string stamp = fs::path(folder).filename().string();
  EXPECT_EQ(stamp.size(), 19u);
  EXPECT_EQ(stamp.find_first_of(" /:"), std::string::npos);

  // The error folder is named after the second: the numbered names are
  // made within one folder, so the writes start at the beginning of one.
  const auto freshSecond = [] {
    const std::time_t now = wallClockSeconds();
    while (wallClockSeconds() == now) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  freshSecond();
  std::string a = u.WriteXmlFileToErrorDir("<A/>", "~order.xml");
  std::string b = u.WriteXmlFileToErrorDir("<B/>", "order.xml");
  std::string c = u.WriteXmlFileToErrorDir("<C/>", "../../../order.xml");
  EXPECT_EQ(fs::path(a).filename(), "order.xml");
  EXPECT_EQ(fs::path(b).filename(), "order1.xml");
  EXPECT_EQ(fs::path(c).filename(), "order2.xml");
  for (const auto& p : {a, b, c}) EXPECT_EQ(fs::path(p).parent_path().parent_path().string(), dir() + "/xml/error");
  EXPECT_EQ(read(b), "<B/>");
  freshSecond();
  std::string d = u.WriteXmlFileToErrorDir("x", "archive.tar.gz");
  std::string e = u.WriteXmlFileToErrorDir("y", "archive.tar.gz");
  EXPECT_EQ(fs::path(e).filename(), "archive1.tar.gz");
  (void)d;
  // Text the code page cannot hold is kept, as Unicode.
  std::string f = u.WriteXmlFileToErrorDir("<A>中</A>", "");
  EXPECT_EQ(read(f).substr(0, 2), "\xFF\xFE");
}

TEST_F(UtilityFilesTest, AFileMovedToTheErrorFolderKeepsItsContentAndTheAdministratorIsTold) {
  test::LoopbackServers servers;
  int port = servers.StartSmtp();
  setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpServer", "127.0.0.1");
  setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpPort", std::to_string(port));
  std::string first = writeFile("xml/in1/~order.xml", "<ORDER>1</ORDER>");
  std::string moved = u.MoveFileToErrorDir(first);
  EXPECT_FALSE(fs::exists(first));
  EXPECT_EQ(fs::path(moved).filename(), "order.xml");
  EXPECT_EQ(read(moved), "<ORDER>1</ORDER>");
  std::string second = writeFile("xml/in1/order.xml", "<ORDER>2</ORDER>");
  std::string moved2 = u.MoveFileToErrorDir(second);
  if (fs::path(moved2).parent_path() == fs::path(moved).parent_path()) EXPECT_EQ(fs::path(moved2).filename(), "order1.xml");
  EXPECT_EQ(read(moved2), "<ORDER>2</ORDER>");
  EXPECT_EQ(read(moved), "<ORDER>1</ORDER>");  // never replaced

  auto mails = servers.SmtpMessages();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"admin@localhost"});
  EXPECT_NE(mail::ParseMail(mails[0].bytes).body.find(moved), std::string::npos);

  EXPECT_RAISES(hr::kFileNotFound, u.MoveFileToErrorDir(first));
}

TEST_F(UtilityFilesTest, ErrorFolderOnAShareResolvesBelowTheShareRoot) {
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = '\\\\files\\errors\\xml' WHERE PARAMNAME = 'XMLErrorPath'");
  std::string folder = u.CreateErrorDir();
  EXPECT_EQ(folder.rfind("\\\\files\\errors\\xml\\", 0), 0u);
  std::string p = u.WriteXmlFileToErrorDir("<S/>", "share.xml");
  std::string local = FileStore().ResolvePath(p);
  EXPECT_EQ(local.rfind(dir() + "/shares/files/errors/xml/", 0), 0u);
  EXPECT_EQ(read(local), "<S/>");
}

TEST_F(UtilityFilesTest, StyleSheetFoldersAndTransformationsLocalAndOnShares) {
  EXPECT_EQ(u.GetTransformXSLPath(), dir() + "/xsl/transform\\");
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'HTTPS://xsl.test/t' WHERE PARAMNAME = 'TransformXSLPath'");
  EXPECT_EQ(u.GetTransformXSLPath(), "HTTPS://xsl.test/t/");

  std::string local = writeFile("xsl/html/order.xsl", kOrderXsl);
  writeFile("shares/xslserver/sheets/order.xsl", kOrderXsl);
  const std::string xml = "<ORDER><NUMBER>PO-7</NUMBER></ORDER>";
  EXPECT_NE(u.transformXMLStringToHTML(xml, local).find("<b>PO-7</b>"), std::string::npos);
  EXPECT_NE(u.transformXMLStringToHTML(xml, "\\\\xslserver\\sheets\\order.xsl").find("<b>PO-7</b>"), std::string::npos);
  auto dom = std::make_shared<DomDocument>();
  ASSERT_TRUE(dom->loadXML(xml));
  EXPECT_NE(u.transformXMLToHTMLCommon(dom, local).find("<b>PO-7</b>"), std::string::npos);
  EXPECT_RAISES(test::kAnyError, u.transformXMLStringToHTML("<ORDER>", local));
}

TEST_F(UtilityFilesTest, TheRenderingUsesTheTypesStyleSheetAndTheGivenXml) {
  writeFile("xsl/html/order.xsl", kOrderXsl);
  exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION, HTMLATTACHMENTXSL) VALUES ('ORDER', 'Order', ' Order.XSL '),"
       " ('PLAIN', 'Plain', ''), ('TEXT', 'Text', 'render.txt'), ('BROKEN', 'Broken', 'missing.xsl')");
  exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, XMLBODY) VALUES "
       "(10, 'ORDER', 'alice', 1, '<ORDER><NUMBER>stored</NUMBER></ORDER>'), (11, 'PLAIN', 'alice', 1, '<P/>'),"
       " (12, 'TEXT', 'alice', 1, '<P/>')");
  // The stored name is trimmed; ".xsl" is recognised in any letter case.
  writeFile("xsl/html/Order.XSL", kOrderXsl);
  std::string stored = u.getHTMLAttachment(10);
  EXPECT_EQ(stored, temp() + "/10.html");
  EXPECT_NE(read(stored).find(std::string("s\0t\0o\0r\0e\0d", 11)), std::string::npos);
  std::string given = u.getHTMLAttachmentByUsingXML(10, "ORDER", "<ORDER><NUMBER>given</NUMBER></ORDER>");
  EXPECT_NE(read(given).find(std::string("g\0i\0v\0e\0n", 9)), std::string::npos);
  // Without a type the stored XML is used.
  std::string untyped = u.getHTMLAttachmentByUsingXML(10, "", "<ORDER><NUMBER>given</NUMBER></ORDER>");
  EXPECT_NE(read(untyped).find(std::string("s\0t\0o\0r\0e\0d", 11)), std::string::npos);
  // No style sheet, a name that is no ".xsl", no document: no rendering, no error.
  EXPECT_EQ(u.getHTMLAttachment(11), "");
  EXPECT_EQ(u.getHTMLAttachment(12), "");
  EXPECT_EQ(u.getHTMLAttachment(999), "");

  EXPECT_TRUE(u.CanAttachHTMLFile("ORDER"));
  EXPECT_FALSE(u.CanAttachHTMLFile("PLAIN"));
  Error e = EXPECT_RAISES(test::kAnyError, u.CanAttachHTMLFile("BROKEN"));
  EXPECT_NE(e.description().find("The XML Object couldn't load the XSL file '"), std::string::npos);
}

}  // namespace
}  // namespace quillon
