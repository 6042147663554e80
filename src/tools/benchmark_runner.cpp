#include "tools/benchmark_runner.h"

#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <utility>

#include "core/clock.h"
#include "core/edit_distance.h"
#include "core/unicode_text.h"
#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/transcript_refiner.h"
#include "tools/file_recognizer.h"

namespace sorvane {
namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

int64_t msBetween(SteadyTime from, SteadyTime to) {
  return std::chrono::duration_cast<Milliseconds>(to - from).count();
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return buffer.str();
}

// Replaces the file's content with nothing, through a rename so a reader never sees a
// half-written file.
bool createEmpty(const std::string& path) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool appendJSONLine(const Json& object, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  if (!out) return false;
  out << toJsonLine(object) << '\n';
  return static_cast<bool>(out);
}

void writeFailure(const std::string& outputPath, std::string_view reason, int64_t nowMs) {
  appendJSONLine(Json{{"status", "failed"}, {"reason", std::string(reason)}, {"createdAtMs", nowMs}}, outputPath);
}

bool containsHan(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    UErrorCode status = U_ZERO_ERROR;
    if (c >= 0 && uscript_getScript(c, &status) == USCRIPT_HAN) return true;
  }
  return false;
}

UChar32 firstCodePoint(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  int32_t i = 0;
  UChar32 c = -1;
  if (!text.empty()) U8_NEXT(bytes, i, static_cast<int32_t>(text.size()), c);
  return c;
}

bool isWordCharacter(UChar32 c) { return u_isalnum(c) || (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0; }

double rate(std::size_t distance, std::size_t referenceLength, bool hypothesisEmpty) {
  if (referenceLength == 0) return hypothesisEmpty ? 0.0 : 1.0;
  return static_cast<double>(distance) / static_cast<double>(referenceLength);
}

std::string fixed(double value, int digits) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(digits) << value;
  return out.str();
}

struct Transcription {
  std::string text;
  std::string status;
  std::string error;
};

// One recognition in progress: settled once, by its last update or by the wait.
struct Recognition {
  Transcription result{"", "unknown", ""};
  bool settled = false;
  std::unique_ptr<FileRecognitionTask> task;
  OneShotTimer timer;
  std::function<void(Transcription)> done;
};

// One refinement in progress: its result counts only while it is not settled.
struct PendingRefine {
  bool settled = false;
  OneShotTimer timer;
};

}  // namespace

struct BenchmarkRunner::State {
  std::vector<std::string> arguments;
  std::string outputPath;
  RefineProfile profile;
  std::vector<BenchmarkSample> samples;
  std::size_t next = 0;
  std::function<void(int)> finished;
  SteadyTime startedAt;
  SteadyTime lastProgress;
  double rawCER = 0, finalCER = 0, rawWER = 0, finalWER = 0;
  int64_t refineMs = 0;
  std::size_t written = 0;
};

BenchmarkRunner::BenchmarkRunner(Dispatcher& dispatcher, TranscriptRefiner& refiner, FileRecognizer* recognizer,
                                 std::ostream& out, std::ostream& err, Options options)
    : dispatcher_(dispatcher),
      refiner_(refiner),
      recognizer_(recognizer),
      out_(out),
      err_(err),
      options_(options),
      state_(std::make_shared<State>()) {}

BenchmarkRunner::BenchmarkRunner(Dispatcher& dispatcher, TranscriptRefiner& refiner, FileRecognizer* recognizer,
                                 std::ostream& out, std::ostream& err)
    : BenchmarkRunner(dispatcher, refiner, recognizer, out, err, Options{}) {}

BenchmarkRunner::~BenchmarkRunner() = default;

std::optional<std::string> BenchmarkRunner::valueAfter(std::string_view flag, std::span<const std::string> arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] != flag) continue;
    if (i + 1 < arguments.size()) return arguments[i + 1];
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::vector<BenchmarkSample>> BenchmarkRunner::loadSamples(const std::string& manifestPath) {
  auto content = readFile(manifestPath);
  if (!content) return std::nullopt;
  auto manifest = parseJsonObject(*content);
  if (!manifest) return std::nullopt;
  auto list = manifest->find("samples");
  if (list == manifest->end() || !list->is_array()) return std::nullopt;
  std::vector<BenchmarkSample> samples;
  for (const Json& element : *list) {
    if (!element.is_object()) continue;
    auto id = jsonString(element, "id");
    auto expected = jsonString(element, "expected");
    if (!id || !expected) continue;
    BenchmarkSample sample;
    sample.id = *id;
    sample.expected = *expected;
    sample.expectedFinal = jsonString(element, "expectedFinal").value_or(*expected);
    sample.audioPath = jsonString(element, "audioPath").value_or("");
    sample.rawOverride = jsonString(element, "rawOverride");
    sample.category = jsonString(element, "category").value_or(sample.category);
    sample.locale = jsonString(element, "locale").value_or(sample.locale);
    sample.source = jsonString(element, "source").value_or(sample.source);
    auto context = element.find("context");
    sample.context = InputContext::synthetic(context == element.end() ? std::nullopt : std::optional<Json>(*context));
    samples.push_back(std::move(sample));
  }
  return samples;
}

std::vector<std::string> BenchmarkRunner::tokens(std::string_view text) {
  std::vector<std::string> result;
  if (containsHan(text)) {
    for (std::string& cluster : text::graphemeClusters(text)) {
      const UChar32 c = firstCodePoint(cluster);
      if (c < 0 || u_isUWhiteSpace(c) || u_ispunct(c)) continue;
      result.push_back(std::move(cluster));
    }
    return result;
  }
  const std::string lower = text::toLower(text);
  const auto* bytes = reinterpret_cast<const uint8_t*>(lower.data());
  const auto length = static_cast<int32_t>(lower.size());
  std::string word;
  for (int32_t i = 0; i < length;) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c >= 0 && isWordCharacter(c)) {
      word.append(lower, static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
    } else if (!word.empty()) {
      result.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) result.push_back(std::move(word));
  return result;
}

double BenchmarkRunner::characterErrorRate(std::string_view reference, std::string_view hypothesis) {
  return rate(characterEditDistance(reference, hypothesis), text::graphemeCount(reference), hypothesis.empty());
}

double BenchmarkRunner::wordErrorRate(std::string_view reference, std::string_view hypothesis) {
  const auto ref = tokens(reference);
  const auto hyp = tokens(hypothesis);
  return rate(editDistance(ref, hyp), ref.size(), hyp.empty());
}

namespace {

// The steps of a run, each on the main queue. Every continuation holds the run's state
// and the runner's liveness, so a runner destroyed mid-run stops quietly.
struct Step {
  Dispatcher& dispatcher;
  TranscriptRefiner& refiner;
  FileRecognizer* recognizer;
  std::ostream& out;
  std::ostream& err;
  BenchmarkRunner::Options options;
  std::shared_ptr<BenchmarkRunner::State> state;
  std::weak_ptr<void> alive;

  const Clock& clock() const { return dispatcher.clock(); }

  void finish(int status) const {
    if (options.showProgress && !state->samples.empty()) err << "\n";
    err.flush();
    auto finished = std::move(state->finished);
    state->finished = nullptr;
    if (finished) finished(status);
  }

  void progress(bool last) const {
    if (!options.showProgress) return;
    const SteadyTime now = clock().monotonicNow();
    if (!last && now - state->lastProgress < Milliseconds(100)) return;
    state->lastProgress = now;
    const double elapsed = static_cast<double>(msBetween(state->startedAt, now)) / 1000.0;
    const std::size_t done = state->written;
    const std::size_t total = state->samples.size();
    const double remaining = done == 0 ? 0.0 : elapsed / static_cast<double>(done) * static_cast<double>(total - done);
    err << "\rbench " << done << "/" << total << " elapsed " << fixed(elapsed, 1) << "s remaining ~"
        << fixed(remaining, 1) << "s   " << std::flush;
  }

  void summary() const {
    const double n = static_cast<double>(std::max<std::size_t>(state->written, 1));
    out << "bench summary samples=" << state->written << " rawCER=" << fixed(state->rawCER / n, 4)
        << " finalCER=" << fixed(state->finalCER / n, 4) << " rawWER=" << fixed(state->rawWER / n, 4)
        << " finalWER=" << fixed(state->finalWER / n, 4) << " refineMsMean=" << fixed(state->refineMs / n, 1)
        << " output=" << state->outputPath << "\n";
    out.flush();
  }

  void scheduleNext() const {
    dispatcher.mainQueue().post([step = *this] {
      if (step.alive.lock()) step.runNext();
    });
  }

  void runNext() const {
    if (state->next >= state->samples.size()) {
      progress(true);
      summary();
      return finish(0);
    }
    const BenchmarkSample& sample = state->samples[state->next++];
    const SteadyTime t0 = clock().monotonicNow();
    transcribe(sample, [step = *this, &sample, t0](Transcription transcription) {
      if (!step.alive.lock()) return;
      step.refine(sample, std::move(transcription), t0);
    });
  }

  void transcribe(const BenchmarkSample& sample, std::function<void(Transcription)> done) const {
    if (sample.rawOverride) return done({*sample.rawOverride, "raw-override", ""});
    if (!recognizer) return done({"", "recognizer-unavailable", ""});
    auto recognition = std::make_shared<Recognition>();
    recognition->done = std::move(done);
    std::weak_ptr<Recognition> weak = recognition;
    SerialQueue& main = dispatcher.mainQueue();
    auto settle = [&main](const std::shared_ptr<Recognition>& r) {
      r->settled = true;
      r->timer.cancel();
      // The task may be reporting right now: let it return before it is destroyed.
      main.post([task = std::shared_ptr<FileRecognitionTask>(std::move(r->task))] {});
      auto callback = std::move(r->done);
      callback(r->result);
    };
    recognition->task = recognizer->start(sample.audioPath, sample.locale, main, [weak, settle](FileRecognitionUpdate u) {
      auto r = weak.lock();
      if (!r || r->settled) return;
      if (!u.text.empty()) r->result.text = u.text;
      if (u.error) {
        r->result.error = *u.error;
        r->result.status = r->result.text.empty() ? "error" : "partial-with-error";
        settle(r);
      } else if (u.isFinal) {
        r->result.status = "final";
        settle(r);
      }
    });
    if (recognition->settled) return;
    if (!recognition->task) {
      recognition->settled = true;
      auto callback = std::move(recognition->done);
      return callback({"", "recognizer-unavailable", ""});
    }
    recognition->timer.start(main, options.recognitionWait, [recognition, settle] {
      if (recognition->settled) return;
      recognition->result.status = "timeout";
      settle(recognition);
    });
  }

  void refine(const BenchmarkSample& sample, Transcription transcription, SteadyTime t0) const {
    const SteadyTime speechDone = clock().monotonicNow();
    const std::string raw = TextNormalizer::normalizeInput(transcription.text);
    auto pending = std::make_shared<PendingRefine>();
    auto complete = [step = *this, &sample, transcription, raw, t0, speechDone, pending](TranscriptRefiner::Result r) {
      if (pending->settled) return;  // the wait already gave up on this one
      pending->settled = true;
      pending->timer.cancel();
      if (!step.alive.lock()) return;
      step.write(sample, transcription, raw, std::move(r), t0, speechDone);
    };
    refiner.refine(raw, sample.context, state->profile, complete);
    if (pending->settled) return;
    pending->timer.start(dispatcher.mainQueue(), options.refineWait, [complete, profileID = state->profile.id] {
      complete(TranscriptRefiner::Result{"", "refine-timeout", profileID});
    });
  }

  void write(const BenchmarkSample& sample, const Transcription& transcription, const std::string& raw,
             TranscriptRefiner::Result refined, SteadyTime t0, SteadyTime speechDone) const {
    const SteadyTime now = clock().monotonicNow();
    const std::string final = TextNormalizer::normalizeFinal(refined.text);
    const std::string expected = TextNormalizer::normalizeFinal(sample.expected);
    const std::string expectedFinal = TextNormalizer::normalizeFinal(sample.expectedFinal);
    const double rawCER = BenchmarkRunner::characterErrorRate(expected, raw);
    const double finalCER = BenchmarkRunner::characterErrorRate(expectedFinal, final);
    const double rawWER = BenchmarkRunner::wordErrorRate(expected, raw);
    const double finalWER = BenchmarkRunner::wordErrorRate(expectedFinal, final);
    const int64_t refineMs = msBetween(speechDone, now);
    Json line = {
        {"id", sample.id},
        {"audioPath", sample.audioPath},
        {"source", sample.source},
        {"category", sample.category},
        {"locale", sample.locale},
        {"profile", state->profile.id},
        {"contextScene", std::string(sample.context.scene())},
        {"contextChars", static_cast<int64_t>(contextChars(sample.context))},
        {"expected", expected},
        {"expectedFinal", expectedFinal},
        {"raw", raw},
        {"refined", final},
        {"provider", refined.provider},
        {"profileID", refined.profileID},
        {"speechStatus", transcription.status},
        {"speechError", transcription.error},
        {"speechMs", msBetween(t0, speechDone)},
        {"refineMs", refineMs},
        {"totalMs", msBetween(t0, now)},
        {"rawCER", rawCER},
        {"finalCER", finalCER},
        {"rawWER", rawWER},
        {"finalWER", finalWER},
        {"createdAtMs", clock().wallMilliseconds()},
    };
    if (!appendJSONLine(line, state->outputPath)) {
      err << "bench: cannot append to " << state->outputPath << "\n";
    }
    state->rawCER += rawCER;
    state->finalCER += finalCER;
    state->rawWER += rawWER;
    state->finalWER += finalWER;
    state->refineMs += refineMs;
    ++state->written;
    progress(state->written == state->samples.size());
    scheduleNext();
  }
};

}  // namespace

void BenchmarkRunner::start(std::vector<std::string> arguments, std::function<void(int status)> finished) {
  State& state = *state_;
  state.arguments = std::move(arguments);
  state.finished = std::move(finished);
  Step step{dispatcher_, refiner_, recognizer_, out_, err_, options_, state_, liveness_.weak()};

  auto manifestPath = valueAfter("--bench", state.arguments);
  auto outputPath = valueAfter("--out", state.arguments);
  if (!manifestPath || !outputPath) {
    err_ << kBenchUsage;
    return step.finish(2);
  }
  state.outputPath = *outputPath;
  auto profileName = valueAfter("--profile", state.arguments);
  state.profile = profileName ? RefineProfile::named(*profileName) : RefineProfile::named();

  auto samples = loadSamples(*manifestPath);
  if (!samples) {
    writeFailure(state.outputPath, "Invalid manifest", dispatcher_.clock().wallMilliseconds());
    err_ << "bench: Invalid manifest " << *manifestPath << "\n";
    return step.finish(4);
  }
  state.samples = std::move(*samples);

  const bool needsSpeech = std::any_of(state.samples.begin(), state.samples.end(),
                                       [](const BenchmarkSample& s) { return !s.rawOverride.has_value(); });
  if (needsSpeech && recognizer_ && !recognizer_->requestPermission()) {
    writeFailure(state.outputPath, "speech-permission-denied", dispatcher_.clock().wallMilliseconds());
    return step.finish(3);
  }
  if (!createEmpty(state.outputPath)) {
    err_ << "bench: cannot write " << state.outputPath << "\n";
    return step.finish(1);
  }
  state.startedAt = dispatcher_.clock().monotonicNow();
  state.lastProgress = state.startedAt - Milliseconds(1000);
  step.runNext();
}

}  // namespace sorvane
