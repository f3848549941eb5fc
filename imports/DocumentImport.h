// DocumentImport: the folder import, a scheduled job.
//
// One run sweeps the import folders once: the first XML import folder
// (parameter "XMLPath1"), the second ("XMLPath2") and, when OBI intake is
// on, the OBI folder ("ObiPath"). Every "xml", "xls" or "obi" file found
// there becomes one or more documents through Document.ProcessDocument; a
// file of any other kind is left where it is.
//
// Claiming. A worker takes a file by renaming it, in its folder, to "~" +
// name without ever replacing a file of that name (renameat2 with
// RENAME_NOREPLACE), so of several workers (processes) exactly one gets
// it; a file whose name begins with "~" is never taken. The rename is
// synced to the folder before the file is worked on, and the claimed file
// stays locked (flock) while its worker works on it.
//
// Nothing lost. The input is removed only after what it became is durable:
// ProcessDocument ends with a durable commit, and copies written to the
// error folder are synced first. An XML file is deleted after its
// documents were handed on (a rejected document's XML is kept in the
// error folder); an XML file that cannot be read or parsed is moved to the
// error folder; an Excel file is deleted after its document was taken in
// (a rejected one is copied to the error folder first), moved there when
// the spreadsheet engine is missing, and left claimed when its conversion
// fails. The administrator is mailed for every file that went to the
// error folder.
//
// Stale claims. A "~" file that nobody holds locked and that was claimed
// longer ago than the key "StaleClaimSeconds" of section "DOCUMENTIMPORT"
// of SiteConfiguration.xml (default 3600) was left by a worker that died,
// or waits for the operator after a failed conversion. The next run
// reports it once (an error entry in the log and a mail to the
// administrator) and leaves it where it is: it may have been imported in
// part, so only the operator can decide. The claims reported are recorded
// in SITE/temp/folder-import-reported.txt.
//
// Run never raises to the scheduler: a failing file is logged (and, where
// it says so above, mailed) and the next one follows; whatever escapes is
// logged.
#pragma once

#include <string>

#include "platform/Object.h"

namespace quillon {

// What one run did.
struct FolderImportSummary {
  bool ran = false;  // false: the job could not run at all (failure says why)
  std::string failure;
  long filesSeen = 0;      // files this run claimed
  long documents = 0;      // documents taken in
  long errors = 0;         // files and documents that failed
  long staleReported = 0;  // stale claims reported by this run
  double seconds = 0;
};

// One run of the folder import (what DocumentImport.Run does), with its figures.
FolderImportSummary RunFolderImport();

class DocumentImport : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The scheduled entry point; raises nothing.
  void Run();
};

}  // namespace quillon
