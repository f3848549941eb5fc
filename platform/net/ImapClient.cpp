// Reading and deleting mailbox messages over IMAP with libcurl (part of
// libquillon_net.so).
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/Error.h"
#include "platform/net/CurlCommon.h"
#include "platform/net/NetModuleInternal.h"

namespace quillon::net::detail {

namespace {

size_t onWrite(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The numbers of the untagged "* SEARCH n n ..." lines of an answer.
std::vector<std::uint64_t> searchResult(const std::string& out) {
  std::vector<std::uint64_t> result;
  std::size_t at = 0;
  while ((at = out.find("* SEARCH", at)) != std::string::npos) {
    std::size_t end = out.find('\n', at);
    std::string line = out.substr(at + 8, end == std::string::npos ? std::string::npos : end - at - 8);
    const char* p = line.c_str();
    while (*p) {
      char* next = nullptr;
      unsigned long long n = std::strtoull(p, &next, 10);
      if (next == p) {
        ++p;
        continue;
      }
      result.push_back(n);
      p = next;
    }
    at = end == std::string::npos ? out.size() : end;
  }
  return result;
}

class CurlImap final : public ImapBackend {
 public:
  CurlImap(const ImapOptions& o, const char* source) : o_(o), source_(source), handle_(NewHandle(source)) {
    std::string security = lower(o_.security.empty() ? "none" : o_.security);
    if (security != "none" && security != "starttls" && security != "tls")
      throw Error(hr::kInvalidArg, source_, "The mailbox setting ImapSecurity is '" + o_.security + "'; it must be none, starttls or tls.");
    if (o_.host.empty()) throw Error(wininet::kInvalidUrl, source_, "No IMAP server is named.");
    tls_ = security == "tls";
    starttls_ = security == "starttls";
    std::string host = o_.host.find(':') != std::string::npos ? "[" + o_.host + "]" : o_.host;
    long port = o_.port > 0 ? o_.port : (tls_ ? 993 : 143);
    char* folder = curl_easy_escape(handle_.get(), o_.folder.data(), static_cast<int>(o_.folder.size()));
    folderUrl_ = std::string(tls_ ? "imaps://" : "imap://") + host + ":" + std::to_string(port) + "/" + (folder ? folder : "");
    curl_free(folder);
    // Log in and open the folder now, so a wrong password or a missing
    // mailbox is reported when the mailbox is opened.
    std::string ignored;
    command("NOOP", ignored);
  }

  std::vector<std::uint64_t> uids() override {
    std::string out;
    // The folder stays selected between calls; NOOP makes the server look
    // for messages that arrived since, which a search alone may not see.
    command("NOOP", out);
    out.clear();
    command("UID SEARCH ALL", out);
    std::vector<std::uint64_t> result = searchResult(out);
    std::sort(result.begin(), result.end());
    return result;
  }

  std::string fetch(std::uint64_t uid) override {
    prepare();
    std::string url = folderUrl_ + "/;UID=" + std::to_string(uid);
    std::string out;
    curl_easy_setopt(handle_.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle_.get(), CURLOPT_WRITEFUNCTION, onWrite);
    curl_easy_setopt(handle_.get(), CURLOPT_WRITEDATA, &out);
    CURLcode rc = curl_easy_perform(handle_.get());
    if (rc != CURLE_OK) {
      if (!known(uid)) missing(uid);
      RaiseCurlError(rc, error_, &replies_, o_.password, source_, false);
    }
    if (out.empty() && !known(uid)) missing(uid);
    return out;
  }

  void remove(std::uint64_t uid) override {
    std::string out;
    command("UID STORE " + std::to_string(uid) + " +FLAGS.SILENT (\\Deleted)", out);
    // A UID STORE on a message that is gone succeeds silently, so look.
    if (!known(uid)) missing(uid);
    std::string ignored;
    try {
      command("UID EXPUNGE " + std::to_string(uid), ignored);  // only this message (UIDPLUS)
    } catch (const Error&) {
      command("EXPUNGE", ignored);
    }
    if (known(uid))
      throw Error(wininet::kExtendedError, source_,
                  "The message " + std::to_string(uid) + " was marked deleted but is still in the mailbox of '" + o_.user + "'.");
  }

 private:
  void prepare() {
    CURL* c = handle_.get();
    curl_easy_reset(c);
    error_[0] = 0;
    replies_ = ServerReplies{};
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "imap,imaps");
    curl_easy_setopt(c, CURLOPT_USERNAME, o_.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, o_.password.c_str());
    curl_easy_setopt(c, CURLOPT_USE_SSL, starttls_ ? static_cast<long>(CURLUSESSL_ALL) : static_cast<long>(CURLUSESSL_NONE));
    if (!o_.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, o_.caFile.c_str());
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, o_.connectTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, o_.stallTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error_);
    TrackReplies(c, &replies_);
  }

  void command(const std::string& request, std::string& out) {
    prepare();
    curl_easy_setopt(handle_.get(), CURLOPT_URL, folderUrl_.c_str());
    curl_easy_setopt(handle_.get(), CURLOPT_CUSTOMREQUEST, request.c_str());
    curl_easy_setopt(handle_.get(), CURLOPT_WRITEFUNCTION, onWrite);
    curl_easy_setopt(handle_.get(), CURLOPT_WRITEDATA, &out);
    CURLcode rc = curl_easy_perform(handle_.get());
    if (rc != CURLE_OK) RaiseCurlError(rc, error_, &replies_, o_.password, source_, false);
  }

  bool known(std::uint64_t uid) {
    std::string out;
    command("UID SEARCH UID " + std::to_string(uid), out);
    auto found = searchResult(out);
    return std::find(found.begin(), found.end(), uid) != found.end();
  }

  [[noreturn]] void missing(std::uint64_t uid) {
    throw Error(hr::kFileNotFound, source_,
                "The message " + std::to_string(uid) + " is not in the mailbox of '" + o_.user + "'.");
  }

  ImapOptions o_;
  const char* source_;
  CurlHandle handle_;
  std::string folderUrl_;
  bool tls_ = false;
  bool starttls_ = false;
  ServerReplies replies_;
  char error_[CURL_ERROR_SIZE] = {};
};

}  // namespace

ImapBackend* ImapOpen(const ImapOptions& options, const char* source) { return new CurlImap(options, source); }

}  // namespace quillon::net::detail
