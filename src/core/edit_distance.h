// Levenshtein distance (insert, delete, substitute, each costing 1) over any sequence,
// and over the user-perceived characters of a text.
//
// Used wherever two texts are compared by how many edits separate them: the benchmark's
// error rates and the term learner's similarity. Pure, any queue.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

template <typename T>
std::size_t editDistance(std::span<const T> a, std::span<const T> b) {
  if (a.size() < b.size()) std::swap(a, b);
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

template <typename T>
std::size_t editDistance(const std::vector<T>& a, const std::vector<T>& b) {
  return editDistance(std::span<const T>(a), std::span<const T>(b));
}

// The distance between two texts counted in characters (grapheme clusters).
std::size_t characterEditDistance(std::string_view a, std::string_view b);

}  // namespace sorvane
