// Every label the code uses has an English text, and the shipped texts are
// well-formed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "foundation/Site.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

class LabelDataTest : public test::TestSite {};

std::set<std::string> keysUsedBySource() {
  std::set<std::string> keys;
  std::regex key("SLBSH[0-9]{4}");
  for (const char* folder : {"foundation", "document", "publication", "delivery", "notification", "imports", "cli"}) {
    fs::path root = fs::path(QUILLON_SOURCE_DIR) / folder;
    if (!fs::exists(root)) continue;
    for (const auto& f : fs::recursive_directory_iterator(root)) {
      if (!f.is_regular_file()) continue;
      std::ifstream in(f.path());
      std::stringstream ss;
      ss << in.rdbuf();
      std::string text = ss.str();
      for (std::sregex_iterator it(text.begin(), text.end(), key), end; it != end; ++it) keys.insert(it->str());
    }
  }
  return keys;
}

TEST_F(LabelDataTest, EveryKeyTheCodeUsesHasAnEnglishText) {
  auto keys = keysUsedBySource();
  ASSERT_FALSE(keys.empty());
  for (const auto& k : keys)
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM I18NTEXT WHERE LABEL = '" + k + "' AND LOCALEID = 1033"), "1")
        << k << " has no text";
}

TEST_F(LabelDataTest, ShippedTextsAreLoadedWithBalancedPlaceholders) {
  std::ifstream in(fs::path(Site::DataDir()) / "labels" / "1033.tsv");
  std::string line;
  std::set<std::string> seen;
  std::regex row("(SLBSH[0-9]{4})\t([^\t]+)");
  int rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, row)) << line;
    EXPECT_TRUE(seen.insert(m[1]).second) << "duplicate " << m[1];
    std::string text = m[2];
    std::size_t opens = 0, closes = 0;
    for (std::size_t p = text.find("[%"); p != std::string::npos; p = text.find("[%", p + 2)) ++opens;
    for (std::size_t p = text.find("%]"); p != std::string::npos; p = text.find("%]", p + 2)) ++closes;
    EXPECT_EQ(opens, closes) << m[1];
    ++rows;
  }
  EXPECT_GE(rows, 150);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM I18NTEXT WHERE LOCALEID = 1033"), std::to_string(rows));
  // Line breaks in a text become CR LF.
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM I18NTEXT WHERE TEXT LIKE '%\\n%'"), "0");
}

}  // namespace
}  // namespace quillon
