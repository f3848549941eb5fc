// Send methods on a real site: stored properties, routes with placeholder
// rows, the extended properties, manual-download look-ups and the history.
#include "delivery/SendMethod.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/I18N.h"
#include "platform/Database.h"
#include "platform/Error.h"
#include "tests/TestSite.h"

namespace quillon {
namespace {

using P = ESendMethodProtocol;
using F = ESendMethodFormat;

// Every field set to something that is not blank.
TSendMethodProperties filled(P protocol, F format, EWriteMode writeMode = EWriteMode::Append) {
  TSendMethodProperties p;
  p.bAutoPush = true;
  p.sXslFileName = "order.xsl";
  p.sUser = "user";
  p.sPassword = "secret";
  p.nFormat = format;
  p.sProxy = "proxy.example.com";
  p.lProxyPort = 8080;
  p.lPort = 21;
  p.nProtocol = protocol;
  p.nWriteMode = writeMode;
  p.sExcelTemplate = "order.xlt";
  p.sFromAddress = "from@example.com";
  p.sAddress = "target";
  p.sFileName = "order";
  p.sFileExtension = "xml";
  p.nSuffix = ESendMethodSuffix::DocumentID;
  p.nFileFormat = ESendMethodFileFormat::Unicode;
  p.nFileIOMode = EFileIOMode::Writing;
  p.sTempFileName = "tmp.xml";
  p.bTempFileCanBeRemoved = true;
  p.nFTPTransferType = ESendMethodFTPTransferType::Binary;
  return p;
}

// The record with the named fields blank.
TSendMethodProperties without(const TSendMethodProperties& p, const std::set<std::string>& names) {
  auto d = ToDictionary(p);
  for (const auto& name : names) {
    Variant blank = name[0] == 's' ? Variant("") : name[0] == 'b' ? Variant(false) : Variant(0);
    EXPECT_TRUE(d->Exists(name)) << name;
    d->SetItem(name, blank);
  }
  return FromDictionary(*d);
}

// The working fields of the transports are never stored.
const std::set<std::string> kWorkingFields{"sFromAddress", "nFileIOMode", "sTempFileName", "bTempFileCanBeRemoved"};

std::set<std::string> plus(std::set<std::string> a, const std::set<std::string>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

std::string dump(const TSendMethodProperties& p) {
  std::string s;
  auto d = ToDictionary(p);
  for (long i = 0; i < d->Count(); ++i) s += d->entry(i).first + "=" + d->entry(i).second.text() + " ";
  return s;
}

class SendMethodTest : public test::TestSite {
 protected:
  std::string stored(const std::string& column, std::int32_t id) {
    return scalar("SELECT " + column + " FROM SENDMETHODPROPERTY WHERE SENDMETHODID = " + std::to_string(id));
  }
  std::string routes(const std::string& where = "1 = 1") {
    return scalar("SELECT IFNULL(GROUP_CONCAT(R, ';'), '') FROM (SELECT BUSINESSPARTNERID || ',' || DOCUMENTTYPEID || "
                  "',' || RULEID || ':' || SENDMETHODID AS R FROM SENDMETHOD WHERE " + where +
                  " ORDER BY BUSINESSPARTNERID, RULEID, SENDMETHODID)");
  }
  std::int32_t add(TSendMethodProperties p) { return sm.AddSendMethodProperties2(p); }
  TSendMethodProperties read(std::int32_t id) {
    TSendMethodProperties p = filled(P::Http, F::OBI);  // the read must blank what it does not fill
    sm.GetSendMethodProperties2(id, p);
    return p;
  }
  SendMethod sm;
};

TEST_F(SendMethodTest, EveryProtocolKeepsOnlyTheFieldsItUses) {
  const std::set<std::string> link{"lPort", "lProxyPort", "sProxy", "sPassword", "sUser"};
  const std::set<std::string> file{"nSuffix", "sFileExtension", "sFileName"};
  // Format XML, write mode Append: the template and write mode go wherever the format decides.
  const std::map<P, std::set<std::string>> blanked{
      {P::Email, plus(link, {"nFTPTransferType", "nWriteMode", "sExcelTemplate"})},
      {P::Fax, plus(link, {"nFTPTransferType", "nWriteMode"})},
      {P::FilePath, plus(link, {"nFTPTransferType", "nWriteMode", "sExcelTemplate"})},
      {P::Ftp, {"nWriteMode", "sExcelTemplate"}},
      {P::Http, plus(file, {"nFTPTransferType", "nWriteMode", "sExcelTemplate"})},
      {P::MethodCall, plus(plus(link, file), {"nFTPTransferType", "nWriteMode", "nFileFormat", "sExcelTemplate"})},
      {P::ManualDownload, plus(plus(link, file), {"nFTPTransferType", "nWriteMode"})},
      {P::EDI, plus(link, {"nFTPTransferType", "sExcelTemplate"})},
  };
  for (const auto& [protocol, names] : blanked) {
    SCOPED_TRACE(value(protocol));
    TSendMethodProperties p = filled(protocol, F::XML);
    std::int32_t id = sm.AddSendMethodProperties2(p);
    // The caller's record shows the blanking; the working fields stay with it.
    EXPECT_EQ(p, without(filled(protocol, F::XML), names)) << dump(p);
    EXPECT_EQ(read(id), without(filled(protocol, F::XML), plus(names, kWorkingFields))) << dump(read(id));
  }
}

TEST_F(SendMethodTest, FormatAndWriteModeDecideOverTemplateAndWriteMode) {
  EXPECT_EQ(read(add(filled(P::Email, F::XML))).sExcelTemplate, "");
  EXPECT_EQ(read(add(filled(P::Email, F::Excel))).sExcelTemplate, "order.xlt");
  EXPECT_EQ(read(add(filled(P::Fax, F::OBI))).sExcelTemplate, "order.xlt");
  EXPECT_EQ(read(add(filled(P::Ftp, F::Excel))).sExcelTemplate, "order.xlt");
  EXPECT_EQ(read(add(filled(P::MethodCall, F::Excel))).sExcelTemplate, "order.xlt");

  TSendMethodProperties append = read(add(filled(P::FilePath, F::Excel, EWriteMode::Append)));
  EXPECT_EQ(append.nWriteMode, EWriteMode::Append);
  EXPECT_EQ(append.sExcelTemplate, "");
  TSendMethodProperties create = read(add(filled(P::FilePath, F::Excel, EWriteMode::Create)));
  EXPECT_EQ(create.nWriteMode, EWriteMode::Create);
  EXPECT_EQ(create.sExcelTemplate, "order.xlt");
  TSendMethodProperties xml = read(add(filled(P::FilePath, F::XML, EWriteMode::Create)));
  EXPECT_EQ(xml.nWriteMode, EWriteMode{});
  EXPECT_EQ(xml.sExcelTemplate, "");

  // An unknown protocol leaves every field as it is.
  TSendMethodProperties unknown = filled(static_cast<P>(15), F::XML);
  sm.ClearSendMethodFieldsByProtocol(unknown);
  EXPECT_EQ(unknown, filled(static_cast<P>(15), F::XML));
}

TEST_F(SendMethodTest, UpdateRewritesTheRowAndBlanksByTheNewProtocol) {
  std::int32_t id = add(filled(P::Ftp, F::XML));
  TSendMethodProperties http = filled(P::Http, F::OBI);
  http.sAddress = "  https://partner.example.com/in  ";
  sm.UpdateSendMethodProperties2(id, http);
  EXPECT_EQ(http.sFileName, "");  // the caller sees the blanking
  TSendMethodProperties back = read(id);
  EXPECT_EQ(back.nProtocol, P::Http);
  EXPECT_EQ(back.nFormat, F::OBI);
  EXPECT_EQ(back.sAddress, "https://partner.example.com/in");  // read back trimmed
  EXPECT_EQ(back.sFileName, "");
  EXPECT_EQ(back.lPort, 21);

  // No row: nothing is written and nothing raised.
  TSendMethodProperties other = filled(P::Email, F::XML);
  sm.UpdateSendMethodProperties2(999, other);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM SENDMETHODPROPERTY"), "1");
}

TEST_F(SendMethodTest, MethodCallWithoutClassAndMethodStoresNoAddress) {
  TSendMethodProperties call = filled(P::MethodCall, F::XML);
  call.sAddress = "..";
  std::int32_t empty = add(call);
  EXPECT_EQ(stored("ADDRESS", empty), "");
  EXPECT_EQ(call.sAddress, "..");  // only the stored value changes
  call.sAddress = "..Plugin.Method";
  EXPECT_EQ(stored("ADDRESS", add(call)), "..Plugin.Method");
  TSendMethodProperties mail = filled(P::Email, F::XML);
  mail.sAddress = "..";
  EXPECT_EQ(stored("ADDRESS", add(mail)), "..");

  // The same rule holds on update.
  std::int32_t id = add(filled(P::MethodCall, F::XML));
  call.sAddress = "..";
  sm.UpdateSendMethodProperties2(id, call);
  EXPECT_EQ(stored("ADDRESS", id), "");
}

TEST_F(SendMethodTest, ThePasswordMaskKeepsTheStoredPassword) {
  std::int32_t id = add(filled(P::Ftp, F::XML));
  auto update = [&](const std::string& password) {
    TSendMethodProperties p = filled(P::Ftp, F::XML);
    p.sPassword = password;
    sm.UpdateSendMethodProperties2(id, p);
    return stored("PASSWORD", id);
  };
  EXPECT_EQ(update("********"), "secret");
  EXPECT_EQ(update("  ********  "), "secret");
  EXPECT_EQ(update(" new one "), " new one ");  // stored as given …
  EXPECT_EQ(read(id).sPassword, "new one");    // … and read back trimmed
  EXPECT_EQ(update("*******"), "*******");
  EXPECT_EQ(update("   "), "");

  // A new send method has no password to keep: the mask is not stored as one.
  TSendMethodProperties masked = filled(P::Ftp, F::XML);
  masked.sPassword = "********";
  EXPECT_EQ(stored("PASSWORD", add(masked)), "NULL");
}

TEST_F(SendMethodTest, ReadingWithoutARowGivesABlankRecord) {
  EXPECT_EQ(read(-1), TSendMethodProperties{});
  EXPECT_EQ(read(999), TSendMethodProperties{});
  // Nulls read as blanks, codes outside their enumeration as 0.
  exec("INSERT INTO SENDMETHODPROPERTY (SENDMETHODID, PROTOCOL, FORMAT, AUTOPUSH, WRITEMODE, SUFFIX) "
       "VALUES (7, 15, 30, NULL, 99, 20)");
  TSendMethodProperties odd = read(7);
  EXPECT_EQ(odd.nProtocol, P{});
  EXPECT_EQ(odd.nFormat, F::XML);
  EXPECT_EQ(odd.nWriteMode, EWriteMode{});
  EXPECT_EQ(odd.nSuffix, ESendMethodSuffix::None);
  EXPECT_FALSE(odd.bAutoPush);
  EXPECT_EQ(odd.sAddress, "");

  // Codes outside their enumeration are never stored.
  TSendMethodProperties junk = filled(P::Ftp, static_cast<F>(12));
  junk.nFileFormat = static_cast<ESendMethodFileFormat>(70000);
  std::int32_t id = add(junk);
  EXPECT_EQ(stored("FORMAT", id), "0");
  EXPECT_EQ(stored("FILEFORMAT", id), "0");

  SendMethod::ExtendedProperties e{"x", "y", "z"};
  sm.GetSendMethodProperties3(-1, e);
  EXPECT_EQ(e, (SendMethod::ExtendedProperties{"", "False", ""}));
  e = {"x", "y", "z"};
  sm.GetSendMethodProperties3(999, e);
  EXPECT_EQ(e, (SendMethod::ExtendedProperties{"", "False", ""}));
}

TEST_F(SendMethodTest, TheExtendedArrayIsWrittenAndReadInDifferentOrders) {
  TSendMethodProperties edi = filled(P::EDI, F::XML);
  std::int32_t id = sm.AddSendMethodProperties3(edi, {"True", "NET-1", "merge.txt"});
  SendMethod::ExtendedProperties back;
  sm.GetSendMethodProperties3(id, back);
  EXPECT_EQ(back, (SendMethod::ExtendedProperties{"NET-1", "True", "merge.txt"}));

  // An update with a blank network id keeps the stored one.
  sm.UpdateSendMethodProperties3(id, edi, {"False", "   ", "other.txt"});
  sm.GetSendMethodProperties3(id, back);
  EXPECT_EQ(back, (SendMethod::ExtendedProperties{"NET-1", "False", "other.txt"}));
  sm.UpdateSendMethodProperties3(id, edi, {"1", "NET-2", ""});
  sm.GetSendMethodProperties3(id, back);
  EXPECT_EQ(back, (SendMethod::ExtendedProperties{"NET-2", "True", ""}));

  // Adding with no network id leaves the column empty; an empty flag is false.
  std::int32_t bare = sm.AddSendMethodProperties3(edi, {"", "", ""});
  EXPECT_EQ(stored("NETWORKID", bare), "NULL");
  EXPECT_EQ(stored("ATTACHMENTS", bare), "0");
}

TEST_F(SendMethodTest, PortalArgumentsRoundTrip) {
  std::int32_t id = sm.AddSendMethodPropertiesFromAsp2(40, 30, true, "x.xsl", "ftp.example.com", 21, "u", "p", "f",
                                                       10, "xml", 20, "t.xlt", "proxy", 3128, 20, 10, true, "NET-9",
                                                       "m.txt");
  std::int16_t protocol, format, suffix, writeMode, fileFormat, ftp;
  bool autoPush, attachments;
  std::int32_t port, proxyPort;
  std::string xsl, address, user, password, fileName, extension, tpl, proxy, network, merge;
  sm.GetSendMethodPropertiesFromAsp2(id, protocol, format, autoPush, xsl, address, port, user, password, fileName,
                                     suffix, extension, writeMode, tpl, proxy, proxyPort, fileFormat, ftp,
                                     attachments, network, merge);
  EXPECT_EQ(protocol, 40);
  EXPECT_EQ(format, 30);
  EXPECT_TRUE(autoPush);
  EXPECT_EQ(address, "ftp.example.com");
  EXPECT_EQ(user, "u");
  EXPECT_EQ(password, "p");
  EXPECT_EQ(port, 21);
  EXPECT_EQ(proxyPort, 3128);
  EXPECT_EQ(suffix, 10);
  EXPECT_EQ(writeMode, 0);  // FTP writes no file mode
  EXPECT_EQ(tpl, "");       // nor a template for XML
  EXPECT_EQ(fileFormat, 20);
  EXPECT_EQ(ftp, 10);
  EXPECT_TRUE(attachments);
  EXPECT_EQ(network, "NET-9");
  EXPECT_EQ(merge, "m.txt");

  // Integers that are no enumeration value arrive as "not set".
  sm.UpdateSendMethodPropertiesFromAsp(id, 45, 30, false, "", "dir", 0, "", "********", "", 11, "", 0, "", "", 0, 3, 99);
  sm.GetSendMethodPropertiesFromAsp(id, protocol, format, autoPush, xsl, address, port, user, password, fileName,
                                    suffix, extension, writeMode, tpl, proxy, proxyPort, fileFormat, ftp);
  EXPECT_EQ(protocol, 0);
  EXPECT_EQ(suffix, 0);
  EXPECT_EQ(fileFormat, 0);
  EXPECT_EQ(ftp, 0);
  EXPECT_EQ(password, "p");
  EXPECT_FALSE(autoPush);
}

TEST_F(SendMethodTest, DeletingTheOnlyRuleRouteLeavesAPlaceholderThatTheNextAddFills) {
  std::int32_t first = add(filled(P::Email, F::XML));
  sm.AddSendMethod2(first, 200, "ORDER", 5);
  sm.DeleteSendMethod2(std::to_string(first), 200, 5, "ORDER");
  EXPECT_EQ(routes(), "200,ORDER,5:-1");
  EXPECT_EQ(stored("COUNT(*)", first), "0");

  std::int32_t second = add(filled(P::Fax, F::XML));
  sm.AddSendMethod2(second, 200, "ORDER", 5);
  EXPECT_EQ(routes(), "200,ORDER,5:" + std::to_string(second));
  sm.AddSendMethod2(second, 200, "ORDER", 5);  // present already: not added twice
  sm.AddSendMethod2(-1, 200, "ORDER", 5);      // -1 never adds a row
  EXPECT_EQ(routes(), "200,ORDER,5:" + std::to_string(second));

  std::int32_t third = add(filled(P::Ftp, F::XML));
  sm.AddSendMethod2(third, 200, "ORDER", 5);
  EXPECT_EQ(routes(), "200,ORDER,5:" + std::to_string(second) + ";200,ORDER,5:" + std::to_string(third));
  // With two send methods on the rule, the deleted one's route simply goes.
  sm.DeleteSendMethod2(std::to_string(third), 200, 5, "ORDER");
  EXPECT_EQ(routes(), "200,ORDER,5:" + std::to_string(second));
}

TEST_F(SendMethodTest, DeletingNeverTakesAnotherSendMethodsRoute) {
  std::int32_t mine = add(filled(P::Email, F::XML));
  std::int32_t theirs = add(filled(P::Fax, F::XML));
  sm.AddSendMethod2(mine, 200, "ORDER", -1);
  sm.AddSendMethod2(theirs, 200, "ORDER", 5);
  // Called with the rule route of another send method: only mine goes.
  sm.DeleteSendMethod2(std::to_string(mine), 200, 5, "ORDER");
  EXPECT_EQ(routes(), "200,ORDER,5:" + std::to_string(theirs));
  EXPECT_EQ(stored("COUNT(*)", theirs), "1");

  // A route without a rule goes with every other route of its send method.
  std::int32_t both = add(filled(P::Ftp, F::XML));
  sm.AddSendMethod2(both, 300, "ORDER", -1);
  sm.AddSendMethod2(both, 300, "INVOICE", -1);
  sm.DeleteSendMethod2(" " + std::to_string(both) + " ", 300, -1, "ORDER");
  EXPECT_EQ(routes("BUSINESSPARTNERID = 300"), "");

  // The id text is a number or nothing happens.
  Error e = EXPECT_RAISES(hr::kTypeMismatch, sm.DeleteSendMethod2("0 OR 1 = 1", 200, -1, "ORDER"));
  EXPECT_NE(e.description().find("METHOD: Quillon.SendMethod.DeleteSendMethod2 caught: "), std::string::npos);
  EXPECT_RAISES(hr::kTypeMismatch, sm.DeleteSendMethod2("4.5", 200, -1, "ORDER"));
  EXPECT_EQ(routes(), "200,ORDER,5:" + std::to_string(theirs));
}

TEST_F(SendMethodTest, PropertiesStayWhileAnotherRouteStillUsesTheSendMethod) {
  std::int32_t shared = add(filled(P::Ftp, F::XML));
  sm.AddSendMethod2(shared, 200, "ORDER", 5);
  sm.AddSendMethod2(shared, 300, "ORDER", 5);
  sm.AddSendMethod2(shared, 200, "INVOICE", -1);
  // Partner 200's only rule route becomes a placeholder; the other two
  // routes still deliver through the send method and can read it.
  sm.DeleteSendMethod2(std::to_string(shared), 200, 5, "ORDER");
  EXPECT_EQ(routes(), "200,INVOICE,-1:" + std::to_string(shared) + ";200,ORDER,5:-1;300,ORDER,5:" +
                          std::to_string(shared));
  EXPECT_EQ(stored("PROTOCOL", shared), std::to_string(static_cast<int>(P::Ftp)));
  auto ids = sm.GetSendMethodIDs(300, "ORDER", 5);
  ASSERT_FALSE(ids->EOF_());
  EXPECT_EQ(ids->Fields("SENDMETHODID").Value().toInt32(), shared);
  ids->Close();

  // The last routes go one after the other; the properties go with the last.
  sm.DeleteSendMethod2(std::to_string(shared), 300, 5, "ORDER");
  EXPECT_EQ(stored("COUNT(*)", shared), "1");
  sm.DeleteSendMethod2(std::to_string(shared), 200, -1, "INVOICE");
  EXPECT_EQ(routes(), "200,ORDER,5:-1;300,ORDER,5:-1");
  EXPECT_EQ(stored("COUNT(*)", shared), "0");
}

TEST_F(SendMethodTest, RouteSendMethodsLeaveOutManualDownload) {
  std::int32_t mail = add(filled(P::Email, F::XML));
  std::int32_t download = add(filled(P::ManualDownload, F::XML));
  std::int32_t other = add(filled(P::Ftp, F::XML));
  sm.AddSendMethod2(mail, 200, "O'RDER", -1);
  sm.AddSendMethod2(download, 200, "O'RDER", -1);
  sm.AddSendMethod2(other, 200, "O'RDER", 5);
  auto rs = sm.GetSendMethodIDs(200, "O'RDER", -1);
  ASSERT_FALSE(rs->EOF_());
  EXPECT_EQ(rs->Fields("SENDMETHODID").Value().toInt32(), mail);
  rs->MoveNext();
  EXPECT_TRUE(rs->EOF_());
  rs->Close();
}

TEST_F(SendMethodTest, ManualDownloadLookUpsQuoteTheDocumentType) {
  TSendMethodProperties xml = filled(P::ManualDownload, F::XML);
  std::int32_t unicode = add(xml);
  TSendMethodProperties excel = filled(P::ManualDownload, F::Excel);
  excel.nFileFormat = ESendMethodFileFormat::ASCII;
  std::int32_t workbook = add(excel);
  for (std::int32_t id : {unicode, workbook}) sm.AddSendMethod2(id, 200, "O'RDER", -1);
  std::int32_t ruled = add(filled(P::ManualDownload, F::OBI));
  sm.AddSendMethod2(ruled, 200, "O'RDER", 5);

  EXPECT_TRUE(sm.DownloadSendMethodExists(200, "O'RDER", 30, 20));
  EXPECT_TRUE(sm.DownloadSendMethodExists(200, "O'RDER", 30, 0));  // any file format
  EXPECT_FALSE(sm.DownloadSendMethodExists(200, "O'RDER", 30, 10));
  EXPECT_FALSE(sm.DownloadSendMethodExists(200, "O'RDER", 20, 0));  // rule routes do not count
  EXPECT_FALSE(sm.DownloadSendMethodExists(300, "O'RDER", 30, 0));
  EXPECT_FALSE(sm.DownloadSendMethodExists(200, "' OR ''='", 30, 0));

  TSendMethodProperties found;
  EXPECT_EQ(sm.GetSendMethodManualDownload(200, "O'RDER", 30, 20, found), unicode);
  EXPECT_EQ(found.sXslFileName, "order.xsl");
  EXPECT_EQ(found.nFileFormat, ESendMethodFileFormat::Unicode);
  // The file format counts for XML only.
  EXPECT_EQ(sm.GetSendMethodManualDownload(200, "O'RDER", 10, 20, found), workbook);
  EXPECT_EQ(found.sExcelTemplate, "order.xlt");
  EXPECT_RAISES(hr::kDbNoRow, sm.GetSendMethodManualDownload(200, "O'RDER", 30, 10, found));
}

TEST_F(SendMethodTest, EveryAttemptWritesAHistoryRow) {
  EXPECT_EQ(sm.getSendMethodStatus_SENT(), 1);
  EXPECT_EQ(sm.getSendMethodStatus_NOTSENT(), 0);
  sm.AddSendMethodToHistory(4, 200, -1, 17, "ORDER", 0, sm.getSendMethodStatus_SENT());
  sm.AddSendMethodToHistory(4, 200, 5, 18, "ORDER", 33, sm.getSendMethodStatus_NOTSENT());
  EXPECT_EQ(scalar("SELECT GROUP_CONCAT(SENDMETHODID || ',' || BUSINESSPARTNERID || ',' || RULEID || ',' || DOCUMENTID "
                   "|| ',' || DOCUMENTTYPEID || ',' || PUBLICATIONERRORID || ',' || Status, ';') FROM "
                   "(SELECT * FROM SENDMETHODHISTORY ORDER BY HISTORYID)"),
            "4,200,-1,17,ORDER,0,1;4,200,5,18,ORDER,33,0");
  // Dated now, in the stored date form.
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM SENDMETHODHISTORY WHERE SENDDATE = strftime('%Y-%m-%d %H:%M:%S', SENDDATE) "
                   "AND ABS(strftime('%s', SENDDATE) - strftime('%s', 'now', 'localtime')) < 60"),
            "2");
}

TEST_F(SendMethodTest, ConversionsKeepValidValuesOnly) {
  const std::map<std::string, std::vector<int>> valid{
      {"Protocol", {10, 20, 30, 40, 50, 60, 70, 80}}, {"WriteMode", {10, 20, 30}}, {"Format", {10, 20, 30}},
      {"Suffix", {10, 20}}, {"FileFormat", {10, 20}}, {"FTPTransferType", {10, 20}}};
  for (const auto& [name, values] : valid) {
    for (const char* direction : {"_EnumToInteger", "_IntegerToEnum"}) {
      std::string method = "SendMethod" + name + direction;
      SCOPED_TRACE(method);
      auto call = [&](int v) {
        std::vector<Variant> args{Variant(v)};
        return sm.invoke(method, args);
      };
      for (int v : values) EXPECT_EQ(call(v).toInt32(), v);
      for (int v : {0, 15, -10, 40 + values.back(), 100000}) EXPECT_EQ(call(v).toInt32(), 0) << v;
      EXPECT_EQ(call(values.front()).type(), direction[1] == 'E' ? VarType::Int16 : VarType::Int32);
    }
  }
  EXPECT_EQ(sm.SendMethodWriteMode_IntegerToEnum(15), EWriteMode{});
}

TEST_F(SendMethodTest, LabelTokensForProtocolsFormatsAndFileFormats) {
  const std::map<P, std::string> protocols{{P::Email, "[%SLBSH4428%]"},    {P::Fax, "[%SLBSH4429%]"},
                                           {P::FilePath, "[%SLBSH4430%]"}, {P::Ftp, "[%SLBSH4431%]"},
                                           {P::Http, "[%SLBSH4432%]"},     {P::MethodCall, "[%SLBSH4433%]"},
                                           {P::EDI, "[%SLBSH4434%]"},      {P::ManualDownload, ""}};
  for (const auto& [p, token] : protocols) EXPECT_EQ(sm.GetSendMethodProtocolLabel(p), token);
  EXPECT_EQ(sm.GetSendMethodProtocolLabel(P{}), "");
  EXPECT_EQ(sm.GetSendMethodFormatLabel(F::Excel), "[%SLBSH5556%]");
  EXPECT_EQ(sm.GetSendMethodFormatLabel(F::OBI), "[%SLBSH5555%]");
  EXPECT_EQ(sm.GetSendMethodFormatLabel(F::XML), "[%SLBSH5554%]");
  EXPECT_EQ(sm.GetSendMethodFormatLabel(static_cast<F>(40)), "");
  EXPECT_EQ(sm.GetSendMethodFileFormatLabel(ESendMethodFileFormat::ASCII), "[%SLBSH5057%]");
  EXPECT_EQ(sm.GetSendMethodFileFormatLabel(ESendMethodFileFormat::Unicode), "[%SLBSH5058%]");
  EXPECT_EQ(sm.GetSendMethodFileFormatLabel(ESendMethodFileFormat{}), "");
}

TEST_F(SendMethodTest, RetiredMethodsPointToTheirSuccessors) {
  std::vector<Variant> old{Variant(4), Variant("kept")};
  Error e = EXPECT_RAISES(NewerVersionAvailable, sm.invoke("GetSendMethodData", old));
  EXPECT_EQ(e.source(), "Quillon.SendMethod.GetSendMethodData");
  EXPECT_EQ(e.description(), "This method is no longer supported. Use 'GetSendMethodProperties2' instead.");
  EXPECT_EQ(old[1].text(), "kept");
  std::vector<Variant> none;
  e = EXPECT_RAISES(NewerVersionAvailable, sm.invoke("GetSendMethodID", none));
  EXPECT_EQ(e.source(), "Quillon.SendMethod.GetSendMethodID");
  EXPECT_EQ(e.description(), I18N::GetLabel("SLBSH4426"));
}

TEST_F(SendMethodTest, ByNameRecordsAreDictionariesOfTheFieldNames) {
  auto record = std::make_shared<Dictionary>();
  record->Add("nProtocol", Variant(50));
  record->Add("nFormat", Variant(30));
  record->Add("sAddress", Variant("https://partner.example.com"));
  record->Add("sfilename", Variant("dropped"));  // names match ignoring case
  std::vector<Variant> args{Variant(record)};
  std::int32_t id = sm.invoke("AddSendMethodProperties2", args).toInt32();
  auto blanked = args[0].as<Dictionary>();
  ASSERT_TRUE(blanked);
  EXPECT_EQ(blanked->Keys(), ToDictionary(TSendMethodProperties{})->Keys());
  EXPECT_EQ(blanked->Item("sFileName").text(), "");

  std::vector<Variant> get{Variant(id), Variant()};
  sm.invoke("GetSendMethodProperties2", get);
  EXPECT_EQ(get[1].as<Dictionary>()->Item("sAddress").text(), "https://partner.example.com");
  EXPECT_EQ(get[1].as<Dictionary>()->Item("nProtocol").toInt32(), 50);

  std::vector<Variant> ext{Variant(id), Variant()};
  sm.invoke("GetSendMethodProperties3", ext);
  EXPECT_EQ(ext[1].array().at(1).text(), "False");

  // A misspelt field is an error, not a silently lost value.
  auto typo = std::make_shared<Dictionary>();
  typo->Add("sPasword", Variant("x"));
  std::vector<Variant> bad{Variant(typo)};
  EXPECT_RAISES(hr::kInvalidArg, sm.invoke("AddSendMethodProperties2", bad));
}

}  // namespace
}  // namespace quillon
