// The mailbox import on a real sample site: Maildir accounts written as a
// mail service writes them, a real IMAP server (Dovecot) on loopback, and
// administrator mails in the site's pickup folder.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "imports/EMailImport.h"
#include "imports/EMailImportInternal.h"
#include "platform/Object.h"
#include "tests/cli/CliRunner.h"
#include "tests/LoopbackServers.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

const std::string kOrder =
    "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><RECEIVER>bob</RECEIVER><NUMBER>PO-7</NUMBER></ORDER>";

struct Part {
  std::string disposition;  // the whole Content-Disposition value; "" for an inline text part
  std::string content;
  std::string type = "application/xml";
};

// A message as a partner's mail program writes it: a text part and the
// attachments, optionally nested one multipart deeper.
std::string message(const std::string& subject, const std::vector<Part>& parts, bool nested = false) {
  std::string m = "From: Alice Partner <alice@acme.example>\r\nTo: docs@quillon.test\r\nSubject: " + subject +
                  "\r\nMessage-ID: <" + subject + "@acme.example>\r\nMIME-Version: 1.0\r\n"
                  "Content-Type: multipart/mixed; boundary=outer\r\n\r\n--outer\r\n";
  std::string inner = "Content-Type: text/plain; charset=utf-8\r\n\r\nPlease find attached.\r\n";
  if (nested) m += "Content-Type: multipart/mixed; boundary=inner\r\n\r\n--inner\r\n";
  m += inner;
  const std::string boundary = nested ? "inner" : "outer";
  for (const Part& p : parts)
    m += "--" + boundary + "\r\nContent-Type: " + p.type + "\r\nContent-Disposition: " + p.disposition +
         "\r\n\r\n" + p.content + "\r\n";
  if (nested) m += "--inner--\r\n";
  return m + "--outer--\r\n";
}

Part attachment(const std::string& name, const std::string& content, const std::string& type = "application/xml") {
  return {"attachment; filename=\"" + name + "\"", content, type};
}

class EMailImportTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
    setConfigValue("SiteConfiguration.xml", "MAILBOX", "MaildirRoot", servers.boxesRoot());
    // General notification templates, so that publishing mails the
    // recipients (into the pickup folder) instead of failing for want of one.
    for (const char* row : {"'-1', -1, 1", "'-1', -1, 2", "'-1', -2, 1", "'-1', -2, 2"})
      exec(std::string("INSERT INTO NOTIFICATIONTEMPLATE (DOCUMENTTYPEID, BUSINESSPARTNERID, MODE, SUBJECT, BODY) "
                       "VALUES (") + row + ", 'Document', 'A document arrived.')");
  }
  void TearDown() override {
    for (const auto& f : locked_) setImmutable(f, false);
    TestSite::TearDown();
  }

  void setParameter(const std::string& name, const std::string& value) {
    exec("DELETE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = '" + name + "'");
    exec("INSERT INTO COLLABORATIONPARAMETER (PARAMNAME, PARAMVALUE) VALUES ('" + name + "', '" + value + "')");
  }
  std::string parameter(const std::string& name) const {
    return scalar("SELECT PARAMVALUE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = '" + name + "'");
  }
  std::string deliver(const std::string& account, const std::string& bytes) {
    return servers.DeliverToBox(account, bytes);
  }
  long inBox(const std::string& account) const {
    long n = 0;
    for (const char* sub : {"new", "cur"}) {
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(fs::path(servers.boxesRoot()) / account / sub, ec))
        if (e.is_regular_file()) ++n;
    }
    return n;
  }
  // name -> content of the files in a folder (recursively when asked).
  std::vector<std::pair<std::string, std::string>> files(const std::string& folder, bool recursive = false) const {
    std::vector<std::pair<std::string, std::string>> found;
    std::error_code ec;
    if (recursive) {
      for (const auto& e : fs::recursive_directory_iterator(folder, ec))
        if (e.is_regular_file()) found.emplace_back(e.path().filename().string(), read(e.path().string()));
    } else {
      for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.is_regular_file()) found.emplace_back(e.path().filename().string(), read(e.path().string()));
    }
    std::sort(found.begin(), found.end());
    return found;
  }
  // The administrator mails (and any other) waiting in the pickup folder.
  std::vector<std::string> pickedUp() const {
    std::vector<std::string> mails;
    for (const auto& [name, content] : files(dir() + "/mail/pickup")) mails.push_back(content);
    return mails;
  }
  static long count(const std::vector<std::string>& mails, const std::string& text) {
    return std::count_if(mails.begin(), mails.end(), [&](const std::string& m) { return m.find(text) != std::string::npos; });
  }
  std::string documents() const { return scalar("SELECT COUNT(*) FROM DOCUMENT"); }

  // A message file no process may delete: immutable when the test runs as
  // root (root may unlink anything else), otherwise its folder read-only.
  bool lockMessage(const std::string& account, const std::string& id) {
    fs::path file = fs::path(servers.boxesRoot()) / account / "new" / id;
    if (::geteuid() != 0) {
      fs::permissions(file.parent_path(), fs::perms::owner_write, fs::perm_options::remove);
      locked_.push_back(file.parent_path());
      return true;
    }
    if (!setImmutable(file, true)) return false;
    locked_.push_back(file);
    return true;
  }
  void unlock() {
    for (const auto& f : locked_) setImmutable(f, false);
    locked_.clear();
  }
  static bool setImmutable(const fs::path& p, bool on) {
    if (::geteuid() != 0) {
      fs::permissions(p, fs::perms::owner_write, on ? fs::perm_options::remove : fs::perm_options::add);
      return true;
    }
    int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
  }

  test::LoopbackServers servers;
  std::vector<fs::path> locked_;
};

// ---- parameters ------------------------------------------------------------------------------

TEST_F(EMailImportTest, ParametersAreCheckedOnlyForTheAccountsThatAreSet) {
  EMailImport import;
  EXPECT_EQ(import.GetEmailParameter("EmailImportLocalSMTPServer"), "localhost");
  EXPECT_EQ(import.GetEmailParameter("No'Such"), "") << "no row, and the quote is no SQL";

  // Both accounts blank: nothing is read and nothing else is required.
  exec("DELETE FROM COLLABORATIONPARAMETER WHERE PARAMNAME IN ('XMLErrorPath', 'EmailImportLocalSMTPServer')");
  exec("DELETE FROM COLLABORATIONPARAMETER WHERE PARAMNAME = 'EmailImportSMTPUserID'");
  EMailImportSummary s = RunEMailImport();
  EXPECT_TRUE(s.ran) << s.failure;
  EXPECT_EQ(s.messages, 0);

  // An account set makes the server and the error folder required.
  setParameter("EmailImportSMTPUserID", "drop");
  s = RunEMailImport();
  EXPECT_FALSE(s.ran);
  EXPECT_NE(s.failure.find(I18N::LabelWith("SLBSH4582", {{"[%PARAM%]", "EmailImportLocalSMTPServer"}})), std::string::npos)
      << s.failure;
  EXPECT_NE(s.failure.find(I18N::GetLabel("SLBSH4583")), std::string::npos);
  setParameter("EmailImportLocalSMTPServer", "quillon.test");
  s = RunEMailImport();
  EXPECT_NE(s.failure.find("XMLErrorPath"), std::string::npos) << s.failure;
  setParameter("XMLErrorPath", dir() + "/xml/error");
  setParameter("XMLPath1", " ");
  s = RunEMailImport();
  EXPECT_NE(s.failure.find("XMLPath1"), std::string::npos) << s.failure;
  bool logged = false;
  for (const auto& e : logEntries()) logged |= e.source == "Quillon.EmailImport.GetEmailParameters";
  EXPECT_TRUE(logged);

  // A switched-off document account ("~") is left alone.
  setParameter("EmailImportSMTPUserID", "");
  setParameter("EmailImportForDocumentAttachmentsUserID", "~docs");
  deliver("docs", message("order", {attachment("order.xml", kOrder)}));
  s = RunEMailImport();
  EXPECT_TRUE(s.ran) << s.failure;
  EXPECT_TRUE(s.documentAccountOff);
  EXPECT_EQ(s.messages, 0);
  EXPECT_EQ(inBox("docs"), 1);

  // Both entry points are callable by name.
  auto object = Registry::instance().create("Quillon.EMailImport");
  ASSERT_TRUE(object);
  std::vector<Variant> args{Variant(std::string("AdminEmailAddress"))};
  EXPECT_EQ(object->invoke("GetEmailParameter", args).text(), "admin@localhost");
  std::vector<Variant> none;
  object->invoke("Run", none);
}

TEST_F(EMailImportTest, AnAccountThatCannotLogOnIsLoggedAndTheOtherStillRuns) {
  setParameter("EmailImportSMTPUserID", "no-such-box");
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  deliver("docs", message("order", {attachment("order.xml", kOrder)}));
  EMailImportSummary s = RunEMailImport();
  EXPECT_TRUE(s.ran);
  EXPECT_EQ(s.errors, 1);
  EXPECT_EQ(s.documents, 1);
  bool told = false;
  for (const auto& e : logEntries()) told |= e.message.find(I18N::GetLabel("SLBSH4585")) != std::string::npos;
  EXPECT_TRUE(told);
}

// ---- the drop-box account ------------------------------------------------------------------------

TEST_F(EMailImportTest, DropBoxSavesXmlAndWorkbookAttachmentsUnderFreeNames) {
  setParameter("EmailImportSMTPUserID", "drop");
  const std::string in = dir() + "/xml/in1";
  writeFile("xml/in1/taken.xml", "already here");
  deliver(
      "drop", message("a", {attachment("ORDER.XML", kOrder), attachment("notes.txt", "text", "text/plain"),
                            attachment("taken.xml", "<NEW/>"), attachment("~hidden.xml", "<H/>")}));
  deliver("drop", message("b", {attachment("readme.txt", "only text", "text/plain")}));
  deliver("drop", message("c", {attachment(".xml", "too short")}));

  EMailImportSummary s = RunEMailImport();
  EXPECT_TRUE(s.ran) << s.failure;
  EXPECT_EQ(s.messages, 3);
  EXPECT_EQ(s.filesSaved, 3);
  EXPECT_EQ(s.errors, 0);
  auto saved = files(in);
  ASSERT_EQ(saved.size(), 4u);
  EXPECT_EQ(saved[0], (std::pair<std::string, std::string>{"ORDER.XML", kOrder}));
  EXPECT_EQ(saved[1], (std::pair<std::string, std::string>{"hidden.xml", "<H/>"})) << "a '~' name would never be imported";
  EXPECT_EQ(saved[2], (std::pair<std::string, std::string>{"taken.xml", "already here"})) << "never replaced";
  EXPECT_TRUE(std::regex_match(saved[3].first, std::regex("taken_rad[0-9A-F]{5}\\.xml"))) << saved[3].first;
  EXPECT_EQ(saved[3].second, "<NEW/>");
  EXPECT_EQ(inBox("drop"), 2) << "messages without an import file stay";

  // Nothing is saved twice.
  s = RunEMailImport();
  EXPECT_EQ(s.filesSaved, 0);
  EXPECT_EQ(files(in).size(), 4u);
}

TEST_F(EMailImportTest, ADropBoxMessageThatCannotBeDeletedIsNeverSavedTwice) {
  setParameter("EmailImportSMTPUserID", "drop");
  const std::string id = deliver("drop", message("a", {attachment("order.xml", kOrder)}));
  if (!lockMessage("drop", id)) GTEST_SKIP() << "the file system cannot make a file undeletable";
  EMailImportSummary s = RunEMailImport();
  EXPECT_EQ(s.filesSaved, 1);
  EXPECT_EQ(s.errors, 1);
  s = RunEMailImport();
  EXPECT_EQ(s.filesSaved, 0);
  EXPECT_EQ(files(dir() + "/xml/in1").size(), 1u);
  unlock();
  s = RunEMailImport();
  EXPECT_EQ(s.errors, 0);
  EXPECT_EQ(inBox("drop"), 0);
  EXPECT_EQ(files(dir() + "/xml/in1").size(), 1u);
}

// ---- the document account ------------------------------------------------------------------------

TEST_F(EMailImportTest, TheFirstXmlAttachmentIsTheDocumentAndTheOthersItsAttachments) {
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  deliver("docs", message("two", {attachment("notes.txt", "notes", "text/plain"), attachment("order.xml", kOrder),
                                  attachment("copy.xml", "<COPY/>")}));
  EMailImportSummary s = RunEMailImport();
  EXPECT_TRUE(s.ran) << s.failure;
  EXPECT_EQ(s.documents, 1);
  EXPECT_EQ(s.errors, 0);
  ASSERT_EQ(documents(), "1");
  EXPECT_EQ(scalar("SELECT DOCUMENTTYPEID || '|' || SENDER FROM DOCUMENT"), "ORDER|alice");
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(ATTACHMENTFILENAME, ',') FROM "
                   "(SELECT ATTACHMENTFILENAME FROM ATTACHMENT ORDER BY ATTACHMENTFILENAME)"),
            "copy.xml,notes.txt");
  EXPECT_EQ(inBox("docs"), 0);
  for (const auto& e : fs::directory_iterator(dir() + "/temp"))
    EXPECT_FALSE(e.is_directory() && e.path().filename().string()[0] == 'F') << "working folder left: " << e.path();
  EXPECT_EQ(files(dir() + "/mail/import-records", true).size(), 0u);
}

TEST_F(EMailImportTest, EncodedAndNonAsciiAttachmentNamesInNestedPartsArrive) {
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  deliver("docs", message("names",
                          {{"attachment; filename*=utf-8''Bestellung%20M%C3%BCller.xml", kOrder, "application/xml"},
                           {"attachment; filename=\"=?UTF-8?B?UHLDvGZiZXJpY2h0LnR4dA==?=\"", "report", "text/plain"}},
                          true));
  EMailImportSummary s = RunEMailImport();
  EXPECT_EQ(s.documents, 1) << s.failure;
  EXPECT_EQ(scalar("SELECT ATTACHMENTFILENAME FROM ATTACHMENT"), "Prüfbericht.txt");
}

TEST_F(EMailImportTest, AMessageThatCannotBePublishedIsKeptForTheAdministratorAndDeleted) {
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  deliver("docs", message("plain", {}));
  deliver("docs", message("broken", {attachment("order.xml", "<ORDER><unclosed>")}));
  EMailImportSummary s = RunEMailImport();
  EXPECT_TRUE(s.ran);
  EXPECT_EQ(s.messages, 2);
  EXPECT_EQ(s.documents, 0);
  EXPECT_EQ(s.errors, 2);
  EXPECT_EQ(inBox("docs"), 0);
  auto kept = files(dir() + "/xml/error", true);
  std::vector<std::string> names;
  for (const auto& [n, c] : kept) names.push_back(n);
  EXPECT_GE(std::count(names.begin(), names.end(), "message.eml") + std::count(names.begin(), names.end(), "message_1.eml"), 2)
      << "the whole message is kept, also one without attachments";
  bool bodyKept = false;
  for (const auto& [n, c] : kept) bodyKept |= c.find("Subject: plain") != std::string::npos;
  EXPECT_TRUE(bodyKept);
  auto mails = pickedUp();
  EXPECT_EQ(count(mails, "Subject: " + I18N::GetLabel("SLBSH4590")), 2) << "one administrator mail per message";
  bool noAttachmentError = false;
  for (const auto& e : logEntries())
    noAttachmentError |= e.message.find(I18N::GetLabel("SLBSH0046")) != std::string::npos;
  EXPECT_TRUE(noAttachmentError);

  // Without an administrator address nothing is deleted: the message waits.
  setParameter("AdminEmailAddress", "");
  deliver("docs", message("plain2", {}));
  s = RunEMailImport();
  EXPECT_EQ(s.errors, 1);
  EXPECT_EQ(inBox("docs"), 1);
}

TEST_F(EMailImportTest, AMessageThatCannotBeDeletedSwitchesTheAccountOffAndIsNeverPublishedTwice) {
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  const std::string first = deliver("docs", message("first", {attachment("order.xml", kOrder)}));
  if (!lockMessage("docs", first)) GTEST_SKIP() << "the file system cannot make a file undeletable";
  EMailImportSummary s = RunEMailImport();
  EXPECT_EQ(s.documents, 1);
  EXPECT_EQ(s.errors, 1);
  EXPECT_EQ(parameter("EmailImportForDocumentAttachmentsUserID"), "~docs");
  EXPECT_EQ(count(pickedUp(), "EmailImportForDocumentAttachmentsUserID"), 1);

  // Off: the next run leaves the account alone.
  deliver("docs", message("second", {attachment("order.xml", kOrder)}));
  s = RunEMailImport();
  EXPECT_TRUE(s.documentAccountOff);
  EXPECT_EQ(s.messages, 0);

  // Switched on again too early: the message is recognised and not published again.
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  s = RunEMailImport();
  EXPECT_EQ(s.documents, 0);
  EXPECT_EQ(documents(), "1");
  EXPECT_EQ(parameter("EmailImportForDocumentAttachmentsUserID"), "~docs");

  unlock();
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  s = RunEMailImport();
  EXPECT_EQ(s.errors, 0);
  EXPECT_EQ(s.documents, 1) << "only the second message";
  EXPECT_EQ(documents(), "2");
  EXPECT_EQ(inBox("docs"), 0);
}

TEST_F(EMailImportTest, AMessageARunStoppedOnIsNotPublishedAgainButKeptForTheAdministrator) {
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  const std::string raw = message("interrupted", {attachment("order.xml", kOrder)});
  const std::string id = deliver("docs", raw);
  // What a run leaves when it dies while publishing.
  emailimport::MessageRecords("docs").Mark(id, raw, emailimport::MessageRecords::State::Started, "publishing");
  EMailImportSummary s = RunEMailImport();
  EXPECT_EQ(s.documents, 0);
  EXPECT_EQ(documents(), "0");
  EXPECT_EQ(inBox("docs"), 0);
  auto mails = pickedUp();
  ASSERT_EQ(mails.size(), 1u);
  auto kept = files(dir() + "/xml/error", true);
  EXPECT_EQ(kept.size(), 2u) << "the attachment and the message";
}

TEST_F(EMailImportTest, TheDocumentAccountIsReadOverImapAsWell) {
  const int port = servers.StartImap({"docs"}, "Imap-S3cret");
  ASSERT_NE(port, 0);
  setConfigValue("SiteConfiguration.xml", "MAILBOX", "Store", "imap");
  setConfigValue("SiteConfiguration.xml", "MAILBOX", "ImapServer", "127.0.0.1");
  setConfigValue("SiteConfiguration.xml", "MAILBOX", "ImapPort", std::to_string(port));
  setConfigValue("SiteConfiguration.xml", "MAILBOX", "ImapPassword", "Imap-S3cret");
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  deliver("docs", message("over-imap", {attachment("order.xml", kOrder), attachment("more.xml", "<MORE/>")}));
  EMailImportSummary s = RunEMailImport();
  EXPECT_TRUE(s.ran) << s.failure;
  EXPECT_EQ(s.messages, 1);
  EXPECT_EQ(s.documents, 1);
  EXPECT_EQ(scalar("SELECT ATTACHMENTFILENAME FROM ATTACHMENT"), "more.xml");
  EXPECT_EQ(RunEMailImport().messages, 0) << "expunged on the server";
  for (const auto& e : logEntries()) EXPECT_EQ(e.message.find("Imap-S3cret"), std::string::npos);
}

TEST_F(EMailImportTest, ASecondRunWhileOneIsWorkingTakesNothingIn) {
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  deliver("docs", message("order", {attachment("order.xml", kOrder)}));
  // The lock a working run holds (another process's flock conflicts with ours).
  int fd = ::open((dir() + "/temp/mail-import-run.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EMailImportSummary s = RunEMailImport();
  EXPECT_TRUE(s.ran);
  EXPECT_TRUE(s.skipped);
  EXPECT_EQ(inBox("docs"), 1);
  ::close(fd);
  s = RunEMailImport();
  EXPECT_FALSE(s.skipped);
  EXPECT_EQ(s.documents, 1);
}

TEST_F(EMailImportTest, TheRunCommandPrintsOneLineAndFailsOnlyWhenTheJobCannotRun) {
  setParameter("EmailImportForDocumentAttachmentsUserID", "docs");
  deliver("docs", message("good", {attachment("order.xml", kOrder)}));
  deliver("docs", message("bad", {attachment("order.xml", "<ORDER>")}));
  test::CliRun r = test::RunQuillon({"--site", dir(), "run", "mail-import"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(std::regex_match(r.out, std::regex("mail-import: 2 messages seen, 1 document made, 0 files saved for the "
                                                 "folder import, 1 error, [0-9.]+ seconds\n")))
      << r.out;

  setParameter("XMLErrorPath", "");
  r = test::RunQuillon({"--site", dir(), "run", "mail-import"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("XMLErrorPath"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace quillon
