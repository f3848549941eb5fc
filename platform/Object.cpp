#include "platform/Object.h"

#include <algorithm>
#include <cctype>

#include "platform/Binding.h"
#include "platform/Error.h"
#include "platform/Plugins.h"

namespace quillon {

std::string toLowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

const MethodInfo* ClassInfo::find(const std::string& method) const {
  for (const MethodInfo& m : methods)
    if (equalsIgnoreCase(m.name, method)) return &m;
  return nullptr;
}

bool Object::hasMethod(const std::string& method) const {
  const ClassInfo* ci = classInfo();
  return ci && ci->find(method);
}

Variant Object::invoke(const std::string& method, std::vector<Variant>& args) {
  const ClassInfo* ci = classInfo();
  const MethodInfo* m = ci ? ci->find(method) : nullptr;
  if (!m)
    throw Error(hr::kNoSuchMember, ci ? ci->progId : "Quillon",
                "Object doesn't support this property or method: " + method);
  if (args.size() > m->params.size())
    throw Error(hr::kWrongArgCount, ci->progId,
                "Wrong number of arguments for " + ci->name + "." + m->name + ": " + std::to_string(args.size()) +
                    " given, at most " + std::to_string(m->params.size()) + " expected");
  for (std::size_t i = args.size(); i < m->params.size(); ++i) {
    if (!m->params[i].optional())
      throw Error(hr::kWrongArgCount, ci->progId,
                  "Argument not optional: " + m->params[i].name + " of " + ci->name + "." + m->name);
    args.push_back(*m->params[i].defaultValue);
  }
  // Work on a copy so that by-value arguments stay as the caller gave them.
  // Left-out optional arguments stay in `args` with their defaults, so a
  // caller sees every by-reference output, given or not.
  // By-reference arguments are written back also when the method raises:
  // an output such as a list of refused filters is part of the failure.
  std::vector<Variant> work = args;
  auto writeBack = [&] {
    for (std::size_t i = 0; i < args.size(); ++i)
      if (m->params[i].byRef) args[i] = std::move(work[i]);
  };
  try {
    Variant result = m->fn(*this, work);
    writeBack();
    return result;
  } catch (...) {
    writeBack();
    throw;
  }
}

Registry& Registry::instance() {
  static Registry registry;
  return registry;
}

Registry& Registry::operatorModules() {
  static Registry registry;
  return registry;
}

void Registry::add(ClassInfo info) {
  std::string key = toLowerAscii(info.progId);
  std::lock_guard<std::mutex> lock(mutex_);
  classes_.emplace(std::move(key), std::move(info));
}

const ClassInfo* Registry::findLocked(const std::string& progId) const {
  auto it = classes_.find(toLowerAscii(progId));
  return it == classes_.end() ? nullptr : &it->second;
}

const ClassInfo* Registry::find(const std::string& progId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return findLocked(progId);
}

const ClassInfo* Registry::findClass(const std::string& name) const {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (const ClassInfo* ci = find(name)) return ci;
    if (const ClassInfo* ci = find("Quillon." + name)) return ci;
    if (attempt == 0) Plugins::LoadSitePlugins();
  }
  return nullptr;
}

std::vector<const ClassInfo*> Registry::all() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<const ClassInfo*> out;
  for (const auto& [k, v] : classes_) out.push_back(&v);
  return out;
}

std::shared_ptr<Object> Registry::create(const std::string& progId) const {
  const ClassInfo* ci = find(progId);
  std::string pluginProblems;
  if (!ci) {
    pluginProblems = Plugins::LoadSitePlugins();
    ci = find(progId);
  }
  if (!ci || !ci->create)
    throw Error(hr::kCannotCreate, progId,
                "ActiveX component can't create object: " + progId + (pluginProblems.empty() ? "" : " (" + pluginProblems + ")"));
  return ci->create();
}

// ---- Dictionary ----------------------------------------------------------------

long Dictionary::indexOf(const std::string& key) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    bool same = compareMode_ == 1 ? equalsIgnoreCase(entries_[i].first, key) : entries_[i].first == key;
    if (same) return static_cast<long>(i);
  }
  return -1;
}

void Dictionary::Add(const std::string& key, Variant item) {
  if (indexOf(key) >= 0)
    throw Error(static_cast<std::int32_t>(0x800A01C9), "Scripting.Dictionary", "This key is already associated with an element of this collection: " + key);
  entries_.emplace_back(key, std::move(item));
}

bool Dictionary::Exists(const std::string& key) const { return indexOf(key) >= 0; }

Variant Dictionary::Item(const std::string& key) const {
  long i = indexOf(key);
  return i < 0 ? Variant() : entries_[static_cast<std::size_t>(i)].second;
}

void Dictionary::SetItem(const std::string& key, Variant item) {
  long i = indexOf(key);
  if (i < 0)
    entries_.emplace_back(key, std::move(item));
  else
    entries_[static_cast<std::size_t>(i)].second = std::move(item);
}

void Dictionary::Remove(const std::string& key) {
  long i = indexOf(key);
  if (i < 0) throw Error(static_cast<std::int32_t>(0x800A802B), "Scripting.Dictionary", "Element not found: " + key);
  entries_.erase(entries_.begin() + i);
}

void Dictionary::RemoveAll() { entries_.clear(); }

std::vector<std::string> Dictionary::Keys() const {
  std::vector<std::string> out;
  for (const auto& e : entries_) out.push_back(e.first);
  return out;
}

std::vector<Variant> Dictionary::Items() const {
  std::vector<Variant> out;
  for (const auto& e : entries_) out.push_back(e.second);
  return out;
}

const ClassInfo* Dictionary::classInfo() const {
  static const ClassInfo* info = ClassBuilder<Dictionary>("Scripting.Dictionary")
                                     .bind<&Dictionary::Add>("Add", {"Key", "Item"})
                                     .bind<&Dictionary::Exists>("Exists", {"Key"})
                                     .bind<&Dictionary::Item>("Item", {"Key"})
                                     .bind<&Dictionary::Remove>("Remove", {"Key"})
                                     .bind<&Dictionary::RemoveAll>("RemoveAll")
                                     .bind<&Dictionary::Count>("Count")
                                     .bind<&Dictionary::Keys>("Keys")
                                     .bind<&Dictionary::Items>("Items")
                                     .done();
  return info;
}

// ---- Collection -------------------------------------------------------------------

void Collection::Add(Variant item, const std::string& key) {
  if (!key.empty())
    for (const auto& e : items_)
      if (equalsIgnoreCase(e.first, key))
        throw Error(static_cast<std::int32_t>(0x800A01C9), "Collection", "This key is already associated with an element of this collection: " + key);
  items_.emplace_back(key, std::move(item));
}

Variant Collection::Item(long index) const {
  if (index < 1 || index > Count()) throw Error(hr::kSubscript, "Collection", "Subscript out of range");
  return items_[static_cast<std::size_t>(index - 1)].second;
}

Variant Collection::Item(const std::string& key) const {
  for (const auto& e : items_)
    if (!e.first.empty() && equalsIgnoreCase(e.first, key)) return e.second;
  throw Error(hr::kSubscript, "Collection", "Subscript out of range: " + key);
}

void Collection::Remove(long index) {
  if (index < 1 || index > Count()) throw Error(hr::kSubscript, "Collection", "Subscript out of range");
  items_.erase(items_.begin() + (index - 1));
}

const ClassInfo* Collection::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<Collection>("VBA.Collection")
          .bind<&Collection::Add>("Add", {"Item", opt("Key", "")})
          // One name for both look-ups: a text is a key, anything else a position.
          .bind("Item", {"Index"},
                [](Collection& c, const Variant& index) {
                  return index.isString() ? c.Item(index.toString()) : c.Item(static_cast<long>(index.toInt32()));
                })
          .bind<&Collection::Remove>("Remove", {"Index"})
          .bind<&Collection::Count>("Count")
          .done();
  return info;
}

// Both containers are creatable by name from the start.
namespace {
const bool kContainersRegistered = [] {
  Dictionary().classInfo();
  Collection().classInfo();
  return true;
}();
}  // namespace

}  // namespace quillon
