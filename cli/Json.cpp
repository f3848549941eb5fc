#include "cli/Json.h"

#include <cmath>
#include <limits>

#include "platform/Database.h"
#include "platform/Object.h"
#include "platform/XmlDom.h"

namespace quillon::cli {

namespace {

Variant fromJson(const Json& j, const HandleLookup* handles, int depth) {
  if (depth > kMaxDepth) throw TooDeep();
  switch (j.type()) {
    case Json::value_t::null:
      return Variant::null();
    case Json::value_t::boolean:
      return Variant(j.get<bool>());
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: {
      if (j.is_number_unsigned()) {
        auto u = j.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return Variant(static_cast<int>(u));
        return Variant(static_cast<double>(u));
      }
      return Variant(static_cast<long long>(j.get<std::int64_t>()));
    }
    case Json::value_t::number_float:
      return Variant(j.get<double>());
    case Json::value_t::string:
      return Variant(j.get<std::string>());
    case Json::value_t::array: {
      std::vector<Variant> items;
      for (const auto& e : j) items.push_back(fromJson(e, handles, depth + 1));
      return Variant(VariantArray(std::move(items)));
    }
    case Json::value_t::object: {
      if (handles && j.size() == 1 && j.contains("handle") && j["handle"].is_number_integer())
        return Variant((*handles)(j["handle"].get<long long>()));
      auto dict = std::make_shared<Dictionary>();
      for (const auto& [k, v] : j.items()) dict->Add(k, fromJson(v, handles, depth + 1));
      return Variant(dict);
    }
    default:
      return {};
  }
}

}  // namespace

Variant FromJson(const Json& j, const HandleLookup* handles) { return fromJson(j, handles, 0); }

namespace {

Json toJson(const Variant& v, const ObjectEncoder* objects, int depth);

Json recordsetToJson(Recordset& rs) {
  Json rows = Json::array();
  if (rs.State() != ado::adStateOpen) return rows;
  if (rs.RecordCount() > 0 && !rs.BOF_()) rs.MoveFirst();
  while (!rs.EOF_()) {
    Json row = Json::object();
    for (int i = 0; i < rs.FieldCount(); ++i) row[rs.Fields(i).Name()] = toJson(rs.Fields(i).Value(), nullptr, 1);
    rows.push_back(std::move(row));
    rs.MoveNext();
  }
  return rows;
}

// The value of an object that is data, call-style; nothing for other objects.
std::optional<Json> dataValue(const std::shared_ptr<Object>& o, int depth) {
  if (auto doc = std::dynamic_pointer_cast<DomDocument>(o)) return Json(doc->xml());
  if (auto node = std::dynamic_pointer_cast<DomNode>(o)) return Json(node->xml());
  if (auto list = std::dynamic_pointer_cast<DomNodeList>(o)) {
    Json out = Json::array();
    for (const auto& n : list->nodes()) out.push_back(n->xml());
    return out;
  }
  if (auto dict = std::dynamic_pointer_cast<Dictionary>(o)) {
    Json out = Json::object();
    for (long i = 0; i < dict->Count(); ++i) out[dict->entry(i).first] = toJson(dict->entry(i).second, nullptr, depth + 1);
    return out;
  }
  if (auto coll = std::dynamic_pointer_cast<Collection>(o)) {
    Json out = Json::array();
    for (long i = 1; i <= coll->Count(); ++i) out.push_back(toJson(coll->Item(i), nullptr, depth + 1));
    return out;
  }
  return std::nullopt;
}

Json toJson(const Variant& v, const ObjectEncoder* objects, int depth) {
  if (depth > kMaxDepth) throw TooDeep();
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null:
      return nullptr;
    case VarType::Boolean:
      return v.toBool();
    case VarType::Byte:
    case VarType::Int16:
    case VarType::Int32:
      return v.toInt32();
    case VarType::Double: {
      double d = v.toDouble();
      if (!std::isfinite(d)) return v.toString();
      return d;
    }
    case VarType::Date:
    case VarType::String:
      return v.toString();
    case VarType::Array: {
      const VariantArray& a = v.array();
      Json out = Json::array();
      if (a.dimensions() == 2) {
        for (long j = a.lbound(2); j <= a.ubound(2); ++j) {
          Json row = Json::array();
          for (long i = a.lbound(1); i <= a.ubound(1); ++i) row.push_back(toJson(a.at(i, j), objects, depth + 1));
          out.push_back(std::move(row));
        }
        return out;
      }
      for (const Variant& e : a.elements()) out.push_back(toJson(e, objects, depth + 1));
      return out;
    }
    case VarType::Object: {
      const auto& o = v.object();
      if (!o) return nullptr;
      if (objects) return (*objects)(o);
      if (auto value = dataValue(o, depth)) return *value;
      if (auto rs = std::dynamic_pointer_cast<Recordset>(o)) return recordsetToJson(*rs);
      return Json{{"object", v.typeName()}};
    }
  }
  return nullptr;
}

}  // namespace

Json ToJson(const Variant& v, const ObjectEncoder* objects) { return toJson(v, objects, 0); }

std::optional<Json> DataValue(const std::shared_ptr<Object>& o) { return dataValue(o, 0); }

}  // namespace quillon::cli
