// Every label the code uses has an English text, and the shipped texts are
// well-formed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
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

// A place in the code that turns a label into text, and the placeholders it
// fills there.
struct LabelUse {
  std::string key;
  std::string where;  // file:line
  std::set<std::string> fills;
};

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::set<std::string> placeholdersIn(const std::string& text) {
  std::set<std::string> names;
  std::regex placeholder(R"(\[%[A-Za-z0-9_]+%\])");
  for (std::sregex_iterator it(text.begin(), text.end(), placeholder), end; it != end; ++it) names.insert(upper(it->str()));
  return names;
}

// The code with its comments blanked out (line breaks kept, so offsets and
// line numbers stay), string literals untouched.
std::string withoutComments(const std::string& code) {
  std::string out = code;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '"' || out[i] == '\'') {
      const char quote = out[i];
      for (++i; i < out.size() && out[i] != quote; ++i)
        if (out[i] == '\\') ++i;
    } else if (out.compare(i, 2, "//") == 0) {
      for (; i < out.size() && out[i] != '\n'; ++i) out[i] = ' ';
    } else if (out.compare(i, 2, "/*") == 0) {
      std::size_t end = out.find("*/", i + 2);
      end = end == std::string::npos ? out.size() : end + 2;
      for (; i < end; ++i)
        if (out[i] != '\n') out[i] = ' ';
      --i;
    }
  }
  return out;
}

// Walking back from a key, the position of the bracket that encloses it, or
// npos when a statement boundary comes first.
std::size_t enclosingBracket(const std::string& code, std::size_t from) {
  int depth = 0;
  for (std::size_t i = from; i-- > 0;) {
    char c = code[i];
    if (c == '"') {  // skip a string literal backwards
      while (i > 0 && !(code[i - 1] == '"' && (i < 2 || code[i - 2] != '\\'))) --i;
      if (i > 0) --i;
      continue;
    }
    if (c == ')' || c == '}' || c == ']') ++depth;
    if (c == '(' || c == '{' || c == '[') {
      if (depth == 0) return i;
      --depth;
    }
    if (c == ';' && depth == 0) return std::string::npos;
  }
  return std::string::npos;
}

std::size_t matchingClose(const std::string& code, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < code.size(); ++i) {
    char c = code[i];
    if (c == '"') {
      for (++i; i < code.size() && code[i] != '"'; ++i)
        if (code[i] == '\\') ++i;
      continue;
    }
    if (c == '(' || c == '{' || c == '[') ++depth;
    if (c == ')' || c == '}' || c == ']')
      if (--depth == 0) return i;
  }
  return code.size();
}

// Every use of a label key in the component's sources. A key handed to
// LabelWith is filled with the placeholders named in that call; a key read
// with GetLabel, stored as an error's label or written as a label token
// ("[%KEY%]") is shown with nothing filled. Keys in a brace-enclosed list
// are data compared with stored rows, never shown, and are left out.
std::vector<LabelUse> labelUses() {
  std::vector<LabelUse> uses;
  std::regex key(R"re("(\[%)?(SLBSH[0-9]{4})(%\])?")re");
  for (const char* folder : {"foundation", "document", "publication", "delivery", "notification", "imports", "cli"}) {
    fs::path root = fs::path(QUILLON_SOURCE_DIR) / folder;
    if (!fs::exists(root)) continue;
    for (const auto& f : fs::recursive_directory_iterator(root)) {
      if (!f.is_regular_file()) continue;
      std::ifstream in(f.path());
      std::stringstream ss;
      ss << in.rdbuf();
      const std::string code = withoutComments(ss.str());
      for (std::sregex_iterator it(code.begin(), code.end(), key), end; it != end; ++it) {
        const std::size_t at = static_cast<std::size_t>(it->position());
        LabelUse use{(*it)[2].str(),
                     f.path().filename().string() + ":" + std::to_string(1 + std::count(code.begin(), code.begin() + at, '\n')),
                     {}};
        if ((*it)[1].matched) {
          uses.push_back(use);
          continue;
        }
        std::size_t open = enclosingBracket(code, at);
        if (open != std::string::npos && code[open] == '{') {
          std::size_t before = code.find_last_not_of(" \t\r\n", open - 1);
          if (before != std::string::npos && std::string("=,({").find(code[before]) != std::string::npos) continue;
        }
        auto calls = [&](const std::string& name) {
          return open != std::string::npos && code[open] == '(' && open >= name.size() &&
                 code.compare(open - name.size(), name.size(), name) == 0;
        };
        if (calls("LabelWith")) {
          std::size_t close = matchingClose(code, open);
          use.fills = placeholdersIn(code.substr(open, close - open));
        } else if (calls("LogPublicationError") || calls("ReportPropertyError")) {
          // An error's label with its replacements: the placeholders named in
          // the call, and those added to its replacements in the lines before.
          std::size_t close = matchingClose(code, open);
          use.fills = placeholdersIn(code.substr(open, close - open));
          std::size_t start = at;
          for (int lines = 0; start > 0 && lines < 12; --start)
            if (code[start - 1] == '\n') ++lines;
          std::string before = code.substr(start, at - start);
          std::regex added(R"re(AddReplacement\(\w+,\s*"(\[%[A-Za-z0-9_]+%\])")re");
          for (std::sregex_iterator a(before.begin(), before.end(), added), none; a != none; ++a)
            use.fills.insert(upper((*a)[1].str()));
        } else if (calls("I18NCollByReplacementsForASP") || calls("GetLabelWithReplacements")) {
          // Filled from a dictionary: the entries added in the lines before.
          std::size_t start = at;
          for (int lines = 0; start > 0 && lines < 12; --start)
            if (code[start - 1] == '\n') ++lines;
          std::string before = code.substr(start, at - start);
          std::regex added(R"re(Add\("(\[%[A-Za-z0-9_]+%\])")re");
          for (std::sregex_iterator a(before.begin(), before.end(), added), none; a != none; ++a)
            use.fills.insert(upper((*a)[1].str()));
        }
        uses.push_back(use);
      }
    }
  }
  return uses;
}

std::map<std::string, std::string> shippedTexts() {
  std::map<std::string, std::string> texts;
  std::ifstream in(fs::path(Site::DataDir()) / "labels" / "1033.tsv");
  std::string line;
  while (std::getline(in, line)) {
    std::size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    texts[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return texts;
}

// A placeholder the caller does not fill reaches the reader as "[%…%]"; a
// value for a placeholder the text lacks is lost.
TEST_F(LabelDataTest, EveryUseFillsExactlyThePlaceholdersOfItsText) {
  const auto texts = shippedTexts();
  const auto uses = labelUses();
  ASSERT_GT(uses.size(), 60u);
  int filled = 0;
  for (const LabelUse& use : uses) {
    auto text = texts.find(use.key);
    if (text == texts.end()) continue;  // a missing text is the next test's to report
    const auto wanted = placeholdersIn(text->second);
    std::string names;
    for (const auto& n : use.fills) names += n + " ";
    EXPECT_EQ(wanted, use.fills) << use.key << " at " << use.where << " fills { " << names << "} in: " << text->second;
    if (!use.fills.empty()) ++filled;
  }
  // The scan itself sees the calls that fill values.
  EXPECT_GE(filled, 25);
  const std::set<std::string> documentAndPartner{"[%DOCID%]", "[%BPID%]"};
  EXPECT_TRUE(std::any_of(uses.begin(), uses.end(), [&](const LabelUse& u) {
    return u.key == "SLBSH4482" && u.fills == documentAndPartner;
  }));
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
