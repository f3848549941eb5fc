#include "publication/SenderList.h"

#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "platform/Database.h"
#include "foundation/DBUtils.h"
#include "foundation/Lookups.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlText;
using General::Guarded;

bool SenderList::CheckAuthorizationForSender(const std::string& iDocTypeID, const std::string& iUserID) {
  return Guarded("Quillon.SenderList.CheckAuthorizationForSender", [&] {
    if (iDocTypeID.empty() || iUserID.empty()) return false;
    return Lookups::HasRow("SELECT * FROM SENDERLIST " "WHERE DOCUMENTTYPEID = " + SqlText(iDocTypeID) + " " +
                           "AND USERID = " + SqlText(iUserID) + " ");
  });
}

bool SenderList::GetNotification3(const std::string& iDocTypeID, const std::string& iUserID, bool& o_bNotification,
                                  bool& o_bAttachments, bool& o_bHTMLAttachment) {
  return Guarded("Quillon.SenderList.GetNotification3", [&] {
    o_bNotification = o_bAttachments = o_bHTMLAttachment = false;
    if (iDocTypeID.empty() || iUserID.empty()) return false;
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
        "SELECT NOTIFICATION, ATTACHMENTS, HTMLATTACHMENT " "FROM SENDERLIST " "WHERE (DOCUMENTTYPEID = " +
        SqlText(iDocTypeID) + ") " + "AND (USERID = " + SqlText(iUserID) + ") ");
    if (!rs->EOF_()) {
      auto flag = [&](const char* name) {
        Variant v = rs->Fields(name).Value();
        return !v.isNull() && v.toBool();
      };
      o_bNotification = flag("NOTIFICATION");
      o_bAttachments = flag("ATTACHMENTS");
      o_bHTMLAttachment = flag("HTMLATTACHMENT");
    }
    return o_bNotification;
  });
}

bool SenderList::GetNotification(const std::string& iDocTypeID, const std::string& iUserID) {
  return Guarded("Quillon.SenderList.GetNotification", [&] {
    bool n, a, h;
    return GetNotification3(iDocTypeID, iUserID, n, a, h);
  });
}

Variant SenderList::GetNotification2(const std::string& iDocTypeID, const std::string& iUserID, bool& o_bNotification,
                                     bool& o_bAttachments, bool& o_bHTMLAttachment, std::string& o_sHTMLATTACHMENTXSL) {
  return Guarded("Quillon.SenderList.GetNotification2", [&] {
    bool result = GetNotification3(iDocTypeID, iUserID, o_bNotification, o_bAttachments, o_bHTMLAttachment);
    o_sHTMLATTACHMENTXSL = Utility().GetHtmlAttachmentXsl(iDocTypeID);
    return Variant(result);
  });
}

namespace {
bool senderFlag(const char* column, const std::string& type, const std::string& user) {
  if (type.empty() || user.empty()) return false;
  Variant v = Lookups::FirstValue(std::string("SELECT ") + column + " FROM SENDERLIST WHERE DOCUMENTTYPEID = " +
                                  SqlText(type) + " " + "AND USERID = " + SqlText(user) + " ");
  return !v.isEmpty() && !v.isNull() && v.toBool();
}
}  // namespace

bool SenderList::GetAttachments(const std::string& iDocTypeID, const std::string& iUserID) {
  return Guarded("Quillon.SenderList.GetAttachments", [&] { return senderFlag("ATTACHMENTS", iDocTypeID, iUserID); });
}

bool SenderList::GetDocumentAsAttachment(const std::string& iDocTypeID, const std::string& iUserID) {
  return Guarded("Quillon.SenderList.GetDocumentAsAttachment",
                 [&] { return senderFlag("HTMLATTACHMENT", iDocTypeID, iUserID); });
}

const ClassInfo* SenderList::classInfo() const {
  using A = std::vector<Variant>;
  static const ClassInfo* info =
      ClassBuilder<SenderList>("Quillon.SenderList")
          .method("CheckAuthorizationForSender", {ref("iDocTypeID"), ref("iUserID")},
                  [](SenderList& s, A& a) { return Variant(s.CheckAuthorizationForSender(a[0].text(), a[1].text())); })
          .method("GetNotification", {ref("iDocTypeID"), ref("iUserID")},
                  [](SenderList& s, A& a) { return Variant(s.GetNotification(a[0].text(), a[1].text())); })
          .method("GetNotification3",
                  {ref("iDocTypeID"), ref("iUserID"), ref("o_bNotification"), ref("o_bAttachments"), ref("o_bHTMLAttachment")},
                  [](SenderList& s, A& a) {
                    bool n, at, h;
                    bool r = s.GetNotification3(a[0].text(), a[1].text(), n, at, h);
                    a[2] = Variant(n);
                    a[3] = Variant(at);
                    a[4] = Variant(h);
                    return Variant(r);
                  })
          .method("GetNotification2",
                  {ref("iDocTypeID"), ref("iUserID"), ref("o_bNotification"), ref("o_bAttachments"), ref("o_bHTMLAttachment"),
                   ref("o_sHTMLATTACHMENTXSL")},
                  [](SenderList& s, A& a) {
                    bool n, at, h;
                    std::string xsl;
                    Variant r = s.GetNotification2(a[0].text(), a[1].text(), n, at, h, xsl);
                    a[2] = Variant(n);
                    a[3] = Variant(at);
                    a[4] = Variant(h);
                    a[5] = Variant(xsl);
                    return r;
                  })
          .method("GetAttachments", {ref("iDocTypeID"), ref("iUserID")},
                  [](SenderList& s, A& a) { return Variant(s.GetAttachments(a[0].text(), a[1].text())); })
          .method("GetDocumentAsAttachment", {ref("iDocTypeID"), ref("iUserID")},
                  [](SenderList& s, A& a) { return Variant(s.GetDocumentAsAttachment(a[0].text(), a[1].text())); })
          .done();
  return info;
}

namespace {
const bool kRegistered = (SenderList().classInfo(), true);
}

}  // namespace quillon
