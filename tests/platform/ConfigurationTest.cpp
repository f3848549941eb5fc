#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/Configuration.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "tests/CallCounters.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quillon-cfg-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    ::setenv(kSiteEnvironmentVariable, dir_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& text) {
    std::string p = dir_ + "/" + name;
    std::ofstream(p) << text;
    return p;
  }
  std::string dir_;
};

TEST_F(ConfigurationTest, ReadsValuesAndConnectionStringsWithoutLetterCase) {
  std::string path = write("c.xml", Configuration::Compose({{"Quillon", "Provider=SQLite;Data Source=/x/q.db"}},
                                                           {{"GLOBAL", "B2BLogging", "3"}, {"MEMBERSHIP", "LDAPRoot", "o=a&b"}}));
  Configuration c;
  c.Load(path);
  EXPECT_EQ(c.GetValue("global", "b2blogging").toString(), "3");
  EXPECT_EQ(c.GetValue("MEMBERSHIP", "LDAPRoot").toString(), "o=a&b");
  EXPECT_TRUE(c.GetValue("GLOBAL", "Missing").isEmpty());
  EXPECT_TRUE(c.GetValue("NOSECTION", "B2BLogging").isEmpty());
  EXPECT_EQ(c.GetConnectionString("quillon"), "Provider=SQLite;Data Source=/x/q.db");
  EXPECT_RAISES(hr::kFail, c.GetConnectionString("Other"));
}

// A relative database path belongs to the folder of the file that names
// it, wherever the process runs; absolute paths stay as written.
TEST_F(ConfigurationTest, RelativeDataSourcesAreReadFromTheFilesFolder) {
  std::string path = write("c.xml", Configuration::Compose({{"A", "Provider=SQLite;Data Source=q.db"},
                                                            {"B", "Provider=SQLite; data source = 'sub\\q.db' ;Mode=x"},
                                                            {"C", "Provider=SQLite;Data Source=/abs/q.db"},
                                                            {"D", "Provider=SQLite;Data Source=:memory:"}},
                                                           {}));
  Configuration c;
  c.Load(path);
  EXPECT_EQ(c.GetConnectionString("A"), "Provider=SQLite;Data Source=" + dir_ + "/q.db");
  EXPECT_EQ(c.GetConnectionString("B"), "Provider=SQLite; data source ='" + dir_ + "/sub/q.db';Mode=x");
  EXPECT_EQ(c.GetConnectionString("C"), "Provider=SQLite;Data Source=/abs/q.db");
  EXPECT_EQ(c.GetConnectionString("D"), "Provider=SQLite;Data Source=:memory:");
}

TEST_F(ConfigurationTest, LoadsWindowsPathsAndRefusesMissingOrForeignFiles) {
  write("c.xml", Configuration::Compose({}, {{"A", "k", "v"}}));
  Configuration c;
  c.Load(dir_ + "\\c.xml");
  EXPECT_EQ(c.GetValue("A", "k").toString(), "v");
  EXPECT_RAISES(hr::kResourceNotFound, c.Load(dir_ + "/missing.xml"));
  Configuration other;
  EXPECT_RAISES(hr::kFail, other.Load(write("x.xml", "<other/>")));
}

TEST_F(ConfigurationTest, InstallationRecordsComeFromTheChosenSite) {
  Configuration c;
  auto records = c.GetInstallationRecords(kProductName);
  ASSERT_EQ(records->Count(), 1);
  EXPECT_EQ(records->entry(0).second.as<Dictionary>()->Item("InstallDir").toString(), dir_);
  ::unsetenv(kSiteEnvironmentVariable);
  EXPECT_RAISES(hr::kFail, c.GetInstallationRecords(kProductName));
}

TEST_F(ConfigurationTest, LogEntriesKeepLineBreaksAndTabs) {
  std::filesystem::create_directories(dir_ + "/log");
  Log log;
  log.WriteError("Quillon.X", "line one\r\nline\ttwo \\ end", 0);
  log.WriteEvent("Quillon.Y", "plain", 2);
  auto entries = Log::ReadEntries(Log::FilePath());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].kind, "ERROR");
  EXPECT_EQ(entries[0].message, "line one\r\nline\ttwo \\ end");
  EXPECT_EQ(entries[1].source, "Quillon.Y");
  EXPECT_EQ(entries[1].code, 2);
}

// Sets a file's modification time `seconds` into the past.
void age(const std::string& path, int seconds) {
  timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(ConfigurationTest, AParsedFileIsReusedUntilItChangesOnDisk) {
  auto valueOf = [](const std::string& path) {
    Configuration c;
    c.Load(path);
    return c.GetValue("A", "k").toString();
  };
  std::string path = write("c.xml", Configuration::Compose({}, {{"A", "k", "one"}}));
  age(path, 60);
  EXPECT_EQ(valueOf(path), "one");
  auto before = test::Counts();
  EXPECT_EQ(valueOf(path), "one");
  EXPECT_EQ(valueOf(path), "one");
  EXPECT_EQ((test::Counts() - before).fileParses, 0u) << "an unchanged file is parsed once per thread";

  // An operator edits the file in place (same size).
  write("c.xml", Configuration::Compose({}, {{"A", "k", "two"}}));
  EXPECT_EQ(valueOf(path), "two");
  // Edited again within the same clock tick: a young file is never trusted.
  write("c.xml", Configuration::Compose({}, {{"A", "k", "six"}}));
  EXPECT_EQ(valueOf(path), "six");
  // Replaced by another file of the same size and time.
  std::string other = write("n.xml", Configuration::Compose({}, {{"A", "k", "ten"}}));
  age(path, 60);
  EXPECT_EQ(valueOf(path), "six");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  timespec times[2] = {st.st_mtim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
  std::filesystem::rename(other, path);
  EXPECT_EQ(valueOf(path), "ten");
  // Removed: the cache does not hide it.
  std::filesystem::remove(path);
  EXPECT_THROW(valueOf(path), Error);
}

TEST_F(ConfigurationTest, TheFirstSectionAndKeyOfANameAnswer) {
  std::string path = write("c.xml",
                           "<configuration><section name='A'/><section name='a'><key name='k'>x</key></section>"
                           "<section name='B'><key name='K'>1</key><key name='k'>2</key></section>"
                           "<connectionStrings><component name='Q'> s1 </component><component name='q'>s2</component>"
                           "</connectionStrings></configuration>");
  Configuration c;
  c.Load(path);
  EXPECT_TRUE(c.GetValue("a", "k").isEmpty());
  EXPECT_EQ(c.GetValue("b", "k").toString(), "1");
  EXPECT_EQ(c.GetConnectionString("q"), "s1");
}

}  // namespace
}  // namespace quillon
