// Json: Variant values as JSON for the command line.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "platform/Variant.h"

namespace quillon {
class Object;
}

namespace quillon::cli {

using Json = nlohmann::ordered_json;

// Values nest at most this deep (arrays and objects in arrays and objects);
// a deeper one is refused rather than converted, in either direction.
constexpr int kMaxDepth = 256;

struct TooDeep : std::runtime_error {
  TooDeep() : std::runtime_error("the value is nested more than " + std::to_string(kMaxDepth) + " levels deep") {}
};

// Finds the object of a handle ({"handle": N}) for a session; raises for an
// unknown handle.
using HandleLookup = std::function<std::shared_ptr<Object>(long long handle)>;
// Encodes an object for a session (its handle).
using ObjectEncoder = std::function<Json(const std::shared_ptr<Object>&)>;

// null → Null, true/false → Boolean, whole numbers → Int32 (Double beyond
// 32 bits), other numbers → Double, text → String, array → one-dimensional
// array, object → Dictionary in key order. With `handles`, an object whose
// only member is an integer "handle" is that handle's object. Raises
// TooDeep beyond kMaxDepth levels.
Variant FromJson(const Json& j, const HandleLookup* handles = nullptr);
// Empty and Null → null, Date → "YYYY-MM-DD hh:mm:ss", a DOM document → its
// XML text, a Dictionary → object, a Recordset → array of row objects, a
// Collection → array, a two-dimensional array → array of rows (second
// index). With `objects`, every object (Nothing aside) is encoded by it
// instead. Raises TooDeep beyond kMaxDepth levels (a dictionary that holds
// itself).
Json ToJson(const Variant& v, const ObjectEncoder* objects = nullptr);
// The value of a data object (dictionary, collection, DOM document, node or
// node list) as ToJson gives it; nothing for other objects.
std::optional<Json> DataValue(const std::shared_ptr<Object>& o);

}  // namespace quillon::cli
