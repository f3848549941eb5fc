// The contract between platform/XmlDom.cpp and its XSLT module
// libquillon_xslt.so (platform/XsltModule.cpp), loaded on the first
// transformation so that a process that transforms nothing never loads
// libxslt, EXSLT and their crypto libraries. Internal to the platform.
#pragma once

#include <string>

namespace quillon {

struct XsltHooks {
  // libxml2's generic message function: where libxslt's messages go.
  void (*messages)(void* context, const char* format, ...);
  // Lets exactly one external load pass the platform's entity loader (true
  // before libxslt loads a style sheet's include, false after).
  void (*allowNextEntityLoad)(bool allow);
  // False when reading the text of a loaded document (an include, a
  // document() result) would expand entity references beyond the cap.
  bool (*entitiesWithinLimit)(struct _xmlDoc* doc);
};

// Names the local file a style sheet document was read from, unchanged
// since: `path` (absolute) and `stamp` (the file's identity, size and time
// stamp, and how the document was parsed). The module keeps the compiled
// style sheet of such a document per thread and path and compiles again
// when the stamp differs.
struct XsltCacheKey {
  const char* path;
  const char* stamp;
};

namespace XsltResult {
enum : int { Done = 0, Failed = 1, OutOfMemory = 2 };
}

// quillon_xslt_transform(styleSource, source, remote, cacheKey, hooks, text,
// failure): applies the style sheet document to the source document
// (neither is changed) and fills `text` with the serialised result. With a
// cacheKey (never for a remote sheet) the style sheet compiled for the same
// path and stamp is used again; a sheet that includes or imports other
// files is not kept (those may change unseen). Otherwise returns
// Failed or OutOfMemory and says what failed in `failure`. A `remote`
// style sheet (fetched over HTTP) may read no file and load no document,
// neither while it is compiled (xsl:include, xsl:import) nor applied
// (document()); a local one may read local files.
using XsltTransform = int(struct _xmlDoc* styleSource, struct _xmlDoc* source, bool remote,
                          const XsltCacheKey* cacheKey, const XsltHooks& hooks, std::string& text,
                          std::string& failure);

}  // namespace quillon
