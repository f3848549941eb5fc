// PushDocUtils: delivery of stored documents to their receiving partners.
// For now it holds its two text helpers, which other classes use too.
#pragma once

#include <memory>
#include <string>

#include "platform/Object.h"

namespace quillon {

class Recordset;

class PushDocUtils : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The field's value as text without leading and trailing blanks; "" for Null.
  std::string GetField(const std::shared_ptr<Recordset>& i_oRS, const std::string& i_sFieldName);
  // URL-encoded text, with "=" written as "%3D".
  std::string URLEncode(const std::string& iStr);
};

}  // namespace quillon
