// The EDI exchange over FTP, against a real server on loopback.
#include <fstream>
#include <regex>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "imports/EDI.h"
#include "imports/EDIInternal.h"
#include "tests/LoopbackServers.h"
#include "tests/imports/EDITestSupport.h"

namespace fs = std::filesystem;

namespace quillon::test {
namespace {

const std::string kPassword = "S3cret-edi";

class EDIFtpTest : public EdiSite {
 protected:
  LoopbackServers servers;
  int port = 0;

  void SetUp() override {
    EdiSite::SetUp();
    port = servers.StartFtp("edi", kPassword);
    ASSERT_NE(port, 0);
    for (const char* sub : {"edi/cmd", "edi/out", "edi/in"}) servers.MakeServerFolder(remote(sub));
  }

  std::string remote(const std::string& relative) const { return servers.ftpRoot() + "/" + relative; }

  EdiNetworkRow ftpNetwork() const {
    EdiNetworkRow n;
    n.root = "ftp://127.0.0.1/edi";
    n.protocol = 40;
    n.port = port;
    n.user = "edi";
    n.password = kPassword;
    n.tempFolder = dir() + "/edi/NET1";
    return n;
  }
};

TEST(EDIAddressTest, ServerAndFolderOfEveryAddressForm) {
  using edi::ReadServerAndFolderFromFTPAddress;
  using P = std::pair<std::string, std::string>;
  EXPECT_EQ(ReadServerAndFolderFromFTPAddress("ftp://host", " in "), P("host", "in"));
  EXPECT_EQ(ReadServerAndFolderFromFTPAddress("ftp://host/edi", "in"), P("host", "/edi/in"));
  EXPECT_EQ(ReadServerAndFolderFromFTPAddress("ftp://host/edi/", "in"), P("host", "/edi/in"));
  EXPECT_EQ(ReadServerAndFolderFromFTPAddress("ftp://host/edi", "/in"), P("host", "/edi/in"));
  EXPECT_EQ(ReadServerAndFolderFromFTPAddress("FTP://host/edi/", "/in"), P("host", "/edi/in"));
  EXPECT_EQ(ReadServerAndFolderFromFTPAddress("ftp://host/", ""), P("host", "/"));
  Error e = EXPECT_RAISES(InValidFileFormat, ReadServerAndFolderFromFTPAddress("host/edi", "in"));
  EXPECT_EQ(e.description(), "Invalid FTP folder host/edi");
  EXPECT_RAISES(InValidFileFormat, ReadServerAndFolderFromFTPAddress("ftps://host/edi", "in"));
}

TEST_F(EDIFtpTest, MessagesGoUpUnderTheirFinalNameOnlyWhenCompleteAndIncomingFilesComeDown) {
  EdiNetworkRow n = ftpNetwork();
  addNetwork(n);
  std::string m1 = stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  std::string m2 = stage(n, "ORDERS", "ORDERS/1/b.edi", "UNB+2'");
  servers.WriteServerFile(remote("edi/in/ORDERS.001"), "<ORDER/>\r\n");
  servers.WriteServerFile(remote("edi/in/~INVOIC.edi"), "being written");
  servers.MakeServerFolder(remote("edi/in/archive"));
  letThisSecondPass();

  EDIRunSummary s = RunEDIExchange();
  EXPECT_EQ(s.errors, 0) << ::testing::PrintToString(logEntries().empty() ? "" : logEntries().back().message);
  EXPECT_EQ(s.filesSent, 1);
  EXPECT_EQ(s.filesReceived, 1);
  EXPECT_EQ(files(remote("edi/out")), std::vector<std::string>{"ORDERS"});  // no "~ORDERS" left
  EXPECT_EQ(read(remote("edi/out/ORDERS")), "UNB+1'\r\nUNB+2'\r\n");  // binary keeps CR LF
  EXPECT_FALSE(exists(m1));
  EXPECT_FALSE(exists(m2));
  EXPECT_EQ(files(remote("edi/in")), std::vector<std::string>{"~INVOIC.edi"});
  std::vector<std::string> got = files(dir() + "/xml/in1");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(std::regex_match(got[0], std::regex(R"(ORDERS_NET1_\d{4}(-\d\d){5}\.xml)"))) << got[0];
  EXPECT_EQ(read(dir() + "/xml/in1/" + got[0]), "<ORDER/>\r\n");
}

TEST_F(EDIFtpTest, AsciiTransfersChangeLineEndsAndBinaryOnesKeepEveryByte) {
  EdiNetworkRow n = ftpNetwork();
  n.transferType = 10;
  addNetwork(n);
  stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  servers.WriteServerFile(remote("edi/in/ORDERS.001"), "A\r\nB\r\n");
  letThisSecondPass();
  ASSERT_EQ(RunEDIExchange().errors, 0);
  // The server stores ASCII text with its own line ends, and sends CR LF.
  EXPECT_EQ(read(remote("edi/out/ORDERS")), "UNB+1'\n");
  std::vector<std::string> got = files(dir() + "/xml/in1");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(read(dir() + "/xml/in1/" + got[0]), "A\nB\n");
}

TEST_F(EDIFtpTest, TheHandshakeRunsInTheServersCommandFolder) {
  EdiNetworkRow n = ftpNetwork();
  n.useSemaphore = true;
  addNetwork(n);
  std::string message = stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  letThisSecondPass();

  RunEDIExchange();
  EXPECT_EQ(files(remote("edi/cmd")), std::vector<std::string>{"START"});
  EXPECT_EQ(read(remote("edi/cmd/START")), "");
  EXPECT_TRUE(exists(message));

  servers.WriteServerFile(remote("edi/cmd/SEMAPHORE"), "");
  EDIRunSummary s = RunEDIExchange();
  EXPECT_EQ(s.filesSent, 1);
  EXPECT_EQ(s.errors, 0);
  EXPECT_FALSE(exists(message));
  EXPECT_EQ(files(remote("edi/cmd")), std::vector<std::string>{"START"});
}

TEST_F(EDIFtpTest, AnUploadTheServerRefusesKeepsTheMessagesAndAWaitingFileIsNeverReplaced) {
  EdiNetworkRow n = ftpNetwork();
  addNetwork(n);
  std::string message = stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  letThisSecondPass();

  fs::permissions(remote("edi/out"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EDIRunSummary refused = RunEDIExchange();
  EXPECT_EQ(refused.filesSent, 0);
  EXPECT_EQ(refused.errors, 1);
  EXPECT_TRUE(exists(message));
  EXPECT_TRUE(files(n.tempFolder + "/Log").empty());
  auto entries = logged("WinInet.FtpPutFile");
  ASSERT_FALSE(entries.empty());
  EXPECT_NE(entries[0].message.find("[lpszRemoteFile]=~ORDERS"), std::string::npos) << entries[0].message;
  EXPECT_NE(entries[0].message.find("FTP Server    : '127.0.0.1' "), std::string::npos);
  fs::permissions(remote("edi/out"), fs::perms::owner_write, fs::perm_options::add);

  // The merged file of an earlier run still waits, in another letter case.
  servers.WriteServerFile(remote("edi/out/orders"), "UNB+0'\r\n");
  EXPECT_EQ(RunEDIExchange().errors, 1);
  EXPECT_EQ(files(remote("edi/out")), std::vector<std::string>{"orders"});
  EXPECT_EQ(read(remote("edi/out/orders")), "UNB+0'\r\n");
  EXPECT_TRUE(exists(message));

  fs::remove(remote("edi/out/orders"));
  EXPECT_EQ(RunEDIExchange().filesSent, 1);
  EXPECT_EQ(read(remote("edi/out/ORDERS")), "UNB+1'\r\n");
  EXPECT_FALSE(exists(message));
}

TEST_F(EDIFtpTest, AFetchedFileTheServerDoesNotLetGoIsNotTakenIn) {
  EdiNetworkRow n = ftpNetwork();
  addNetwork(n);
  servers.WriteServerFile(remote("edi/in/ORDERS.001"), "<ORDER/>");
  fs::permissions(remote("edi/in"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);

  EDIRunSummary s = RunEDIExchange();
  EXPECT_EQ(s.errors, 1);
  EXPECT_EQ(s.filesReceived, 0);
  EXPECT_TRUE(files(dir() + "/xml/in1").empty());  // neither the file nor a "~" copy
  EXPECT_TRUE(exists(remote("edi/in/ORDERS.001")));
  EXPECT_FALSE(logged("WinInet.FtpDeleteFile").empty());

  fs::permissions(remote("edi/in"), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(RunEDIExchange().filesReceived, 1);
  EXPECT_EQ(RunEDIExchange().filesReceived, 0);
  EXPECT_EQ(files(dir() + "/xml/in1").size(), 1u);
}

TEST_F(EDIFtpTest, AFileTheServerCannotSendIsLoggedAndTheOthersStillComeDown) {
  EdiNetworkRow n = ftpNetwork();
  addNetwork(n);
  // The server may not read the first and last file, in whatever order it
  // lists them: each is logged on its own and the readable one comes down.
  for (const char* name : {"A.001", "B.001", "C.001"})
    servers.WriteServerFile(remote(std::string("edi/in/") + name), std::string("<") + name[0] + "/>");
  for (const char* name : {"A.001", "C.001"}) fs::permissions(remote(std::string("edi/in/") + name), fs::perms::none);

  EDIRunSummary s = RunEDIExchange();
  EXPECT_EQ(s.errors, 2);
  EXPECT_EQ(s.filesReceived, 1);
  std::vector<std::string> got = files(dir() + "/xml/in1");
  ASSERT_EQ(got.size(), 1u);  // no "~" copy of a failed fetch stays
  EXPECT_EQ(got[0].rfind("B_NET1_", 0), 0u) << got[0];
  EXPECT_EQ(read(dir() + "/xml/in1/" + got[0]), "<B/>");
  EXPECT_EQ(files(remote("edi/in")), (std::vector<std::string>{"A.001", "C.001"}));
  auto entries = logged("WinInet.FtpGetFile");
  ASSERT_EQ(entries.size(), 2u);
  for (const LogEntry& e : entries) {
    EXPECT_NE(e.message.find("Error in moving file '"), std::string::npos) << e.message;
    EXPECT_EQ(e.message.find(kPassword), std::string::npos) << e.message;
  }

  // Readable again, they come down with the next run.
  for (const char* name : {"A.001", "C.001"})
    fs::permissions(remote(std::string("edi/in/") + name), fs::perms::owner_read | fs::perms::owner_write);
  s = RunEDIExchange();
  EXPECT_EQ(s.errors, 0);
  EXPECT_EQ(s.filesReceived, 2);
  EXPECT_TRUE(files(remote("edi/in")).empty());
}

TEST_F(EDIFtpTest, PresenceAndDeletionByNameWithCommandTextsThatHideThePassword) {
  servers.WriteServerFile(remote("edi/cmd/SEMAPHORE"), "");
  EDI edi;
  EXPECT_TRUE(edi.filePresentViaFTP(" semaphore ", "/edi/cmd", "127.0.0.1", port, "edi", kPassword));
  EXPECT_FALSE(edi.filePresentViaFTP("STOP", "/edi/cmd", "127.0.0.1", port, "edi", kPassword));

  Error missing = EXPECT_RAISES(kAnyError, edi.filePresentViaFTP("STOP", "/edi/nowhere", "127.0.0.1", port, "edi", kPassword));
  EXPECT_NE(missing.description().find("WinInet.FtpSetCurrentDirectory"), std::string::npos);
  EXPECT_NE(missing.description().find("[lpszDirectory]=/edi/nowhere"), std::string::npos);

  Error login = EXPECT_RAISES(net::wininet::kLoginFailure,
                              edi.filePresentViaFTP("STOP", "/edi/cmd", "127.0.0.1", port, "edi", "Wr0ng-secret"));
  EXPECT_NE(login.description().find("WinInet.InternetConnect"), std::string::npos);
  EXPECT_NE(login.description().find("[sUserPassword]=********"), std::string::npos);
  EXPECT_EQ(login.description().find("Wr0ng-secret"), std::string::npos);
  EXPECT_EQ(login.source(), "Quillon.EDI.makeFTPconnection");

  edi.deleteFileViaFTP("SEMAPHORE", "/edi/cmd", "127.0.0.1", port, "edi", kPassword);
  EXPECT_FALSE(exists(remote("edi/cmd/SEMAPHORE")));
  Error gone = EXPECT_RAISES(net::wininet::kExtendedError,
                             edi.deleteFileViaFTP("SEMAPHORE", "/edi/cmd", "127.0.0.1", port, "edi", kPassword));
  EXPECT_NE(gone.description().find("WinInet.FtpDeleteFile"), std::string::npos);
  EXPECT_NE(gone.description().find("[lpszFileName]=SEMAPHORE"), std::string::npos);
  for (const LogEntry& e : logEntries()) EXPECT_EQ(e.message.find(kPassword), std::string::npos) << e.message;
}

}  // namespace
}  // namespace quillon::test
