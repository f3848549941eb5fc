// Heavy libraries are loaded by the first operation that needs them, not
// by every process that links the platform.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/DateConversion.h"
#include "platform/Variant.h"
#include "platform/XmlDom.h"

extern char** environ;

namespace quillon {
namespace {

constexpr const char* kProbe = "QUILLON_LAZY_MODULE_PROBE";

// Whether a library whose file name starts with `name` is mapped.
bool loaded(const std::string& name) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    auto slash = line.rfind('/');
    if (slash != std::string::npos && line.compare(slash + 1, name.size(), name) == 0) return true;
  }
  return false;
}

// Runs in a fresh process (started by the test below), so that no other
// test has loaded a module before.
TEST(LazyModules, Probe) {
  if (!std::getenv(kProbe)) GTEST_SKIP() << "runs only in the process the next test starts";
  DomDocument doc;
  ASSERT_TRUE(doc.loadXML("<a><b>1</b></a>"));
  EXPECT_EQ(doc.selectSingleNode("//b")->text(), "1");
  EXPECT_FALSE(loaded("libcurl"));
  EXPECT_FALSE(loaded("libxslt"));
  EXPECT_FALSE(loaded("libexslt"));
  EXPECT_FALSE(loaded("libicui18n"));

  DomDocument style;
  ASSERT_TRUE(style.loadXML(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
    <xsl:output method="text"/><xsl:template match="/">[<xsl:value-of select="//b"/>]</xsl:template>
  </xsl:stylesheet>)"));
  EXPECT_EQ(doc.transformNode(style), "[1]");
  EXPECT_TRUE(loaded("libquillon_xslt"));
  EXPECT_TRUE(loaded("libxslt"));
  EXPECT_FALSE(loaded("libicui18n"));

  Variant d = ConvertDate(Variant("31.12.2024"), 1031);
  ASSERT_EQ(d.type(), VarType::Date);
  EXPECT_EQ(formatOleDate(d.toDate()).substr(0, 10), "2024-12-31");
  EXPECT_TRUE(loaded("libquillon_icu"));
  EXPECT_FALSE(loaded("libcurl"));

  DomDocument remote;
  remote.setProperty("ServerHTTPRequest", Variant(true));
  EXPECT_FALSE(remote.load("http://127.0.0.1:1/none.xml"));  // nothing listens there
  EXPECT_TRUE(loaded("libquillon_http"));
  EXPECT_TRUE(loaded("libcurl"));
}

TEST(LazyModules, LoadOnlyWhenFirstUsed) {
  std::string self = "/proc/self/exe";
  char exe[4096];
  ssize_t n = ::readlink(self.c_str(), exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  std::string filter = "--gtest_filter=LazyModules.Probe";
  char* argv[] = {exe, filter.data(), nullptr};
  std::string probe = std::string(kProbe) + "=1";
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  env.push_back(probe.data());
  env.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, exe, nullptr, nullptr, argv, env.data()), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the probe process found a library loaded too early (see its output)";
}

}  // namespace
}  // namespace quillon
