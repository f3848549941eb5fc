// The method-call transport with the example plug-ins copied into the
// site's plug-in folder: which contract serves a send method, what the
// plug-in receives, and the failures.
#include <gtest/gtest.h>

#include <filesystem>

#include "delivery/IMethodCall.h"
#include "delivery/PushDocUtils.h"
#include "delivery/PushTransports.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Error.h"
#include "platform/Spreadsheet.h"
#include "tests/delivery/PushFixture.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

const std::string kOrder = "<ORDER><NUMBER>4711</NUMBER></ORDER>";

// An older-contract plug-in that keeps the workbook it is handed.
class KeepWorkbook : public IMethodCall {
 public:
  const ClassInfo* classInfo() const override { return info(); }
  bool GetExcelWorkBook(Variant& workbook) override {
    kept = workbook;
    return true;
  }
  static const ClassInfo* info() {
    static const ClassInfo* i =
        ClassBuilder<KeepWorkbook>("Test.KeepWorkbook")
            .method("GetExcelWorkBook", {ref("i_oExcelWorkBook")},
                    [](KeepWorkbook& p, std::vector<Variant>& a) { return Variant(p.GetExcelWorkBook(a[0])); })
            .done();
    return i;
  }
  static inline Variant kept;
};

class TransportMethodCallTest : public test::PushSite {
 protected:
  void SetUp() override {
    PushSite::SetUp();
    for (const char* name : {"RulePlugin.so", "DeliveryPlugin.so", "ByNamePlugin.so"})
      fs::copy_file(fs::path(QUILLON_PLUGIN_DIR) / name, fs::path(dir()) / "plugins" / name);
  }
  static TSendMethodProperties pluginMethod(const std::string& methodCall) {
    TSendMethodProperties p;
    p.bAutoPush = true;
    p.nProtocol = ESendMethodProtocol::MethodCall;
    p.nFormat = ESendMethodFormat::XML;
    p.sAddress = methodCall;
    return p;
  }
  std::string archived(std::int32_t doc) const { return read(dir() + "/temp/Archive_" + std::to_string(doc) + ".txt"); }
};

TEST_F(TransportMethodCallTest, TheNewerContractGetsTheDeliveryPieceByPiece) {
  const std::int32_t doc = storeOrder();
  const std::string id = std::to_string(doc);
  TSendMethodProperties p = pluginMethod("Example.Archive");
  // Attachments wanted but none recorded: the plug-in is not told about any.
  push::SendByMethodCall(kDelta, doc, Variant(kOrder), p, {"", "True", ""});
  EXPECT_EQ(archived(doc), "partner 200\ndocument " + id + "\nxml " + kOrder + "\nprocessed\n");

  writeFile("attachments/" + id + "/terms.pdf", "PDF");
  exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (" + id + ", 'terms.pdf')");
  push::SendByMethodCall(kNordic, doc, Variant(kOrder), p, {"", "True", ""});
  const std::string got = archived(doc);
  const std::string line = "attachments " + dir() + "/attachments/" + id + "/terms.pdf\n";
  EXPECT_NE(got.find("partner 300\ndocument " + id + "\n" + line + "xml "), std::string::npos) << got;
  // Not wanted: not handed over.
  push::SendByMethodCall(kNordic, doc, Variant(kOrder), p, {"", "False", ""});
  EXPECT_EQ(archived(doc).find("attachments"), std::string::npos);
}

TEST_F(TransportMethodCallTest, AStringThatNamesAMethodIsCalledByName) {
  const std::int32_t doc = storeOrder();
  // The class implements the newer contract, but the method named goes by
  // name: setDocumentXML runs, Process never does.
  TSendMethodProperties named = pluginMethod("Example.Archive.setDocumentXML");
  push::SendByMethodCall(kDelta, doc, Variant(kOrder), named, {"", "False", ""});
  EXPECT_FALSE(fs::exists(dir() + "/temp/Archive_" + std::to_string(doc) + ".txt"));

  // The older contract gets the text in one call; its answer is no outcome.
  TSendMethodProperties older = pluginMethod("Example.AmountCheck");
  push::SendByMethodCall(kDelta, doc, Variant(kOrder), older, {"", "False", ""});
  EXPECT_EQ(read(dir() + "/temp/AmountCheck.txt"), kOrder);
}

TEST_F(TransportMethodCallTest, MissingOrUnknownPluginsFailWithTheMethodCallNamed) {
  const std::int32_t doc = storeOrder();
  for (const std::string& address : std::vector<std::string>{"", "  ", ".."}) {
    TSendMethodProperties p = pluginMethod(address);
    Error e = EXPECT_RAISES(PushDocumentError, push::SendByMethodCall(kDelta, doc, Variant(kOrder), p, {"", "", ""}));
    EXPECT_NE(e.description().find("Additional information: The method call '" + address + "' failed."),
              std::string::npos)
        << e.description();
  }
  TSendMethodProperties unknown = pluginMethod("Nobody.Here");
  Error e = EXPECT_RAISES(hr::kCannotCreate,
                          push::SendByMethodCall(kDelta, doc, Variant(kOrder), unknown, {"", "", ""}));
  EXPECT_NE(e.description().find("METHOD: Quillon.PushDocUtils.SendByMethodCall caught: "), std::string::npos);
  EXPECT_NE(e.description().find("The method call 'Nobody.Here' failed."), std::string::npos);

  // Through the engine the failure is the document's, and a working plug-in's delivery is recorded.
  const std::int32_t broken = addSendMethod(kDelta, pluginMethod("Nobody.Here"));
  const std::int32_t working = addSendMethod(kNordic, pluginMethod("Example.Archive"));
  PushDocUtils push;
  push.PushDocumentToReceivers(doc, "ORDER");
  EXPECT_EQ(history(doc), std::to_string(broken) + ":200:-1:0 " + std::to_string(working) + ":300:-1:1");
  EXPECT_NE(archived(doc).find("partner 300"), std::string::npos);
}

TEST_F(TransportMethodCallTest, TheOlderContractsWorkbookIsClosedAfterTheCall) {
  KeepWorkbook::info();
  const std::int32_t doc = storeOrder();
  TSendMethodProperties p = pluginMethod("Test.KeepWorkbook");
  p.nFormat = ESendMethodFormat::Excel;
  const std::string sheet = "<S B2BWORKSHEET=\"Stock\"><NUMBER B2BLABELPOS=\"A1\" B2BVALUEPOS=\"B1\">4711</NUMBER></S>";
  push::SendByMethodCall(kDelta, doc, Variant(sheet), p, {"", "False", ""});
  auto book = KeepWorkbook::kept.as<spreadsheet::Workbook>();
  ASSERT_TRUE(book);
  EXPECT_TRUE(book->closed());
  KeepWorkbook::kept = Variant();
}

}  // namespace
}  // namespace quillon
