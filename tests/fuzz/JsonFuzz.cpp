// Command-line arguments: any JSON becomes a Variant and goes back to JSON;
// texts, truth values, null and the shape of arrays and objects survive.
#include <cstdint>
#include <string>

#include "cli/Json.h"
#include "platform/Error.h"

using namespace quillon;

namespace {
// True when `back` keeps what a Variant can hold of `j` exactly.
bool sameShape(const cli::Json& j, const cli::Json& back) {
  if (j.is_string() || j.is_boolean() || j.is_null()) return j == back;
  if (j.is_number()) return back.is_number() || back.is_string();
  if (j.size() != back.size()) return false;
  if (j.is_array()) {
    if (!back.is_array()) return false;
    for (std::size_t i = 0; i < j.size(); ++i)
      if (!sameShape(j[i], back[i])) return false;
    return true;
  }
  if (!back.is_object()) return false;
  for (auto it = j.begin(); it != j.end(); ++it)
    if (!back.contains(it.key()) || !sameShape(it.value(), back[it.key()])) return false;
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cli::Json j = cli::Json::parse(data, data + size, nullptr, false);
  if (j.is_discarded()) return 0;
  try {
    Variant v = cli::FromJson(j);
    cli::Json back = cli::ToJson(v);
    if (!sameShape(j, back)) __builtin_trap();
  } catch (const Error&) {
    // A JSON value a Variant cannot hold (a key given twice) is refused.
  }
  return 0;
}
