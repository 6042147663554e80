#include "core/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sorvane {
namespace {

std::string failure(const char* step, const std::string& path, int error) {
  return std::string(step) + " " + path + ": " + std::strerror(error);
}

}  // namespace

std::string writeFileAtomically(const std::string& path, std::span<const char> bytes, mode_t mode) {
  // A unique name next to the target, so the rename stays within one file system.
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return failure("create", temporary, errno);
  auto abandon = [&](const char* step) {
    const int error = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    return failure(step, temporary, error);
  };
  if (::fchmod(fd, mode) != 0) return abandon("chmod");
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return abandon("write");
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return abandon("sync");
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return failure("close", temporary, error);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return failure("rename", path, error);
  }
  return {};
}

}  // namespace sorvane
