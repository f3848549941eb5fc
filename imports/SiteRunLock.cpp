#include "imports/SiteRunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "foundation/EnumsConstantsGlobalVars.h"
#include "foundation/General.h"
#include "platform/Error.h"
#include "platform/FileStore.h"
#include "platform/LocalFiles.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace quillon {

SiteRunLock::SiteRunLock(const std::string& fileName, const std::string& job, const std::string& source) {
  const std::string site = General::getInstallDir();
  if (text::Trim(site).empty()) throw Error(hr::kFail, source, "No site is set: " + job + " has nowhere to run.");
  const fs::path folder = fs::path(text::LocalPath(site)) / "temp";
  std::error_code ec;
  fs::create_directories(folder, ec);
  const fs::path file = folder / fileName;
  fd_ = ::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0)
    LocalFiles::Raise(hr::kPathFileAccess, source, "The lock file of " + job + " cannot be opened", file.string(),
                      std::error_code(errno, std::generic_category()));
  held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

SiteRunLock::~SiteRunLock() {
  if (fd_ >= 0) ::close(fd_);  // lets the lock go
}

}  // namespace quillon
