#include "support/virtual_time.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sorvane::testing {
namespace {

using namespace std::chrono_literals;

// What ran, where, and at which virtual time.
struct Event {
  std::string what;
  std::string queue;
  int64_t atMs;
  bool operator==(const Event&) const = default;
};

class VirtualTimeTest : public ::testing::Test {
 protected:
  Task record(std::string what, SerialQueue& queue) {
    return [this, what = std::move(what), &queue] {
      EXPECT_TRUE(queue.isCurrent()) << what;
      events.push_back({what, queue.label(), dispatcher.virtualClock().elapsedMs()});
    };
  }

  VirtualDispatcher dispatcher;
  std::vector<Event> events;
};

TEST_F(VirtualTimeTest, TasksOfOneQueueRunInPostingOrder) {
  SerialQueue& queue = dispatcher.queue("app.sorvane.a");
  for (int i = 0; i < 5; ++i) queue.post(record(std::to_string(i), queue));
  // Equal due times keep posting order too.
  queue.postAfter(10ms, record("late-1", queue));
  queue.postAfter(10ms, record("late-2", queue));
  dispatcher.runUntilIdle();
  EXPECT_EQ(events.size(), 5u);
  dispatcher.advance(10ms);
  std::vector<std::string> order;
  for (const auto& e : events) order.push_back(e.what);
  EXPECT_EQ(order, (std::vector<std::string>{"0", "1", "2", "3", "4", "late-1", "late-2"}));
}

TEST_F(VirtualTimeTest, DelayedTasksFireInTimeOrderAcrossQueuesAtTheirDueTime) {
  SerialQueue& main = dispatcher.mainQueue();
  SerialQueue& a = dispatcher.queue("app.sorvane.a");
  SerialQueue& b = dispatcher.queue("app.sorvane.b");
  a.postAfter(30ms, record("a30", a));
  b.postAfter(10ms, record("b10", b));
  main.postAfter(20ms, record("main20", main));
  a.post(record("a0", a));

  dispatcher.advance(25ms);
  EXPECT_EQ(events, (std::vector<Event>{{"a0", "app.sorvane.a", 0},
                                        {"b10", "app.sorvane.b", 10},
                                        {"main20", "main", 20}}));
  EXPECT_EQ(dispatcher.virtualClock().elapsedMs(), 25);
  EXPECT_EQ(dispatcher.pendingCount(), 1u);

  dispatcher.advance(5ms);  // due exactly at the end of the step
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events.back(), (Event{"a30", "app.sorvane.a", 30}));
}

TEST_F(VirtualTimeTest, TasksPostedWhileRunningFireInTheSameAdvance) {
  SerialQueue& a = dispatcher.queue("app.sorvane.a");
  SerialQueue& b = dispatcher.queue("app.sorvane.b");
  a.postAfter(10ms, [&] {
    b.post(record("b-now", b));
    b.postAfter(15ms, record("b+15", b));  // due at 25: inside the step
    b.postAfter(50ms, record("b+50", b));  // due at 60: beyond it
  });
  dispatcher.advance(40ms);
  EXPECT_EQ(events, (std::vector<Event>{{"b-now", "app.sorvane.b", 10}, {"b+15", "app.sorvane.b", 25}}));
  EXPECT_EQ(dispatcher.virtualClock().elapsedMs(), 40);
  EXPECT_TRUE(dispatcher.runNext());
  EXPECT_EQ(events.back(), (Event{"b+50", "app.sorvane.b", 60}));
  EXPECT_FALSE(dispatcher.runNext());
}

TEST_F(VirtualTimeTest, RunSyncOntoAnotherQueueRunsAsThatQueue) {
  SerialQueue& a = dispatcher.queue("app.sorvane.a");
  SerialQueue& b = dispatcher.queue("app.sorvane.b");
  bool onBOnly = false, backOnA = false, mainFromTest = false;
  a.post([&] {
    b.runSync([&] { onBOnly = b.isCurrent() && !a.isCurrent(); });
    backOnA = a.isCurrent() && !b.isCurrent();
  });
  dispatcher.runUntilIdle();
  dispatcher.mainQueue().runSync([&] { mainFromTest = dispatcher.mainQueue().isCurrent(); });
  EXPECT_TRUE(onBOnly);
  EXPECT_TRUE(backOnA);
  EXPECT_TRUE(mainFromTest);
  EXPECT_FALSE(dispatcher.mainQueue().isCurrent());
}

TEST_F(VirtualTimeTest, OneShotTimerRestartReplacesAndCancelDisarms) {
  SerialQueue& main = dispatcher.mainQueue();
  OneShotTimer timer;
  timer.start(main, 100ms, record("first", main));
  dispatcher.advance(50ms);
  timer.start(main, 100ms, record("restarted", main));
  EXPECT_TRUE(timer.isRunning());
  dispatcher.advance(60ms);  // t=110: the replaced firing at 100 does nothing
  EXPECT_TRUE(events.empty());
  dispatcher.advance(40ms);  // t=150
  EXPECT_EQ(events, (std::vector<Event>{{"restarted", "main", 150}}));
  EXPECT_FALSE(timer.isRunning());

  timer.start(main, 10ms, record("cancelled", main));
  timer.cancel();
  EXPECT_FALSE(timer.isRunning());
  {
    OneShotTimer destroyed;
    destroyed.start(main, 10ms, record("destroyed", main));
  }
  dispatcher.advance(100ms);
  EXPECT_EQ(events.size(), 1u);

  // A timer may restart itself from its own firing.
  int firings = 0;
  std::function<void()> again = [&] {
    if (++firings < 3) timer.start(main, 10ms, again);
  };
  timer.start(main, 10ms, again);
  dispatcher.advance(100ms);
  EXPECT_EQ(firings, 3);
}

TEST_F(VirtualTimeTest, LivenessGuardDoesNothingOnceItsOwnerIsGone) {
  SerialQueue& main = dispatcher.mainQueue();
  auto owner = std::make_unique<LivenessToken>();
  int runs = 0;
  main.postAfter(10ms, owner->guard([&] { ++runs; }));
  main.postAfter(20ms, owner->guard([&] { ++runs; }));
  dispatcher.advance(15ms);
  EXPECT_EQ(runs, 1);
  owner.reset();
  dispatcher.advance(15ms);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(dispatcher.pendingCount(), 0u);
}

}  // namespace
}  // namespace sorvane::testing
