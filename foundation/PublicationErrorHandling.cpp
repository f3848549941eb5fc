#include "foundation/PublicationErrorHandling.h"
#include "foundation/SqlNames.h"
#include "foundation/ConnectionScope.h"

#include <vector>

#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/Lookups.h"
#include "platform/Database.h"
#include "platform/Object.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"

namespace quillon::PublicationErrorHandling {

using General::Guarded;

namespace {

constexpr long kMaxSourceLength = 255;

// Closes the connection when the operation leaves, on success and on failure.
std::int32_t writeRow(std::int32_t docID, std::int32_t errorNumber, const std::string& description,
                      const std::string& source, const std::string& label, const DomDocument* replacements) {
  if (Lookups::FirstValue("SELECT DOCUMENTTYPEID FROM DOCUMENT WHERE DOCUMENTID = " + Encoding::SqlLong(docID))
          .text()
          .empty())
    return 0;

  ConnectionScope conn;
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  rs->Open("SELECT * FROM PUBLICATIONERRORS WHERE PUBLICATIONERRORID=-1", conn.get(), ado::adOpenKeyset,
           ado::adLockOptimistic);
  rs->AddNew();
  rs->Fields("DOCUMENTID").SetValue(Variant(docID));
  rs->Fields("ERRORNUMBER").SetValue(Variant(errorNumber));
  rs->Fields("DESCRIPTION").SetValue(Variant(description));
  rs->Fields("SOURCE").SetValue(Variant(text::Left(source, kMaxSourceLength)));
  if (!label.empty()) rs->Fields("LABEL").SetValue(Variant(label));
  rs->Fields("CREATIONDATE").SetValue(Variant(formatOleDate(oleNow())));
  if (replacements) rs->Fields("REPLACEMENTS").SetValue(Variant(replacements->xml()));
  rs->Update();
  std::int32_t id = rs->Fields("PUBLICATIONERRORID").Value().toInt32();
  rs->Close();
  return id;
}

}  // namespace

std::int32_t LogPublicationError(std::int32_t docID, std::int32_t errorNumber, const std::string& description,
                                 const std::string& source, const std::string& label) {
  return Guarded("Quillon.PublicationErrorHandlingLogPublicationError",
                 [&] { return writeRow(docID, errorNumber, description, source, label, nullptr); });
}

std::int32_t LogPublicationError(std::int32_t docID, std::int32_t errorNumber, const std::string& description,
                                 const std::string& source, const std::string& label,
                                 const std::shared_ptr<DomDocument>& replacements) {
  return Guarded("Quillon.General.LogPublicationError",
                 [&] { return writeRow(docID, errorNumber, description, source, label, replacements.get()); });
}

std::shared_ptr<DomDocument> NewReplacementsDocument() {
  return Guarded("Quillon.PublicationErrorHandling.NewReplacementsDocument", [] {
    auto doc = std::make_shared<DomDocument>();
    doc->appendChild(doc->createElement("REPS"));
    return doc;
  });
}

void AddReplacement(const std::shared_ptr<DomDocument>& document, const std::string& name, const std::string& value) {
  Guarded("Quillon.PublicationErrorHandling.AddReplacement", [&] {
    auto root = document ? document->documentElement() : nullptr;
    if (!root)
      throw Error(hr::kObjectRequired, "Quillon.PublicationErrorHandling.AddReplacement",
                  "Object required: the replacements document has no root element.");
    auto element = document->createElement("REP");
    element->appendChild(document->createTextNode(value));
    element->setAttribute("name", name);
    root->appendChild(element);
  });
}

void AddReplacements(std::shared_ptr<DomDocument>& document, const std::shared_ptr<Dictionary>& replacements) {
  Guarded("Quillon.PublicationErrorHandling.AddReplacements", [&] {
    auto root = document ? document->documentElement() : nullptr;
    if (!root || text::Trim(root->nodeName()) != "REPS") document = NewReplacementsDocument();
    if (!replacements) return;
    for (long i = 0; i < replacements->Count(); ++i) {
      const auto& [name, item] = replacements->entry(i);
      AddReplacement(document, name, item.text());
    }
  });
}

void GetReplacementsFromTable(std::shared_ptr<Dictionary>& replacements, const std::string& table,
                              std::int32_t errorID) {
  Guarded("Quillon.PublicationErrorHandling.GetReplacementsFromTable", [&] {
    if (!SqlNames::IsPlainTableName(table))
      throw Error(InvalidParamValue, "Quillon.PublicationErrorHandling.GetReplacementsFromTable",
                  "'" + table + "' is not a table name (letters, digits and underscores, optionally with the "
                  "prefix \"dbo.\").");
    if (!replacements) replacements = std::make_shared<Dictionary>();

    std::string stored;
    {
      ConnectionScope conn;
      auto rs = conn.get()->Execute(" SELECT REPLACEMENTS FROM " + table +
                                    " WHERE PUBLICATIONERRORID = " + Encoding::SqlLong(errorID));
      if (!rs->EOF_()) stored = rs->Fields(0).Value().text();  // Null reads as ""
      rs->Close();
    }
    if (text::Trim(stored).empty()) return;

    auto dom = std::make_shared<DomDocument>();
    // The values are data written by AddReplacements: blanks around them are theirs.
    dom->setPreserveWhiteSpace(true);
    if (!dom->loadXML(stored)) return;  // a damaged text holds no replacements
    const auto reps = dom->selectNodes("//REP");
    for (const auto& node : reps->nodes())
      replacements->Add(node->getAttribute("name"), Variant(node->text()));
  });
}

void CloseSelectedErrors(const std::string& selectSql) {
  ConnectionScope conn;
  auto rs = OpenForUpdate(selectSql, conn.get());
  while (!rs->EOF_()) {
    Field& closed = rs->Fields("CLOSED");
    closed.SetValue(Variant(closed.Value().toInt32() | 1));
    rs->Update();
    rs->MoveNext();
  }
  rs->Close();
}

void CloseErrorsOfCategory(std::int32_t docID, const std::string& category) {
  // Category labels of the errors each category closes.
  static const std::vector<std::string> kCannotPublish = {"SLBSH0008", "SLBSH4475", "SLBSH4476",
                                                          "SLBSH4477", "SLBSH4478", "SLBSH4479",
                                                          "SLBSH4480", "SLBSH4481", "SLBSH4482"};
  static const std::vector<std::string> kSelectRecipients = {"SLBSH0008", "SLBSH4476"};
  const std::string lower = text::LCase(category);
  const std::vector<std::string>* labels = nullptr;
  if (lower == "cannotpublish")
    labels = &kCannotPublish;
  else if (lower == "selectrecipients")
    labels = &kSelectRecipients;
  else
    throw Error(InvalidParamValue, "Quillon.Collaboration.ClosePublicationErrorsForOneCategory",
                "Not supported Category : " + category);
  std::string sql = std::string(" SELECT * FROM PUBLICATIONERRORS") + " WHERE DOCUMENTID = " + Encoding::SqlLong(docID) +
                    " AND   CLOSED IN (0,2,4,6) " + " AND ( LABEL = ";
  for (std::size_t i = 0; i < labels->size(); ++i) {
    if (i > 0) sql += std::string(" OR ") + "       LABEL = ";
    sql += Encoding::SqlText((*labels)[i]);
  }
  sql += ")";
  CloseSelectedErrors(sql);
}

// ---- by-name access for operators ------------------------------------------

namespace {

class PublicationErrorHandlingModule : public Object {
 public:
  const ClassInfo* classInfo() const override { return info; }
  static inline const ClassInfo* info = nullptr;
};

// A replacements document given as a DOM document or, from the command
// line, as its XML text; a blank text is no document.
struct ReplacementsArgument : std::shared_ptr<DomDocument> {
  ReplacementsArgument() = default;
  ReplacementsArgument(std::shared_ptr<DomDocument> d) : std::shared_ptr<DomDocument>(std::move(d)) {}
};

}  // namespace
}  // namespace quillon::PublicationErrorHandling

namespace quillon {
template <>
struct Convert<PublicationErrorHandling::ReplacementsArgument> {
  static PublicationErrorHandling::ReplacementsArgument from(const Variant& v) {
    if (v.isString() && text::Trim(v.toString()).empty()) return {};
    if (v.isString()) {
      auto doc = std::make_shared<DomDocument>();
      if (!doc->loadXML(v.toString()))
        throw Error(doc->parseError().errorCode, "Quillon.PublicationErrorHandling",
                    "The replacements XML could not be parsed: " + doc->parseError().reason);
      return doc;
    }
    return Convert<std::shared_ptr<DomDocument>>::from(v);
  }
  static Variant to(const PublicationErrorHandling::ReplacementsArgument& d) {
    return Convert<std::shared_ptr<DomDocument>>::to(d);
  }
  static std::string name() { return "DomDocument"; }
};
}  // namespace quillon

namespace quillon::PublicationErrorHandling {
namespace {

const bool kRegistered = [] {
  using M = PublicationErrorHandlingModule;
  M::info =
      ClassBuilder<M>("Quillon.PublicationErrorHandling")
          // Without replacements the five-argument form runs, as an in-process caller's would.
          .bind("LogPublicationError", {"docID", "errorNumber", "description", "source", "label", opt("replacements", Variant())},
                [](M&, std::int32_t docID, std::int32_t number, const std::string& description, const std::string& source,
                   const std::string& label, const Variant& replacements) {
                  if (replacements.isEmpty()) return LogPublicationError(docID, number, description, source, label);
                  return LogPublicationError(docID, number, description, source, label,
                                             Convert<ReplacementsArgument>::from(replacements));
                })
          .bind<&NewReplacementsDocument>("NewReplacementsDocument")
          .bind<&AddReplacement, void(ReplacementsArgument, std::string, std::string)>(
              "AddReplacement", {ref("document"), "name", "value"})
          .bind<&AddReplacements, void(ReplacementsArgument&, std::shared_ptr<Dictionary>)>(
              "AddReplacements", {"document", "replacements"})
          .bind<&GetReplacementsFromTable>("GetReplacementsFromTable", {"replacements", "table", "errorID"})
          .done(Registry::operatorModules());
  return true;
}();

}  // namespace
}  // namespace quillon::PublicationErrorHandling
