// Reading received messages with GMime 3 (part of libquillon_mail.so).
#include <gmime/gmime.h>

#include <cctype>
#include <string>

#include "platform/Error.h"
#include "platform/mail/MailModuleInternal.h"

namespace quillon::mail::detail {

namespace {

std::string owned(char* s) {
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

std::string addresses(InternetAddressList* list) {
  if (!list || internet_address_list_length(list) == 0) return {};
  return owned(internet_address_list_to_string(list, nullptr, FALSE));
}

// Text bodies with LF line ends, however the message was stored.
std::string lfText(std::string s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
  return out;
}

std::string streamBytes(GMimeStream* stream) {
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
  return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

// The decoded content of a leaf part (transfer encoding undone).
std::string partBytes(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return {};
  GMimeStream* out = g_mime_stream_mem_new();
  g_mime_data_wrapper_write_to_stream(content, out);
  std::string bytes = streamBytes(out);
  g_object_unref(out);
  return bytes;
}

std::string extensionFor(const std::string& mimeType) {
  static const std::pair<const char*, const char*> known[] = {
      {"text/plain", ".txt"}, {"text/html", ".html"}, {"text/xml", ".xml"}, {"application/xml", ".xml"},
      {"application/pdf", ".pdf"}, {"application/vnd.ms-excel", ".xls"}, {"image/png", ".png"},
      {"image/jpeg", ".jpg"}, {"image/gif", ".gif"}, {"message/rfc822", ".eml"}, {"text/calendar", ".ics"},
  };
  for (const auto& [type, ext] : known)
    if (mimeType == type) return ext;
  return ".bin";
}

struct Walker {
  ReceivedMail& mail;
  int unnamed = 0;

  std::string fallbackName(const std::string& mimeType) {
    return "attachment-" + std::to_string(++unnamed) + extensionFor(mimeType);
  }

  void add(const std::string& name, const std::string& mimeType, std::string content) {
    std::string safe = SafeFileName(name, "");
    if (safe.empty()) safe = fallbackName(mimeType);
    mail.attachments.push_back({safe, mimeType, std::move(content)});
  }

  void walk(GMimeObject* object) {
    if (GMIME_IS_MULTIPART(object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(object);
      int count = g_mime_multipart_get_count(multipart);
      for (int i = 0; i < count; ++i) walk(g_mime_multipart_get_part(multipart, i));
      return;
    }
    std::string mimeType = owned(g_mime_content_type_get_mime_type(g_mime_object_get_content_type(object)));
    for (char& c : mimeType) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    if (GMIME_IS_MESSAGE_PART(object)) {
      // A forwarded or attached message is one attachment: its own bytes.
      GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
      const char* filename = g_mime_object_get_content_disposition_parameter(object, "filename");
      if (!filename) filename = g_mime_object_get_content_type_parameter(object, "name");
      std::string name = filename ? filename : "";
      if (name.empty() && inner && g_mime_message_get_subject(inner)) name = g_mime_message_get_subject(inner);
      if (!name.empty() && !filename) name += ".eml";
      add(name, mimeType, inner ? owned(g_mime_object_to_string(GMIME_OBJECT(inner), nullptr)) : std::string());
      return;
    }
    if (!GMIME_IS_PART(object)) return;
    GMimePart* part = GMIME_PART(object);
    const char* filename = g_mime_part_get_filename(part);
    bool attachment = g_mime_part_is_attachment(part) || (filename && *filename);
    if (!attachment && GMIME_IS_TEXT_PART(object) && (mimeType == "text/plain" || mimeType == "text/html")) {
      std::string text = lfText(owned(g_mime_text_part_get_text(GMIME_TEXT_PART(object))));
      std::string& target = mimeType == "text/plain" ? mail.body : mail.htmlBody;
      // Several inline text parts are shown one after the other.
      if (!target.empty() && !text.empty()) target += "\n";
      target += text;
      return;
    }
    add(filename ? filename : "", mimeType, partBytes(part));
  }
};

}  // namespace

ReceivedMail Parse(const std::string& raw) {
  EnsureGMime();
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(raw.data(), raw.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  g_object_unref(stream);
  GObjectPtr parserHolder(G_OBJECT(parser));
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  if (!message) throw Error(hr::kFail, kMailSource, "The text is not a mail message.");
  GObjectPtr messageHolder(G_OBJECT(message));

  ReceivedMail mail;
  InternetAddressList* from = g_mime_message_get_from(message);
  mail.from = addresses(from);
  if (from) {
    for (int i = 0; i < internet_address_list_length(from); ++i) {
      InternetAddress* a = internet_address_list_get_address(from, i);
      if (INTERNET_ADDRESS_IS_MAILBOX(a)) {
        const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
        mail.fromAddress = addr ? addr : "";
        break;
      }
    }
  }
  mail.to = addresses(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_TO));
  mail.cc = addresses(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_CC));
  const char* subject = g_mime_message_get_subject(message);
  mail.subject = subject ? subject : "";
  const char* date = g_mime_object_get_header(GMIME_OBJECT(message), "Date");
  mail.date = date ? date : "";
  if (GDateTime* when = g_mime_message_get_date(message)) mail.dateUnix = g_date_time_to_unix(when);
  const char* id = g_mime_message_get_message_id(message);
  mail.messageId = id ? id : "";

  if (GMimeObject* root = g_mime_message_get_mime_part(message)) Walker{mail}.walk(root);
  return mail;
}

}  // namespace quillon::mail::detail
