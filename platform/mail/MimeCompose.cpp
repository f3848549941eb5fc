// Composing outgoing messages with GMime 3 (part of libquillon_mail.so).
#include <gmime/gmime.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/Error.h"
#include "platform/mail/MailModuleInternal.h"

namespace quillon::mail::detail {

namespace {

// Wraps bytes in a memory stream without re-encoding them: GMime's
// g_mime_text_part_set_text() would pick the smallest charset (Latin-1)
// itself, so the charset label and the bytes must be set separately.
GMimeDataWrapper* wrapBytes(const std::string& bytes) {
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
  GMimeDataWrapper* wrapper = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
  g_object_unref(stream);
  return wrapper;
}

// Body text with LF line ends: quoted-printable then writes each line end
// as a plain CRLF instead of an encoded "=0D".
std::string lfText(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    out += s[i];
  }
  return out;
}

// A header value on one line: CR and LF become blanks, so no caller text
// can start a header of its own.
std::string oneLine(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw Error(hr::kFileNotFound, kMailSource,
                "The attachment file '" + path + "' cannot be read: " + std::strerror(errno) + ".");
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) throw Error(hr::kFileNotFound, kMailSource, "The attachment file '" + path + "' could not be read completely.");
  return out.str();
}

struct TypeByExtension {
  const char* extension;
  const char* type;
  const char* subtype;
};

const TypeByExtension kTypes[] = {
    {"xml", "application", "xml"},  {"xsl", "application", "xml"},
    {"htm", "text", "html"},        {"html", "text", "html"},
    {"txt", "text", "plain"},       {"csv", "text", "csv"},
    {"edi", "text", "plain"},       {"pdf", "application", "pdf"},
    {"xls", "application", "vnd.ms-excel"},
    {"xlsx", "application", "vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"doc", "application", "msword"}, {"zip", "application", "zip"},
    {"png", "image", "png"},        {"jpg", "image", "jpeg"},
    {"jpeg", "image", "jpeg"},      {"gif", "image", "gif"},
    {"tif", "image", "tiff"},       {"tiff", "image", "tiff"},
    {"eml", "message", "rfc822"},
};

const TypeByExtension* typeOf(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos) return nullptr;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& t : kTypes)
    if (ext == t.extension) return &t;
  return nullptr;
}

// The charset of a text attachment: the files the component writes are
// UTF-16 (with a byte order mark) or UTF-8.
const char* textCharset(const std::string& bytes) {
  if (bytes.size() >= 2) {
    auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
    if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) return "utf-16";
  }
  return "utf-8";
}

void setParamCharset(GMimeParamList* list, const char* name) {
  if (!list) return;
  GMimeParam* p = g_mime_param_list_get_parameter(list, name);
  if (p) g_mime_param_set_charset(p, "utf-8");
}

GMimeObject* attachmentPart(const Attachment& a) {
  std::string bytes = readFile(a.path);
  std::string name = SafeFileName(a.name.empty() ? a.path : a.name);
  // message/rfc822 parts may not be base64-encoded; attach mail files as
  // opaque data instead.
  const TypeByExtension* t = typeOf(name);
  if (t && std::strcmp(t->type, "message") == 0) t = nullptr;
  GMimePart* part = g_mime_part_new_with_type(t ? t->type : "application", t ? t->subtype : "octet-stream");
  GMimeObject* object = GMIME_OBJECT(part);
  if (t && std::strcmp(t->type, "text") == 0)
    g_mime_object_set_content_type_parameter(object, "charset", textCharset(bytes));
  GMimeDataWrapper* wrapper = wrapBytes(bytes);
  g_mime_part_set_content(part, wrapper);
  g_object_unref(wrapper);
  g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
  g_mime_part_set_filename(part, name.c_str());  // Content-Disposition filename and Content-Type name
  setParamCharset(g_mime_content_disposition_get_parameters(g_mime_object_get_content_disposition(object)), "filename");
  setParamCharset(g_mime_content_type_get_parameters(g_mime_object_get_content_type(object)), "name");
  return object;
}

void addAddresses(InternetAddressList* list, const std::string& addresses) {
  for (auto& parsed : ParseAddressList(addresses)) {
    InternetAddress* a = internet_address_mailbox_new(parsed.name.empty() ? nullptr : parsed.name.c_str(),
                                                      parsed.address.c_str());
    internet_address_set_charset(a, "utf-8");
    internet_address_list_add(list, a);
    g_object_unref(a);
  }
}

std::string domainOf(const std::string& address) {
  auto at = address.rfind('@');
  return at == std::string::npos ? std::string("localhost") : address.substr(at + 1);
}

}  // namespace

std::string Compose(const OutgoingMail& mail, bool withBcc) {
  EnsureGMime();
  auto senders = ParseAddressList(mail.from);
  if (senders.empty()) throw Error(hr::kMailNoSender, kMailSource, "The message has no sender.");
  if (ParseAddressList(mail.to).empty() && ParseAddressList(mail.cc).empty() && ParseAddressList(mail.bcc).empty())
    throw Error(hr::kMailNoRecipients, kMailSource, "The message has no recipient.");

  GMimeMessage* message = g_mime_message_new(TRUE);
  GObjectPtr holder(G_OBJECT(message));
  addAddresses(g_mime_message_get_from(message), mail.from);
  addAddresses(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_TO), mail.to);
  addAddresses(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_CC), mail.cc);
  if (withBcc) addAddresses(g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_BCC), mail.bcc);
  g_mime_message_set_subject(message, oneLine(mail.subject).c_str(), "utf-8");

  GDateTime* now = g_date_time_new_now_local();
  g_mime_message_set_date(message, now);
  g_date_time_unref(now);
  char* id = g_mime_utils_generate_message_id(domainOf(senders.front().address).c_str());
  g_mime_message_set_message_id(message, id);
  g_free(id);

  GMimeTextPart* body = g_mime_text_part_new_with_subtype("plain");
  GMimeDataWrapper* wrapper = wrapBytes(lfText(mail.body));
  g_mime_part_set_content(GMIME_PART(body), wrapper);
  g_object_unref(wrapper);
  g_mime_text_part_set_charset(body, "utf-8");
  g_mime_part_set_content_encoding(GMIME_PART(body), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);

  if (mail.attachments.empty()) {
    g_mime_message_set_mime_part(message, GMIME_OBJECT(body));
    g_object_unref(body);
  } else {
    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
    g_mime_multipart_add(mixed, GMIME_OBJECT(body));
    g_object_unref(body);
    g_mime_message_set_mime_part(message, GMIME_OBJECT(mixed));
    g_object_unref(mixed);
    for (const auto& a : mail.attachments) {
      GMimeObject* part = attachmentPart(a);
      g_mime_multipart_add(mixed, part);
      g_object_unref(part);
    }
  }

  GMimeFormatOptions* options = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
  GMimeStream* out = g_mime_stream_mem_new();
  g_mime_object_write_to_stream(GMIME_OBJECT(message), options, out);
  g_mime_format_options_free(options);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
  std::string text(reinterpret_cast<const char*>(bytes->data), bytes->len);
  g_object_unref(out);
  return text;
}

}  // namespace quillon::mail::detail
