#include "delivery/Rules.h"
#include "foundation/ConnectionScope.h"

#include <cstdio>
#include <map>
#include <optional>
#include <type_traits>

#include "document/Document.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Database.h"
#include "platform/DateConversion.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

// One line of a rule as the rule-set query gives it, its enumerations
// already narrowed to their valid values (0 otherwise).
struct Rules::Line {
  Variant lineID;  // Null for the one row of a rule without lines
  std::int32_t tagAttrXsl = 0;
  std::string xslPattern;
  std::int32_t condition = 0;
  std::int32_t compareType = 0;
  std::string value;
  std::int32_t fieldType = 0;
};

struct Rules::Rule {
  std::int32_t id = 0;
  std::string description;
  std::string assignedID;
  std::string methodCall;
  std::string logic;  // RULELOGIC as text, trimmed: "1" AND, "2" OR
  std::vector<Line> lines;
};

namespace {

const char* const kSendMethodRuleSetSql =
    "SELECT DISTINCT RULEHEADER.DESCRIPTION, SENDMETHOD.SENDMETHODID, RULEHEADER.RULEID, "
    "RULEHEADER.RULETYPE, RULEHEADER.METHODCALL, RULEHEADER.SEQUENCENUMBER, "
    "RULEHEADER.RULELOGIC, RULELINE.LINEID , RULELINE.XSLPATTERN, RULELINE.CONDITION, "
    "RULELINE.COMPARETYPE, RULELINE.VALUE, RULELINE.FIELDTYPE, RULELINE.SEQUENCENUMBER, RULELINE.TAGATTRXSL "
    "FROM SENDMETHOD "
    "LEFT OUTER JOIN RULEHEADER ON SENDMETHOD.RULEID = RULEHEADER.RULEID "
    "LEFT OUTER JOIN RULELINE ON RULEHEADER.RULEID = RULELINE.RULEID "
    "WHERE SENDMETHOD.DOCUMENTTYPEID = ";

const char* const kDocumentTypeRuleSetSql =
    "SELECT  ruleheader.ruleid, "
    "ruleheader.description, "
    "ruleheader.ruletype, "
    "ruleheader.assignedid, "
    "ruleheader.methodcall, "
    "ruleheader.sequencenumber, "
    "ruleheader.rulelogic, "
    "ruleline.lineid , "
    "ruleline.xslpattern, "
    "ruleline.condition, "
    "ruleline.comparetype, "
    "ruleline.value, "
    "ruleline.fieldtype, "
    "ruleline.sequencenumber, "
    "ruleline.tagattrxsl "
    "FROM ruleheader LEFT OUTER JOIN ruleline ON ruleheader.ruleid = ruleline.ruleid "
    "WHERE RULEHEADER.RULETYPE = 2 AND RULEHEADER.ORIGINALID = ";

// Sources of the private evaluation steps, as they appear in error records.
const char* const kExecuteRule = "Quillon.Rules.ExecuteRule";
const char* const kExecuteRuleLine = "CLASSNAME.ExecuteRuleLine";
const char* const kExecuteRuleLineCondition = "CLASSNAME.ExecuteRuleLineCondition";

// An enumeration value kept when it lies in [first, last], 0 (not set) otherwise.
std::int32_t within(std::int32_t v, std::int32_t first, std::int32_t last) { return v >= first && v <= last ? v : 0; }

std::int32_t RuleTypeToInt(std::int32_t v) { return within(v, 1, 4); }
std::int32_t FieldTypeToInt(std::int32_t v) { return within(v, 1, 3); }
std::int32_t TagAttrXslToInt(std::int32_t v) { return within(v, 1, 4); }
std::int32_t ConditionToInt(std::int32_t v) { return within(v, 1, 10); }
std::int32_t RuleLogicToInt(const std::string& v) {
  if (v == "AND") return value(RuleLogic::ANDRULE);
  if (v == "OR") return value(RuleLogic::ORRULE);
  return 0;
}

void writeHeader(Recordset& rs, const std::string& description, std::int16_t ruleType, const std::string& assignedID,
                 const std::string& methodCall, std::int32_t sequenceNumber, const std::string& ruleLogic,
                 std::int32_t originalID, bool enabled) {
  rs.Fields("DESCRIPTION").SetValue(Variant(description));
  rs.Fields("RULETYPE").SetValue(Variant(RuleTypeToInt(ruleType)));
  rs.Fields("ASSIGNEDID").SetValue(Variant(assignedID));
  rs.Fields("METHODCALL").SetValue(Variant(methodCall));
  rs.Fields("SEQUENCENUMBER").SetValue(Variant(sequenceNumber));
  rs.Fields("RULELOGIC").SetValue(Variant(RuleLogicToInt(ruleLogic)));
  rs.Fields("ORIGINALID").SetValue(Variant(originalID));
  rs.Fields("ENABLED").SetValue(Variant(enabled ? 1 : 0));
}

std::string fieldTypeWord(std::int32_t fieldType) {
  switch (fieldType) {
    case 1: return "string";
    case 2: return "numeric";
    case 3: return "date";
    default: return "";
  }
}

std::string conditionWord(std::int32_t condition) {
  switch (condition) {
    case 1: return "=";
    case 2: return ">";
    case 3: return ">=";
    case 4: return "<";
    case 5: return "<=";
    case 6: return "<>";
    case 7: return I18N::GetLabel("SLBSH5626");
    case 8: return I18N::GetLabel("SLBSH5627");
    case 9: return I18N::GetLabel("SLBSH5628");
    case 10: return I18N::GetLabel("SLBSH5629");
    default: return "";
  }
}

// The number a value reads as, or nothing.
std::optional<double> asNumber(const Variant& v) {
  if (v.isNull()) return std::nullopt;
  std::string t = v.text();
  if (!text::IsNumeric(t)) return std::nullopt;
  return Variant(t).toDouble();
}

bool sameLine(const Variant& a, const Variant& b) {
  if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
  return a.toInt32() == b.toInt32();
}

}  // namespace

// ---- rule sets -----------------------------------------------------------------------------

// The rows come ordered by rule sequence and line sequence. A rule's rows
// are gathered wherever they appear, so rules that share a sequence number
// (whose rows the database may interleave) are each judged on all their
// lines; the rules keep the order of their first row. A rule linked to
// several send methods yields each line once per send method: a line is
// kept once.
std::vector<Rules::Rule> Rules::ReadRules(const std::shared_ptr<Recordset>& rs, bool withAssignedID) {
  Utility u;
  std::vector<Rule> rules;
  std::map<std::int32_t, std::size_t> indexOf;
  for (; !rs->EOF_(); rs->MoveNext()) {
    std::int32_t id = rs->Fields("RULEID").Value().toInt32();
    auto [it, isNew] = indexOf.emplace(id, rules.size());
    if (isNew) {
      Rule r;
      r.id = id;
      r.description = u.CheckString(rs->Fields("DESCRIPTION").Value());
      r.methodCall = u.CheckString(rs->Fields("METHODCALL").Value());
      r.logic = text::Trim(rs->Fields("RULELOGIC").Value().text());
      if (withAssignedID) r.assignedID = u.CheckString(rs->Fields("ASSIGNEDID").Value());
      rules.push_back(std::move(r));
    }
    Rule& rule = rules[it->second];
    Line line;
    line.lineID = rs->Fields("LINEID").Value();
    bool seen = false;
    for (const Line& l : rule.lines) seen = seen || sameLine(l.lineID, line.lineID);
    if (seen) continue;
    line.tagAttrXsl = TagAttrXslToInt(u.CheckLong(rs->Fields("TAGATTRXSL").Value()));
    line.xslPattern = u.CheckString(rs->Fields("XSLPATTERN").Value());
    line.condition = ConditionToInt(u.CheckLong(rs->Fields("CONDITION").Value()));
    line.compareType = TagAttrXslToInt(u.CheckLong(rs->Fields("COMPARETYPE").Value()));
    line.value = u.CheckString(rs->Fields("VALUE").Value());
    line.fieldType = FieldTypeToInt(u.CheckLong(rs->Fields("FIELDTYPE").Value()));
    rule.lines.push_back(std::move(line));
  }
  return rules;
}

std::vector<Rules::Rule> Rules::QueryRules(const std::string& sql, bool withAssignedID) {
  ConnectionScope conn;
  auto rs = conn.get()->Execute(sql);
  std::vector<Rule> rules = ReadRules(rs, withAssignedID);
  rs->Close();
  return rules;
}

std::int32_t Rules::SenderLocale(std::int32_t docID) {
  Document document;
  Utility u;
  auto user = u.GetAUObject(document.GetSenderOfDocument(docID));
  if (!user) throw Error(hr::kObjectRequired, "Quillon.Rules", "Object required: the sender's directory entry.");
  return user->LocaleID();
}

std::int32_t Rules::ExecuteSendMethodRuleSet(std::int32_t iDocID, const std::string& iDocTypeID,
                                             std::int32_t iBusinessPartnerID) {
  return Guarded("Quillon.Rules.ExecuteSendMethodRuleSet", [&]() -> std::int32_t {
    SendMethodRuleInput input = SendMethodRuleInput::Read(*this, iDocID);
    return SendMethodRuleSetOn(input, iDocTypeID, iBusinessPartnerID);
  });
}

namespace {

// Whether any rule reads the document: a rule without lines (its one row
// has no LINEID) and without a plug-in compares nothing and never holds,
// so a rule set made only of such rules (or of none) gives -1 whatever the
// document says.
template <class Rule>
bool readsDocument(const std::vector<Rule>& rules) {
  for (const Rule& rule : rules) {
    if (!rule.methodCall.empty()) return true;
    for (const auto& line : rule.lines)
      if (!line.lineID.isNull()) return true;
  }
  return false;
}

}  // namespace

std::int32_t Rules::SendMethodRuleSetOn(const SendMethodRuleInput& input, const std::string& iDocTypeID,
                                        std::int32_t iBusinessPartnerID) {
  std::vector<Rule> rules =
      QueryRules(std::string(kSendMethodRuleSetSql) + SqlText(iDocTypeID) + " AND " +
                     "SENDMETHOD.BUSINESSPARTNERID = " + SqlLong(iBusinessPartnerID) + " AND " +
                     "RULEHEADER.ENABLED = 1 " + "ORDER BY RULEHEADER.SEQUENCENUMBER, RULELINE.SEQUENCENUMBER",
                 false);
  // Most routes have no rule: the stored document is then not parsed and
  // the sender not looked up.
  if (!readsDocument(rules)) return -1;
  input.Load(*this);
  for (const Rule& rule : rules)
    if (ExecuteRule(rule, input.dom, input.locale)) return rule.id;
  return -1;
}

SendMethodRuleInput SendMethodRuleInput::Read(Rules&, std::int32_t docID) {
  SendMethodRuleInput input;
  input.docID = docID;
  return input;
}

void SendMethodRuleInput::Load(Rules& rules) const {
  if (loaded) return;
  Document document;
  dom = document.GetXmlDomDocument(docID);
  locale = rules.SenderLocale(docID);
  loaded = true;  // only once both are read: a failure is met again by the next rule set
}

std::int32_t ExecuteSendMethodRuleSetOn(Rules& rules, const SendMethodRuleInput& input, const std::string& iDocTypeID,
                                        std::int32_t iBusinessPartnerID) {
  return Guarded("Quillon.Rules.ExecuteSendMethodRuleSet",
                 [&] { return rules.SendMethodRuleSetOn(input, iDocTypeID, iBusinessPartnerID); });
}

std::string Rules::ExecuteDocumentTypeRuleSet(std::int32_t iDocID, std::int32_t iBPID,
                                              const std::shared_ptr<DomNode>& iXMLDoc) {
  return Guarded("Quillon.Rules.ExecuteDocumentTypeRuleSet", [&]() -> std::string {
    std::shared_ptr<DomNode> dom;
    std::int32_t locale = 0;  // the system's default locale
    if (iDocID == 0 && iXMLDoc) {
      dom = iXMLDoc;
    } else {
      Document document;
      dom = document.GetXmlDomDocument(iDocID);
      try {
        locale = SenderLocale(iDocID);
      } catch (...) {
        locale = 0;  // an unknown sender reads dates in the system's locale
      }
    }
    std::vector<Rule> rules =
        QueryRules(std::string(kDocumentTypeRuleSetSql) + SqlLong(iBPID) + " AND " +
                       "RULEHEADER.ENABLED = 1 ORDER BY ruleheader.sequencenumber, ruleline.sequencenumber",
                   true);
    for (const Rule& rule : rules)
      if (ExecuteRule(rule, dom, locale)) return rule.assignedID;
    return "";
  });
}

// ---- evaluation ----------------------------------------------------------------------------

bool Rules::ExecuteRule(const Rule& rule, const std::shared_ptr<DomNode>& dom, std::int32_t locale) {
  return Guarded(kExecuteRule, [&]() -> bool {
    Utility u;
    if (rule.methodCall.empty()) {
      // AND: the first failing line decides; OR: the first holding line;
      // any other logic: the rule holds when at least one line holds.
      bool result = false;
      for (const Line& l : rule.lines) {
        bool holds = ExecuteRuleLine(u.ConstructXslPattern(l.tagAttrXsl, l.xslPattern), l.condition, l.compareType,
                                     l.value, l.fieldType, dom, locale);
        if (holds) {
          result = true;
          if (rule.logic == std::to_string(value(RuleLogic::ORRULE))) return true;
        } else if (rule.logic == std::to_string(value(RuleLogic::ANDRULE))) {
          return false;
        }
      }
      return result;
    }

    // A plug-in decides from the values the lines select, one per line.
    std::vector<std::string> values;
    for (const Line& l : rule.lines) values.push_back(u.ExecuteXSLPattern(dom, u.ConstructXslPattern(l.tagAttrXsl, l.xslPattern)));
    Variant arguments(VariantArray::ofStrings(values));
    std::string handedOver = u.MakeStringFromArray(arguments);
    try {
      return u.CallMethod(rule.methodCall, arguments);
    } catch (const Error& e) {
      // An answer that reads as neither true nor false is no verdict: the
      // rule does not hold, the log says why, and the next rule is tried.
      // Every other failure of the plug-in fails the rule set.
      if (e.number() != hr::kTypeMismatch) throw;
      General::LogError(kExecuteRule, "Method '" + rule.methodCall + "' " + "with arguments '" + handedOver +
                                          "' did not return true or false while executing rule '" + rule.description +
                                          "' with id = " + std::to_string(rule.id));
      return false;
    }
  });
}

bool Rules::ExecuteRuleLine(const std::string& docPattern, std::int32_t condition, std::int32_t compareType,
                            const std::string& value, std::int32_t fieldType, const std::shared_ptr<DomNode>& dom,
                            std::int32_t locale) {
  Variant docValue = Variant::null();
  Variant compareValue = Variant::null();
  return Guarded(
      kExecuteRuleLine,
      [&] {
        return "Error comparing " + fieldTypeWord(fieldType) + " values: '" + docValue.text() + "' " +
               conditionWord(condition) + " '" + compareValue.text() + "'";
      },
      [&]() -> bool {
        Utility u;
        // A fixed text is compared as typed; so a date rule's fixed text
        // has to be written yyyy-MM-dd.
        if (compareType == static_cast<std::int32_t>(TagAttrXsl::FIXEDTEXT)) {
          compareValue = Variant(value);
        } else {
          compareValue = Variant(u.CheckString(Variant(u.ExecuteXSLPattern(dom, u.ConstructXslPattern(compareType, value)))));
          if (fieldType == static_cast<std::int32_t>(FieldType::DATEFIELD)) compareValue = NormaliseDate(compareValue, locale);
        }
        std::string found = u.ExecuteXSLPattern(dom, docPattern);
        if (text::Trim(found).empty()) return false;  // nothing to compare: the line fails whatever its condition
        docValue = Variant(found);

        switch (static_cast<FieldType>(fieldType)) {
          case FieldType::STRINGFIELD:
            if (compareValue.isNull()) return false;
            return ExecuteRuleLineCondition(found, compareValue.text(), condition, fieldType);
          case FieldType::NUMERICFIELD: {
            std::optional<double> d = asNumber(docValue), c = asNumber(compareValue);
            if (!d || !c) return false;
            return ExecuteRuleLineCondition(*d, *c, condition, fieldType);
          }
          case FieldType::DATEFIELD: {
            if (compareValue.isNull() || text::Trim(compareValue.text()).empty()) return false;
            Variant date = NormaliseDate(docValue, locale);
            if (date.isNull()) return false;
            // "yyyy-MM-dd" texts order like the dates they stand for.
            return ExecuteRuleLineCondition(date.text(), compareValue.text(), condition, fieldType);
          }
        }
        return false;
      });
}

template <class T>
bool Rules::ExecuteRuleLineCondition(const T& d, const T& c, std::int32_t condition, std::int32_t fieldType) {
  return Guarded(kExecuteRuleLineCondition, [&]() -> bool {
    // Texts compare by character code (std::string orders UTF-8 bytes as
    // unsigned, which is code point order); numbers numerically.
    switch (static_cast<Condition>(condition)) {
      case Condition::ISEXACTLY: return d == c;
      case Condition::GREATERTHAN: return d > c;
      case Condition::GREATEREQUAL: return d >= c;
      case Condition::LOWERTHAN: return d < c;
      case Condition::LOWEREQUAL: return d <= c;
      case Condition::ISNOT: return d != c;
      default: break;
    }
    if constexpr (std::is_same_v<T, std::string>) {
      if (fieldType == static_cast<std::int32_t>(FieldType::STRINGFIELD)) {
        switch (static_cast<Condition>(condition)) {
          case Condition::PARTOF: return text::InStr(1, c, d, true) > 0;
          case Condition::NOTPARTOF: return text::InStr(1, c, d, true) == 0;
          case Condition::CONTAINS: return text::InStr(1, d, c, true) > 0;
          case Condition::NOTCONTAINS: return text::InStr(1, d, c, true) == 0;
          default: break;
        }
      }
    }
    throw Error(InvalidParamValue, kExecuteRuleLineCondition, I18N::GetLabel("SLBSH5699"));
  });
}

Variant Rules::NormaliseDate(const Variant& v, std::int32_t locale) {
  if (locale == 0) locale = GetSystemDefaultLCID();
  Variant date = ConvertDate(v, locale);
  return date.isNull() ? date : DateToXSLPatternString(date);
}

// ---- storing -------------------------------------------------------------------------------

std::int32_t Rules::AddRule(const std::string& iDescription, std::int16_t iRuleType, const std::string& iAssignedID,
                            const std::string& iMethodCall, std::int32_t iSequenceNumber, const std::string& iRuleLogic,
                            std::int32_t iOriginalID, bool iEnabled) {
  return Guarded("Quillon.Rules.AddRule", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM RULEHEADER WHERE RULEID=-1", conn.get());
    rs->AddNew();
    writeHeader(*rs, iDescription, iRuleType, iAssignedID, iMethodCall, iSequenceNumber, iRuleLogic, iOriginalID, iEnabled);
    rs->Update();
    std::int32_t id = rs->Fields("RULEID").Value().toInt32();
    rs->Close();
    return id;
  });
}

void Rules::UpdateRule(std::int32_t iRuleID, const std::string& iDescription, std::int16_t iRuleType,
                       const std::string& iAssignedID, const std::string& iMethodCall, std::int32_t iSequenceNumber,
                       const std::string& iRuleLogic, std::int32_t iOriginalID, bool iEnabled) {
  Guarded("Quillon.Rules.UpdateRule", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("Select * From RULEHEADER WHERE RULEID = " + SqlLong(iRuleID), conn.get());
    if (!rs->EOF_()) {
      writeHeader(*rs, iDescription, iRuleType, iAssignedID, iMethodCall, iSequenceNumber, iRuleLogic, iOriginalID,
                  iEnabled);
      rs->Update();
    }
    rs->Close();
  });
}

bool Rules::DeleteRule(std::int32_t iRuleID) {
  return Guarded("Quillon.Rules.DeleteRule", [&] {
    ConnectionScope conn;
    const std::string id = SqlLong(iRuleID);
    auto rs = conn.get()->Execute(
        "SELECT DISTINCT RULETYPE, SENDMETHOD.RULEID, SENDMETHOD.SENDMETHODID FROM RULEHEADER "
        "LEFT OUTER JOIN SENDMETHOD ON RULEHEADER.RULEID = SENDMETHOD.RULEID "
        "WHERE RULEHEADER.RULEID = " +
        id);
    // Every route is checked before anything is deleted, so a rule still
    // in use keeps its placeholder routes too.
    Utility u;
    bool sendMethodRule = false;
    for (; !rs->EOF_(); rs->MoveNext()) {
      if (u.CheckLong(rs->Fields(0).Value()) != value(RuleType::SENDMETHODRULE)) continue;
      sendMethodRule = true;
      const Variant& route = rs->Fields(1).Value();
      const Variant& sendMethod = rs->Fields(2).Value();
      if (!route.isNull() && !sendMethod.isNull() && sendMethod.toInt32() != -1) return false;
    }
    rs->Close();
    if (sendMethodRule) conn.get()->Execute("DELETE FROM SENDMETHOD WHERE (RULEID = " + id + ") AND SENDMETHODID = -1");
    conn.get()->Execute("DELETE FROM RULELINE WHERE (RULEID = " + id + ")");
    conn.get()->Execute("DELETE FROM RULEHEADER WHERE (RULEID = " + id + ")");
    return true;
  });
}

std::int32_t Rules::AddRuleLine(std::int32_t iRuleID, std::int32_t iFieldType, std::int32_t iSequenceNumber,
                                std::int32_t iTagAttrXsl, const std::string& iXslPattern, std::int32_t iCondition,
                                const std::string& iRuleLineValue) {
  return AddRuleLineEx(iRuleID, iFieldType, iSequenceNumber, iTagAttrXsl, iXslPattern, iCondition,
                       value(TagAttrXsl::FIXEDTEXT), iRuleLineValue);
}

std::int32_t Rules::AddRuleLineEx(std::int32_t iRuleID, std::int32_t iFieldType, std::int32_t iSequenceNumber,
                                  std::int32_t iTagAttrXsl, const std::string& iXslPattern, std::int32_t iCondition,
                                  std::int32_t iTagAttrXslFixedText, const std::string& iRuleLineValue) {
  return Guarded("Quillon.Rules.AddRuleLine", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM RULELINE WHERE LINEID=-1", conn.get());
    rs->AddNew();
    rs->Fields("RULEID").SetValue(Variant(iRuleID));
    rs->Fields("FIELDTYPE").SetValue(Variant(FieldTypeToInt(iFieldType)));
    rs->Fields("SEQUENCENUMBER").SetValue(Variant(iSequenceNumber));
    rs->Fields("TAGATTRXSL").SetValue(Variant(TagAttrXslToInt(iTagAttrXsl)));
    rs->Fields("XSLPATTERN").SetValue(Variant(iXslPattern));
    rs->Fields("CONDITION").SetValue(Variant(ConditionToInt(iCondition)));
    rs->Fields("COMPARETYPE").SetValue(Variant(TagAttrXslToInt(iTagAttrXslFixedText)));
    rs->Fields("VALUE").SetValue(Variant(iRuleLineValue));
    rs->Update();
    std::int32_t id = rs->Fields("LINEID").Value().toInt32();
    rs->Close();
    return id;
  });
}

void Rules::DeleteRuleLines(std::int32_t iRuleID) {
  Guarded("Quillon.Rules.DeleteRuleLines", [&] {
    ConnectionScope conn;
    conn.get()->Execute("DELETE FROM RULELINE WHERE (RULEID = " + SqlLong(iRuleID) + ")");
  });
}

std::string Rules::GetRuleDescription(std::int32_t i_lruleid) {
  return Guarded("Quillon.Rules.GetRuleDescription", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute("SELECT DESCRIPTION FROM RULEHEADER WHERE RULEID = " + SqlLong(i_lruleid));
    std::string description = rs->EOF_() ? std::string() : Utility().CheckString(rs->Fields(0).Value());
    rs->Close();
    return description;
  });
}

bool Rules::ExistRulesAttachedToSendMethods(const std::string& i_sDocumentTypeID, std::int32_t i_lBPID,
                                            std::int32_t i_lSendMethodID) {
  return Guarded("Quillon.Rules.ExistAttachedRulesForSendMethods", [&] {
    std::string sql = "SELECT RULEID FROM SENDMETHOD WHERE NOT RULEID = -1 AND NOT RULEID = 0 AND NOT SENDMETHODID = -1 ";
    if (!i_sDocumentTypeID.empty()) sql += "AND DOCUMENTTYPEID = " + SqlText(i_sDocumentTypeID) + " ";
    if (i_lBPID != 0) sql += "AND BUSINESSPARTNERID = " + SqlLong(i_lBPID) + " ";
    if (i_lSendMethodID != 0) sql += "AND SENDMETHODID = " + SqlLong(i_lSendMethodID) + " ";
    ConnectionScope conn;
    auto rs = conn.get()->Execute(sql);
    bool found = !rs->EOF_();
    rs->Close();
    return found;
  });
}

// ---- dates ---------------------------------------------------------------------------------

Variant Rules::DateToXSLPatternString(const Variant& i_vDate) {
  if (i_vDate.isNull()) return i_vDate;
  int year, month, day, hour, minute, second;
  oleDateToParts(i_vDate.toDate(), year, month, day, hour, minute, second);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  return Variant(std::string(buf));
}

Variant Rules::XSLPatternStringToDate(const Variant& i_vDate) {
  std::string t = text::Trim(i_vDate.text());
  if (text::Len(t) == 10) {
    // A part that is no number fails here with the conversion error.
    std::int16_t year = Variant(text::Mid(t, 1, 4)).toInt16();
    std::uint8_t month = Variant(text::Mid(t, 6, 2)).toByte();
    std::uint8_t day = Variant(text::Mid(t, 9, 2)).toByte();
    if (year != 0 && month != 0 && day != 0) {
      double date = oleDateFromParts(year, month, day);
      // Only dates the automation date type can hold (years 100 to 9999),
      // also after a day or month rolled over.
      int y, m, d, h, mi, s;
      oleDateToParts(date, y, m, d, h, mi, s);
      if (y >= 100 && y <= 9999) return Variant::date(date);
    }
  }
  throw Error(InvalidParamValue, "Quillon.Rules.XSLPatternStringToDate", I18N::LabelWith("SLBSH5698", {{"[%DATE%]", t}}));
}

// ---- by-name registration ------------------------------------------------------------------

const ClassInfo* Rules::classInfo() const {
  using R = Rules;
  static const ClassInfo* info =
      ClassBuilder<Rules>("Quillon.Rules")
          .bind<&R::GetRuleType_SENDMETHODRULE>("GetRuleType_SENDMETHODRULE")
          .bind<&R::GetRuleType_DOCUMENTTYPERULE>("GetRuleType_DOCUMENTTYPERULE")
          .bind<&R::GetRuleType_SENDERIDRULE>("GetRuleType_SENDERIDRULE")
          .bind<&R::GetRuleType_RECIPIENTIDRULE>("GetRuleType_RECIPIENTIDRULE")
          .bind<&R::ExecuteSendMethodRuleSet>("ExecuteSendMethodRuleSet", {"iDocID", "iDocTypeID", "iBusinessPartnerID"})
          .bind<&R::ExecuteDocumentTypeRuleSet>("ExecuteDocumentTypeRuleSet",
                                                {"iDocID", "iBPID", opt("iXMLDoc", std::shared_ptr<Object>())})
          .bind<&R::AddRule>("AddRule", {"iDescription", "iRuleType", "iAssignedID", "IMethodCall", "iSequenceNumber",
                                         "iRuleLogic", "iOriginalID", "iEnabled"})
          .bind<&R::UpdateRule>("UpdateRule", {"iRuleID", "iDescription", "iRuleType", "iAssignedID", "IMethodCall",
                                               "iSequenceNumber", "iRuleLogic", "iOriginalID", "iEnabled"})
          .bind<&R::DeleteRule>("DeleteRule", {"iRuleID"})
          .bind<&R::AddRuleLine>("AddRuleLine", {"iRuleID", "iFieldType", "iSequenceNumber", "iTagAttrXsl", "iXslPattern",
                                                 "iCondition", "iRuleLineValue"})
          .bind<&R::AddRuleLineEx>("AddRuleLineEx", {"iRuleID", "iFieldType", "iSequenceNumber", "iTagAttrXsl", "iXslPattern",
                                                     "iCondition", "iTagAttrXslFixedText", "iRuleLineValue"})
          .bind<&R::DeleteRuleLines>("DeleteRuleLines", {"iRuleID"})
          .bind<&R::GetRuleDescription>("GetRuleDescription", {"i_lruleid"})
          .bind<&R::ExistRulesAttachedToSendMethods>("ExistRulesAttachedToSendMethods",
                                                     {opt("i_sDocumentTypeID", ""), opt("i_lBPID", 0), opt("i_lSendMethodID", 0)})
          .bind<&R::DateToXSLPatternString>("DateToXSLPatternString", {"i_vDate"})
          .bind<&R::XSLPatternStringToDate>("XSLPatternStringToDate", {"i_vDate"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Rules().classInfo(), true);
}

}  // namespace quillon
