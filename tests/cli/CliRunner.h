// Runs the built quillon command (QUILLON_CLI) as an operator would.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace quillon::test {

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct CliRun {
  int status = -1;
  std::string out;
};

// The exit status and standard output of `quillon ARGS…`; `redirect` is
// added to the shell command as written (standard error joins the output
// unless it says otherwise).
inline CliRun RunQuillon(const std::vector<std::string>& args, const std::string& redirect = " 2>&1") {
  std::string cmd = ShellQuote(QUILLON_CLI);
  for (const auto& a : args) cmd += " " + ShellQuote(a);
  cmd += redirect;
  CliRun r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf{};
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;) r.out.append(buf.data(), n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace quillon::test
