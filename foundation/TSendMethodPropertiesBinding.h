// By-name conversion of the send-method record: a record travels as a
// Dictionary keyed by its field names (see FromDictionary/ToDictionary).
// A left-out record (Empty) reads as the blank record; anything but a
// Dictionary raises Type mismatch.
#pragma once

#include "foundation/TSendMethodProperties.h"
#include "platform/Binding.h"

namespace quillon {

template <>
struct Convert<TSendMethodProperties> {
  static TSendMethodProperties from(const Variant& v) {
    if (v.isEmpty()) return {};
    if (auto d = v.as<Dictionary>()) return FromDictionary(*d);
    binding::TypeMismatch("a TSendMethodProperties record (a dictionary of its fields)", v);
  }
  static Variant to(const TSendMethodProperties& p) { return Variant(ToDictionary(p)); }
  static std::string name() { return "TSendMethodProperties"; }
};

}  // namespace quillon
