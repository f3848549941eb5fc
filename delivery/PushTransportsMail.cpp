// Mail transports: the document as a mail attachment to a partner's
// address or portal user, and the same through a mail-to-fax gateway.
#include <optional>

#include "delivery/PushTransports.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/Lookups.h"
#include "imports/B2BExcel.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "platform/Object.h"
#include "platform/Spreadsheet.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace quillon::push {

namespace {

// Mails the document's file (and, with the extended properties asking for
// them, its attachments) to the send method's recipient, from the
// document's sender.
void sendMail(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended* a,
              const std::string& source) {
  std::string recipient, from, file;
  const std::string id = std::to_string(docID);
  General::Guarded(
      source,
      [&] {
        return I18N::LabelWith("SLBSH4232", {{"[%RECIPIENTS%]", recipient}}) + " " +
               I18N::LabelWith("SLBSH4233", {{"[%SENDER%]", from}}) + " " +
               I18N::LabelWith("SLBSH4234", {{"[%ATTACHMENT%]", file}}) + " " +
               I18N::LabelWith("SLBSH4228", {{"[%DOCID%]", id}}) + " ";
      },
      [&] {
        // Without a file the mail would carry nothing of the document and
        // still count as sent.
        if (p.nFormat != ESendMethodFormat::XML && p.nFormat != ESendMethodFormat::Excel)
          FormatNotSupported(value(p.nFormat), source);
        Utility utility;
        std::string subject;
        if (!p.sUser.empty()) {
          auto user = utility.GetAUObject(p.sUser);
          recipient = user->EmailAddress();
          auto values = std::make_shared<Dictionary>();
          values->Add("[%DOCID%]", Variant(id));
          subject = I18N::GetLabelWithReplacements("SLBSH4228", user->LanguageID(), values);
        } else {
          recipient = p.sAddress;
          subject = I18N::LabelWith("SLBSH4228", {{"[%DOCID%]", id}});
        }
        const std::string sender = text::Trim(
            Lookups::FirstValue("SELECT SENDER FROM DOCUMENT WHERE DOCUMENTID = " + Encoding::SqlLong(docID)).text());
        from = utility.GetAUEmailAddress(sender);

        // Attachments are looked up before any file is written.
        std::vector<std::string> attachments;
        if (a && AttachmentsWanted(*a))
          for (const Attachment& att : DocumentAttachments(docID, sender, "SendByEmail2"))
            attachments.push_back(att.storedFile);

        // The file carries the name the recipient sees, in a working
        // folder of this mail alone.
        std::optional<WorkFolder> work;
        if (p.nFormat == ESendMethodFormat::XML) {
          const std::string name = GetSendMethodOutputFileName(docID, p);
          work.emplace(TempFolder());
          file = utility.WriteXMLFileToDiskAsciiOrUnicode(DataText(data), work->File(name),
                                                          p.nFileFormat == ESendMethodFileFormat::Unicode);
        } else if (auto book = data.as<spreadsheet::Workbook>()) {
          const std::string name = GetSendMethodOutputFileName(docID, p);
          work.emplace(ExcelTempFolder());
          file = work->File(name);
          WorkbookPtr workbook = book;
          B2BExcel excel;
          excel.WriteExcelObjectToFile(workbook, file, true);
        } else {
          file = TemplateCopy(p);
        }

        try {
          if (attachments.empty())
            utility.SendEmail(from, recipient, subject, "", "", file);
          else
            utility.SendEmailWithAttachments(from, recipient, subject, "", "", file,
                                             Variant(VariantArray::ofStrings(attachments)));
        } catch (...) {
          DeleteQuietly(file);
          throw;
        }
        // The mail is out: a file that cannot be deleted is logged, the
        // delivery stays a success.
        try {
          utility.DeleteXMLFileFromDisk(file);
        } catch (...) {
          General::LogError(source);
        }
      });
}

// The fax number in sAddress as the gateway's mail address.
std::string faxGateway(TSendMethodProperties& p) {
  const std::string gateway = DBUtils::GetParameter("FaxServer");
  p.sAddress = p.sAddress + "@" + gateway;
  return gateway;
}

std::string faxInfo(const std::string& gateway, std::int32_t docID) {
  return I18N::LabelWith("SLBSH4227", {{"[%FAXSERVER%]", gateway}}) + " " +
         I18N::LabelWith("SLBSH4228", {{"[%DOCID%]", std::to_string(docID)}}) + " ";
}

}  // namespace

void SendByEmail2(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a) {
  sendMail(docID, data, p, &a, "Quillon.PushDocUtils.SendByEmail2");
}

void SendByEmail(std::int32_t docID, const Variant& data, TSendMethodProperties& p) {
  sendMail(docID, data, p, nullptr, "Quillon.PushDocUtils.SendByEmail");
  General::LogError("Quillon.PushDocUtils.SendByEmail", "This function is not supported any more, use SendByEmail2");
}

void SendByFax2(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a) {
  std::string gateway;
  General::Guarded(
      "Quillon.PushDocUtils.SendByFax", [&] { return faxInfo(gateway, docID); },
      [&] {
        gateway = faxGateway(p);
        SendByEmail2(docID, data, p, a);
      });
}

void SendByFax(std::int32_t docID, const Variant& data, TSendMethodProperties& p) {
  std::string gateway;
  General::Guarded(
      "Quillon.PushDocUtils.SendByFax", [&] { return faxInfo(gateway, docID); },
      [&] {
        gateway = faxGateway(p);
        SendByEmail(docID, data, p);
      });
  General::LogError("Quillon.PushDocUtils.SendByFax", "This function is not supported any more, use SendByFax2");
}

}  // namespace quillon::push
