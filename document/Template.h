// Template: the XML template of a document type — one XMLTEMPLATE row per
// type holding an empty XML document (inline text or a URL) that the portal
// offers when a user creates a document of that type, and the URL of the
// style sheet that renders it.
//
// Every operation opens its own connection and closes it before it
// returns. A missing row is no error: texts come back empty, the id 0,
// the check false.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class Template : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The inline template text; oURL receives the template URL. Null columns
  // and a missing row give empty texts.
  std::string GetXmlTemplateDocument(const std::string& iDocTypeID, Variant& oURL);
  std::string getXslUrl(const std::string& iDocType);
  // Adds a row and returns its new XMLTEMPLATEID.
  std::int32_t InsertTemplate(const std::string& iDocTypeID, const std::string& iXMLURL,
                              const std::string& iXMLTemplate, const std::string& iXSLURL);
  // Rewrites the four columns of the row; an id without a row raises.
  void UpdateTemplate(std::int32_t iXmlTemplateID, const std::string& iDocTypeID, const std::string& iXMLURL,
                      const std::string& iXMLTemplate, const std::string& iXSLURL);
  void DeleteTemplate(std::int32_t iXmlTemplateID);
  bool checkTemplateByDocumentTypeID(const std::string& iDocTypeID);
  // Fills the outputs from the type's row: the id as a Long (0 without a
  // row), the texts as Strings (empty for Null or without a row). The
  // result is Empty.
  Variant getTemplateProperties(const std::string& i_sDocTypeID, Variant& o_lXmlTemplateID, Variant& o_sXslUrl,
                                Variant& o_sXmlTemplateUrl, Variant& o_sXmlTemplate);

 private:
  // The type's XMLTEMPLATEID, 0 without a row.
  std::int32_t GetTemplateID(const std::string& iDocTypeID);
};

}  // namespace quillon
