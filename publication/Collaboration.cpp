#include "publication/Collaboration.h"
#include "foundation/SqlNames.h"

#include <string>
#include <vector>

#include "document/Document.h"
#include "foundation/ConnectionScope.h"
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "foundation/Lookups.h"
#include "foundation/PublicationErrorHandling.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

constexpr std::int32_t kNoPublication = -1;

std::int32_t status(PUBLICATIONSTATUS s) { return value(s); }

bool isOneOf(std::int32_t v, std::initializer_list<std::int32_t> values) {
  for (std::int32_t x : values)
    if (v == x) return true;
  return false;
}

// The deleted-by-recipient forms of a copy.
bool isDeletedForm(std::int32_t s) { return isOneOf(s, {2, 3, 7, 8, 9}); }

// The status a copy moves to when iStatus is asked for while it holds
// `current` (-1: no copy).
std::int32_t nextPublicationStatus(std::int32_t current, std::int32_t requested) {
  // Viewing or downloading never downgrades a copy, and nothing returns one to new.
  std::int32_t next = requested;
  if (isOneOf(current, {1, 2, 3, 4, 7, 8, 9}) && isOneOf(requested, {0, 5, 6}))
    next = current;
  else if (isOneOf(current, {5, 6}) && isOneOf(requested, {0, 5}))
    next = current;
  // Deleting keeps what the recipient had done with the copy.
  if (isDeletedForm(requested)) {
    switch (current) {
      case 0: next = status(PUBLICATIONSTATUS::PUBLICATIONNEWDEL); break;
      case 1: next = status(PUBLICATIONSTATUS::PUBLICATIONACCDEL); break;
      case 4: next = status(PUBLICATIONSTATUS::PUBLICATIONREJECTEDDEL); break;
      case 5: next = status(PUBLICATIONSTATUS::PUBLICATIONVIEWEDDEL); break;
      case 6: next = status(PUBLICATIONSTATUS::PUBLICATIONDOWNLOADEDDEL); break;
      default: next = requested; break;  // already deleted, or no copy
    }
  }
  return next;
}

// The ordering of getAllDocumentTypes goes into the SQL text as it is, so
// only "column [ASC|DESC]" items separated by commas are let through.
bool isOrderByList(const std::string& list) {
  for (const std::string& item : text::Split(list, ",")) {
    std::vector<std::string> words;
    for (const std::string& w : text::Split(text::Trim(item), " "))
      if (!w.empty()) words.push_back(w);
    if (words.empty() || words.size() > 2 || !SqlNames::IsColumnReference(words[0])) return false;
    if (words.size() == 2) {
      std::string direction = text::UCase(words[1]);
      if (direction != "ASC" && direction != "DESC") return false;
    }
  }
  return true;
}

}  // namespace

// ---- a recipient's copy ----------------------------------------------------------------

std::int32_t Collaboration::GetPublicationStatus(std::int32_t iDocID, const std::string& iUserID) {
  return Guarded("Quillon.Collaboration.GetPublicationStatus", [&]() -> std::int32_t {
    Variant v = Lookups::FirstValue(std::string(" SELECT STATUS ") + " FROM PUBLICATION WHERE DOCUMENTID = " +
                                    SqlLong(iDocID) + " AND USERID = " + SqlText(iUserID));
    return v.isNumeric() ? v.toInt32() : kNoPublication;
  });
}

void Collaboration::SetPublicationStatus(std::int32_t iDocID, const std::string& iUserID, std::int32_t iStatus,
                                         std::int32_t iPublicationErrorID) {
  Guarded("Quillon.Collaboration.SetPublicationStatus", [&] {
    if (iPublicationErrorID != 0) {
      Lookups::Execute("UPDATE PUBLICATION SET PUBLICATIONERRORID = " + std::to_string(iPublicationErrorID) + " " +
                       "WHERE (DOCUMENTID = " + std::to_string(iDocID) + ") AND (USERID = " + SqlText(iUserID) + ")");
      return;
    }
    // A value outside the enumeration would leave a copy no view can place.
    if (iStatus < status(PUBLICATIONSTATUS::PUBLICATIONNEW) || iStatus > status(PUBLICATIONSTATUS::PUBLICATIONDOWNLOADEDDEL))
      throw Error(InvalidParamValue, "Quillon.Collaboration.SetPublicationStatus",
                  "The publication status " + std::to_string(iStatus) + " is not one of the values 0 to 9.");
    std::int32_t current = GetPublicationStatus(iDocID, iUserID);
    std::int32_t next = nextPublicationStatus(current, iStatus);
    if (next == current) return;
    Lookups::Execute("UPDATE PUBLICATION SET STATUS = " + std::to_string(next) + "WHERE (DOCUMENTID = " +
                     SqlLong(iDocID) + ") AND (USERID = " + SqlText(iUserID) + ")");
  });
}

void Collaboration::AcceptPublication(std::int32_t iDocID, const std::string& iUserID) {
  Guarded(
      "Quillon.Collaboration.AcceptPublication",
      [&] { return "DocumentID: " + std::to_string(iDocID) + ", user: '" + iUserID + "'"; },
      [&] {
        // Only a recipient can accept; anyone else would turn the document's status.
        if (GetPublicationStatus(iDocID, iUserID) == kNoPublication)
          throw Error(NotPresent, "Quillon.Collaboration.AcceptPublication",
                      "The user '" + iUserID + "' has no publication of document " + std::to_string(iDocID) + ".");
        SetPublicationStatus(iDocID, iUserID, status(PUBLICATIONSTATUS::PUBLICATIONACC));
        Variant notAccepted = Lookups::FirstValue(
            std::string(" SELECT COUNT(DOCUMENTID) AS NotAcceptedDocuments") + " FROM   PUBLICATION" +
            " WHERE  DOCUMENTID = " + SqlLong(iDocID) + " AND    USERID <> " + SqlText(iUserID) +
            " AND    not STATUS IN (1,3)");
        Document document;
        document.SetDocumentStatus(iDocID, notAccepted.toInt32() < 1 ? DOCUMENTSTATUS::DOCUMENTACCEPTED
                                                                       : DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED);
      });
}

bool Collaboration::deleteDocument2(std::int32_t iDocID, const std::string& iDocTypeID, std::int32_t iSenderMode,
                                    const std::string& iUserName, const std::string& iPath, bool iIsChildDoc) {
  return Guarded("Quillon.Collaboration.deleteDocument2", [&] {
    Document document;
    const std::int32_t deleted = status(PUBLICATIONSTATUS::PUBLICATIONNEWDEL);
    if (iIsChildDoc) {
      bool isSender = document.GetSenderOfDocument(iDocID) == iUserName;
      bool isRecipient = document.UserIsRecipientOfDoc(iDocID, iUserName);
      if (isRecipient) SetPublicationStatus(iDocID, iUserName, deleted);
      if (isSender) document.SetDocumentStatus(iDocID, DOCUMENTSTATUS::DOCUMENTDELETED);
      return isSender || isRecipient;
    }
    switch (static_cast<SENDERMODE>(iSenderMode)) {
      case SENDERMODE::RECEIVERMODE:
      case SENDERMODE::ERRORMODE:
      case SENDERMODE::CHANGEDOCTYPEMODE:
        SetPublicationStatus(iDocID, iUserName, deleted);
        return true;
      case SENDERMODE::SENDERMODE:
        // Only the sender may delete the document itself.
        if (!document.UserIsSenderOfDocument(iDocID, iUserName)) return false;
        document.SetDocumentStatus(iDocID, DOCUMENTSTATUS::DOCUMENTDELETED);
        return true;
      default:
        return false;
    }
  });
}

// ---- query texts for the page ------------------------------------------------------------

std::string Collaboration::GetDocumentDetails2(std::int32_t iIsSender, std::int32_t iDocID, const std::string& iUser) {
  return Guarded("Quillon.Collaboration.GetDocumentDetails2", [&] {
    const auto mode = static_cast<SENDERMODE>(iIsSender);
    std::string sql;
    if (mode == SENDERMODE::SENDERMODE || mode == SENDERMODE::ERRORMODE) {
      sql = "SELECT ";
      if (mode == SENDERMODE::ERRORMODE) sql += "DOCUMENT.SENDER, ";
      sql += std::string("DOCUMENT.CREATIONDATE, ") + "DOCUMENT.STATUS, " + "DOCUMENTTYPE.DESCRIPTION, " +
             "TAGSVALUE.TAGVALUE, " + "TAGSCONFIG.DESCRIPTION AS TAGDESCRIPTION " + "From Document " +
             "INNER JOIN DOCUMENTTYPE ON " + "Document.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID " +
             "LEFT OUTER JOIN TAGSCONFIG ON " + "Document.DOCUMENTTYPEID = TAGSCONFIG.DOCUMENTTYPEID " +
             "LEFT OUTER JOIN TAGSVALUE ON " + "TAGSVALUE.TAGID = TAGSCONFIG.TAGID AND " +
             "(TAGSVALUE.DOCUMENTID = " + SqlLong(iDocID) + ") " + "WHERE ";
      if (mode == SENDERMODE::SENDERMODE) sql += "(DOCUMENT.SENDER = " + SqlText(iUser) + ") AND ";
      sql += "(DOCUMENT.DOCUMENTID = " + SqlLong(iDocID) + ") AND " + "(DOCUMENT.STATUS <> " +
             std::to_string(value(DOCUMENTSTATUS::DOCUMENTDELETED)) + ") " + "ORDER BY TAGSCONFIG.SEQUENCENUMBER";
    } else if (mode == SENDERMODE::RECEIVERMODE) {
      sql = std::string("SELECT DOCUMENT.SENDER, DOCUMENT.CREATIONDATE, PUBLICATION.STATUS, ") +
            "PUBLICATION.FORWARD, DOCUMENTTYPE.DESCRIPTION, " +
            "TAGSVALUE.TAGVALUE, TAGSCONFIG.DESCRIPTION AS TAGDESCRIPTION " +
            "FROM DOCUMENT INNER JOIN DOCUMENTTYPE ON DOCUMENT.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID " +
            "INNER JOIN PUBLICATION ON PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID " +
            "LEFT OUTER JOIN TAGSVALUE ON DOCUMENT.DOCUMENTID = TAGSVALUE.DOCUMENTID " +
            "LEFT OUTER JOIN TAGSCONFIG ON TAGSVALUE.TAGID = TAGSCONFIG.TAGID " +
            "WHERE (PUBLICATION.USERID = " + SqlText(iUser) + ") " + "AND (DOCUMENT.DOCUMENTID = " +
            SqlLong(iDocID) + ") " + "AND DOCUMENT.STATUS <> " + std::to_string(value(DOCUMENTSTATUS::DOCUMENTNEW)) +
            " " + "ORDER BY TAGSCONFIG.SEQUENCENUMBER";
    }
    return sql;
  });
}

std::string Collaboration::GetAddresseeStatusQueryStr(std::int32_t iDocID, const std::string& iUser) {
  return Guarded("Quillon.Collaboration.GetAddresseeStatusQueryStr", [&] {
    return std::string("SELECT DISTRIBUTIONLIST.BUSINESSPARTNERID, PUBLICATION.USERID, PUBLICATION.STATUS ") +
           "FROM PUBLICATION, DOCUMENT, DISTRIBUTIONLIST " + "WHERE (PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID) " +
           "  AND (PUBLICATION.DOCUMENTID = " + SqlLong(iDocID) + ")" + "  AND (DOCUMENT.SENDER = " + SqlText(iUser) +
           ")" + "  AND (DISTRIBUTIONLIST.DOCUMENTTYPEID = DOCUMENT.DOCUMENTTYPEID) " +
           "  AND (DISTRIBUTIONLIST.USERID = PUBLICATION.USERID) " + "ORDER BY DISTRIBUTIONLIST.BUSINESSPARTNERID";
  });
}

std::string Collaboration::GetAddresseeStatusQueryStr2(std::int32_t iDocID, const std::string& iUser) {
  return Guarded("Quillon.Collaboration.GetAddresseeStatusQueryStr2", [&] {
    return std::string("SELECT PUBLICATION.USERID, PUBLICATION.STATUS FROM ") +
           "PUBLICATION INNER JOIN DOCUMENT ON PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID " +
           "WHERE (PUBLICATION.DOCUMENTID = " + SqlLong(iDocID) + ") AND (DOCUMENT.SENDER = " + SqlText(iUser) + ")";
  });
}

std::string Collaboration::GetDocumentAttachmentsQueryStr(bool iIsSender, std::int32_t iDocID, const std::string& iUser) {
  return Guarded("Quillon.Collaboration.GetDocumentAttachmentsQueryStr", [&] {
    return std::string("SELECT ATTACHMENT.ATTACHMENTFILENAME, Attachment.ATTACHMENTID ") + "FROM ATTACHMENT " +
           "WHERE (ATTACHMENT.DOCUMENTID = " + SqlLong(iDocID) + ")";
  });
}

std::string Collaboration::GetDocumentTypeListQueryStr2(std::int32_t iMode, const std::string& iUser) {
  return Guarded("Quillon.Collaboration.GetDocumentTypeListQueryStr2", [&] {
    switch (iMode) {
      case 0:
        return std::string("SELECT DISTINCT DOCUMENTTYPE.DESCRIPTION, ") + "DOCUMENTTYPE.DOCUMENTTYPEID, " +
               "DOCUMENTTYPE.ICONFILENAME, " + "DOCUMENTTYPE.EXTDESCRIPTION " +
               "FROM DOCUMENTTYPE INNER JOIN DOCUMENT ON DOCUMENTTYPE.DOCUMENTTYPEID = DOCUMENT.DOCUMENTTYPEID " +
               "WHERE (DOCUMENT.SENDER = " + SqlText(iUser) + ") " + "AND DOCUMENT.STATUS <> " +
               std::to_string(value(DOCUMENTSTATUS::DOCUMENTDELETED)) + " " +
               "GROUP BY DOCUMENTTYPE.DESCRIPTION, DOCUMENTTYPE.DOCUMENTTYPEID, " +
               "DOCUMENTTYPE.ICONFILENAME, DOCUMENTTYPE.EXTDESCRIPTION " + "ORDER BY DOCUMENTTYPE.DESCRIPTION";
      case 1:
        return std::string(
                   "SELECT DISTINCT DOCUMENTTYPE.DESCRIPTION, DOCUMENTTYPE.DOCUMENTTYPEID, DOCUMENTTYPE.ICONFILENAME, "
                   "DOCUMENTTYPE.EXTDESCRIPTION ") +
               "FROM DOCUMENTTYPE INNER JOIN DOCUMENT ON DOCUMENTTYPE.DOCUMENTTYPEID = DOCUMENT.DOCUMENTTYPEID " +
               "INNER JOIN PUBLICATION ON DOCUMENT.DOCUMENTID = PUBLICATION.DOCUMENTID " +
               "WHERE (DOCUMENT.STATUS <> 0 AND PUBLICATION.USERID = " + SqlText(iUser) +
               " AND PUBLICATION.STATUS <> 2 AND PUBLICATION.STATUS <> 3 AND PUBLICATION.STATUS <> 7 AND "
               "PUBLICATION.STATUS <> 8 AND PUBLICATION.STATUS <> 9) AND (DOCUMENT.SHOW = 1) " +
               "GROUP BY DOCUMENTTYPE.DESCRIPTION, DOCUMENTTYPE.DOCUMENTTYPEID, DOCUMENTTYPE.ICONFILENAME, "
               "DOCUMENTTYPE.EXTDESCRIPTION  " +
               "ORDER BY DOCUMENTTYPE.DESCRIPTION";
      case 2: {
        Utility utility;
        std::int32_t partnerID = utility.GetAUBusinessPartnerID(iUser);
        return std::string("SELECT   DOCUMENTTYPE.DESCRIPTION,") + " DOCUMENTTYPE.DOCUMENTTYPEID," +
               " DOCUMENTTYPE.ICONFILENAME," + " DOCUMENTTYPE.EXTDESCRIPTION" +
               " FROM    PUBLICATIONERRORS PE LEFT OUTER JOIN SENDMETHODHISTORY SMH ON SMH.PUBLICATIONERRORID = "
               "PE.PUBLICATIONERRORID, " +
               " DOCUMENT D           LEFT OUTER JOIN PUBLICATION       P   ON P.DOCUMENTID = D.DOCUMENTID, " +
               " DOCUMENTTYPE" + " WHERE " + "     ( " + "(D.SENDER = " + SqlText(iUser) +
               " AND PE.CLOSED in (0,1,4,5) ) " + " OR " + "(D.SHOW = 1 AND " + " P.USERID = " + SqlText(iUser) +
               " AND " + " SMH.BUSINESSPARTNERID = " + SqlLong(partnerID) + " AND " +
               " P.STATUS NOT IN (2,3,7,8,9) AND " + " PE.CLOSED IN (0,1,2,3)" + ")" + "      ) " +
               " AND PE.DOCUMENTID = D.DOCUMENTID " + " AND D.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID " +
               " GROUP BY DOCUMENTTYPE.DESCRIPTION," + " DOCUMENTTYPE.DOCUMENTTYPEID," + " DOCUMENTTYPE.ICONFILENAME," +
               " DOCUMENTTYPE.EXTDESCRIPTION";
      }
      default:
        return std::string();
    }
  });
}

// ---- document types and counters -------------------------------------------------------

std::shared_ptr<Dictionary> Collaboration::getAllDocumentTypes(const Variant& iOrderBy) {
  return Guarded("Quillon.Collaboration.getAllDocumentTypes", [&] {
    std::string sql = "SELECT DOCUMENTTYPEID, DESCRIPTION FROM DOCUMENTTYPE";
    // A blank ordering means none, as a missing or Null one does.
    std::string orderBy = iOrderBy.text();
    if (!text::Trim(orderBy).empty()) {
      if (!isOrderByList(orderBy))
        throw Error(InvalidParamValue, "Quillon.Collaboration.getAllDocumentTypes",
                    "The ordering '" + orderBy +
                        "' is not a comma-separated list of column names (letters, digits and underscores, "
                        "optionally preceded by a table name and a point), each optionally followed by ASC or DESC.");
      sql = "SELECT DOCUMENTTYPEID, DESCRIPTION FROM DOCUMENTTYPE ORDER BY " + orderBy;
    }
    auto types = std::make_shared<Dictionary>();
    ConnectionScope conn;
    auto rs = conn.get()->Execute(sql);
    while (!rs->EOF_()) {
      types->Add(text::Trim(rs->Fields("DOCUMENTTYPEID").Value().text()),
                 Variant(text::Trim(rs->Fields("DESCRIPTION").Value().text())));
      rs->MoveNext();
    }
    rs->Close();
    return types;
  });
}

bool Collaboration::showCountOfNewDocumentsInInbox() {
  return Guarded("Quillon.Collaboration.showCountOfNewDocumentsInInbox", [&] {
    try {
      auto cfg = General::B2B_getComponent("Basalt.Configuration").as<Configuration>();
      if (!cfg) return false;
      cfg->Load(General::GetB2BConfigFile());
      std::string v = text::Trim(cfg->GetValue("GLOBAL", "ShowCountNewDocuments").text());
      return text::IsNumeric(v) && Variant(v).toDouble() == 1;
    } catch (...) {
      return false;  // a missing file or key means no counters
    }
  });
}

std::int32_t Collaboration::countNewDocumentsForInbox(const std::string& i_sDocTypeID, const std::string& i_sUserID) {
  return Guarded("Quillon.Collaboration.countNewDocumentsForInbox", [&] {
    return Lookups::FirstValue(std::string(" SELECT COUNT(*) AS NewDocs ") + " FROM DOCUMENT AS D " +
                               " INNER JOIN PUBLICATION AS P ON D.DOCUMENTID = P.DOCUMENTID " +
                               " WHERE D.DOCUMENTTYPEID = " + SqlText(i_sDocTypeID) + " " + " AND   D.STATUS <> 0 " +
                               " AND   D.SHOW = 1 " + " AND   P.USERID = " + SqlText(i_sUserID) + " " +
                               " AND   P.STATUS =  0 ")
        .toInt32();
  });
}

// ---- publication errors --------------------------------------------------------------------

void Collaboration::ClosePublicationErrors(std::int32_t iPublicationErrorID, std::int32_t iDocID) {
  Guarded("Quillon.Collaboration.ClosePublicationErrors", [&] {
    std::string sql = std::string(" SELECT * FROM PUBLICATIONERRORS ") + " WHERE PUBLICATIONERRORID = " +
                      SqlLong(iPublicationErrorID);
    if (iDocID != 0) sql += " AND   DOCUMENTID = " + SqlLong(iDocID);
    sql += " AND   CLOSED IN (0,2,4,6) ";
    PublicationErrorHandling::CloseSelectedErrors(sql);
  });
}

void Collaboration::ClosePublicationErrorsForOneCategory(std::int32_t i_lDocID, const std::string& i_sCategory) {
  Guarded("Quillon.Collaboration.ClosePublicationErrorsForOneCategory",
          [&] { PublicationErrorHandling::CloseErrorsOfCategory(i_lDocID, i_sCategory); });
}

void Collaboration::SetPublicationErrorStatusToRemoved(std::int32_t i_lDocID, const std::string& i_sUser,
                                                       std::int32_t i_lPublicationErrorID) {
  Guarded("Quillon.Collaboration.SetPublicationErrorStatusToRemoved", [&] {
    Document document;
    const bool isSender = document.UserIsSenderOfDocument(i_lDocID, i_sUser);
    const bool isRecipient = document.UserIsRecipientOfDoc(i_lDocID, i_sUser);
    ConnectionScope conn;
    // The error must belong to the document the user's role was found for.
    auto rs = OpenForUpdate(std::string("SELECT * FROM PUBLICATIONERRORS ") + "WHERE PUBLICATIONERRORID = " +
                                SqlLong(i_lPublicationErrorID) + " AND DOCUMENTID = " + SqlLong(i_lDocID),
                            conn.get());
    if (!rs->EOF_()) {
      std::int32_t closed = rs->Fields("CLOSED").Value().toInt32();
      if (isSender) closed |= 2;
      if (isRecipient) closed |= 4;
      rs->Fields("CLOSED").SetValue(Variant(closed));
      rs->Update();
    }
    rs->Close();
  });
}

void Collaboration::DeletePublicationErrors(std::int32_t iDocID) {
  Guarded("Quillon.Collaboration.DeletePublicationErrors", [&] {
    Lookups::Execute(std::string("DELETE FROM PUBLICATIONERRORS ") + "WHERE DOCUMENTID = " + SqlLong(iDocID));
  });
}

// ---- by-name registration -------------------------------------------------------------------

// iIsSender and iMode keep their 16-bit range on the automation interface.
const ClassInfo* Collaboration::classInfo() const {
  using C = Collaboration;
  static const ClassInfo* info =
      ClassBuilder<Collaboration>("Quillon.Collaboration")
          .bind<&C::AcceptPublication>("AcceptPublication", {"iDocID", "iUserID"})
          .bind<&C::SetPublicationStatus>("SetPublicationStatus",
                                          {"iDocID", "iUserID", "iStatus", opt("iPublicationErrorID", 0)})
          .bind<&C::GetPublicationStatus>("GetPublicationStatus", {"iDocID", "iUserID"})
          .bind<&C::deleteDocument2>("deleteDocument2", {"iDocID", "iDocTypeID", "iSenderMode", "iUserName", "iPath",
                                                         opt("iIsChildDoc", false)})
          .bind<&C::GetDocumentDetails2, std::string(std::int16_t, std::int32_t, std::string)>(
              "GetDocumentDetails2", {"iIsSender", "iDocID", "iUser"})
          .bind<&C::GetAddresseeStatusQueryStr>("GetAddresseeStatusQueryStr", {"iDocID", "iUser"})
          .bind<&C::GetAddresseeStatusQueryStr2>("GetAddresseeStatusQueryStr2", {"iDocID", "iUser"})
          .bind<&C::GetDocumentAttachmentsQueryStr>("GetDocumentAttachmentsQueryStr", {"iIsSender", "iDocID", "iUser"})
          .bind<&C::GetDocumentTypeListQueryStr2, std::string(std::int16_t, std::string)>("GetDocumentTypeListQueryStr2",
                                                                                           {"iMode", "iUser"})
          .bind<&C::getAllDocumentTypes>("getAllDocumentTypes", {opt("iOrderBy", Variant())})
          .bind<&C::showCountOfNewDocumentsInInbox>("showCountOfNewDocumentsInInbox")
          .bind<&C::countNewDocumentsForInbox>("countNewDocumentsForInbox", {"i_sDocTypeID", "i_sUserID"})
          .bind<&C::ClosePublicationErrors>("ClosePublicationErrors", {"iPublicationErrorID", opt("iDocID", 0)})
          .bind<&C::ClosePublicationErrorsForOneCategory>("ClosePublicationErrorsForOneCategory", {"i_lDocID", "i_sCategory"})
          .bind<&C::SetPublicationErrorStatusToRemoved>("SetPublicationErrorStatusToRemoved",
                                                        {"i_lDocID", "i_sUser", "i_lPublicationErrorID"})
          .bind<&C::DeletePublicationErrors>("DeletePublicationErrors", {"iDocID"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Collaboration().classInfo(), true);
}

}  // namespace quillon
