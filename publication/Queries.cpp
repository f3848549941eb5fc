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

// One row per combination of referring rows; a column is null only when no
// row of its table refers to the type, so the first row answers for all.
std::string referencesQuery(const std::string& type) {
  return "SELECT DISTINCT DOCUMENT.DOCUMENTTYPEID AS DO, "
         "RECEIVEMETHOD.DOCUMENTTYPEID AS R, "
         "TAGSCONFIG.DOCUMENTTYPEID AS T, "
         "SENDMETHOD.DOCUMENTTYPEID AS SM, "
         "XMLTEMPLATE.DOCUMENTTYPEID AS X, "
         "DOCTYPETODOCTYPE.DOCUMENTTYPEID AS DD, "
         "DOCTYPETODOCTYPE.NEWDOCUMENTTYPEID AS DN, "
         "SENDERLIST.DOCUMENTTYPEID AS SL, "
         "DISTRIBUTIONLIST.DOCUMENTTYPEID AS DB, "
         "RULEHEADER.ASSIGNEDID AS A, "
         "NOTIFICATIONTEMPLATE.DOCUMENTTYPEID AS NT "
         "FROM DOCUMENTTYPE LEFT OUTER JOIN DOCUMENT ON DOCUMENT.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
         "LEFT OUTER JOIN RECEIVEMETHOD ON RECEIVEMETHOD.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
         "LEFT OUTER JOIN TAGSCONFIG ON TAGSCONFIG.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
         "LEFT OUTER JOIN SENDMETHOD ON SENDMETHOD.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
         "LEFT OUTER JOIN XMLTEMPLATE ON XMLTEMPLATE.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
         "LEFT OUTER JOIN DOCTYPETODOCTYPE ON (DOCTYPETODOCTYPE.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID OR "
         "DOCTYPETODOCTYPE.NEWDOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID) "
         "LEFT OUTER JOIN SENDERLIST ON SENDERLIST.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
         "LEFT OUTER JOIN DISTRIBUTIONLIST ON DISTRIBUTIONLIST.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
         "LEFT OUTER JOIN RULEHEADER ON RULEHEADER.ASSIGNEDID = DOCUMENTTYPE.DOCUMENTTYPEID "
         "LEFT OUTER JOIN NOTIFICATIONTEMPLATE ON NOTIFICATIONTEMPLATE.DOCUMENTTYPEID = DOCUMENTTYPE.DOCUMENTTYPEID "
         "WHERE DOCUMENTTYPE.DOCUMENTTYPEID = " +
         SqlText(type);
}

// Whether the type's send methods include ones without and ones with a rule.
// A RULEID left null names no rule either.
void sendMethodKinds(const std::shared_ptr<Connection>& conn, const std::string& type, bool& withoutRule, bool& withRule) {
  auto rs = conn->Execute(
      "SELECT SENDMETHOD.DOCUMENTTYPEID, SENDMETHOD.RULEID "
      "FROM SENDMETHOD "
      "WHERE SENDMETHOD.DOCUMENTTYPEID = " +
      SqlText(type));
  for (; !rs->EOF_(); rs->MoveNext()) {
    const Variant rule = rs->Fields("RULEID").Value();
    if (rule.isNull() || rule.toInt32() == kNoRule)
      withoutRule = true;
    else
      withRule = true;
  }
  rs->Close();
}

}  // namespace

std::string Queries::CheckDocTypeReferences(const std::string& iDocTypeID, std::int32_t iLanguageID) {
  return Guarded("Quillon.Queries.CheckDocTypeReferences", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute(referencesQuery(iDocTypeID));
    std::vector<std::string> labels;
    if (!rs->EOF_()) {
      auto present = [&](const char* column) { return !rs->Fields(column).Value().isNull(); };
      if (present("DO")) labels.push_back("SLBSH1103");
      if (present("DB")) labels.push_back("SLBSH5008");
      if (present("SL")) labels.push_back("SLBSH5706");
      if (present("SM")) {
        bool withoutRule = false, withRule = false;
        sendMethodKinds(conn.get(), iDocTypeID, withoutRule, withRule);
        if (withoutRule) labels.push_back("SLBSH5852");
        if (withRule) labels.push_back("SLBSH5606");
      }
      if (present("A")) labels.push_back("SLBSH5605");
      if (present("R")) labels.push_back("SLBSH5751");
      if (present("T")) labels.push_back("SLBSH5453");
      if (present("X")) labels.push_back("SLBSH5801");
      if (present("DD") || present("DN")) labels.push_back("SLBSH5903");
      if (present("NT")) labels.push_back("SLBSH6051");
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
