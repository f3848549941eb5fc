// One run of a scheduled job at a time per site: an exclusive lock on a
// file of the site's temporary folder, held for as long as the object lives
// and let go by the system even when the process dies.
//
// The caller checks held(): false means another run of the job is still
// working on the site. Construction raises when no site is set or the lock
// file cannot be opened. Not shared between threads.
#pragma once

#include <string>

namespace quillon {

class SiteRunLock {
 public:
  // fileName: the lock file in SITE/temp; job: the job as the error texts
  // name it ("the EDI exchange"); source: the error source.
  SiteRunLock(const std::string& fileName, const std::string& job, const std::string& source);
  ~SiteRunLock();
  SiteRunLock(const SiteRunLock&) = delete;
  SiteRunLock& operator=(const SiteRunLock&) = delete;

  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace quillon
