#include "platform/Plugins.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "platform/Configuration.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace quillon::Plugins {

namespace {

// Recursive: a plug-in's registration may itself create objects.
std::recursive_mutex& loaderMutex() {
  static std::recursive_mutex m;
  return m;
}

// Path → "" when loaded, or the reason it failed. Libraries stay loaded for
// the life of the process: their classes are in the registry.
std::map<std::string, std::string>& libraries() {
  static std::map<std::string, std::string> loaded;
  return loaded;
}

std::string load(const std::string& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = ::dlerror();
    return "cannot open " + path + ": " + (e ? e : "unknown reason");
  }
  using AbiFn = int (*)();
  using RegisterFn = void (*)();
  auto abi = reinterpret_cast<AbiFn>(::dlsym(handle, "quillon_plugin_abi"));
  auto reg = reinterpret_cast<RegisterFn>(::dlsym(handle, "quillon_plugin_register"));
  if (!abi || !reg) {
    ::dlclose(handle);
    return path + " is not a plug-in: it lacks quillon_plugin_abi or quillon_plugin_register";
  }
  int version = abi();
  if (version != QUILLON_PLUGIN_ABI) {
    ::dlclose(handle);
    return path + " was built for plug-in interface " + std::to_string(version) + ", this component has " +
           std::to_string(QUILLON_PLUGIN_ABI);
  }
  reg();
  return {};
}

}  // namespace

std::string Folder() {
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (!site || !*site) return {};
  return text::LocalPath(site) + "/plugins";
}

std::string LoadSitePlugins() {
  std::string folder = Folder();
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) return {};
  std::vector<std::string> candidates;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file(ec) && entry.path().extension() == ".so") candidates.push_back(entry.path().string());
  std::sort(candidates.begin(), candidates.end());

  std::lock_guard<std::recursive_mutex> lock(loaderMutex());
  std::string problems;
  for (const auto& path : candidates) {
    auto [it, fresh] = libraries().emplace(path, std::string());
    if (fresh) it->second = load(path);
    if (!it->second.empty()) problems += (problems.empty() ? "" : "; ") + it->second;
  }
  return problems;
}

}  // namespace quillon::Plugins
