// libcurl plumbing shared by the clients of libquillon_net.so.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quillon::net::detail {

// Initialises libcurl once per process.
void EnsureCurl();

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
CurlHandle NewHandle(const char* source);

struct MultiDeleter {
  void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
MultiHandle NewMulti(const char* source);

// Runs one transfer of `easy` inside `multi`, whose connection cache keeps
// the connection (and an FTP login) for the next transfer. The loop never
// sleeps longer than a few milliseconds: libcurl 7.88 sometimes leaves a
// passive FTP data connection unopened until its next wake-up, which a
// plain curl_easy_perform only gives it after a full second.
CURLcode PerformIn(CURLM* multi, CURL* easy);

struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

// Follows a line-based dialogue (FTP, IMAP) through libcurl's debug
// callback and keeps the server's last complete reply, which explains
// most failures better than libcurl's own text.
struct ServerReplies {
  std::string partial;
  std::string lastReply;
  std::string reply;  // lines of a reply still being read
  void incoming(const char* data, std::size_t size);
};

// Turns on the debug callback that fills `replies` (it prints nothing).
void TrackReplies(CURL* c, ServerReplies* replies);

// The system error number for a libcurl failure; `http` maps a garbled
// answer to the HTTP number, else to the server-error number.
std::int32_t SystemErrorFor(CURLcode rc, bool http);

// Replaces the password wherever it appears in a text meant for people.
std::string Masked(std::string text, const std::string& password);

// Raises the Error for a failed transfer: the client's text (the error
// buffer when filled, else libcurl's text for the code), the server's last
// reply when there is one, and the password masked.
[[noreturn]] void RaiseCurlError(CURLcode rc, const char* errorBuffer, const ServerReplies* replies,
                                 const std::string& password, const char* source, bool http);

}  // namespace quillon::net::detail
