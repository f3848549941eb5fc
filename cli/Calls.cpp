#include <cstdio>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "cli/Commands.h"

namespace quillon::cli {

namespace {

// The platform's service classes (database connections and recordsets, the
// configuration and log services, the file store, the directory) serve the
// component from inside. By name they would let a caller run any SQL, read
// the site's passwords or files, or try passwords, so only an operator
// reaches them, with --modules. Value classes (dictionaries, collections,
// DOM documents) stay open: callers need them to pass arguments.
bool IsPlatformService(const std::string& progId) {
  static const char* const kPrefixes[] = {"adodb.", "basalt.", "shale.", "slate.", "granite."};
  std::string id = toLowerAscii(progId);
  for (const char* prefix : kPrefixes)
    if (id.rfind(prefix, 0) == 0) return true;
  return false;
}

}  // namespace

const ClassInfo* FindClass(const std::string& name, bool modules) {
  if (const ClassInfo* ci = Registry::instance().findClass(name)) {
    if (!modules && IsPlatformService(ci->progId)) return nullptr;
    return ci;
  }
  if (modules) return Registry::operatorModules().findClass(name);
  return nullptr;
}

std::shared_ptr<Object> CreateObject(const std::string& name, bool modules) {
  const ClassInfo* ci = FindClass(name, modules);
  if (!ci) {
    std::string hint;
    if (!modules && Registry::operatorModules().findClass(name))
      hint = ": " + name + " is a module of the component, callable by name only with the operator switch --modules";
    else if (!modules && IsPlatformService(name))
      hint = ": " + name + " is a platform service, callable by name only with the operator switch --modules";
    throw Error(hr::kCannotCreate, name, "ActiveX component can't create object: no class '" + name + "'" + hint);
  }
  if (!ci->create) throw Error(hr::kCannotCreate, ci->progId, "ActiveX component can't create object: " + ci->progId);
  return ci->create();
}

Json ErrorJson(const ErrorInfo& e) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(e.number));
  return Json{{"number", number}, {"source", e.source}, {"description", e.description}};
}

Json OutputsJson(const MethodInfo* method, const std::vector<Variant>& args, const ObjectEncoder* objects) {
  Json outputs = Json::object();
  if (!method) return outputs;
  for (std::size_t i = 0; i < method->params.size(); ++i)
    if (method->params[i].byRef) outputs[method->params[i].name] = i < args.size() ? ToJson(args[i], objects) : Json();
  return outputs;
}

namespace {

const char* directionWord(const ParamInfo& p) {
  switch (p.direction) {
    case Direction::Out:
      return "out";
    case Direction::InOut:
      return "in-out";
    default:
      return p.byRef ? "in-out" : "in";
  }
}

// A default as it would be written in a call: JSON for values, the
// automation names for the values JSON has no word for.
std::string literal(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
      return "Empty";
    case VarType::Null:
      return "Null";
    case VarType::Object:
      return v.isSetObject() ? v.typeName() : "Nothing";
    default:
      return ToJson(v).dump();
  }
}

std::string paramText(const ParamInfo& p) {
  std::string text = std::string(directionWord(p)) + " " + p.name + " As " + p.type;
  if (p.optional()) text = "[" + text + " = " + literal(*p.defaultValue) + "]";
  return text;
}

}  // namespace

std::string Signature(const MethodInfo& m) {
  std::string s = m.name + "(";
  for (std::size_t i = 0; i < m.params.size(); ++i) s += (i ? ", " : "") + paramText(m.params[i]);
  s += ")";
  if (!m.returnType.empty()) s += " As " + m.returnType;
  return s;
}

void DescribeClass(std::ostream& out, const ClassInfo& cls) {
  out << cls.progId << (cls.create ? "" : " (not creatable)") << "\n";
  for (const MethodInfo& m : cls.methods) out << "  " << Signature(m) << "\n";
}

void DescribeMethod(std::ostream& out, const ClassInfo& cls, const MethodInfo& m) {
  out << cls.progId << "." << Signature(m) << "\n";
  std::size_t width = 7, typeWidth = 0;
  for (const ParamInfo& p : m.params) {
    width = std::max(width, p.name.size());
    typeWidth = std::max(typeWidth, p.type.size());
  }
  for (const ParamInfo& p : m.params) {
    out << "  " << std::left << std::setw(static_cast<int>(width)) << p.name << "  " << std::setw(6) << directionWord(p)
        << "  ";
    if (p.optional())
      out << std::setw(static_cast<int>(typeWidth)) << p.type << "  optional, default " << literal(*p.defaultValue);
    else
      out << p.type;
    out << "\n";
  }
  out << "  " << std::left << std::setw(static_cast<int>(width)) << "result"
      << "  " << (m.returnType.empty() ? "none" : m.returnType) << "\n";
}

}  // namespace quillon::cli
