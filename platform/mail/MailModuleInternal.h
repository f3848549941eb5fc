// Helpers shared by the sources of libquillon_mail.so.
#pragma once

#include <glib-object.h>

#include <string>
#include <vector>

#include "platform/Mail.h"

namespace quillon::mail::detail {

// Initialises GMime once per process.
void EnsureGMime();

// Releases a GObject reference when it goes out of scope.
class GObjectPtr {
 public:
  explicit GObjectPtr(GObject* object) : object_(object) {}
  ~GObjectPtr() {
    if (object_) g_object_unref(object_);
  }
  GObjectPtr(const GObjectPtr&) = delete;
  GObjectPtr& operator=(const GObjectPtr&) = delete;

 private:
  GObject* object_;
};

struct ParsedAddress {
  std::string name;     // display name, UTF-8 ("" when none)
  std::string address;  // local@domain
};

// Every address of an argument that may hold several, separated by ";" or
// "," (outside quotes, comments and angle brackets). Raises Error
// (hr::kInvalidArg) for an entry that is not a valid address.
std::vector<ParsedAddress> ParseAddressList(const std::string& addresses);

std::string Compose(const OutgoingMail& mail, bool withBcc);
SendResult SendSmtp(const OutgoingMail& mail, const MailSettings& settings);
ReceivedMail Parse(const std::string& raw);

}  // namespace quillon::mail::detail
