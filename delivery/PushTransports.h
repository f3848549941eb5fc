// The transports of PushDocUtils: how the prepared data of one document
// reaches one partner. Internal to the delivery folder; the push engine
// (PushDocUtils.cpp) chooses the transport by the send method's protocol.
//
// Each transport receives the document id, the data (the document text;
// for the Excel format a workbook, or Empty when the workbook was already
// written from a template, see TemplateCopy), the send-method
// record and the extended properties in read order (0 network id,
// 1 attachments flag, 2 merge file). Transports set the record's working
// fields sFileName and sTempFileName as they go. A failure raises, passing
// ReRaiseError with the transport's source ("Quillon.PushDocUtils.<Name>").
//
// Files: PushTransportsFile.cpp (output file name, folder, EDI staging),
// PushTransportsNet.cpp (HTTP, FTP), PushTransportsMail.cpp (mail, fax),
// PushTransportsMethodCall.cpp (plug-ins), PushTransportsShared.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "delivery/PushDocUtils.h"
#include "foundation/TSendMethodProperties.h"
#include "platform/Variant.h"

namespace quillon::push {

using Extended = PushDocUtils::ExtendedProperties;

// ---- shared helpers (PushTransportsShared.cpp) ----

// The name a transport gives the document's file: base (sFileName, or the
// document id when sFileName is blank or begins with "."), "_" + document
// id when the suffix is DocumentID, "." and the extension ("xls" for
// Excel). A name that is not a plain file name (a path separator, NUL or
// control character, "." or "..") is refused with FileError: it would
// leave its target folder.
std::string GetSendMethodOutputFileName(std::int32_t docID, const TSendMethodProperties& p);

// Whether a name is one plain file name: not empty, not "." or "..", no
// path separator, no NUL or other control character.
bool IsPlainName(const std::string& name);

// Entry 1 of the extended array ("True"/"False") as a boolean.
bool AttachmentsWanted(const Extended& a);

// One attachment of a document: its recorded name and its stored file.
struct Attachment {
  std::string name;
  std::string storedFile;  // attachments folder + document id + "\" + name
};
// The document's attachments (ATTACHMENT rows; with a sender, only those
// of the document of that sender). Without a usable attachments location
// raises AttachmentsSupported with the "SLBSH5071" text and `source`. A
// recorded name that is not a plain file name raises FileError.
std::vector<Attachment> DocumentAttachments(std::int32_t docID, const std::string& sender, const std::string& source);

// The Excel temporary folder (created when missing) and a file in it.
std::string ExcelTempFolder();
std::string ExcelTempFile(const std::string& name);
// The site's temporary folder.
std::string TempFolder();

// The working folder of one delivery: a folder of its own, with a unique
// name, below `parent`; removed with all it holds when the object goes.
// A delivery writes its files there under the name the partner sees, so
// two deliveries that use the same name at the same time never share,
// overwrite or delete each other's file. Raises FileError when the folder
// cannot be made.
class WorkFolder {
 public:
  explicit WorkFolder(const std::string& parent);
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  // The path of a file of that name in the folder.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// The workbook written from a template for this delivery (sTempFileName,
// set by the push engine); for a caller that wrote it itself, sFileName in
// the Excel temporary folder.
std::string TemplateCopy(const TSendMethodProperties& p);
// The template folder ("ExcelTemplatesPath", with a trailing "\") + name.
std::string ExcelTemplatePath(const std::string& templateName);

// The data as text ("" for Empty and objects).
std::string DataText(const Variant& data);
// Closes a workbook held in the data; failures are ignored (clean-up).
void CloseWorkbookQuietly(const Variant& data);
// Deletes a file; failures are ignored (clean-up of a temporary file).
void DeleteQuietly(const std::string& path);

// A text with the password of any "scheme://user:password@" part masked,
// for error texts that show an address.
std::string MaskAddress(const std::string& address);

// Writes the text to a new temporary file (Unicode or ANSI) and returns its path.
std::string WriteTemporaryText(const std::string& text, bool unicode);

// Raises SendMethodFormatNotSupported ("SLBSH4326") for the format.
[[noreturn]] void FormatNotSupported(std::int32_t format, const std::string& source);

// ---- transports ----

// Folder (PushTransportsFile.cpp).
void SendByFileStream(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a);
// EDI staging folder of the network (PushTransportsFile.cpp).
void SendByEDI(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a);

// HTTP form post (PushTransportsNet.cpp). A refusal the partner's page
// answers as XML with a non-zero ERROR_NUMBER raises that number.
void SendByHTTP(std::int32_t docID, const TSendMethodProperties& p, const std::string& data);
// FTP upload of the document and, when wanted, its attachments.
void SendByFTP(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a);

// Mail and fax gateway (PushTransportsMail.cpp).
void SendByEmail2(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a);
void SendByEmail(std::int32_t docID, const Variant& data, TSendMethodProperties& p);
void SendByFax2(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a);
void SendByFax(std::int32_t docID, const Variant& data, TSendMethodProperties& p);

// Plug-ins (PushTransportsMethodCall.cpp).
void SendByMethodCall(std::int32_t bpID, std::int32_t docID, const Variant& data, TSendMethodProperties& p,
                      const Extended& a);

}  // namespace quillon::push
