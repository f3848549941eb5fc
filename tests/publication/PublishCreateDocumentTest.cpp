// Publishing on a real sample site: synchronous publications through the
// intake, drop files for the folder import, and what a failed publication
// leaves in the error folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "document/OBI.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/Error.h"
#include "platform/Object.h"
#include "platform/Variant.h"
#include "publication/PublishCreateDocument.h"
#include "tests/LoopbackServers.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

const std::string kOrder =
    "<ORDER><DOCTYPE-ID>ORDER</DOCTYPE-ID><SENDER>alice</SENDER><RECEIVER>bob</RECEIVER><NUMBER>PO-9</NUMBER></ORDER>";
const std::string kNoType = "<NOTE><SENDER>alice</SENDER><TEXT>Hello</TEXT></NOTE>";

class PublishCreateDocumentTest : public test::TestSite {
 protected:
  void SetUp() override {
    createOnSetUp_ = false;
    TestSite::SetUp();
    createSite(true);
    const int port = servers.StartSmtp();
    ASSERT_NE(port, 0);
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpServer", "127.0.0.1");
    setConfigValue("SiteConfiguration.xml", "MAIL", "SmtpPort", std::to_string(port));
  }

  // name -> content of every file below a folder of the site.
  std::vector<std::pair<std::string, std::string>> filesBelow(const std::string& relative) const {
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir() + "/" + relative))
      if (entry.is_regular_file()) found.emplace_back(entry.path().filename().string(), read(entry.path().string()));
    std::sort(found.begin(), found.end());
    return found;
  }
  static Variant collectionOf(const std::vector<std::string>& paths) {
    auto c = std::make_shared<Collection>();
    for (const auto& p : paths) c->Add(Variant(p));
    return Variant(c);
  }
  // The drop-file name the publication uses at that moment.
  static std::string dropName(const std::string& prefix, std::time_t when, int counter, const std::string& extension) {
    std::tm parts{};
    ::localtime_r(&when, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "_%Y.%m.%d_%H.%M.%S", &parts);
    return prefix + stamp + "-" + std::to_string(counter) + extension;
  }

  test::LoopbackServers servers;
  PublishCreateDocument publisher;
};

TEST_F(PublishCreateDocumentTest, ASynchronousPublicationReturnsTheNewDocument) {
  const std::int32_t id = publisher.MainX(kOrder);
  ASSERT_GT(id, 0);
  EXPECT_EQ(scalar("SELECT DOCUMENTTYPEID || '|' || SENDER FROM DOCUMENT WHERE DOCUMENTID = " + std::to_string(id)),
            "ORDER|alice");
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(USERID) FROM PUBLICATION WHERE DOCUMENTID = " + std::to_string(id)), "bob");
  EXPECT_TRUE(filesBelow("xml/error").empty());
}

TEST_F(PublishCreateDocumentTest, ARejectedPublicationKeepsItsInputInTheErrorFolder) {
  Error e = EXPECT_RAISES(ProcessDocumentError, publisher.MainX(kNoType));
  EXPECT_NE(e.description().find("Additional information: " + I18N::GetLabel("SLBSH0003")), std::string::npos);
  EXPECT_NE(e.description().find(I18N::GetLabel("SLBSH0006")), std::string::npos) << "the intake's own reason goes along";
  auto kept = filesBelow("xml/error");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].first, "Error.xml");
  EXPECT_EQ(kept[0].second, kNoType);

  // With attachments, they are kept beside the text; a second failure in the
  // same error folder gets names of its own.
  const std::string a = writeFile("in/notes.txt", "notes"), b = writeFile("in/other/notes.txt", "other notes");
  EXPECT_RAISES(ProcessDocumentError, publisher.Main(kNoType, collectionOf({a, b})));
  kept = filesBelow("xml/error");
  std::vector<std::string> names;
  for (const auto& [name, content] : kept) names.push_back(name);
  EXPECT_EQ(std::count(names.begin(), names.end(), "notes.txt") + std::count(names.begin(), names.end(), "notes_1.txt"), 2);
  EXPECT_GE(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.rfind("Error", 0) == 0; }), 2);
}

TEST_F(PublishCreateDocumentTest, AnIntakeThatReturnsNoDocumentFailsWithTheLabelOnce) {
  // An empty text passes the intake without an error but gives no document.
  Error e = EXPECT_RAISES(ProcessDocumentError, publisher.MainX(""));
  const std::string label = I18N::GetLabel("SLBSH0003");
  const std::string& d = e.description();
  EXPECT_NE(d.find("Additional information: " + label), std::string::npos) << d;
  EXPECT_EQ(d.find(label), d.rfind(label)) << "the label appears once: " << d;
}

TEST_F(PublishCreateDocumentTest, AnAttachmentThatCannotBeCopiedFailsNothingButIsRecorded) {
  const std::string present = writeFile("in/present.txt", "here");
  const std::int32_t id =
      publisher.Main(kOrder, collectionOf({present, dir() + "/in/missing.txt", present}));
  ASSERT_GT(id, 0);
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(ATTACHMENTFILENAME) FROM ATTACHMENT WHERE DOCUMENTID = " + std::to_string(id)),
            "present.txt");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE LABEL = 'SLBSH1816'"), "1");
}

TEST_F(PublishCreateDocumentTest, PathsThatDifferOnlyInLetterCaseAreTwoAttachments) {
  const std::string upper = writeFile("in/Terms.txt", "upper"), lower = writeFile("in/terms.txt", "lower");
  const std::int32_t id = publisher.Main(kOrder, collectionOf({upper, lower, upper}));
  ASSERT_GT(id, 0);
  std::vector<std::string> contents;
  for (const auto& [name, content] : filesBelow("attachments/" + std::to_string(id))) contents.push_back(content);
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, (std::vector<std::string>{"lower", "upper"}));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM ATTACHMENT WHERE DOCUMENTID = " + std::to_string(id)), "2");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE LABEL = 'SLBSH1816'"), "0");
}

TEST_F(PublishCreateDocumentTest, ADroppedPublicationIsARenamedFileWithTheFirstFreeCounter) {
  Error e = EXPECT_RAISES(AttachmentsSupported,
                          publisher.PublishXmlDocument(kOrder, collectionOf({writeFile("in/a.txt", "a")}), false));
  EXPECT_NE(e.description().find(" caught: " + I18N::GetLabel("SLBSH4275")), std::string::npos);

  // "-0" is taken for this second and the next two: the drop takes "-1".
  const std::time_t now = wallClockSeconds();
  for (int s = 0; s < 3; ++s) writeFile("xml/in2/" + dropName("XML", now + s, 0, ".xml"), "taken");
  EXPECT_EQ(publisher.PublishXmlDocument(kOrder, Variant(), false), 0);
  int dropped = 0;
  for (const auto& [name, content] : filesBelow("xml/in2")) {
    EXPECT_NE(name[0], '~') << "no half-written file stays behind";
    if (content == kOrder) {
      ++dropped;
      EXPECT_TRUE(name.size() > 6 && name.substr(name.size() - 6) == "-1.xml") << name;
      EXPECT_EQ(name.rfind("XML_", 0), 0u) << name;
    }
  }
  EXPECT_EQ(dropped, 1);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM DOCUMENT"), "0") << "a drop changes nothing in the database";
}

TEST_F(PublishCreateDocumentTest, AFileIsXmlByItsExtensionInAnyCase) {
  const std::string upper = writeFile("in/ORDER.XML", kOrder);
  EXPECT_EQ(publisher.PublishDocument(upper, Variant(), false), 0);
  int dropped = 0;
  for (const auto& [name, content] : filesBelow("xml/in2"))
    if (name.rfind("XML_", 0) == 0 && content.find("<NUMBER>PO-9</NUMBER>") != std::string::npos) ++dropped;
  EXPECT_EQ(dropped, 1);

  Error e = EXPECT_RAISES(XMLLoadError, publisher.PublishDocument(writeFile("in/bad.xml", "<ORDER>"), Variant(), true));
  EXPECT_NE(e.description().find(I18N::GetLabel("SLBSH1839") + "\r\n"), std::string::npos);
  EXPECT_NE(e.description().find(I18N::LabelWith("SLBSH1840", {{"[%ERROR_LINE%]", "1"}})), std::string::npos);
  EXPECT_TRUE(filesBelow("xml/error").empty()) << "a file that is no XML stays where it is";
}

TEST_F(PublishCreateDocumentTest, AnObiEnvelopeIsKeptWhenRefusedAndDroppedAsReceived) {
  std::string envelope;
  OBI().ConstructObiObject(std::string("\x03\x00", 2), EObiLanguage::XML,
                           "<OBI_ORDER version='3.0'><SENDER>alice</SENDER></OBI_ORDER>", std::string(1, '\0'), envelope);
  // OBI intake is off: the synchronous publication fails and keeps the XML.
  Error e = EXPECT_RAISES(ProcessDocumentError, publisher.PublishObiDocument(envelope, true));
  EXPECT_NE(e.description().find(I18N::GetLabel("SLBSH4304")), std::string::npos);
  auto kept = filesBelow("xml/error");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_NE(kept[0].second.find("<OBI_ORDER"), std::string::npos);

  EXPECT_EQ(publisher.PublishObiDocument(envelope, false), 0);
  auto dropped = filesBelow("xml/in2");
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].first.rfind("OBI_", 0), 0u);
  EXPECT_EQ(dropped[0].second, envelope);

  // An envelope that does not open is kept as it came.
  EXPECT_RAISES(test::kAnyError, publisher.PublishObiDocument("not an envelope", true));
  bool keptRaw = false;
  for (const auto& [name, content] : filesBelow("xml/error")) keptRaw = keptRaw || content == "not an envelope";
  EXPECT_TRUE(keptRaw);
}

}  // namespace
}  // namespace quillon
