#include "platform/UrlEncoding.h"

#include <curl/curl.h>

#include <climits>
#include <memory>

#include "platform/Error.h"

namespace quillon {

std::string UrlEscape(const std::string& s) {
  if (s.empty()) return {};
  if (s.size() > static_cast<std::size_t>(INT_MAX))
    throw Error(hr::kInvalidArg, "UrlEncoding", "The text is too long to be URL-encoded.");
#if LIBCURL_VERSION_NUM >= 0x075200
  // Since 7.82 curl_easy_escape needs no handle.
  CURL* handle = nullptr;
#else
  std::unique_ptr<CURL, void (*)(CURL*)> owner(curl_easy_init(), curl_easy_cleanup);
  CURL* handle = owner.get();
#endif
  std::unique_ptr<char, void (*)(void*)> escaped(curl_easy_escape(handle, s.data(), static_cast<int>(s.size())),
                                                 curl_free);
  if (!escaped) throw Error(hr::kOutOfMemory, "UrlEncoding", "The text could not be URL-encoded.");
  return escaped.get();
}

}  // namespace quillon
