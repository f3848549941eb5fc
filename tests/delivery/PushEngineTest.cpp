// The push engine on a real site: which routes run, what each attempt
// leaves behind (history, publication errors, document status), the
// error-box look-ups and the re-push.
#include "delivery/PushDocUtils.h"

#include <gtest/gtest.h>

#include "delivery/Rules.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/Error.h"
#include "tests/delivery/PushFixture.h"

namespace quillon {
namespace {

class PushEngineTest : public test::PushSite {
 protected:
  PushDocUtils push;

  std::string fileOf(const std::string& folder, std::int32_t doc) const {
    return read(folder + "/" + std::to_string(doc) + ".xml");
  }
  // A send-method rule of the partner that holds when NUMBER is the value.
  std::int32_t numberRule(std::int32_t partner, const std::string& number, std::int32_t seq = 1) {
    Rules rules;
    std::int32_t id = rules.AddRule("number " + number, 1, "", "", seq, "AND", 0, true);
    rules.AddRuleLine(id, value(FieldType::STRINGFIELD), 1, value(TagAttrXsl::TAGVALUE), "NUMBER",
                      value(Condition::ISEXACTLY), number);
    return id;
  }
  // An HTTP send method whose address is no HTTP address: it fails at once.
  static TSendMethodProperties brokenMethod() {
    TSendMethodProperties p;
    p.bAutoPush = true;
    p.nProtocol = ESendMethodProtocol::Http;
    p.nFormat = ESendMethodFormat::XML;
    p.sAddress = "mailto:orders@delta.example";
    return p;
  }
  std::string docStatus(std::int32_t doc) const {
    return scalar("SELECT STATUS FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(doc));
  }
  std::string errorField(std::int32_t doc, const std::string& column) const {
    return scalar("SELECT " + column + " FROM PUBLICATIONERRORS WHERE DOCUMENTID = " + std::to_string(doc) +
                  " ORDER BY PUBLICATIONERRORID DESC LIMIT 1");
  }
};

const std::string kSent = std::to_string(value(DOCUMENTSTATUS::DOCUMENTSENT));

TEST_F(PushEngineTest, AutoPushWritesTheDocumentAndRecordsTheAttempt) {
  const std::string out = folder("out/delta");
  const std::int32_t method = addSendMethod(kDelta, folderMethod(out));
  const std::int32_t doc = storeOrder();
  push.PushDocumentToReceivers(doc, "ORDER");
  EXPECT_EQ(fileOf(out, doc), "<ORDER><NUMBER>4711</NUMBER><AMOUNT>1500</AMOUNT></ORDER>");
  EXPECT_EQ(history(doc), std::to_string(method) + ":200:-1:1");
  EXPECT_EQ(errorCount(doc), "0");
  EXPECT_EQ(docStatus(doc), kSent);
  // XML handed in is sent as given.
  const std::int32_t second = storeOrder();
  push.PushDocumentToReceivers(second, "ORDER", "<ORDER><NUMBER>9</NUMBER></ORDER>");
  EXPECT_EQ(fileOf(out, second), "<ORDER><NUMBER>9</NUMBER></ORDER>");
}

TEST_F(PushEngineTest, AHoldingRuleChoosesItsRoutesAndOtherwiseTheDefaultRoute) {
  const std::string byDefault = folder("out/default"), byRule = folder("out/rule"), otherRule = folder("out/other");
  const std::int32_t rule = numberRule(kDelta, "4711");
  const std::int32_t never = numberRule(kDelta, "0000", 2);
  const std::int32_t defaultMethod = addSendMethod(kDelta, folderMethod(byDefault));
  const std::int32_t ruleMethod = addSendMethod(kDelta, folderMethod(byRule), rule);
  addSendMethod(kDelta, folderMethod(otherRule), never);

  const std::int32_t matching = storeOrder();
  push.PushDocumentToReceivers(matching, "ORDER");
  EXPECT_EQ(fileOf(byRule, matching), "<ORDER><NUMBER>4711</NUMBER><AMOUNT>1500</AMOUNT></ORDER>");
  EXPECT_EQ(fileOf(byDefault, matching), "");
  EXPECT_EQ(fileOf(otherRule, matching), "");
  EXPECT_EQ(history(matching), std::to_string(ruleMethod) + ":200:" + std::to_string(rule) + ":1");

  const std::int32_t other = storeOrder("<ORDER><NUMBER>1</NUMBER></ORDER>");
  push.PushDocumentToReceivers(other, "ORDER");
  EXPECT_EQ(fileOf(byDefault, other), "<ORDER><NUMBER>1</NUMBER></ORDER>");
  EXPECT_EQ(fileOf(byRule, other), "");
  EXPECT_EQ(history(other), std::to_string(defaultMethod) + ":200:-1:1");
}

TEST_F(PushEngineTest, EachPartnersRulesDecideForItAndAnUnreadableSenderFailsEveryPartner) {
  // One document, two partners: each partner's own rules decide its route.
  const std::string deltaRule = folder("out/delta-rule"), deltaDefault = folder("out/delta-default");
  const std::string nordicRule = folder("out/nordic-rule"), nordicDefault = folder("out/nordic-default");
  addSendMethod(kDelta, folderMethod(deltaRule), numberRule(kDelta, "4711"));
  addSendMethod(kDelta, folderMethod(deltaDefault));
  addSendMethod(kNordic, folderMethod(nordicRule), numberRule(kNordic, "0000", 2));
  addSendMethod(kNordic, folderMethod(nordicDefault));
  const std::int32_t doc = storeOrder();
  push.PushDocumentToReceivers(doc, "ORDER");
  EXPECT_NE(fileOf(deltaRule, doc), "");
  EXPECT_EQ(fileOf(deltaDefault, doc), "");
  EXPECT_EQ(fileOf(nordicRule, doc), "");
  EXPECT_NE(fileOf(nordicDefault, doc), "");

  // A sender the directory does not know: no partner's rules can run, each
  // partner's failure is in the error box and nothing is sent.
  exec("INSERT INTO SENDERLIST (DOCUMENTTYPEID, BUSINESSPARTNERID, USERID) VALUES ('ORDER', 100, 'ghost')");
  const std::int32_t ghost = storeOrder();
  exec("UPDATE DOCUMENT SET SENDER = 'ghost' WHERE DOCUMENTID = " + std::to_string(ghost));
  push.PushDocumentToReceivers(ghost, "ORDER");
  EXPECT_EQ(errorCount(ghost), "2");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE DOCUMENTID = " + std::to_string(ghost) +
                   " AND DESCRIPTION LIKE '%Quillon.Rules.ExecuteSendMethodRuleSet caught%'"),
            "2");
  EXPECT_EQ(history(ghost), "NULL");
  for (const auto& out : {deltaRule, deltaDefault, nordicRule, nordicDefault}) EXPECT_EQ(fileOf(out, ghost), "");
}

TEST_F(PushEngineTest, APlaceholderRouteOfTheHoldingRuleSendsNothingAndRecordsNothing) {
  const std::string byDefault = folder("out/default");
  const std::int32_t rule = numberRule(kDelta, "4711");
  addSendMethod(kDelta, folderMethod(byDefault));
  SendMethod methods;
  methods.AddSendMethod2(-1, kDelta, "ORDER", rule);
  const std::int32_t doc = storeOrder();
  push.PushDocumentToReceivers(doc, "ORDER");
  EXPECT_EQ(fileOf(byDefault, doc), "");
  EXPECT_EQ(history(doc), "NULL");
  EXPECT_EQ(errorCount(doc), "0");
  EXPECT_EQ(docStatus(doc), "1");  // nothing was pushed
}

TEST_F(PushEngineTest, AutoPushOffIsSkippedByTheReceiversPushButUsedForOnePartner) {
  const std::string out = folder("out/manual");
  const std::int32_t method = addSendMethod(kDelta, folderMethod(out, false));
  const std::int32_t doc = storeOrder();
  push.PushDocumentToReceivers(doc, "ORDER");
  EXPECT_EQ(fileOf(out, doc), "");
  EXPECT_EQ(history(doc), "NULL");
  EXPECT_EQ(docStatus(doc), "1");

  EXPECT_TRUE(push.PushDocumentToReceiver(kDelta, doc, "ORDER"));
  EXPECT_EQ(fileOf(out, doc), "<ORDER><NUMBER>4711</NUMBER><AMOUNT>1500</AMOUNT></ORDER>");
  EXPECT_EQ(history(doc), std::to_string(method) + ":200:-1:1");
  EXPECT_EQ(docStatus(doc), kSent);
  // A partner without routes: nothing to push, false.
  EXPECT_FALSE(push.PushDocumentToReceiver(kNordic, doc, "ORDER"));
}

TEST_F(PushEngineTest, AFailingReceiverIsRecordedAndTheNextIsStillServed) {
  const std::string out = folder("out/nordic");
  const std::int32_t broken = addSendMethod(kDelta, brokenMethod());
  const std::int32_t working = addSendMethod(kNordic, folderMethod(out));
  const std::int32_t doc = storeOrder();
  push.PushDocumentToReceivers(doc, "ORDER");

  EXPECT_EQ(fileOf(out, doc), "<ORDER><NUMBER>4711</NUMBER><AMOUNT>1500</AMOUNT></ORDER>");
  EXPECT_EQ(docStatus(doc), kSent);
  ASSERT_EQ(errorCount(doc), "1");
  const std::string errorID = errorField(doc, "PUBLICATIONERRORID");
  EXPECT_EQ(history(doc), std::to_string(broken) + ":200:-1:0 " + std::to_string(working) + ":300:-1:1");
  EXPECT_EQ(scalar("SELECT PUBLICATIONERRORID FROM SENDMETHODHISTORY WHERE Status = 0"), errorID);
  EXPECT_EQ(errorField(doc, "ERRORNUMBER"), std::to_string(PushByHTTPError));
  EXPECT_EQ(errorField(doc, "LABEL"), "SLBSH0883");
  EXPECT_EQ(errorField(doc, "SOURCE"), "Quillon.PushDocUtils.PushDocumentToReceivers");
  const std::string description = errorField(doc, "DESCRIPTION");
  EXPECT_NE(description.find("mailto:orders@delta.example"), std::string::npos) << description;
  EXPECT_NE(description.find("\r\nThe send method with ID " + std::to_string(broken) + " failed."), std::string::npos)
      << description;
  EXPECT_EQ(errorField(doc, "REPLACEMENTS"),
            "<REPS><REP name=\"[%DOCID%]\">" + std::to_string(doc) +
                "</REP><REP name=\"[%LABEL%]\">[%SLBSH5554%]</REP><REP name=\"[%LABEL1%]\">[%SLBSH4432%]</REP>"
                "<REP name=\"[%ADDRESS%]\">mailto:orders@delta.example</REP>"
                "<REP name=\"[%BUSINESSPARTNER%]\">Delta Foods</REP></REPS>");
  // The caller of the raising form hears about it.
  const std::int32_t again = storeOrder();
  Error e = EXPECT_RAISES(PushDocumentError, push.PushDocumentToReceiversWithErrorRaise(again, "ORDER"));
  EXPECT_NE(e.description().find("Document " + std::to_string(again) + " could not be delivered"), std::string::npos);
  EXPECT_EQ(e.source(), "Quillon.PushDocUtils.PushDocumentToReceiversWithErrorRaise");
}

TEST_F(PushEngineTest, ASenderWithoutAuthorisationSendsNothing) {
  const std::string out = folder("out/delta");
  addSendMethod(kDelta, folderMethod(out));
  exec("DELETE FROM SENDERLIST");
  const std::int32_t doc = storeOrder();
  push.PushDocumentToReceivers(doc, "ORDER");
  EXPECT_EQ(fileOf(out, doc), "");
  EXPECT_EQ(history(doc), "NULL");
  EXPECT_EQ(errorField(doc, "LABEL"), "SLBSH0875");
  EXPECT_EQ(errorField(doc, "DESCRIPTION"),
            "The user 'sam' is not authorized to send documents of type 'Purchase order'.");
}

TEST_F(PushEngineTest, UnusableFormatsProtocolsAndDocumentsNeverCountAsSent) {
  TSendMethodProperties manual = folderMethod(folder("out/x"));
  manual.nProtocol = ESendMethodProtocol::ManualDownload;
  const std::int32_t manualID = addSendMethod(kDelta, manual);
  const std::int32_t doc = storeOrder();
  Error e = EXPECT_RAISES(CannotExecuteSendMethod, push.ExecuteSendMethod(kDelta, doc, manualID, -1));
  EXPECT_EQ(e.source(), "Quillon.PushDocUtils.ExecuteSendMethod");
  EXPECT_NE(errorField(doc, "DESCRIPTION").find("The send-method protocol 70 is not supported"), std::string::npos);
  EXPECT_EQ(errorField(doc, "ERRORNUMBER"), std::to_string(PublishDocumentError));
  EXPECT_EQ(history(doc), std::to_string(manualID) + ":200:-1:0");

  // An unknown send method reads as the blank record: format 0.
  EXPECT_RAISES(CannotExecuteSendMethod, push.ExecuteSendMethod(kDelta, doc, 999, -1));
  EXPECT_NE(errorField(doc, "DESCRIPTION").find("The send-method format 0 is not supported"), std::string::npos);

  // A document whose XML cannot be read is not sent empty.
  const std::string out = folder("out/delta");
  addSendMethod(kNordic, folderMethod(out));
  const std::int32_t empty = storeOrder("");
  exec("UPDATE DOCUMENT SET XMLBODY = NULL WHERE DOCUMENTID = " + std::to_string(empty));
  push.PushDocumentToReceivers(empty, "ORDER");
  EXPECT_FALSE(std::filesystem::exists(out + "/" + std::to_string(empty) + ".xml"));
  EXPECT_EQ(errorField(empty, "ERRORNUMBER"), std::to_string(MissingXMLFileString));
  EXPECT_EQ(history(empty), "NULL");
}

TEST_F(PushEngineTest, OnlyTheSenderMayPushAgainFromTheErrorBox) {
  const std::string out = folder("out/delta");
  const std::int32_t method = addSendMethod(kDelta, brokenMethod());
  const std::int32_t doc = storeOrder();
  push.PushDocumentToReceivers(doc, "ORDER");
  const std::int32_t errorID = std::stoi(errorField(doc, "PUBLICATIONERRORID"));

  std::int32_t bp = -1, sm = -1, d = -1;
  std::string sender;
  push.GetSendMethodInfoViaPublicationError(errorID, bp, sm, d, sender);
  EXPECT_EQ(std::make_tuple(bp, sm, d, sender), std::make_tuple(kDelta, method, doc, std::string("sam")));
  EXPECT_EQ(push.GetSendMethodIDByPublicationErrorID(errorID), method);
  push.GetSendMethodInfoViaPublicationError(errorID + 100, bp, sm, d, sender);
  EXPECT_EQ(std::make_tuple(bp, sm, d, sender), std::make_tuple(0, 0, 0, std::string("0")));
  EXPECT_EQ(push.GetSendMethodIDByPublicationErrorID(errorID + 100), 0);

  // A receiver, another document or an unknown error are refused; nothing runs.
  Error refused = EXPECT_RAISES(PushDocumentError, push.RepushDocumentFromErrorBox("dora", doc, errorID));
  EXPECT_EQ(refused.source(), "Quillon.PushDocUtils.RepushDocumentFromErrorBox");
  EXPECT_RAISES(PushDocumentError, push.RepushDocumentFromErrorBox("sam", doc + 1, errorID));
  EXPECT_RAISES(PushDocumentError, push.RepushDocumentFromErrorBox("0", 0, errorID + 100));
  EXPECT_EQ(history(doc), std::to_string(method) + ":200:-1:0");

  // Still failing: a new error, and the old one is closed.
  EXPECT_RAISES(CannotExecuteSendMethod, push.RepushDocumentFromErrorBox("sam", doc, errorID));
  EXPECT_EQ(scalar("SELECT CLOSED <> 0 FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID = " + std::to_string(errorID)),
            "1");
  const std::int32_t second = std::stoi(errorField(doc, "PUBLICATIONERRORID"));
  EXPECT_NE(second, errorID);

  // Repaired: the sender (in any letter case) pushes again with success.
  SendMethod methods;
  TSendMethodProperties repaired = folderMethod(out);
  methods.UpdateSendMethodProperties2(method, repaired);
  push.RepushDocumentFromErrorBox("SAM", doc, second);
  EXPECT_EQ(fileOf(out, doc), "<ORDER><NUMBER>4711</NUMBER><AMOUNT>1500</AMOUNT></ORDER>");
  EXPECT_EQ(history(doc), std::to_string(method) + ":200:-1:0 " + std::to_string(method) + ":200:0:0 " +
                              std::to_string(method) + ":200:0:1");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE CLOSED = 0 AND DOCUMENTID = " + std::to_string(doc)),
            "0");
}

TEST_F(PushEngineTest, TheBookkeepingAfterASendNeverChangesItsOutcome) {
  const std::string out = folder("out/delta");
  const std::int32_t working = addSendMethod(kDelta, folderMethod(out));
  const std::int32_t broken = addSendMethod(kNordic, brokenMethod());
  const std::int32_t doc = storeOrder();
  push.PushDocumentToReceivers(doc, "ORDER");
  const std::int32_t oldError = std::stoi(errorField(doc, "PUBLICATIONERRORID"));

  // Delivered, but the error box cannot be written: still a success.
  exec("DROP TABLE PUBLICATIONERRORS");
  std::filesystem::remove(out + "/" + std::to_string(doc) + ".xml");
  push.ExecuteSendMethod(kDelta, doc, working, -1, "", oldError);
  EXPECT_EQ(fileOf(out, doc), "<ORDER><NUMBER>4711</NUMBER><AMOUNT>1500</AMOUNT></ORDER>");
  EXPECT_TRUE(push.PushDocumentToReceiver(kDelta, doc, "ORDER"));

  // Failed, and the failure record cannot be written: the caller still
  // hears of the failure, and the attempt is in the history.
  Error e = EXPECT_RAISES(CannotExecuteSendMethod, push.ExecuteSendMethod(kNordic, doc, broken, -1));
  EXPECT_EQ(e.source(), "Quillon.PushDocUtils.ExecuteSendMethod");
  EXPECT_EQ(scalar("SELECT Status || ':' || PUBLICATIONERRORID FROM SENDMETHODHISTORY WHERE DOCUMENTID = " +
                   std::to_string(doc) + " ORDER BY HISTORYID DESC LIMIT 1"),
            "0:0");

  // Delivered, but the history cannot be written: still a success.
  exec("DROP TABLE SENDMETHODHISTORY");
  std::filesystem::remove(out + "/" + std::to_string(doc) + ".xml");
  push.ExecuteSendMethod(kDelta, doc, working, -1);
  EXPECT_EQ(fileOf(out, doc), "<ORDER><NUMBER>4711</NUMBER><AMOUNT>1500</AMOUNT></ORDER>");
}

TEST_F(PushEngineTest, SmallQuestionsOfThePortal) {
  EXPECT_FALSE(push.CanPush(kDelta, 0, "ORDER"));
  const std::int32_t rule = numberRule(kDelta, "4711");
  addSendMethod(kDelta, folderMethod(folder("out/rule")), rule);
  EXPECT_TRUE(push.CanPush(kDelta, 0, "ORDER"));  // through a rule route
  EXPECT_FALSE(push.CanPush(kNordic, 0, "ORDER"));
  addSendMethod(kNordic, folderMethod(folder("out/n")));
  EXPECT_TRUE(push.CanPush(kNordic, 0, "ORDER"));

  EXPECT_TRUE(push.ErrorIsExecSendMethodError(Variant(CannotExecuteSendMethod)));
  EXPECT_TRUE(push.ErrorIsExecSendMethodError(Variant("-2147220952")));
  EXPECT_FALSE(push.ErrorIsExecSendMethodError(Variant(PushDocumentError)));
  EXPECT_FALSE(push.ErrorIsExecSendMethodError(Variant("not a number")));
  EXPECT_FALSE(push.ErrorIsExecSendMethodError(Variant()));

  EXPECT_EQ(push.URLEncode("a=b & c"), "a%3Db%20%26%20c");
}

}  // namespace
}  // namespace quillon
