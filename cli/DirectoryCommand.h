// The "directory" command: an operator maintains the site's directory of
// business partners and users.
#pragma once

#include <string>
#include <vector>

namespace quillon::cli {

// args: everything after "directory" (add-partner …, add-user …, list).
// The site is the one chosen by --site / QUILLON_SITE. Returns the exit
// status: 0 done, 1 refused (a message on standard error), 2 usage error.
int RunDirectoryCommand(const std::vector<std::string>& args);

}  // namespace quillon::cli
