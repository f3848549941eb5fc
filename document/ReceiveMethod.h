// ReceiveMethod: per business partner and document type, the name of the
// style sheet that turns that partner's XML into the standard XML of the
// type (one RECEIVEMETHOD row each). The intake converts with it; a partner
// without a row has its XML taken over unchanged.
//
// Every operation opens its own connection and closes it before it
// returns. A missing row is no error: the file name comes back empty, the
// id 0.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace quillon {

class ReceiveMethod : public Object {
 public:
  const ClassInfo* classInfo() const override;

  std::string GetXslFileName(std::int32_t iBPID, const std::string& iDocTypeID);
  // Adds a row and returns its new RECEIVEMETHODID.
  std::int32_t InsertReceiveMethod(std::int32_t iBPID, const std::string& iDocTypeID,
                                   const std::string& iXSLFileName);
  // Rewrites XSLFILENAME; an id without a row raises.
  void UpdateReceiveMethod(std::int32_t iRMID, const std::string& iXSLFileName);
  void DeleteReceiveMethod(std::int32_t iRMID);
  std::int32_t GetReceiveMethodID(std::int32_t iBusinessPartnerID, const std::string& iDocTypeID);
};

}  // namespace quillon
