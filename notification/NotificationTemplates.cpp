// Notification: maintenance of the template and stored-mail tables, and the
// placeholder checks of texts to be stored there.
#include "foundation/ConnectionScope.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "notification/Notification.h"
#include "notification/NotificationPlaceholders.h"
#include "platform/Database.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlByte;
using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;
namespace ph = NotificationPlaceholders;

namespace {

const std::string kSource = "Quillon.Notification.";

std::string templateKey(const std::string& type, std::int32_t partner, std::uint8_t mode) {
  return std::string(" WHERE DOCUMENTTYPEID = ") + SqlText(type) + "   AND BUSINESSPARTNERID = " + SqlLong(partner) +
         "   AND MODE = " + SqlByte(mode);
}

bool flag(Recordset& rs, const char* column) {
  const Variant& v = rs.Fields(column).Value();
  return !v.isNull() && !v.isEmpty() && v.toBool();
}

void writeTemplateTexts(Recordset& rs, const std::string& subject, const std::string& body, bool ccDoc, bool ccAtt) {
  rs.Fields("SUBJECT").SetValue(Variant(subject));
  rs.Fields("BODY").SetValue(Variant(body));
  rs.Fields("CCATT").SetValue(Variant(ccAtt));
  rs.Fields("CCDOC").SetValue(Variant(ccDoc));
}

void readTemplateTexts(Recordset& rs, std::string& subject, std::string& body, bool& ccDoc, bool& ccAtt) {
  subject = rs.Fields("SUBJECT").Value().text();
  body = rs.Fields("BODY").Value().text();
  ccDoc = flag(rs, "CCDOC");
  ccAtt = flag(rs, "CCATT");
}

bool checked(std::int32_t partner, std::uint8_t mode, const std::string& text, bool isTemplate, bool isBody,
             std::string& invalidCodes) {
  invalidCodes = ph::InvalidPlaceholders(partner, mode, text, isTemplate, isBody);
  return invalidCodes.empty();
}

}  // namespace

// ---- templates -------------------------------------------------------------------

std::int32_t Notification::CanAddNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID) {
  return Guarded(kSource + "CanAddNotificationTemplate", [&] {
    // Each existing row takes its mode's bit away. Clearing bits (rather
    // than subtracting) keeps the answer a set of modes even for rows the
    // partner cannot have, such as a mode-1 row of the copy partner.
    std::int32_t modes = i_lBPID == ph::kCopyPartner ? 2 : 3;
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(std::string("SELECT MODE ") + " FROM NOTIFICATIONTEMPLATE " +
                                                        " WHERE DOCUMENTTYPEID = " + SqlText(i_sDocTypeID) +
                                                        "   AND BUSINESSPARTNERID = " + SqlLong(i_lBPID));
    for (; !rs->EOF_(); rs->MoveNext()) {
      const Variant& mode = rs->Fields("MODE").Value();
      if (mode.isNull()) continue;
      if (mode.toInt32() == ph::kRecipientMode) modes &= ~2;
      if (mode.toInt32() == ph::kSenderMode) modes &= ~1;
    }
    DBUtils::CloseRecordset(rs);
    return modes;
  });
}

void Notification::AddNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                           std::uint8_t i_yNotificationMode, const std::string& i_sSubject,
                                           const std::string& i_sBody, bool i_bCcDoc, bool i_bCcAtt) {
  const std::string source = kSource + "AddNotificationTemplate";
  Guarded(source, [&] {
    if (i_sDocTypeID != "-1" && !Utility().DocTypeFoundInTable(i_sDocTypeID))
      throw Error(MissingDocumentTypeID, source, I18N::LabelWith("SLBSH6085", {{"[%DOCTYPE%]", i_sDocTypeID}}));
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM NOTIFICATIONTEMPLATE WHERE 0 = 1", conn.get());
    rs->AddNew();
    rs->Fields("DOCUMENTTYPEID").SetValue(Variant(i_sDocTypeID));
    rs->Fields("BUSINESSPARTNERID").SetValue(Variant(i_lBPID));
    rs->Fields("MODE").SetValue(Variant(i_yNotificationMode));
    writeTemplateTexts(*rs, i_sSubject, i_sBody, i_bCcDoc, i_bCcAtt);
    rs->Update();
    rs->Close();
  });
}

void Notification::UpdateNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                              std::uint8_t i_yNotificationMode, const std::string& i_sSubject,
                                              const std::string& i_sBody, bool i_bCcDoc, bool i_bCcAtt) {
  Guarded(kSource + "UpdateNotificationTemplate", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate(std::string("SELECT * ") + " FROM NOTIFICATIONTEMPLATE " + templateKey(i_sDocTypeID, i_lBPID, i_yNotificationMode),
                            conn.get());
    if (!rs->EOF_()) {
      writeTemplateTexts(*rs, i_sSubject, i_sBody, i_bCcDoc, i_bCcAtt);
      rs->Update();
    }
    rs->Close();
  });
}

void Notification::DeleteNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                              std::uint8_t i_yNotificationMode) {
  Guarded(kSource + "DeleteNotificationTemplate", [&] {
    ConnectionScope conn;
    conn.get()->Execute(std::string(" DELETE ") + " FROM NOTIFICATIONTEMPLATE " + templateKey(i_sDocTypeID, i_lBPID, i_yNotificationMode));
  });
}

bool Notification::GetNotificationTemplateProperties(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                                     std::uint8_t i_yNotificationMode, std::string& o_sSubject,
                                                     std::string& o_sBody, bool& o_bCcDoc, bool& o_bCcAtt) {
  return Guarded(kSource + "GetNotificationTemplateProperties", [&] {
    o_sSubject.clear();
    o_sBody.clear();
    o_bCcDoc = o_bCcAtt = false;
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
        std::string("SELECT * FROM NOTIFICATIONTEMPLATE WHERE ") + " DOCUMENTTYPEID = " + SqlText(i_sDocTypeID) +
        " AND " + " BUSINESSPARTNERID = " + SqlLong(i_lBPID) + " AND " + " MODE = " + SqlByte(i_yNotificationMode));
    bool found = !rs->EOF_();
    if (found) readTemplateTexts(*rs, o_sSubject, o_sBody, o_bCcDoc, o_bCcAtt);
    DBUtils::CloseRecordset(rs);
    return found;
  });
}

void Notification::GetDefaultNotificationTemplateProperties(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                                            std::uint8_t i_yNotificationMode, std::string& o_sSubject,
                                                            std::string& o_sBody, bool& o_bCcDoc, bool& o_bCcAtt) {
  const std::string source = kSource + "GetDefaultNotificationTemplateProperties";
  Guarded(source, [&] {
    o_sSubject.clear();
    o_sBody.clear();
    o_bCcDoc = o_bCcAtt = false;
    std::string sql = std::string("SELECT TOP 1 BUSINESSPARTNERID, DOCUMENTTYPEID, MODE,  ") +
                      "          SUBJECT, BODY, CCATT, CCDOC " + " FROM NOTIFICATIONTEMPLATE " + " WHERE MODE = " +
                      SqlByte(i_yNotificationMode);
    // The type's default sorts before the general default (type "-1").
    if (i_lBPID != ph::kCopyPartner)
      sql += std::string(" AND ((BUSINESSPARTNERID = ") + "-1" + ") " + "      AND (DOCUMENTTYPEID = " +
             SqlText(i_sDocTypeID) + ") " + "      OR (BUSINESSPARTNERID = " + "-1" + ") " +
             "      AND (DOCUMENTTYPEID = " + SqlText("-1") + ")) ";
    else
      sql += std::string(" AND BUSINESSPARTNERID = ") + "-2" + " AND DOCUMENTTYPEID = " + SqlText("-1");
    sql += " ORDER BY DOCUMENTTYPEID DESC, BUSINESSPARTNERID DESC";
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(sql);
    if (rs->EOF_()) {
      DBUtils::CloseRecordset(rs);
      throw Error(NotPresent, source, I18N::GetLabel("SLBSH6068"));
    }
    readTemplateTexts(*rs, o_sSubject, o_sBody, o_bCcDoc, o_bCcAtt);
    DBUtils::CloseRecordset(rs);
  });
}

bool Notification::IsDefaultNotificationTemplate(const std::string& i_sDocTypeID, std::int32_t i_lBPID,
                                                 std::uint8_t /*i_yNotificationMode*/) {
  return equalsIgnoreCase(i_sDocTypeID, "-1") && (i_lBPID == ph::kAnyPartner || i_lBPID == ph::kCopyPartner);
}

// ---- mails stored for one document ----------------------------------------------

namespace {

void writeMailTexts(Recordset& rs, const std::string& subject, const std::string& body, const std::string& cc,
                    bool ccDoc, bool ccAtt) {
  rs.Fields("SUBJECT").SetValue(Variant(subject));
  rs.Fields("BODY").SetValue(Variant(body));
  rs.Fields("CC").SetValue(Variant(cc));
  rs.Fields("CCATT").SetValue(Variant(ccAtt));
  rs.Fields("CCDOC").SetValue(Variant(ccDoc));
}

std::string storedMailKey(std::int32_t partner, std::int32_t docID, std::uint8_t mode) {
  return std::string(" DOCUMENTID = ") + SqlLong(docID) + " AND " + " BUSINESSPARTNERID = " + SqlLong(partner) +
         " AND " + " MODE = " + SqlByte(mode);
}

}  // namespace

void Notification::AddNotificationEmail(std::int32_t i_lBPID, std::int32_t i_lDocID, std::uint8_t i_yNotificationMode,
                                        const std::string& i_sSubject, const std::string& i_sBody,
                                        const std::string& i_sCc, bool i_bCcDoc, bool i_bCcAtt) {
  Guarded(kSource + "AddNotificationEmail", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM NOTIFICATIONEMAIL WHERE 0 = 1", conn.get());
    rs->AddNew();
    rs->Fields("BUSINESSPARTNERID").SetValue(Variant(i_lBPID));
    rs->Fields("DOCUMENTID").SetValue(Variant(i_lDocID));
    rs->Fields("MODE").SetValue(Variant(i_yNotificationMode));
    writeMailTexts(*rs, i_sSubject, i_sBody, i_sCc, i_bCcDoc, i_bCcAtt);
    rs->Update();
    rs->Close();
  });
}

void Notification::UpdateNotificationEmail(std::int32_t i_lBPID, std::int32_t i_lDocID,
                                           std::uint8_t i_yNotificationMode, const std::string& i_sSubject,
                                           const std::string& i_sBody, const std::string& i_sCc, bool i_bCcDoc,
                                           bool i_bCcAtt) {
  Guarded(kSource + "UpdateNotificationEmail", [&] {
    bool found = false;
    {
      ConnectionScope conn;
      auto rs = OpenForUpdate("SELECT * FROM NOTIFICATIONEMAIL WHERE " + storedMailKey(i_lBPID, i_lDocID, i_yNotificationMode),
                              conn.get());
      found = !rs->EOF_();
      if (found) {
        writeMailTexts(*rs, i_sSubject, i_sBody, i_sCc, i_bCcDoc, i_bCcAtt);
        rs->Update();
      }
      rs->Close();
    }
    if (!found)
      AddNotificationEmail(i_lBPID, i_lDocID, i_yNotificationMode, i_sSubject, i_sBody, i_sCc, i_bCcDoc, i_bCcAtt);
  });
}

void Notification::DeleteNotificationEmail(std::int32_t i_lBPID, std::int32_t i_lDocID,
                                           std::uint8_t i_yNotificationMode) {
  Guarded(kSource + "DeleteNotificationEmail", [&] {
    ConnectionScope conn;
    conn.get()->Execute("DELETE FROM NOTIFICATIONEMAIL WHERE " + storedMailKey(i_lBPID, i_lDocID, i_yNotificationMode));
  });
}

// ---- placeholder checks ---------------------------------------------------------

bool Notification::IsValidSubjectForNotificationTemplate(const std::string& /*i_sDocTypeID*/, std::int32_t i_lBPID,
                                                         std::uint8_t i_yNotificationMode,
                                                         const std::string& i_sSubject, std::string& o_sInvalidCodes) {
  return Guarded(kSource + "IsValidSubjectForNotificationTemplate", [&] {
    return checked(i_lBPID, i_yNotificationMode, i_sSubject, true, false, o_sInvalidCodes);
  });
}

bool Notification::IsValidSubjectForNotificationEmail(const std::string& i_sSubject, std::string& o_sInvalidCodes) {
  return Guarded(kSource + "IsValidSubjectForNotificationEmail",
                 [&] { return checked(0, 0, i_sSubject, false, false, o_sInvalidCodes); });
}

bool Notification::IsValidBodyForNotificationTemplate(const std::string& /*i_sDocTypeID*/, std::int32_t i_lBPID,
                                                      std::uint8_t i_yNotificationMode, const std::string& i_sBody,
                                                      std::string& o_sInvalidCodes) {
  return Guarded(kSource + "IsValidBodyForNotificationTemplate", [&] {
    return checked(i_lBPID, i_yNotificationMode, i_sBody, true, true, o_sInvalidCodes);
  });
}

bool Notification::IsValidBodyForNotificationEmail(const std::string& i_sBody, std::string& o_sInvalidCodes) {
  return Guarded(kSource + "IsValidBodyForNotificationEmail",
                 [&] { return checked(0, 0, i_sBody, false, true, o_sInvalidCodes); });
}

}  // namespace quillon
