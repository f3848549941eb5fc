#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/XmlDom.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace quillon {
namespace {

class FileStoreTest : public test::TestSite {
 protected:
  std::string shares() const { return dir() + "/shares"; }
  FileStore store;
};

TEST_F(FileStoreTest, NetworkPathsResolveBelowTheShareRoot) {
  EXPECT_EQ(store.ResolvePath("\\\\FileServer\\Share\\In\\a.xml"), shares() + "/fileserver/share/In/a.xml");
  EXPECT_EQ(store.ResolvePath("\\\\srv/share//in/./a.xml"), shares() + "/srv/share/in/a.xml");
  EXPECT_EQ(store.ResolvePath("\\\\srv\\share\\"), shares() + "/srv/share");
  EXPECT_EQ(store.ResolvePath("C:\\local\\a.xml"), "C:/local/a.xml");

  setConfigValue("SiteConfiguration.xml", "FILESTORE", "ShareRoot", "elsewhere");
  EXPECT_EQ(store.ResolvePath("\\\\srv\\share\\a"), dir() + "/elsewhere/srv/share/a");
  setConfigValue("SiteConfiguration.xml", "FILESTORE", "ShareRoot", "");
  Error e = EXPECT_RAISES(hr::kFail, store.ResolvePath("\\\\srv\\share\\a"));
  EXPECT_NE(e.description().find("ShareRoot"), std::string::npos) << e.description();
}

TEST_F(FileStoreTest, PathsThatWouldLeaveTheirFolderAreRefused) {
  const std::string bad[] = {
      "\\\\srv\\share\\..\\..\\etc\\passwd", "\\\\srv\\share\\in\\..\\x", "\\\\..\\share\\x", "\\\\srv\\..\\x",
      "\\\\.\\share\\x",   "\\\\\\share\\x", "\\\\srv",  "\\\\srv\\\\x", "\\\\srv/share/../../x",
      std::string("\\\\srv\\share\\a\0b", 15), std::string("/tmp/a\0b", 8), "",
  };
  for (const std::string& path : bad) {
    Error e = EXPECT_RAISES(hr::kBadFileName, store.ResolvePath(path));
    EXPECT_EQ(e.source(), "Shale.File.ResolvePath") << path;
  }
  // Operations refuse before touching anything.
  Error e = EXPECT_RAISES(hr::kBadFileName,
                          store.CreateTextFile("x", "\\\\srv\\share\\..\\..\\..\\escaped.txt", false));
  EXPECT_EQ(e.source(), "Shale.File.CreateTextFile");
  EXPECT_FALSE(fs::exists(dir() + "/escaped.txt"));
}

TEST_F(FileStoreTest, FilesMoveBetweenSharesAndLocalFolders) {
  store.CreateFolderTree("\\\\srv\\share\\out\\2024");
  EXPECT_TRUE(store.FolderExists("\\\\srv\\share\\out\\2024"));
  std::string local = writeFile("upload/a.xml", "<a/>");

  store.CopyFile(local, "\\\\srv\\share\\out\\", false);
  EXPECT_EQ(read(shares() + "/srv/share/out/a.xml"), "<a/>");
  EXPECT_RAISES(hr::kFileAlreadyExists, store.CopyFile(local, "\\\\srv\\share\\out\\a.xml", false));
  EXPECT_RAISES(hr::kPathNotFound, store.CopyFile(local, "\\\\srv\\share\\none\\a.xml", true));
  writeFile("upload/a.xml", "<new/>");
  store.CopyFile(local, "\\\\srv\\share\\out\\a.xml", true);
  EXPECT_EQ(store.GetFileContent("\\\\srv\\share\\out\\a.xml"), "<new/>");

  store.MoveFile("\\\\srv\\share\\out\\a.xml", dir() + "\\error\\a.xml");
  EXPECT_FALSE(store.FileExists("\\\\srv\\share\\out\\a.xml"));
  EXPECT_EQ(read(dir() + "/error/a.xml"), "<new/>");
  EXPECT_RAISES(hr::kFileAlreadyExists, store.MoveFile(local, dir() + "/error/a.xml"));
  EXPECT_RAISES(hr::kFileNotFound, store.GetFileContent("\\\\srv\\share\\out\\a.xml"));
}

TEST_F(FileStoreTest, ListingTextFilesAndDeleting) {
  store.CreateFolderTree("\\\\srv\\share\\in\\sub");
  store.CreateTextFile("b", "\\\\srv\\share\\in\\b.txt", false);
  store.CreateTextFile("\xC3\xA9", "\\\\srv\\share\\in\\a.txt", true);
  store.AppendTextFile("+", "\\\\srv\\share\\in\\b.txt");
  store.AppendTextFile("+", "\\\\srv\\share\\in\\b.txt");
  EXPECT_EQ(store.GetFileNames("\\\\srv\\share\\in"), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(read(shares() + "/srv/share/in/a.txt"), "\xFF\xFE\xE9\x00"s);
  EXPECT_EQ(read(shares() + "/srv/share/in/b.txt"), "b++");
  // Appends keep the form of the file: Unicode after its byte-order mark.
  store.AppendTextFile("\xE2\x82\xAC", "\\\\srv\\share\\in\\a.txt");
  store.AppendTextFile("\xE2\x82\xAC", "\\\\srv\\share\\in\\b.txt");
  EXPECT_EQ(read(shares() + "/srv/share/in/a.txt"), "\xFF\xFE\xE9\x00\xAC\x20"s);
  EXPECT_EQ(read(shares() + "/srv/share/in/b.txt"), "b++\x80");
  store.CreateTextFile("new", "\\\\srv\\share\\in\\b.txt", false);
  EXPECT_EQ(read(shares() + "/srv/share/in/b.txt"), "new");

  store.DeleteFile("\\\\srv\\share\\in\\b.txt");
  EXPECT_RAISES(hr::kFileNotFound, store.DeleteFile("\\\\srv\\share\\in\\b.txt"));
  EXPECT_RAISES(hr::kPermissionDenied, store.DeleteFolder("\\\\srv\\share"));
  store.DeleteFolder("\\\\srv\\share\\in");
  EXPECT_FALSE(fs::exists(shares() + "/srv/share/in"));
  EXPECT_TRUE(fs::exists(shares() + "/srv/share"));
  EXPECT_RAISES(hr::kPathNotFound, store.GetFileNames("\\\\srv\\share\\in"));
}

TEST_F(FileStoreTest, StyleSheetsOnSharesTransformXmlByName) {
  store.CreateFolderTree("\\\\srv\\xsl");
  store.CreateTextFile(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/">Order <xsl:value-of select="/ORDER/NUMBER"/></xsl:template>
</xsl:stylesheet>)",
                       "\\\\srv\\xsl\\order.xsl", false);
  auto xml = Registry::instance().create("Shale.XML");
  std::vector<Variant> args{Variant("<ORDER><NUMBER>7</NUMBER></ORDER>"), Variant("\\\\srv\\xsl\\order.xsl")};
  EXPECT_EQ(xml->invoke("ApplyStyleSheet", args).toString(), "Order 7");

  FileStoreXml direct;
  Error missing = EXPECT_RAISES(hr::kResourceNotFound, direct.ApplyStyleSheet("<a/>", "\\\\srv\\xsl\\none.xsl"));
  EXPECT_NE(missing.description().find("\\\\srv\\xsl\\none.xsl"), std::string::npos);
  EXPECT_RAISES(test::kAnyError, direct.ApplyStyleSheet("<a>", "\\\\srv\\xsl\\order.xsl"));  // the parser's code

  // The file store answers by name too.
  auto file = Registry::instance().create("Shale.File");
  std::vector<Variant> exists{Variant("\\\\srv\\xsl\\order.xsl")};
  EXPECT_TRUE(file->invoke("FileExists", exists).toBool());
}

}  // namespace
}  // namespace quillon
