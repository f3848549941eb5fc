// Document: the intake of one incoming document, and the body copies a
// change of document type works with.
//
// The intake runs its steps in a fixed order. Each step's failure is
// caught where it happens and turned into the text of that step's label;
// the intake then leaves by one of two exits: A raises ProcessDocumentError
// with that text, B first records it as a publication error of the stored
// document (written only once the document has a type). The handler of
// both exits removes a document that has no type yet, mails the
// administrator once, logs the failure and hands it to the caller with
// oDocID 0.
//
// The text is parsed once; the recognition steps and, when the standard
// XML is the received text itself, the user-defined fields and the
// recipients read that one DOM. A converted standard XML is parsed once
// for those two steps.
#include <memory>
#include <string>

#include "delivery/PushDocUtils.h"
#include "document/Document.h"
#include "document/OBI.h"
#include "document/ReceiveMethod.h"
#include "document/UserDefinedFields.h"
#include "foundation/ConnectionScope.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/PublishCreateDocument.h"
#include "publication/SenderList.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

const std::string kSource = "Quillon.Document.ProcessDocument";
const std::string kCrLf = "\r\n";

// The current local date and time as the database stores dates.
std::string nowText() { return formatOleDate(oleNow()); }

// A connection without a command time-out, closed when the operation
// leaves: the bodies can be large.
class UnlimitedConnection {
 public:
  UnlimitedConnection() : conn_(DBUtils::GetConnectionWithODBCTimeoutIs(0)) {}
  ~UnlimitedConnection() { General::CloseConnection(conn_); }
  UnlimitedConnection(const UnlimitedConnection&) = delete;
  UnlimitedConnection& operator=(const UnlimitedConnection&) = delete;
  const std::shared_ptr<Connection>& get() const { return conn_; }

 private:
  std::shared_ptr<Connection> conn_;
};

std::shared_ptr<Recordset> openForUpdate(const std::string& sql, const std::shared_ptr<Connection>& conn,
                                         ado::CursorType cursor = ado::adOpenKeyset) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  rs->Open(sql, conn, cursor, ado::adLockOptimistic);
  return rs;
}

// The failure of the step that just ran, or nothing.
template <class F>
ErrorInfo attempt(F&& step) {
  try {
    step();
    return {};
  } catch (...) {
    return ErrorInfo::current();
  }
}

// The four lines that say why a text is no XML document.
std::string parseFailureText(const ParseError& e) {
  return I18N::GetLabel("SLBSH1839") + kCrLf + I18N::LabelWith("SLBSH1843", {{"[%DESCRIPTION%]", e.reason}}) + kCrLf +
         I18N::LabelWith("SLBSH1840", {{"[%ERROR_LINE%]", std::to_string(e.line)}}) + kCrLf +
         I18N::LabelWith("SLBSH1841", {{"[%ERROR_COLUMN%]", std::to_string(e.linepos)}});
}

// Trace lines around each step, written only when the logging level asks
// for them; the level is read once per thread.
class Trace {
 public:
  Trace() : on_(General::iGeneral_B2BLogging() > 1) {}
  void operator()(const char* marker, std::int32_t docID) const {
    if (on_) General::LogTrace(kSource, std::string(marker) + " - Document " + std::to_string(docID));
  }

 private:
  bool on_;
};

// What the administrator's mail calls the sender in the authorisation
// failure: for a portal user the name from the directory, for a scheduled
// intake the user id as the document gave it.
std::string senderShownAs(Utility& utility, std::int32_t interActive, const std::string& sender) {
  if (interActive == 0) return sender;
  try {
    auto user = utility.GetAUObject(sender);
    if (user) return user->GivenName() + " " + user->FamilyName();
  } catch (...) {
    // An unknown user is still named, by the id it was sent as.
  }
  return sender;
}

}  // namespace

// ---- public entry points ------------------------------------------------------------------

Variant Document::ProcessDocument(std::int32_t iInterActive, const std::string& iOriginalXmlBody,
                                  std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                                  std::int32_t& oDocID, std::int32_t& oSenderBPID, std::string& oDocTypeID,
                                  std::string& oSenderName, std::string& oDefRecipient, std::int16_t& oStatus,
                                  std::int32_t iForwardedDocID) {
  return ProcessDocumentInternal(iInterActive, iOriginalXmlBody, iOriginalDocTypeID, iOriginalDefRecipient, nullptr,
                                 oDocID, oSenderBPID, oDocTypeID, oSenderName, oDefRecipient, oStatus, iForwardedDocID);
}

Variant Document::ProcessDocumentWithAttachments(std::int32_t iInterActive, const std::string& iOriginalXmlBody,
                                                 std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                                                 Variant& i_oAttachments, std::int32_t& oDocID,
                                                 std::int32_t& oSenderBPID, std::string& oDocTypeID,
                                                 std::string& oSenderName, std::string& oDefRecipient,
                                                 std::int16_t& oStatus, std::int32_t iForwardedDocID) {
  return ProcessDocumentInternal(iInterActive, iOriginalXmlBody, iOriginalDocTypeID, iOriginalDefRecipient,
                                 &i_oAttachments, oDocID, oSenderBPID, oDocTypeID, oSenderName, oDefRecipient, oStatus,
                                 iForwardedDocID);
}

// ---- the worker ---------------------------------------------------------------------------

Variant Document::ProcessDocumentInternal(std::int32_t iInterActive, const std::string& text,
                                          std::string& iOriginalDocTypeID, std::string& iOriginalDefRecipient,
                                          const Variant* attachments, std::int32_t& oDocID,
                                          std::int32_t& oSenderBPID, std::string& oDocTypeID,
                                          std::string& oSenderName, std::string& oDefRecipient,
                                          std::int16_t& oStatus, std::int32_t iForwardedDocID) {
  Utility utility;
  std::shared_ptr<DomDocument> dom;  // set once the text parsed
  std::string standardXml;           // set by the conversion to standard XML only
  std::shared_ptr<DomDocument> standardDom;
  bool mailSent = false;

  // Exit A: the step's text as the failure; exit B records it first.
  auto exitA = [&](const std::string& errorText) { throw Error(ProcessDocumentError, kSource, errorText); };
  auto exitB = [&](const ErrorInfo& pending, const std::string& errorText) {
    try {
      PublicationErrorHandling::LogPublicationError(oDocID, pending.number, errorText, kSource, "SLBSH1812");
    } catch (...) {
      General::LogError(kSource, "The failure of document " + std::to_string(oDocID) +
                                     " could not be recorded for the error box: " + errorText);
    }
    exitA(errorText);
  };
  // The standard XML as a DOM for the steps that read it: the received
  // DOM when the standard XML is the received text, else parsed once.
  auto standardDocument = [&]() -> std::shared_ptr<DomDocument> {
    if (standardDom) return standardDom;
    if (dom && standardXml == text) return standardDom = dom;
    auto parsed = std::make_shared<DomDocument>();
    if (!parsed->loadXML(standardXml)) {
      const ParseError& e = parsed->parseError();
      throw Error(e.errorCode != 0 ? e.errorCode : XMLLoadError, kSource, "DOM Error: " + e.reason);
    }
    return standardDom = parsed;
  };

  try {
    const Trace trace;
    const bool blank = text::Trim(text).empty();
    ErrorInfo failure;

    // 1. Parse.
    trace("LoadXmlInDom_Start", oDocID);
    if (!blank) {
      auto parsed = std::make_shared<DomDocument>();
      bool loaded = false;
      failure = attempt([&] { loaded = parsed->loadXML(text); });
      if (!loaded || failure.pending()) exitA(parseFailureText(parsed->parseError()));
      dom = parsed;
    }
    trace("LoadXmlInDom_End", oDocID);

    // 2. An OBI envelope, refused while OBI intake is off.
    trace("getObiDocumentInfo_start", oDocID);
    if (!blank && dom) {
      OBI obi;
      bool refused = false;
      failure = attempt([&] {
        std::string senderBP, senderUser, receiverBP, receiverUser;
        refused = obi.GetObiDocumentInfo(dom, "", oDocTypeID, senderBP, senderUser, receiverBP, receiverUser) &&
                !obi.IsOBIEnabled();
      });
      if (failure.pending()) exitA(failure.description);
      if (refused) exitA(I18N::GetLabel("SLBSH4304"));
    }
    trace("getObiDocumentInfo_end", oDocID);

    // 3. Show flag.
    bool showFlag = true;
    trace("getShowFlag_start", oDocID);
    if (!text.empty()) {
      failure = attempt([&] { showFlag = GetShowFlagFromDoc(dom); });
      if (failure.pending()) exitA(I18N::GetLabel("SLBSH0031"));
    }
    trace("getShowFlag_end", oDocID);

    // 4. Sender.
    trace("getSenderBPAndName_start", oDocID);
    if (oSenderBPID == 0 && !text.empty()) {
      failure = attempt([&] {
        if (dom)
          UtilityDom::GetSenderBPAndName(utility, dom, oSenderBPID, oSenderName);
        else
          utility.GetSenderBPAndName(text, oSenderBPID, oSenderName);
      });
      if (failure.pending() || (oSenderBPID == 0 && iInterActive != -1)) exitA(I18N::GetLabel("SLBSH1826"));
    }
    trace("getSenderBpAndName_end", oDocID);

    // 5. Document type.
    trace("getDocumentType_start", oDocID);
    if (oDocTypeID.empty() && !text.empty()) {
      failure = attempt([&] {
        oDocTypeID = dom ? UtilityDom::GetDocType(utility, dom, oSenderBPID) : utility.GetDocType(text, oSenderBPID);
      });
      if (failure.pending() || (iInterActive != -1 && oDocTypeID.empty())) exitA(I18N::GetLabel("SLBSH0006"));
    }
    trace("getDocumentType_end", oDocID);

    // 6. May the sender send this type?
    trace("checkAuthorizationForSender_start", oDocID);
    if (!text.empty() && !oDocTypeID.empty()) {
      bool allowed = false;
      failure = attempt([&] { allowed = SenderList().CheckAuthorizationForSender(oDocTypeID, oSenderName); });
      if (failure.pending() || !allowed) {
        std::string typeShown;
        try {
          typeShown = utility.GetDocumentTypeDescription(oDocTypeID);
        } catch (...) {
          typeShown = oDocTypeID;
        }
        exitA(I18N::LabelWith("SLBSH1720", {{"[%USER%]", senderShownAs(utility, iInterActive, oSenderName)},
                                            {"[%DOCTYPE%]", typeShown}}));
      }
    }
    trace("checkAuthorizationForSender_end", oDocID);

    // 7. Store the received text.
    if (oDocID != 0) {
      trace("updateDocumentWithXmlBody_start", oDocID);
      failure = attempt([&] { UpdateDocumentWithOriginalXmlBody(oDocID, text); });
      if (failure.pending()) exitA(I18N::GetLabel("SLBSH1812"));
      trace("updateDocumentWithXmlBody_end", oDocID);
    } else {
      trace("createDocumentIDAndStoreXmlBody_start", oDocID);
      failure = attempt([&] { oDocID = StoreOriginalDocument(text); });
      if (failure.pending()) exitA(I18N::GetLabel("SLBSH1812"));
      trace("createDocumentIDAndStoreXmlBody_end", oDocID);
    }

    // 8. Conversion: to another type, or to the standard XML of this one.
    if (!iOriginalDocTypeID.empty()) {
      trace("transformDocumentToNewDocumentType_start", oDocID);
      failure = attempt([&] { TransformDocToNewDocType(oDocID, iOriginalDocTypeID, oDocTypeID); });
      if (failure.pending()) exitB(failure, I18N::GetLabel("SLBSH1824"));
      trace("transformDocumentToNewDocumentType_end", oDocID);
    } else {
      trace("transformDocumentToStandardXml_start", oDocID);
      failure = attempt([&] { standardXml = TransformDocumentToStandard(oDocID, oDocTypeID, oSenderBPID); });
      if (failure.pending()) exitB(failure, I18N::GetLabel("SLBSH1824"));
      trace("transformDocumentToStandardXml_end", oDocID);
    }

    // 9. Default receiver.
    trace("getDefaultReceiver_start", oDocID);
    if (oDefRecipient.empty() && !text.empty()) {
      failure = attempt([&] {
        oDefRecipient = dom ? UtilityDom::GetDefaultReceiver(utility, dom) : utility.GetDefaultReceiver(text);
      });
      if (failure.pending()) exitB(failure, I18N::GetLabel("SLBSH1827"));
    }
    trace("getDefaultReceiver_end", oDocID);

    // 10. Properties.
    trace("updateDocumentProperties_start", oDocID);
    failure = attempt([&] {
      UpdateDocument(oDocID, oDocTypeID, oSenderName, oDefRecipient, oStatus, showFlag, iForwardedDocID);
    });
    if (failure.pending()) exitB(failure, I18N::GetLabel("SLBSH1825"));
    trace("updateDocumentProperties_end", oDocID);

    // 11. User-defined fields; a failure here is recorded and the intake goes on.
    trace("updateUserDefinedFields_start", oDocID);
    if (!text.empty()) {
      failure = attempt([&] {
        UserDefinedFields fields;
        // The stored XML body is the standard XML when there is one.
        if (!standardXml.empty())
          fields.FillTagsValueTable(oDocID, oDocTypeID, standardDocument());
        else
          fields.UpdateValuesInTagsValueTable(oDocID, oDocTypeID);
      });
      if (failure.pending()) {
        try {
          PublicationErrorHandling::LogPublicationError(oDocID, failure.number, failure.description, kSource,
                                                        "SLBSH1828");
        } catch (...) {
        }
        General::LogError(kSource, I18N::GetLabel("SLBSH1828"));
      }
    }
    trace("updateUserDefinedFields_end", oDocID);

    // 12. Recipients.
    trace("fillPublicationTableWithRecipients_start", oDocID);
    if (!standardXml.empty() && oDocID != 0 && !oDocTypeID.empty()) {
      failure = attempt([&] {
        if (!iOriginalDefRecipient.empty() && iInterActive != 0) {
          utility.FillPublicationTable(oDocID, oDocTypeID, 0, iOriginalDefRecipient);
        } else {
          oStatus = static_cast<std::int16_t>(
              UtilityDom::GetRecipientsAndFillPublicationTable(utility, oDocID, oDocTypeID, standardDocument()));
          if (oStatus != 0 && iInterActive != -1) SetDocumentStatus(oDocID, ConvertStatusFromIntToEnum(oStatus));
        }
      });
      if (failure.pending()) exitB(failure, I18N::GetLabel("SLBSH1829"));
    }
    trace("fillPublicationTableWithRecipients_end", oDocID);

    // 13. Attachments.
    trace("CopyingAttachments_start", oDocID);
    if (attachments) {
      failure = attempt([&] { PublishCreateDocument().CopyAttachmentCollection(oDocID, *attachments); });
      if (failure.pending()) exitB(failure, I18N::GetLabel("SLBSH1808"));
    }
    trace("CopyingAttachments_end", oDocID);

    // 14. Delivery to the receiving partners and the notification mails,
    // for a scheduled intake of a published document.
    if (iInterActive != -1 && oStatus != 0 && !standardXml.empty() && oDocID != 0 && !oDocTypeID.empty()) {
      trace("publishDocument_start", oDocID);
      failure = attempt([&] {
        PushDocUtils push;
        std::int32_t docID = oDocID;
        if (OBI().IsObiDocument(oDocTypeID))
          push.PushDocumentToReceiversWithErrorRaise(docID, oDocTypeID, "");
        else
          push.PushDocumentToReceivers(docID, oDocTypeID, "");
      });
      if (failure.pending()) exitB(failure, I18N::GetLabel("SLBSH1809"));
      trace("publishDocument_end", oDocID);

      trace("sendNotificationEmails_start", oDocID);
      failure = attempt([&] {
        auto notification = General::RequireComponent<Object>("Quillon.Notification", kSource);
        std::vector<Variant> args{Variant(oDocID)};
        notification->invoke("SendNotifications", args);
      });
      if (failure.pending()) exitA(I18N::GetLabel("SLBSH1810"));
      trace("sendNotificationEmails_end", oDocID);
    }

    // 15. What the document became goes to disk before the caller removes
    // its input.
    failure = attempt([&] {
      ConnectionScope conn;
      conn.get()->MakeDurable();
    });
    if (failure.pending()) exitA(I18N::GetLabel("SLBSH1812"));
    return Variant(oDocID);
  } catch (...) {
    // The failure goes to the caller as it is; the clean-up in between may
    // fail on its own without hiding it.
    const ErrorInfo saved = ErrorInfo::current();
    try {
      HandleProcessDocumentError(oDocID, saved.description, mailSent, dom ? text : std::string(), utility);
    } catch (...) {
    }
    if (iInterActive != 0) {
      General::LogError(kSource);
      throw;
    }
    General::ReRaiseError(kSource);
    throw;
  }
}

void Document::HandleProcessDocumentError(std::int32_t& docID, const std::string& errorText, bool& mailSent,
                                          const std::string& xml, Utility& utility) {
  const std::string source = "Quillon.Document.HandleProcessDocumentError";
  if (docID != 0) {
    try {
      RemoveInvalidDocument(docID);
    } catch (...) {
      General::LogError(source, "The half-stored document " + std::to_string(docID) + " could not be removed.");
    }
  }
  if (!mailSent) {
    try {
      const std::string subject = docID != 0 ? I18N::LabelWith("SLBSH0037", {{"[%DOCID%]", std::to_string(docID)}})
                                             : I18N::GetLabel("SLBSH0038");
      std::string body = I18N::LabelWith("SLBSH0035", {{"[%ERRORDESCRIPTION%]", errorText}});
      if (!xml.empty()) body += kCrLf + I18N::GetLabel("SLBSH0036") + ":" + kCrLf + xml;
      const std::string from = DBUtils::GetParameter("AdminEmailAddress");
      const std::string to = DBUtils::GetParameter("AdminEmailAddress");
      utility.SendEmail(from, to, subject, body, "", "");
      mailSent = true;
    } catch (...) {
      // The log keeps the failure of the intake either way; this entry says
      // the administrator was not told by mail.
      General::LogError(source, "The administrator could not be told by mail about the failed intake" +
                                    (docID != 0 ? " of document " + std::to_string(docID) : std::string()) + ": " +
                                    errorText);
    }
  }
  // Whatever stays of the failed intake (a kept row, its publication
  // errors) is on disk before the caller moves its input aside.
  try {
    ConnectionScope conn;
    conn.get()->MakeDurable();
  } catch (...) {
  }
  docID = 0;
}

// ---- the steps' own operations ------------------------------------------------------------

std::int32_t Document::StoreOriginalDocument(const std::string& xml) {
  return Guarded("Quillon.Document.StoreOriginalDocument", [&] {
    UnlimitedConnection conn;
    auto rs = openForUpdate("SELECT * FROM DOCUMENT WHERE 0=1", conn.get());
    rs->AddNew();
    const std::string now = nowText();
    rs->Fields("CREATIONDATE").SetValue(Variant(now));
    rs->Fields("ENTRANCEDATE").SetValue(Variant(now));
    rs->Fields("STATUS").SetValue(Variant(static_cast<std::int16_t>(-1)));
    Utility().SetLongDBTextField(xml, "ORIGINALXMLBODY", rs);
    rs->Update();
    const std::int32_t docID = rs->Fields("DocumentID").Value().toInt32();
    rs->Close();
    return docID;
  });
}

void Document::UpdateDocument(std::int32_t docID, const std::string& docTypeID, const std::string& sender,
                              const std::string& defaultReceiver, std::int16_t status, bool showFlag,
                              std::int32_t forwardedDocID) {
  Guarded("Quillon.Document.UpdateDocument", [&] {
    UnlimitedConnection conn;
    auto rs = openForUpdate("SELECT * FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(docID), conn.get(),
                            ado::adOpenDynamic);
    if (!rs->EOF_()) {
      if (!text::Trim(docTypeID).empty()) rs->Fields("DOCUMENTTYPEID").SetValue(Variant(docTypeID));
      rs->Fields("STATUS").SetValue(Variant(status));
      rs->Fields("SENDER").SetValue(Variant(sender));
      rs->Fields("DEFAULTRECEIVER").SetValue(Variant(defaultReceiver));
      if (forwardedDocID != -1) rs->Fields("DOC_DOCUMENTID").SetValue(Variant(forwardedDocID));
      rs->Fields("SHOW").SetValue(Variant(static_cast<std::uint8_t>(showFlag ? 1 : 0)));
      rs->Update();
    }
    rs->Close();
  });
}

std::string Document::TransformDocumentToStandard(std::int32_t docID, const std::string& docTypeID,
                                                  std::int32_t senderBPID) {
  return Guarded("Quillon.Document.TransformDocumentToStandard", [&] {
    const std::string xslName = ReceiveMethod().GetXslFileName(senderBPID, docTypeID);
    if (!xslName.empty()) {
      Utility utility;
      std::string xml =
          utility.transformXMLStringToHTML(GetOriginalXmlDocument(docID), utility.GetTransformXSLPath() + xslName);
      UpdateDocumentWithXmlBody(docID, xml);
      return xml;
    }
    CopyOriginalXMLtoXMLBody(docID);
    return GetXmlDocument(docID);
  });
}

bool Document::GetShowFlagFromDoc(const std::shared_ptr<DomDocument>& dom) {
  return Guarded("Quillon.Document.GetShowFlagFromDoc", [&] {
    const std::string value = Utility().ExecuteXSLPattern(dom, "//B2BSHOW");
    return value.empty() || text::UCase(text::Trim(value)) == "TRUE" || value == "1";
  });
}

void Document::TransformDocToNewDocType(std::int32_t iDocID, const std::string& iOriginalDocTypeID,
                                        const std::string& iNewDocTypeID) {
  Guarded("Quillon.Document.TransformDocToNewDocType", [&] {
    CopyOriginalXMLtoTempXMLBody(iDocID);
    const std::string xslName = GetXSLFromDoctypeToDoctypeTable(iOriginalDocTypeID, iNewDocTypeID);
    if (xslName.empty()) {
      CopyTempXMLtoXMLBody(iDocID);
    } else {
      Utility utility;
      const std::string xml =
          utility.transformXMLToHTMLCommon(GetTempXmlDomDocument(iDocID), utility.GetTransformXSLPath() + xslName);
      UpdateDocumentWithXmlBody(iDocID, xml);
    }
    UpdateTempXMLBodyWithNULLInDocument(iDocID);
  });
}

void Document::CopyOriginalXMLtoXMLBody(std::int32_t docID) {
  Guarded("Quillon.Document.CopyOriginalXMLtoXMLBody", [&] {
    UnlimitedConnection conn;
    auto rs = openForUpdate(std::string("SELECT XMLBODY, TEMPXMLBODY, CREATIONDATE, ORIGINALXMLBODY ") +
                                "FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(docID),
                            conn.get());
    if (!rs->EOF_()) {
      const Variant original = rs->Fields("ORIGINALXMLBODY").Value();
      rs->Fields("XMLBODY").SetValue(original);
      rs->Fields("TEMPXMLBODY").SetValue(original);
      rs->Fields("CREATIONDATE").SetValue(Variant(nowText()));
      rs->Update();
    }
    rs->Close();
  });
}

void Document::CopyTempXMLtoXMLBody(std::int32_t docID) {
  Guarded("Quillon.Document.CopyTempXMLtoXMLBody", [&] {
    UnlimitedConnection conn;
    auto rs = openForUpdate(std::string("SELECT XMLBODY, TEMPXMLBODY, CREATIONDATE ") +
                                "FROM DOCUMENT WHERE DOCUMENTID = " + SqlLong(docID),
                            conn.get());
    if (!rs->EOF_()) {
      rs->Fields("XMLBODY").SetValue(rs->Fields("TEMPXMLBODY").Value());
      rs->Fields("CREATIONDATE").SetValue(Variant(nowText()));
      rs->Update();
    }
    rs->Close();
  });
}

void Document::CopyOriginalXMLtoTempXMLBody(std::int32_t docID) {
  Guarded("Quillon.Document.CopyOriginalXMLtoTempXMLBody", [&] {
    UnlimitedConnection conn;
    const std::string id = SqlLong(docID);
    // The current body when there is one ...
    auto rs = openForUpdate(std::string("SELECT TEMPXMLBODY, XMLBODY ") + "FROM DOCUMENT " + "WHERE DOCUMENTID = " +
                                id + " AND (TEMPXMLBODY LIKE '' OR " + "TEMPXMLBODY IS NULL) AND NOT (XMLBODY LIKE '' OR " +
                                "XMLBODY IS NULL)",
                            conn.get());
    if (!rs->EOF_()) {
      rs->Fields("TEMPXMLBODY").SetValue(rs->Fields("XMLBODY").Value());
      rs->Update();
    }
    rs->Close();
    // ... else the received one.
    rs = openForUpdate(std::string("SELECT ORIGINALXMLBODY, TEMPXMLBODY ") + "FROM DOCUMENT WHERE DOCUMENTID = " + id +
                           " AND " + "(TEMPXMLBODY LIKE '' OR TEMPXMLBODY IS NULL)",
                       conn.get());
    if (!rs->EOF_()) {
      rs->Fields("TEMPXMLBODY").SetValue(rs->Fields("ORIGINALXMLBODY").Value());
      rs->Update();
    }
    rs->Close();
  });
}

void Document::UpdateTempXMLBodyWithNULLInDocument(std::int32_t docID) {
  Guarded("Quillon.Document.UpdateTempXMLBodyWithNULLInDocument", [&] {
    UnlimitedConnection conn;
    conn.get()->Execute(std::string("Update DOCUMENT Set TEMPXMLBODY = Null WHERE ") + "DOCUMENTID = " + SqlLong(docID));
  });
}

std::string Document::GetXSLFromDoctypeToDoctypeTable(const std::string& docTypeID, const std::string& newDocTypeID) {
  return Guarded("Quillon.Document.GetXSLFromDoctypeToDoctypeTable", [&] {
    UnlimitedConnection conn;
    auto rs = conn.get()->Execute(std::string("SELECT TRANSFORMXSLNAME FROM DOCTYPETODOCTYPE WHERE ") +
                                  "DOCUMENTTYPEID = " + SqlText(docTypeID) + " AND NEWDOCUMENTTYPEID =" +
                                  SqlText(newDocTypeID));
    std::string name = rs->EOF_() ? std::string() : rs->Fields("TRANSFORMXSLNAME").Value().text();
    rs->Close();
    return name;
  });
}

std::shared_ptr<DomDocument> Document::GetTempXmlDomDocument(std::int32_t docID) {
  return Guarded("Quillon.Document.GetTempXmlDomDocument", [&] {
    std::string body;
    {
      UnlimitedConnection conn;
      auto rs = conn.get()->Execute(std::string("SELECT TEMPXMLBODY ") + "FROM DOCUMENT WHERE DOCUMENTID = " +
                                    SqlLong(docID));
      if (!rs->EOF_()) body = rs->Fields("TEMPXMLBODY").Value().text();
      rs->Close();
    }
    auto dom = std::make_shared<DomDocument>();
    dom->setAsync(false);
    if (!dom->loadXML(body)) {
      const ParseError& e = dom->parseError();
      throw Error(e.errorCode != 0 ? e.errorCode : XMLLoadError, "Quillon.Document.GetTempXmlDomDocument",
                  "DOM Error: " + e.reason, e.url, static_cast<std::int32_t>(e.line));
    }
    return dom;
  });
}

}  // namespace quillon
