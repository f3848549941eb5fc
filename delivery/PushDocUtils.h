// PushDocUtils: delivery of stored documents to their receiving partners.
//
// A receiver is a partner with a route (SENDMETHOD) for the document's type
// and a user on the type's distribution list who has a publication of the
// document. For each receiver the send-method rules pick the routes: the
// routes of the first holding rule, or the routes without rule (-1) when no
// rule holds. Each route's send method says the format (XML, OBI, Excel)
// and the transport (mail, fax gateway, folder, FTP, HTTP form post,
// plug-in, EDI staging folder); the transports live in PushTransports*.cpp.
//
// Every attempt leaves one SENDMETHODHISTORY row: SENT, or NOTSENT with the
// id of the publication error written for it (label "SLBSH0883", which the
// error box shows and from which the document's sender can push again).
// A transport that fails has sent nothing it reports as sent.
//
// Passwords of FTP and HTTP targets never appear in an error text, a log
// line or an output; output file names never leave their target folder.
// Not thread-safe; one object per caller. The object keeps nothing between
// calls.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/TSendMethodProperties.h"
#include "platform/Object.h"
#include "platform/Variant.h"

namespace quillon {

class Recordset;

class PushDocUtils : public Object {
 public:
  // The extended send-method properties in read order: 0 network id,
  // 1 attachments flag ("True"/"False"), 2 merge file.
  using ExtendedProperties = std::array<std::string, 3>;

  const ClassInfo* classInfo() const override;

  // ---- the push engine ----
  // Pushes the document to every receiver whose send method has auto-push
  // set. Never raises: every failure becomes a publication error of the
  // document. An empty i_sXMLStr means the stored XML. The document id is
  // by reference on the automation interface and left unchanged.
  void PushDocumentToReceivers(std::int32_t i_lDocID, const std::string& i_sDocTypeID,
                               const std::string& i_sXMLStr = "");
  // The same, then raises PushDocumentError ("SLBSH4327") when the
  // document has open publication errors.
  void PushDocumentToReceiversWithErrorRaise(std::int32_t i_lDocID, const std::string& i_sDocTypeID,
                                             const std::string& i_sXMLStr = "");
  // Pushes to one partner through every applicable send method, auto-push
  // or not. True when at least one ran and none failed; never raises.
  bool PushDocumentToReceiver(std::int32_t i_lBPID, std::int32_t i_lDocID, const std::string& i_sDocTypeID,
                              const std::string& i_sXMLStr = "");
  // Runs one send method for one partner and records the attempt; a
  // publication error id > 0 is closed whatever the outcome. A failure
  // raises CannotExecuteSendMethod ("SLBSH0875") after it is recorded.
  void ExecuteSendMethod(std::int32_t i_lBPID, std::int32_t i_lDocID, std::int32_t i_lSendMethodID,
                         std::int32_t i_lruleid, const std::string& i_sXMLStr = "",
                         std::int32_t i_lPublicationErrorID = 0);
  // Whether the partner has a route for the type (the document id is not used).
  bool CanPush(std::int32_t iBPID, std::int32_t iDocID, const std::string& iDocTypeID);
  // Runs again the send method whose failure wrote the publication error;
  // only the document's sender may (PushDocumentError otherwise).
  void RepushDocumentFromErrorBox(const std::string& i_sCurrentUser, std::int32_t i_lDocID,
                                  std::int32_t i_lPublicationErrorID);
  // The send method of the attempt that wrote the error; 0 when none.
  std::int32_t GetSendMethodIDByPublicationErrorID(std::int32_t i_lPublicationErrordID);
  // The failed attempt; outputs 0, 0, 0 and "0" when the error is unknown.
  void GetSendMethodInfoViaPublicationError(std::int32_t i_lPublicationErrordID, std::int32_t& o_lBusinessPartnerID,
                                            std::int32_t& o_lSendMethodID, std::int32_t& o_lDocumentID,
                                            std::string& o_sSender);
  // True when the number (or a numeric text) is CannotExecuteSendMethod.
  bool ErrorIsExecSendMethodError(const Variant& i_lErrNumber);

  // ---- transports callable by name ----
  // i_vSendData: the document text, a workbook (Excel) or Empty (an Excel
  // workbook already written from a template under i_uProperties.sFileName).
  void SendByEmail2(std::int32_t i_lDocID, const Variant& i_vSendData, TSendMethodProperties& i_uProperties,
                    const ExtendedProperties& i_aProperties24);
  // Older form: no attachments; logs that SendByEmail2 replaces it.
  void SendByEmail(std::int32_t i_lDocID, const Variant& i_vSendData, TSendMethodProperties& i_uProperties);
  // The fax number in sAddress becomes the gateway's mail address
  // (number@FaxServer) in the record, which is then mailed.
  void SendByFax2(std::int32_t i_lDocID, Variant& i_vSendData, TSendMethodProperties& i_uProperties,
                  const ExtendedProperties& i_aProperties24);
  void SendByFax(std::int32_t i_lDocID, Variant& i_vSendData, TSendMethodProperties& i_uProperties);

  // ---- helpers ----
  // The field's value as text without leading and trailing blanks; "" for Null.
  std::string GetField(const std::shared_ptr<Recordset>& i_oRS, const std::string& i_sFieldName);
  // URL-encoded text, with "=" written as "%3D".
  std::string URLEncode(const std::string& iStr);
};

}  // namespace quillon
