// Table-driven checks of a text function: each row is an input and the output expected
// for it; a failing row names its input.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace sorvane::testing {

struct Pair {
  const char* input;
  const char* expected;
};

inline void expectPairs(std::string (*function)(std::string_view), const std::vector<Pair>& pairs) {
  for (const Pair& pair : pairs) {
    EXPECT_EQ(function(pair.input), pair.expected) << "input: " << pair.input;
  }
}

}  // namespace sorvane::testing
