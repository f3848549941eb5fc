// Notification: the engine that mails a document's recipients, its copy
// list and its sender, and the class's registration.
#include "notification/Notification.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "document/Document.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "notification/NotificationPlaceholders.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Attachments.h"
#include "publication/Collaboration.h"
#include "publication/SenderList.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlByte;
using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;
namespace ph = NotificationPlaceholders;

namespace {

const std::string kSource = "Quillon.Notification.";

std::shared_ptr<Utility> utility(const std::string& source) {
  return General::RequireComponent<Utility>("Quillon.Utility", source);
}

// What one run of notifications shares between its steps.
struct Run {
  std::int32_t docID = 0;
  std::string docTypeID;
  std::string sender;  // the sender's user id, its partner and address
  std::int32_t senderPartner = 0;
  std::string senderAddress;

  // The document's files, read on the first mail that carries them: Empty,
  // or the (column, row) array of their rows with full paths.
  const Variant& attachments() const;
  mutable Variant files;
  mutable bool filesRead = false;

  // The document's HTML rendering, written on the first mail that carries
  // it: a run where nobody asked for it renders nothing. "" when none.
  const std::string& htmlFile() const {
    if (!htmlRendered) {
      html = utility(kSource + "GetAttachments")->getHTMLAttachment(docID);
      htmlRendered = true;
    }
    return html;
  }
  mutable std::string html;
  mutable bool htmlRendered = false;
};

// The texts of one notification.
struct Texts {
  std::string subject, body, cc;
  bool ccDoc = false, ccAtt = false;
};

// The values of "[%TOLIST%]" and "[%CCLIST%]". A blank to list is looked up
// unless it is final: after the recipients were mailed, a blank list means
// nobody was notified, and naming the recipients that failed would tell
// the sender the opposite.
struct Lists {
  std::string toList, ccList;
  bool toListFinal = false;
};

bool flag(Recordset& rs, const char* column) {
  const Variant& v = rs.Fields(column).Value();
  return !v.isNull() && !v.isEmpty() && v.toBool();
}

// ---- mail ----------------------------------------------------------------------------

void sendMail(const std::string& from, const std::string& to, const std::string& subject, const std::string& body,
              bool withHtml, const Run& run, bool withAttachments) {
  Guarded(kSource + "SendMail", [&] {
    auto u = utility(kSource + "SendMail");
    const std::string html = withHtml ? run.htmlFile() : std::string();
    static const Variant none{};
    const Variant& attachments = withAttachments ? run.attachments() : none;
    if (attachments.isEmpty())
      u->SendEmail(from, to, subject, body, html, "");
    else
      u->SendEmailWithAttachments(from, to, subject, body, html, "", attachments);
  });
}

// Removes the HTML rendering when the run ends, however it ends: it is a
// temporary file. Deleting logs its own failure; a file left behind must
// not turn mails that went out into a failure.
class HtmlFileCleanup {
 public:
  explicit HtmlFileCleanup(const std::string& file) : file_(file) {}
  ~HtmlFileCleanup() {
    if (text::Trim(file_).empty()) return;
    try {
      utility(kSource + "SendNotifications")->DeleteHTMLAttachment(file_);
    } catch (...) {
      General::LogError(kSource + "SendNotifications", "The temporary file '" + file_ + "' could not be deleted");
    }
  }
  HtmlFileCleanup(const HtmlFileCleanup&) = delete;
  HtmlFileCleanup& operator=(const HtmlFileCleanup&) = delete;

 private:
  const std::string& file_;
};

// The document's sender, looked up once for the run.
void readSender(Run& run) {
  run.sender = Document().GetSenderOfDocument(run.docID);
  auto user = utility(kSource + "SendNotifications")->GetAUObject(run.sender);
  run.senderAddress = user->EmailAddress();
  run.senderPartner = user->BusinessPartnerID();
}

// The document's attached files with full paths, when the attachments
// folder is usable.
Variant documentAttachments(std::int32_t docID) {
  return Guarded(kSource + "GetAttachments", [&] {
    Variant found;
    Attachments attachments;
    std::string url, folder;
    if (attachments.GetAttachmentUrlAndFolder(url, folder)) {
      auto rs = attachments.GetDocumentAttachmentsRS(docID);
      if (!rs->EOF_()) {
        int nameColumn = 0;
        for (int c = 0; c < rs->FieldCount(); ++c)
          if (equalsIgnoreCase(rs->Fields(c).Name(), "ATTACHMENTFILENAME")) nameColumn = c;
        Variant rows = rs->GetRows();
        const VariantArray& all = rows.array();
        // A stored name that is not a plain file name would reach a file
        // outside the document's folder and mail it out: such rows are
        // left out (and logged).
        std::vector<long> kept;
        for (long r = all.lbound(2); r <= all.ubound(2); ++r) {
          const std::string name = all.at(nameColumn, r).text();
          if (Attachments::IsPlainFileName(name))
            kept.push_back(r);
          else
            General::LogError(kSource + "GetAttachments", "Attachment name '" + name + "' of document " +
                                                              std::to_string(docID) + " is not a plain file name");
        }
        if (!kept.empty()) {
          const long columns = all.ubound(1) - all.lbound(1) + 1;
          VariantArray list(std::vector<VariantArray::Bound>{{0, columns}, {0, static_cast<long>(kept.size())}});
          for (long r = 0; r < static_cast<long>(kept.size()); ++r)
            for (long c = 0; c < columns; ++c) list.at(c, r) = all.at(all.lbound(1) + c, kept[r]);
          for (long r = 0; r < static_cast<long>(kept.size()); ++r)
            list.at(nameColumn, r) = Variant(folder + std::to_string(docID) + "\\" + list.at(nameColumn, r).text());
          found = Variant(std::move(list));
        }
      }
      DBUtils::CloseRecordset(rs);
    }
    return found;
  });
}

const Variant& Run::attachments() const {
  if (!filesRead) {
    files = documentAttachments(docID);
    filesRead = true;
  }
  return files;
}

// ---- who is notified -----------------------------------------------------------------

std::string recipientQuery(std::int32_t docID, const std::string& docTypeID, std::int32_t partner) {
  std::string sql = std::string(" SELECT PUBLICATION.USERID, DISTRIBUTIONLIST.BUSINESSPARTNERID, ") +
                    "          DISTRIBUTIONLIST.HTMLATTACHMENT, DISTRIBUTIONLIST.ATTACHMENTS " + "   FROM PUBLICATION " +
                    "        INNER JOIN DISTRIBUTIONLIST ON " +
                    "                PUBLICATION.USERID = DISTRIBUTIONLIST.USERID " +
                    "        LEFT OUTER JOIN DOCUMENTTYPE ON " +
                    "                DOCUMENTTYPE.DOCUMENTTYPEID = DISTRIBUTIONLIST.DOCUMENTTYPEID " +
                    "   WHERE (PUBLICATION.DOCUMENTID = " + SqlLong(docID) + ") " +
                    "     AND (DISTRIBUTIONLIST.DOCUMENTTYPEID = " + SqlText(docTypeID) + ") " +
                    "     AND (DISTRIBUTIONLIST.EMAIL = 1) " + "     AND (PUBLICATION.STATUS NOT IN (2,3,7,8,9) ) ";
  if (partner > 0) sql += " AND (DISTRIBUTIONLIST.BUSINESSPARTNERID = " + SqlLong(partner) + ") ";
  sql += " ORDER BY DISTRIBUTIONLIST.BUSINESSPARTNERID ";
  return sql;
}

std::shared_ptr<Recordset> recipients(std::int32_t docID, const std::string& docTypeID, std::int32_t partner) {
  return DBUtils::getDisconnectedReadOnlyRecordSet(recipientQuery(docID, docTypeID, partner));
}

// The addresses of the notified recipients, separated by ";".
std::string getRecipientEmailAddresses(std::int32_t docID, const std::string& docTypeID, std::int32_t partner) {
  return Guarded(kSource + "GetRecipientEmailAddresses", [&] {
    auto u = utility(kSource + "GetRecipientEmailAddresses");
    auto rs = recipients(docID, docTypeID, partner);
    std::string list;
    for (; !rs->EOF_(); rs->MoveNext()) list += u->GetAUEmailAddress(rs->Fields("USERID").Value().text()) + ";";
    DBUtils::CloseRecordset(rs);
    if (!text::Trim(list).empty()) list.pop_back();
    return list;
  });
}

// ---- texts ---------------------------------------------------------------------------

std::string getHyperlink(std::int32_t docID, const std::string& docTypeID, const std::string& placeholder) {
  return Guarded(kSource + "GetHyperlink", [&] {
    auto u = utility(kSource + "GetHyperlink");
    std::int32_t mode;
    if (placeholder == ph::kInboxLink) {
      mode = value(SENDERMODE::RECEIVERMODE);
    } else if (placeholder == ph::kOutboxLink) {
      mode = value(SENDERMODE::SENDERMODE);
    } else {
      if (!u->CheckPublicationErrors(docID)) return std::string();
      mode = value(SENDERMODE::ERRORMODE);
    }
    return ph::LinkForMail(u->getDocumentHyperlinkBySenderMode(docID, docTypeID, mode));
  });
}

// The copy list of the mail stored for the sender's view of the copy.
std::string storedCopyList(std::int32_t docID) {
  auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
      std::string("SELECT CC FROM NOTIFICATIONEMAIL WHERE ") + " BUSINESSPARTNERID = " + SqlLong(ph::kCopyPartner) +
      " AND " + " DOCUMENTID = " + SqlLong(docID) + " AND " + " MODE = " + SqlByte(ph::kSenderMode));
  std::string cc = rs->EOF_() ? std::string() : rs->Fields("CC").Value().text();
  DBUtils::CloseRecordset(rs);
  return cc;
}

std::string replaceSubstitutions(std::int32_t docID, const std::string& docTypeID, std::uint8_t mode,
                                 const std::string& text, const Lists& lists) {
  return Guarded(kSource + "ReplaceSubstitutions", [&] {
    std::vector<ph::Substitution> subs{
        {ph::kDocID, [&] { return std::to_string(docID); }},
        {ph::kDocType, [&] { return utility(kSource + "ReplaceSubstitutions")->GetDocumentTypeDescription(docTypeID); }},
    };
    if (mode == ph::kRecipientMode) {
      subs.push_back({ph::kInboxLink, [&] { return getHyperlink(docID, docTypeID, ph::kInboxLink); }});
    } else if (mode == ph::kSenderMode) {
      subs.push_back({ph::kOutboxLink, [&] { return getHyperlink(docID, docTypeID, ph::kOutboxLink); }});
      subs.push_back({ph::kErrorboxLink, [&] { return getHyperlink(docID, docTypeID, ph::kErrorboxLink); }});
      subs.push_back({ph::kToList, [&] {
                        if (!text::Trim(lists.toList).empty() || lists.toListFinal) return lists.toList;
                        return getRecipientEmailAddresses(docID, docTypeID, ph::kAnyPartner);
                      }});
      subs.push_back({ph::kCcList, [&] {
                        if (!text::Trim(lists.ccList).empty()) return lists.ccList;
                        return storedCopyList(docID);
                      }});
    }
    return ph::Fill(text, subs);
  });
}

// The mail stored for this partner, document and mode, as stored.
bool getNotificationEmail(std::int32_t partner, std::int32_t docID, std::uint8_t mode, Texts& out) {
  return Guarded(kSource + "GetNotificationEmail", [&] {
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
        std::string("SELECT * FROM NOTIFICATIONEMAIL WHERE ") + " BUSINESSPARTNERID = " + SqlLong(partner) + " AND " +
        " DOCUMENTID = " + SqlLong(docID) + " AND " + " MODE = " + SqlByte(mode));
    bool found = !rs->EOF_();
    if (found) {
      out.subject = rs->Fields("SUBJECT").Value().text();
      out.body = rs->Fields("BODY").Value().text();
      out.cc = rs->Fields("CC").Value().text();
      out.ccAtt = flag(*rs, "CCATT");
      out.ccDoc = flag(*rs, "CCDOC");
    }
    DBUtils::CloseRecordset(rs);
    return found;
  });
}

// The best template: the partner's own for the type, then the type's
// default, then the general default (the copy partner has only its own).
bool getNotificationTemplate(std::int32_t partner, const std::string& docTypeID, std::uint8_t mode, Texts& out) {
  return Guarded(kSource + "GetNotificationTemplate", [&] {
    std::string sql = "SELECT TOP 1 * FROM NOTIFICATIONTEMPLATE WHERE ";
    if (partner == ph::kCopyPartner)
      sql += " (DOCUMENTTYPEID = " + SqlText(docTypeID) + " AND " + " MODE = " + SqlByte(mode) + " AND " +
             " BUSINESSPARTNERID = " + "-2" + ") OR " + " (DOCUMENTTYPEID = '" + "-1" + "' AND BUSINESSPARTNERID = " +
             "-2" + " AND " + " MODE = " + SqlByte(mode) + ") ";
    else
      sql += " (DOCUMENTTYPEID = " + SqlText(docTypeID) + " AND " + " MODE = " + SqlByte(mode) + " AND " +
             " (BUSINESSPARTNERID = " + SqlLong(partner) + " OR " + " BUSINESSPARTNERID = " + "-1" + ")) OR " +
             " (DOCUMENTTYPEID = '" + "-1" + "' AND BUSINESSPARTNERID = " + "-1" + " AND " + " MODE = " +
             SqlByte(mode) + ") ";
    sql += " ORDER BY DOCUMENTTYPEID DESC, BUSINESSPARTNERID DESC ";
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(sql);
    bool found = !rs->EOF_();
    if (found) {
      out.subject = rs->Fields("SUBJECT").Value().text();
      out.body = rs->Fields("BODY").Value().text();
      out.ccAtt = flag(*rs, "CCATT");
      out.ccDoc = flag(*rs, "CCDOC");
    }
    DBUtils::CloseRecordset(rs);
    return found;
  });
}

bool notificationProperties(std::int32_t partner, std::int32_t docID, std::uint8_t mode, const Lists& lists,
                            Texts& out) {
  out = Texts{};
  if (getNotificationEmail(partner, docID, mode, out)) return true;
  const std::string docTypeID = Document().GetDocumentTypeOfDocument(docID);
  Texts raw;
  if (!getNotificationTemplate(partner, docTypeID, mode, raw)) return false;
  out.subject = replaceSubstitutions(docID, docTypeID, mode, raw.subject, lists);
  out.body = replaceSubstitutions(docID, docTypeID, mode, raw.body, lists);
  out.ccAtt = raw.ccAtt;
  out.ccDoc = raw.ccDoc;
  return true;
}

// The properties of one kind of notification, or DefaultTemplateNotFound.
Texts requiredProperties(const std::string& method, std::int32_t partner, std::int32_t docID, std::uint8_t mode,
                         const Lists& lists, const char* thirdLabel, const char* fourthLabel) {
  const std::string source = kSource + method;
  return Guarded(source, [&] {
    Texts texts;
    if (!notificationProperties(partner, docID, mode, lists, texts))
      throw Error(DefaultTemplateNotFound, source,
                  I18N::GetLabel("SLBSH6068") + " (" + I18N::GetLabel("SLBSH6057") + ", " + I18N::GetLabel(thirdLabel) +
                      ", " + I18N::GetLabel(fourthLabel) + ")");
    return texts;
  });
}

Texts propertiesForRecipients(std::int32_t partner, std::int32_t docID) {
  return requiredProperties("GetNotificationPropertiesForRecipients", partner, docID, ph::kRecipientMode, Lists{},
                            "SLBSH6058", "SLBSH6053");
}

Texts propertiesForCc(std::int32_t docID) {
  return requiredProperties("GetNotificationPropertiesForCc", ph::kCopyPartner, docID, ph::kRecipientMode, Lists{},
                            "SLBSH6059", "SLBSH6053");
}

Texts propertiesForSender(std::int32_t partner, std::int32_t docID, const Lists& lists) {
  return requiredProperties("GetNotificationPropertiesForSender", partner, docID, ph::kSenderMode, lists, "SLBSH6058",
                            "SLBSH6052");
}

// ---- failures ------------------------------------------------------------------------

// Records that one recipient could not be notified, for the error box and
// a later re-send. Called inside the catch block of that failure; a record
// that cannot be written is logged and never stops the other recipients.
void recordRecipientFailure(std::int32_t docID, const std::string& method, const std::string& userID,
                            const std::string& address) {
  const ErrorInfo failure = ErrorInfo::current();
  try {
    auto reps = PublicationErrorHandling::NewReplacementsDocument();
    PublicationErrorHandling::AddReplacement(reps, "[%USERID%]", userID);
    PublicationErrorHandling::AddReplacement(reps, "[%EMAILADDRESS%]", address);
    const std::string description =
        failure.description + text::vbCrLf + I18N::GetLabel("SLBSH0001") + ": '" + userID + "'";
    PublicationErrorHandling::LogPublicationError(docID, failure.number, description, kSource + method, "SLBSH6082",
                                                  reps);
  } catch (...) {
    General::LogError(kSource + method, "The failure to notify '" + userID + "' could not be recorded");
  }
}

void recordCopyFailure(std::int32_t docID, const std::string& ccList) {
  const ErrorInfo failure = ErrorInfo::current();
  const std::string method = kSource + "SendNotificationToCc";
  try {
    auto reps = PublicationErrorHandling::NewReplacementsDocument();
    PublicationErrorHandling::AddReplacement(reps, "[%EMAILADDRESS%]", ccList);
    const std::string description = failure.description + text::vbCrLf + I18N::GetLabel("SLBSH6059") + ": '" + ccList + "'";
    PublicationErrorHandling::LogPublicationError(docID, failure.number, description, method, "SLBSH6083", reps);
  } catch (...) {
    General::LogError(method, "The failure to send the copy notification could not be recorded");
  }
}

// ---- the three kinds of mail ---------------------------------------------------------

// Mails every notified recipient; returns the addresses that were mailed,
// separated by "; ". A recipient that fails is recorded and left out.
std::string sendNotificationToRecipients(const Run& run) {
  return Guarded(kSource + "SendNotificationToRecipients", [&] {
    auto u = utility(kSource + "SendNotificationToRecipients");
    std::vector<std::string> notified;
    // Recipients of one partner share the texts: they are fetched again
    // when the partner changes, and after a failed fetch.
    std::string textsPartner;
    std::optional<Texts> texts;
    auto rs = recipients(run.docID, run.docTypeID, ph::kAnyPartner);
    for (; !rs->EOF_(); rs->MoveNext()) {
      std::string userID, address;
      try {
        userID = rs->Fields("USERID").Value().text();
        address = u->GetAUObject(userID)->EmailAddress();
        const Variant& partnerValue = rs->Fields("BUSINESSPARTNERID").Value();
        const std::string partner = partnerValue.text();
        if (!texts || partner != textsPartner || text::Trim(texts->subject).empty()) {
          texts.reset();
          textsPartner = partner;
          texts = propertiesForRecipients(partnerValue.isNull() ? 0 : partnerValue.toInt32(), run.docID);
        }
        sendMail(run.senderAddress, address, texts->subject, texts->body, flag(*rs, "HTMLATTACHMENT"), run,
                 flag(*rs, "ATTACHMENTS"));
        notified.push_back(address);
      } catch (...) {
        recordRecipientFailure(run.docID, "SendNotificationToRecipients", userID, address);
      }
    }
    DBUtils::CloseRecordset(rs);
    return text::Join(notified, "; ");
  });
}

// Mails one recipient again (a re-send from the error box).
void sendNotificationToRecipient(const Run& run, const std::string& userID) {
  const std::string method = "SendNotificationToRecipient";
  std::string address;
  try {
    auto u = utility(kSource + method);
    const std::int32_t partner = u->GetAUBusinessPartnerID(userID);
    bool withHtml = false, withAttachments = false;
    auto rs = recipients(run.docID, run.docTypeID, partner);
    for (; !rs->EOF_(); rs->MoveNext()) {
      if (!equalsIgnoreCase(text::Trim(rs->Fields("USERID").Value().text()), userID)) continue;
      withHtml = flag(*rs, "HTMLATTACHMENT");
      withAttachments = flag(*rs, "ATTACHMENTS");
      address = u->GetAUObject(userID)->EmailAddress();
      break;
    }
    DBUtils::CloseRecordset(rs);
    // A user who is no longer notified of the document keeps an empty
    // address, which the mail service refuses.
    Texts texts = propertiesForRecipients(partner, run.docID);
    sendMail(run.senderAddress, address, texts.subject, texts.body, withHtml, run, withAttachments);
  } catch (...) {
    recordRecipientFailure(run.docID, method, userID, address);
    General::ReRaiseError(kSource + method);
    throw;
  }
}

// Mails the copy list of the document, when a stored copy mail names one;
// returns the copy list. Without a stored copy mail or a copy template
// there is nothing to send: that raises DefaultTemplateNotFound only when
// the copy mail is `required` (a re-send); a run over all notifications
// just has no copy mail.
std::string sendNotificationToCc(const Run& run, bool required) {
  return Guarded(kSource + "SendNotificationToCc", [&] {
    Texts texts;
    if (required)
      texts = propertiesForCc(run.docID);
    else if (!notificationProperties(ph::kCopyPartner, run.docID, ph::kRecipientMode, Lists{}, texts))
      return std::string();
    if (!text::Trim(texts.cc).empty()) {
      try {
        sendMail(run.senderAddress, texts.cc, texts.subject, texts.body, texts.ccDoc, run, texts.ccAtt);
      } catch (...) {
        recordCopyFailure(run.docID, texts.cc);
        throw;
      }
    }
    return texts.cc;
  });
}

// Mails the sender, from and to the sender's own address, when the
// sender's entry of the sender list asks for it.
void sendNotificationToSender(const Run& run, const Lists& lists) {
  Guarded(kSource + "SendNotificationToSender", [&] {
    bool wanted = false, withAttachments = false, withHtml = false;
    SenderList().GetNotification3(run.docTypeID, run.sender, wanted, withAttachments, withHtml);
    if (!wanted) return;
    Texts texts = propertiesForSender(run.senderPartner, run.docID, lists);
    sendMail(run.senderAddress, run.senderAddress, texts.subject, texts.body, withHtml, run, withAttachments);
  });
}

// The user id and address a notification error recorded ("" when absent).
void getNotificationInfoViaPublicationError(std::int32_t pubErrorID, std::string& userID, std::string& address) {
  Guarded(kSource + "GetNotificationInfoViaPublicationError", [&] {
    userID.clear();
    address.clear();
    std::shared_ptr<Dictionary> reps;
    PublicationErrorHandling::GetReplacementsFromTable(reps, "PUBLICATIONERRORS", pubErrorID);
    if (!reps) return;
    userID = reps->Item("[%USERID%]").text();
    address = reps->Item("[%EMAILADDRESS%]").text();
  });
}

// Whether the publication error records a failed notification (of a
// recipient or of the copy list) of the document. Only such an error names
// a mail to send again, and only such an error may be closed by it.
const std::vector<std::string> kNotificationFailureLabels = {"SLBSH6082", "SLBSH6083"};

bool isNotificationErrorOf(std::int32_t pubErrorID, std::int32_t docID) {
  auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
      "SELECT DOCUMENTID, LABEL FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " + SqlLong(pubErrorID));
  bool found = false;
  if (!rs->EOF_()) {
    const Variant document = rs->Fields("DOCUMENTID").Value();
    const std::string label = text::UCase(text::Trim(rs->Fields("LABEL").Value().text()));
    found = !document.isNull() && !document.isEmpty() && document.toInt32() == docID &&
            std::find(kNotificationFailureLabels.begin(), kNotificationFailureLabels.end(), label) !=
                kNotificationFailureLabels.end();
  }
  DBUtils::CloseRecordset(rs);
  return found;
}

}  // namespace

// ---- public methods -----------------------------------------------------------------

void Notification::SendNotifications(std::int32_t i_lDocID) {
  Guarded(kSource + "SendNotifications", [&] {
    Document document;
    if (!document.GetShowFlag(i_lDocID)) return;
    Run run;
    run.docID = i_lDocID;
    run.docTypeID = document.GetDocumentTypeOfDocument(i_lDocID);
    readSender(run);
    HtmlFileCleanup cleanup(run.html);
    // The recipients and the copy list record their own failures; a
    // failure of either never stops the next step.
    Lists lists;
    lists.toListFinal = true;
    try {
      lists.toList = sendNotificationToRecipients(run);
    } catch (...) {
    }
    try {
      lists.ccList = sendNotificationToCc(run, false);
    } catch (...) {
    }
    sendNotificationToSender(run, lists);
  });
}

bool Notification::GetNotificationProperties(std::int32_t i_lBPID, std::int32_t i_lDocID,
                                             std::uint8_t i_yNotificationMode, std::string& o_sSubject,
                                             std::string& o_sBody, std::string& o_sCc, bool& o_bCcDoc, bool& o_bCcAtt,
                                             const std::string& i_sToList, const std::string& i_sCcList) {
  return Guarded(kSource + "GetNotificationProperties", [&] {
    Texts texts;
    Lists lists{i_sToList, i_sCcList, false};
    bool found = notificationProperties(i_lBPID, i_lDocID, i_yNotificationMode, lists, texts);
    o_sSubject = texts.subject;
    o_sBody = texts.body;
    o_sCc = texts.cc;
    o_bCcDoc = texts.ccDoc;
    o_bCcAtt = texts.ccAtt;
    return found;
  });
}

void Notification::ReSendNotification(std::int32_t i_lDocID, const std::string& i_sDocTypeID,
                                      std::int32_t i_lPubErrorID) {
  Guarded(kSource + "ReSendNotification", [&] {
    if (!isNotificationErrorOf(i_lPubErrorID, i_lDocID))
      throw Error(InvalidParamValue, kSource + "ReSendNotification",
                  "The publication error " + std::to_string(i_lPubErrorID) +
                      " is not a failed notification of document " + std::to_string(i_lDocID) + ".");
    Run run;
    run.docID = i_lDocID;
    run.docTypeID = i_sDocTypeID;
    readSender(run);
    HtmlFileCleanup cleanup(run.html);
    std::string userID, address;
    getNotificationInfoViaPublicationError(i_lPubErrorID, userID, address);
    if (!userID.empty())
      sendNotificationToRecipient(run, userID);
    else
      sendNotificationToCc(run, true);
    Collaboration().ClosePublicationErrors(i_lPubErrorID, i_lDocID);
  });
}

std::shared_ptr<Recordset> Notification::getRecipientsWithNotification(std::int32_t i_lDocID,
                                                                       const std::string& i_sDocTypeID,
                                                                       std::int32_t i_lBP) {
  return Guarded(kSource + "getRecipientsWithNotification", [&] { return recipients(i_lDocID, i_sDocTypeID, i_lBP); });
}

bool Notification::RecipientsWithNotificationExist(std::int32_t i_lDocID, const std::string& i_sDocTypeID,
                                                   std::int32_t i_lBP) {
  return Guarded(kSource + "RecipientsWithNotificationExist", [&] {
    auto rs = recipients(i_lDocID, i_sDocTypeID, i_lBP);
    bool exist = !rs->EOF_();
    DBUtils::CloseRecordset(rs);
    return exist;
  });
}

// ---- registration -------------------------------------------------------------------

const ClassInfo* Notification::classInfo() const {
  using N = Notification;
  static const ClassInfo* info =
      ClassBuilder<Notification>("Quillon.Notification")
          .bind<&N::SendNotifications>("SendNotifications", {"i_lDocID"})
          .bind<&N::GetNotificationProperties>(
              "GetNotificationProperties",
              {"i_lBPID", "i_lDocID", "i_yNotificationMode", out("o_sSubject"), out("o_sBody"), out("o_sCc"),
               out("o_bCcDoc"), out("o_bCcAtt"), opt("i_sToList", ""), opt("i_sCcList", "")})
          .bind<&N::ReSendNotification>("ReSendNotification", {"i_lDocID", "i_sDocTypeID", "i_lPubErrorID"})
          .bind<&N::CanAddNotificationTemplate>("CanAddNotificationTemplate", {"i_sDocTypeID", "i_lBPID"})
          .bind<&N::AddNotificationTemplate>("AddNotificationTemplate",
                                             {"i_sDocTypeID", "i_lBPID", "i_yNotificationMode", "i_sSubject",
                                              "i_sBody", "i_bCcDoc", "i_bCcAtt"})
          .bind<&N::UpdateNotificationTemplate>("UpdateNotificationTemplate",
                                                {"i_sDocTypeID", "i_lBPID", "i_yNotificationMode", "i_sSubject",
                                                 "i_sBody", "i_bCcDoc", "i_bCcAtt"})
          .bind<&N::DeleteNotificationTemplate>("DeleteNotificationTemplate",
                                                {"i_sDocTypeID", "i_lBPID", "i_yNotificationMode"})
          .bind<&N::GetNotificationTemplateProperties>(
              "GetNotificationTemplateProperties",
              {"i_sDocTypeID", "i_lBPID", "i_yNotificationMode", out("o_sSubject"), out("o_sBody"), out("o_bCcDoc"),
               out("o_bCcAtt")})
          .bind<&N::GetDefaultNotificationTemplateProperties>(
              "GetDefaultNotificationTemplateProperties",
              {"i_sDocTypeID", "i_lBPID", "i_yNotificationMode", out("o_sSubject"), out("o_sBody"), out("o_bCcDoc"),
               out("o_bCcAtt")})
          .bind<&N::IsDefaultNotificationTemplate>("IsDefaultNotificationTemplate",
                                                   {"i_sDocTypeID", "i_lBPID", "i_yNotificationMode"})
          .bind<&N::AddNotificationEmail>("AddNotificationEmail",
                                          {"i_lBPID", "i_lDocID", "i_yNotificationMode", "i_sSubject", "i_sBody",
                                           "i_sCc", "i_bCcDoc", "i_bCcAtt"})
          .bind<&N::UpdateNotificationEmail>("UpdateNotificationEmail",
                                             {"i_lBPID", "i_lDocID", "i_yNotificationMode", "i_sSubject", "i_sBody",
                                              "i_sCc", "i_bCcDoc", "i_bCcAtt"})
          .bind<&N::DeleteNotificationEmail>("DeleteNotificationEmail", {"i_lBPID", "i_lDocID", "i_yNotificationMode"})
          .bind<&N::IsValidSubjectForNotificationTemplate>(
              "IsValidSubjectForNotificationTemplate",
              {"i_sDocTypeID", "i_lBPID", "i_yNotificationMode", "i_sSubject", out("o_sInvalidCodes")})
          .bind<&N::IsValidSubjectForNotificationEmail>("IsValidSubjectForNotificationEmail",
                                                        {"i_sSubject", out("o_sInvalidCodes")})
          .bind<&N::IsValidBodyForNotificationTemplate>(
              "IsValidBodyForNotificationTemplate",
              {"i_sDocTypeID", "i_lBPID", "i_yNotificationMode", "i_sBody", out("o_sInvalidCodes")})
          .bind<&N::IsValidBodyForNotificationEmail>("IsValidBodyForNotificationEmail",
                                                     {"i_sBody", out("o_sInvalidCodes")})
          .bind<&N::getRecipientsWithNotification>("getRecipientsWithNotification",
                                                   {"i_lDocID", "i_sDocTypeID", "i_lBP"})
          .bind<&N::RecipientsWithNotificationExist>("RecipientsWithNotificationExist",
                                                     {"i_lDocID", "i_sDocTypeID", "i_lBP"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Notification().classInfo(), true);
}

}  // namespace quillon
