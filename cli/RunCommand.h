// `quillon run JOB`: one scheduled job, run once as the scheduler would.
#pragma once

#include <string>
#include <vector>

namespace quillon::cli {

// `args` are the words after "run": one job name. Without one it lists
// the jobs. Prints one summary line; exit status 0 when the job ran (also
// when single files failed: they are in the site's log), 1 when it could
// not run at all, 2 for a usage error.
int RunJobCommand(const std::vector<std::string>& args);

}  // namespace quillon::cli
