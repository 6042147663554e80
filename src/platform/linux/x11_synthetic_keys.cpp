#include "platform/linux/x11_synthetic_keys.h"

namespace sorvane::platform {

void X11SyntheticKeys::expect(unsigned keycode, bool press) {
  expire();
  expected_.push_back({keycode, press, clock_.monotonicNow()});
}

bool X11SyntheticKeys::consume(unsigned keycode, bool press) {
  expire();
  if (expected_.empty()) return false;
  const Entry& front = expected_.front();
  if (front.keycode != keycode || front.press != press) return false;
  expected_.pop_front();
  return true;
}

void X11SyntheticKeys::expire() {
  const auto now = clock_.monotonicNow();
  while (!expected_.empty() && now - expected_.front().at > kExpiry) expected_.pop_front();
}

}  // namespace sorvane::platform
