// The listening half of the in-process loopback servers (HTTP and WebSocket): a socket
// on an ephemeral 127.0.0.1 port, an accept thread, and one thread per connection.
//
// The listener accepts from construction and runs `serve` for each connection on a
// thread of its own; when `serve` returns, the listener closes the socket. `stop` (also
// run by the destructor) stops accepting, shuts every open connection down so that its
// blocked reads return, wakes every `waitUnlessStopping` and joins every thread. A server
// whose `serve` uses its own members calls `stop` first in its destructor, so that no
// connection thread outlives them.
//
// `bindLoopbackSocket` is the bound, not yet listening socket underneath, also used to
// reserve a port on which nothing listens.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace sorvane::testing {

// A TCP socket bound to an ephemeral loopback port: the socket and its port. Throws
// std::system_error when the system refuses.
std::pair<int, uint16_t> bindLoopbackSocket();

class LoopbackListener {
 public:
  // `index` counts the listener's connections from 0, in the order they were accepted.
  using Serve = std::function<void(int socket, std::size_t index)>;

  explicit LoopbackListener(Serve serve);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  uint16_t port() const { return port_; }

  // Safe to call more than once; the first call does the work.
  void stop();
  // Waits up to `delay` (forever when negative); false when the listener is stopping.
  bool waitUnlessStopping(std::chrono::milliseconds delay);

 private:
  void acceptLoop();

  Serve serve_;
  int listenSocket_ = -1;
  int wakePipe_[2] = {-1, -1};
  uint16_t port_ = 0;

  std::mutex mutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;
  std::vector<int> openSockets_;
  std::list<std::thread> connectionThreads_;
  std::size_t connectionCount_ = 0;
  std::thread acceptThread_;
};

}  // namespace sorvane::testing
