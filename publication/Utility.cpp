#include "publication/Utility.h"

#include <algorithm>

#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "foundation/Lookups.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

const char* const kTagNameForbidden = " \"`?.,><';:|][}{=+)(*&^%$#@~!\\/";

// Asks the file store about a network path by name, as the portal's
// components are reached.
bool fileStoreAnswers(const std::string& method, const std::string& path) {
  std::vector<Variant> args{Variant(path)};
  return General::RequireComponent("Shale.File", "Quillon.Utility")->invoke(method, args).toBool();
}

bool startsWithDigit(const std::string& s) { return !s.empty() && s[0] >= '0' && s[0] <= '9'; }

}  // namespace

// ---- XSL patterns --------------------------------------------------------------

std::string Utility::ExecuteXSLPattern(const std::shared_ptr<DomNode>& i_oXMLDoc, const std::string& i_sXslPattern) {
  if (i_sXslPattern.empty() || !i_oXMLDoc) return {};
  try {
    auto node = i_oXMLDoc->selectSingleNode(i_sXslPattern);
    return node ? text::Trim(node->text()) : std::string();
  } catch (...) {
    return {};  // a pattern the parser rejects simply matches nothing
  }
}

std::shared_ptr<DomNodeList> Utility::ExecuteXSLPatternReturnAllNodes(const std::shared_ptr<DomNode>& iXMLDoc,
                                                                      const std::string& iXslPattern) {
  if (!iXMLDoc) return nullptr;
  try {
    return iXMLDoc->selectNodes(iXslPattern);
  } catch (...) {
    return nullptr;
  }
}

std::string Utility::ConstructXslPattern(std::int32_t iTagAttrXsl, const std::string& iXslPattern) {
  switch (static_cast<TagAttrXsl>(iTagAttrXsl)) {
    case TagAttrXsl::TAGVALUE:
      return "//" + iXslPattern;
    case TagAttrXsl::ATTRVALUE:
      return "//@" + iXslPattern;
    case TagAttrXsl::XSLPATTERN:
      return iXslPattern;
    default:
      return {};
  }
}

bool Utility::CheckXslPattern(std::string& iXslPattern, std::int32_t iTagAttrXsl) {
  return Guarded(
      "Quillon.Utility.CheckXslPattern", [&] { return "XSL pattern checked: " + iXslPattern; },
      [&] {
        iXslPattern = text::Trim(iXslPattern);
        const std::string& p = iXslPattern;
        switch (static_cast<TagAttrXsl>(iTagAttrXsl)) {
          case TagAttrXsl::TAGVALUE:
          case TagAttrXsl::ATTRVALUE:
            if (p.find_first_of(kTagNameForbidden) != std::string::npos) return false;
            return !(text::IsNumeric(p) || startsWithDigit(p));
          case TagAttrXsl::XSLPATTERN:
            if (p.find('\\') != std::string::npos && p.find('/') != std::string::npos) return false;
            if (p == "//" || p == "\\\\" || p == "\\" || p == "/") return false;
            if (p.find(' ') != std::string::npos) return false;
            return !(text::IsNumeric(p) || startsWithDigit(p));
          default:
            return true;  // fixed text, 0 and negative values need no pattern
        }
      });
}

// ---- recipients ------------------------------------------------------------------

std::shared_ptr<Recordset> Utility::GetRecipientsFromPublicationTable(std::int32_t iDocID, const std::string& iDocTypeID,
                                                                      bool iEmailFlag) {
  return Guarded("Quillon.Utility.GetRecipientsFromPublicationTable", [&] {
    std::string sql;
    if (iEmailFlag)
      sql = "SELECT EMAIL, HTMLATTACHMENTXSL, PUBLICATION.USERID, DISTRIBUTIONLIST.HTMLATTACHMENT, "
            "DISTRIBUTIONLIST.ATTACHMENTS ";
    else
      sql = "SELECT EMAIL, HTMLATTACHMENTXSL, PUBLICATION.USERID, DISTRIBUTIONLIST.HTMLATTACHMENT ";
    sql += "FROM PUBLICATION INNER JOIN DISTRIBUTIONLIST ON PUBLICATION.USERID = "
           "DISTRIBUTIONLIST.USERID LEFT OUTER JOIN DOCUMENTTYPE ON DOCUMENTTYPE.DOCUMENTTYPEID = "
           "DISTRIBUTIONLIST.DOCUMENTTYPEID WHERE (PUBLICATION.DOCUMENTID = " +
           SqlLong(iDocID) + ") " + "AND (DISTRIBUTIONLIST.DOCUMENTTYPEID = " + SqlText(iDocTypeID) + ") ";
    if (iEmailFlag)
      sql += "AND (DISTRIBUTIONLIST.EMAIL = 1) AND (PUBLICATION.STATUS NOT IN (2,3,7,8,9) )";
    else
      sql += "AND (PUBLICATION.STATUS NOT IN (2,3,7,8,9) )";
    return DBUtils::getDisconnectedReadOnlyRecordSet(sql);
  });
}

std::shared_ptr<Recordset> Utility::GetRecipientsFromPublicationTableByUsers(std::int32_t iDocID,
                                                                             const std::string& iDocTypeID,
                                                                             bool iEmailFlag,
                                                                             const std::shared_ptr<Dictionary>& iUserIDs) {
  return Guarded("Quillon.Utility.GetRecipientsFromPublicationTableByUsers", [&] {
    std::string sql;
    if (iEmailFlag)
      sql = "SELECT HTMLATTACHMENTXSL, PUBLICATION.USERID, DISTRIBUTIONLIST.HTMLATTACHMENT, DISTRIBUTIONLIST.ATTACHMENTS ";
    else
      sql = "SELECT HTMLATTACHMENTXSL, PUBLICATION.USERID, DISTRIBUTIONLIST.HTMLATTACHMENT ";
    sql += "FROM PUBLICATION INNER JOIN DISTRIBUTIONLIST ON PUBLICATION.USERID = "
           "DISTRIBUTIONLIST.USERID LEFT OUTER JOIN DOCUMENTTYPE ON DOCUMENTTYPE.DOCUMENTTYPEID = "
           "DISTRIBUTIONLIST.DOCUMENTTYPEID WHERE (PUBLICATION.DOCUMENTID = " +
           SqlLong(iDocID) + ") " + "AND (DISTRIBUTIONLIST.DOCUMENTTYPEID = " + SqlText(iDocTypeID) + ") ";
    if (iEmailFlag)
      sql += "AND (DISTRIBUTIONLIST.EMAIL = 1) AND (PUBLICATION.STATUS NOT IN (2,3,7,8,9) ) ";
    else
      sql += "AND (PUBLICATION.STATUS NOT IN (2,3,7,8,9) ) ";
    if (iUserIDs) {
      sql += "AND PUBLICATION.USERID IN (";
      for (long i = 0; i < iUserIDs->Count(); ++i) sql += SqlText(iUserIDs->entry(i).second.text()) + ",";
      // An empty list matches no user rather than producing broken SQL.
      if (iUserIDs->Count() == 0)
        sql += "NULL)";
      else
        sql.back() = ')';
    }
    return DBUtils::getDisconnectedReadOnlyRecordSet(sql);
  });
}

std::string Utility::GetToRecipientList(std::int32_t iDocID, const std::string& iDocTypeID) {
  return Guarded("Quillon.Utility.GetToRecipientList", [&] {
    auto rs = GetRecipientsFromPublicationTable(iDocID, iDocTypeID, true);
    std::string list;
    bool first = true;
    while (!rs->EOF_()) {
      list += GetAUEmailAddress(rs->Fields("USERID").Value().text()) + ";";
      if (first) list += text::vbCrLf;
      first = false;
      rs->MoveNext();
    }
    if (list.size() >= 2 && list.compare(list.size() - 2, 2, text::vbCrLf) == 0) list.resize(list.size() - 2);
    if (!list.empty() && list.back() == ';') list.pop_back();
    return list;
  });
}

// ---- document types and errors ---------------------------------------------------------

bool Utility::DocTypeFoundInTable(const std::string& iDocTypeID) {
  return Guarded("Quillon.Utility.DocTypeFoundInTable", [&] {
    return Lookups::HasRow("SELECT * FROM documenttype WHERE documenttypeid = " + SqlText(iDocTypeID) + " ");
  });
}

std::string Utility::GetDocumentTypeDescription(const std::string& iDocTypeID) {
  return Guarded("Quillon.Utility.GetDocumentTypeDescription", [&] {
    return Lookups::FirstValue("SELECT DESCRIPTION FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = " + SqlText(iDocTypeID) + " ").text();
  });
}

std::string Utility::getXSL(const std::string& iDocTypeID) {
  return Guarded("Quillon.Utility.getXSL", [&] {
    return Lookups::FirstValue("SELECT HTMLATTACHMENTXSL FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = " + SqlText(iDocTypeID) + " ").text();
  });
}

std::string Utility::GetHtmlAttachmentXsl(const std::string& iDocTypeID) {
  return Guarded("Quillon.Utility.GetHtmlAttachmentXsl", [&] {
    return Lookups::FirstValue("SELECT HTMLATTACHMENTXSL FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = " + SqlText(iDocTypeID) + " ").text();
  });
}

bool Utility::CheckPublicationErrors(std::int32_t iDocID) {
  return Guarded(
      "Quillon.Utility.CheckPublicationErrors", [&] { return "DocumentID: '" + std::to_string(iDocID) + "'"; },
      [&] {
        return Lookups::HasRow("SELECT PUBLICATIONERRORID FROM PUBLICATIONERRORS WHERE DOCUMENTID = " + SqlLong(iDocID) +
                      " AND CLOSED = 0");
      });
}

// ---- directory and partners ------------------------------------------------------------------

std::string Utility::getIISVirtID() {
  return Guarded("Quillon.Utility.getIISVirtID", [&] {
    if (iisVirtID_.empty()) {
      auto cfg = General::RequireComponent<Configuration>("Basalt.Configuration", "Quillon.Utility");
      cfg->Load(General::getSiteConfigFile());
      iisVirtID_ = cfg->GetValue("GLOBAL", "IISVirtId").text();
    }
    return iisVirtID_;
  });
}

std::shared_ptr<DirectoryUser> Utility::getAUOAddress(const std::string& iIISVirtID, const std::string& iUserID) {
  return Guarded("Quillon.Utility.getAUOAddress", [&] {
    auto user = General::RequireComponent<DirectoryUser>("Slate.User", "Quillon.Utility");
    user->Bind(General::getSiteConfigFile());
    user->Open(iUserID, General::GetMembershipUser(), General::GetMembershipCode());
    return user;
  });
}

std::shared_ptr<DirectoryUser> Utility::GetAUObject(const std::string& iUserID) {
  return Guarded("Quillon.Utility.GetAUObject", [&] {
    if (iisVirtID_.empty()) getIISVirtID();
    return getAUOAddress(iisVirtID_, iUserID);
  });
}

std::shared_ptr<Recordset> Utility::GetAuoRSByCriteria(const Variant& iCriteria, std::string& iIISVirtID) {
  return Guarded("Quillon.Utility.GetAuoRSByCriteria", [&] {
    if (iIISVirtID.empty()) iIISVirtID = getIISVirtID();
    auto members = General::RequireComponent<DirectoryMembers>("Slate.Members", "Quillon.Utility");
    members->Bind(General::getSiteConfigFile());
    members->Open(General::GetMembershipUser(), General::GetMembershipCode());
    return members->Search(Variant(VariantArray(std::vector<Variant>{iCriteria})));
  });
}

std::int32_t Utility::GetAUBusinessPartnerID(const std::string& iUserID) {
  return Guarded("Quillon.Utility.GetAUBusinessPartnerID", [&] { return GetAUObject(iUserID)->BusinessPartnerID(); });
}

std::string Utility::GetAUEmailAddress(const std::string& iUserID) {
  return Guarded("Quillon.Utility.GetAUEmailAddress", [&] { return GetAUObject(iUserID)->EmailAddress(); });
}

std::string Utility::GetBusinessPartnerName(std::int32_t i_lBPID) {
  return Guarded("Quillon.Utility.GetBusinessPartnerName", [&] {
    return General::RequireComponent<BusinessPartnerRegistry>("Granite.BusinessPartner", "Quillon.Utility")->GetName(i_lBPID);
  });
}

Variant Utility::CheckUserAuthorization(const std::string& i_sUser, const std::string& i_sPassword, const std::string&) {
  return Guarded("Quillon.Utility.CheckUserAuthorization", [&] {
    auto validator = General::RequireComponent<DirectoryValidator>("Slate.Validator", "Quillon.Utility");
    validator->Bind(General::getSiteConfigFile());
    return validator->Validate(i_sUser, i_sPassword);
  });
}

std::int32_t Utility::GetApplicationID(const std::string& i_sApplicationName) {
  return Guarded("Quillon.Utility.GetApplicationID", [&] {
    auto cfg = General::RequireComponent<Configuration>("Basalt.Configuration", "Quillon.Utility");
    cfg->Load(General::getSiteConfigFile());
    Variant id = cfg->GetValue("APPLICATIONS", i_sApplicationName);
    return id.isEmpty() ? 0 : id.toInt32();
  });
}

bool Utility::UserAccessToApplicationAllowed(const std::string& i_sUser, const std::string& i_sApplicationName) {
  return Guarded("Quillon.Utility.UserAccessToApplicationAllowed", [&] {
    std::int32_t id = GetApplicationID(i_sApplicationName);
    auto ids = GetAUObject(i_sUser)->ApplicationIDs();
    return std::find(ids.begin(), ids.end(), id) != ids.end();
  });
}

// ---- files -------------------------------------------------------------------------

bool Utility::FileExist(const std::string& iFileName) {
  return Guarded("Quillon.Utility.FileExist", [&] {
    return LocalFiles::IsFile(text::LocalPath(iFileName));
  });
}

bool Utility::DirExistOnThisServer(const std::string& iDirName) {
  return Guarded("Quillon.Utility.DirExistOnThisServer", [&] {
    return LocalFiles::IsFolder(text::LocalPath(iDirName));
  });
}

bool Utility::DirExist(const std::string& iDirName) {
  return Guarded("Quillon.Utility.DirExist", [&] {
    if (text::IsNetworkPath(iDirName)) return fileStoreAnswers("FolderExists", iDirName);
    return LocalFiles::IsFolder(text::LocalPath(iDirName));
  });
}

bool Utility::FileExistAlsoRemote(const std::string& iPath, const std::string& iFileName) {
  return Guarded("Quillon.Utility.FileExistAlsoRemote", [&] {
    std::string full = text::JoinPath(iPath, iFileName);
    if (text::IsNetworkPath(full)) return fileStoreAnswers("FileExists", full);
    return LocalFiles::IsFile(text::LocalPath(full));
  });
}

// ---- errors and values ---------------------------------------------------------------------

Variant Utility::StoreErr() {
  savedError_ = ErrorInfo::current();
  return {};
}

Variant Utility::RestoreErr() {
  // The error being handled is still the pending one in C++; the saved
  // record stays available through SavedError() for an explicit re-raise.
  return {};
}

void Utility::SetLongDBTextField(const std::string& iFieldContent, const std::string& iFieldName,
                                 const std::shared_ptr<Recordset>& oRS) {
  Guarded("Quillon.Utility.SetLongDBTextField", [&] {
    if (!oRS) throw Error(hr::kObjectRequired, "Quillon.Utility.SetLongDBTextField", "Object required: the recordset");
    Field& field = oRS->Fields(iFieldName);
    if (iFieldContent.empty()) {
      field.SetValue(Variant(std::string()));
      return;
    }
    constexpr long kPiece = 1000000;
    long length = text::Len(iFieldContent);
    for (long start = 1; start <= length; start += kPiece) field.AppendChunk(text::Mid(iFieldContent, start, kPiece));
  });
}

std::int32_t Utility::CheckLong(const Variant& iVar) {
  return Guarded("Quillon.Utility.CheckLong", [&]() -> std::int32_t {
    if (iVar.isNull()) return 0;
    return iVar.toInt16();
  });
}

std::string Utility::CheckString(const Variant& iVar) {
  return Guarded("Quillon.Utility.CheckString", [&] { return iVar.isNull() ? std::string() : iVar.toString(); });
}

std::string Utility::MakeStringFromArray(const Variant& iArray) {
  return Guarded("Quillon.Utility.MakeStringFromArray", [&] {
    const VariantArray& a = iArray.array();
    std::string out;
    for (long i = a.lbound(); i <= a.ubound(); ++i) {
      if (i > a.lbound()) out += ", ";
      out += a.at(i).text();
    }
    return out;
  });
}

std::string Utility::ConvertArrayToList(const Variant& iArray) {
  return Guarded("Quillon.Utility.ConvertArrayToList", [&] {
    if (iArray.typeName().find("()") == std::string::npos) return std::string();
    const VariantArray& a = iArray.array();
    std::string out;
    for (long i = 0; i <= a.ubound(); ++i) out += a.at(i).text() + ", ";
    if (out.size() >= 2) out.resize(out.size() - 2);
    return out;
  });
}

// ---- by-name registration --------------------------------------------------------------------

namespace {
std::shared_ptr<DomNode> domArgument(Utility&, const Variant& v) {
  if (auto node = v.as<DomNode>()) return node;
  if (v.isString()) {  // the command line passes a document as its text
    auto doc = std::make_shared<DomDocument>();
    if (!doc->loadXML(v.toString()))
      throw Error(doc->parseError().errorCode, "Quillon.Utility", "The XML text could not be parsed: " + doc->parseError().reason);
    return doc;
  }
  return nullptr;
}
}  // namespace

const ClassInfo* Utility::classInfo() const {
  using A = std::vector<Variant>;
  static const ClassInfo* info =
      ClassBuilder<Utility>("Quillon.Utility")
          .method("ExecuteXSLPattern", {ref("i_oXMLDoc"), ref("i_sXslPattern")},
                  [](Utility& u, A& a) { return Variant(u.ExecuteXSLPattern(domArgument(u, a[0]), a[1].text())); })
          .method("ExecuteXSLPatternReturnAllNodes", {ref("iXMLDoc"), ref("iXslPattern")},
                  [](Utility& u, A& a) {
                    auto list = u.ExecuteXSLPatternReturnAllNodes(domArgument(u, a[0]), a[1].text());
                    return list ? Variant(list) : Variant(std::shared_ptr<Object>());
                  })
          .method("ConstructXslPattern", {ref("iTagAttrXsl"), ref("iXslPattern")},
                  [](Utility& u, A& a) { return Variant(u.ConstructXslPattern(a[0].toInt32(), a[1].text())); })
          .method("CheckXslPattern", {ref("iXslPattern"), ref("iTagAttrXsl")},
                  [](Utility& u, A& a) {
                    std::string p = a[0].text();
                    bool ok = u.CheckXslPattern(p, a[1].toInt32());
                    a[0] = Variant(p);
                    return Variant(ok);
                  })
          .method("GetRecipientsFromPublicationTable", {ref("iDocID"), ref("iDocTypeID"), optRef("iEmailFlag", Variant(false))},
                  [](Utility& u, A& a) {
                    return Variant(u.GetRecipientsFromPublicationTable(a[0].toInt32(), a[1].text(), a[2].toBool()));
                  })
          .method("GetRecipientsFromPublicationTableByUsers",
                  {ref("iDocID"), ref("iDocTypeID"), optRef("iEmailFlag", Variant(false)), optRef("iUserIDs", Variant())},
                  [](Utility& u, A& a) {
                    return Variant(u.GetRecipientsFromPublicationTableByUsers(a[0].toInt32(), a[1].text(), a[2].toBool(),
                                                                              a[3].template as<Dictionary>()));
                  })
          .method("GetToRecipientList", {in("iDocID"), in("iDocTypeID")},
                  [](Utility& u, A& a) { return Variant(u.GetToRecipientList(a[0].toInt32(), a[1].text())); })
          .method("DocTypeFoundInTable", {ref("iDocTypeID")},
                  [](Utility& u, A& a) { return Variant(u.DocTypeFoundInTable(a[0].text())); })
          .method("getIISVirtID", {}, [](Utility& u, A&) { return Variant(u.getIISVirtID()); })
          .method("GetAUObject", {ref("iUserID")}, [](Utility& u, A& a) { return Variant(u.GetAUObject(a[0].text())); })
          .method("getAUOAddress", {ref("iIISVirtID"), ref("iUserID")},
                  [](Utility& u, A& a) { return Variant(u.getAUOAddress(a[0].text(), a[1].text())); })
          .method("GetAuoRSByCriteria", {ref("iCriteria"), ref("iIISVirtID")},
                  [](Utility& u, A& a) {
                    std::string virt = a[1].text();
                    Variant rs(u.GetAuoRSByCriteria(a[0], virt));
                    a[1] = Variant(virt);
                    return rs;
                  })
          .method("GetAUBusinessPartnerID", {ref("iUserID")},
                  [](Utility& u, A& a) { return Variant(u.GetAUBusinessPartnerID(a[0].text())); })
          .method("GetAUEmailAddress", {ref("iUserID")},
                  [](Utility& u, A& a) { return Variant(u.GetAUEmailAddress(a[0].text())); })
          .method("GetBusinessPartnerName", {in("i_lBPID")},
                  [](Utility& u, A& a) { return Variant(u.GetBusinessPartnerName(a[0].toInt32())); })
          // The password is taken by value so that it is never echoed back as an output.
          .method("CheckUserAuthorization", {ref("i_sUser"), in("i_sPassword"), opt("i_sXml", Variant(""))},
                  [](Utility& u, A& a) { return u.CheckUserAuthorization(a[0].text(), a[1].text(), a[2].text()); })
          .method("GetApplicationID", {in("i_sApplicationName")},
                  [](Utility& u, A& a) { return Variant(u.GetApplicationID(a[0].text())); })
          .method("UserAccessToApplicationAllowed", {in("i_sUser"), in("i_sApplicationName")},
                  [](Utility& u, A& a) { return Variant(u.UserAccessToApplicationAllowed(a[0].text(), a[1].text())); })
          .method("GetDocumentTypeDescription", {ref("iDocTypeID")},
                  [](Utility& u, A& a) { return Variant(u.GetDocumentTypeDescription(a[0].text())); })
          .method("getXSL", {ref("iDocTypeID")}, [](Utility& u, A& a) { return Variant(u.getXSL(a[0].text())); })
          .method("GetHtmlAttachmentXsl", {ref("iDocTypeID")},
                  [](Utility& u, A& a) { return Variant(u.GetHtmlAttachmentXsl(a[0].text())); })
          .method("CheckPublicationErrors", {ref("iDocID")},
                  [](Utility& u, A& a) { return Variant(u.CheckPublicationErrors(a[0].toInt32())); })
          .method("GetPublicationStatus", {ref("iDocID"), ref("iRecipientID")},
                  [](Utility& u, A& a) { return Variant(u.GetPublicationStatus(a[0].toInt32(), a[1].text())); })
          .method("GetForwardFlag", {ref("iDocID"), ref("iRecipientID")},
                  [](Utility& u, A& a) { return Variant(u.GetForwardFlag(a[0].toInt32(), a[1].text())); })
          .method("ConvertPublicationStatusFromStringToEnum", {ref("iStatus")},
                  [](Utility& u, A& a) {
                    std::string status = a[0].text();
                    Variant result(value(u.ConvertPublicationStatusFromStringToEnum(status)));
                    a[0] = Variant(status);
                    return result;
                  })
          .method("ShowAcceptRejectButtons", {in("i_sDocTypeID")},
                  [](Utility& u, A& a) { return Variant(u.ShowAcceptRejectButtons(a[0].text())); })
          .method("FileExist", {ref("iFileName")}, [](Utility& u, A& a) { return Variant(u.FileExist(a[0].text())); })
          .method("DirExist", {ref("iDirName")}, [](Utility& u, A& a) { return Variant(u.DirExist(a[0].text())); })
          .method("DirExistOnThisServer", {ref("iDirName")},
                  [](Utility& u, A& a) { return Variant(u.DirExistOnThisServer(a[0].text())); })
          .method("FileExistAlsoRemote", {ref("iPath"), ref("iFileName")},
                  [](Utility& u, A& a) { return Variant(u.FileExistAlsoRemote(a[0].text(), a[1].text())); })
          .method("FillPublicationTable", {ref("iDocID"), ref("iDocTypeID"), optRef("iBPID", Variant(0)), optRef("iUserID", Variant(""))},
                  [](Utility& u, A& a) {
                    return Variant(u.FillPublicationTable(a[0].toInt32(), a[1].text(), a[2].toInt32(), a[3].text()));
                  })
          .method("GetRecipientsAndFillPublicationTable",
                  {ref("iDocID"), optRef("iDocTypeID", Variant("")), optRef("iXMLStr", Variant(""))},
                  [](Utility& u, A& a) {
                    return Variant(u.GetRecipientsAndFillPublicationTable(a[0].toInt32(), a[1].text(), a[2].text()));
                  })
          .method("ExecuteXslPatternAndFillPublicationTable", {ref("iDocID"), ref("iDocTypeID"), ref("iXMLDoc"), ref("iXslPattern")},
                  [](Utility& u, A& a) {
                    auto dom = domArgument(u, a[2]);
                    bool r = u.ExecuteXslPatternAndFillPublicationTable(a[0].toInt32(), a[1].text(), dom, a[3].text());
                    a[2] = Variant(dom);
                    return Variant(r);
                  })
          .method("ClearTagsAndWriteDocToDB", {ref("iDocID"), ref("iXMLDoc"), ref("iXslPattern")},
                  [](Utility& u, A& a) {
                    auto dom = domArgument(u, a[1]);
                    bool r = u.ClearTagsAndWriteDocToDB(a[0].toInt32(), dom, a[2].text());
                    a[1] = Variant(dom);
                    return Variant(r);
                  })
          .method("RemoveAllRoutingInfoFromDocument", {ref("iDocID"), ref("iXMLDoc")},
                  [](Utility& u, A& a) {
                    auto dom = domArgument(u, a[1]);
                    u.RemoveAllRoutingInfoFromDocument(a[0].toInt32(), dom);
                    a[1] = Variant(dom);
                    return Variant();
                  })
          .method("GetDocType", {ref("iXMLStr"), optRef("iBPID", Variant(0))},
                  [](Utility& u, A& a) { return Variant(u.GetDocType(a[0].text(), a[1].toInt32())); })
          .method("GetSenderBPAndName", {ref("iXMLStr"), ref("oSenderBP"), ref("oSenderName")},
                  [](Utility& u, A& a) {
                    std::int32_t bp = 0;
                    std::string name;
                    u.GetSenderBPAndName(a[0].text(), bp, name);
                    a[1] = Variant(bp);
                    a[2] = Variant(name);
                    return Variant();
                  })
          .method("GetDefaultReceiver", {ref("iXMLStr")},
                  [](Utility& u, A& a) { return Variant(u.GetDefaultReceiver(a[0].text())); })
          .method("BPOfDocumentEqualsBPOfUser", {in("i_sUser"), in("i_sXml")},
                  [](Utility& u, A& a) { return Variant(u.BPOfDocumentEqualsBPOfUser(a[0].text(), a[1].text())); })
          .method("GetClass", {ref("iDllClassMethodString")},
                  [](Utility& u, A& a) { return u.GetClass(a[0].text()); })
          .method("GetMethod", {ref("iDllClassMethodString")},
                  [](Utility& u, A& a) { return u.GetMethod(a[0].text()); })
          .method("CallMethod", {ref("iDllClassMethodString"), ref("iArguments")},
                  [](Utility& u, A& a) { return Variant(u.CallMethod(a[0].text(), a[1])); })
          .method("CallMethodForExcel",
                  {ref("iDllClassMethodString"), ref("i_oExcelWorkBook"), opt("i_sFilePathTemplate", Variant(""))},
                  [](Utility& u, A& a) { return Variant(u.CallMethodForExcel(a[0].text(), a[1], a[2].text())); })
          .method("CheckMethodCall", {ref("iDllClassMethodString")},
                  [](Utility& u, A& a) { return Variant(u.CheckMethodCall(a[0].text())); })
          .method("StoreErr", {}, [](Utility& u, A&) { return u.StoreErr(); })
          .method("RestoreErr", {}, [](Utility& u, A&) { return u.RestoreErr(); })
          .method("SetLongDBTextField", {ref("iFieldContent"), ref("iFieldName"), ref("oRS")},
                  [](Utility& u, A& a) {
                    u.SetLongDBTextField(a[0].text(), a[1].text(), a[2].template as<Recordset>());
                    return Variant();
                  })
          .method("CheckLong", {ref("iVar")}, [](Utility& u, A& a) { return Variant(u.CheckLong(a[0])); })
          .method("CheckString", {ref("iVar")}, [](Utility& u, A& a) { return Variant(u.CheckString(a[0])); })
          .method("MakeStringFromArray", {ref("iArray")},
                  [](Utility& u, A& a) { return Variant(u.MakeStringFromArray(a[0])); })
          .method("ConvertArrayToList", {ref("iArray")},
                  [](Utility& u, A& a) { return Variant(u.ConvertArrayToList(a[0])); })
          .done();
  return info;
}

namespace {
const bool kRegistered = (Utility().classInfo(), true);
}

}  // namespace quillon
