// Waiting in real time for work done on other threads: the main thread's event loop runs
// (so the main queue keeps delivering) until a condition holds or a generous safety
// limit passes.
#pragma once

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

namespace sorvane::testing {

// `done` is checked on the main thread after every few milliseconds of event
// processing; true when it held before `limit`.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(std::chrono::milliseconds(2));
  QTimer::singleShot(limit, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

}  // namespace sorvane::testing
