// The Qt dispatcher with real threads: the main queue on this thread's event loop,
// background queues on their own threads.
#include <QObject>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "support/qt/main_loop_wait.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

class QtDispatcherTest : public ::testing::Test {
 protected:
  std::unique_ptr<Dispatcher> dispatcher_ = makeQtDispatcher(SystemClock::instance());
};

TEST_F(QtDispatcherTest, TasksOfOneQueueRunInPostingOrderOnOneThread) {
  SerialQueue& queue = dispatcher_->queue("app.sorvane.order");
  std::vector<int> seen;  // confined to `queue`
  std::vector<QThread*> threads;
  for (int i = 0; i < 500; ++i) {
    queue.post([&, i] {
      seen.push_back(i);
      threads.push_back(QThread::currentThread());
    });
  }
  std::vector<int> copy;
  queue.runSync([&] { copy = seen; });

  ASSERT_EQ(copy.size(), 500u);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(copy[i], i);
  EXPECT_NE(threads.front(), QThread::currentThread());
  EXPECT_TRUE(std::all_of(threads.begin(), threads.end(), [&](QThread* t) { return t == threads.front(); }));
}

TEST_F(QtDispatcherTest, QueuesAreLabelledAndCreatedOnce) {
  SerialQueue& a = dispatcher_->queue("app.sorvane.context");
  EXPECT_EQ(&a, &dispatcher_->queue("app.sorvane.context"));
  EXPECT_NE(&a, &dispatcher_->queue("app.sorvane.other"));
  EXPECT_EQ(a.label(), "app.sorvane.context");
  EXPECT_EQ(dispatcher_->mainQueue().label(), "main");
}

TEST_F(QtDispatcherTest, IsCurrentHoldsOnlyOnItsOwnQueue) {
  SerialQueue& main = dispatcher_->mainQueue();
  SerialQueue& a = dispatcher_->queue("app.sorvane.a");
  SerialQueue& b = dispatcher_->queue("app.sorvane.b");
  EXPECT_TRUE(main.isCurrent());
  EXPECT_FALSE(a.isCurrent());

  struct Seen {
    bool main, a, b;
  };
  std::optional<Seen> onA, onB;
  a.runSync([&] { onA = Seen{main.isCurrent(), a.isCurrent(), b.isCurrent()}; });
  b.runSync([&] { onB = Seen{main.isCurrent(), a.isCurrent(), b.isCurrent()}; });
  ASSERT_TRUE(onA && onB);
  EXPECT_FALSE(onA->main);
  EXPECT_TRUE(onA->a);
  EXPECT_FALSE(onA->b);
  EXPECT_FALSE(onB->main);
  EXPECT_FALSE(onB->a);
  EXPECT_TRUE(onB->b);
}

TEST_F(QtDispatcherTest, RunSyncReachesAnotherQueueAndRunsInlineOnItsOwn) {
  SerialQueue& a = dispatcher_->queue("app.sorvane.a");
  SerialQueue& b = dispatcher_->queue("app.sorvane.b");
  std::atomic<bool> done{false};
  bool ranOnB = false, backOnA = false, inlineOnA = false;
  a.post([&] {
    b.runSync([&] { ranOnB = b.isCurrent() && !a.isCurrent(); });
    backOnA = a.isCurrent();
    a.runSync([&] { inlineOnA = a.isCurrent(); });  // must not wait on itself
    done = true;
  });
  ASSERT_TRUE(waitUntil([&] { return done.load(); }));
  EXPECT_TRUE(ranOnB);
  EXPECT_TRUE(backOnA);
  EXPECT_TRUE(inlineOnA);
}

TEST_F(QtDispatcherTest, RunSyncFromABackgroundQueueReachesTheMainQueue) {
  SerialQueue& main = dispatcher_->mainQueue();
  SerialQueue& a = dispatcher_->queue("app.sorvane.a");
  std::atomic<bool> done{false};
  bool ranOnMain = false;
  a.post([&] {
    main.runSync([&] { ranOnMain = main.isCurrent(); });
    done = true;
  });
  ASSERT_TRUE(waitUntil([&] { return done.load(); }));
  EXPECT_TRUE(ranOnMain);
}

TEST_F(QtDispatcherTest, PostAfterFiresNoEarlierThanItsDelayAndInDueOrder) {
  for (SerialQueue* queue : {&dispatcher_->mainQueue(), &dispatcher_->queue("app.sorvane.timers")}) {
    SCOPED_TRACE(queue->label());
    std::mutex mutex;
    std::vector<std::pair<int, std::chrono::milliseconds>> fired;
    const auto start = std::chrono::steady_clock::now();
    auto record = [&](int which) {
      return [&, which] {
        std::lock_guard lock(mutex);
        fired.emplace_back(which, std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - start));
      };
    };
    queue->postAfter(200ms, record(200));
    queue->postAfter(50ms, record(50));
    ASSERT_TRUE(waitUntil([&] {
      std::lock_guard lock(mutex);
      return fired.size() == 2;
    }));
    EXPECT_EQ(fired[0].first, 50);
    EXPECT_EQ(fired[1].first, 200);
    EXPECT_GE(fired[0].second, 49ms);
    EXPECT_GE(fired[1].second, 199ms);
    EXPECT_LT(fired[1].second, 3s);
  }
}

// Set on a queue's thread; its destructor runs among that thread's exit handlers, slowly,
// as OpenSSL's per-thread cleanup can.
struct ThreadExitMark {
  std::atomic<bool>* ended = nullptr;
  ~ThreadExitMark() {
    if (!ended) return;
    std::this_thread::sleep_for(50ms);  // widens the window in which the process could move on
    ended->store(true);
  }
};
thread_local ThreadExitMark threadExitMark;

TEST(QtDispatcherShutdown, DestroyingTheDispatcherEndsItsThreadsCompletelyAndFreesWhatTheyHeld) {
  std::atomic<bool> threadEnded = false;
  std::atomic<bool> laterObjectDeleted = false;
  std::atomic<bool> timerFired = false;
  auto dispatcher = makeQtDispatcher(SystemClock::instance());
  SerialQueue& queue = dispatcher->queue("app.sorvane.exit");
  queue.runSync([&] {
    threadExitMark.ended = &threadEnded;
    auto* object = new QObject();
    QObject::connect(object, &QObject::destroyed, [&] { laterObjectDeleted = true; });
    object->deleteLater();
  });
  queue.postAfter(10s, [&] { timerFired = true; });
  dispatcher.reset();
  EXPECT_TRUE(threadEnded) << "the thread's exit handlers were still running after the dispatcher was gone";
  EXPECT_TRUE(laterObjectDeleted);
  EXPECT_FALSE(timerFired);
}

}  // namespace
}  // namespace sorvane
