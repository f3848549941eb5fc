// HTTP requests with libcurl (part of libquillon_net.so).
#include <cctype>
#include <cstring>

#include "platform/Error.h"
#include "platform/net/CurlCommon.h"
#include "platform/net/NetModuleInternal.h"

namespace quillon::net::detail {

namespace {

struct Exchange {
  HttpResponse response;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
  static_cast<Exchange*>(user)->response.body.append(data, size * count);
  return size * count;
}

std::string trimmed(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// libcurl reports the status code but not the reason phrase, so the status
// line is read here; a later status line (after "100 Continue" or a
// proxy's tunnel answer) starts the headers afresh.
size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto& r = static_cast<Exchange*>(user)->response;
  std::string line(data, size * count);
  if (line.compare(0, 5, "HTTP/") == 0) {
    r.headers.clear();
    r.reason.clear();
    auto first = line.find(' ');
    auto second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
    if (second != std::string::npos) r.reason = trimmed(line.substr(second + 1));
    return size * count;
  }
  auto colon = line.find(':');
  if (colon != std::string::npos) r.headers.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
  return size * count;
}

}  // namespace

HttpResponse HttpSend(const HttpRequest& q) {
  const char* source = kHttpSource;
  std::string scheme = q.url.substr(0, q.url.find(':'));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme != "http" && scheme != "https")
    throw Error(wininet::kUnrecognizedScheme, source, "The address '" + q.url + "' is not an http or https address.");
  bool post = q.method == "POST" || q.method == "post";
  if (!post && q.method != "GET" && q.method != "get")
    throw Error(wininet::kInternalError, source, "The request method '" + q.method + "' is not supported.");

  CurlHandle handle = NewHandle(source);
  CURL* c = handle.get();
  Exchange exchange;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  Slist headers;
  auto addHeader = [&](const std::string& h) {
    curl_slist* next = curl_slist_append(headers.get(), h.c_str());
    if (!next) throw Error(wininet::kInternalError, source, "The request headers could not be built.");
    headers.release();
    headers.reset(next);
  };
  addHeader("Expect:");
  if (post && !q.contentType.empty()) addHeader("Content-Type: " + q.contentType);

  std::string proxy = q.proxy;
  if (!proxy.empty() && q.proxyPort != -1) proxy += ":" + std::to_string(q.proxyPort);

  curl_easy_setopt(c, CURLOPT_URL, q.url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  if (post) {
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, q.body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(q.body.size()));
  } else {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_USERAGENT, q.agent.c_str());
  // An empty proxy means a direct connection, whatever the environment's
  // proxy variables say.
  curl_easy_setopt(c, CURLOPT_PROXY, proxy.c_str());
  if (!q.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, q.caFile.c_str());
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, q.connectTimeoutSeconds);
  if (q.stallTimeoutSeconds > 0) {
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, q.stallTimeoutSeconds);
  }
  curl_easy_setopt(c, CURLOPT_TIMEOUT, q.timeoutSeconds);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &exchange);

  CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) RaiseCurlError(rc, errorBuffer, nullptr, "", source, true);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  exchange.response.status = status;
  return std::move(exchange.response);
}

}  // namespace quillon::net::detail
