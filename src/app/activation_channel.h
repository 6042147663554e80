// Reopening the running app: a second `sorvane` launch asks the running instance to
// show its dashboard, then exits.
//
// The instance holding the single-instance lock listens on a local socket in the
// runtime folder (`Paths::runtimeFolder`, mode 0700, socket restricted to the user);
// a later launch that fails to get the lock connects, sends "reopen", waits briefly for
// "ok", and exits. This is also the way in on desktops without a tray host. Main
// thread; the asking side blocks for at most its timeout.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QLocalServer;

namespace sorvane {

inline constexpr std::string_view kActivationSocketName = "sorvane-activate.socket";

std::string activationSocketPath(const std::string& runtimeFolder);

class ActivationServer {
 public:
  explicit ActivationServer(std::string runtimeFolder);
  ~ActivationServer();
  // Replaces a stale socket (the caller holds the lock); false when listening failed.
  bool listen();
  const std::string& path() const { return path_; }

  std::function<void()> onReopen;

 private:
  std::string path_;
  std::unique_ptr<QLocalServer> server_;
};

// True when the running instance answered "ok".
bool askRunningInstanceToReopen(const std::string& runtimeFolder, std::chrono::milliseconds timeout);

}  // namespace sorvane
