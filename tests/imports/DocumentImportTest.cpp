// The folder import on a real sample site with real files in its import
// folders: what is taken, what becomes of each file, what the operator is
// told.
#include "imports/DocumentImport.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Spreadsheet.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

std::string order(const std::string& number, const std::string& type = "ORDER") {
  return "<ORDER><DOCTYPE-ID>" + type + "</DOCTYPE-ID><SENDER>alice</SENDER><RECEIVER>bob</RECEIVER><NUMBER>" + number +
         "</NUMBER></ORDER>";
}

class DocumentImportTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
    // Default notification templates, so that a scheduled intake of the
    // sample order can notify (mails go to the pickup folder).
    exec("INSERT INTO NOTIFICATIONTEMPLATE (DOCUMENTTYPEID, BUSINESSPARTNERID, MODE, SUBJECT, BODY) VALUES "
         "('-1', -1, 1, 'Sent', 'Sent'), ('-1', -1, 2, 'New', 'New'), ('-1', -2, 2, 'Copy', 'Copy')");
  }

  std::string in1() const { return dir() + "/xml/in1"; }
  std::string in2() const { return dir() + "/xml/in2"; }
  void put(const std::string& folder, const std::string& name, const std::string& content) const {
    std::ofstream(folder + "/" + name, std::ios::binary) << content;
  }
  static std::set<std::string> names(const std::string& folder) {
    std::set<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
      if (e.is_regular_file()) out.insert(e.path().filename().string());
    return out;
  }
  // The error folder's files by name, with their content.
  std::map<std::string, std::string> errorFiles() const {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir() + "/xml/error", ec))
      if (e.is_regular_file()) out[e.path().filename().string()] = read(e.path().string());
    return out;
  }
  // The numbers of the stored documents, in the order they were stored.
  std::string numbers() const {
    return scalar("SELECT IFNULL(GROUP_CONCAT(N, ','), '') FROM (SELECT substr(ORIGINALXMLBODY, instr(ORIGINALXMLBODY, "
                  "'<NUMBER>') + 8, instr(ORIGINALXMLBODY, '</NUMBER>') - instr(ORIGINALXMLBODY, '<NUMBER>') - 8) AS N "
                  "FROM DOCUMENT ORDER BY DOCUMENTID)");
  }
  // Mails in the pickup folder whose text holds `what`.
  int mailsWith(const std::string& what) const {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir() + "/mail/pickup", ec))
      if (read(e.path().string()).find(what) != std::string::npos) ++n;
    return n;
  }
  bool logged(const std::string& what) const {
    for (const auto& e : logEntries())
      if (e.message.find(what) != std::string::npos) return true;
    return false;
  }
};

// ---- what is taken and what becomes of it ------------------------------------------------

TEST_F(DocumentImportTest, ASweepTakesEveryDocumentOfBothFoldersInFileOrderAndDeletesTheFiles) {
  put(in1(), "a.xml", order("A1"));
  // Two documents one after another, each with its own declaration.
  put(in1(), "b.xml", "<?xml version=\"1.0\"?>\n" + order("B1") + "\r\n<?xml version=\"1.0\"?>" + order("B2") + "\n");
  put(in2(), "C.XML", order("C1"));
  put(in1(), "~claimed.xml", order("X1"));  // claimed by someone else
  put(in1(), "notes.txt", order("X2"));     // not a kind the import takes

  FolderImportSummary s = RunFolderImport();
  EXPECT_TRUE(s.ran);
  EXPECT_EQ(s.filesSeen, 3);
  EXPECT_EQ(s.documents, 4);
  EXPECT_EQ(s.errors, 0);
  EXPECT_EQ(numbers(), "A1,B1,B2,C1");
  EXPECT_EQ(names(in1()), (std::set<std::string>{"~claimed.xml", "notes.txt"}));
  EXPECT_TRUE(names(in2()).empty());
  EXPECT_TRUE(errorFiles().empty());

  // Nothing is taken twice.
  s = RunFolderImport();
  EXPECT_EQ(s.filesSeen, 0);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "4");
}

TEST_F(DocumentImportTest, TheTrailingDelimiterIsRemovedEverywhereOnlyWhenItEndsTheText) {
  // The site's delimiter is the apostrophe.
  put(in1(), "ends.xml", "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><NUMBER>O'Neil</NUMBER></ORDER>' \r\n");
  put(in1(), "inside.xml", "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><NUMBER>D'Arcy</NUMBER></ORDER>\n");
  RunFolderImport();
  EXPECT_EQ(numbers(), "ONeil,D'Arcy");

  // A delimiter of another letter case is removed as well.
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = 'q' WHERE PARAMNAME = 'EDIDelimiter'");
  put(in1(), "case.xml", "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><NUMBER>QqZ</NUMBER></ORDER>q");
  RunFolderImport();
  EXPECT_EQ(numbers(), "ONeil,D'Arcy,Z");
}

TEST_F(DocumentImportTest, TextThatIsNoXmlGoesWholeToTheErrorFolderAndTheAdministratorIsTold) {
  const std::string broken = "<ORDER><NUMBER>1</NUMBER>";
  put(in1(), "broken.xml", broken);
  FolderImportSummary s = RunFolderImport();
  EXPECT_TRUE(s.ran);
  EXPECT_EQ(s.errors, 1);
  EXPECT_TRUE(names(in1()).empty());
  auto kept = errorFiles();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept.begin()->first, "broken.xml");
  EXPECT_EQ(kept.begin()->second, broken);
  EXPECT_TRUE(logged(I18N::LabelWith("SLBSH1819", {{"[%FILE%]", "broken.xml"}})));
  EXPECT_EQ(mailsWith("broken.xml"), 1);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "0");
}

TEST_F(DocumentImportTest, ARejectedDocumentIsKeptAndMailedWhileTheOthersOfItsFileAreTakenIn) {
  put(in1(), "mixed.xml", order("M1") + order("M2", "NOSUCHTYPE") + order("M3"));
  FolderImportSummary s = RunFolderImport();
  EXPECT_EQ(s.documents, 2);
  EXPECT_EQ(s.errors, 1);
  EXPECT_EQ(numbers(), "M1,M3");
  EXPECT_TRUE(names(in1()).empty()) << "the file's content is taken in or kept: the file goes";
  auto kept = errorFiles();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept.begin()->first, "mixed.xml");
  EXPECT_NE(kept.begin()->second.find("<NUMBER>M2</NUMBER>"), std::string::npos);
  EXPECT_EQ(kept.begin()->second.find("M1"), std::string::npos);
  bool combined = false;
  for (const auto& e : logEntries())
    if (e.kind == "EVENT" && e.message.find(I18N::GetLabel("SLBSH0003")) != std::string::npos &&
        e.message.find("'mixed.xml'") != std::string::npos)
      combined = true;
  EXPECT_TRUE(combined) << "the rejection is logged with the file's name";
  EXPECT_GE(mailsWith("mixed.xml"), 1);
}

// ---- the run cannot start ----------------------------------------------------------------

TEST_F(DocumentImportTest, WithoutDelimiterOrVirtualIdTheRunSweepsNothingAndSaysWhy) {
  put(in1(), "a.xml", order("A1"));
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = '' WHERE PARAMNAME = 'EDIDelimiter'");
  FolderImportSummary s = RunFolderImport();
  EXPECT_FALSE(s.ran);
  EXPECT_EQ(s.failure, I18N::GetLabel("SLBSH0010"));
  EXPECT_TRUE(logged(I18N::GetLabel("SLBSH0010")));
  EXPECT_EQ(names(in1()), std::set<std::string>{"a.xml"});

  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = '''' WHERE PARAMNAME = 'EDIDelimiter'");
  setConfigValue("SiteConfiguration.xml", "GLOBAL", "IISVirtId", "  ");
  s = RunFolderImport();
  EXPECT_FALSE(s.ran);
  EXPECT_EQ(s.failure, I18N::GetLabel("SLBSH0009"));
  EXPECT_EQ(names(in1()), std::set<std::string>{"a.xml"});
}

TEST_F(DocumentImportTest, MissingImportFoldersAreCreatedButTheObiFolderOnlyWhenObiIsOn) {
  fs::remove_all(in2());
  fs::remove_all(dir() + "/obi");
  put(in1(), "a.xml", order("A1"));
  FolderImportSummary s = RunFolderImport();
  EXPECT_TRUE(s.ran);
  EXPECT_EQ(s.documents, 1);
  EXPECT_TRUE(fs::is_directory(in2()));
  EXPECT_FALSE(fs::exists(dir() + "/obi")) << "OBI intake is off";
}

// ---- claims ------------------------------------------------------------------------------

TEST_F(DocumentImportTest, AStaleClaimIsReportedOnceAndLeftWhereItIsWhileAHeldOneIsNot) {
  setConfigValue("SiteConfiguration.xml", "DOCUMENTIMPORT", "StaleClaimSeconds", "0");
  put(in1(), "~left.xml", order("L1"));
  put(in1(), "~held.xml", order("H1"));
  // A worker still working holds its claim locked.
  int held = ::open((in1() + "/~held.xml").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  // One of the two documents of the file left behind was stored after the claim.
  put(in1(), "~two.xml", order("T1") + order("T2"));
  put(in1(), "t1.xml", order("T1"));
  FolderImportSummary s = RunFolderImport();
  EXPECT_EQ(s.staleReported, 2);
  EXPECT_TRUE(logged("'" + in1() + "/~left.xml' was claimed for import"));
  EXPECT_TRUE(logged("None of its 1 document(s) was stored since the claim"));
  EXPECT_TRUE(logged("1 of its 2 document(s) were stored since the claim, as document(s) 1."));
  EXPECT_FALSE(logged("~held.xml"));
  EXPECT_EQ(mailsWith("~left.xml"), 1);
  EXPECT_EQ(names(in1()), (std::set<std::string>{"~left.xml", "~held.xml", "~two.xml"}));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "1") << "a stale claim may be imported in part: never retried";

  // Reported once; a worker that dies with the other claim gets it reported.
  ::close(held);
  s = RunFolderImport();
  EXPECT_EQ(s.staleReported, 1);
  EXPECT_EQ(mailsWith("~left.xml"), 1);
  EXPECT_EQ(mailsWith("~held.xml"), 1);

  // The same name claimed again later is a new claim.
  fs::remove(in1() + "/~left.xml");
  put(in1(), "~left.xml", order("L2"));
  s = RunFolderImport();
  EXPECT_EQ(s.staleReported, 1);
  EXPECT_EQ(mailsWith("~left.xml"), 2);
}

TEST_F(DocumentImportTest, AFreshClaimIsNotStaleAndAFileWhoseClaimedNameIsTakenWaits) {
  put(in1(), "~a.xml", order("OLD"));
  put(in1(), "a.xml", order("NEW"));
  FolderImportSummary s = RunFolderImport();
  EXPECT_EQ(s.staleReported, 0) << "claimed seconds ago, under the default limit of an hour";
  EXPECT_EQ(s.filesSeen, 0);
  EXPECT_EQ(read(in1() + "/~a.xml"), order("OLD")) << "a claim is never replaced";
  EXPECT_EQ(read(in1() + "/a.xml"), order("NEW"));
}

// ---- trace -------------------------------------------------------------------------------

TEST_F(DocumentImportTest, TheTraceLinesFollowTheRunWhenLoggingIsOn) {
  setConfigValue("Z2IZezazaConfiguration.xml", "GLOBAL", "B2BLogging", "1");
  General::ResetThreadState();  // the logging level is kept per thread
  put(in1(), "a.xml", order("A1"));
  RunFolderImport();
  std::vector<std::string> lines;
  for (const auto& e : logEntries())
    if (e.source == "Document Import Service") lines.push_back(e.message);
  const std::vector<std::string> expected = {
      "Run (start)", "getParameters (start)", "getParameters (end)", "readOneFileToBeProcessed_start  - file :",
      "readFilesForFolder_start  - file :a.xml", "readOneFileToBeProcessed_end  - file :a.xml",
      "readFilesForFolder_end  - folder :" + dir() + "/xml/in1/", "Run (end)"};
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_NE(lines[i].find("INFO: " + expected[i] + "."), std::string::npos) << lines[i];
}

// ---- workbooks ---------------------------------------------------------------------------

TEST_F(DocumentImportTest, ARejectedWorkbookIsCopiedToTheErrorFolderUnderAFreeName) {
  if (!spreadsheet::Available()) GTEST_SKIP() << "the spreadsheet engine is not installed";
  // A workbook with nothing that names a document type is rejected.
  auto wb = spreadsheet::Create();
  wb->sheet(1)->write(1, 1, "nothing to recognise");
  wb->saveAs(in1() + "/book.xls");
  wb->close();
  const std::string bytes = read(in1() + "/book.xls");
  // The error folder of this second and the next few hold a "book.xls".
  for (int ahead = 0; ahead < 5; ++ahead) {
    std::time_t t = wallClockSeconds() + ahead;
    std::tm parts{};
    ::localtime_r(&t, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &parts);
    fs::create_directories(dir() + "/xml/error/" + stamp);
    put(dir() + "/xml/error/" + stamp, "book.xls", "earlier");
  }
  FolderImportSummary s = RunFolderImport();
  EXPECT_EQ(s.filesSeen, 1);
  EXPECT_EQ(s.errors, 1);
  EXPECT_TRUE(names(in1()).empty());
  int copies = 0;
  for (const auto& [name, content] : errorFiles()) {
    if (name == "book.xls") {
      EXPECT_EQ(content, "earlier") << "never replaced";
    }
    if (name == "book1.xls") {
      EXPECT_EQ(content, bytes);
      ++copies;
    }
  }
  EXPECT_EQ(copies, 1);
  EXPECT_EQ(mailsWith("book1.xls"), 1);
}

}  // namespace
}  // namespace quillon
