// The push of one document to ten receiving partners, document after
// document, through two transports: a file-path send method (each partner
// has its own folder) and an e-mail send method without a relay (the mail
// goes to the site's pickup folder). Prints documents per second against
// the bare work measured in the same run on the same disk: the same files
// written directly (under a "~" name, then renamed, as the transport does;
// it does not flush them), and the same .eml messages written directly with
// the pickup folder's durability (fsync of the file, rename, fsync of the
// folder), with and without composing them.
//
//   bench_push [DOCUMENTS=100] [FOLDER=/var/tmp] [file|mail]
//
// A third argument runs only that push, with no bare work (for a profiler).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "delivery/PushDocUtils.h"
#include "delivery/SendMethod.h"
#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/Site.h"
#include "foundation/TSendMethodProperties.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "platform/Mail.h"

namespace fs = std::filesystem;
using namespace quillon;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kReceivers = 10;
constexpr int kWarmUp = 5;
constexpr std::int32_t kSenderBP = 100;

std::string newFolder(const std::string& parent) {
  std::string tmpl = parent + "/quillon-bench-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a folder in " + parent);
  return tmpl;
}

void exec(const std::string& sql) {
  auto conn = DBUtils::GetConnection();
  conn->Execute(sql);
  General::CloseConnection(conn);
}

// An order of about 4 KB.
std::string orderText() {
  std::string xml = "<ORDER><NUMBER>PO-4711</NUMBER><BUYER>Acme Supplies</BUYER>";
  for (int i = 0; xml.size() < 4000; ++i)
    xml += "<LINE><POS>" + std::to_string(i + 1) + "</POS><ITEM>Bolt M4 x 20</ITEM><QTY>100</QTY></LINE>";
  return xml + "</ORDER>";
}

std::int32_t partner(int i) { return 201 + i; }

// Stores a document of the type from "sam" and publishes it to every receiver.
std::int32_t storeDocument(const std::string& type, const std::string& xml) {
  exec("INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, XMLBODY, STATUS) VALUES ('" + type + "', 'sam', '" + xml + "', 1)");
  auto rs = DBUtils::getDisconnectedReadOnlyRecordSet("SELECT MAX(DOCUMENTID) AS ID FROM DOCUMENT");
  std::int32_t id = rs->Fields("ID").Value().toInt32();
  for (int i = 0; i < kReceivers; ++i)
    exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID) VALUES (" + std::to_string(id) + ", '" + type + "-r" +
         std::to_string(i) + "')");
  return id;
}

TSendMethodProperties fileMethod(const std::string& folder) {
  TSendMethodProperties p;
  p.bAutoPush = true;
  p.nProtocol = ESendMethodProtocol::FilePath;
  p.nFormat = ESendMethodFormat::XML;
  p.sAddress = folder;
  p.sFileExtension = "xml";
  p.nSuffix = ESendMethodSuffix::None;
  p.nFileFormat = ESendMethodFileFormat::ASCII;
  return p;
}

TSendMethodProperties mailMethod(const std::string& address) {
  TSendMethodProperties p = fileMethod("");
  p.nProtocol = ESendMethodProtocol::Email;
  p.sAddress = address;
  return p;
}

// A document type whose ten receivers each have a user on its distribution
// list and one send method made by `method`.
template <class M>
void addType(const std::string& dir, const std::string& type, M method) {
  exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('" + type + "', '" + type + "')");
  exec("INSERT INTO SENDERLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('" + type + "', 100, 'sam')");
  SendMethod methods;
  for (int i = 0; i < kReceivers; ++i) {
    std::string user = type + "-r" + std::to_string(i);
    DirectoryAdmin::UserRecord u;
    u.cn = user;
    u.partnerID = partner(i);
    u.email = user + "@" + std::to_string(partner(i)) + ".example";
    DirectoryAdmin::AddUser(dir + "/directory.db", u);
    exec("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('" + type + "', " +
         std::to_string(partner(i)) + ", '" + user + "')");
    TSendMethodProperties p = method(i);
    std::int32_t id = methods.AddSendMethodProperties3(p, {"False", "", ""});
    methods.AddSendMethod2(id, partner(i), type, -1);
  }
}

template <class F>
double perSecond(int count, F&& f) {
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) f(i);
  return count / std::chrono::duration<double>(Clock::now() - start).count();
}

void writeAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("write failed");
    done += static_cast<std::size_t>(n);
  }
}

// As the file transport: "~name" written, then renamed; not flushed.
void writeRenamed(const std::string& folder, const std::string& name, const std::string& bytes) {
  std::string temp = folder + "/~" + name, final = folder + "/" + name;
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + temp);
  writeAll(fd, bytes);
  ::close(fd);
  if (::rename(temp.c_str(), final.c_str()) != 0) throw std::runtime_error("cannot rename " + temp);
}

// As the pickup folder: "~name" written and flushed, renamed, folder flushed.
void writeDurable(const std::string& folder, const std::string& name, const std::string& bytes) {
  std::string temp = folder + "/~" + name, final = folder + "/" + name;
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + temp);
  writeAll(fd, bytes);
  if (::fsync(fd) != 0) throw std::runtime_error("fsync failed");
  ::close(fd);
  if (::rename(temp.c_str(), final.c_str()) != 0) throw std::runtime_error("cannot rename " + temp);
  int d = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ::fsync(d);
  ::close(d);
}

std::size_t countFiles(const std::string& folder) {
  std::size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) n += e.is_regular_file();
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int documents = argc > 1 ? std::atoi(argv[1]) : 100;
  const std::string parent = argc > 2 ? argv[2] : "/var/tmp";
  const std::string only = argc > 3 ? argv[3] : "";
  try {
    const std::string dir = newFolder(parent);
    Site::Create(dir);
    // As on a site in service, the configuration files are not brand new
    // (a file changed within the last seconds is read again at each use).
    for (const char* name : {kB2BConfigFileName, kSiteConfigFileName}) {
      bench::MakeNotBrandNew(dir + "/" + name);
    }
    ::setenv(kSiteEnvironmentVariable, dir.c_str(), 1);
    General::ResetThreadState();

    const std::string db = dir + "/directory.db";
    DirectoryAdmin::AddPartner(db, kSenderBP, "Acme Supplies", "", "");
    for (int i = 0; i < kReceivers; ++i)
      DirectoryAdmin::AddPartner(db, partner(i), "Receiver " + std::to_string(i), "", "");
    DirectoryAdmin::UserRecord sam;
    sam.cn = "sam";
    sam.partnerID = kSenderBP;
    sam.email = "sam@100.example";
    DirectoryAdmin::AddUser(db, sam);
    addType(dir, "ORDER", [&](int i) {
      std::string folder = dir + "/out/" + std::to_string(partner(i));
      fs::create_directories(folder);
      return fileMethod(folder);
    });
    addType(dir, "NOTICE", [&](int i) { return mailMethod("orders@" + std::to_string(partner(i)) + ".example"); });

    const std::string xml = orderText();
    std::vector<std::int32_t> orders, notices;
    for (int i = 0; i < documents + kWarmUp; ++i) {
      orders.push_back(storeDocument("ORDER", xml));
      notices.push_back(storeDocument("NOTICE", xml));
    }

    PushDocUtils push;
    for (int i = 0; i < kWarmUp; ++i) {
      push.PushDocumentToReceivers(orders[i], "ORDER");
      push.PushDocumentToReceivers(notices[i], "NOTICE");
    }
    if (!only.empty()) {
      const bool file = only == "file";
      double rate = perSecond(documents, [&](int i) {
        if (file)
          push.PushDocumentToReceivers(orders[kWarmUp + i], "ORDER");
        else
          push.PushDocumentToReceivers(notices[kWarmUp + i], "NOTICE");
      });
      std::printf("push by %s: %.1f documents/s\n", file ? "file path" : "mail", rate);
      fs::remove_all(dir);
      return 0;
    }
    double files = perSecond(documents, [&](int i) { push.PushDocumentToReceivers(orders[kWarmUp + i], "ORDER"); });
    double mails = perSecond(documents, [&](int i) { push.PushDocumentToReceivers(notices[kWarmUp + i], "NOTICE"); });

    auto errors = DBUtils::getDisconnectedReadOnlyRecordSet("SELECT COUNT(*) AS N FROM PUBLICATIONERRORS");
    const long errorCount = errors->Fields("N").Value().toInt32();
    const std::size_t written = countFiles(dir + "/out"), mailed = countFiles(dir + "/mail/pickup");

    // The bare work on the same disk.
    const std::string bare = dir + "/bare";
    for (int r = 0; r < kReceivers; ++r) fs::create_directories(bare + "/files/" + std::to_string(r));
    fs::create_directories(bare + "/pickup");
    double bareFiles = perSecond(documents, [&](int i) {
      for (int r = 0; r < kReceivers; ++r)
        writeRenamed(bare + "/files/" + std::to_string(r), std::to_string(orders[kWarmUp + i]) + ".xml", xml);
    });
    // The same message as the transport composes: sender, receiver,
    // subject, the document as attachment.
    const std::string attachment = bare + "/attachment.xml";
    std::ofstream(attachment, std::ios::binary) << xml;
    auto message = [&](int i, int r) {
      mail::OutgoingMail m;
      m.from = "sam@100.example";
      m.to = "orders@" + std::to_string(partner(r)) + ".example";
      m.subject = "Document " + std::to_string(notices[kWarmUp + i]);
      m.attachments = {{attachment, std::to_string(notices[kWarmUp + i]) + ".xml"}};
      return m;
    };
    std::vector<std::string> composed;
    for (int i = 0; i < documents; ++i)
      for (int r = 0; r < kReceivers; ++r) composed.push_back(mail::ComposeMail(message(i, r), true));
    double bareMails = perSecond(documents, [&](int i) {
      for (int r = 0; r < kReceivers; ++r)
        writeDurable(bare + "/pickup", std::to_string(i) + "-" + std::to_string(r) + ".eml", composed[i * kReceivers + r]);
    });
    fs::create_directories(bare + "/pickup2");
    double bareComposedMails = perSecond(documents, [&](int i) {
      for (int r = 0; r < kReceivers; ++r)
        writeDurable(bare + "/pickup2", std::to_string(i) + "-" + std::to_string(r) + ".eml",
                     mail::ComposeMail(message(i, r), true));
    });

    std::printf("documents %d (+%d warm-up), %d receivers each, %zu bytes of XML, on %s\n", documents, kWarmUp,
                kReceivers, xml.size(), parent.c_str());
    std::printf("files written %zu, mails in the pickup folder %zu, publication errors %ld\n", written, mailed,
                errorCount);
    std::printf("%-46s %10.1f documents/s\n", "push by file path", files);
    std::printf("%-46s %10.1f documents/s\n", "bare: same files written, renamed", bareFiles);
    std::printf("%-46s %10.2f\n", "ratio file path / bare", files / bareFiles);
    std::printf("%-46s %10.1f documents/s\n", "push by mail (pickup folder)", mails);
    std::printf("%-46s %10.1f documents/s\n", "bare: same .eml written, fsync, rename, fsync", bareMails);
    std::printf("%-46s %10.2f\n", "ratio mail / bare", mails / bareMails);
    std::printf("%-46s %10.1f documents/s\n", "bare: composed (GMime) and written as above", bareComposedMails);
    std::printf("%-46s %10.2f\n", "ratio mail / bare with composing", mails / bareComposedMails);
    fs::remove_all(dir);
    return 0;
  } catch (...) {
    std::fprintf(stderr, "bench_push: %s\n", ErrorInfo::current().description.c_str());
    return 1;
  }
}
