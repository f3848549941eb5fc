// The entry points of libquillon_mail.so (GMime + libcurl SMTP), shared by
// the module and its front in platform/Mail.cpp. Only the front includes
// this header; the rest of the component sees platform/Mail.h.
//
// The module exports one C function returning a table of entry points; the
// table carries a version so a stale module is refused with a clear error
// instead of crashing. Entry points raise quillon::Error.
#pragma once

#include <string>

#include "platform/Mail.h"

namespace quillon::mail {

struct MailModuleApi {
  int version;
  std::string (*compose)(const OutgoingMail& mail, bool withBcc);
  SendResult (*sendSmtp)(const OutgoingMail& mail, const MailSettings& settings);
  ReceivedMail (*parse)(const std::string& raw);
  std::vector<std::string> (*splitAddresses)(const std::string& addresses);
};

inline constexpr int kMailModuleVersion = 1;
inline constexpr const char* kMailModuleName = "mail";
inline constexpr const char* kMailModuleSymbol = "quillon_mail_module";

}  // namespace quillon::mail

extern "C" const quillon::mail::MailModuleApi* quillon_mail_module();
