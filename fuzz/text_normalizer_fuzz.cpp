// Arbitrary bytes through the basic cleanup and the final formatter: neither may crash,
// and both must give valid UTF-8 and the same answer twice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/unicode_text.h"
#include "postprocess/text_normalizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  namespace tn = sorvane::TextNormalizer;
  const std::string basic = tn::normalizeInput(input);
  const std::string final = tn::normalizeFinal(input);
  if (sorvane::text::sanitizeUtf8(basic) != basic || sorvane::text::sanitizeUtf8(final) != final) std::abort();
  if (tn::normalizeFinal(input) != final) std::abort();
  tn::shouldSkipRemoteRefine(input);
  tn::isLikelyEmptySpeechHallucination(input, static_cast<int64_t>(size), 1000);
  return 0;
}
