// The quillon command as an operator or a scheduled job uses it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <sstream>
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
  auto j = call({"Document.GetXmlDocument", "\"many\""}, 3);
  EXPECT_EQ(j["error"]["number"], "0x800A000D");
  EXPECT_NE(j["error"]["description"].get<std::string>().find("iDocID"), std::string::npos) << j.dump();

  auto k = call({"XML.NoSuchMethod"}, 3);
  EXPECT_EQ(k["error"]["number"], "0x800A01B6");
}

// A page's list of refused filters is part of the failure: it is printed
// beside the error.
TEST_F(CliTest, ARaisedErrorShowsTheByReferenceOutputs) {
  auto j = call({"SQLQueries.GetDocListQuery", "0", "\"ORDER\"", "null", "null", "0",
                 R"(["", "DOCUMENT.SENDER; DROP TABLE X like"])", R"(["", "1"])", "1", "0", "\"alice\"", "\"\"",
                 "\"\""},
                3);
  EXPECT_EQ(j["error"]["number"], "0x80040227");
  ASSERT_TRUE(j.contains("outputs")) << j.dump();
  EXPECT_NE(j["outputs"]["o_sErrors"].get<std::string>().find("is not a column name"), std::string::npos) << j.dump();
  EXPECT_EQ(j["outputs"]["o_sQuery"], "");
}

TEST_F(CliTest, ModuleOperationsNeedTheOperatorSwitch) {
  auto refused = call({"DBUtils.GetParameter", "\"SiteLink\""}, 3);
  EXPECT_EQ(refused["error"]["number"], "0x800A01AD");
  EXPECT_NE(refused["error"]["description"].get<std::string>().find("--modules"), std::string::npos);
  EXPECT_EQ(call({"PublicationErrorHandling.LogPublicationError", "1", "1", "\"d\"", "\"s\"", "\"l\""}, 3)["error"]["number"],
            "0x800A01AD");
  EXPECT_EQ(run({"classes"}).out.find("Quillon.DBUtils"), std::string::npos);

  auto modules = [&](const std::vector<std::string>& args, int status) {
    std::vector<std::string> all{"--site", site_, "--modules", "call"};
    all.insert(all.end(), args.begin(), args.end());
    CmdResult r = run(all);
    EXPECT_EQ(r.status, status) << r.out;
    return nlohmann::json::parse(r.out, nullptr, false);
  };
  auto j = modules({"DBUtils.GetParameter", "\"NoSuchName\""}, 3);
  EXPECT_EQ(j["error"]["number"], "0x800401FE");
  EXPECT_EQ(j["error"]["source"], "Quillon.DBUtils.GetParameter");

  // The read-only recordset reads, and refuses anything that would change data.
  const std::string count = "\"SELECT COUNT(*) AS N FROM DOCUMENTTYPE\"";
  auto before = modules({"DBUtils.getDisconnectedReadOnlyRecordSet", count}, 0);
  ASSERT_TRUE(before["result"].is_array()) << before.dump();
  int types = before["result"][0]["N"].get<int>();
  EXPECT_GT(types, 0);
  for (const char* sql : {"DELETE FROM DOCUMENTTYPE", "SELECT 1; DELETE FROM DOCUMENTTYPE", "DROP TABLE DOCUMENTTYPE",
                          "UPDATE DOCUMENTTYPE SET DESCRIPTION = 'x'", "ATTACH DATABASE '/tmp/quillon-x.db' AS x",
                          "PRAGMA query_only = 0"}) {
    auto r = modules({"DBUtils.getDisconnectedReadOnlyRecordSet", nlohmann::json(sql).dump()}, 3);
    EXPECT_NE(r["error"]["description"].get<std::string>().find("Only a query that reads"), std::string::npos) << sql;
  }
  EXPECT_EQ(modules({"DBUtils.getDisconnectedReadOnlyRecordSet", count}, 0)["result"][0]["N"], types);
}

TEST_F(CliTest, PlatformServicesNeedTheOperatorSwitch) {
  // A by-name caller must not open the site database and run its own SQL,
  // read the configuration (passwords included) or try directory passwords.
  for (const char* target : {"ADODB.Connection.Open", "Basalt.Configuration.GetValue", "Shale.File.FileExists",
                             "Slate.Validator.Validate"}) {
    auto refused = call({target, "\"x\""}, 3);
    EXPECT_EQ(refused["error"]["number"], "0x800A01AD") << target;
    EXPECT_NE(refused["error"]["description"].get<std::string>().find("--modules"), std::string::npos) << target;
  }
  CmdResult list = run({"classes"});
  EXPECT_EQ(list.out.find("ADODB.Connection"), std::string::npos);
  EXPECT_NE(list.out.find("Scripting.Dictionary"), std::string::npos);
  EXPECT_EQ(run({"--modules", "describe", "ADODB.Connection"}).status, 0);
}

TEST_F(CliTest, DescribePrintsSignaturesForEveryClass) {
  CmdResult one = run({"describe", "Utility.GetSenderBPAndName"});
  EXPECT_EQ(one.status, 0);
  EXPECT_NE(one.out.find("GetSenderBPAndName(in-out iXMLStr As String, out oSenderBP As Long, out oSenderName As String)"),
            std::string::npos)
      << one.out;
  CmdResult defaults = run({"describe", "Quillon.FileHandling.WriteFileToDisk"});
  EXPECT_NE(defaults.out.find("[in i_bCreateFile As Boolean = true]"), std::string::npos) << defaults.out;
  CmdResult record = run({"describe", "SendMethod.GetSendMethodProperties2"});
  EXPECT_NE(record.out.find("out o_uProperties As TSendMethodProperties"), std::string::npos) << record.out;

  // Every class that `classes` lists can be described, with the same lines.
  CmdResult list = run({"classes"});
  ASSERT_EQ(list.status, 0);
  std::istringstream lines(list.out);
  int classes = 0;
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == ' ' || line.rfind("Quillon.", 0) != 0) continue;
    std::string name = line.substr(0, line.find(' '));
    CmdResult c = run({"describe", name});
    EXPECT_EQ(c.status, 0) << name;
    EXPECT_NE(list.out.find(c.out), std::string::npos) << name;
    ++classes;
  }
  EXPECT_GT(classes, 20);
  EXPECT_EQ(run({"describe", "XML.NoSuchMethod"}).status, 2);
  EXPECT_EQ(run({"describe", "DBUtils"}).status, 2);
  EXPECT_EQ(run({"--modules", "describe", "DBUtils.GetParameter"}).status, 0);
}

TEST_F(CliTest, DeeplyNestedArgumentsAreAUsageError) {
  std::string deep(19000, '[');
  deep += std::string(19000, ']');
  CmdResult r = run({"--site", site_, "call", "Utility.CheckString", deep});
  EXPECT_EQ(r.status, 2) << r.out.substr(0, 200);
  EXPECT_NE(r.out.find("nested more than 256 levels"), std::string::npos);
  std::string deepObject;
  for (int i = 0; i < 300; ++i) deepObject += "{\"a\":";
  deepObject += "1" + std::string(300, '}');
  EXPECT_EQ(run({"--site", site_, "call", "Utility.CheckString", deepObject}).status, 2);
  // Within the limit the value arrives (and is then no key of a dictionary).
  std::string fine = std::string(200, '[') + "\"x\"" + std::string(200, ']');
  auto j = call({"Scripting.Dictionary.Exists", fine}, 3);
  EXPECT_EQ(j["error"]["number"], "0x800A000D");
  EXPECT_NE(j["error"]["description"].get<std::string>().find("Key"), std::string::npos) << j.dump();
}

TEST_F(CliTest, RefusesBadUsageWithAMessage) {
  CmdResult r = run({"--site", site_, "call", "XML.XmlStringToDomDocument", "SiteLink"});
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
