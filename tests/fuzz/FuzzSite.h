// Support for the fuzz targets whose code reads labels or parameters: a
// real site, made by the installer in a temporary folder once per process
// and removed when the process ends.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "foundation/General.h"
#include "foundation/Site.h"
#include "platform/Configuration.h"

namespace quillon::fuzz {

inline void UseTemporarySite() {
  static std::string dir;
  if (!dir.empty()) return;
  char tmpl[] = "/tmp/quillon-fuzz-XXXXXX";
  if (!::mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    std::abort();
  }
  dir = tmpl;
  Site::Create(dir);
  ::setenv(kSiteEnvironmentVariable, dir.c_str(), 1);
  General::ResetThreadState();
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  });
}

}  // namespace quillon::fuzz
