// The text-rule self-checks ("--self-test-asr-guard", "-disfluency-cleanup",
// "-self-correction", "-refine-fastpath", "-gentle-paragraphs", "-murmly-format").
//
// Each check runs the text normaliser over fixed samples and prints its success line or
// its failure lines. The plain `runXxxCheck(out)` of self_checks.h uses the built-in
// samples below; the overloads here take the samples as a parameter so that a test can
// show the failure output with a deliberately wrong expectation. Pure and synchronous;
// run on the main thread before any window exists.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

struct AsrGuardCase {
  std::string_view text;
  std::optional<int64_t> flushedBytes;
  std::optional<int64_t> recordingMs;
  std::optional<bool> hintEcho;        // checked when set
  std::optional<bool> dictionaryEcho;  // checked when set (against the sample dictionary)
  bool hallucination = false;
};
int runAsrGuardCheck(std::ostream& out, std::span<const AsrGuardCase> cases,
                     std::span<const std::string_view> dictionaryTerms);

struct CleanupCase {
  std::string_view input;
  std::string_view expected;  // normalizeFinal of the input
};
int runDisfluencyCleanupCheck(std::ostream& out, std::span<const CleanupCase> cases);

struct SelfCorrectionCase {
  std::string_view input;
  std::string_view expected;  // normalizeFinal of the input
  std::vector<std::string_view> supersededTokens;
  std::vector<std::string_view> keptTokens;
};
int runSelfCorrectionCheck(std::ostream& out, std::span<const SelfCorrectionCase> cases);

struct FastpathCase {
  std::string_view text;
  bool skipsRemote = false;
};
int runRefineFastpathCheck(std::ostream& out, std::span<const FastpathCase> cases);

struct ParagraphCase {
  std::string_view input;
  // In order, the text each paragraph after the first starts with; empty: no break.
  std::vector<std::string_view> paragraphStarts;
};
int runGentleParagraphsCheck(std::ostream& out, std::span<const ParagraphCase> cases);

struct FormatCase {
  std::string_view input;
  std::string_view reference;
};
int runMurmlyFormatCheck(std::ostream& out, std::span<const FormatCase> cases);

// The formatting-insensitive comparison key of the format check: the text without any
// white space (spaces, tabs, line breaks), so line and paragraph layout and the spacing
// between Chinese and Latin words do not count, while every word, digit and mark does.
std::string formatComparisonKey(std::string_view text);

}  // namespace sorvane
