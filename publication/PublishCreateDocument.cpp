#include "publication/PublishCreateDocument.h"

#include <memory>
#include <vector>

#include "document/FileHandling.h"
#include "foundation/ConnectionScope.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/Text.h"
#include "publication/Attachments.h"

namespace quillon {

using General::Guarded;

namespace {

const std::string kCopySource = "Quillon.PublishCreateDocument.CopyAttachmentCollection";

// The paths of an attachments argument: a collection, or an array of paths.
std::vector<std::string> pathsOf(const Variant& attachments) {
  std::vector<std::string> paths;
  if (attachments.isEmpty() || attachments.isNull()) return paths;
  if (attachments.isArray()) {
    for (const Variant& item : attachments.array().elements()) paths.push_back(item.text());
    return paths;
  }
  if (attachments.isObject() && !attachments.isSetObject()) return paths;  // Nothing
  auto collection = attachments.as<Collection>();
  if (!collection) throw Error(hr::kTypeMismatch, kCopySource, "The attachments are not a collection of file paths.");
  for (long i = 1; i <= collection->Count(); ++i) paths.push_back(collection->Item(i).text());
  return paths;
}

// A failure about one document's attachments must not stop the others: it
// becomes a publication error, and a failure to record it is logged.
void recordError(std::int32_t docID, std::int32_t number, const std::string& text, const std::string& category) {
  try {
    PublicationErrorHandling::LogPublicationError(docID, number, text, kCopySource, category);
  } catch (...) {
    General::LogError(kCopySource, "Could not record a publication error for document " + std::to_string(docID) + ": " + text);
  }
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  for (const std::string& s : list)
    if (s == item) return true;
  return false;
}

}  // namespace

void PublishCreateDocument::CopyAttachmentCollection(std::int32_t i_lDocID, const Variant& i_oAttachments) {
  Guarded(kCopySource, [&] {
    const std::vector<std::string> paths = pathsOf(i_oAttachments);
    if (paths.empty()) return;

    Attachments attachments;
    std::string url, folder;
    ErrorInfo failure;
    if (!attachments.GetAttachmentUrlAndFolder(url, folder, failure)) {
      recordError(i_lDocID, failure.number, failure.description, "SLBSH1808");
      return;
    }
    const std::string documentFolder = folder + std::to_string(i_lDocID) + "\\";

    ConnectionScope conn;
    auto rows = OpenForUpdate("SELECT DOCUMENTID, ATTACHMENTFILENAME FROM ATTACHMENT WHERE 1=0", conn.get());
    FileHandling files;
    std::vector<std::string> seenPaths;  // lower case
    std::vector<std::string> usedNames;  // lower case, the names this call stored
    for (const std::string& path : paths) {
      const std::string key = text::LCase(path);
      if (contains(seenPaths, key)) continue;
      seenPaths.push_back(key);
      try {
        const std::string extension = files.GetFileExtension(path);
        std::string name = files.GetBaseName(path) + (extension.empty() ? "" : "." + extension);
        if (!Attachments::IsPlainFileName(name))
          throw Error(hr::kBadFileName, kCopySource, "The path does not name a file.");
        if (!files.FolderExists(documentFolder)) files.CreateFolderTree(documentFolder);
        // Two different files of the same name: the later one gets a name of
        // its own instead of replacing the earlier.
        std::string target = documentFolder + name;
        if (contains(usedNames, text::LCase(name))) {
          target = files.GetUniqueFileName(documentFolder, name);
          name = target.substr(documentFolder.size());
        }
        files.CopyFile(path, target, true);
        usedNames.push_back(text::LCase(name));
        rows->AddNew();
        rows->Fields("DOCUMENTID").SetValue(Variant(i_lDocID));
        rows->Fields("ATTACHMENTFILENAME").SetValue(Variant(name));
        rows->Update();
      } catch (...) {
        const ErrorInfo error = ErrorInfo::current();
        recordError(i_lDocID, error.number,
                    error.description + text::vbCrLf + I18N::GetLabelForLocale("SLBSH0002", languageID_) + ": '" + path + "'",
                    "SLBSH1816");
      }
    }
    rows->Close();
  });
}

void PublishCreateDocument::SetPublisherLanguageID(const std::string& i_sLanguageID) {
  Guarded("Quillon.PublishCreateDocument.SetPublisherLanguageID", [&] {
    if (!text::Trim(i_sLanguageID).empty() && text::IsNumeric(i_sLanguageID))
      languageID_ = Variant(i_sLanguageID).toInt32();
    else
      languageID_ = I18N::kDefaultLocale;
  });
}

const ClassInfo* PublishCreateDocument::classInfo() const {
  using P = PublishCreateDocument;
  static const ClassInfo* info =
      ClassBuilder<PublishCreateDocument>("Quillon.PublishCreateDocument")
          .bind<&P::CopyAttachmentCollection>("CopyAttachmentCollection", {"i_lDocID", "i_oAttachments"})
          .bind<&P::SetPublisherLanguageID>("SetPublisherLanguageID", {"i_sLanguageID"})
          .bind<&P::GetPublisherLanguageID>("GetPublisherLanguageID")
          .done();
  return info;
}

namespace {
const bool kRegistered = (PublishCreateDocument().classInfo(), true);
}

}  // namespace quillon
