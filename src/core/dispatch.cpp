#include "core/dispatch.h"

namespace sorvane {

void OneShotTimer::start(SerialQueue& queue, Milliseconds delay, Task task) {
  cancel();
  armed_ = std::make_shared<bool>(true);
  queue.postAfter(delay, [armed = armed_, task = std::move(task)] {
    if (!*armed) return;
    *armed = false;
    task();
  });
}

void OneShotTimer::cancel() {
  if (armed_) *armed_ = false;
  armed_.reset();
}

}  // namespace sorvane
