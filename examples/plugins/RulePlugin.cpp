// An example plug-in that implements the IMethodCall contract.
//
// "Example.AmountCheck" decides rules: it holds when the first value the
// rule's lines selected is a number of at least 1000. As a delivery
// target it records the document data it was given in SITE/temp.
#include <cstdlib>
#include <fstream>

#include "delivery/IMethodCall.h"
#include "platform/Plugins.h"
#include "platform/Text.h"

namespace {

using namespace quillon;

class AmountCheck : public IMethodCall {
 public:
  const ClassInfo* classInfo() const override { return info; }
  bool MethodCall(Variant& data) override {
    if (data.isArray()) {
      const VariantArray& values = data.array();
      if (values.size() == 0) return false;
      const Variant& first = values.elements().front();
      return text::IsNumeric(first.text()) && first.toDouble() >= 1000;
    }
    // A delivery: keep what arrived so that the operator can see it.
    const char* site = std::getenv("QUILLON_SITE");
    if (site) std::ofstream(std::string(site) + "/temp/AmountCheck.txt") << data.text();
    return true;
  }
  bool GetExcelWorkBook(Variant& workbook) override { return workbook.isSetObject(); }
  static inline const ClassInfo* info = nullptr;
};

}  // namespace

extern "C" int quillon_plugin_abi() { return QUILLON_PLUGIN_ABI; }

extern "C" void quillon_plugin_register() {
  using A = std::vector<Variant>;
  AmountCheck::info =
      ClassBuilder<AmountCheck>("Example.AmountCheck")
          .method("MethodCall", {ref("i_vDocumentData")}, [](AmountCheck& p, A& a) { return Variant(p.MethodCall(a[0])); })
          .method("GetExcelWorkBook", {ref("i_oExcelWorkBook")},
                  [](AmountCheck& p, A& a) { return Variant(p.GetExcelWorkBook(a[0])); })
          .method("Describe", {ref("i_vDocumentData")},
                  [](AmountCheck&, A& a) {
                    a[0] = Variant("seen by AmountCheck.Describe");
                    return Variant(true);
                  })
          .done();
}
