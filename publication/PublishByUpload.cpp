#include "publication/PublishByUpload.h"

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "document/FileHandling.h"
#include "document/OBI.h"
#include "foundation/ConnectionScope.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/Lookups.h"
#include "imports/B2BExcel.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Collaboration.h"

namespace fs = std::filesystem;

namespace quillon {

using Encoding::SqlLong;
using General::Guarded;

namespace {

const std::string kSource = "Quillon.PublishByUpload";

// The staging folder of a placeholder document.
std::string stagingFolder(const std::string& path, std::int32_t docID) { return path + "\\" + std::to_string(docID); }

// The full paths of the folder's files, in name order.
std::vector<std::string> filesIn(FileHandling& files, const std::string& folder) {
  std::vector<std::string> paths;
  auto list = files.getFilesInFolder(folder);
  for (long i = 1; i <= list->Count(); ++i) paths.push_back(list->Item(i).text());
  return paths;
}

std::string lastPart(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The local file behind a path (a share's file below the share root).
std::string localFile(const std::string& path) { return FileStore().ResolvePath(path); }

bool hasContent(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(localFile(path), ec);
  return !ec && size > 0;
}

[[noreturn]] void raiseNotAWorkbook(const std::string& label) {
  throw Error(NotAnExcelFile, kSource, "Additional information: " + I18N::GetLabel(label));
}

}  // namespace

std::string PublishByUpload::ReadXMLFile(const std::string& iXMLPath, std::int32_t iDocID) {
  const std::string source = "Quillon.PublishByUpload.ReadXMLFile";
  return Guarded(source, [&]() -> std::string {
    FileHandling files;
    const std::string folder = stagingFolder(iXMLPath, iDocID);
    if (!files.FolderExists(folder)) return "";
    std::string xml;
    bool found = false;
    for (const std::string& path : filesIn(files, folder)) {
      if (endsWith(lastPart(path), "xml") && hasContent(path)) {
        auto dom = std::make_shared<DomDocument>();
        dom->setAsync(false);
        dom->setPreserveWhiteSpace(true);
        if (!dom->load(localFile(path))) {
          const ParseError& e = dom->parseError();
          throw Error(e.errorCode != 0 ? e.errorCode : XMLLoadError, "MSXML.DOMDocument",
                      "The Dom object couldn't parse the xml file. error:" + e.reason);
        }
        if (OBI().GetObiDocumentInfo(dom, "")) throw Error(CannotLoadFile, source, I18N::GetLabel("SLBSH4250"));
        xml = dom->xml();
        found = true;
      }
      files.DeleteFileFromDisk(path);
    }
    if (!found) throw Error(MissingXMLFile, kSource, "No XML file found");
    files.deleteFolderAndFilesInFolder(Variant(folder));
    return xml;
  });
}

std::string PublishByUpload::ReadExcelFile(const std::string& i_sExcelPath, std::int32_t i_lDocID) {
  return Guarded("Quillon.PublishByUpload.ReadExcelFile", [&]() -> std::string {
    FileHandling files;
    const std::string folder = stagingFolder(i_sExcelPath, i_lDocID);
    if (!files.FolderExists(folder)) raiseNotAWorkbook("SLBSH4226");
    std::string xml;
    bool found = false;
    for (const std::string& path : filesIn(files, folder)) {
      if (endsWith(lastPart(path), "xls") && hasContent(path)) {
        std::shared_ptr<DomDocument> dom;
        try {
          B2BExcel().TransformExcelToXML(path, dom);
        } catch (...) {
          raiseNotAWorkbook("SLBSH4525");
        }
        xml = dom ? dom->xml() : std::string();
        found = true;
      }
      files.DeleteFileFromDisk(path);
    }
    if (!found) raiseNotAWorkbook("SLBSH4225");
    files.deleteFolderAndFilesInFolder(Variant(folder));
    return xml;
  });
}

void PublishByUpload::DeleteXMLFileAndDocument(const std::string& iXMLTempPath, std::int32_t iDocID) {
  Guarded("Quillon.PublishByUpload.DeleteXMLFileAndDocument", [&] {
    FileHandling files;
    const std::string folder = stagingFolder(iXMLTempPath, iDocID);
    if (files.FolderExists(folder)) files.deleteFolderAndFilesInFolder(Variant(folder));
    Lookups::Execute(std::string("DELETE FROM DOCUMENT ") + "WHERE DOCUMENTID = " + SqlLong(iDocID) +
                     " AND (DOCUMENTTYPEID IS NULL OR DOCUMENTTYPEID LIKE '')");
  });
}

void PublishByUpload::DeleteTempDocumentInDB(std::int32_t iDocID) {
  Guarded("Quillon.PublishByUpload.DeleteTempDocumentInDB", [&] {
    Lookups::Execute(std::string("DELETE FROM DOCUMENT ") + "WHERE documentid = " + std::to_string(iDocID) +
                     "AND (DOCUMENTTYPEID IS NULL OR DOCUMENTTYPEID LIKE '')");
  });
}

void PublishByUpload::DeleteAllOldTempXMLFiles(const std::string& iPath) {
  Guarded("Quillon.PublishByUpload.DeleteAllOldTempXMLFiles", [&] {
    // Dates are stored as "YYYY-MM-DD hh:mm:ss" text, so the start of today
    // is "YYYY-MM-DD": every placeholder made on an earlier day sorts below
    // it, and one made today (an upload in progress) does not.
    const std::string today = formatOleDate(oleNow()).substr(0, 10);
    const std::string placeholders =
        std::string("WHERE (DOCUMENTTYPEID IS NULL OR DOCUMENTTYPEID LIKE '')") + "AND CREATIONDATE < '" + today + "'";
    std::vector<std::int32_t> ids;
    {
      ConnectionScope conn;
      auto rs = conn.get()->Execute("SELECT DOCUMENTID FROM DOCUMENT " + placeholders);
      for (; !rs->EOF_(); rs->MoveNext()) ids.push_back(rs->Fields("DOCUMENTID").Value().toInt32());
      rs->Close();
    }
    FileHandling files;
    Collaboration collaboration;
    for (std::int32_t id : ids) {
      collaboration.DeletePublicationErrors(id);
      // The staging folder is the document id below the upload path.
      const std::string folder = text::JoinPath(iPath, std::to_string(id));
      if (files.FolderExists(folder))
        for (const std::string& path : filesIn(files, folder)) files.DeleteFileFromDisk(path);
    }
    Lookups::Execute("DELETE FROM DOCUMENT " + placeholders);
  });
}

const ClassInfo* PublishByUpload::classInfo() const {
  using P = PublishByUpload;
  static const ClassInfo* info =
      ClassBuilder<PublishByUpload>("Quillon.PublishByUpload")
          .bind<&P::ReadXMLFile>("ReadXMLFile", {"iXMLPath", "iDocID"})
          .bind<&P::ReadExcelFile>("ReadExcelFile", {"i_sExcelPath", "i_lDocID"})
          .bind<&P::DeleteXMLFileAndDocument>("DeleteXMLFileAndDocument", {"iXMLTempPath", "iDocID"})
          .bind<&P::DeleteTempDocumentInDB>("DeleteTempDocumentInDB", {"iDocID"})
          .bind<&P::DeleteAllOldTempXMLFiles>("DeleteAllOldTempXMLFiles", {"iPath"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (PublishByUpload().classInfo(), true);
}

}  // namespace quillon
