// The quillon command as an operator or a scheduled job uses it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "tests/TestSite.h"
#include "tests/cli/CliRunner.h"

namespace quillon {
namespace {

using CmdResult = test::CliRun;

CmdResult run(const std::vector<std::string>& args) { return test::RunQuillon(args); }

class CliTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    CmdResult init = run({"init", dir() + "/site", "--sample"});
    ASSERT_EQ(init.status, 0) << init.out;
    site_ = dir() + "/site";
  }
  nlohmann::json call(const std::vector<std::string>& args, int expectStatus = 0) {
    std::vector<std::string> all{"--site", site_, "call"};
    all.insert(all.end(), args.begin(), args.end());
    CmdResult r = run(all);
    EXPECT_EQ(r.status, expectStatus) << r.out;
    return nlohmann::json::parse(r.out, nullptr, false);
  }
  std::string site_;
};

TEST_F(CliTest, CallsAMethodWithADictionaryArgument) {
  auto j = call({"LabelReplacements.I18NCollByReplacementsForASP", "\"SLBSH0052\"", "1033",
                 R"({"[%FILENAME%]": "order.xsl"})"});
  ASSERT_TRUE(j.contains("result")) << j.dump();
  EXPECT_NE(j["result"].get<std::string>().find("order.xsl"), std::string::npos);
}

TEST_F(CliTest, ReportsByReferenceOutputsAfterTheCall) {
  auto j = call({"XML.ApplyXslStyleSheetToXmlDomDocument", "\"<ORDER><NUMBER>9</NUMBER></ORDER>\"", "\"\""});
  EXPECT_EQ(j["outputs"]["i_sXslFileOrUrl"], "");
  EXPECT_NE(j["result"].get<std::string>().find("<NUMBER>9</NUMBER>"), std::string::npos);
  EXPECT_NE(j["outputs"]["i_oXmlDom"].get<std::string>().find("<ORDER>"), std::string::npos);
}

TEST_F(CliTest, RaisedErrorsPrintNumberSourceAndDescription) {
  auto j = call({"DBUtils.GetParameter", "\"NoSuchName\""}, 3);
  EXPECT_EQ(j["error"]["number"], "0x800401FE");
  EXPECT_EQ(j["error"]["source"], "Quillon.DBUtils.GetParameter");
  EXPECT_NE(j["error"]["description"].get<std::string>().find("NoSuchName"), std::string::npos);

  auto k = call({"XML.NoSuchMethod"}, 3);
  EXPECT_EQ(k["error"]["number"], "0x800A01B6");
}

TEST_F(CliTest, RefusesBadUsageWithAMessage) {
  CmdResult r = run({"--site", site_, "call", "DBUtils.GetParameter", "SiteLink"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("not a JSON value"), std::string::npos);
  EXPECT_EQ(run({"--site", site_, "frobnicate"}).status, 2);
  EXPECT_EQ(run({"init", site_}).status, 1);  // a site is there already
  CmdResult help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("quillon [--site DIR] call Class.Method"), std::string::npos);
}

}  // namespace
}  // namespace quillon
