// An example plug-in that implements the IMethodCall24 contract.
//
// "Example.Archive" receives a delivery piece by piece and, on Process,
// writes what it received to SITE/temp/Archive_<document id>.txt: the
// partner, the document, the attachments and the data, one line each, in
// the order the calls came.
#include <cstdlib>
#include <fstream>
#include <string>

#include "delivery/IMethodCall24.h"
#include "platform/Error.h"
#include "platform/Plugins.h"

namespace {

using namespace quillon;

class Archive : public IMethodCall24 {
 public:
  const ClassInfo* classInfo() const override { return info; }
  void setBusinessPartnerID(std::int32_t id) override { log_ += "partner " + std::to_string(id) + "\n"; }
  void setDocumentID(std::int32_t id) override {
    docID_ = id;
    log_ += "document " + std::to_string(id) + "\n";
  }
  void setDocumentAttachments(Variant& files) override {
    log_ += "attachments";
    for (const Variant& f : files.array().elements()) log_ += " " + f.text();
    log_ += "\n";
  }
  void setDocumentXML(const std::string& data) override { log_ += "xml " + data + "\n"; }
  void setExcelWorkBook(const Variant&) override { log_ += "workbook\n"; }
  void Process() override {
    const char* site = std::getenv("QUILLON_SITE");
    if (!site) throw Error(hr::kFail, "Example.Archive", "No site to archive into.");
    std::ofstream(std::string(site) + "/temp/Archive_" + std::to_string(docID_) + ".txt") << log_ << "processed\n";
  }
  static inline const ClassInfo* info = nullptr;

 private:
  std::int32_t docID_ = 0;
  std::string log_;
};

}  // namespace

extern "C" int quillon_plugin_abi() { return QUILLON_PLUGIN_ABI; }

extern "C" void quillon_plugin_register() {
  using A = std::vector<Variant>;
  Archive::info =
      ClassBuilder<Archive>("Example.Archive")
          .method("setBusinessPartnerID", {in("i_lBPID")}, [](Archive& p, A& a) { p.setBusinessPartnerID(a[0].toInt32()); return Variant(); })
          .method("setDocumentID", {in("i_lDocID")}, [](Archive& p, A& a) { p.setDocumentID(a[0].toInt32()); return Variant(); })
          .method("setDocumentAttachments", {ref("i_asAttachments")}, [](Archive& p, A& a) { p.setDocumentAttachments(a[0]); return Variant(); })
          .method("setDocumentXML", {in("i_sDocumentData")}, [](Archive& p, A& a) { p.setDocumentXML(a[0].text()); return Variant(); })
          .method("setExcelWorkBook", {in("i_oExcelWorkBook")}, [](Archive& p, A& a) { p.setExcelWorkBook(a[0]); return Variant(); })
          .method("Process", {}, [](Archive& p, A&) { p.Process(); return Variant(); })
          .done();
}
