#include "learning/tail_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sorvane {
namespace {

constexpr off_t kBlockBytes = 64 * 1024;

struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

bool readFully(int fd, char* into, std::size_t size, off_t at) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, into + done, size - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the file shrank under us
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

TailLines readLastLines(const std::string& path, std::size_t limit) {
  TailLines result;
  FileDescriptor file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (file.fd < 0) {
    if (errno == ENOENT) {
      result.missing = true;
    } else {
      result.error = std::strerror(errno);
    }
    return result;
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) {
    result.error = std::strerror(errno);
    return result;
  }
  if (!S_ISREG(info.st_mode)) {
    result.error = "not a regular file";
    return result;
  }
  if (limit == 0) return result;

  std::vector<TailLines::Line> newestFirst;
  // The bytes after the last line feed seen so far: the end of a line whose start lies
  // in an earlier block.
  std::string carry;
  bool carryOversized = false;
  auto emit = [&](uint64_t offset, std::string text, bool oversized) {
    if (!oversized && text.empty()) return;
    newestFirst.push_back({offset, oversized ? std::string() : std::move(text), oversized});
  };

  off_t end = info.st_size;
  std::string block;
  while (end > 0 && newestFirst.size() < limit) {
    const off_t start = std::max<off_t>(0, end - kBlockBytes);
    block.resize(static_cast<std::size_t>(end - start));
    if (!readFully(file.fd, block.data(), block.size(), start)) {
      result.error = std::strerror(errno);
      carry.clear();
      carryOversized = false;
      break;
    }
    std::size_t segmentEnd = block.size();
    for (std::size_t i = block.size(); i-- > 0 && newestFirst.size() < limit;) {
      if (block[i] != '\n') continue;
      const uint64_t offset = static_cast<uint64_t>(start) + i + 1;
      if (carryOversized) {
        emit(offset, {}, true);
      } else {
        std::string line = block.substr(i + 1, segmentEnd - i - 1);
        line += carry;
        const bool oversized = line.size() > kMaxLineBytes;
        emit(offset, std::move(line), oversized);
      }
      carry.clear();
      carryOversized = false;
      segmentEnd = i;
    }
    if (newestFirst.size() >= limit) break;
    if (!carryOversized) {
      carry.insert(0, block, 0, segmentEnd);
      if (carry.size() > kMaxLineBytes) {
        carry.clear();
        carryOversized = true;
      }
    }
    end = start;
  }
  if (end == 0 && newestFirst.size() < limit && !result.error) emit(0, std::move(carry), carryOversized);

  result.lines.assign(std::make_move_iterator(newestFirst.rbegin()), std::make_move_iterator(newestFirst.rend()));
  return result;
}

}  // namespace sorvane
