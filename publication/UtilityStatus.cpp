// Utility: the status of a recipient's copy, its forward flag, the status
// names the portal's filters use, and the accept/reject switch of a type.
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "foundation/Lookups.h"
#include "platform/Text.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

// A column of the recipient's copy: -1 without a copy, `ifNull` for Null.
std::int32_t publicationValue(const std::string& column, std::int32_t docID, const std::string& recipient,
                              std::int32_t ifNull) {
  Variant v = Lookups::FirstValue("SELECT " + column + " FROM PUBLICATION WHERE DOCUMENTID = " + SqlLong(docID) +
                                  " AND USERID = " + SqlText(recipient) + " ");
  if (v.isEmpty()) return -1;
  return v.isNumeric() ? v.toInt32() : ifNull;
}

}  // namespace

std::int32_t Utility::GetPublicationStatus(std::int32_t iDocID, const std::string& iRecipientID) {
  return Guarded("Quillon.Utility.GetPublicationStatus",
                 [&] { return publicationValue("STATUS", iDocID, iRecipientID, -1); });
}

std::int32_t Utility::GetForwardFlag(std::int32_t iDocID, const std::string& iRecipientID) {
  return Guarded("Quillon.Utility.GetForwardFlag", [&] { return publicationValue("FORWARD", iDocID, iRecipientID, 0); });
}

PUBLICATIONSTATUS Utility::ConvertPublicationStatusFromStringToEnum(std::string& iStatus) {
  return Guarded("Quillon.Utility.ConvertPublicationStatusFromStringToEnum", [&] {
    iStatus = text::Trim(iStatus);
    struct Spelling {
      const char* text;
      PUBLICATIONSTATUS status;
    };
    // The listed spellings only; other mixtures of case are not accepted.
    static const Spelling kSpellings[] = {
        {"New", PUBLICATIONSTATUS::PUBLICATIONNEW},
        {"new", PUBLICATIONSTATUS::PUBLICATIONNEW},
        {"NEW", PUBLICATIONSTATUS::PUBLICATIONNEW},
        {"Accepted", PUBLICATIONSTATUS::PUBLICATIONACC},
        {"accepted", PUBLICATIONSTATUS::PUBLICATIONACC},
        {"ACCEPTED", PUBLICATIONSTATUS::PUBLICATIONACC},
        {"Accept", PUBLICATIONSTATUS::PUBLICATIONACC},
        {"accept", PUBLICATIONSTATUS::PUBLICATIONACC},
        {"ACCEPT", PUBLICATIONSTATUS::PUBLICATIONACC},
        {"Rejected", PUBLICATIONSTATUS::PUBLICATIONREJECTED},
        {"rejected", PUBLICATIONSTATUS::PUBLICATIONREJECTED},
        {"REJECTED", PUBLICATIONSTATUS::PUBLICATIONREJECTED},
        {"Reject", PUBLICATIONSTATUS::PUBLICATIONREJECTED},
        {"reject", PUBLICATIONSTATUS::PUBLICATIONREJECTED},
        {"REJECT", PUBLICATIONSTATUS::PUBLICATIONREJECTED},
        {"Viewed", PUBLICATIONSTATUS::PUBLICATIONVIEWED},
        {"viewed", PUBLICATIONSTATUS::PUBLICATIONVIEWED},
        {"VIEWED", PUBLICATIONSTATUS::PUBLICATIONVIEWED},
        {"View", PUBLICATIONSTATUS::PUBLICATIONVIEWED},
        {"view", PUBLICATIONSTATUS::PUBLICATIONVIEWED},
        {"VIEW", PUBLICATIONSTATUS::PUBLICATIONVIEWED},
        {"DownLoaded", PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED},
        {"DownLoad", PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED},
        {"downloaded", PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED},
        {"download", PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED},
        {"DOWNLOADED", PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED},
        {"DOWNLOAD", PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED},
        {"Downloaded", PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED},
        {"Download", PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED},
    };
    for (const Spelling& s : kSpellings)
      if (iStatus == s.text) return s.status;
    return PUBLICATIONSTATUS::PUBLICATIONUNKNOWNSTATUS;
  });
}

bool Utility::ShowAcceptRejectButtons(const std::string& i_sDocTypeID) {
  return Guarded("Quillon.Utility.ShowAcceptRejectButtons", [&] {
    Variant v = Lookups::FirstValue(std::string(" SELECT SHOWACCEPTREJECT ") + " FROM DOCUMENTTYPE " +
                                    " WHERE DOCUMENTTYPEID = " + SqlText(i_sDocTypeID));
    return v.isNumeric() && v.toDouble() != 0;
  });
}

}  // namespace quillon
