#include "platform/Mailbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/mail/SiteSettings.h"
#include "platform/net/NetModule.h"

namespace fs = std::filesystem;

namespace quillon::mailbox {

namespace {

const char* kSource = kMailboxSource;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void checkAccount(const std::string& account) {
  bool bad = account.empty() || account == "." || account == ".." ||
             std::any_of(account.begin(), account.end(), [](char c) {
               return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
             });
  if (bad) throw Error(hr::kInvalidArg, kSource, "'" + account + "' is not a mailbox account name.");
}

[[noreturn]] void notFound(const std::string& id, const std::string& account) {
  throw Error(hr::kFileNotFound, kSource, "The message '" + id + "' is not in the mailbox of '" + account + "'.");
}

// A Maildir as a local mail service delivers it: complete messages appear
// in new/ (renamed there from tmp/), and readers move them to cur/,
// appending ":2,FLAGS" to the name. Only new/ and cur/ are read.
class MaildirMailbox final : public Mailbox {
 public:
  MaildirMailbox(std::string account, fs::path folder) : account_(std::move(account)), folder_(std::move(folder)) {
    std::error_code ec;
    if (!fs::is_directory(folder_ / "new", ec) || !fs::is_directory(folder_ / "cur", ec))
      throw Error(hr::kFileNotFound, kSource,
                  "The mailbox of '" + account_ + "' does not exist (no Maildir at '" + folder_.string() + "').");
  }

  const std::string& Account() const override { return account_; }

  std::vector<std::string> List() override {
    scan();
    std::vector<std::pair<std::pair<std::int64_t, std::string>, std::string>> order;
    for (const auto& [id, entry] : files_) order.push_back({{entry.time, id}, id});
    std::sort(order.begin(), order.end());
    std::vector<std::string> ids;
    for (auto& o : order) ids.push_back(o.second);
    return ids;
  }

  std::string ReadRaw(const std::string& id) override {
    for (int attempt = 0; attempt < 2; ++attempt) {
      fs::path p = pathOf(id, attempt > 0);
      int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        int err = errno;
        // Moved from new/ to cur/ (or flagged) since it was listed: look again.
        if (err == ENOENT) continue;
        throw Error(hr::kPathFileAccess, kSource, "The message '" + id + "' cannot be read: " + std::strerror(err) + ".");
      }
      std::string bytes;
      char buffer[65536];
      ssize_t n;
      while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
      int err = n < 0 ? errno : 0;
      ::close(fd);
      if (err) throw Error(hr::kPathFileAccess, kSource, "The message '" + id + "' cannot be read: " + std::strerror(err) + ".");
      return bytes;
    }
    notFound(id, account_);
  }

  void Delete(const std::string& id) override {
    for (int attempt = 0; attempt < 2; ++attempt) {
      fs::path p = pathOf(id, attempt > 0);
      if (::unlink(p.c_str()) == 0) {
        files_.erase(id);
        return;
      }
      int err = errno;
      if (err != ENOENT)
        throw Error(err == EACCES || err == EPERM || err == EROFS ? hr::kPermissionDenied : hr::kPathFileAccess, kSource,
                    "The message '" + id + "' cannot be deleted from the mailbox of '" + account_ +
                        "': " + std::strerror(err) + ".");
    }
    notFound(id, account_);
  }

 private:
  struct Entry {
    fs::path path;
    std::int64_t time = 0;  // nanoseconds of the file's last change
  };

  static bool validId(const std::string& id) {
    return !id.empty() && id[0] != '.' && id.find('/') == std::string::npos && id.find('\0') == std::string::npos;
  }

  void scan() {
    files_.clear();
    for (const char* sub : {"new", "cur"}) {
      std::error_code ec;
      for (fs::directory_iterator it(folder_ / sub, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        struct stat st {};
        if (::stat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        std::string id = name.substr(0, name.find(':'));
        files_[id] = {it->path(), static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
      }
    }
  }

  fs::path pathOf(const std::string& id, bool rescan) {
    if (!validId(id)) notFound(id, account_);
    if (rescan || files_.find(id) == files_.end()) scan();
    auto it = files_.find(id);
    if (it == files_.end()) notFound(id, account_);
    return it->second.path;
  }

  std::string account_;
  fs::path folder_;
  std::map<std::string, Entry> files_;
};

class ImapMailbox final : public Mailbox {
 public:
  ImapMailbox(std::string account, const MailboxSettings& s) : account_(std::move(account)) {
    net::ImapOptions o;
    o.host = s.imapServer;
    o.port = s.imapPort;
    o.security = s.imapSecurity;
    o.user = account_;
    o.password = s.imapPassword;
    o.caFile = s.imapCaFile;
    backend_.reset(net::NetModule().imapOpen(o, kSource));
  }

  const std::string& Account() const override { return account_; }

  std::vector<std::string> List() override {
    std::vector<std::string> ids;
    for (std::uint64_t uid : backend_->uids()) ids.push_back(std::to_string(uid));
    return ids;
  }

  std::string ReadRaw(const std::string& id) override { return backend_->fetch(uid(id)); }

  void Delete(const std::string& id) override { backend_->remove(uid(id)); }

 private:
  std::uint64_t uid(const std::string& id) const {
    if (id.empty() || id.size() > 19 || !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }))
      notFound(id, account_);
    return std::stoull(id);
  }

  std::string account_;
  std::unique_ptr<net::ImapBackend> backend_;
};

}  // namespace

mail::ReceivedMail Mailbox::Read(const std::string& id) { return mail::ParseMail(ReadRaw(id)); }

MailboxSettings SiteMailboxSettings() {
  fs::path site = mail::detail::SiteFolder(kSource);
  Configuration config = mail::detail::SiteConfiguration(site);
  MailboxSettings s;
  s.store = lower(mail::detail::Setting(config, "MAILBOX", "Store"));
  if (s.store.empty()) s.store = "maildir";
  s.maildirRoot = mail::detail::FolderSetting(config, "MAILBOX", "MaildirRoot", site, "mail/boxes");
  s.imapServer = mail::detail::Setting(config, "MAILBOX", "ImapServer");
  s.imapPort = mail::detail::NumberSetting(config, "MAILBOX", "ImapPort", 0, kSource);
  s.imapSecurity = mail::detail::Setting(config, "MAILBOX", "ImapSecurity");
  if (s.imapSecurity.empty()) s.imapSecurity = "none";
  s.imapPassword = config.GetValue("MAILBOX", "ImapPassword").text();
  s.imapCaFile = mail::detail::Setting(config, "MAILBOX", "ImapCaFile");
  return s;
}

std::unique_ptr<Mailbox> OpenMailbox(const std::string& account) { return OpenMailbox(account, SiteMailboxSettings()); }

std::unique_ptr<Mailbox> OpenMailbox(const std::string& account, const MailboxSettings& settings) {
  checkAccount(account);
  std::string store = lower(settings.store);
  if (store == "maildir" || store.empty())
    return std::make_unique<MaildirMailbox>(account, fs::path(settings.maildirRoot) / account);
  if (store == "imap") return std::make_unique<ImapMailbox>(account, settings);
  throw Error(hr::kInvalidArg, kSource, "The mailbox setting Store is '" + settings.store + "'; it must be maildir or imap.");
}

}  // namespace quillon::mailbox
