// The "config" command: an operator reads and changes a value of the site
// configuration file (SITE/SiteConfiguration.xml).
#pragma once

#include <string>
#include <vector>

namespace quillon::cli {

// args: everything after "config":
//   get SECTION KEY                    prints the value ("********" for a password)
//   set SECTION KEY VALUE              changes the value, or adds the key (and section)
//   set SECTION KEY --value-stdin      the value is the first line of standard input
// The site is the one chosen by --site / QUILLON_SITE. Section and key
// names compare without letter case, as the component reads them. Returns
// the exit status: 0 done, 1 no site or no such key (a message on standard
// error), 2 usage error.
int RunConfigCommand(const std::vector<std::string>& args);

}  // namespace quillon::cli
