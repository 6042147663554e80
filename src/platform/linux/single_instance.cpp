#include "platform/linux/single_instance.h"

#include <QLockFile>
#include <QString>

namespace sorvane::platform {

SingleInstanceLock::SingleInstanceLock(std::string lockPath) : path_(std::move(lockPath)) {}
SingleInstanceLock::~SingleInstanceLock() = default;

bool SingleInstanceLock::tryAcquire() {
  lock_ = std::make_unique<QLockFile>(QString::fromStdString(path_));
  lock_->setStaleLockTime(0);  // only a dead owner makes the lock stale
  return lock_->tryLock(0);
}

std::string SingleInstanceLock::lockPathIn(const std::string& runtimeFolder) {
  return runtimeFolder + "/app.sorvane.lock";
}

}  // namespace sorvane::platform
