#include "cli/Json.h"

#include <cmath>
#include <limits>

#include "platform/Database.h"
#include "platform/Object.h"
#include "platform/XmlDom.h"

namespace quillon::cli {

Variant FromJson(const Json& j) {
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
      for (const auto& e : j) items.push_back(FromJson(e));
      return Variant(VariantArray(std::move(items)));
    }
    case Json::value_t::object: {
      auto dict = std::make_shared<Dictionary>();
      for (const auto& [k, v] : j.items()) dict->Add(k, FromJson(v));
      return Variant(dict);
    }
    default:
      return {};
  }
}

namespace {

Json recordsetToJson(Recordset& rs) {
  Json rows = Json::array();
  if (rs.State() != ado::adStateOpen) return rows;
  if (rs.RecordCount() > 0 && !rs.BOF_()) rs.MoveFirst();
  while (!rs.EOF_()) {
    Json row = Json::object();
    for (int i = 0; i < rs.FieldCount(); ++i) row[rs.Fields(i).Name()] = ToJson(rs.Fields(i).Value());
    rows.push_back(std::move(row));
    rs.MoveNext();
  }
  return rows;
}

}  // namespace

Json ToJson(const Variant& v) {
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
          for (long i = a.lbound(1); i <= a.ubound(1); ++i) row.push_back(ToJson(a.at(i, j)));
          out.push_back(std::move(row));
        }
        return out;
      }
      for (const Variant& e : a.elements()) out.push_back(ToJson(e));
      return out;
    }
    case VarType::Object: {
      const auto& o = v.object();
      if (!o) return nullptr;
      if (auto doc = std::dynamic_pointer_cast<DomDocument>(o)) return doc->xml();
      if (auto node = std::dynamic_pointer_cast<DomNode>(o)) return node->xml();
      if (auto list = std::dynamic_pointer_cast<DomNodeList>(o)) {
        Json out = Json::array();
        for (const auto& n : list->nodes()) out.push_back(n->xml());
        return out;
      }
      if (auto dict = std::dynamic_pointer_cast<Dictionary>(o)) {
        Json out = Json::object();
        for (long i = 0; i < dict->Count(); ++i) out[dict->entry(i).first] = ToJson(dict->entry(i).second);
        return out;
      }
      if (auto coll = std::dynamic_pointer_cast<Collection>(o)) {
        Json out = Json::array();
        for (long i = 1; i <= coll->Count(); ++i) out.push_back(ToJson(coll->Item(i)));
        return out;
      }
      if (auto rs = std::dynamic_pointer_cast<Recordset>(o)) return recordsetToJson(*rs);
      return Json{{"object", v.typeName()}};
    }
  }
  return nullptr;
}

}  // namespace quillon::cli
