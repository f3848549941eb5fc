// Attachments: the files attached to a document. Each document's files lie
// in a folder named by its document ID below the site's attachments folder;
// ATTACHMENT holds one row per file (DOCUMENTID, ATTACHMENTFILENAME).
//
// Paths are written in Windows form; a path that begins with two
// backslashes is a network path and is reached through the file store
// ("Shale.File"), every other path through the local file system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/Object.h"

namespace quillon {

class Recordset;

class Attachments : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // Records the files of a document's folder that ATTACHMENT does not list
  // yet; empty files are deleted instead. A missing folder is no error.
  void ExamenFolderForNewFilesAndWriteThemToDB(std::int32_t iDocID, const std::string& iAbsolutePath);
  // Detached read-only recordsets.
  std::shared_ptr<Recordset> getDBFiles(std::int32_t iDocID);
  std::shared_ptr<Recordset> GetDocumentAttachmentsBySenderRS(const std::string& iSender, std::int32_t iDocID);
  std::shared_ptr<Recordset> GetDocumentAttachmentsRS(std::int32_t i_lDocID);
  // Removes the row and the file iPath\iDocID\iAttFile. iAttFile must be a
  // plain file name: one that would leave the document's folder is refused
  // with InvalidParamValue before anything changes.
  void DeleteAttachment(std::int32_t iDocID, std::int32_t iAttID, const std::string& iAttFile, const std::string& iPath);
  // The attachments' URL (ending in "/") and folder (ending in a
  // separator) from the portal parameters. False, logged and never raised,
  // when they are not usable.
  bool GetAttachmentUrlAndFolder(std::string& o_sURL, std::string& o_sFolder);
  // The same, handing the reason of a False answer to the caller.
  bool GetAttachmentUrlAndFolder(std::string& o_sURL, std::string& o_sFolder, ErrorInfo& o_uFailure);

  // Whether a name from outside is a plain file name, usable inside one
  // document's folder: not empty, not "." or "..", and without path
  // separators or NUL characters.
  static bool IsPlainFileName(const std::string& name);
};

}  // namespace quillon
