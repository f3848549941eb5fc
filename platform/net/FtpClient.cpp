// FTP sessions with libcurl (part of libquillon_net.so).
//
// One easy handle per session: curl_easy_reset between operations clears
// the options but keeps the connection, so the login and the server's
// state survive. Each operation names its folder in the URL (libcurl sends
// one CWD per part); the session's current directory is kept here.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/Error.h"
#include "platform/net/CurlCommon.h"
#include "platform/net/NetModuleInternal.h"

namespace fs = std::filesystem;

namespace quillon::net::detail {

namespace {

const char* kSource = kFtpSource;

std::int32_t localError(int err) {
  switch (err) {
    case ENOENT: return syserr::kFileNotFound;
    case ENOTDIR: return syserr::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return syserr::kAccessDenied;
    case EEXIST: return syserr::kFileExists;
    default: return wininet::kInternalError;
  }
}

[[noreturn]] void raiseLocal(int err, const std::string& what, const std::string& path) {
  throw Error(localError(err), kSource, what + " '" + path + "': " + std::strerror(err) + ".");
}

// Bytes to upload, read from memory or a file. In ASCII mode CRLF pairs
// become LF first: libcurl turns every LF into CRLF on an ASCII upload, so
// a CRLF text would otherwise arrive with CR CR LF.
struct UploadSource {
  const std::string* bytes = nullptr;
  std::FILE* file = nullptr;
  std::size_t offset = 0;
  bool ascii = false;
  bool pendingCr = false;
  bool atEnd = false;
  int readError = 0;

  std::size_t raw(char* out, std::size_t max) {
    if (bytes) {
      std::size_t n = std::min(max, bytes->size() - offset);
      std::memcpy(out, bytes->data() + offset, n);
      offset += n;
      return n;
    }
    std::size_t n = std::fread(out, 1, max, file);
    if (n == 0 && std::ferror(file)) readError = errno ? errno : EIO;
    return n;
  }

  std::size_t fill(char* out, std::size_t max) {
    if (!ascii) return raw(out, max);
    std::size_t produced = 0;
    char chunk[16384];
    // Keep one byte free for a CR held back from the previous chunk.
    while (produced == 0 && !atEnd && max > 1) {
      std::size_t n = raw(chunk, std::min(sizeof chunk, max - 1));
      if (n == 0) {
        atEnd = true;
        break;
      }
      for (std::size_t i = 0; i < n; ++i) {
        char ch = chunk[i];
        if (pendingCr) {
          pendingCr = false;
          if (ch != '\n') out[produced++] = '\r';
        }
        if (ch == '\r')
          pendingCr = true;
        else
          out[produced++] = ch;
      }
    }
    if (atEnd && pendingCr) {
      pendingCr = false;
      out[produced++] = '\r';
    }
    return produced;
  }
};

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
  auto* src = static_cast<UploadSource*>(user);
  std::size_t n = src->fill(buffer, size * count);
  if (src->readError) return CURL_READFUNC_ABORT;
  return n;
}

size_t onDiscard(char*, size_t size, size_t count, void*) { return size * count; }

size_t onWriteString(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

struct FileSink {
  int fd = -1;
  int error = 0;
};

size_t onWriteFile(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<FileSink*>(user);
  std::size_t total = size * count, done = 0;
  while (done < total) {
    ssize_t n = ::write(sink->fd, data + done, total - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      sink->error = n < 0 ? errno : EIO;
      return 0;  // libcurl stops the transfer
    }
    done += static_cast<std::size_t>(n);
  }
  return total;
}

struct RemotePath {
  bool absolute = false;
  std::vector<std::string> parts;
};

void checkName(const std::string& name) {
  if (name.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw Error(syserr::kInvalidName, kSource, "A file or folder name on the FTP server may not contain line breaks.");
}

class CurlFtp final : public FtpBackend {
 public:
  explicit CurlFtp(const FtpOptions& o) : o_(o), multi_(NewMulti(kSource)), handle_(NewHandle(kSource)) {
    if (o_.host.empty()) throw Error(wininet::kInvalidUrl, kSource, "No FTP server is named.");
    checkName(o_.host);
    std::string host = o_.host.find(':') != std::string::npos ? "[" + o_.host + "]" : o_.host;
    base_ = "ftp://" + host + ":" + std::to_string(o_.port > 0 ? o_.port : 21) + "/";
    // Logging in now reports a wrong password or an unreachable server
    // when the session is made, as the caller expects.
    prepare();
    set(CURLOPT_URL, base_.c_str());
    set(CURLOPT_NOBODY, 1L);
    perform();
  }

  void changeDirectory(const std::string& path) override {
    auto lock = guard();
    RemotePath target = resolve(path, false);
    prepare();
    std::string url = dirUrl(target);
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_NOBODY, 1L);
    perform();
    cwd_ = target;
  }

  std::string currentDirectory() const override {
    std::string out = cwd_.absolute ? "/" : "";
    for (std::size_t i = 0; i < cwd_.parts.size(); ++i) out += (i ? "/" : "") + cwd_.parts[i];
    return out;
  }

  void putFile(const std::string& localPath, const std::string& remoteName, TransferMode mode) override {
    std::FILE* f = std::fopen(localPath.c_str(), "rb");
    if (!f) raiseLocal(errno, "The local file cannot be read", localPath);
    UploadSource src;
    src.file = f;
    // The size is known for a plain file only (a pipe streams).
    struct stat st {};
    curl_off_t size = ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<curl_off_t>(st.st_size) : -1;
    try {
      upload(src, remoteName, mode, size);
    } catch (...) {
      std::fclose(f);
      throw;
    }
    std::fclose(f);
  }

  void putBytes(const std::string& bytes, const std::string& remoteName, TransferMode mode) override {
    UploadSource src;
    src.bytes = &bytes;
    upload(src, remoteName, mode, static_cast<curl_off_t>(bytes.size()));
  }

  void getFile(const std::string& remoteName, const std::string& localPath, TransferMode mode,
               bool failIfExists) override {
    std::error_code ec;
    if (failIfExists && fs::exists(localPath, ec)) raiseLocal(EEXIST, "The local file already exists", localPath);
    fs::path target(localPath);
    fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    if (!fs::is_directory(folder, ec)) throw Error(syserr::kPathNotFound, kSource, "The local folder '" + folder.string() + "' does not exist.");
    // Received under a "~" name, which no import picks up, and renamed
    // when complete.
    std::string temp = (folder / ("~" + target.filename().string() + ".XXXXXX")).string();
    FileSink sink;
    sink.fd = ::mkstemp(temp.data());
    if (sink.fd < 0) raiseLocal(errno, "The local file cannot be written", localPath);
    auto discard = [&] {
      if (sink.fd >= 0) ::close(sink.fd);
      ::unlink(temp.c_str());
    };
    try {
      download(remoteName, mode, onWriteFile, &sink, [&] {
        if (sink.error) raiseLocal(sink.error, "The local file cannot be written", localPath);
      });
    } catch (...) {
      discard();
      throw;
    }
    ::fchmod(sink.fd, 0644);
    if (::fsync(sink.fd) != 0 || ::close(sink.fd) != 0) {
      int err = errno;
      sink.fd = -1;
      ::unlink(temp.c_str());
      raiseLocal(err, "The local file cannot be written", localPath);
    }
    sink.fd = -1;
    if (failIfExists ? ::link(temp.c_str(), localPath.c_str()) != 0 : ::rename(temp.c_str(), localPath.c_str()) != 0) {
      int err = errno;
      ::unlink(temp.c_str());
      raiseLocal(err, "The local file cannot be written", localPath);
    }
    if (failIfExists) ::unlink(temp.c_str());
  }

  std::string getBytes(const std::string& remoteName, TransferMode mode) override {
    std::string out;
    download(remoteName, mode, onWriteString, &out, [] {});
    return out;
  }

  void remove(const std::string& remoteName) override {
    auto lock = guard();
    RemotePath file = resolve(remoteName, true);
    std::string name = file.parts.back();
    file.parts.pop_back();
    prepare();
    std::string url = dirUrl(file);
    Slist commands(curl_slist_append(nullptr, ("DELE " + name).c_str()));
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_NOBODY, 1L);
    set(CURLOPT_POSTQUOTE, commands.get());
    perform();
  }

  // RNFR and RNTO are sent from the old name's folder, so the new name is
  // either a bare name there or a path from the root.
  void rename(const std::string& fromName, const std::string& toName) override {
    auto lock = guard();
    RemotePath from = resolve(fromName, true);
    RemotePath to = resolve(toName, true);
    std::string oldName = from.parts.back();
    from.parts.pop_back();
    std::string newName = to.parts.back();
    to.parts.pop_back();
    if (to.absolute != from.absolute || to.parts != from.parts) {
      if (!to.absolute)
        throw Error(syserr::kInvalidName, kSource,
                    "'" + toName + "' must name the file in its own folder or start with '/'.");
      std::string path;
      for (const std::string& part : to.parts) path += "/" + part;
      newName = path + "/" + newName;
    }
    prepare();
    std::string url = dirUrl(from);
    Slist commands(curl_slist_append(nullptr, ("RNFR " + oldName).c_str()));
    curl_slist_append(commands.get(), ("RNTO " + newName).c_str());
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_NOBODY, 1L);
    set(CURLOPT_POSTQUOTE, commands.get());
    perform();
  }

  std::vector<std::string> list(bool filesOnly) override {
    auto lock = guard();
    if (filesOnly) {
      std::string text;
      prepare();
      std::string url = dirUrl(cwd_);
      set(CURLOPT_URL, url.c_str());
      set(CURLOPT_CUSTOMREQUEST, "MLSD");
      set(CURLOPT_WRITEFUNCTION, onWriteString);
      set(CURLOPT_WRITEDATA, &text);
      CURLcode rc = PerformIn(multi_.get(), handle_.get());
      bool unsupported = rc != CURLE_OK && replies_.lastReply.size() >= 3 &&
                         (replies_.lastReply.compare(0, 3, "500") == 0 || replies_.lastReply.compare(0, 3, "502") == 0);
      if (rc != CURLE_OK && !unsupported) RaiseCurlError(rc, error_, &replies_, o_.password, kSource, false);
      if (rc == CURLE_OK) return mlsdFiles(text);
    }
    return nameList(cwd_);
  }

  // Looked up in the folder's name listing: asking for the file's size or
  // time instead would call a file "present" on servers that do not
  // support those commands.
  bool exists(const std::string& remoteName) override {
    auto lock = guard();
    RemotePath file = resolve(remoteName, true);
    std::string name = file.parts.back();
    file.parts.pop_back();
    auto names = nameList(file);
    return std::find(names.begin(), names.end(), name) != names.end();
  }

 private:
  template <class T>
  void set(CURLoption option, T value) {
    curl_easy_setopt(handle_.get(), option, value);
  }

  std::unique_lock<std::mutex> guard() {
    std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
    if (!lock.owns_lock())
      throw Error(wininet::kTransferInProgress, kSource, "Another operation is in progress on this FTP session.");
    return lock;
  }

  void prepare() {
    CURL* c = handle_.get();
    curl_easy_reset(c);
    error_[0] = 0;
    replies_ = ServerReplies{};
    set(CURLOPT_PROTOCOLS_STR, "ftp");
    if (!o_.user.empty()) {  // without a user libcurl logs in as "anonymous"
      set(CURLOPT_USERNAME, o_.user.c_str());
      set(CURLOPT_PASSWORD, o_.password.c_str());
    }
    set(CURLOPT_PROXY, proxy_().c_str());
    if (!o_.proxy.empty()) set(CURLOPT_HTTPPROXYTUNNEL, 1L);
    if (o_.active) set(CURLOPT_FTPPORT, "-");
    set(CURLOPT_CONNECTTIMEOUT, o_.connectTimeoutSeconds);
    if (o_.stallTimeoutSeconds > 0) {
      set(CURLOPT_LOW_SPEED_LIMIT, 1L);
      set(CURLOPT_LOW_SPEED_TIME, o_.stallTimeoutSeconds);
      set(CURLOPT_SERVER_RESPONSE_TIMEOUT, o_.stallTimeoutSeconds);
    }
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_ERRORBUFFER, error_);
    set(CURLOPT_WRITEFUNCTION, onDiscard);
    TrackReplies(c, &replies_);
  }

  const std::string& proxy_() {
    proxyText_ = o_.proxy;
    if (!proxyText_.empty() && o_.proxyPort != -1) proxyText_ += ":" + std::to_string(o_.proxyPort);
    return proxyText_;
  }

  // The names in a folder (NLST), "." and ".." left out.
  std::vector<std::string> nameList(const RemotePath& folder) {
    std::string text;
    prepare();
    std::string url = dirUrl(folder);
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_DIRLISTONLY, 1L);
    set(CURLOPT_WRITEFUNCTION, onWriteString);
    set(CURLOPT_WRITEDATA, &text);
    perform();
    std::vector<std::string> names;
    for (const std::string& line : lines(text)) {
      // Some servers answer NLST with paths; the name is the last part.
      auto slash = line.find_last_of('/');
      std::string name = slash == std::string::npos ? line : line.substr(slash + 1);
      if (!name.empty() && name != "." && name != "..") names.push_back(name);
    }
    return names;
  }

  void perform() {
    CURLcode rc = PerformIn(multi_.get(), handle_.get());
    if (rc != CURLE_OK) RaiseCurlError(rc, error_, &replies_, o_.password, kSource, false);
  }

  // A path given by the caller, taken from the current directory unless
  // it starts with "/"; "." parts are dropped and ".." goes up one part.
  RemotePath resolve(const std::string& path, bool isFile) const {
    checkName(path);
    RemotePath p = path.empty() || path[0] != '/' ? cwd_ : RemotePath{true, {}};
    std::size_t start = 0;
    while (start <= path.size()) {
      std::size_t slash = path.find('/', start);
      std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
      if (part == "..") {
        if (!p.parts.empty() && p.parts.back() != "..")
          p.parts.pop_back();
        else if (!p.absolute)
          p.parts.push_back(part);
      } else if (!part.empty() && part != ".") {
        p.parts.push_back(part);
      }
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
    if (isFile && (p.parts.empty() || path.empty() || path.back() == '/' || p.parts.back() == ".."))
      throw Error(syserr::kInvalidName, kSource, "'" + path + "' is not a file name.");
    return p;
  }

  std::string escaped(const std::string& part) const {
    char* e = curl_easy_escape(handle_.get(), part.data(), static_cast<int>(part.size()));
    std::string out = e ? e : "";
    curl_free(e);
    return out;
  }

  std::string dirUrl(const RemotePath& p) const {
    // "%2F" as the first part makes libcurl start with "CWD /".
    std::string url = base_ + (p.absolute ? "%2F" : "");
    for (std::size_t i = 0; i < p.parts.size(); ++i) url += (i || p.absolute ? "/" : "") + escaped(p.parts[i]);
    if (!p.parts.empty() || p.absolute) url += "/";
    return url;
  }

  std::string fileUrl(const RemotePath& file) const {
    RemotePath dir = file;
    dir.parts.pop_back();
    return dirUrl(dir) + escaped(file.parts.back());
  }

  void upload(UploadSource& src, const std::string& remoteName, TransferMode mode, curl_off_t size) {
    auto lock = guard();
    RemotePath file = resolve(remoteName, true);
    src.ascii = mode == TransferMode::Ascii;
    prepare();
    std::string url = fileUrl(file);
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_UPLOAD, 1L);
    set(CURLOPT_READFUNCTION, onRead);
    set(CURLOPT_READDATA, &src);
    if (src.ascii)
      set(CURLOPT_TRANSFERTEXT, 1L);  // line ends change, so the size does too
    else if (size >= 0)
      set(CURLOPT_INFILESIZE_LARGE, size);
    CURLcode rc = PerformIn(multi_.get(), handle_.get());
    if (src.readError) raiseLocal(src.readError, "The local data cannot be read for", remoteName);
    if (rc != CURLE_OK) RaiseCurlError(rc, error_, &replies_, o_.password, kSource, false);
  }

  template <class Check>
  void download(const std::string& remoteName, TransferMode mode, curl_write_callback write, void* target,
                Check checkLocal) {
    auto lock = guard();
    RemotePath file = resolve(remoteName, true);
    prepare();
    std::string url = fileUrl(file);
    set(CURLOPT_URL, url.c_str());
    if (mode == TransferMode::Ascii) set(CURLOPT_TRANSFERTEXT, 1L);
    set(CURLOPT_WRITEFUNCTION, write);
    set(CURLOPT_WRITEDATA, target);
    CURLcode rc = PerformIn(multi_.get(), handle_.get());
    checkLocal();
    if (rc != CURLE_OK) RaiseCurlError(rc, error_, &replies_, o_.password, kSource, false);
  }

  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t eol = text.find('\n', start);
      std::string line = text.substr(start, eol == std::string::npos ? std::string::npos : eol - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) out.push_back(line);
      if (eol == std::string::npos) break;
      start = eol + 1;
    }
    return out;
  }

  // MLSD lines are "fact=value;fact=value; name".
  static std::vector<std::string> mlsdFiles(const std::string& text) {
    std::vector<std::string> names;
    for (const std::string& line : lines(text)) {
      auto space = line.find(' ');
      if (space == std::string::npos) continue;
      std::string facts = line.substr(0, space), name = line.substr(space + 1);
      for (char& ch : facts) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if ((";" + facts + ";").find(";type=file;") != std::string::npos && name != "." && name != "..") names.push_back(name);
    }
    return names;
  }

  FtpOptions o_;
  MultiHandle multi_;  // holds the connection between operations
  CurlHandle handle_;
  std::string base_;
  std::string proxyText_;
  RemotePath cwd_;
  std::mutex busy_;
  ServerReplies replies_;
  char error_[CURL_ERROR_SIZE] = {};
};

}  // namespace

FtpBackend* FtpOpen(const FtpOptions& options) { return new CurlFtp(options); }

}  // namespace quillon::net::detail
