// libquillon_xslt.so: XSL transformations with libxslt and EXSLT, for
// platform/XmlDom (DomDocument::transformNode).
//
// The documents are libxml2 documents of the platform library (both link
// the same libxml2). The platform hands in two hooks: its message sink,
// and the switch that lets exactly one external load through its entity
// loader (the top-level file of an xsl:include, xsl:import or document()).
#include <libexslt/exslt.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxslt/documents.h>
#include <libxslt/imports.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/XsltModule.h"

namespace {

xsltDocLoaderFunc gDefaultDocLoader = nullptr;
xsltSecurityPrefsPtr gSecurity = nullptr;
// The rights of a style sheet fetched over HTTP: no file reads either.
xsltSecurityPrefsPtr gRemoteSecurity = nullptr;
quillon::XsltHooks gHooks{};

// Set while a style sheet fetched over HTTP is compiled or applied: libxslt
// may then load no document at all (network reads are forbidden anyway).
thread_local bool tLocalReadsForbidden = false;

// libxslt's loader for xsl:include/xsl:import/document(): the same safe
// parser options as the platform's own documents, and only the requested
// file itself may pass the entity loader. Read permission was already
// checked by libxslt against the security preferences.
xmlDocPtr guardedDocLoader(const xmlChar* uri, xmlDictPtr dict, int options, void* ctxt, xsltLoadType type) {
  if (tLocalReadsForbidden) {
    xsltGenericError(xsltGenericErrorContext, "A style sheet fetched over HTTP may not read %s\n",
                     reinterpret_cast<const char*>(uri));
    return nullptr;
  }
  options &= ~(XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_DTDATTR | XML_PARSE_DTDVALID | XML_PARSE_XINCLUDE |
               XML_PARSE_HUGE);
  options |= XML_PARSE_NONET;
  gHooks.allowNextEntityLoad(true);
  xmlDocPtr doc = gDefaultDocLoader(uri, dict, options, ctxt, type);
  gHooks.allowNextEntityLoad(false);
  if (doc && !gHooks.entitiesWithinLimit(doc)) {
    // Its text is read by the transformation: the same cap as the platform's own documents.
    xsltGenericError(xsltGenericErrorContext, "%s expands entity references beyond the limit\n",
                     reinterpret_cast<const char*>(uri));
    xmlFreeDoc(doc);
    return nullptr;
  }
  return doc;
}

void init(const quillon::XsltHooks& hooks) {
  static std::once_flag once;
  std::call_once(once, [&] {
    gHooks = hooks;
    xsltInit();
    exsltRegisterAll();
    gDefaultDocLoader = xsltDocDefaultLoader;
    xsltSetLoaderFunc(guardedDocLoader);
    xsltSetGenericErrorFunc(nullptr, gHooks.messages);
    gSecurity = xsltNewSecurityPrefs();
    xsltSetSecurityPrefs(gSecurity, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
    xsltSetSecurityPrefs(gSecurity, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
    xsltSetSecurityPrefs(gSecurity, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
    xsltSetSecurityPrefs(gSecurity, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
    xsltSetSecurityPrefs(gSecurity, XSLT_SECPREF_READ_FILE, xsltSecurityAllow);
    // Compile-time loads (xsl:include/xsl:import) are checked against the defaults.
    xsltSetDefaultSecurityPrefs(gSecurity);
    gRemoteSecurity = xsltNewSecurityPrefs();
    for (xsltSecurityOption option : {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
                                      XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK})
      xsltSetSecurityPrefs(gRemoteSecurity, option, xsltSecurityForbid);
  });
}

using StylesheetPtr = std::unique_ptr<xsltStylesheet, void (*)(xsltStylesheetPtr)>;

struct CachedSheet {
  std::string stamp;
  StylesheetPtr style{nullptr, xsltFreeStylesheet};
};

// Compiled local style sheets of this thread by path. A compiled sheet is
// only read while applied, but libxslt's dictionaries are not shared
// between threads: each thread keeps its own.
constexpr std::size_t kMaxCachedSheets = 32;
thread_local std::unordered_map<std::string, CachedSheet> tSheets;

}  // namespace

extern "C" int quillon_xslt_transform(xmlDocPtr styleSource, xmlDocPtr source, bool remote,
                                      const quillon::XsltCacheKey* cacheKey, const quillon::XsltHooks& hooks,
                                      std::string& text, std::string& failure) {
  namespace XsltResult = quillon::XsltResult;
  init(hooks);
  struct LocalReads {
    bool previous = tLocalReadsForbidden;
    explicit LocalReads(bool forbid) { tLocalReadsForbidden = forbid; }
    ~LocalReads() { tLocalReadsForbidden = previous; }
  } localReads(remote);
  // A sheet fetched over HTTP is never kept: it is compiled with its own
  // restrictions at every use.
  if (remote) cacheKey = nullptr;
  StylesheetPtr compiled(nullptr, xsltFreeStylesheet);
  xsltStylesheetPtr styleSheet = nullptr;
  if (cacheKey) {
    auto it = tSheets.find(cacheKey->path);
    if (it != tSheets.end() && it->second.stamp == cacheKey->stamp) styleSheet = it->second.style.get();
  }
  if (!styleSheet) {
    // libxslt takes the document over and strips it while compiling: give it a copy.
    xmlDocPtr styleDoc = xmlCopyDoc(styleSource, 1);
    if (!styleDoc) {
      failure = "Out of memory copying the stylesheet";
      return XsltResult::OutOfMemory;
    }
    compiled.reset(xsltParseStylesheetDoc(styleDoc));
    if (!compiled) {
      xmlFreeDoc(styleDoc);
      failure = "the stylesheet does not compile";
      return XsltResult::Failed;
    }
    styleSheet = compiled.get();
    // Only a sheet that is one file is kept: an included or imported file
    // could change without the stamp of the main file showing it.
    if (cacheKey && !compiled->imports && !compiled->docList) {
      if (tSheets.size() >= kMaxCachedSheets && !tSheets.count(cacheKey->path)) tSheets.clear();
      CachedSheet& entry = tSheets[cacheKey->path];
      entry.stamp = cacheKey->stamp;
      entry.style = std::move(compiled);
    } else if (cacheKey) {
      tSheets.erase(cacheKey->path);
    }
  }
  xsltStylesheet* const style = styleSheet;

  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> sourceCopy(nullptr, xmlFreeDoc);
  using ContextPtr = std::unique_ptr<xsltTransformContext, void (*)(xsltTransformContextPtr)>;
  ContextPtr ctxt(xsltNewTransformContext(style, source), xsltFreeTransformContext);
  if (ctxt && xsltNeedElemSpaceHandling(ctxt.get())) {
    // xsl:strip-space removes nodes from the input document; the caller's
    // document must stay as it is, so the stylesheet gets a copy.
    ctxt.reset();
    sourceCopy.reset(xmlCopyDoc(source, 1));
    if (!sourceCopy) {
      failure = "Out of memory copying the document";
      return XsltResult::OutOfMemory;
    }
    source = sourceCopy.get();
    ctxt.reset(xsltNewTransformContext(style, source));
  }
  if (!ctxt) {
    failure = "Out of memory creating a transformation context";
    return XsltResult::OutOfMemory;
  }
  xsltSetCtxtSecurityPrefs(remote ? gRemoteSecurity : gSecurity, ctxt.get());
  xsltSetTransformErrorFunc(ctxt.get(), nullptr, gHooks.messages);
  xsltSetCtxtParseOptions(ctxt.get(), XML_PARSE_NONET);

  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> result(
      xsltApplyStylesheetUser(style, source, nullptr, nullptr, nullptr, ctxt.get()), xmlFreeDoc);
  if (!result || ctxt->state == XSLT_STATE_ERROR || ctxt->state == XSLT_STATE_STOPPED) {
    failure = "the transformation reported an error";
    return XsltResult::Failed;
  }

  // Serialised without an output encoder: strings are UTF-8 whatever
  // encoding xsl:output names (the method - xml, html, text - is honoured).
  xmlOutputBufferPtr out = xmlAllocOutputBuffer(nullptr);
  if (!out) {
    failure = "Out of memory serialising the result";
    return XsltResult::OutOfMemory;
  }
  if (xsltSaveResultTo(out, result.get(), style) >= 0) {
    const xmlChar* content = xmlOutputBufferGetContent(out);
    if (content) text.assign(reinterpret_cast<const char*>(content), xmlOutputBufferGetSize(out));
  }
  xmlOutputBufferClose(out);
  return XsltResult::Done;
}
