// libquillon_http.so: the HTTP transfers of platform/Http.h, with libcurl.
#include <curl/curl.h>

#include <cstddef>
#include <mutex>
#include <string>

namespace {

struct Sink {
  std::string* body;
  std::size_t maxBody;
};

std::size_t write(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  std::size_t n = size * count;
  if (sink->body->size() + n > sink->maxBody) return 0;  // aborts the transfer
  sink->body->append(data, n);
  return n;
}

}  // namespace

extern "C" bool quillon_http_get(const std::string& url, std::size_t maxBody, std::string& body,
                                 std::string& effectiveUrl, std::string& failure) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* curl = curl_easy_init();
  if (!curl) {
    failure = "libcurl could not be initialised.";
    return false;
  }
  char errbuf[CURL_ERROR_SIZE] = {0};
  Sink sink{&body, maxBody};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  CURLcode rc = curl_easy_perform(curl);
  bool ok = rc == CURLE_OK;
  if (ok) {
    char* effective = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) effectiveUrl = effective;
  } else {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    failure = status >= 400 ? "HTTP status " + std::to_string(status) + "."
                            : std::string(errbuf[0] ? errbuf : curl_easy_strerror(rc));
  }
  curl_easy_cleanup(curl);
  return ok;
}
