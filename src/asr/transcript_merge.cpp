#include "asr/transcript_merge.h"

#include <algorithm>

#include "core/unicode_text.h"

namespace sorvane {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Latin words run into each other without a space; Chinese text is joined as it is.
bool shouldSeparate(std::string_view base, std::string_view suffix) {
  return !base.empty() && !suffix.empty() && isAsciiLetter(base.back()) && isAsciiLetter(suffix.front());
}

}  // namespace

std::string mergeTranscript(std::string_view baseText, std::string_view suffixText) {
  const std::string base = text::trim(baseText);
  const std::string suffix = text::trim(suffixText);
  if (base.empty()) return suffix;
  if (suffix.empty()) return base;
  if (text::endsWith(base, suffix)) return base;
  if (text::startsWith(suffix, base)) return suffix;
  const std::size_t longest =
      std::min({text::graphemeCount(base), text::graphemeCount(suffix), kMaxTranscriptOverlapChars});
  for (std::size_t k = longest; k >= 1; --k) {
    const std::string head = text::graphemePrefix(suffix, k);
    if (text::graphemeSuffix(base, k) == head) return base + suffix.substr(head.size());
  }
  return shouldSeparate(base, suffix) ? base + " " + suffix : base + suffix;
}

std::string bestTranscriptCandidate(std::string_view text, std::string_view stash, std::string_view delta,
                                    std::string_view previous) {
  std::string base = text::trim(text);
  if (base.empty()) base = text::trim(previous);
  if (!text::isBlank(stash)) return mergeTranscript(base, stash);
  if (!text::isBlank(delta)) return mergeTranscript(base, delta);
  return base;
}

std::string LiveTranscript::joinedFinals() const { return text::trim(text::join(finalParts_, " ")); }

void LiveTranscript::mergeFinal(std::string_view textIn) {
  const std::string t = text::trim(textIn);
  if (t.empty()) return;
  const std::string joined = joinedFinals();
  if (joined == t || text::endsWith(joined, t)) return;
  if (!joined.empty() && text::startsWith(t, joined) && t.size() > joined.size()) {
    finalParts_ = {t};
    return;
  }
  finalParts_.push_back(t);
}

std::string LiveTranscript::current() const {
  const std::string joined = joinedFinals();
  const std::string interim = text::trim(interim_);
  if (joined.empty()) return interim;
  if (!interim.empty() && !text::endsWith(joined, interim)) return joined + " " + interim;
  return joined;
}

}  // namespace sorvane
