// `quillon demo`: the road of the demo documents on a new site, as the
// README's first command shows it.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/CliRunner.h"

namespace fs = std::filesystem;

namespace quillon::test {
namespace {

class DemoCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quillon-demo-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    parent = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(parent, ec);
  }
  // The report's blocks: the set-up, one per document, the closing line.
  static std::vector<std::string> blocks(const std::string& out) {
    std::vector<std::string> all;
    std::size_t start = 0;
    for (std::size_t at; (at = out.find("\n\n", start)) != std::string::npos; start = at + 2)
      all.push_back(out.substr(start, at - start));
    all.push_back(out.substr(start));
    return all;
  }
  static std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void expectHas(const std::string& block, const std::vector<std::string>& lines) {
    for (const auto& line : lines) EXPECT_NE(block.find(line), std::string::npos) << line << "\n--- in ---\n" << block;
  }

  std::string parent;
};

TEST_F(DemoCliTest, EachDocumentIsToldWithWhatBecameOfIt) {
  const std::string site = parent + "/site";
  CliRun r = RunQuillon({"demo", site});
  ASSERT_EQ(r.status, 0) << r.out;
  const auto b = blocks(r.out);
  ASSERT_EQ(b.size(), 6u) << r.out;
  expectHas(b[0], {"Borealis Retail (200) receives orders as files in outbox/borealis/",
                   "Cobalt Logistics (300) receives orders as e-mail to orders@cobalt.example"});

  // The valid order reaches the distribution list, both partners and the mailboxes.
  expectHas(b[1], {"1. a valid order", "document 1: Purchase order (ORDER) from alice (Acme Supplies)",
                   "published to: bob (Borealis Retail), carol (Borealis Retail), dave (Cobalt Logistics)",
                   "delivered to Borealis Retail by file path", "delivered to Cobalt Logistics by e-mail",
                   "file written: outbox/borealis/1.xml", "delivery mail to orders@cobalt.example",
                   "notification mail to bob@borealis.example: \"New Purchase order 1\"",
                   "notification mail to dave@cobalt.example", "notification mail to alice@acme.example",
                   "error box: empty"});
  EXPECT_EQ(b[1].find("carol@"), std::string::npos) << "carol asked for no mail";
  EXPECT_NE(read(site + "/outbox/borealis/1.xml").find("PO-2026-0100"), std::string::npos);

  // The unknown receiver is an error-box entry; the known one still gets it.
  expectHas(b[2], {"document 2:", "published to: bob (Borealis Retail)\n", "error box:", "'mallory'"});
  EXPECT_EQ(b[2].find("administrator mail"), std::string::npos);

  // Refused documents: the reason, the administrator's mail, the kept input.
  expectHas(b[3], {"3. a malformed document", "refused", "Line: 6", "administrator mail", "To: admin@localhost",
                   "input kept in the error folder: xml/error/"});
  EXPECT_EQ(b[3].find("document 3"), std::string::npos);
  expectHas(b[4], {"4. an OBI envelope", "refused", "OBI", "administrator mail", "input kept in the error folder"});
  EXPECT_EQ(b[5].rfind("Done in ", 0), 0u) << b[5];
}

TEST_F(DemoCliTest, AFolderHoldingASiteIsRefusedWithAFailingStatus) {
  const std::string site = parent + "/site";
  ASSERT_EQ(RunQuillon({"demo", site}).status, 0);
  CliRun again = RunQuillon({"demo", site});
  EXPECT_EQ(again.status, 3);
  EXPECT_NE(again.out.find("holds a site already"), std::string::npos) << again.out;
}

}  // namespace
}  // namespace quillon::test
