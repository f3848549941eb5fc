#include "platform/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/Configuration.h"
#include "platform/Text.h"

namespace quillon {

namespace {

std::string escape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::string unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char n = s[++i];
    out += n == 't' ? '\t' : n == 'r' ? '\r' : n == 'n' ? '\n' : n;
  }
  return out;
}

}  // namespace

std::string Log::FilePath() {
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (!site || !*site) return {};
  return text::LocalPath(std::string(site)) + "/log/quillon.log";
}

void Log::write(const char* kind, const std::string& source, const std::string& message, long code) {
  std::string line = formatOleDate(oleNow()) + "\t" + kind + "\t" + escape(source) + "\t" + std::to_string(code) + "\t" +
                     escape(message) + "\n";
  std::string path = FilePath();
  if (path.empty()) {
    std::fputs(line.c_str(), stderr);
    return;
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "quillon: cannot write the log %s; entry: %s", path.c_str(), line.c_str());
    return;
  }
  ssize_t n = ::write(fd, line.data(), line.size());
  if (n != static_cast<ssize_t>(line.size()))
    std::fprintf(stderr, "quillon: short write to the log %s; entry: %s", path.c_str(), line.c_str());
  ::close(fd);
}

void Log::WriteError(const std::string& source, const std::string& message, long code, const Variant&) {
  write("ERROR", source, message, code);
}

void Log::WriteEvent(const std::string& source, const std::string& message, long code, const Variant&) {
  write("EVENT", source, message, code);
}

std::vector<LogEntry> Log::ReadEntries(const std::string& path) {
  std::vector<LogEntry> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    auto parts = text::Split(line, "\t");
    if (parts.size() < 5) continue;
    LogEntry e;
    e.time = parts[0];
    e.kind = parts[1];
    e.source = unescape(parts[2]);
    e.code = std::strtol(parts[3].c_str(), nullptr, 10);
    e.message = unescape(parts[4]);
    out.push_back(std::move(e));
  }
  return out;
}

const ClassInfo* Log::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<Log>("Basalt.Log")
          .method("WriteError", {in("Source"), in("Message"), in("Code"), opt("Extra", Variant())},
                  [](Log& l, auto& a) { l.WriteError(a[0].text(), a[1].text(), a[2].toInt32(), a[3]); return Variant(); })
          .method("WriteEvent", {in("Source"), in("Message"), in("Code"), opt("Extra", Variant())},
                  [](Log& l, auto& a) { l.WriteEvent(a[0].text(), a[1].text(), a[2].toInt32(), a[3]); return Variant(); })
          .done();
  return info;
}

namespace {
const bool kRegistered = (Log().classInfo(), true);
}

}  // namespace quillon
