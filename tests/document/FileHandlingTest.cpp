#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "document/FileHandling.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

class FileHandlingTest : public test::TestSite {
 protected:
  std::string path(const std::string& relative) const { return dir() + "/" + relative; }
  FileHandling files;
};

// Each case breaks one rule, and the earlier rule wins where a case breaks two.
TEST_F(FileHandlingTest, WriteFileToDiskChecksInItsOrder) {
  std::string existing = writeFile("out/existing.xml", "<old/>");
  std::string absentSource = path("in/none.xml");
  std::string base = "Quillon.FileHandling.WriteFileToDisk";
  struct Case {
    const char* what;
    std::function<void()> call;
    std::int32_t number;
    std::string source;
    std::string label;
  };
  const Case cases[] = {
      {"no destination, reading mode, no source", [&] { files.WriteFileToDisk(" ", "", "", false, true, false, 1); },
       MissingParameter, base + "_DestFile", I18N::GetLabel("SLBSH4566")},
      {"reading mode, no source", [&] { files.WriteFileToDisk(path("out/a.xml"), "", "", false, true, false, 1); },
       WrongIOMode, base, I18N::GetLabel("SLBSH4562")},
      {"no source, destination exists",
       [&] { files.WriteFileToDisk(existing, "", "", false, true, false, kForWriting); }, NotPresent,
       base + "_SourceFile", I18N::GetLabel("SLBSH4565")},
      {"source file absent, destination exists",
       [&] { files.WriteFileToDisk(existing, "", absentSource, false, true, false, kForWriting); }, NotPresent,
       base + "_SourceFile", I18N::LabelWith("SLBSH4561", {{"[%FILENAME%]", absentSource}})},
      {"destination absent and not to be created, folder absent",
       [&] { files.WriteFileToDisk(path("nofolder/a.xml"), "<a/>", "", false, false, false, kForWriting); }, NotPresent,
       base + "_DestFile", I18N::LabelWith("SLBSH4561", {{"[%FILENAME%]", path("nofolder/a.xml")}})},
      {"destination exists, appending without overwrite", [&] { files.WriteFileToDisk(existing, "<more/>"); },
       AlreadyPresent, base, I18N::LabelWith("SLBSH4563", {{"[%FILENAME%]", existing}})},
      {"folder absent", [&] { files.WriteFileToDisk(path("nofolder/a.xml"), "<a/>", "", false, true, false, 2); },
       NotPresent, base + "_DestFolder", I18N::LabelWith("SLBSH4564", {{"[%FOLDERNAME%]", path("nofolder")}})},
  };
  for (const Case& c : cases) {
    Error e = EXPECT_RAISES(c.number, c.call());
    EXPECT_EQ(e.source(), c.source) << c.what;
    EXPECT_EQ(e.description(), "\r\nMETHOD: " + base + " caught: " + c.label + "(" + hexNumber(c.number) + ").")
        << c.what;
  }
  EXPECT_EQ(read(existing), "<old/>");
  EXPECT_FALSE(fs::exists(path("nofolder")));
  EXPECT_RAISES(WrongIOMode, files.WriteFileToDisk(path("out/b.xml"), "x", "", false, true, false, 3));
}

TEST_F(FileHandlingTest, WritingReplacesAppendingAddsAndFoldersAreCreatedOnRequest) {
  std::string target = path("deep/er/out.txt");
  files.WriteFileToDisk(target, "one", "", true, true, false, kForWriting);
  EXPECT_EQ(read(target), "one");
  files.WriteFileToDisk(target, "two", "", false, true, true, kForWriting);
  EXPECT_EQ(read(target), "two");
  files.WriteFileToDisk(target, " and more \xE2\x82\xAC", "", false, true, true);  // appending, the default
  EXPECT_EQ(read(target), "two and more \x80");  // ANSI text: the euro sign of code page 1252
  EXPECT_EQ(files.GetFileContentAsString(target), "two and more \xE2\x82\xAC");

  // A source file is copied in writing mode and appended in appending mode.
  std::string from = writeFile("in/source.txt", "[src]");
  files.WriteFileToDisk(target, "", from, false, true, true, kForWriting);
  EXPECT_EQ(read(target), "[src]");
  files.WriteFileToDisk(target, "ignored", from, false, true, true, kForAppending);
  EXPECT_EQ(read(target), "[src][src]");
}

TEST_F(FileHandlingTest, UniqueNamesCountOnFromTheFirstFreeNumber) {
  writeFile("u/a.xml", "1");
  writeFile("u/a_1.xml", "2");
  EXPECT_EQ(files.GetUniqueFileName(path("u"), "a.xml"), path("u/a_2.xml"));
  EXPECT_EQ(files.GetUniqueFileName(path("u") + "/", "b.xml"), path("u/b.xml"));
  // A Windows-style folder keeps its separator.
  EXPECT_EQ(files.GetUniqueFileName(dir() + "\\u", "a.xml"), dir() + "\\u\\a_2.xml");
}

TEST_F(FileHandlingTest, NamesAndFolderNamesAreTakenApart) {
  EXPECT_FALSE(files.IsValidFolderName("C:"));
  EXPECT_FALSE(files.IsValidFolderName(""));
  for (const char* bad : {"a*", "a?", "a\"b", "<a", "a>", "a|b"}) EXPECT_FALSE(files.IsValidFolderName(bad)) << bad;
  EXPECT_TRUE(files.IsValidFolderName("Orders 2024"));

  EXPECT_EQ(files.GetBaseName("C:\\in\\order.v2.xml"), "order.v2");
  EXPECT_EQ(files.GetFileExtension("C:\\in\\order.v2.xml"), "xml");
  EXPECT_EQ(files.GetFileExtension("/in.d/README"), "");
  EXPECT_EQ(files.GetBaseName("\\\\server\\share\\folder\\"), "folder");
}

TEST_F(FileHandlingTest, FolderTypesComeFromParametersTheHostAndTheClock) {
  EXPECT_EQ(files.GetFolderName(value(EFolderType::ErrorFolder)), dir() + "/error");
  EXPECT_EQ(files.GetFolderName(value(EFolderType::XmlPath1Folder)), dir() + "/xml/in1/");
  EXPECT_EQ(files.GetFolderName(value(EFolderType::AsIs), "  "), ".");
  EXPECT_EQ(files.GetFolderName(99, "kept as is "), "kept as is ");
  EXPECT_EQ(files.GetFolderName(value(EFolderType::TempFolder)), dir() + "/temp");
  EXPECT_TRUE(std::regex_match(files.GetFolderName(value(EFolderType::WithTimeStamp), "run"),
                               std::regex(R"(run_20\d\d\.\d\d\.\d\d_\d\d\.\d\d\.\d\d)")));

  fs::remove_all(path("excel"));
  EXPECT_EQ(files.GetFolderName(value(EFolderType::ExcelTempFolder)), dir() + "/excel/temp");
  EXPECT_TRUE(fs::is_directory(path("excel/temp")));

  exec("DELETE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'ObiPath'");
  Error e = EXPECT_RAISES(MissingParameter, files.GetFolderName(value(EFolderType::ObiFolder)));
  EXPECT_NE(e.description().find("METHOD: Quillon.FileHandling.GetFolderName caught: "), std::string::npos);
  EXPECT_NE(e.description().find("'ObiPath'"), std::string::npos) << e.description();
}

TEST_F(FileHandlingTest, FileNamesJoinTrimmedParts) {
  using FT = EFileType;
  EXPECT_EQ(files.GetFileName(value(FT::AsIs), " XML", "order ", "-1", ".xml"), "XMLorder-1.xml");
  EXPECT_TRUE(std::regex_match(files.GetFileName(value(FT::WithTimeStamp), "XML", "", "-0", ".xml"),
                               std::regex(R"(XML_20\d\d\.\d\d\.\d\d_\d\d\.\d\d\.\d\d-0\.xml)")));
  EXPECT_TRUE(std::regex_match(files.GetFileName(value(FT::TempFile), "", "unused", "", ".xls"),
                               std::regex(R"(rad[0-9A-F]{5}\.tmp\.xls)")));
}

TEST_F(FileHandlingTest, LocalCopyMoveDeleteAndReadFollowTheOverwriteRules) {
  std::string a = writeFile("f/a.txt", "A");
  std::string b = writeFile("f/b.txt", "B");
  EXPECT_RAISES(hr::kFileAlreadyExists, files.CopyFile(a, b, false));
  files.CopyFile(a, b, true);
  EXPECT_EQ(read(b), "A");
  EXPECT_RAISES(hr::kFileAlreadyExists, files.MoveFile(a, b));
  files.MoveFile(a, dir() + "\\f\\c.txt");
  EXPECT_FALSE(files.FileExists(a));
  EXPECT_TRUE(files.FileExists(path("f/c.txt")));
  EXPECT_FALSE(files.FileExists(path("f")));
  EXPECT_TRUE(files.FolderExists(path("f")));

  auto names = files.getFileNamesInFolder(path("f"));
  ASSERT_EQ(names->Count(), 2);
  EXPECT_EQ(names->Item(1).toString(), "b.txt");
  EXPECT_EQ(files.getFilesInFolder(path("f"))->Item(2).toString(), path("f/c.txt"));

  files.DeleteFileFromDisk(b);
  EXPECT_RAISES(hr::kFileNotFound, files.DeleteFileFromDisk(b));
  Error missing = EXPECT_RAISES(CannotLoadFile, files.GetFileContentAsString(b));
  EXPECT_NE(missing.description().find(I18N::LabelWith("SLBSH4560", {{"[%FILENAME%]", b}})), std::string::npos);

  files.deleteFolderAndFilesInFolder(Variant(path("f")));
  EXPECT_FALSE(fs::exists(path("f")));
}

TEST_F(FileHandlingTest, UnicodeTextFilesHoldUtf16AndReadBackAsText) {
  std::string text = "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC";  // Grüß €
  EXPECT_RAISES(hr::kPathNotFound, files.createTextFile(text, path("t/u.txt"), true));
  fs::create_directories(path("t"));
  files.createTextFile(text, path("t/u.txt"), true);
  EXPECT_EQ(read(path("t/u.txt")), std::string("\xFF\xFEG\0r\0\xFC\0\xDF\0 \0\xAC\x20", 14));
  EXPECT_EQ(files.GetFileContentAsString(path("t/u.txt")), text);
  files.createTextFile(text, path("t/a.txt"), false);
  EXPECT_EQ(read(path("t/a.txt")), "Gr\xFC\xDF \x80");
  EXPECT_EQ(files.GetFileContentAsString(path("t/a.txt")), text);
}

TEST_F(FileHandlingTest, FilesInAnyFormReadBackAsText) {
  const std::string text = "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC";  // Grüß €
  // A partner's Windows-1252 export, a UTF-8 file with and without its
  // byte-order mark, and a Unicode file: all come back as the same text.
  writeFile("r/ansi.txt", "Gr\xFC\xDF \x80");
  writeFile("r/utf8.txt", text);
  writeFile("r/utf8bom.txt", "\xEF\xBB\xBF" + text);
  writeFile("r/unicode.txt", std::string("\xFF\xFEG\0r\0\xFC\0\xDF\0 \0\xAC\x20", 14));
  for (const char* name : {"ansi.txt", "utf8.txt", "utf8bom.txt", "unicode.txt"})
    EXPECT_EQ(files.GetFileContentAsString(path("r/") + name), text) << name;
  // So does a file on a share.
  writeFile("shares/srv/in/ansi.txt", "Gr\xFC\xDF \x80");
  EXPECT_EQ(files.GetFileContentAsString("\\\\srv\\in\\ansi.txt"), text);

  // Another site reads its partners' files in its own code page (1250 here).
  setConfigValue("SiteConfiguration.xml", "TEXTFILES", "AnsiCodePage", "1250");
  writeFile("r/central.txt", "\xA3\xF3" "d\x9F");
  EXPECT_EQ(files.GetFileContentAsString(path("r/central.txt")), "\xC5\x81\xC3\xB3" "d\xC5\xBA");  // Łódź
  files.createTextFile("\xC5\x81\xC3\xB3" "d\xC5\xBA", path("r/out1250.txt"), false);
  EXPECT_EQ(read(path("r/out1250.txt")), "\xA3\xF3" "d\x9F");
  // A setting that is no code page number is reported, not guessed at.
  setConfigValue("SiteConfiguration.xml", "TEXTFILES", "AnsiCodePage", "latin");
  Error e = EXPECT_RAISES(hr::kInvalidArg, files.GetFileContentAsString(path("r/central.txt")));
  EXPECT_NE(e.description().find("AnsiCodePage"), std::string::npos) << e.description();
}

TEST_F(FileHandlingTest, TextTheCodePageCannotHoldIsNeverWrittenWithStandIns) {
  const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC";  // 日本
  fs::create_directories(path("w"));
  // Asked for ANSI explicitly: refused, and nothing is written.
  Error e = EXPECT_RAISES(hr::kInvalidArg, files.createTextFile("A " + japanese, path("w/a.txt"), false));
  EXPECT_NE(e.description().find("1252"), std::string::npos) << e.description();
  EXPECT_FALSE(fs::exists(path("w/a.txt")));
  fs::create_directories(path("shares/srv/out"));
  EXPECT_RAISES(hr::kInvalidArg, files.createTextFile(japanese, "\\\\srv\\out\\a.txt", false));

  // A written text becomes a Unicode file instead, and appends keep that form.
  std::string target = path("w/doc.xml");
  files.WriteFileToDisk(target, "<a>" + japanese + "</a>", "", false, true, false, kForWriting);
  EXPECT_EQ(read(target).substr(0, 4), std::string("\xFF\xFE<\0", 4));
  files.WriteFileToDisk(target, "<b/>", "", false, true, true, kForAppending);
  EXPECT_EQ(files.GetFileContentAsString(target), "<a>" + japanese + "</a><b/>");

  // Appending such text to an ANSI file would garble it: refused, file kept.
  std::string ansi = path("w/log.txt");
  files.WriteFileToDisk(ansi, "first", "", false, true, false, kForWriting);
  EXPECT_RAISES(hr::kInvalidArg, files.WriteFileToDisk(ansi, japanese, "", false, true, true, kForAppending));
  EXPECT_EQ(read(ansi), "first");
}

TEST_F(FileHandlingTest, NetworkPathsGoToTheFileStoreAndNeverLeaveIt) {
  const std::string share = "\\\\fileserver\\share\\in\\a.xml";
  files.WriteFileToDisk(share, "<a/>", "", true, true, false, kForWriting);
  EXPECT_EQ(read(path("shares/fileserver/share/in/a.xml")), "<a/>");
  EXPECT_TRUE(files.FileExists(share));
  EXPECT_EQ(files.GetFileContentAsString(share), "<a/>");
  EXPECT_EQ(files.getFilesInFolder("\\\\fileserver\\share\\in")->Item(1).toString(), share);

  // Between a share and a local folder in one call.
  files.CopyFile(share, path("upload/a.xml"), false);
  EXPECT_EQ(read(path("upload/a.xml")), "<a/>");
  files.MoveFile(path("upload/a.xml"), "\\\\fileserver\\share\\in\\b.xml");
  EXPECT_FALSE(fs::exists(path("upload/a.xml")));
  EXPECT_EQ(files.getFileNamesInFolder("\\\\fileserver\\share\\in")->Count(), 2);

  Error e = EXPECT_RAISES(hr::kBadFileName,
      files.WriteFileToDisk("\\\\fileserver\\share\\..\\..\\escaped.xml", "x", "", true, true, true, 2));
  EXPECT_NE(e.description().find("METHOD: Quillon.FileHandling.WriteFileToDisk caught: "), std::string::npos);
  EXPECT_FALSE(fs::exists(path("escaped.xml")));
  EXPECT_FALSE(fs::exists(path("shares/escaped.xml")));
}

TEST_F(FileHandlingTest, ByNameCallsTakeTheDefaults) {
  auto obj = Registry::instance().create("Quillon.FileHandling");
  std::string target = path("upload/by-name.txt");
  std::vector<Variant> args{Variant(target), Variant("first")};
  obj->invoke("WriteFileToDisk", args);
  EXPECT_EQ(read(target), "first");
  // The defaults (append, no overwrite) refuse a second write.
  EXPECT_RAISES(AlreadyPresent, obj->invoke("WriteFileToDisk", args));
  std::vector<Variant> folder{Variant(path("upload"))};
  Variant names = obj->invoke("getFileNamesInFolder", folder);
  ASSERT_TRUE(names.as<Collection>());
  EXPECT_EQ(names.as<Collection>()->Item(1).toString(), "by-name.txt");
}

}  // namespace
}  // namespace quillon
