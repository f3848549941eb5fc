// Mailboxes read as Maildir folders and over IMAP from a real Dovecot.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/Mailbox.h"
#include "platform/Network.h"
#include "tests/LoopbackServers.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon::test {
namespace {

// The site fixture's helpers, also for tests that need no site.
struct Helpers : TestSite {
  using TestSite::read;
};

using mailbox::MailboxSettings;
using mailbox::OpenMailbox;

std::string message(const std::string& subject, const std::string& attachmentName = "") {
  std::string m = "From: partner@x.test\r\nTo: orders@quillon.test\r\nSubject: " + subject +
                  "\r\nMIME-Version: 1.0\r\n";
  if (attachmentName.empty()) return m + "Content-Type: text/plain\r\n\r\nbody of " + subject + "\r\n";
  return m + "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nsee attachment\r\n"
             "--b\r\nContent-Type: application/xml\r\nContent-Disposition: attachment; filename=\"" +
         attachmentName + "\"\r\n\r\n<ORDER/>\r\n--b--\r\n";
}

// Sets a file's modification time, which orders Maildir messages.
void age(const fs::path& p, int secondsAgo) {
  fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

class MaildirTest : public ::testing::Test {
 protected:
  LoopbackServers servers;  // only its folders: no server is started
  MailboxSettings settings() const {
    MailboxSettings s;
    s.maildirRoot = servers.boxesRoot();
    return s;
  }
  fs::path box(const std::string& account) const { return fs::path(servers.boxesRoot()) / account; }
};

TEST_F(MaildirTest, ListReadAndDeleteOldestFirstWithStableIds) {
  std::string first = servers.DeliverToBox("orders", message("first", "order.xml"));
  std::string second = servers.DeliverToBox("orders", message("second"));
  std::string third = servers.DeliverToBox("orders", message("third"));
  age(box("orders") / "new" / first, 30);
  age(box("orders") / "new" / second, 20);
  age(box("orders") / "new" / third, 10);
  servers.DeliverToBox("other", message("not mine"));
  // Half-delivered (tmp/) and hidden files are no messages.
  std::ofstream(box("orders") / "tmp" / "1.half.delivery") << "From: x";
  std::ofstream(box("orders") / "new" / ".hidden") << "From: x";

  auto mb = OpenMailbox("orders", settings());
  EXPECT_EQ(mb->Account(), "orders");
  EXPECT_EQ(mb->List(), (std::vector<std::string>{first, second, third}));

  // A mail service that has seen a message moves it to cur/ with flags;
  // the id stays the same.
  fs::rename(box("orders") / "new" / second, box("orders") / "cur" / (second + ":2,S"));
  EXPECT_EQ(mb->List(), (std::vector<std::string>{first, second, third}));
  EXPECT_EQ(mb->ReadRaw(second), message("second"));
  fs::rename(box("orders") / "new" / third, box("orders") / "cur" / (third + ":2,"));
  EXPECT_EQ(mb->ReadRaw(third), message("third")) << "a message moved since the listing is still found";

  auto parsed = mb->Read(first);
  EXPECT_EQ(parsed.subject, "first");
  ASSERT_EQ(parsed.attachments.size(), 1u);
  EXPECT_EQ(parsed.attachments[0].name, "order.xml");
  EXPECT_EQ(parsed.attachments[0].content, "<ORDER/>");

  mb->Delete(second);
  EXPECT_FALSE(fs::exists(box("orders") / "cur" / (second + ":2,S")));
  EXPECT_EQ(mb->List(), (std::vector<std::string>{first, third}));
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mb->ReadRaw(second)).number(), hr::kFileNotFound);
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mb->Delete(second)).number(), hr::kFileNotFound);
  for (const char* bad : {"../other", "..", "", "/etc/passwd"})
    EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mb->ReadRaw(bad)).number(), hr::kFileNotFound) << bad;
}

TEST_F(MaildirTest, AccountsMustBeExistingSingleNames) {
  servers.DeliverToBox("orders", message("x"));
  for (const char* bad : {"", ".", "..", "../orders", "a/b", "a\\b", "a\nb"})
    EXPECT_EQ(EXPECT_RAISES(test::kAnyError, OpenMailbox(bad, settings())).number(), hr::kInvalidArg) << bad;
  Error missing = EXPECT_RAISES(test::kAnyError, OpenMailbox("nobody-here", settings()));
  EXPECT_EQ(missing.number(), hr::kFileNotFound);
  EXPECT_EQ(missing.source(), mailbox::kMailboxSource);
  MailboxSettings wrong = settings();
  wrong.store = "pop3";
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, OpenMailbox("orders", wrong)).number(), hr::kInvalidArg);
}

TEST_F(MaildirTest, AMessageThatCannotBeDeletedIsReported) {
  std::string id = servers.DeliverToBox("locked", message("stays"));
  fs::path folder = box("locked") / "new";
  // The deleting process may not write the folder. Root may write any
  // folder, so the attempt runs in a child without privileges then.
  auto attempt = [&]() -> int {
    try {
      OpenMailbox("locked", settings())->Delete(id);
      return 1;  // reported success
    } catch (const Error& e) {
      return e.number() == hr::kPermissionDenied && e.description().find(id) != std::string::npos ? 0 : 2;
    }
  };
  int outcome;
  if (::geteuid() == 0) {
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    ASSERT_EQ(::chown(folder.c_str(), 0, 0), 0);
    pid_t child = ::fork();
    if (child == 0) {
      const passwd* pw = ::getpwnam("nobody");
      if (!pw || ::setgid(pw->pw_gid) != 0 || ::setuid(pw->pw_uid) != 0) ::_exit(3);
      ::_exit(attempt());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    outcome = WIFEXITED(status) ? WEXITSTATUS(status) : 4;
  } else {
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::remove);
    outcome = attempt();
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
  }
  EXPECT_EQ(outcome, 0) << "1: deletion reported as done, 2: wrong error, 3/4: test set-up";
  EXPECT_TRUE(fs::exists(folder / id));
}

TEST_F(MaildirTest, MailSentToTheRelayArrivesInTheAccountsMailbox) {
  LoopbackServers::SmtpOptions options;
  options.deliverToBoxes = true;
  int port = servers.StartSmtp(options);
  ASSERT_NE(port, 0);
  servers.MakeServerFolder(servers.boxesRoot() + "/orders/new");  // the account exists before mail comes
  mail::OutgoingMail m;
  m.from = "partner@x.test";
  m.to = "orders@quillon.test";
  m.subject = "Bestellung";
  m.attachments = {{servers.folder() + "/order.xml", ""}};
  std::ofstream(m.attachments[0].path) << "<ORDER/>";
  mail::MailSettings relay;
  relay.smtpServer = "127.0.0.1";
  relay.smtpPort = port;
  mail::SendMail(m, relay);

  auto mb = OpenMailbox("orders", settings());
  auto ids = mb->List();
  ASSERT_EQ(ids.size(), 1u);
  auto got = mb->Read(ids[0]);
  EXPECT_EQ(got.subject, "Bestellung");
  ASSERT_EQ(got.attachments.size(), 1u);
  EXPECT_EQ(got.attachments[0].content, "<ORDER/>");
}

class ImapTest : public ::testing::Test {
 protected:
  LoopbackServers servers;
  int port = 0;
  void SetUp() override {
    port = servers.StartImap({"orders", "sales"}, "Imap-S3cret");
    ASSERT_NE(port, 0);
  }
  MailboxSettings settings(const std::string& password = "Imap-S3cret") const {
    MailboxSettings s;
    s.store = "imap";
    s.imapServer = "127.0.0.1";
    s.imapPort = port;
    s.imapPassword = password;
    s.maildirRoot = servers.boxesRoot();
    return s;
  }
};

TEST_F(ImapTest, ListReadAndDeleteOverImapOnTheSameAccounts) {
  servers.DeliverToBox("orders", message("one", "Bestellübersicht.xml"));
  servers.DeliverToBox("orders", message("two"));
  servers.DeliverToBox("orders", message("three"));
  servers.DeliverToBox("sales", message("elsewhere"));

  auto mb = OpenMailbox("orders", settings());
  auto ids = mb->List();
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_LT(std::stoull(ids[0]), std::stoull(ids[1]));
  EXPECT_LT(std::stoull(ids[1]), std::stoull(ids[2]));
  EXPECT_EQ(mb->ReadRaw(ids[1]), message("two"));
  auto first = mb->Read(ids[0]);
  EXPECT_EQ(first.subject, "one");
  ASSERT_EQ(first.attachments.size(), 1u);
  EXPECT_EQ(first.attachments[0].content, "<ORDER/>");

  mb->Delete(ids[1]);
  EXPECT_EQ(mb->List(), (std::vector<std::string>{ids[0], ids[2]}));
  servers.DeliverToBox("orders", message("four"));  // arrives while the mailbox is open
  auto later = mb->List();
  ASSERT_EQ(later.size(), 3u);
  EXPECT_EQ(mb->Read(later[2]).subject, "four");
  mb->Delete(later[2]);
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mb->ReadRaw(ids[1])).number(), hr::kFileNotFound);
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mb->Delete(ids[1])).number(), hr::kFileNotFound);
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mb->ReadRaw("not-a-uid")).number(), hr::kFileNotFound);

  // The Maildir store sees the same account: the deleted message is gone.
  MailboxSettings local = settings();
  local.store = "maildir";
  auto direct = OpenMailbox("orders", local);
  auto remaining = direct->List();
  ASSERT_EQ(remaining.size(), 2u);
  std::vector<std::string> subjects;
  for (const auto& id : remaining) subjects.push_back(direct->Read(id).subject);
  std::sort(subjects.begin(), subjects.end());
  EXPECT_EQ(subjects, (std::vector<std::string>{"one", "three"}));

  EXPECT_EQ(OpenMailbox("sales", settings())->List().size(), 1u);
}

TEST_F(ImapTest, RefusedLoginNamesNoPassword) {
  Error e = EXPECT_RAISES(test::kAnyError, OpenMailbox("orders", settings("Wrong-Imap-Pw")));
  EXPECT_EQ(e.number(), net::wininet::kLoginFailure);
  EXPECT_EQ(e.source(), mailbox::kMailboxSource);
  EXPECT_EQ(e.description().find("Wrong-Imap-Pw"), std::string::npos) << e.description();
  EXPECT_EQ(e.description().find("Imap-S3cret"), std::string::npos);
}

class MailboxSiteTest : public TestSite {};

TEST_F(MailboxSiteTest, SettingsComeFromTheSiteConfiguration) {
  auto s = mailbox::SiteMailboxSettings();
  EXPECT_EQ(s.store, "maildir");
  EXPECT_EQ(s.maildirRoot, (fs::path(dir()) / "mail/boxes").string());
  fs::create_directories(fs::path(dir()) / "mail/boxes/orders/new");
  fs::create_directories(fs::path(dir()) / "mail/boxes/orders/cur");
  EXPECT_TRUE(OpenMailbox("orders")->List().empty());

  setConfigValue("SiteConfiguration.xml", "MAILBOX", "Store", "IMAP");
  setConfigValue("SiteConfiguration.xml", "MAILBOX", "ImapServer", "mail.example.test");
  setConfigValue("SiteConfiguration.xml", "MAILBOX", "ImapPort", "1143");
  setConfigValue("SiteConfiguration.xml", "MAILBOX", "ImapSecurity", "tls");
  setConfigValue("SiteConfiguration.xml", "MAILBOX", "ImapPassword", "pw");
  setConfigValue("SiteConfiguration.xml", "MAILBOX", "MaildirRoot", "/var/mail/boxes");
  s = mailbox::SiteMailboxSettings();
  EXPECT_EQ(s.store, "imap");
  EXPECT_EQ(s.imapServer, "mail.example.test");
  EXPECT_EQ(s.imapPort, 1143);
  EXPECT_EQ(s.imapSecurity, "tls");
  EXPECT_EQ(s.imapPassword, "pw");
  EXPECT_EQ(s.maildirRoot, "/var/mail/boxes");
}

}  // namespace
}  // namespace quillon::test
