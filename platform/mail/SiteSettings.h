// Reading the current site's settings for the mail and mailbox fronts
// (inside libquillon_platform; no heavy library here).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Configuration.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace quillon::mail::detail {

// The site folder (QUILLON_SITE); raises Error when no site is chosen.
inline std::filesystem::path SiteFolder(const char* source) {
  const char* site = std::getenv(kSiteEnvironmentVariable);
  if (!site || !*site)
    throw Error(hr::kFail, source, std::string("No site is chosen: set ") + kSiteEnvironmentVariable + " to the site directory.");
  return std::filesystem::path(text::LocalPath(site));
}

// The site configuration (SiteConfiguration.xml), loaded afresh.
inline Configuration SiteConfiguration(const std::filesystem::path& site) {
  Configuration config;
  config.Load((site / "SiteConfiguration.xml").string());
  return config;
}

inline std::string Setting(const Configuration& config, const char* section, const char* key) {
  return text::Trim(config.GetValue(section, key).text());
}

// A number setting; "" gives `fallback`, anything not a whole number raises.
inline long NumberSetting(const Configuration& config, const char* section, const char* key, long fallback,
                          const char* source) {
  std::string v = Setting(config, section, key);
  if (v.empty()) return fallback;
  char* end = nullptr;
  long n = std::strtol(v.c_str(), &end, 10);
  if (!end || *end || n < 0 || n > 65535)
    throw Error(hr::kInvalidArg, source,
                std::string("The setting ") + key + " of section " + section + " is '" + v + "'; it must be a port number.");
  return n;
}

// A folder setting: relative paths are taken from the site folder.
inline std::string FolderSetting(const Configuration& config, const char* section, const char* key,
                                 const std::filesystem::path& site, const char* fallback) {
  std::string v = Setting(config, section, key);
  std::filesystem::path p = v.empty() ? std::filesystem::path(fallback) : std::filesystem::path(text::LocalPath(v));
  if (p.is_relative()) p = site / p;
  return p.lexically_normal().string();
}

}  // namespace quillon::mail::detail
