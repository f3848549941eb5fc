#include "document/Template.h"
#include "foundation/ConnectionScope.h"

#include "foundation/DBUtils.h"
#include "foundation/Encoding.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "platform/Database.h"
#include "publication/Utility.h"

namespace quillon {

using Encoding::SqlLong;
using Encoding::SqlText;
using General::Guarded;

namespace {

// Writes the four template columns into the current (or new) row. The
// template text may be long, so it goes in through chunk appends.
void writeColumns(const std::shared_ptr<Recordset>& rs, const std::string& docTypeID, const std::string& xmlURL,
                  const std::string& xmlTemplate, const std::string& xslURL) {
  rs->Fields("DOCUMENTTYPEID").SetValue(Variant(docTypeID));
  rs->Fields("XMLTEMPLATEURL").SetValue(Variant(xmlURL));
  Utility().SetLongDBTextField(xmlTemplate, "XMLTEMPLATE", rs);
  rs->Fields("XSLURL").SetValue(Variant(xslURL));
}

std::string selectByType(const std::string& columns, const std::string& docTypeID) {
  return "SELECT " + columns + " FROM XMLTEMPLATE WHERE DOCUMENTTYPEID = " + SqlText(docTypeID) + " ";
}

}  // namespace

std::string Template::GetXmlTemplateDocument(const std::string& iDocTypeID, Variant& oURL) {
  return Guarded("Quillon.Template.GetXmlTemplateDocument", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute(selectByType("XMLTEMPLATEURL, XMLTEMPLATE", iDocTypeID));
    std::string url;
    std::string xml;
    if (!rs->EOF_()) {
      url = rs->Fields("XMLTEMPLATEURL").Value().text();
      xml = rs->Fields("XMLTEMPLATE").Value().text();
    }
    rs->Close();
    oURL = Variant(url);
    return xml;
  });
}

std::string Template::getXslUrl(const std::string& iDocType) {
  return Guarded(
      "Quillon.Template.getXslUrl", [&] { return I18N::LabelWith("SLBSH4450", {{"[%DOCTYPE%]", iDocType}}); },
      [&] {
        ConnectionScope conn;
        auto rs = conn.get()->Execute(selectByType("XSLURL", iDocType));
        std::string url = rs->EOF_() ? std::string() : rs->Fields("XSLURL").Value().text();
        rs->Close();
        return url;
      });
}

std::int32_t Template::InsertTemplate(const std::string& iDocTypeID, const std::string& iXMLURL,
                                      const std::string& iXMLTemplate, const std::string& iXSLURL) {
  return Guarded("Quillon.Template.InsertTemplate", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("SELECT * FROM XMLTEMPLATE WHERE 0 = 1", conn.get());
    rs->AddNew();
    writeColumns(rs, iDocTypeID, iXMLURL, iXMLTemplate, iXSLURL);
    rs->Update();
    std::int32_t id = rs->Fields("XMLTEMPLATEID").Value().toInt32();
    rs->Close();
    return id;
  });
}

void Template::UpdateTemplate(std::int32_t iXmlTemplateID, const std::string& iDocTypeID, const std::string& iXMLURL,
                              const std::string& iXMLTemplate, const std::string& iXSLURL) {
  Guarded("Quillon.Template.UpdateTemplate", [&] {
    ConnectionScope conn;
    auto rs = OpenForUpdate("Select * FROM XMLTEMPLATE WHERE XMLTEMPLATEID = " + SqlLong(iXmlTemplateID), conn.get());
    // Without a row the first field write raises "BOF or EOF", so an
    // unknown id is reported instead of passing as done.
    writeColumns(rs, iDocTypeID, iXMLURL, iXMLTemplate, iXSLURL);
    rs->Update();
    rs->Close();
  });
}

void Template::DeleteTemplate(std::int32_t iXmlTemplateID) {
  Guarded("Quillon.Template.DeleteTemplate", [&] {
    ConnectionScope conn;
    conn.get()->Execute("DELETE FROM XMLTEMPLATE WHERE (XMLTEMPLATEID = " + SqlLong(iXmlTemplateID) + ")");
  });
}

bool Template::checkTemplateByDocumentTypeID(const std::string& iDocTypeID) {
  return Guarded("Quillon.Template.checkTemplateByDocumentTypeID", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute(selectByType("XMLTEMPLATEID", iDocTypeID));
    bool found = !rs->EOF_();
    rs->Close();
    return found;
  });
}

Variant Template::getTemplateProperties(const std::string& i_sDocTypeID, Variant& o_lXmlTemplateID,
                                        Variant& o_sXslUrl, Variant& o_sXmlTemplateUrl, Variant& o_sXmlTemplate) {
  return Guarded(
      "Quillon.Template.getTemplateProperties",
      [&] { return I18N::LabelWith("SLBSH4450", {{"[%DOCTYPE%]", i_sDocTypeID}}); },
      [&] {
        ConnectionScope conn;
        auto rs = conn.get()->Execute(selectByType("XMLTEMPLATEID, XSLURL, XMLTEMPLATEURL, XMLTEMPLATE", i_sDocTypeID));
        std::int32_t id = 0;
        std::string xslUrl, xmlTemplateUrl, xmlTemplate;
        if (!rs->EOF_()) {
          const Variant& v = rs->Fields("XMLTEMPLATEID").Value();
          id = v.isNull() ? 0 : v.toInt32();
          xslUrl = rs->Fields("XSLURL").Value().text();
          xmlTemplateUrl = rs->Fields("XMLTEMPLATEURL").Value().text();
          xmlTemplate = rs->Fields("XMLTEMPLATE").Value().text();
        }
        rs->Close();
        o_lXmlTemplateID = Variant(id);
        o_sXslUrl = Variant(xslUrl);
        o_sXmlTemplateUrl = Variant(xmlTemplateUrl);
        o_sXmlTemplate = Variant(xmlTemplate);
        return Variant();
      });
}

std::int32_t Template::GetTemplateID(const std::string& iDocTypeID) {
  return Guarded("Quillon.Template.GetTemplateID", [&] {
    ConnectionScope conn;
    auto rs = conn.get()->Execute(selectByType("XMLTEMPLATEID", iDocTypeID));
    std::int32_t id = rs->EOF_() ? 0 : rs->Fields("XMLTEMPLATEID").Value().toInt32();
    rs->Close();
    return id;
  });
}

const ClassInfo* Template::classInfo() const {
  using T = Template;
  static const ClassInfo* info =
      ClassBuilder<Template>("Quillon.Template")
          .bind<&T::GetXmlTemplateDocument>("GetXmlTemplateDocument", {"iDocTypeID", out("oURL")})
          .bind<&T::getXslUrl>("getXslUrl", {"iDocType"})
          .bind<&T::InsertTemplate>("InsertTemplate", {"iDocTypeID", "iXMLURL", "iXMLTemplate", "iXSLURL"})
          .bind<&T::UpdateTemplate>("UpdateTemplate", {"iXmlTemplateID", "iDocTypeID", "iXMLURL", "iXMLTemplate", "iXSLURL"})
          .bind<&T::DeleteTemplate>("DeleteTemplate", {"iXmlTemplateID"})
          .bind<&T::checkTemplateByDocumentTypeID>("checkTemplateByDocumentTypeID", {"iDocTypeID"})
          .bind<&T::getTemplateProperties>("getTemplateProperties", {"i_sDocTypeID", "o_lXmlTemplateID", "o_sXslUrl",
                                                                     "o_sXmlTemplateUrl", "o_sXmlTemplate"})
          .done();
  return info;
}

namespace {
const bool kRegistered = (Template().classInfo(), true);
}

}  // namespace quillon
