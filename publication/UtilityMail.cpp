// Utility: mails about documents, their subjects and bodies, and the links
// back to the portal.
#include <optional>
#include <vector>

#include "document/Document.h"
#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "delivery/PushDocUtils.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/FileStore.h"
#include "platform/Mail.h"
#include "platform/Text.h"
#include "publication/Attachments.h"
#include "publication/SenderList.h"
#include "publication/Utility.h"
#include "publication/UtilityInternal.h"

namespace quillon {

using General::Guarded;
using text::vbCrLf;
using utility_detail::LastPart;
using utility_detail::LocalFile;

namespace {

constexpr std::int32_t kSenderMode = static_cast<std::int32_t>(SENDERMODE::SENDERMODE);
constexpr std::int32_t kReceiverMode = static_cast<std::int32_t>(SENDERMODE::RECEIVERMODE);
constexpr std::int32_t kErrorMode = static_cast<std::int32_t>(SENDERMODE::ERRORMODE);

// A language handed in as text ("1033"); anything unreadable is 0, which
// the label look-up takes as 1033.
long languageOf(const std::string& id) {
  try {
    return text::Trim(id).empty() ? 0 : Variant(id).toInt32();
  } catch (const Error&) {
    return 0;
  }
}

std::string label(const std::string& key, long language) { return I18N::GetLabelForLocale(key, language); }

// A label in a language with its placeholders filled (letter case ignored).
std::string LocaleLabelWith(long language, const std::string& key,
                            std::initializer_list<std::pair<std::string, std::string>> values) {
  std::string result = I18N::GetLabelForLocale(key, language);
  for (const auto& [placeholder, value] : values) result = text::Replace(result, placeholder, value, -1, true);
  return result;
}

std::string blanksEncoded(const std::string& link) { return text::Replace(link, " ", "%20"); }

// The mail relay delivered to some recipients but refused others: the
// caller hears of it, naming the refused addresses.
void requireEveryRecipient(const mail::SendResult& r, const std::string& source) {
  if (r.refused.empty()) return;
  std::string accepted;
  for (const auto& a : r.accepted) accepted += (accepted.empty() ? "" : ", ") + a;
  throw Error(hr::kMailRecipientsRejected, source,
              "The mail relay refused some recipients: " + r.refusedText() + ". The message went to the others (" +
                  accepted + ").");
}

// The files attached to a document as paths (folder + document ID + "\" +
// name); empty when the attachments folder is not usable (logged) or the
// document has none. A stored name that is not a plain file name would
// point outside the document's folder and is left out (logged).
std::vector<std::string> documentAttachmentFiles(const std::string& sender, std::int32_t docID, const std::string& source) {
  std::vector<std::string> files;
  Attachments attachments;
  std::string url, folder;
  if (!attachments.GetAttachmentUrlAndFolder(url, folder)) {
    General::LogError(source, I18N::LabelWith("SLBSH5071", {{"[%PARAMNAME%]", "AttachmentsVirtualPath"}}));
    return files;
  }
  auto rs = attachments.GetDocumentAttachmentsBySenderRS(sender, docID);
  for (; !rs->EOF_(); rs->MoveNext()) {
    std::string name = rs->Fields("ATTACHMENTFILENAME").Value().text();
    if (!Attachments::IsPlainFileName(name)) {
      General::LogError(source, "The attachment '" + name + "' of document " + std::to_string(docID) +
                                    " is not a plain file name and is not sent.");
      continue;
    }
    files.push_back(text::JoinPath(folder, std::to_string(docID)) + "\\" + name);
  }
  return files;
}

Variant pathList(const std::vector<std::string>& files) { return Variant(VariantArray::ofStrings(files)); }

// Deletes a temporary file the method made, also when it fails; a failure
// of the deletion itself is logged by DeleteXMLFileFromDisk and must not
// hide the method's own outcome.
struct TemporaryFiles {
  Utility& u;
  std::vector<std::string> files;
  ~TemporaryFiles() {
    for (const auto& f : files) {
      if (text::Trim(f).empty()) continue;
      try {
        u.DeleteXMLFileFromDisk(f);
      } catch (...) {
      }
    }
  }
};

}  // namespace

// ---- sending ----------------------------------------------------------------------

void Utility::SendEmail(const std::string& iSender, const std::string& iReceiver, const std::string& iSubject,
                        const std::string& iBody, const std::string& iHTMLFileName, const std::string& iXMLFileName) {
  const std::string source = "Quillon.Utility.SendEmail";
  Guarded(source, [&] {
    if (text::Trim(iSender).empty()) throw Error(MissingEmailSenderError, "Utility", "The Sender is missing.");
    if (text::Trim(iReceiver).empty()) throw Error(MissingEmailReceiverError, "Utility", "The Receiver is missing.");
    mail::OutgoingMail m;
    m.from = iSender;
    m.to = iReceiver;
    m.subject = iSubject;
    m.body = iBody;
    for (const std::string* file : {&iHTMLFileName, &iXMLFileName})
      if (!text::Trim(*file).empty()) m.attachments.push_back({LocalFile(*file, source).string(), LastPart(*file)});
    requireEveryRecipient(mail::SendMail(m), source);
  });
}

void Utility::SendEmailWithAttachments(const std::string& iSender, const std::string& iReceiver,
                                       const std::string& iSubject, const std::string& iBody,
                                       const std::string& iHTMLFileName, const std::string& iXMLFileName,
                                       const Variant& i_aAttachment) {
  const std::string source = "Quillon.Utility.SendEmailWithAttachments";
  Guarded(source, [&] {
    std::vector<Variant> args{Variant(iSender),       Variant(iReceiver),    Variant(iSubject),   Variant(iBody),
                              Variant(iHTMLFileName), Variant(iXMLFileName), i_aAttachment};
    General::RequireComponent("Shale.File", source)->invoke("SendMail", args);
  });
}

void Utility::sendEmailByGettingHTMLAndXML(const std::string& iFrom, const std::string& iBcc, const std::string& iBody,
                                           const std::string& iSubject, const std::string& iDocID,
                                           const std::string& iDocType, const std::string& iXMLStr,
                                           const std::string& iCcList, bool iAddHtmlDocToCcList,
                                           std::int32_t iSenderMode, std::int32_t iLanguageID) {
  Guarded("Quillon.Utility.sendEmailByGettingHTMLAndXML", [&] {
    TemporaryFiles made{*this, {}};
    const bool hasDocument = !text::Trim(iDocID).empty();
    const std::int32_t docID = hasDocument ? Variant(iDocID).toInt32() : 0;
    std::string htmlFile, xmlFile;
    if (hasDocument) {
      htmlFile = getHTMLAttachmentByUsingXML(docID, iDocType, iXMLStr);
      made.files.push_back(htmlFile);
    }
    if (!iXMLStr.empty()) {
      xmlFile = WriteXMLFileToDisk(iXMLStr, text::Trim(iDocID) + ".xml");
      made.files.push_back(xmlFile);
    }
    std::string body = iBody;
    if (iSenderMode != -1) {
      // The reader sees the document from the other side.
      std::int32_t mode = iSenderMode == 0 ? 1 : iSenderMode == 1 ? 0 : iSenderMode;
      std::string link = blanksEncoded(getDocumentHyperlinkBySenderMode(docID, iDocType, mode));
      body = iBody + vbCrLf + vbCrLf + label("SLBSH1717", iLanguageID) + ":" + vbCrLf + link;
    }
    SendEmail(iFrom, iBcc, iSubject, body, htmlFile, xmlFile);
    if (!text::Trim(iCcList).empty()) SendEmail(iFrom, iCcList, iSubject, body, iAddHtmlDocToCcList ? htmlFile : "", "");
  });
}

void Utility::SendEmailToSender(std::int32_t iDocID, const std::string& iSubject, const std::string& iBody,
                                bool iAddHtmlAttachment, const std::string& iToRecipientList,
                                const std::string& iCcRecipientList) {
  const std::string source = "Quillon.Utility.SendEmailToSender";
  Guarded(
      source, [&] { return "DocumentID: '" + std::to_string(iDocID) + "'"; },
      [&] {
        Document document;
        std::string type = document.GetDocumentTypeOfDocument(iDocID);
        std::string sender = document.GetSenderOfDocument(iDocID);
        bool notification = false, attachments = false, htmlAttachment = false;
        std::string xsl;
        SenderList().GetNotification2(type, sender, notification, attachments, htmlAttachment, xsl);
        if (!notification) return;
        std::vector<std::string> files;
        if (attachments) files = documentAttachmentFiles(sender, iDocID, source);
        auto user = GetAUObject(sender);
        std::string address = user->EmailAddress();
        std::int32_t language = user->LanguageID();
        std::string subject = GetSubject(std::to_string(language), iSubject, type, kSenderMode);
        std::string body = GetBody(language, iDocID, type, kSenderMode, iBody, false, iToRecipientList, iCcRecipientList);
        TemporaryFiles made{*this, {}};
        std::string htmlFile;
        if (!text::Trim(xsl).empty() && (iAddHtmlAttachment || htmlAttachment)) {
          htmlFile = getHTMLAttachment(iDocID);
          made.files.push_back(htmlFile);
        }
        if (!files.empty())
          SendEmailWithAttachments(address, address, subject, body, htmlFile, "", pathList(files));
        else
          SendEmail(address, address, subject, body, htmlFile, "");
      });
}

void Utility::SendEmailToRecipients(std::int32_t iDocID, const std::string& iCcRecipientList,
                                    const std::string& iSubject, const std::string& iBody, bool iAddHtmlAttachment) {
  Guarded("Quillon.Utility.SendEmailToRecipients", [&] {
    SendEmailToRecipientsEx(iDocID, nullptr, iCcRecipientList, iSubject, iBody, iAddHtmlAttachment, false, false, true);
  });
}

void Utility::SendEmailToRecipientsEx(std::int32_t iDocID, const std::shared_ptr<Dictionary>& iUserIDs,
                                      const std::string& iCcRecipientList, const std::string& iSubject,
                                      const std::string& iBody, bool iAddHtmlAttachment, bool iSkipTo, bool iSkipCC,
                                      bool iUsePublicationUsersOnly) {
  const std::string source = "Quillon.Utility.SendEmailToRecipientsEx";
  Guarded(
      source, [&] { return "DocumentID: '" + std::to_string(iDocID) + "'"; },
      [&] {
        if (iSkipTo && iSkipCC) return;
        Document document;
        std::string type = document.GetDocumentTypeOfDocument(iDocID);
        GetDocumentTypeDescription(type);  // an unreadable type fails here, before any mail
        std::string sender = document.GetSenderOfDocument(iDocID);
        auto senderUser = GetAUObject(sender);
        const std::string from = senderUser->EmailAddress();
        const std::int32_t senderLanguage = senderUser->LanguageID();
        const std::vector<std::string> files = documentAttachmentFiles(sender, iDocID, source);

        // The HTML rendering is made the first time a mail needs it and
        // goes with every later mail; it is deleted at the end, whatever
        // happens.
        TemporaryFiles made{*this, {}};
        std::optional<std::string> html;
        auto htmlFile = [&]() -> std::string {
          if (!html) {
            html = getHTMLAttachment(iDocID);
            made.files.push_back(*html);
          }
          return *html;
        };

        if (!iSkipTo) {
          auto rs = iUsePublicationUsersOnly ? GetRecipientsFromPublicationTable(iDocID, type, true)
                                             : GetRecipientsFromPublicationTableByUsers(iDocID, type, true, iUserIDs);
          for (; !rs->EOF_(); rs->MoveNext()) {
            std::string userID;
            std::shared_ptr<DirectoryUser> user;
            try {
              userID = rs->Fields("USERID").Value().text();
              user = GetAUObject(userID);
              std::int32_t language = user->LanguageID();
              std::string subject = GetSubject(std::to_string(language), iSubject, type, kReceiverMode);
              std::string body = GetBody(language, iDocID, type, kReceiverMode, iBody, false, "", "");
              std::string attachedHtml;
              if (rs->Fields("HTMLATTACHMENT").Value().toBool() &&
                  !text::Trim(rs->Fields("HTMLATTACHMENTXSL").Value().text()).empty())
                attachedHtml = htmlFile();
              if (!files.empty() && rs->Fields("ATTACHMENTS").Value().toBool())
                SendEmailWithAttachments(from, user->EmailAddress(), subject, body, attachedHtml, "", pathList(files));
              else
                SendEmail(from, user->EmailAddress(), subject, body, attachedHtml, "");
            } catch (...) {
              // One recipient's failure is recorded for the error box; the
              // others still get their mails.
              ErrorInfo e = ErrorInfo::current();
              long language = user ? user->LanguageID() : senderLanguage;
              std::string who = user ? user->cn() : userID;
              try {
                PublicationErrorHandling::LogPublicationError(
                    iDocID, e.number, e.description + vbCrLf + label("SLBSH0001", language) + ": '" + who + "'",
                    "Quillon.Utility.SendEmailToRecipients", "SLBSH1817");
              } catch (...) {
                // Not even the error record could be written: the log keeps the trace.
                General::LogError(source, "The mail to '" + who + "' failed: " + e.description);
              }
            }
          }
        }

        if (!iSkipCC && !text::Trim(iCcRecipientList).empty()) {
          std::string attachedHtml;
          if (iAddHtmlAttachment && !text::Trim(GetHtmlAttachmentXsl(type)).empty()) attachedHtml = htmlFile();
          std::string subject = GetSubject(std::to_string(senderLanguage), iSubject, type, kReceiverMode);
          std::string body = GetBody(senderLanguage, iDocID, type, kReceiverMode, iBody, true, "", "");
          if (!files.empty())
            SendEmailWithAttachments(from, iCcRecipientList, subject, body, attachedHtml, "", pathList(files));
          else
            SendEmail(from, iCcRecipientList, subject, body, attachedHtml, "");
        }
      });
}

void Utility::SendEmailToAdministrator(const std::string& i_oFileName) {
  const std::string source = "Quillon.Utility.SendEmailToAdministrator";
  // Called from error handlers: the caller's pending error is the
  // exception it is handling, which nothing here replaces.
  Guarded(source, [&] {
    std::string admin;
    try {
      admin = DBUtils::GetParameter("AdminEmailAddress");
    } catch (...) {
      General::LogError(source, I18N::GetLabel("SLBSH4104"));
      return;
    }
    if (text::Trim(admin).empty()) {
      // An empty address cannot be mailed: the same case as a missing one.
      General::LogError(source, I18N::GetLabel("SLBSH4104"));
      return;
    }
    SendEmail(admin, admin, label("SLBSH4100", 1033), I18N::LabelWith("SLBSH4103", {{"[%FILENAME%]", i_oFileName}}), "",
              "");
  });
}

// ---- subjects and bodies ----------------------------------------------------------------

std::string Utility::GetSubject(const std::string& iLanguageID, const std::string& iSubject,
                                const std::string& iDocTypeID, std::int32_t iSenderMode) {
  return Guarded("Quillon.Utility.GetSubject", [&] {
    const long language = languageOf(iLanguageID);
    const bool sender = iSenderMode == kSenderMode;
    auto typed = [&](const std::string& key) {
      return label(key, language) + ", " + label("SLBSH1907", language) + " '" +
             GetDocumentTypeDescription(iDocTypeID) + "'";
    };
    if (sender && (iSubject.empty() || iSubject == label("SLBSH1712", language))) return typed("SLBSH5530");
    if (!iSubject.empty()) return iSubject;
    return typed("SLBSH1712");
  });
}

std::string Utility::GetDefaultBody(std::int32_t iLanguageID, std::int32_t iDocID, const std::string& iDocTypeID,
                                    const std::string& iBody) {
  return Guarded("Quillon.Utility.GetDefaultBody", [&] {
    if (!iBody.empty()) return iBody + vbCrLf + vbCrLf;
    return label("SLBSH1714", iLanguageID) + " " + std::to_string(iDocID) + " (" + label("SLBSH1907", iLanguageID) +
           " '" + GetDocumentTypeDescription(iDocTypeID) + "') " + label("SLBSH1713", iLanguageID) + vbCrLf + vbCrLf;
  });
}

std::string Utility::GetBody(std::int32_t iLanguageID, std::int32_t iDocID, const std::string& iDocTypeID,
                             std::int32_t iSenderMode, const std::string& iBody, bool iCcFlag,
                             const std::string& iToRecipientList, const std::string& iCcRecipientList) {
  return Guarded("Quillon.Utility.GetBody", [&] {
    std::string body = GetDefaultBody(iLanguageID, iDocID, iDocTypeID, iBody);
    if (!iCcFlag) {
      std::string link = blanksEncoded(getDocumentHyperlinkBySenderMode(iDocID, iDocTypeID, iSenderMode));
      body += LocaleLabelWith(iLanguageID, "SLBSH4485", {{"[%SITELINK%]", link}}) + vbCrLf + vbCrLf;
    }
    if (iSenderMode == kSenderMode) {
      std::string to = iToRecipientList.empty() ? GetToRecipientList(iDocID, iDocTypeID) : iToRecipientList;
      if (!to.empty()) body += LocaleLabelWith(iLanguageID, "SLBSH4483", {{"[%TORECIPIENTS%]", to}}) + vbCrLf;
      if (!iCcRecipientList.empty())
        body += LocaleLabelWith(iLanguageID, "SLBSH4484", {{"[%CCRECIPIENTS%]", iCcRecipientList}}) + vbCrLf + vbCrLf;
      else
        body += vbCrLf;
      if (CheckPublicationErrors(iDocID)) {
        std::string errorLink = blanksEncoded(getDocumentHyperlinkBySenderMode(iDocID, iDocTypeID, kErrorMode));
        body += label("SLBSH1715", iLanguageID) + ". " +
                LocaleLabelWith(iLanguageID, "SLBSH4486", {{"[%SITEERRORLINK%]", errorLink}}) + vbCrLf;
      }
    }
    return body;
  });
}

// ---- links -----------------------------------------------------------------------------

std::string Utility::getPagePath() {
  return Guarded("Quillon.Utility.getPagePath", [&] {
    std::string path = DBUtils::GetParameter("SiteLink");
    if (path.empty() || path.back() != '/') path += '/';
    return path;
  });
}

std::string Utility::getECollPath() {
  return Guarded("Quillon.Utility.getECollPath", [&] {
    std::string path = DBUtils::GetParameter("SiteLinkStartingPoint");
    if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
  });
}

std::string Utility::getReceiveUrl() {
  return Guarded("Quillon.Utility.getReceiveUrl", [&] {
    auto cfg = General::RequireComponent<Configuration>("Basalt.Configuration", "Quillon.Utility.getReceiveUrl");
    cfg->Load(General::getSiteConfigFile());
    return cfg->GetValue("GLOBAL", "ReceiveUrl").text();
  });
}

std::string Utility::getDocumentHyperlinkBySenderMode(std::int32_t iDocID, const std::string& iDocTypeID,
                                                      std::int32_t iSenderMode) {
  return Guarded("Quillon.Utility.getDocumentHyperlinkBySenderMode", [&] {
    std::string page = getPagePath();
    std::string start = getECollPath();
    // The page path ends in "/": a starting point that begins with one
    // would double it.
    if (!start.empty() && (start.front() == '/' || start.front() == '\\')) start.erase(0, 1);
    return page + start + "?DocID=" + std::to_string(iDocID) +
           "&DocTypeID=" + PushDocUtils().URLEncode(text::Trim(iDocTypeID)) +
           "&SenderMode=" + std::to_string(iSenderMode);
  });
}

}  // namespace quillon
