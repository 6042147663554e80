#include "platform/linux/single_instance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QLockFile>
#include <QString>

#include <cstdlib>

namespace sorvane::platform {

SingleInstanceLock::SingleInstanceLock(std::string lockPath) : path_(std::move(lockPath)) {}
SingleInstanceLock::~SingleInstanceLock() = default;

bool SingleInstanceLock::tryAcquire() {
  lock_ = std::make_unique<QLockFile>(QString::fromStdString(path_));
  lock_->setStaleLockTime(0);  // only a dead owner makes the lock stale
  return lock_->tryLock(0);
}

std::string SingleInstanceLock::defaultLockPath() {
  std::string folder;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
    folder = runtime;
  } else {
    folder = "/tmp/sorvane-" + std::to_string(::getuid());
    ::mkdir(folder.c_str(), 0700);
  }
  return folder + "/app.sorvane.lock";
}

}  // namespace sorvane::platform
