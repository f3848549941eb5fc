// Object: automation objects, their by-name methods and the class registry.
//
// Every creatable class registers a ClassInfo under its programmatic id
// ("Quillon.Document", "Basalt.Configuration", …). A ClassInfo lists the
// class's methods with their parameters; Object::invoke calls one by name
// (case-insensitive, as automation does) with a vector of argument Variants.
// A by-reference parameter is written back into its argument slot, so the
// caller sees the new value.
//
// Methods are added to a ClassInfo with ClassBuilder: `bind` derives the
// argument conversions, directions and the description of a method from its
// C++ signature (see Binding.h); `method` takes a hand-written function over
// the argument vector (plug-ins and the few special conversions use it).
//
// The component's runtime modules are not classes of the automation
// interface: they register in Registry::operatorModules(), which only the
// command line's explicit operator switch consults.
//
// There is no transaction-server object context on this platform: every
// object is created directly through the Registry.
//
// Registration happens during static initialisation of the library and
// when a plug-in is loaded (see Plugins.h); the registry guards its table
// with a mutex, and a ClassInfo, once added, never moves or changes.
// Objects themselves are not thread-safe; each belongs to the thread that
// created it.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Variant.h"

namespace quillon {

class Object;

// How an argument travels: read only (In), written back and not read
// (Out), or read and written back (InOut). Every by-reference parameter is
// Out or InOut.
enum class Direction { In, Out, InOut };

struct ParamInfo {
  std::string name;
  bool byRef = false;
  std::optional<Variant> defaultValue;  // set for optional parameters
  Direction direction = Direction::In;  // InOut for byRef unless set to Out
  std::string type = "Variant";         // as `quillon describe` prints it
  bool optional() const { return defaultValue.has_value(); }
};

using MethodFn = std::function<Variant(Object& self, std::vector<Variant>& args)>;

struct MethodInfo {
  std::string name;
  std::vector<ParamInfo> params;
  MethodFn fn;
  std::string returnType = "Variant";  // "" when the method returns nothing
};

// One entry of a bound method's parameter list: a name ("i_sName" or
// in("i_sName")), optionally with a default (opt(...), {"name", value}),
// marked output-only (out(...)) or, for a by-value C++ parameter, kept
// ByRef in the automation interface (ref(...), optRef(...)): the value the
// method received is handed back, as an object changed in place.
struct Param {
  std::string name;
  std::optional<Variant> defaultValue;
  bool ref = false;
  bool out = false;
  Param() = default;
  Param(const char* n) : name(n) {}
  Param(std::string n) : name(std::move(n)) {}
  Param(std::string n, Variant def) : name(std::move(n)), defaultValue(std::move(def)) {}
  Param(ParamInfo p)
      : name(std::move(p.name)),
        defaultValue(std::move(p.defaultValue)),
        ref(p.byRef && p.direction != Direction::Out),
        out(p.direction == Direction::Out) {}
};

namespace binding {
// Defined in Binding.h, which every file that calls ClassBuilder::bind includes.
template <auto F, class Wire>
struct Bound;
template <class Fn>
struct BoundLambda;
}  // namespace binding

struct ClassInfo {
  std::string progId;  // "Quillon.XML"
  std::string name;    // "XML"
  std::function<std::shared_ptr<Object>()> create;  // null for non-creatable interfaces
  std::vector<MethodInfo> methods;

  const MethodInfo* find(const std::string& method) const;  // case-insensitive
};

class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;
  // The class description; nullptr for objects without by-name methods.
  virtual const ClassInfo* classInfo() const { return nullptr; }
  // Calls a method by name. Missing optional arguments take their defaults
  // and are appended to `args`; by-reference arguments are updated there. Raises Error 0x800A01B6
  // for an unknown method and 0x800A01C2 for a wrong argument count.
  virtual Variant invoke(const std::string& method, std::vector<Variant>& args);
  virtual bool hasMethod(const std::string& method) const;
};

class Registry {
 public:
  // The classes callable by name.
  static Registry& instance();
  // The component's runtime modules (DBUtils, General, I18N,
  // PublicationErrorHandling): reachable by name only through the command
  // line's operator switch, never through instance().
  static Registry& operatorModules();
  // Adds a class; a later registration of the same id is ignored, so a
  // plug-in can never replace a class of the component.
  void add(ClassInfo info);
  const ClassInfo* find(const std::string& progId) const;  // case-insensitive
  // Finds by programmatic id, or by plain class name with the "Quillon." prefix.
  const ClassInfo* findClass(const std::string& name) const;
  std::vector<const ClassInfo*> all() const;
  // Creates an instance. An id that no class has yet makes the site's
  // plug-ins load (once each) before the registry gives up with Error
  // 0x800A01AD ("ActiveX component can't create object"); a non-creatable
  // class raises the same.
  std::shared_ptr<Object> create(const std::string& progId) const;

 private:
  const ClassInfo* findLocked(const std::string& progId) const;
  mutable std::mutex mutex_;
  std::map<std::string, ClassInfo> classes_;  // key: lower-case id
};

// Builds a ClassInfo for class T during static initialisation:
//   static const ClassInfo* info = ClassBuilder<XML>("Quillon.XML")
//       .bind<&XML::XmlStringToDomDocument>("XmlStringToDomDocument", {"i_sXmlString"})
//       .method("Legacy", {in("a"), ref("b")}, [](XML& x, Args& a) { ...; return Variant(); })
//       .done();
// bind and its forms are described in Binding.h; method takes the argument
// vector as it is (defaults filled in) and writes by-reference outputs into
// it itself.
template <class T>
class ClassBuilder {
 public:
  using Args = std::vector<Variant>;
  explicit ClassBuilder(std::string progId, bool creatable = true) {
    info_.progId = std::move(progId);
    auto dot = info_.progId.rfind('.');
    info_.name = dot == std::string::npos ? info_.progId : info_.progId.substr(dot + 1);
    if constexpr (std::is_default_constructible_v<T>) {
      if (creatable) info_.create = [] { return std::static_pointer_cast<Object>(std::make_shared<T>()); };
    }
  }
  ClassBuilder& method(std::string name, std::vector<ParamInfo> params, std::function<Variant(T&, Args&)> fn) {
    info_.methods.push_back(MethodInfo{std::move(name), std::move(params),
                                       [fn = std::move(fn)](Object& self, Args& a) { return fn(static_cast<T&>(self), a); }});
    return *this;
  }

  // A method or free function F with one Param per C++ parameter (the
  // count is checked when the code is compiled). Wire, when given, is a
  // function type that names the types the caller sees, e.g. Bytes(std::string).
  template <auto F, class Wire = void, std::size_t N>
  ClassBuilder& bind(std::string name, const Param (&params)[N]) {
    static_assert(N == binding::Bound<F, Wire>::arity, "bind: list one parameter name for each C++ parameter");
    return add(binding::Bound<F, Wire>::template make<T>(info_, std::move(name), params, N));
  }
  template <auto F, class Wire = void, std::size_t N>
  ClassBuilder& bind(std::string name, const std::array<Param, N>& params) {
    static_assert(N == binding::Bound<F, Wire>::arity, "bind: list one parameter name for each C++ parameter");
    return add(binding::Bound<F, Wire>::template make<T>(info_, std::move(name), params.data(), N));
  }
  template <auto F, class Wire = void>
  ClassBuilder& bind(std::string name) {
    static_assert(binding::Bound<F, Wire>::arity == 0, "bind: the method has parameters; list their names");
    return add(binding::Bound<F, Wire>::template make<T>(info_, std::move(name), nullptr, 0));
  }
  // A typed lambda whose first parameter is T& and whose other parameters
  // and result convert like a bound method's.
  template <class Fn, std::size_t N>
  ClassBuilder& bind(std::string name, const Param (&params)[N], Fn fn) {
    static_assert(N == binding::BoundLambda<Fn>::arity, "bind: list one parameter name for each lambda parameter after the object");
    return add(binding::BoundLambda<Fn>::template make<T>(info_, std::move(name), params, N, std::move(fn)));
  }
  template <class Fn>
  ClassBuilder& bind(std::string name, Fn fn) {
    static_assert(binding::BoundLambda<Fn>::arity == 0, "bind: the lambda has parameters; list their names");
    return add(binding::BoundLambda<Fn>::template make<T>(info_, std::move(name), nullptr, 0, std::move(fn)));
  }

  const ClassInfo* done(Registry& registry = Registry::instance()) {
    std::string id = info_.progId;
    registry.add(std::move(info_));
    return registry.find(id);
  }

 private:
  ClassBuilder& add(MethodInfo m) {
    info_.methods.push_back(std::move(m));
    return *this;
  }
  ClassInfo info_;
};

// Parameter shorthands for registrations.
inline ParamInfo in(std::string name) { return ParamInfo{std::move(name), false, std::nullopt}; }
inline ParamInfo ref(std::string name) { return ParamInfo{std::move(name), true, std::nullopt, Direction::InOut}; }
inline ParamInfo opt(std::string name, Variant def) { return ParamInfo{std::move(name), false, std::move(def)}; }
inline ParamInfo optRef(std::string name, Variant def) {
  return ParamInfo{std::move(name), true, std::move(def), Direction::InOut};
}
// Output only: the argument's value is never read, only written back.
inline ParamInfo out(std::string name) { return ParamInfo{std::move(name), true, std::nullopt, Direction::Out}; }
inline ParamInfo out(std::string name, Variant def) {
  return ParamInfo{std::move(name), true, std::move(def), Direction::Out};
}

// An ordered map of text keys to Variants (Scripting.Dictionary). Keys
// compare as text, case-sensitively unless compareMode is 1 (text mode).
class Dictionary : public Object {
 public:
  const ClassInfo* classInfo() const override;
  void Add(const std::string& key, Variant item);  // raises 0x800A01C9 for a present key
  bool Exists(const std::string& key) const;
  Variant Item(const std::string& key) const;  // Empty when absent
  void SetItem(const std::string& key, Variant item);  // adds when absent
  void Remove(const std::string& key);
  void RemoveAll();
  long Count() const { return static_cast<long>(entries_.size()); }
  std::vector<std::string> Keys() const;
  std::vector<Variant> Items() const;
  const std::pair<std::string, Variant>& entry(long index) const { return entries_.at(index); }
  void setCompareMode(int mode) { compareMode_ = mode; }
  int compareMode() const { return compareMode_; }

 private:
  long indexOf(const std::string& key) const;
  std::vector<std::pair<std::string, Variant>> entries_;
  int compareMode_ = 0;
};

// A one-based ordered collection of Variants with optional text keys (VBA.Collection).
class Collection : public Object {
 public:
  const ClassInfo* classInfo() const override;
  void Add(Variant item, const std::string& key = {});
  Variant Item(long index) const;  // 1-based
  Variant Item(const std::string& key) const;
  void Remove(long index);
  long Count() const { return static_cast<long>(items_.size()); }

 private:
  std::vector<std::pair<std::string, Variant>> items_;
};

// Case-insensitive ASCII comparison helpers used across the platform.
std::string toLowerAscii(std::string s);
bool equalsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace quillon

// The conversions behind ClassBuilder::bind.
#include "platform/Binding.h"
