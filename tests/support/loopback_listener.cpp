#include "support/loopback_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace sorvane::testing {
namespace {

constexpr int kBacklog = 64;

[[noreturn]] void throwErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// Closes `fd` without losing the errno of the call that failed before.
[[noreturn]] void closeAndThrow(int fd, const char* what) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
  throwErrno(what);
}

}  // namespace

std::pair<int, uint16_t> bindLoopbackSocket() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throwErrno("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closeAndThrow(fd, "bind");
  }
  return {fd, ntohs(address.sin_port)};
}

LoopbackListener::LoopbackListener(Serve serve) : serve_(std::move(serve)) {
  auto [fd, port] = bindLoopbackSocket();
  listenSocket_ = fd;
  port_ = port;
  if (::listen(listenSocket_, kBacklog) != 0) closeAndThrow(listenSocket_, "listen");
  if (::pipe2(wakePipe_, O_CLOEXEC) != 0) closeAndThrow(listenSocket_, "pipe2");
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackListener::~LoopbackListener() {
  stop();
  ::close(listenSocket_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

void LoopbackListener::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    // Wakes every connection thread blocked in recv; their sockets close themselves.
    for (int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
  }
  stopSignal_.notify_all();
  const char wake = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakePipe_[1], &wake, 1);
  acceptThread_.join();
  // The accept thread has ended, so the list no longer grows.
  for (auto& thread : connectionThreads_) thread.join();
}

bool LoopbackListener::waitUnlessStopping(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  if (delay.count() < 0) {
    stopSignal_.wait(lock, [this] { return stopping_; });
    return false;
  }
  return !stopSignal_.wait_for(lock, delay, [this] { return stopping_; });
}

void LoopbackListener::acceptLoop() {
  while (true) {
    pollfd fds[2] = {{listenSocket_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    openSockets_.push_back(fd);
    const std::size_t index = connectionCount_++;
    connectionThreads_.emplace_back([this, fd, index] {
      serve_(fd, index);
      std::lock_guard lock(mutex_);
      std::erase(openSockets_, fd);
      ::close(fd);
    });
  }
}

}  // namespace sorvane::testing
