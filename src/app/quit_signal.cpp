#include "app/quit_signal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/log.h"

namespace sorvane {
namespace {

int pipeFds[2] = {-1, -1};

extern "C" void onTerminationSignal(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  [[maybe_unused]] ssize_t written = ::write(pipeFds[1], &byte, 1);
  errno = saved;
}

}  // namespace

QuitOnTerminationSignal::QuitOnTerminationSignal() {
  if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    appLog("quit signal handler unavailable errno=" + std::to_string(errno));
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [] {
    unsigned char byte = 0;
    std::string names;
    while (::read(pipeFds[0], &byte, 1) == 1) names = byte == SIGINT ? "SIGINT" : "SIGTERM";
    if (names.empty()) return;
    appLog("quit requested signal=" + names);
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

QuitOnTerminationSignal::~QuitOnTerminationSignal() {
  if (!notifier_) return;
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  notifier_.reset();
}

}  // namespace sorvane
