#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdio.h>
#include <fstream>
#include <sstream>

#include "foundation/General.h"
#include "imports/EMailImportInternal.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"
#include "platform/Object.h"
#include "platform/Text.h"
#include "platform/Variant.h"

namespace fs = std::filesystem;

namespace quillon::emailimport {

namespace {

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

fs::path LocalFolder(const std::string& path, const std::string& source) {
  if (text::IsNetworkPath(path)) {
    auto store = General::RequireComponent("Shale.File", source);
    std::vector<Variant> arguments{Variant(path)};
    return fs::path(store->invoke("ResolvePath", arguments).text());
  }
  return fs::path(text::LocalPath(path));
}

void WriteDurably(const fs::path& file, const std::string& bytes, const std::string& source, const std::string& shown,
                  bool replace) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | (replace ? O_TRUNC : O_EXCL) | O_CLOEXEC, 0644);
  if (fd < 0) LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be created", shown, lastError());
  if (!writeAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0) {
    std::error_code ec = lastError();
    ::close(fd);
    std::error_code ignored;
    fs::remove(file, ignored);
    LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be written", shown, ec);
  }
  if (::close(fd) != 0) {
    std::error_code ec = lastError();
    std::error_code ignored;
    fs::remove(file, ignored);
    LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be written", shown, ec);
  }
}

bool RenameNoReplace(const fs::path& from, const fs::path& to, const std::string& source) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
    LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be renamed", to.string(), lastError());
  // A file system without the no-replace rename: a hard link fails on an
  // existing name just as well.
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return false;
    LocalFiles::Raise(hr::kPathFileAccess, source, "The file cannot be renamed", to.string(), lastError());
  }
  ::unlink(from.c_str());
  return true;
}

void SyncFolder(const fs::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string Digest(const std::string& bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char out[17];
  std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
  return out;
}

// ---- records ----------------------------------------------------------------------------------

namespace {

const char* stateName(MessageRecords::State s) {
  return s == MessageRecords::State::Done ? "done" : s == MessageRecords::State::Started ? "started" : "none";
}

// "id\tstate\tnote" lines of a record: the first line is the mailbox id.
std::string readRecord(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

MessageRecords::MessageRecords(const std::string& account) : account_(account) {
  const std::string source = Source("MessageRecords");
  const std::string site = General::getInstallDir();
  if (text::Trim(site).empty())
    throw Error(hr::kFail, source, "No site is set: the e-mail import has nowhere to keep its records.");
  // The account was checked by the mailbox as a single name; the digest
  // keeps the folder name plain whatever it holds.
  folder_ = fs::path(text::LocalPath(site)) / "mail" / "import-records" / Digest(account);
  std::error_code ec;
  fs::create_directories(folder_, ec);
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, source, "The record folder cannot be created", folder_.string(), ec);
}

fs::path MessageRecords::fileOf(const std::string& id, const std::string& raw) const {
  return folder_ / (Digest(id + '\n' + Digest(raw) + '\n' + std::to_string(raw.size())) + ".rec");
}

MessageRecords::State MessageRecords::Find(const std::string& id, const std::string& raw) const {
  const fs::path file = fileOf(id, raw);
  if (!LocalFiles::IsFile(file)) return State::None;
  std::istringstream lines(readRecord(file));
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  return second == "done" ? State::Done : State::Started;
}

void MessageRecords::Mark(const std::string& id, const std::string& raw, State state, const std::string& note) {
  const std::string source = Source("MessageRecords");
  const fs::path file = fileOf(id, raw);
  const fs::path part = folder_ / (file.filename().string() + ".part");
  // Written aside and renamed over the old record: a record is never half
  // written, and the state goes from started to done in one step.
  std::string oneLineNote = note;
  std::replace(oneLineNote.begin(), oneLineNote.end(), '\n', ' ');
  std::replace(oneLineNote.begin(), oneLineNote.end(), '\r', ' ');
  WriteDurably(part, id + "\n" + stateName(state) + "\n" + account_ + "\n" + oneLineNote + "\n", source, part.string(),
               true);
  std::error_code ec;
  fs::rename(part, file, ec);
  if (ec) {
    fs::remove(part, ec);
    LocalFiles::Raise(hr::kPathFileAccess, source, "The record cannot be written", file.string(), ec);
  }
  SyncFolder(folder_);
}

void MessageRecords::Forget(const std::string& id, const std::string& raw) {
  std::error_code ec;
  if (fs::remove(fileOf(id, raw), ec)) SyncFolder(folder_);
}

void MessageRecords::ForgetAllBut(const std::vector<std::string>& ids) {
  std::error_code ec;
  bool removed = false;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    std::istringstream lines(readRecord(it->path()));
    std::string id;
    std::getline(lines, id);
    if (std::find(ids.begin(), ids.end(), id) != ids.end()) continue;
    std::error_code ignored;
    removed |= fs::remove(it->path(), ignored);
  }
  if (removed) SyncFolder(folder_);
}

}  // namespace quillon::emailimport
