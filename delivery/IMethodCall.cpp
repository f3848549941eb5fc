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
  static const ClassInfo* info = ClassBuilder<IMethodCall>("Quillon.IMethodCall", false)
                                     .bind<&IMethodCall::MethodCall>("MethodCall", {"i_vDocumentData"})
                                     .bind<&IMethodCall::GetExcelWorkBook>("GetExcelWorkBook", {"i_oExcelWorkBook"})
                                     .done();
  return info;
}

const ClassInfo* IMethodCall24::classInfo() const {
  using M = IMethodCall24;
  static const ClassInfo* info = ClassBuilder<IMethodCall24>("Quillon.IMethodCall24", false)
                                     .bind<&M::setBusinessPartnerID>("setBusinessPartnerID", {"i_lBPID"})
                                     .bind<&M::setDocumentID>("setDocumentID", {"i_lDocID"})
                                     .bind<&M::setDocumentAttachments>("setDocumentAttachments", {"i_asAttachments"})
                                     .bind<&M::setDocumentXML>("setDocumentXML", {"i_sDocumentData"})
                                     .bind<&M::setExcelWorkBook>("setExcelWorkBook", {"i_oExcelWorkBook"})
                                     .bind<&M::Process>("Process")
                                     .done();
  return info;
}

namespace {
const bool kRegistered = (IMethodCall().classInfo(), IMethodCall24().classInfo(), true);
}

}  // namespace quillon
