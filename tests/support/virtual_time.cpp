#include "support/virtual_time.h"

namespace sorvane::testing {

class VirtualDispatcher::Queue final : public SerialQueue {
 public:
  Queue(VirtualDispatcher& owner, std::string label) : owner_(owner), label_(std::move(label)) {}
  const std::string& label() const override { return label_; }
  void post(Task task) override { owner_.schedule(this, owner_.clock_.elapsedMs(), std::move(task)); }
  void postAfter(Milliseconds delay, Task task) override {
    owner_.schedule(this, owner_.clock_.elapsedMs() + std::max<int64_t>(0, delay.count()), std::move(task));
  }
  void runSync(const Task& task) override {
    Queue* previous = owner_.current_;
    owner_.current_ = this;
    task();
    owner_.current_ = previous;
  }
  bool isCurrent() const override { return owner_.current_ == this; }

 private:
  VirtualDispatcher& owner_;
  std::string label_;
};

VirtualDispatcher::VirtualDispatcher() : main_(std::make_unique<Queue>(*this, "main")) {}
VirtualDispatcher::~VirtualDispatcher() = default;

SerialQueue& VirtualDispatcher::mainQueue() { return *main_; }

SerialQueue& VirtualDispatcher::queue(std::string_view label) {
  auto it = queues_.find(label);
  if (it == queues_.end()) {
    it = queues_.emplace(std::string(label), std::make_unique<Queue>(*this, std::string(label))).first;
  }
  return *it->second;
}

void VirtualDispatcher::schedule(Queue* queue, int64_t dueMs, Task task) {
  pending_.emplace(std::make_pair(dueMs, sequence_++), Pending{queue, std::move(task)});
}

void VirtualDispatcher::runOne(std::multimap<std::pair<int64_t, uint64_t>, Pending>::iterator it) {
  clock_.setElapsed(std::max(clock_.elapsedMs(), it->first.first));
  Pending pending = std::move(it->second);
  pending_.erase(it);
  Queue* previous = current_;
  current_ = pending.queue;
  pending.task();
  current_ = previous;
}

void VirtualDispatcher::runUntilIdle() {
  while (!pending_.empty() && pending_.begin()->first.first <= clock_.elapsedMs()) runOne(pending_.begin());
}

void VirtualDispatcher::advance(Milliseconds delta) {
  const int64_t target = clock_.elapsedMs() + delta.count();
  while (!pending_.empty() && pending_.begin()->first.first <= target) runOne(pending_.begin());
  clock_.setElapsed(target);
}

bool VirtualDispatcher::runNext() {
  if (pending_.empty()) return false;
  runOne(pending_.begin());
  return true;
}

}  // namespace sorvane::testing
