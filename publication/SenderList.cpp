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
  using S = SenderList;
  static const ClassInfo* info =
      ClassBuilder<SenderList>("Quillon.SenderList")
          .bind<&S::CheckAuthorizationForSender>("CheckAuthorizationForSender", {ref("iDocTypeID"), ref("iUserID")})
          .bind<&S::GetNotification>("GetNotification", {ref("iDocTypeID"), ref("iUserID")})
          .bind<&S::GetNotification3>("GetNotification3", {ref("iDocTypeID"), ref("iUserID"), out("o_bNotification"),
                                                           out("o_bAttachments"), out("o_bHTMLAttachment")})
          .bind<&S::GetNotification2>("GetNotification2",
                                      {ref("iDocTypeID"), ref("iUserID"), out("o_bNotification"), out("o_bAttachments"),
                                       out("o_bHTMLAttachment"), out("o_sHTMLATTACHMENTXSL")})
          .bind<&S::GetAttachments>("GetAttachments", {ref("iDocTypeID"), ref("iUserID")})
          .bind<&S::GetDocumentAsAttachment>("GetDocumentAsAttachment", {ref("iDocTypeID"), ref("iUserID")})
          .done();
  return info;
}

namespace {
const bool kRegistered = (SenderList().classInfo(), true);
}

}  // namespace quillon
