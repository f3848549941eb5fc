// IMethodCall: the plug-in contract for rules and deliveries.
//
// A plug-in class derives from IMethodCall (and so from Object) and
// overrides what it serves:
//   MethodCall        rules hand it the array of values their lines select;
//                     XML and OBI deliveries hand it the document data.
//   GetExcelWorkBook  Excel deliveries hand it the workbook.
// The answer is the plug-in's verdict. The component's own bodies do
// nothing and answer false. The class cannot be created by name.
#pragma once

#include "platform/Object.h"

namespace quillon {

class IMethodCall : public Object {
 public:
  const ClassInfo* classInfo() const override;
  virtual bool MethodCall(Variant& i_vDocumentData);
  virtual bool GetExcelWorkBook(Variant& i_oExcelWorkBook);
};

}  // namespace quillon
