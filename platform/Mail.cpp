#include "platform/Mail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/Guid.h"
#include "platform/LazyModule.h"
#include "platform/Object.h"
#include "platform/mail/MailModule.h"
#include "platform/mail/SiteSettings.h"

namespace fs = std::filesystem;

namespace quillon::mail {

namespace {

const MailModuleApi& module() {
  auto* entry = LazyModule::Function<const MailModuleApi*()>(kMailModuleName, kMailModuleSymbol);
  const MailModuleApi* api = entry();
  if (!api || api->version != kMailModuleVersion)
    throw Error(hr::kCannotCreate, kMailSource, "The mail module libquillon_mail.so does not match this platform library.");
  return *api;
}

std::string stamp() {
  std::time_t now = wallClockSeconds();
  std::tm local{};
  ::localtime_r(&now, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y%m%d%H%M%S", &local);
  return buffer;
}

std::string uniquePart() {
  std::array<std::uint8_t, 16> g{};
  if (!NewGuid(g)) throw Error(hr::kFail, kMailSource, "No unique name could be made for the pickup file.");
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : g) {
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

[[noreturn]] void pickupFailure(const std::string& what, const std::string& path, int err) {
  throw Error(hr::kPathFileAccess, kMailSource, what + " '" + path + "': " + std::strerror(err) + ".");
}

// Writes the whole message under a "~" name, flushes it to disk and renames
// it, so a mail service that watches the folder sees complete files only.
std::string writePickupFile(const std::string& folder, const std::string& message) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder)) pickupFailure("The mail pickup folder cannot be created", folder, ec ? ec.value() : ENOTDIR);
  std::string name = stamp() + "-" + uniquePart() + ".eml";
  std::string final = (fs::path(folder) / name).string();
  std::string temp = (fs::path(folder) / ("~" + name)).string();
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) pickupFailure("The mail pickup file cannot be created", temp, errno);
  std::size_t done = 0;
  while (done < message.size()) {
    ssize_t n = ::write(fd, message.data() + done, message.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(temp.c_str());
      pickupFailure("The mail pickup file cannot be written", temp, err);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    pickupFailure("The mail pickup file cannot be written", temp, err);
  }
  if (::rename(temp.c_str(), final.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    pickupFailure("The mail pickup file cannot be renamed to", final, err);
  }
  // The new name is durable once the folder itself is flushed.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return final;
}

bool validUtf8At(const std::string& s, std::size_t i, std::size_t& length) {
  auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return length = 1, true;
  std::size_t n = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > s.size()) return false;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
  length = n;
  return true;
}

}  // namespace

std::string SendResult::refusedText() const {
  std::string out;
  for (const auto& r : refused) {
    if (!out.empty()) out += "; ";
    out += r.address + " (" + r.reply + ")";
  }
  return out;
}

MailSettings SiteMailSettings() {
  const char* source = kMailSource;
  fs::path site = detail::SiteFolder(source);
  Configuration config = detail::SiteConfiguration(site);
  MailSettings s;
  s.smtpServer = detail::Setting(config, "MAIL", "SmtpServer");
  s.smtpPort = detail::NumberSetting(config, "MAIL", "SmtpPort", 0, source);
  s.smtpSecurity = detail::Setting(config, "MAIL", "SmtpSecurity");
  if (s.smtpSecurity.empty()) s.smtpSecurity = "none";
  s.smtpUser = detail::Setting(config, "MAIL", "SmtpUser");
  s.smtpPassword = config.GetValue("MAIL", "SmtpPassword").text();  // blanks may belong to a password
  s.smtpCaFile = detail::Setting(config, "MAIL", "SmtpCaFile");
  s.pickupFolder = detail::FolderSetting(config, "MAIL", "PickupFolder", site, "mail/pickup");
  return s;
}

std::string ComposeMail(const OutgoingMail& mail, bool withBcc) { return module().compose(mail, withBcc); }

SendResult SendMail(const OutgoingMail& mail) { return SendMail(mail, SiteMailSettings()); }

SendResult SendMail(const OutgoingMail& mail, const MailSettings& settings) {
  const MailModuleApi& api = module();
  if (!settings.smtpServer.empty()) return api.sendSmtp(mail, settings);
  if (settings.pickupFolder.empty())
    throw Error(hr::kInvalidArg, kMailSource, "Neither a mail relay nor a pickup folder is set.");
  SendResult result;
  std::string message = api.compose(mail, true);
  for (const std::string* list : {&mail.to, &mail.cc, &mail.bcc})
    for (auto& a : api.splitAddresses(*list)) {
      bool seen = std::any_of(result.accepted.begin(), result.accepted.end(),
                              [&](const std::string& b) { return equalsIgnoreCase(a, b); });
      if (!seen) result.accepted.push_back(a);
    }
  result.pickupFile = writePickupFile(settings.pickupFolder, message);
  return result;
}

std::vector<std::string> SplitAddresses(const std::string& addresses) { return module().splitAddresses(addresses); }

ReceivedMail ParseMail(const std::string& raw) { return module().parse(raw); }

std::string SafeFileName(const std::string& name, const std::string& fallback) {
  auto slash = name.find_last_of("/\\");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  std::string out;
  for (std::size_t i = 0; i < base.size();) {
    std::size_t n = 1;
    auto c = static_cast<unsigned char>(base[i]);
    if (!validUtf8At(base, i, n)) {
      out += '_';
    } else if (!(n == 1 && (c < 0x20 || c == 0x7F))) {
      out.append(base, i, n);
    }
    i += n;
  }
  auto first = out.find_first_not_of(' ');
  out = first == std::string::npos ? std::string() : out.substr(first, out.find_last_not_of(' ') - first + 1);
  if (out.empty() || out == "." || out == "..") return fallback;
  constexpr std::size_t kMax = 255;
  if (out.size() > kMax) {
    auto dot = out.rfind('.');
    std::string ext = dot != std::string::npos && out.size() - dot <= 16 ? out.substr(dot) : std::string();
    std::size_t keep = kMax - ext.size();
    // Cut before a continuation byte so no character is split.
    while (keep > 0 && (static_cast<unsigned char>(out[keep]) & 0xC0) == 0x80) --keep;
    out = out.substr(0, keep) + ext;
  }
  return out;
}

}  // namespace quillon::mail
