// One running desktop app per user: a lock file in the user's runtime folder (the
// `runtimeFolder` of `Paths`, see `lockPathIn`). The lock is released when the owner is
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

  // The lock file inside a runtime folder.
  static std::string lockPathIn(const std::string& runtimeFolder);

 private:
  std::string path_;
  std::unique_ptr<QLockFile> lock_;
};

}  // namespace sorvane::platform
