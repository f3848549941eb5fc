// `quillon demo`: a sample site created on the spot, a few documents
// published through PublishCreateDocument as the portal would, and a
// report of what became of each: its id, type, sender and recipients, the
// deliveries, the notification mails, the error box and, for a refused
// document, the administrator's mail and the copy kept in the error folder.
//
// The site's mail service has no relay, so every mail (notifications,
// deliveries by e-mail, the administrator's) is a file in SITE/mail/pickup;
// the demo reads back what each publication added there.
#include "cli/DemoCommand.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "delivery/SendMethod.h"
#include "document/OBI.h"
#include "foundation/DBUtils.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/Site.h"
#include "foundation/TSendMethodProperties.h"
#include "notification/Notification.h"
#include "platform/Configuration.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "platform/Mail.h"
#include "platform/Text.h"
#include "publication/PublishCreateDocument.h"
#include "publication/Utility.h"

namespace fs = std::filesystem;

namespace quillon::cli {
namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(hr::kFail, "quillon demo", "Cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The data lines of a tab-separated file, split; comments and blank lines skipped.
std::vector<std::vector<std::string>> tsvRows(const fs::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(readFile(path));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    rows.push_back(std::move(fields));
  }
  return rows;
}

std::string unescapeLines(std::string text) {
  for (std::size_t at; (at = text.find("\\n")) != std::string::npos;) text.replace(at, 2, "\n");
  return text;
}

// Every line of a text indented, for a block under a heading.
std::string indented(const std::string& text, const std::string& by) {
  std::string out = by;
  for (char c : text) {
    if (c == '\r') continue;
    out += c;
    if (c == '\n') out += by;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
  return out;
}

// The files below a folder, relative to it.
std::set<std::string> filesBelow(const fs::path& folder) {
  std::set<std::string> files;
  std::error_code ec;
  if (!fs::exists(folder, ec)) return files;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file()) files.insert(fs::relative(it->path(), folder).string());
  return files;
}

std::vector<std::string> added(const std::set<std::string>& before, const std::set<std::string>& after) {
  std::vector<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  return added;
}

std::vector<std::vector<std::string>> rows(const std::string& sql, int columns) {
  std::vector<std::vector<std::string>> all;
  auto rs = DBUtils::getDisconnectedReadOnlyRecordSet(sql);
  for (; !rs->EOF_(); rs->MoveNext()) {
    std::vector<std::string> row;
    for (int c = 0; c < columns; ++c) row.push_back(rs->Fields(c).Value().text());
    all.push_back(std::move(row));
  }
  DBUtils::CloseRecordset(rs);
  return all;
}

// The text the intake refused a document with, without the layers the
// publishing calls wrapped around it.
std::string refusal(const std::string& description) {
  const std::string marker = "Quillon.Document.ProcessDocument caught: ";
  std::size_t at = description.find(marker);
  if (at == std::string::npos) return description;
  at += marker.size();
  std::size_t end = description.find("(8004", at);
  return description.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The site, its folders and what the publications leave in them.
struct DemoSite {
  fs::path dir;
  fs::path pickup() const { return dir / "mail" / "pickup"; }
  fs::path errors() const { return dir / "xml" / "error"; }
  fs::path outbox() const { return dir / "outbox"; }
  std::vector<std::string> deliveryAddresses;  // of the e-mail send methods
};

void loadTemplates(const fs::path& file) {
  Notification notification;
  for (const auto& f : tsvRows(file)) {
    if (f.size() != 5) throw Error(hr::kFail, "quillon demo", "A template line needs 5 fields: " + file.string());
    notification.AddNotificationTemplate(f[0], std::stoi(f[1]), static_cast<std::uint8_t>(std::stoi(f[2])), f[3],
                                         unescapeLines(f[4]), false, false);
  }
}

// One send method per line, routed for ORDER documents of its partner.
std::vector<std::string> loadSendMethods(const fs::path& file, DemoSite& site) {
  std::vector<std::string> told;
  SendMethod methods;
  Utility utility;
  for (const auto& f : tsvRows(file)) {
    if (f.size() != 3) throw Error(hr::kFail, "quillon demo", "A send-method line needs 3 fields: " + file.string());
    const std::int32_t partner = std::stoi(f[0]);
    TSendMethodProperties p;
    p.bAutoPush = true;
    p.nFormat = ESendMethodFormat::XML;
    p.sFileExtension = "xml";
    p.nSuffix = ESendMethodSuffix::None;
    p.nFileFormat = ESendMethodFileFormat::ASCII;
    std::string where;
    if (f[1] == "FilePath") {
      p.nProtocol = ESendMethodProtocol::FilePath;
      fs::create_directories(site.dir / f[2]);
      p.sAddress = (site.dir / f[2]).string();
      where = "files in " + f[2] + "/";
    } else if (f[1] == "Email") {
      p.nProtocol = ESendMethodProtocol::Email;
      p.sAddress = f[2];
      site.deliveryAddresses.push_back(f[2]);
      where = "e-mail to " + f[2];
    } else {
      throw Error(hr::kFail, "quillon demo", "Unknown protocol '" + f[1] + "' in " + file.string());
    }
    const std::int32_t id = methods.AddSendMethodProperties3(p, {"False", "", ""});
    methods.AddSendMethod2(id, partner, "ORDER", -1);
    told.push_back(utility.GetBusinessPartnerName(partner) + " (" + f[0] + ") receives orders as " + where);
  }
  return told;
}

// Who a user is, for the report: "bob (Borealis Retail)".
std::string userShown(Utility& utility, const std::string& user) {
  try {
    return user + " (" + utility.GetBusinessPartnerName(utility.GetAUBusinessPartnerID(user)) + ")";
  } catch (...) {
    return user;
  }
}

void reportDocument(std::ostream& out, std::int32_t docID) {
  Utility utility;
  const std::string id = std::to_string(docID);
  const auto doc = rows("SELECT DOCUMENTTYPEID, SENDER FROM DOCUMENT WHERE DOCUMENTID = " + id, 2);
  if (doc.empty()) return;
  out << "   document " << id << ": " << utility.GetDocumentTypeDescription(doc[0][0]) << " (" << doc[0][0]
      << ") from " << userShown(utility, doc[0][1]) << "\n";
  std::string recipients;
  for (const auto& r : rows("SELECT USERID FROM PUBLICATION WHERE DOCUMENTID = " + id + " ORDER BY USERID", 1))
    recipients += (recipients.empty() ? "" : ", ") + userShown(utility, r[0]);
  out << "   published to: " << (recipients.empty() ? "nobody" : recipients) << "\n";
  for (const auto& h :
       rows("SELECT H.BUSINESSPARTNERID, P.PROTOCOL, P.ADDRESS, H.Status FROM SENDMETHODHISTORY H "
            "JOIN SENDMETHODPROPERTY P ON P.SENDMETHODID = H.SENDMETHODID WHERE H.DOCUMENTID = " + id +
                " ORDER BY H.HISTORYID",
            4)) {
    const bool file = h[1] == std::to_string(static_cast<int>(ESendMethodProtocol::FilePath));
    const bool sent = h[3] == std::to_string(SendMethod().getSendMethodStatus_SENT());
    out << "   " << (sent ? "delivered to " : "NOT delivered to ") << utility.GetBusinessPartnerName(std::stoi(h[0]))
        << " by " << (file ? "file path" : "e-mail") << " (" << h[2] << ")\n";
  }
}

void reportErrorBox(std::ostream& out, std::int32_t docID) {
  const auto errors = rows("SELECT LABEL, DESCRIPTION FROM PUBLICATIONERRORS WHERE DOCUMENTID = " +
                               std::to_string(docID) + " ORDER BY PUBLICATIONERRORID",
                           2);
  if (errors.empty()) {
    out << "   error box: empty\n";
    return;
  }
  out << "   error box:\n";
  for (const auto& e : errors) {
    std::string first = e[1].substr(0, e[1].find_first_of("\r\n"));
    out << "     - " << I18N::GetLabel(e[0]) << " " << first << "\n";
  }
}

// The mails a publication wrote: deliveries and notifications one line
// each, the administrator's whole.
void reportMails(std::ostream& out, const DemoSite& site, const std::vector<std::string>& files,
                 const std::string& admin) {
  // Deliveries first, then notifications, then the administrator's; the
  // pickup names order mails only by the second they were written in.
  struct Written {
    int kind;  // 0 delivery, 1 notification, 2 administrator
    std::string name;
    mail::ReceivedMail mail;
  };
  std::vector<Written> mails;
  for (const std::string& name : files) {
    mail::ReceivedMail m = mail::ParseMail(readFile(site.pickup() / name));
    const bool delivery = std::any_of(site.deliveryAddresses.begin(), site.deliveryAddresses.end(),
                                      [&](const std::string& a) { return m.to.find(a) != std::string::npos; });
    const int kind = m.to.find(admin) != std::string::npos ? 2 : delivery ? 0 : 1;
    mails.push_back({kind, name, std::move(m)});
  }
  std::stable_sort(mails.begin(), mails.end(), [](const Written& a, const Written& b) {
    return a.kind != b.kind ? a.kind < b.kind : a.mail.to < b.mail.to;
  });
  for (const Written& w : mails) {
    const mail::ReceivedMail& m = w.mail;
    if (w.kind == 2) {
      out << "   administrator mail (mail/pickup/" << w.name << "):\n"
          << "     To: " << m.to << "\n     Subject: " << m.subject << "\n"
          << indented(m.body, "     | ") << "\n";
      continue;
    }
    out << "   " << (w.kind == 0 ? "delivery" : "notification") << " mail to " << m.to << ": \"" << m.subject << "\"";
    for (std::size_t i = 0; i < m.attachments.size(); ++i) out << (i == 0 ? " with " : ", ") << m.attachments[i].name;
    out << "\n";
  }
}

struct Sample {
  std::string file, title;
  bool obi = false;
};

}  // namespace

int RunDemo(const std::string& requested, std::ostream& out) {
  const auto started = std::chrono::steady_clock::now();
  std::string dir = requested;
  if (dir.empty()) {
    char tmpl[] = "/tmp/quillon-demo-XXXXXX";
    if (!::mkdtemp(tmpl)) {
      out << "quillon demo: cannot create a temporary folder\n";
      return 3;
    }
    dir = tmpl;
  }
  try {
    DemoSite site{fs::absolute(dir).lexically_normal()};
    std::string abs = site.dir.string();
    if (abs.size() > 1 && abs.back() == '/') abs.pop_back();
    site.dir = abs;
    SiteOptions options;
    options.sampleData = true;
    Site::Create(abs, options);
    ::setenv(kSiteEnvironmentVariable, abs.c_str(), 1);
    General::ResetThreadState();

    const fs::path data = fs::path(Site::DataDir()) / "sample" / "demo";
    loadTemplates(data / "templates.tsv");
    const std::vector<std::string> routes = loadSendMethods(data / "sendmethods.tsv", site);
    const std::string admin = DBUtils::GetParameter("AdminEmailAddress");

    out << "Quillon demo site: " << abs << " (SQLite database quillon.db)\n"
        << "  partners, users, document types, distribution and sender lists: the sample site\n"
        << "  notification templates: " << tsvRows(data / "templates.tsv").size()
        << " defaults (a recipient's mail and the sender's)\n";
    for (const std::string& r : routes) out << "  " << r << "\n";
    out << "  mail goes to the pickup folder mail/pickup (no relay configured)\n\n";

    const std::vector<Sample> samples = {{"valid-order.xml", "a valid order"},
                                         {"unknown-receiver.xml", "an order naming an unknown receiver"},
                                         {"malformed.xml", "a malformed document"},
                                         {"obi-order.xml", "an OBI envelope", true}};
    int n = 0;
    for (const Sample& sample : samples) {
      const std::string xml = readFile(data / sample.file);
      out << ++n << ". " << sample.title << " (" << sample.file << ")\n";
      const auto mailsBefore = filesBelow(site.pickup());
      const auto errorsBefore = filesBelow(site.errors());
      const auto outboxBefore = filesBelow(site.outbox());
      std::int32_t docID = 0;
      try {
        PublishCreateDocument publisher;
        if (sample.obi) {
          std::string envelope;
          OBI().ConstructObiObject(std::string("\x03\x00", 2), EObiLanguage::XML, xml, std::string(1, '\0'), envelope);
          docID = publisher.PublishObiDocument(envelope, true);
        } else {
          docID = publisher.MainX(xml);
        }
        out << "   published\n";
        reportDocument(out, docID);
      } catch (const Error& e) {
        out << "   refused (error 0x" << hexNumber(e.number()) << "):\n"
            << indented(refusal(e.description()), "     ") << "\n";
      }
      for (const std::string& f : added(outboxBefore, filesBelow(site.outbox())))
        out << "   file written: outbox/" << f << "\n";
      reportMails(out, site, added(mailsBefore, filesBelow(site.pickup())), admin);
      for (const std::string& f : added(errorsBefore, filesBelow(site.errors())))
        out << "   input kept in the error folder: xml/error/" << f << "\n";
      if (docID != 0) reportErrorBox(out, docID);
      out << "\n";
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char took[64];
    std::snprintf(took, sizeof took, "%.1f", seconds);
    out << "Done in " << took << " s. Look around: " << abs << "\n";
    return 0;
  } catch (...) {
    const ErrorInfo e = ErrorInfo::current();
    out << "quillon demo failed: " << e.description << " (" << e.source << ")\n";
    return 3;
  }
}

}  // namespace quillon::cli
