// The lifetime of the loopback server programs: a program serves (on its servers' own
// threads) until its standard input closes, which is how the script that started it ends
// it, or until `seconds` have passed, so a forgotten server never outlives a test run.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <chrono>

namespace sorvane::testing {

inline void serveUntilStdinCloses(int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, 200) > 0) {
      char buffer[256];
      if (::read(STDIN_FILENO, buffer, sizeof(buffer)) <= 0) return;
    }
  }
}

}  // namespace sorvane::testing
