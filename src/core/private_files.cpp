#include "core/private_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sorvane {
namespace {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

std::string describe(std::string_view step, const std::string& path, int error) {
  return std::string(step) + " " + path + ": " + std::strerror(error);
}

bool openToOthers(const struct stat& info) { return (info.st_mode & 077) != 0; }

// Closes the descriptor on every path out of the append.
struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::optional<std::string> ensurePrivateFolder(const std::string& folder) {
  if (folder.empty()) return "empty folder path";
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode)) return "not a folder: " + folder;
    if (info.st_uid == ::geteuid() && openToOthers(info)) ::chmod(folder.c_str(), kPrivateFolderMode);
    return std::nullopt;
  }
  // Walk down from the first component, creating what is missing.
  std::size_t position = 0;
  while (position != std::string::npos) {
    position = folder.find('/', position + 1);
    const std::string prefix = folder.substr(0, position);
    if (prefix.empty()) continue;
    if (::mkdir(prefix.c_str(), kPrivateFolderMode) == 0) {
      // mkdir's mode is filtered by the umask; set it exactly.
      ::chmod(prefix.c_str(), kPrivateFolderMode);
    } else if (errno != EEXIST) {
      return describe("cannot create folder", prefix, errno);
    }
  }
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return "cannot create folder " + folder;
  return std::nullopt;
}

std::optional<std::string> appendLineToFile(const std::string& folder, const std::string& fileName,
                                            std::string_view line) {
  if (auto error = ensurePrivateFolder(folder)) return error;
  const std::string path = folder + "/" + fileName;
  FileDescriptor file;
  file.fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, kPrivateFileMode);
  if (file.fd < 0) return describe("cannot open", path, errno);
  int locked;
  do {
    locked = ::flock(file.fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return describe("cannot lock", path, errno);

  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return describe("cannot inspect", path, errno);
  if (!S_ISREG(info.st_mode)) return "not a regular file: " + path;
  if (info.st_uid == ::geteuid() && (info.st_mode & 07777) != kPrivateFileMode) ::fchmod(file.fd, kPrivateFileMode);
  const off_t oldSize = info.st_size;

  std::string bytes;
  bytes.reserve(line.size() + 2);
  char last = '\n';
  if (oldSize > 0 && ::pread(file.fd, &last, 1, oldSize - 1) == 1 && last != '\n') bytes.push_back('\n');
  bytes.append(line);
  bytes.push_back('\n');

  std::size_t written = 0;
  int writeError = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(file.fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      writeError = n < 0 ? errno : 0;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (written == bytes.size()) return std::nullopt;
  // Take the partial line back out; the lock keeps other appenders away meanwhile.
  if (written > 0) ::ftruncate(file.fd, oldSize);
  if (writeError != 0) return describe("cannot write", path, writeError);
  return "cannot write " + path + ": short write";
}

}  // namespace sorvane
