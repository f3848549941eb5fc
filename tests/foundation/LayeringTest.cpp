// The layers include downwards only: platform/ and foundation/ know nothing
// of the component's classes, and a document does not reach up into the
// collaboration on its publications (which itself sets document states).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// "file: included" for every include of the folder's sources that the
// pattern matches.
std::vector<std::string> includesMatching(const std::string& folder, const std::regex& included) {
  std::vector<std::string> found;
  std::regex include(R"re(^\s*#\s*include\s+"([^"]+)")re");
  for (const auto& f : fs::recursive_directory_iterator(fs::path(QUILLON_SOURCE_DIR) / folder)) {
    if (!f.is_regular_file()) continue;
    std::ifstream in(f.path());
    std::string line;
    while (std::getline(in, line)) {
      std::smatch m;
      if (std::regex_search(line, m, include) && std::regex_search(m[1].str(), included))
        found.push_back(folder + "/" + f.path().filename().string() + ": " + m[1].str());
    }
  }
  return found;
}

TEST(LayeringTest, LowerLayersIncludeNothingFromAbove) {
  const std::regex componentFolders("^(document|publication|delivery|notification|imports|cli)/");
  EXPECT_EQ(includesMatching("platform", componentFolders), std::vector<std::string>{});
  EXPECT_EQ(includesMatching("foundation", componentFolders), std::vector<std::string>{});
  EXPECT_EQ(includesMatching("platform", std::regex("^foundation/")), std::vector<std::string>{});
  EXPECT_EQ(includesMatching("document", std::regex("^publication/Collaboration\\.h$")), std::vector<std::string>{});
}

}  // namespace
