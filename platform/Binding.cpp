#include "platform/Binding.h"

#include <cxxabi.h>

#include <cstdlib>

#include "platform/XmlDom.h"

namespace quillon {

namespace binding {

std::string ShortTypeName(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : type.name();
  std::free(demangled);
  auto colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

void TypeMismatch(const std::string& expected, const Variant& got) {
  throw Error(hr::kTypeMismatch, "Quillon", "Type mismatch: " + expected + " is expected, not " + got.typeName());
}

namespace {

std::shared_ptr<DomDocument> parse(const std::string& text) {
  auto doc = std::make_shared<DomDocument>();
  if (!doc->loadXML(text)) {
    const ParseError& e = doc->parseError();
    throw Error(e.errorCode != 0 ? e.errorCode : hr::kTypeMismatch, "Quillon",
                "The XML text could not be parsed: " + e.reason + " (line " + std::to_string(e.line) + ", column " +
                    std::to_string(e.linepos) + ")");
  }
  return doc;
}

bool unset(const Variant& v) { return v.isEmpty() || v.isNull() || (v.isObject() && !v.isSetObject()); }

}  // namespace

std::shared_ptr<DomDocument> DocumentFrom(const Variant& v) {
  if (unset(v)) return nullptr;
  if (auto doc = v.as<DomDocument>()) return doc;
  if (v.isString()) return parse(v.toString());
  TypeMismatch("a DomDocument object or an XML text", v);
}

std::shared_ptr<DomNode> NodeFrom(const Variant& v) {
  if (unset(v)) return nullptr;
  if (auto node = v.as<DomNode>()) return node;
  if (v.isString()) return parse(v.toString());
  TypeMismatch("a DomNode object or an XML text", v);
}

Variant ObjectVariant(std::shared_ptr<Object> o) { return Variant(std::move(o)); }

void ArgumentFailed(const Plan& plan, std::size_t index) {
  try {
    throw;
  } catch (const Error& e) {
    throw Error(e.number(), plan.source,
                e.description() + " (argument " + std::to_string(index + 1) + ", " + plan.names[index] + ", of " +
                    plan.label + ")",
                e.helpFile(), e.helpContext());
  }
}

void BadDefault(const Plan& plan, std::size_t index) {
  throw std::logic_error("bind " + plan.label + ": the default of " + plan.names[index] +
                         " does not convert to the parameter's type");
}

std::vector<ParamInfo> Describe(const ClassInfo& cls, const std::string& method, const Param* params, std::size_t n,
                                const std::vector<bool>& byRef, const std::vector<std::string>& types, Plan& plan) {
  plan.source = cls.progId;
  plan.label = cls.name + "." + method;
  if (n != byRef.size())
    throw std::logic_error("bind " + plan.label + ": " + std::to_string(n) + " parameter names for " +
                           std::to_string(byRef.size()) + " parameters");
  std::vector<ParamInfo> out;
  for (std::size_t i = 0; i < n; ++i) {
    const Param& p = params[i];
    for (std::size_t j = 0; j < i; ++j)
      if (equalsIgnoreCase(params[j].name, p.name))
        throw std::logic_error("bind " + plan.label + ": the parameter name " + p.name + " is listed twice");
    if (p.out && !byRef[i])
      throw std::logic_error("bind " + plan.label + ": " + p.name +
                             " is marked output-only but the C++ parameter is not a non-const reference");
    ParamInfo info;
    info.name = p.name;
    info.defaultValue = p.defaultValue;
    info.byRef = byRef[i] || p.ref;
    info.direction = p.out ? Direction::Out : info.byRef ? Direction::InOut : Direction::In;
    info.type = types[i];
    plan.names.push_back(p.name);
    plan.read.push_back(!p.out);
    plan.writeBack.push_back(info.byRef);
    out.push_back(std::move(info));
  }
  return out;
}

}  // namespace binding

Variant Convert<std::shared_ptr<DomDocument>>::to(const std::shared_ptr<DomDocument>& p) {
  return Variant(std::static_pointer_cast<Object>(p));
}

Variant Convert<std::shared_ptr<DomNode>>::to(const std::shared_ptr<DomNode>& p) {
  return Variant(std::static_pointer_cast<Object>(p));
}

}  // namespace quillon
