// Address lists and module set-up of libquillon_mail.so.
#include <gmime/gmime.h>

#include <mutex>

#include "platform/Error.h"
#include "platform/mail/MailModule.h"
#include "platform/mail/MailModuleInternal.h"

namespace quillon::mail::detail {

namespace {

bool isBlank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

// Splits at ";" and "," that separate addresses: not inside a quoted
// display name, a comment or angle brackets.
std::vector<std::string> splitList(const std::string& s) {
  std::vector<std::string> parts;
  std::string current;
  bool quoted = false;
  int comment = 0, angle = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (quoted) {
      if (c == '\\' && i + 1 < s.size()) {
        current += c;
        c = s[++i];
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '(') {
      ++comment;
    } else if (c == ')' && comment > 0) {
      --comment;
    } else if (c == '<') {
      ++angle;
    } else if (c == '>' && angle > 0) {
      --angle;
    } else if ((c == ';' || c == ',') && comment == 0 && angle == 0) {
      parts.push_back(current);
      current.clear();
      continue;
    }
    current += c;
  }
  parts.push_back(current);
  return parts;
}

// local@domain with printable characters only and nothing that would end
// an SMTP command or a header.
bool validAddress(const std::string& a) {
  auto at = a.rfind('@');
  if (at == std::string::npos || at == 0 || at + 1 == a.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto c = static_cast<unsigned char>(a[i]);
    if (c <= 0x20 || c == 0x7F || c == '<' || c == '>') return false;
    if (i > at && (c == '(' || c == ')' || c == ',' || c == ';' || c == ':' || c == '\\' || c == '"' || c == '@'))
      return false;
  }
  return true;
}

[[noreturn]] void invalid(const std::string& entry) {
  std::string shown = entry;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  throw Error(hr::kInvalidArg, kMailSource, "The e-mail address '" + shown + "' is not valid.");
}

}  // namespace

void EnsureGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

std::vector<ParsedAddress> ParseAddressList(const std::string& addresses) {
  EnsureGMime();
  std::vector<ParsedAddress> result;
  for (const std::string& entry : splitList(addresses)) {
    if (isBlank(entry)) continue;
    InternetAddressList* list = internet_address_list_parse(nullptr, entry.c_str());
    if (!list) invalid(entry);
    GObjectPtr holder(G_OBJECT(list));
    if (internet_address_list_length(list) != 1) invalid(entry);
    InternetAddress* a = internet_address_list_get_address(list, 0);
    if (!INTERNET_ADDRESS_IS_MAILBOX(a)) invalid(entry);
    const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
    const char* name = internet_address_get_name(a);
    ParsedAddress parsed{name ? name : "", addr ? addr : ""};
    if (!validAddress(parsed.address)) invalid(entry);
    result.push_back(std::move(parsed));
  }
  return result;
}

}  // namespace quillon::mail::detail

namespace {

std::vector<std::string> splitAddresses(const std::string& addresses) {
  std::vector<std::string> out;
  for (auto& a : quillon::mail::detail::ParseAddressList(addresses)) out.push_back(a.address);
  return out;
}

const quillon::mail::MailModuleApi kApi = {
    quillon::mail::kMailModuleVersion,
    &quillon::mail::detail::Compose,
    &quillon::mail::detail::SendSmtp,
    &quillon::mail::detail::Parse,
    &splitAddresses,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const quillon::mail::MailModuleApi* quillon_mail_module() {
  return &kApi;
}
