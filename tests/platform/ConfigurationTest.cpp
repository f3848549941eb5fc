#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/Configuration.h"
#include "platform/Error.h"
#include "platform/Log.h"

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
  EXPECT_THROW(c.GetConnectionString("Other"), Error);
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
  EXPECT_THROW(c.Load(dir_ + "/missing.xml"), Error);
  Configuration other;
  EXPECT_THROW(other.Load(write("x.xml", "<other/>")), Error);
}

TEST_F(ConfigurationTest, InstallationRecordsComeFromTheChosenSite) {
  Configuration c;
  auto records = c.GetInstallationRecords(kProductName);
  ASSERT_EQ(records->Count(), 1);
  EXPECT_EQ(records->entry(0).second.as<Dictionary>()->Item("InstallDir").toString(), dir_);
  ::unsetenv(kSiteEnvironmentVariable);
  EXPECT_THROW(c.GetInstallationRecords(kProductName), Error);
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

}  // namespace
}  // namespace quillon
