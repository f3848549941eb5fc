#include "delivery/IMethodCall.h"

#include "delivery/IMethodCall24.h"

namespace quillon {

bool IMethodCall::MethodCall(Variant&) { return false; }
bool IMethodCall::GetExcelWorkBook(Variant&) { return false; }

void IMethodCall24::setBusinessPartnerID(std::int32_t) {}
void IMethodCall24::setDocumentID(std::int32_t) {}
void IMethodCall24::setDocumentAttachments(Variant&) {}
void IMethodCall24::setDocumentXML(const std::string&) {}
void IMethodCall24::setExcelWorkBook(const Variant&) {}
void IMethodCall24::Process() {}

// The contracts are published by name but cannot be created.
const ClassInfo* IMethodCall::classInfo() const {
  using A = std::vector<Variant>;
  static const ClassInfo* info =
      ClassBuilder<IMethodCall>("Quillon.IMethodCall", false)
          .method("MethodCall", {ref("i_vDocumentData")}, [](IMethodCall& p, A& a) { return Variant(p.MethodCall(a[0])); })
          .method("GetExcelWorkBook", {ref("i_oExcelWorkBook")},
                  [](IMethodCall& p, A& a) { return Variant(p.GetExcelWorkBook(a[0])); })
          .done();
  return info;
}

const ClassInfo* IMethodCall24::classInfo() const {
  using A = std::vector<Variant>;
  static const ClassInfo* info =
      ClassBuilder<IMethodCall24>("Quillon.IMethodCall24", false)
          .method("setBusinessPartnerID", {in("i_lBPID")},
                  [](IMethodCall24& p, A& a) { p.setBusinessPartnerID(a[0].toInt32()); return Variant(); })
          .method("setDocumentID", {in("i_lDocID")},
                  [](IMethodCall24& p, A& a) { p.setDocumentID(a[0].toInt32()); return Variant(); })
          .method("setDocumentAttachments", {ref("i_asAttachments")},
                  [](IMethodCall24& p, A& a) { p.setDocumentAttachments(a[0]); return Variant(); })
          .method("setDocumentXML", {in("i_sDocumentData")},
                  [](IMethodCall24& p, A& a) { p.setDocumentXML(a[0].text()); return Variant(); })
          .method("setExcelWorkBook", {in("i_oExcelWorkBook")},
                  [](IMethodCall24& p, A& a) { p.setExcelWorkBook(a[0]); return Variant(); })
          .method("Process", {}, [](IMethodCall24& p, A&) { p.Process(); return Variant(); })
          .done();
  return info;
}

namespace {
const bool kRegistered = (IMethodCall().classInfo(), IMethodCall24().classInfo(), true);
}

}  // namespace quillon
