#include "document/XML.h"

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"

namespace quillon {

using General::Guarded;
using text::vbCrLf;

namespace {

std::string parseDetails(const ParseError& e) {
  return std::string("Description : ") + e.reason + vbCrLf + "Line        : " + std::to_string(e.line) + vbCrLf +
         "Column      : " + std::to_string(e.linepos);
}

// Loads a file or URL given in Windows or local form.
bool loadLocation(DomDocument& doc, const std::string& location) { return doc.load(text::LocalPath(location)); }

}  // namespace

std::shared_ptr<DomDocument> XML::LoadXmlInDomDocument(const std::string& xmlString, const std::string& fileName) {
  auto doc = std::make_shared<DomDocument>();
  doc->setAsync(false);
  std::string fileInfo;
  bool loaded;
  if (!text::Trim(xmlString).empty()) {
    loaded = doc->loadXML(xmlString);
  } else {
    fileInfo = "File/URL    : " + fileName + vbCrLf;
    loaded = loadLocation(*doc, fileName);
  }
  const ParseError& e = doc->parseError();
  if (!loaded && e.errorCode == 0)
    throw Error(XMLLoadError, "Quillon.XML.LoadXmlInDomDocument",
                std::string("Unable to parse the XML document: It is not present, invalid or not well-formed. ") + vbCrLf +
                    fileInfo);
  if (e.errorCode != 0)
    throw Error(e.errorCode, "Quillon.XML.LoadXmlInDomDocument",
                std::string("Unable to parse the XML document: It is not present, invalid or not well-formed") + vbCrLf +
                    fileInfo + parseDetails(e));
  return doc;
}

std::shared_ptr<DomDocument> XML::LoadXslInDomDocument(const std::string& xslString, const std::string& fileName) {
  auto doc = std::make_shared<DomDocument>();
  doc->setAsync(false);
  std::string message;
  bool fromText = !text::Trim(xslString).empty();
  bool loaded;
  if (fromText) {
    message = "Unable to parse the XML string: It is invalid or not well-formed. ";
    loaded = doc->loadXML(xslString);
  } else {
    message = "Unable to parse the XSL file " + fileName + ": It is not present, invalid or not well-formed. ";
    if (text::LCase(text::Left(fileName, 4)) == "http") doc->setProperty("ServerHTTPRequest", Variant(true));
    loaded = loadLocation(*doc, fileName);
  }
  const ParseError& e = doc->parseError();
  if (!loaded && e.errorCode == 0) throw Error(XSLParseError, "Quillon.XML.LoadXslInDomDocument", message + vbCrLf);
  if (e.errorCode != 0) {
    if (e.errorCode == hr::kResourceNotFound && !fromText)
      throw Error(CannotLoadFile, "Quillon.XML.LoadXslInDomDocument",
                  I18N::LabelWith("SLBSH0052", {{"[%FILENAME%]", fileName}}));
    throw Error(e.errorCode, "Quillon.XML.LoadXslInDomDocument", message + vbCrLf + parseDetails(e) + vbCrLf);
  }
  return doc;
}

std::shared_ptr<DomDocument> XML::XmlStringToDomDocument(const std::string& i_sXmlString) {
  return Guarded("Quillon.XML.XmlStringToDomDocument", [&] { return LoadXmlInDomDocument(i_sXmlString, ""); });
}

std::shared_ptr<DomDocument> XML::XmlFileToDomDocument(const std::string& i_sXmlFileName) {
  return Guarded("Quillon.XML.XmlFileToDomDocument", [&] { return LoadXmlInDomDocument("", i_sXmlFileName); });
}

std::shared_ptr<DomDocument> XML::XslFileToDomDocument(const std::string& i_sXslFileName) {
  return Guarded("Quillon.XML.XslFileToDomDocument", [&] { return LoadXslInDomDocument("", i_sXslFileName); });
}

std::string XML::ApplyXslStyleSheetToXmlDomDocument(std::shared_ptr<DomDocument>& i_oXmlDom,
                                                    std::string& i_sXslFileOrUrl) {
  return Guarded("Quillon.XML.ApplyXslStyleSheetToXmlDomDocument", [&] {
    if (!i_oXmlDom)
      throw Error(hr::kObjectRequired, "Quillon.XML.ApplyXslStyleSheetToXmlDomDocument",
                  "Not a valid Xml DOM document is given");
    if (text::Trim(i_sXslFileOrUrl).empty()) return i_oXmlDom->xml();
    auto xsl = XslFileToDomDocument(i_sXslFileOrUrl);
    std::string output = i_oXmlDom->transformNode(*xsl);
    if (i_oXmlDom->parseError().errorCode != 0)
      throw Error(i_oXmlDom->parseError().errorCode, "Quillon.XML.ApplyXslStyleSheetToXmlDomDocument",
                  "The XML Object couldn't parse XSL file '" + i_sXslFileOrUrl + "'.");
    return output;
  });
}

std::string XML::ApplyXslStyleSheetToXmlString(const std::string& i_sXmlString, const std::string& i_sXslFileOrUrl) {
  return Guarded("Quillon.XML.ApplyXslStyleSheetToXmlString", [&] {
    auto dom = XmlStringToDomDocument(i_sXmlString);
    std::string xsl = i_sXslFileOrUrl;
    return ApplyXslStyleSheetToXmlDomDocument(dom, xsl);
  });
}

namespace {

// A document handed to XML by name: a DOM object, or an XML text (the
// command line passes documents as text) loaded by XmlStringToDomDocument,
// so a malformed text fails with that method's parser messages.
struct XmlDocumentArgument : std::shared_ptr<DomDocument> {
  XmlDocumentArgument() = default;
  XmlDocumentArgument(std::shared_ptr<DomDocument> d) : std::shared_ptr<DomDocument>(std::move(d)) {}
};

}  // namespace

template <>
struct Convert<XmlDocumentArgument> {
  static XmlDocumentArgument from(const Variant& v) {
    if (v.isString()) return XML().XmlStringToDomDocument(v.toString());
    return Convert<std::shared_ptr<DomDocument>>::from(v);
  }
  static Variant to(const XmlDocumentArgument& d) { return Convert<std::shared_ptr<DomDocument>>::to(d); }
  static std::string name() { return "DomDocument"; }
};

const ClassInfo* XML::classInfo() const {
  static const ClassInfo* info =
      ClassBuilder<XML>("Quillon.XML")
          .bind<&XML::XmlStringToDomDocument>("XmlStringToDomDocument", {"i_sXmlString"})
          .bind<&XML::XmlFileToDomDocument>("XmlFileToDomDocument", {"i_sXmlFileName"})
          .bind<&XML::XslFileToDomDocument>("XslFileToDomDocument", {"i_sXslFileName"})
          .bind<&XML::ApplyXslStyleSheetToXmlString>("ApplyXslStyleSheetToXmlString", {"i_sXmlString", "i_sXslFileOrUrl"})
          .bind<&XML::ApplyXslStyleSheetToXmlDomDocument, std::string(XmlDocumentArgument&, std::string&)>(
              "ApplyXslStyleSheetToXmlDomDocument", {"i_oXmlDom", "i_sXslFileOrUrl"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (XML().classInfo(), true);
}

}  // namespace quillon
