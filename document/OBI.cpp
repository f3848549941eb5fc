#include "document/OBI.h"

#include <limits>

#include "document/Base64.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"

namespace quillon {

using General::Guarded;
using text::vbCrLf;

namespace {

constexpr std::int64_t kMaxLong = std::numeric_limits<std::int32_t>::max();

// Byte 3 of the header for each content language.
constexpr std::uint8_t kLanguageByteX12 = 0;
constexpr std::uint8_t kLanguageByteEdifact = 1;
constexpr std::uint8_t kLanguageByteXml = 2;

Error invalidObject(const std::string& source, const std::string& description) {
  return Error(InvalidObiObject, source, description);
}

Error overflow(const std::string& source) { return Error(hr::kOverflow, source, I18N::GetLabel("SLBSH4507")); }

}  // namespace

void OBI::InitMultipliers() {
  if (multipliersSet_) return;
  multipliers_ = {1LL << 24, 1LL << 16, 1LL << 8, 1};
  multipliersSet_ = true;
}

std::string OBI::LongToByteArray(std::int64_t value) {
  return Guarded("Quillon.OBI.LongToByteArray", [&] {
    if (value < 0 || value > kMaxLong) throw overflow("Quillon.OBI.LongToByteArray");
    InitMultipliers();
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value / multipliers_[i]) % 256);
    return bytes;
  });
}

std::int32_t OBI::ByteArrayToLong(const std::string& bytes) {
  return Guarded("Quillon.OBI.ByteArrayToLong", [&] {
    if (ByteArrayLength(bytes) < 4) throw Error(hr::kSubscript, "Quillon.OBI.ByteArrayToLong", "Subscript out of range");
    InitMultipliers();
    std::int64_t n = 0;
    for (std::size_t i = 0; i < 4; ++i) n += static_cast<std::uint8_t>(bytes[i]) * multipliers_[i];
    if (n > kMaxLong) throw overflow("Quillon.OBI.ByteArrayToLong");
    return static_cast<std::int32_t>(n);
  });
}

std::string OBI::ConstructObiObject_FillObiVersionSegment(const std::string& version, EObiLanguage language) {
  return Guarded("Quillon.OBI.ConstructObiObject_FillObiVersionSegment", [&] {
    std::string header(4, '\0');
    if (ByteArrayLength(version) >= 1) header[0] = version[0];
    if (ByteArrayLength(version) >= 2) header[1] = version[1];
    switch (language) {
      case EObiLanguage::X12: header[3] = static_cast<char>(kLanguageByteX12); break;
      case EObiLanguage::Edifact: header[3] = static_cast<char>(kLanguageByteEdifact); break;
      case EObiLanguage::XML: header[3] = static_cast<char>(kLanguageByteXml); break;
    }
    return header;
  });
}

void OBI::CheckObiVersionSupported(const std::string& i_ayObiVersion, EObiLanguage i_nObiLanguage) {
  Guarded("Quillon.OBI.CheckObiVersionSupported", [&] {
    const char* source = "Quillon.OBI.CheckObiVersionSupported";
    int major = ByteArrayLength(i_ayObiVersion) >= 1 ? static_cast<std::uint8_t>(i_ayObiVersion[0]) : 0;
    if (major != 3)
      throw Error(InvalidObiVersion, source, I18N::LabelWith("SLBSH4500", {{"[%VERSION%]", std::to_string(major)}}));
    if (i_nObiLanguage != EObiLanguage::XML) {
      const char* languageLabel = i_nObiLanguage == EObiLanguage::X12       ? "SLBSH4505"
                                  : i_nObiLanguage == EObiLanguage::Edifact ? "SLBSH4506"
                                                                            : "SLBSH0033";
      throw Error(InvalidObiLanguage, source,
                  I18N::LabelWith("SLBSH4501", {{"[%OBILANGUAGE%]", I18N::GetLabel(languageLabel)}}));
    }
  });
}

void OBI::CheckObiObjectContainsValidXml(EObiLanguage language, const std::string& xml) {
  Guarded("Quillon.OBI.CheckObiObjectContainsValidXml", [&] {
    if (language != EObiLanguage::XML) return;
    try {
      XmlToDom(xml);
    } catch (...) {
      throw invalidObject("Quillon.OBI.CheckObiObjectContainsValidXml", I18N::GetLabel("SLBSH4504"));
    }
  });
}

void OBI::ConstructObiObject(const std::string& i_yObiVersion, EObiLanguage i_nObiLanguage, const std::string& i_sObiXml,
                             const std::string& i_ayObiSignature, std::string& o_sObiObject) {
  Guarded("Quillon.OBI.ConstructObiObject", [&] {
    std::string header = ConstructObiObject_FillObiVersionSegment(i_yObiVersion, i_nObiLanguage);
    CheckObiVersionSupported(header, i_nObiLanguage);
    CheckObiObjectContainsValidXml(i_nObiLanguage, i_sObiXml);

    Base64 base64;
    std::string content = base64.UnicodeStringToByte(text::Trim(i_sObiXml));
    std::int64_t contentLength = ByteArrayLength(content);
    std::int64_t signatureLength = ByteArrayLength(i_ayObiSignature);

    std::string bytes = header + LongToByteArray(contentLength);
    if (contentLength >= 1) bytes += content;
    bytes += LongToByteArray(signatureLength);
    if (signatureLength >= 1) bytes += i_ayObiSignature;
    o_sObiObject = base64.Base64Encode(bytes);
  });
}

void OBI::DeconstructObiObject(const std::string& i_sObiObject, std::string& o_yObiVersion,
                               EObiLanguage& o_nObiLanguage, std::string& o_sObiXml, std::string& o_ayObiSignature) {
  Guarded("Quillon.OBI.DeconstructObiObject", [&] {
    const char* source = "Quillon.OBI.DeconstructObiObject";
    Base64 base64;
    std::string bytes;
    try {
      bytes = base64.Base64Decode(i_sObiObject);
    } catch (...) {
      throw invalidObject(source, I18N::GetLabel("SLBSH4503"));
    }
    const std::int64_t size = ByteArrayLength(bytes);
    auto lengthMismatch = [&] { return invalidObject(source, I18N::GetLabel("SLBSH4502")); };

    if (size < 4) throw lengthMismatch();
    EObiLanguage language;
    switch (static_cast<std::uint8_t>(bytes[3])) {
      case kLanguageByteX12: language = EObiLanguage::X12; break;
      case kLanguageByteEdifact: language = EObiLanguage::Edifact; break;
      case kLanguageByteXml: language = EObiLanguage::XML; break;
      default:
        throw invalidObject(source, I18N::LabelWith("SLBSH4501", {{"[%OBILANGUAGE%]", I18N::GetLabel("SLBSH0033")}}));
    }

    if (size < 8) throw lengthMismatch();
    const std::int64_t contentLength = ByteArrayToLong(bytes.substr(4, 4));
    if (size < 12 + contentLength) throw lengthMismatch();
    std::string content;
    if (contentLength >= 1)
      content = base64.ByteToUnicodeString(bytes.substr(8, static_cast<std::size_t>(contentLength)));
    const auto signatureAt = static_cast<std::size_t>(8 + contentLength);
    const std::int64_t signatureLength = ByteArrayToLong(bytes.substr(signatureAt, 4));
    if (size != 12 + contentLength + signatureLength) throw lengthMismatch();

    CheckObiObjectContainsValidXml(language, content);
    o_yObiVersion = bytes.substr(0, 2);
    o_nObiLanguage = language;
    o_sObiXml = std::move(content);
    o_ayObiSignature = bytes.substr(signatureAt + 4);
  });
}

std::string OBI::GetObiDocumentVersion(const std::shared_ptr<DomDocument>& i_oXmlDom, const std::string& i_sXmlString) {
  return Guarded("Quillon.OBI.GetObiDocumentVersion", [&] {
    auto dom = i_oXmlDom ? i_oXmlDom : XmlToDom(i_sXmlString);
    auto root = dom->documentElement();
    if (!root)
      throw Error(hr::kObjectRequired, "Quillon.OBI.GetObiDocumentVersion", "The XML document has no root element.");
    // "3.0": the major digit first, the minor digit third.
    std::string version = text::Trim(root->getAttribute("version"));
    std::string result(2, '\0');
    if (text::Len(version) >= 1) result[0] = static_cast<char>(Variant(text::Mid(version, 1, 1)).toByte());
    if (text::Len(version) >= 3) result[1] = static_cast<char>(Variant(text::Mid(version, 3, 1)).toByte());
    return result;
  });
}

bool OBI::IsObiDocument(const std::string& i_sDocTypeID) {
  return Guarded("Quillon.OBI.IsObiDocument",
                 [&] { return text::UCase(text::Left(text::Trim(i_sDocTypeID), 3)) == "OBI"; });
}

bool OBI::GetObiDocumentInfo(const std::shared_ptr<DomDocument>& i_oXmlDom, const std::string& i_sXmlString,
                             std::string& o_sDocTypeID, std::string& o_sSenderBP, std::string& o_sSenderUser,
                             std::string& o_sReceiverBP, std::string& o_sReceiverUser) {
  return Guarded("Quillon.OBI.GetObiDocumentInfo", [&] {
    auto dom = i_oXmlDom ? i_oXmlDom : XmlToDom(i_sXmlString);
    auto root = dom->documentElement();
    std::string rootName = root ? root->nodeName() : std::string();
    if (!IsObiDocument(rootName)) return false;
    auto utility = std::make_shared<Utility>();
    o_sDocTypeID = rootName;
    o_sSenderBP = utility->ExecuteXSLPattern(dom, "/" + rootName + "/Envelope/Sender/PartnerName");
    o_sReceiverBP = utility->ExecuteXSLPattern(dom, "/" + rootName + "/Envelope/Receiver/PartnerName");
    return true;
  });
}

bool OBI::GetObiDocumentInfo(const std::shared_ptr<DomDocument>& i_oXmlDom, const std::string& i_sXmlString) {
  std::string docType, senderBP, senderUser, receiverBP, receiverUser;
  return GetObiDocumentInfo(i_oXmlDom, i_sXmlString, docType, senderBP, senderUser, receiverBP, receiverUser);
}

std::shared_ptr<DomDocument> OBI::XmlToDom(const std::string& i_sXmlString) {
  return Guarded("Quillon.OBI.XmlToDom", [&] {
    auto dom = std::make_shared<DomDocument>();
    dom->setAsync(false);
    if (!dom->loadXML(i_sXmlString)) {
      const ParseError& e = dom->parseError();
      std::string description = I18N::GetLabel("SLBSH1839") + vbCrLf +
                                I18N::LabelWith("SLBSH1843", {{"[%DESCRIPTION%]", e.reason}}) + vbCrLf +
                                I18N::LabelWith("SLBSH1840", {{"[%ERROR_LINE%]", std::to_string(e.line)}}) + vbCrLf +
                                I18N::LabelWith("SLBSH1841", {{"[%ERROR_COLUMN%]", std::to_string(e.linepos)}});
      throw Error(e.errorCode != 0 ? e.errorCode : XMLLoadError, "Quillon.OBI.XmlToDom", description);
    }
    return dom;
  });
}

bool OBI::IsOBIEnabled() {
  return false;
}

// ---- by-name registration ----------------------------------------------------------------

// Versions and signatures travel as byte arrays, the language as its integer.
const ClassInfo* OBI::classInfo() const {
  using DocumentInfo = bool (OBI::*)(const std::shared_ptr<DomDocument>&, const std::string&, std::string&, std::string&,
                                     std::string&, std::string&, std::string&);
  static const ClassInfo* info =
      ClassBuilder<OBI>("Quillon.OBI")
          .bind<&OBI::ConstructObiObject, void(Bytes, EObiLanguage, std::string, Bytes, std::string&)>(
              "ConstructObiObject",
              {"i_yObiVersion", "i_nObiLanguage", "i_sObiXml", "i_ayObiSignature", out("o_sObiObject", "")})
          .bind<&OBI::DeconstructObiObject, void(std::string, Bytes&, EObiLanguage&, std::string&, Bytes&)>(
              "DeconstructObiObject", {"i_sObiObject", out("o_yObiVersion", Variant()), out("o_nObiLanguage", Variant()),
                                       out("o_sObiXml", ""), out("o_ayObiSignature", Variant())})
          .bind<&OBI::GetObiDocumentVersion, Bytes(std::shared_ptr<DomDocument>, std::string)>(
              "GetObiDocumentVersion", {"i_oXmlDom", opt("i_sXmlString", "")})
          .bind<&OBI::CheckObiVersionSupported, void(Bytes, EObiLanguage)>("CheckObiVersionSupported",
                                                                           {"i_ayObiVersion", "i_nObiLanguage"})
          .bind<&OBI::IsObiDocument>("IsObiDocument", {"i_sDocTypeID"})
          .bind<static_cast<DocumentInfo>(&OBI::GetObiDocumentInfo)>(
              "GetObiDocumentInfo", {"i_oXmlDom", opt("i_sXmlString", ""), optRef("o_sDocTypeID", ""),
                                     optRef("o_sSenderBP", ""), optRef("o_sSenderUser", ""),
                                     optRef("o_sReceiverBP", ""), optRef("o_sReceiverUser", "")})
          .bind<&OBI::XmlToDom>("XmlToDom", {"i_sXmlString"})
          .bind<&OBI::IsOBIEnabled>("IsOBIEnabled")
          .done();
  return info;
}

namespace {
const bool kRegistered = (OBI().classInfo(), true);
}

}  // namespace quillon
