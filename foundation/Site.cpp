#include "foundation/Site.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>
#include <vector>

#include "foundation/General.h"
#include "platform/Configuration.h"
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

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw Error(hr::kFileNotFound, kSource, "Cannot read the file '" + p.string() + "'.");
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
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
  if (fs::exists(DatabasePath(d)))
    throw Error(hr::kFail, kSource, "The folder '" + d + "' holds a site already (quillon.db exists).");

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
    params.push_back({name, d + "/" + rel});
  }
  // The import folders are used as prefixes, so they end with a separator.
  for (const auto& [name, rel] : {std::pair<std::string, std::string>{"XMLPath1", "xml/in1"}, {"XMLPath2", "xml/in2"}}) {
    fs::create_directories(dir / rel);
    params.push_back({name, d + "/" + rel + "/"});
  }
  for (const char* extra : {"log", "plugins", "shares", "edi", "temp"}) fs::create_directories(dir / extra);
  params.push_back({"AdminEmailAddress", "admin@localhost"});
  params.push_back({"AttachmentsVirtualPath", "/attachments"});
  params.push_back({"EDIDelimiter", "'"});
  params.push_back({"EmailImportForDocumentAttachmentsUserID", ""});
  params.push_back({"EmailImportLocalSMTPServer", "localhost"});
  params.push_back({"EmailImportSMTPUserID", ""});
  params.push_back({"FaxServer", "fax.localhost"});
  params.push_back({"SiteLink", "http://localhost/quillon"});
  params.push_back({"SiteLinkStartingPoint", "/portal/start"});

  writeFile(dir / kB2BConfigFileName,
            Configuration::Compose({{"Quillon", ConnectionString(d)}}, {{"GLOBAL", "B2BLogging", "0"}}));
  writeFile(dir / kSiteConfigFileName, Configuration::Compose({}, {
                                                                      {"GLOBAL", "ReceiveUrl", "http://localhost/quillon/receive"},
                                                                      {"GLOBAL", "IISVirtId", "1"},
                                                                      {"MEMBERSHIP", "MemScriptUser", "cn=quillon-script"},
                                                                      {"MEMBERSHIP", "LDAPRoot", "o=quillon"},
                                                                      {"MEMBERSHIP", "MemScriptCode", ""},
                                                                      {"FILESTORE", "ShareRoot", d + "/shares"},
                                                                      {"TEXTFILES", "AnsiCodePage", "1252"},
                                                                      {"DIRECTORY", "Database", d + "/directory.db"},
                                                                      {"APPLICATIONS", "Portal", "1"},
                                                                      {"APPLICATIONS", "Collaboration", "2"},
                                                                      {"COMMONPARAMETERS", "SiteName", "Quillon"},
                                                                  }));
  writeFile(dir / "log" / "quillon.log", "");

  DatabaseAdmin::CreateDatabase(DatabasePath(d), readFile(data / "schema.sql"));
  DatabaseAdmin::InsertRows(DatabasePath(d), "COLLABORATIONPARAMETER", {"PARAMNAME", "PARAMVALUE"}, params);
  DatabaseAdmin::InsertRows(DatabasePath(d), "I18NTEXT", {"LABEL", "LOCALEID", "TEXT"}, labelRows(data / "labels"));
  const std::string directoryDb = DirectoryAdmin::DatabasePath((dir / kSiteConfigFileName).string());
  DirectoryAdmin::CreateEmpty(directoryDb);

  if (options.sampleData) {
    fs::path sample = data / "sample";
    DatabaseAdmin::InsertRows(DatabasePath(d), "DOCUMENTTYPE",
                              {"DOCUMENTTYPEID", "DESCRIPTION", "EXTDESCRIPTION", "ICONFILENAME", "HTMLATTACHMENTXSL",
                               "SHOWACCEPTREJECT"},
                              {{"ORDER", "Purchase order", "Order placed by a buyer", "order.gif", "order.xsl", "1"},
                               {"INVOICE", "Invoice", "Invoice sent by a supplier", "invoice.gif", "", "0"}});
    // Who receives and who may send the demo types.
    DatabaseAdmin::InsertRows(DatabasePath(d), "DISTRIBUTIONLIST",
                              {"DOCUMENTTYPEID", "BUSINESSPARTNERID", "USERID", "EMAIL", "HTMLATTACHMENT", "ATTACHMENTS"},
                              {{"ORDER", "200", "bob", "1", "1", "0"},
                               {"ORDER", "200", "carol", "0", "0", "0"},
                               {"ORDER", "300", "dave", "1", "0", "1"},
                               {"INVOICE", "100", "alice", "1", "0", "0"}});
    DatabaseAdmin::InsertRows(DatabasePath(d), "SENDERLIST",
                              {"DOCUMENTTYPEID", "BUSINESSPARTNERID", "USERID", "NOTIFICATION", "ATTACHMENTS", "HTMLATTACHMENT"},
                              {{"ORDER", "100", "alice", "1", "0", "1"}, {"INVOICE", "200", "bob", "1", "0", "0"}});
    fs::copy(sample / "xsl", dir / "xsl" / "html", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    fs::copy(sample / "documents", dir / "xml" / "samples",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    DirectoryAdmin::LoadFile(directoryDb, (sample / "directory.tsv").string());
  }
}

}  // namespace quillon
