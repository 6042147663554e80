#include "core/edit_distance.h"

#include "core/unicode_text.h"

namespace sorvane {

std::size_t characterEditDistance(std::string_view a, std::string_view b) {
  return editDistance(text::graphemeClusters(a), text::graphemeClusters(b));
}

}  // namespace sorvane
