// EDI: the exchange of files with external EDI translators (EDI networks).
//
// The component translates no EDI itself. Each row of EDINETWORK is a
// network reached through a folder (protocol 30) or an FTP server
// (protocol 40). One run (Run, a scheduled job) visits the networks in
// order of SEQUENCE and, for each network whose communication is allowed:
// - sends the outgoing messages that the EDI send method staged below
//   TEMPFOLDER\Messages: every group folder becomes one merged file (each
//   message's text and a line break, in the group's encoding: Unicode
//   when the group holds a file "Unicode", ANSI otherwise), moved to
//   ROOTFOLDER\OUTFOLDER under the group's name, with a log of the merged
//   files and an archive copy in TEMPFOLDER\Log ("yyyy-mm-dd-hh-mm-ss_" +
//   group, and + ".log"); the message files are removed once the merged
//   file has arrived;
// - fetches every file of ROOTFOLDER\INFOLDER into the first XML import
//   folder (parameter "XMLPath1") as base name + "_" + network id + "_" +
//   time + ".xml", for the folder import, and removes it from the network.
// With USESEMAPHORE the command folder COMFOLDER rules the exchange: a
// STOPFILE there forbids it; otherwise the run leaves a STARTFILE, and
// exchanges only while the network's SEMAPHORE file is present, which it
// deletes afterwards.
//
// Files whose name begins with "~" are being written and are never taken.
// A message is never lost and never sent twice when a move, an upload or
// a removal fails (imports/EDIOutgoing.cpp and EDIIncoming.cpp say how);
// a file never shows under its final name before it is complete. Network
// paths (\\server\share\…) are reached through the file store. FTP runs in
// active mode; failures carry the texts of the internet commands
// ("WinInet.FtpPutFile" …), passwords shown as "********".
//
// Run never raises: a failing network is logged and the next one follows,
// and whatever escapes is logged. Only one run works on a site at a time:
// a run that finds another still working ends at once (logged).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

// What one run did.
struct EDIRunSummary {
  bool ran = false;      // false: the job could not run at all (failure says why)
  bool skipped = false;  // another run was still working on the site
  std::string failure;
  long networks = 0;       // networks seen
  long filesSent = 0;      // merged files that reached a network
  long messagesSent = 0;   // message files inside them
  long filesReceived = 0;  // files fetched into the import folder
  long errors = 0;         // failures logged while the run went on
  double seconds = 0;
};

// One run of the exchange (what EDI.Run does), with its figures.
EDIRunSummary RunEDIExchange();

class EDI : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The scheduled entry point; raises nothing.
  void Run();
  // True when the FTP folder lists a file of that name (trimmed, any
  // letter case).
  bool filePresentViaFTP(const std::string& i_sFile, const std::string& i_sFolder, const std::string& i_sSystem,
                         std::int32_t i_lSystemPort, const std::string& i_sUser, const std::string& i_sPassword);
  void deleteFileViaFTP(const std::string& i_sFile, const std::string& i_sFolder, const std::string& i_sSystem,
                        std::int32_t i_lSystemPort, const std::string& i_sUser, const std::string& i_sPassword);
  // "" when no EDI send method uses the network; otherwise
  // Array("<label SLBSH5852>") for a script.
  std::string checkEdiReferences(const std::string& i_sNetWorkID, std::int32_t i_lLanguageID = 1033);
};

}  // namespace quillon
