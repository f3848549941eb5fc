// quillon session: JSON requests on standard input, one answer per line.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/TestSite.h"
#include "tests/cli/CliRunner.h"

namespace quillon {
namespace {

using Json = nlohmann::ordered_json;

class SessionCliTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    site_ = dir() + "/site";
    ASSERT_EQ(test::RunQuillon({"init", site_, "--sample"}).status, 0);
  }
  // The answers to the request lines, one per answered line.
  std::vector<Json> session(const std::vector<std::string>& lines, const std::vector<std::string>& options = {}) {
    std::string input = dir() + "/requests.jsonl";
    std::ofstream(input) << [&] {
      std::string all;
      for (const auto& l : lines) all += l + "\n";
      return all;
    }();
    std::vector<std::string> args{"--site", site_};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("session");
    test::CliRun r = test::RunQuillon(args, " < " + test::ShellQuote(input) + " 2>/dev/null");
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<Json> answers;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
      answers.push_back(Json::parse(line, nullptr, false));
      EXPECT_FALSE(answers.back().is_discarded()) << line;
    }
    return answers;
  }
  std::string site_;
};

TEST_F(SessionCliTest, AnObjectKeepsItsStateAcrossRequests) {
  auto a = session({
      R"({"id": 1, "create": "Scripting.Dictionary"})",
      R"({"id": 2, "on": 1, "call": "Add", "args": ["order", 42]})",
      R"({"id": 3, "on": 1, "call": "Add", "args": ["sender", "alice"]})",
      R"({"id": 4, "on": 1, "call": "Count"})",
      R"({"id": "five", "on": 1, "call": "Item", "args": ["sender"]})",
      R"({"id": 6, "create": "Quillon.PublishCreateDocument"})",
      R"({"id": 7, "on": 2, "call": "SetPublisherLanguageID", "args": ["1031"]})",
      R"({"id": 8, "on": 2, "call": "GetPublisherLanguageID"})",
      R"({"id": 9, "release": 1})",
      R"({"id": 10, "on": 1, "call": "Count"})",
  });
  ASSERT_EQ(a.size(), 10u);
  for (std::size_t i = 0; i < a.size(); ++i)
    if (i != 4) EXPECT_EQ(a[i]["id"], static_cast<int>(i + 1));
  EXPECT_EQ(a[0]["result"], Json::parse(R"({"handle": 1})"));
  EXPECT_EQ(a[1]["result"], nullptr);
  EXPECT_EQ(a[3]["result"], 2);
  EXPECT_EQ(a[4]["id"], "five");
  EXPECT_EQ(a[4]["result"], "alice");
  EXPECT_EQ(a[5]["result"]["handle"], 2);
  EXPECT_EQ(a[7]["result"], 1031);
  EXPECT_EQ(a[8]["result"], nullptr);
  // Released: the handle is gone, the session goes on.
  EXPECT_EQ(a[9]["error"]["number"], "0x800A01A8");
}

TEST_F(SessionCliTest, ObjectsTravelAsHandlesBothWays) {
  auto a = session({
      R"({"id": 1, "call": "XML.XmlStringToDomDocument", "args": ["<ORDER><NUMBER>7</NUMBER></ORDER>"]})",
      R"({"id": 2, "call": "Utility.ExecuteXSLPattern", "args": [{"handle": 1}, "//NUMBER"]})",
      R"({"id": 3, "create": "Scripting.Dictionary"})",
      R"({"id": 4, "on": 2, "call": "Add", "args": ["doc", {"handle": 1}]})",
      R"({"id": 5, "on": 2, "call": "Item", "args": ["doc"]})",
      R"({"id": 6, "call": "Utility.ExecuteXSLPattern", "args": [{"handle": 99}, "NUMBER"]})",
  });
  ASSERT_EQ(a.size(), 6u);
  ASSERT_TRUE(a[0]["result"].contains("handle")) << a[0].dump();
  EXPECT_EQ(a[0]["result"]["handle"], 1);
  EXPECT_NE(a[0]["result"]["value"].get<std::string>().find("<NUMBER>7</NUMBER>"), std::string::npos);
  EXPECT_EQ(a[1]["result"], "7");
  // The document handed back by reference is the same object, with the same handle.
  EXPECT_EQ(a[1]["outputs"]["i_oXMLDoc"]["handle"], 1);
  EXPECT_EQ(a[4]["result"]["handle"], 1);
  EXPECT_EQ(a[5]["error"]["number"], "0x800A01A8");
}

TEST_F(SessionCliTest, ErrorsAndMalformedLinesAnswerAndTheSessionGoesOn) {
  std::string deep = std::string(1000, '[') + std::string(1000, ']');
  auto a = session({
      "this is not json",
      R"({"id": 2, "call": "SQLQueries.GetDocListQuery", "args": [0, "ORDER", null, null, 0,
          ["", "DOCUMENT.SENDER; DROP TABLE X like"], ["", "1"], 1, 0, "alice", "", ""]})",
      R"({"id": 3, "call": "NoDot"})",
      R"({"id": 4, "call": "Document.GetXmlDocument", "args": [)" + deep + "]}",
      R"({"id": 5, "create": "Quillon.NoSuchClass"})",
      R"({"id": 6, "create": "Quillon.DBUtils"})",
      R"({"id": 7, "call": "Base64.Base64Encode", "args": [[81, 117]]})",
  });
  // The multi-line request is two malformed lines.
  ASSERT_EQ(a.size(), 8u);
  EXPECT_EQ(a[0]["id"], nullptr);
  EXPECT_EQ(a[0]["error"]["number"], "0x80070057");
  EXPECT_EQ(a[1]["error"]["number"], "0x80070057");
  EXPECT_EQ(a[2]["error"]["number"], "0x80070057");
  EXPECT_EQ(a[3]["id"], 3);
  EXPECT_EQ(a[3]["error"]["number"], "0x80070057");
  EXPECT_EQ(a[4]["id"], 4);
  EXPECT_NE(a[4]["error"]["description"].get<std::string>().find("nested"), std::string::npos);
  EXPECT_EQ(a[5]["error"]["number"], "0x800A01AD");
  EXPECT_EQ(a[6]["error"]["number"], "0x800A01AD");  // modules need --modules
  EXPECT_EQ(a[7]["result"], "UXU=");
}

TEST_F(SessionCliTest, ARaisedErrorCarriesTheOutputs) {
  auto a = session({R"({"id": 1, "call": "SQLQueries.GetDocListQuery", "args": [0, "ORDER", null, null, 0, )"
                    R"(["", "DOCUMENT.SENDER; DROP TABLE X like"], ["", "1"], 1, 0, "alice", "", ""]})",
                    R"({"id": 2, "call": "DBUtils.GetParameter", "args": ["SiteLink"]})"},
                   {"--modules"});
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0]["error"]["number"], "0x80040227");
  EXPECT_NE(a[0]["outputs"]["o_sErrors"].get<std::string>().find("is not a column name"), std::string::npos) << a[0].dump();
  EXPECT_TRUE(a[1].contains("result")) << a[1].dump();
}

}  // namespace
}  // namespace quillon
