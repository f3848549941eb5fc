#include "platform/Http.h"

#include "platform/LazyModule.h"

namespace quillon::Http {

// The module's entry point (platform/HttpModule.cpp).
using GetFunction = bool(const std::string& url, std::size_t maxBody, std::string& body, std::string& effectiveUrl,
                         std::string& failure);

bool Get(const std::string& url, std::size_t maxBody, std::string& body, std::string& effectiveUrl,
         std::string& failure) {
  static GetFunction* get = LazyModule::Function<GetFunction>("http", "quillon_http_get");
  return get(url, maxBody, body, effectiveUrl, failure);
}

}  // namespace quillon::Http
