#include "platform/XmlDom.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/Error.h"
#include "platform/Variant.h"
#include "tests/TestSite.h"

using namespace quillon;
namespace fs = std::filesystem;

namespace {

// A temporary folder removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "xmldom-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string write(const std::string& name, const std::string& content) const {
    fs::path p = path_ / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }
  fs::path path() const { return path_; }

 private:
  fs::path path_;
};

// Answers GET requests on 127.0.0.1: `body` for `servedPath`, 404 for anything else.
class LoopbackHttpServer {
 public:
  LoopbackHttpServer(std::string servedPath, std::string body)
      : servedPath_(std::move(servedPath)), body_(std::move(body)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 8);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~LoopbackHttpServer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int requests() const { return requests_; }

 private:
  void run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int client = accept(fd_, nullptr, nullptr);
      if (client < 0) continue;
      std::string request;
      char buf[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      ++requests_;
      bool found = request.rfind("GET " + servedPath_ + " ", 0) == 0;
      std::string content = found ? body_ : "not here";
      std::string response = std::string(found ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
                             "\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " +
                             std::to_string(content.size()) + "\r\n\r\n" + content;
      send(client, response.data(), response.size(), MSG_NOSIGNAL);
      close(client);
    }
  }

  std::string servedPath_, body_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

const char* kTextStylesheet = R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/"><xsl:for-each select="//item"><xsl:value-of select="@name"/>;</xsl:for-each></xsl:template>
</xsl:stylesheet>)";

const char* kItems = R"(<list><item name="a &amp; b"/><item name="c"/></list>)";

std::shared_ptr<DomDocument> parsed(const std::string& text) {
  auto doc = std::make_shared<DomDocument>();
  EXPECT_TRUE(doc->loadXML(text)) << doc->parseError().reason;
  return doc;
}

}  // namespace

TEST(XmlDom, ParseErrorDescribesTheFirstWellFormednessError) {
  DomDocument doc;
  EXPECT_FALSE(doc.loadXML("<a>\n  <b></c>\n</a>"));
  const ParseError& e = doc.parseError();
  EXPECT_EQ(e.errorCode, kXmlParseErrorBase + 76);  // libxml2: tag name mismatch
  EXPECT_NE(e.reason.find("Opening and ending tag mismatch: b line 2 and c"), std::string::npos) << e.reason;
  EXPECT_NE(e.reason.back(), '\n');
  EXPECT_EQ(e.line, 2);
  EXPECT_EQ(e.linepos, 10);
  EXPECT_EQ(e.srcText, "  <b></c>");
  EXPECT_EQ(doc.xml(), "");
  EXPECT_EQ(doc.documentElement(), nullptr);

  for (const char* blank : {"", "   \n"}) {
    EXPECT_FALSE(doc.loadXML(blank));
    EXPECT_EQ(doc.parseError().errorCode, kXmlParseErrorBase + 4);  // libxml2: document empty
    EXPECT_FALSE(doc.parseError().reason.empty());
  }
  // A successful load clears the previous error.
  EXPECT_TRUE(doc.loadXML("<ok/>"));
  EXPECT_EQ(doc.parseError().errorCode, 0);
}

TEST(XmlDom, LoadReadsFilesAndReportsMissingOnes) {
  TempDir dir;
  std::string path = dir.write("doc.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>caf\xE9</a>");
  DomDocument doc;
  ASSERT_TRUE(doc.load(path)) << doc.parseError().reason;
  EXPECT_EQ(doc.documentElement()->text(), "caf\xC3\xA9");  // converted to UTF-8
  EXPECT_EQ(doc.xml(), "<?xml version=\"1.0\"?>\n<a>caf\xC3\xA9</a>");
  ASSERT_TRUE(doc.load("file://" + path));
  EXPECT_EQ(doc.documentElement()->nodeName(), "a");

  std::string bad = dir.write("bad.xml", "<a>\n<b>");
  EXPECT_FALSE(doc.load(bad));
  EXPECT_EQ(doc.parseError().url, bad);
  EXPECT_EQ(doc.parseError().line, 2);

  std::string missing = (dir.path() / "missing.xml").string();
  for (const std::string& location : {missing, "file://" + missing, dir.path().string(), std::string("ftp://h/x.xml")}) {
    EXPECT_FALSE(doc.load(location)) << location;
    EXPECT_EQ(doc.parseError().errorCode, static_cast<std::int32_t>(0x800C0006)) << location;
    EXPECT_NE(doc.parseError().reason.find("The system cannot locate the object specified."), std::string::npos);
    EXPECT_NE(doc.parseError().reason.find(location), std::string::npos) << doc.parseError().reason;
  }
}

TEST(XmlDom, MislabelledEncodingsAreReadAsUtf8) {
  DomDocument doc;
  ASSERT_TRUE(doc.loadXML("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xC3\xA9</a>"))
      << doc.parseError().reason;
  EXPECT_EQ(doc.documentElement()->text(), "\xC3\xA9");
  ASSERT_TRUE(doc.loadXML("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xC3\xA9</a>"));
  EXPECT_EQ(doc.documentElement()->text(), "\xC3\xA9");  // not read as two Latin-1 characters

  TempDir dir;
  ASSERT_TRUE(doc.load(dir.write("u.xml", "<?xml version='1.0' encoding='utf-16'?><a>\xC3\xA9</a>")))
      << doc.parseError().reason;
  EXPECT_EQ(doc.documentElement()->text(), "\xC3\xA9");
}

TEST(XmlDom, ExternalEntitiesAndDtdsAreNeverRead) {
  TempDir dir;
  dir.write("secret.dtd", "<!ENTITY s \"SECRET\">");
  std::string general = "<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>";
  std::string external = "<!DOCTYPE a SYSTEM \"secret.dtd\"><a>&s;</a>";
  std::string parameter = "<!DOCTYPE a [<!ENTITY % p SYSTEM \"secret.dtd\"> %p;]><a>&s;</a>";
  DomDocument doc;
  for (const std::string& text : {general, external, parameter}) {
    std::string path = dir.write("doc.xml", text);
    for (bool fromFile : {false, true}) {
      bool ok = fromFile ? doc.load(path) : doc.loadXML(text);
      std::string seen = ok ? doc.xml() + doc.text() : doc.parseError().reason + doc.parseError().srcText;
      EXPECT_EQ(seen.find("root:"), std::string::npos) << text;
      EXPECT_EQ(seen.find("SECRET"), std::string::npos) << text;
    }
  }
  ASSERT_TRUE(doc.loadXML(general));
  EXPECT_EQ(doc.xml(), "<!DOCTYPE a [\n<!ENTITY x SYSTEM \"file:///etc/passwd\">\n]>\n<a>&x;</a>");

  // Exponential entity expansion is refused instead of being expanded.
  std::string laughs = "<!DOCTYPE l [<!ENTITY l0 \"lollollollollollollollollollol\">";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><l>&l9;</l>";
  EXPECT_FALSE(doc.loadXML(laughs));
  EXPECT_NE(doc.parseError().errorCode, 0);
}

TEST(XmlDom, XPathSelectsInDocumentOrderRelativeToTheContextNode) {
  auto doc = parsed(R"(<r><c id="1"/><a id="2"><c id="3"/></a><b xmlns="urn:x" id="4"/></r>)");
  auto all = doc->selectNodes("//c | //a");
  ASSERT_EQ(all->length(), 3);
  EXPECT_EQ(all->item(0)->getAttribute("id"), "1");
  EXPECT_EQ(all->item(1)->getAttribute("id"), "2");
  EXPECT_EQ(all->item(2)->getAttribute("id"), "3");
  EXPECT_EQ(all->item(3), nullptr);

  auto a = doc->selectSingleNode("/r/a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->selectNodes("c")->length(), 1);
  EXPECT_EQ(a->selectSingleNode("../c/@id")->nodeValue(), "1");
  EXPECT_EQ(a->selectSingleNode("../c/@id")->nodeType(), DomNodeType::Attribute);
  EXPECT_EQ(a->selectSingleNode("parent::r")->nodeName(), "r");
  EXPECT_EQ(doc->selectSingleNode("//missing"), nullptr);

  EXPECT_EQ(doc->selectSingleNode("//b"), nullptr);  // b is in a namespace
  doc->setProperty("SelectionNamespaces", Variant("xmlns:x='urn:x'"));
  ASSERT_NE(doc->selectSingleNode("//x:b"), nullptr);
  EXPECT_EQ(doc->selectSingleNode("//x:b")->getAttribute("id"), "4");
  EXPECT_EQ(doc->selectSingleNode("//x:b")->xml(), "<b xmlns=\"urn:x\" id=\"4\"/>");
  EXPECT_TRUE(doc->loadXML("<b xmlns='urn:x'/>"));  // the property survives a reload
  EXPECT_NE(doc->selectSingleNode("/x:b"), nullptr);

  for (const char* bad : {"//[", "count(//a)", "undefined:name", ""}) {
    Error e = EXPECT_RAISES(hr::kFail, doc->selectNodes(bad));
    EXPECT_EQ(e.number(), static_cast<std::int32_t>(0x80004005)) << bad;
    EXPECT_EQ(e.source(), "Quillon.XmlDom");
    EXPECT_EQ(e.description().rfind(std::string("Invalid XPath expression: ") + bad, 0), 0u) << e.description();
  }
}

TEST(XmlDom, BuiltDocumentsSerialiseAndRoundTrip) {
  DomDocument doc;
  EXPECT_EQ(doc.xml(), "");
  doc.appendChild(doc.createProcessingInstruction("xml-stylesheet", "href=\"s.xsl\""));
  auto root = doc.createElement("root");
  doc.appendChild(root);
  auto item = root->appendChild(doc.createElement("item"));
  item->setAttribute("name", "x\"<&");
  auto attr = doc.createAttribute("kind");
  attr->setText("k");
  item->setAttributeNode(attr);
  item->appendChild(doc.createTextNode("1 < 2 & "));
  item->appendChild(doc.createTextNode("3 > 2"));
  doc.createElement("never-appended");  // freed with the document

  const std::string expected =
      "<?xml-stylesheet href=\"s.xsl\"?>\n"
      "<root><item name=\"x&quot;&lt;&amp;\" kind=\"k\">1 &lt; 2 &amp; 3 &gt; 2</item></root>";
  EXPECT_EQ(doc.xml(), expected);
  EXPECT_EQ(item->text(), "1 < 2 & 3 > 2");
  EXPECT_EQ(item->getAttribute("name"), "x\"<&");
  EXPECT_EQ(attr->xml(), "kind=\"k\"");

  DomDocument copy;
  ASSERT_TRUE(copy.loadXML(doc.xml()));
  EXPECT_EQ(copy.xml(), expected);

  // A second top-level element, text at the top level and cycles are refused.
  EXPECT_RAISES(hr::kFail, doc.appendChild(doc.createElement("second")));
  EXPECT_RAISES(hr::kFail, doc.appendChild(doc.createTextNode("t")));
  EXPECT_RAISES(hr::kFail, item->appendChild(root));
  EXPECT_RAISES(hr::kInvalidArg, doc.createElement("not a name"));

  // Removed and replaced nodes stay usable; nodes of other documents are copied.
  root->removeChild(item);
  EXPECT_EQ(doc.xml(), "<?xml-stylesheet href=\"s.xsl\"?>\n<root/>");
  EXPECT_EQ(item->getAttribute("kind"), "k");
  auto moved = copy.documentElement()->appendChild(item);
  EXPECT_NE(moved->raw(), item->raw());
  EXPECT_EQ(copy.selectNodes("/root/item")->length(), 2);
  doc.setDocumentElement(item);
  EXPECT_EQ(doc.documentElement()->nodeName(), "item");
  EXPECT_EQ(root->nodeName(), "root");
  item->removeAttribute("kind");
  EXPECT_FALSE(item->hasAttribute("kind"));
  EXPECT_EQ(attr->nodeValue(), "k");
}

TEST(XmlDom, SetTextReplacesChildrenWithEscapedText) {
  auto doc = parsed("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r a=\"1\"><old>x</old>tail</r>");
  auto root = doc->documentElement();
  auto old = root->firstChild();
  root->setText("a < b & c");
  EXPECT_EQ(doc->xml(), "<?xml version=\"1.0\"?>\n<r a=\"1\">a &lt; b &amp; c</r>");
  EXPECT_EQ(root->text(), "a < b & c");
  EXPECT_EQ(root->childNodes()->length(), 1);
  EXPECT_EQ(old->xml(), "<old>x</old>");  // detached, still valid

  root->selectSingleNode("@a")->setText("<&>");
  EXPECT_EQ(root->getAttribute("a"), "<&>");
  root->setText("");
  EXPECT_EQ(root->xml(), "<r a=\"&lt;&amp;&gt;\"/>");

  DomDocument again;
  ASSERT_TRUE(again.loadXML(doc->xml()));
  EXPECT_EQ(again.documentElement()->getAttribute("a"), "<&>");
}

TEST(XmlDom, NodesKeepTheirDocumentAlive) {
  std::shared_ptr<DomNode> node;
  {
    DomDocument doc;
    ASSERT_TRUE(doc.loadXML("<r><a>kept</a></r>"));
    node = doc.selectSingleNode("//a");
    ASSERT_TRUE(doc.loadXML("<other/>"));
    EXPECT_EQ(node->text(), "kept");
  }
  EXPECT_EQ(node->xml(), "<a>kept</a>");
  EXPECT_EQ(node->parentNode()->nodeName(), "r");
  EXPECT_EQ(node->parentNode()->parentNode()->nodeType(), DomNodeType::Document);
  EXPECT_EQ(node->parentNode()->parentNode()->xml(), "<r><a>kept</a></r>");
}

TEST(XmlDom, TransformHonoursTheOutputMethod) {
  auto source = parsed(kItems);
  auto text = parsed(kTextStylesheet);
  EXPECT_EQ(source->transformNode(*text), "a & b;c;");
  EXPECT_EQ(source->transformNode(*text), "a & b;c;");  // the stylesheet document is not consumed

  auto html = parsed(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
    <xsl:output method="html"/>
    <xsl:template match="/"><p><xsl:value-of select="//item/@name"/><br/></p></xsl:template>
  </xsl:stylesheet>)");
  EXPECT_EQ(source->transformNode(*html), "<p>a &amp; b<br></p>\n");

  auto xml = parsed(R"~(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
      xmlns:str="http://exslt.org/strings" extension-element-prefixes="str">
    <xsl:output method="xml" encoding="ISO-8859-1"/>
    <xsl:strip-space elements="*"/>
    <xsl:template match="/"><out><xsl:value-of select="str:concat(/r/a/@v)"/></out></xsl:template>
  </xsl:stylesheet>)~");
  DomDocument spacedDoc;
  spacedDoc.setPreserveWhiteSpace(true);
  ASSERT_TRUE(spacedDoc.loadXML("<r> <a v=\"\xC3\xA9t\xC3\xA9\"/> </r>"));
  DomDocument* spaced = &spacedDoc;
  // EXSLT is available; the result is UTF-8 whatever the declared encoding.
  std::string out = spaced->transformNode(*xml);
  EXPECT_NE(out.find("<?xml version=\"1.0\""), std::string::npos) << out;
  EXPECT_NE(out.find("<out>\xC3\xA9t\xC3\xA9</out>"), std::string::npos) << out;
  EXPECT_EQ(spaced->xml(), "<r> <a v=\"\xC3\xA9t\xC3\xA9\"/> </r>");  // xsl:strip-space did not touch the source
}

TEST(XmlDom, TransformReadsLocalIncludesButNeverWritesOrFetches) {
  TempDir dir;
  dir.write("inc.xsl", R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
    <xsl:template name="greet">included <xsl:value-of select="document('data.xml')/d"/></xsl:template>
  </xsl:stylesheet>)");
  dir.write("data.xml", "<d>data</d>");
  std::string main = dir.write("main.xsl", R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
    <xsl:include href="inc.xsl"/>
    <xsl:output method="text"/>
    <xsl:template match="/"><xsl:call-template name="greet"/></xsl:template>
  </xsl:stylesheet>)");
  DomDocument style;
  ASSERT_TRUE(style.load(main)) << style.parseError().reason;
  auto source = parsed("<x/>");
  EXPECT_EQ(source->transformNode(style), "included data");

  std::string target = (dir.path() / "written.txt").string();
  auto writer = parsed(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
      xmlns:exsl="http://exslt.org/common" extension-element-prefixes="exsl">
    <xsl:template match="/"><exsl:document href=")" + target + R"(">x</exsl:document></xsl:template>
  </xsl:stylesheet>)");
  EXPECT_RAISES(hr::kFail, source->transformNode(*writer));
  EXPECT_FALSE(fs::exists(target));

  auto fetcher = parsed(R"~(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
    <xsl:template match="/"><xsl:copy-of select="document('http://127.0.0.1:9/x.xml')"/></xsl:template>
  </xsl:stylesheet>)~");
  EXPECT_RAISES(hr::kFail, source->transformNode(*fetcher));
}

// A style sheet that says `word` for any document; all such sheets have
// the same size, so only the time stamp tells their versions apart.
std::string sayingSheet(const std::string& word) {
  return R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">)"
         R"(<xsl:output method="text"/><xsl:template match="/">)" + word + "</xsl:template></xsl:stylesheet>";
}

void ageFile(const std::string& path, int seconds) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
}

std::string applyFile(const std::string& path) {
  DomDocument style;
  EXPECT_TRUE(style.load(path)) << style.parseError().reason;
  return parsed("<x/>")->transformNode(style);
}

// Local style sheets are compiled once per file version and thread: every
// change of the file, and every change of the loaded document, must still
// be seen by the next transformation.
TEST(XmlDom, ALocalStylesheetIsSeenAsItIsNow) {
  TempDir dir;
  std::string path = dir.write("sheet.xsl", sayingSheet("first"));
  ageFile(path, 60);
  EXPECT_EQ(applyFile(path), "first");
  EXPECT_EQ(applyFile(path), "first");
  // Rewritten in place, same size, older stamp than now but not the same.
  dir.write("sheet.xsl", sayingSheet("again"));
  ageFile(path, 30);
  EXPECT_EQ(applyFile(path), "again");
  // Replaced by another file (a new inode) with the very same time stamp.
  const auto stamp = fs::last_write_time(path);
  std::string other = dir.write("other.xsl", sayingSheet("moved"));
  fs::last_write_time(other, stamp);
  fs::rename(other, path);
  EXPECT_EQ(applyFile(path), "moved");

  // Two writes within one clock tick leave the same stamp: a file written
  // in the last two seconds is never taken from what was compiled.
  dir.write("sheet.xsl", sayingSheet("third"));
  const auto young = fs::last_write_time(path);
  EXPECT_EQ(applyFile(path), "third");
  dir.write("sheet.xsl", sayingSheet("forth"));
  fs::last_write_time(path, young);
  EXPECT_EQ(applyFile(path), "forth");

  // A loaded sheet changed through the DOM is compiled as it now reads.
  ageFile(path, 20);
  EXPECT_EQ(applyFile(path), "forth");
  DomDocument style;
  ASSERT_TRUE(style.load(path));
  auto templ = style.selectSingleNode("//*[local-name()='template']");
  ASSERT_NE(templ, nullptr);
  templ->setText("fifth");
  auto source = parsed("<x/>");
  EXPECT_EQ(source->transformNode(style), "fifth");
  EXPECT_EQ(applyFile(path), "forth");
  // A sheet that includes another file sees that file's changes too.
  std::string inc = dir.write("inc.xsl", R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">)"
                                         R"(<xsl:template name="w">one</xsl:template></xsl:stylesheet>)");
  std::string main = dir.write("main.xsl", R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">)"
                                           R"(<xsl:include href="inc.xsl"/><xsl:output method="text"/>)"
                                           R"(<xsl:template match="/"><xsl:call-template name="w"/></xsl:template></xsl:stylesheet>)");
  ageFile(inc, 60);
  ageFile(main, 60);
  EXPECT_EQ(applyFile(main), "one");
  dir.write("inc.xsl", R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">)"
                       R"(<xsl:template name="w">two</xsl:template></xsl:stylesheet>)");
  EXPECT_EQ(applyFile(main), "two");

  // Each thread keeps its own compiled sheets.
  std::string seen;
  std::thread([&] { seen = applyFile(path); }).join();
  EXPECT_EQ(seen, "forth");
}

TEST(XmlDom, FailingStylesheetsRaiseWithLibxsltMessages) {
  auto source = parsed(kItems);
  struct Case {
    const char* stylesheet;
    const char* expectedText;
  };
  const Case cases[] = {
      {"<not-a-stylesheet/>", "not a stylesheet"},
      {R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
          <xsl:template match="/"><xsl:value-of select="1 +"/></xsl:template></xsl:stylesheet>)",
       "value-of"},
      {R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
          <xsl:template match="/"><xsl:message terminate="yes">stopped here</xsl:message></xsl:template>
        </xsl:stylesheet>)",
       "stopped here"},
      {R"~(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
          <xsl:template match="/"><xsl:value-of select="no-such-function()"/></xsl:template></xsl:stylesheet>)~",
       "no-such-function"},
  };
  for (const Case& c : cases) {
    auto style = parsed(c.stylesheet);
    Error e = EXPECT_RAISES(hr::kFail, source->transformNode(*style));
    EXPECT_EQ(e.number(), kXslTransformError);
    EXPECT_EQ(e.source(), "Quillon.XmlDom");
    EXPECT_EQ(e.description().rfind("XSL transformation failed: ", 0), 0u) << e.description();
    EXPECT_NE(e.description().find(c.expectedText), std::string::npos) << e.description();
  }
}

TEST(XmlDom, RemoteLoadingNeedsTheServerHttpSwitch) {
  setenv("no_proxy", "127.0.0.1", 1);  // a proxy from the environment must not see loopback requests
  LoopbackHttpServer server("/style.xsl", kTextStylesheet);
  DomDocument style;
  EXPECT_FALSE(style.getProperty("ServerHTTPRequest").toBool());
  EXPECT_FALSE(style.load(server.url("/style.xsl")));
  EXPECT_EQ(style.parseError().errorCode, hr::kResourceNotFound);
  EXPECT_NE(style.parseError().reason.find("ServerHTTPRequest"), std::string::npos);
  EXPECT_EQ(server.requests(), 0);

  style.setProperty("ServerHTTPRequest", Variant(true));
  ASSERT_TRUE(style.load(server.url("/style.xsl"))) << style.parseError().reason;
  EXPECT_EQ(parsed(kItems)->transformNode(style), "a & b;c;");

  EXPECT_FALSE(style.load(server.url("/missing.xsl")));
  EXPECT_EQ(style.parseError().errorCode, hr::kResourceNotFound);
  EXPECT_NE(style.parseError().reason.find("404"), std::string::npos) << style.parseError().reason;
}

// Parsing leaves entity references unexpanded; reading text expands them,
// and a small document can ask for gigabytes that way. What expansion may
// produce is capped: beyond it the read fails instead of allocating.
TEST(XmlDom, EntityExpansionOnReadingIsCapped) {
  const std::string big(60000, 'x');
  std::string refs;
  for (int i = 0; i < 2000; ++i) refs += "&e;";
  const std::string text = "<!DOCTYPE d [<!ENTITY e \"" + big + "\"><!ENTITY s \"small\">]>"
                           "<d><DOCTYPE-ID a=\"" + refs + "\">" + refs + "</DOCTYPE-ID><one>&e;</one><s>&s;&s;</s></d>";
  DomDocument doc;
  ASSERT_TRUE(doc.loadXML(text)) << doc.parseError().reason;
  // Modest expansions still read as before.
  DomDocument small;
  ASSERT_TRUE(small.loadXML("<!DOCTYPE d [<!ENTITY e \"" + big + "\"><!ENTITY s \"small\">]>"
                            "<d a=\"&s;!\"><one>&e;</one><s>&s; &s;</s></d>"));
  EXPECT_EQ(small.selectSingleNode("//one")->text(), big);
  EXPECT_EQ(small.selectSingleNode("//s")->text(), "small small");
  EXPECT_EQ(small.documentElement()->getAttribute("a"), "small!");
  EXPECT_EQ(small.selectSingleNode("//@a")->nodeValue(), "small!");
  EXPECT_NE(small.selectSingleNode("//s[contains(., 'small small')]"), nullptr);

  // 120 MB of expansion: every way of reading the text is refused.
  auto root = doc.documentElement();
  auto id = root->firstChild();
  ASSERT_EQ(id->nodeName(), "DOCTYPE-ID");
  for (auto read : std::vector<std::function<std::string()>>{
           [&] { return id->text(); }, [&] { return root->text(); }, [&] { return doc.text(); },
           [&] { return id->getAttribute("a"); }, [&] { return id->attributes()->item(0)->nodeValue(); },
           [&] { return id->attributes()->item(0)->text(); }}) {
    Error e = EXPECT_RAISES(test::kAnyError, read());
    EXPECT_NE(e.description().find("entit"), std::string::npos) << e.description();
  }
  Error e = EXPECT_RAISES(test::kAnyError, doc.selectNodes("//DOCTYPE-ID[contains(., 'y')]"));
  EXPECT_NE(e.description().find("entit"), std::string::npos) << e.description();
  auto style = parsed(kTextStylesheet);
  EXPECT_THROW(doc.transformNode(*style), Error);
  // Serialising writes the references, not their expansion.
  EXPECT_LT(doc.xml().size(), 2 * text.size());

  // Nested entities multiply: the cap counts what they produce, not what they declare.
  std::string nested = "<!DOCTYPE n [<!ENTITY a \"" + std::string(4000, 'a') + "\"><!ENTITY b \"";
  for (int i = 0; i < 40; ++i) nested += "&a;";
  nested += "\">]><n>";
  for (int i = 0; i < 40; ++i) nested += "&b;";
  nested += "</n>";
  ASSERT_TRUE(doc.loadXML(nested));
  EXPECT_THROW(doc.documentElement()->text(), Error);
}

// A style sheet fetched over HTTP is somebody else's code: it may read
// nothing local, neither through xsl:include/xsl:import nor document().
// Local style sheets keep reading local files.
TEST(XmlDom, RemoteStylesheetsReadNothingLocal) {
  setenv("no_proxy", "127.0.0.1", 1);
  TempDir local;
  std::string secret = local.write("secret.xml", "<s>SECRET</s>");
  std::string localInclude = local.write("inc.xsl", R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
    <xsl:template name="greet">INCLUDED</xsl:template></xsl:stylesheet>)");
  TempDir served;
  const std::string head = R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">)";
  served.write("document.xsl", head + R"(<xsl:output method="text"/><xsl:template match="/">[<xsl:value-of select="document('file://)" +
                                    secret + R"(')/s"/>]</xsl:template></xsl:stylesheet>)");
  served.write("absolute.xsl", head + R"(<xsl:output method="text"/><xsl:template match="/">[<xsl:value-of select="document(')" +
                                    secret + R"(')/s"/>]</xsl:template></xsl:stylesheet>)");
  served.write("include.xsl", head + "<xsl:include href=\"file://" + localInclude +
                                  R"("/><xsl:output method="text"/><xsl:template match="/"><xsl:call-template name="greet"/></xsl:template></xsl:stylesheet>)");
  served.write("import.xsl", head + "<xsl:import href=\"file://" + localInclude +
                                 R"("/><xsl:output method="text"/><xsl:template match="/"><xsl:call-template name="greet"/></xsl:template></xsl:stylesheet>)");
  served.write("plain.xsl", kTextStylesheet);

  // python3's own server, on a free loopback port it reports on its first line.
  std::string portFile = (served.path() / "port").string();
  std::string command = "/usr/bin/python3 -c \"import http.server,functools,sys\n"
                        "h=functools.partial(http.server.SimpleHTTPRequestHandler,directory=sys.argv[1])\n"
                        "h.log_message=lambda *a:None\n"
                        "s=http.server.HTTPServer(('127.0.0.1',0),h)\n"
                        "open(sys.argv[2],'w').write(str(s.server_port))\n"
                        "s.serve_forever()\" '" + served.path().string() + "' '" + portFile + ".tmp' >/dev/null 2>&1 & echo $!";
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char pidText[32] = {0};
  ASSERT_NE(fgets(pidText, sizeof pidText, p), nullptr);
  pclose(p);
  pid_t pid = static_cast<pid_t>(std::atoi(pidText));
  std::string port;
  for (int i = 0; i < 200 && port.empty(); ++i) {
    std::ifstream in(portFile + ".tmp");
    std::getline(in, port);
    if (port.empty()) usleep(20000);
  }
  ASSERT_FALSE(port.empty());
  auto url = [&](const std::string& name) { return "http://127.0.0.1:" + port + "/" + name; };

  auto source = parsed(kItems);
  DomDocument style;
  style.setProperty("ServerHTTPRequest", Variant(true));
  ASSERT_TRUE(style.load(url("plain.xsl"))) << style.parseError().reason;
  EXPECT_EQ(source->transformNode(style), "a & b;c;");  // remote sheets still work
  for (const char* name : {"document.xsl", "absolute.xsl", "include.xsl", "import.xsl"}) {
    ASSERT_TRUE(style.load(url(name))) << name << ": " << style.parseError().reason;
    std::string out;
    try {
      out = source->transformNode(style);
    } catch (const Error& e) {
      out = e.description();
    }
    EXPECT_EQ(out.find("SECRET"), std::string::npos) << name << ": " << out;
    EXPECT_EQ(out.find("INCLUDED"), std::string::npos) << name << ": " << out;
  }
  // The same sheets read from a local file keep their rights, also when
  // they are settled files whose compiled form is kept.
  for (const char* name : {"document.xsl", "absolute.xsl", "include.xsl"}) ageFile((served.path() / name).string(), 60);
  for (int round = 0; round < 2; ++round) {
    for (const char* name : {"document.xsl", "absolute.xsl", "include.xsl"}) {
      DomDocument localStyle;
      ASSERT_TRUE(localStyle.load((served.path() / name).string()));
      std::string out = source->transformNode(localStyle);
      EXPECT_TRUE(out.find("SECRET") != std::string::npos || out.find("INCLUDED") != std::string::npos) << out;
    }
  }
  // ... and compiling them locally gives the remote copies no rights.
  for (const char* name : {"document.xsl", "absolute.xsl", "include.xsl"}) {
    ASSERT_TRUE(style.load(url(name))) << name;
    std::string out;
    try {
      out = source->transformNode(style);
    } catch (const Error& e) {
      out = e.description();
    }
    EXPECT_EQ(out.find("SECRET"), std::string::npos) << name << ": " << out;
    EXPECT_EQ(out.find("INCLUDED"), std::string::npos) << name << ": " << out;
  }
  // A remote sheet is fetched and compiled anew at every use: an edit on
  // the server shows at once, whatever its time stamp says.
  served.write("plain.xsl", sayingSheet("first"));
  ageFile((served.path() / "plain.xsl").string(), 60);
  ASSERT_TRUE(style.load(url("plain.xsl")));
  EXPECT_EQ(source->transformNode(style), "first");
  const auto stamp = fs::last_write_time(served.path() / "plain.xsl");
  served.write("plain.xsl", sayingSheet("again"));
  fs::last_write_time(served.path() / "plain.xsl", stamp);
  ASSERT_TRUE(style.load(url("plain.xsl")));
  EXPECT_EQ(source->transformNode(style), "again");
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// With preserveWhiteSpace off (the default), white-space-only text between
// elements is dropped on loading and an element's text is trimmed, so a
// pretty-printed document reads like a compact one. CDATA and
// xml:space="preserve" keep their white space; the switch keeps it all.
TEST(XmlDom, WhiteSpaceIsNormalisedUnlessPreserved) {
  const std::string pretty =
      "<ORDER>\n  <QTY>\n    42\n  </QTY>\n  <SENDER>\n    <NAME>bob</NAME>\n  </SENDER>\n"
      "  <NOTE xml:space=\"preserve\">  a  <b/> </NOTE>\n  <C><![CDATA[  c  ]]></C>\n  <T> a  b </T>\n"
      "  <E>   </E>\n</ORDER>\n";
  DomDocument doc;
  EXPECT_FALSE(doc.preserveWhiteSpace());
  ASSERT_TRUE(doc.loadXML(pretty));
  EXPECT_EQ(doc.selectSingleNode("//QTY")->text(), "42");
  EXPECT_EQ(doc.selectSingleNode("//SENDER")->text(), "bob");
  EXPECT_EQ(doc.selectSingleNode("//NOTE")->text(), "  a   ");
  EXPECT_EQ(doc.selectSingleNode("//C")->text(), "  c  ");
  EXPECT_EQ(doc.selectSingleNode("//T")->text(), "a  b");
  EXPECT_EQ(doc.selectSingleNode("//E")->text(), "");
  EXPECT_EQ(doc.documentElement()->childNodes()->length(), 6);
  EXPECT_EQ(doc.selectSingleNode("//SENDER")->childNodes()->length(), 1);
  EXPECT_EQ(doc.selectSingleNode("//NOTE")->childNodes()->length(), 3);
  EXPECT_EQ(doc.selectSingleNode("//QTY/text()")->nodeValue(), "\n    42\n  ");  // the raw value stays

  // A style sheet's xsl:text keeps its white space.
  auto style = parsed(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
    <xsl:output method="text"/>
    <xsl:template match="/"><xsl:value-of select="//NAME"/><xsl:text> </xsl:text><xsl:value-of select="//QTY"/></xsl:template>
  </xsl:stylesheet>)");
  EXPECT_EQ(doc.transformNode(*style), "bob \n    42\n  ");
  // Mixed content: only the two ends are trimmed.
  ASSERT_TRUE(doc.loadXML("<P>\n x <b>y</b>\t<i>z</i> </P>"));
  EXPECT_EQ(doc.documentElement()->text(), "x yz");

  DomDocument kept;
  kept.setPreserveWhiteSpace(true);
  ASSERT_TRUE(kept.loadXML(pretty));
  EXPECT_EQ(kept.selectSingleNode("//QTY")->text(), "\n    42\n  ");
  EXPECT_EQ(kept.selectSingleNode("//SENDER")->text(), "\n    bob\n  ");
  EXPECT_EQ(kept.documentElement()->childNodes()->length(), 13);
  EXPECT_EQ(kept.xml(), pretty.substr(0, pretty.size() - 1));
  // The switch is also a property, as callers by name set it.
  kept.setProperty("preserveWhiteSpace", Variant(false));
  EXPECT_FALSE(kept.getProperty("preserveWhiteSpace").toBool());
  ASSERT_TRUE(kept.loadXML(pretty));
  EXPECT_EQ(kept.selectSingleNode("//SENDER")->text(), "bob");
}

TEST(XmlDom, ByNameCallsReachTheDocumentAndItsNodes) {
  std::shared_ptr<Object> obj = Registry::instance().create("msxml2.domdocument");
  std::vector<Variant> args{Variant(kItems)};
  EXPECT_TRUE(obj->invoke("loadXML", args).toBool());
  args = {Variant("//item")};
  Variant list = obj->invoke("selectNodes", args);
  std::vector<Variant> none;
  EXPECT_EQ(list.object()->invoke("length", none).toInt32(), 2);
  args = {Variant(1)};
  Variant second = list.object()->invoke("item", args);
  args = {Variant("name")};
  EXPECT_EQ(second.object()->invoke("getAttribute", args).toString(), "c");
  args = {Variant(parsed(kTextStylesheet))};
  EXPECT_EQ(obj->invoke("transformNode", args).toString(), "a & b;c;");
  args = {Variant("/nothing")};
  EXPECT_FALSE(obj->invoke("selectSingleNode", args).isSetObject());
  EXPECT_EQ(obj->invoke("xml", none).toString(), kItems);
}
