// PushDocUtils: the push engine (receivers, routes, the send step, history
// and publication errors) and the class's by-name registration. The
// transports are in PushTransports*.cpp.
#include "delivery/PushDocUtils.h"

#include <cmath>
#include <optional>
#include <vector>

#include "delivery/PushTransports.h"
#include "delivery/Rules.h"
#include "delivery/SendMethod.h"
#include "document/Document.h"
#include "document/OBI.h"
#include "foundation/ConnectionScope.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "foundation/TSendMethodPropertiesBinding.h"
#include "imports/B2BExcel.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Spreadsheet.h"
#include "platform/Text.h"
#include "platform/UrlEncoding.h"
#include "platform/XmlDom.h"
#include "publication/Collaboration.h"
#include "publication/SenderList.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

const char* const kReceiversSource = "Quillon.PushDocUtils.PushDocumentToReceivers";
const char* const kReceiverSource = "Quillon.PushDocUtils.PushDocumentToReceiver";
const char* const kExecuteSource = "Quillon.PushDocUtils.ExecuteSendMethod";

// The XML to send: the one handed in, else the stored one. A document
// without XML has nothing to deliver; sending it would report an empty
// delivery as done.
std::string documentXml(Document& document, std::int32_t docID, const std::string& given, const std::string& source) {
  std::string xml = given;
  if (text::Trim(xml).empty()) xml = document.GetXmlDocument(docID);
  if (text::Trim(xml).empty())
    throw Error(MissingXMLFileString, source, "Document " + std::to_string(docID) + " has no XML to send.");
  return xml;
}

// One row of the pushable-partner query.
struct Route {
  std::string docTypeID;
  std::int32_t partner = 0;
  std::int32_t sendMethod = 0;
  std::int32_t rule = 0;
};

std::int32_t numberOrZero(const Variant& v) { return v.isNull() || v.isEmpty() ? 0 : v.toInt32(); }

// The receivers of a document: the routes of partners that have a user on
// the type's distribution list with a publication of the document, by
// type, partner and rule (a partner's route without rule, -1, first).
std::vector<Route> GetPushableBPs(std::int32_t docID, const std::string& docTypeID) {
  return Guarded("Quillon.PushDocUtils.GetPushableBPs", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute(std::string(" SELECT DISTINCT") + " s.DOCUMENTTYPEID" + ",s.BUSINESSPARTNERID" +
                                  ",s.SENDMETHODID" + ",s.RULEID" + " FROM" + " PUBLICATION AS p" +
                                  ",DISTRIBUTIONLIST AS d" + ",SENDMETHOD AS s" + " WHERE" +
                                  "     p.DOCUMENTID = " + SqlLong(docID) +
                                  " AND d.DOCUMENTTYPEID = " + SqlText(docTypeID) + " AND p.USERID = d.USERID" +
                                  " AND d.DOCUMENTTYPEID = s.DOCUMENTTYPEID" +
                                  " AND d.BUSINESSPARTNERID = s.BUSINESSPARTNERID" +
                                  " ORDER BY s.DOCUMENTTYPEID, s.BUSINESSPARTNERID, s.RULEID");
    std::vector<Route> routes;
    for (; !rs->EOF_(); rs->MoveNext())
      routes.push_back({rs->Fields("DOCUMENTTYPEID").Value().text(), numberOrZero(rs->Fields("BUSINESSPARTNERID").Value()),
                        numberOrZero(rs->Fields("SENDMETHODID").Value()), numberOrZero(rs->Fields("RULEID").Value())});
    rs->Close();
    return routes;
  });
}

// The placeholder values of a send failure, as the error box renders label
// "SLBSH0883": format and protocol as label tokens, the address with any
// password masked.
struct FailureValues {
  std::string docID, format, protocol, address, partner;
};

FailureValues failureValues(std::int32_t docID, std::int32_t partner, const TSendMethodProperties* p) {
  FailureValues v;
  v.docID = std::to_string(docID);
  if (p) {
    SendMethod methods;
    v.format = methods.GetSendMethodFormatLabel(p->nFormat);
    v.protocol = methods.GetSendMethodProtocolLabel(p->nProtocol);
    v.address = push::MaskAddress(p->sAddress);
  }
  try {
    Utility utility;
    v.partner = utility.GetBusinessPartnerName(partner);
  } catch (...) {
    // A partner the registry does not know still gets its error recorded.
  }
  return v;
}

// Writes the publication error of a failed send ("SLBSH0883") and returns its id.
std::int32_t logSendFailure(std::int32_t docID, std::int32_t number, const std::string& description,
                            const std::string& source, const FailureValues& v) {
  auto reps = PublicationErrorHandling::NewReplacementsDocument();
  PublicationErrorHandling::AddReplacement(reps, "[%DOCID%]", v.docID);
  PublicationErrorHandling::AddReplacement(reps, "[%LABEL%]", v.format);
  PublicationErrorHandling::AddReplacement(reps, "[%LABEL1%]", v.protocol);
  PublicationErrorHandling::AddReplacement(reps, "[%ADDRESS%]", v.address);
  PublicationErrorHandling::AddReplacement(reps, "[%BUSINESSPARTNER%]", v.partner);
  return PublicationErrorHandling::LogPublicationError(docID, number, description, source, "SLBSH0883", reps);
}

// Runs a step whose failure must not stop the delivery of the others (a
// history row, a status); the failure is logged.
template <class F>
void logged(const std::string& method, F&& step) {
  try {
    step();
  } catch (...) {
    General::LogError(method);
  }
}

void addHistory(std::int32_t sendMethod, std::int32_t partner, std::int32_t rule, std::int32_t docID,
                const std::string& docTypeID, std::int32_t publicationErrorID, bool sent) {
  SendMethod methods;
  methods.AddSendMethodToHistory(sendMethod, partner, rule, docID, docTypeID, publicationErrorID,
                                 sent ? methods.getSendMethodStatus_SENT() : methods.getSendMethodStatus_NOTSENT());
}

// The send step: prepares the data in the send method's format and hands
// it to the transport of its protocol.
void PushDocument(std::int32_t bp, std::int32_t docID, const std::string& xml, TSendMethodProperties& p,
                  const PushDocUtils::ExtendedProperties& a) {
  const std::string source = "Quillon.PushDocUtils.PushDocument";
  Guarded(source, [&] {
    using F = ESendMethodFormat;
    using P = ESendMethodProtocol;
    Utility utility;
    if (p.nFormat == F::Excel) utility.IsExcelInstalledWithErrRaise();
    if (p.nFormat != F::Excel && p.nFormat != F::OBI && p.nFormat != F::XML)
      push::FormatNotSupported(value(p.nFormat), source);
    switch (p.nProtocol) {
      case P::Email: case P::Fax: case P::FilePath: case P::Ftp: case P::Http: case P::MethodCall: case P::EDI:
        break;
      default:
        throw Error(SendMethodProtocolNotSupported, source,
                    I18N::LabelWith("SLBSH4325", {{"[%PROTOCOL%]", std::to_string(value(p.nProtocol))}}));
    }

    Variant data(xml);
    if (!text::Trim(p.sXslFileName).empty()) {
      data = Variant(utility.transformXMLStringToHTML(xml, utility.GetTransformXSLPath() + p.sXslFileName));
    }

    // A workbook written here from a template waits under sFileName in a
    // working folder of this delivery (sTempFileName); it goes when the
    // delivery is over.
    std::optional<push::WorkFolder> work;
    std::string templateCopy;
    if (p.nFormat == F::Excel && p.nProtocol != P::FilePath && p.nProtocol != P::MethodCall) {
      B2BExcel excel;
      if (!text::Trim(p.sExcelTemplate).empty()) {
        const std::string templatePath = push::ExcelTemplatePath(p.sExcelTemplate);
        p.sFileName = push::GetSendMethodOutputFileName(docID, p);
        work.emplace(push::ExcelTempFolder());
        templateCopy = work->File(p.sFileName);
        p.sTempFileName = templateCopy;
        WorkbookPtr book = excel.TransformXMLToExcel(data.text(), EWriteMode::Create, docID, true, templatePath,
                                                     templateCopy);
        excel.CloseWorkBook(book);
        data = Variant();
      } else {
        data = Variant(excel.TransformXMLToExcel(data.text(), EWriteMode::Create, docID, false));
      }
    } else if (p.nFormat == F::OBI) {
      OBI obi;
      const std::string version = obi.GetObiDocumentVersion(nullptr, data.text());
      std::string envelope;
      obi.ConstructObiObject(version, EObiLanguage::XML, data.text(), std::string(1, '\0'), envelope);
      data = Variant(envelope);
    }

    try {
      switch (p.nProtocol) {
        case P::Email: push::SendByEmail2(docID, data, p, a); break;
        case P::Fax: push::SendByFax2(docID, data, p, a); break;
        case P::FilePath: push::SendByFileStream(docID, data, p, a); break;
        case P::Ftp: push::SendByFTP(docID, data, p, a); break;
        case P::Http: push::SendByHTTP(docID, p, push::DataText(data)); break;
        case P::MethodCall: push::SendByMethodCall(bp, docID, data, p, a); break;
        case P::EDI: push::SendByEDI(docID, data, p, a); break;
        default: break;
      }
    } catch (...) {
      push::CloseWorkbookQuietly(data);
      push::DeleteQuietly(templateCopy);
      throw;
    }
    push::CloseWorkbookQuietly(data);
    push::DeleteQuietly(templateCopy);
  });
}

}  // namespace

// ---- the push engine -------------------------------------------------------------------------

void PushDocUtils::PushDocumentToReceivers(std::int32_t i_lDocID, const std::string& i_sDocTypeID,
                                           const std::string& i_sXMLStr) {
  const std::int32_t docID = i_lDocID;
  std::string composed;  // the last text this call composed, for the final handler
  try {
    const std::vector<Route> routes = GetPushableBPs(docID, i_sDocTypeID);
    if (routes.empty()) return;

    Document document;
    const std::string sender = document.GetSenderOfDocument(docID);
    SenderList senders;
    if (!senders.CheckAuthorizationForSender(i_sDocTypeID, sender)) {
      Utility utility;
      composed = I18N::LabelWith("SLBSH1720", {{"[%USER%]", sender},
                                               {"[%DOCTYPE%]", utility.GetDocumentTypeDescription(i_sDocTypeID)}});
      PublicationErrorHandling::LogPublicationError(docID, 0, composed, kReceiversSource, "SLBSH0875");
      return;
    }

    // Without its XML nothing can be sent: a failure to read it goes to the
    // final handler instead of sending empty documents.
    const std::string xml = documentXml(document, docID, i_sXMLStr, kReceiversSource);

    Rules rules;
    SendMethod methods;
    bool pushed = false;
    std::int32_t previousPartner = 0;
    std::int32_t partnerRule = -1;
    bool ruleFailed = false;
    // Every partner's rules read the same stored document and sender's
    // locale: they are read once, at the first partner, and again only
    // while reading them fails (each partner then records that failure).
    std::optional<SendMethodRuleInput> ruleInput;
    for (const Route& route : routes) {
      if (route.partner != previousPartner) {
        previousPartner = route.partner;
        ruleFailed = false;
        try {
          if (!ruleInput) ruleInput = SendMethodRuleInput::Read(rules, docID);
          partnerRule = ExecuteSendMethodRuleSetOn(rules, *ruleInput, i_sDocTypeID, route.partner);
        } catch (...) {
          // Without its rule the partner's route is unknown: none of its
          // send methods runs, and the error box says why.
          ruleFailed = true;
          const ErrorInfo failure = ErrorInfo::current();
          logged(kReceiversSource, [&] {
            logSendFailure(docID, failure.number, failure.description, kReceiversSource,
                           failureValues(docID, route.partner, nullptr));
          });
        }
      }
      if (ruleFailed || route.rule != partnerRule) continue;
      // A rule's placeholder route has no send method.
      if (route.sendMethod == -1) continue;

      TSendMethodProperties properties;
      ExtendedProperties extended{"", "False", ""};
      bool attempted = false;
      bool sent = false;
      ErrorInfo failure;
      try {
        methods.GetSendMethodProperties2(route.sendMethod, properties);
        methods.GetSendMethodProperties3(route.sendMethod, extended);
        if (properties.bAutoPush) {
          attempted = pushed = true;
          PushDocument(route.partner, docID, xml, properties, extended);
          sent = true;
        }
      } catch (...) {
        attempted = true;
        failure = ErrorInfo::current();
      }
      if (!attempted) continue;
      if (sent) {
        logged(kReceiversSource,
               [&] { addHistory(route.sendMethod, route.partner, route.rule, docID, i_sDocTypeID, 0, true); });
        continue;
      }
      composed = failure.description + text::vbCrLf +
                 I18N::LabelWith("SLBSH5021", {{"[%SENDMETHODID%]", std::to_string(route.sendMethod)}});
      std::int32_t errorID = 0;
      logged(kReceiversSource, [&] {
        errorID = logSendFailure(docID, failure.number, composed, kReceiversSource,
                                 failureValues(docID, route.partner, &properties));
      });
      logged(kReceiversSource,
             [&] { addHistory(route.sendMethod, route.partner, route.rule, docID, i_sDocTypeID, errorID, false); });
    }
    if (pushed) document.SetDocumentStatus(docID, DOCUMENTSTATUS::DOCUMENTSENT);
  } catch (...) {
    // Nothing reaches the caller: the failure is the document's error.
    const ErrorInfo failure = ErrorInfo::current();
    const std::string description =
        composed.empty() ? failure.description : composed + text::vbCrLf + failure.description;
    logged(kReceiversSource, [&] {
      PublicationErrorHandling::LogPublicationError(docID, failure.number, description, kReceiversSource, "SLBSH0875");
    });
  }
}

void PushDocUtils::PushDocumentToReceiversWithErrorRaise(std::int32_t i_lDocID, const std::string& i_sDocTypeID,
                                                         const std::string& i_sXMLStr) {
  const std::string source = "Quillon.PushDocUtils.PushDocumentToReceiversWithErrorRaise";
  Guarded(source, [&] {
    PushDocumentToReceivers(i_lDocID, i_sDocTypeID, i_sXMLStr);
    Utility utility;
    if (utility.CheckPublicationErrors(i_lDocID))
      throw Error(PushDocumentError, source,
                  I18N::LabelWith("SLBSH4327", {{"[%DOCID%]", std::to_string(i_lDocID)}}));
  });
}

bool PushDocUtils::PushDocumentToReceiver(std::int32_t i_lBPID, std::int32_t i_lDocID,
                                          const std::string& i_sDocTypeID, const std::string& i_sXMLStr) {
  try {
    Rules rules;
    const std::int32_t rule = rules.ExecuteSendMethodRuleSet(i_lDocID, i_sDocTypeID, i_lBPID);
    SendMethod methods;
    std::vector<std::int32_t> sendMethods;
    {
      auto rs = methods.GetSendMethodIDs(i_lBPID, i_sDocTypeID, rule);
      for (; !rs->EOF_(); rs->MoveNext()) sendMethods.push_back(numberOrZero(rs->Fields("SENDMETHODID").Value()));
      rs->Close();
    }
    if (sendMethods.empty()) return false;

    Document document;
    const std::string xml = documentXml(document, i_lDocID, i_sXMLStr, kReceiverSource);

    bool failed = false;
    for (std::int32_t sendMethod : sendMethods) {
      try {
        ExecuteSendMethod(i_lBPID, i_lDocID, sendMethod, rule, xml);
      } catch (...) {
        failed = true;  // recorded by ExecuteSendMethod
      }
    }
    document.SetDocumentStatus(i_lDocID, DOCUMENTSTATUS::DOCUMENTSENT);
    return !failed;
  } catch (...) {
    const ErrorInfo failure = ErrorInfo::current();
    logged(kReceiverSource, [&] {
      logSendFailure(i_lDocID, failure.number, failure.description, kReceiverSource,
                     failureValues(i_lDocID, i_lBPID, nullptr));
    });
    return false;
  }
}

void PushDocUtils::ExecuteSendMethod(std::int32_t i_lBPID, std::int32_t i_lDocID, std::int32_t i_lSendMethodID,
                                     std::int32_t i_lruleid, const std::string& i_sXMLStr,
                                     std::int32_t i_lPublicationErrorID) {
  Guarded(kExecuteSource, [&] {
    std::string docTypeID;
    TSendMethodProperties properties;
    ExtendedProperties extended{"", "False", ""};
    bool sent = false;
    ErrorInfo failure;
    try {
      Document document;
      SendMethod methods;
      docTypeID = document.GetDocumentTypeOfDocument(i_lDocID);
      methods.GetSendMethodProperties2(i_lSendMethodID, properties);
      const std::string xml = documentXml(document, i_lDocID, i_sXMLStr, kExecuteSource);
      methods.GetSendMethodProperties3(i_lSendMethodID, extended);
      PushDocument(i_lBPID, i_lDocID, xml, properties, extended);
      sent = true;
    } catch (...) {
      failure = ErrorInfo::current();
    }

    // The bookkeeping after the attempt is logged, never raised: the
    // outcome the caller hears is the transport's. A delivered document
    // reported as failed would be delivered again by a re-push, and a
    // failure record that cannot be written must not keep the attempt out
    // of the history.
    auto closeOldError = [&] {
      if (i_lPublicationErrorID <= 0) return;
      logged(kExecuteSource, [&] {
        Collaboration collaboration;
        collaboration.ClosePublicationErrors(i_lPublicationErrorID, 0);
      });
    };
    if (!sent) {
      std::int32_t errorID = 0;
      logged(kExecuteSource, [&] {
        errorID = logSendFailure(i_lDocID, PublishDocumentError, failure.description, kExecuteSource,
                                 failureValues(i_lDocID, i_lBPID, &properties));
      });
      // The old error stays open when no new one took its place: the
      // error box keeps a trace of the failure.
      if (errorID > 0) closeOldError();
      logged(kExecuteSource,
             [&] { addHistory(i_lSendMethodID, i_lBPID, i_lruleid, i_lDocID, docTypeID, errorID, false); });
      throw Error(CannotExecuteSendMethod, kExecuteSource, I18N::GetLabel("SLBSH0875"));
    }
    closeOldError();
    logged(kExecuteSource, [&] { addHistory(i_lSendMethodID, i_lBPID, i_lruleid, i_lDocID, docTypeID, 0, true); });
  });
}

bool PushDocUtils::CanPush(std::int32_t iBPID, std::int32_t iDocID, const std::string& iDocTypeID) {
  return Guarded("Quillon.PushDocUtils.CanPush", [&] {
    SendMethod methods;
    auto rs = methods.GetSendMethodIDs(iBPID, iDocTypeID, -1);
    const bool withoutRule = !rs->EOF_();
    rs->Close();
    if (withoutRule) return true;
    Rules rules;
    return rules.ExistRulesAttachedToSendMethods(iDocTypeID, iBPID, 0);
  });
}

void PushDocUtils::RepushDocumentFromErrorBox(const std::string& i_sCurrentUser, std::int32_t i_lDocID,
                                              std::int32_t i_lPublicationErrorID) {
  const std::string source = "Quillon.PushDocUtils.RepushDocumentFromErrorBox";
  Guarded(source, [&] {
    std::int32_t partner = 0, sendMethod = 0, document = 0;
    std::string sender;
    GetSendMethodInfoViaPublicationError(i_lPublicationErrorID, partner, sendMethod, document, sender);
    // Only the document's sender may push it again, and only the document
    // the error belongs to (an unknown error has document 0).
    if (document == 0 || document != i_lDocID || text::LCase(sender) != text::LCase(i_sCurrentUser))
      throw Error(PushDocumentError, source, I18N::GetLabel("SLBSH0875"));
    ExecuteSendMethod(partner, document, sendMethod, 0, "", i_lPublicationErrorID);
  });
}

std::int32_t PushDocUtils::GetSendMethodIDByPublicationErrorID(std::int32_t i_lPublicationErrordID) {
  return Guarded("Quillon.PushDocUtils.GetSendMethodIDByPublicationErrorID", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute("SELECT SENDMETHODID FROM SENDMETHODHISTORY WHERE PUBLICATIONERRORID = " +
                                  SqlLong(i_lPublicationErrordID));
    const std::int32_t id = rs->EOF_() ? 0 : numberOrZero(rs->Fields("SENDMETHODID").Value());
    rs->Close();
    return id;
  });
}

void PushDocUtils::GetSendMethodInfoViaPublicationError(std::int32_t i_lPublicationErrordID,
                                                        std::int32_t& o_lBusinessPartnerID,
                                                        std::int32_t& o_lSendMethodID, std::int32_t& o_lDocumentID,
                                                        std::string& o_sSender) {
  Guarded("Quillon.PushDocUtils.GetSendMethodInfoViaPublicationError", [&] {
    o_lBusinessPartnerID = 0;
    o_lSendMethodID = 0;
    o_lDocumentID = 0;
    o_sSender = "0";
    ConnectionScope conn;
    auto rs = conn.get()->Execute(std::string(" SELECT SMH.DOCUMENTID AS DID, ") + " SMH.SENDMETHODID as SID, " +
                                  " SMH.BUSINESSPARTNERID AS BPID, " + " D.SENDER as SENDER " +
                                  " FROM   SENDMETHODHISTORY SMH, " + " DOCUMENT D " +
                                  " WHERE  SMH.PUBLICATIONERRORID = " + SqlLong(i_lPublicationErrordID) +
                                  " AND    D.DOCUMENTID = SMH.DOCUMENTID");
    if (!rs->EOF_()) {
      o_lSendMethodID = numberOrZero(rs->Fields("SID").Value());
      o_lBusinessPartnerID = numberOrZero(rs->Fields("BPID").Value());
      o_lDocumentID = numberOrZero(rs->Fields("DID").Value());
      o_sSender = rs->Fields("SENDER").Value().text();
    }
    rs->Close();
  });
}

bool PushDocUtils::ErrorIsExecSendMethodError(const Variant& i_lErrNumber) {
  return Guarded("Quillon.PushDocUtils.ErrorIsExecSendMethodError", [&] {
    if (i_lErrNumber.isNumeric()) return i_lErrNumber.toDouble() == static_cast<double>(CannotExecuteSendMethod);
    if (i_lErrNumber.isString() && text::IsNumeric(i_lErrNumber.text()))
      return Variant(i_lErrNumber.text()).toDouble() == static_cast<double>(CannotExecuteSendMethod);
    return false;
  });
}

// ---- transports callable by name --------------------------------------------------------------

void PushDocUtils::SendByEmail2(std::int32_t i_lDocID, const Variant& i_vSendData,
                                TSendMethodProperties& i_uProperties, const ExtendedProperties& i_aProperties24) {
  push::SendByEmail2(i_lDocID, i_vSendData, i_uProperties, i_aProperties24);
}

void PushDocUtils::SendByEmail(std::int32_t i_lDocID, const Variant& i_vSendData,
                               TSendMethodProperties& i_uProperties) {
  push::SendByEmail(i_lDocID, i_vSendData, i_uProperties);
}

void PushDocUtils::SendByFax2(std::int32_t i_lDocID, Variant& i_vSendData, TSendMethodProperties& i_uProperties,
                              const ExtendedProperties& i_aProperties24) {
  push::SendByFax2(i_lDocID, i_vSendData, i_uProperties, i_aProperties24);
}

void PushDocUtils::SendByFax(std::int32_t i_lDocID, Variant& i_vSendData, TSendMethodProperties& i_uProperties) {
  push::SendByFax(i_lDocID, i_vSendData, i_uProperties);
}

// ---- helpers ----------------------------------------------------------------------------------

std::string PushDocUtils::GetField(const std::shared_ptr<Recordset>& i_oRS, const std::string& i_sFieldName) {
  return Guarded("Quillon.PushDocUtils.GetField", [&] {
    if (!i_oRS) throw Error(hr::kObjectRequired, "Quillon.PushDocUtils.GetField", "Object required: the recordset");
    return text::Trim(i_oRS->Fields(i_sFieldName).Value().text());
  });
}

std::string PushDocUtils::URLEncode(const std::string& iStr) {
  return Guarded("Quillon.PushDocUtils.EncodeURL", [&] { return text::Replace(UrlEscape(iStr), "=", "%3D"); });
}

const ClassInfo* PushDocUtils::classInfo() const {
  using T = PushDocUtils;
  static const ClassInfo* info =
      ClassBuilder<PushDocUtils>("Quillon.PushDocUtils")
          .bind<&T::PushDocumentToReceivers>("PushDocumentToReceivers",
                                             {ref("i_lDocID"), "i_sDocTypeID", opt("i_sXMLStr", "")})
          .bind<&T::PushDocumentToReceiversWithErrorRaise>("PushDocumentToReceiversWithErrorRaise",
                                                           {ref("i_lDocID"), "i_sDocTypeID", opt("i_sXMLStr", "")})
          .bind<&T::PushDocumentToReceiver>("PushDocumentToReceiver",
                                            {"i_lBPID", "i_lDocID", "i_sDocTypeID", opt("i_sXMLStr", "")})
          .bind<&T::ExecuteSendMethod>("ExecuteSendMethod",
                                       {"i_lBPID", "i_lDocID", "i_lSendMethodID", "i_lruleid", opt("i_sXMLStr", ""),
                                        opt("i_lPublicationErrorID", 0)})
          .bind<&T::CanPush>("CanPush", {"iBPID", "iDocID", "iDocTypeID"})
          .bind<&T::RepushDocumentFromErrorBox>("RepushDocumentFromErrorBox",
                                                {"i_sCurrentUser", "i_lDocID", "i_lPublicationErrorID"})
          .bind<&T::GetSendMethodIDByPublicationErrorID>("GetSendMethodIDByPublicationErrorID",
                                                         {"i_lPublicationErrordID"})
          .bind<&T::GetSendMethodInfoViaPublicationError>(
              "GetSendMethodInfoViaPublicationError",
              {"i_lPublicationErrordID", out("o_lBusinessPartnerID"), out("o_lSendMethodID"), out("o_lDocumentID"),
               out("o_sSender")})
          .bind<&T::ErrorIsExecSendMethodError>("ErrorIsExecSendMethodError", {"i_lErrNumber"})
          .bind<&T::SendByEmail2>("SendByEmail2", {"i_lDocID", "i_vSendData", "i_uProperties", "i_aProperties24"})
          .bind<&T::SendByEmail>("SendByEmail", {"i_lDocID", "i_vSendData", "i_uProperties"})
          .bind<&T::SendByFax2>("SendByFax2", {"i_lDocID", "i_vSendData", "i_uProperties", "i_aProperties24"})
          .bind<&T::SendByFax>("SendByFax", {"i_lDocID", "i_vSendData", "i_uProperties"})
          .bind<&T::GetField>("GetField", {ref("i_oRS"), ref("i_sFieldName")})
          .bind<&T::URLEncode>("URLEncode", {ref("iStr")})
          .done();
  return info;
}

namespace {
const bool kRegistered = (PushDocUtils().classInfo(), true);
}

}  // namespace quillon
