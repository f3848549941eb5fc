// The placeholders of notification texts: filling them in a template and
// checking where each may be stored. Internal to the Notification class.
//
// Template texts are data written by portal users. Filling them works in
// one pass over the text as written: each placeholder found there (any
// letter case) is replaced by its value, and the inserted values are never
// searched again, so a value that itself reads "[%…%]" (a type description,
// an address) reaches the mail as it is. A placeholder that is not filled
// in this mail stays as written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillon::NotificationPlaceholders {

inline constexpr const char* kDocID = "[%DOCID%]";
inline constexpr const char* kDocType = "[%DOCTYPE%]";
inline constexpr const char* kInboxLink = "[%INBOXLINK%]";
inline constexpr const char* kOutboxLink = "[%OUTBOXLINK%]";
inline constexpr const char* kErrorboxLink = "[%ERRORBOXLINK%]";
inline constexpr const char* kToList = "[%TOLIST%]";
inline constexpr const char* kCcList = "[%CCLIST%]";

// Notification modes.
inline constexpr std::uint8_t kSenderMode = 1;
inline constexpr std::uint8_t kRecipientMode = 2;
// Partner ids with a meaning of their own in the notification tables.
inline constexpr std::int32_t kAnyPartner = -1;
inline constexpr std::int32_t kCopyPartner = -2;

// One placeholder and how its value is made. The value is asked for at
// most once, and only when the placeholder occurs in the text.
struct Substitution {
  std::string placeholder;
  std::function<std::string()> value;
};

// The text with every occurrence of each placeholder (compared without
// letter case) replaced by its value, in one pass.
std::string Fill(const std::string& text, const std::vector<Substitution>& substitutions);

// Whether the text holds the placeholder, in any letter case.
bool Contains(const std::string& text, const std::string& placeholder);

// A link as it goes into a mail: every blank written as "%20".
std::string LinkForMail(const std::string& link);

// The placeholders the text may not hold where it is to be stored: a
// template's subject or body (type, partner and mode of the template) or a
// stored mail's subject or body (isTemplate false). Returns the offending
// placeholders in checking order as "'[%A%]', '[%B%]'" ("" when the text
// is valid).
std::string InvalidPlaceholders(std::int32_t partner, std::uint8_t mode, const std::string& text, bool isTemplate,
                                bool isBody);

}  // namespace quillon::NotificationPlaceholders
