#include "app/turn_adapters.h"

#include "context/context_collector.h"
#include "learning/mirla_feedback_analyzer.h"
#include "postprocess/refine_profile.h"
#include "speech/speech_engine.h"

namespace sorvane {
namespace {

class EngineSpeech final : public TurnSpeech {
 public:
  explicit EngineSpeech(SpeechEngine& e) : e_(e) {}
  void requestPermissions(std::function<void(bool)> completion) override { e_.requestPermissions(std::move(completion)); }
  std::optional<std::string> start() override {
    if (auto error = e_.start()) return error->description;
    return std::nullopt;
  }
  void stop(std::function<void(std::string)> completion) override { e_.stop(0, std::move(completion)); }
  void cancelCapture() override { e_.cancelCapture(); }
  std::optional<std::string> saveLastAudio(const std::string& turnID) override { return e_.saveLastAudio(turnID); }
  std::string provider() const override { return e_.provider(); }

 private:
  SpeechEngine& e_;
};

class CollectorContext final : public TurnContextSource {
 public:
  explicit CollectorContext(std::shared_ptr<ContextCollector> c) : c_(std::move(c)) {}
  InputContext collect() override { return c_->collect(); }
  InputContext collectAgain() override { return c_->collect(nullptr, kContextRetryBudget); }
  std::optional<Rect> targetScreenForFrontmostWindow() override { return c_->targetScreenForFrontmostWindow(); }
  std::optional<Rect> screenContainingMouse() override { return c_->screenContainingMouse(); }

 private:
  std::shared_ptr<ContextCollector> c_;
};

class Refiner final : public TurnRefiner {
 public:
  explicit Refiner(TranscriptRefiner& r) : r_(r), profile_(RefineProfile::named()) {}
  void refine(const std::string& raw, const InputContext& c, Completion done) override {
    r_.refine(raw, c, profile_, std::move(done));
  }
  void translateToEnglish(const std::string& raw, const InputContext& c, Completion done) override {
    r_.translateToEnglish(raw, c, profile_, std::move(done));
  }
  void stylize(const std::string& raw, VoiceStylePreset preset, const InputContext& c, Completion done) override {
    r_.stylize(raw, preset, c, profile_, std::move(done));
  }

 private:
  TranscriptRefiner& r_;
  RefineProfile profile_;
};

class Inserter final : public TurnInserter {
 public:
  explicit Inserter(TextInserter& i) : i_(i) {}
  void paste(const std::string& text, std::function<void(PasteOutcome)> done) override { i_.paste(text, std::move(done)); }
  bool hasPendingRestore() const override { return i_.hasPendingRestore(); }
  void finishPendingRestore() override { i_.finishPendingRestore(); }

 private:
  TextInserter& i_;
};

class Store final : public TurnStore {
 public:
  explicit Store(MirlaDataStore& s) : s_(s) {}
  void recordTurn(const MirlaTurnRecord& t, const TurnMetrics& m) override { s_.recordTurn(t, m); }
  std::vector<std::string> dictionaryTermTexts() override { return s_.dictionaryTermTexts(); }
  std::vector<std::string> newDictionaryTerms(std::span<const std::string> c) override {
    return s_.newDictionaryTerms(c);
  }
  std::optional<LearningResult> learnFromEdit(std::string_view raw, std::string_view fin, std::string_view edited,
                                              const InputContext& c, std::optional<std::string> turnID,
                                              std::optional<std::string> audio, std::string_view trigger,
                                              const std::optional<MirlaFeedbackAnalysis>& a) override {
    return s_.learnFromEdit(raw, fin, edited, c, std::move(turnID), std::move(audio), trigger, a);
  }
  std::optional<LearningResult> confirmPassiveDictionaryTerms(std::span<const std::string> terms, std::string_view raw,
                                                              std::string_view fin, const InputContext& c,
                                                              std::optional<std::string> turnID,
                                                              std::optional<std::string> audio,
                                                              const MirlaFeedbackAnalysis& a) override {
    return s_.confirmPassiveDictionaryTerms(terms, raw, fin, c, std::move(turnID), std::move(audio), a);
  }

 private:
  MirlaDataStore& s_;
};

class Analyzer final : public TurnFeedbackAnalyzer {
 public:
  explicit Analyzer(MirlaFeedbackAnalyzer& a) : a_(a) {}
  void analyzeEdit(const std::string& raw, const std::string& fin, const std::string& edited, const InputContext& c,
                   Completion done) override {
    a_.analyzeEdit(raw, fin, edited, c, std::move(done));
  }
  void auditPassive(const std::string& raw, const std::string& fin, const InputContext& c, Completion done) override {
    a_.auditPassive(raw, fin, c, std::move(done));
  }

 private:
  MirlaFeedbackAnalyzer& a_;
};

}  // namespace

std::unique_ptr<TurnSpeech> makeTurnSpeech(SpeechEngine& engine) { return std::make_unique<EngineSpeech>(engine); }
std::shared_ptr<TurnContextSource> makeTurnContextSource(std::shared_ptr<ContextCollector> collector) {
  return std::make_shared<CollectorContext>(std::move(collector));
}
std::unique_ptr<TurnRefiner> makeTurnRefiner(TranscriptRefiner& refiner) { return std::make_unique<Refiner>(refiner); }
std::unique_ptr<TurnInserter> makeTurnInserter(TextInserter& inserter) { return std::make_unique<Inserter>(inserter); }
std::unique_ptr<TurnStore> makeTurnStore(MirlaDataStore& store) { return std::make_unique<Store>(store); }
std::unique_ptr<TurnFeedbackAnalyzer> makeTurnFeedbackAnalyzer(MirlaFeedbackAnalyzer& analyzer) {
  return std::make_unique<Analyzer>(analyzer);
}

}  // namespace sorvane
