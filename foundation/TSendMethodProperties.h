// The record that carries the properties of one send method between the
// portal and the send-method records. Fields in their published order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/EnumsConstantsGlobalVars.h"

namespace quillon {

class Dictionary;

struct TSendMethodProperties {
  bool bAutoPush = false;
  std::string sXslFileName;
  std::string sUser;
  std::string sPassword;
  ESendMethodFormat nFormat{};
  std::string sProxy;
  std::int32_t lProxyPort = 0;
  std::int32_t lPort = 0;
  ESendMethodProtocol nProtocol{};
  EWriteMode nWriteMode{};
  std::string sExcelTemplate;
  std::string sFromAddress;
  std::string sAddress;
  std::string sFileName;
  std::string sFileExtension;
  ESendMethodSuffix nSuffix{};
  ESendMethodFileFormat nFileFormat{};
  EFileIOMode nFileIOMode{};
  std::string sTempFileName;
  bool bTempFileCanBeRemoved = false;
  ESendMethodFTPTransferType nFTPTransferType{};

  bool operator==(const TSendMethodProperties&) const = default;
};

// The record as a by-name call carries it: a Dictionary keyed by the field
// names. Keys match the field names ignoring letter case; a field that is
// left out keeps its blank value, and a key that names no field raises
// 0x80070057 (invalid argument) rather than being dropped unnoticed.
// Enumerated fields take their plain integers, unchecked.
TSendMethodProperties FromDictionary(const Dictionary& d);
// Every field, in field order: booleans as Boolean, numbers and
// enumerations as 32-bit integers, texts as String.
std::shared_ptr<Dictionary> ToDictionary(const TSendMethodProperties& p);

}  // namespace quillon
