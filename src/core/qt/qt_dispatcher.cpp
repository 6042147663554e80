#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <pthread.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"

namespace sorvane {
namespace {

// A queue on the thread that owns QCoreApplication (`main`), or on a thread of its own
// running a Qt event loop. The worker threads are std::threads, joined on destruction:
// QThread's threads are detached, and its wait() returns before the thread's own exit
// handlers ran (thread-local destructors, OpenSSL's per-thread state set up by the TLS
// backend), so a process leaving main right after could free that state twice.
class QtSerialQueue final : public SerialQueue {
 public:
  enum class Thread { main, own };

  QtSerialQueue(std::string label, Thread where) : label_(std::move(label)) {
    if (where == Thread::main) {
      context_ = new QObject();
      return;
    }
    std::promise<void> started;
    thread_ = std::thread([this, &started] { run(started); });
    started.get_future().wait();
  }

  ~QtSerialQueue() override {
    if (!thread_.joinable()) {
      delete context_;
      return;
    }
    // Work still queued is dropped, as a stopped event loop drops it; the loop ends after
    // the task running now.
    stopping_.store(true);
    QMetaObject::invokeMethod(context_, [this] { loop_->quit(); }, Qt::QueuedConnection);
    thread_.join();
  }

  const std::string& label() const override { return label_; }

  void post(Task task) override {
    QMetaObject::invokeMethod(
        context_,
        [this, task = std::move(task)] {
          if (!stopping_.load()) task();
        },
        Qt::QueuedConnection);
  }

  void postAfter(Milliseconds delay, Task task) override {
    // The timer must be created on the queue's own thread.
    post([this, delay, task = std::move(task)]() mutable {
      QTimer::singleShot(std::chrono::milliseconds(delay), Qt::PreciseTimer, context_, [this, task = std::move(task)] {
        if (!stopping_.load()) task();
      });
    });
  }

  void runSync(const Task& task) override {
    if (isCurrent()) {
      task();
      return;
    }
    std::promise<void> done;
    auto future = done.get_future();
    post([&task, &done] {
      task();
      done.set_value();
    });
    future.wait();
  }

  bool isCurrent() const override { return QThread::currentThread() == context_->thread(); }

 private:
  void run(std::promise<void>& started) {
    // The kernel keeps 15 bytes of a thread's name.
    pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
    QEventLoop loop;  // also creates this thread's event dispatcher
    loop_ = &loop;
    context_ = new QObject();
    started.set_value();
    loop.exec();
    // Sockets and timers handed to deleteLater() go now, on their own thread; deleting
    // the context drops whatever is still queued for it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete context_;
  }

  std::string label_;
  std::atomic<bool> stopping_{false};
  QObject* context_ = nullptr;  // lives on the queue's thread
  QEventLoop* loop_ = nullptr;
  std::thread thread_;
};

class QtDispatcher final : public Dispatcher {
 public:
  explicit QtDispatcher(const Clock& clock) : clock_(clock), main_("main", QtSerialQueue::Thread::main) {}

  SerialQueue& mainQueue() override { return main_; }

  SerialQueue& queue(std::string_view label) override {
    std::lock_guard lock(mutex_);
    auto it = queues_.find(std::string(label));
    if (it != queues_.end()) return *it->second;
    auto created = std::make_unique<QtSerialQueue>(std::string(label), QtSerialQueue::Thread::own);
    SerialQueue& ref = *created;
    queues_.emplace(std::string(label), std::move(created));
    return ref;
  }

  const Clock& clock() const override { return clock_; }

 private:
  const Clock& clock_;
  QtSerialQueue main_;
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<QtSerialQueue>> queues_;
};

}  // namespace

std::unique_ptr<Dispatcher> makeQtDispatcher(const Clock& clock) {
  return std::make_unique<QtDispatcher>(clock);
}

}  // namespace sorvane
