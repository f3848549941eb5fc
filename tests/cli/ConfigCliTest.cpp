// `quillon config get|set` as an operator uses it on a site.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/Configuration.h"
#include "tests/TestSite.h"
#include "tests/cli/CliRunner.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

struct ConfigRun {
  int status = -1;
  std::string out, err;
};

class ConfigCliTest : public test::TestSite {
 protected:
  std::string file() const { return dir() + "/SiteConfiguration.xml"; }

  ConfigRun config(std::vector<std::string> args, const std::string& input = "", std::string site = "") {
    std::string in = test::TestSite::writeFile("cli-stdin.txt", input);
    std::string errFile = dir() + "/cli-stderr.txt";
    std::vector<std::string> all{"--site", site.empty() ? dir() : site, "config"};
    all.insert(all.end(), args.begin(), args.end());
    test::CliRun r = test::RunQuillon(all, " <" + test::ShellQuote(in) + " 2>" + test::ShellQuote(errFile));
    return {r.status, r.out, read(errFile)};
  }
  // What the component reads, through its own configuration service.
  Variant componentValue(const std::string& section, const std::string& key) const {
    Configuration c;
    c.Load(file());
    return c.GetValue(section, key);
  }
  // Files in the site folder other than the ones the installer made.
  std::vector<std::string> strayFiles() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir()))
      if (e.path().filename().string().rfind(".SiteConfiguration", 0) == 0) out.push_back(e.path().string());
    return out;
  }
  unsigned mode() const {
    struct stat st {};
    ::stat(file().c_str(), &st);
    return st.st_mode & 07777;
  }
};

TEST_F(ConfigCliTest, SetChangesOneValueAndKeepsTheRestOfTheFile) {
  const std::string before = read(file());
  ASSERT_EQ(mode(), 0600u);

  // A new section and key: the value is stored as XML text, read back as given.
  const std::string relay = " relay.example & <\"co\"> ";
  ConfigRun s = config({"set", "MAIL", "SmtpServer", relay});
  EXPECT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(componentValue("MAIL", "SmtpServer").toString(), relay);
  ConfigRun g = config({"get", "mail", "smtpserver"});
  EXPECT_EQ(g.status, 0) << g.err;
  EXPECT_EQ(g.out, relay + "\n");

  // An existing key, named in another letter case: changed in place, not added twice.
  EXPECT_EQ(config({"set", "global", "iisvirtid", "7"}).status, 0);
  EXPECT_EQ(componentValue("GLOBAL", "IISVirtId").toString(), "7");
  std::string after = read(file());
  EXPECT_EQ(after.find("iisvirtid"), std::string::npos) << after;

  // Everything else is as the installer wrote it, line for line (an empty
  // key is written in its short form, which reads the same).
  std::string expected = before;
  auto swap = [&](const std::string& from, const std::string& to) {
    ASSERT_NE(expected.find(from), std::string::npos) << from;
    expected.replace(expected.find(from), from.size(), to);
  };
  swap("<key name=\"IISVirtId\">1<", "<key name=\"IISVirtId\">7<");
  swap("<key name=\"MemScriptCode\"></key>", "<key name=\"MemScriptCode\"/>");
  expected.replace(expected.find("</configuration>"), 0,
                   "  <section name=\"MAIL\">\n    <key name=\"SmtpServer\"> relay.example &amp; &lt;\"co\"&gt; "
                   "</key>\n  </section>\n");
  EXPECT_EQ(after, expected);
  // A second key goes into the same section.
  EXPECT_EQ(config({"set", "MAIL", "SmtpPort", "2525"}).status, 0);
  EXPECT_EQ(componentValue("MAIL", "SmtpPort").toString(), "2525");
  EXPECT_EQ(componentValue("MAIL", "SmtpServer").toString(), relay);
  EXPECT_NE(read(file()).find("</key>\n    <key name=\"SmtpPort\">2525</key>\n  </section>"), std::string::npos);

  // The file is replaced whole: still private to its owner, no temporary file left.
  EXPECT_EQ(mode(), 0600u);
  EXPECT_TRUE(strayFiles().empty());
}

TEST_F(ConfigCliTest, ChangesMadeAtTheSameTimeAreAllKept) {
  // Each change reads, edits and replaces the whole file: run at once,
  // none may be lost.
  std::string cmd;
  for (int i = 0; i < 8; ++i)
    cmd += test::ShellQuote(QUILLON_CLI) + " --site " + test::ShellQuote(dir()) + " config set PARALLEL Key" +
           std::to_string(i) + " " + std::to_string(i) + " >/dev/null 2>&1 & ";
  ASSERT_EQ(std::system((cmd + "wait").c_str()), 0);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(componentValue("PARALLEL", "Key" + std::to_string(i)).toString(), std::to_string(i));
  EXPECT_TRUE(strayFiles().empty());
}

TEST_F(ConfigCliTest, APasswordIsStoredButNeverPrinted) {
  const std::string secret = "s3cr&t \"pw\"";
  ConfigRun fromStdin = config({"set", "MAIL", "SmtpPassword", "--value-stdin"}, secret + "\n");
  EXPECT_EQ(fromStdin.status, 0) << fromStdin.err;
  EXPECT_EQ(componentValue("MAIL", "SmtpPassword").toString(), secret);
  ConfigRun g = config({"get", "MAIL", "smtppassword"});
  EXPECT_EQ(g.status, 0);
  EXPECT_EQ(g.out, "********\n");

  ConfigRun fromArgument = config({"set", "MAILBOX", "ImapPassword", "other-secret"});
  EXPECT_EQ(fromArgument.status, 0);
  for (const ConfigRun& r : {fromStdin, g, fromArgument}) {
    EXPECT_EQ((r.out + r.err).find("s3cr"), std::string::npos) << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find("other-secret"), std::string::npos) << r.out << r.err;
  }
  EXPECT_EQ(componentValue("MAILBOX", "ImapPassword").toString(), "other-secret");
  // Other keys print as they are.
  config({"set", "MAIL", "SmtpUser", "mailer"});
  EXPECT_EQ(config({"get", "MAIL", "SmtpUser"}).out, "mailer\n");
}

TEST_F(ConfigCliTest, MissingSitesAndKeysAndWrongCommandLinesAreRefused) {
  const std::string before = read(file());
  // No such key, no such section, no such site: 1, with a message.
  ConfigRun noKey = config({"get", "GLOBAL", "NoSuchKey"});
  EXPECT_EQ(noKey.status, 1);
  EXPECT_NE(noKey.err.find("NoSuchKey"), std::string::npos) << noKey.err;
  EXPECT_EQ(noKey.out, "");
  EXPECT_EQ(config({"get", "NOSECTION", "ReceiveUrl"}).status, 1);
  ConfigRun noSite = config({"set", "MAIL", "SmtpServer", "x"}, "", dir() + "/nosite");
  EXPECT_EQ(noSite.status, 1);
  EXPECT_NE(noSite.err.find("no site"), std::string::npos) << noSite.err;
  EXPECT_FALSE(fs::exists(dir() + "/nosite"));

  // Wrong command lines: 2.
  for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                {"list"},
                                                                {"get", "GLOBAL"},
                                                                {"get", "GLOBAL", "ReceiveUrl", "extra"},
                                                                {"set", "MAIL", "SmtpServer"},
                                                                {"set", "", "SmtpServer", "x"},
                                                                {"set", "MAIL", "", "x"}}) {
    ConfigRun r = config(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
    EXPECT_NE(r.err.find("Try 'quillon --help'"), std::string::npos) << r.err;
  }
  // A value the file could not hold is refused before anything is written.
  EXPECT_EQ(config({"set", "MAIL", "SmtpServer", "a\x01z"}).status, 2);
  EXPECT_EQ(config({"set", "MAIL", "SmtpServer", "bad\xff utf8"}).status, 2);
  EXPECT_EQ(read(file()), before);
}

TEST_F(ConfigCliTest, TheValueTheComponentReadsIsTheOneChanged) {
  // An operator's file with comments and a repeated section: the component
  // reads the first section of a name, so that is where the value goes.
  test::TestSite::writeFile("SiteConfiguration.xml",
                            "<?xml version=\"1.0\"?>\n<!-- relay settings -->\n<configuration>\n"
                            "  <section name=\"Mail\"><key name=\"SmtpServer\">old</key><!-- keep --></section>\n"
                            "  <section name=\"MAIL\"><key name=\"SmtpServer\">ignored</key></section>\n"
                            "</configuration>\n");
  ::chmod(file().c_str(), 0600);
  EXPECT_EQ(config({"set", "MAIL", "SmtpServer", "new"}).status, 0);
  EXPECT_EQ(componentValue("MAIL", "SmtpServer").toString(), "new");
  EXPECT_EQ(read(file()), "<?xml version=\"1.0\"?>\n<!-- relay settings -->\n<configuration>\n"
                          "  <section name=\"Mail\"><key name=\"SmtpServer\">new</key><!-- keep --></section>\n"
                          "  <section name=\"MAIL\"><key name=\"SmtpServer\">ignored</key></section>\n"
                          "</configuration>\n");

  // A configuration kept elsewhere and linked into the site stays linked.
  fs::rename(file(), dir() + "/shared-config.xml");
  fs::create_symlink(dir() + "/shared-config.xml", file());
  EXPECT_EQ(config({"set", "MAIL", "SmtpPort", "587"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(file()));
  EXPECT_EQ(componentValue("MAIL", "SmtpPort").toString(), "587");
}

}  // namespace
}  // namespace quillon
