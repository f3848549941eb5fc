#include "document/ReceiveMethod.h"
#include "foundation/ConnectionScope.h"

#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "platform/Database.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

}  // namespace

std::string ReceiveMethod::GetXslFileName(std::int32_t iBPID, const std::string& iDocTypeID) {
  return Guarded("Quillon.ReceiveMethod.GetXslFileName", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute("SELECT XSLFILENAME FROM RECEIVEMETHOD WHERE DOCUMENTTYPEID = " +
                                  SqlText(iDocTypeID) + " " + "AND BUSINESSPARTNERID = " + SqlLong(iBPID));
    std::string name = rs->EOF_() ? std::string() : rs->Fields("XSLFILENAME").Value().text();
    rs->Close();
    return name;
  });
}

std::int32_t ReceiveMethod::InsertReceiveMethod(std::int32_t iBPID, const std::string& iDocTypeID,
                                                const std::string& iXSLFileName) {
  return Guarded("Quillon.ReceiveMethod.InsertReceiveMethod", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM RECEIVEMETHOD WHERE 0 = 1", conn.get());
    rs->AddNew();
    rs->Fields("DOCUMENTTYPEID").SetValue(Variant(iDocTypeID));
    rs->Fields("BUSINESSPARTNERID").SetValue(Variant(iBPID));
    rs->Fields("XSLFILENAME").SetValue(Variant(iXSLFileName));
    rs->Update();
    std::int32_t id = rs->Fields("RECEIVEMETHODID").Value().toInt32();
    rs->Close();
    return id;
  });
}

void ReceiveMethod::UpdateReceiveMethod(std::int32_t iRMID, const std::string& iXSLFileName) {
  Guarded("Quillon.ReceiveMethod.UpdateReceiveMethod", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT XSLFILENAME FROM RECEIVEMETHOD WHERE RECEIVEMETHODID = " + SqlLong(iRMID),
                            conn.get());
    // Without a row the field write raises "BOF or EOF", so an unknown id
    // is reported instead of passing as done.
    rs->Fields("XSLFILENAME").SetValue(Variant(iXSLFileName));
    rs->Update();
    rs->Close();
  });
}

void ReceiveMethod::DeleteReceiveMethod(std::int32_t iRMID) {
  Guarded("Quillon.ReceiveMethod.DeleteReceiveMethod", [&] {
    ConnectionScope conn;
    conn.get()->Execute("DELETE FROM RECEIVEMETHOD WHERE (RECEIVEMETHODID = " + SqlLong(iRMID) + ")");
  });
}

std::int32_t ReceiveMethod::GetReceiveMethodID(std::int32_t iBusinessPartnerID, const std::string& iDocTypeID) {
  // The failure source keeps the spelling the callers' logs have always shown.
  return Guarded("Quillon.ReceiveMethod.GetReceivemethodID", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute("SELECT RECEIVEMETHODID FROM RECEIVEMETHOD WHERE BUSINESSPARTNERID = " +
                                  SqlLong(iBusinessPartnerID) + " AND DOCUMENTTYPEID = " + SqlText(iDocTypeID));
    std::int32_t id = rs->EOF_() ? 0 : rs->Fields("RECEIVEMETHODID").Value().toInt32();
    rs->Close();
    return id;
  });
}

const ClassInfo* ReceiveMethod::classInfo() const {
  using R = ReceiveMethod;
  static const ClassInfo* info =
      ClassBuilder<ReceiveMethod>("Quillon.ReceiveMethod")
          .bind<&R::GetXslFileName>("GetXslFileName", {"iBPID", "iDocTypeID"})
          .bind<&R::InsertReceiveMethod>("InsertReceiveMethod", {"iBPID", "iDocTypeID", "iXSLFileName"})
          .bind<&R::UpdateReceiveMethod>("UpdateReceiveMethod", {"iRMID", "iXSLFileName"})
          .bind<&R::DeleteReceiveMethod>("DeleteReceiveMethod", {"iRMID"})
          .bind<&R::GetReceiveMethodID>("GetReceiveMethodID", {"iBusinessPartnerID", "iDocTypeID"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (ReceiveMethod().classInfo(), true);
}

}  // namespace quillon
