#include "platform/LazyModule.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "platform/Error.h"

namespace quillon::LazyModule {

namespace {

std::mutex& loaderMutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, void*>& handles() {
  static std::map<std::string, void*> loaded;
  return loaded;
}

// Opens the module under the mutex; returns the handle or the reason.
void* open(const std::string& name, std::string& reason) {
  std::lock_guard<std::mutex> lock(loaderMutex());
  auto it = handles().find(name);
  if (it != handles().end()) return it->second;
  std::string path = Folder() + "/libquillon_" + name + ".so";
  // RTLD_LOCAL: the module's libraries stay private to it; RTLD_NOW: a
  // missing symbol is found here, not in the middle of a call.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = ::dlerror();
    reason = "cannot load " + path + ": " + (e ? e : "unknown reason");
    return nullptr;
  }
  handles()[name] = handle;
  return handle;
}

}  // namespace

std::string Folder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&Folder), &info) == 0 || !info.dli_fname) return ".";
  std::string path = info.dli_fname;
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void* Symbol(const std::string& name, const char* symbol) {
  std::string reason;
  void* handle = open(name, reason);
  if (!handle) throw Error(hr::kCannotCreate, "Quillon.LazyModule", reason);
  void* address = ::dlsym(handle, symbol);
  if (!address) {
    throw Error(hr::kCannotCreate, "Quillon.LazyModule",
                std::string("module libquillon_") + name + ".so does not export " + symbol);
  }
  return address;
}

bool Available(const std::string& name, const char* symbol) {
  try {
    return Symbol(name, symbol) != nullptr;
  } catch (...) {
    return false;
  }
}

}  // namespace quillon::LazyModule
