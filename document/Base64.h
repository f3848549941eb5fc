// Base64: byte arrays to and from Base64 text (RFC 4648 alphabet with "="
// padding, lines of 76 characters joined by CR LF), and text to and from
// bytes in the Windows code pages.
//
// Byte arrays are std::string holding raw bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class Base64 : public Object {
 public:
  Base64();
  const ClassInfo* classInfo() const override;

  std::string Base64Encode(const std::string& i_ayArrayIn);
  // Raises MissingInput (label SLBSH4550) for an empty text or one whose
  // length without blanks and line breaks is not a multiple of 4.
  std::string Base64Decode(const std::string& i_sBase64String);
  // One byte per character in Windows-1252 when the text survives the
  // conversion unchanged, otherwise UTF-16 little-endian code units.
  std::string UnicodeStringToByte(const std::string& i_sStringIn);
  // The bytes read as text in the system's ANSI code page.
  std::string ByteToUnicodeString(const std::string& i_ayArrayIn);
  std::string StripIllegalChars(const std::string& i_sStringIn);
  std::string InsertNewlineChars(const std::string& i_sStringIn, std::int32_t i_lLineLength);

 private:
  void Initialize();
  std::array<std::uint8_t, 256> toChar_{};
  std::array<std::uint8_t, 256> toValue_{};
};

}  // namespace quillon
