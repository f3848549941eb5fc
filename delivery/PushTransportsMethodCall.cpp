// The method-call transport: a document handed to a plug-in named by the
// send method's method-call string, through the IMethodCall24 contract
// (piece by piece, then Process) or the IMethodCall contract (one call
// with the text or the workbook).
#include <filesystem>
#include <optional>

#include "delivery/IMethodCall24.h"
#include "delivery/PushTransports.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "imports/B2BExcel.h"
#include "platform/Error.h"
#include "platform/Object.h"
#include "platform/Spreadsheet.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace quillon::push {

namespace {

std::string failureInfo(const std::string& methodCall) {
  return I18N::LabelWith("SLBSH4427", {{"[%METHODCALL%]", methodCall}});
}

// A blank method-call string, or one with neither class nor method, names
// no plug-in.
void requireAddress(const std::string& methodCall, const std::string& source) {
  const std::string trimmed = text::Trim(methodCall);
  if (trimmed.empty() || trimmed == "..") throw Error(PushDocumentError, source, "");
}

// True when the string names no method and its class implements IMethodCall24.
bool IMethodCall24Supported(const std::string& methodCall) {
  return General::Guarded("Quillon.PushDocUtils.IMethodCall24Supported", [&] {
    Utility utility;
    if (!utility.GetMethod(methodCall).text().empty()) return false;
    try {
      auto trial = Registry::instance().create(utility.GetClass(methodCall).text());
      return dynamic_cast<IMethodCall24*>(trial.get()) != nullptr;
    } catch (...) {
      return false;
    }
  });
}

// The name of a delivery's copy of the template: the template's own file
// name (the copy goes into the delivery's working folder).
std::string templateCopyName(const std::string& excelTemplate, const std::string& source) {
  const std::string name = std::filesystem::path(text::LocalPath(excelTemplate)).filename().string();
  if (!IsPlainName(name))
    throw Error(FileError, source, "The Excel template '" + excelTemplate + "' names no file.");
  return name;
}

void SendByIMethodCall24(const std::string& methodCall, std::int32_t bpID, std::int32_t docID, bool attachments,
                         ESendMethodFormat format, const std::string& excelTemplate, const Variant& data) {
  const std::string source = "Quillon.PushDocUtils.SendByIMethodCall24";
  WorkbookPtr book;
  std::optional<WorkFolder> work;
  std::string tempFile;
  auto cleanUp = [&] {
    if (book) CloseWorkbookQuietly(Variant(book));
    book.reset();
    if (!tempFile.empty()) DeleteQuietly(tempFile);
    tempFile.clear();
  };
  try {
    requireAddress(methodCall, source);
    Utility utility;
    auto object = Registry::instance().create(utility.GetClass(methodCall).text());
    auto* plugin = dynamic_cast<IMethodCall24*>(object.get());
    if (!plugin)
      throw Error(hr::kNoSuchMember, source, "The class of '" + methodCall + "' does not implement IMethodCall24.");
    plugin->setBusinessPartnerID(bpID);
    plugin->setDocumentID(docID);
    if (attachments) {
      std::vector<std::string> paths;
      for (const Attachment& att : DocumentAttachments(docID, "", "SendByIMethodCall24"))
        paths.push_back(text::LocalPath(att.storedFile));
      if (!paths.empty()) {
        Variant files(VariantArray::ofStrings(paths));
        plugin->setDocumentAttachments(files);
      }
    }
    if (format == ESendMethodFormat::Excel) {
      B2BExcel excel;
      if (text::Trim(excelTemplate).empty()) {
        book = excel.TransformXMLToExcel(DataText(data), EWriteMode::Create, docID, false);
      } else {
        const std::string templatePath = ExcelTemplatePath(excelTemplate);
        work.emplace(ExcelTempFolder());
        tempFile = work->File(templateCopyName(excelTemplate, source));
        book = excel.TransformXMLToExcel(DataText(data), EWriteMode::Create, docID, true, templatePath, tempFile);
      }
      plugin->setExcelWorkBook(Variant(book));
    } else {
      plugin->setDocumentXML(DataText(data));
    }
    plugin->Process();
    cleanUp();
  } catch (...) {
    cleanUp();
    General::ReRaiseError(source);
    throw;
  }
}

void SendByMethodCallForXML(std::int32_t docID, const Variant& data, const TSendMethodProperties& p) {
  General::Guarded(
      "Quillon.PushDocUtils.SendByMethodCallForXML", [&] { return failureInfo(p.sAddress); },
      [&] {
        requireAddress(p.sAddress, "Quillon.PushDocUtils.SendByMethodCallForXML");
        Utility utility;
        Variant document(DataText(data));
        utility.CallMethod(p.sAddress, document);  // the answer is not a delivery outcome
      });
}

void SendByMethodCallForExcel(std::int32_t docID, const Variant& data, const TSendMethodProperties& p) {
  General::Guarded(
      "Quillon.PushDocUtils.SendByMethodCallForExcel", [&] { return failureInfo(p.sAddress); },
      [&] {
        requireAddress(p.sAddress, "Quillon.PushDocUtils.SendByMethodCallForExcel");
        B2BExcel excel;
        Utility utility;
        // The plug-in works on the workbook during its call; once the call
        // returns the workbook is closed here, else every delivery would
        // leave one document open in the spreadsheet engine. (A failing
        // call closes it itself.)
        if (text::Trim(p.sExcelTemplate).empty()) {
          Variant book(excel.TransformXMLToExcel(DataText(data), EWriteMode::Create, docID, false));
          utility.CallMethodForExcel(p.sAddress, book);
          CloseWorkbookQuietly(book);
        } else {
          const std::string templatePath = ExcelTemplatePath(p.sExcelTemplate);
          const WorkFolder work(ExcelTempFolder());
          const std::string tempFile =
              work.File(templateCopyName(p.sExcelTemplate, "Quillon.PushDocUtils.SendByMethodCallForExcel"));
          Variant book(excel.TransformXMLToExcel(DataText(data), EWriteMode::Create, docID, true, templatePath,
                                                 tempFile));
          utility.CallMethodForExcel(p.sAddress, book, tempFile);  // deletes the copy
          CloseWorkbookQuietly(book);
        }
      });
}

}  // namespace

void SendByMethodCall(std::int32_t bpID, std::int32_t docID, const Variant& data, TSendMethodProperties& p,
                      const Extended& a) {
  try {
    if (IMethodCall24Supported(p.sAddress))
      SendByIMethodCall24(p.sAddress, bpID, docID, AttachmentsWanted(a), p.nFormat, p.sExcelTemplate, data);
    else if (p.nFormat == ESendMethodFormat::Excel)
      SendByMethodCallForExcel(docID, data, p);
    else
      SendByMethodCallForXML(docID, data, p);
  } catch (...) {
    General::ReRaiseError("Quillon.PushDocUtils.SendByMethodCall", failureInfo(p.sAddress));
    throw;
  }
}

}  // namespace quillon::push
