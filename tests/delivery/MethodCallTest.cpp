// Plug-ins named by method-call strings, loaded from the site's folder, and
// the referential checks of send-method routes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "delivery/IMethodCall24.h"
#include "delivery/Pipeline.h"
#include "platform/Error.h"
#include "platform/Plugins.h"
#include "publication/Utility.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

class MethodCallTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    for (const char* name : {"RulePlugin.so", "DeliveryPlugin.so", "ByNamePlugin.so"})
      fs::copy_file(fs::path(QUILLON_PLUGIN_DIR) / name, fs::path(dir()) / "plugins" / name);
  }
  Variant values(std::vector<std::string> items) { return Variant(VariantArray::ofStrings(items)); }
  Utility u;
};

TEST_F(MethodCallTest, MethodCallStringsSplitAtTheSecondDot) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"Acme.Orders", "Acme.Orders", ""},
      {"Acme.Orders.Check", "Acme.Orders", "Check"},
      {"Acme.Orders.Check.Deep", "Acme.Orders", "Check.Deep"},
      {"Acme.Orders.", "Acme.Orders", ""},
      {"Plain", "Plain", ""},
      {"", "", ""},
  };
  for (const auto& [s, cls, method] : cases) {
    EXPECT_EQ(u.GetClass(s).toString(), cls) << s;
    EXPECT_EQ(u.GetMethod(s).toString(), method) << s;
  }
}

TEST_F(MethodCallTest, ContractPluginsAnswerThroughMethodCallOrANamedMember) {
  Variant big = values({"1500", "EUR"});
  EXPECT_TRUE(u.CallMethod("Example.AmountCheck", big));
  Variant small = values({"999.5"});
  EXPECT_FALSE(u.CallMethod("Example.AmountCheck", small));
  // A named method goes by name even when the class has the contract.
  Variant data("x");
  EXPECT_TRUE(u.CallMethod("Example.AmountCheck.Describe", data));
  EXPECT_EQ(data.toString(), "seen by AmountCheck.Describe");
}

TEST_F(MethodCallTest, ClassesWithoutTheContractAreServedByName) {
  Variant urgent = values({"normal", "very urgent"});
  EXPECT_TRUE(u.CallMethod("Example.Keywords.HasUrgent", urgent));
  Variant calm = values({"normal"});
  EXPECT_FALSE(u.CallMethod("Example.Keywords.HasUrgent", calm));
  // No method named: the late-bound member stands in for the contract.
  Variant express = values({"Express delivery"});
  EXPECT_TRUE(u.CallMethod("Example.Keywords", express));
}

TEST_F(MethodCallTest, FailuresCarryTheMethodCallString) {
  Variant v = values({"1"});
  Error e = EXPECT_RAISES(hr::kCannotCreate, u.CallMethod("Nobody.Here.Check", v));
  EXPECT_NE(e.description().find("METHOD: Quillon.Utility.CallMethod caught: "), std::string::npos);
  EXPECT_NE(e.description().find("Additional information: object Nobody.Here.Check not found or method called with "
                                 "wrong number/type of arguments"),
            std::string::npos);
  EXPECT_RAISES(hr::kNoSuchMember, u.CallMethod("Example.Keywords.NoSuchMember", v));
  // An answer that is neither true nor false is a failure, not a verdict.
  EXPECT_RAISES(hr::kTypeMismatch, u.CallMethod("Example.Keywords.Undecided", v));
}

TEST_F(MethodCallTest, CheckMethodCallOnlyTestsCreation) {
  EXPECT_TRUE(u.CheckMethodCall("Example.Keywords.AnythingAtAll"));
  EXPECT_TRUE(u.CheckMethodCall("Example.Archive"));
  EXPECT_FALSE(u.CheckMethodCall("Nobody.Here"));
  EXPECT_FALSE(u.CheckMethodCall("Quillon.IMethodCall"));  // published, not creatable
}

TEST_F(MethodCallTest, TheNewerContractIsReachedThroughItsInterface) {
  auto plugin = Registry::instance().create("Example.Archive");
  auto* contract = dynamic_cast<IMethodCall24*>(plugin.get());
  ASSERT_NE(contract, nullptr);
  contract->setBusinessPartnerID(200);
  contract->setDocumentID(77);
  Variant files(VariantArray::ofStrings({"/a/one.pdf", "/a/two.pdf"}));
  contract->setDocumentAttachments(files);
  contract->setDocumentXML("<ORDER/>");
  contract->Process();
  std::ifstream in(dir() + "/temp/Archive_77.txt");
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "partner 200\ndocument 77\nattachments /a/one.pdf /a/two.pdf\nxml <ORDER/>\nprocessed\n");
}

TEST_F(MethodCallTest, BrokenLibrariesAreReportedNotLoaded) {
  writeFile("plugins/broken.so", "not a shared library");
  Variant v = values({"1"});
  Error e = EXPECT_RAISES(hr::kCannotCreate, u.CallMethod("Still.Missing", v));
  EXPECT_NE(e.description().find("broken.so"), std::string::npos) << e.description();
}

TEST_F(MethodCallTest, PipelineAnswersWhetherRoutesUseAPartnerOrType) {
  exec("INSERT INTO SENDMETHOD VALUES (5, 200, 'ORDER', -1)");
  Pipeline p;
  auto names = [](std::vector<std::string> n) { return Variant(VariantArray::ofStrings(n)); };
  auto vals = [](std::vector<Variant> v) { return Variant(VariantArray(std::move(v))); };
  EXPECT_TRUE(p.IReferentialIntegrity_Exists("businesspartner", names({"BUSINESSPARTNERID"}), vals({Variant(200)})));
  EXPECT_FALSE(p.IReferentialIntegrity_Exists("BusinessPartner", names({"BUSINESSPARTNERID"}), vals({Variant(300)})));
  // A key name in other letters is not a key: no query, the answer stays true.
  EXPECT_TRUE(p.IReferentialIntegrity_Exists("BUSINESSPARTNER", names({"businesspartnerid"}), vals({Variant(300)})));
  // The last matching key decides.
  EXPECT_FALSE(p.IReferentialIntegrity_Exists("BUSINESSPARTNER", names({"BUSINESSPARTNERID", "BUSINESSPARTNERID"}),
                                              vals({Variant(200), Variant(300)})));
  EXPECT_TRUE(p.IReferentialIntegrity_Exists("DocumentType", names({"DOCUMENTTYPEID"}), vals({Variant("ORDER")})));
  EXPECT_FALSE(p.IReferentialIntegrity_Exists("DOCUMENTTYPE", names({"DOCUMENTTYPEID"}), vals({Variant("O'X")})));
  EXPECT_FALSE(p.IReferentialIntegrity_Exists("USER", names({"USERID"}), vals({Variant("bob")})));
  EXPECT_TRUE(p.IReferentialIntegrity_BeforeDelete("USER", Variant(), Variant()));
}

}  // namespace
}  // namespace quillon
