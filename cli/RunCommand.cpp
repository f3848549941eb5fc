#include "cli/RunCommand.h"

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "imports/DocumentImport.h"
#include "imports/EDI.h"
#include "imports/EMailImport.h"
#include "platform/Error.h"

namespace quillon::cli {

namespace {

// What a job reports back: whether it could run at all, and its figures.
struct JobOutcome {
  bool ran = false;
  std::string figures;  // "2 networks seen, …" for the summary line
  std::string failure;  // why it could not run
};

struct Job {
  const char* name;
  const char* what;  // shown by `quillon run` without a job
  JobOutcome (*run)();
};

std::string counted(long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The outcome of a job that runs once per site at a time; its figures
// say so when another run was still working.
template <class Summary>
JobOutcome outcomeOf(const Summary& s) {
  JobOutcome out;
  out.ran = s.ran;
  out.failure = s.failure;
  if (s.skipped) out.figures = "skipped, another run is still working on this site";
  return out;
}

JobOutcome runEdi() {
  EDIRunSummary s = RunEDIExchange();
  JobOutcome out = outcomeOf(s);
  if (s.skipped) return out;
  out.figures = counted(s.networks, "network", "networks") + " seen, " +
                counted(s.filesSent, "file sent", "files sent") + " (" +
                counted(s.messagesSent, "message", "messages") + "), " +
                counted(s.filesReceived, "file received", "files received") + ", " +
                counted(s.errors, "error", "errors");
  return out;
}

JobOutcome runMailImport() {
  EMailImportSummary s = RunEMailImport();
  JobOutcome out = outcomeOf(s);
  if (s.skipped) return out;
  out.figures = counted(s.messages, "message", "messages") + " seen, " +
                counted(s.documents, "document", "documents") + " made, " +
                counted(s.filesSaved, "file", "files") + " saved for the folder import, " +
                counted(s.errors, "error", "errors");
  if (s.documentAccountOff) out.figures += " (the document account is switched off)";
  return out;
}

JobOutcome runFolderImport() {
  // Every document allocates and frees a few hundred KiB; glibc would give
  // that back to the system after each one and fault it in again for the
  // next (a third of the job's system time). The job keeps it instead.
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
  ::mallopt(M_TOP_PAD, 8 << 20);
  FolderImportSummary s = RunFolderImport();
  JobOutcome out;
  out.ran = s.ran;
  out.failure = s.failure;
  out.figures = counted(s.filesSeen, "file seen", "files seen") + ", " +
                counted(s.documents, "document made", "documents made") + ", " + counted(s.errors, "error", "errors");
  if (s.staleReported > 0) out.figures += ", " + counted(s.staleReported, "stale claim reported", "stale claims reported");
  return out;
}

// The scheduled jobs by name. Each runs once and never raises: a job logs
// what fails on the way and goes on, and reports ran = false only when it
// could not run at all.
const Job kJobs[] = {
    {"edi", "exchange files with the EDI networks (EDI.Run)", runEdi},
    {"mail-import", "take in the mail of the import accounts (EMailImport.Run)", runMailImport},
    {"folder-import", "take in the files of the import folders (DocumentImport.Run)", runFolderImport},
};

int usage(const std::string& message) {
  std::cerr << "quillon: " << message << "\nJobs:\n";
  for (const Job& job : kJobs) std::cerr << "  " << job.name << "  " << job.what << "\n";
  return 2;
}

}  // namespace

int RunJobCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return usage("run takes one job name");
  const Job* job = nullptr;
  for (const Job& candidate : kJobs)
    if (args[0] == candidate.name) job = &candidate;
  if (!job) return usage("no job '" + args[0] + "'");

  const auto started = std::chrono::steady_clock::now();
  JobOutcome outcome;
  try {
    outcome = job->run();
  } catch (...) {
    outcome.ran = false;
    outcome.failure = ErrorInfo::current().description;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  char time[32];
  std::snprintf(time, sizeof time, "%.2f", seconds);
  std::cout << job->name << ": " << (outcome.figures.empty() ? "not run" : outcome.figures) << ", " << time
            << " seconds" << std::endl;
  if (!outcome.ran) {
    std::cerr << "quillon: the job " << job->name << " could not run: " << outcome.failure << "\n";
    return 1;
  }
  return 0;
}

}  // namespace quillon::cli
