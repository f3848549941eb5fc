// The EDI exchange over local folders: merging, archives, the handshake,
// incoming names, and no message lost or sent twice when a step fails.
#include <fcntl.h>
#include <sys/file.h>

#include <fstream>
#include <regex>

#include "imports/EDI.h"
#include "platform/CodePage.h"
#include "tests/imports/EDITestSupport.h"

namespace fs = std::filesystem;

namespace quillon::test {
namespace {

class EDITest : public EdiSite {};

const std::string kUtf16Mark = "\xFF\xFE";

TEST_F(EDITest, GroupsAreMergedInTheirEncodingArchivedLoggedAndRemoved) {
  EdiNetworkRow n = localNetwork();
  addNetwork(n);
  // An ANSI group: messages in nested folders, merged in name order.
  std::string m1 = stage(n, "ORDERS", "ORDERS/400_Delta/a.edi", "UNB+1'");
  std::string m2 = stage(n, "ORDERS", "ORDERS/400_Delta/b.edi", "UNB+2'\r\nUNZ'");
  stage(n, "ORDERS", "ASCII", "");
  stage(n, "ORDERS", "ORDERS/400_Delta/~c.edi", "being written");
  stage(n, "ORDERS", "ORDERS", "a file named like the group is no message");
  // A Unicode group whose message holds characters beyond ASCII.
  std::string text = "NAD+BY+Zürich €'";
  std::string m3 = stage(n, "INVOIC", "INVOIC/1/x.edi", kUtf16Mark + ToUtf16LE(text));
  stage(n, "INVOIC", "Unicode", "");
  // A group holding only a file still being written.
  stage(n, "DESADV", "DESADV/1/~y.edi", "being written");
  letThisSecondPass();

  EDIRunSummary s = RunEDIExchange();

  EXPECT_TRUE(s.ran);
  EXPECT_EQ(s.networks, 1);
  EXPECT_EQ(s.filesSent, 2);
  EXPECT_EQ(s.messagesSent, 3);
  EXPECT_EQ(s.errors, 0);
  EXPECT_EQ(files(n.root + "/out"), (std::vector<std::string>{"INVOIC", "ORDERS"}));
  EXPECT_EQ(read(n.root + "/out/ORDERS"), "UNB+1'\r\nUNB+2'\r\nUNZ'\r\n");
  EXPECT_EQ(read(n.root + "/out/INVOIC"), kUtf16Mark + ToUtf16LE(text + "\r\n"));
  for (const std::string& m : {m1, m2, m3}) EXPECT_FALSE(exists(m)) << m;
  EXPECT_TRUE(exists(n.tempFolder + "/Messages/ORDERS/ORDERS/400_Delta/~c.edi"));
  EXPECT_TRUE(exists(n.tempFolder + "/Messages/ORDERS/ASCII"));
  EXPECT_TRUE(exists(n.tempFolder + "/Messages/ORDERS/ORDERS"));

  // Per sent group an archive copy and a log of the merged files; nothing
  // for the group without messages, and no "~" work file left.
  std::vector<std::string> logs = files(n.tempFolder + "/Log");
  ASSERT_EQ(logs.size(), 4u) << ::testing::PrintToString(logs);
  std::regex stamp(R"(\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d_(INVOIC|ORDERS)(\.log)?)");
  for (const std::string& f : logs) EXPECT_TRUE(std::regex_match(f, stamp)) << f;
  std::string ordersArchive = logs[2], ordersLog = logs[3];
  EXPECT_EQ(read(n.tempFolder + "/Log/" + ordersArchive), read(n.root + "/out/ORDERS"));
  EXPECT_EQ(read(n.tempFolder + "/Log/" + ordersLog), m1 + "\r\n" + m2 + "\r\n");
  EXPECT_EQ(read(n.tempFolder + "/Log/" + logs[1]), kUtf16Mark + ToUtf16LE(m3 + "\r\n"));

  // A second run finds nothing to send.
  EXPECT_EQ(RunEDIExchange().filesSent, 0);
  EXPECT_EQ(files(n.tempFolder + "/Log").size(), 4u);
}

TEST_F(EDITest, AFailedMoveKeepsEveryMessageForTheNextRunWhichSendsThemOnce) {
  EdiNetworkRow n = localNetwork();
  addNetwork(n);
  std::string m1 = stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  letThisSecondPass();
  // The network's out folder is gone and a file stands in its place.
  fs::remove(n.root + "/out");
  std::ofstream(n.root + "/out") << "not a folder";

  EDIRunSummary failed = RunEDIExchange();
  EXPECT_TRUE(failed.ran);
  EXPECT_EQ(failed.filesSent, 0);
  EXPECT_EQ(failed.errors, 1);
  EXPECT_TRUE(exists(m1));
  EXPECT_TRUE(files(n.tempFolder + "/Log").empty());  // no log, no archive, no work file
  EXPECT_FALSE(logged("Error in moving file").empty());

  fs::remove(n.root + "/out");
  fs::create_directory(n.root + "/out");
  EXPECT_EQ(RunEDIExchange().filesSent, 1);
  EXPECT_EQ(read(n.root + "/out/ORDERS"), "UNB+1'\r\n");
  EXPECT_FALSE(exists(m1));
  EXPECT_EQ(RunEDIExchange().filesSent, 0);
}

TEST_F(EDITest, AMergedFileTheNetworkHasNotTakenYetIsNeverReplaced) {
  EdiNetworkRow n = localNetwork();
  addNetwork(n);
  std::ofstream(n.root + "/out/ORDERS") << "UNB+0'\r\n";
  std::string m1 = stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  letThisSecondPass();

  EXPECT_EQ(RunEDIExchange().errors, 1);
  EXPECT_EQ(read(n.root + "/out/ORDERS"), "UNB+0'\r\n");
  EXPECT_TRUE(exists(m1));
  EXPECT_EQ(files(n.root + "/out"), std::vector<std::string>{"ORDERS"});

  fs::remove(n.root + "/out/ORDERS");  // the network took it
  EXPECT_EQ(RunEDIExchange().filesSent, 1);
  EXPECT_EQ(read(n.root + "/out/ORDERS"), "UNB+1'\r\n");
}

TEST_F(EDITest, SentMessagesThatCannotBeRemovedAreNeverSentAgain) {
  EdiNetworkRow n = localNetwork();
  addNetwork(n);
  std::string m1 = stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  std::string m2 = stage(n, "ORDERS", "ORDERS/1/b.edi", "UNB+2'");
  RunEDIExchange();  // lays out the site's own folders before the rights change
  fs::remove(n.root + "/out/ORDERS");
  // Put the messages back as the send method would and make their folder
  // read-only for the run, which may use everything else.
  m1 = stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  m2 = stage(n, "ORDERS", "ORDERS/1/b.edi", "UNB+2'");
  letThisSecondPass();
  for (const auto& entry : fs::recursive_directory_iterator(dir()))
    fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
  fs::permissions(dir(), fs::perms::all, fs::perm_options::add);
  const std::string messageFolder = n.tempFolder + "/Messages/ORDERS/ORDERS/1";
  fs::permissions(messageFolder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);

  EDIRunSummary first, second;
  WithOrdinaryUserRights([&] {
    first = RunEDIExchange();
    fs::remove(n.root + "/out/ORDERS");  // the network took the merged file
    second = RunEDIExchange();
  });
  EXPECT_EQ(first.filesSent, 1);
  EXPECT_EQ(first.messagesSent, 2);
  EXPECT_EQ(first.errors, 2);
  EXPECT_EQ(second.filesSent, 0) << "sent again";
  EXPECT_FALSE(exists(n.root + "/out/ORDERS"));
  EXPECT_TRUE(exists(m1));
  EXPECT_EQ(logged("TAKE CARE: if individual EDI message files cannot be removed").size(), 4u);

  // Once the folder is writable again a run removes them, sending nothing;
  // a new message of the same name is a new message.
  fs::permissions(messageFolder, fs::perms::owner_write, fs::perm_options::add);
  EDIRunSummary third = RunEDIExchange();
  EXPECT_EQ(third.filesSent, 0);
  EXPECT_EQ(third.errors, 0);
  EXPECT_FALSE(exists(m1));
  EXPECT_FALSE(exists(m2));
  stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+3'");
  letThisSecondPass();
  EXPECT_EQ(RunEDIExchange().messagesSent, 1);
  EXPECT_EQ(read(n.root + "/out/ORDERS"), "UNB+3'\r\n");
}

TEST_F(EDITest, TheHandshakeGatesTheExchange) {
  EdiNetworkRow n = localNetwork();
  n.useSemaphore = true;
  addNetwork(n);
  std::string message = stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  std::ofstream(n.root + "/in/ORDERS.001") << "<ORDER/>";
  letThisSecondPass();

  // No semaphore yet: a start file is left, nothing is exchanged.
  EDIRunSummary waiting = RunEDIExchange();
  EXPECT_EQ(waiting.errors, 0);
  EXPECT_EQ(files(n.root + "/cmd"), std::vector<std::string>{"START"});
  EXPECT_TRUE(exists(message));
  EXPECT_TRUE(exists(n.root + "/in/ORDERS.001"));

  // A stop file forbids the exchange and no start file is made.
  fs::remove(n.root + "/cmd/START");
  std::ofstream(n.root + "/cmd/STOP") << "";
  std::ofstream(n.root + "/cmd/SEMAPHORE") << "";
  RunEDIExchange();
  EXPECT_EQ(files(n.root + "/cmd"), (std::vector<std::string>{"SEMAPHORE", "STOP"}));
  EXPECT_TRUE(exists(message));

  // The semaphore without a stop file: exchange, then the semaphore goes.
  fs::remove(n.root + "/cmd/STOP");
  EDIRunSummary s = RunEDIExchange();
  EXPECT_EQ(s.filesSent, 1);
  EXPECT_EQ(s.filesReceived, 1);
  EXPECT_EQ(files(n.root + "/cmd"), std::vector<std::string>{"START"});
  EXPECT_FALSE(exists(message));

  // A handshake file name may not lead out of the command folder.
  exec("UPDATE EDINETWORK SET SEMAPHORE = '../out/x'");
  EXPECT_EQ(RunEDIExchange().errors, 1);
  EXPECT_FALSE(logged("is not a file name in the command folder").empty());
}

TEST_F(EDITest, IncomingFilesArriveWithTheirNamesNeverReplacingOneAndTildeFilesWait) {
  EdiNetworkRow n = localNetwork();
  addNetwork(n);
  std::ofstream(n.root + "/in/ORDERS.001") << "first";
  std::ofstream(n.root + "/in/ORDERS.002") << "second";
  std::ofstream(n.root + "/in/INVOIC") << "third";
  std::ofstream(n.root + "/in/~DESADV.edi") << "being written";
  std::ofstream(n.root + "/in/x\\..\\..\\evil.edi") << "hostile name";

  EDIRunSummary s = RunEDIExchange();
  EXPECT_EQ(s.filesReceived, 4);
  EXPECT_EQ(s.errors, 0);
  EXPECT_EQ(files(n.root + "/in"), std::vector<std::string>{"~DESADV.edi"});
  std::vector<std::string> got = files(dir() + "/xml/in1");
  ASSERT_EQ(got.size(), 4u) << ::testing::PrintToString(got);
  const std::string time = R"(_\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d)";
  std::vector<std::string> contents;
  int orders = 0;
  for (const std::string& f : got) {
    contents.push_back(read(dir() + "/xml/in1/" + f));
    if (std::regex_match(f, std::regex("ORDERS_NET1" + time + "(_1)?\\.xml"))) ++orders;
    else
      EXPECT_TRUE(std::regex_match(f, std::regex("(INVOIC|x_)_NET1" + time + "\\.xml")) ||
                  std::regex_match(f, std::regex("INVOIC_NET1" + time + "\\.xml")))
          << f;
  }
  EXPECT_EQ(orders, 2);
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, (std::vector<std::string>{"first", "hostile name", "second", "third"}));
}

TEST_F(EDITest, AFailingNetworkIsLoggedAndTheNextOneFollowsInSequence) {
  EdiNetworkRow bad = localNetwork("BAD");
  bad.sequence = 1;
  bad.protocol = 99;
  addNetwork(bad);
  EdiNetworkRow good = localNetwork("GOOD");
  good.sequence = 2;
  addNetwork(good);
  EdiNetworkRow ftp = localNetwork("NOFTP");
  ftp.sequence = 3;
  ftp.protocol = 40;
  ftp.root = "127.0.0.1/edi";  // not an FTP address
  addNetwork(ftp);
  std::ofstream(good.root + "/in/ORDERS.001") << "x";

  EDIRunSummary s = RunEDIExchange();
  EXPECT_TRUE(s.ran);
  EXPECT_EQ(s.networks, 3);
  EXPECT_EQ(s.errors, 2);
  EXPECT_EQ(s.filesReceived, 1);
  EXPECT_FALSE(logged("Could not finish exchanging EDI messages properly for  EDI Network 'BAD' ").empty());
  EXPECT_FALSE(logged("Unknown protocol: 99").empty());
  EXPECT_FALSE(logged("Invalid FTP folder 127.0.0.1/edi").empty());
}

TEST_F(EDITest, ASecondRunWhileOneIsWorkingExchangesNothing) {
  EdiNetworkRow n = localNetwork();
  addNetwork(n);
  std::string message = stage(n, "ORDERS", "ORDERS/1/a.edi", "UNB+1'");
  letThisSecondPass();
  fs::create_directories(dir() + "/temp");
  int fd = ::open((dir() + "/temp/edi-run.lock").c_str(), O_RDONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EDIRunSummary s = RunEDIExchange();
  ::close(fd);
  EXPECT_TRUE(s.ran);
  EXPECT_TRUE(s.skipped);
  EXPECT_TRUE(exists(message));
  EXPECT_TRUE(files(n.root + "/out").empty());
  EXPECT_EQ(RunEDIExchange().filesSent, 1);
}

TEST_F(EDITest, RunNeverRaisesAndReferencesAreFoundByNetworkAndProtocol) {
  exec("DROP TABLE EDINETWORK");
  EXPECT_NO_THROW(EDI().Run());
  EDIRunSummary s = RunEDIExchange();
  EXPECT_FALSE(s.ran);
  EXPECT_NE(s.failure.find("EDINETWORK"), std::string::npos) << s.failure;

  EDI edi;
  EXPECT_EQ(edi.checkEdiReferences("NET1"), "");
  exec("INSERT INTO SENDMETHODPROPERTY (PROTOCOL, ADDRESS) VALUES (40, 'NET1')");
  EXPECT_EQ(edi.checkEdiReferences("NET1"), "");
  exec("INSERT INTO SENDMETHODPROPERTY (PROTOCOL, ADDRESS) VALUES (80, 'NET1')");
  EXPECT_EQ(edi.checkEdiReferences("NET1"), "Array(\"Send methods\")");
  EXPECT_EQ(edi.checkEdiReferences("NET2' OR 'a'='a"), "");
}

}  // namespace
}  // namespace quillon::test
