#include "publication/PublishForwardDocument.h"

#include <memory>
#include <string>
#include <vector>

#include "document/Document.h"
#include "document/OBI.h"
#include "foundation/ConnectionScope.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/Lookups.h"
#include "foundation/PublicationErrorHandling.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

const std::string kMain2 = "Quillon.PublishForwardDocument.Main2";

// A failure after the new document exists concerns that document only: it
// is recorded for its error box, and a failure to record it is logged.
void recordError(std::int32_t docID, std::int32_t number, const std::string& text, const std::string& category) {
  try {
    PublicationErrorHandling::LogPublicationError(docID, number, text, kMain2, category);
  } catch (...) {
    General::LogError(kMain2, "Could not record a publication error for document " + std::to_string(docID) + ": " + text);
  }
}

// The source document's attachment folder is copied beside it, and then its
// attachment rows become the new document's: a copy that fails leaves the
// new document no rows naming files it does not have.
void copyAttachments(std::int32_t sourceID, std::int32_t newID, const std::string& attachmentPath) {
  // The store reaches shares and local folders alike; the folder names are
  // the two document ids, so the copy stays below the attachment path.
  const std::string from = text::JoinPath(attachmentPath, std::to_string(sourceID));
  const std::string to = text::JoinPath(attachmentPath, std::to_string(newID));
  FileStore store;
  if (store.FolderExists(from)) store.CopyFolder(from, to, true);

  std::vector<std::string> names;
  {
    ConnectionScope conn;
    auto rs = conn.get()->Execute(std::string("SELECT ATTACHMENTFILENAME ") + "FROM ATTACHMENT " +
                                  "WHERE DOCUMENTID = " + SqlLong(sourceID));
    for (; !rs->EOF_(); rs->MoveNext()) names.push_back(rs->Fields("ATTACHMENTFILENAME").Value().text());
    rs->Close();
  }
  if (!names.empty()) {
    ConnectionScope conn;
    auto rows = OpenForUpdate("SELECT * FROM ATTACHMENT WHERE ATTACHMENTID = -1", conn.get());
    for (const std::string& name : names) {
      rows->AddNew();
      rows->Fields("DOCUMENTID").SetValue(Variant(newID));
      rows->Fields("ATTACHMENTFILENAME").SetValue(Variant(name));
      rows->Update();
    }
    rows->Close();
  }
}

}  // namespace

std::int32_t PublishForwardDocument::Main(std::int32_t iDocID, const std::string& iUser, const std::string& iAttPath) {
  General::LogError("Quillon.PublishForwardDocument.Main", "Function 'Main' is deprecated: instead use 'Main2'");
  return -1;
}

std::int32_t PublishForwardDocument::Main2(std::int32_t iDocID, const std::string& iNewDocTypeID,
                                           const std::string& iUser, const std::string& iAttPath) {
  enum class Stage { Read, Partner, Create, Other } stage = Stage::Read;
  std::string sourceType, sourceSender;
  std::int32_t partnerID = 0;
  return Guarded(
      kMain2,
      [&]() -> std::string {
        switch (stage) {
          case Stage::Read: return I18N::LabelWith("SLBSH4307", {{"[%DOCTYPEID%]", std::to_string(iDocID)}});
          case Stage::Partner:
            return I18N::LabelWith("SLBSH4306", {{"[%ID%]", sourceSender}, {"[%DOCTYPEID%]", sourceType}});
          case Stage::Create:
            return I18N::LabelWith("SLBSH4305", {{"[%TYPE%]", sourceType}, {"[%BP%]", std::to_string(partnerID)}});
          case Stage::Other: break;
        }
        return I18N::LabelWith("SLBSH4308", {{"[%DOCID%]", std::to_string(iDocID)}});
      },
      [&]() -> std::int32_t {
        // 1. The source document.
        std::string xml;
        {
          ConnectionScope conn;
          auto rs = conn.get()->Execute("Select DOCUMENTTYPEID, SENDER, XMLBODY, DEFAULTRECEIVER from DOCUMENT where DOCUMENTID = " +
                                        SqlLong(iDocID));
          if (rs->EOF_())
            throw Error(DocumentIDNotInDatabase, "Quillon.PublishForwardDocument",
                        "Document with documentID = " + std::to_string(iDocID) + "doesn't exist.");
          sourceType = rs->Fields("DOCUMENTTYPEID").Value().text();
          sourceSender = rs->Fields("SENDER").Value().text();
          xml = rs->Fields("XMLBODY").Value().text();
          rs->Close();
        }
        // 2. An OBI document stays where it is.
        if (OBI().GetObiDocumentInfo(nullptr, xml))
          throw Error(CannotLoadFile, kMain2, I18N::GetLabel("SLBSH4303"));

        // 3. The partner of the source's sender.
        stage = Stage::Partner;
        Utility utility;
        partnerID = utility.GetAUBusinessPartnerID(sourceSender);

        // 4. The new document, taken in as for a portal user.
        stage = Stage::Create;
        std::string originalType = sourceType, chosenRecipient = iUser, type = iNewDocTypeID, sender = iUser,
                    defaultRecipient;
        std::int32_t newID = 0, senderBP = partnerID;
        std::int16_t status = 0;
        Document().ProcessDocument(-1, xml, originalType, chosenRecipient, newID, senderBP, type, sender,
                                   defaultRecipient, status, iDocID);

        // 5. Attachments; a failure is the new document's.
        stage = Stage::Other;
        try {
          copyAttachments(iDocID, newID, iAttPath);
        } catch (...) {
          const ErrorInfo e = ErrorInfo::current();
          recordError(newID, e.number,
                      e.description + text::vbCrLf + "Copy from document: '" + std::to_string(iDocID) + "'" +
                          text::vbCrLf + "Path : '" + iAttPath + "'",
                      "SLBSH1808");
        }

        // 6. The forwarding user's copy of the source is marked as forwarded.
        try {
          Lookups::Execute(std::string("UPDATE PUBLICATION ") + "Set FORWARD = 1 " + "WHERE (DOCUMENTID = " +
                           SqlLong(iDocID) + ") AND (USERID = " + SqlText(iUser) + ")");
        } catch (...) {
          const ErrorInfo e = ErrorInfo::current();
          recordError(newID, e.number, e.description, "SLBSH1814");
        }
        return newID;
      });
}

bool PublishForwardDocument::TransformExist(std::int32_t iDocID) {
  return Guarded("Quillon.PublishForwardDocument.TransformExist", [&] {
    return Lookups::HasRow(std::string("SELECT TABLEID FROM DOCUMENT, DOCTYPETODOCTYPE ") + "WHERE DOCUMENTID = " +
                           SqlLong(iDocID) + " AND " + "DOCUMENT.DOCUMENTTYPEID = DOCTYPETODOCTYPE.DOCUMENTTYPEID");
  });
}

void PublishForwardDocument::RemoveAllRecipientsForDocument(std::int32_t iDocID) {
  Guarded("Quillon.PublishForwardDocument.RemoveAllRecipientsForDocument",
          [&] { Lookups::Execute("DELETE FROM PUBLICATION WHERE DOCUMENTID = " + SqlLong(iDocID)); });
}

const ClassInfo* PublishForwardDocument::classInfo() const {
  using P = PublishForwardDocument;
  static const ClassInfo* info = ClassBuilder<PublishForwardDocument>("Quillon.PublishForwardDocument")
                                     .bind<&P::Main>("Main", {"iDocID", "iUser", "iAttPath"})
                                     .bind<&P::Main2>("Main2", {"iDocID", "iNewDocTypeID", "iUser", "iAttPath"})
                                     .bind<&P::TransformExist>("TransformExist", {"iDocID"})
                                     .bind<&P::RemoveAllRecipientsForDocument>("RemoveAllRecipientsForDocument", {"iDocID"})
                                     .done();
  return info;
}

namespace {
const bool kRegistered = (PublishForwardDocument().classInfo(), true);
}

}  // namespace quillon
