// XmlDom: an MSXML-like DOM document and XSL processor over libxml2/libxslt.
//
// Loading never reads external entities, DTDs or the network: documents are
// parsed with entity substitution and network access off. The one exception
// is the server-side HTTP switch: with the property "ServerHTTPRequest" set
// to true, load() of an "http://" or "https://" location fetches it
// (platform/Http.h) and parses what comes back (used for remote style
// sheets).
//
// White space: with preserveWhiteSpace off (the default, as in the DOM the
// component was written for), loading drops text nodes that hold only white
// space - except below xml:space="preserve", inside xsl:text, and next to
// an entity reference, whose expansion they belong to - and text() of an
// element, the document or a text node is trimmed of the white space at
// its two ends that comes from text nodes (CDATA keeps its own).
// nodeValue() and XPath string values stay as parsed. With the switch on,
// every text node is kept and text() is the plain concatenation.
//
// Entities: parsing keeps internal entity references as references;
// reading text (text(), getAttribute(), nodeValue() of an attribute, XPath
// string values, a transformation's input) expands them. What expansion
// may produce is capped (kMaxEntityExpansion bytes per read, and for XPath
// and transformations per document): beyond it the read raises Error
// instead of allocating.
//
// Remote style sheets: a style sheet loaded over HTTP(S) reads no local
// file while it is compiled or applied - xsl:include, xsl:import and
// document() of a local file are refused. Style sheets loaded from local
// files or text keep reading local files.
//
// Parse errors: load()/loadXML() return false and parseError() describes
// the failure: errorCode is non-zero (kXmlParseErrorBase + libxml2's error
// code for a malformed text, hr::kResourceNotFound (0x800C0006) for a file
// or URL that cannot be read), reason is libxml2's message, line and
// linepos are 1-based.
//
// Nodes share ownership of their document: a DomNode stays valid while it
// exists, even after the DomDocument object is released.
//
// Thread-safety: one document per thread; libxml2 is initialised once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Object.h"

namespace quillon {

constexpr std::int32_t kXmlParseErrorBase = static_cast<std::int32_t>(0xC00CE000);
constexpr std::size_t kMaxEntityExpansion = 4u << 20;

struct XmlDocHolder;  // owns the libxml2 document

struct ParseError {
  std::int32_t errorCode = 0;
  std::string reason;
  std::string url;
  std::string srcText;
  long line = 0;
  long linepos = 0;
};

class DomNodeList;
class DomDocument;

enum class DomNodeType { Element = 1, Attribute = 2, Text = 3, CData = 4, ProcessingInstruction = 7, Comment = 8, Document = 9, Other = 0 };

class DomNode : public Object {
 public:
  DomNode(std::shared_ptr<XmlDocHolder> doc, void* node);
  const ClassInfo* classInfo() const override;

  DomNodeType nodeType() const;
  std::string nodeName() const;
  std::string baseName() const;  // local name without prefix
  // Text content of the node and its descendants (MSXML "text").
  std::string text() const;
  // Replaces the children with one text node (elements), or sets the value (attributes).
  void setText(const std::string& value);
  std::string nodeValue() const;  // attributes and text nodes; "" for elements
  std::string xml() const;        // serialisation of this node

  std::shared_ptr<DomNode> selectSingleNode(const std::string& xpath) const;  // nullptr when none
  std::shared_ptr<DomNodeList> selectNodes(const std::string& xpath) const;
  std::shared_ptr<DomNode> parentNode() const;
  std::shared_ptr<DomNodeList> childNodes() const;
  std::shared_ptr<DomNode> firstChild() const;

  // Elements only.
  std::string getAttribute(const std::string& name) const;  // "" when absent
  bool hasAttribute(const std::string& name) const;
  void setAttribute(const std::string& name, const std::string& value);
  void setAttributeNode(const std::shared_ptr<DomNode>& attribute);
  void removeAttribute(const std::string& name);
  std::shared_ptr<DomNodeList> attributes() const;

  // Moves `child` (created by the same document, or detached) under this node.
  std::shared_ptr<DomNode> appendChild(const std::shared_ptr<DomNode>& child);
  void removeChild(const std::shared_ptr<DomNode>& child);

  void* raw() const { return node_; }
  const std::shared_ptr<XmlDocHolder>& holder() const { return doc_; }

 protected:
  std::shared_ptr<XmlDocHolder> doc_;
  void* node_;
};

class DomNodeList : public Object {
 public:
  explicit DomNodeList(std::vector<std::shared_ptr<DomNode>> nodes) : nodes_(std::move(nodes)) {}
  const ClassInfo* classInfo() const override;
  long length() const { return static_cast<long>(nodes_.size()); }
  std::shared_ptr<DomNode> item(long index) const;  // 0-based; nullptr when out of range
  const std::vector<std::shared_ptr<DomNode>>& nodes() const { return nodes_; }

 private:
  std::vector<std::shared_ptr<DomNode>> nodes_;
};

class DomDocument : public DomNode {
 public:
  DomDocument();  // an empty document
  const ClassInfo* classInfo() const override;

  void setAsync(bool) {}  // loading is always synchronous
  // Applies to the next load and to text() from now on; also reachable as
  // the property "preserveWhiteSpace".
  bool preserveWhiteSpace() const;
  void setPreserveWhiteSpace(bool preserve);
  // "ServerHTTPRequest" (bool), "preserveWhiteSpace" (bool) and
  // "SelectionLanguage" (accepted, XPath is always used).
  void setProperty(const std::string& name, const Variant& value);
  Variant getProperty(const std::string& name) const;

  [[nodiscard]] bool loadXML(const std::string& text);
  [[nodiscard]] bool load(const std::string& pathOrUrl);  // a path, a file:// URL, or http(s) with ServerHTTPRequest
  const ParseError& parseError() const { return parseError_; }

  std::string xml() const;  // the document's text; "" for an empty document
  std::shared_ptr<DomNode> documentElement() const;  // nullptr when there is none
  void setDocumentElement(const std::shared_ptr<DomNode>& element);

  std::shared_ptr<DomNode> createElement(const std::string& name);
  std::shared_ptr<DomNode> createAttribute(const std::string& name);
  std::shared_ptr<DomNode> createTextNode(const std::string& text);
  std::shared_ptr<DomNode> createProcessingInstruction(const std::string& target, const std::string& data);

  // Applies `stylesheet` (a loaded XSLT document) to this document and
  // returns the output text (method="text"/"html"/"xml" honoured). A
  // stylesheet that does not compile or fails at run time raises Error
  // (number kXslTransformError) with libxslt's messages.
  std::string transformNode(const DomDocument& stylesheet) const;

 private:
  void reset();
  ParseError parseError_;
  bool serverHttp_ = false;
};

constexpr std::int32_t kXslTransformError = static_cast<std::int32_t>(0x80004005);

// Where the element that begins at text[start] (its "<") ends, found by
// reading it once with the parser loadXML uses - for checking texts that
// hold several elements one after another.
struct ElementExtent {
  enum Outcome {
    Closed,      // the element is complete and parses on its own: it ends at `end`
    Malformed,   // the parser stopped at an error (`error`)
    Unfinished,  // the text ends before the element does
  };
  Outcome outcome = Unfinished;
  std::size_t end = 0;  // Closed: one past the ">" of the element's end tag
  ParseError error;     // Malformed: the parser's first error
  bool tooDeep = false;  // Malformed because it nests deeper than the parser allows
};
ElementExtent ReadElementExtent(const std::string& text, std::size_t start);

}  // namespace quillon
