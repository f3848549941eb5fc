#include "imports/DocumentImport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "document/Document.h"
#include "document/FileHandling.h"
#include "document/OBI.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "imports/B2BExcel.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"

namespace fs = std::filesystem;

namespace quillon {

namespace {

const std::string kClass = "Quillon.DocumentImport.";
const std::string kTraceSource = "Document Import Service";
const std::string kCrLf = "\r\n";
constexpr double kDefaultStaleClaimSeconds = 3600;

std::string Source(const char* method) { return kClass + method; }

// What one run knows and counts.
struct RunState {
  bool trace = false;
  std::string delimiter;
  std::string errorFolder;
  double staleClaimSeconds = kDefaultStaleClaimSeconds;
  long filesSeen = 0;
  long documents = 0;
  long errors = 0;
  long staleReported = 0;

  void Trace(const std::string& line) const {
    if (trace) General::LogTrace(kTraceSource, line);
  }
};

// One file of an import folder: its folder, its name as found, and the
// claimed "~" name once the run has taken it.
struct FileRef {
  std::string folder;        // as the folder parameter gives it
  fs::path localFolder;      // the same folder on this system
  std::string name;          // the name as found, without "~"
  std::string extension;     // lower case
  std::string Shown() const { return text::JoinPath(folder, name); }
  std::string ClaimedShown() const { return text::JoinPath(folder, "~" + name); }
  fs::path ClaimedLocal() const { return localFolder / ("~" + name); }
};

fs::path LocalOf(const std::string& path, const std::string& source) {
  if (text::IsNetworkPath(path))
    return fs::path(General::RequireComponent<FileStore>("Shale.File", source)->ResolvePath(path));
  return fs::path(text::LocalPath(path));
}

// Puts a file's content, or a folder's entries (a rename, a new or removed
// name), on disk.
void Sync(const fs::path& path, bool folder, const std::string& source) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
  if (fd < 0 || ::fsync(fd) != 0) {
    std::error_code ec(errno, std::generic_category());
    if (fd >= 0) ::close(fd);
    LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be written to disk", path.string(), ec);
  }
  ::close(fd);
}

// The file a worker has claimed, locked for as long as the worker holds
// it: a claim nobody holds locked belongs to a worker that is gone.
class Claim {
 public:
  // Waits for nothing but a stale-claim check, which holds the lock for an
  // instant only.
  explicit Claim(const fs::path& file) : fd_(::open(file.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~Claim() {
    if (fd_ >= 0) ::close(fd_);
  }
  Claim(const Claim&) = delete;
  Claim& operator=(const Claim&) = delete;

 private:
  int fd_;
};

// Renames name to "~" + name in its folder, never replacing a file: when
// the name is gone (another worker has it) or "~" + name exists already
// (an earlier claim of a file of that name), the file is not ours. Any
// other failure raises, so the file is counted and logged as an error
// instead of being passed over without a trace.
bool ClaimFile(const FileRef& f, const std::string& source) {
  const fs::path from = f.localFolder / f.name;
  const fs::path to = f.ClaimedLocal();
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  int err = errno;
  if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
    // A file system without the no-replace rename (NFS): a hard link, made
    // by the server, fails on an existing name just as well. The file's own
    // name goes once the "~" name holds it; should that fail, the claim is
    // undone, since the file would be claimable again under its own name.
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) == 0 || errno == ENOENT) return true;
      err = errno;  // neither ENOENT nor EEXIST: raised below
      ::unlink(to.c_str());
    } else {
      err = errno;
    }
  }
  if (err == ENOENT || err == EEXIST) return false;
  LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be claimed for import", f.ClaimedShown(),
                    std::error_code(err, std::generic_category()));
}

// ---- texts -------------------------------------------------------------------------------

// The last character whose code is above 32, "" when there is none.
std::string getLastVisibleCharacter(const std::string& s) {
  std::size_t end = s.size();
  while (end > 0 && static_cast<unsigned char>(s[end - 1]) <= 32) --end;
  if (end == 0) return {};
  std::size_t start = end - 1;
  // A character of several bytes starts at its first byte.
  while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
  return s.substr(start, end - start);
}

// A text whose last visible character is the delimiter loses every
// occurrence of it; any other text is kept.
std::string removeTrailingDelimiter(const std::string& s, const std::string& delimiter) {
  if (delimiter.empty() || getLastVisibleCharacter(s) != delimiter) return s;
  return text::Replace(s, delimiter, "", -1, true);
}

// The XML declarations of documents written one after another: inside the
// wrapper element they would not be well-formed. A declaration is "<?xml"
// followed by a blank, up to the next "?>". (A plain scan: the text comes
// from outside and may be large.)
std::string withoutXmlDeclarations(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = s.find("<?xml", from);
    const bool declaration = at != std::string::npos && at + 5 < s.size() &&
                             (s[at + 5] == ' ' || s[at + 5] == '\t' || s[at + 5] == '\r' || s[at + 5] == '\n');
    if (at == std::string::npos) break;
    if (!declaration) {
      out.append(s, from, at + 5 - from);
      from = at + 5;
      continue;
    }
    const std::size_t end = s.find("?>", at + 5);
    if (end == std::string::npos) break;  // no declaration ends after this point
    out.append(s, from, at - from);
    from = end + 2;
  }
  out.append(s, from, std::string::npos);
  return out;
}

// ---- the error folder --------------------------------------------------------------------

// The name tried for the n-th time: the part before the first "." then n
// then the rest ("book.xls" -> "book1.xls").
std::string Numbered(const std::string& name, int n) {
  if (n == 0) return name;
  const std::size_t dot = name.find('.');
  if (dot == std::string::npos) return name + std::to_string(n);
  return name.substr(0, dot) + std::to_string(n) + name.substr(dot);
}

// The node's XML in the error folder under the file's name; on disk before
// the input may go.
std::string WriteNodeToFile(const FileRef& f, const std::string& xml) {
  const std::string source = Source("WriteNodeToFile");
  return General::Guarded(source, [&] {
    const std::string path = Utility().WriteXmlFileToErrorDir(xml, f.name);
    const fs::path local = LocalOf(path, source);
    Sync(local, false, source);
    Sync(local.parent_path(), true, source);
    return path;
  });
}

// A copy of the workbook in the error folder under its name without "~",
// numbered when that name is taken; never replaces a file there.
std::string WriteExcelToFile(const FileRef& f) {
  const std::string source = Source("WriteExcelToFile");
  return General::Guarded(source, [&] {
    const std::string folder = Utility().CreateErrorDir();
    const fs::path localFolder = LocalOf(folder, source);
    for (int n = 0; n < 100000; ++n) {
      const std::string candidate = Numbered(f.name, n);
      const fs::path target = localFolder / candidate;
      std::error_code ec;
      if (fs::copy_file(f.ClaimedLocal(), target, fs::copy_options::none, ec)) {
        Sync(target, false, source);
        Sync(localFolder, true, source);
        return text::JoinPath(folder, candidate);
      }
      if (ec != std::errc::file_exists)
        LocalFiles::Raise(hr::kPathFileAccess, source, "The workbook cannot be copied to", text::JoinPath(folder, candidate),
                          ec);
    }
    LocalFiles::Raise(hr::kFileAlreadyExists, source, "No free file name is left", text::JoinPath(folder, f.name));
  });
}

void DeleteClaimedFile(const FileRef& f, const std::string& source) {
  std::error_code ec;
  if (!fs::remove(f.ClaimedLocal(), ec) && ec)
    LocalFiles::Raise(hr::kPermissionDenied, source, "The file cannot be deleted", f.ClaimedShown(), ec);
}

// Utility.MoveFileToErrorDir, which also mails the administrator.
std::string MoveToErrorFolder(const FileRef& f) { return Utility().MoveFileToErrorDir(f.ClaimedShown()); }

void moveFileToErrorFolder(const FileRef& f) {
  try {
    MoveToErrorFolder(f);
  } catch (...) {
    // Left claimed: the stale-claim report brings it to the operator.
  }
}

// ---- documents ---------------------------------------------------------------------------

// Hands one document to the intake. A rejected document is logged with
// the file's name, kept in the error folder (its XML, or for a workbook
// the workbook) and announced to the administrator; false then. Raises
// only when the rejected document could not be kept.
bool processDocumentNode(RunState& st, const std::string& xml, const FileRef& f, const std::string& source) {
  const bool workbook = f.extension == "xls";
  try {
    std::string type, recipient, typeOut, senderName, defaultRecipient;
    std::int32_t docID = 0, senderBP = 0;
    std::int16_t status = 0;
    Document().ProcessDocument(0, xml, type, recipient, docID, senderBP, typeOut, senderName, defaultRecipient, status);
    ++st.documents;
    return true;
  } catch (...) {
    const ErrorInfo failure = ErrorInfo::current();
    const std::string message = I18N::GetLabel(workbook ? "SLBSH0032" : "SLBSH0003") + kCrLf + I18N::GetLabel("SLBSH0002") +
                                ": '" + f.name + "'" + kCrLf + kCrLf + I18N::GetLabel("SLBSH0504") + kCrLf +
                                failure.description;
    General::LogEvent(source, message);
  }
  ++st.errors;
  // The claimed file keeps its "~" name: given back its own name it could
  // be taken again by another worker while this one still works on it.
  const std::string kept = workbook ? WriteExcelToFile(f) : WriteNodeToFile(f, xml);
  Utility().SendEmailToAdministrator(kept);
  return false;
}

// ---- the kinds of file -------------------------------------------------------------------

// The documents of an XML file's text, as the import hands them on: the
// whole text when it parses, else each element of the text wrapped in one
// element. `stage` follows the work for the label of a failure.
struct XmlDocuments {
  bool several = false;
  std::vector<std::string> texts;
};

// The steps of an XML file, each with the text of its failure.
enum class XmlStage { Reading, Parsing, Separating };

std::string FailureText(XmlStage stage, const std::string& file) {
  switch (stage) {
    case XmlStage::Reading:
      return I18N::LabelWith("SLBSH0017", {{"[%FILE%]", file}});
    case XmlStage::Separating:
      return I18N::LabelWith("SLBSH0015", {{"[%FILE%]", file}});
    case XmlStage::Parsing:
      break;
  }
  return I18N::LabelWith("SLBSH1819", {{"[%FILE%]", file}});
}

XmlDocuments documentsOfText(const std::string& text, const std::string& delimiter, XmlStage& stage) {
  XmlDocuments out;
  const std::string content = removeTrailingDelimiter(text, delimiter);
  stage = XmlStage::Parsing;
  DomDocument dom;
  if (dom.loadXML(content)) {
    out.texts.push_back(dom.xml());
    return out;
  }
  DomDocument wrapped;
  if (!wrapped.loadXML("<CustomTag>" + withoutXmlDeclarations(content) + "</CustomTag>"))
    throw Error(wrapped.parseError().errorCode, "MSXML.DOMDocument", wrapped.parseError().reason);
  stage = XmlStage::Separating;
  out.several = true;
  const auto children = wrapped.documentElement()->childNodes();
  for (const auto& child : children->nodes())
    if (child->nodeType() == DomNodeType::Element) out.texts.push_back(child->xml());
  stage = XmlStage::Parsing;
  return out;
}

void processXMLFile(RunState& st, const FileRef& f) {
  const std::string source = Source("processXMLFile");
  XmlStage stage = XmlStage::Reading;
  bool keepInErrorFolder = false;
  try {
    const XmlDocuments documents =
        documentsOfText(FileHandling().GetFileContentAsString(f.ClaimedShown()), st.delimiter, stage);
    if (!documents.several) {
      processDocumentNode(st, documents.texts.front(), f, source);
    } else {
      for (const std::string& xml : documents.texts) {
        try {
          processDocumentNode(st, xml, f, source);
        } catch (...) {
          // A rejected document that could not be kept: the whole file
          // goes to the error folder instead of being deleted.
          General::LogError(source, FailureText(XmlStage::Parsing, f.name));
          keepInErrorFolder = true;
        }
      }
    }
  } catch (...) {
    General::LogError(source, FailureText(stage, f.name));
    ++st.errors;
    MoveToErrorFolder(f);
    return;
  }
  if (keepInErrorFolder) {
    ++st.errors;
    MoveToErrorFolder(f);
    return;
  }
  DeleteClaimedFile(f, source);
}

void ProcessExcelFile(RunState& st, const std::shared_ptr<DomDocument>& dom, const FileRef& f, const std::string& source) {
  General::Guarded(Source("ProcessExcelFile"), [&] {
    processDocumentNode(st, dom->xml(), f, source);
    DeleteClaimedFile(f, Source("ProcessExcelFile"));
  });
}

void ProcessObiFile(RunState& st, const FileRef& f) {
  const std::string source = Source("ProcessObiFile");
  General::Guarded(source, [&] {
    const std::string content = FileHandling().GetFileContentAsString(f.ClaimedShown());
    OBI obi;
    std::string version, xml, signature;
    EObiLanguage language = EObiLanguage::XML;
    obi.DeconstructObiObject(content, version, language, xml, signature);
    obi.CheckObiVersionSupported(version, language);
    const auto dom = obi.XmlToDom(xml);
    processDocumentNode(st, dom->xml(), f, source);
    DeleteClaimedFile(f, source);
  });
}

// ---- stale claims ------------------------------------------------------------------------

struct StaleClaim {
  std::string shown;
  fs::path local;
  std::string key;  // path, inode and claim time: one claim of one file
  std::time_t claimedAt = 0;
};

std::string ClaimKey(const fs::path& local, const struct stat& st) {
  return local.string() + "\t" + std::to_string(st.st_ino) + "\t" + std::to_string(st.st_ctim.tv_sec) + "." +
         std::to_string(st.st_ctim.tv_nsec);
}

// A claimed file is stale when its claim (the rename set its change time)
// is older than the limit and no worker holds it locked.
bool IsStale(const fs::path& local, double limitSeconds, StaleClaim& out) {
  struct stat st {};
  if (::stat(local.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const double age = static_cast<double>(now.tv_sec - st.st_ctim.tv_sec) +
                     static_cast<double>(now.tv_nsec - st.st_ctim.tv_nsec) / 1e9;
  if (age < limitSeconds) return false;
  int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  if (held) return false;
  out.local = local;
  out.key = ClaimKey(local, st);
  out.claimedAt = st.st_ctim.tv_sec;
  return true;
}

std::string LocalTimeText(std::time_t t) {
  std::tm parts{};
  ::localtime_r(&t, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &parts);
  return buffer;
}

// What the operator needs to decide about a stale XML claim: the documents
// stored since the claim whose text is one of the file's documents.
std::string WhatWasStored(const RunState& st, const StaleClaim& claim) {
  const std::string unknown = "Some of its documents may have been taken in already.";
  if (text::LCase(FileHandling().GetFileExtension(claim.shown)) != "xml") return unknown;
  try {
    XmlStage stage = XmlStage::Reading;
    const XmlDocuments documents =
        documentsOfText(FileHandling().GetFileContentAsString(claim.shown), st.delimiter, stage);
    std::string ids;
    long found = 0;
    for (const std::string& xml : documents.texts) {
      auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(
          "SELECT DOCUMENTID FROM DOCUMENT WHERE CREATIONDATE >= " + Encoding::SqlText(LocalTimeText(claim.claimedAt)) +
          " AND ORIGINALXMLBODY = " + Encoding::SqlText(xml) + " ORDER BY DOCUMENTID");
      if (rs->EOF_()) continue;
      ++found;
      for (; !rs->EOF_(); rs->MoveNext()) ids += (ids.empty() ? "" : ", ") + rs->Fields(0).Value().text();
    }
    const std::string total = std::to_string(documents.texts.size());
    if (found == 0) return "None of its " + total + " document(s) was stored since the claim.";
    return std::to_string(found) + " of its " + total + " document(s) were stored since the claim, as document(s) " +
           ids + ".";
  } catch (...) {
    return unknown;
  }
}

// The record of the claims reported already, shared by every worker of
// the site: one line per claim, rewritten under an exclusive lock with
// the claims that still exist.
class ReportedClaims {
 public:
  explicit ReportedClaims(const std::string& source) {
    const fs::path folder = fs::path(text::LocalPath(General::getInstallDir())) / "temp";
    std::error_code ec;
    fs::create_directories(folder, ec);
    path_ = folder / "folder-import-reported.txt";
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
      LocalFiles::Raise(hr::kPathFileAccess, source, "The record of reported claims cannot be opened", path_.string(),
                        std::error_code(errno, std::generic_category()));
    ::flock(fd_, LOCK_EX);
    std::string content;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd_, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    while (start < content.size()) {
      std::size_t end = content.find('\n', start);
      if (end == std::string::npos) end = content.size();
      if (end > start) keys_.insert(content.substr(start, end - start));
      start = end + 1;
    }
  }
  ~ReportedClaims() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReportedClaims(const ReportedClaims&) = delete;
  ReportedClaims& operator=(const ReportedClaims&) = delete;

  bool Contains(const std::string& key) const { return keys_.count(key) != 0; }
  void Add(const std::string& key) { keys_.insert(key); }

  // Keeps the lines of claims whose file is still there as it was.
  void Save() {
    std::string content;
    for (const std::string& key : keys_) {
      const std::string file = key.substr(0, key.find('\t'));
      struct stat st {};
      if (::stat(file.c_str(), &st) == 0 && ClaimKey(file, st) == key) content += key + "\n";
    }
    if (::ftruncate(fd_, 0) == 0) {
      std::size_t done = 0;
      while (done < content.size()) {
        ssize_t n = ::pwrite(fd_, content.data() + done, content.size() - done, static_cast<off_t>(done));
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
    }
  }

 private:
  fs::path path_;
  int fd_ = -1;
  std::set<std::string> keys_;
};

// Tells the operator, once per claim, about the stale claims of a folder.
void ReportStaleClaims(RunState& st, const std::vector<StaleClaim>& stale) {
  if (stale.empty()) return;
  const std::string source = Source("ImportFilesForFolder");
  ReportedClaims reported(source);
  for (const StaleClaim& claim : stale) {
    if (reported.Contains(claim.key)) continue;
    const std::string message =
        "The file '" + claim.shown + "' was claimed for import at " + LocalTimeText(claim.claimedAt) +
        " and was not finished: its worker stopped before the end, or its conversion failed. It is never taken "
        "again. " + WhatWasStored(st, claim) +
        " Check them, then remove the file or give it back its name without the leading '~'.";
    General::LogError(source, message);
    try {
      const std::string admin = DBUtils::GetParameter("AdminEmailAddress");
      if (!text::Trim(admin).empty())
        Utility().SendEmail(admin, admin, "A claimed file waits in an import folder", message, "", "");
    } catch (...) {
      General::LogError(source, "The administrator could not be told about '" + claim.shown + "'");
    }
    reported.Add(claim.key);
    ++st.staleReported;
  }
  reported.Save();
}

// ---- the sweep ---------------------------------------------------------------------------

// One claimed file by its kind. Raises what the file's own handling let
// through.
void ImportClaimedFile(RunState& st, const FileRef& f, std::optional<bool>& spreadsheetEngine) {
  const std::string source = Source("ImportFilesForFolder");
  if (f.extension == "obi") {
    ProcessObiFile(st, f);
  } else if (f.extension == "xml") {
    processXMLFile(st, f);
  } else {
    // Asked only when a workbook comes: the answer loads the engine.
    if (!spreadsheetEngine) spreadsheetEngine = Utility().IsExcelInstalled();
    if (*spreadsheetEngine) {
      std::shared_ptr<DomDocument> dom;
      B2BExcel().TransformExcelToXML(f.ClaimedLocal().string(), dom);
      ProcessExcelFile(st, dom, f, source);
    } else {
      ++st.errors;
      moveFileToErrorFolder(f);
      General::LogError(source, I18N::GetLabel("SLBSH0040"));
    }
  }
}

void ImportFilesForFolder(RunState& st, const std::string& folder) {
  const std::string source = Source("ImportFilesForFolder");
  FileHandling files;
  std::shared_ptr<Collection> listing;
  try {
    listing = files.getFilesInFolder(folder);
  } catch (...) {
    return;  // a folder that cannot be listed is skipped
  }
  if (!listing || listing->Count() == 0) return;
  const fs::path localFolder = LocalOf(folder, source);

  std::optional<bool> spreadsheetEngine;  // asked at the first workbook
  std::vector<StaleClaim> stale;
  st.Trace("readOneFileToBeProcessed_start  - file :");
  for (long i = 1; i <= listing->Count(); ++i) {
    FileRef f;
    f.folder = folder;
    f.localFolder = localFolder;
    const std::string name = text::Trim(fs::path(text::LocalPath(listing->Item(i).text())).filename().string());
    st.Trace("readFilesForFolder_start  - file :" + name);
    try {
      const std::string extension = text::LCase(files.GetFileExtension(name));
      if (extension == "xml" || extension == "xls" || extension == "obi") {
        if (!name.empty() && name[0] == '~') {
          StaleClaim claim;
          if (IsStale(localFolder / name, st.staleClaimSeconds, claim)) {
            claim.shown = text::JoinPath(folder, name);
            stale.push_back(claim);
          }
        } else {
          f.name = name;
          f.extension = extension;
          if (ClaimFile(f, source)) {
            Claim held(f.ClaimedLocal());
            ++st.filesSeen;
            // The claim reaches the disk before any document is made from
            // the file: after a power failure the file cannot come back
            // under its own name and be taken a second time.
            Sync(localFolder, true, source);
            ImportClaimedFile(st, f, spreadsheetEngine);
          }
        }
      }
    } catch (...) {
      ++st.errors;
      General::LogError(source, I18N::LabelWith("SLBSH0041", {{"[%FILE%]", name}}));
    }
    st.Trace("readOneFileToBeProcessed_end  - file :" + name);
  }
  st.Trace("readFilesForFolder_end  - folder :" + folder);
  ReportStaleClaims(st, stale);
}

double ReadStaleClaimSeconds() {
  try {
    auto cfg = General::RequireComponent<Configuration>("Basalt.Configuration", Source("startImports"));
    cfg->Load(General::getSiteConfigFile());
    const std::string value = text::Trim(cfg->GetValue("DOCUMENTIMPORT", "StaleClaimSeconds").text());
    if (value.empty()) return kDefaultStaleClaimSeconds;
    std::size_t used = 0;
    const double seconds = std::stod(value, &used);
    if (used == value.size() && seconds >= 0) return seconds;
  } catch (...) {
  }
  return kDefaultStaleClaimSeconds;
}

struct ImportFolderSetUp {
  EFolderType type;
  const char* parameter;  // its name in the logged texts
};

// Gets a folder and creates it when missing; "" for a blank path.
std::string SetUpFolder(const ImportFolderSetUp& setUp) {
  FileHandling files;
  const std::string folder = files.GetFolderName(static_cast<std::int32_t>(setUp.type));
  if (text::Trim(folder).empty()) return folder;
  if (!files.FolderExists(folder)) files.CreateFolderTree(folder);
  return folder;
}

// False (with failure set) when the run cannot start.
bool startImports(RunState& st, std::string& failure) {
  const std::string source = Source("startImports");
  auto stop = [&](const std::string& text) {
    General::LogError(source, text);
    failure = text;
    return false;
  };

  std::string iisVirtID;
  try {
    iisVirtID = Utility().getIISVirtID();
  } catch (...) {
  }
  if (text::Trim(iisVirtID).empty()) return stop(I18N::GetLabel("SLBSH0009"));

  try {
    st.delimiter = DBUtils::GetParameter("EDIDelimiter");
  } catch (...) {
    st.delimiter.clear();
  }
  if (st.delimiter.empty()) return stop(I18N::GetLabel("SLBSH0010"));

  st.Trace("getParameters (start)");
  const ImportFolderSetUp error{EFolderType::XmlErrorFolder, "XMLErrorPath"};
  const ImportFolderSetUp first{EFolderType::XmlPath1Folder, "XmlPath1"};
  const ImportFolderSetUp second{EFolderType::XmlPath2Folder, "XmlPath2"};
  const ImportFolderSetUp obiFolder{EFolderType::ObiFolder, "ObiPath"};
  std::string path1, path2, obiPath;
  bool obiEnabled = false;
  const ImportFolderSetUp* current = &error;
  try {
    st.errorFolder = SetUpFolder(error);
    current = &first;
    path1 = SetUpFolder(first);
    current = &second;
    path2 = SetUpFolder(second);
    current = &obiFolder;
    obiEnabled = OBI().IsOBIEnabled();
    if (obiEnabled) obiPath = SetUpFolder(obiFolder);
  } catch (...) {
    return stop(I18N::LabelWith("SLBSH0034", {{"[%PARAM%]", current->parameter}}));
  }
  st.Trace("getParameters (end)");

  st.staleClaimSeconds = ReadStaleClaimSeconds();
  if (!text::Trim(path1).empty()) ImportFilesForFolder(st, path1);
  if (!text::Trim(path2).empty()) ImportFilesForFolder(st, path2);
  if (obiEnabled && !text::Trim(obiPath).empty()) ImportFilesForFolder(st, obiPath);
  return true;
}

}  // namespace

FolderImportSummary RunFolderImport() {
  const auto started = std::chrono::steady_clock::now();
  FolderImportSummary summary;
  RunState st;
  try {
    st.trace = General::iGeneral_B2BLogging() > 0;
    st.Trace("Run (start)");
    summary.ran = startImports(st, summary.failure);
    st.Trace("Run (end)");
  } catch (...) {
    summary.ran = false;
    summary.failure = ErrorInfo::current().description;
    General::LogError(Source("startRun"));
  }
  summary.filesSeen = st.filesSeen;
  summary.documents = st.documents;
  summary.errors = st.errors;
  summary.staleReported = st.staleReported;
  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return summary;
}

void DocumentImport::Run() {
  try {
    RunFolderImport();
  } catch (...) {
    General::LogError(Source("Run"));
  }
}

const ClassInfo* DocumentImport::classInfo() const {
  static const ClassInfo* info = ClassBuilder<DocumentImport>("Quillon.DocumentImport").bind<&DocumentImport::Run>("Run").done();
  return info;
}

namespace {
const bool kRegistered = (DocumentImport().classInfo(), true);
}

}  // namespace quillon
