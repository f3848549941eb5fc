// OBI: builds and takes apart OBI objects and reads OBI XML documents.
//
// An OBI object is, before its Base64 encoding (numbers big-endian):
//   byte 0      major version (only 3 is accepted)
//   byte 1      minor version
//   byte 2      reserved, 0
//   byte 3      content language: 0 X12, 1 EDIFACT, 2 XML
//   bytes 4..7  length L of the content
//   L bytes     the content text (Windows-1252, or UTF-16LE when the text
//               has characters outside that code page)
//   4 bytes     length S of the signature
//   S bytes     the signature, unchanged
// so its size is exactly 12 + L + S. Only OBI 3.x objects with XML content
// are built.
//
// Byte arrays (versions, signatures) are std::string of raw bytes; over
// by-name calls they are arrays of Byte. A version is two bytes: major,
// minor.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Object.h"

namespace quillon {

class DomDocument;

class OBI : public Object {
 public:
  const ClassInfo* classInfo() const override;

  // The Base64 text of an object holding the trimmed XML and the signature.
  void ConstructObiObject(const std::string& i_yObiVersion, EObiLanguage i_nObiLanguage, const std::string& i_sObiXml,
                          const std::string& i_ayObiSignature, std::string& o_sObiObject);
  // The parts of an object; its content must be valid XML when the
  // language byte says XML.
  void DeconstructObiObject(const std::string& i_sObiObject, std::string& o_yObiVersion, EObiLanguage& o_nObiLanguage,
                            std::string& o_sObiXml, std::string& o_ayObiSignature);
  // The root element's "version" attribute ("3.0") as two bytes; the DOM
  // is used when set, the text otherwise.
  std::string GetObiDocumentVersion(const std::shared_ptr<DomDocument>& i_oXmlDom, const std::string& i_sXmlString);
  // Raises InvalidObiVersion unless element 0 is 3, InvalidObiLanguage
  // unless the language is XML.
  void CheckObiVersionSupported(const std::string& i_ayObiVersion, EObiLanguage i_nObiLanguage);
  // True when the trimmed, upper-cased type begins with "OBI".
  bool IsObiDocument(const std::string& i_sDocTypeID);
  // For an OBI document (root element name beginning with "OBI"): true, the
  // type is the root's name and the partner names come from the envelope;
  // the user outputs are left as they are. Otherwise false and nothing is
  // touched.
  bool GetObiDocumentInfo(const std::shared_ptr<DomDocument>& i_oXmlDom, const std::string& i_sXmlString,
                          std::string& o_sDocTypeID, std::string& o_sSenderBP, std::string& o_sSenderUser,
                          std::string& o_sReceiverBP, std::string& o_sReceiverUser);
  bool GetObiDocumentInfo(const std::shared_ptr<DomDocument>& i_oXmlDom, const std::string& i_sXmlString);
  // Parses the text; a failure is described with the parser's reason,
  // line and column.
  std::shared_ptr<DomDocument> XmlToDom(const std::string& i_sXmlString);
  // OBI intake is switched off in this system: always false.
  bool IsOBIEnabled();

 private:
  std::string ConstructObiObject_FillObiVersionSegment(const std::string& version, EObiLanguage language);
  void CheckObiObjectContainsValidXml(EObiLanguage language, const std::string& xml);
  std::string LongToByteArray(std::int64_t value);
  std::int32_t ByteArrayToLong(const std::string& bytes);
  static std::int64_t ByteArrayLength(const std::string& bytes) { return static_cast<std::int64_t>(bytes.size()); }
  void InitMultipliers();

  // 2^24, 2^16, 2^8, 1: the weights of the four bytes of a length field.
  std::array<std::int64_t, 4> multipliers_{};
  bool multipliersSet_ = false;
};

}  // namespace quillon
