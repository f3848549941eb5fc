// `quillon demo [DIR]`: a new sample site and the road of a few documents
// through it, told as a person would want to read it.
#pragma once

#include <iosfwd>
#include <string>

namespace quillon::cli {

// Creates the site in `dir` (a new temporary folder when empty), publishes
// the demo documents and writes what became of each to `out`. 0 when the
// demo ran to its end (refused documents are part of it), 3 otherwise.
int RunDemo(const std::string& dir, std::ostream& out);

}  // namespace quillon::cli
