// The "--bench" tool: refines every sample of a manifest through the refinement
// pipeline and appends one JSON line of texts, error rates and timings per sample.
//
//   Sorvane --bench manifest.json --out results.jsonl [--profile context-guarded-v4]
//
// The manifest is {"samples": [...]}; each element needs "id" and "expected" (strings;
// an element without them is skipped) and may carry "audioPath", "rawOverride",
// "expectedFinal", "category", "locale", "source" and "context". A sample with
// "rawOverride" uses that text as the recognised transcript; any other is recognised
// from its audio file through the `FileRecognizer` port (none connected: status
// "recognizer-unavailable"). Exit status: 0 done, 2 usage, 3 speech permission refused,
// 4 manifest unreadable (with a failure line in the output file for 3 and 4).
//
// The runner is event-driven on the main queue: it starts a sample, waits for its
// recognition (at most 45 s) and its refinement (at most 20 s) without blocking, writes
// the line and posts the next sample. Each refinement has its own shared state, so a
// result that arrives after its wait gave up is dropped and never reaches a later
// sample. `finished(status)` is called once on the main queue at the end; the tool's
// front leaves its event loop there. Progress goes to `err` when `showProgress` is set
// (the front sets it when standard error is a terminal); one summary line goes to `out`.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "context/input_context.h"
#include "core/dispatch.h"
#include "core/json.h"
#include "postprocess/refine_profile.h"

namespace sorvane {

class FileRecognizer;
class TranscriptRefiner;

inline constexpr std::string_view kBenchUsage =
    "Usage: Sorvane --bench manifest.json --out results.jsonl [--profile context-guarded-v4]\n";

struct BenchmarkSample {
  std::string id;
  std::string audioPath;
  std::optional<std::string> rawOverride;
  std::string expected;
  std::string expectedFinal;
  std::string category = "uncategorized";
  std::string locale = "zh-CN";
  std::string source = "local";
  InputContext context;
};

class BenchmarkRunner {
 public:
  struct Options {
    Milliseconds refineWait{20000};
    Milliseconds recognitionWait{45000};
    bool showProgress = false;
  };

  // `recognizer` may be null. Everything handed in outlives the runner.
  BenchmarkRunner(Dispatcher& dispatcher, TranscriptRefiner& refiner, FileRecognizer* recognizer, std::ostream& out,
                  std::ostream& err, Options options);
  BenchmarkRunner(Dispatcher& dispatcher, TranscriptRefiner& refiner, FileRecognizer* recognizer, std::ostream& out,
                  std::ostream& err);
  ~BenchmarkRunner();
  BenchmarkRunner(const BenchmarkRunner&) = delete;
  BenchmarkRunner& operator=(const BenchmarkRunner&) = delete;

  // Call on the main queue, once.
  void start(std::vector<std::string> arguments, std::function<void(int status)> finished);

  // --- pieces with a meaning of their own ---
  // The argument after the first occurrence of `flag`; nothing when absent or last.
  static std::optional<std::string> valueAfter(std::string_view flag, std::span<const std::string> arguments);
  // The samples of a manifest, or nothing ("Invalid manifest").
  static std::optional<std::vector<BenchmarkSample>> loadSamples(const std::string& manifestPath);
  // Word tokens (lower-cased letters and digits) for text without Han characters;
  // otherwise every character except white space and punctuation.
  static std::vector<std::string> tokens(std::string_view text);
  // Edit distance over `reference` divided by its length; 1 when only the reference is
  // empty, 0 when both are.
  static double characterErrorRate(std::string_view reference, std::string_view hypothesis);
  static double wordErrorRate(std::string_view reference, std::string_view hypothesis);

  struct State;  // the run in progress (benchmark_runner.cpp)

 private:
  Dispatcher& dispatcher_;
  TranscriptRefiner& refiner_;
  FileRecognizer* recognizer_;
  std::ostream& out_;
  std::ostream& err_;
  Options options_;
  std::shared_ptr<State> state_;
  LivenessToken liveness_;
};

}  // namespace sorvane
