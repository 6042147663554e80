#include "core/edit_distance.h"

#include <unicode/brkiter.h>

#include <memory>

#include "core/unicode_text.h"

namespace sorvane {

std::vector<std::string> text::graphemeClusters(std::string_view utf8) {
  std::vector<std::string> clusters;
  if (utf8.empty()) return clusters;
  const icu::UnicodeString text = toUnicode(utf8);
  UErrorCode status = U_ZERO_ERROR;
  thread_local std::unique_ptr<icu::BreakIterator> iterator(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (!iterator) {
    clusters.emplace_back(utf8);
    return clusters;
  }
  iterator->setText(text);
  int32_t start = iterator->first();
  for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE; start = end, end = iterator->next()) {
    clusters.push_back(toUtf8(text.tempSubStringBetween(start, end)));
  }
  return clusters;
}

std::size_t characterEditDistance(std::string_view a, std::string_view b) {
  return editDistance(text::graphemeClusters(a), text::graphemeClusters(b));
}

}  // namespace sorvane
