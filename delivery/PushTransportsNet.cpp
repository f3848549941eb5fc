// Transports over the network: a form post to a partner's web page and an
// upload to a partner's FTP server (platform/Network.h).
#include <optional>

#include "delivery/PushTransports.h"
#include "document/FileHandling.h"
#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "foundation/I18N.h"
#include "imports/B2BExcel.h"
#include "platform/Configuration.h"
#include "platform/Error.h"
#include "platform/Network.h"
#include "platform/Spreadsheet.h"
#include "platform/Text.h"
#include "platform/XmlDom.h"
#include "publication/Utility.h"

namespace quillon::push {

namespace {

using namespace net::wininet;

const char* const kHttpSource = "Quillon.PushDocUtils.SendDataByHTTP";
const char* const kFtpSource = "Quillon.PushDocUtils.SendDataByFTP";

std::string documentText(std::int32_t docID) {
  return I18N::LabelWith("SLBSH4228", {{"[%DOCID%]", std::to_string(docID)}});
}

// The numbered system error behind a failure of the internet client, with
// its message and the client's own text.
std::string systemError(const Error& e) {
  std::string text = "System error " + std::to_string(e.number());
  const std::string message = net::SystemErrorText(e.number());
  if (!message.empty()) text += " - " + message;
  if (!e.description().empty()) text += " " + e.description();
  return text;
}

// A failure of a transfer step: the step's label text, the document, and
// the system error when the internet client reported one.
Error transferError(std::int32_t number, const char* source, const std::string& stepText, std::int32_t docID,
                    const Error* cause = nullptr) {
  std::string description = stepText + " " + documentText(docID);
  if (cause) description += " " + systemError(*cause);
  return Error(number, source, description);
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// CA certificates to trust for partners' HTTPS pages, when the site names
// them (section "PUSH", key "HttpCaFile" of the site configuration).
std::string httpCaFile() {
  try {
    Configuration config;
    config.Load(General::getSiteConfigFile());
    return text::Trim(config.GetValue("PUSH", "HttpCaFile").text());
  } catch (...) {
    return {};
  }
}

// Posts the form body to the page of sAddress and returns the answer of a
// 200 response.
std::string SendDataByHTTP(std::int32_t docID, const TSendMethodProperties& p, const std::string& body) {
  return General::Guarded(kHttpSource, [&] {
    const std::string address = p.sAddress;
    const std::string shown = MaskAddress(address);
    const std::string lower = text::LCase(address);
    bool secure = false;
    std::string rest;
    if (startsWith(lower, "http://")) {
      rest = address.substr(7);
    } else if (startsWith(lower, "https://")) {
      rest = address.substr(8);
      secure = true;
    } else {
      throw transferError(PushByHTTPError, kHttpSource, I18N::LabelWith("SLBSH4241", {{"[%ADDRESS%]", shown}}), docID);
    }
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos)
      throw transferError(PushByHTTPError, kHttpSource, I18N::LabelWith("SLBSH4243", {{"[%ADDRESS%]", shown}}), docID);
    std::string server = rest.substr(0, slash);
    const std::string page = rest.substr(slash);

    long port = 0;
    const std::size_t colon = server.find(':');
    if (colon != std::string::npos) {
      const std::string portText = server.substr(colon + 1);
      const bool digits = !portText.empty() && portText.size() <= 5 &&
                          portText.find_first_not_of("0123456789") == std::string::npos;
      port = digits ? std::stol(portText) : 0;
      if (port < 1 || port > 65535)
        throw transferError(PushByHTTPError, kHttpSource, I18N::LabelWith("SLBSH4242", {{"[%ADDRESS%]", shown}}),
                            docID);
      server = server.substr(0, colon);
    } else if (p.lPort > 0 && p.lPort != -1) {
      port = p.lPort;
    } else {
      // -1 and 0 (not set) both mean the service's own port.
      port = secure ? 443 : 80;
    }

    net::HttpRequest request;
    request.url = std::string(secure ? "https://" : "http://") + server + ":" + std::to_string(port) + page;
    request.method = "POST";
    request.body = body;
    request.contentType = "application/x-www-form-urlencoded";
    request.agent = "HTTPPOST";
    request.proxy = p.sProxy;
    request.proxyPort = p.lProxyPort > 0 ? p.lProxyPort : -1;
    request.caFile = httpCaFile();

    const std::string portText = std::to_string(port);
    net::HttpResponse response;
    try {
      response = net::HttpSend(request);
    } catch (const Error& e) {
      std::string step;
      switch (e.number()) {
        case kNameNotResolved:
        case kCannotConnect:
        case kSecureChannelError:
        case kInvalidCa:
          step = I18N::LabelWith("SLBSH4245", {{"[%SERVER%]", server}, {"[%PORT%]", portText}});
          break;
        case kInvalidUrl:
        case kUnrecognizedScheme:
          step = I18N::LabelWith("SLBSH4246", {{"[%SERVER%]", server}, {"[%PORT%]", portText}});
          break;
        case kInvalidServerResponse:
          step = I18N::LabelWith("SLBSH4248", {{"[%SERVER%]", server}, {"[%PORT%]", portText}});
          break;
        default:
          step = I18N::LabelWith("SLBSH4247", {{"[%SERVER%]", server}, {"[%PORT%]", portText}, {"[%PAGE%]", page}});
          break;
      }
      throw transferError(PushByHTTPError, kHttpSource, step, docID, &e);
    }
    if (response.status != 200)
      throw Error(PushByHTTPError, "WinInet.HttpSendRequest",
                  "Server responded with:" + std::to_string(response.status) + " " + response.reason);
    return response.body;
  });
}

// Uploads the local file sTempFileName as sFileName to the server and
// folder of sAddress.
void SendDataByFTP(std::int32_t docID, const TSendMethodProperties& p) {
  General::Guarded(kFtpSource, [&] {
    const std::string address = p.sAddress;
    const std::string shown = MaskAddress(address);
    if (text::LCase(text::Left(address, 6)) != "ftp://")
      throw transferError(PushByFTPError, kFtpSource, I18N::LabelWith("SLBSH4239", {{"[%ADDRESS%]", shown}}), docID);
    const std::string rest = address.substr(6);
    const std::size_t slash = rest.find('/');
    const std::string server = rest.substr(0, slash);
    const std::string directory = slash == std::string::npos ? std::string() : rest.substr(slash + 1);

    net::TransferMode mode;
    if (p.nFTPTransferType == ESendMethodFTPTransferType::ASCII) {
      // An ASCII transfer rewrites line ends byte by byte, which breaks
      // UTF-16 text: a Unicode file always goes as it is.
      mode = p.nFileFormat == ESendMethodFileFormat::Unicode ? net::TransferMode::Binary : net::TransferMode::Ascii;
    } else if (p.nFTPTransferType == ESendMethodFTPTransferType::Binary) {
      mode = net::TransferMode::Binary;
    } else {
      throw transferError(
          PushByFTPError, kFtpSource,
          I18N::LabelWith("SLBSH4328", {{"[%FTPTRANSFERTYPE%]", std::to_string(value(p.nFTPTransferType))}}), docID);
    }

    net::FtpOptions options;
    options.host = server;
    options.port = p.lPort > 0 ? p.lPort : 0;
    options.user = p.sUser;
    options.password = p.sPassword;
    options.active = true;
    options.proxy = p.sProxy;
    options.proxyPort = p.lProxyPort > 0 ? p.lProxyPort : -1;
    const std::string portText = std::to_string(options.port > 0 ? options.port : 21);

    std::unique_ptr<net::FtpSession> session;
    try {
      session = std::make_unique<net::FtpSession>(options);
    } catch (const Error& e) {
      throw transferError(PushByFTPError, kFtpSource,
                          I18N::LabelWith("SLBSH4236", {{"[%SERVER%]", server}, {"[%PORT%]", portText}}), docID, &e);
    }
    if (!directory.empty()) {
      try {
        session->ChangeDirectory(directory);
      } catch (const Error& e) {
        throw transferError(
            PushByFTPError, kFtpSource,
            I18N::LabelWith("SLBSH4238", {{"[%DIRECTORY%]", directory}, {"[%SERVER%]", server}, {"[%PORT%]", portText}}),
            docID, &e);
      }
    }
    try {
      session->PutFile(text::LocalPath(p.sTempFileName), p.sFileName, mode);
    } catch (const Error& e) {
      throw transferError(PushByFTPError, kFtpSource,
                          I18N::LabelWith("SLBSH4237", {{"[%SERVER%]", server},
                                                        {"[%PORT%]", portText},
                                                        {"[%SOURCEFILE%]", p.sTempFileName},
                                                        {"[%DESTINATIONFILE%]", p.sFileName}}),
                          docID, &e);
    }
  });
}

// Uploads each attachment of the document as "<document id>_<name>".
void SendByFTPForAttachments(std::int32_t docID, const TSendMethodProperties& p) {
  std::string current;
  General::Guarded(
      "Quillon.PushDocUtils.SendByFTPForAttachments",
      [&] { return I18N::LabelWith("SLBSH4567", {{"[%FILENAME%]", current}}); },
      [&] {
        for (const Attachment& att : DocumentAttachments(docID, "", "SendByFTPForAttachments")) {
          current = att.name;
          TSendMethodProperties one = p;
          one.sFileName = std::to_string(docID) + "_" + att.name;
          one.sTempFileName = att.storedFile;
          SendDataByFTP(docID, one);
        }
      });
}

}  // namespace

void SendByHTTP(std::int32_t docID, const TSendMethodProperties& p, const std::string& data) {
  General::Guarded("Quillon.PushDocUtils.SendByHTTP", [&] {
    // The form carries text: a workbook would go as an empty field.
    if (p.nFormat != ESendMethodFormat::XML && p.nFormat != ESendMethodFormat::OBI)
      FormatNotSupported(value(p.nFormat), "Quillon.PushDocUtils.SendByHTTP");
    PushDocUtils encoder;
    std::string body = (p.nFormat == ESendMethodFormat::OBI ? "EOBIO=" : "xml=") + encoder.URLEncode(data);
    if (!p.sUser.empty()) body += "&USER=" + encoder.URLEncode(p.sUser) + "&PASSWORD=" + encoder.URLEncode(p.sPassword);
    body += "&DocID=" + encoder.URLEncode(std::to_string(docID));

    const std::string answer = SendDataByHTTP(docID, p, body);

    // A page refuses a document with an XML answer that carries a non-zero
    // ERROR_NUMBER; any other answer means it was taken.
    auto dom = std::make_shared<DomDocument>();
    if (!dom->loadXML(answer)) return;
    Utility utility;
    std::int32_t number = 0;
    try {
      const std::string numberText = utility.ExecuteXSLPattern(dom, "//ERROR_NUMBER");
      if (text::IsNumeric(numberText)) number = Variant(numberText).toInt32();
    } catch (...) {
      number = 0;  // an error number that is no 32-bit number is none
    }
    if (number == 0) return;
    throw Error(number, utility.ExecuteXSLPattern(dom, "//ERROR_SOURCE"),
                "Error from receiving web page: " + utility.ExecuteXSLPattern(dom, "//ERROR_DESCRIPTION"));
  });
}

void SendByFTP(std::int32_t docID, const Variant& data, TSendMethodProperties& p, const Extended& a) {
  General::Guarded("Quillon.PushDocUtils.SendByFTP", [&] {
    if (p.nFormat != ESendMethodFormat::XML && p.nFormat != ESendMethodFormat::Excel)
      FormatNotSupported(value(p.nFormat), "Quillon.PushDocUtils.SendByFTP");
    FileHandling files;
    std::optional<WorkFolder> work;  // the local file of this upload alone
    if (p.nFormat == ESendMethodFormat::XML) {
      p.sFileName = GetSendMethodOutputFileName(docID, p);
      p.sTempFileName = WriteTemporaryText(DataText(data), p.nFileFormat == ESendMethodFileFormat::Unicode);
    } else if (auto book = data.as<spreadsheet::Workbook>()) {
      p.sFileName = GetSendMethodOutputFileName(docID, p);
      work.emplace(ExcelTempFolder());
      p.sTempFileName = work->File(p.sFileName);
      WorkbookPtr workbook = book;
      B2BExcel excel;
      excel.WriteExcelObjectToFile(workbook, p.sTempFileName, true);
    } else {
      p.sTempFileName = TemplateCopy(p);  // written from the template already
    }
    try {
      SendDataByFTP(docID, p);
    } catch (...) {
      DeleteQuietly(p.sTempFileName);
      throw;
    }
    DeleteQuietly(p.sTempFileName);
    if (AttachmentsWanted(a)) SendByFTPForAttachments(docID, p);
  });
}

}  // namespace quillon::push
