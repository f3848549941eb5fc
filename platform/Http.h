// Http: fetching a document over HTTP or HTTPS.
//
// The transfer is libcurl's, built as the module libquillon_http.so and
// loaded on the first fetch (platform/LazyModule.h), so a process that
// never fetches never loads libcurl and its TLS, LDAP and SSH libraries.
#pragma once

#include <cstddef>
#include <string>

namespace quillon::Http {

// GETs `url` (http and https only, also after redirects; at most 10
// redirects, 10 s to connect, 30 s in all). On success fills `body` (at
// most `maxBody` bytes, else the transfer fails) and `effectiveUrl` (where
// the redirects ended) and returns true; otherwise returns false with a
// short reason in `failure` ("HTTP status 404.", the transfer's error).
// Raises Error only when the module cannot be loaded.
bool Get(const std::string& url, std::size_t maxBody, std::string& body, std::string& effectiveUrl,
         std::string& failure);

}  // namespace quillon::Http
