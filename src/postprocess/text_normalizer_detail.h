// Pieces shared by the files of the text normaliser (basic cleanup, screening, lists and
// sections, paragraphs, final formatting). Internal: only the normaliser's own files
// include this. Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace sorvane::TextNormalizer::detail {

// A recogniser sometimes returns the whole utterance twice in a row. When the text
// without its spaces has at least 8 characters, an even count and two equal halves, the
// first half (still without spaces) is the answer; otherwise the text comes back as is.
std::string collapseDoubledTranscript(std::string_view text);

inline bool hasNewline(std::string_view text) { return text.find('\n') != std::string_view::npos; }

// The list steps of normalizeFinal that have no public name of their own, in the order it
// runs them (with structureLongFormChineseSections between the second and the third).
std::string structureProcessList(const std::string& text);
std::string structureFirstNextLast(const std::string& text);
std::string structureOrdinalList(const std::string& text);

}  // namespace sorvane::TextNormalizer::detail
