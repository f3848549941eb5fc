// The page functions, the send-history test and the manual download.
#include <gtest/gtest.h>

#include <filesystem>

#include "delivery/SendMethod.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/TSendMethodProperties.h"
#include "platform/Directory.h"
#include "platform/Variant.h"
#include "publication/Utility.h"
#include "tests/TestSite.h"

namespace fs = std::filesystem;

namespace quillon {
namespace {

class UtilityPageTest : public test::TestSite {
 protected:
  Utility u;
};

TEST_F(UtilityPageTest, UrlDecodingReadsPlusPercentAndUnicodeEscapesAndRefusesBrokenOnes) {
  EXPECT_EQ(u.urlDecode("a+b%20c%2Bd"), "a b c+d");
  EXPECT_EQ(u.urlDecode("M%C3%BCller"), "Müller");            // percent-encoded UTF-8
  EXPECT_EQ(u.urlDecode("M%FCller"), "Müller");                // a byte of the ANSI code page
  EXPECT_EQ(u.urlDecode("%u20AC%u00e9"), "€é");
  EXPECT_EQ(u.urlDecode("%uD83D%uDE00!"), "\xF0\x9F\x98\x80!");  // a surrogate pair
  EXPECT_EQ(u.urlDecode(""), "");
  for (const std::string bad : {"100%", "%G1", "%u12", "%uZZZZ", "%uD83D", "%uDE00x"}) {
    Error e = EXPECT_RAISES(InvalidParamValue, u.urlDecode(bad));
    EXPECT_NE(e.description().find("' couldn't be decoded."), std::string::npos) << bad;
  }
  Error e = EXPECT_RAISES(InvalidParamValue, u.urlDecode("x%4"));
  EXPECT_NE(e.description().find("This character '%4' couldn't be decoded."), std::string::npos);
}

TEST_F(UtilityPageTest, HtmlEntitiesAndPostedFormValues) {
  EXPECT_EQ(u.HTMLDecode("&LT;b&gt; &amp;amp; &quot;x&quot;"), "<b> &amp; \"x\"");
  EXPECT_EQ(u.HTMLDecode("no entities &nbsp;"), "no entities &nbsp;");

  std::string value = "unchanged";
  EXPECT_FALSE(u.RetrieveElementFromRequestFormCollection("a=1&b=2", "c=", value));
  EXPECT_EQ(value, "unchanged");
  EXPECT_TRUE(u.RetrieveElementFromRequestFormCollection("DocID=42&Name=J%C3%BCrgen+M.&x=", "name=", value));
  EXPECT_EQ(value, "Jürgen M.");
  EXPECT_TRUE(u.RetrieveElementFromRequestFormCollection("DocID=42&Name=x&Note=%u20AC5", "Note=", value));
  EXPECT_EQ(value, "€5");
  EXPECT_TRUE(u.RetrieveElementFromRequestFormCollection("a=1&b=", "b=", value));
  EXPECT_EQ(value, "");
}

TEST_F(UtilityPageTest, FormatsNumbersDatesAndTexts) {
  Variant date = Variant::date(oleDateFromParts(2024, 1, 5, 14, 7, 9));  // a Friday
  EXPECT_EQ(u.Formats(date, Variant("yyyy-mm-dd hh:nn:ss")), "2024-01-05 14:07:09");
  EXPECT_EQ(u.Formats(date, Variant("dd.mm.yy hh:mm")), "05.01.24 14:07");
  EXPECT_EQ(u.Formats(date, Variant("dddd d mmmm yyyy")), "Friday 5 January 2024");
  EXPECT_EQ(u.Formats(date, Variant("ddd mmm, h:nn AM/PM")), "Fri Jan, 2:07 PM");
  EXPECT_EQ(u.Formats(date, Variant("w ww q")), "6 1 1");
  EXPECT_EQ(u.Formats(date, Variant("Short Date")), "1/5/2024");
  // Sunday starts a week; the week of 1 January is the first.
  EXPECT_EQ(u.Formats(Variant::date(oleDateFromParts(2023, 1, 1)), Variant("w ww")), "1 1");
  EXPECT_EQ(u.Formats(Variant::date(oleDateFromParts(2024, 1, 7)), Variant("w ww")), "1 2");
  EXPECT_EQ(u.Formats(Variant::date(oleDateFromParts(2024, 12, 31)), Variant("ww")), "53");
  EXPECT_EQ(u.Formats(Variant("2024-03-09"), Variant("dd/mm/yyyy")), "09/03/2024");

  EXPECT_EQ(u.Formats(Variant(1234567.891), Variant("#,##0.00")), "1,234,567.89");
  EXPECT_EQ(u.Formats(Variant(-3.5), Variant("0.0")), "-3.5");
  EXPECT_EQ(u.Formats(Variant(0.256), Variant("0%")), "26%");
  EXPECT_EQ(u.Formats(Variant(7), Variant("000")), "007");
  EXPECT_EQ(u.Formats(Variant(2.5), Variant("#.##")), "2.5");
  EXPECT_EQ(u.Formats(Variant(-12), Variant("0;(0);\"zero\"")), "(12)");
  EXPECT_EQ(u.Formats(Variant(0), Variant("0;(0);\"zero\"")), "zero");
  EXPECT_EQ(u.Formats(Variant("1234.5"), Variant("Standard")), "1,234.50");
  EXPECT_EQ(u.Formats(Variant(-1234.5), Variant("Currency")), "($1,234.50)");
  EXPECT_EQ(u.Formats(Variant(12345.678), Variant("0.00E+00")), "1.23E+04");
  EXPECT_EQ(u.Formats(Variant(true), Variant("Yes/No")), "Yes");

  EXPECT_EQ(u.Formats(Variant("abc"), Variant(">")), "ABC");
  EXPECT_EQ(u.Formats(Variant("12345"), Variant("@@-@@@")), "12-345");
  EXPECT_EQ(u.Formats(Variant::null(), Variant("0.00")), "");
  EXPECT_EQ(u.Formats(Variant(42), Variant("")), "42");
}

TEST_F(UtilityPageTest, TheSentLogFindsTypeAndPartnerOrTheSender) {
  exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS) VALUES (10, 'ORDER', 'alice', 1), "
       "(11, 'ORDER', 'bob', 1)");
  exec("INSERT INTO SENDMETHODHISTORY (SENDMETHODID, BUSINESSPARTNERID, RULEID, DOCUMENTID, DOCUMENTTYPEID, Status) "
       "VALUES (1, 200, -1, 10, 'ORDER', 1)");
  EXPECT_TRUE(u.CheckSentLog("ORDER", "nobody", 200));
  EXPECT_TRUE(u.CheckSentLog("INVOICE", "alice", 999));
  EXPECT_FALSE(u.CheckSentLog("INVOICE", "bob", 200));
  EXPECT_TRUE(u.CheckSentLog("ORDER", "x", 200, 10));
  EXPECT_FALSE(u.CheckSentLog("ORDER", "x", 200, 11));
  // Values never become SQL text.
  EXPECT_FALSE(u.CheckSentLog("ORDER' OR '1'='1", "x') OR ('1'='1", 0));
  EXPECT_EQ(u.GetZ2IZezazaParameter("AdminEmailAddress"), "admin@localhost");
  EXPECT_RAISES(MissingParameter, u.GetZ2IZezazaParameter("NoSuchParameter"));
}

class DownloadTest : public test::TestSite {
 protected:
  void SetUp() override {
    TestSite::SetUp();
    exec("INSERT INTO DOCUMENTTYPE (DOCUMENTTYPEID, DESCRIPTION) VALUES ('ORDER', 'Purchase order')");
    exec("INSERT INTO DOCUMENT (DOCUMENTID, DOCUMENTTYPEID, SENDER, STATUS, XMLBODY) VALUES "
         "(10, 'ORDER', 'alice', 1, '<ORDER><NUMBER>PO-10</NUMBER></ORDER>')");
    exec("INSERT INTO PUBLICATION (DOCUMENTID, USERID, STATUS, FORWARD) VALUES (10, 'bob', 5, 0)");
    std::string db = dir() + "/directory.db";
    DirectoryAdmin::AddPartner(db, 200, "Borealis Retail", "", "");
    DirectoryAdmin::UserRecord bob;
    bob.cn = "bob";
    bob.partnerID = 200;
    bob.email = "bob@borealis.test";
    DirectoryAdmin::AddUser(db, bob);
  }
  std::int32_t addDownload(ESendMethodFormat format, ESendMethodFileFormat fileFormat, const std::string& xsl) {
    TSendMethodProperties p;
    p.nProtocol = ESendMethodProtocol::ManualDownload;
    p.nFormat = format;
    p.nFileFormat = fileFormat;
    p.sXslFileName = xsl;
    SendMethod s;
    std::int32_t id = s.AddSendMethodProperties2(p);
    s.AddSendMethod2(id, 200, "ORDER", -1);
    return id;
  }
  Utility u;
};

TEST_F(DownloadTest, TheXmlFormatAnswersTheConvertedTextAndRecordsTheDownload) {
  writeFile("xsl/transform/flat.xsl", R"XSL(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/><xsl:template match="/">NUMBER;<xsl:value-of select="//NUMBER"/></xsl:template>
</xsl:stylesheet>)XSL");
  std::int32_t id = addDownload(ESendMethodFormat::XML, ESendMethodFileFormat::Unicode, " flat.xsl ");
  // The file format is the stored enumeration value (Unicode = 20), not a position.
  Variant answer = u.DownloadDocument(10, "bob", static_cast<std::int16_t>(value(ESendMethodFileFormat::Unicode)));
  ASSERT_TRUE(answer.isString());
  EXPECT_EQ(answer.text(), "NUMBER;PO-10");
  EXPECT_EQ(scalar("SELECT STATUS FROM PUBLICATION WHERE DOCUMENTID = 10 AND USERID = 'bob'"),
            std::to_string(value(PUBLICATIONSTATUS::PUBLICATIONDOWNLOADED)));
  EXPECT_EQ(scalar("SELECT SENDMETHODID || ',' || BUSINESSPARTNERID || ',' || RULEID || ',' || Status FROM SENDMETHODHISTORY"),
            std::to_string(id) + ",200,-1,1");
}

TEST_F(DownloadTest, AFailedDownloadIsAPublicationErrorAndANotSentEntry) {
  // Only an ASCII route exists: the Unicode one (file format 20) is missing.
  addDownload(ESendMethodFormat::XML, ESendMethodFileFormat::ASCII, "");
  EXPECT_RAISES(test::kAnyError,
                u.DownloadDocument(10, "bob", static_cast<std::int16_t>(value(ESendMethodFileFormat::Unicode))));
  EXPECT_EQ(scalar("SELECT LABEL FROM PUBLICATIONERRORS WHERE DOCUMENTID = 10"), "SLBSH1301");
  EXPECT_EQ(scalar("SELECT SOURCE FROM PUBLICATIONERRORS WHERE DOCUMENTID = 10"), "Quillon.Utility.DownloadDocument");
  std::string reps = scalar("SELECT REPLACEMENTS FROM PUBLICATIONERRORS WHERE DOCUMENTID = 10");
  EXPECT_NE(reps.find("<REP name=\"[%BPName%]\">Borealis Retail</REP>"), std::string::npos) << reps;
  EXPECT_NE(reps.find("<REP name=\"[%Format%]\">"), std::string::npos) << reps;
  EXPECT_EQ(scalar("SELECT Status || ',' || PUBLICATIONERRORID FROM SENDMETHODHISTORY"),
            "0," + scalar("SELECT PUBLICATIONERRORID FROM PUBLICATIONERRORS"));
  // The copy was not marked downloaded.
  EXPECT_EQ(scalar("SELECT STATUS FROM PUBLICATION WHERE DOCUMENTID = 10 AND USERID = 'bob'"), "5");

  // The route exists but its style sheet does not: the download fails after
  // the route was found, and the copy still is not marked downloaded.
  addDownload(ESendMethodFormat::XML, ESendMethodFileFormat::Unicode, "missing.xsl");
  EXPECT_RAISES(test::kAnyError,
                u.DownloadDocument(10, "bob", static_cast<std::int16_t>(value(ESendMethodFileFormat::Unicode))));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM PUBLICATIONERRORS WHERE DOCUMENTID = 10"), "2");
  EXPECT_EQ(scalar("SELECT STATUS FROM PUBLICATION WHERE DOCUMENTID = 10 AND USERID = 'bob'"), "5");
}

TEST_F(DownloadTest, TheExcelFormatAnswersTheWorkbooksBytesAndLeavesNoFile) {
  if (!u.IsExcelInstalled()) GTEST_SKIP() << "the spreadsheet engine is not available";
  EXPECT_TRUE(u.IsExcelInstalledWithErrRaise());
  addDownload(ESendMethodFormat::Excel, ESendMethodFileFormat{}, "");
  exec("UPDATE DOCUMENT SET XMLBODY = '<ORDER><NUMBER B2BVALUEPOS=\"B2\">PO-10</NUMBER></ORDER>' WHERE DOCUMENTID = 10");
  Variant answer = u.DownloadDocument(10, "bob", 0);
  ASSERT_TRUE(answer.isArray());
  std::string bytes = answer.array().bytes();
  ASSERT_GT(bytes.size(), 512u);
  EXPECT_EQ(bytes.substr(0, 4), "\xD0\xCF\x11\xE0");  // a compound document (.xls)
  EXPECT_FALSE(fs::exists(dir() + "/excel/temp/ExcelTemp_10.xls"));
  EXPECT_FALSE(fs::exists(dir() + "/excel/tempExcelTemp_10.xls"));
}

}  // namespace
}  // namespace quillon
