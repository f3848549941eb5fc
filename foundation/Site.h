// Site: the installer that creates a complete site directory.
//
// A site holds both configuration files, the SQLite database "quillon.db"
// with the schema and the label texts, the working folders with the
// COLLABORATIONPARAMETER rows that point at them, and the log. The
// component never creates tables; only this installer does.
#pragma once

#include <string>

namespace quillon {

struct SiteOptions {
  bool sampleData = false;  // demo document types, documents and style sheets
};

class Site {
 public:
  // Creates the site in `dir` (created when missing; it must not hold a
  // site already). Raises Error with a clear text on any failure.
  static void Create(const std::string& dir, const SiteOptions& options = {});
  // The folder with schema.sql, labels/ and sample/: the environment
  // variable QUILLON_DATA, else the data folder of the source tree.
  static std::string DataDir();
  static std::string DatabasePath(const std::string& dir) { return dir + "/quillon.db"; }
  static std::string ConnectionString(const std::string& dir) { return "Provider=SQLite;Data Source=" + DatabasePath(dir); }
};

}  // namespace quillon
