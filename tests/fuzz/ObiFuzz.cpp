// OBI envelopes: recognising one in any text, and unpacking any object.
#include <cstdint>
#include <string>

#include "document/Base64.h"
#include "document/OBI.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Error.h"
#include "platform/XmlDom.h"
#include "tests/fuzz/FuzzSite.h"

using namespace quillon;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::UseTemporarySite();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  OBI obi;
  try {
    std::string type, senderBP, senderUser, receiverBP, receiverUser;
    obi.GetObiDocumentInfo(nullptr, in, type, senderBP, senderUser, receiverBP, receiverUser);
    obi.IsObiDocument(in);
    auto dom = obi.XmlToDom(in);
    obi.GetObiDocumentInfo(dom, in, type, senderBP, senderUser, receiverBP, receiverUser);
    std::string version = obi.GetObiDocumentVersion(dom, in);
    // A parsed document packs into an object and unpacks again.
    std::string object;
    obi.ConstructObiObject(std::string("\x03\x00", 2), EObiLanguage::XML, in, "sig", object);
    std::string v, xml, signature;
    EObiLanguage language;
    obi.DeconstructObiObject(object, v, language, xml, signature);
    if (signature != "sig") __builtin_trap();
  } catch (const Error&) {
  }
  try {
    std::string v, xml, signature;
    EObiLanguage language;
    obi.DeconstructObiObject(in, v, language, xml, signature);
    obi.DeconstructObiObject(Base64().Base64Encode(in), v, language, xml, signature);
  } catch (const Error&) {
  }
  return 0;
}
