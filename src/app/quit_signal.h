// SIGTERM and SIGINT as a quit through the event loop: the handler only writes a byte to
// a pipe, and a socket notifier on the main thread logs "quit requested signal=..." and
// calls QCoreApplication::quit, so aboutToQuit runs (the turn is ended and the clipboard
// restored) and the process exits 0. One per process, on the main thread, while the
// application object exists.
#pragma once

#include <memory>

class QSocketNotifier;

namespace sorvane {

class QuitOnTerminationSignal {
 public:
  QuitOnTerminationSignal();
  ~QuitOnTerminationSignal();
  QuitOnTerminationSignal(const QuitOnTerminationSignal&) = delete;
  QuitOnTerminationSignal& operator=(const QuitOnTerminationSignal&) = delete;

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace sorvane
