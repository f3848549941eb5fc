// XML: loads XML and XSL texts or files into DOM documents and applies
// style sheets, describing every parse failure with the same multi-line
// text (what failed, the parser's reason, line and column).
#pragma once

#include <memory>
#include <string>

#include "platform/Object.h"

namespace quillon {

class DomDocument;

class XML : public Object {
 public:
  const ClassInfo* classInfo() const override;

  std::shared_ptr<DomDocument> XmlStringToDomDocument(const std::string& i_sXmlString);
  std::shared_ptr<DomDocument> XmlFileToDomDocument(const std::string& i_sXmlFileName);
  std::shared_ptr<DomDocument> XslFileToDomDocument(const std::string& i_sXslFileName);
  std::string ApplyXslStyleSheetToXmlString(const std::string& i_sXmlString, const std::string& i_sXslFileOrUrl);
  std::string ApplyXslStyleSheetToXmlDomDocument(std::shared_ptr<DomDocument>& i_oXmlDom, std::string& i_sXslFileOrUrl);

 private:
  // Each uses the text when it is not blank, otherwise the file name.
  std::shared_ptr<DomDocument> LoadXmlInDomDocument(const std::string& xmlString, const std::string& fileName);
  std::shared_ptr<DomDocument> LoadXslInDomDocument(const std::string& xslString, const std::string& fileName);
};

}  // namespace quillon
