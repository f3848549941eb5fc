// The exported table of libquillon_net.so.
#include "platform/net/NetModuleInternal.h"

namespace {

const quillon::net::NetModuleApi kApi = {
    quillon::net::kNetModuleVersion,
    &quillon::net::detail::HttpSend,
    &quillon::net::detail::FtpOpen,
    &quillon::net::detail::ImapOpen,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const quillon::net::NetModuleApi* quillon_net_module() {
  return &kApi;
}
