// `quillon run JOB` as a scheduler calls it.
#include <gtest/gtest.h>

#include <regex>

#include "tests/cli/CliRunner.h"
#include "tests/imports/EDITestSupport.h"

namespace quillon::test {
namespace {

struct JobRun {
  int status = -1;
  std::string out, err;
};

class RunCliTest : public EdiSite {
 protected:
  JobRun run(const std::vector<std::string>& args) {
    std::string errFile = dir() + "/cli-stderr.txt";
    std::vector<std::string> all{"--site", dir()};
    all.insert(all.end(), args.begin(), args.end());
    CliRun r = RunQuillon(all, " </dev/null 2>" + ShellQuote(errFile));
    return {r.status, r.out, read(errFile)};
  }
};

TEST_F(RunCliTest, EdiRunsOnceAndPrintsOneSummaryLineAlsoWhenANetworkFails) {
  EdiNetworkRow good = localNetwork("GOOD");
  addNetwork(good);
  EdiNetworkRow bad = localNetwork("BAD");
  bad.sequence = 2;
  bad.protocol = 99;
  addNetwork(bad);
  stage(good, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  letThisSecondPass();

  JobRun r = run({"run", "edi"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::regex_match(
      r.out, std::regex(R"(edi: 2 networks seen, 1 file sent \(1 message\), 0 files received, 1 error, \d+\.\d\d seconds\n)")))
      << r.out;
  EXPECT_EQ(read(good.root + "/out/ORDERS"), "UNB+1'\r\n");
  EXPECT_FALSE(logged("Unknown protocol: 99").empty());

  // The same run by name, as the portal's scheduler calls it.
  JobRun byName = run({"call", "EDI.Run"});
  EXPECT_EQ(byName.status, 0) << byName.out;
}

TEST_F(RunCliTest, OnlyAJobThatCannotRunAtAllFails) {
  JobRun none = run({"run"});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("edi"), std::string::npos) << none.err;  // the jobs are listed
  EXPECT_EQ(run({"run", "nosuchjob"}).status, 2);
  EXPECT_EQ(run({"run", "edi", "extra"}).status, 2);

  exec("DROP TABLE EDINETWORK");
  JobRun broken = run({"run", "edi"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("could not run"), std::string::npos) << broken.err;
  EXPECT_NE(broken.err.find("EDINETWORK"), std::string::npos) << broken.err;
}

}  // namespace
}  // namespace quillon::test
