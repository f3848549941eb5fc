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

// Parameters the automation interface passes ByRef but the methods only
// read are listed with ref(): their values are handed back as received (a
// document as the method left it).
const ClassInfo* Utility::classInfo() const {
  using U = Utility;
  static const ClassInfo* info =
      ClassBuilder<Utility>("Quillon.Utility")
          .bind<&U::ExecuteXSLPattern>("ExecuteXSLPattern", {ref("i_oXMLDoc"), ref("i_sXslPattern")})
          .bind<&U::IsExcelInstalled>("IsExcelInstalled")
          .bind<&U::ExecuteXSLPatternReturnAllNodes>("ExecuteXSLPatternReturnAllNodes", {ref("iXMLDoc"), ref("iXslPattern")})
          .bind<&U::ConstructXslPattern>("ConstructXslPattern", {ref("iTagAttrXsl"), ref("iXslPattern")})
          .bind<&U::CheckXslPattern>("CheckXslPattern", {"iXslPattern", ref("iTagAttrXsl")})
          .bind<&U::GetRecipientsFromPublicationTable>("GetRecipientsFromPublicationTable",
                                                       {ref("iDocID"), ref("iDocTypeID"), optRef("iEmailFlag", false)})
          .bind<&U::GetRecipientsFromPublicationTableByUsers>(
              "GetRecipientsFromPublicationTableByUsers",
              {ref("iDocID"), ref("iDocTypeID"), optRef("iEmailFlag", false), optRef("iUserIDs", Variant())})
          .bind<&U::GetToRecipientList>("GetToRecipientList", {"iDocID", "iDocTypeID"})
          .bind<&U::DocTypeFoundInTable>("DocTypeFoundInTable", {ref("iDocTypeID")})
          .bind<&U::getIISVirtID>("getIISVirtID")
          .bind<&U::GetAUObject>("GetAUObject", {ref("iUserID")})
          .bind<&U::getAUOAddress>("getAUOAddress", {ref("iIISVirtID"), ref("iUserID")})
          .bind<&U::GetAuoRSByCriteria>("GetAuoRSByCriteria", {ref("iCriteria"), "iIISVirtID"})
          .bind<&U::GetAUBusinessPartnerID>("GetAUBusinessPartnerID", {ref("iUserID")})
          .bind<&U::GetAUEmailAddress>("GetAUEmailAddress", {ref("iUserID")})
          .bind<&U::GetBusinessPartnerName>("GetBusinessPartnerName", {"i_lBPID"})
          // The password is by value so that it is never echoed back as an output.
          .bind<&U::CheckUserAuthorization>("CheckUserAuthorization", {ref("i_sUser"), "i_sPassword", opt("i_sXml", "")})
          .bind<&U::GetApplicationID>("GetApplicationID", {"i_sApplicationName"})
          .bind<&U::UserAccessToApplicationAllowed>("UserAccessToApplicationAllowed", {"i_sUser", "i_sApplicationName"})
          .bind<&U::GetDocumentTypeDescription>("GetDocumentTypeDescription", {ref("iDocTypeID")})
          .bind<&U::getXSL>("getXSL", {ref("iDocTypeID")})
          .bind<&U::GetHtmlAttachmentXsl>("GetHtmlAttachmentXsl", {ref("iDocTypeID")})
          .bind<&U::CheckPublicationErrors>("CheckPublicationErrors", {ref("iDocID")})
          .bind<&U::GetPublicationStatus>("GetPublicationStatus", {ref("iDocID"), ref("iRecipientID")})
          .bind<&U::GetForwardFlag>("GetForwardFlag", {ref("iDocID"), ref("iRecipientID")})
          .bind<&U::ConvertPublicationStatusFromStringToEnum>("ConvertPublicationStatusFromStringToEnum", {"iStatus"})
          .bind<&U::ShowAcceptRejectButtons>("ShowAcceptRejectButtons", {"i_sDocTypeID"})
          .bind<&U::FileExist>("FileExist", {ref("iFileName")})
          .bind<&U::DirExist>("DirExist", {ref("iDirName")})
          .bind<&U::DirExistOnThisServer>("DirExistOnThisServer", {ref("iDirName")})
          .bind<&U::FileExistAlsoRemote>("FileExistAlsoRemote", {ref("iPath"), ref("iFileName")})
          .bind<&U::FillPublicationTable>("FillPublicationTable", {ref("iDocID"), ref("iDocTypeID"), optRef("iBPID", 0),
                                                                   optRef("iUserID", "")})
          .bind<&U::GetRecipientsAndFillPublicationTable>("GetRecipientsAndFillPublicationTable",
                                                          {ref("iDocID"), optRef("iDocTypeID", ""), optRef("iXMLStr", "")})
          .bind<&U::ExecuteXslPatternAndFillPublicationTable>(
              "ExecuteXslPatternAndFillPublicationTable", {ref("iDocID"), ref("iDocTypeID"), ref("iXMLDoc"), ref("iXslPattern")})
          .bind<&U::ClearTagsAndWriteDocToDB>("ClearTagsAndWriteDocToDB", {ref("iDocID"), ref("iXMLDoc"), ref("iXslPattern")})
          .bind<&U::RemoveAllRoutingInfoFromDocument>("RemoveAllRoutingInfoFromDocument", {ref("iDocID"), ref("iXMLDoc")})
          .bind<&U::GetDocType>("GetDocType", {ref("iXMLStr"), optRef("iBPID", 0)})
          .bind<&U::GetSenderBPAndName>("GetSenderBPAndName", {ref("iXMLStr"), out("oSenderBP"), out("oSenderName")})
          .bind<&U::GetDefaultReceiver>("GetDefaultReceiver", {ref("iXMLStr")})
          .bind<&U::BPOfDocumentEqualsBPOfUser>("BPOfDocumentEqualsBPOfUser", {"i_sUser", "i_sXml"})
          .bind<&U::GetClass>("GetClass", {ref("iDllClassMethodString")})
          .bind<&U::GetMethod>("GetMethod", {ref("iDllClassMethodString")})
          .bind<&U::CallMethod>("CallMethod", {ref("iDllClassMethodString"), "iArguments"})
          .bind<&U::CallMethodForExcel>("CallMethodForExcel", {ref("iDllClassMethodString"), "i_oExcelWorkBook",
                                                               opt("i_sFilePathTemplate", "")})
          .bind<&U::CheckMethodCall>("CheckMethodCall", {ref("iDllClassMethodString")})
          .bind<&U::StoreErr>("StoreErr")
          .bind<&U::RestoreErr>("RestoreErr")
          .bind<&U::SetLongDBTextField>("SetLongDBTextField", {ref("iFieldContent"), ref("iFieldName"), ref("oRS")})
          .bind<&U::CheckLong>("CheckLong", {ref("iVar")})
          .bind<&U::CheckString>("CheckString", {ref("iVar")})
          .bind<&U::MakeStringFromArray>("MakeStringFromArray", {ref("iArray")})
          .bind<&U::ConvertArrayToList>("ConvertArrayToList", {ref("iArray")})
          // Mail, links, rendering, temporary and error files.
          .bind<&U::IsExcelInstalledWithErrRaise>("IsExcelInstalledWithErrRaise")
          .bind<&U::SendEmail>("SendEmail", {"iSender", "iReceiver", "iSubject", "iBody", "iHTMLFileName", "iXMLFileName"})
          .bind<&U::SendEmailWithAttachments>("SendEmailWithAttachments", {"iSender", "iReceiver", "iSubject", "iBody",
                                                                           "iHTMLFileName", "iXMLFileName", "i_aAttachment"})
          .bind<&U::sendEmailByGettingHTMLAndXML>(
              "sendEmailByGettingHTMLAndXML",
              {"iFrom", "iBcc", "iBody", "iSubject", "iDocID", "iDocType", "iXMLStr", opt("iCcList", ""),
               opt("iAddHtmlDocToCcList", false), opt("iSenderMode", -1), opt("iLanguageID", 1033)})
          .bind<&U::SendEmailToSender>("SendEmailToSender",
                                       {"iDocID", opt("iSubject", ""), opt("iBody", ""), opt("iAddHtmlAttachment", false),
                                        opt("iToRecipientList", ""), opt("iCcRecipientList", "")})
          .bind<&U::SendEmailToRecipients>("SendEmailToRecipients", {"iDocID", opt("iCcRecipientList", ""),
                                                                     opt("iSubject", ""), opt("iBody", ""),
                                                                     opt("iAddHtmlAttachment", false)})
          .bind<&U::SendEmailToRecipientsEx>(
              "SendEmailToRecipientsEx",
              {"iDocID", opt("iUserIDs", Variant()), "iCcRecipientList", "iSubject", "iBody", "iAddHtmlAttachment",
               opt("iSkipTo", false), opt("iSkipCC", false), opt("iUsePublicationUsersOnly", true)})
          .bind<&U::SendEmailToAdministrator>("SendEmailToAdministrator", {"i_oFileName"})
          .bind<&U::GetSubject>("GetSubject", {"iLanguageID", opt("iSubject", ""), "iDocTypeID",
                                               opt("iSenderMode", value(SENDERMODE::RECEIVERMODE))})
          .bind<&U::GetBody>("GetBody", {"iLanguageID", "iDocID", "iDocTypeID", "iSenderMode", opt("iBody", ""),
                                         opt("iCcFlag", false), opt("iToRecipientList", ""), opt("iCcRecipientList", "")})
          .bind<&U::GetDefaultBody>("GetDefaultBody", {"iLanguageID", "iDocID", "iDocTypeID", opt("iBody", "")})
          .bind<&U::getDocumentHyperlinkBySenderMode>("getDocumentHyperlinkBySenderMode",
                                                      {"iDocID", "iDocTypeID", "iSenderMode"})
          .bind<&U::getPagePath>("getPagePath")
          .bind<&U::getECollPath>("getECollPath")
          .bind<&U::getReceiveUrl>("getReceiveUrl")
          .bind<&U::getHTMLAttachment>("getHTMLAttachment", {"iDocID"})
          .bind<&U::getHTMLAttachmentByUsingXML>("getHTMLAttachmentByUsingXML", {"iDocID", "iDocType", "iXml"})
          .bind<&U::transformXMLStringToHTML>("transformXMLStringToHTML", {"iXMLStr", "iXSLFileName"})
          .bind<&U::transformXMLToHTMLCommon>("transformXMLToHTMLCommon", {"iXMLDom", "iXSLFileName"})
          .bind<&U::GetTransformXSLPath>("GetTransformXSLPath")
          .bind<&U::CanAttachHTMLFile>("CanAttachHTMLFile", {"iDocType"})
          .bind<&U::WriteXMLFileToDisk>("WriteXMLFileToDisk", {"iXMLStr", opt("iFileName", "")})
          .bind<&U::WriteXMLFileToDiskAsciiOrUnicode>("WriteXMLFileToDiskAsciiOrUnicode",
                                                      {"iXMLStr", opt("iFileName", ""), opt("iUnicode", true)})
          .bind<&U::DeleteXMLFileFromDisk>("DeleteXMLFileFromDisk", {"iFileName"})
          .bind<&U::DeleteHTMLAttachment>("DeleteHTMLAttachment", {"iFileName"})
          .bind<&U::AddTempPathIfNoDriveFound>("AddTempPathIfNoDriveFound", {"iFileName"})
          .bind<&U::CreateErrorDir>("CreateErrorDir")
          .bind<&U::WriteXmlFileToErrorDir>("WriteXmlFileToErrorDir", {"iContent", opt("iFileName", "")})
          .bind<&U::MoveFileToErrorDir>("MoveFileToErrorDir", {"iFileName"})
          .bind<&U::urlDecode>("urlDecode", {"iText"})
          .bind<&U::HTMLDecode>("HTMLDecode", {"iText"})
          .bind<&U::RetrieveElementFromRequestFormCollection>("RetrieveElementFromRequestFormCollection",
                                                              {"iFormString", "iPattern", out("oValue")})
          .bind<&U::Formats>("Formats", {"i_vSource", "i_vFormat"})
          .bind<&U::CheckSentLog>("CheckSentLog", {"iDocTypeID", "iSenderID", "iBPID", opt("iDocID", 0)})
          .bind<&U::GetZ2IZezazaParameter>("GetZ2IZezazaParameter", {"i_sParamName"})
          .bind<&U::DownloadDocument>("DownloadDocument", {"i_lDocumentID", "i_sUserID", "i_iFileFormat"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Utility().classInfo(), true);
}

}  // namespace quillon
