#include "publication/DistributionList.h"

#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "platform/Text.h"
#include "foundation/Lookups.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

bool DistributionList::UserFoundOnDBList(const std::string& iDocTypeID, const std::string& iUserID) {
  return Guarded("Quillon.DistributionList.UserFoundOnDBList", [&] {
    if (iDocTypeID.empty() || iUserID.empty()) return false;
    return Lookups::HasRow("SELECT USERID FROM DISTRIBUTIONLIST WHERE DOCUMENTTYPEID = " + SqlText(iDocTypeID) + " " +
                           "AND USERID = " + SqlText(iUserID));
  });
}

bool DistributionList::BPFoundOnDBList(const std::string& iDocTypeID, std::int32_t iBPID) {
  return Guarded("Quillon.DistributionList.BPFoundOnDBList", [&] {
    if (iDocTypeID.empty() || iBPID == 0) return false;
    return Lookups::HasRow("SELECT BUSINESSPARTNERID FROM DISTRIBUTIONLIST WHERE DOCUMENTTYPEID = " + SqlText(iDocTypeID) +
                           " " + "AND BUSINESSPARTNERID = " + SqlLong(iBPID));
  });
}

bool DistributionList::AnyBPFoundOnDBList(const std::string& iDocTypeID) {
  return Guarded("Quillon.DistributionList.AnyBPFoundOnDBList", [&] {
    if (iDocTypeID.empty()) return false;
    return Lookups::HasRow("SELECT DISTINCT BUSINESSPARTNERID FROM DISTRIBUTIONLIST WHERE DOCUMENTTYPEID = " +
                           SqlText(iDocTypeID));
  });
}

void DistributionList::RemoveBPsFromDBList(const std::string& iDocTypeID) {
  Guarded("Quillon.DistributionList.RemoveBPsFromDBList", [&] {
    Lookups::Execute("DELETE FROM DISTRIBUTIONLIST WHERE (DOCUMENTTYPEID = " + SqlText(iDocTypeID) + ")");
  });
}

namespace {

// The value of the key with this exact name, or Empty.
Variant keyValue(const VariantArray& names, const VariantArray& values, const std::string& name) {
  for (long i = names.lbound(); i <= names.ubound(); ++i)
    if (names.at(i).text() == name) return values.at(i);
  return {};
}

}  // namespace

bool DistributionList::IReferentialIntegrity_Exists(const std::string& objectType, const Variant& keyNames,
                                                    const Variant& keyValues) {
  return Guarded("Quillon.DistributionList.IReferentialIntegrity_Exists", [&] {
    const std::string type = text::UCase(objectType);
    const VariantArray& names = keyNames.array();
    const VariantArray& values = keyValues.array();
    // Runs the checks for every key of that name; the first row found ends
    // the search, otherwise the last check's answer stands.
    auto perKey = [&](const std::string& key, const std::vector<std::string>& heads, bool numeric) {
      bool answer = false;
      for (long i = names.lbound(); i <= names.ubound(); ++i) {
        if (names.at(i).text() != key) continue;
        std::string literal = numeric ? SqlLong(values.at(i).toInt32()) : SqlText(values.at(i).text());
        for (const std::string& head : heads) {
          answer = Lookups::HasRow(head + literal);
          if (answer) return true;
        }
      }
      return answer;
    };
    if (type == "BUSINESSPARTNER")
      return perKey("BUSINESSPARTNERID",
                    {"SELECT BUSINESSPARTNERID FROM DISTRIBUTIONLIST WHERE BUSINESSPARTNERID = ",
                     "SELECT BUSINESSPARTNERID FROM SENDERLIST WHERE BUSINESSPARTNERID = ",
                     "SELECT BUSINESSPARTNERID FROM RECEIVEMETHOD WHERE BUSINESSPARTNERID = ",
                     "SELECT BUSINESSPARTNERID FROM SENDMETHOD WHERE BUSINESSPARTNERID = ",
                     "SELECT ORIGINALID FROM RULEHEADER WHERE RULETYPE = 2 AND ORIGINALID = ",
                     "SELECT BUSINESSPARTNERID FROM SENDMETHODHISTORY WHERE BUSINESSPARTNERID = ",
                     "SELECT BUSINESSPARTNERID FROM NOTIFICATIONTEMPLATE WHERE BUSINESSPARTNERID = ",
                     "SELECT BUSINESSPARTNERID FROM NOTIFICATIONEMAIL WHERE BUSINESSPARTNERID = "},
                    true);
    if (type == "USER")
      return perKey("USERID",
                    {"SELECT USERID FROM DISTRIBUTIONLIST WHERE USERID = ", "SELECT USERID FROM PUBLICATION WHERE USERID = ",
                     "SELECT USERID FROM SENDERLIST WHERE USERID = "},
                    false);
    if (type == "USER_DOCUMENTTYPE")
      return Lookups::HasRow("SELECT USERID FROM DISTRIBUTIONLIST WHERE USERID = " +
                             SqlText(keyValue(names, values, "USERID").text()) +
                             "AND DOCUMENTTYPEID = " + SqlText(keyValue(names, values, "DOCUMENTTYPEID").text()));
    if (type == "USER_BUSINESSPARTNER")
      return Lookups::HasRow("SELECT USERID FROM DISTRIBUTIONLIST WHERE USERID = " +
                             SqlText(keyValue(names, values, "USERID").text()) + "AND BUSINESSPARTNERID = " +
                             SqlLong(keyValue(names, values, "BUSINESSPARTNERID").toInt32()));
    if (type == "DOCUMENTTYPE")
      return perKey("DOCUMENTTYPEID", {"SELECT DOCUMENTTYPEID FROM DISTRIBUTIONLIST WHERE DOCUMENTTYPEID = "}, false);
    return false;
  });
}

bool DistributionList::IReferentialIntegrity_BeforeDelete(const std::string&, const Variant&, const Variant&) {
  return true;
}

const ClassInfo* DistributionList::classInfo() const {
  using D = DistributionList;
  static const ClassInfo* info =
      ClassBuilder<DistributionList>("Quillon.DistributionList")
          .bind<&D::UserFoundOnDBList>("UserFoundOnDBList", {ref("iDocTypeID"), ref("iUserID")})
          .bind<&D::BPFoundOnDBList>("BPFoundOnDBList", {ref("iDocTypeID"), ref("iBPID")})
          .bind<&D::AnyBPFoundOnDBList>("AnyBPFoundOnDBList", {ref("iDocTypeID")})
          .bind<&D::RemoveBPsFromDBList>("RemoveBPsFromDBList", {ref("iDocTypeID")})
          .bind<&D::IReferentialIntegrity_Exists>("IReferentialIntegrity_Exists", {"ObjectType", "KeyNames", "KeyValues"})
          .bind<&D::IReferentialIntegrity_BeforeDelete>(
              "IReferentialIntegrity_BeforeDelete", {opt("ObjectType", ""), opt("KeyNames", Variant()), opt("KeyValues", Variant())})
          .done();
  return info;
}

namespace {
const bool kRegistered = (DistributionList().classInfo(), true);
}

}  // namespace quillon
