// A site with what notifications are made of: a document type, partners
// and users in the directory, distribution and sender lists, and helpers to
// store documents, publish them and write templates and stored mails.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "notification/Notification.h"
#include "platform/Directory.h"
#include "tests/TestSite.h"

namespace quillon::test {

class NotificationSite : public TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Purchase order'),"
         " ('INVOICE', 'Invoice')");
    const std::string db = dir() + "/directory.db";
    DirectoryAdmin::AddPartner(db, 100, "Acme Supplies", "ACME-C", "ACME-S");
    DirectoryAdmin::AddPartner(db, 200, "Borealis Retail", "BOR-C", "BOR-S");
    DirectoryAdmin::AddPartner(db, 300, "Cobalt Logistics", "COB-C", "COB-S");
    for (auto [cn, bp] : std::vector<std::tuple<std::string, int>>{
             {"alice", 100}, {"bob", 200}, {"carol", 200}, {"dave", 300}, {"erin", 300}}) {
      DirectoryAdmin::UserRecord u;
      u.cn = cn;
      u.partnerID = bp;
      u.email = cn + "@example.test";
      DirectoryAdmin::AddUser(db, u);
    }
    // Columns: type, partner, user, EMAIL, HTMLATTACHMENT, ATTACHMENTS.
    exec("INSERT INTO DISTRIBUTIONLIST VALUES ('ORDER', 200, 'bob', 1, 0, 0), ('ORDER', 200, 'carol', 1, 0, 0),"
         " ('ORDER', 300, 'dave', 1, 0, 0), ('ORDER', 300, 'erin', 0, 0, 0)");
  }

  // Stores a shown document of the type, sent by alice.
  void store(int id, const std::string& type = "ORDER", bool show = true) {
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, SHOW, XMLBODY) VALUES (" +
         std::to_string(id) + ", '" + type + "', 'alice', 1, " + (show ? "1" : "0") +
         ", '<ORDER><NUMBER>" + std::to_string(id) + "</NUMBER></ORDER>')");
  }
  void publish(int doc, const std::string& user, int status = 0) {
    exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS) VALUES (" + std::to_string(doc) + ", '" + user +
         "', " + std::to_string(status) + ")");
  }
  void addTemplate(const std::string& type, int partner, int mode, const std::string& subject,
                   const std::string& body, bool ccDoc = false, bool ccAtt = false) {
    Notification().AddNotificationTemplate(type, partner, static_cast<std::uint8_t>(mode), subject, body, ccDoc, ccAtt);
  }
  void storeMail(int partner, int doc, int mode, const std::string& subject, const std::string& body,
                 const std::string& cc = "", bool ccDoc = false, bool ccAtt = false) {
    Notification().UpdateNotificationEmail(partner, doc, static_cast<std::uint8_t>(mode), subject, body, cc, ccDoc,
                                           ccAtt);
  }
  std::string errorLabels(int doc) const {
    return scalar("SELECT IFNULL(GROUP_CONCAT(LABEL, ','), '') FROM (SELECT LABEL FROM PUBLICATIONERRORS WHERE "
                  "DOCUMENTID = " + std::to_string(doc) + " ORDER BY PUBLICATIONERRORID)");
  }
};

}  // namespace quillon::test
