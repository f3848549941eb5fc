// Base64 and the text encodings under it (code pages, URL escaping).
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "document/Base64.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/UrlEncoding.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

std::string allBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

class Base64Test : public test::TestSite {
 protected:
  Base64 b64;
};

TEST_F(Base64Test, Rfc4648VectorsEncodeAndDecode) {
  const std::pair<const char*, const char*> vectors[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(b64.Base64Encode(plain), encoded) << plain;
    if (*plain) {
      EXPECT_EQ(b64.Base64Decode(encoded), plain) << encoded;
    }
  }
}

TEST_F(Base64Test, EveryByteValueSurvivesTheRoundTripThroughBrokenLines) {
  std::string encoded = b64.Base64Encode(allBytes());
  ASSERT_EQ(encoded.size(), 344u + 4 * 2);  // 344 characters in 5 lines
  EXPECT_EQ(encoded.substr(76, 2), "\r\n");
  EXPECT_EQ(b64.Base64Decode(encoded), allBytes());
  // Blanks and tabs are stripped as line breaks are.
  EXPECT_EQ(b64.Base64Decode(" Zm9v\tYmFy \n"), "foobar");
}

TEST_F(Base64Test, LinesAreCutAt76CharactersWithoutATrailingBreak) {
  std::string e100 = b64.Base64Encode(std::string(75, 'x'));
  EXPECT_EQ(e100.size(), 102u);
  EXPECT_EQ(e100.find("\r\n"), 76u);
  EXPECT_EQ(e100.substr(78).size(), 24u);

  std::string e152 = b64.Base64Encode(std::string(114, 'x'));
  EXPECT_EQ(e152.size(), 154u);
  EXPECT_EQ(e152.find("\r\n"), 76u);
  EXPECT_EQ(e152.find("\r\n", 77), std::string::npos);  // exactly two lines
  EXPECT_NE(e152.substr(e152.size() - 2), "\r\n");

  std::string t130(130, 'A');
  std::string cut = b64.InsertNewlineChars(t130, 76);
  EXPECT_EQ(cut, std::string(76, 'A') + "\r\n" + std::string(54, 'A'));
  EXPECT_EQ(b64.InsertNewlineChars(t130, 0), t130);
  EXPECT_EQ(b64.InsertNewlineChars(std::string(76, 'A'), 76), std::string(76, 'A'));
  // Characters, not bytes, are counted.
  EXPECT_EQ(b64.InsertNewlineChars("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9\r\n\xC3\xA9");
}

TEST_F(Base64Test, BadLengthsAndForeignCharactersAreRefusedWithMissingInput) {
  std::string label = I18N::GetLabel("SLBSH4550");
  for (const std::string& bad : {std::string("Zm9vY"), std::string(""), std::string(" \r\n")}) {
    Error e = EXPECT_RAISES(MissingInput, b64.Base64Decode(bad));
    EXPECT_EQ(e.source(), "Quillon.Base64.Base64Decode");
    EXPECT_EQ(e.description(), "\r\nMETHOD: Quillon.Base64.Base64Decode caught: " + label + "(" + hexNumber(MissingInput) +
                                   ").");
  }
  for (const char* bad : {"Zm$v", "Zg==Zg==", "Z===", "Zm9v-_8="}) {
    Error e = EXPECT_RAISES(MissingInput, b64.Base64Decode(bad));
    EXPECT_NE(e.description().find(" Additional information: the character '"), std::string::npos) << e.description();
  }
}

TEST_F(Base64Test, TextBecomesWindows1252BytesOrUtf16) {
  EXPECT_EQ(b64.UnicodeStringToByte("\xC3\xA9"), "\xE9");       // é
  EXPECT_EQ(b64.UnicodeStringToByte("\xE2\x82\xAC"), "\x80");   // €
  EXPECT_EQ(b64.UnicodeStringToByte("Caf\xC3\xA9"), "Caf\xE9");
  // 日本 is outside the code page: UTF-16LE code units.
  EXPECT_EQ(b64.UnicodeStringToByte("\xE6\x97\xA5\xE6\x9C\xAC"), std::string("\xE5\x65\x2C\x67", 4));
  EXPECT_EQ(b64.ByteToUnicodeString("\x80\xE9"), "\xE2\x82\xAC\xC3\xA9");
}

TEST_F(Base64Test, ByteArraysTravelAsArraysOverByNameCalls) {
  auto obj = Registry::instance().create("Quillon.Base64");
  // The command line passes JSON numbers: 32-bit integers.
  std::vector<Variant> encodeArgs{Variant(VariantArray({Variant(102), Variant(111), Variant(111)}))};
  EXPECT_EQ(obj->invoke("Base64Encode", encodeArgs).toString(), "Zm9v");
  std::vector<Variant> decodeArgs{Variant("Zm8=")};
  Variant bytes = obj->invoke("Base64Decode", decodeArgs);
  ASSERT_TRUE(bytes.isArray());
  ASSERT_EQ(bytes.array().size(), 2u);
  EXPECT_EQ(bytes.array().at(0).type(), VarType::Byte);
  EXPECT_EQ(bytes.array().bytes(), "fo");
}

// ---- code pages and URL escaping ----

TEST(CodePageTest, MissingCharactersAndBrokenUtf8BecomeQuestionMarks) {
  bool lossless = true;
  EXPECT_EQ(ToCodePage("a\xE2\x82\xAC" "b", 1252, &lossless), "a\x80" "b");
  EXPECT_TRUE(lossless);
  EXPECT_EQ(ToCodePage("a\xE6\x97\xA5" "b", 1252, &lossless), "a?b");
  EXPECT_FALSE(lossless);
  // One "?" per byte that starts no valid sequence; a cut-off sequence at the end too.
  EXPECT_EQ(ToCodePage("x\xFF\xC3(y\xE2\x82", 1252, &lossless), "x?" "?(y?");
  EXPECT_FALSE(lossless);
  EXPECT_EQ(ToUtf16LE("a\xFF"), std::string("a\0\xFD\xFF", 4));
}

TEST(CodePageTest, ConversionsRoundTripAndUnknownPagesAreNamed) {
  std::string astral = "\xF0\x9F\x98\x80";  // U+1F600: a surrogate pair
  EXPECT_EQ(ToUtf16LE(astral), std::string("\x3D\xD8\x00\xDE", 4));
  EXPECT_EQ(FromUtf16LE("\xFF\xFE" + ToUtf16LE("\xC3\xA9" + astral)), "\xC3\xA9" + astral);
  EXPECT_EQ(FromCodePage("\xC0", 1251), "\xD0\x90");  // Cyrillic А
  EXPECT_EQ(FromCodePage("\x81", 1252), "\xEF\xBF\xBD");  // undefined in 1252
  Error e = EXPECT_RAISES(hr::kInvalidArg, ToCodePage("a", 4242));
  EXPECT_NE(std::string(e.description()).find("4242"), std::string::npos);
}

TEST(CodePageTest, TheAnsiCodePageIsWesternEuropeanUnlessConfigured) {
  ::unsetenv(kAnsiCodePageVariable);
  EXPECT_EQ(SystemAnsiCodePage(), 1252);
  ::setenv(kAnsiCodePageVariable, "1251", 1);
  EXPECT_EQ(SystemAnsiCodePage(), 1251);
  EXPECT_EQ(Base64().ByteToUnicodeString("\xC0"), "\xD0\x90");
  ::setenv(kAnsiCodePageVariable, "cyrillic", 1);
  EXPECT_EQ(SystemAnsiCodePage(), 1252);
  ::unsetenv(kAnsiCodePageVariable);
}

TEST(UrlEncodingTest, ReservedCharactersAndUtf8BytesArePercentEncoded) {
  EXPECT_EQ(UrlEscape("a b/c?d=e&f"), "a%20b%2Fc%3Fd%3De%26f");
  EXPECT_EQ(UrlEscape("M\xC3\xBCller-1_2.3~"), "M%C3%BCller-1_2.3~");
  EXPECT_EQ(UrlEscape(""), "");
}

}  // namespace
}  // namespace quillon
