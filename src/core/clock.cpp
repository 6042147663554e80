#include "core/clock.h"

namespace sorvane {

int64_t currentMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

SystemClock& SystemClock::instance() {
  static SystemClock clock;
  return clock;
}

}  // namespace sorvane
