// UserDefinedFields: the values of a document type's configured tags
// (TAGSCONFIG: id, pattern kind, pattern), extracted from every document of
// the type into TAGSVALUE — one row per document and tag, empty when the
// pattern matches nothing — so the portal can show and filter documents by
// them.
//
// The operations that take an optional connection work on it when one is
// given (and leave it open), otherwise on their own connection, which they
// close. A shared connection is only shared: no transaction is begun here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Object.h"

namespace quillon {

class Connection;
class DomDocument;

class UserDefinedFields : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // Replaces the document's values with those of iXMLDoc. An empty DOM
  // document changes nothing and gives false; true once the values are
  // written. A missing DOM document raises "object required".
  bool FillTagsValueTable(std::int32_t iDocID, const std::string& iDocTypeID,
                          const std::shared_ptr<DomDocument>& iXMLDoc,
                          const std::shared_ptr<Connection>& iConn = nullptr);
  // Refills the document's values from its stored XMLBODY.
  void UpdateValuesInTagsValueTable(std::int32_t iDocID, const std::string& iDocTypeID);
  void DeleteTagsForDocument(std::int32_t iDocID, const std::shared_ptr<Connection>& iConn = nullptr);
  // After a tag's pattern changed: drops the tag's values and extracts them
  // again from every stored document of the type. The result is Empty.
  Variant UpdateTagsValueTable(const std::string& iDocTypeID, std::int32_t iTagID);
  // Adds the tag's value for every stored document of the type. A document
  // that fails (malformed XML, a failed insert) is logged and skipped;
  // documents without XML are skipped silently; a tag that is not
  // configured for the type adds nothing.
  void AddTagsValueTable(const std::string& iDocTypeID, std::int32_t iTagID,
                         const std::shared_ptr<Connection>& iConn = nullptr);
};

}  // namespace quillon
