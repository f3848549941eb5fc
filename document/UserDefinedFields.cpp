#include "document/UserDefinedFields.h"

#include "document/Document.h"
#include "document/XML.h"
#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "platform/Database.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

// The connection an operation works on: the caller's when one is given
// (left open), otherwise a new one that is closed when the operation
// leaves, on success and on failure alike.
class ConnectionUse {
 public:
  explicit ConnectionUse(const std::shared_ptr<Connection>& given)
      : owned_(!given), conn_(given ? given : DBUtils::GetConnection()) {}
  ~ConnectionUse() {
    if (owned_) General::CloseConnection(conn_);
  }
  ConnectionUse(const ConnectionUse&) = delete;
  ConnectionUse& operator=(const ConnectionUse&) = delete;
  const std::shared_ptr<Connection>& get() const { return conn_; }

 private:
  bool owned_;
  std::shared_ptr<Connection> conn_;
};

std::int32_t longOrZero(const Variant& v) { return v.isNull() || v.isEmpty() ? 0 : v.toInt32(); }

// Adds one TAGSVALUE row. The layer cannot open a bare table name as a
// recordset, so an empty select over the table stands in for it.
void addTagValue(const std::shared_ptr<Connection>& conn, std::int32_t docID, std::int32_t tagID,
                 const std::string& value) {
  Recordset rs;
  rs.SetCursorLocation(ado::adUseClient);
  rs.Open("SELECT * FROM TAGSVALUE WHERE 0=1", conn, ado::adOpenForwardOnly, ado::adLockOptimistic);
  rs.AddNew();
  rs.Fields("DOCUMENTID").SetValue(Variant(docID));
  rs.Fields("tagid").SetValue(Variant(tagID));
  rs.Fields("tagvalue").SetValue(Variant(value));
  rs.Update();
  rs.Close();
}

std::string deleteForDocument(std::int32_t docID) {
  return "DELETE FROM TAGSVALUE WHERE DOCUMENTID = " + SqlLong(docID);
}

// A DOM document given by name: an object, or (from the command line) an
// XML text loaded by XML.XmlStringToDomDocument, a blank text standing for
// an empty document.
struct DocumentArgument : std::shared_ptr<DomDocument> {
  DocumentArgument() = default;
  DocumentArgument(std::shared_ptr<DomDocument> d) : std::shared_ptr<DomDocument>(std::move(d)) {}
};

}  // namespace

template <>
struct Convert<DocumentArgument> {
  static DocumentArgument from(const Variant& v) {
    if (v.isString()) {
      if (text::Trim(v.toString()).empty()) return std::make_shared<DomDocument>();
      return XML().XmlStringToDomDocument(v.toString());
    }
    return Convert<std::shared_ptr<DomDocument>>::from(v);
  }
  static Variant to(const DocumentArgument& d) { return Convert<std::shared_ptr<DomDocument>>::to(d); }
  static std::string name() { return "DomDocument"; }
};

bool UserDefinedFields::FillTagsValueTable(std::int32_t iDocID, const std::string& iDocTypeID,
                                           const std::shared_ptr<DomDocument>& iXMLDoc,
                                           const std::shared_ptr<Connection>& iConn) {
  return Guarded("Quillon.UserDefinedFields.FillTagsValueTable", [&] {
    if (!iXMLDoc)
      throw Error(hr::kObjectRequired, "Quillon.UserDefinedFields.FillTagsValueTable",
                  "Not a valid Xml DOM document is given");
    if (iXMLDoc->xml().empty()) return false;
    ConnectionUse conn(iConn);
    auto tags = conn.get()->Execute("SELECT XSLPATTERN, TAGID, TAGATTRXSL FROM TAGSCONFIG WHERE DOCUMENTTYPEID = " +
                                    SqlText(iDocTypeID) + " ");
    conn.get()->Execute(deleteForDocument(iDocID));
    Utility utility;
    for (; !tags->EOF_(); tags->MoveNext()) {
      std::string pattern = utility.ConstructXslPattern(longOrZero(tags->Fields("TAGATTRXSL").Value()),
                                                        tags->Fields("XSLPATTERN").Value().text());
      // Empty values are stored too: every document has one row per configured tag.
      addTagValue(conn.get(), iDocID, longOrZero(tags->Fields("TAGID").Value()),
                  utility.ExecuteXSLPattern(iXMLDoc, pattern));
    }
    tags->Close();
    return true;
  });
}

void UserDefinedFields::UpdateValuesInTagsValueTable(std::int32_t iDocID, const std::string& iDocTypeID) {
  Guarded("Quillon.UserDefinedFields.UpdateValuesInTagsValueTable", [&] {
    std::shared_ptr<DomDocument> dom = Document().GetXmlDomDocument(iDocID);
    ConnectionUse conn(nullptr);
    DeleteTagsForDocument(iDocID, conn.get());
    FillTagsValueTable(iDocID, iDocTypeID, dom, conn.get());
  });
}

void UserDefinedFields::DeleteTagsForDocument(std::int32_t iDocID, const std::shared_ptr<Connection>& iConn) {
  Guarded("Quillon.UserDefinedFields.DeleteTagsForDocument", [&] {
    ConnectionUse conn(iConn);
    conn.get()->Execute(deleteForDocument(iDocID));
  });
}

Variant UserDefinedFields::UpdateTagsValueTable(const std::string& iDocTypeID, std::int32_t iTagID) {
  return Guarded(
      "Quillon.UserDefinedFields.UpdateTagsValueTable",
      [&] { return "Doc. Type ID: '" + iDocTypeID + "' Tag ID: '" + std::to_string(iTagID) + "'"; },
      [&] {
        ConnectionUse conn(nullptr);
        conn.get()->Execute("DELETE FROM TAGSVALUE WHERE TAGID = " + SqlLong(iTagID));
        AddTagsValueTable(iDocTypeID, iTagID, conn.get());
        return Variant();
      });
}

void UserDefinedFields::AddTagsValueTable(const std::string& iDocTypeID, std::int32_t iTagID,
                                          const std::shared_ptr<Connection>& iConn) {
  std::string pattern;
  Guarded(
      "Quillon.UserDefinedFields.AddTagsValueTable",
      [&] {
        return "Document Type ID: '" + iDocTypeID + "', Tag ID: '" + std::to_string(iTagID) + "', XSL pattern: '" +
               pattern + "'";
      },
      [&] {
        ConnectionUse conn(iConn);
        Utility utility;
        auto tag = conn.get()->Execute("SELECT XSLPATTERN, TAGATTRXSL FROM TAGSCONFIG WHERE DOCUMENTTYPEID = " +
                                       SqlText(iDocTypeID) + " AND TAGID = " + SqlLong(iTagID));
        // A tag that is not configured for the type has no values to add.
        if (tag->EOF_()) return;
        pattern = utility.ConstructXslPattern(longOrZero(tag->Fields("TAGATTRXSL").Value()),
                                              tag->Fields("XSLPATTERN").Value().text());
        tag->Close();

        auto docs = conn.get()->Execute("SELECT DOCUMENTID, XMLBODY FROM DOCUMENT WHERE DOCUMENTTYPEID = " +
                                        SqlText(iDocTypeID) + " ");
        for (; !docs->EOF_(); docs->MoveNext()) {
          std::int32_t docID = longOrZero(docs->Fields("DOCUMENTID").Value());
          try {
            std::string body = docs->Fields("XMLBODY").Value().text();
            if (text::Trim(body).empty()) continue;  // no XML stored yet: nothing to extract
            auto dom = std::make_shared<DomDocument>();
            dom->setAsync(false);
            // A malformed body is this document's failure: it is logged
            // below with the parser's reason, and the others go on.
            if (!dom->loadXML(body)) {
              const ParseError& e = dom->parseError();
              throw Error(e.errorCode != 0 ? e.errorCode : XMLLoadError,
                          "Quillon.UserDefinedFields.AddTagsValueTable",
                          "Unable to parse the XML body of the document: " + e.reason);
            }
            addTagValue(conn.get(), docID, iTagID, utility.ExecuteXSLPattern(dom, pattern));
          } catch (...) {
            General::LogError("Quillon.Utility.AddTagsValueTable",
                              "Unable to update user-defined fields for xml document with id '" +
                                  std::to_string(docID) + " and type '" + iDocTypeID + "'");
          }
        }
        docs->Close();
      });
}

const ClassInfo* UserDefinedFields::classInfo() const {
  using U = UserDefinedFields;
  using Conn = std::shared_ptr<Connection>;
  static const ClassInfo* info =
      ClassBuilder<UserDefinedFields>("Quillon.UserDefinedFields")
          .bind<&U::FillTagsValueTable, bool(std::int32_t, std::string, DocumentArgument, Conn)>(
              "FillTagsValueTable", {"iDocID", "iDocTypeID", "iXMLDoc", opt("iConn", Variant())})
          .bind<&U::UpdateValuesInTagsValueTable>("UpdateValuesInTagsValueTable", {"iDocID", "iDocTypeID"})
          .bind<&U::DeleteTagsForDocument>("DeleteTagsForDocument", {"iDocID", opt("iConn", Variant())})
          .bind<&U::UpdateTagsValueTable>("UpdateTagsValueTable", {"iDocTypeID", "iTagID"})
          .bind<&U::AddTagsValueTable>("AddTagsValueTable", {"iDocTypeID", "iTagID", opt("iConn", Variant())})
          .done();
  return info;
}

namespace {
const bool kRegistered = (UserDefinedFields().classInfo(), true);
}

}  // namespace quillon
