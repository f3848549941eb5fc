// A site with a sender and two receiving partners for push tests.
//
// Partner 100 "Acme Supplies" sends (user "sam", on the sender list of
// ORDER); partners 200 "Delta Foods" (user "dora") and 300 "Nordic Foods
// A/S" (user "nils") receive ORDER documents through the distribution list.
// storeOrder() stores a document and publishes it to both receivers.
#pragma once

#include <filesystem>
#include <string>

#include "delivery/SendMethod.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/TSendMethodProperties.h"
#include "platform/Directory.h"
#include "tests/TestSite.h"

namespace quillon::test {

class PushSite : public TestSite {
 protected:
  static constexpr std::int32_t kSender = 100, kDelta = 200, kNordic = 300;

  void SetUp() override {
    TestSite::SetUp();
    const std::string db = dir() + "/directory.db";
    DirectoryAdmin::AddPartner(db, kSender, "Acme Supplies", "", "");
    DirectoryAdmin::AddPartner(db, kDelta, "Delta Foods", "", "");
    DirectoryAdmin::AddPartner(db, kNordic, "Nordic Foods A/S", "", "");
    addUser("sam", kSender, 1033);
    addUser("dora", kDelta, 1033);
    addUser("nils", kNordic, 1031);
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Purchase order')");
    exec("INSERT INTO SENDERLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('ORDER', 100, 'sam')");
    exec("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('ORDER', 200, 'dora')");
    exec("INSERT INTO DISTRIBUTIONLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('ORDER', 300, 'nils')");
  }

  void addUser(const std::string& cn, std::int32_t partner, std::int32_t language) {
    DirectoryAdmin::UserRecord u;
    u.cn = cn;
    u.partnerID = partner;
    u.email = cn + "@" + std::to_string(partner) + ".example";
    u.languageID = language;
    DirectoryAdmin::AddUser(dir() + "/directory.db", u);
  }

  // Stores an ORDER of "sam" with the XML body and publishes it to both receivers.
  std::int32_t storeOrder(const std::string& xml = "<ORDER><NUMBER>4711</NUMBER><AMOUNT>1500</AMOUNT></ORDER>") {
    std::string quoted;
    for (char c : xml) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    exec("INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, XMLBODY, STATUS) VALUES ('ORDER', 'sam', '" + quoted +
         "', 1)");
    const std::string id = scalar("SELECT MAX(DOCUMENTID) FROM DOCUMENT");
    exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID) VALUES (" + id + ", 'dora')");
    exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID) VALUES (" + id + ", 'nils')");
    return std::stoi(id);
  }

  // A send method and its route for the partner (rule -1: without rule).
  std::int32_t addSendMethod(std::int32_t partner, TSendMethodProperties p, std::int32_t rule = -1,
                             bool attachments = false, const std::string& networkID = "",
                             const std::string& mergeFile = "") {
    SendMethod methods;
    std::int32_t id = methods.AddSendMethodProperties3(p, {attachments ? "True" : "False", networkID, mergeFile});
    methods.AddSendMethod2(id, partner, "ORDER", rule);
    return id;
  }

  // A send method of the protocol in XML naming its file "<document id>.xml".
  static TSendMethodProperties xmlMethod(ESendMethodProtocol protocol, const std::string& address,
                                         bool autoPush = true) {
    TSendMethodProperties p;
    p.bAutoPush = autoPush;
    p.nProtocol = protocol;
    p.nFormat = ESendMethodFormat::XML;
    p.sAddress = address;
    p.sFileExtension = "xml";
    p.nSuffix = ESendMethodSuffix::None;
    p.nFileFormat = ESendMethodFileFormat::ASCII;
    return p;
  }

  // A file-path send method in XML writing "<document id>.xml" to the folder.
  static TSendMethodProperties folderMethod(const std::string& folder, bool autoPush = true) {
    return xmlMethod(ESendMethodProtocol::FilePath, folder, autoPush);
  }

  // A folder below the site, created.
  std::string folder(const std::string& name) const {
    std::string path = dir() + "/" + name;
    std::filesystem::create_directories(path);
    return path;
  }

  std::string history(std::int32_t docID) const {
    return scalar("SELECT GROUP_CONCAT(SENDMETHODID || ':' || BUSINESSPARTNERID || ':' || RULEID || ':' || Status, ' ') "
                  "FROM (SELECT * FROM SENDMETHODHISTORY WHERE DOCUMENTID = " + std::to_string(docID) +
                  " ORDER BY HISTORYID) AS H");
  }
  std::string errorCount(std::int32_t docID) const {
    return scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE DOCUMENTID = " + std::to_string(docID));
  }
};

}  // namespace quillon::test
