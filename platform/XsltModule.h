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
};

namespace XsltResult {
enum : int { Done = 0, Failed = 1, OutOfMemory = 2 };
}

// quillon_xslt_transform(styleSource, source, hooks, text, failure):
// applies the style sheet document to the source document (neither is
// changed) and fills `text` with the serialised result. Otherwise returns
// Failed or OutOfMemory and says what failed in `failure`.
using XsltTransform = int(struct _xmlDoc* styleSource, struct _xmlDoc* source, const XsltHooks& hooks,
                          std::string& text, std::string& failure);

}  // namespace quillon
