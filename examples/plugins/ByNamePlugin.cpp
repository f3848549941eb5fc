// An example plug-in with by-name methods only (no contract).
//
// "Example.Keywords" answers rules by name: "HasUrgent" holds when one of
// the values contains "URGENT"; "IMethodCall_MethodCall" is the member
// used when a method-call string names no method; "Undecided" answers a
// text, which is neither true nor false.
#include <string>

#include "platform/Object.h"
#include "platform/Plugins.h"
#include "platform/Text.h"

namespace {

using namespace quillon;

bool anyContains(const Variant& values, const std::string& word) {
  if (!values.isArray()) return text::InStr(1, values.text(), word, true) > 0;
  for (const Variant& v : values.array().elements())
    if (text::InStr(1, v.text(), word, true) > 0) return true;
  return false;
}

class Keywords : public Object {
 public:
  const ClassInfo* classInfo() const override { return info; }
  static inline const ClassInfo* info = nullptr;
};

}  // namespace

extern "C" int quillon_plugin_abi() { return QUILLON_PLUGIN_ABI; }

extern "C" void quillon_plugin_register() {
  using A = std::vector<Variant>;
  Keywords::info = ClassBuilder<Keywords>("Example.Keywords")
                       .method("HasUrgent", {ref("i_vValues")}, [](Keywords&, A& a) { return Variant(anyContains(a[0], "URGENT")); })
                       .method("IMethodCall_MethodCall", {ref("i_vValues")},
                               [](Keywords&, A& a) { return Variant(anyContains(a[0], "EXPRESS")); })
                       .method("Undecided", {ref("i_vValues")}, [](Keywords&, A&) { return Variant("maybe"); })
                       .done();
}
