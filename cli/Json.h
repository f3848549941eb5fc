// Json: Variant values as JSON for the command line.
#pragma once

#include <nlohmann/json.hpp>

#include "platform/Variant.h"

namespace quillon::cli {

using Json = nlohmann::ordered_json;

// null → Null, true/false → Boolean, whole numbers → Int32 (Double beyond
// 32 bits), other numbers → Double, text → String, array → one-dimensional
// array, object → Dictionary in key order.
Variant FromJson(const Json& j);
// Empty and Null → null, Date → "YYYY-MM-DD hh:mm:ss", a DOM document → its
// XML text, a Dictionary → object, a Recordset → array of row objects, a
// Collection → array, a two-dimensional array → array of rows (second index).
Json ToJson(const Variant& v);

}  // namespace quillon::cli
