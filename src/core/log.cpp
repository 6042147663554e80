#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "core/clock.h"

namespace sorvane {

struct ScopedLogTarget::Target {
  std::string path;
  std::function<void(std::string_view)> sink;
};

namespace {

std::mutex& targetMutex() {
  static std::mutex mutex;
  return mutex;
}

ScopedLogTarget::Target*& currentTarget() {
  static ScopedLogTarget::Target* target = nullptr;
  return target;
}

}  // namespace

std::string formatLogTimestamp(int64_t epochMilliseconds) {
  std::time_t seconds = static_cast<std::time_t>(epochMilliseconds / 1000);
  if (epochMilliseconds < 0 && epochMilliseconds % 1000 != 0) --seconds;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d +0000", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return buffer;
}

std::string formatLogLine(int64_t epochMilliseconds, std::string_view message) {
  std::string line = formatLogTimestamp(epochMilliseconds);
  line.reserve(line.size() + message.size() + 2);
  line.push_back(' ');
  line.append(message);
  line.push_back('\n');
  return line;
}

bool appendLineSafely(const std::string& path, std::string_view line) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                  S_IRUSR | S_IWUSR);
  if (fd < 0) return false;
  struct stat info {};
  bool ours = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
  bool written = false;
  if (ours) {
    ssize_t n;
    do {
      n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    written = n == static_cast<ssize_t>(line.size());
  }
  ::close(fd);
  return written;
}

void appLog(std::string_view message) {
  try {
    std::lock_guard lock(targetMutex());
    ScopedLogTarget::Target* target = currentTarget();
    if (target && target->sink) {
      target->sink(message);
      return;
    }
    if (!target) return;
    appendLineSafely(target->path, formatLogLine(currentMilliseconds(), message));
  } catch (...) {
    // Logging never fails toward the caller.
  }
}

ScopedLogTarget::ScopedLogTarget(std::string path) : own_(new Target{std::move(path), {}}) {
  std::lock_guard lock(targetMutex());
  previous_ = currentTarget();
  currentTarget() = own_;
}

ScopedLogTarget::ScopedLogTarget(std::function<void(std::string_view)> sink)
    : own_(new Target{{}, std::move(sink)}) {
  std::lock_guard lock(targetMutex());
  previous_ = currentTarget();
  currentTarget() = own_;
}

ScopedLogTarget::~ScopedLogTarget() {
  {
    std::lock_guard lock(targetMutex());
    if (currentTarget() == own_) currentTarget() = previous_;
  }
  delete own_;
}

}  // namespace sorvane
