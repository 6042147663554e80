// Pure transcript assembly of the realtime recognisers.
//
// The realtime service reports a turn as confirmed text plus a pending "stash" (or a
// "delta"); `bestTranscriptCandidate` joins them into the best running text without
// repeating what overlaps. The live service reports final and interim results;
// `LiveTranscript` keeps the finals in order, replaces a final that the server re-sent
// extended, and shows the latest interim after them. Character counts are user-perceived
// characters. Pure; any queue.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

// The longest overlap between the end of a text and the start of its suffix that is
// looked for.
inline constexpr std::size_t kMaxTranscriptOverlapChars = 24;

// Both trimmed first; see the header comment.
std::string mergeTranscript(std::string_view base, std::string_view suffix);
std::string bestTranscriptCandidate(std::string_view text, std::string_view stash, std::string_view delta,
                                    std::string_view previous);

class LiveTranscript {
 public:
  // Adds a final result (trimmed; empty and repeated finals change nothing).
  void mergeFinal(std::string_view text);
  void setInterim(std::string_view text) { interim_ = std::string(text); }
  void clearInterim() { interim_.clear(); }
  // The finals joined with spaces, then the interim when it is not already at their end.
  std::string current() const;
  const std::vector<std::string>& finalParts() const { return finalParts_; }

 private:
  std::string joinedFinals() const;

  std::vector<std::string> finalParts_;
  std::string interim_;
};

}  // namespace sorvane
