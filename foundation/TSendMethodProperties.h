// The record that carries the properties of one send method between the
// portal and the send-method records. Fields in their published order.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/EnumsConstantsGlobalVars.h"

namespace quillon {

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
};

}  // namespace quillon
