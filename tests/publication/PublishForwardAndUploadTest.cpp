// Forwarding stored documents and reading what uploads left, on a real
// sample site with real files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/Error.h"
#include "platform/Variant.h"
#include "publication/PublishByUpload.h"
#include "publication/PublishForwardDocument.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

const std::string kOrder =
    "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><NUMBER>PO-3</NUMBER></ORDER>";

class PublishForwardDocumentTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
  }
  // A published order of alice's with one attachment, bob holding a copy.
  void storeSource(int id, const std::string& xml) {
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, XMLBODY, ORIGINALXMLBODY) VALUES (" +
         std::to_string(id) + ", 'ORDER', 'alice', 1, '" + xml + "', '" + xml + "')");
    exec("INSERT INTO PUBLICATION VALUES (" + std::to_string(id) + ", 'bob', 1, 0, NULL)");
    exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (" + std::to_string(id) + ", 'terms.txt')");
    writeFile("attachments/" + std::to_string(id) + "/terms.txt", "terms");
  }
  PublishForwardDocument forward;
};

TEST_F(PublishForwardDocumentTest, AForwardIsANewDocumentWithTheAttachmentsAndTheFlag) {
  storeSource(40, kOrder);
  // bob may send invoices (sample sender list); the order becomes one.
  const std::int32_t id = forward.Main2(40, "INVOICE", "bob", dir() + "/attachments");
  ASSERT_GT(id, 40);
  EXPECT_EQ(scalar("SELECT DOCUMENTTYPEID || '|' || SENDER || '|' || DOC_DOCUMENTID || '|' || XMLBODY FROM DOCUMENT "
                   "WHERE DOCUMENTID = " + std::to_string(id)),
            "INVOICE|bob|40|" + kOrder);
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(ATTACHMENTFILENAME) FROM ATTACHMENT WHERE DOCUMENTID = " + std::to_string(id)),
            "terms.txt");
  EXPECT_EQ(read(dir() + "/attachments/" + std::to_string(id) + "/terms.txt"), "terms");
  EXPECT_EQ(scalar("SELECT FORWARD FROM PUBLICATION WHERE DOCUMENTID = 40 AND USERID = 'bob'"), "1");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS"), "0");
  EXPECT_TRUE(forward.TransformExist(40) == false);
  exec("INSERT INTO DOCTYPETODOCTYPE (DOCUMENTTYPEID, NEWDOCUMENTTYPEID, TRANSFORMXSLNAME) VALUES ('ORDER', 'INVOICE', '')");
  EXPECT_TRUE(forward.TransformExist(40));
  forward.RemoveAllRecipientsForDocument(40);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATION WHERE DOCUMENTID = 40"), "0");
}

TEST_F(PublishForwardDocumentTest, AnAttachmentFailureIsRecordedAndTheForwardStands) {
  storeSource(41, kOrder);
  fs::remove_all(dir() + "/attachments/41");
  exec("CREATE TRIGGER refuse BEFORE INSERT ON ATTACHMENT BEGIN SELECT RAISE(ABORT, 'attachments refused'); END");
  const std::int32_t id = forward.Main2(41, "INVOICE", "bob", dir() + "/attachments");
  ASSERT_GT(id, 0);
  const std::string description =
      scalar("SELECT DESCRIPTION FROM PUBLICATIONERRORS WHERE LABEL = 'SLBSH1808' AND DOCUMENTID = " + std::to_string(id));
  EXPECT_NE(description.find("attachments refused"), std::string::npos) << description;
  EXPECT_NE(description.find("\r\nCopy from document: '41'\r\nPath : '" + dir() + "/attachments'"), std::string::npos);
  EXPECT_EQ(scalar("SELECT FORWARD FROM PUBLICATION WHERE DOCUMENTID = 41"), "1");

  // A folder that cannot be copied (a pipe is no file to copy) leaves the
  // new document no rows naming files it does not have.
  exec("DROP TRIGGER refuse");
  storeSource(44, kOrder);
  ASSERT_EQ(::mkfifo((dir() + "/attachments/44/pipe").c_str(), 0600), 0);
  const std::int32_t second = forward.Main2(44, "INVOICE", "bob", dir() + "/attachments");
  ASSERT_GT(second, 0);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM ATTACHMENT WHERE DOCUMENTID = " + std::to_string(second)), "0");
  const std::string copyFailure = scalar("SELECT DESCRIPTION FROM PUBLICATIONERRORS WHERE LABEL = 'SLBSH1808' AND "
                                         "DOCUMENTID = " + std::to_string(second));
  EXPECT_NE(copyFailure.find("\r\nCopy from document: '44'"), std::string::npos) << copyFailure;
  EXPECT_EQ(scalar("SELECT FORWARD FROM PUBLICATION WHERE DOCUMENTID = 44"), "1");
}

TEST_F(PublishForwardDocumentTest, WhatCannotBeForwardedSaysWhichStageFailed) {
  storeSource(42, "<OBI_ORDER version=\"3.0\"><SENDER>alice</SENDER></OBI_ORDER>");
  Error e = EXPECT_RAISES(CannotLoadFile, forward.Main2(42, "ORDER", "bob", dir() + "/attachments"));
  EXPECT_NE(e.description().find(" caught: " + I18N::GetLabel("SLBSH4303") + "("), std::string::npos);
  EXPECT_NE(e.description().find("Additional information: " +
                                  I18N::LabelWith("SLBSH4307", {{"[%DOCTYPEID%]", "42"}})),
            std::string::npos)
      << e.description();

  e = EXPECT_RAISES(DocumentIDNotInDatabase, forward.Main2(99, "ORDER", "bob", dir() + "/attachments"));
  EXPECT_EQ(e.source(), "Quillon.PublishForwardDocument");
  EXPECT_NE(e.description().find("Document with documentID = 99doesn't exist."), std::string::npos);

  // carol may not send orders: the new document cannot be made.
  storeSource(43, kOrder);
  e = EXPECT_RAISES(ProcessDocumentError, forward.Main2(43, "ORDER", "carol", dir() + "/attachments"));
  EXPECT_NE(e.description().find(I18N::LabelWith("SLBSH4305", {{"[%TYPE%]", "ORDER"}, {"[%BP%]", "100"}})),
            std::string::npos);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "2") << "nothing half-made stays";

  EXPECT_EQ(forward.Main(43, "bob", ""), -1);
}

// ---- uploads ------------------------------------------------------------------------------

class PublishByUploadTest : public test::TestSite {
 protected:
  std::string upload() const { return dir() + "/upload"; }
  PublishByUpload uploads;
};

TEST_F(PublishByUploadTest, TheUploadedXmlIsReadAndTheStagingFolderGoes) {
  EXPECT_EQ(uploads.ReadXMLFile(upload(), 5), "");  // nothing staged

  writeFile("upload/5/order.xml", "<ORDER>\n  <NUMBER>1</NUMBER>\n</ORDER>");
  writeFile("upload/5/readme.txt", "ignored");
  const std::string xml = uploads.ReadXMLFile(upload(), 5);
  EXPECT_NE(xml.find("<ORDER>\n  <NUMBER>1</NUMBER>\n</ORDER>"), std::string::npos) << "white space is kept";
  EXPECT_FALSE(fs::exists(upload() + "/5"));

  writeFile("upload/6/empty.xml", "");
  Error e = EXPECT_RAISES(MissingXMLFile, uploads.ReadXMLFile(upload(), 6));
  EXPECT_NE(e.description().find("No XML file found"), std::string::npos);
  EXPECT_TRUE(fs::exists(upload() + "/6"));
  EXPECT_FALSE(fs::exists(upload() + "/6/empty.xml"));

  writeFile("upload/7/bad.xml", "<ORDER>");
  e = EXPECT_RAISES(test::kAnyError, uploads.ReadXMLFile(upload(), 7));
  EXPECT_EQ(e.source(), "MSXML.DOMDocument");
  EXPECT_NE(e.description().find("The Dom object couldn't parse the xml file. error:"), std::string::npos);

  writeFile("upload/8/obi.xml", "<OBI_ORDER version='3.0'/>");
  e = EXPECT_RAISES(CannotLoadFile, uploads.ReadXMLFile(upload(), 8));
  EXPECT_NE(e.description().find(I18N::GetLabel("SLBSH4250")), std::string::npos);

  e = EXPECT_RAISES(NotAnExcelFile, uploads.ReadExcelFile(upload(), 9));
  EXPECT_NE(e.description().find("Additional information: " + I18N::GetLabel("SLBSH4226")), std::string::npos);
  writeFile("upload/9/order.xml", "<ORDER/>");
  e = EXPECT_RAISES(NotAnExcelFile, uploads.ReadExcelFile(upload(), 9));
  EXPECT_NE(e.description().find("Additional information: " + I18N::GetLabel("SLBSH4225")), std::string::npos);
}

TEST_F(PublishByUploadTest, PlaceholdersGoWithTheirFilesOnlyOnceTheirDayIsOver) {
  exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, CREATIONDATE) VALUES "
       "(20, NULL, datetime('now', 'localtime', '-1 day')), (21, '', datetime('now', 'localtime', '-3 days')), "
       "(22, NULL, datetime('now', 'localtime')), (23, 'ORDER', datetime('now', 'localtime', '-5 days'))");
  exec("INSERT INTO PUBLICATIONERRORS (DOCUMENTID, ERRORNUMBER, DESCRIPTION) VALUES (20, 1, 'x'), (22, 1, 'y')");
  writeFile("upload/20/old.xml", "<A/>");
  writeFile("upload/22/today.xml", "<B/>");
  uploads.DeleteAllOldTempXMLFiles(upload());
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(DOCUMENTID) FROM (SELECT DOCUMENTID FROM DOCUMENT ORDER BY DOCUMENTID)"), "22,23");
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(DOCUMENTID) FROM PUBLICATIONERRORS"), "22");
  EXPECT_FALSE(fs::exists(upload() + "/20/old.xml"));
  EXPECT_TRUE(fs::exists(upload() + "/22/today.xml")) << "an upload of today is still in progress";

  uploads.DeleteTempDocumentInDB(23);
  uploads.DeleteXMLFileAndDocument(upload(), 22);
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(DOCUMENTID) FROM DOCUMENT"), "23") << "a typed document is no placeholder";
  EXPECT_FALSE(fs::exists(upload() + "/22"));
}

}  // namespace
}  // namespace quillon
