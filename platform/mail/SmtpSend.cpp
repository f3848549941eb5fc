// Sending a composed message through an SMTP relay with libcurl (part of
// libquillon_mail.so).
#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/Error.h"
#include "platform/mail/MailModuleInternal.h"

namespace quillon::mail::detail {

namespace {

void ensureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct Upload {
  const std::string* data;
  std::size_t offset = 0;
};

size_t readUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* up = static_cast<Upload*>(user);
  std::size_t n = std::min(size * count, up->data->size() - up->offset);
  std::memcpy(buffer, up->data->data() + up->offset, n);
  up->offset += n;
  return n;
}

// Follows the SMTP dialogue through libcurl's debug callback: the reply
// to each "RCPT TO" tells whether that recipient was taken, and the last
// reply explains a failure.
struct Dialogue {
  std::string pendingRecipient;
  bool awaitingRcptReply = false;
  std::string partialIn;      // an incoming line not yet complete
  std::string replyLines;     // the lines of the reply being read
  std::string lastReply;      // the last complete reply
  std::vector<RefusedRecipient> refused;
  std::vector<std::string> accepted;

  void outgoing(const std::string& text) {
    if (text.compare(0, 8, "RCPT TO:") == 0) {
      std::string a = text.substr(8);
      while (!a.empty() && (a.back() == '\r' || a.back() == '\n')) a.pop_back();
      if (!a.empty() && a.front() == '<') a.erase(0, 1);
      if (!a.empty() && a.back() == '>') a.pop_back();
      pendingRecipient = a;
      awaitingRcptReply = true;
    }
  }

  void incoming(const std::string& text) {
    partialIn += text;
    std::size_t eol;
    while ((eol = partialIn.find('\n')) != std::string::npos) {
      std::string line = partialIn.substr(0, eol);
      partialIn.erase(0, eol + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      line_(line);
    }
  }

  void line_(const std::string& line) {
    if (!replyLines.empty()) replyLines += " ";
    replyLines += line;
    // "250-..." continues a reply; "250 ..." (or a bare code) ends it.
    bool last = line.size() < 4 || line[3] != '-';
    if (!last) return;
    lastReply = replyLines;
    replyLines.clear();
    if (awaitingRcptReply) {
      awaitingRcptReply = false;
      if (!line.empty() && line[0] == '2')
        accepted.push_back(pendingRecipient);
      else
        refused.push_back({pendingRecipient, lastReply});
    }
  }
};

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* d = static_cast<Dialogue*>(user);
  if (type == CURLINFO_HEADER_OUT) d->outgoing(std::string(data, size));
  if (type == CURLINFO_HEADER_IN) d->incoming(std::string(data, size));
  return 0;
}

std::string localHostName() {
  char buffer[256] = {};
  std::string name = ::gethostname(buffer, sizeof buffer - 1) == 0 ? buffer : "";
  bool ok = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
  });
  return ok ? name : "localhost";
}

std::string lowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Replaces the password wherever it appears in a text meant for people.
std::string masked(std::string text, const std::string& password) {
  if (password.size() < 3) return text;
  std::size_t at;
  while ((at = text.find(password)) != std::string::npos) text.replace(at, password.size(), "********");
  return text;
}

}  // namespace

SendResult SendSmtp(const OutgoingMail& mail, const MailSettings& s) {
  std::string message = Compose(mail, false);
  std::string from = ParseAddressList(mail.from).front().address;
  std::vector<std::string> recipients;
  for (const std::string* list : {&mail.to, &mail.cc, &mail.bcc})
    for (auto& a : ParseAddressList(*list)) {
      bool seen = std::any_of(recipients.begin(), recipients.end(),
                              [&](const std::string& r) { return lowerCase(r) == lowerCase(a.address); });
      if (!seen) recipients.push_back(a.address);
    }

  std::string security = lowerCase(s.smtpSecurity);
  if (security.empty()) security = "none";
  if (security != "none" && security != "starttls" && security != "tls")
    throw Error(hr::kInvalidArg, kMailSource,
                "The mail setting SmtpSecurity is '" + s.smtpSecurity + "'; it must be none, starttls or tls.");
  long port = s.smtpPort > 0 ? s.smtpPort : (security == "tls" ? 465 : 25);
  std::string host = s.smtpServer.find(':') != std::string::npos ? "[" + s.smtpServer + "]" : s.smtpServer;
  std::string where = s.smtpServer + ":" + std::to_string(port);
  std::string helo = s.heloName.empty() ? localHostName() : s.heloName;
  std::string url = std::string(security == "tls" ? "smtps://" : "smtp://") + host + ":" + std::to_string(port) + "/" + helo;

  ensureCurl();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) throw Error(hr::kOutOfMemory, kMailSource, "The mail client could not be started.");
  CURL* c = curl.get();
  curl_slist* list = nullptr;
  for (const auto& r : recipients) {
    curl_slist* next = curl_slist_append(list, ("<" + r + ">").c_str());
    if (!next) {
      curl_slist_free_all(list);
      throw Error(hr::kOutOfMemory, kMailSource, "The recipient list could not be built.");
    }
    list = next;
  }
  std::unique_ptr<curl_slist, SlistDeleter> rcpts(list);
  Upload upload{&message};
  Dialogue dialogue;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  std::string mailFrom = "<" + from + ">";

  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, mailFrom.c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpts.get());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_READFUNCTION, readUpload);
  curl_easy_setopt(c, CURLOPT_READDATA, &upload);
  curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
  curl_easy_setopt(c, CURLOPT_USE_SSL, security == "starttls" ? static_cast<long>(CURLUSESSL_ALL) : static_cast<long>(CURLUSESSL_NONE));
  if (!s.smtpUser.empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, s.smtpUser.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, s.smtpPassword.c_str());
  }
  if (!s.smtpCaFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, s.smtpCaFile.c_str());
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, s.connectTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, s.stallTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
  // The debug callback sees the dialogue only with VERBOSE on; it prints
  // nothing itself.
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, onDebug);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, &dialogue);

  CURLcode rc = curl_easy_perform(c);
  if (rc == CURLE_OK) {
    SendResult result;
    result.refused = dialogue.refused;
    for (const auto& r : recipients) {
      bool refused = std::any_of(dialogue.refused.begin(), dialogue.refused.end(),
                                 [&](const RefusedRecipient& x) { return x.address == r; });
      if (!refused) result.accepted.push_back(r);
    }
    return result;
  }

  std::string detail = errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc);
  std::string reply = dialogue.lastReply.empty() ? "" : " The server answered: " + dialogue.lastReply;
  std::int32_t number = hr::kMailSendFailed;
  std::string text;
  if (rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_OPERATION_TIMEDOUT) {
    number = hr::kMailCannotConnect;
    text = "Cannot connect to the mail relay " + where + ": " + detail + ".";
  } else if (rc == CURLE_LOGIN_DENIED) {
    text = "The mail relay " + where + " refused the login of '" + s.smtpUser + "'." + reply;
  } else if (!recipients.empty() && dialogue.refused.size() == recipients.size()) {
    number = hr::kMailRecipientsRejected;
    SendResult r;
    r.refused = dialogue.refused;
    text = "The mail relay " + where + " refused every recipient: " + r.refusedText() + ".";
  } else {
    text = "The message could not be sent through the mail relay " + where + ": " + detail + "." + reply;
  }
  throw Error(number, kMailSource, masked(text, s.smtpPassword));
}

}  // namespace quillon::mail::detail
