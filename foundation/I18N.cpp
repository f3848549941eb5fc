#include "foundation/I18N.h"

#include <optional>

#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "platform/Database.h"
#include "platform/Object.h"
#include "platform/Text.h"

namespace quillon::I18N {

namespace {

// The label's text, or nullopt when the locale has no row for it. Keys
// come from callers and documents, so the key enters the statement only as
// a literal. A key holding NUL names no label: the literal could not carry
// it, and dropping it would look up another key.
std::optional<std::string> lookup(const std::string& key, long localeID) {
  if (key.find('\0') != std::string::npos) return std::nullopt;
  std::string sql;
  if (localeID == 0)
    sql = "SELECT I18NTEXT.TEXT " "FROM I18NTEXT " "WHERE LABEL = " + Encoding::SqlText(key) + " AND LOCALEID = 1033";
  else
    sql = "SELECT TEXT " "FROM I18NTEXT " "WHERE LABEL = " + Encoding::SqlText(key) + " AND LOCALEID = " +
          std::to_string(localeID);
  auto conn = DBUtils::GetConnection();
  try {
    auto rs = conn->Execute(sql);
    std::optional<std::string> result;
    if (!rs->EOF_()) result = rs->Fields(0).Value().text();
    rs->Close();
    General::CloseConnection(conn);
    return result;
  } catch (...) {
    General::CloseConnection(conn);
    throw;
  }
}

}  // namespace

std::string GetLabel(const std::string& key) { return GetLabelWithReplacements(key, 0, nullptr); }

std::string GetLabelForLocale(const std::string& key, long localeID) {
  return GetLabelWithReplacements(key, localeID, nullptr);
}

std::string GetLabelWithReplacements(const std::string& key, long localeID,
                                     const std::shared_ptr<Dictionary>& replacements) {
  std::optional<std::string> found = lookup(key, localeID);
  if (!found) return "<font color='red'>Error " + key + "</font>";
  std::string result = std::move(*found);
  if (!replacements) return result;
  for (long i = 0; i < replacements->Count(); ++i) {
    const auto& [rawKey, item] = replacements->entry(i);
    std::string placeholder = text::Trim(rawKey);
    if (text::Left(placeholder, 7) != "[%LABEL") {
      result = text::Replace(result, placeholder, item.text());
    } else {
      std::string value = item.text();
      std::string inner = text::Mid(value, 3, text::Len(value) - 4);
      std::string innerText = GetLabelWithReplacements(inner, localeID, nullptr);
      result = text::Replace(result, rawKey, innerText, 1, true);
    }
  }
  return result;
}

std::string LabelWith(const std::string& key, std::initializer_list<std::pair<std::string, std::string>> values) {
  std::string result = GetLabel(key);
  for (const auto& [placeholder, value] : values) result = text::Replace(result, placeholder, value, -1, true);
  return result;
}

}  // namespace quillon::I18N
