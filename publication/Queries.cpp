#include "publication/Queries.h"

#include <memory>
#include <vector>

#include "foundation/ConnectionScope.h"
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Database.h"
#include "platform/Text.h"

namespace quillon {

using Encoding::SqlText;
using General::Guarded;

namespace {

// A send method that belongs to no rule has RULEID -1.
constexpr std::int32_t kNoRule = -1;

// One row when the type exists, none otherwise. Each column asks one table
// whether any row refers to the type (1) or none does (0): the database
// stops at the first referring row, through the table's index on the type,
// so a type with many documents answers as fast as an unused one.
std::string referencesQuery(const std::string& type) {
  const std::string t = SqlText(type);
  auto refers = [](const char* column, const std::string& table, const std::string& condition) {
    return "CASE WHEN EXISTS (SELECT 1 FROM " + table + " WHERE " + condition + ") THEN 1 ELSE 0 END AS " + column;
  };
  // A send method that belongs to no rule has RULEID -1 (or none at all).
  const std::string withoutRule = "(RULEID IS NULL OR RULEID = " + std::to_string(kNoRule) + ")";
  return "SELECT " + refers("DO", "DOCUMENT", "DOCUMENTTYPEID = " + t) + ", " +
         refers("DB", "DISTRIBUTIONLIST", "DOCUMENTTYPEID = " + t) + ", " +
         refers("SL", "SENDERLIST", "DOCUMENTTYPEID = " + t) + ", " +
         refers("SMN", "SENDMETHOD", "DOCUMENTTYPEID = " + t + " AND " + withoutRule) + ", " +
         refers("SMR", "SENDMETHOD", "DOCUMENTTYPEID = " + t + " AND NOT " + withoutRule) + ", " +
         refers("A", "RULEHEADER", "ASSIGNEDID = " + t) + ", " +
         refers("R", "RECEIVEMETHOD", "DOCUMENTTYPEID = " + t) + ", " +
         refers("T", "TAGSCONFIG", "DOCUMENTTYPEID = " + t) + ", " +
         refers("X", "XMLTEMPLATE", "DOCUMENTTYPEID = " + t) + ", " +
         refers("DC", "DOCTYPETODOCTYPE", "DOCUMENTTYPEID = " + t + " OR NEWDOCUMENTTYPEID = " + t) + ", " +
         refers("NT", "NOTIFICATIONTEMPLATE", "DOCUMENTTYPEID = " + t) +
         " FROM DOCUMENTTYPE WHERE DOCUMENTTYPEID = " + t;
}

}  // namespace

std::string Queries::CheckDocTypeReferences(const std::string& iDocTypeID, std::int32_t iLanguageID) {
  return Guarded("Quillon.Queries.CheckDocTypeReferences", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute(referencesQuery(iDocTypeID));
    std::vector<std::string> labels;
    if (!rs->EOF_()) {
      // The order of the names is the order the portal lists them in.
      static const std::pair<const char*, const char*> kNames[] = {
          {"DO", "SLBSH1103"}, {"DB", "SLBSH5008"}, {"SL", "SLBSH5706"}, {"SMN", "SLBSH5852"},
          {"SMR", "SLBSH5606"}, {"A", "SLBSH5605"},  {"R", "SLBSH5751"},  {"T", "SLBSH5453"},
          {"X", "SLBSH5801"},  {"DC", "SLBSH5903"}, {"NT", "SLBSH6051"}};
      for (const auto& [column, label] : kNames)
        if (rs->Fields(column).Value().toInt32() != 0) labels.push_back(label);
    }
    rs->Close();
    if (labels.empty()) return std::string();
    // Each name becomes a script string literal: a quote inside is doubled.
    std::vector<std::string> items;
    for (const std::string& key : labels)
      items.push_back("\"" + text::Replace(I18N::GetLabelForLocale(key, iLanguageID), "\"", "\"\"") + "\"");
    return "Array(" + text::Join(items, ",") + ")";
  });
}

const ClassInfo* Queries::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<Queries>("Quillon.Queries")
          .bind<&Queries::CheckDocTypeReferences>("CheckDocTypeReferences", {"iDocTypeID", opt("iLanguageID", 1033)})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Queries().classInfo(), true);
}

}  // namespace quillon
