// The file transports: the output file name, a partner's folder (local or
// a network share) and the EDI staging folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "delivery/PushDocUtils.h"
#include "delivery/PushTransports.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "platform/Error.h"
#include "platform/Spreadsheet.h"
#include "tests/delivery/PushFixture.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

using test::kAnyError;

const std::string kOrder = "<ORDER><NUMBER>4711</NUMBER></ORDER>";

class TransportFileTest : public test::PushSite {
 protected:
  PushDocUtils::ExtendedProperties noAttachments{"", "False", ""};

  void attach(std::int32_t doc, const std::string& name, const std::string& content) {
    writeFile("attachments/" + std::to_string(doc) + "/" + name, content);
    exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (" + std::to_string(doc) + ", '" + name + "')");
  }
  // The names in a folder, sorted, "" when it is missing.
  static std::string names(const std::string& folder) {
    std::vector<std::string> all;
    if (fs::exists(folder))
      for (const auto& e : fs::directory_iterator(folder)) all.push_back(e.path().filename().string());
    std::sort(all.begin(), all.end());
    std::string out;
    for (const auto& n : all) out += (out.empty() ? "" : " ") + n;
    return out;
  }
  TSendMethodProperties ediMethod() {
    TSendMethodProperties p;
    p.bAutoPush = true;
    p.nProtocol = ESendMethodProtocol::EDI;
    p.nFormat = ESendMethodFormat::XML;
    p.sFileExtension = "xml";
    p.nSuffix = ESendMethodSuffix::DocumentID;
    p.nFileFormat = ESendMethodFileFormat::ASCII;
    return p;
  }
};

TEST_F(TransportFileTest, OutputFileNamesStayPlainNamesInTheirFolder) {
  auto name = [](std::int32_t doc, const std::string& file, ESendMethodSuffix suffix, ESendMethodFormat format,
                 const std::string& extension) {
    TSendMethodProperties p;
    p.sFileName = file;
    p.nSuffix = suffix;
    p.nFormat = format;
    p.sFileExtension = extension;
    return push::GetSendMethodOutputFileName(doc, p);
  };
  using S = ESendMethodSuffix;
  using F = ESendMethodFormat;
  EXPECT_EQ(name(123, "", S::DocumentID, F::XML, "xml"), "123_123.xml");
  EXPECT_EQ(name(123, "order", S::None, F::Excel, "xml"), "order.xls");
  EXPECT_EQ(name(123, "  ", S{}, F::XML, "xml"), "123.xml");
  EXPECT_EQ(name(123, ".hidden", S::None, F::XML, "xml"), "123.xml");
  EXPECT_EQ(name(123, "order", S::DocumentID, F::OBI, ".xml"), "order_123..xml");
  for (const std::string& bad :
       std::vector<std::string>{"in/../../etc/passwd", "in/order", "x\\..\\order", std::string("a\0b", 3)}) {
    Error e = EXPECT_RAISES(FileError, name(1, bad, S::None, F::XML, "xml"));
    EXPECT_EQ(e.source(), "Quillon.PushDocUtils.GetSendMethodOutputFileName");
  }
  EXPECT_RAISES(FileError, name(1, "order", S::None, F::XML, "/../../x"));
  // A name beginning with "." stands for none at all.
  EXPECT_EQ(name(1, "../etc/passwd", S::None, F::XML, "xml"), "1.xml");
}

TEST_F(TransportFileTest, FoldersGetTheDocumentWholeUnderItsName) {
  const std::string out = folder("out/delta");
  TSendMethodProperties p = folderMethod(out);  // no trailing separator
  push::SendByFileStream(7, Variant(kOrder), p, noAttachments);
  EXPECT_EQ(read(out + "/7.xml"), kOrder);

  // Delivered again: replaced, and no partial file is ever left beside it.
  p.sAddress = out + "\\";
  p.nFileFormat = ESendMethodFileFormat::Unicode;
  push::SendByFileStream(7, Variant(std::string("<ORDER>\xC3\xA4</ORDER>")), p, noAttachments);
  EXPECT_EQ(read(out + "/7.xml"), std::string("\xFF\xFE<\0O\0R\0D\0E\0R\0>\0\xE4\0<\0/\0O\0R\0D\0E\0R\0>\0", 34));
  EXPECT_EQ(names(out), "7.xml");
}

TEST_F(TransportFileTest, NetworkSharesAreWrittenBelowTheShareRoot) {
  fs::create_directories(dir() + "/shares/partners/delta/in");
  TSendMethodProperties p = folderMethod("\\\\Partners\\Delta\\in");
  push::SendByFileStream(8, Variant(kOrder), p, noAttachments);
  EXPECT_EQ(read(dir() + "/shares/partners/delta/in/8.xml"), kOrder);
  EXPECT_EQ(names(dir() + "/shares/partners/delta/in"), "8.xml");
  // A share path cannot climb out of the share root.
  TSendMethodProperties outside = folderMethod("\\\\partners\\..\\..\\..\\etc");
  EXPECT_RAISES(kAnyError, push::SendByFileStream(8, Variant(kOrder), outside, noAttachments));
}

TEST_F(TransportFileTest, AttachmentsGoAlongWhenWantedAndOnlyWithPlainNames) {
  const std::string out = folder("out/delta");
  const std::int32_t doc = storeOrder();
  const std::string id = std::to_string(doc);
  attach(doc, "terms.pdf", "PDF-1");
  TSendMethodProperties p = folderMethod(out);
  push::SendByFileStream(doc, Variant(kOrder), p, {"", "True", ""});
  EXPECT_EQ(names(out), id + ".xml " + id + "_terms.pdf");
  EXPECT_EQ(read(out + "/" + id + "_terms.pdf"), "PDF-1");

  // A recorded name that climbs out of the folders is refused before
  // anything is written.
  const std::string other = folder("out/other");
  exec("INSERT INTO ATTACHMENT (DOCUMENTID, ATTACHMENTFILENAME) VALUES (" + id + ", '../../escape.txt')");
  TSendMethodProperties q = folderMethod(other);
  Error e = EXPECT_RAISES(FileError, push::SendByFileStream(doc, Variant(kOrder), q, {"", "True", ""}));
  EXPECT_NE(e.description().find("The attachment name '../../escape.txt'"), std::string::npos) << e.description();
  EXPECT_NE(e.description().find("The document could not be written to the file '" + other + "\\" + id + ".xml'."),
            std::string::npos)
      << e.description();
  EXPECT_EQ(names(other), "");

  // Without an attachments location the delivery fails, it does not go without them.
  exec("UPDATE COLLABORATIONPARAMETER SET PARAMVALUE = '' WHERE PARAMNAME = 'AttachmentsVirtualPath'");
  Error none = EXPECT_RAISES(AttachmentsSupported, push::SendByFileStream(doc, Variant(kOrder), q, {"", "True", ""}));
  EXPECT_NE(none.description().find("the parameter 'AttachmentsVirtualPath' is not set"), std::string::npos);
  // Not wanted: no question asked.
  push::SendByFileStream(doc, Variant(kOrder), q, noAttachments);
  EXPECT_EQ(names(other), id + ".xml");
}

TEST_F(TransportFileTest, FormatsAndAddressesThatWouldWriteNothingAreFailures) {
  TSendMethodProperties obi = folderMethod(folder("out/obi"));
  obi.nFormat = ESendMethodFormat::OBI;
  EXPECT_RAISES(SendMethodFormatNotSupported, push::SendByFileStream(1, Variant("QUJD"), obi, noAttachments));
  TSendMethodProperties nowhere = folderMethod("  ");
  EXPECT_RAISES(FileError, push::SendByFileStream(1, Variant(kOrder), nowhere, noAttachments));
  TSendMethodProperties missing = folderMethod(dir() + "/no/such/folder");
  EXPECT_RAISES(kAnyError, push::SendByFileStream(1, Variant(kOrder), missing, noAttachments));
  EXPECT_FALSE(fs::exists(dir() + "/no"));
}

TEST_F(TransportFileTest, WorkbooksAreWrittenIntoTheFolderByWriteMode) {
  const std::string out = folder("out/excel");
  TSendMethodProperties p = folderMethod(out);
  p.nFormat = ESendMethodFormat::Excel;
  p.sFileName = "stock";
  p.nWriteMode = EWriteMode::Create;
  push::SendByFileStream(5, Variant(std::string("<S B2BWORKSHEET=\"Stock\"><NUMBER B2BLABELPOS=\"A1\" B2BVALUEPOS=\"B1\">4711</NUMBER></S>")), p,
                         noAttachments);
  p.nWriteMode = EWriteMode::Update;
  push::SendByFileStream(5, Variant(std::string("<S B2BWORKSHEET=\"Stock\"><QTY B2BLABELPOS=\"A2\" B2BVALUEPOS=\"B2\">42</QTY></S>")), p,
                         noAttachments);
  EXPECT_EQ(names(out), "stock.xls");
  {
    auto book = spreadsheet::Open(out + "/stock.xls", true);
    auto sheet = book->sheet("Stock");
    ASSERT_TRUE(sheet);
    auto cells = sheet->read({1, 1, 2, 2});
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].valueText() + " " + cells[1].valueText() + " " + cells[2].valueText() + " " +
                  cells[3].valueText(),
              "NUMBER 4711 QTY 42");
    book->close();
  }
  EXPECT_EQ(names(dir() + "/excel/temp"), "");  // the working copies are gone
  // Without a write mode nothing would be written: a failure.
  p.nWriteMode = EWriteMode{};
  EXPECT_RAISES(InvalidParamValue, push::SendByFileStream(5, Variant(std::string("<S/>")), p, noAttachments));
  EXPECT_EQ(names(dir() + "/excel/temp"), "");
}

TEST_F(TransportFileTest, EdiMessagesAppearWholeInTheirGroupFolder) {
  const std::string temp = dir() + "/edi/net1";
  exec("INSERT INTO EDINETWORK (NETWORKID, TEMPFOLDER) VALUES ('NET1', '" + temp + "')");
  const std::int32_t doc = storeOrder();
  exec("UPDATE DOCUMENT SET SENDER = 'nils' WHERE DOCUMENTID = " + std::to_string(doc));
  const std::string id = std::to_string(doc);

  TSendMethodProperties p = ediMethod();
  push::SendByEDI(doc, Variant(kOrder), p, {"NET1", "False", "ORDERS"});
  const std::string group = temp + "/Messages/ORDERS";
  // The partner's name holds a "/", which becomes part of one folder name.
  const std::string partner = group + "/ORDER/300_Nordic Foods A_S";
  EXPECT_EQ(names(group), "ASCII ORDER");
  EXPECT_EQ(names(partner), id + "_" + id + ".xml");
  EXPECT_EQ(read(partner + "/" + id + "_" + id + ".xml"), kOrder);

  // A Unicode message turns the group's marker round.
  p.nFileFormat = ESendMethodFileFormat::Unicode;
  p.sFileName = "second";
  push::SendByEDI(doc, Variant(kOrder), p, {"NET1", "False", "ORDERS"});
  EXPECT_EQ(names(group), "ORDER Unicode");
  EXPECT_EQ(read(partner + "/second_" + id + ".xml").substr(0, 4), std::string("\xFF\xFE<\0", 4));

  // A message of the same name still waiting is neither replaced nor
  // joined by a partial file.
  EXPECT_RAISES(kAnyError, push::SendByEDI(doc, Variant("<OTHER/>"), p, {"NET1", "False", "ORDERS"}));
  EXPECT_EQ(read(partner + "/second_" + id + ".xml").size(), 2 + 2 * kOrder.size());
  EXPECT_EQ(names(partner), id + "_" + id + ".xml second_" + id + ".xml");
}

TEST_F(TransportFileTest, EdiNeedsANetworkFolderAGroupAndXml) {
  const std::int32_t doc = storeOrder();
  TSendMethodProperties p = ediMethod();
  Error e = EXPECT_RAISES(FileError, push::SendByEDI(doc, Variant(kOrder), p, {"NET9", "False", "ORDERS"}));
  EXPECT_NE(e.description().find("caught: Temporary folder for EDI Network 'NET9' not filled(8004022A)."),
            std::string::npos)
      << e.description();
  EXPECT_EQ(e.source(), "Quillon.PushDocUtils.SendByEDI");
  exec("INSERT INTO EDINETWORK (NETWORKID, TEMPFOLDER) VALUES ('NET2', '   ')");
  EXPECT_RAISES(FileError, push::SendByEDI(doc, Variant(kOrder), p, {"NET2", "False", "ORDERS"}));

  const std::string temp = dir() + "/edi/net1";
  exec("INSERT INTO EDINETWORK (NETWORKID, TEMPFOLDER) VALUES ('NET1', '" + temp + "')");
  for (const std::string& merge : std::vector<std::string>{"", "..", "a/b"})
    EXPECT_RAISES(FileError, push::SendByEDI(doc, Variant(kOrder), p, {"NET1", "False", merge}));
  p.nFormat = ESendMethodFormat::Excel;
  EXPECT_RAISES(SendMethodFormatNotSupported, push::SendByEDI(doc, Variant(kOrder), p, {"NET1", "False", "ORDERS"}));
  EXPECT_FALSE(fs::exists(temp + "/Messages"));
}

}  // namespace
}  // namespace quillon
