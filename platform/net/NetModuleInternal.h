// The clients of libquillon_net.so, as the module's table exports them.
#pragma once

#include "platform/net/NetModule.h"

namespace quillon::net::detail {

HttpResponse HttpSend(const HttpRequest& request);
FtpBackend* FtpOpen(const FtpOptions& options);
ImapBackend* ImapOpen(const ImapOptions& options, const char* source);

}  // namespace quillon::net::detail
