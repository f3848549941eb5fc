// Composing, sending and reading mail against a real SMTP sink.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/Mail.h"
#include "tests/LoopbackServers.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon::test {
namespace {

// The site fixture's helpers, also for tests that need no site.
struct Helpers : TestSite {
  using TestSite::read;
};

using mail::OutgoingMail;

std::string allBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s + "\r\n.\r\n" + s;
}

std::string writeTo(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::vector<std::string> headerLines(const std::string& message) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t eol = message.find("\r\n", start);
    if (eol == std::string::npos || eol == start) break;
    lines.push_back(message.substr(start, eol - start));
    start = eol + 2;
  }
  return lines;
}

bool hasHeader(const std::string& message, const std::string& name) {
  for (const auto& line : headerLines(message))
    if (line.compare(0, name.size() + 1, name + ":") == 0) return true;
  return false;
}

class MailSendTest : public ::testing::Test {
 protected:
  LoopbackServers servers;
  mail::MailSettings relay(int port) const {
    mail::MailSettings s;
    s.smtpServer = "127.0.0.1";
    s.smtpPort = port;
    return s;
  }
};

TEST_F(MailSendTest, EveryRecipientGetsTheUtf8MessageWithItsAttachments) {
  int port = servers.StartSmtp();
  ASSERT_NE(port, 0);
  std::string dir = servers.folder() + "/attach";
  OutgoingMail m;
  m.from = "Zoë Sender <zoe@example.test>";
  m.to = "a@x.test; \"Doe, John\" <john@x.test>, c@x.test";
  m.cc = "d@x.test";
  m.bcc = "hidden@x.test";
  m.subject = "Bestellung über 100 € – Nr. 42";
  m.body = "Grüße aus Köln\r\n.\r\nline with = sign\n";
  m.attachments = {{writeTo(dir + "/Bestellübersicht 1.xml", "<ORDER>ü</ORDER>"), ""},
                   {writeTo(dir + "/data.bin", allBytes()), "C:\\Temp\\..\\Prüfung.bin"}};
  auto result = mail::SendMail(m, relay(port));
  EXPECT_TRUE(result.complete());
  EXPECT_EQ(result.accepted,
            (std::vector<std::string>{"a@x.test", "john@x.test", "c@x.test", "d@x.test", "hidden@x.test"}));

  auto got = servers.SmtpMessages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].mailFrom, "zoe@example.test");
  EXPECT_EQ(got[0].recipients, result.accepted);
  const std::string& raw = got[0].bytes;
  EXPECT_FALSE(hasHeader(raw, "Bcc"));
  EXPECT_TRUE(hasHeader(raw, "Date"));
  EXPECT_TRUE(hasHeader(raw, "Message-Id"));
  EXPECT_NE(raw.find("Content-Type: text/plain; charset=utf-8"), std::string::npos);
  EXPECT_NE(raw.find("Content-Transfer-Encoding: quoted-printable"), std::string::npos);
  EXPECT_NE(raw.find("filename*=UTF-8''Bestell%C3%BCbersicht%201.xml"), std::string::npos) << raw;
  EXPECT_NE(raw.find("=?UTF-8?"), std::string::npos);
  EXPECT_EQ(raw.find("=0D"), std::string::npos) << "line ends were encoded as data";
  for (const auto& line : headerLines(raw)) {
    EXPECT_LE(line.size(), 998u);
    for (char c : line) EXPECT_FALSE(c & 0x80) << "8-bit byte in header line " << line;
  }

  auto parsed = mail::ParseMail(raw);
  EXPECT_EQ(parsed.subject, m.subject);
  EXPECT_EQ(parsed.from, "Zoë Sender <zoe@example.test>");
  EXPECT_EQ(parsed.body, "Grüße aus Köln\n.\nline with = sign\n");
  ASSERT_EQ(parsed.attachments.size(), 2u);
  EXPECT_EQ(parsed.attachments[0].name, "Bestellübersicht 1.xml");
  EXPECT_EQ(parsed.attachments[0].content, "<ORDER>ü</ORDER>");
  EXPECT_EQ(parsed.attachments[1].name, "Prüfung.bin");
  EXPECT_EQ(parsed.attachments[1].content, allBytes());
}

TEST_F(MailSendTest, RefusedRecipientsAreReportedAndTheOthersStillServed) {
  LoopbackServers::SmtpOptions options;
  options.refuse = {"gone@x.test", "left@x.test"};
  int port = servers.StartSmtp(options);
  ASSERT_NE(port, 0);
  OutgoingMail m;
  m.from = "admin@quillon.test";
  m.to = "a@x.test;gone@x.test;c@x.test";
  m.subject = "notice";
  auto result = mail::SendMail(m, relay(port));
  EXPECT_FALSE(result.complete());
  EXPECT_EQ(result.accepted, (std::vector<std::string>{"a@x.test", "c@x.test"}));
  ASSERT_EQ(result.refused.size(), 1u);
  EXPECT_EQ(result.refused[0].address, "gone@x.test");
  EXPECT_EQ(result.refused[0].reply.substr(0, 3), "550");
  EXPECT_NE(result.refusedText().find("gone@x.test (550"), std::string::npos);
  auto got = servers.SmtpMessages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].recipients, result.accepted);

  // Nobody left to deliver to: a failure, and nothing arrives.
  m.to = "gone@x.test, left@x.test";
  Error e = EXPECT_RAISES(test::kAnyError, mail::SendMail(m, relay(port)));
  EXPECT_EQ(e.number(), hr::kMailRecipientsRejected);
  EXPECT_NE(e.description().find("left@x.test"), std::string::npos);
  EXPECT_EQ(servers.SmtpMessages().size(), 1u);
}

TEST_F(MailSendTest, RelayLoginAndItsFailuresNeverShowThePassword) {
  LoopbackServers::SmtpOptions options;
  options.user = "quillon";
  options.password = "Relay-S3cret";
  int port = servers.StartSmtp(options);
  ASSERT_NE(port, 0);
  OutgoingMail m;
  m.from = "admin@quillon.test";
  m.to = "a@x.test";
  m.subject = "with login";
  auto settings = relay(port);
  settings.smtpUser = "quillon";
  settings.smtpPassword = "Relay-S3cret";
  EXPECT_TRUE(mail::SendMail(m, settings).complete());
  EXPECT_EQ(servers.SmtpMessages().size(), 1u);

  settings.smtpPassword = "Wrong-Relay-Pw";
  Error e = EXPECT_RAISES(test::kAnyError, mail::SendMail(m, settings));
  EXPECT_EQ(e.number(), hr::kMailSendFailed);
  EXPECT_EQ(e.source(), mail::kMailSource);
  EXPECT_EQ(e.description().find("Wrong-Relay-Pw"), std::string::npos) << e.description();
  EXPECT_EQ(servers.SmtpMessages().size(), 1u);

  servers.Stop(port);
  e = EXPECT_RAISES(test::kAnyError, mail::SendMail(m, settings));
  EXPECT_EQ(e.number(), hr::kMailCannotConnect);
  EXPECT_EQ(e.description().find("Wrong-Relay-Pw"), std::string::npos);
}

TEST_F(MailSendTest, RequiredEncryptionIsNeverSkipped) {
  int port = servers.StartSmtp();  // offers no STARTTLS
  ASSERT_NE(port, 0);
  OutgoingMail m;
  m.from = "admin@quillon.test";
  m.to = "a@x.test";
  auto settings = relay(port);
  settings.smtpSecurity = "starttls";
  settings.smtpUser = "quillon";
  settings.smtpPassword = "Never-In-Clear";
  Error e = EXPECT_RAISES(test::kAnyError, mail::SendMail(m, settings));
  EXPECT_EQ(e.number(), hr::kMailSendFailed);
  EXPECT_TRUE(servers.SmtpMessages().empty()) << "sent without the required encryption";
}

TEST_F(MailSendTest, BadMessagesAreRefusedBeforeAnyConnection) {
  // Port 1 has no server: every failure below must come from the checks.
  auto settings = relay(1);
  OutgoingMail m;
  m.from = "admin@quillon.test";
  m.to = "a@x.test";
  auto with = [&](auto change) {
    OutgoingMail copy = m;
    change(copy);
    return EXPECT_RAISES(test::kAnyError, mail::SendMail(copy, settings)).number();
  };
  EXPECT_EQ(with([](OutgoingMail& x) { x.from = " "; }), hr::kMailNoSender);
  EXPECT_EQ(with([](OutgoingMail& x) { x.to = "; ,"; }), hr::kMailNoRecipients);
  EXPECT_EQ(with([](OutgoingMail& x) { x.to = "a@x.test; John Doe"; }), hr::kInvalidArg);
  EXPECT_EQ(with([](OutgoingMail& x) { x.cc = "friends: a@x.test, b@x.test;"; }), hr::kInvalidArg);
  EXPECT_EQ(with([](OutgoingMail& x) { x.to = "a@x.test>\r\nRCPT TO:<b@x.test"; }), hr::kInvalidArg);
  EXPECT_EQ(with([](OutgoingMail& x) { x.attachments = {{"/no/such/file.xml", ""}}; }), hr::kFileNotFound);
  settings.smtpSecurity = "ssl3";
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mail::SendMail(m, settings)).number(), hr::kInvalidArg);
}

TEST(MailCompose, CallerTextCannotAddHeaders) {
  OutgoingMail m;
  m.from = "admin@quillon.test";
  m.to = "a@x.test";
  m.subject = "Order\r\nBcc: spy@evil.test\nX-Evil: 1";
  std::string text = mail::ComposeMail(m);
  EXPECT_FALSE(hasHeader(text, "Bcc"));
  EXPECT_FALSE(hasHeader(text, "X-Evil"));
  EXPECT_EQ(mail::ParseMail(text).subject, "Order  Bcc: spy@evil.test X-Evil: 1");
  // A pickup file keeps the blind copies for the mail service.
  m.bcc = "boss@x.test";
  EXPECT_TRUE(hasHeader(mail::ComposeMail(m, true), "Bcc"));
  EXPECT_FALSE(hasHeader(mail::ComposeMail(m, false), "Bcc"));
}

TEST(MailAddresses, ListsSplitAtSemicolonsAndCommasOutsideNames) {
  EXPECT_EQ(mail::SplitAddresses("a@x.test; \"Doe, John\" <j@x.test>,c@x.test ;; (team; b) d@x.test"),
            (std::vector<std::string>{"a@x.test", "j@x.test", "c@x.test", "d@x.test"}));
  EXPECT_TRUE(mail::SplitAddresses("  ").empty());
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mail::SplitAddresses("a@x.test; no-at-sign")).number(), hr::kInvalidArg);
}

TEST(MailFileNames, NamesFromOutsideBecomeSafeFileNames) {
  EXPECT_EQ(mail::SafeFileName("C:\\Users\\x\\..\\order.xml"), "order.xml");
  EXPECT_EQ(mail::SafeFileName("../../etc/passwd"), "passwd");
  EXPECT_EQ(mail::SafeFileName("a\tb\r\n.xml"), "ab.xml");
  EXPECT_EQ(mail::SafeFileName(".."), "attachment");
  EXPECT_EQ(mail::SafeFileName("dir/", "x.bin"), "x.bin");
  EXPECT_EQ(mail::SafeFileName("caf\xE9.txt"), "caf_.txt");  // Latin-1 byte, not UTF-8
  std::string longName;
  for (int i = 0; i < 200; ++i) longName += "ü";
  std::string cut = mail::SafeFileName(longName + ".xml");
  EXPECT_LE(cut.size(), 255u);
  EXPECT_EQ(cut.substr(cut.size() - 4), ".xml");
  EXPECT_EQ(mail::SafeFileName(cut), cut) << "a character was split";
}

// A message as partners send them: nested parts, other charsets, names in
// RFC 2231 continuations and RFC 2047 words, a forwarded message, an
// attachment without a name.
const char* kNested =
    "From: =?ISO-8859-1?Q?Andr=E9?= <andre@partner.test>\n"
    "To: inbox@quillon.test\n"
    "Cc: \"Doe, John\" <j@x.test>\n"
    "Subject: =?UTF-8?B?QmVzdGVsbHVuZyDDvGJlciAxMDAg4oKs?=\n"
    "Date: Tue, 01 Dec 2026 10:00:00 +0100\n"
    "Message-ID: <abc.123@partner.test>\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\n"
    "\n"
    "--outer\n"
    "Content-Type: multipart/alternative; boundary=\"alt\"\n"
    "\n"
    "--alt\n"
    "Content-Type: text/plain; charset=iso-8859-1\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "Gr=FC=DFe aus K=F6ln\n"
    "--alt\n"
    "Content-Type: text/html; charset=utf-8\n"
    "\n"
    "<p>Gr\xC3\xBC\xC3\x9F" "e</p>\n"
    "--alt--\n"
    "--outer\n"
    "Content-Type: application/xml\n"
    "Content-Disposition: attachment; filename*0*=UTF-8''Bestell%C3%BC; filename*1*=bersicht%20Nr%201.xml\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "PE9SREVSLz4=\n"
    "--outer\n"
    "Content-Type: text/plain; name=\"=?ISO-8859-1?Q?R=E9sum=E9.txt?=\"\n"
    "Content-Disposition: attachment; filename=\"=?ISO-8859-1?Q?R=E9sum=E9.txt?=\"\n"
    "\n"
    "plain attachment\n"
    "--outer\n"
    "Content-Type: application/octet-stream\n"
    "Content-Disposition: attachment; filename=\"C:\\\\Users\\\\evil\\\\..\\\\boot.ini\"\n"
    "\n"
    "x\n"
    "--outer\n"
    "Content-Type: message/rfc822\n"
    "\n"
    "From: b@y.test\n"
    "Subject: Original order\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"inner\"\n"
    "\n"
    "--inner\n"
    "Content-Type: text/plain\n"
    "\n"
    "inner body\n"
    "--inner\n"
    "Content-Type: application/xml; name=\"inner.xml\"\n"
    "Content-Disposition: attachment; filename=\"inner.xml\"\n"
    "\n"
    "<INNER/>\n"
    "--inner--\n"
    "--outer\n"
    "Content-Type: image/png\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "iVBORw0KGgo=\n"
    "--outer--\n";

std::string withCrLf(const std::string& s) { return std::regex_replace(s, std::regex("\n"), "\r\n"); }

TEST(MailParse, NestedPartsEncodedNamesAndForwardedMessages) {
  for (const std::string& raw : {std::string(kNested), withCrLf(kNested)}) {
    auto m = mail::ParseMail(raw);
    EXPECT_EQ(m.from, "André <andre@partner.test>");
    EXPECT_EQ(m.fromAddress, "andre@partner.test");
    EXPECT_EQ(m.to, "inbox@quillon.test");
    EXPECT_EQ(m.cc, "\"Doe, John\" <j@x.test>");
    EXPECT_EQ(m.subject, "Bestellung über 100 €");
    EXPECT_EQ(m.messageId, "abc.123@partner.test");
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 1;
    t.tm_hour = 9;
    EXPECT_EQ(m.dateUnix, static_cast<std::int64_t>(::timegm(&t)));
    EXPECT_EQ(m.body, "Grüße aus Köln");
    EXPECT_NE(m.htmlBody.find("<p>Grüße</p>"), std::string::npos);

    ASSERT_EQ(m.attachments.size(), 5u);
    EXPECT_EQ(m.attachments[0].name, "Bestellübersicht Nr 1.xml");
    EXPECT_EQ(m.attachments[0].contentType, "application/xml");
    EXPECT_EQ(m.attachments[0].content, "<ORDER/>");
    EXPECT_EQ(m.attachments[1].name, "Résumé.txt");
    EXPECT_EQ(m.attachments[1].content.substr(0, 16), "plain attachment");
    EXPECT_EQ(m.attachments[2].name, "boot.ini");
    EXPECT_EQ(m.attachments[3].name, "Original order.eml");
    EXPECT_EQ(m.attachments[3].contentType, "message/rfc822");
    EXPECT_NE(m.attachments[3].content.find("<INNER/>"), std::string::npos);
    EXPECT_EQ(m.attachments[4].name, "attachment-1.png");
    EXPECT_EQ(m.attachments[4].content, std::string("\x89PNG\r\n\x1A\n", 8));
  }
}

TEST(MailParse, PlainMessageInAnotherCharsetHasNoAttachments) {
  auto m = mail::ParseMail(
      "From: shop@x.test\nSubject: price\nContent-Type: text/plain; charset=windows-1252\n"
      "Content-Transfer-Encoding: 8bit\n\nPreis: 5 \x80\n");
  EXPECT_EQ(m.body, "Preis: 5 €\n");
  EXPECT_TRUE(m.attachments.empty());
  EXPECT_EQ(m.dateUnix, 0);
  for (const char* junk : {"", "no headers at all", "\x01\x02\xFF"})
    EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mail::ParseMail(junk)).number(), hr::kFail) << junk;
}

// --- the site's settings and the pickup folder ---

class MailSiteTest : public TestSite {};

TEST_F(MailSiteTest, WithoutRelayMessagesGoWholeIntoThePickupFolder) {
  auto settings = mail::SiteMailSettings();
  EXPECT_EQ(settings.smtpServer, "");
  EXPECT_EQ(settings.pickupFolder, (fs::path(dir()) / "mail/pickup").string());
  OutgoingMail m;
  m.from = "admin@quillon.test";
  m.to = "a@x.test";
  m.cc = "A@x.test";  // one address, one envelope recipient
  m.bcc = "b@x.test";
  m.subject = "Über";
  m.attachments = {{writeFile("temp/order.xml", "<ORDER/>"), ""}};
  auto result = mail::SendMail(m);
  EXPECT_EQ(result.accepted, (std::vector<std::string>{"a@x.test", "b@x.test"}));
  ASSERT_FALSE(result.pickupFile.empty());
  EXPECT_EQ(fs::path(result.pickupFile).parent_path(), fs::path(settings.pickupFolder));
  EXPECT_EQ(fs::path(result.pickupFile).extension(), ".eml");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(settings.pickupFolder)) names.push_back(e.path().filename().string());
  ASSERT_EQ(names.size(), 1u) << "a temporary file was left";
  std::string text = read(result.pickupFile);
  EXPECT_TRUE(hasHeader(text, "Bcc"));
  auto parsed = mail::ParseMail(text);
  EXPECT_EQ(parsed.subject, "Über");
  ASSERT_EQ(parsed.attachments.size(), 1u);
  EXPECT_EQ(parsed.attachments[0].content, "<ORDER/>");

  mail::SendMail(m);
  EXPECT_EQ(std::distance(fs::directory_iterator(settings.pickupFolder), fs::directory_iterator()), 2);
}

TEST_F(MailSiteTest, SettingsComeFromTheSiteConfiguration) {
  setConfigValue("SiteConfiguration.xml", "MAIL", "PickupFolder", "out/mail");
  setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpServer", "relay.example.test");
  setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpPort", "587");
  setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpSecurity", "starttls");
  setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpUser", "portal");
  setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpPassword", " secret with blanks ");
  auto s = mail::SiteMailSettings();
  EXPECT_EQ(s.pickupFolder, (fs::path(dir()) / "out/mail").string());
  EXPECT_EQ(s.smtpServer, "relay.example.test");
  EXPECT_EQ(s.smtpPort, 587);
  EXPECT_EQ(s.smtpSecurity, "starttls");
  EXPECT_EQ(s.smtpUser, "portal");
  EXPECT_EQ(s.smtpPassword, " secret with blanks ");
  setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpPort", "25x");
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, mail::SiteMailSettings()).number(), hr::kInvalidArg);
}

TEST_F(MailSiteTest, PickupFolderThatCannotBeMadeIsAnError) {
  writeFile("blocked", "a file where the folder should be");
  setConfigValue("SiteConfiguration.xml", "MAIL", "PickupFolder", "blocked/pickup");
  OutgoingMail m;
  m.from = "admin@quillon.test";
  m.to = "a@x.test";
  Error e = EXPECT_RAISES(test::kAnyError, mail::SendMail(m));
  EXPECT_EQ(e.number(), hr::kPathFileAccess);
  EXPECT_NE(e.description().find("blocked"), std::string::npos);
}

}  // namespace
}  // namespace quillon::test
