#include "imports/EMailImport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "document/FileHandling.h"
#include "foundation/ConnectionScope.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "imports/EMailImportInternal.h"
#include "imports/SiteRunLock.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"
#include "platform/Object.h"
#include "platform/Mail.h"
#include "platform/Mailbox.h"
#include "platform/Text.h"
#include "publication/PublishCreateDocument.h"
#include "publication/Utility.h"

namespace fs = std::filesystem;

namespace quillon {

using General::Guarded;

namespace emailimport {

namespace {

using text::vbCrLf;
using State = MessageRecords::State;

constexpr const char* kDocumentAccountParameter = "EmailImportForDocumentAttachmentsUserID";

struct Counts {
  long messages = 0, documents = 0, filesSaved = 0, errors = 0;
};

struct Parameters {
  std::string server, dropBoxId, documentId, xmlPath1, tempRoot;
  bool documentAccountOff = false;
};

// One message of a mailbox as this run read it.
struct Message {
  std::string id;
  std::string raw;
  mail::ReceivedMail mail;
  const std::string& sender() const { return mail.from; }
};

Message readMessage(mailbox::Mailbox& box, const std::string& id) {
  Message m;
  m.id = id;
  m.raw = box.ReadRaw(id);
  m.mail = mail::ParseMail(m.raw);
  return m;
}

// A note for the record file, so an operator can tell which message it is.
std::string noteOf(const Message& m, const std::string& what) {
  return what + "; from " + m.sender() + "; message id <" + m.mail.messageId + ">; subject " + m.mail.subject;
}

// ---- parameters -------------------------------------------------------------------------------

std::string missingParameterText(const std::string& name) {
  return I18N::GetLabel("SLBSH4581") + vbCrLf + I18N::LabelWith("SLBSH4582", {{"[%PARAM%]", name}}) + vbCrLf +
         I18N::GetLabel("SLBSH4583") + vbCrLf;
}

Parameters GetEmailParameters(EMailImport& self) {
  const std::string source = Source("GetEmailParameters");
  return Guarded(source, [&] {
    Parameters p;
    p.dropBoxId = text::Trim(self.GetEmailParameter("EmailImportSMTPUserID"));
    p.documentId = text::Trim(self.GetEmailParameter(kDocumentAccountParameter));
    // A "~" in front switched the document account off after a message
    // could not be deleted; it stays off until an operator removes it.
    if (!p.documentId.empty() && p.documentId[0] == '~') {
      p.documentAccountOff = true;
      p.documentId.clear();
    }
    if (p.dropBoxId.empty() && p.documentId.empty()) return p;

    auto required = [&](const char* name) {
      std::string value = text::Trim(self.GetEmailParameter(name));
      if (value.empty()) throw Error(MissingParameter, source, missingParameterText(name));
      return value;
    };
    p.server = required("EmailImportLocalSMTPServer");
    required("XMLErrorPath");
    if (!p.dropBoxId.empty()) p.xmlPath1 = required("XMLPath1");
    if (!p.documentId.empty()) {
      FileHandling files;
      p.tempRoot = files.GetFolderName(value(EFolderType::TempFolder));
      if (text::Trim(p.tempRoot).empty() || !files.FolderExists(p.tempRoot))
        throw Error(NotPresent, source, I18N::LabelWith("SLBSH4603", {{"[%VARNAME%]", "TMP"}}));
    }
    return p;
  });
}

// ---- the mail connection ----------------------------------------------------------------------

std::unique_ptr<mailbox::Mailbox> logOn(const std::string& userId, const std::string& server, const std::string& source,
                                        bool dropBox) {
  mailbox::MailboxSettings settings;
  try {
    settings = mailbox::SiteMailboxSettings();
  } catch (...) {
    throw Error(EmailImportError, source, I18N::GetLabel("SLBSH4584") + " " + ErrorInfo::current().description);
  }
  try {
    return mailbox::OpenMailbox(userId, settings);
  } catch (...) {
    ErrorInfo failed = ErrorInfo::current();
    failed.description += " (" + userId + "@" + server + ")";
    if (dropBox) failed.description += " Additional Info: " + I18N::GetLabel("SLBSH4585");
    throw Error(failed);
  }
}

// ---- administrator mails, the error folder, switching off ----------------------------------------

void NotifyAdministrator(EMailImport& self, const std::string& body) {
  const std::string source = Source("NotifyAdministrator");
  Guarded(source, [&] {
    const std::string admin = text::Trim(self.GetEmailParameter("AdminEmailAddress"));
    if (admin.empty()) throw Error(MissingParameter, source, I18N::GetLabel("SLBSH4104"));
    Utility().SendEmail(admin, admin, I18N::GetLabel("SLBSH4590"), body, "", "");
  });
}

// Writes the message's attachments and the whole message ("message.eml",
// so that a message without attachments, and its text, is never lost) into
// a new error folder, synced; returns the folder.
std::string writeToErrorDirectory(const Message& m) {
  const std::string source = Source("WriteEmailToErrorDirectoryWithNotification");
  const std::string folder = Utility().CreateErrorDir();
  const fs::path local = LocalFolder(folder, source);
  FileHandling files;
  auto keep = [&](const std::string& name, const std::string& bytes) {
    // The name is checked free first; a file that appears in between
    // is never replaced: the next number is taken then.
    for (int attempt = 0;; ++attempt) {
      const std::string unique = files.GetUniqueFileName(folder, mail::SafeFileName(name));
      const std::string plain = fs::path(text::LocalPath(unique)).filename().string();
      try {
        WriteDurably(local / plain, bytes, source, unique);
        return;
      } catch (...) {
        if (attempt >= 10 || !LocalFiles::IsFile(local / plain)) throw;
      }
    }
  };
  for (const auto& a : m.mail.attachments) keep(a.name, a.content);
  keep("message.eml", m.raw);
  SyncFolder(local);
  return folder;
}

void WriteEmailToErrorDirectoryWithNotification(EMailImport& self, const Message& m) {
  Guarded(Source("WriteEmailToErrorDirectoryWithNotification"), [&] {
    const std::string folder = writeToErrorDirectory(m);
    NotifyAdministrator(self, I18N::LabelWith("SLBSH4592", {{"[%SENDER%]", m.sender()}}) + vbCrLf + vbCrLf +
                                  I18N::LabelWith("SLBSH4593", {{"[%ERRORDIR%]", folder}}));
  });
}

// A message a previous run started on and did not finish (the process
// ended in between): it may have been taken in already, so it is not taken
// in again but kept for the administrator.
void keepUnfinishedMessage(EMailImport& self, const Message& m) {
  Guarded(Source("WriteEmailToErrorDirectoryWithNotification"), [&] {
    const std::string folder = writeToErrorDirectory(m);
    NotifyAdministrator(self, I18N::LabelWith("SLBSH4604", {{"[%SENDER%]", m.sender()}}) + vbCrLf + vbCrLf +
                                  I18N::LabelWith("SLBSH4593", {{"[%ERRORDIR%]", folder}}));
  });
}

void DisableEmailImport() {
  Guarded(Source("DisableEmailImport"), [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate(std::string("SELECT * ") + " FROM COLLABORATIONPARAMETER " + " WHERE PARAMNAME = '" +
                                kDocumentAccountParameter + "'",
                            conn.get());
    if (!rs->EOF_()) {
      const Variant v = rs->Fields("PARAMVALUE").Value();
      const std::string current = v.isNull() || v.isEmpty() ? std::string() : v.text();
      if (current.empty() || current[0] != '~') rs->Fields("PARAMVALUE").SetValue(Variant("~" + current));
      rs->Update();
    }
    rs->Close();
    conn.get()->MakeDurable();
  });
}

// ---- the document account -----------------------------------------------------------------------

struct DocumentRun {
  EMailImport& self;
  mailbox::Mailbox& box;
  MessageRecords& records;
  std::string tempRoot;
  Counts& counts;
  std::optional<bool> excelInstalled;  // asked once per run, only when a workbook comes
  bool switchedOff = false;            // a message could not be deleted
};

bool AttachmentCanBeDocument(DocumentRun& run, const std::string& name) {
  return Guarded(Source("AttachmentCanBeDocument"), [&] {
    const std::string extension = text::LCase(FileHandling().GetFileExtension(name));
    if (extension == "xml") return true;
    if (extension != "xls") return false;
    if (!run.excelInstalled) run.excelInstalled = Utility().IsExcelInstalled();
    return *run.excelInstalled;
  });
}

// Deletes the message. When that fails the administrator is told and the
// document account is switched off, so nothing is published twice; the
// failure goes on to the caller.
void DeleteEmail(DocumentRun& run, const Message& m) {
  const std::string source = Source("DeleteEmail");
  try {
    run.box.Delete(m.id);
  } catch (...) {
    run.switchedOff = true;
    try {
      NotifyAdministrator(run.self,
                          I18N::LabelWith("SLBSH4591", {{"[%SENDER%]", m.sender()}}) + vbCrLf + vbCrLf +
                              I18N::GetLabel("SLBSH4596") + vbCrLf + vbCrLf +
                              I18N::LabelWith("SLBSH4597", {{"[%PARAMETERNAME%]", kDocumentAccountParameter}}) +
                              vbCrLf + vbCrLf + I18N::GetLabel("SLBSH4595"));
    } catch (...) {
      // Logged where it failed; switching off must happen all the same.
    }
    try {
      DisableEmailImport();
    } catch (...) {
      // Logged; the record of the message still keeps it from a second
      // publication.
    }
    General::ReRaiseError(source);
    throw;
  }
}

std::string CreateTempFolder(const std::string& root) {
  return Guarded(Source("CreateTempFolder"), [&] {
    const std::string folder = text::JoinPath(root, "F" + General::iGeneral_GenerateGUID());
    FileHandling().CreateFolderTree(folder);
    return folder;
  });
}

void DeleteTempFolder(const std::string& folder) {
  try {
    std::error_code ec;
    fs::remove_all(fs::path(text::LocalPath(folder)), ec);
  } catch (...) {
  }
}

// Writes every attachment into the folder; the first that can be a
// document is the document, every other one an attachment of it.
void StoreEmailAttachments(DocumentRun& run, const Message& m, const std::string& folder, std::string& documentFile,
                           std::shared_ptr<Collection>& attachments) {
  const std::string source = Source("StoreEmailAttachments");
  Guarded(source, [&] {
    FileHandling files;
    for (const auto& a : m.mail.attachments) {
      const std::string path = files.GetUniqueFileName(folder, mail::SafeFileName(a.name));
      WriteDurably(fs::path(text::LocalPath(path)), a.content, source, path);
      if (documentFile.empty() && AttachmentCanBeDocument(run, a.name))
        documentFile = path;
      else
        attachments->Add(Variant(path));
    }
  });
}

void ProcessEmailWithAttachments(DocumentRun& run, const Message& m) {
  Guarded(Source("ProcessEmailWithAttachments"), [&] {
    const std::string folder = CreateTempFolder(run.tempRoot);
    struct RemoveFolder {
      std::string folder;
      ~RemoveFolder() { DeleteTempFolder(folder); }
    } removeFolder{folder};

    std::string documentFile;
    auto attachments = std::make_shared<Collection>();
    StoreEmailAttachments(run, m, folder, documentFile, attachments);

    std::int32_t docID = 0;
    if (!documentFile.empty()) {
      run.records.Mark(m.id, m.raw, State::Started, noteOf(m, "publishing"));
      try {
        docID = PublishCreateDocument().PublishDocument(documentFile, Variant(attachments), true);
      } catch (...) {
        // Logged by the publication, which also kept its input in an
        // error folder and told the administrator.
        docID = 0;
      }
    }
    if (docID >= 1) {
      // The intake made the document durable before it returned.
      run.records.Mark(m.id, m.raw, State::Done, noteOf(m, "document " + std::to_string(docID)));
      ++run.counts.documents;
    } else {
      // Nothing was published: a later attempt may take the message in.
      run.records.Forget(m.id, m.raw);
      ++run.counts.errors;
      WriteEmailToErrorDirectoryWithNotification(run.self, m);
    }
    DeleteEmail(run, m);
    run.records.Forget(m.id, m.raw);
  });
}

void HandleEmailWithDocumentAttachments(DocumentRun& run, const std::string& id) {
  const std::string source = Source("HandleEmailWithDocumentAttachments");
  Guarded(source, [&] {
    const Message m = readMessage(run.box, id);
    switch (run.records.Find(m.id, m.raw)) {
      case State::Done:
        // Published by an earlier run that could not delete it.
        DeleteEmail(run, m);
        run.records.Forget(m.id, m.raw);
        return;
      case State::Started:
        ++run.counts.errors;
        keepUnfinishedMessage(run.self, m);
        DeleteEmail(run, m);
        run.records.Forget(m.id, m.raw);
        return;
      case State::None:
        break;
    }
    const bool usable = std::any_of(m.mail.attachments.begin(), m.mail.attachments.end(),
                                    [&](const mail::ReceivedAttachment& a) { return AttachmentCanBeDocument(run, a.name); });
    if (usable) {
      ProcessEmailWithAttachments(run, m);
      return;
    }
    WriteEmailToErrorDirectoryWithNotification(run.self, m);
    DeleteEmail(run, m);
    throw Error(EmailImportError, source,
                I18N::GetLabel("SLBSH4590") + vbCrLf + I18N::GetLabel("SLBSH0051") + vbCrLf + "- " +
                    I18N::GetLabel("SLBSH0046") + vbCrLf + "- " + I18N::GetLabel("SLBSH4602") + vbCrLf);
  });
}

void HandleEmailsWithDocumentAttachments(EMailImport& self, const Parameters& p, Counts& counts) {
  const std::string source = Source("HandleEmailsWithDocumentAttachments");
  Guarded(source, [&] {
    auto box = logOn(p.documentId, p.server, source, false);
    MessageRecords records(p.documentId);
    const std::vector<std::string> ids = box->List();
    records.ForgetAllBut(ids);
    DocumentRun run{self, *box, records, p.tempRoot, counts, std::nullopt, false};
    for (const std::string& id : ids) {
      ++counts.messages;
      try {
        HandleEmailWithDocumentAttachments(run, id);
      } catch (...) {
        ++counts.errors;
        General::LogError(source);
      }
      // The account is switched off: the rest waits for an operator.
      if (run.switchedOff) break;
    }
  });
}

// ---- the drop-box account -------------------------------------------------------------------------

bool isDropBoxAttachment(const std::string& name) {
  if (name.find('.') == std::string::npos || name.size() <= 4) return false;
  const std::string last4 = text::LCase(name.substr(name.size() - 4));
  return last4 == ".xml" || last4 == ".xls";
}

// Gives a staged file its name in the import folder: the attachment's name,
// or, when a file has it, the part before the first "." + "_" + a
// temporary name without its extension + the attachment's extension. An
// existing file is never replaced. A leading "~" is dropped, since no
// import ever takes a file whose name begins with one.
std::string saveAttachmentToFolder(const fs::path& staged, const fs::path& folder, const std::string& attachmentName) {
  const std::string source = Source("HandleEmailWithoutDocumentAttachments");
  try {
    std::string name = mail::SafeFileName(attachmentName);
    name.erase(0, name.find_first_not_of('~'));
    if (RenameNoReplace(staged, folder / name, source)) return name;
    FileHandling files;
    const std::string base = name.substr(0, name.find('.'));
    const std::string extension = name.substr(name.size() - 4);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string temporary = files.GetFileName(value(EFileType::TempFile), "", "", "", "");
      temporary = fs::path(temporary).filename().string();
      const std::string other = base + "_" + temporary.substr(0, temporary.size() - 4) + extension;
      if (RenameNoReplace(staged, folder / other, source)) return other;
    }
    throw Error(hr::kFileAlreadyExists, source, "No free name for '" + name + "' in " + folder.string() + ".");
  } catch (...) {
    throw Error(CDOProcessAttachmentError, source, ErrorInfo::current().description);
  }
}

void removeStaged(const std::vector<fs::path>& staged) {
  for (const auto& file : staged) {
    std::error_code ec;
    fs::remove(file, ec);
  }
}

// False when an attachment could not be saved (logged; the message stays).
bool HandleEmailWithoutDocumentAttachments(EMailImport& self, mailbox::Mailbox& box, MessageRecords& records,
                                           const std::string& id, const std::string& folder, Counts& counts) {
  const std::string source = Source("HandleEmailWithoutDocumentAttachments");
  try {
    const Message m = readMessage(box, id);
    const State state = records.Find(m.id, m.raw);
    if (state == State::Started) {
      // An earlier run ended while it put this message's files in place.
      keepUnfinishedMessage(self, m);
    }
    if (state != State::None) {
      box.Delete(m.id);
      records.Forget(m.id, m.raw);
      return state == State::Done;
    }

    std::vector<const mail::ReceivedAttachment*> wanted;
    for (const auto& a : m.mail.attachments)
      if (isDropBoxAttachment(a.name)) wanted.push_back(&a);
    if (wanted.empty()) return true;  // not for the import: it stays

    // Every file is written and synced under a "~" name first; only when
    // all are there do they get their names.
    const fs::path target = LocalFolder(folder, source);
    std::error_code missing;
    fs::create_directories(target, missing);  // a failure shows when the files are written
    std::vector<fs::path> staged;
    bool failed = false;
    for (const auto* a : wanted) {
      const fs::path file = target / ("~mail-" + General::iGeneral_GenerateGUID() + ".tmp");
      try {
        WriteDurably(file, a->content, source, file.string());
        staged.push_back(file);
      } catch (...) {
        failed = true;
        General::LogError(source, I18N::LabelWith("SLBSH4588", {{"[%ATTACHMENT%]", a->name}, {"[%SENDER%]", m.sender()}}) +
                                      vbCrLf + I18N::LabelWith("SLBSH4589", {{"[%DISDIR%]", folder}}));
      }
    }
    if (failed) {
      removeStaged(staged);
      return false;
    }

    records.Mark(m.id, m.raw, State::Started, noteOf(m, "saving into " + folder));
    std::vector<std::string> names;
    for (std::size_t i = 0; i < staged.size(); ++i) {
      try {
        names.push_back(saveAttachmentToFolder(staged[i], target, wanted[i]->name));
      } catch (...) {
        removeStaged({staged.begin() + static_cast<long>(i), staged.end()});
        throw;
      }
      ++counts.filesSaved;
    }
    SyncFolder(target);
    std::string saved;
    for (const auto& n : names) saved += (saved.empty() ? "" : ", ") + n;
    records.Mark(m.id, m.raw, State::Done, noteOf(m, "saved " + saved));
    box.Delete(m.id);
    records.Forget(m.id, m.raw);
    return true;
  } catch (...) {
    const ErrorInfo failure = ErrorInfo::current();
    if (failure.number == CDOProcessAttachmentError) throw;
    throw Error(CDOProcessAttachmentsError, failure.source, failure.description);
  }
}

void HandleEmailsWithoutDocumentAttachments(EMailImport& self, const Parameters& p, Counts& counts) {
  const std::string source = Source("HandleEmailsWithoutDocumentAttachments");
  Guarded(source, [&] {
    auto box = logOn(p.dropBoxId, p.server, source, true);
    MessageRecords records(p.dropBoxId);
    const std::vector<std::string> ids = box->List();
    records.ForgetAllBut(ids);
    for (const std::string& id : ids) {
      ++counts.messages;
      try {
        if (!HandleEmailWithoutDocumentAttachments(self, *box, records, id, p.xmlPath1, counts)) ++counts.errors;
      } catch (...) {
        ++counts.errors;
        General::LogError(source);
      }
    }
  });
}

// ---- the run --------------------------------------------------------------------------------------

// Raises only when the import cannot run at all (parameters); a failing
// account is logged and counted.
void StartEmailImport(EMailImport& self, Counts& counts, bool& documentAccountOff) {
  const std::string source = Source("StartEmailImport");
  Guarded(source, [&] {
    const Parameters p = GetEmailParameters(self);
    documentAccountOff = p.documentAccountOff;
    if (!p.dropBoxId.empty()) {
      try {
        HandleEmailsWithoutDocumentAttachments(self, p, counts);
      } catch (...) {
        ++counts.errors;  // logged on the way; the document account still runs
      }
    }
    if (!p.documentId.empty()) {
      try {
        HandleEmailsWithDocumentAttachments(self, p, counts);
      } catch (...) {
        ++counts.errors;
        General::LogError(Source("StartRun"));
      }
    }
  });
}

}  // namespace
}  // namespace emailimport

EMailImportSummary RunEMailImport() {
  using namespace emailimport;
  EMailImportSummary summary;
  Counts counts;
  EMailImport self;
  try {
    SiteRunLock lock("mail-import-run.lock", "the e-mail import", Source("StartRun"));
    if (!lock.held()) {
      summary.skipped = true;
      try {
        throw Error(hr::kFail, Source("StartRun"),
                    "Another run of the e-mail import is still working on this site; this run imported nothing.");
      } catch (...) {
        General::LogEvent(Source("StartRun"));
      }
    } else {
      StartEmailImport(self, counts, summary.documentAccountOff);
    }
    summary.ran = true;
  } catch (...) {
    summary.failure = ErrorInfo::current().description;
    General::LogError(Source("StartRun"));
  }
  summary.messages = counts.messages;
  summary.documents = counts.documents;
  summary.filesSaved = counts.filesSaved;
  summary.errors = counts.errors;
  return summary;
}

void EMailImport::Run() { RunEMailImport(); }

std::string EMailImport::GetEmailParameter(const std::string& iParamName) {
  return Guarded(emailimport::Source("GetEmailParameter"), [&] {
    auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(std::string("SELECT PARAMVALUE FROM COLLABORATIONPARAMETER ") +
                                                        "WHERE PARAMNAME = " + Encoding::SqlText(iParamName));
    if (rs->EOF_()) return std::string();
    const Variant v = rs->Fields("PARAMVALUE").Value();
    return v.isNull() || v.isEmpty() ? std::string() : v.text();
  });
}

const ClassInfo* EMailImport::classInfo() const {
  static const ClassInfo* info = ClassBuilder<EMailImport>("Quillon.EMailImport")
                                     .bind<&EMailImport::Run>("Run")
                                     .bind<&EMailImport::GetEmailParameter>("GetEmailParameter", {"iParamName"})
                                     .done();
  return info;
}

namespace {
const bool kRegistered = (EMailImport().classInfo(), true);
}

}  // namespace quillon
