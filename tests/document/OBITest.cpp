#include "document/OBI.h"

#include <gtest/gtest.h>

#include <functional>

#include "document/Base64.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/Error.h"
#include "platform/XmlDom.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

std::string be32(std::uint32_t n) {
  return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

// The bytes of an object with the given language byte, content and signature.
std::string rawObject(char language, const std::string& content, const std::string& signature = "") {
  return std::string{3, 0, 0, language} + be32(static_cast<std::uint32_t>(content.size())) + content +
         be32(static_cast<std::uint32_t>(signature.size())) + signature;
}

class OBITest : public test::TestSite {
 protected:
  std::string construct(const std::string& version, EObiLanguage language, const std::string& xml,
                        const std::string& signature = "") {
    std::string object;
    obi.ConstructObiObject(version, language, xml, signature, object);
    return object;
  }
  Error deconstructFailure(const std::string& object) {
    std::string version, xml, signature;
    EObiLanguage language;
    return EXPECT_RAISES(test::kAnyError, obi.DeconstructObiObject(object, version, language, xml, signature));
  }
  void expectRefusal(const Error& e, std::int32_t number, const std::string& text) {
    EXPECT_EQ(e.number(), number) << e.description();
    EXPECT_NE(e.description().find(text), std::string::npos) << e.description();
  }
  OBI obi;
  Base64 base64;
};

TEST_F(OBITest, RoundTripKeepsVersionTrimmedXmlAndSignature) {
  std::string object = construct({3, 0}, EObiLanguage::XML, "  <Order>1</Order>  ");
  std::string bytes = base64.Base64Decode(object);
  ASSERT_EQ(bytes.size(), 12u + 16u);
  EXPECT_EQ(bytes.substr(0, 8), std::string({3, 0, 0, 2}) + be32(16));
  EXPECT_EQ(bytes.substr(24), be32(0));

  std::string version, xml, signature = "stale";
  EObiLanguage language = EObiLanguage::X12;
  obi.DeconstructObiObject(object, version, language, xml, signature);
  EXPECT_EQ(version, std::string({3, 0}));
  EXPECT_EQ(language, EObiLanguage::XML);
  EXPECT_EQ(xml, "<Order>1</Order>");
  EXPECT_EQ(signature, "");

  const std::string sig("\x01\xFF\x00\x7F", 4);
  obi.DeconstructObiObject(construct({3, 1}, EObiLanguage::XML, "<A/>", sig), version, language, xml, signature);
  EXPECT_EQ(version, std::string({3, 1}));
  EXPECT_EQ(signature, sig);
}

TEST_F(OBITest, OnlyVersionThreeWithValidXmlContentIsBuilt) {
  auto languageText = [](const char* key) { return I18N::LabelWith("SLBSH4501", {{"[%OBILANGUAGE%]", I18N::GetLabel(key)}}); };
  expectRefusal(EXPECT_RAISES(test::kAnyError, construct({2, 0}, EObiLanguage::XML, "<A/>")), InvalidObiVersion,
                I18N::LabelWith("SLBSH4500", {{"[%VERSION%]", "2"}}));
  expectRefusal(EXPECT_RAISES(test::kAnyError, construct({}, EObiLanguage::XML, "<A/>")), InvalidObiVersion,
                I18N::LabelWith("SLBSH4500", {{"[%VERSION%]", "0"}}));
  expectRefusal(EXPECT_RAISES(test::kAnyError, construct({3, 0}, EObiLanguage::X12, "ISA*00")), InvalidObiLanguage,
                languageText("SLBSH4505"));
  expectRefusal(EXPECT_RAISES(test::kAnyError, construct({3, 0}, EObiLanguage::Edifact, "UNA:+")), InvalidObiLanguage,
                languageText("SLBSH4506"));
  expectRefusal(EXPECT_RAISES(test::kAnyError, construct({3, 0}, static_cast<EObiLanguage>(9), "<A/>")),
                InvalidObiLanguage, languageText("SLBSH0033"));
  expectRefusal(EXPECT_RAISES(test::kAnyError, construct({3, 0}, EObiLanguage::XML, "<A>")), InvalidObiObject,
                I18N::GetLabel("SLBSH4504"));
}

TEST_F(OBITest, DamagedObjectsAreRefusedWithTheirReason) {
  std::string good = rawObject(2, "<A/>", "sig");
  std::string mismatch = I18N::GetLabel("SLBSH4502");
  expectRefusal(deconstructFailure("abc"), InvalidObiObject, I18N::GetLabel("SLBSH4503"));
  expectRefusal(deconstructFailure(base64.Base64Encode(good + "x")), InvalidObiObject, mismatch);
  expectRefusal(deconstructFailure(base64.Base64Encode(good.substr(0, good.size() - 1))), InvalidObiObject, mismatch);
  expectRefusal(deconstructFailure(base64.Base64Encode(good.substr(0, 10))), InvalidObiObject, mismatch);
  expectRefusal(deconstructFailure(base64.Base64Encode(std::string{3, 0, 0})), InvalidObiObject, mismatch);
  expectRefusal(deconstructFailure(base64.Base64Encode(rawObject(7, "<A/>"))), InvalidObiObject,
                I18N::LabelWith("SLBSH4501", {{"[%OBILANGUAGE%]", I18N::GetLabel("SLBSH0033")}}));
  expectRefusal(deconstructFailure(base64.Base64Encode(rawObject(2, "<A>"))), InvalidObiObject,
                I18N::GetLabel("SLBSH4504"));
  // A length field of 2^31 or more does not fit a Long.
  std::string huge = std::string{3, 0, 0, 2} + be32(0x80000000u) + be32(0);
  expectRefusal(deconstructFailure(base64.Base64Encode(huge)), hr::kOverflow, I18N::GetLabel("SLBSH4507"));
}

TEST_F(OBITest, TextOutsideWindows1252TakesTwoBytesPerCharacter) {
  std::string bytes = base64.Base64Decode(construct({3, 0}, EObiLanguage::XML, "<a>\xCE\xA9</a>"));  // 8 characters
  EXPECT_EQ(bytes.substr(4, 4), be32(16));
  EXPECT_EQ(bytes.size(), 12u + 16u);
}

TEST_F(OBITest, DocumentTypesAndDocumentsAreRecognisedByTheirFirstThreeLetters) {
  EXPECT_TRUE(obi.IsObiDocument("obiOrderRequest"));
  EXPECT_TRUE(obi.IsObiDocument(" OBI"));
  EXPECT_FALSE(obi.IsObiDocument("xOBI"));
  EXPECT_FALSE(obi.IsObiDocument("OB"));
  EXPECT_FALSE(obi.IsOBIEnabled());

  const std::string xml =
      "<OBIOrderRequest version=\" 3.1 \"><Envelope><Sender><PartnerName>ACME</PartnerName></Sender>"
      "<Receiver><PartnerName>Buyer Inc</PartnerName></Receiver></Envelope></OBIOrderRequest>";
  std::string type, senderBP, senderUser = "kept", receiverBP, receiverUser = "kept";
  EXPECT_TRUE(obi.GetObiDocumentInfo(nullptr, xml, type, senderBP, senderUser, receiverBP, receiverUser));
  EXPECT_EQ(type + "|" + senderBP + "|" + receiverBP + "|" + senderUser + receiverUser,
            "OBIOrderRequest|ACME|Buyer Inc|keptkept");
  EXPECT_EQ(obi.GetObiDocumentVersion(obi.XmlToDom(xml), ""), std::string({3, 1}));
  EXPECT_EQ(obi.GetObiDocumentVersion(nullptr, "<OBIX version=\"3\"/>"), std::string({3, 0}));
  EXPECT_EQ(obi.GetObiDocumentVersion(nullptr, "<OBIX/>"), std::string({0, 0}));

  type = "unchanged";
  EXPECT_FALSE(obi.GetObiDocumentInfo(nullptr, "<ORDER/>", type, senderBP, senderUser, receiverBP, receiverUser));
  EXPECT_EQ(type, "unchanged");

  Error e = EXPECT_RAISES(test::kAnyError, obi.XmlToDom("<A>\n<B></A>"));
  EXPECT_EQ(e.source(), "Quillon.OBI.XmlToDom");
  EXPECT_NE(e.description().find(I18N::GetLabel("SLBSH1839") + "\r\n" +
                                 I18N::LabelWith("SLBSH1843", {{"[%DESCRIPTION%]", ""}})),
            std::string::npos);
  EXPECT_NE(e.description().find("\r\n" + I18N::LabelWith("SLBSH1840", {{"[%ERROR_LINE%]", "2"}}) + "\r\n"),
            std::string::npos)
      << e.description();
}

TEST_F(OBITest, ByNameCallsTakeAndGiveByteArrays) {
  std::vector<Variant> args{Variant(VariantArray({Variant(3), Variant(0)})), Variant(3), Variant("<A/>"), Variant(),
                            Variant("")};
  obi.invoke("ConstructObiObject", args);
  std::vector<Variant> back{args[4], Variant(), Variant(), Variant(), Variant()};
  obi.invoke("DeconstructObiObject", back);
  EXPECT_EQ(back[1].array().at(0).type(), VarType::Byte);
  EXPECT_EQ(back[1].array().bytes(), std::string({3, 0}));
  EXPECT_EQ(back[2].toInt32(), 3);
  EXPECT_EQ(back[3].text(), "<A/>");
  EXPECT_EQ(back[4].array().size(), 0u);
}

}  // namespace
}  // namespace quillon
