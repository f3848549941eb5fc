#include "document/Document.h"
#include "foundation/ConnectionScope.h"
#include "foundation/Lookups.h"
#include "foundation/SqlNames.h"

#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "platform/Database.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using General::Guarded;

namespace {

// All rows of a query as a (field, row) array, Empty when there are none.
Variant allRows(const std::string& sql) {
  ConnectionScope conn;
  auto rs = conn.get()->Execute(sql);
  Variant rows;
  if (!rs->EOF_()) rows = rs->GetRows();
  rs->Close();
  return rows;
}

void execute(const std::string& sql) {
  ConnectionScope conn;
  conn.get()->Execute(sql);
}

// A body written for a document that is not stored would be lost without a
// word: the caller is told instead.
[[noreturn]] void raiseNoDocument(const std::string& source, std::int32_t docID) {
  throw Error(DocumentIDNotInDatabase, source, "Document with documentID = " + std::to_string(docID) + " doesn't exist.");
}

// The current local date and time as the database stores dates.
std::string nowText() { return formatOleDate(oleNow()); }

DOCUMENTSTATUS statusFromNumber(std::int32_t n) {
  return n >= 0 && n <= 5 ? static_cast<DOCUMENTSTATUS>(n) : DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS;
}

// The field list of getDocumentProperty goes into the SQL text as it is,
// so only plain column references separated by commas are let through.
bool isFieldList(const std::string& list) {
  if (text::Trim(list).empty()) return false;
  for (const std::string& part : text::Split(list, ","))
    if (!SqlNames::IsColumnReference(text::Trim(part))) return false;
  return true;
}

}  // namespace

// ---- reading ------------------------------------------------------------------------------

std::string Document::GetXmlDocument(std::int32_t iDocID) {
  return Guarded("Quillon.Document.GetXmlDocument", [&] {
    return Lookups::FirstValue("SELECT xmlbody FROM document WHERE documentid = " + SqlLong(iDocID)).text();
  });
}

std::shared_ptr<DomDocument> Document::GetXmlDomDocument(std::int32_t iDocID) {
  return Guarded("Quillon.Document.GetXmlDomDocument", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute("SELECT XMLBODY FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(iDocID));
    auto dom = std::make_shared<DomDocument>();
    dom->setAsync(false);
    if (rs->EOF_()) return dom;  // no such document: an empty DOM, as the other readers give empty values
    std::string body = rs->Fields(0).Value().text();
    rs->Close();
    if (!dom->loadXML(body)) {
      const ParseError& e = dom->parseError();
      throw Error(e.errorCode != 0 ? e.errorCode : XMLLoadError, "Quillon.Document.GetXMLDomDocument",
                  "DOM Error: " + e.reason, e.url, static_cast<std::int32_t>(e.line));
    }
    return dom;
  });
}

std::string Document::GetOriginalXmlDocument(std::int32_t iDocID) {
  return Guarded("Quillon.Document.GetOriginalXmlDocument", [&] {
    return Lookups::FirstValue("SELECT ORIGINALXMLBODY FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(iDocID)).text();
  });
}

std::string Document::GetDocumentTypeOfDocument(std::int32_t iDocID) {
  return Guarded("Quillon.Document.GetDocumentTypeOfDocument", [&] {
    return Lookups::FirstValue("SELECT DOCUMENTTYPEID FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(iDocID)).text();
  });
}

std::string Document::GetSenderOfDocument(std::int32_t iDocID) {
  return Guarded("Quillon.Document.GetSenderOfDocument", [&] {
    return Lookups::FirstValue("SELECT SENDER FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(iDocID)).text();
  });
}

bool Document::UserIsSenderOfDocument(std::int32_t i_lDocID, const std::string& i_sUser) {
  return Guarded("Quillon.Document.UserIsSenderOfDocument", [&] { return GetSenderOfDocument(i_lDocID) == i_sUser; });
}

std::int32_t Document::GetParentDocIdOfDocument(std::int32_t iDocID) {
  return Guarded("Quillon.Document.GetParentDocIdOfDocument", [&]() -> std::int32_t {
    Variant v = Lookups::FirstValue("SELECT DOC_DOCUMENTID FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(iDocID));
    return v.isNull() ? 0 : v.toInt32();
  });
}

Variant Document::getChildDocuments(std::int32_t i_lParentDocID) {
  return Guarded("Quillon.Document.getChildDocuments", [&] {
    return allRows("SELECT DOCUMENTID, DOCUMENTTYPEID FROM DOCUMENT WHERE DOC_DOCUMENTID = " + SqlLong(i_lParentDocID));
  });
}

Variant Document::getDocumentProperty(std::int32_t i_lDocID, const std::string& i_sFieldNames) {
  return Guarded("Quillon.Document.getDocumentProperty", [&] {
    if (!isFieldList(i_sFieldNames))
      throw Error(InvalidParamValue, "Quillon.Document.getDocumentProperty",
                  "The field list '" + i_sFieldNames +
                      "' is not a comma-separated list of column names (letters, digits and underscores, "
                      "optionally preceded by a table name and a point).");
    return allRows("SELECT TOP 1 " + i_sFieldNames + " FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(i_lDocID));
  });
}

DOCUMENTSTATUS Document::GetStatusOfDocument(std::int32_t iDocID) {
  return Guarded("Quillon.Document.GetStatusOfDocument", [&] {
    Variant v = Lookups::FirstValue("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(iDocID));
    if (!v.isNumeric()) return DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS;  // no row, or Null
    double d = v.toDouble();
    if (d < 0 || d > 5 || d != static_cast<std::int32_t>(d)) return DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS;
    return statusFromNumber(static_cast<std::int32_t>(d));
  });
}

bool Document::GetShowFlag(std::int32_t i_lDocID) {
  return Guarded("Quillon.Document.GetShowFlag", [&] {
    Variant v = Lookups::FirstValue("SELECT SHOW FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(i_lDocID));
    return v.isNumeric() && v.toDouble() != 0;
  });
}

// ---- writing ------------------------------------------------------------------------------

void Document::UpdateDocumentWithXmlBody(std::int32_t iDocID, const std::string& iXmlBody) {
  Guarded("Quillon.Document.UpdateDocumentWithXmlBody", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT XMLBODY, CREATIONDATE FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(iDocID),
                            conn.get());
    if (rs->EOF_()) raiseNoDocument("Quillon.Document.UpdateDocumentWithXmlBody", iDocID);
    rs->Fields("CREATIONDATE").SetValue(Variant(nowText()));
    auto utility = std::make_shared<Utility>();
    utility->SetLongDBTextField(iXmlBody, "XMLBODY", rs);
    rs->Update();
    rs->Close();
  });
}

void Document::UpdateDocumentWithOriginalXmlBody(std::int32_t iDocID, const std::string& iOriginalXmlBody) {
  Guarded("Quillon.Document.UpdateDocumentWithOriginalXmlBody", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate(
        "SELECT ORIGINALXMLBODY, ENTRANCEDATE FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(iDocID), conn.get());
    if (rs->EOF_()) raiseNoDocument("Quillon.Document.UpdateDocumentWithOriginalXmlBody", iDocID);
    rs->Fields("ENTRANCEDATE").SetValue(Variant(nowText()));
    rs->Fields("ORIGINALXMLBODY").SetValue(Variant(iOriginalXmlBody));
    rs->Update();
    rs->Close();
  });
}

bool Document::UpdateDocTableWithDocType(std::int32_t iDocID, const std::string& iDocTypeID) {
  return Guarded("Quillon.Document.UpdateDocTableWithDocType", [&] {
    if (!iDocTypeID.empty()) {
      ConnectionScope conn;
      auto rs = OpenForUpdate(std::string("SELECT DOCUMENTTYPEID ") + "FROM DOCUMENT " + "WHERE DOCUMENTID =" +
                                  SqlLong(iDocID),
                              conn.get());
      if (!rs->EOF_()) {
        rs->Fields("DOCUMENTTYPEID").SetValue(Variant(iDocTypeID));
        rs->Update();
      }
      rs->Close();
    }
    return true;
  });
}

void Document::setParentDocument(std::int32_t lChildDocID, std::int32_t lParentDocID) {
  Guarded("Quillon.Document.setParentDocument", [&] {
    execute("UPDATE DOCUMENT SET DOC_DOCUMENTID=" + SqlLong(lParentDocID) + " WHERE " + "DOCUMENTID = " +
            SqlLong(lChildDocID));
  });
}

void Document::RemoveRecipientsForDocument(std::int32_t iDocID) {
  Guarded("Quillon.Document.RemoveRecipientsForDocument",
          [&] { execute("DELETE FROM PUBLICATION WHERE (DOCUMENTID = " + SqlLong(iDocID) + ")"); });
}

void Document::deleteAllUsersFromPublicationList(const Variant& i_lDocID) {
  Guarded("Quillon.Document.deleteAllUsersFromPublicationList", [&] {
    execute(std::string(" DELETE FROM dbo.PUBLICATION ") + " WHERE DOCUMENTID = " + SqlLong(i_lDocID.toInt32()));
  });
}

void Document::RemoveInvalidDocument(std::int32_t iDocID) {
  Guarded("Quillon.Document.RemoveInvalidDocument", [&] {
    execute("DELETE FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(iDocID) +
            " AND (DOCUMENTTYPEID LIKE '' OR DOCUMENTTYPEID IS NULL)");
  });
}

void Document::SetDocumentStatus(std::int32_t iDocID, DOCUMENTSTATUS iDocStatus) {
  Guarded("Quillon.Document.SetDocumentStatus", [&] {
    const std::int32_t next = value(iDocStatus);
    // Anything else would be stored as a status no view can place.
    if (next < value(DOCUMENTSTATUS::DOCUMENTNEW) || next > value(DOCUMENTSTATUS::DOCUMENTSENT))
      throw Error(InvalidParamValue, "Quillon.Document.SetDocumentStatus",
                  "The document status " + std::to_string(next) + " is not one of the values 0 to 5.");
    const DOCUMENTSTATUS current = GetStatusOfDocument(iDocID);
    if (iDocStatus != DOCUMENTSTATUS::DOCUMENTDELETED &&
        (current == DOCUMENTSTATUS::DOCUMENTDELETED ||
         (iDocStatus == DOCUMENTSTATUS::DOCUMENTPUBLISHED && current == DOCUMENTSTATUS::DOCUMENTSENT)))
      return;
    {
      ConnectionScope conn;
      auto rs = OpenForUpdate(std::string("SELECT STATUS ") + "FROM DOCUMENT " + "WHERE (DOCUMENTID = " +
                                  SqlLong(iDocID) + ")",
                              conn.get());
      if (!rs->EOF_()) {
        rs->Fields("STATUS").SetValue(Variant(next));
        rs->Update();
      }
      rs->Close();
    }
    if (current == DOCUMENTSTATUS::DOCUMENTNEW) {
      if (iDocStatus == DOCUMENTSTATUS::DOCUMENTPUBLISHED)
        PublicationErrorHandling::CloseErrorsOfCategory(iDocID, "CannotPublish");
      else if (iDocStatus == DOCUMENTSTATUS::DOCUMENTDELETED)
        deleteAllUsersFromPublicationList(Variant(iDocID));
    }
  });
}

// ---- converting and checking ------------------------------------------------------------

DOCUMENTSTATUS Document::ConvertStatusFromIntToEnum(std::int16_t iStatus) {
  return Guarded("Quillon.Document.ConvertStatusFromIntToEnum", [&] { return statusFromNumber(iStatus); });
}

DOCUMENTSTATUS Document::ConvertStatusFromStringToEnum(std::string& iStatus) {
  return Guarded("Quillon.Document.ConvertStatusFromStringToEnum", [&] {
    iStatus = text::Trim(iStatus);
    struct Spelling {
      const char* text;
      DOCUMENTSTATUS status;
    };
    // Each status in three cases; other mixtures of case are not accepted.
    static const Spelling kSpellings[] = {
        {"New", DOCUMENTSTATUS::DOCUMENTNEW},
        {"new", DOCUMENTSTATUS::DOCUMENTNEW},
        {"NEW", DOCUMENTSTATUS::DOCUMENTNEW},
        {"Published", DOCUMENTSTATUS::DOCUMENTPUBLISHED},
        {"published", DOCUMENTSTATUS::DOCUMENTPUBLISHED},
        {"PUBLISHED", DOCUMENTSTATUS::DOCUMENTPUBLISHED},
        {"Publish", DOCUMENTSTATUS::DOCUMENTPUBLISHED},
        {"publish", DOCUMENTSTATUS::DOCUMENTPUBLISHED},
        {"PUBLISH", DOCUMENTSTATUS::DOCUMENTPUBLISHED},
        {"Accepted", DOCUMENTSTATUS::DOCUMENTACCEPTED},
        {"accepted", DOCUMENTSTATUS::DOCUMENTACCEPTED},
        {"ACCEPTED", DOCUMENTSTATUS::DOCUMENTACCEPTED},
        {"Accept", DOCUMENTSTATUS::DOCUMENTACCEPTED},
        {"accept", DOCUMENTSTATUS::DOCUMENTACCEPTED},
        {"ACCEPT", DOCUMENTSTATUS::DOCUMENTACCEPTED},
        {"Partially Accepted", DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED},
        {"partially accepted", DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED},
        {"PARTIALLY ACCEPTED", DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED},
        {"Partially", DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED},
        {"partially", DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED},
        {"PARTIALLY", DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED},
        {"Partially Accept", DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED},
        {"partially accept", DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED},
        {"PARTIALLY ACCEPT", DOCUMENTSTATUS::DOCUMENTPARTIALLYACCEPTED},
        {"Deleted", DOCUMENTSTATUS::DOCUMENTDELETED},
        {"deleted", DOCUMENTSTATUS::DOCUMENTDELETED},
        {"DELETED", DOCUMENTSTATUS::DOCUMENTDELETED},
        {"Removed", DOCUMENTSTATUS::DOCUMENTDELETED},
        {"removed", DOCUMENTSTATUS::DOCUMENTDELETED},
        {"REMOVED", DOCUMENTSTATUS::DOCUMENTDELETED},
        {"Sent", DOCUMENTSTATUS::DOCUMENTSENT},
        {"sent", DOCUMENTSTATUS::DOCUMENTSENT},
        {"SENT", DOCUMENTSTATUS::DOCUMENTSENT},
    };
    for (const Spelling& s : kSpellings)
      if (iStatus == s.text) return s.status;
    return DOCUMENTSTATUS::DOCUMENTUNKNOWNSTATUS;
  });
}

bool Document::IsValidChildDoc(std::int32_t iDocID, const std::string& iUser, std::int32_t iSenderMode) {
  return Guarded("Quillon.Document.IsValidChildDoc", [&] {
    if (GetDocumentTypeOfDocument(iDocID).empty()) return false;
    DOCUMENTSTATUS status = GetStatusOfDocument(iDocID);
    bool isSender = GetSenderOfDocument(iDocID) == iUser;
    if (isSender && status != DOCUMENTSTATUS::DOCUMENTDELETED) return true;
    if (!isSender && status == DOCUMENTSTATUS::DOCUMENTNEW) return false;
    // A non-sender of a document that left the new state, or the sender of a deleted one.
    return UserIsRecipientOfDoc(iDocID, iUser);
  });
}

bool Document::IsValidParentDoc(std::int32_t iDocID, const std::string& iUser, std::int32_t iSenderMode) {
  return Guarded("Quillon.Document.IsValidParentDoc", [&] {
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
        "SELECT DOCUMENTID, SENDER, DOCUMENTTYPEID FROM DOCUMENT WHERE DOC_DOCUMENTID = " + SqlLong(iDocID));
    bool valid = false;
    while (!valid && !rs->EOF_()) {
      valid = IsValidChildDoc(rs->Fields("DOCUMENTID").Value().toInt32(), iUser, iSenderMode);
      rs->MoveNext();
    }
    DBUtils::CloseRecordset(rs);
    return valid;
  });
}

bool Document::UserIsRecipientOfDoc(std::int32_t iDocID, const std::string& iUser) {
  return Guarded("Quillon.Document.UserIsRecipientOfDoc", [&] {
    std::string docType = GetDocumentTypeOfDocument(iDocID);
    if (docType.empty()) return false;
    auto utility = std::make_shared<Utility>();
    auto rs = utility->GetRecipientsFromPublicationTable(iDocID, docType);
    bool found = false;
    while (!found && !rs->EOF_()) {
      found = rs->Fields("USERID").Value().text() == iUser;
      rs->MoveNext();
    }
    DBUtils::CloseRecordset(rs);
    return found;
  });
}

// The scan works on byte offsets: the characters it looks for ("<", ">",
// blank, "!", "?", "/") are ASCII, and UTF-8 never uses ASCII bytes inside
// a multi-byte character.
//
// An element is complete when the text from its "<" up to some closing tag
// "</name>" parses on its own. Only one such closing tag can exist: the one
// that ends the element as the parser reads it (an earlier one leaves it
// unclosed, a later one adds content after it). So the element is read once
// to find where it ends, and that end must be the closing tag written as
// "</name>". Reading once keeps the check linear in the length of the text.
void Document::ParseBatch(const std::string& text, const std::string& source) {
  std::size_t pos = 0;
  while (true) {
    std::size_t open = text.find('<', pos);
    if (open == std::string::npos) return;
    if (open + 1 < text.size() && (text[open + 1] == '!' || text[open + 1] == '?')) {
      pos = open + 1;  // comment, declaration or processing instruction
      continue;
    }
    std::size_t nameEnd = text.find_first_of("> ", open + 1);
    if (nameEnd == std::string::npos) nameEnd = text.size();
    const std::string closingTag = "</" + text.substr(open + 1, nameEnd - open - 1) + ">";
    ElementExtent extent = ReadElementExtent(text, open);
    if (extent.outcome == ElementExtent::Closed && extent.end >= nameEnd + closingTag.size() &&
        text.compare(extent.end - closingTag.size(), closingTag.size(), closingTag) == 0) {
      pos = extent.end;
      continue;
    }
    // A complete element nested deeper than the parser reads is no missing
    // closing tag: the parser's error says what is wrong.
    if (extent.outcome == ElementExtent::Malformed && extent.tooDeep)
      throw Error(extent.error.errorCode, source, extent.error.reason);
    throw Error(-1, source, I18N::GetLabel("SLBSH0039"));
  }
}

void Document::ParseBatchXMLString(const std::string& iXMLStr) {
  Guarded(
      "Quillon.Document.ParseBatchXMLString", [] { return std::string("This is not an proper XML Batch file."); },
      [&] { ParseBatch(iXMLStr, "Quillon.Document.ParseBatchXMLString"); });
}

void Document::ParseBatchXMLFile(const std::string& iXMLStr) {
  Guarded(
      "Quillon.Document.ParseBatchXMLFile", [] { return std::string("This is not an proper XML Batch file."); },
      [&] { ParseBatch(iXMLStr, "Quillon.Document.ParseBatchXMLFile"); });
}

// ---- by-name registration ----------------------------------------------------------------

// A document status travels by name as a 16-bit integer.
const ClassInfo* Document::classInfo() const {
  using D = Document;
  static const ClassInfo* info =
      ClassBuilder<Document>("Quillon.Document")
          .bind<&D::GetXmlDocument>("GetXmlDocument", {"iDocID"})
          .bind<&D::GetXmlDomDocument>("GetXmlDomDocument", {"iDocID"})
          .bind<&D::GetOriginalXmlDocument>("GetOriginalXmlDocument", {"iDocID"})
          .bind<&D::GetDocumentTypeOfDocument>("GetDocumentTypeOfDocument", {"iDocID"})
          .bind<&D::GetSenderOfDocument>("GetSenderOfDocument", {"iDocID"})
          .bind<&D::UserIsSenderOfDocument>("UserIsSenderOfDocument", {"i_lDocID", "i_sUser"})
          .bind<&D::GetParentDocIdOfDocument>("GetParentDocIdOfDocument", {"iDocID"})
          .bind<&D::getChildDocuments>("getChildDocuments", {"i_lParentDocID"})
          .bind<&D::getDocumentProperty>("getDocumentProperty", {"i_lDocID", "i_sFieldNames"})
          .bind<&D::GetStatusOfDocument, std::int16_t(std::int32_t)>("GetStatusOfDocument", {"iDocID"})
          .bind<&D::GetShowFlag>("GetShowFlag", {"i_lDocID"})
          .bind<&D::UpdateDocumentWithXmlBody>("UpdateDocumentWithXmlBody", {"iDocID", "iXmlBody"})
          .bind<&D::UpdateDocumentWithOriginalXmlBody>("UpdateDocumentWithOriginalXmlBody", {"iDocID", "iOriginalXmlBody"})
          .bind<&D::UpdateDocTableWithDocType>("UpdateDocTableWithDocType", {"iDocID", "iDocTypeID"})
          .bind<&D::setParentDocument>("setParentDocument", {"lChildDocID", "lParentDocID"})
          .bind<&D::RemoveRecipientsForDocument>("RemoveRecipientsForDocument", {"iDocID"})
          .bind<&D::deleteAllUsersFromPublicationList>("deleteAllUsersFromPublicationList", {"i_lDocID"})
          .bind<&D::RemoveInvalidDocument>("RemoveInvalidDocument", {"iDocID"})
          .bind<&D::SetDocumentStatus>("SetDocumentStatus", {"iDocID", "iDocStatus"})
          .bind<&D::ConvertStatusFromIntToEnum, std::int16_t(std::int16_t)>("ConvertStatusFromIntToEnum", {"iStatus"})
          .bind<&D::ConvertStatusFromStringToEnum, std::int16_t(std::string&)>("ConvertStatusFromStringToEnum", {"iStatus"})
          .bind<&D::IsValidChildDoc>("IsValidChildDoc", {"iDocID", "iUser", "iSenderMode"})
          .bind<&D::IsValidParentDoc>("IsValidParentDoc", {"iDocID", "iUser", "iSenderMode"})
          .bind<&D::UserIsRecipientOfDoc>("UserIsRecipientOfDoc", {"iDocID", "iUser"})
          .bind<&D::ParseBatchXMLString>("ParseBatchXMLString", {"iXMLStr"})
          .bind<&D::ParseBatchXMLFile>("ParseBatchXMLFile", {"iXMLStr"})
          .bind<&D::ProcessDocument>("ProcessDocument",
                                     {"iInterActive", "iOriginalXmlBody", "iOriginalDocTypeID", "iOriginalDefRecipient",
                                      "oDocID", "oSenderBPID", "oDocTypeID", "oSenderName", "oDefRecipient", "oStatus",
                                      opt("iForwardedDocID", -1)})
          .bind<&D::ProcessDocumentWithAttachments>(
              "ProcessDocumentWithAttachments",
              {"iInterActive", "iOriginalXmlBody", "iOriginalDocTypeID", "iOriginalDefRecipient", "i_oAttachments",
               "oDocID", "oSenderBPID", "oDocTypeID", "oSenderName", "oDefRecipient", "oStatus",
               opt("iForwardedDocID", -1)})
          .bind<&D::TransformDocToNewDocType>("TransformDocToNewDocType",
                                              {"iDocID", "iOriginalDocTypeID", "iNewDocTypeID"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Document().classInfo(), true);
}

}  // namespace quillon
