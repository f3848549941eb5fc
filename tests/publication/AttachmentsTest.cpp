// Attachment files of documents on a real site: the attachments folder and
// URL, scanning a document's folder, deleting, and copying a publisher's
// files in with their rows and publication errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "publication/Attachments.h"
#include "publication/PublishCreateDocument.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

class AttachmentsTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Order')");
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS) VALUES (5, 'ORDER', 'alice', 1), (6, 'ORDER', 'bob', 1)");
    setParameters("http://portal.example/att", dir() + "/attachments");
  }
  void setParameters(const std::string& url, const std::string& folder) {
    exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = '" + url + "' WHERE PARAMNAME = 'AttachmentsVirtualPath'");
    exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = '" + folder + "' WHERE PARAMNAME = 'AttachmentsFolder'");
  }
  std::string rows(int doc) {
    return scalar("SELECT IFNULL(GROUP_CONCAT(ATTACHMENTFILENAME, ','), '') FROM (SELECT ATTACHMENTFILENAME FROM ATTACHMENT"
                  " WHERE DOCUMENTID = " + std::to_string(doc) + " ORDER BY ATTACHMENTFILENAME)");
  }
  std::string errorLabels(int doc) {
    return scalar("SELECT IFNULL(GROUP_CONCAT(LABEL, ','), '') FROM (SELECT LABEL FROM PUBLICATIONERRORS WHERE DOCUMENTID = " +
                  std::to_string(doc) + " ORDER BY PUBLICATIONERRORID)");
  }
  static std::string content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::shared_ptr<Collection> collection(std::vector<std::string> paths) {
    auto c = std::make_shared<Collection>();
    for (const auto& p : paths) c->Add(Variant(p));
    return c;
  }
  bool loggedUnusable() {
    for (const auto& e : logEntries())
      if (e.message.find("The attachment folder is not available") != std::string::npos) return true;
    return false;
  }
  Attachments att;
};

TEST_F(AttachmentsTest, UrlAndFolderAreNormalised) {
  std::string url, folder;
  setParameters("http:\\\\portal.example\\att", dir() + "/attachments");
  ASSERT_TRUE(att.GetAttachmentUrlAndFolder(url, folder));
  EXPECT_EQ(url, "http://portal.example/att/");
  EXPECT_EQ(folder, text::Replace(dir(), "/", "\\") + "\\attachments\\");

  setParameters("HTTPS://portal.example/att/", dir() + "\\attachments\\");
  ASSERT_TRUE(att.GetAttachmentUrlAndFolder(url, folder));
  EXPECT_EQ(url, "HTTPS://portal.example/att/");
  EXPECT_EQ(folder, text::Replace(dir(), "/", "\\") + "\\attachments\\");

  // A share is reached through the file store.
  fs::create_directories(dir() + "/shares/fs/att");
  setParameters("http://portal.example/att", "\\\\fs\\att");
  ASSERT_TRUE(att.GetAttachmentUrlAndFolder(url, folder));
  EXPECT_EQ(folder, "\\\\fs\\att\\");
  EXPECT_FALSE(loggedUnusable());
}

TEST_F(AttachmentsTest, UnusableSettingsAnswerFalseAndAreLogged) {
  std::string url, folder;
  setParameters("", dir() + "/attachments");
  EXPECT_FALSE(att.GetAttachmentUrlAndFolder(url, folder));
  EXPECT_TRUE(loggedUnusable());
  setParameters("/attachments", dir() + "/attachments");  // a folder needs an absolute URL
  EXPECT_FALSE(att.GetAttachmentUrlAndFolder(url, folder));
  setParameters("http://portal.example/att", dir() + "/no-such-folder");
  ErrorInfo why;
  EXPECT_FALSE(att.GetAttachmentUrlAndFolder(url, folder, why));
  EXPECT_EQ(why.number, MissingFileLocation);
  EXPECT_NE(why.description.find("no-such-folder"), std::string::npos);
  exec("DELETE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'AttachmentsFolder'");
  EXPECT_FALSE(att.GetAttachmentUrlAndFolder(url, folder, why));
  EXPECT_EQ(why.number, MissingParameter);
}

TEST_F(AttachmentsTest, VirtualPathAloneLiesBelowTheInstallationAndGetsTheSiteAddress) {
  std::string url, folder;
  setParameters("attachments", "");
  // No host name for the SSL mode: the URL would point nowhere.
  for (const char* key : {"SECUREHOSTNAME", "NONSECUREHOSTNAME", "APPLICATIONDIRECTORY"})
    setConfigValue("SiteConfiguration.xml", "GLOBAL", key, "");
  setConfigValue("SiteConfiguration.xml", "COMMONPARAMETERS", "SSLMODE", "");
  EXPECT_FALSE(att.GetAttachmentUrlAndFolder(url, folder));

  setConfigValue("SiteConfiguration.xml", "GLOBAL", "SECUREHOSTNAME", "secure.example");
  setConfigValue("SiteConfiguration.xml", "GLOBAL", "NONSECUREHOSTNAME", "plain.example");
  setConfigValue("SiteConfiguration.xml", "GLOBAL", "APPLICATIONDIRECTORY", "quillon");
  ASSERT_TRUE(att.GetAttachmentUrlAndFolder(url, folder));
  EXPECT_EQ(url, "https://secure.example/quillon/attachments/");
  EXPECT_EQ(folder, dir() + "/attachments/");

  setConfigValue("SiteConfiguration.xml", "COMMONPARAMETERS", "SSLMODE", "NONE");
  setParameters("\\attachments\\", "");
  std::vector<Variant> args{Variant(), Variant()};
  EXPECT_TRUE(Registry::instance().create("Quillon.Attachments")->invoke("GetAttachmentUrlAndFolder", args).toBool());
  EXPECT_EQ(args[0].text(), "http://plain.example/quillon/attachments/");
  EXPECT_EQ(args[1].text(), dir() + "/attachments/");

  setParameters("/missing", "");
  EXPECT_FALSE(att.GetAttachmentUrlAndFolder(url, folder));
}

TEST_F(AttachmentsTest, ScanningAFolderRecordsNewFilesAndDropsEmptyOnes) {
  exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (5, 'known.pdf'), (6, 'a.txt')");
  std::string folder = dir() + "/attachments/5";
  writeFile("attachments/5/a.txt", "alpha");
  writeFile("attachments/5/known.pdf", "pdf");
  writeFile("attachments/5/O'Neil.txt", "quote");
  writeFile("attachments/5/z.txt", "zed");
  writeFile("attachments/5/empty.txt", "");
  att.ExamenFolderForNewFilesAndWriteThemToDB(5, text::Replace(folder, "/", "\\"));
  EXPECT_EQ(rows(5), "O'Neil.txt,a.txt,known.pdf,z.txt");
  EXPECT_FALSE(fs::exists(folder + "/empty.txt"));
  // A second scan finds every file recorded.
  att.ExamenFolderForNewFilesAndWriteThemToDB(5, folder);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM ATTACHMENT WHERE DOCUMENTID = 5"), "4");
  // A missing folder is nothing to scan.
  att.ExamenFolderForNewFilesAndWriteThemToDB(5, dir() + "/attachments/77");

  // A document folder on a share.
  writeFile("shares/fs/att/6/b.txt", "beta");
  att.ExamenFolderForNewFilesAndWriteThemToDB(6, "\\\\fs\\att\\6");
  EXPECT_EQ(rows(6), "a.txt,b.txt");
}

TEST_F(AttachmentsTest, RecordsetsAreDetachedAndPerDocument) {
  exec("INSERT INTO ATTACHMENT (ATTACHMENTID, DOCUMENTID, ATTACHMENTFILENAME) VALUES (1, 5, 'a.txt'), (2, 5, 'b.txt'),"
       " (3, 6, 'c.txt')");
  auto rs = att.GetDocumentAttachmentsRS(5);
  EXPECT_FALSE(rs->IsConnected());
  EXPECT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(rs->Fields("ATTACHMENTFILENAME").Value().text(), "a.txt");
  EXPECT_EQ(rs->Fields("ATTACHMENTID").Value().toInt32(), 1);
  EXPECT_EQ(att.GetDocumentAttachmentsBySenderRS("alice", 5)->RecordCount(), 2);
  EXPECT_EQ(att.GetDocumentAttachmentsBySenderRS("bob", 5)->RecordCount(), 0);
  auto files = att.getDBFiles(6);
  EXPECT_FALSE(files->IsConnected());
  EXPECT_EQ(files->Fields("attachmentfilename").Value().text(), "c.txt");
}

TEST_F(AttachmentsTest, DeletingStaysInsideTheDocumentsFolder) {
  exec("INSERT INTO ATTACHMENT (ATTACHMENTID, DOCUMENTID, ATTACHMENTFILENAME) VALUES (1, 5, 'a.txt'), (2, 5, 'x.txt')");
  std::string file = writeFile("attachments/5/a.txt", "alpha");
  std::string outside = writeFile("attachments/6/x.txt", "other document");
  att.DeleteAttachment(5, 1, "a.txt", dir() + "\\attachments");
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(rows(5), "x.txt");

  for (const char* name : {"..\\6\\x.txt", "../6/x.txt", "..", ""}) {
    EXPECT_RAISES(InvalidParamValue, att.DeleteAttachment(5, 2, name, dir() + "/attachments"));
  }
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_EQ(rows(5), "x.txt");
  // A file that is not there is reported.
  EXPECT_RAISES(hr::kFileNotFound, att.DeleteAttachment(5, 2, "x.txt", dir() + "/attachments"));
}

TEST_F(AttachmentsTest, CopyingACollectionCopiesEachFileOnceAndRecordsFailures) {
  std::string a = writeFile("in/a.txt", "alpha");
  std::string other = writeFile("in/other/a.txt", "second alpha");
  std::string noExtension = writeFile("in/README", "read me");
  writeFile("attachments/5/old.txt", "kept");
  std::string missing = dir() + "/in/missing.txt";
  exec("INSERT INTO I18NTEXT (LABEL, LOCALEID, TEXT) VALUES ('SLBSH0002', 1031, 'Datei')");

  PublishCreateDocument p;
  EXPECT_EQ(p.GetPublisherLanguageID(), 0);
  p.SetPublisherLanguageID("1031");
  p.CopyAttachmentCollection(5, Variant(collection({a, text::UCase(a), missing, other, noExtension, a})));

  // The same path twice is one file; the path in other letters is another
  // path (here naming no file, so it is recorded); a different file of the
  // same name gets a name of its own.
  EXPECT_EQ(rows(5), "README,a.txt,a_1.txt");
  EXPECT_EQ(content(dir() + "/attachments/5/a.txt"), "alpha");
  EXPECT_EQ(content(dir() + "/attachments/5/a_1.txt"), "second alpha");
  EXPECT_EQ(content(dir() + "/attachments/5/README"), "read me");
  EXPECT_EQ(content(dir() + "/attachments/5/old.txt"), "kept");
  EXPECT_EQ(errorLabels(5), "SLBSH1816,SLBSH1816");
  std::string description = scalar("SELECT GROUP_CONCAT(DESCRIPTION) FROM PUBLICATIONERRORS WHERE DOCUMENTID = 5");
  EXPECT_NE(description.find("\r\nDatei: '" + missing + "'"), std::string::npos) << description;
  EXPECT_NE(description.find("\r\nDatei: '" + text::UCase(a) + "'"), std::string::npos) << description;
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(DISTINCT ERRORNUMBER) FROM PUBLICATIONERRORS WHERE DOCUMENTID = 5"),
            std::to_string(hr::kFileNotFound));

  // Copying again replaces the file and adds its row again.
  writeFile("in/a.txt", "alpha 2");
  p.CopyAttachmentCollection(5, Variant(VariantArray::ofStrings({a})));
  EXPECT_EQ(content(dir() + "/attachments/5/a.txt"), "alpha 2");
}

TEST_F(AttachmentsTest, CopyingIntoAShareAndWithUnusableSettings) {
  std::string a = writeFile("in/a.txt", "alpha");
  fs::create_directories(dir() + "/shares/fs/att");
  setParameters("http://portal.example/att", "\\\\fs\\att");
  PublishCreateDocument p;
  p.CopyAttachmentCollection(6, Variant(collection({a})));
  EXPECT_EQ(content(dir() + "/shares/fs/att/6/a.txt"), "alpha");
  EXPECT_EQ(rows(6), "a.txt");

  // Nothing to copy: the settings are not even read.
  setParameters("", "");
  p.CopyAttachmentCollection(5, Variant());
  p.CopyAttachmentCollection(5, Variant(collection({})));
  EXPECT_EQ(errorLabels(5), "");

  p.CopyAttachmentCollection(5, Variant(collection({a})));
  EXPECT_EQ(errorLabels(5), "SLBSH1808");
  EXPECT_EQ(scalar("SELECT ERRORNUMBER FROM PUBLICATIONERRORS WHERE DOCUMENTID = 5"), std::to_string(MissingFileLocation));
  EXPECT_EQ(rows(5), "");
}

TEST_F(AttachmentsTest, PublisherLanguage) {
  PublishCreateDocument p;
  for (auto [given, expected] : std::vector<std::pair<std::string, int>>{{"1031", 1031}, {"abc", 1033}, {"", 1033}, {" 3082 ", 3082}}) {
    p.SetPublisherLanguageID(given);
    EXPECT_EQ(p.GetPublisherLanguageID(), expected) << given;
  }
  std::vector<Variant> args{Variant("1043")};
  auto object = Registry::instance().create("Quillon.PublishCreateDocument");
  object->invoke("SetPublisherLanguageID", args);
  std::vector<Variant> none;
  EXPECT_EQ(object->invoke("GetPublisherLanguageID", none).toInt32(), 1043);
}

}  // namespace
}  // namespace quillon
