// Sample data and inner form of the recogniser self-check (--self-test-qwen-stash): the
// choice of the best transcript from confirmed text, pending stash and latest delta.
//
// `runQwenStashCheck(out)` of self_checks.h runs the six built-in cases; tests pass their
// own (including a deliberately wrong expectation) to see the failure line. Pure logic;
// runs on the main thread before any window exists.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace sorvane {

struct QwenStashCase {
  std::string text;
  std::string stash;
  std::string delta;
  std::string previous;
  std::string expected;
};

int runQwenStashCheck(std::ostream& out, std::span<const QwenStashCase> cases);
std::vector<QwenStashCase> defaultQwenStashCases();

}  // namespace sorvane
