#include "delivery/SendMethod.h"

#include <cmath>

#include "delivery/PushDocUtils.h"
#include "foundation/ConnectionScope.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/TSendMethodPropertiesBinding.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace quillon {

using Encoding::SqlByte;
using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

const char* const kManualDownload = "70";

// The value when it is one of the enumeration's values, 0 (not set) otherwise.
template <class E>
E narrowed(std::int32_t v, std::initializer_list<E> valid) {
  for (E e : valid)
    if (value(e) == v) return e;
  return E{};
}

ESendMethodProtocol toProtocol(std::int32_t v) {
  using P = ESendMethodProtocol;
  return narrowed(v, {P::Email, P::Fax, P::FilePath, P::Ftp, P::Http, P::MethodCall, P::ManualDownload, P::EDI});
}
EWriteMode toWriteMode(std::int32_t v) { return narrowed(v, {EWriteMode::Append, EWriteMode::Create, EWriteMode::Update}); }
ESendMethodFormat toFormat(std::int32_t v) {
  return narrowed(v, {ESendMethodFormat::Excel, ESendMethodFormat::OBI, ESendMethodFormat::XML});
}
ESendMethodSuffix toSuffix(std::int32_t v) { return narrowed(v, {ESendMethodSuffix::DocumentID, ESendMethodSuffix::None}); }
ESendMethodFileFormat toFileFormat(std::int32_t v) {
  return narrowed(v, {ESendMethodFileFormat::ASCII, ESendMethodFileFormat::Unicode});
}
ESendMethodFTPTransferType toFTPTransferType(std::int32_t v) {
  return narrowed(v, {ESendMethodFTPTransferType::ASCII, ESendMethodFTPTransferType::Binary});
}

// A 16-bit column gets the enumeration's value, or 0 for anything else, so
// no stored code lies outside its enumeration (or outside 16 bits).
template <class E>
Variant code(E e, E (*narrow)(std::int32_t)) {
  return Variant(static_cast<std::int16_t>(value(narrow(value(e)))));
}

std::int32_t numberOrZero(const Variant& v) { return v.isNull() ? 0 : v.toInt32(); }

// The address as stored: a method call with neither class nor method ("..")
// is no address at all.
std::string storedAddress(const TSendMethodProperties& p) {
  if (p.nProtocol == ESendMethodProtocol::MethodCall && p.sAddress == "..") return "";
  return p.sAddress;
}

// The attachments flag of a written extended array: "True"/"False" or a
// number as the automation reads a boolean; an empty entry is false.
bool attachmentsFlag(const std::string& entry) { return !text::Trim(entry).empty() && Variant(entry).toBool(); }

TSendMethodProperties fromAspArguments(std::int16_t protocol, std::int16_t format, bool autoPush,
                                       const std::string& xsl, const std::string& address, std::int32_t port,
                                       const std::string& user, const std::string& password,
                                       const std::string& fileName, std::int16_t suffix, const std::string& extension,
                                       std::int16_t writeMode, const std::string& excelTemplate,
                                       const std::string& proxy, std::int32_t proxyPort, std::int16_t fileFormat,
                                       std::int16_t ftpTransferType) {
  TSendMethodProperties p;
  p.nProtocol = toProtocol(protocol);
  p.nFormat = toFormat(format);
  p.bAutoPush = autoPush;
  p.sXslFileName = xsl;
  p.sAddress = address;
  p.lPort = port;
  p.sUser = user;
  p.sPassword = password;
  p.sFileName = fileName;
  p.nSuffix = toSuffix(suffix);
  p.sFileExtension = extension;
  p.nWriteMode = toWriteMode(writeMode);
  p.sExcelTemplate = excelTemplate;
  p.sProxy = proxy;
  p.lProxyPort = proxyPort;
  p.nFileFormat = toFileFormat(fileFormat);
  p.nFTPTransferType = toFTPTransferType(ftpTransferType);
  return p;
}

SendMethod::ExtendedProperties writtenArray(bool attachments, const std::string& networkID,
                                            const std::string& mergeFile) {
  return {attachments ? "True" : "False", networkID, mergeFile};
}

// A send-method id given as text, as a number; anything but a whole number
// fails rather than reaching the SQL text.
std::int32_t idFromText(const std::string& id, const std::string& source) {
  double d = Variant(id).toDouble();
  if (!text::IsNumeric(id) || std::floor(d) != d)
    throw Error(hr::kTypeMismatch, source, "Type mismatch: the send-method id '" + id + "' is not a whole number.");
  return Variant(d).toInt32();
}

const char* const kRouteWhere = "WHERE BUSINESSPARTNERID = ";

}  // namespace

// ---- history ------------------------------------------------------------------------------

void SendMethod::AddSendMethodToHistory(std::int32_t iSendMethodID, std::int32_t iBusinessPartnerID,
                                        std::int32_t iRuleID, std::int32_t iDocID, const std::string& iDocTypeID,
                                        std::int32_t iPublicationErrorID, std::int16_t iStatus) {
  Guarded("Quillon.SendMethod.AddSendMethodToHistory", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM SENDMETHODHISTORY WHERE HISTORYID = -1", conn.get());
    rs->AddNew();
    rs->Fields("SENDMETHODID").SetValue(Variant(iSendMethodID));
    rs->Fields("BUSINESSPARTNERID").SetValue(Variant(iBusinessPartnerID));
    rs->Fields("RULEID").SetValue(Variant(iRuleID));
    rs->Fields("DOCUMENTID").SetValue(Variant(iDocID));
    rs->Fields("DOCUMENTTYPEID").SetValue(Variant(iDocTypeID));
    rs->Fields("PUBLICATIONERRORID").SetValue(Variant(iPublicationErrorID));
    rs->Fields("Status").SetValue(Variant(iStatus));
    rs->Fields("SENDDATE").SetValue(Variant::date(oleNow()));
    rs->Update();
    rs->Close();
  });
}

// ---- properties ---------------------------------------------------------------------------

// The columns of the record. The password follows the mask rule: the mask
// keeps what is stored (nothing, for a new row), blanks store "", anything
// else is stored as given.
void SendMethod::WriteProperties(Recordset& rs, const TSendMethodProperties& p) {
  rs.Fields("AUTOPUSH").SetValue(Variant(static_cast<std::uint8_t>(p.bAutoPush ? 1 : 0)));
  rs.Fields("XSLFILENAME").SetValue(Variant(p.sXslFileName));
  rs.Fields("FILEEXTENSION").SetValue(Variant(p.sFileExtension));
  rs.Fields("USERNAME").SetValue(Variant(p.sUser));
  std::string trimmedPassword = text::Trim(p.sPassword);
  if (trimmedPassword != kPasswordMask) rs.Fields("PASSWORD").SetValue(Variant(trimmedPassword.empty() ? "" : p.sPassword));
  rs.Fields("FORMAT").SetValue(code(p.nFormat, toFormat));
  rs.Fields("PROXY").SetValue(Variant(p.sProxy));
  rs.Fields("PORT").SetValue(Variant(p.lPort));
  rs.Fields("PROXYPORT").SetValue(Variant(p.lProxyPort));
  rs.Fields("PROTOCOL").SetValue(code(p.nProtocol, toProtocol));
  rs.Fields("WRITEMODE").SetValue(code(p.nWriteMode, toWriteMode));
  rs.Fields("ADDRESS").SetValue(Variant(storedAddress(p)));
  rs.Fields("EXCELTEMPLATE").SetValue(Variant(p.sExcelTemplate));
  rs.Fields("SUFFIX").SetValue(code(p.nSuffix, toSuffix));
  rs.Fields("FILENAME").SetValue(Variant(p.sFileName));
  rs.Fields("FILEFORMAT").SetValue(code(p.nFileFormat, toFileFormat));
  rs.Fields("FTPTRANSFERTYPE").SetValue(code(p.nFTPTransferType, toFTPTransferType));
}

std::int32_t SendMethod::AddSendMethodProperties2(TSendMethodProperties& i_uProperties) {
  return Guarded("Quillon.SendMethod.AddSendMethodProperties2", [&] {
    ClearSendMethodFieldsByProtocol(i_uProperties);
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM SENDMETHODPROPERTY WHERE SENDMETHODID=-1", conn.get());
    rs->AddNew();
    WriteProperties(*rs, i_uProperties);
    rs->Update();
    std::int32_t id = rs->Fields("SENDMETHODID").Value().toInt32();
    rs->Close();
    return id;
  });
}

std::int32_t SendMethod::AddSendMethodProperties3(TSendMethodProperties& i_uProperties,
                                                  const ExtendedProperties& i_aProperties24) {
  return Guarded("Quillon.SendMethod.AddSendMethodProperties3", [&] {
    ClearSendMethodFieldsByProtocol(i_uProperties);
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM SENDMETHODPROPERTY WHERE SENDMETHODID=-1", conn.get());
    rs->AddNew();
    WriteProperties(*rs, i_uProperties);
    if (!i_aProperties24[1].empty()) rs->Fields("NETWORKID").SetValue(Variant(i_aProperties24[1]));
    rs->Fields("ATTACHMENTS").SetValue(Variant(static_cast<std::uint8_t>(attachmentsFlag(i_aProperties24[0]) ? 1 : 0)));
    rs->Fields("MERGEFILE").SetValue(Variant(i_aProperties24[2]));
    rs->Update();
    std::int32_t id = rs->Fields("SENDMETHODID").Value().toInt32();
    rs->Close();
    return id;
  });
}

std::int32_t SendMethod::AddSendMethodPropertiesFromAsp(
    std::int16_t i_iProtocol, std::int16_t i_iFormat, bool i_bAutoPush, const std::string& i_sXsl,
    const std::string& i_sAddress, std::int32_t i_lPort, const std::string& i_sUserID, const std::string& i_sPassword,
    const std::string& i_sFileName, std::int16_t i_iSuffix, const std::string& i_sExtension, std::int16_t i_iWriteMode,
    const std::string& i_sExcelTemplate, const std::string& i_sProxy, std::int32_t i_lProxyPort,
    std::int16_t i_iFileFormat, std::int16_t i_iFTPTransferType) {
  return Guarded("Quillon.SendMethod.AddSendMethodPropertiesFromAsp", [&] {
    TSendMethodProperties p = fromAspArguments(i_iProtocol, i_iFormat, i_bAutoPush, i_sXsl, i_sAddress, i_lPort,
                                               i_sUserID, i_sPassword, i_sFileName, i_iSuffix, i_sExtension,
                                               i_iWriteMode, i_sExcelTemplate, i_sProxy, i_lProxyPort, i_iFileFormat,
                                               i_iFTPTransferType);
    return AddSendMethodProperties2(p);
  });
}

std::int32_t SendMethod::AddSendMethodPropertiesFromAsp2(
    std::int16_t i_iProtocol, std::int16_t i_iFormat, bool i_bAutoPush, const std::string& i_sXsl,
    const std::string& i_sAddress, std::int32_t i_lPort, const std::string& i_sUserID, const std::string& i_sPassword,
    const std::string& i_sFileName, std::int16_t i_iSuffix, const std::string& i_sExtension, std::int16_t i_iWriteMode,
    const std::string& i_sExcelTemplate, const std::string& i_sProxy, std::int32_t i_lProxyPort,
    std::int16_t i_iFileFormat, std::int16_t i_iFTPTransferType, bool i_bAttachments, const std::string& i_sNetWorkID,
    const std::string& i_sMergeFile) {
  return Guarded("Quillon.SendMethod.AddSendMethodPropertiesFromAsp2", [&] {
    TSendMethodProperties p = fromAspArguments(i_iProtocol, i_iFormat, i_bAutoPush, i_sXsl, i_sAddress, i_lPort,
                                               i_sUserID, i_sPassword, i_sFileName, i_iSuffix, i_sExtension,
                                               i_iWriteMode, i_sExcelTemplate, i_sProxy, i_lProxyPort, i_iFileFormat,
                                               i_iFTPTransferType);
    return AddSendMethodProperties3(p, writtenArray(i_bAttachments, i_sNetWorkID, i_sMergeFile));
  });
}

void SendMethod::GetSendMethodProperties2(std::int32_t i_lSendMethodID, TSendMethodProperties& o_uProperties) {
  Guarded("Quillon.SendMethod.GetSendMethodProperties2", [&] {
    o_uProperties = TSendMethodProperties{};
    if (i_lSendMethodID == -1) return;
    ConnectionScope conn;
    auto rs = conn.get()->Execute("SELECT * FROM SENDMETHODPROPERTY WHERE SENDMETHODID = " + SqlLong(i_lSendMethodID));
    if (!rs->EOF_()) {
      PushDocUtils fields;
      TSendMethodProperties& p = o_uProperties;
      p.bAutoPush = numberOrZero(rs->Fields("AUTOPUSH").Value()) != 0;
      p.sXslFileName = fields.GetField(rs, "XSLFILENAME");
      p.sFileExtension = fields.GetField(rs, "FILEEXTENSION");
      p.sUser = fields.GetField(rs, "USERNAME");
      p.sPassword = fields.GetField(rs, "PASSWORD");
      p.nFormat = toFormat(numberOrZero(rs->Fields("FORMAT").Value()));
      p.sProxy = fields.GetField(rs, "PROXY");
      p.lPort = numberOrZero(rs->Fields("PORT").Value());
      p.lProxyPort = numberOrZero(rs->Fields("PROXYPORT").Value());
      p.nProtocol = toProtocol(numberOrZero(rs->Fields("PROTOCOL").Value()));
      p.nWriteMode = toWriteMode(numberOrZero(rs->Fields("WRITEMODE").Value()));
      p.sAddress = fields.GetField(rs, "ADDRESS");
      p.sExcelTemplate = fields.GetField(rs, "EXCELTEMPLATE");
      p.nSuffix = toSuffix(numberOrZero(rs->Fields("SUFFIX").Value()));
      p.sFileName = fields.GetField(rs, "FILENAME");
      p.nFileFormat = toFileFormat(numberOrZero(rs->Fields("FILEFORMAT").Value()));
      p.nFTPTransferType = toFTPTransferType(numberOrZero(rs->Fields("FTPTRANSFERTYPE").Value()));
    }
    rs->Close();
  });
}

void SendMethod::GetSendMethodProperties4(std::int32_t i_lSendMethodID, TSendMethodProperties& o_uProperties) {
  GetSendMethodProperties2(i_lSendMethodID, o_uProperties);
}

void SendMethod::GetSendMethodProperties3(std::int32_t i_lSendMethodID, ExtendedProperties& o_aProperties) {
  Guarded("Quillon.SendMethod.GetSendMethodProperties3", [&] {
    o_aProperties = {"", "False", ""};
    if (i_lSendMethodID == -1) return;
    ConnectionScope conn;
    auto rs = conn.get()->Execute("SELECT NETWORKID, ATTACHMENTS, MERGEFILE FROM SENDMETHODPROPERTY WHERE SENDMETHODID = " +
                                  SqlLong(i_lSendMethodID));
    if (!rs->EOF_()) {
      PushDocUtils fields;
      o_aProperties[0] = fields.GetField(rs, "NETWORKID");
      o_aProperties[1] = numberOrZero(rs->Fields("ATTACHMENTS").Value()) != 0 ? "True" : "False";
      o_aProperties[2] = fields.GetField(rs, "MERGEFILE");
    }
    rs->Close();
  });
}

void SendMethod::GetSendMethodPropertiesFromAsp(
    std::int32_t i_lSendMethodID, std::int16_t& i_iProtocol, std::int16_t& i_iFormat, bool& i_bAutoPush,
    std::string& i_sXsl, std::string& i_sAddress, std::int32_t& i_lPort, std::string& i_sUserID,
    std::string& i_sPassword, std::string& i_sFileName, std::int16_t& i_iSuffix, std::string& i_sExtension,
    std::int16_t& i_iWriteMode, std::string& i_sExcelTemplate, std::string& i_sProxy, std::int32_t& i_lProxyPort,
    std::int16_t& i_iFileFormat, std::int16_t& i_iFTPTransferType) {
  Guarded("Quillon.SendMethod.GetSendMethodPropertiesFromAsp", [&] {
    TSendMethodProperties p;
    GetSendMethodProperties2(i_lSendMethodID, p);
    i_iProtocol = SendMethodProtocol_EnumToInteger(p.nProtocol);
    i_iFormat = SendMethodFormat_EnumToInteger(p.nFormat);
    i_bAutoPush = p.bAutoPush;
    i_sXsl = p.sXslFileName;
    i_sAddress = p.sAddress;
    i_lPort = p.lPort;
    i_sUserID = p.sUser;
    i_sPassword = p.sPassword;
    i_sFileName = p.sFileName;
    i_iSuffix = SendMethodSuffix_EnumToInteger(p.nSuffix);
    i_sExtension = p.sFileExtension;
    i_iWriteMode = SendMethodWriteMode_EnumToInteger(p.nWriteMode);
    i_sExcelTemplate = p.sExcelTemplate;
    i_sProxy = p.sProxy;
    i_lProxyPort = p.lProxyPort;
    i_iFileFormat = SendMethodFileFormat_EnumToInteger(p.nFileFormat);
    i_iFTPTransferType = SendMethodFTPTransferType_EnumToInteger(p.nFTPTransferType);
  });
}

void SendMethod::GetSendMethodPropertiesFromAsp2(
    std::int32_t i_lSendMethodID, std::int16_t& i_iProtocol, std::int16_t& i_iFormat, bool& i_bAutoPush,
    std::string& i_sXsl, std::string& i_sAddress, std::int32_t& i_lPort, std::string& i_sUserID,
    std::string& i_sPassword, std::string& i_sFileName, std::int16_t& i_iSuffix, std::string& i_sExtension,
    std::int16_t& i_iWriteMode, std::string& i_sExcelTemplate, std::string& i_sProxy, std::int32_t& i_lProxyPort,
    std::int16_t& i_iFileFormat, std::int16_t& i_iFTPTransferType, bool& i_bAttachments, std::string& i_sNetWorkID,
    std::string& i_sMergeFile) {
  Guarded("Quillon.SendMethod.GetSendMethodPropertiesFromAsp", [&] {
    GetSendMethodPropertiesFromAsp(i_lSendMethodID, i_iProtocol, i_iFormat, i_bAutoPush, i_sXsl, i_sAddress, i_lPort,
                                   i_sUserID, i_sPassword, i_sFileName, i_iSuffix, i_sExtension, i_iWriteMode,
                                   i_sExcelTemplate, i_sProxy, i_lProxyPort, i_iFileFormat, i_iFTPTransferType);
    ExtendedProperties extended;
    GetSendMethodProperties3(i_lSendMethodID, extended);
    i_bAttachments = extended[1] == "True";
    i_sNetWorkID = extended[0];
    i_sMergeFile = extended[2];
  });
}

void SendMethod::UpdateSendMethodProperties2(std::int32_t i_lSendMethodID, TSendMethodProperties& i_uProperties) {
  Guarded("Quillon.SendMethod.UpdateSendMethodProperties2", [&] {
    ClearSendMethodFieldsByProtocol(i_uProperties);
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM SENDMETHODPROPERTY WHERE SENDMETHODID= " + SqlLong(i_lSendMethodID), conn.get());
    if (!rs->EOF_()) {
      WriteProperties(*rs, i_uProperties);
      rs->Update();
    }
    rs->Close();
  });
}

void SendMethod::UpdateSendMethodProperties3(std::int32_t i_lSendMethodID, TSendMethodProperties& i_uProperties,
                                             const ExtendedProperties& i_aProperties24) {
  Guarded("Quillon.SendMethod.UpdateSendMethodProperties2", [&] {
    ClearSendMethodFieldsByProtocol(i_uProperties);
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM SENDMETHODPROPERTY WHERE SENDMETHODID= " + SqlLong(i_lSendMethodID), conn.get());
    if (!rs->EOF_()) {
      WriteProperties(*rs, i_uProperties);
      rs->Fields("ATTACHMENTS").SetValue(Variant(static_cast<std::uint8_t>(attachmentsFlag(i_aProperties24[0]) ? 1 : 0)));
      // A blank network id never clears the stored one.
      if (!text::Trim(i_aProperties24[1]).empty()) rs->Fields("NETWORKID").SetValue(Variant(i_aProperties24[1]));
      rs->Fields("MERGEFILE").SetValue(Variant(i_aProperties24[2]));
      rs->Update();
    }
    rs->Close();
  });
}

void SendMethod::UpdateSendMethodPropertiesFromAsp(
    std::int32_t i_lSendMethodID, std::int16_t i_iProtocol, std::int16_t i_iFormat, bool i_bAutoPush,
    const std::string& i_sXsl, const std::string& i_sAddress, std::int32_t i_lPort, const std::string& i_sUserID,
    const std::string& i_sPassword, const std::string& i_sFileName, std::int16_t i_iSuffix,
    const std::string& i_sExtension, std::int16_t i_iWriteMode, const std::string& i_sExcelTemplate,
    const std::string& i_sProxy, std::int32_t i_lProxyPort, std::int16_t i_iFileFormat,
    std::int16_t i_iFTPTransferType) {
  Guarded("Quillon.SendMethod.UpdateSendMethodPropertiesFromAsp", [&] {
    TSendMethodProperties p = fromAspArguments(i_iProtocol, i_iFormat, i_bAutoPush, i_sXsl, i_sAddress, i_lPort,
                                               i_sUserID, i_sPassword, i_sFileName, i_iSuffix, i_sExtension,
                                               i_iWriteMode, i_sExcelTemplate, i_sProxy, i_lProxyPort, i_iFileFormat,
                                               i_iFTPTransferType);
    UpdateSendMethodProperties2(i_lSendMethodID, p);
  });
}

void SendMethod::UpdateSendMethodPropertiesFromAsp2(
    std::int32_t i_lSendMethodID, std::int16_t i_iProtocol, std::int16_t i_iFormat, bool i_bAutoPush,
    const std::string& i_sXsl, const std::string& i_sAddress, std::int32_t i_lPort, const std::string& i_sUserID,
    const std::string& i_sPassword, const std::string& i_sFileName, std::int16_t i_iSuffix,
    const std::string& i_sExtension, std::int16_t i_iWriteMode, const std::string& i_sExcelTemplate,
    const std::string& i_sProxy, std::int32_t i_lProxyPort, std::int16_t i_iFileFormat,
    std::int16_t i_iFTPTransferType, bool i_bAttachments, const std::string& i_sNetWorkID,
    const std::string& i_sMergeFile) {
  Guarded("Quillon.SendMethod.UpdateSendMethodPropertiesFromAsp", [&] {
    TSendMethodProperties p = fromAspArguments(i_iProtocol, i_iFormat, i_bAutoPush, i_sXsl, i_sAddress, i_lPort,
                                               i_sUserID, i_sPassword, i_sFileName, i_iSuffix, i_sExtension,
                                               i_iWriteMode, i_sExcelTemplate, i_sProxy, i_lProxyPort, i_iFileFormat,
                                               i_iFTPTransferType);
    UpdateSendMethodProperties3(i_lSendMethodID, p, writtenArray(i_bAttachments, i_sNetWorkID, i_sMergeFile));
  });
}

// ---- routes -------------------------------------------------------------------------------

void SendMethod::DeleteSendMethod2(const std::string& i_lSMID, std::int32_t i_lBPID, std::int32_t i_lruleid,
                                   const std::string& i_sDocTypeID) {
  const std::string source = "Quillon.SendMethod.DeleteSendMethod2";
  Guarded(source, [&] {
    std::int32_t id = idFromText(i_lSMID, source);
    ConnectionScope conn;
    std::string route = std::string(kRouteWhere) + SqlLong(i_lBPID) + " " + "AND DOCUMENTTYPEID = " +
                        SqlText(i_sDocTypeID) + " AND RULEID = " + SqlLong(i_lruleid);
    bool keepPlaceholder = false;
    if (i_lruleid != -1) {
      auto rs = conn.get()->Execute("SELECT DISTINCT SENDMETHODID FROM SENDMETHOD " + route);
      // Only the route's own send method may turn into the placeholder; a
      // route of another send method is never touched.
      keepPlaceholder = rs->RecordCount() == 1 && numberOrZero(rs->Fields("SENDMETHODID").Value()) == id;
      rs->Close();
    }
    if (keepPlaceholder)
      conn.get()->Execute("UPDATE SENDMETHOD SET SENDMETHODID = -1 " + route + " AND SENDMETHODID = " + SqlLong(id));
    else
      conn.get()->Execute("DELETE FROM SENDMETHOD WHERE SENDMETHODID = " + SqlLong(id));
    // A placeholder replaces only this route: other partners, types or rules
    // may still deliver through the send method, so its properties stay
    // until its last route is gone.
    auto used = conn.get()->Execute("SELECT TOP 1 SENDMETHODID FROM SENDMETHOD WHERE SENDMETHODID = " + SqlLong(id));
    const bool stillRouted = !used->EOF_();
    used->Close();
    if (!stillRouted) conn.get()->Execute("DELETE FROM SENDMETHODPROPERTY WHERE SENDMETHODID = " + SqlLong(id));
  });
}

void SendMethod::AddSendMethod2(std::int32_t i_lSendMethodID, std::int32_t i_lBusinessPartnerID,
                                const std::string& i_sDocumentTypeID, std::int32_t i_lruleid) {
  Guarded("Quillon.SendMethod.AddSendmethod2", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT SENDMETHODID FROM SENDMETHOD WHERE BUSINESSPARTNERID = " +
                                SqlLong(i_lBusinessPartnerID) + " " + "AND DOCUMENTTYPEID = " +
                                SqlText(i_sDocumentTypeID) + " AND RULEID = " + SqlLong(i_lruleid),
                            conn.get());
    bool none = rs->EOF_();
    std::int32_t first = none ? 0 : numberOrZero(rs->Fields("SENDMETHODID").Value());
    bool present = false;
    for (; !rs->EOF_(); rs->MoveNext())
      present = present || numberOrZero(rs->Fields("SENDMETHODID").Value()) == i_lSendMethodID;
    if (!none) rs->MoveFirst();
    // A route already present is left alone: a second row would deliver twice.
    if (none || (!present && first != -1 && i_lSendMethodID != -1)) {
      auto add = OpenForUpdate("SELECT * FROM SENDMETHOD WHERE 1 = 0", conn.get());
      add->AddNew();
      add->Fields("SENDMETHODID").SetValue(Variant(i_lSendMethodID));
      add->Fields("BUSINESSPARTNERID").SetValue(Variant(i_lBusinessPartnerID));
      add->Fields("DOCUMENTTYPEID").SetValue(Variant(i_sDocumentTypeID));
      add->Fields("RULEID").SetValue(Variant(i_lruleid));
      add->Update();
      add->Close();
    } else if (!present && first == -1) {
      rs->Fields("SENDMETHODID").SetValue(Variant(i_lSendMethodID));  // fills the placeholder
      rs->Update();
    }
    rs->Close();
  });
}

std::shared_ptr<Recordset> SendMethod::GetSendMethodIDs(std::int32_t i_lBPID, const std::string& i_sDocTypeID,
                                                        std::int32_t i_lruleid) {
  return Guarded("Quillon.SendMethod.GetSendMethods", [&] {
    std::shared_ptr<Connection> conn = DBUtils::GetConnection();
    try {
      // The result holds the connection until the caller closes it.
      return conn->Execute(std::string("SELECT SENDMETHOD.SENDMETHODID FROM SENDMETHOD, SENDMETHODPROPERTY WHERE ") +
                           "SENDMETHOD.SENDMETHODID = SENDMETHODPROPERTY.SENDMETHODID AND " +
                           "SENDMETHOD.BUSINESSPARTNERID = " + SqlLong(i_lBPID) + " AND " +
                           "SENDMETHOD.DOCUMENTTYPEID = " + SqlText(i_sDocTypeID) + " AND " +
                           "SENDMETHOD.RULEID = " + SqlLong(i_lruleid) + " AND " + "SENDMETHODPROPERTY.PROTOCOL <> " +
                           kManualDownload);
    } catch (...) {
      General::CloseConnection(conn);
      throw;
    }
  });
}

// ---- blanking by protocol -----------------------------------------------------------------

void SendMethod::ClearSendMethodFieldsByProtocol(TSendMethodProperties& io_uSMP) {
  using P = ESendMethodProtocol;
  TSendMethodProperties& p = io_uSMP;
  const bool excel = p.nFormat == ESendMethodFormat::Excel;
  auto credentials = [&] {  // port, proxy and the log-in of the target
    p.lPort = 0;
    p.lProxyPort = 0;
    p.sProxy.clear();
    p.sPassword.clear();
    p.sUser.clear();
  };
  auto fileNaming = [&] {
    p.nSuffix = ESendMethodSuffix{};
    p.sFileExtension.clear();
    p.sFileName.clear();
  };
  switch (p.nProtocol) {
    case P::Email:
    case P::Fax:
      p.nFTPTransferType = {};
      p.nWriteMode = {};
      credentials();
      if (p.nProtocol == P::Email && !excel) p.sExcelTemplate.clear();
      break;
    case P::FilePath:
      p.nFTPTransferType = {};
      credentials();
      // The template matters only to an Excel workbook that is created anew.
      if (!(excel && p.nWriteMode == EWriteMode::Create)) p.sExcelTemplate.clear();
      if (!excel) p.nWriteMode = {};
      break;
    case P::Ftp:
      p.nWriteMode = {};
      if (!excel) p.sExcelTemplate.clear();
      break;
    case P::Http:
      p.nFTPTransferType = {};
      p.nWriteMode = {};
      p.sExcelTemplate.clear();
      fileNaming();
      break;
    case P::MethodCall:
      p.nFTPTransferType = {};
      p.nWriteMode = {};
      fileNaming();
      credentials();
      p.nFileFormat = {};
      if (!excel) p.sExcelTemplate.clear();
      break;
    case P::ManualDownload:
      p.nFTPTransferType = {};
      p.nWriteMode = {};
      fileNaming();
      credentials();
      break;
    case P::EDI:
      p.nFTPTransferType = {};
      p.sExcelTemplate.clear();
      credentials();
      break;
    default:
      break;  // an unknown protocol leaves the record as it is
  }
}

// ---- enumerations and labels --------------------------------------------------------------

std::int16_t SendMethod::SendMethodProtocol_EnumToInteger(ESendMethodProtocol v) {
  return static_cast<std::int16_t>(value(toProtocol(value(v))));
}
ESendMethodProtocol SendMethod::SendMethodProtocol_IntegerToEnum(std::int32_t v) { return toProtocol(v); }
std::int16_t SendMethod::SendMethodWriteMode_EnumToInteger(EWriteMode v) {
  return static_cast<std::int16_t>(value(toWriteMode(value(v))));
}
EWriteMode SendMethod::SendMethodWriteMode_IntegerToEnum(std::int32_t v) { return toWriteMode(v); }
std::int16_t SendMethod::SendMethodFormat_EnumToInteger(ESendMethodFormat v) {
  return static_cast<std::int16_t>(value(toFormat(value(v))));
}
ESendMethodFormat SendMethod::SendMethodFormat_IntegerToEnum(std::int32_t v) { return toFormat(v); }
std::int16_t SendMethod::SendMethodSuffix_EnumToInteger(ESendMethodSuffix v) {
  return static_cast<std::int16_t>(value(toSuffix(value(v))));
}
ESendMethodSuffix SendMethod::SendMethodSuffix_IntegerToEnum(std::int32_t v) { return toSuffix(v); }
std::int16_t SendMethod::SendMethodFileFormat_EnumToInteger(ESendMethodFileFormat v) {
  return static_cast<std::int16_t>(value(toFileFormat(value(v))));
}
ESendMethodFileFormat SendMethod::SendMethodFileFormat_IntegerToEnum(std::int32_t v) { return toFileFormat(v); }
std::int16_t SendMethod::SendMethodFTPTransferType_EnumToInteger(ESendMethodFTPTransferType v) {
  return static_cast<std::int16_t>(value(toFTPTransferType(value(v))));
}
ESendMethodFTPTransferType SendMethod::SendMethodFTPTransferType_IntegerToEnum(std::int32_t v) {
  return toFTPTransferType(v);
}

std::string SendMethod::GetSendMethodProtocolLabel(ESendMethodProtocol v) {
  return Guarded("Quillon.SendMethod.GetSendMethodProtocolLabel", [&]() -> std::string {
    switch (v) {
      case ESendMethodProtocol::Email: return "[%SLBSH4428%]";
      case ESendMethodProtocol::Fax: return "[%SLBSH4429%]";
      case ESendMethodProtocol::FilePath: return "[%SLBSH4430%]";
      case ESendMethodProtocol::Ftp: return "[%SLBSH4431%]";
      case ESendMethodProtocol::Http: return "[%SLBSH4432%]";
      case ESendMethodProtocol::MethodCall: return "[%SLBSH4433%]";
      case ESendMethodProtocol::EDI: return "[%SLBSH4434%]";
      default: return "";  // ManualDownload has no label of its own
    }
  });
}

std::string SendMethod::GetSendMethodFormatLabel(ESendMethodFormat v) {
  return Guarded("Quillon.SendMethod.GetSendMethodFormatLabel", [&]() -> std::string {
    switch (v) {
      case ESendMethodFormat::Excel: return "[%SLBSH5556%]";
      case ESendMethodFormat::OBI: return "[%SLBSH5555%]";
      case ESendMethodFormat::XML: return "[%SLBSH5554%]";
      default: return "";
    }
  });
}

std::string SendMethod::GetSendMethodFileFormatLabel(ESendMethodFileFormat v) {
  return Guarded("Quillon.SendMethod.GetSendMethodFileFormatLabel", [&]() -> std::string {
    switch (v) {
      case ESendMethodFileFormat::ASCII: return "[%SLBSH5057%]";
      case ESendMethodFileFormat::Unicode: return "[%SLBSH5058%]";
      default: return "";
    }
  });
}

// ---- manual download ----------------------------------------------------------------------

bool SendMethod::DownloadSendMethodExists(std::int32_t i_lBusinessPartnerID, const std::string& i_sDocumentTypeID,
                                          std::int16_t i_nFormat, std::uint8_t i_nFileFormat) {
  return Guarded("Quillon.SendMethod.DownloadSendMethodExists", [&] {
    std::string sql = std::string("select count(*) as NUMBER") + " from sendmethod, sendmethodproperty" +
                      " where sendmethod.sendmethodid = sendmethodproperty.sendmethodid " +
                      " and sendmethod.businesspartnerid = " + SqlLong(i_lBusinessPartnerID) +
                      " and sendmethod.documenttypeid = " + SqlText(i_sDocumentTypeID) + " " +
                      " and sendmethod.ruleid = -1 " + " and sendmethodproperty.protocol = " + kManualDownload +
                      " and sendmethodproperty.format = " + SqlLong(i_nFormat);
    if (i_nFileFormat != 0) sql += " and sendmethodproperty.fileformat = " + SqlByte(i_nFileFormat);
    ConnectionScope conn;
    auto rs = conn.get()->Execute(sql);
    bool exists = numberOrZero(rs->Fields("NUMBER").Value()) >= 1;
    rs->Close();
    return exists;
  });
}

std::int32_t SendMethod::GetSendMethodManualDownload(std::int32_t i_lBusinessPartnerID,
                                                     const std::string& i_sDocumentTypeID, std::int16_t i_nFormat,
                                                     std::uint8_t i_nFileFormat, TSendMethodProperties& o_uProps) {
  std::string sql =
      std::string("SELECT SENDMETHOD.SENDMETHODID, XSLFILENAME, EXCELTEMPLATE FROM SENDMETHOD, SENDMETHODPROPERTY ") +
      " WHERE SENDMETHOD.SENDMETHODID = SENDMETHODPROPERTY.SENDMETHODID AND " + "   SENDMETHOD.BUSINESSPARTNERID = " +
      SqlLong(i_lBusinessPartnerID) + " AND " + "   SENDMETHOD.DOCUMENTTYPEID = " + SqlText(i_sDocumentTypeID) +
      " AND " + "   SENDMETHOD.RULEID = -1 AND " + "   SENDMETHODPROPERTY.PROTOCOL = " + kManualDownload + " AND " +
      "   SENDMETHODPROPERTY.FORMAT = " + SqlLong(i_nFormat);
  if (i_nFormat == value(ESendMethodFormat::XML))
    sql += " AND SENDMETHODPROPERTY.FILEFORMAT = " + SqlByte(i_nFileFormat);
  std::int32_t id;
  {
    ConnectionScope conn;
    auto rs = conn.get()->Execute(sql);
    // No matching send method: reading the empty result raises the
    // database's "no current record" error, which the caller receives as is.
    id = rs->Fields("SENDMETHODID").Value().toInt32();
    rs->Close();
  }
  GetSendMethodProperties2(id, o_uProps);
  return id;
}

// ---- retired ------------------------------------------------------------------------------

void SendMethod::GetSendMethodData() {
  throw Error(NewerVersionAvailable, "Quillon.SendMethod.GetSendMethodData",
              I18N::LabelWith("SLBSH4425", {{"[%METHODNAME%]", "GetSendMethodProperties2"}}));
}

void SendMethod::GetSendMethodID() {
  throw Error(NewerVersionAvailable, "Quillon.SendMethod.GetSendMethodID", I18N::GetLabel("SLBSH4426"));
}

// ---- by-name calls ------------------------------------------------------------------------

namespace {

// The parameters of the FromAsp methods: the id (when the method takes
// one), the seventeen fields, and the three extended properties of the
// "2" variants. The Get variants fill them all, so there they are outputs
// that a caller may leave out.
template <bool WithID, bool Extended, bool Outputs>
std::array<Param, 17 + (WithID ? 1 : 0) + (Extended ? 3 : 0)> aspParams() {
  std::array<Param, 17 + (WithID ? 1 : 0) + (Extended ? 3 : 0)> p;
  std::size_t at = 0;
  if (WithID) p[at++] = Param("i_lSendMethodID");
  std::vector<const char*> names{"i_iProtocol", "i_iFormat",    "i_bAutoPush",  "i_sXsl",         "i_sAddress",
                                 "i_lPort",     "i_sUserID",    "i_sPassword",  "i_sFileName",    "i_iSuffix",
                                 "i_sExtension", "i_iWriteMode", "i_sExcelTemplate", "i_sProxy",  "i_lProxyPort",
                                 "i_iFileFormat", "i_iFTPTransferType"};
  if (Extended) names.insert(names.end(), {"i_bAttachments", "i_sNetWorkID", "i_sMergeFile"});
  for (const char* name : names) p[at++] = Outputs ? Param(out(name, Variant())) : Param(name);
  return p;
}

// The old argument lists of the retired methods are accepted, whatever they hold.
std::vector<ParamInfo> anyArguments() {
  std::vector<ParamInfo> p;
  for (int i = 1; i <= 8; ++i) p.push_back(opt("vArgument" + std::to_string(i), Variant()));
  return p;
}

}  // namespace

// Records travel as dictionaries of their fields (TSendMethodPropertiesBinding.h),
// the extended properties as an array of three texts.
const ClassInfo* SendMethod::classInfo() const {
  using A = std::vector<Variant>;
  using S = SendMethod;
  static const ClassInfo* info =
      ClassBuilder<SendMethod>("Quillon.SendMethod")
          .bind<&S::getSendMethodStatus_SENT>("getSendMethodStatus_SENT")
          .bind<&S::getSendMethodStatus_NOTSENT>("getSendMethodStatus_NOTSENT")
          .bind<&S::AddSendMethodToHistory>("AddSendMethodToHistory",
                                            {"iSendMethodID", "iBusinessPartnerID", "iRuleID", "iDocID", "iDocTypeID",
                                             "iPublicationErrorID", "iStatus"})
          .bind<&S::AddSendMethodProperties2>("AddSendMethodProperties2", {"i_uProperties"})
          .bind<&S::AddSendMethodProperties3>("AddSendMethodProperties3", {"i_uProperties", "i_aProperties24"})
          .bind<&S::AddSendMethodPropertiesFromAsp>("AddSendMethodPropertiesFromAsp", aspParams<false, false, false>())
          .bind<&S::AddSendMethodPropertiesFromAsp2>("AddSendMethodPropertiesFromAsp2", aspParams<false, true, false>())
          .bind<&S::GetSendMethodProperties2>("GetSendMethodProperties2", {"i_lSendMethodID", out("o_uProperties", Variant())})
          .bind<&S::GetSendMethodProperties4>("GetSendMethodProperties4", {"i_lSendMethodID", out("o_uProperties", Variant())})
          .bind<&S::GetSendMethodProperties3>("GetSendMethodProperties3", {"i_lSendMethodID", out("o_aProperties", Variant())})
          .bind<&S::GetSendMethodPropertiesFromAsp>("GetSendMethodPropertiesFromAsp", aspParams<true, false, true>())
          .bind<&S::GetSendMethodPropertiesFromAsp2>("GetSendMethodPropertiesFromAsp2", aspParams<true, true, true>())
          .bind<&S::UpdateSendMethodProperties2>("UpdateSendMethodProperties2", {"i_lSendMethodID", "i_uProperties"})
          .bind<&S::UpdateSendMethodProperties3>("UpdateSendMethodProperties3",
                                                 {"i_lSendMethodID", "i_uProperties", "i_aProperties24"})
          .bind<&S::UpdateSendMethodPropertiesFromAsp>("UpdateSendMethodPropertiesFromAsp", aspParams<true, false, false>())
          .bind<&S::UpdateSendMethodPropertiesFromAsp2>("UpdateSendMethodPropertiesFromAsp2", aspParams<true, true, false>())
          .bind<&S::DeleteSendMethod2>("DeleteSendMethod2", {"i_lSMID", "i_lBPID", "i_lruleid", "i_sDocTypeID"})
          .bind<&S::AddSendMethod2>("AddSendMethod2", {ref("i_lSendMethodID"), ref("i_lBusinessPartnerID"),
                                                       ref("i_sDocumentTypeID"), ref("i_lruleid")})
          .bind<&S::GetSendMethodIDs>("GetSendMethodIDs", {"i_lBPID", "i_sDocTypeID", "i_lruleid"})
          .bind<&S::ClearSendMethodFieldsByProtocol>("ClearSendMethodFieldsByProtocol", {"io_uSMP"})
          .bind<&S::SendMethodProtocol_EnumToInteger>("SendMethodProtocol_EnumToInteger", {"i_nValue"})
          .bind<&S::SendMethodProtocol_IntegerToEnum>("SendMethodProtocol_IntegerToEnum", {"i_nValue"})
          .bind<&S::SendMethodWriteMode_EnumToInteger>("SendMethodWriteMode_EnumToInteger", {"i_nValue"})
          .bind<&S::SendMethodWriteMode_IntegerToEnum>("SendMethodWriteMode_IntegerToEnum", {"i_nValue"})
          .bind<&S::SendMethodFormat_EnumToInteger>("SendMethodFormat_EnumToInteger", {"i_nValue"})
          .bind<&S::SendMethodFormat_IntegerToEnum>("SendMethodFormat_IntegerToEnum", {"i_nValue"})
          .bind<&S::SendMethodSuffix_EnumToInteger>("SendMethodSuffix_EnumToInteger", {"i_nValue"})
          .bind<&S::SendMethodSuffix_IntegerToEnum>("SendMethodSuffix_IntegerToEnum", {"i_nValue"})
          .bind<&S::SendMethodFileFormat_EnumToInteger>("SendMethodFileFormat_EnumToInteger", {"i_nValue"})
          .bind<&S::SendMethodFileFormat_IntegerToEnum>("SendMethodFileFormat_IntegerToEnum", {"i_nValue"})
          .bind<&S::SendMethodFTPTransferType_EnumToInteger>("SendMethodFTPTransferType_EnumToInteger", {"i_nValue"})
          .bind<&S::SendMethodFTPTransferType_IntegerToEnum>("SendMethodFTPTransferType_IntegerToEnum", {"i_nValue"})
          .bind<&S::GetSendMethodProtocolLabel>("GetSendMethodProtocolLabel", {"i_nValue"})
          .bind<&S::GetSendMethodFormatLabel>("GetSendMethodFormatLabel", {"i_nValue"})
          .bind<&S::GetSendMethodFileFormatLabel>("GetSendMethodFileFormatLabel", {"i_nValue"})
          .bind<&S::DownloadSendMethodExists>("DownloadSendMethodExists",
                                              {"i_lBusinessPartnerID", "i_sDocumentTypeID", "i_nFormat", "i_nFileFormat"})
          .bind<&S::GetSendMethodManualDownload>("GetSendMethodManualDownload",
                                                 {"i_lBusinessPartnerID", "i_sDocumentTypeID", "i_nFormat",
                                                  "i_nFileFormat", out("o_uProps", Variant())})
          // Retired: any old argument list is accepted and the call raises.
          .method("GetSendMethodData", anyArguments(), [](S& s, A&) -> Variant { s.GetSendMethodData(); })
          .method("GetSendMethodID", anyArguments(), [](S& s, A&) -> Variant { s.GetSendMethodID(); })
          .done();
  return info;
}

namespace {
const bool kRegistered = (SendMethod().classInfo(), true);
}

}  // namespace quillon
