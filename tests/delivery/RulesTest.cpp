// Rules on a real site: stored rules and documents, the directory's
// locales, and the example plug-ins copied into the site's folder.
#include "delivery/Rules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "platform/XmlDom.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

constexpr int STR = value(FieldType::STRINGFIELD), NUM = value(FieldType::NUMERICFIELD), DATE = value(FieldType::DATEFIELD);
constexpr int TAG = value(TagAttrXsl::TAGVALUE), ATTR = value(TagAttrXsl::ATTRVALUE), XSL = value(TagAttrXsl::XSLPATTERN),
              FIXED = value(TagAttrXsl::FIXEDTEXT);
constexpr int EQ = value(Condition::ISEXACTLY), GT = value(Condition::GREATERTHAN), GE = value(Condition::GREATEREQUAL),
              LT = value(Condition::LOWERTHAN), NE = value(Condition::ISNOT), PARTOF = value(Condition::PARTOF),
              NOTPARTOF = value(Condition::NOTPARTOF), CONTAINS = value(Condition::CONTAINS),
              NOTCONTAINS = value(Condition::NOTCONTAINS);
constexpr std::int16_t SENDMETHOD = 1, DOCTYPE = 2;

struct L {
  int field;
  int tag;
  std::string pattern;
  int cond;
  std::string cmp;
  int cmpType = FIXED;
};

// Document-type rules of partner 300 are probed on a DOM; partner 200
// receives ORDER documents through send-method routes.
constexpr std::int32_t kProbePartner = 300, kReceiver = 200;

class RulesTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    for (const char* name : {"RulePlugin.so", "ByNamePlugin.so"})
      fs::copy_file(fs::path(QUILLON_PLUGIN_DIR) / name, fs::path(dir()) / "plugins" / name);
    std::string db = dir() + "/directory.db";
    DirectoryAdmin::AddPartner(db, 100, "Acme Supplies", "", "");
    addUser("hans", 1031);
    addUser("mary", 1033);
    // Locale 0 means the system's: pin it, whatever the machine runs with.
    const char* all = std::getenv("LC_ALL");
    savedLcAll_ = all ? std::optional<std::string>(all) : std::nullopt;
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
  }
  void TearDown() override {
    if (savedLcAll_)
      ::setenv("LC_ALL", savedLcAll_->c_str(), 1);
    else
      ::unsetenv("LC_ALL");
    TestSite::TearDown();
  }
  void addUser(const std::string& cn, std::int32_t locale) {
    DirectoryAdmin::UserRecord u;
    u.cn = cn;
    u.partnerID = 100;
    u.email = cn + "@acme.example";
    u.localeID = locale;
    DirectoryAdmin::AddUser(dir() + "/directory.db", u);
  }
  std::int32_t storeDocument(const std::string& sender, const std::string& xml) {
    exec("INSERT INTO DOCUMENT (DOCUMENTTYPEID, SENDER, XMLBODY) VALUES ('ORDER', '" + sender + "', '" + xml + "')");
    return std::stoi(scalar("SELECT MAX(DOCUMENTID) FROM DOCUMENT"));
  }
  std::int32_t addRule(std::int16_t type, const std::string& description, std::int32_t seq, const std::string& logic,
                       const std::vector<L>& lines, const std::string& methodCall = "", bool enabled = true) {
    std::int32_t id = rules.AddRule(description, type, description, methodCall, seq, logic,
                                    type == DOCTYPE ? kProbePartner : 0, enabled);
    int lineSeq = 0;
    for (const L& l : lines) rules.AddRuleLineEx(id, l.field, ++lineSeq, l.tag, l.pattern, l.cond, l.cmpType, l.cmp);
    return id;
  }
  // A send-method rule on a route of the receiver for ORDER documents.
  std::int32_t routedRule(const std::string& description, std::int32_t seq, const std::string& logic,
                          const std::vector<L>& lines, const std::string& methodCall = "", bool enabled = true) {
    std::int32_t id = addRule(SENDMETHOD, description, seq, logic, lines, methodCall, enabled);
    route(7, kReceiver, "ORDER", id);
    return id;
  }
  void route(std::int32_t sendMethod, std::int32_t partner, const std::string& type, std::int32_t rule) {
    exec("INSERT INTO SENDMETHOD VALUES (" + std::to_string(sendMethod) + ", " + std::to_string(partner) + ", '" + type +
         "', " + std::to_string(rule) + ")");
  }
  std::string docType(const std::string& xml) {
    auto dom = std::make_shared<DomDocument>();
    EXPECT_TRUE(dom->loadXML(xml)) << xml;
    return rules.ExecuteDocumentTypeRuleSet(0, kProbePartner, dom);
  }
  // Whether a single-line document-type rule holds on the XML; the rule is
  // removed again, also when the evaluation raises.
  bool holds(const std::string& xml, const L& line) {
    std::int32_t id = addRule(DOCTYPE, "HIT", 1, "AND", {line});
    try {
      bool hit = docType(xml) == "HIT";
      rules.DeleteRule(id);
      return hit;
    } catch (...) {
      rules.DeleteRule(id);
      throw;
    }
  }
  std::string row(const std::string& sql) { return scalar(sql); }

  Rules rules;
  std::optional<std::string> savedLcAll_;
};

// Lines that hold (T), fail (F) or raise (X) on the probe document.
const std::string kProbe = "<D><T>yes</T><N>12</N></D>";
const L T{STR, TAG, "T", EQ, "yes"}, F{STR, TAG, "T", EQ, "no"}, X{NUM, TAG, "N", PARTOF, "9"};

TEST_F(RulesTest, StoringKeepsValidEnumerationsAndStoresZeroForTheRest) {
  std::int32_t id = rules.AddRule("O'Brien's orders", 7, "ORDER", "", 5, "and", 100, false);
  const std::string header =
      "SELECT RULETYPE || ',' || RULELOGIC || ',' || ENABLED || ',' || SEQUENCENUMBER || ',' || ORIGINALID || ',' || "
      "ASSIGNEDID || ',' || METHODCALL || ',' || DESCRIPTION FROM RULEHEADER WHERE RULEID = " + std::to_string(id);
  EXPECT_EQ(row(header), "0,0,0,5,100,ORDER,,O'Brien's orders");
  rules.UpdateRule(id, "Big orders", 2, "BIGORDER", "Example.AmountCheck", 3, "OR", 101, true);
  EXPECT_EQ(row(header), "2,2,1,3,101,BIGORDER,Example.AmountCheck,Big orders");
  EXPECT_EQ(row("SELECT RULELOGIC FROM RULEHEADER WHERE RULEID = " + std::to_string(rules.AddRule("x", 4, "", "", 1, "AND", 0, true))), "1");
  rules.UpdateRule(id + 100, "ghost", 1, "", "", 1, "AND", 0, true);  // a missing rule stays missing
  EXPECT_EQ(row("SELECT COUNT(*) FROM RULEHEADER"), "2");
  EXPECT_EQ(rules.GetRuleDescription(id), "Big orders");
  EXPECT_EQ(rules.GetRuleDescription(id + 100), "");

  const std::string line = "SELECT FIELDTYPE || ',' || TAGATTRXSL || ',' || CONDITION || ',' || COMPARETYPE || ',' || "
                           "XSLPATTERN || ',' || VALUE FROM RULELINE WHERE LINEID = ";
  EXPECT_EQ(row(line + std::to_string(rules.AddRuleLine(id, 9, 1, 5, "A", 11, "x"))), "0,0,0,4,A,x");
  EXPECT_EQ(row(line + std::to_string(rules.AddRuleLineEx(id, DATE, 2, ATTR, "due", NOTCONTAINS, TAG, "SHIP"))),
            "3,2,10,1,due,SHIP");
  EXPECT_EQ(row(line + std::to_string(rules.AddRuleLineEx(id, STR, 3, XSL, "/A", EQ, -4, "B"))), "1,3,1,0,/A,B");
  std::int32_t other = rules.AddRule("other", 1, "", "", 1, "AND", 0, true);
  rules.AddRuleLine(other, STR, 1, TAG, "A", EQ, "x");
  rules.DeleteRuleLines(id);
  EXPECT_EQ(row("SELECT COUNT(*) FROM RULELINE WHERE RULEID = " + std::to_string(id)), "0");
  EXPECT_EQ(row("SELECT COUNT(*) FROM RULELINE WHERE RULEID = " + std::to_string(other)), "1");
}

TEST_F(RulesTest, TheFirstHoldingEnabledRuleOfTheRouteWins) {
  std::int32_t doc = storeDocument("mary", "<ORDER><TYPE>rush</TYPE><AMOUNT>1500</AMOUNT></ORDER>");
  route(5, kReceiver, "ORDER", -1);  // a route without a rule is never a rule's answer
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(doc, "ORDER", kReceiver), -1);
  const L rush{STR, TAG, "TYPE", EQ, "rush"};
  std::int32_t late = routedRule("late", 20, "AND", {rush});
  routedRule("failing", 5, "AND", {{STR, TAG, "TYPE", EQ, "calm"}});
  std::int32_t early = routedRule("early", 10, "AND", {rush});
  routedRule("disabled", 1, "AND", {rush}, "", false);
  // Rules of other routes do not count, whatever their sequence.
  route(7, 300, "ORDER", addRule(SENDMETHOD, "other partner", 0, "AND", {rush}));
  route(7, kReceiver, "INVOICE", addRule(SENDMETHOD, "other type", 0, "AND", {rush}));
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(doc, "ORDER", kReceiver), early);
  rules.UpdateRule(early, "early", SENDMETHOD, "", "", 10, "AND", 0, false);
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(doc, "ORDER", kReceiver), late);
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(doc, "ORDER", 999), -1);
}

TEST_F(RulesTest, AndStopsAtTheFirstFailingLineOrAtTheFirstHoldingLineOtherLogicWeighsAll) {
  // A line that raises shows whether the evaluation reached it.
  auto only = [&](const std::string& logic, const std::vector<L>& lines) {
    std::int32_t id = addRule(DOCTYPE, "HIT", 1, logic, lines);
    try {
      std::string answer = docType(kProbe);
      rules.DeleteRule(id);
      return answer == "HIT";
    } catch (...) {
      rules.DeleteRule(id);
      throw;
    }
  };
  EXPECT_FALSE(only("AND", {T, F, X}));
  EXPECT_TRUE(only("AND", {T, T}));
  EXPECT_TRUE(only("OR", {F, T, X}));
  EXPECT_FALSE(only("OR", {F, F}));
  EXPECT_TRUE(only("ANY", {F, T, F}));
  EXPECT_FALSE(only("ANY", {F, F}));
  EXPECT_RAISES(InvalidParamValue, only("ANY", {F, T, X}));
  EXPECT_FALSE(only("AND", {}));  // a rule without lines never holds

  // Rules with one sequence number are each judged on all their lines,
  // although the database interleaves their rows by line sequence.
  addRule(DOCTYPE, "A", 5, "AND", {T, F});
  addRule(DOCTYPE, "B", 5, "AND", {F, T});
  EXPECT_EQ(docType(kProbe), "");
  addRule(DOCTYPE, "C", 6, "AND", {T, T});
  EXPECT_EQ(docType(kProbe), "C");
}

TEST_F(RulesTest, LinesCompareTextsBinaryNumbersNumericallyAndSearchWithoutCase) {
  const std::string xml =
      "<DOC><N>12</N><M>9</M><Q id=\"10\"/><S>xABCx</S><L>abc</L><B>   </B></DOC>";
  struct Case {
    L line;
    bool expected;
  };
  const Case cases[] = {
      {{NUM, TAG, "N", GT, "9"}, true},         // 12 > 9 as numbers
      {{STR, TAG, "N", GT, "9"}, false},        // "12" < "9" as texts
      {{NUM, ATTR, "id", GE, "10"}, true},
      {{NUM, TAG, "N", GT, "M", TAG}, true},    // compared with another tag of the document
      {{NUM, TAG, "N", NE, "abc"}, false},      // a value that is no number fails the line
      {{STR, TAG, "L", EQ, "ABC"}, false},
      {{STR, TAG, "L", EQ, "abc"}, true},
      {{STR, TAG, "L", LT, "abd"}, true},
      {{STR, TAG, "L", LT, "ABD"}, false},      // lower-case letters sort after upper-case ones
      {{STR, TAG, "S", CONTAINS, "abc"}, true},
      {{STR, TAG, "S", NOTCONTAINS, "abc"}, false},
      {{STR, TAG, "L", PARTOF, "xxABCxx"}, true},
      {{STR, TAG, "L", NOTPARTOF, "zzz"}, true},
      {{STR, XSL, "/DOC/S", CONTAINS, "b"}, true},
      // Nothing found, or only blanks: the line fails whatever its condition.
      {{STR, TAG, "MISSING", NE, "x"}, false},
      {{STR, TAG, "B", NOTCONTAINS, "x"}, false},
      {{NUM, TAG, "MISSING", NE, "1"}, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(holds(xml, c.line), c.expected) << c.line.pattern << " " << c.line.cond << " " << c.line.cmp;
}

TEST_F(RulesTest, UnsupportedConditionsRaiseTheirLabelWithTheComparedValues) {
  const L cases[] = {{NUM, TAG, "N", PARTOF, "9"}, {DATE, TAG, "D", CONTAINS, "2004"}, {STR, TAG, "N", 11, "9"}};
  for (const L& line : cases) {
    Error e = EXPECT_RAISES(InvalidParamValue, holds("<X><N>12</N><D>2004-01-31</D></X>", line));
    EXPECT_EQ(e.source(), "CLASSNAME.ExecuteRuleLineCondition");
    EXPECT_NE(e.description().find("METHOD: CLASSNAME.ExecuteRuleLineCondition caught: " + I18N::GetLabel("SLBSH5699") +
                                   "(80040227)."),
              std::string::npos)
        << e.description();
    EXPECT_NE(e.description().find("METHOD: Quillon.Rules.ExecuteDocumentTypeRuleSet caught: "), std::string::npos);
  }
  Error e = EXPECT_RAISES(InvalidParamValue, holds("<X><N>12</N></X>", cases[0]));
  EXPECT_NE(e.description().find("Additional information: Error comparing numeric values: '12' is part of '9'"),
            std::string::npos)
      << e.description();
}

TEST_F(RulesTest, DatesAreReadInTheLocaleOfTheDocumentsSender) {
  const std::string german = "<ORDER><DUE>31.01.2004</DUE><SHIP>30.01.2004</SHIP></ORDER>";
  std::int32_t fromHans = storeDocument("hans", german);
  std::int32_t fromMary = storeDocument("mary", german);
  std::int32_t fromMaryInHerFormat = storeDocument("mary", "<ORDER><DUE>1/31/2004</DUE></ORDER>");
  std::int32_t due = routedRule("due after the 30th", 1, "AND", {{DATE, TAG, "DUE", GT, "2004-01-30"}});
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(fromHans, "ORDER", kReceiver), due);
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(fromMary, "ORDER", kReceiver), -1);  // no date in 1033
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(fromMaryInHerFormat, "ORDER", kReceiver), due);

  // A compare value read from the document is read in the same locale.
  addRule(DOCTYPE, "due after shipping", 1, "AND", {{DATE, TAG, "DUE", GT, "SHIP", TAG}});
  EXPECT_EQ(rules.ExecuteDocumentTypeRuleSet(fromHans, kProbePartner), "due after shipping");
  EXPECT_EQ(rules.ExecuteDocumentTypeRuleSet(fromMary, kProbePartner), "");
  // A DOM of its own is read in the system's locale.
  EXPECT_EQ(docType(german), "");
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  EXPECT_EQ(docType(german), "due after shipping");

  // A sender the directory does not know: the document-type rules use the
  // system's locale, the send-method rules cannot run.
  std::int32_t fromStranger = storeDocument("stranger", german);
  EXPECT_EQ(rules.ExecuteDocumentTypeRuleSet(fromStranger, kProbePartner), "due after shipping");
  EXPECT_RAISES(hr::kNoSuchEntry, rules.ExecuteSendMethodRuleSet(fromStranger, "ORDER", kReceiver));
}

TEST_F(RulesTest, ARouteWithoutRuleLinesReadsNeitherTheDocumentNorItsSender) {
  const std::string order = "<ORDER><TYPE>rush</TYPE></ORDER>";
  std::int32_t fromStranger = storeDocument("stranger", order);
  std::int32_t fromMary = storeDocument("mary", order);
  const std::int32_t missing = fromMary + 100;
  route(5, kReceiver, "ORDER", -1);
  // A rule without lines and without a plug-in never holds.
  routedRule("no lines", 1, "AND", {});
  for (std::int32_t doc : {fromStranger, fromMary, missing})
    EXPECT_EQ(rules.ExecuteSendMethodRuleSet(doc, "ORDER", kReceiver), -1) << doc;

  // Once a rule has a line, the document and its sender are needed again,
  // with the same failure as before.
  std::int32_t rush = routedRule("rush", 2, "AND", {{STR, TAG, "TYPE", EQ, "rush"}});
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(fromMary, "ORDER", kReceiver), rush);
  Error e = EXPECT_RAISES(hr::kNoSuchEntry, rules.ExecuteSendMethodRuleSet(fromStranger, "ORDER", kReceiver));
  EXPECT_NE(e.description().find("METHOD: Quillon.Rules.ExecuteSendMethodRuleSet caught: "), std::string::npos);

  // One input for several partners: a partner without rules does not read
  // it; a failed read fails that partner and is tried again by the next.
  SendMethodRuleInput input = SendMethodRuleInput::Read(rules, fromStranger);
  EXPECT_EQ(ExecuteSendMethodRuleSetOn(rules, input, "ORDER", 999), -1);
  Error again = EXPECT_RAISES(hr::kNoSuchEntry, ExecuteSendMethodRuleSetOn(rules, input, "ORDER", kReceiver));
  EXPECT_EQ(again.description(), e.description());
  addUser("stranger", 1033);
  EXPECT_EQ(ExecuteSendMethodRuleSetOn(rules, input, "ORDER", kReceiver), rush);
  // A plug-in rule is asked even without lines.
  std::int32_t plugin = routedRule("plug-in", 0, "AND", {}, "Nobody.Here");
  EXPECT_RAISES(hr::kCannotCreate, rules.ExecuteSendMethodRuleSet(fromMary, "ORDER", kReceiver));
  rules.DeleteRule(plugin);
}

TEST_F(RulesTest, PluginsDecideFromTheSelectedValues) {
  std::int32_t big = storeDocument("mary", "<ORDER><AMOUNT>1500</AMOUNT><NOTE>very URGENT</NOTE></ORDER>");
  std::int32_t small = storeDocument("mary", "<ORDER><AMOUNT>999</AMOUNT><NOTE>calm</NOTE></ORDER>");
  const L amount{NUM, TAG, "AMOUNT", EQ, ""}, note{STR, TAG, "NOTE", EQ, ""};
  std::int32_t amountCheck = routedRule("amount", 10, "AND", {amount}, "Example.AmountCheck");
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(big, "ORDER", kReceiver), amountCheck);
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(small, "ORDER", kReceiver), -1);

  // One value per line, in line order: the second line carries the keyword.
  std::int32_t urgent = routedRule("urgent", 5, "AND", {amount, note}, "Example.Keywords.HasUrgent");
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(big, "ORDER", kReceiver), urgent);

  // An answer that is neither true nor false: the rule does not hold, the
  // log says so, and the next rule decides. The rule is linked to two send
  // methods; its values are still handed over once each.
  std::int32_t undecided = routedRule("undecided", 1, "AND", {amount, note}, "Example.Keywords.Undecided");
  route(8, kReceiver, "ORDER", undecided);
  EXPECT_EQ(rules.ExecuteSendMethodRuleSet(big, "ORDER", kReceiver), urgent);
  bool logged = false;
  for (const auto& e : logEntries())
    logged = logged || e.message.find("Additional information: Method 'Example.Keywords.Undecided' with arguments "
                                      "'1500, very URGENT' did not return true or false while executing rule "
                                      "'undecided' with id = " + std::to_string(undecided)) != std::string::npos;
  EXPECT_TRUE(logged);

  // A plug-in that cannot be created fails the rule set.
  routedRule("missing", 0, "AND", {amount}, "Nobody.Here");
  Error e = EXPECT_RAISES(hr::kCannotCreate, rules.ExecuteSendMethodRuleSet(big, "ORDER", kReceiver));
  EXPECT_NE(e.description().find("object Nobody.Here not found"), std::string::npos);
  EXPECT_NE(e.description().find("METHOD: Quillon.Rules.ExecuteSendMethodRuleSet caught: "), std::string::npos);
}

TEST_F(RulesTest, RulesInUseAreKeptAndDeletedRulesTakeTheirPlaceholderRoutes) {
  std::int32_t used = addRule(SENDMETHOD, "used", 1, "AND", {T});
  route(-1, kReceiver, "ORDER", used);
  route(7, kReceiver, "ORDER", used);
  std::int32_t placeholderOnly = addRule(SENDMETHOD, "placeholder only", 2, "AND", {T});
  route(-1, kReceiver, "INVOICE", placeholderOnly);
  std::int32_t typing = addRule(DOCTYPE, "typing", 1, "AND", {T});
  route(9, 300, "INVOICE", -1);
  route(4, 300, "INVOICE", 0);
  auto count = [&](const std::string& table, std::int32_t rule) {
    return row("SELECT COUNT(*) FROM " + table + " WHERE RULEID = " + std::to_string(rule));
  };

  EXPECT_TRUE(rules.ExistRulesAttachedToSendMethods());
  EXPECT_TRUE(rules.ExistRulesAttachedToSendMethods("ORDER", kReceiver, 7));
  EXPECT_FALSE(rules.ExistRulesAttachedToSendMethods("ORDER", kReceiver, 8));
  EXPECT_FALSE(rules.ExistRulesAttachedToSendMethods("INVOICE"));  // placeholders and routes without a rule
  EXPECT_FALSE(rules.ExistRulesAttachedToSendMethods("ORDER", 300));
  EXPECT_FALSE(rules.ExistRulesAttachedToSendMethods("O'X"));

  // In use by a real send method: nothing goes, not even the placeholder.
  EXPECT_FALSE(rules.DeleteRule(used));
  EXPECT_EQ(count("RULEHEADER", used), "1");
  EXPECT_EQ(count("RULELINE", used), "1");
  EXPECT_EQ(count("SENDMETHOD", used), "2");

  EXPECT_TRUE(rules.DeleteRule(placeholderOnly));
  EXPECT_EQ(count("RULEHEADER", placeholderOnly) + count("RULELINE", placeholderOnly) + count("SENDMETHOD", placeholderOnly),
            "000");
  EXPECT_TRUE(rules.DeleteRule(typing));
  EXPECT_EQ(count("RULEHEADER", typing) + count("RULELINE", typing), "00");
  EXPECT_EQ(row("SELECT COUNT(*) FROM SENDMETHOD"), "4");  // every other route stays

  exec("DELETE FROM SENDMETHOD WHERE SENDMETHODID = 7");
  EXPECT_FALSE(rules.ExistRulesAttachedToSendMethods());
  EXPECT_TRUE(rules.DeleteRule(used));
  EXPECT_EQ(count("SENDMETHOD", used), "0");
}

TEST_F(RulesTest, PatternDatesAreWrittenAndReadAsYearMonthDay) {
  EXPECT_EQ(rules.DateToXSLPatternString(Variant::date(oleDateFromParts(2004, 3, 1, 15, 30))).toString(), "2004-03-01");
  EXPECT_EQ(rules.DateToXSLPatternString(Variant("2004-01-31 10:00:00")).toString(), "2004-01-31");
  EXPECT_TRUE(rules.DateToXSLPatternString(Variant::null()).isNull());

  auto date = [&](const std::string& t) { return formatOleDate(rules.XSLPatternStringToDate(Variant(t)).toDate()); };
  EXPECT_EQ(date("2004-02-30"), "2004-03-01 00:00:00");
  EXPECT_EQ(date(" 2004-01-31 "), "2004-01-31 00:00:00");
  EXPECT_EQ(date("2004-13-01"), "2005-01-01 00:00:00");
  for (const char* bad : {"2004-2-3", "0000-01-01", "2004-00-10", "", "0050-01-01", "9999-12-32"}) {
    Error e = EXPECT_RAISES(InvalidParamValue, rules.XSLPatternStringToDate(Variant(bad)));
    EXPECT_EQ(e.source(), "Quillon.Rules.XSLPatternStringToDate");
    EXPECT_EQ(e.description(), I18N::LabelWith("SLBSH5698", {{"[%DATE%]", bad}}));
  }
  EXPECT_EQ(I18N::LabelWith("SLBSH5698", {{"[%DATE%]", "2004-2-3"}}),
            "'2004-2-3' is not a valid date. Dates must be written as yyyy-mm-dd.");
  for (const char* notANumber : {"2004-ab-01", "yyyy-01-01"}) {
    EXPECT_RAISES(hr::kTypeMismatch, rules.XSLPatternStringToDate(Variant(notANumber)));
  }
  EXPECT_RAISES(hr::kTypeMismatch, rules.DateToXSLPatternString(Variant("soon")));
}

TEST_F(RulesTest, EveryOperationIsReachableByName) {
  auto r = Registry::instance().create("Quillon.Rules");
  auto call = [&](const std::string& method, std::vector<Variant> args) { return r->invoke(method, args); };
  EXPECT_EQ(call("GetRuleType_RECIPIENTIDRULE", {}).type(), VarType::Int16);
  Variant id = call("AddRule", {Variant("HIT"), Variant(2), Variant("HIT"), Variant(""), Variant(1), Variant("AND"),
                                Variant(kProbePartner), Variant(true)});
  call("AddRuleLine", {id, Variant(STR), Variant(1), Variant(TAG), Variant("T"), Variant(EQ), Variant("yes")});
  EXPECT_EQ(call("ExecuteDocumentTypeRuleSet", {Variant(0), Variant(kProbePartner), Variant(kProbe)}).toString(), "HIT");
  EXPECT_EQ(call("ExecuteDocumentTypeRuleSet", {Variant(0), Variant(kProbePartner)}).toString(), "");
  EXPECT_FALSE(call("ExistRulesAttachedToSendMethods", {}).toBool());
  EXPECT_EQ(call("XSLPatternStringToDate", {Variant("2004-02-30")}).type(), VarType::Date);
  EXPECT_TRUE(call("DeleteRule", {id}).toBool());
}

}  // namespace
}  // namespace quillon
