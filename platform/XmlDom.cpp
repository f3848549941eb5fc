// XmlDom over libxml2, with libxslt in the module libquillon_xslt.so
// (platform/XsltModule.cpp) and platform/Http for the HTTP switch.
//
// Safety model: every parse runs with network access off and without entity
// substitution or DTD loading, and a process-wide external entity loader
// refuses every request except the single top-level file libxslt asks for
// when it loads an xsl:include/xsl:import/document() target (and none at
// all for a style sheet fetched over HTTP). libxml2's built-in
// amplification limits stay on (XML_PARSE_HUGE is never set); since
// internal entities are expanded only when text is read, the reads count
// what expansion produces and stop at kMaxEntityExpansion.
//
// Ownership: XmlDocHolder owns the xmlDoc and every node this layer created
// or detached. Nodes are never freed while their document lives (removed or
// replaced nodes are only unlinked), so a DomNode wrapper can never dangle;
// whatever is still unlinked when the holder goes away is freed with it.
#include "platform/XmlDom.h"

#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <sys/stat.h>
#include <time.h>

#include "platform/Error.h"
#include "platform/Http.h"
#include "platform/LazyModule.h"
#include "platform/Variant.h"
#include "platform/XsltModule.h"

namespace quillon {

namespace {

constexpr const char* kSource = "Quillon.XmlDom";
constexpr const char* kNotFoundReason = "The system cannot locate the object specified.";
constexpr std::size_t kMaxHttpBody = 64u * 1024u * 1024u;
constexpr std::size_t kMaxMessageText = 4000;

#if LIBXML_VERSION >= 21200
using XmlErrorArg = const xmlError*;
#else
using XmlErrorArg = xmlErrorPtr;
#endif

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }
const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

std::string str(const xmlChar* s) { return s ? std::string(reinterpret_cast<const char*>(s)) : std::string(); }

// Takes ownership of a libxml2-allocated string.
std::string take(xmlChar* s) {
  std::string out = str(s);
  if (s) xmlFree(s);
  return out;
}

std::string trimTrailing(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

bool startsWithNoCase(const std::string& s, const char* prefix) {
  std::size_t n = std::strlen(prefix);
  return s.size() >= n && equalsIgnoreCase(s.substr(0, n), prefix);
}

[[noreturn]] void fail(const std::string& description, std::int32_t number = hr::kFail) {
  throw Error(number, kSource, description);
}

// ---------------------------------------------------------------------------
// Library set-up and error plumbing

xmlExternalEntityLoader gDefaultEntityLoader = nullptr;
constexpr const char* kXsltNamespace = "http://www.w3.org/1999/XSL/Transform";
constexpr const char* kWhiteSpace = " \t\r\n";
// Entity references nest at most this deep when their text is read.
constexpr int kMaxEntityNesting = 40;

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

[[noreturn]] void entityLimit() {
  fail("The text expands entity references to more than " + std::to_string(kMaxEntityExpansion >> 20) +
       " MB, or nests them deeper than " + std::to_string(kMaxEntityNesting) +
       "; text of such a document is not read.");
}

// ---------------------------------------------------------------------------
// Entity expansion budget

using EntitySizes = std::unordered_map<xmlEntityPtr, std::size_t>;
constexpr std::size_t kOverBudget = kMaxEntityExpansion + 1;

std::size_t measure(xmlNodePtr first, bool countText, EntitySizes& sizes, int nesting);

// The bytes of text one reference to `e` expands to (saturating at kOverBudget).
std::size_t entitySize(xmlEntityPtr e, EntitySizes& sizes, int nesting) {
  if (!e) return 0;
  auto it = sizes.find(e);
  if (it != sizes.end()) return it->second;
  if (nesting >= kMaxEntityNesting) return kOverBudget;
  sizes[e] = kOverBudget;  // a reference loop counts as too much
  std::size_t size = e->children ? measure(e->children, true, sizes, nesting + 1)
                                 : (e->content ? static_cast<std::size_t>(xmlStrlen(e->content)) : 0);
  sizes[e] = std::min(size, kOverBudget);
  return sizes[e];
}

// The text that entity references in the node list starting at `first`
// (and everything below, attributes included) expand to; with countText the
// list's own text counts too.
std::size_t measure(xmlNodePtr first, bool countText, EntitySizes& sizes, int nesting) {
  std::size_t total = 0;
  std::vector<xmlNodePtr> stack;
  for (xmlNodePtr n = first; n; n = n->next) stack.push_back(n);
  while (!stack.empty()) {
    xmlNodePtr n = stack.back();
    stack.pop_back();
    switch (n->type) {
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        if (countText && n->content) total += static_cast<std::size_t>(xmlStrlen(n->content));
        break;
      case XML_ENTITY_REF_NODE:
        total += entitySize(xmlGetDocEntity(n->doc, n->name), sizes, nesting);
        break;
      case XML_ELEMENT_NODE:
        for (xmlAttrPtr a = n->properties; a; a = a->next) stack.push_back(reinterpret_cast<xmlNodePtr>(a));
        [[fallthrough]];
      case XML_ATTRIBUTE_NODE:
      case XML_DOCUMENT_NODE:
      case XML_DOCUMENT_FRAG_NODE:
        for (xmlNodePtr c = n->children; c; c = c->next) stack.push_back(c);
        break;
      default:
        break;
    }
    if (total >= kOverBudget) return kOverBudget;
  }
  return total;
}

// Raises when reading the document's text could expand entities beyond the
// cap: XPath string values and transformations read it through libxml2.
void requireBoundedEntities(xmlDocPtr doc) {
  if (!doc || !doc->intSubset || !doc->intSubset->entities) return;  // no entity declared, nothing to expand
  EntitySizes sizes;
  if (measure(doc->children, false, sizes, 0) > kMaxEntityExpansion) entityLimit();
}

// The text of a node: its text and CDATA descendants in document order, with
// entity references expanded (producing at most kMaxEntityExpansion bytes).
// With `trim`, white space at the two ends that comes from text nodes is
// removed; CDATA keeps its white space.
std::string gatherText(xmlNodePtr start, bool trim) {
  std::string out;
  std::size_t expanded = 0;
  std::size_t keepFrom = 0;  // trailing trimming stops at the end of the last CDATA
  bool leading = trim;
  auto append = [&](const xmlChar* content, bool cdata, int nesting) {
    if (!content) return;
    std::string_view v(reinterpret_cast<const char*>(content));
    if (nesting > 0) {
      expanded += v.size();
      if (expanded > kMaxEntityExpansion) entityLimit();
    }
    if (leading && !cdata) {
      std::size_t b = v.find_first_not_of(kWhiteSpace);
      if (b == std::string_view::npos) return;
      v.remove_prefix(b);
    }
    if (!v.empty()) leading = false;
    out.append(v);
    if (cdata && !v.empty()) keepFrom = out.size();
  };
  struct Item {
    xmlNodePtr node;
    int nesting;
  };
  std::vector<Item> stack{{start, 0}};
  while (!stack.empty()) {
    Item item = stack.back();
    stack.pop_back();
    xmlNodePtr n = item.node;
    switch (n->type) {
      case XML_TEXT_NODE: append(n->content, false, item.nesting); break;
      case XML_CDATA_SECTION_NODE: append(n->content, true, item.nesting); break;
      case XML_ENTITY_REF_NODE: {
        if (item.nesting >= kMaxEntityNesting) entityLimit();
        xmlEntityPtr e = xmlGetDocEntity(n->doc, n->name);
        if (e)
          for (xmlNodePtr c = e->last; c; c = c->prev) stack.push_back({c, item.nesting + 1});
        break;
      }
      case XML_ELEMENT_NODE:
      case XML_ATTRIBUTE_NODE:
      case XML_DOCUMENT_NODE:
      case XML_HTML_DOCUMENT_NODE:
      case XML_DOCUMENT_FRAG_NODE:
        for (xmlNodePtr c = n->last; c; c = c->prev) stack.push_back({c, item.nesting});
        break;
      default:  // comments, processing instructions, the DTD
        break;
    }
  }
  if (trim) {
    std::size_t end = out.size();
    while (end > keepFrom && isWhite(out[end - 1])) --end;
    out.resize(end);
  }
  return out;
}

// ---------------------------------------------------------------------------
// White space on loading

bool whiteSpaceOnly(const xmlChar* s) {
  if (!s) return true;
  for (; *s; ++s)
    if (!isWhite(static_cast<char>(*s))) return false;
  return true;
}

bool isXslText(xmlNodePtr e) {
  return e->type == XML_ELEMENT_NODE && e->ns && e->ns->href && xmlStrEqual(e->ns->href, X(kXsltNamespace)) &&
         xmlStrEqual(e->name, X("text"));
}

// xml:space of an element: 1 preserve, 0 default, -1 not given.
int spaceAttribute(xmlNodePtr e) {
  xmlChar* v = xmlGetNsProp(e, X("space"), XML_XML_NAMESPACE);
  if (!v) return -1;
  int result = xmlStrEqual(v, X("preserve")) ? 1 : (xmlStrEqual(v, X("default")) ? 0 : -1);
  xmlFree(v);
  return result;
}

// Drops the text nodes that hold only white space, as a DOM that does not
// preserve white space builds its tree. Kept: text below xml:space=
// "preserve", the content of xsl:text, and white space beside an entity
// reference (it is part of the character data around the expansion).
void stripWhiteSpace(xmlDocPtr doc) {
  struct Item {
    xmlNodePtr element;
    bool preserve;
  };
  std::vector<Item> stack;
  for (xmlNodePtr c = doc->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) stack.push_back({c, false});
  while (!stack.empty()) {
    Item item = stack.back();
    stack.pop_back();
    int space = spaceAttribute(item.element);
    bool preserve = space == 1 || (space == -1 && item.preserve);
    bool keepText = preserve || isXslText(item.element);
    for (xmlNodePtr c = item.element->children; c;) {
      xmlNodePtr next = c->next;
      if (c->type == XML_ELEMENT_NODE) {
        stack.push_back({c, preserve});
      } else if (!keepText && c->type == XML_TEXT_NODE && whiteSpaceOnly(c->content) &&
                 !(c->prev && c->prev->type == XML_ENTITY_REF_NODE) && !(next && next->type == XML_ENTITY_REF_NODE)) {
        xmlUnlinkNode(c);
        xmlFreeNode(c);
      }
      c = next;
    }
  }
}

// Set for exactly one entity-loader call: the top-level file of a document
// libxslt loads (xsl:include, xsl:import, document()).
thread_local bool tAllowNextEntityLoad = false;
// Where libxslt and libxml2 messages go during a transformation; null
// elsewhere (messages are then dropped instead of going to stderr).
thread_local std::string* tMessages = nullptr;

void appendMessage(const char* text) {
  if (!tMessages || !text) return;
  if (tMessages->size() < kMaxMessageText) tMessages->append(text);
}

void collectGeneric(void*, const char* fmt, ...) {
  if (!tMessages) return;
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  appendMessage(buf);
}

void collectStructured(void*, XmlErrorArg e) {
  if (!e || e->level < XML_ERR_ERROR || !e->message) return;
  appendMessage(e->message);
  std::string msg = e->message;
  if (msg.empty() || msg.back() != '\n') appendMessage("\n");
}

xmlParserInputPtr guardedEntityLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
  if (tAllowNextEntityLoad) {
    tAllowNextEntityLoad = false;
    return gDefaultEntityLoader(url, id, ctxt);
  }
  return nullptr;  // external entities and DTDs are never read
}

// The XSLT module's switch for the one load it asks for.
void allowNextEntityLoad(bool allow) { tAllowNextEntityLoad = allow; }

// The XSLT module's check of a document it loaded.
bool entitiesWithinLimit(xmlDocPtr doc) {
  if (!doc || !doc->intSubset || !doc->intSubset->entities) return true;
  EntitySizes sizes;
  return measure(doc->children, false, sizes, 0) <= kMaxEntityExpansion;
}

void initLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    gDefaultEntityLoader = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(guardedEntityLoader);
  });
}

// Installs libxml2 error handlers for the current thread (libxml2 keeps them
// per thread) and restores the previous ones on exit.
class ScopedXmlErrors {
 public:
  ScopedXmlErrors(void* ctx, xmlStructuredErrorFunc fn)
      : prevStructured_(xmlStructuredError),
        prevStructuredCtx_(xmlStructuredErrorContext),
        prevGeneric_(xmlGenericError),
        prevGenericCtx_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(ctx, fn);
    xmlSetGenericErrorFunc(nullptr, collectGeneric);
  }
  ~ScopedXmlErrors() {
    xmlSetStructuredErrorFunc(prevStructuredCtx_, prevStructured_);
    xmlSetGenericErrorFunc(prevGenericCtx_, prevGeneric_);
  }
  ScopedXmlErrors(const ScopedXmlErrors&) = delete;
  ScopedXmlErrors& operator=(const ScopedXmlErrors&) = delete;

 private:
  xmlStructuredErrorFunc prevStructured_;
  void* prevStructuredCtx_;
  xmlGenericErrorFunc prevGeneric_;
  void* prevGenericCtx_;
};

// Collects the messages of a transformation (libxslt and libxml2 alike).
class ScopedMessages {
 public:
  ScopedMessages() : prev_(tMessages), xml_(nullptr, collectStructured) { tMessages = &text_; }
  ~ScopedMessages() { tMessages = prev_; }
  // The messages as one line each, joined by "; ".
  std::string joined() const {
    std::string out;
    std::istringstream in(text_);
    std::string line;
    while (std::getline(in, line)) {
      line = trimTrailing(line);
      if (line.empty()) continue;
      if (!out.empty()) out += "; ";
      out += line;
    }
    return out;
  }

 private:
  std::string text_;
  std::string* prev_;
  ScopedXmlErrors xml_;
};

struct CapturedError {
  bool set = false;
  int code = 0;
  std::string message;
  int line = 0;
  int column = 0;
};

struct ParseCapture {
  CapturedError first;       // first error of level error or fatal
  CapturedError firstFatal;  // first well-formedness error
};

void record(CapturedError& target, XmlErrorArg e) {
  if (target.set) return;
  target.set = true;
  target.code = e->code;
  target.message = trimTrailing(str(reinterpret_cast<const xmlChar*>(e->message)));
  target.line = e->line;
  target.column = e->int2;
}

void captureParseError(void* ctx, XmlErrorArg e) {
  auto* capture = static_cast<ParseCapture*>(ctx);
  if (!e || e->level < XML_ERR_ERROR) return;
  record(capture->first, e);
  if (e->level == XML_ERR_FATAL) record(capture->firstFatal, e);
}

// The text of line `line` (1-based) of an 8-bit input, for ParseError::srcText.
std::string sourceLine(const std::string& bytes, long line) {
  if (line <= 0 || bytes.find('\0') != std::string::npos) return {};
  std::size_t pos = 0;
  for (long i = 1; i < line; ++i) {
    pos = bytes.find('\n', pos);
    if (pos == std::string::npos) return {};
    ++pos;
  }
  std::size_t end = bytes.find('\n', pos);
  std::string text = bytes.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (text.size() > 1000) text.resize(1000);
  return text;
}

void stripUtf8Bom(std::string& bytes) {
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF)
    bytes.erase(0, 3);
}

// An 8-bit text whose XML declaration claims UTF-16: libxml2 would reject it
// ("labelled UTF-16 but has UTF-8 content"); such files are read as UTF-8.
bool declaresUtf16In8Bit(const std::string& bytes) {
  if (bytes.compare(0, 5, "<?xml") != 0) return false;
  std::size_t end = bytes.find("?>");
  if (end == std::string::npos || end > 512) return false;
  std::string decl = toLowerAscii(bytes.substr(0, end));
  std::size_t enc = decl.find("encoding");
  if (enc == std::string::npos) return false;
  std::size_t q = decl.find_first_of("'\"", enc);
  return q != std::string::npos && decl.compare(q + 1, 6, "utf-16") == 0;
}

struct ParseOutcome {
  xmlDocPtr doc = nullptr;
  ParseError error;
};

// Parses `bytes`; `baseUrl` becomes the document URL (for relative
// references), `shownUrl` is what parseError().url reports.
ParseOutcome parseBytes(const std::string& bytes, const std::string& baseUrl, const std::string& shownUrl,
                        bool forceUtf8) {
  initLibraries();
  ParseOutcome out;
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
    out.error.errorCode = kXmlParseErrorBase + XML_ERR_NO_MEMORY;
    out.error.reason = "The document is too large";
    out.error.url = shownUrl;
    return out;
  }
  ParseCapture capture;
  int options = XML_PARSE_NONET;
  if (forceUtf8) options |= XML_PARSE_IGNORE_ENC;
  {
    ScopedXmlErrors scope(&capture, captureParseError);
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) throw Error(hr::kOutOfMemory, kSource, "Out of memory creating an XML parser");
    out.doc = xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()),
                                baseUrl.empty() ? nullptr : baseUrl.c_str(), forceUtf8 ? "UTF-8" : nullptr, options);
    if (out.doc && !ctxt->wellFormed) {
      xmlFreeDoc(out.doc);
      out.doc = nullptr;
    }
    if (!out.doc && !capture.first.set && ctxt->lastError.code != 0) record(capture.first, &ctxt->lastError);
    xmlFreeParserCtxt(ctxt);
  }
  if (out.doc) return out;

  const CapturedError& e = capture.firstFatal.set ? capture.firstFatal : capture.first;
  ParseError& pe = out.error;
  pe.url = shownUrl;
  if (e.set) {
    pe.errorCode = kXmlParseErrorBase + (e.code != 0 ? e.code : XML_ERR_INTERNAL_ERROR);
    pe.reason = e.message;
    pe.line = e.line;
    pe.linepos = e.column;
  } else {
    // libxml2 reports nothing at all for a zero-length buffer.
    pe.errorCode = kXmlParseErrorBase + XML_ERR_DOCUMENT_EMPTY;
    pe.reason = "Document is empty";
    pe.line = 1;
    pe.linepos = 1;
  }
  pe.srcText = sourceLine(bytes, pe.line);
  return out;
}

ParseError notFound(const std::string& location, const std::string& detail = {}) {
  ParseError pe;
  pe.errorCode = hr::kResourceNotFound;
  pe.reason = std::string(kNotFoundReason) + " Error processing resource '" + location + "'.";
  if (!detail.empty()) pe.reason += " " + detail;
  pe.url = location;
  return pe;
}

bool hasScheme(const std::string& s) {
  std::size_t colon = s.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  if (!std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

// "file:///x/y%20z.xml" and "file://localhost/x" -> a local path.
std::string pathFromFileUrl(const std::string& url) {
  std::string rest = url.substr(7);
  if (startsWithNoCase(rest, "localhost/")) rest.erase(0, 9);
  xmlChar* unescaped = reinterpret_cast<xmlChar*>(xmlURIUnescapeString(rest.c_str(), 0, nullptr));
  return unescaped ? take(unescaped) : rest;
}

bool readFile(const std::string& path, std::string& bytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A file's device, inode, size and modification time as one text: equal
// texts mean the file was not replaced or written in between, as far as
// stat() tells. Empty when the file cannot be stat'ed.
std::string fileStampOf(const std::string& path, std::int64_t& modifiedNs) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(modifiedNs);
}

std::int64_t nowNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A time stamp moves in clock ticks, so two writes within one tick can
// leave the same stamp: a file is trusted to match its stamp only when it
// had not changed for this long before it was read.
constexpr std::int64_t kSettledNs = 2000000000;

std::string dumpBuffer(xmlBufferPtr buf) {
  const xmlChar* content = xmlBufferContent(buf);
  std::string out = content ? std::string(reinterpret_cast<const char*>(content), xmlBufferLength(buf)) : std::string();
  xmlBufferFree(buf);
  return out;
}

bool isContainer(xmlNodePtr n) { return n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE; }

bool isValidQName(const std::string& name) { return !name.empty() && xmlValidateQName(X(name), 0) == 0; }

// The qualified name of an element or attribute ("p:local" or "local").
std::string qualifiedName(xmlNodePtr n) {
  std::string local = str(n->name);
  if (n->ns && n->ns->prefix) return str(n->ns->prefix) + ":" + local;
  return local;
}

xmlAttrPtr findAttribute(xmlNodePtr element, const std::string& name) {
  for (xmlAttrPtr a = element->properties; a; a = a->next)
    if (qualifiedName(reinterpret_cast<xmlNodePtr>(a)) == name) return a;
  return nullptr;
}

// A namespace declaration read as an attribute ("xmlns", "xmlns:p").
xmlNsPtr findNamespaceDeclaration(xmlNodePtr element, const std::string& name) {
  if (name != "xmlns" && name.compare(0, 6, "xmlns:") != 0) return nullptr;
  std::string prefix = name.size() > 6 ? name.substr(6) : std::string();
  for (xmlNsPtr ns = element->nsDef; ns; ns = ns->next)
    if (str(ns->prefix) == prefix) return ns;
  return nullptr;
}

// Appends `child` as the last child of `parent`. libxml2's xmlAddChild
// would merge adjacent text nodes and free the appended one, which would
// leave its wrapper dangling; linking by hand keeps every node alive.
void linkLastChild(xmlNodePtr parent, xmlNodePtr child) {
  xmlUnlinkNode(child);
  child->parent = parent;
  child->prev = parent->last;
  child->next = nullptr;
  if (parent->last)
    parent->last->next = child;
  else
    parent->children = child;
  parent->last = child;
}

void linkLastAttribute(xmlNodePtr element, xmlAttrPtr attr) {
  xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(attr));
  attr->parent = element;
  attr->next = nullptr;
  attr->prev = nullptr;
  if (!element->properties) {
    element->properties = attr;
    return;
  }
  xmlAttrPtr last = element->properties;
  while (last->next) last = last->next;
  last->next = attr;
  attr->prev = last;
}

// Parses "xmlns:a='uri' xmlns:b=\"uri2\"" into prefix/URI pairs.
std::vector<std::pair<std::string, std::string>> parseSelectionNamespaces(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = 0;
  auto bad = [&text]() -> void { fail("Invalid SelectionNamespaces value: " + text, hr::kInvalidArg); };
  while (true) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i >= text.size()) break;
    std::size_t eq = text.find('=', i);
    if (eq == std::string::npos) bad();
    std::string name = text.substr(i, eq - i);
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    std::size_t q = eq + 1;
    while (q < text.size() && std::isspace(static_cast<unsigned char>(text[q]))) ++q;
    if (q >= text.size() || (text[q] != '\'' && text[q] != '"')) bad();
    std::size_t close = text.find(text[q], q + 1);
    if (close == std::string::npos) bad();
    std::string uri = text.substr(q + 1, close - q - 1);
    if (name.compare(0, 6, "xmlns:") == 0 && name.size() > 6) {
      out.emplace_back(name.substr(6), uri);
    } else if (name != "xmlns") {  // a default namespace has no meaning in XPath 1.0
      bad();
    }
    i = close + 1;
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------

struct XmlDocHolder {
  explicit XmlDocHolder(xmlDocPtr parsed = nullptr) : doc(parsed ? parsed : xmlNewDoc(X("1.0"))) {
    if (!doc) throw Error(hr::kOutOfMemory, kSource, "Out of memory creating an XML document");
  }
  ~XmlDocHolder() {
    // Find the roots of the detached trees first: freeing one may free
    // others that hang below it.
    std::unordered_set<xmlNodePtr> seen;
    std::vector<xmlNodePtr> roots;
    for (xmlNodePtr n : detached)
      if (n->parent == nullptr && seen.insert(n).second) roots.push_back(n);
    for (xmlNodePtr n : roots) xmlFreeNode(n);  // handles attributes and DTD nodes too
    xmlFreeDoc(doc);
  }
  XmlDocHolder(const XmlDocHolder&) = delete;
  XmlDocHolder& operator=(const XmlDocHolder&) = delete;

  // Remembers a node that is (or may become) outside the tree.
  void track(xmlNodePtr n) {
    detached.push_back(n);
    if (detached.size() >= pruneAt) {
      // Nodes linked into a tree again are freed with it; a later unlink tracks them anew.
      std::erase_if(detached, [](xmlNodePtr d) { return d->parent != nullptr; });
      pruneAt = std::max<std::size_t>(64, detached.size() * 2);
    }
  }

  xmlDocPtr doc;
  bool hadDeclaration = false;
  bool preserveWhiteSpace = false;
  bool remote = false;  // fetched over HTTP(S)
  // Set by load() of a local file that had settled (see kSettledNs): the
  // file's absolute path and its stamp, under which the XSLT module keeps
  // the style sheet compiled. Cleared by every change to the tree, so a
  // document that no longer matches its file is compiled afresh.
  std::string filePath;
  std::string fileStamp;
  void changed() { filePath.clear(); }
  std::vector<xmlNodePtr> detached;
  std::size_t pruneAt = 64;
  std::string selectionNamespaces;
  std::vector<std::pair<std::string, std::string>> prefixes;
};

namespace {

xmlNodePtr asNode(void* p) { return static_cast<xmlNodePtr>(p); }

std::shared_ptr<DomNode> wrap(const std::shared_ptr<XmlDocHolder>& holder, xmlNodePtr n) {
  return n ? std::make_shared<DomNode>(holder, n) : nullptr;
}

// True when an ancestor element declares namespaces the node may rely on.
bool inheritsNamespaces(xmlNodePtr node) {
  for (xmlNodePtr p = node->parent; p && p->type == XML_ELEMENT_NODE; p = p->parent)
    if (p->nsDef) return true;
  return false;
}

std::string serializeNode(xmlDocPtr doc, xmlNodePtr node) {
  xmlBufferPtr buf = xmlBufferCreate();
  if (!buf) throw Error(hr::kOutOfMemory, kSource, "Out of memory serialising XML");
  if (node->type == XML_ELEMENT_NODE && inheritsNamespaces(node)) {
    // A detached copy declares the inherited namespaces it uses, so the
    // text of an inner element parses on its own.
    xmlNodePtr copy = xmlDocCopyNode(node, doc, 1);
    if (!copy) {
      xmlBufferFree(buf);
      throw Error(hr::kOutOfMemory, kSource, "Out of memory serialising XML");
    }
    xmlNodeDump(buf, doc, copy, 0, 0);
    xmlFreeNode(copy);
  } else {
    xmlNodeDump(buf, doc, node, 0, 0);
  }
  std::string out = dumpBuffer(buf);
  if (node->type == XML_ATTRIBUTE_NODE && !out.empty() && out[0] == ' ') out.erase(0, 1);
  return out;
}

// The text of a whole document: its top-level nodes one per line, after the
// XML declaration when the parsed text had one (without its encoding, as
// the result is a UTF-8 string whatever the source was).
std::string serializeDocument(const XmlDocHolder& holder) {
  xmlDocPtr doc = holder.doc;
  std::string out;
  if (holder.hadDeclaration && doc->children) {
    out = "<?xml version=\"" + (doc->version ? str(doc->version) : std::string("1.0")) + "\"";
    if (doc->standalone == 1) out += " standalone=\"yes\"";
    if (doc->standalone == 0) out += " standalone=\"no\"";
    out += "?>";
  }
  for (xmlNodePtr child = doc->children; child; child = child->next) {
    if (!out.empty()) out += "\n";
    out += serializeNode(doc, child);
  }
  return out;
}

struct XPathErrors {
  std::string text;
};

void collectXPathError(void* ctx, XmlErrorArg e) {
  auto* errors = static_cast<XPathErrors*>(ctx);
  if (!e || !e->message || !errors->text.empty()) return;
  errors->text = trimTrailing(e->message);
}

// Evaluates `expr` with `node` as the context node and returns the selected
// nodes in document order. Anything but a node-set raises.
std::vector<xmlNodePtr> evaluateXPath(const XmlDocHolder& holder, xmlNodePtr node, const std::string& expr) {
  initLibraries();
  requireBoundedEntities(holder.doc);
  XPathErrors errors;
  ScopedXmlErrors scope(&errors, collectXPathError);
  auto raise = [&expr, &errors](const std::string& why) -> void {
    std::string text = "Invalid XPath expression: " + expr;
    std::string detail = !errors.text.empty() ? errors.text : why;
    if (!detail.empty()) text += " (" + detail + ")";
    fail(text);
  };

  std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> ctx(xmlXPathNewContext(holder.doc),
                                                                     xmlXPathFreeContext);
  if (!ctx) throw Error(hr::kOutOfMemory, kSource, "Out of memory creating an XPath context");
  ctx->node = node;
  ctx->error = collectXPathError;
  ctx->userData = &errors;
  for (const auto& [prefix, uri] : holder.prefixes) xmlXPathRegisterNs(ctx.get(), X(prefix), X(uri));

  std::unique_ptr<xmlXPathCompExpr, void (*)(xmlXPathCompExprPtr)> comp(xmlXPathCtxtCompile(ctx.get(), X(expr)),
                                                                        xmlXPathFreeCompExpr);
  if (!comp) raise("it does not compile");
  std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> result(xmlXPathCompiledEval(comp.get(), ctx.get()),
                                                                      xmlXPathFreeObject);
  if (!result) raise("evaluation failed");
  if (result->type != XPATH_NODESET) raise("the result is not a node-set");

  std::vector<xmlNodePtr> nodes;
  xmlNodeSetPtr set = result->nodesetval;
  if (set && set->nodeNr > 0) {
    xmlXPathNodeSetSort(set);
    nodes.reserve(static_cast<std::size_t>(set->nodeNr));
    for (int i = 0; i < set->nodeNr; ++i)
      if (set->nodeTab[i]->type != XML_NAMESPACE_DECL) nodes.push_back(set->nodeTab[i]);
  }
  return nodes;
}

// Unlinks all children of an element or attribute, keeping them alive.
void detachChildren(XmlDocHolder& holder, xmlNodePtr n) {
  while (xmlNodePtr child = n->children) {
    xmlUnlinkNode(child);
    holder.track(child);
  }
}

void setTextChild(XmlDocHolder& holder, xmlNodePtr n, const std::string& value) {
  detachChildren(holder, n);
  if (value.empty()) return;
  xmlNodePtr text = xmlNewDocText(holder.doc, X(value));
  if (!text) throw Error(hr::kOutOfMemory, kSource, "Out of memory creating a text node");
  linkLastChild(n, text);
}

xmlNodePtr rawNode(const std::shared_ptr<DomNode>& node, const char* what) {
  if (!node || !node->raw()) fail(std::string(what) + ": no node given", hr::kObjectRequired);
  return asNode(node->raw());
}

// A holder for a freshly parsed document, keeping the settings of `previous`.
std::shared_ptr<XmlDocHolder> adoptParsed(xmlDocPtr parsed, const XmlDocHolder& previous) {
  auto holder = std::make_shared<XmlDocHolder>(parsed);
  holder->hadDeclaration = parsed->standalone != -1;  // -1: the text had no XML declaration
  holder->selectionNamespaces = previous.selectionNamespaces;
  holder->prefixes = previous.prefixes;
  holder->preserveWhiteSpace = previous.preserveWhiteSpace;
  return holder;
}

}  // namespace

// ---------------------------------------------------------------------------
// DomNode

DomNode::DomNode(std::shared_ptr<XmlDocHolder> doc, void* node) : doc_(std::move(doc)), node_(node) {}

DomNodeType DomNode::nodeType() const {
  switch (asNode(node_)->type) {
    case XML_ELEMENT_NODE: return DomNodeType::Element;
    case XML_ATTRIBUTE_NODE: return DomNodeType::Attribute;
    case XML_TEXT_NODE: return DomNodeType::Text;
    case XML_CDATA_SECTION_NODE: return DomNodeType::CData;
    case XML_PI_NODE: return DomNodeType::ProcessingInstruction;
    case XML_COMMENT_NODE: return DomNodeType::Comment;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return DomNodeType::Document;
    default: return DomNodeType::Other;
  }
}

std::string DomNode::nodeName() const {
  xmlNodePtr n = asNode(node_);
  switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE: return qualifiedName(n);
    case XML_TEXT_NODE: return "#text";
    case XML_CDATA_SECTION_NODE: return "#cdata-section";
    case XML_COMMENT_NODE: return "#comment";
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return "#document";
    default: return str(n->name);  // processing instruction target, DTD or entity name
  }
}

std::string DomNode::baseName() const {
  xmlNodePtr n = asNode(node_);
  if (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) return str(n->name);
  return {};
}

std::string DomNode::text() const {
  xmlNodePtr n = asNode(node_);
  switch (n->type) {
    case XML_COMMENT_NODE:
    case XML_PI_NODE: return str(n->content);
    case XML_ATTRIBUTE_NODE:
    case XML_CDATA_SECTION_NODE: return gatherText(n, false);
    default: return gatherText(n, !doc_->preserveWhiteSpace && xmlNodeGetSpacePreserve(n) != 1);
  }
}

void DomNode::setText(const std::string& value) {
  doc_->changed();
  xmlNodePtr n = asNode(node_);
  switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE: setTextChild(*doc_, n, value); break;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE: xmlNodeSetContent(n, X(value)); break;  // raw text for these node types
    default: fail("The text of a " + nodeName() + " node cannot be set");
  }
}

std::string DomNode::nodeValue() const {
  xmlNodePtr n = asNode(node_);
  switch (n->type) {
    case XML_ATTRIBUTE_NODE: return gatherText(n, false);
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE: return take(xmlNodeGetContent(n));
    default: return {};
  }
}

std::string DomNode::xml() const {
  xmlNodePtr n = asNode(node_);
  if (n->type == XML_DOCUMENT_NODE) return serializeDocument(*doc_);
  return serializeNode(doc_->doc, n);
}

std::shared_ptr<DomNode> DomNode::selectSingleNode(const std::string& xpath) const {
  std::vector<xmlNodePtr> nodes = evaluateXPath(*doc_, asNode(node_), xpath);
  return nodes.empty() ? nullptr : wrap(doc_, nodes.front());
}

std::shared_ptr<DomNodeList> DomNode::selectNodes(const std::string& xpath) const {
  std::vector<std::shared_ptr<DomNode>> list;
  for (xmlNodePtr n : evaluateXPath(*doc_, asNode(node_), xpath)) list.push_back(wrap(doc_, n));
  return std::make_shared<DomNodeList>(std::move(list));
}

std::shared_ptr<DomNode> DomNode::parentNode() const {
  xmlNodePtr n = asNode(node_);
  if (n->type == XML_ATTRIBUTE_NODE || n->type == XML_DOCUMENT_NODE) return nullptr;
  return wrap(doc_, n->parent);
}

std::shared_ptr<DomNodeList> DomNode::childNodes() const {
  std::vector<std::shared_ptr<DomNode>> list;
  xmlNodePtr n = asNode(node_);
  // Entity references point into the DTD; their expansion is not exposed as children.
  if (n->type != XML_ENTITY_REF_NODE)
    for (xmlNodePtr c = n->children; c; c = c->next) list.push_back(wrap(doc_, c));
  return std::make_shared<DomNodeList>(std::move(list));
}

std::shared_ptr<DomNode> DomNode::firstChild() const {
  xmlNodePtr n = asNode(node_);
  return n->type == XML_ENTITY_REF_NODE ? nullptr : wrap(doc_, n->children);
}

std::string DomNode::getAttribute(const std::string& name) const {
  xmlNodePtr n = asNode(node_);
  if (n->type != XML_ELEMENT_NODE) return {};
  if (xmlAttrPtr a = findAttribute(n, name)) return gatherText(reinterpret_cast<xmlNodePtr>(a), false);
  if (xmlNsPtr ns = findNamespaceDeclaration(n, name)) return str(ns->href);
  return {};
}

bool DomNode::hasAttribute(const std::string& name) const {
  xmlNodePtr n = asNode(node_);
  if (n->type != XML_ELEMENT_NODE) return false;
  return findAttribute(n, name) != nullptr || findNamespaceDeclaration(n, name) != nullptr;
}

void DomNode::setAttribute(const std::string& name, const std::string& value) {
  doc_->changed();
  xmlNodePtr n = asNode(node_);
  if (n->type != XML_ELEMENT_NODE) fail("setAttribute: " + nodeName() + " is not an element");
  if (!isValidQName(name)) fail("setAttribute: '" + name + "' is not a valid attribute name", hr::kInvalidArg);
  if (xmlAttrPtr a = findAttribute(n, name)) {
    setTextChild(*doc_, reinterpret_cast<xmlNodePtr>(a), value);
    return;
  }
  if (!xmlNewProp(n, X(name), X(value))) throw Error(hr::kOutOfMemory, kSource, "Out of memory adding an attribute");
}

void DomNode::setAttributeNode(const std::shared_ptr<DomNode>& attribute) {
  doc_->changed();
  xmlNodePtr n = asNode(node_);
  if (n->type != XML_ELEMENT_NODE) fail("setAttributeNode: " + nodeName() + " is not an element");
  xmlNodePtr a = rawNode(attribute, "setAttributeNode");
  if (a->type != XML_ATTRIBUTE_NODE) fail("setAttributeNode: the node is not an attribute", hr::kInvalidArg);
  if (a->parent == n) return;
  if (a->parent != nullptr) fail("setAttributeNode: the attribute already belongs to another element");
  xmlAttrPtr attr = reinterpret_cast<xmlAttrPtr>(a);
  if (a->doc != doc_->doc) {
    attr = xmlCopyProp(n, attr);
    if (!attr) throw Error(hr::kOutOfMemory, kSource, "Out of memory copying an attribute");
  }
  if (xmlAttrPtr old = findAttribute(n, qualifiedName(reinterpret_cast<xmlNodePtr>(attr)))) {
    xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(old));
    doc_->track(reinterpret_cast<xmlNodePtr>(old));
  }
  linkLastAttribute(n, attr);
}

void DomNode::removeAttribute(const std::string& name) {
  doc_->changed();
  xmlNodePtr n = asNode(node_);
  if (n->type != XML_ELEMENT_NODE) return;
  if (xmlAttrPtr a = findAttribute(n, name)) {
    xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(a));
    doc_->track(reinterpret_cast<xmlNodePtr>(a));
  }
}

std::shared_ptr<DomNodeList> DomNode::attributes() const {
  std::vector<std::shared_ptr<DomNode>> list;
  xmlNodePtr n = asNode(node_);
  if (n->type == XML_ELEMENT_NODE)
    for (xmlAttrPtr a = n->properties; a; a = a->next) list.push_back(wrap(doc_, reinterpret_cast<xmlNodePtr>(a)));
  return std::make_shared<DomNodeList>(std::move(list));
}

std::shared_ptr<DomNode> DomNode::appendChild(const std::shared_ptr<DomNode>& child) {
  doc_->changed();
  xmlNodePtr parent = asNode(node_);
  xmlNodePtr c = rawNode(child, "appendChild");
  if (!isContainer(parent)) fail("appendChild: a " + nodeName() + " node cannot have children");
  switch (c->type) {
    case XML_ELEMENT_NODE:
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE: break;
    default: fail("appendChild: a " + child->nodeName() + " node cannot be inserted here");
  }
  if (parent->type == XML_DOCUMENT_NODE) {
    if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)
      fail("appendChild: text cannot be inserted at the top level of a document");
    if (c->type == XML_ELEMENT_NODE) {
      xmlNodePtr root = xmlDocGetRootElement(doc_->doc);
      if (root && root != c) fail("appendChild: only one top level element is allowed in an XML document");
    }
    if (c->type == XML_PI_NODE && xmlStrcasecmp(c->name, X("xml")) == 0 && parent->children &&
        parent->children != c)
      fail("appendChild: the XML declaration must be the first node of the document");
  }

  if (c->doc != doc_->doc) {
    // A node of another document is copied rather than moved.
    xmlNodePtr copy = xmlDocCopyNode(c, doc_->doc, 1);
    if (!copy) throw Error(hr::kOutOfMemory, kSource, "Out of memory copying a node");
    doc_->track(copy);
    linkLastChild(parent, copy);
    return wrap(doc_, copy);
  }
  for (xmlNodePtr p = parent; p; p = p->parent)
    if (p == c) fail("appendChild: a node cannot be inserted below itself");
  linkLastChild(parent, c);
  return child;
}

void DomNode::removeChild(const std::shared_ptr<DomNode>& child) {
  doc_->changed();
  xmlNodePtr c = rawNode(child, "removeChild");
  if (c->parent != asNode(node_) || c->type == XML_ATTRIBUTE_NODE)
    fail("removeChild: the node to be removed is not a child of this node", hr::kInvalidArg);
  xmlUnlinkNode(c);
  doc_->track(c);
}

// ---------------------------------------------------------------------------
// DomNodeList

std::shared_ptr<DomNode> DomNodeList::item(long index) const {
  if (index < 0 || index >= length()) return nullptr;
  return nodes_[static_cast<std::size_t>(index)];
}

// ---------------------------------------------------------------------------
// DomDocument

DomDocument::DomDocument() : DomNode(nullptr, nullptr) {
  initLibraries();
  doc_ = std::make_shared<XmlDocHolder>();
  node_ = doc_->doc;
}

void DomDocument::reset() {
  auto fresh = std::make_shared<XmlDocHolder>();
  fresh->selectionNamespaces = doc_->selectionNamespaces;
  fresh->prefixes = doc_->prefixes;
  fresh->preserveWhiteSpace = doc_->preserveWhiteSpace;
  doc_ = std::move(fresh);
  node_ = doc_->doc;
  parseError_ = ParseError{};
}

void DomDocument::setProperty(const std::string& name, const Variant& value) {
  if (equalsIgnoreCase(name, "ServerHTTPRequest")) {
    serverHttp_ = value.toBool();
  } else if (equalsIgnoreCase(name, "preserveWhiteSpace")) {
    setPreserveWhiteSpace(value.toBool());
  } else if (equalsIgnoreCase(name, "SelectionLanguage")) {
    std::string lang = value.toString();
    if (!equalsIgnoreCase(lang, "XPath") && !equalsIgnoreCase(lang, "XSLPattern"))
      fail("Unsupported SelectionLanguage: " + lang, hr::kInvalidArg);
  } else if (equalsIgnoreCase(name, "SelectionNamespaces")) {
    std::string text = value.toString();
    doc_->prefixes = parseSelectionNamespaces(text);
    doc_->selectionNamespaces = text;
  } else {
    fail("Unknown property: " + name, hr::kInvalidArg);
  }
}

Variant DomDocument::getProperty(const std::string& name) const {
  if (equalsIgnoreCase(name, "ServerHTTPRequest")) return Variant(serverHttp_);
  if (equalsIgnoreCase(name, "preserveWhiteSpace")) return Variant(preserveWhiteSpace());
  if (equalsIgnoreCase(name, "SelectionLanguage")) return Variant("XPath");
  if (equalsIgnoreCase(name, "SelectionNamespaces")) return Variant(doc_->selectionNamespaces);
  fail("Unknown property: " + name, hr::kInvalidArg);
}

bool DomDocument::preserveWhiteSpace() const { return doc_->preserveWhiteSpace; }

void DomDocument::setPreserveWhiteSpace(bool preserve) { doc_->preserveWhiteSpace = preserve; }

bool DomDocument::loadXML(const std::string& text) {
  reset();
  std::string bytes = text;
  stripUtf8Bom(bytes);
  // The text is already a (UTF-8) string: a declared encoding is ignored.
  ParseOutcome parsed = parseBytes(bytes, {}, {}, true);
  if (!parsed.doc) {
    parseError_ = std::move(parsed.error);
    return false;
  }
  doc_ = adoptParsed(parsed.doc, *doc_);
  node_ = parsed.doc;
  if (!doc_->preserveWhiteSpace) stripWhiteSpace(parsed.doc);
  return true;
}

bool DomDocument::load(const std::string& location) {
  reset();
  std::string bytes;
  std::string baseUrl;
  std::string filePath, fileStamp;
  const bool remote = startsWithNoCase(location, "http://") || startsWithNoCase(location, "https://");
  if (remote) {
    if (!serverHttp_) {
      parseError_ = notFound(location, "Loading from a remote location is off (ServerHTTPRequest is false).");
      return false;
    }
    std::string failure;
    bool fetched = false;
    try {
      fetched = Http::Get(location, kMaxHttpBody, bytes, baseUrl, failure);
    } catch (const Error& e) {
      failure = e.description();  // the transfer module cannot be loaded
    }
    if (!fetched) {
      parseError_ = notFound(location, failure);
      return false;
    }
    if (baseUrl.empty()) baseUrl = location;
  } else {
    std::string path = location;
    if (startsWithNoCase(location, "file://")) {
      path = pathFromFileUrl(location);
    } else if (hasScheme(location)) {
      parseError_ = notFound(location, "Unsupported URL scheme.");
      return false;
    }
    std::int64_t modifiedNs = 0, afterNs = 0;
    const std::int64_t readNs = nowNs();
    fileStamp = path.empty() ? std::string() : fileStampOf(path, modifiedNs);
    if (path.empty() || !readFile(path, bytes)) {
      parseError_ = notFound(location);
      return false;
    }
    if (fileStamp.empty() || fileStampOf(path, afterNs) != fileStamp || modifiedNs + kSettledNs >= readNs) {
      fileStamp.clear();  // written while or shortly before it was read: never taken from a cache
    } else {
      std::error_code ec;
      filePath = std::filesystem::absolute(path, ec).lexically_normal().string();
      if (ec) fileStamp.clear();
    }
    baseUrl = take(xmlPathToURI(X(path)));
  }

  stripUtf8Bom(bytes);
  ParseOutcome parsed = parseBytes(bytes, baseUrl, location, declaresUtf16In8Bit(bytes));
  if (!parsed.doc) {
    parseError_ = std::move(parsed.error);
    return false;
  }
  doc_ = adoptParsed(parsed.doc, *doc_);
  doc_->remote = remote;
  node_ = parsed.doc;
  if (!doc_->preserveWhiteSpace) stripWhiteSpace(parsed.doc);
  if (!remote && !fileStamp.empty()) {
    // The white-space switch shapes the tree: it is part of what was compiled.
    doc_->filePath = std::move(filePath);
    doc_->fileStamp = fileStamp + (doc_->preserveWhiteSpace ? ":keep" : ":strip");
  }
  return true;
}

std::string DomDocument::xml() const { return serializeDocument(*doc_); }

std::shared_ptr<DomNode> DomDocument::documentElement() const { return wrap(doc_, xmlDocGetRootElement(doc_->doc)); }

void DomDocument::setDocumentElement(const std::shared_ptr<DomNode>& element) {
  doc_->changed();
  xmlNodePtr e = rawNode(element, "documentElement");
  if (e->type != XML_ELEMENT_NODE) fail("documentElement: the node is not an element", hr::kInvalidArg);
  if (e->doc != doc_->doc) {
    e = xmlDocCopyNode(e, doc_->doc, 1);
    if (!e) throw Error(hr::kOutOfMemory, kSource, "Out of memory copying a node");
    doc_->track(e);
  }
  xmlNodePtr old = xmlDocGetRootElement(doc_->doc);
  if (old == e) return;
  if (!old) {
    linkLastChild(asNode(node_), e);
    return;
  }
  xmlUnlinkNode(e);  // it may sit below the old root
  xmlReplaceNode(old, e);
  doc_->track(old);
}

std::shared_ptr<DomNode> DomDocument::createElement(const std::string& name) {
  if (!isValidQName(name)) fail("createElement: '" + name + "' is not a valid element name", hr::kInvalidArg);
  xmlNodePtr n = xmlNewDocNode(doc_->doc, nullptr, X(name), nullptr);
  if (!n) throw Error(hr::kOutOfMemory, kSource, "Out of memory creating an element");
  doc_->track(n);
  return wrap(doc_, n);
}

std::shared_ptr<DomNode> DomDocument::createAttribute(const std::string& name) {
  if (!isValidQName(name)) fail("createAttribute: '" + name + "' is not a valid attribute name", hr::kInvalidArg);
  xmlAttrPtr a = xmlNewDocProp(doc_->doc, X(name), nullptr);
  if (!a) throw Error(hr::kOutOfMemory, kSource, "Out of memory creating an attribute");
  doc_->track(reinterpret_cast<xmlNodePtr>(a));
  return wrap(doc_, reinterpret_cast<xmlNodePtr>(a));
}

std::shared_ptr<DomNode> DomDocument::createTextNode(const std::string& text) {
  xmlNodePtr n = xmlNewDocText(doc_->doc, X(text));
  if (!n) throw Error(hr::kOutOfMemory, kSource, "Out of memory creating a text node");
  doc_->track(n);
  return wrap(doc_, n);
}

std::shared_ptr<DomNode> DomDocument::createProcessingInstruction(const std::string& target, const std::string& data) {
  if (target.empty() || xmlValidateNCName(X(target), 0) != 0)
    fail("createProcessingInstruction: '" + target + "' is not a valid target", hr::kInvalidArg);
  if (data.find("?>") != std::string::npos)
    fail("createProcessingInstruction: the data must not contain '?>'", hr::kInvalidArg);
  xmlNodePtr n = xmlNewDocPI(doc_->doc, X(target), data.empty() ? nullptr : X(data));
  if (!n) throw Error(hr::kOutOfMemory, kSource, "Out of memory creating a processing instruction");
  doc_->track(n);
  return wrap(doc_, n);
}

std::string DomDocument::transformNode(const DomDocument& stylesheet) const {
  initLibraries();
  ScopedMessages messages;
  auto raise = [&messages](const std::string& what) -> void {
    std::string detail = messages.joined();
    throw Error(kXslTransformError, kSource,
                "XSL transformation failed: " + (detail.empty() ? what : what + ": " + detail));
  };

  xmlDocPtr styleSource = stylesheet.doc_->doc;
  if (!xmlDocGetRootElement(styleSource)) raise("the stylesheet document is empty");
  requireBoundedEntities(styleSource);
  requireBoundedEntities(doc_->doc);
  static XsltTransform* transform = LazyModule::Function<XsltTransform>("xslt", "quillon_xslt_transform");
  static const XsltHooks hooks{collectGeneric, allowNextEntityLoad, entitiesWithinLimit};
  std::string text, failure;
  // A style sheet read unchanged from a local file is compiled once per
  // thread and file version; remote ones are compiled at every use.
  const XmlDocHolder& sheet = *stylesheet.doc_;
  const XsltCacheKey key{sheet.filePath.c_str(), sheet.fileStamp.c_str()};
  const bool cacheable = !sheet.remote && !sheet.filePath.empty();
  int rc = transform(styleSource, doc_->doc, sheet.remote, cacheable ? &key : nullptr, hooks, text, failure);
  if (rc == XsltResult::OutOfMemory) throw Error(hr::kOutOfMemory, kSource, failure);
  if (rc != XsltResult::Done) raise(failure);
  return text;
}

// ---------------------------------------------------------------------------
// Element extents

namespace {

// What the SAX callbacks of one element read learn.
struct ExtentReader {
  xmlParserCtxtPtr ctxt = nullptr;
  long depth = 0;
  long maxDepth = 0;
  long depthAtError = -1;  // nesting when the first error was reported
  bool closed = false;
  std::size_t end = 0;
  ParseCapture capture;
};

void extentStart(void* user, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**, int, int,
                 const xmlChar**) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(user);
  auto* r = static_cast<ExtentReader*>(ctxt->_private);
  r->maxDepth = std::max(r->maxDepth, ++r->depth);
}

void extentEnd(void* user, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(user);
  auto* r = static_cast<ExtentReader*>(ctxt->_private);
  if (--r->depth > 0 || r->closed) return;
  // The parser calls this right after the ">" of the end tag.
  r->closed = true;
  r->end = static_cast<std::size_t>(xmlByteConsumed(ctxt));
  xmlStopParser(ctxt);
}

void extentError(void* user, XmlErrorArg e) {
  auto* r = static_cast<ExtentReader*>(user);
  if (!e || e->level < XML_ERR_ERROR || r->closed) return;
  if (r->depthAtError < 0 && e->level == XML_ERR_FATAL) r->depthAtError = r->depth;
  captureParseError(&r->capture, e);
}

}  // namespace

ElementExtent ReadElementExtent(const std::string& text, std::size_t start) {
  initLibraries();
  ElementExtent out;
  if (start >= text.size()) return out;
  const std::size_t size = text.size() - start;
  if (size > static_cast<std::size_t>(INT_MAX)) {
    out.outcome = ElementExtent::Malformed;
    out.error.errorCode = kXmlParseErrorBase + XML_ERR_NO_MEMORY;
    out.error.reason = "The document is too large";
    return out;
  }
  // Only the element structure matters here: no tree is built.
  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  xmlSAXVersion(&sax, 2);
  sax.startElementNs = extentStart;
  sax.endElementNs = extentEnd;
  sax.characters = nullptr;
  sax.ignorableWhitespace = nullptr;
  sax.cdataBlock = nullptr;
  sax.comment = nullptr;
  sax.processingInstruction = nullptr;
  sax.reference = nullptr;
  sax.serror = nullptr;

  ExtentReader reader;
  {
    ScopedXmlErrors scope(&reader, extentError);
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr);
    if (!ctxt) throw Error(hr::kOutOfMemory, kSource, "Out of memory creating an XML parser");
    reader.ctxt = ctxt;
    ctxt->_private = &reader;
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_IGNORE_ENC);
    xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
    constexpr std::size_t kChunk = 64 * 1024;
    for (std::size_t at = 0; at < size && !reader.closed; at += kChunk) {
      std::size_t n = std::min(kChunk, size - at);
      xmlParseChunk(ctxt, text.data() + start + at, static_cast<int>(n), 0);
      if (!reader.closed && (!ctxt->wellFormed || ctxt->disableSAX)) break;
    }
    const bool malformed = !reader.closed && !ctxt->wellFormed;
    if (malformed && !reader.capture.first.set && ctxt->lastError.code != 0)
      record(reader.capture.first, &ctxt->lastError);
    if (ctxt->myDoc) xmlFreeDoc(ctxt->myDoc);
    xmlFreeParserCtxt(ctxt);
    if (!reader.closed && !malformed) return out;  // the text ran out first
  }

  auto describe = [&](const CapturedError& e, const std::string& bytes) {
    out.outcome = ElementExtent::Malformed;
    out.error.errorCode = kXmlParseErrorBase + (e.set && e.code != 0 ? e.code : XML_ERR_INTERNAL_ERROR);
    out.error.reason = e.set ? e.message : "The element is not well-formed";
    out.error.line = e.line;
    out.error.linepos = e.column;
    out.error.srcText = sourceLine(bytes, out.error.line);
  };
  const long depthLimit = static_cast<long>(xmlParserMaxDepth);
  if (!reader.closed) {
    const CapturedError& e = reader.capture.firstFatal.set ? reader.capture.firstFatal : reader.capture.first;
    describe(e, text.substr(start, std::min<std::size_t>(size, 1u << 20)));
    out.tooDeep = reader.depthAtError >= depthLimit;
    return out;
  }
  // The parse that decides is the one loadXML makes of exactly this text.
  std::string element = text.substr(start, reader.end);
  ParseOutcome whole = parseBytes(element, {}, {}, true);
  if (whole.doc) {
    xmlFreeDoc(whole.doc);
    out.outcome = ElementExtent::Closed;
    out.end = start + reader.end;
    return out;
  }
  out.outcome = ElementExtent::Malformed;
  out.error = std::move(whole.error);
  out.tooDeep = reader.maxDepth > depthLimit;
  return out;
}

// ---------------------------------------------------------------------------
// By-name access

namespace {

std::shared_ptr<DomNode> nodeArgument(const Variant& v, const char* method) {
  auto node = v.as<DomNode>();
  if (!node) throw Error(hr::kObjectRequired, kSource, std::string(method) + ": an XML node is required");
  return node;
}

const ClassInfo* registerDocumentClass() {
  using Args = std::vector<Variant>;
  return ClassBuilder<DomDocument>("MSXML2.DOMDocument")
      .method("loadXML", {in("bstrXML")}, [](DomDocument& d, Args& a) { return Variant(d.loadXML(a[0].toString())); })
      .method("load", {in("xmlSource")}, [](DomDocument& d, Args& a) { return Variant(d.load(a[0].toString())); })
      .method("selectSingleNode", {in("queryString")},
              [](DomDocument& d, Args& a) { return Variant(d.selectSingleNode(a[0].toString())); })
      .method("selectNodes", {in("queryString")},
              [](DomDocument& d, Args& a) { return Variant(d.selectNodes(a[0].toString())); })
      .method("transformNode", {in("stylesheet")},
              [](DomDocument& d, Args& a) {
                auto style = a[0].as<DomDocument>();
                if (!style) throw Error(hr::kObjectRequired, kSource, "transformNode: a stylesheet document is required");
                return Variant(d.transformNode(*style));
              })
      .method("xml", {}, [](DomDocument& d, Args&) { return Variant(d.xml()); })
      .method("text", {}, [](DomDocument& d, Args&) { return Variant(d.text()); })
      .method("documentElement", {}, [](DomDocument& d, Args&) { return Variant(d.documentElement()); })
      .method("setProperty", {in("name"), in("value")},
              [](DomDocument& d, Args& a) {
                d.setProperty(a[0].toString(), a[1]);
                return Variant();
              })
      .method("getProperty", {in("name")}, [](DomDocument& d, Args& a) { return d.getProperty(a[0].toString()); })
      .done();
}

const ClassInfo* registerNodeClass() {
  using Args = std::vector<Variant>;
  return ClassBuilder<DomNode>("MSXML2.IXMLDOMNode", false)
      .method("text", {}, [](DomNode& n, Args&) { return Variant(n.text()); })
      .method("xml", {}, [](DomNode& n, Args&) { return Variant(n.xml()); })
      .method("nodeName", {}, [](DomNode& n, Args&) { return Variant(n.nodeName()); })
      .method("selectSingleNode", {in("queryString")},
              [](DomNode& n, Args& a) { return Variant(n.selectSingleNode(a[0].toString())); })
      .method("selectNodes", {in("queryString")},
              [](DomNode& n, Args& a) { return Variant(n.selectNodes(a[0].toString())); })
      .method("getAttribute", {in("name")}, [](DomNode& n, Args& a) { return Variant(n.getAttribute(a[0].toString())); })
      .method("appendChild", {in("newChild")},
              [](DomNode& n, Args& a) { return Variant(n.appendChild(nodeArgument(a[0], "appendChild"))); })
      .done();
}

const ClassInfo* registerNodeListClass() {
  using Args = std::vector<Variant>;
  return ClassBuilder<DomNodeList>("MSXML2.IXMLDOMNodeList", false)
      .method("length", {}, [](DomNodeList& l, Args&) { return Variant(l.length()); })
      .method("item", {in("index")}, [](DomNodeList& l, Args& a) { return Variant(l.item(a[0].toInt32())); })
      .done();
}

const ClassInfo* documentClass() {
  static const ClassInfo* info = registerDocumentClass();
  return info;
}
const ClassInfo* nodeClass() {
  static const ClassInfo* info = registerNodeClass();
  return info;
}
const ClassInfo* nodeListClass() {
  static const ClassInfo* info = registerNodeListClass();
  return info;
}

// Registered when the library loads, so the registry can create documents by id.
[[maybe_unused]] const bool registered = (documentClass(), nodeClass(), nodeListClass(), true);

}  // namespace

const ClassInfo* DomNode::classInfo() const { return nodeClass(); }
const ClassInfo* DomNodeList::classInfo() const { return nodeListClass(); }
const ClassInfo* DomDocument::classInfo() const { return documentClass(); }

}  // namespace quillon
