// Local files of the EDI exchange: resolving paths, names, durable writes
// and renames that never replace a file.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "foundation/General.h"
#include "imports/EDIInternal.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"
#include "platform/Object.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace quillon::edi {

std::string Source(const char* step) { return std::string("Quillon.EDI.") + step; }

Place Resolve(const std::string& path) {
  if (text::IsNetworkPath(path)) {
    auto store = General::RequireComponent("Shale.File", Source("Resolve"));
    std::vector<Variant> arguments{Variant(path)};
    return {path, fs::path(store->invoke("ResolvePath", arguments).text())};
  }
  return {path, fs::path(text::LocalPath(path))};
}

Place Child(const Place& folder, const std::string& name) {
  return {text::JoinPath(folder.shown, name), folder.local / name};
}

std::string SafeNamePart(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127 || std::strchr("/\\:*?\"<>|", c)) c = '_';
  }
  return out;
}

bool SameName(const std::string& a, const std::string& b) { return text::LCase(a) == text::LCase(b); }

std::string TimeStamp(std::time_t t) {
  std::tm parts{};
  ::localtime_r(&t, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d-%H-%M-%S", &parts);
  return buffer;
}

std::string MakeIncomingFileName(const std::string& name, const std::string& networkId, std::time_t t) {
  std::string base = name.substr(0, name.find('.'));
  return SafeNamePart(base) + "_" + SafeNamePart(networkId) + "_" + TimeStamp(t) + ".xml";
}

std::time_t CreationTime(const fs::path& file) {
  struct statx sx {};
  if (::statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
    if (sx.stx_mask & STATX_BTIME) return static_cast<std::time_t>(sx.stx_btime.tv_sec);
    return static_cast<std::time_t>(sx.stx_mtime.tv_sec);
  }
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 ? st.st_mtim.tv_sec : 0;
}

bool IdentityOf(const fs::path& file, FileIdentity& out) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  out.device = static_cast<std::uint64_t>(st.st_dev);
  out.inode = static_cast<std::uint64_t>(st.st_ino);
  out.size = static_cast<std::uint64_t>(st.st_size);
  out.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

Listing ListFolder(const Place& folder) {
  Listing out;
  std::error_code ec;
  for (fs::directory_iterator it(folder.local, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError))
      out.files.push_back(it->path().filename().string());
    else if (it->is_directory(typeError))
      out.folders.push_back(it->path().filename().string());
  }
  if (ec) LocalFiles::Raise(hr::kPathFileAccess, Source("ListFolder"), "The folder cannot be listed", folder.shown, ec);
  std::sort(out.files.begin(), out.files.end());
  std::sort(out.folders.begin(), out.folders.end());
  return out;
}

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

DurableFile::DurableFile(const Place& file) : file_(file) {
  fd_ = ::open(file.local.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) LocalFiles::Raise(hr::kPathFileAccess, Source("DurableFile"), "The file cannot be created", file.shown, lastError());
}

DurableFile::~DurableFile() {
  if (fd_ >= 0) ::close(fd_);
}

void DurableFile::Write(const std::string& bytes) {
  if (!writeAll(fd_, bytes.data(), bytes.size()))
    LocalFiles::Raise(hr::kPathFileAccess, Source("DurableFile"), "The file cannot be written", file_.shown, lastError());
}

void DurableFile::Commit() {
  int fd = fd_;
  fd_ = -1;
  if (::fsync(fd) != 0) {
    std::error_code ec = lastError();
    ::close(fd);
    LocalFiles::Raise(hr::kPathFileAccess, Source("DurableFile"), "The file cannot be written", file_.shown, ec);
  }
  if (::close(fd) != 0)
    LocalFiles::Raise(hr::kPathFileAccess, Source("DurableFile"), "The file cannot be written", file_.shown, lastError());
}

bool RenameNoReplace(const fs::path& from, const fs::path& to, std::error_code& ec) {
  ec.clear();
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    ec = lastError();
    return false;
  }
  // A file system without the no-replace rename: a hard link fails on an
  // existing name just as well.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) {
    ec = lastError();
    return false;
  }
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) {
    ec = std::error_code(EEXIST, std::generic_category());
    return false;
  }
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  ec = lastError();
  return false;
}

bool CopyDurably(const fs::path& from, const fs::path& to, std::error_code& ec) {
  ec.clear();
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    ec = lastError();
    return false;
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    ec = lastError();
    ::close(in);
    return false;
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !writeAll(out, buffer, static_cast<std::size_t>(n)))) {
      ok = false;
      break;
    }
    if (n == 0) break;
  }
  if (ok && ::fsync(out) != 0) ok = false;
  if (!ok) ec = lastError();
  ::close(in);
  if (::close(out) != 0 && ok) {
    ok = false;
    ec = lastError();
  }
  return ok;
}

void SyncFolder(const fs::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void RemoveQuietly(const fs::path& file) {
  std::error_code ec;
  fs::remove(file, ec);
}

std::string ReadFileBytes(const Place& file, const std::string& source) {
  std::ifstream in(file.local, std::ios::binary);
  if (!in) LocalFiles::Raise(hr::kPermissionDenied, source, "The file cannot be read", file.shown, lastError());
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) LocalFiles::Raise(hr::kPermissionDenied, source, "The file cannot be read", file.shown);
  return content.str();
}

void LogFailure(const std::string& source, const std::string& text, Counts& counts) {
  ++counts.errors;
  if (ErrorInfo::current().pending()) {
    General::LogEvent(source, text);
    return;
  }
  try {
    throw Error(hr::kFail, source, text);
  } catch (...) {
    General::LogEvent(source);
  }
}

}  // namespace quillon::edi
