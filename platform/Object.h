// Object: automation objects, their by-name methods and the class registry.
//
// Every creatable class registers a ClassInfo under its programmatic id
// ("Quillon.Document", "Basalt.Configuration", …). A ClassInfo lists the
// class's methods with their parameters; Object::invoke calls one by name
// (case-insensitive, as automation does) with a vector of argument Variants.
// A by-reference parameter is written back into its argument slot, so the
// caller sees the new value.
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

struct ParamInfo {
  std::string name;
  bool byRef = false;
  std::optional<Variant> defaultValue;  // set for optional parameters
  bool optional() const { return defaultValue.has_value(); }
};

using MethodFn = std::function<Variant(Object& self, std::vector<Variant>& args)>;

struct MethodInfo {
  std::string name;
  std::vector<ParamInfo> params;
  MethodFn fn;
};

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
  static Registry& instance();
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
//   static const bool registered = ClassBuilder<XML>("Quillon.XML")
//       .method("XmlStringToDomDocument", {{"i_sXmlString"}},
//               [](XML& x, Args& a) { return Variant(x.XmlStringToDomDocument(a[0].toString())); })
//       .done();
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
  const ClassInfo* done() {
    std::string id = info_.progId;
    Registry::instance().add(std::move(info_));
    return Registry::instance().find(id);
  }

 private:
  ClassInfo info_;
};

// Parameter shorthands for registrations.
inline ParamInfo in(std::string name) { return ParamInfo{std::move(name), false, std::nullopt}; }
inline ParamInfo ref(std::string name) { return ParamInfo{std::move(name), true, std::nullopt}; }
inline ParamInfo opt(std::string name, Variant def) { return ParamInfo{std::move(name), false, std::move(def)}; }
inline ParamInfo optRef(std::string name, Variant def) { return ParamInfo{std::move(name), true, std::move(def)}; }

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
