// Mailbox: reading the mail accounts of the local mail service.
//
// A Mailbox is the inbox of one account. It lists its messages (stable ids,
// oldest first), reads one (the raw bytes, or parsed with ParseMail) and
// deletes one. Two stores are offered, chosen by section "MAILBOX" of the
// site's SiteConfiguration.xml (read when a mailbox is opened):
//
//   Store        "maildir" (default) or "imap"
//   MaildirRoot  default SITE/mail/boxes (relative to the site folder): the
//                account USER is the Maildir MaildirRoot/USER with new/,
//                cur/ and tmp/, as a local mail service delivers it
//   ImapServer, ImapPort (default 143, 993 with "tls"),
//   ImapSecurity ("none", "starttls", "tls"), ImapPassword, ImapCaFile:
//                the same accounts over IMAP (libcurl), logged in as the
//                account name with ImapPassword
//
// Ids: in a Maildir the message's unique file name (without the ":2,…"
// flags part, so a message keeps its id when the mail service moves it from
// new/ to cur/ or changes its flags); over IMAP its UID. Messages are
// listed oldest first (file time, then name; UID order).
//
// Opening a mailbox that does not exist raises Error (the account cannot
// log on): a Maildir account without its folder, a refused IMAP login
// (12015). An account name is a single name: "", ".", "..", or one
// containing "/", "\" or control characters is refused before anything is
// touched. Reading or deleting an id that is not (or no longer) in the
// mailbox raises Error hr::kFileNotFound; a message that cannot be deleted
// raises the reason, never returns quietly. Errors have the source
// "Quillon.Mailbox"; the IMAP password never appears in them.
//
// A Mailbox object belongs to one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Mail.h"

namespace quillon::mailbox {

inline constexpr const char* kMailboxSource = "Quillon.Mailbox";

struct MailboxSettings {
  std::string store = "maildir";  // "maildir" or "imap"
  std::string maildirRoot;        // absolute path
  std::string imapServer;
  long imapPort = 0;
  std::string imapSecurity = "none";
  std::string imapPassword;
  std::string imapCaFile;
};

// The settings of the current site (QUILLON_SITE/SiteConfiguration.xml).
MailboxSettings SiteMailboxSettings();

class Mailbox {
 public:
  virtual ~Mailbox() = default;
  virtual const std::string& Account() const = 0;
  // Message ids, oldest first.
  virtual std::vector<std::string> List() = 0;
  // The message as stored, byte for byte.
  virtual std::string ReadRaw(const std::string& id) = 0;
  // The message parsed (ParseMail).
  mail::ReceivedMail Read(const std::string& id);
  virtual void Delete(const std::string& id) = 0;
};

std::unique_ptr<Mailbox> OpenMailbox(const std::string& account);
std::unique_ptr<Mailbox> OpenMailbox(const std::string& account, const MailboxSettings& settings);

}  // namespace quillon::mailbox
