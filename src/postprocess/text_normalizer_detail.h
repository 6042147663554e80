// Pieces shared by the two halves of the text normaliser (basic cleanup in
// text_normalizer.cpp, final formatting in text_normalizer_format.cpp). Internal: only
// the normaliser's own files include this. Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace sorvane::TextNormalizer::detail {

// A recogniser sometimes returns the whole utterance twice in a row. When the text
// without its spaces has at least 8 characters, an even count and two equal halves, the
// first half (still without spaces) is the answer; otherwise the text comes back as is.
std::string collapseDoubledTranscript(std::string_view text);

}  // namespace sorvane::TextNormalizer::detail
