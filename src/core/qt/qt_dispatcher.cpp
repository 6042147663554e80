#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <future>
#include <map>
#include <mutex>

#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"

namespace sorvane {
namespace {

class QtSerialQueue final : public SerialQueue {
 public:
  // `thread` is null for the main queue (the thread that owns QCoreApplication).
  QtSerialQueue(std::string label, std::unique_ptr<QThread> thread)
      : label_(std::move(label)), thread_(std::move(thread)) {
    context_ = std::make_unique<QObject>();
    if (thread_) {
      thread_->setObjectName(QString::fromStdString(label_));
      context_->moveToThread(thread_.get());
      thread_->start();
    }
  }

  ~QtSerialQueue() override {
    if (thread_) {
      // Stop the thread first and delete its context object afterwards: once the thread
      // has finished nothing can run on the object any more. A delete posted to the
      // thread instead would be lost (and the object leaked) whenever the thread is
      // told to quit before its event loop has started.
      thread_->quit();
      thread_->wait();
    }
    context_.reset();
  }

  const std::string& label() const override { return label_; }

  void post(Task task) override {
    QMetaObject::invokeMethod(context_.get(), std::move(task), Qt::QueuedConnection);
  }

  void postAfter(Milliseconds delay, Task task) override {
    QObject* context = context_.get();
    // The timer must be created on the queue's own thread.
    post([context, delay, task = std::move(task)]() mutable {
      QTimer::singleShot(std::chrono::milliseconds(delay), Qt::PreciseTimer, context, std::move(task));
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
  std::string label_;
  std::unique_ptr<QThread> thread_;
  std::unique_ptr<QObject> context_;
};

class QtDispatcher final : public Dispatcher {
 public:
  explicit QtDispatcher(const Clock& clock) : clock_(clock), main_("main", nullptr) {}

  SerialQueue& mainQueue() override { return main_; }

  SerialQueue& queue(std::string_view label) override {
    std::lock_guard lock(mutex_);
    auto it = queues_.find(std::string(label));
    if (it != queues_.end()) return *it->second;
    auto created = std::make_unique<QtSerialQueue>(std::string(label), std::make_unique<QThread>());
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
