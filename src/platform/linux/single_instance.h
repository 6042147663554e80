// One running desktop app per user: a lock file in the user's runtime folder
// ($XDG_RUNTIME_DIR, else /tmp/sorvane-<uid>). The lock is released when the owner is
// destroyed or the process dies (stale locks of dead processes are taken over).
#pragma once

#include <memory>
#include <string>

class QLockFile;

namespace sorvane::platform {

class SingleInstanceLock {
 public:
  explicit SingleInstanceLock(std::string lockPath);
  ~SingleInstanceLock();
  // False when another live process holds the lock.
  bool tryAcquire();
  const std::string& path() const { return path_; }

  static std::string defaultLockPath();

 private:
  std::string path_;
  std::unique_ptr<QLockFile> lock_;
};

}  // namespace sorvane::platform
