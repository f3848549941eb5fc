#include "platform/net/CurlCommon.h"

#include <cctype>
#include <mutex>

#include "platform/Error.h"
#include "platform/Network.h"

namespace quillon::net::detail {

namespace {

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  if (type == CURLINFO_HEADER_IN) static_cast<ServerReplies*>(user)->incoming(data, size);
  return 0;
}

}  // namespace

void EnsureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlHandle NewHandle(const char* source) {
  EnsureCurl();
  CurlHandle h(curl_easy_init());
  if (!h) throw Error(wininet::kInternalError, source, "The internet client could not be started.");
  return h;
}

MultiHandle NewMulti(const char* source) {
  EnsureCurl();
  MultiHandle m(curl_multi_init());
  if (!m) throw Error(wininet::kInternalError, source, "The internet client could not be started.");
  return m;
}

CURLcode PerformIn(CURLM* multi, CURL* easy) {
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode result = CURLE_OK;
  bool finished = false;
  while (!finished) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_OUT_OF_MEMORY;
      break;
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
        result = msg->data.result;
        finished = true;
      }
    }
    if (finished || running == 0) break;
    long wait = -1;
    curl_multi_timeout(multi, &wait);
    if (wait < 0 || wait > 10) wait = 10;
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait), nullptr);
  }
  curl_multi_remove_handle(multi, easy);
  return result;
}

void ServerReplies::incoming(const char* data, std::size_t size) {
  partial.append(data, size);
  std::size_t eol;
  while ((eol = partial.find('\n')) != std::string::npos) {
    std::string line = partial.substr(0, eol);
    partial.erase(0, eol + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!reply.empty()) reply += " ";
    reply += line;
    // FTP continues a reply with "nnn-"; every other line ends one.
    bool continued = line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) && line[3] == '-';
    if (!continued) {
      lastReply = reply;
      reply.clear();
    }
  }
}

void TrackReplies(CURL* c, ServerReplies* replies) {
  curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, onDebug);
  curl_easy_setopt(c, CURLOPT_DEBUGDATA, replies);
}

std::int32_t SystemErrorFor(CURLcode rc, bool http) {
  switch (rc) {
    case CURLE_UNSUPPORTED_PROTOCOL: return wininet::kUnrecognizedScheme;
    case CURLE_URL_MALFORMAT: return wininet::kInvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return wininet::kNameNotResolved;
    case CURLE_COULDNT_CONNECT: return wininet::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT: return wininet::kTimeout;
    case CURLE_LOGIN_DENIED: return wininet::kLoginFailure;
    case CURLE_WEIRD_SERVER_REPLY: return http ? wininet::kInvalidServerResponse : wininet::kExtendedError;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS: return wininet::kExtendedError;
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_PARTIAL_FILE: return wininet::kFtpDropped;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR: return wininet::kConnectionAborted;
    case CURLE_RECV_ERROR: return wininet::kConnectionReset;
    case CURLE_PEER_FAILED_VERIFICATION: return wininet::kInvalidCa;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED: return wininet::kSecureChannelError;
    default: return wininet::kInternalError;
  }
}

std::string Masked(std::string text, const std::string& password) {
  // A very short password would mask ordinary letters; such a password is
  // never put into texts here in the first place.
  if (password.size() < 3) return text;
  std::size_t at;
  while ((at = text.find(password)) != std::string::npos) text.replace(at, password.size(), "********");
  return text;
}

void RaiseCurlError(CURLcode rc, const char* errorBuffer, const ServerReplies* replies, const std::string& password,
                    const char* source, bool http) {
  std::string text = errorBuffer && errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc);
  std::int32_t number = SystemErrorFor(rc, http);
  if (replies && !replies->lastReply.empty() &&
      (number == wininet::kExtendedError || number == wininet::kLoginFailure || number == wininet::kFtpDropped))
    text += ". The server answered: " + replies->lastReply;
  throw Error(number, source, Masked(text, password));
}


}  // namespace quillon::net::detail
