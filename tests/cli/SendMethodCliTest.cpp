// Send methods over `quillon call`: a record travels as a JSON object keyed
// by the field names and comes back as one.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "tests/TestSite.h"
#include "tests/cli/CliRunner.h"

namespace quillon {
namespace {

class SendMethodCliTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    site_ = dir() + "/site";
    ASSERT_EQ(runCli({"init", site_}).first, 0);
  }
  // Exit status and standard output of the command.
  std::pair<int, std::string> runCli(const std::vector<std::string>& args) {
    test::CliRun r = test::RunQuillon(args);
    return {r.status, r.out};
  }
  nlohmann::ordered_json callSendMethod(const std::string& method, const std::vector<std::string>& args) {
    std::vector<std::string> all{"--site", site_, "call", "SendMethod." + method};
    all.insert(all.end(), args.begin(), args.end());
    auto [status, out] = runCli(all);
    EXPECT_EQ(status, 0) << out;
    return nlohmann::ordered_json::parse(out, nullptr, false);
  }
  std::string site_;
};

TEST_F(SendMethodCliTest, ARecordRoundTripsAsAJsonObject) {
  auto added = callSendMethod("AddSendMethodProperties3",
                              {R"({"nProtocol": 40, "nFormat": 30, "sAddress": "ftp.example.com/in", "sUser": "u",
                                   "sPassword": "p", "nWriteMode": 10, "lPort": 21, "bAutoPush": true})",
                               R"(["True", "NET-1", "merge.txt"])"});
  ASSERT_TRUE(added["result"].is_number_integer()) << added.dump();
  // The blanked record comes back with every field, in field order.
  const auto& written = added["outputs"]["i_uProperties"];
  EXPECT_EQ(written.begin().key(), "bAutoPush");
  EXPECT_EQ(written.size(), 21u);
  EXPECT_EQ(written["nWriteMode"], 0);

  std::string id = std::to_string(added["result"].get<int>());
  auto read = callSendMethod("GetSendMethodProperties2", {id});
  const auto& record = read["outputs"]["o_uProperties"];
  EXPECT_EQ(record["nProtocol"], 40);
  EXPECT_EQ(record["sAddress"], "ftp.example.com/in");
  EXPECT_EQ(record["sPassword"], "p");
  EXPECT_EQ(record["lPort"], 21);
  EXPECT_EQ(record["bAutoPush"], true);

  auto extended = callSendMethod("GetSendMethodProperties3", {id});
  EXPECT_EQ(extended["outputs"]["o_aProperties"], nlohmann::ordered_json::parse(R"(["NET-1", "True", "merge.txt"])"));
}

}  // namespace
}  // namespace quillon
