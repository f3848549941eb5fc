// SendMethod: the send methods through which documents reach business
// partners, their routes and their delivery history.
//
// A send method is one SENDMETHODPROPERTY row (its properties) used by one
// or more SENDMETHOD rows (its routes: partner, document type and rule;
// rule -1 is the route that holds without a rule). A route row whose send
// method is -1 is a placeholder: a rule is attached to the partner and
// document type, but no send method yet.
//
// Enumerated properties are stored as their own integer values; any other
// value reads back as 0 (not set). Properties a protocol does not use are
// blanked before a send method is written, and the caller's record shows
// the blanking.
//
// The extended properties (attachments flag, EDI network id, merge file)
// travel in a three-entry array whose order differs by direction:
//   written (AddSendMethodProperties3, UpdateSendMethodProperties3):
//     0 attachments flag ("True"/"False"), 1 network id, 2 merge file;
//   read (GetSendMethodProperties3):
//     0 network id, 1 attachments flag ("True"/"False"), 2 merge file.
//
// Every operation that touches the database opens its own connection and
// closes it before it returns, except GetSendMethodIDs, whose open result
// keeps its connection until the caller closes it. Not thread-safe; one
// object per caller.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/TSendMethodProperties.h"
#include "platform/Object.h"

namespace quillon {

class Recordset;

class SendMethod : public Object {
 public:
  // Written order (index 0 attachments flag, 1 network id, 2 merge file) or
  // read order (0 network id, 1 attachments flag, 2 merge file); see above.
  using ExtendedProperties = std::array<std::string, 3>;

  // The mask the portal shows instead of a stored password; updating with
  // it keeps the stored password.
  static constexpr const char* kPasswordMask = "********";

  const ClassInfo* classInfo() const override;

  std::int16_t getSendMethodStatus_SENT() { return 1; }
  std::int16_t getSendMethodStatus_NOTSENT() { return 0; }

  // One SENDMETHODHISTORY row for a delivery attempt, dated now.
  void AddSendMethodToHistory(std::int32_t iSendMethodID, std::int32_t iBusinessPartnerID, std::int32_t iRuleID,
                              std::int32_t iDocID, const std::string& iDocTypeID, std::int32_t iPublicationErrorID,
                              std::int16_t iStatus);

  // Store a new send method and return its SENDMETHODID. The record is
  // blanked by its protocol first. A MethodCall address of exactly ".."
  // (an empty class and method) is stored as "". A password equal to the
  // mask is not stored; a blank one is stored as "".
  std::int32_t AddSendMethodProperties2(TSendMethodProperties& i_uProperties);
  // As above plus the extended columns, from an array in written order. The
  // network id is stored only when not "".
  std::int32_t AddSendMethodProperties3(TSendMethodProperties& i_uProperties,
                                        const ExtendedProperties& i_aProperties24);
  std::int32_t AddSendMethodPropertiesFromAsp(std::int16_t i_iProtocol, std::int16_t i_iFormat, bool i_bAutoPush,
                                              const std::string& i_sXsl, const std::string& i_sAddress,
                                              std::int32_t i_lPort, const std::string& i_sUserID,
                                              const std::string& i_sPassword, const std::string& i_sFileName,
                                              std::int16_t i_iSuffix, const std::string& i_sExtension,
                                              std::int16_t i_iWriteMode, const std::string& i_sExcelTemplate,
                                              const std::string& i_sProxy, std::int32_t i_lProxyPort,
                                              std::int16_t i_iFileFormat, std::int16_t i_iFTPTransferType);
  std::int32_t AddSendMethodPropertiesFromAsp2(
      std::int16_t i_iProtocol, std::int16_t i_iFormat, bool i_bAutoPush, const std::string& i_sXsl,
      const std::string& i_sAddress, std::int32_t i_lPort, const std::string& i_sUserID, const std::string& i_sPassword,
      const std::string& i_sFileName, std::int16_t i_iSuffix, const std::string& i_sExtension,
      std::int16_t i_iWriteMode, const std::string& i_sExcelTemplate, const std::string& i_sProxy,
      std::int32_t i_lProxyPort, std::int16_t i_iFileFormat, std::int16_t i_iFTPTransferType, bool i_bAttachments,
      const std::string& i_sNetWorkID, const std::string& i_sMergeFile);

  // The stored properties; a blank record for id -1 or an id without a row.
  // Texts come back trimmed, enumerations narrowed to their valid values.
  void GetSendMethodProperties2(std::int32_t i_lSendMethodID, TSendMethodProperties& o_uProperties);
  void GetSendMethodProperties4(std::int32_t i_lSendMethodID, TSendMethodProperties& o_uProperties);
  // The extended properties in read order; ("", "False", "") for id -1 or
  // an id without a row.
  void GetSendMethodProperties3(std::int32_t i_lSendMethodID, ExtendedProperties& o_aProperties);
  void GetSendMethodPropertiesFromAsp(std::int32_t i_lSendMethodID, std::int16_t& i_iProtocol,
                                      std::int16_t& i_iFormat, bool& i_bAutoPush, std::string& i_sXsl,
                                      std::string& i_sAddress, std::int32_t& i_lPort, std::string& i_sUserID,
                                      std::string& i_sPassword, std::string& i_sFileName, std::int16_t& i_iSuffix,
                                      std::string& i_sExtension, std::int16_t& i_iWriteMode,
                                      std::string& i_sExcelTemplate, std::string& i_sProxy,
                                      std::int32_t& i_lProxyPort, std::int16_t& i_iFileFormat,
                                      std::int16_t& i_iFTPTransferType);
  void GetSendMethodPropertiesFromAsp2(std::int32_t i_lSendMethodID, std::int16_t& i_iProtocol,
                                       std::int16_t& i_iFormat, bool& i_bAutoPush, std::string& i_sXsl,
                                       std::string& i_sAddress, std::int32_t& i_lPort, std::string& i_sUserID,
                                       std::string& i_sPassword, std::string& i_sFileName, std::int16_t& i_iSuffix,
                                       std::string& i_sExtension, std::int16_t& i_iWriteMode,
                                       std::string& i_sExcelTemplate, std::string& i_sProxy,
                                       std::int32_t& i_lProxyPort, std::int16_t& i_iFileFormat,
                                       std::int16_t& i_iFTPTransferType, bool& i_bAttachments,
                                       std::string& i_sNetWorkID, std::string& i_sMergeFile);

  // Rewrite a stored send method; an id without a row writes nothing. The
  // record is blanked by its protocol first. A password equal to the mask
  // (blanks around allowed) keeps the stored one.
  void UpdateSendMethodProperties2(std::int32_t i_lSendMethodID, TSendMethodProperties& i_uProperties);
  // As above plus the extended columns, from an array in written order; a
  // blank network id keeps the stored one.
  void UpdateSendMethodProperties3(std::int32_t i_lSendMethodID, TSendMethodProperties& i_uProperties,
                                   const ExtendedProperties& i_aProperties24);
  void UpdateSendMethodPropertiesFromAsp(std::int32_t i_lSendMethodID, std::int16_t i_iProtocol,
                                         std::int16_t i_iFormat, bool i_bAutoPush, const std::string& i_sXsl,
                                         const std::string& i_sAddress, std::int32_t i_lPort,
                                         const std::string& i_sUserID, const std::string& i_sPassword,
                                         const std::string& i_sFileName, std::int16_t i_iSuffix,
                                         const std::string& i_sExtension, std::int16_t i_iWriteMode,
                                         const std::string& i_sExcelTemplate, const std::string& i_sProxy,
                                         std::int32_t i_lProxyPort, std::int16_t i_iFileFormat,
                                         std::int16_t i_iFTPTransferType);
  void UpdateSendMethodPropertiesFromAsp2(
      std::int32_t i_lSendMethodID, std::int16_t i_iProtocol, std::int16_t i_iFormat, bool i_bAutoPush,
      const std::string& i_sXsl, const std::string& i_sAddress, std::int32_t i_lPort, const std::string& i_sUserID,
      const std::string& i_sPassword, const std::string& i_sFileName, std::int16_t i_iSuffix,
      const std::string& i_sExtension, std::int16_t i_iWriteMode, const std::string& i_sExcelTemplate,
      const std::string& i_sProxy, std::int32_t i_lProxyPort, std::int16_t i_iFileFormat,
      std::int16_t i_iFTPTransferType, bool i_bAttachments, const std::string& i_sNetWorkID,
      const std::string& i_sMergeFile);

  // Removes the send method (its properties) and its route. When the route
  // of a rule is the only one of its partner, type and rule, it becomes a
  // placeholder (send method -1) so the rule stays attached; otherwise every
  // route of the send method goes. The id text must be a number.
  void DeleteSendMethod2(const std::string& i_lSMID, std::int32_t i_lBPID, std::int32_t i_lruleid,
                         const std::string& i_sDocTypeID);
  // Adds the route, or fills the placeholder of its partner, type and rule.
  // A route that already exists is not added twice; -1 never adds a row.
  void AddSendMethod2(std::int32_t i_lSendMethodID, std::int32_t i_lBusinessPartnerID,
                      const std::string& i_sDocumentTypeID, std::int32_t i_lruleid);
  // The SENDMETHODIDs of one route that are not manual-download ones, as an
  // open forward-only result; the caller closes it.
  std::shared_ptr<Recordset> GetSendMethodIDs(std::int32_t i_lBPID, const std::string& i_sDocTypeID,
                                              std::int32_t i_lruleid);

  // Blanks ("" or 0) the fields the record's protocol does not use.
  void ClearSendMethodFieldsByProtocol(TSendMethodProperties& io_uSMP);

  // Each valid value maps to itself, every other value to 0.
  std::int16_t SendMethodProtocol_EnumToInteger(ESendMethodProtocol v);
  ESendMethodProtocol SendMethodProtocol_IntegerToEnum(std::int32_t v);
  std::int16_t SendMethodWriteMode_EnumToInteger(EWriteMode v);
  EWriteMode SendMethodWriteMode_IntegerToEnum(std::int32_t v);
  std::int16_t SendMethodFormat_EnumToInteger(ESendMethodFormat v);
  ESendMethodFormat SendMethodFormat_IntegerToEnum(std::int32_t v);
  std::int16_t SendMethodSuffix_EnumToInteger(ESendMethodSuffix v);
  ESendMethodSuffix SendMethodSuffix_IntegerToEnum(std::int32_t v);
  std::int16_t SendMethodFileFormat_EnumToInteger(ESendMethodFileFormat v);
  ESendMethodFileFormat SendMethodFileFormat_IntegerToEnum(std::int32_t v);
  std::int16_t SendMethodFTPTransferType_EnumToInteger(ESendMethodFTPTransferType v);
  ESendMethodFTPTransferType SendMethodFTPTransferType_IntegerToEnum(std::int32_t v);

  // Label tokens ("[%SLBSH….%]") for the portal's label replacement; "" for
  // a value without a label.
  std::string GetSendMethodProtocolLabel(ESendMethodProtocol v);
  std::string GetSendMethodFormatLabel(ESendMethodFormat v);
  std::string GetSendMethodFileFormatLabel(ESendMethodFileFormat v);

  // Whether the partner has a manual-download route without a rule for the
  // type in the format (and the file format, when not 0).
  bool DownloadSendMethodExists(std::int32_t i_lBusinessPartnerID, const std::string& i_sDocumentTypeID,
                                std::int16_t i_nFormat, std::uint8_t i_nFileFormat);
  // The partner's manual-download send method for the type and format (the
  // file format counts for XML only), read into o_uProps. With none, the
  // database's "no current record" error reaches the caller.
  std::int32_t GetSendMethodManualDownload(std::int32_t i_lBusinessPartnerID, const std::string& i_sDocumentTypeID,
                                           std::int16_t i_nFormat, std::uint8_t i_nFileFormat,
                                           TSendMethodProperties& o_uProps);

  // Retired: always raise NewerVersionAvailable.
  [[noreturn]] void GetSendMethodData();
  [[noreturn]] void GetSendMethodID();

 private:
  void WriteProperties(Recordset& rs, const TSendMethodProperties& p);
};

}  // namespace quillon
