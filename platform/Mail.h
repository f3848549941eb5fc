// Mail: composing, sending and reading e-mail messages.
//
// Sending. An OutgoingMail is composed as a MIME message (GMime): a
// plain-text UTF-8 body in quoted-printable, file attachments in base64
// with their names in RFC 2231 form, a subject in RFC 2047 form when it is
// not ASCII, addresses with UTF-8 display names, a Date and a Message-ID.
// Address arguments may hold several addresses separated by ";" or ","
// ("a@x.test; Bea <b@y.test>"); every one is a recipient.
//
// Where a message goes is set by section "MAIL" of the site's
// SiteConfiguration.xml (read at every Send):
//   SmtpServer    relay host; when empty the message goes to the pickup folder
//   SmtpPort      default 25 (465 with SmtpSecurity "tls")
//   SmtpSecurity  "none" (default), "starttls" (required) or "tls"
//   SmtpUser, SmtpPassword   credentials for the relay (optional)
//   SmtpCaFile    CA certificates to trust for the relay (optional)
//   PickupFolder  default SITE/mail/pickup; relative to the site folder
// With a relay the message is sent over SMTP (libcurl). Without one it is
// written whole as "<time>-<unique>.eml" into the pickup folder, first under
// a name beginning with "~" and then renamed, so a local mail service (or a
// person) never sees half a file; a pickup file keeps the Bcc header so the
// service knows every recipient.
//
// A recipient the relay refuses does not stop delivery to the others:
// SendResult lists the refused ones with the server's answer, and the
// caller decides what a partial delivery means. Send raises Error when the
// message could not be delivered to anybody or not at all (no relay, login
// refused, unreadable attachment, invalid address, ...). Error texts never
// contain the password.
//
// Reading. ParseMail reads a raw RFC 822 message (CRLF or LF) into its
// decoded parts: addresses, subject, date, message id, the plain-text body
// in UTF-8, and every attachment with its decoded file name (any path
// removed) and content bytes. A message/rfc822 part is one attachment (the
// embedded message's bytes, named "<subject>.eml" when it has no name).
//
// GMime and libcurl live in the module libquillon_mail.so, loaded on first
// use (platform/LazyModule.h). All functions are safe to call from several
// threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {
namespace hr {
// Numbers of the mail service's own failures, as the platform's mail
// objects report them.
constexpr std::int32_t kMailNoRecipients = static_cast<std::int32_t>(0x8004020C);
constexpr std::int32_t kMailNoSender = static_cast<std::int32_t>(0x8004020D);
constexpr std::int32_t kMailRecipientsRejected = static_cast<std::int32_t>(0x8004020F);
constexpr std::int32_t kMailSendFailed = static_cast<std::int32_t>(0x80040211);
constexpr std::int32_t kMailCannotConnect = static_cast<std::int32_t>(0x80040213);
}  // namespace hr
}  // namespace quillon

namespace quillon::mail {

inline constexpr const char* kMailSource = "Quillon.Mail";

struct Attachment {
  std::string path;  // the file to attach
  std::string name;  // the name shown; empty means the file's own name
};

struct OutgoingMail {
  std::string from;
  std::string to;
  std::string cc;
  std::string bcc;
  std::string subject;
  std::string body;  // plain text, UTF-8; LF or CRLF line ends
  std::vector<Attachment> attachments;
};

struct RefusedRecipient {
  std::string address;
  std::string reply;  // the server's answer, e.g. "550 5.1.1 <x@y>: Recipient address rejected"
};

struct SendResult {
  std::vector<std::string> accepted;        // envelope addresses the relay took (all, for the pickup folder)
  std::vector<RefusedRecipient> refused;    // envelope addresses the relay refused
  std::string pickupFile;                   // the written ".eml" file in pickup mode, else ""

  bool complete() const { return refused.empty(); }
  // "x@y.test (550 ...); z@y.test (550 ...)", "" when none was refused.
  std::string refusedText() const;
};

struct MailSettings {
  std::string smtpServer;
  long smtpPort = 0;               // 0: 25, or 465 for "tls"
  std::string smtpSecurity = "none";
  std::string smtpUser;
  std::string smtpPassword;
  std::string smtpCaFile;
  std::string pickupFolder;        // absolute path
  std::string heloName;            // default: this host's name
  long connectTimeoutSeconds = 30;
  long stallTimeoutSeconds = 120;  // a transfer that moves no byte this long fails
};

// The settings of the current site (QUILLON_SITE/SiteConfiguration.xml).
MailSettings SiteMailSettings();

// The MIME text of the message with CRLF line ends. withBcc keeps a Bcc
// header (for pickup files); SMTP never carries one.
std::string ComposeMail(const OutgoingMail& mail, bool withBcc = false);

// Sends through the site's settings, or the ones given.
SendResult SendMail(const OutgoingMail& mail);
SendResult SendMail(const OutgoingMail& mail, const MailSettings& settings);

// The bare addresses of an address argument ("A <a@x>; b@y" -> a@x, b@y);
// raises Error for an entry that is not an address.
std::vector<std::string> SplitAddresses(const std::string& addresses);

struct ReceivedAttachment {
  std::string name;         // decoded file name, no path; never empty
  std::string contentType;  // "application/xml", ...
  std::string content;      // decoded bytes
};

struct ReceivedMail {
  std::string from;         // decoded, as "Name <addr>" or "addr"
  std::string fromAddress;  // the first sender's bare address
  std::string to;
  std::string cc;
  std::string subject;      // decoded
  std::string date;         // the Date header as written
  std::int64_t dateUnix = 0;  // seconds since 1970 (0 when absent or unreadable)
  std::string messageId;    // without angle brackets
  std::string body;         // the plain-text part, decoded to UTF-8, LF line ends
  std::string htmlBody;     // the HTML part, decoded to UTF-8, LF line ends
  std::vector<ReceivedAttachment> attachments;  // in message order
};

ReceivedMail ParseMail(const std::string& raw);

// A name safe to use as a file name: the part after the last "/" or "\",
// control characters removed, at most 255 bytes (the extension kept); ""
// "." and ".." become `fallback`.
std::string SafeFileName(const std::string& name, const std::string& fallback = "attachment");

}  // namespace quillon::mail
