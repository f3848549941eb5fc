#include "document/Base64.h"

#include <algorithm>
#include <optional>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace quillon {

using General::Guarded;

namespace {

constexpr std::uint8_t kNoValue = 0xFF;  // character → value: not in the alphabet
constexpr int kLineLength = 76;
constexpr int kWesternEuropean = 1252;

// Number of bytes of the UTF-8 sequence led by `c` (1 for stray bytes, so a
// malformed text is still cut without reading past its end).
std::size_t sequenceLength(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF4) return 4;
  if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
  if (c >= 0xC2) return 2;
  return 1;
}

}  // namespace

Base64::Base64() { Initialize(); }

void Base64::Initialize() {
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  toValue_.fill(kNoValue);
  for (std::uint8_t v = 0; v < 64; ++v) {
    auto c = static_cast<std::uint8_t>(alphabet[v]);
    toChar_[v] = c;
    toValue_[c] = v;
  }
}

std::string Base64::Base64Encode(const std::string& i_ayArrayIn) {
  const char* source = "Quillon.Base64.Base64Encode";
  return Guarded(source, [&] {
    try {
      std::string out;
      out.reserve((i_ayArrayIn.size() + 2) / 3 * 4);
      const auto* in = reinterpret_cast<const unsigned char*>(i_ayArrayIn.data());
      std::size_t n = i_ayArrayIn.size();
      std::size_t i = 0;
      for (; i + 3 <= n; i += 3) {
        out += static_cast<char>(toChar_[in[i] >> 2]);
        out += static_cast<char>(toChar_[((in[i] & 0x03) << 4) | (in[i + 1] >> 4)]);
        out += static_cast<char>(toChar_[((in[i + 1] & 0x0F) << 2) | (in[i + 2] >> 6)]);
        out += static_cast<char>(toChar_[in[i + 2] & 0x3F]);
      }
      if (n - i == 1) {
        out += static_cast<char>(toChar_[in[i] >> 2]);
        out += static_cast<char>(toChar_[(in[i] & 0x03) << 4]);
        out += "==";
      } else if (n - i == 2) {
        out += static_cast<char>(toChar_[in[i] >> 2]);
        out += static_cast<char>(toChar_[((in[i] & 0x03) << 4) | (in[i + 1] >> 4)]);
        out += static_cast<char>(toChar_[(in[i + 1] & 0x0F) << 2]);
        out += '=';
      }
      return InsertNewlineChars(out, kLineLength);
    } catch (...) {
      ErrorInfo e = ErrorInfo::current();
      throw Error(e.number ? e.number : hr::kFail, source, I18N::GetLabel("SLBSH4551"));
    }
  });
}

std::string Base64::Base64Decode(const std::string& i_sBase64String) {
  const char* source = "Quillon.Base64.Base64Decode";
  // Where decoding stopped, for the log and the caller: which character
  // is not Base64.
  std::optional<std::string> detail;
  return Guarded(
      source, [&] { return detail; },
      [&] {
        std::string text = StripIllegalChars(i_sBase64String);
        if (text.empty() || text.size() % 4 != 0) throw Error(MissingInput, source, I18N::GetLabel("SLBSH4550"));
        // Padding may only close the text: one or two "=".
        std::size_t padding = 0;
        while (padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
        std::size_t dataLength = text.size() - padding;
        for (std::size_t i = 0; i < text.size(); ++i) {
          auto c = static_cast<unsigned char>(text[i]);
          bool ok = i < dataLength ? toValue_[c] != kNoValue : padding <= 2;
          if (!ok) {
            detail = "the character '" + std::string(1, text[i]) + "' at position " + std::to_string(i + 1) +
                     " is not allowed there.";
            throw Error(MissingInput, source, I18N::GetLabel("SLBSH4550"));
          }
        }
        std::string out;
        out.reserve(text.size() / 4 * 3);
        for (std::size_t i = 0; i < text.size(); i += 4) {
          std::uint32_t v[4];
          for (int k = 0; k < 4; ++k) {
            auto c = static_cast<unsigned char>(text[i + k]);
            v[k] = c == '=' ? 0 : toValue_[c];
          }
          std::uint32_t group = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
          out += static_cast<char>((group >> 16) & 0xFF);
          out += static_cast<char>((group >> 8) & 0xFF);
          out += static_cast<char>(group & 0xFF);
        }
        out.resize(out.size() - padding);
        return out;
      });
}

std::string Base64::UnicodeStringToByte(const std::string& i_sStringIn) {
  return Guarded("Quillon.Base64.UnicodeStringToByte", [&] {
    bool lossless = false;
    std::string bytes = ToCodePage(i_sStringIn, kWesternEuropean, &lossless);
    if (lossless && FromCodePage(bytes, kWesternEuropean) == i_sStringIn) return bytes;
    return ToUtf16LE(i_sStringIn);
  });
}

std::string Base64::ByteToUnicodeString(const std::string& i_ayArrayIn) {
  return Guarded("Quillon.Base64.ByteToUnicodeString",
                 [&] { return FromCodePage(i_ayArrayIn, SystemAnsiCodePage()); });
}

std::string Base64::StripIllegalChars(const std::string& i_sStringIn) {
  return Guarded("Quillon.Base64.StripIllegalChars", [&] {
    std::string out;
    out.reserve(i_sStringIn.size());
    for (char c : i_sStringIn)
      if (c != '\r' && c != '\n' && c != '\t' && c != ' ') out += c;
    return out;
  });
}

std::string Base64::InsertNewlineChars(const std::string& i_sStringIn, std::int32_t i_lLineLength) {
  return Guarded("Quillon.Base64.InsertNewlineChars", [&] {
    // Lines are counted in characters (code points), as text is elsewhere.
    // A length below 1 leaves the text as it is.
    if (i_lLineLength <= 0) return i_sStringIn;
    std::string out;
    out.reserve(i_sStringIn.size() + i_sStringIn.size() / static_cast<std::size_t>(i_lLineLength) * 2);
    std::size_t pos = 0;
    const std::size_t n = i_sStringIn.size();
    while (pos < n) {
      std::size_t start = pos;
      for (std::int32_t count = 0; count < i_lLineLength && pos < n; ++count)
        pos = std::min(n, pos + sequenceLength(static_cast<unsigned char>(i_sStringIn[pos])));
      if (start > 0) out += text::vbCrLf;
      out.append(i_sStringIn, start, pos - start);
    }
    return out;
  });
}

// Byte arrays travel as arrays of bytes; a text is accepted as its bytes.
const ClassInfo* Base64::classInfo() const {
  using B = Base64;
  static const ClassInfo* info =
      ClassBuilder<Base64>("Quillon.Base64")
          .bind<&B::Base64Encode, std::string(Bytes)>("Base64Encode", {"i_ayArrayIn"})
          .bind<&B::Base64Decode, Bytes(std::string)>("Base64Decode", {"i_sBase64String"})
          .bind<&B::UnicodeStringToByte, Bytes(std::string)>("UnicodeStringToByte", {"i_sStringIn"})
          .bind<&B::ByteToUnicodeString, std::string(Bytes)>("ByteToUnicodeString", {"i_ayArrayIn"})
          .bind<&B::StripIllegalChars>("StripIllegalChars", {"i_sStringIn"})
          .bind<&B::InsertNewlineChars>("InsertNewlineChars", {"i_sStringIn", "i_lLineLength"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Base64().classInfo(), true);
}

}  // namespace quillon
