#include "foundation/Site.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>
#include <vector>

#include "foundation/General.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/DatabaseAdmin.h"
#include "platform/Directory.h"
#include "platform/Error.h"
#include "platform/Text.h"

#ifndef QUILLON_DATA_DIR
#define QUILLON_DATA_DIR "data"
#endif

namespace fs = std::filesystem;

namespace quillon {

namespace {

const char* kSource = "Quillon.Site";
// The address of a new site (SiteLink, attachment URLs).
const char* kHostName = "localhost";
const char* kApplicationDirectory = "quillon";

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw Error(hr::kFileNotFound, kSource, "Cannot read the file '" + p.string() + "'.");
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Everything of a site is its owner's alone: the database holds send-method
// passwords, the directory password hashes. Modes are set explicitly, so
// the umask of the installing process does not matter.
constexpr fs::perms kPrivateFolder = fs::perms::owner_all;
constexpr fs::perms kPrivateFile = fs::perms::owner_read | fs::perms::owner_write;

void makePrivate(const fs::path& p, fs::perms perms) {
  std::error_code ec;
  fs::permissions(p, perms, fs::perm_options::replace | fs::perm_options::nofollow, ec);
  if (ec) throw Error(hr::kFail, kSource, "Cannot make '" + p.string() + "' private to its owner: " + ec.message());
}

// Every folder and file below the site folder (not following links).
void makeTreePrivate(const fs::path& dir) {
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_symlink()) continue;
    makePrivate(entry.path(), entry.is_directory() ? kPrivateFolder : kPrivateFile);
  }
}

void writeFile(const fs::path& p, const std::string& content) {
  std::ofstream out(p, std::ios::binary);
  out << content;
  if (!out) throw Error(hr::kFail, kSource, "Cannot write the file '" + p.string() + "'.");
}

// Label files hold one "KEY<TAB>TEXT" per line; "\n" in a text is a line
// break (CR LF), "\t" a tab and "\\" a backslash.
std::string unescapeLabel(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[++i];
      if (n == 'n')
        out += "\r\n";
      else if (n == 't')
        out += '\t';
      else
        out += n;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::vector<std::string>> labelRows(const fs::path& labelsDir) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& entry : fs::directory_iterator(labelsDir)) {
    if (entry.path().extension() != ".tsv") continue;
    std::string locale = entry.path().stem().string();
    if (locale.empty() || locale.find_first_not_of("0123456789") != std::string::npos) continue;
    std::istringstream in(readFile(entry.path()));
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      auto tab = line.find('\t');
      if (tab == std::string::npos)
        throw Error(hr::kFail, kSource,
                    "Line " + std::to_string(number) + " of '" + entry.path().string() + "' has no tab between key and text.");
      rows.push_back({line.substr(0, tab), locale, unescapeLabel(line.substr(tab + 1))});
    }
  }
  return rows;
}

}  // namespace

std::string Site::DataDir() {
  const char* env = std::getenv("QUILLON_DATA");
  return env && *env ? std::string(env) : std::string(QUILLON_DATA_DIR);
}

void Site::Create(const std::string& dirIn, const SiteOptions& options) {
  fs::path dir = fs::absolute(text::LocalPath(dirIn)).lexically_normal();
  std::string d = dir.string();
  if (!d.empty() && d.back() == '/') d.pop_back();
  fs::path data = DataDir();
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw Error(hr::kFail, kSource, "Cannot create the site folder '" + d + "': " + ec.message());
  // Closed before anything is written into it.
  makePrivate(dir, kPrivateFolder);
  if (fs::exists(DatabasePath(d)))
    throw Error(hr::kFail, kSource, "The folder '" + d + "' holds a site already (quillon.db exists).");
  const bool server = !options.database.empty();
  if (server) {
    if (fs::exists(dir / kB2BConfigFileName))
      throw Error(hr::kFail, kSource,
                  "The folder '" + d + "' holds a site already (" + std::string(kB2BConfigFileName) + " exists).");
    if (!DatabaseAdmin::IsPostgreSQL(options.database))
      throw Error(hr::kInvalidArg, kSource,
                  "The site database must be a PostgreSQL database (postgresql://… or Provider=PostgreSQL;…); "
                  "without one the site keeps its SQLite file quillon.db.");
  }
  // Where the site's data lives: the connection string of the site
  // configuration, and how the installer reaches it.
  const std::string database = server ? options.database : DatabasePath(d);
  const std::string connectionString = server ? options.database : "Provider=SQLite;Data Source=quillon.db";

  // Working folders, each named by a portal parameter.
  const std::vector<std::pair<std::string, std::string>> folders = {
      {"AttachmentsFolder", "attachments"},   {"ExcelTempFolder", "excel/temp"},
      {"ExcelTemplatesPath", "excel/templates"}, {"HTMLXSLPath", "xsl/html"},
      {"TransformXSLPath", "xsl/transform"}, {"XMLErrorPath", "xml/error"},
      {"XmlUploadTempDir", "upload"},        {"ErrorPath", "error"},
      {"ObiPath", "obi"},
  };
  std::vector<std::vector<std::string>> params;
  for (const auto& [name, rel] : folders) {
    fs::create_directories(dir / rel);
    // The attachments folder is the one below the installation directory
    // that the virtual path names (an empty parameter says so).
    params.push_back({name, name == "AttachmentsFolder" ? std::string() : d + "/" + rel});
  }
  // The import folders are used as prefixes, so they end with a separator.
  for (const auto& [name, rel] : {std::pair<std::string, std::string>{"XMLPath1", "xml/in1"}, {"XMLPath2", "xml/in2"}}) {
    fs::create_directories(dir / rel);
    params.push_back({name, d + "/" + rel + "/"});
  }
  for (const char* extra : {"log", "plugins", "shares", "edi", "temp"}) fs::create_directories(dir / extra);
  params.push_back({"AdminEmailAddress", "admin@localhost"});
  // Attachments live in the site's own "attachments" folder, found from the
  // installation directory; their URL is built from the host and
  // application directory of the site configuration (below), which match
  // SiteLink.
  params.push_back({"AttachmentsVirtualPath", "/attachments"});
  params.push_back({"EDIDelimiter", "'"});
  params.push_back({"EmailImportForDocumentAttachmentsUserID", ""});
  params.push_back({"EmailImportLocalSMTPServer", "localhost"});
  params.push_back({"EmailImportSMTPUserID", ""});
  params.push_back({"FaxServer", "fax.localhost"});
  params.push_back({"SiteLink", std::string("http://") + kHostName + "/" + kApplicationDirectory});
  params.push_back({"SiteLinkStartingPoint", "/portal/start"});

  // The database first: a PostgreSQL database that cannot take the site
  // (unreachable, not empty) leaves no configuration behind.
  DatabaseAdmin::CreateDatabase(database, readFile(data / (server ? "schema.postgresql.sql" : "schema.sql")));

  // Paths in the configuration files are relative to the site folder, so a
  // copied or moved site works on its own database, directory and shares.
  // An operator may still write an absolute path; it is used as written.
  writeFile(dir / kB2BConfigFileName,
            Configuration::Compose({{"Quillon", connectionString}}, {{"GLOBAL", "B2BLogging", "0"}}));
  writeFile(dir / kSiteConfigFileName, Configuration::Compose({}, {
                                                                      {"GLOBAL", "ReceiveUrl", "http://localhost/quillon/receive"},
                                                                      {"GLOBAL", "IISVirtId", "1"},
                                                                      {"GLOBAL", "NONSECUREHOSTNAME", kHostName},
                                                                      {"GLOBAL", "SECUREHOSTNAME", kHostName},
                                                                      {"GLOBAL", "APPLICATIONDIRECTORY", kApplicationDirectory},
                                                                      {"COMMONPARAMETERS", "SSLMODE", "none"},
                                                                      {"MEMBERSHIP", "MemScriptUser", "cn=quillon-script"},
                                                                      {"MEMBERSHIP", "LDAPRoot", "o=quillon"},
                                                                      {"MEMBERSHIP", "MemScriptCode", ""},
                                                                      {"FILESTORE", "ShareRoot", "shares"},
                                                                      {"TEXTFILES", "AnsiCodePage", "1252"},
                                                                      {"DIRECTORY", "Database", "directory.db"},
                                                                      {"APPLICATIONS", "Portal", "1"},
                                                                      {"APPLICATIONS", "Collaboration", "2"},
                                                                      {"COMMONPARAMETERS", "SiteName", "Quillon"},
                                                                  }));
  writeFile(dir / "log" / "quillon.log", "");

  DatabaseAdmin::InsertRows(database, "COLLABORATIONPARAMETER", {"PARAMNAME", "PARAMVALUE"}, params);
  DatabaseAdmin::InsertRows(database, "I18NTEXT", {"LABEL", "LOCALEID", "TEXT"}, labelRows(data / "labels"));
  const std::string directoryDb = DirectoryAdmin::DatabasePath((dir / kSiteConfigFileName).string());
  DirectoryAdmin::CreateEmpty(directoryDb);

  if (options.sampleData) {
    fs::path sample = data / "sample";
    DatabaseAdmin::InsertRows(database, "DOCUMENTTYPE",
                              {"DOCUMENTTYPEID", "DESCRIPTION", "EXTDESCRIPTION", "ICONFILENAME", "HTMLATTACHMENTXSL",
                               "SHOWACCEPTREJECT"},
                              {{"ORDER", "Purchase order", "Order placed by a buyer", "order.gif", "order.xsl", "1"},
                               {"INVOICE", "Invoice", "Invoice sent by a supplier", "invoice.gif", "", "0"}});
    // Who receives and who may send the demo types.
    DatabaseAdmin::InsertRows(database, "DISTRIBUTIONLIST",
                              {"DOCUMENTTYPEID", "BUSINESSPARTNERID", "USERID", "EMAIL", "HTMLATTACHMENT", "ATTACHMENTS"},
                              {{"ORDER", "200", "bob", "1", "1", "0"},
                               {"ORDER", "200", "carol", "0", "0", "0"},
                               {"ORDER", "300", "dave", "1", "0", "1"},
                               {"INVOICE", "100", "alice", "1", "0", "0"}});
    DatabaseAdmin::InsertRows(database, "SENDERLIST",
                              {"DOCUMENTTYPEID", "BUSINESSPARTNERID", "USERID", "NOTIFICATION", "ATTACHMENTS", "HTMLATTACHMENT"},
                              {{"ORDER", "100", "alice", "1", "0", "1"}, {"INVOICE", "200", "bob", "1", "0", "0"}});
    fs::copy(sample / "xsl", dir / "xsl" / "html", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    fs::copy(sample / "documents", dir / "xml" / "samples",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    DirectoryAdmin::LoadFile(directoryDb, (sample / "directory.tsv").string());
  }
  makeTreePrivate(dir);
}

}  // namespace quillon
