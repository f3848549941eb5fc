// Utility: who receives a stored document, and what an incoming document
// says about its type, sender and default receiver.
#include "delivery/Rules.h"
#include "document/Document.h"
#include "document/OBI.h"
#include "foundation/Encoding.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "foundation/PublicationErrorHandling.h"
#include "platform/Database.h"
#include "platform/Directory.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/DistributionList.h"
#include "foundation/Lookups.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

const char* const kFillSource = "Quillon.Utility.ExecuteXslPatternAndFillPublicationTable";

std::shared_ptr<DomDocument> loadXml(const std::string& xml, const std::string& source) {
  auto dom = std::make_shared<DomDocument>();
  if (!dom->loadXML(xml)) {
    const ParseError& e = dom->parseError();
    throw Error(e.errorCode ? e.errorCode : XMLLoadError, source, e.reason);
  }
  return dom;
}

// Node texts are read without surrounding white space, as the portal's
// parser gives them.
std::string nodeText(const DomNode& node) {
  std::string t = node.text();
  std::size_t b = t.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  std::size_t e = t.find_last_not_of(" \t\r\n");
  return t.substr(b, e - b + 1);
}

std::string documentXml(const std::shared_ptr<DomNode>& node) {
  if (auto doc = std::dynamic_pointer_cast<DomDocument>(node)) return doc->xml();
  return node->xml();
}

// Records a publication error for one recipient; a failure to record it
// must not stop the other recipients.
void recordError(std::int32_t docID, std::int32_t number, const std::string& text, const std::string& category) {
  try {
    PublicationErrorHandling::LogPublicationError(docID, number, text, kFillSource, category);
  } catch (...) {
    General::LogError(kFillSource, "Could not record a publication error for document " + std::to_string(docID) + ": " + text);
  }
}

std::shared_ptr<DomDocument> requireDom(const std::shared_ptr<DomDocument>& dom, const std::string& source) {
  if (!dom) throw Error(hr::kObjectRequired, source, "Object required: the XML document");
  return dom;
}

// The steps of the public methods below, shared by their text and DOM
// forms; each public method raises through its own Guarded frame once.

std::int32_t fillFromDocument(Utility& u, std::int32_t docID, const std::string& type,
                              const std::shared_ptr<DomDocument>& dom) {
  std::int32_t result = 0;
  std::string all = u.ExecuteXSLPattern(dom, "//USESDISTLIST");
  if (all == "1" || text::UCase(text::Trim(all)) == "TRUE") {
    if (u.FillPublicationTable(docID, type, 0, "") >= 1) result = 1;
    u.RemoveAllRoutingInfoFromDocument(docID, dom);
    return result;
  }

  OBI obi;
  std::string obiType, senderBP, senderUser, receiverBP, receiverUser;
  if (obi.GetObiDocumentInfo(dom, "", obiType, senderBP, senderUser, receiverBP, receiverUser)) {
    if (u.FillPublicationTable(docID, type, 0, receiverUser) > 0) result = 1;
    return result;
  }

  if (u.ExecuteXslPatternAndFillPublicationTable(docID, type, dom, "//RECEIVER")) result = 1;
  if (u.ExecuteXSLPattern(dom, "//BUSINESSPARTNER").empty()) {
    if (u.ExecuteXslPatternAndFillPublicationTable(docID, type, dom, "//BUS-PART-C")) result = 1;
    if (u.ExecuteXslPatternAndFillPublicationTable(docID, type, dom, "//BUS-PART-S")) result = 1;
  } else if (u.ExecuteXslPatternAndFillPublicationTable(docID, type, dom, "//BUSINESSPARTNER")) {
    result = 1;
  }
  return result;
}

std::string docTypeOf(Utility& u, const std::shared_ptr<DomDocument>& dom, std::int32_t bpID) {
  OBI obi;
  std::string obiType, senderBP, senderUser, receiverBP, receiverUser;
  if (obi.GetObiDocumentInfo(dom, "", obiType, senderBP, senderUser, receiverBP, receiverUser)) return obiType;
  std::string type = u.ExecuteXSLPattern(dom, "//DOCTYPE-ID");
  if (!type.empty() && !u.DocTypeFoundInTable(type)) type.clear();
  if (type.empty()) {
    std::string ruled = Rules().ExecuteDocumentTypeRuleSet(0, bpID, dom);
    type = u.DocTypeFoundInTable(ruled) ? ruled : std::string();
  }
  return type;
}

void senderOf(Utility& u, const std::shared_ptr<DomDocument>& dom, std::int32_t& oSenderBP, std::string& oSenderName) {
  OBI obi;
  std::string obiType, senderBP, receiverBP, receiverUser;
  obi.GetObiDocumentInfo(dom, "", obiType, senderBP, oSenderName, receiverBP, receiverUser);
  if (oSenderName.empty()) oSenderName = text::Trim(u.ExecuteXSLPattern(dom, "//SENDER"));
  std::string virt;
  std::shared_ptr<Recordset> found;
  // Sender and contact are document text: escaped, they match a directory
  // entry of exactly that name, never a wildcard or filter pattern.
  if (!oSenderName.empty()) {
    found = u.GetAuoRSByCriteria(Variant("cn=" + DirectoryMembers::EscapeValue(oSenderName)), virt);
  } else {
    std::string contact = u.ExecuteXSLPattern(dom, "//CONTACT");
    if (contact.empty())
      throw Error(ProcessDocumentError, "Quillon.Utility.GetSenderBPAndName",
                  "The document names neither a sender nor a contact.");
    const std::string value = DirectoryMembers::EscapeValue(contact);
    found = u.GetAuoRSByCriteria(Variant("cn=" + value), virt);
    if (found->EOF_()) found = u.GetAuoRSByCriteria(Variant("employeenumber=" + value), virt);
  }
  if (!found->EOF_()) {
    oSenderBP = found->Fields("BusinessPartnerID").Value().toInt32();
    oSenderName = found->Fields("cn").Value().text();
  }
}

// A failed sender look-up leaves no half answer and says which step failed.
[[noreturn]] void senderFailed(std::int32_t& oSenderBP, std::string& oSenderName) {
  oSenderBP = 0;
  oSenderName.clear();
  std::string info;
  try {
    info = I18N::GetLabel("SLBSH0004");
  } catch (...) {
  }
  General::ReRaiseError("Quillon.Utility.GetSenderBPAndName", info);
  throw;
}

std::string defaultReceiverOf(Utility& u, const std::shared_ptr<DomDocument>& dom) {
  if (u.ExecuteXSLPattern(dom, "//REQUISITIONER").empty()) return std::string();
  return u.ExecuteXSLPattern(dom, "//RECEIVER");
}

}  // namespace

std::int32_t Utility::FillPublicationTable(std::int32_t iDocID, const std::string& iDocTypeID, std::int32_t iBPID,
                                           const std::string& iUserID) {
  return Guarded("Quillon.Utility.FillPublicationTable", [&] {
    std::string sql = "INSERT INTO PUBLICATION " "SELECT " + std::to_string(iDocID) +
                      ", DISTRIBUTIONLIST.USERID, 0, 0, NULL " "FROM DISTRIBUTIONLIST "
                      "WHERE DISTRIBUTIONLIST.DOCUMENTTYPEID = " +
                      SqlText(iDocTypeID) + " ";
    if (iBPID != 0) sql += " AND BUSINESSPARTNERID = " + SqlLong(iBPID);
    if (!iUserID.empty()) sql += " AND USERID = " + SqlText(iUserID) + " ";
    sql += " AND DISTRIBUTIONLIST.USERID NOT IN (SELECT PUBLICATION.USERID FROM PUBLICATION WHERE "
           "PUBLICATION.USERID = DISTRIBUTIONLIST.USERID AND DOCUMENTID = " +
           SqlLong(iDocID) + ")";
    return static_cast<std::int32_t>(Lookups::Execute(sql));
  });
}

std::int32_t Utility::GetRecipientsAndFillPublicationTable(std::int32_t iDocID, const std::string& iDocTypeID,
                                                           const std::string& iXMLStr) {
  const std::string source = "Quillon.Utility.GetRecipientsAndFillPublicationTable";
  return Guarded(source, [&]() -> std::int32_t {
    Document document;
    std::string xml = iXMLStr.empty() ? document.GetXmlDocument(iDocID) : iXMLStr;
    std::string type = iDocTypeID.empty() ? document.GetDocumentTypeOfDocument(iDocID) : iDocTypeID;
    if (type.empty() || iDocID == 0 || xml.empty()) return 0;
    return fillFromDocument(*this, iDocID, type, loadXml(xml, source));
  });
}

std::int32_t UtilityDom::GetRecipientsAndFillPublicationTable(Utility& u, std::int32_t iDocID,
                                                              const std::string& iDocTypeID,
                                                              const std::shared_ptr<DomDocument>& iXMLDoc) {
  const std::string source = "Quillon.Utility.GetRecipientsAndFillPublicationTable";
  return Guarded(source, [&]() -> std::int32_t {
    requireDom(iXMLDoc, source);
    std::string type = iDocTypeID.empty() ? Document().GetDocumentTypeOfDocument(iDocID) : iDocTypeID;
    if (type.empty() || iDocID == 0 || !iXMLDoc->documentElement()) return 0;
    return fillFromDocument(u, iDocID, type, iXMLDoc);
  });
}

bool Utility::ExecuteXslPatternAndFillPublicationTable(std::int32_t iDocID, const std::string& iDocTypeID,
                                                       const std::shared_ptr<DomNode>& iXMLDoc,
                                                       const std::string& iXslPattern) {
  return Guarded(kFillSource, [&] {
    auto nodes = ExecuteXSLPatternReturnAllNodes(iXMLDoc, iXslPattern);
    if (!nodes || nodes->length() == 0) return false;
    DistributionList list;
    bool result = false, changed = false;
    const std::string id = std::to_string(iDocID);

    // Publishes to a partner's listed users; a partner on the list whose
    // users already hold the document counts as found.
    auto publishToPartner = [&](std::int32_t bp) {
      std::int32_t n = FillPublicationTable(iDocID, iDocTypeID, bp, "");
      if (n == 0 && list.BPFoundOnDBList(iDocTypeID, bp)) n = 1;
      return n;
    };

    for (const auto& node : nodes->nodes()) {
      std::string value = nodeText(*node);
      if (value.empty()) continue;
      changed = true;
      std::int32_t count = 0;
      ErrorInfo pending;
      try {
        if (iXslPattern == "//RECEIVER") {
          count = FillPublicationTable(iDocID, iDocTypeID, 0, value);
          if (count == 0 && list.UserFoundOnDBList(iDocTypeID, value)) count = 1;
        } else if (iXslPattern == "//BUSINESSPARTNER") {
          if (text::IsNumeric(value))
            count = publishToPartner(Variant(value).toInt32());
          else
            recordError(iDocID, ProcessDocumentError,
                        I18N::LabelWith("SLBSH4482", {{"[%DOCID%]", id}, {"[%BPID%]", value}}), "SLBSH4475");
        } else if (iXslPattern == "//BUS-PART-C" || iXslPattern == "//BUS-PART-S") {
          std::int32_t bp = 0;
          try {
            auto partners = General::RequireComponent<BusinessPartnerRegistry>("Granite.BusinessPartner", kFillSource);
            bp = partners->FindByCode(iXslPattern == "//BUS-PART-C" ? 'C' : 'S', value);
            // An unknown code must not widen the publication to every partner.
            if (bp == 0) throw Error(hr::kInvalidArg, "Granite.BusinessPartner", "No partner has the code '" + value + "'.");
          } catch (...) {
            recordError(iDocID, ProcessDocumentError, I18N::LabelWith("SLBSH4481", {{"[%BPID%]", value}}), "SLBSH4476");
            bp = 0;
          }
          if (bp != 0) count = publishToPartner(bp);
        }
      } catch (...) {
        pending = ErrorInfo::current();
      }
      if (pending.pending() || count == 0) {
        std::string textOfError;
        try {
          // Both uses of the recipient text fill the same placeholders, so
          // the error box never shows one unfilled.
          if (count != 0 || iXslPattern != "//RECEIVER")
            textOfError = I18N::LabelWith("SLBSH4479", {{"[%RECIPIENT_ID%]", value},
                                                        {"[%DOCUMENT_ID%]", id},
                                                        {"[%DOCTYPE%]", GetDocumentTypeDescription(iDocTypeID)}});
          else
            textOfError = I18N::LabelWith("SLBSH4478", {{"[%USER_ID%]", value},
                                                        {"[%DOCTYPE%]", GetDocumentTypeDescription(iDocTypeID)}});
        } catch (...) {
          textOfError = pending.description;
        }
        recordError(iDocID, pending.number, textOfError, "SLBSH0008");
      }
      if (count > 0) result = true;
      node->setText("");
    }
    if (changed) Document().UpdateDocumentWithXmlBody(iDocID, documentXml(iXMLDoc));
    return result;
  });
}

bool Utility::ClearTagsAndWriteDocToDB(std::int32_t iDocID, const std::shared_ptr<DomNode>& iXMLDoc,
                                       const std::string& iXslPattern) {
  return Guarded("Quillon.Utility.ClearTagsAndWriteDocToDB", [&] {
    auto nodes = ExecuteXSLPatternReturnAllNodes(iXMLDoc, iXslPattern);
    if (nodes && nodes->length() > 0) {
      for (const auto& node : nodes->nodes()) node->setText("");
      Document().UpdateDocumentWithXmlBody(iDocID, documentXml(iXMLDoc));
    }
    return false;
  });
}

void Utility::RemoveAllRoutingInfoFromDocument(std::int32_t iDocID, const std::shared_ptr<DomNode>& iXMLDoc) {
  Guarded("Quillon.Utility.RemoveAllRoutingInfoFromDocument", [&] {
    for (const char* tag : {"//USESDISTLIST", "//RECEIVER", "//BUSINESSPARTNER", "//BUS-PART-C", "//BUS-PART-S"})
      ClearTagsAndWriteDocToDB(iDocID, iXMLDoc, tag);
  });
}

std::string Utility::GetDocType(const std::string& iXMLStr, std::int32_t iBPID) {
  const std::string source = "Quillon.Utility.GetDocType";
  return Guarded(source, [&] { return docTypeOf(*this, loadXml(iXMLStr, source), iBPID); });
}

std::string UtilityDom::GetDocType(Utility& u, const std::shared_ptr<DomDocument>& iXMLDoc, std::int32_t iBPID) {
  const std::string source = "Quillon.Utility.GetDocType";
  return Guarded(source, [&] { return docTypeOf(u, requireDom(iXMLDoc, source), iBPID); });
}

void Utility::GetSenderBPAndName(const std::string& iXMLStr, std::int32_t& oSenderBP, std::string& oSenderName) {
  try {
    oSenderBP = 0;
    oSenderName.clear();
    auto dom = std::make_shared<DomDocument>();
    if (!dom->loadXML(iXMLStr)) {
      // The envelope reader reports a text that is no XML document.
      OBI obi;
      std::string obiType, senderBP, receiverBP, receiverUser;
      obi.GetObiDocumentInfo(nullptr, iXMLStr, obiType, senderBP, oSenderName, receiverBP, receiverUser);
      const ParseError& e = dom->parseError();
      throw Error(e.errorCode, e.srcText, e.reason);
    }
    senderOf(*this, dom, oSenderBP, oSenderName);
  } catch (...) {
    senderFailed(oSenderBP, oSenderName);
  }
}

void UtilityDom::GetSenderBPAndName(Utility& u, const std::shared_ptr<DomDocument>& iXMLDoc, std::int32_t& oSenderBP,
                                    std::string& oSenderName) {
  try {
    oSenderBP = 0;
    oSenderName.clear();
    senderOf(u, requireDom(iXMLDoc, "Quillon.Utility.GetSenderBPAndName"), oSenderBP, oSenderName);
  } catch (...) {
    senderFailed(oSenderBP, oSenderName);
  }
}

std::string Utility::GetDefaultReceiver(const std::string& iXMLStr) {
  const std::string source = "Quillon.Utility.GetDefaultReceiver";
  return Guarded(source, [&] { return defaultReceiverOf(*this, loadXml(iXMLStr, source)); });
}

std::string UtilityDom::GetDefaultReceiver(Utility& u, const std::shared_ptr<DomDocument>& iXMLDoc) {
  const std::string source = "Quillon.Utility.GetDefaultReceiver";
  return Guarded(source, [&] { return defaultReceiverOf(u, requireDom(iXMLDoc, source)); });
}

bool Utility::BPOfDocumentEqualsBPOfUser(const std::string& i_sUser, const std::string& i_sXml) {
  return Guarded("Quillon.Utility.BPOfDocumentEqualsBPOfUser", [&] {
    std::int32_t bp = 0;
    std::string name;
    GetSenderBPAndName(i_sXml, bp, name);
    return bp == GetAUBusinessPartnerID(i_sUser);
  });
}

}  // namespace quillon
