#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "platform/Configuration.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

using General::Guarded;

class GeneralTest : public test::TestSite {};

// Two methods that pass a failure of GetParameter on.
std::string innerMethod() {
  return Guarded("Quillon.Test.Inner", [] { return DBUtils::GetParameter("NoSuchParameter"); });
}
std::string outerMethod() {
  return Guarded("Quillon.Test.Outer", [] { return innerMethod(); });
}

TEST_F(GeneralTest, ErrorsKeepInnermostNumberAndSourceAndGrowOneLayerPerMethod) {
  Error e = EXPECT_RAISES(MissingParameter, outerMethod());
  EXPECT_EQ(e.source(), "Quillon.DBUtils.GetParameter");
  const std::string base = "Couldn't get the parameter 'NoSuchParameter' from the database.";
  const std::string l1 = "\r\nMETHOD: DBUtils.GetParameter caught: " + base + "(800401FE).";
  const std::string l2 = "\r\nMETHOD: Quillon.Test.Inner caught: " + l1 + "(800401FE).";
  const std::string l3 = "\r\nMETHOD: Quillon.Test.Outer caught: " + l2 + "(800401FE).";
  EXPECT_EQ(e.description(), l3);
  // Every layer wrote one error entry with the innermost source.
  auto entries = logEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].kind, "ERROR");
  EXPECT_EQ(entries[2].source, "Quillon.DBUtils.GetParameter");
  EXPECT_EQ(entries[0].message.rfind("DBUtils.GetParameter caught: Couldn't get", 0), 0u);
}

TEST_F(GeneralTest, ReRaiseErrorAddsInformationAndLogsWithoutPendingError) {
  auto failingWrite = [] {
    try {
      throw Error(FileError, "Quillon.Test.Source", "disk full");
    } catch (...) {
      General::ReRaiseError("Quillon.Test.Method", "while writing x");
    }
  };
  EXPECT_EQ(EXPECT_RAISES(FileError, failingWrite()).description(),
            "\r\nMETHOD: Quillon.Test.Method caught: disk full(8004022A). Additional information: while writing x");
  General::ReRaiseError("Quillon.Test.Nothing");  // returns normally
  auto entries = logEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].message, "Quillon.Test.Nothing caught: (0).");
  EXPECT_EQ(entries[0].message, "Quillon.Test.Method caught: disk full(8004022A). Additional information: while writing x");
}

TEST_F(GeneralTest, LibraryFailuresEnterTheErrorModel) {
  Error e = EXPECT_RAISES(hr::kFail,
                          Guarded("Quillon.Test.Std", []() -> int { throw std::runtime_error("vector too long"); }));
  EXPECT_NE(e.description().find("vector too long(80004005)."), std::string::npos);
}

TEST_F(GeneralTest, TraceLinesCarryMarkersAndInformation) {
  General::LogTrace("LoadXmlInDom_Start - Document 7", "extra");
  auto entries = logEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].kind, "EVENT");
  EXPECT_EQ(entries[0].code, 2);
  EXPECT_EQ(entries[0].source, "LoadXmlInDom_Start - Document 7");
  EXPECT_EQ(entries[0].message,
            "\r\nERROR 0x0\r\n METHOD: LoadXmlInDom_Start - Document 7\r\n DESC: .\r\n INFO: extra.\r\n");
}

TEST_F(GeneralTest, LoggingLevelAcceptsOneToNinetyEight) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"0", 0}, {"1", 1}, {"98", 98}, {"99", 0}, {"150", 0}, {"abc", 0}, {"-3", 0}, {"100000", 0}};
  for (const auto& [value, level] : cases) {
    setConfigValue("Z2IZezazaConfiguration.xml", "GLOBAL", "B2BLogging", value);
    General::ResetThreadState();
    EXPECT_EQ(General::iGeneral_B2BLogging(), level) << "value " << value;
  }
}

TEST_F(GeneralTest, LoggingLevelIsReadOncePerThreadEvenAfterAFailure) {
  setConfigValue("Z2IZezazaConfiguration.xml", "GLOBAL", "B2BLogging", "5");
  EXPECT_EQ(General::iGeneral_B2BLogging(), 5);
  setConfigValue("Z2IZezazaConfiguration.xml", "GLOBAL", "B2BLogging", "7");
  EXPECT_EQ(General::iGeneral_B2BLogging(), 5);
  // A new thread starts with an empty cache.
  int other = -1;
  std::thread([&] { other = General::iGeneral_B2BLogging(); }).join();
  EXPECT_EQ(other, 7);

  // A failed first read (no configuration file) is not retried.
  General::ResetThreadState();
  std::rename((dir() + "/Z2IZezazaConfiguration.xml").c_str(), (dir() + "/moved.xml").c_str());
  EXPECT_EQ(General::iGeneral_B2BLogging(), 0);
  std::rename((dir() + "/moved.xml").c_str(), (dir() + "/Z2IZezazaConfiguration.xml").c_str());
  EXPECT_EQ(General::iGeneral_B2BLogging(), 0);
  bool logged = false;
  for (const auto& e : logEntries()) logged |= e.message.rfind("general.bas\\iGeneral_B2BLogging caught:", 0) == 0;
  EXPECT_TRUE(logged);
}

TEST_F(GeneralTest, GuidsAreThirtyTwoUpperCaseHexDigits) {
  std::string a = General::iGeneral_GenerateGUID(), b = General::iGeneral_GenerateGUID();
  EXPECT_TRUE(std::regex_match(a, std::regex("[0-9A-F]{32}"))) << a;
  EXPECT_NE(a, b);
}

TEST_F(GeneralTest, ComponentFactoryLogsAFailedCreation) {
  EXPECT_TRUE(General::B2B_getComponent("Basalt.Configuration").isSetObject());
  EXPECT_TRUE(General::B2B_getComponent("Nobody.Knows").isEmpty());
  auto entries = logEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_NE(entries[0].message.find("Additional information: Create instance of Nobody.Knows failed."), std::string::npos);
}

TEST_F(GeneralTest, ARequiredComponentIsCreatedOrRefusedAsObjectRequired) {
  EXPECT_TRUE(General::RequireComponent<Configuration>("Basalt.Configuration", "Test.Caller") != nullptr);
  Error missing = EXPECT_RAISES(hr::kObjectRequired, General::RequireComponent("Nobody.Knows", "Test.Caller"));
  EXPECT_EQ(missing.source(), "Test.Caller");
  EXPECT_EQ(missing.description(), "Object required: Nobody.Knows could not be created.");
  // A component of another class than the caller needs is no better than none.
  EXPECT_RAISES(hr::kObjectRequired, General::RequireComponent<Configuration>("Shale.File", "Test.Caller"));
}

TEST_F(GeneralTest, ConfigurationFilesLiveInTheInstallDirectory) {
  EXPECT_EQ(General::getInstallDir(), dir());
  EXPECT_EQ(General::GetB2BConfigFile(), dir() + "\\Z2IZezazaConfiguration.xml");
  EXPECT_EQ(General::getSiteConfigFile(), dir() + "\\SiteConfiguration.xml");
  EXPECT_EQ(General::GetMembershipUser(), "cn=quillon-script,o=quillon");
  setConfigValue("SiteConfiguration.xml", "MEMBERSHIP", "LDAPRoot", "");
  EXPECT_EQ(General::GetMembershipUser(), "cn=quillon-script,o=quillon");  // cached for the thread
  General::ResetThreadState();
  EXPECT_EQ(General::GetMembershipUser(), "cn=quillon-script");
}

TEST(Enumerations, ErrorNumbersRunWithoutGaps) {
  EXPECT_EQ(static_cast<std::uint32_t>(ReferentialAdd), 0x800401F5u);
  EXPECT_EQ(static_cast<std::uint32_t>(FileError), 0x8004022Au);
  EXPECT_EQ(FileError - kErrorBase, 554);
  EXPECT_EQ(InvalidParamValue - kErrorBase, 551);
  EXPECT_EQ(value(PUBLICATIONSTATUS::PUBLICATIONUNKNOWNSTATUS), -1);
  EXPECT_EQ(value(DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS), -1);
  EXPECT_EQ(value(Condition::GREATERTHAN), 2);
  EXPECT_EQ(value(EExcelSearchOptions::GREATERTHAN), 1);
  EXPECT_EQ(value(EFolderType::WithTimeStamp), 11);
  EXPECT_EQ(value(EFileType::WithTimeStamp), 3);
}

}  // namespace
}  // namespace quillon
