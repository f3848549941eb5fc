// Messages per second into the mail pickup folder (compose with GMime,
// write, flush, rename) against writing the same bytes directly, with and
// without flushing them to disk, and against composing alone.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Mail.h"

using namespace quillon;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

template <class F>
double perSecond(long count, F&& f) {
  auto start = Clock::now();
  for (long i = 0; i < count; ++i) f(i);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return static_cast<double>(count) / seconds;
}

void writeDirect(const std::string& path, const std::string& bytes, bool flush) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  if (flush) ::fsync(fd);
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  long count = argc > 1 ? std::atol(argv[1]) : 300;
  char tmpl[] = "/tmp/quillon-bench-XXXXXX";
  std::string dir = ::mkdtemp(tmpl);

  // A typical notification: a short body and the document as attachment.
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ORDER>\n";
  while (xml.size() < 20000) xml += "  <LINE><ITEM>Schraube M4 × 20</ITEM><QTY>100</QTY></LINE>\n";
  xml += "</ORDER>\n";
  std::ofstream(dir + "/order 42.xml") << xml;
  mail::OutgoingMail m;
  m.from = "Portal <portal@quillon.test>";
  m.to = "buyer@partner.test; Zoë <zoe@partner.test>";
  m.subject = "Neue Bestellung Nr. 42 – bitte prüfen";
  for (int i = 0; i < 20; ++i) m.body += "Sie haben ein neues Dokument erhalten; Details im Portal.\n";
  m.attachments = {{dir + "/order 42.xml", ""}};

  mail::MailSettings settings;
  settings.pickupFolder = dir + "/pickup";
  mail::SendMail(m, settings);  // loads the module and creates the folder

  std::string bytes = mail::ComposeMail(m, true);
  double compose = perSecond(count, [&](long) { mail::ComposeMail(m, true); });
  double pickup = perSecond(count, [&](long) { mail::SendMail(m, settings); });
  fs::create_directories(dir + "/direct");
  double direct = perSecond(count, [&](long i) { writeDirect(dir + "/direct/" + std::to_string(i), bytes, false); });
  double directFlushed = perSecond(count, [&](long i) { writeDirect(dir + "/direct/f" + std::to_string(i), bytes, true); });
  fs::remove_all(dir);

  std::printf("messages                         %ld of %zu bytes\n", count, bytes.size());
  std::printf("compose only                     %10.0f messages/s\n", compose);
  std::printf("SendMail to the pickup folder    %10.0f messages/s\n", pickup);
  std::printf("same bytes written, no flush     %10.0f messages/s\n", direct);
  std::printf("same bytes written and flushed   %10.0f messages/s\n", directFlushed);
  std::printf("pickup / flushed write           %10.2f\n", pickup / directFlushed);
  return 0;
}
