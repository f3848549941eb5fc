// Rules: named, ordered tests on the content of an XML document.
//
// A rule (RULEHEADER) either combines its lines (RULELINE) with AND or OR
// logic — each line compares one value read from the document with a fixed
// text or with a second value read from the document — or hands the values
// its lines select to a method-call plug-in that decides. Two rule sets use
// them:
//   - send-method rules (RuleType 1) of a receiver and document type:
//     ExecuteSendMethodRuleSet gives the id of the first holding rule, whose
//     send methods the push engine then uses;
//   - document-type rules (RuleType 2) of a sending partner:
//     ExecuteDocumentTypeRuleSet gives the document type (ASSIGNEDID) of the
//     first holding rule.
// Rules run in ascending SEQUENCENUMBER, their lines in ascending line
// SEQUENCENUMBER; only enabled rules run. Date lines read the document's
// dates in the locale of the document's sender (see platform/DateConversion.h).
//
// Enumeration arguments are stored as given when valid and as 0 (not set)
// otherwise. Every operation opens its own connection and closes it before
// it returns. Not thread-safe; one object per caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Object.h"
#include "platform/Variant.h"

namespace quillon {

class DomNode;
class Recordset;

class Rules : public Object {
 public:
  const ClassInfo* classInfo() const override;

  std::int16_t GetRuleType_SENDMETHODRULE() { return 1; }
  std::int16_t GetRuleType_DOCUMENTTYPERULE() { return 2; }
  std::int16_t GetRuleType_SENDERIDRULE() { return 3; }
  std::int16_t GetRuleType_RECIPIENTIDRULE() { return 4; }

  // The id of the first holding send-method rule among the routes of the
  // partner and document type, -1 when none holds. Dates are read in the
  // locale of the document's sender; a sender the directory does not know
  // fails the call.
  std::int32_t ExecuteSendMethodRuleSet(std::int32_t iDocID, const std::string& iDocTypeID,
                                        std::int32_t iBusinessPartnerID);
  // The ASSIGNEDID of the first holding document-type rule of the partner,
  // "" when none holds. With iDocID 0 and a DOM given, the rules run on that
  // DOM in the system's default locale; otherwise on the stored document in
  // its sender's locale (the system's default when the sender is unknown).
  std::string ExecuteDocumentTypeRuleSet(std::int32_t iDocID, std::int32_t iBPID,
                                         const std::shared_ptr<DomNode>& iXMLDoc = nullptr);

  // iRuleLogic: "AND" or "OR" exactly; anything else is stored as 0, and
  // such a rule holds when any of its lines holds.
  std::int32_t AddRule(const std::string& iDescription, std::int16_t iRuleType, const std::string& iAssignedID,
                       const std::string& iMethodCall, std::int32_t iSequenceNumber, const std::string& iRuleLogic,
                       std::int32_t iOriginalID, bool iEnabled);
  // Rewrites the rule; a rule that does not exist stays missing.
  void UpdateRule(std::int32_t iRuleID, const std::string& iDescription, std::int16_t iRuleType,
                  const std::string& iAssignedID, const std::string& iMethodCall, std::int32_t iSequenceNumber,
                  const std::string& iRuleLogic, std::int32_t iOriginalID, bool iEnabled);
  // Deletes the rule with its lines and its placeholder routes (send
  // method -1); false, with nothing deleted, while a real send method still
  // uses the send-method rule.
  bool DeleteRule(std::int32_t iRuleID);
  // A line compared with a fixed text (AddRuleLineEx with FIXEDTEXT).
  std::int32_t AddRuleLine(std::int32_t iRuleID, std::int32_t iFieldType, std::int32_t iSequenceNumber,
                           std::int32_t iTagAttrXsl, const std::string& iXslPattern, std::int32_t iCondition,
                           const std::string& iRuleLineValue);
  // iTagAttrXslFixedText says how iRuleLineValue gives the compare value:
  // the text itself (FIXEDTEXT) or a tag, attribute or pattern of the document.
  std::int32_t AddRuleLineEx(std::int32_t iRuleID, std::int32_t iFieldType, std::int32_t iSequenceNumber,
                             std::int32_t iTagAttrXsl, const std::string& iXslPattern, std::int32_t iCondition,
                             std::int32_t iTagAttrXslFixedText, const std::string& iRuleLineValue);
  void DeleteRuleLines(std::int32_t iRuleID);
  std::string GetRuleDescription(std::int32_t i_lruleid);  // "" for an unknown rule
  // Whether a route with a real rule and a real send method exists, limited
  // to the document type, partner and send method that are given ("" and 0
  // mean any).
  bool ExistRulesAttachedToSendMethods(const std::string& i_sDocumentTypeID = "", std::int32_t i_lBPID = 0,
                                       std::int32_t i_lSendMethodID = 0);

  // A date (or a text or number that reads as one) as "yyyy-MM-dd"; Null
  // stays Null; a text that is no date raises a type mismatch.
  Variant DateToXSLPatternString(const Variant& i_vDate);
  // The date of a "yyyy-MM-dd" text; a day or month beyond its range rolls
  // over (2004-02-30 is 1 March 2004). Other texts raise "SLBSH5698".
  Variant XSLPatternStringToDate(const Variant& i_vDate);

 private:
  struct Line;
  struct Rule;
  // The rules of a rule-set query in evaluation order, each with its lines.
  static std::vector<Rule> ReadRules(const std::shared_ptr<Recordset>& rs, bool withAssignedID);
  std::vector<Rule> QueryRules(const std::string& sql, bool withAssignedID);
  std::int32_t SenderLocale(std::int32_t docID);
  bool ExecuteRule(const Rule& rule, const std::shared_ptr<DomNode>& dom, std::int32_t locale);
  bool ExecuteRuleLine(const std::string& docPattern, std::int32_t condition, std::int32_t compareType,
                       const std::string& value, std::int32_t fieldType, const std::shared_ptr<DomNode>& dom,
                       std::int32_t locale);
  template <class T>
  bool ExecuteRuleLineCondition(const T& docValue, const T& compareValue, std::int32_t condition,
                                std::int32_t fieldType);
  Variant NormaliseDate(const Variant& value, std::int32_t locale);

  // The send-method rule set on a DOM and locale already read.
  std::int32_t SendMethodRuleSetOn(const struct SendMethodRuleInput& input, const std::string& iDocTypeID,
                                   std::int32_t iBusinessPartnerID);

  friend struct SendMethodRuleInput;
  friend std::int32_t ExecuteSendMethodRuleSetOn(Rules&, const struct SendMethodRuleInput&, const std::string&,
                                                 std::int32_t);
};

// What the send-method rules of a document read besides the rules: the
// document's DOM and its sender's locale. The push engine asks the rule set
// of every receiving partner of one document; the first rule set that has
// a rule to evaluate reads these, and the others evaluate on them. A rule
// set without rule lines reads neither (the document may then even be
// missing or its sender unknown). Reading fails inside
// ExecuteSendMethodRuleSetOn as ExecuteSendMethodRuleSet does (same number,
// source and text), and is tried again by the next rule set.
struct SendMethodRuleInput {
  static SendMethodRuleInput Read(Rules& rules, std::int32_t docID);  // reads nothing yet

  std::int32_t docID = 0;
  mutable std::shared_ptr<DomNode> dom;
  mutable std::int32_t locale = 0;

 private:
  friend class Rules;
  void Load(Rules& rules) const;
  mutable bool loaded = false;
};
std::int32_t ExecuteSendMethodRuleSetOn(Rules& rules, const SendMethodRuleInput& input, const std::string& iDocTypeID,
                                        std::int32_t iBusinessPartnerID);

}  // namespace quillon
