#include "foundation/PublicationErrorHandling.h"
#include "foundation/SqlNames.h"
#include "foundation/ConnectionScope.h"

#include "document/Document.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "platform/Database.h"
#include "platform/Object.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"

namespace quillon::PublicationErrorHandling {

using General::Guarded;

namespace {

constexpr long kMaxSourceLength = 255;

// Closes the connection when the operation leaves, on success and on failure.
std::int32_t writeRow(std::int32_t docID, std::int32_t errorNumber, const std::string& description,
                      const std::string& source, const std::string& label, const DomDocument* replacements) {
  auto document = std::make_shared<Document>();
  if (document->GetDocumentTypeOfDocument(docID).empty()) return 0;

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
    dom->loadXML(stored);
    auto utility = std::make_shared<Utility>();
    auto nodes = utility->ExecuteXSLPatternReturnAllNodes(dom, "//REP");
    if (!nodes) return;
    for (const auto& node : nodes->nodes()) replacements->Add(node->getAttribute("name"), Variant(node->text()));
  });
}

// ---- by-name access for operators and scripts ------------------------------------------

namespace {

class PublicationErrorHandlingModule : public Object {
 public:
  const ClassInfo* classInfo() const override { return info; }
  static inline const ClassInfo* info = nullptr;
};

// A replacements document given as a DOM document or, from the command
// line, as its XML text.
std::shared_ptr<DomDocument> documentArgument(const Variant& v) {
  if (auto doc = v.as<DomDocument>()) return doc;
  if (v.isString() && !text::Trim(v.toString()).empty()) {
    auto doc = std::make_shared<DomDocument>();
    if (!doc->loadXML(v.toString()))
      throw Error(doc->parseError().errorCode, "Quillon.PublicationErrorHandling",
                  "The replacements XML could not be parsed: " + doc->parseError().reason);
    return doc;
  }
  return nullptr;
}

Variant documentVariant(const std::shared_ptr<DomDocument>& doc) {
  return doc ? Variant(doc) : Variant(std::shared_ptr<Object>());
}

const bool kRegistered = [] {
  using M = PublicationErrorHandlingModule;
  using A = std::vector<Variant>;
  M::info =
      ClassBuilder<M>("Quillon.PublicationErrorHandling")
          .method("LogPublicationError",
                  {in("docID"), in("errorNumber"), in("description"), in("source"), in("label"),
                   opt("replacements", Variant())},
                  [](M&, A& a) {
                    if (a[5].isEmpty())
                      return Variant(LogPublicationError(a[0].toInt32(), a[1].toInt32(), a[2].text(), a[3].text(),
                                                         a[4].text()));
                    return Variant(LogPublicationError(a[0].toInt32(), a[1].toInt32(), a[2].text(), a[3].text(),
                                                       a[4].text(), documentArgument(a[5])));
                  })
          .method("NewReplacementsDocument", {}, [](M&, A&) { return Variant(NewReplacementsDocument()); })
          .method("AddReplacement", {ref("document"), in("name"), in("value")},
                  [](M&, A& a) {
                    auto doc = documentArgument(a[0]);
                    AddReplacement(doc, a[1].text(), a[2].text());
                    a[0] = documentVariant(doc);
                    return Variant();
                  })
          .method("AddReplacements", {ref("document"), in("replacements")},
                  [](M&, A& a) {
                    auto doc = documentArgument(a[0]);
                    AddReplacements(doc, a[1].as<Dictionary>());
                    a[0] = documentVariant(doc);
                    return Variant();
                  })
          .method("GetReplacementsFromTable", {ref("replacements"), in("table"), in("errorID")},
                  [](M&, A& a) {
                    auto dict = a[0].as<Dictionary>();
                    GetReplacementsFromTable(dict, a[1].text(), a[2].toInt32());
                    a[0] = Variant(dict);
                    return Variant();
                  })
          .done();
  return true;
}();

}  // namespace
}  // namespace quillon::PublicationErrorHandling
