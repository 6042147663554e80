#include "postprocess/worker_circuit_breaker.h"

#include <string>

#include "core/clock.h"
#include "core/log.h"

namespace sorvane {

bool WorkerCircuitBreaker::isOpen() const { return everOpened_ && clock_.monotonicNow() < openUntil_; }

void WorkerCircuitBreaker::registerFailure(Milliseconds cooldown) {
  ++failures_;
  openUntil_ = clock_.monotonicNow() + cooldown;
  everOpened_ = true;
  appLog("worker circuit breaker enabled failures=" + std::to_string(failures_) +
         " cooldownMs=" + std::to_string(cooldown.count()));
}

void WorkerCircuitBreaker::reset() {
  failures_ = 0;
  everOpened_ = false;
  openUntil_ = {};
}

}  // namespace sorvane
