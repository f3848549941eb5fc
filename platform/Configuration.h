// Configuration: the platform configuration service ("Basalt.Configuration").
//
// A configuration file is XML:
//   <configuration>
//     <connectionStrings>
//       <component name="Quillon">Provider=SQLite;Data Source=quillon.db</component>
//     </connectionStrings>
//     <section name="GLOBAL">
//       <key name="B2BLogging">0</key>
//     </section>
//   </configuration>
// Section, key and component names compare without letter case.
//
// Installation records: the product "Z2IZezaza" is installed in the site
// directory chosen by the environment variable QUILLON_SITE (the command
// line's --site sets it). GetInstallationRecords gives a Dictionary whose
// single item is a Dictionary with the key "InstallDir".
//
// Parsed files are kept per thread and shared by the instances of that
// thread; a file is parsed again when it changed on disk (another size,
// modification time or file), so an operator's edit is seen by the next
// Load. Not thread-safe per instance; instances are cheap.
#pragma once

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/Object.h"

namespace quillon {

inline constexpr const char* kProductName = "Z2IZezaza";
inline constexpr const char* kSiteEnvironmentVariable = "QUILLON_SITE";

struct ConfigurationValues;

class Configuration : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // Loads a file (Windows or local path). Raises Error when the file is
  // missing or is not a configuration document.
  void Load(const std::string& path);
  // The value of a key, or Empty when the section or key is absent.
  Variant GetValue(const std::string& section, const std::string& key) const;
  // The connection string of a component; raises Error when absent. A
  // relative "Data Source" is read from the folder of the configuration
  // file (the installer writes the site database that way, so a copied
  // site uses its own); an absolute one is kept as written.
  std::string GetConnectionString(const std::string& component) const;
  // Installation records of a product (Dictionary of Dictionaries with
  // "InstallDir"); raises Error when no site is chosen.
  std::shared_ptr<Dictionary> GetInstallationRecords(const std::string& product) const;

  // Writes a configuration document: used by the site installer.
  static std::string Compose(const std::vector<std::pair<std::string, std::string>>& connectionStrings,
                             const std::vector<std::tuple<std::string, std::string, std::string>>& values);

 private:
  std::string path_;
  std::shared_ptr<const ConfigurationValues> values_;  // shared with the thread's cache
};

}  // namespace quillon
