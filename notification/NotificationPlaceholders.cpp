#include "notification/NotificationPlaceholders.h"

#include <optional>

#include "platform/Object.h"
#include "platform/Text.h"

namespace quillon::NotificationPlaceholders {

namespace {

bool matchesAt(const std::string& text, std::size_t at, const std::string& placeholder) {
  if (text.size() - at < placeholder.size()) return false;
  return equalsIgnoreCase(text.substr(at, placeholder.size()), placeholder);
}

}  // namespace

std::string Fill(const std::string& text, const std::vector<Substitution>& substitutions) {
  std::vector<std::optional<std::string>> values(substitutions.size());
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t next = text.find("[%", i);
    if (next == std::string::npos) {
      out.append(text, i, std::string::npos);
      break;
    }
    out.append(text, i, next - i);
    bool replaced = false;
    for (std::size_t s = 0; s < substitutions.size(); ++s) {
      const std::string& placeholder = substitutions[s].placeholder;
      if (placeholder.empty() || !matchesAt(text, next, placeholder)) continue;
      if (!values[s]) values[s] = substitutions[s].value();
      out += *values[s];
      i = next + placeholder.size();
      replaced = true;
      break;
    }
    if (!replaced) {
      out += "[%";
      i = next + 2;
    }
  }
  return out;
}

bool Contains(const std::string& text, const std::string& placeholder) {
  return text::InStr(1, text, placeholder, true) > 0;
}

std::string LinkForMail(const std::string& link) { return text::Replace(link, " ", "%20"); }

std::string InvalidPlaceholders(std::int32_t partner, std::uint8_t mode, const std::string& text, bool isTemplate,
                                bool isBody) {
  // A recipient's body may link to the inbox, a sender's body to the outbox
  // and error box and name the lists; the copy mail's template (partner -2)
  // and every subject may do neither. Stored mails are final texts, so no
  // placeholder at all belongs in them.
  const bool ownPartner = partner != kCopyPartner;
  const bool inboxAllowed = isBody && isTemplate && ownPartner && mode == kRecipientMode;
  const bool senderPlaceholdersAllowed = isBody && isTemplate && ownPartner && mode == kSenderMode;
  struct Check {
    const char* placeholder;
    bool allowed;
  };
  const Check checks[] = {
      {kInboxLink, inboxAllowed},
      {kOutboxLink, senderPlaceholdersAllowed},
      {kErrorboxLink, senderPlaceholdersAllowed},
      {kToList, senderPlaceholdersAllowed},
      {kCcList, senderPlaceholdersAllowed},
      {kDocID, isTemplate},
      {kDocType, isTemplate},
  };
  std::string invalid;
  for (const Check& c : checks) {
    if (c.allowed || !Contains(text, c.placeholder)) continue;
    if (!invalid.empty()) invalid += ", ";
    invalid += "'" + std::string(c.placeholder) + "'";
  }
  return invalid;
}

}  // namespace quillon::NotificationPlaceholders
