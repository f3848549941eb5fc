// EMailImport: the scheduled intake of e-mail from two accounts of the
// local mail service (platform/Mailbox.h: Maildir folders or IMAP).
//
// - The drop-box account (parameter "EmailImportSMTPUserID"): every
//   attachment whose name ends in ".xml" or ".xls" (any letter case) is
//   saved into the first XML import folder ("XMLPath1") for the folder
//   import, under its own name or, when that is taken, as base name + "_" +
//   a temporary name + extension. A file appears there complete: it is
//   written and synced under a "~" name (which no import takes) and then
//   renamed without replacing anything. The message is deleted once all
//   its files are there; a message without such attachments stays.
// - The document account ("EmailImportForDocumentAttachmentsUserID"): each
//   message becomes one document, published at once: its first ".xml"
//   attachment (or ".xls" when the spreadsheet engine is installed) is the
//   document, every other attachment a file attachment of it. A message
//   that cannot be published is kept in a new error folder (its
//   attachments and the whole message as "message.eml"), the administrator
//   ("AdminEmailAddress") gets a mail, and the message is deleted. A
//   message that cannot be deleted switches the account off: a "~" is put
//   before the parameter's value, and the account is left alone until an
//   operator removes it.
//
// A message is taken in once. Before its files are published or its
// document is made, a record of the message (its mailbox id and a digest of
// its bytes) is written and synced below SITE/mail/import-records/ACCOUNT;
// it says "done" once the result is durable, and goes when the message is
// deleted. A later run that meets a message recorded as done only deletes
// it; one recorded as started (the process died in between, so it may or
// may not have been published) is not published again but kept in the
// error folder for the administrator, who is told. Only one run works on a
// site at a time.
//
// Run never raises: what escapes is logged (source
// "Quillon.EmailImport.StartRun"); a failing message is logged and the next
// one follows.
#pragma once

#include <string>

#include "platform/Object.h"

namespace quillon {

// What one run did.
struct EMailImportSummary {
  bool ran = false;      // false: the job could not run at all (failure says why)
  bool skipped = false;  // another run was still working on the site
  std::string failure;
  long messages = 0;    // messages looked at in both accounts
  long documents = 0;   // documents published from the document account
  long filesSaved = 0;  // files saved into the import folder from the drop-box account
  long errors = 0;      // failures logged while the run went on
  bool documentAccountOff = false;  // the document account's id begins with "~"
};

// One run of the import (what EMailImport.Run does), with its figures.
EMailImportSummary RunEMailImport();

class EMailImport : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The scheduled entry point; raises nothing.
  void Run();
  // The PARAMVALUE of the COLLABORATIONPARAMETER row of that name, "" when
  // there is none.
  std::string GetEmailParameter(const std::string& iParamName);
};

}  // namespace quillon
