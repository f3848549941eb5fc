#include "publication/SQLQueries.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <vector>

#include "document/Document.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLikePattern;
using Encoding::SqlLong;
using Encoding::SqlText;

namespace {

const std::string kSource = "Quillon.SQLQueries.GetDocListQuery";

constexpr double kMinDocumentID = 1;
constexpr double kMaxDocumentID = 999999999;

enum class View { Inbox, Outbox, ErrorBox };

View viewOf(std::int32_t senderMode) {
  if (senderMode == value(SENDERMODE::RECEIVERMODE)) return View::Inbox;
  if (senderMode == value(SENDERMODE::ERRORMODE)) return View::ErrorBox;
  return View::Outbox;
}

// The messages of a refused filter, kept for o_sErrors: the message, its
// hint and, for a status value with a wildcard, the wildcard message.
struct Messages {
  std::string message;
  std::string hint;
  std::string wildcard;

  std::string joined() const {
    std::string out = message;
    if (!hint.empty()) out += "|" + hint;
    if (!wildcard.empty()) out += "|" + wildcard;
    return out;
  }
};

[[noreturn]] void refuse(Messages& messages, std::string message, std::string hint = {}, std::string wildcard = {}) {
  messages.message = std::move(message);
  messages.hint = std::move(hint);
  messages.wildcard = std::move(wildcard);
  throw Error(InvalidParamValue, kSource, messages.message);
}

bool isIdentifierStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isIdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Reads an identifier at `pos`; false when there is none.
bool readIdentifier(const std::string& s, std::size_t& pos) {
  if (pos >= s.size() || !isIdentifierStart(s[pos])) return false;
  while (pos < s.size() && isIdentifierChar(s[pos])) ++pos;
  return true;
}

// A filter name is pasted into the SQL text in front of its value, so only
// a column expression passes: [table.]column, then optionally a comparison.
// `hasOperator` tells whether the comparison is there.
bool isColumnExpression(const std::string& name, bool& hasOperator) {
  const std::string s = text::Trim(name);
  std::size_t pos = 0;
  if (!readIdentifier(s, pos)) return false;
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    if (!readIdentifier(s, pos)) return false;
  }
  const bool blankBefore = pos < s.size() && isBlank(s[pos]);
  // The rest, in upper case with every run of blanks made one blank.
  std::string rest;
  for (std::size_t i = pos; i < s.size(); ++i) {
    if (isBlank(s[i])) {
      if (!rest.empty() && rest.back() != ' ') rest += ' ';
    } else {
      rest += static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
    }
  }
  if (!rest.empty() && rest.back() == ' ') rest.pop_back();
  hasOperator = !rest.empty();
  if (rest.empty()) return true;
  for (const char* op : {"=", "<>", "!=", "<", ">", "<=", ">="})
    if (rest == op) return true;
  return blankBefore && (rest == "LIKE" || rest == "NOT LIKE");
}

// A tag id as a whole number; false for anything else.
bool wholeNumber(const Variant& v, std::int64_t& out) {
  switch (v.type()) {
    case VarType::Byte:
    case VarType::Int16:
    case VarType::Int32:
      out = v.toInt32();
      return true;
    case VarType::Double: {
      double d = v.toDouble();
      if (std::floor(d) != d || std::fabs(d) > std::numeric_limits<std::int32_t>::max()) return false;
      out = static_cast<std::int64_t>(d);
      return true;
    }
    case VarType::String: {
      const std::string s = text::Trim(v.text());
      if (s.empty() || s.size() > 10) return false;
      for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
      out = std::stoll(s);
      return out <= std::numeric_limits<std::int32_t>::max();
    }
    default:
      return false;
  }
}

std::string filterNameMessage(const std::string& name) {
  return "The filter '" + name + "' is not a column name followed by a comparison (for example DOCUMENT.SENDER like).";
}

// The tag columns and their joins, for T1 … Tn.
void tagParts(const Variant& tagIDs, std::int32_t count, Messages& messages, std::string& columns, std::string& joins) {
  for (std::int32_t i = 1; i <= count; ++i) {
    const Variant& id = tagIDs.array().at(i);
    std::int64_t number = 0;
    if (!wholeNumber(id, number)) refuse(messages, "The tag ID '" + id.text() + "' is not a whole number.");
    const std::string t = "T" + std::to_string(i);
    columns += ", " + t + ".TAGVALUE AS " + t;
    joins += " LEFT OUTER JOIN ( SELECT TAGVALUE, DOCUMENTID FROM   TAGSVALUE WHERE  TAGID = " + std::to_string(number) +
             ") AS " + t + " ON DOCUMENT.DOCUMENTID = " + t + ".DOCUMENTID ";
  }
}

// Utility's reading of a recipient's status text; trims the text in place.
std::int32_t publicationStatusOf(std::string& status) {
  Utility utility;
  return value(utility.ConvertPublicationStatusFromStringToEnum(status));
}

std::string statusFilter(View view, const std::string& name, std::string status, Messages& messages) {
  const std::string field = I18N::GetLabel("SLBSH1121");
  const std::string message = I18N::LabelWith("SLBSH0803", {{"[%FIELD%]", field}});
  const std::string hint = I18N::GetLabel(view == View::Outbox ? "SLBSH1123" : "SLBSH1125");
  if (status.find('*') != std::string::npos) refuse(messages, message, hint, I18N::GetLabel("SLBSH1124"));
  std::int32_t number = -1;
  if (view == View::Outbox) {
    Document document;
    number = value(document.ConvertStatusFromStringToEnum(status));
  } else {
    number = publicationStatusOf(status);
  }
  if (number == -1) refuse(messages, message, hint);
  return " AND ( " + name + std::to_string(number) + " )";
}

std::string documentIDFilter(const std::string& name, const std::string& value, Messages& messages) {
  double number = 0;
  bool valid = text::IsNumeric(value);
  if (valid) {
    number = Variant(value).toDouble();
    valid = number >= kMinDocumentID && number <= kMaxDocumentID;
  }
  if (!valid)
    refuse(messages, I18N::LabelWith("SLBSH1104", {{"[%FIELD%]", I18N::GetLabel("SLBSH1121")}}),
           I18N::LabelWith("SLBSH1126", {{"[%MIN%]", "1"}, {"[%MAX%]", "999999999"}}));
  return " AND ( " + name + SqlLong(Variant(number).toInt32()) + " ) ";
}

// The conditions of the page's filters: the first filter kind that accepts
// a (name, value) pair appends its condition; a pair none accepts adds nothing.
std::string filterText(View view, const Variant& names, const Variant& values, std::int32_t count, Messages& messages) {
  std::string filter;
  for (std::int32_t i = 1; i <= count; ++i) {
    const std::string name = names.array().at(i).text();
    const std::string value = values.array().at(i).text();
    if (text::Trim(name).empty()) continue;
    bool hasOperator = false;
    if (!isColumnExpression(name, hasOperator)) refuse(messages, filterNameMessage(name));
    const bool isLike = text::InStr(1, name, "like", true) > 0;
    const bool isDocumentID = text::InStr(1, name, "documentid", true) > 0;
    const bool isStatus = text::InStr(1, name, ".status", true) > 0 && view != View::ErrorBox;
    if (!isLike && !isDocumentID && !isStatus) continue;
    // Every accepted kind writes the value right after the name.
    if (!hasOperator) refuse(messages, filterNameMessage(name));
    if (isLike)
      filter += " AND ( " + name + SqlLikePattern(value) + " )";
    else if (isDocumentID)
      filter += documentIDFilter(name, value, messages);
    else
      filter += statusFilter(view, name, value, messages);
  }
  return filter;
}

const char* const kTypeConditions = " AND (NOT DOCUMENT.DOCUMENTTYPEID = '') AND (NOT DOCUMENT.DOCUMENTTYPEID IS NULL)";

std::string childCondition(const std::string& user) {
  return " WHERE (PUBLICATION.USERID = " + SqlText(user) + " OR     PUBLICATION.USERID IS NULL OR     DOCUMENT.SENDER = " +
         SqlText(user) + ")";
}

std::string inboxQuery(const std::string& type, std::int32_t parent, const std::string& user, const std::string& tagColumns,
                       const std::string& tagJoins, const std::string& filter) {
  std::string sql =
      "SELECT DISTINCT DOCUMENT.STATUS AS DSTATUS, DOCUMENT.CREATIONDATE, DOCUMENT.SENDER, DOCUMENT.DOCUMENTID,"
      " DOCUMENT.DOCUMENTTYPEID, CHILDS.DOC_DOCUMENTID AS CHILDID, NR, PUBLICATION.DOCUMENTID";
  if (parent == 0) sql += ", PUBLICATION.USERID, PUBLICATION.STATUS, PUBLICATION.FORWARD" + tagColumns;
  sql += " FROM DOCUMENT";
  sql += parent == 0 ? " INNER JOIN PUBLICATION ON" : " LEFT OUTER JOIN PUBLICATION ON";
  sql +=
      " PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID LEFT OUTER JOIN DOCUMENT AS CHILDS "
      " ON DOCUMENT.DOCUMENTID = CHILDS.DOC_DOCUMENTID LEFT OUTER JOIN ( SELECT  COUNT(ATTACHMENTID) AS NR, DOCUMENTID "
      " FROM    ATTACHMENT GROUP BY DOCUMENTID) AS A ON DOCUMENT.DOCUMENTID = A.DOCUMENTID ";
  if (parent == 0)
    sql += tagJoins + " WHERE PUBLICATION.USERID = " + SqlText(user) + " AND   DOCUMENT.DOCUMENTTYPEID= " + SqlText(type) +
           " AND   PUBLICATION.STATUS NOT IN (2,3,7,8,9) AND   DOCUMENT.STATUS <> 0";
  else
    sql += childCondition(user) + " AND   (DOCUMENT.DOC_DOCUMENTID = " + SqlLong(parent) + ")";
  sql += kTypeConditions;
  sql += " AND (DOCUMENT.SHOW = 1)";
  return sql + " " + filter + " ";
}

std::string outboxQuery(const std::string& type, std::int32_t parent, const std::string& user,
                        const std::string& tagColumns, const std::string& tagJoins, const std::string& filter) {
  std::string sql =
      "SELECT DISTINCT DOCUMENT.STATUS AS DSTATUS, DOCUMENT.CREATIONDATE, DOCUMENT.SENDER, DOCUMENT.DOCUMENTID, "
      " DOCUMENT.DOCUMENTTYPEID, CHILDS.DOC_DOCUMENTID AS CHILDID, NR, PUBLICATION.DOCUMENTID";
  if (parent == 0) sql += tagColumns;
  sql +=
      " FROM DOCUMENT LEFT OUTER JOIN PUBLICATION ON PUBLICATION.DOCUMENTID = DOCUMENT.DOCUMENTID"
      " LEFT OUTER JOIN DOCUMENT AS CHILDS  ON DOCUMENT.DOCUMENTID = CHILDS.DOC_DOCUMENTID"
      " LEFT OUTER JOIN ( SELECT COUNT(ATTACHMENTID) AS NR,  DOCUMENTID  FROM   ATTACHMENT GROUP BY DOCUMENTID) AS A"
      " ON DOCUMENT.DOCUMENTID = A.DOCUMENTID ";
  if (parent == 0)
    sql += tagJoins + " WHERE DOCUMENT.SENDER = " + SqlText(user) + " AND   DOCUMENT.STATUS <> 4  AND   DOCUMENT.DOCUMENTTYPEID = " +
           SqlText(type);
  else
    sql += childCondition(user) + " AND   DOCUMENT.DOC_DOCUMENTID = " + SqlLong(parent);
  sql += kTypeConditions;
  return sql + " " + filter + " ";
}

std::string errorBoxQuery(const std::string& type, std::int32_t parent, const std::string& user,
                          const std::string& tagColumns, const std::string& tagJoins, const std::string& filter) {
  Utility utility;
  const std::int32_t partner = utility.GetAUBusinessPartnerID(user);
  std::string sql = " SELECT DISTINCT  DOCUMENT.DOCUMENTID, DOCUMENT.CREATIONDATE, DOCUMENT.SENDER, DOCUMENT.DOCUMENTTYPEID";
  if (parent == 0) sql += tagColumns;
  sql +=
      " FROM    PUBLICATIONERRORS PE LEFT OUTER JOIN SENDMETHODHISTORY SMH ON SMH.PUBLICATIONERRORID = PE.PUBLICATIONERRORID, "
      "         DOCUMENT             LEFT OUTER JOIN PUBLICATION P         ON P.DOCUMENTID = DOCUMENT.DOCUMENTID ";
  if (parent == 0) sql += tagJoins;
  sql += " WHERE      ( (DOCUMENT.SENDER = " + SqlText(user) + " AND PE.CLOSED IN (0,1,4,5) )  OR (DOCUMENT.SHOW = 1 AND P.USERID = " +
         SqlText(user) + " AND SMH.BUSINESSPARTNERID = " + SqlLong(partner) +
         " AND P.STATUS NOT IN (2,3,7,8,9) AND PE.CLOSED IN (0,1,2,3) )       )  AND PE.DOCUMENTID = DOCUMENT.DOCUMENTID ";
  if (parent != 0)
    sql += " AND DOCUMENT.DOC_DOCUMENTID = " + SqlLong(parent);
  else
    sql += " AND   DOCUMENT.DOCUMENTTYPEID = " + SqlText(type);
  sql += kTypeConditions;
  return sql + filter;
}

}  // namespace

void SQLQueries::GetDocListQuery(std::int32_t i_lSenderMode, const std::string& i_sDocTypeID, const Variant& i_alTagIDs,
                                 const Variant&, std::int32_t i_lNrOfTags, const Variant& i_asFilterNames,
                                 const Variant& i_asFilterValues, std::int32_t i_lNrOfFilters, std::int32_t i_lParentDocID,
                                 const std::string& i_sUser, std::string& o_sQuery, std::string& o_sErrors) {
  o_sQuery.clear();
  o_sErrors.clear();
  Messages messages;
  try {
    const View view = viewOf(i_lSenderMode);
    std::string tagColumns, tagJoins;
    if (i_lParentDocID == 0) tagParts(i_alTagIDs, i_lNrOfTags, messages, tagColumns, tagJoins);
    const std::string filter = filterText(view, i_asFilterNames, i_asFilterValues, i_lNrOfFilters, messages);
    switch (view) {
      case View::Inbox:
        o_sQuery = inboxQuery(i_sDocTypeID, i_lParentDocID, i_sUser, tagColumns, tagJoins, filter);
        break;
      case View::Outbox:
        o_sQuery = outboxQuery(i_sDocTypeID, i_lParentDocID, i_sUser, tagColumns, tagJoins, filter);
        break;
      case View::ErrorBox:
        o_sQuery = errorBoxQuery(i_sDocTypeID, i_lParentDocID, i_sUser, tagColumns, tagJoins, filter);
        break;
    }
  } catch (...) {
    if (messages.message.empty()) messages.message = ErrorInfo::current().description;
    o_sErrors = messages.joined();
    General::ReRaiseError(kSource);
    throw;
  }
}

const ClassInfo* SQLQueries::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<SQLQueries>("Quillon.SQLQueries")
          .bind<&SQLQueries::GetDocListQuery>(
              "GetDocListQuery", {"i_lSenderMode", "i_sDocTypeID", "i_alTagIDs", "i_asTagDescriptions", "i_lNrOfTags",
                                  "i_asFilterNames", "i_asFilterValues", "i_lNrOfFilters", "i_lParentDocID", "i_sUser",
                                  out("o_sQuery"), out("o_sErrors")})
          .done();
  return info;
}

namespace {
const bool kRegistered = (SQLQueries().classInfo(), true);
}

}  // namespace quillon
