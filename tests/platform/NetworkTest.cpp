// HTTP requests and FTP sessions against real servers on loopback.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Error.h"
#include "platform/Network.h"
#include "tests/LoopbackServers.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon::test {
namespace {

// The site fixture's helpers, also for tests that need no site.
struct Helpers : TestSite {
  using TestSite::read;
};

using net::FtpOptions;
using net::FtpSession;
using net::HttpRequest;
using net::TransferMode;

std::string allBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s + "\r\n\n\r" + s;
}

// --- HTTP ---

class HttpTest : public ::testing::Test {
 protected:
  LoopbackServers servers;
  std::string url(int port, const std::string& path, const char* scheme = "http") {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + path;
  }
};

TEST_F(HttpTest, FormPostSendsTheBodyAsWrittenAndReturnsEveryKindOfAnswer) {
  int port = servers.StartHttp();
  ASSERT_NE(port, 0);
  // Large enough that a client would normally ask "Expect: 100-continue".
  std::string body = "xml=" + std::string(100000, 'x') + "%3C%C3%BC%3E&DocID=7";
  HttpRequest q;
  q.url = url(port, "/in/post.asp");
  q.body = body;

  servers.SetHttpAnswer({200, "OK", "accepted", "text/plain", 0});
  auto r = net::HttpSend(q);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.reason, "OK");
  EXPECT_EQ(r.body, "accepted");

  std::string xmlError = "<?xml version=\"1.0\"?><RESULT><ERROR_NUMBER>5</ERROR_NUMBER>"
                         "<ERROR_DESCRIPTION>Unknown partner</ERROR_DESCRIPTION></RESULT>";
  servers.SetHttpAnswer({200, "OK", xmlError, "text/xml", 0});
  r = net::HttpSend(q);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, xmlError);

  // A failing page is an answer, not an exception: the caller words it.
  servers.SetHttpAnswer({500, "Database Down", "try later", "text/plain", 0});
  r = net::HttpSend(q);
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.reason, "Database Down");
  EXPECT_EQ(r.body, "try later");

  auto requests = servers.HttpRequests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& rec : requests) {
    EXPECT_EQ(rec.method, "POST");
    EXPECT_EQ(rec.path, "/in/post.asp");
    EXPECT_EQ(rec.version, "HTTP/1.1");
    EXPECT_EQ(rec.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_FALSE(rec.hasHeader("Expect"));
    EXPECT_EQ(rec.body, body);
  }
}

TEST_F(HttpTest, GetAndDirectConnectionDespiteProxyVariables) {
  int port = servers.StartHttp();
  ASSERT_NE(port, 0);
  servers.SetHttpAnswer({200, "OK", "page", "text/html", 0});
  // A direct connection must not be diverted by the environment's proxy.
  ::setenv("http_proxy", "http://127.0.0.1:9", 1);
  HttpRequest q;
  q.url = url(port, "/status?x=1");
  q.method = "GET";
  auto r = net::HttpSend(q);
  ::unsetenv("http_proxy");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "page");
  auto requests = servers.HttpRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].path, "/status?x=1");

  // Through a proxy the request line carries the whole address: let the
  // test server stand in for one.
  q.url = "http://partner.invalid/in";
  q.proxy = "127.0.0.1";
  q.proxyPort = port;
  r = net::HttpSend(q);
  EXPECT_EQ(r.status, 200);
  requests = servers.HttpRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].path, "http://partner.invalid/in");
}

TEST_F(HttpTest, FailuresCarryInternetClientNumbers) {
  int port = servers.StartHttp();
  ASSERT_NE(port, 0);
  servers.SetHttpAnswer({200, "OK", "late", "text/plain", 3.0});
  HttpRequest q;
  q.url = url(port, "/slow");
  q.stallTimeoutSeconds = 1;
  auto start = std::chrono::steady_clock::now();
  Error e = EXPECT_RAISES(test::kAnyError, net::HttpSend(q));
  EXPECT_EQ(e.number(), net::wininet::kTimeout);
  EXPECT_EQ(e.source(), net::kHttpSource);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2900));

  servers.Stop(port);
  q.url = url(port, "/gone");
  e = EXPECT_RAISES(test::kAnyError, net::HttpSend(q));
  EXPECT_EQ(e.number(), net::wininet::kCannotConnect);
  EXPECT_FALSE(net::SystemErrorText(e.number()).empty());

  q.url = "ftp://127.0.0.1/x";
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, net::HttpSend(q)).number(), net::wininet::kUnrecognizedScheme);
}

TEST_F(HttpTest, HttpsTrustsTheGivenCertificateOnly) {
  int port = servers.StartHttp(true);
  ASSERT_NE(port, 0);
  servers.SetHttpAnswer({200, "OK", "secure", "text/plain", 0});
  HttpRequest q;
  q.url = url(port, "/in", "https");
  q.body = "xml=1";
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, net::HttpSend(q)).number(), net::wininet::kInvalidCa);
  q.caFile = servers.httpCertificate();
  auto r = net::HttpSend(q);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "secure");
}

// --- FTP ---

class FtpTest : public ::testing::Test {
 protected:
  LoopbackServers servers;
  int port = 0;
  void SetUp() override {
    port = servers.StartFtp("edi", "S3cret-pass");
    ASSERT_NE(port, 0);
  }
  FtpOptions options(const std::string& password = "S3cret-pass") const {
    FtpOptions o;
    o.host = "127.0.0.1";
    o.port = port;
    o.user = "edi";
    o.password = password;
    return o;
  }
  std::string remote(const std::string& relative) const { return servers.ftpRoot() + "/" + relative; }
};

TEST_F(FtpTest, PutGetListExistsAndDeleteInOneSession) {
  FtpSession ftp(options());
  // ASCII: CRLF and LF lines both arrive as text lines (the server stores
  // LF); no stray CR from a CRLF source.
  ftp.PutBytes("a\r\nb\nc\r\n", "ascii.txt", TransferMode::Ascii);
  EXPECT_EQ(Helpers::read(remote("ascii.txt")), "a\nb\nc\n");
  // Binary keeps every byte, CR and LF included.
  ftp.PutBytes(allBytes(), "binary.dat", TransferMode::Binary);
  EXPECT_EQ(Helpers::read(remote("binary.dat")), allBytes());
  std::string local = servers.folder() + "/local.xml";
  std::ofstream(local, std::ios::binary) << "<ORDER>\r\n</ORDER>\r\n";
  ftp.PutFile(local, "order 1.xml", TransferMode::Binary);
  EXPECT_EQ(Helpers::read(remote("order 1.xml")), "<ORDER>\r\n</ORDER>\r\n");

  EXPECT_EQ(ftp.GetBytes("binary.dat", TransferMode::Binary), allBytes());
  EXPECT_EQ(ftp.GetBytes("ascii.txt", TransferMode::Ascii), "a\nb\nc\n");
  std::string fetched = servers.folder() + "/in/fetched.dat";
  fs::create_directories(servers.folder() + "/in");
  ftp.GetFile("binary.dat", fetched, TransferMode::Binary);
  EXPECT_EQ(Helpers::read(fetched), allBytes());
  // Only the finished file is left in the target folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(servers.folder() + "/in"), fs::directory_iterator()), 1);
  std::ofstream(fetched, std::ios::binary | std::ios::trunc) << "keep";
  Error exists = EXPECT_RAISES(test::kAnyError, ftp.GetFile("binary.dat", fetched, TransferMode::Binary, true));
  EXPECT_EQ(exists.number(), net::syserr::kFileExists);
  EXPECT_EQ(Helpers::read(fetched), "keep");
  ftp.GetFile("ascii.txt", fetched, TransferMode::Binary);  // replaces by default
  EXPECT_EQ(Helpers::read(fetched), "a\nb\nc\n");

  servers.MakeServerFolder(remote("sub"));
  auto names = ftp.List();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"ascii.txt", "binary.dat", "order 1.xml", "sub"}));
  names = ftp.List(true);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"ascii.txt", "binary.dat", "order 1.xml"}));

  EXPECT_TRUE(ftp.Exists("order 1.xml"));
  EXPECT_FALSE(ftp.Exists("ORDER 1.XML"));
  EXPECT_FALSE(ftp.Exists("missing.xml"));
  ftp.Delete("order 1.xml");
  EXPECT_FALSE(fs::exists(remote("order 1.xml")));
  EXPECT_FALSE(ftp.Exists("order 1.xml"));
  Error missing = EXPECT_RAISES(test::kAnyError, ftp.Delete("order 1.xml"));
  EXPECT_EQ(missing.number(), net::wininet::kExtendedError);
  EXPECT_NE(missing.description().find("550"), std::string::npos) << missing.description();

  Error noRemote = EXPECT_RAISES(test::kAnyError, ftp.GetBytes("nothing.here", TransferMode::Binary));
  EXPECT_EQ(noRemote.number(), net::wininet::kExtendedError);
  Error noLocal = EXPECT_RAISES(test::kAnyError, ftp.PutFile(servers.folder() + "/absent.xml", "x.xml", TransferMode::Binary));
  EXPECT_EQ(noLocal.number(), net::syserr::kFileNotFound);
}

TEST_F(FtpTest, ChangeDirectoryRelativeAbsoluteAndMissing) {
  servers.MakeServerFolder(remote("in/orders"));
  servers.MakeServerFolder(remote("edi/out"));
  FtpSession ftp(options());
  EXPECT_EQ(ftp.CurrentDirectory(), "");
  ftp.ChangeDirectory("in/orders");
  EXPECT_EQ(ftp.CurrentDirectory(), "in/orders");
  ftp.PutBytes("1", "a.txt", TransferMode::Binary);
  EXPECT_EQ(Helpers::read(remote("in/orders/a.txt")), "1");

  ftp.ChangeDirectory("/edi/out");
  EXPECT_EQ(ftp.CurrentDirectory(), "/edi/out");
  ftp.PutBytes("2", "b.txt", TransferMode::Binary);
  EXPECT_EQ(Helpers::read(remote("edi/out/b.txt")), "2");
  ftp.ChangeDirectory("..");
  EXPECT_EQ(ftp.CurrentDirectory(), "/edi");
  EXPECT_EQ(ftp.List(), std::vector<std::string>{"out"});
  // A name may carry a path of its own.
  EXPECT_TRUE(ftp.Exists("out/b.txt"));
  EXPECT_EQ(ftp.GetBytes("/in/orders/a.txt", TransferMode::Binary), "1");

  Error e = EXPECT_RAISES(test::kAnyError, ftp.ChangeDirectory("no/such"));
  EXPECT_EQ(e.number(), net::wininet::kExtendedError);
  EXPECT_EQ(ftp.CurrentDirectory(), "/edi");
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, ftp.Exists("no/such.txt")).number(), net::wininet::kExtendedError);
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, ftp.GetFile("out/b.txt", servers.folder() + "/absent/b.txt", TransferMode::Binary)).number(),
            net::syserr::kPathNotFound);
  ftp.PutBytes("3", "c.txt", TransferMode::Binary);
  EXPECT_EQ(Helpers::read(remote("edi/c.txt")), "3");
}

TEST_F(FtpTest, ActiveModeTransfers) {
  FtpOptions o = options();
  o.active = true;
  FtpSession ftp(o);
  ftp.PutBytes(allBytes(), "active.dat", TransferMode::Binary);
  EXPECT_EQ(Helpers::read(remote("active.dat")), allBytes());
  EXPECT_EQ(ftp.GetBytes("active.dat", TransferMode::Binary), allBytes());
  EXPECT_EQ(ftp.List(), std::vector<std::string>{"active.dat"});
}

TEST_F(FtpTest, RefusedLoginAndUnreachableServerNeverShowThePassword) {
  Error login = EXPECT_RAISES(test::kAnyError, FtpSession ftp(options("Wr0ng-pass")));
  EXPECT_EQ(login.number(), net::wininet::kLoginFailure);
  EXPECT_EQ(login.source(), net::kFtpSource);
  EXPECT_EQ(login.description().find("Wr0ng-pass"), std::string::npos) << login.description();

  FtpOptions o = options();
  servers.Stop(port);
  Error down = EXPECT_RAISES(test::kAnyError, FtpSession ftp(o));
  EXPECT_EQ(down.number(), net::wininet::kCannotConnect);
  EXPECT_EQ(down.description().find("S3cret-pass"), std::string::npos);
}

TEST_F(FtpTest, NamesCannotSmuggleCommands) {
  servers.WriteServerFile(remote("keep.txt"), "precious");
  FtpSession ftp(options());
  for (const char* name : {"x\r\nDELE keep.txt", "x\nDELE keep.txt"}) {
    EXPECT_EQ(EXPECT_RAISES(test::kAnyError, ftp.PutBytes("1", name, TransferMode::Binary)).number(), net::syserr::kInvalidName);
    EXPECT_EQ(EXPECT_RAISES(test::kAnyError, ftp.Delete(name)).number(), net::syserr::kInvalidName);
    EXPECT_EQ(EXPECT_RAISES(test::kAnyError, ftp.ChangeDirectory(name)).number(), net::syserr::kInvalidName);
  }
  EXPECT_EQ(EXPECT_RAISES(test::kAnyError, ftp.Delete("folder/")).number(), net::syserr::kInvalidName);
  EXPECT_EQ(Helpers::read(remote("keep.txt")), "precious");
}

TEST_F(FtpTest, SecondOperationWhileATransferRunsIsRefused) {
  // The upload reads from a pipe that the test fills only after trying a
  // second operation on the same session.
  std::string fifo = servers.folder() + "/upload.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int writer = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  FtpSession ftp(options());
  std::thread transfer([&] { ftp.PutFile(fifo, "streamed.txt", TransferMode::Binary); });
  // The server makes the file when the upload starts: from then on the
  // session is busy, however slowly the machine runs the transfer thread.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(remote("streamed.txt")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const bool started = std::filesystem::exists(remote("streamed.txt"));
  EXPECT_TRUE(started) << "the upload did not start";
  if (started) {
    Error e = EXPECT_RAISES(test::kAnyError, ftp.Exists("streamed.txt"));
    EXPECT_EQ(e.number(), net::wininet::kTransferInProgress);
  }
  ASSERT_EQ(::write(writer, "streamed", 8), 8);
  ::close(writer);
  transfer.join();
  EXPECT_EQ(Helpers::read(remote("streamed.txt")), "streamed");
  EXPECT_TRUE(ftp.Exists("streamed.txt"));  // the session still works
}

}  // namespace
}  // namespace quillon::test
