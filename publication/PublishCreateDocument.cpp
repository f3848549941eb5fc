#include "publication/PublishCreateDocument.h"

#include <memory>
#include <vector>

#include "document/Document.h"
#include "document/FileHandling.h"
#include "document/OBI.h"
#include "foundation/ConnectionScope.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "imports/B2BExcel.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Attachments.h"
#include "publication/Utility.h"

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

// The last path part (file name and extension).
std::string fileNameOf(FileHandling& files, const std::string& path) {
  const std::string extension = files.GetFileExtension(path);
  return files.GetBaseName(path) + (extension.empty() ? "" : "." + extension);
}

// Keeps the input of a failed synchronous publication in a new error
// folder: the XML text as "Error.xml", a workbook under its own name, and
// the attachments, each under a name not yet used there. Each piece is kept
// on its own; one that cannot be kept is logged with what it was.
void keepInErrorFolder(const std::string& source, const std::string* xml, const std::string& workbook,
                       const Variant& attachments) {
  FileHandling files;
  std::string folder;
  try {
    folder = Utility().CreateErrorDir();
  } catch (...) {
    General::LogError(source, "No error folder could be made for the input of the failed publication.");
    return;
  }
  auto keep = [&](const std::string& what, auto&& write) {
    try {
      write();
    } catch (...) {
      General::LogError(source, "The input of the failed publication could not be kept in the error folder '" +
                                    folder + "': " + what);
    }
  };
  if (xml) {
    keep("the XML text", [&] {
      const std::string target = files.GetUniqueFileName(folder, "Error.xml");
      // An empty text is kept as an empty file: it was the input.
      if (xml->empty())
        files.createTextFile("", target, false);
      else
        files.WriteFileToDisk(target, *xml, "", true, true, false, kForWriting);
    });
  }
  if (!workbook.empty())
    keep(workbook, [&] { files.CopyFile(workbook, files.GetUniqueFileName(folder, fileNameOf(files, workbook)), false); });
  for (const std::string& path : pathsOf(attachments))
    keep(path, [&] { files.CopyFile(path, files.GetUniqueFileName(folder, fileNameOf(files, path)), false); });
}

// Attachments cannot travel with a drop file.
void refuseAttachments(const Variant& attachments) {
  if (!pathsOf(attachments).empty())
    throw Error(AttachmentsSupported, "PublishCreateDocument.PublishXmlDocument", I18N::GetLabel("SLBSH4275"));
}

// The parser's reason, line and column, one label line each.
[[noreturn]] void raiseNotXml(const ParseError& e) {
  throw Error(XMLLoadError, "PublishCreateDocument.PublishDocument",
              I18N::GetLabel("SLBSH1839") + text::vbCrLf +
                  I18N::LabelWith("SLBSH1843", {{"[%DESCRIPTION%]", e.reason}}) + text::vbCrLf +
                  I18N::LabelWith("SLBSH1840", {{"[%ERROR_LINE%]", std::to_string(e.line)}}) + text::vbCrLf +
                  I18N::LabelWith("SLBSH1841", {{"[%ERROR_COLUMN%]", std::to_string(e.linepos)}}));
}

constexpr int kDropNames = 99;  // counters 0 to 98

}  // namespace

// ---- publishing -----------------------------------------------------------------------------

std::int32_t PublishCreateDocument::Main(const std::string& i_sXMLStr, const Variant& i_oAttachments) {
  return Guarded("PublishCreateDocument.Main", [&] { return PublishXmlDocument(i_sXMLStr, i_oAttachments, true); });
}

std::int32_t PublishCreateDocument::MainX(const std::string& i_sXMLStr) {
  return Guarded("PublishCreateDocument.MainX",
                 [&] { return PublishXmlDocument(i_sXMLStr, Variant(std::make_shared<Collection>()), true); });
}

std::int32_t PublishCreateDocument::PublishXmlDocument(const std::string& i_sXmlString, const Variant& i_oAttachments,
                                                       bool i_bSynchronous) {
  const std::string source = "PublishCreateDocument.PublishXmlDocument";
  return Guarded(source, [&]() -> std::int32_t {
    if (!i_bSynchronous) {
      refuseAttachments(i_oAttachments);
      PublishDocumentAsync(i_sXmlString, "", "XML", ".xml");
      return 0;
    }
    try {
      return PublishDocumentSync(i_sXmlString, i_oAttachments);
    } catch (...) {
      keepInErrorFolder(source, &i_sXmlString, "", i_oAttachments);
      throw;
    }
  });
}

std::int32_t PublishCreateDocument::PublishDocument(const std::string& i_sFile, const Variant& i_oAttachments,
                                                    bool i_bSynchronous) {
  return Guarded("PublishCreateDocument.PublishDocument", [&]() -> std::int32_t {
    FileHandling files;
    const std::string extension = files.GetFileExtension(i_sFile);
    if (text::LCase(extension) != "xml") return PublishExcelDocument(i_sFile, i_oAttachments, i_bSynchronous);
    auto dom = std::make_shared<DomDocument>();
    dom->setAsync(false);
    bool loaded = false;
    if (text::IsNetworkPath(i_sFile)) {
      // A file on a share is read through the file store.
      loaded = dom->loadXML(files.GetFileContentAsString(i_sFile));
    } else {
      loaded = dom->load(text::LocalPath(i_sFile));
    }
    if (!loaded) raiseNotXml(dom->parseError());
    return PublishXmlDocument(dom->xml(), i_oAttachments, i_bSynchronous);
  });
}

std::int32_t PublishCreateDocument::PublishExcelDocument(const std::string& i_sExcelFile, const Variant& i_oAttachments,
                                                         bool i_bSynchronous) {
  const std::string source = "PublishCreateDocument.PublishExcelDocument";
  return Guarded(source, [&]() -> std::int32_t {
    if (!Utility().IsExcelInstalled()) throw Error(ExcelNotInstalled, source, I18N::GetLabel("SLBSH0040"));
    FileHandling files;
    if (text::LCase(files.GetFileExtension(i_sExcelFile)) != "xls")
      throw Error(NotAnExcelFile, source, I18N::LabelWith("SLBSH4560", {{"[%FILENAME%]", i_sExcelFile}}));
    if (!i_bSynchronous) {
      refuseAttachments(i_oAttachments);
      PublishDocumentAsync("", i_sExcelFile, "B2BExcel", ".xls");
      return 0;
    }
    try {
      std::shared_ptr<DomDocument> dom;
      B2BExcel().TransformExcelToXML(i_sExcelFile, dom);
      return PublishDocumentSync(dom ? dom->xml() : std::string(), i_oAttachments);
    } catch (...) {
      keepInErrorFolder(source, nullptr, i_sExcelFile, i_oAttachments);
      throw;
    }
  });
}

std::int32_t PublishCreateDocument::PublishObiDocument(const std::string& i_sObiObject, bool i_bSynchronous) {
  const std::string source = "PublishCreateDocument.PublishObiDocument";
  return Guarded(source, [&]() -> std::int32_t {
    OBI obi;
    std::string version, xml, signature;
    EObiLanguage language{};
    if (!i_bSynchronous) {
      obi.DeconstructObiObject(i_sObiObject, version, language, xml, signature);
      obi.CheckObiVersionSupported(version, language);
      PublishDocumentAsync(i_sObiObject, "", "OBI", ".xml");
      return 0;
    }
    bool opened = false;
    try {
      obi.DeconstructObiObject(i_sObiObject, version, language, xml, signature);
      opened = true;
      obi.CheckObiVersionSupported(version, language);
      return PublishDocumentSync(xml, Variant());
    } catch (...) {
      // An envelope that does not open is kept as it came.
      keepInErrorFolder(source, opened ? &xml : &i_sObiObject, "", Variant());
      throw;
    }
  });
}

std::int32_t PublishCreateDocument::PublishDocumentSync(const std::string& xml, const Variant& attachments) {
  const std::string source = "PublishCreateDocument.PublishDocumentSync";
  try {
    Document document;
    std::string originalType, originalRecipient, type, sender, defaultRecipient;
    std::int32_t docID = 0, senderBP = 0;
    std::int16_t status = 0;
    Variant files = attachments;
    document.ProcessDocumentWithAttachments(0, xml, originalType, originalRecipient, files, docID, senderBP, type,
                                            sender, defaultRecipient, status, -1);
    // The intake returned without an error of its own: the failure carries
    // no description, so the label below is its whole text.
    if (docID == 0 || senderBP == 0 || text::Trim(type).empty() || sender.empty())
      throw Error(ProcessDocumentError, source, "");
    return docID;
  } catch (...) {
    const ErrorInfo pending = ErrorInfo::current();
    General::ReRaiseError(source, I18N::GetLabel("SLBSH0003") + text::vbCrLf + pending.description);
    throw;
  }
}

void PublishCreateDocument::PublishDocumentAsync(const std::string& content, const std::string& sourceFile,
                                                 const std::string& prefix, const std::string& extension) {
  const std::string source = "PublishCreateDocument.PublishDocumentAsync";
  Guarded(source, [&] {
    FileHandling files;
    const std::string folder = files.GetFolderName(value(EFolderType::XmlPath2Folder));
    for (int counter = 0; counter < kDropNames; ++counter) {
      const std::string name =
          files.GetFileName(value(EFileType::WithTimeStamp), prefix, "", "-" + std::to_string(counter), extension);
      const std::string target = text::JoinPath(folder, name);
      const std::string partial = text::JoinPath(folder, "~" + name);
      const bool last = counter == kDropNames - 1;
      if (files.FileExists(target)) {
        if (last) throw Error(AlreadyPresent, source, I18N::LabelWith("SLBSH4563", {{"[%FILENAME%]", target}}));
        continue;
      }
      try {
        files.WriteFileToDisk(partial, content, sourceFile, true, true, false, kForWriting);
      } catch (const Error& e) {
        // Another publisher is writing that name right now.
        if (e.number() == AlreadyPresent && !last) continue;
        throw;
      }
      try {
        files.MoveFile(partial, target);
        return;
      } catch (...) {
        const bool taken = files.FileExists(target);
        try {
          files.DeleteFileFromDisk(partial);
        } catch (...) {
        }
        if (!taken) throw;
        if (last) throw Error(AlreadyPresent, source, I18N::LabelWith("SLBSH4563", {{"[%FILENAME%]", target}}));
      }
    }
  });
}

// ---- attachments ----------------------------------------------------------------------------

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
    // A path given twice is one attachment. Paths are compared as written:
    // two that differ only in letter case are two files here.
    std::vector<std::string> seenPaths;
    std::vector<std::string> usedNames;  // lower case, the names this call stored
    for (const std::string& path : paths) {
      if (contains(seenPaths, path)) continue;
      seenPaths.push_back(path);
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
          .bind<&P::Main>("Main", {"i_sXMLStr", "i_oAttachments"})
          .bind<&P::MainX>("MainX", {"i_sXMLStr"})
          .bind<&P::PublishXmlDocument>("PublishXmlDocument", {"i_sXmlString", "i_oAttachments", "i_bSynchronous"})
          .bind<&P::PublishDocument>("PublishDocument", {"i_sFile", "i_oAttachments", "i_bSynchronous"})
          .bind<&P::PublishExcelDocument>("PublishExcelDocument", {"i_sExcelFile", "i_oAttachments", "i_bSynchronous"})
          .bind<&P::PublishObiDocument>("PublishObiDocument", {"i_sObiObject", "i_bSynchronous"})
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
