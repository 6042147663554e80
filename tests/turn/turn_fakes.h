// Fakes of the turn controller's and edit observer's collaborators. Completions are
// held until the test releases them, and then delivered on the main queue like the real
// components do.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "turn/turn_ports.h"
#include "core/dispatch.h"
#include "core/turn_metrics.h"

namespace sorvane::testing {

class FakeTurnSpeech final : public TurnSpeech {
 public:
  explicit FakeTurnSpeech(Dispatcher& d) : d_(d) {}
  void requestPermissions(std::function<void(bool)> completion) override {
    ++permissionRequests;
    d_.mainQueue().post([completion, granted = permissionAnswer] { completion(granted); });
  }
  std::optional<std::string> start() override {
    ++starts;
    return startError;
  }
  void stop(std::function<void(std::string)> completion) override { stopCompletions.push_back(std::move(completion)); }
  void cancelCapture() override { ++cancels; }
  std::optional<std::string> saveLastAudio(const std::string& turnID) override {
    savedIDs.push_back(turnID);
    return "/audio/" + turnID + ".wav";
  }
  std::string provider() const override { return providerName; }

  // Delivers the oldest pending transcript.
  void finish(std::string raw) {
    auto completion = std::move(stopCompletions.front());
    stopCompletions.pop_front();
    d_.mainQueue().post([completion, raw] { completion(raw); });
  }

  bool permissionAnswer = true;
  std::optional<std::string> startError;
  std::string providerName = "qwen3-asr-flash-realtime";
  int permissionRequests = 0, starts = 0, cancels = 0;
  std::deque<std::function<void(std::string)>> stopCompletions;
  std::vector<std::string> savedIDs;

 private:
  Dispatcher& d_;
};

class FakeTurnContext final : public TurnContextSource {
 public:
  InputContext collect() override {
    ++collects;
    if (script.empty()) return context;
    InputContext next = script.front();
    if (script.size() > 1) script.pop_front();
    return next;
  }
  InputContext collectAgain() override {
    ++collectsAgain;
    return collect();
  }
  std::optional<Rect> targetScreenForFrontmostWindow() override { return frontScreen; }
  std::optional<Rect> screenContainingMouse() override { return mouseScreen; }

  InputContext context;
  std::deque<InputContext> script;  // successive collections (the last repeats)
  int collectsAgain = 0;
  std::optional<Rect> frontScreen = Rect{0, 0, 1512, 982};
  std::optional<Rect> mouseScreen = Rect{0, 0, 1512, 982};
  int collects = 0;
};

class FakeTurnRefiner final : public TurnRefiner {
 public:
  struct Call {
    std::string kind;
    std::string raw;
    InputContext context;
    Completion completion;
  };
  explicit FakeTurnRefiner(Dispatcher& d) : d_(d) {}
  void refine(const std::string& raw, const InputContext& c, Completion done) override {
    calls.push_back({"refine", raw, c, std::move(done)});
  }
  void translateToEnglish(const std::string& raw, const InputContext& c, Completion done) override {
    calls.push_back({"translate", raw, c, std::move(done)});
  }
  void stylize(const std::string& raw, VoiceStylePreset preset, const InputContext& c, Completion done) override {
    calls.push_back({"stylize:" + std::string(preset.key()), raw, c, std::move(done)});
  }
  void complete(std::size_t index, std::string text, std::string provider = "deepseek-direct") {
    auto done = calls.at(index).completion;
    d_.mainQueue().post([done, text, provider] {
      done(TranscriptRefiner::Result{text, provider, "context-policy-v7-murmly-structured"});
    });
  }
  std::vector<Call> calls;

 private:
  Dispatcher& d_;
};

class FakeTurnInserter final : public TurnInserter {
 public:
  explicit FakeTurnInserter(Dispatcher& d) : d_(d) {}
  void paste(const std::string& text, std::function<void(PasteOutcome)> completion) override {
    pasted.push_back(text);
    pending = std::move(completion);
    if (autoOutcome) release(*autoOutcome);
  }
  void release(PasteOutcome outcome) {
    auto done = std::exchange(pending, nullptr);
    d_.mainQueue().postAfter(pasteDelay, [done, outcome] { done(outcome); });
  }
  bool hasPendingRestore() const override { return static_cast<bool>(pending); }
  void finishPendingRestore() override {
    ++restoresRun;
    if (pending) release(PasteOutcome::fellBack);
  }
  std::vector<std::string> pasted;
  std::function<void(PasteOutcome)> pending;
  std::optional<PasteOutcome> autoOutcome = PasteOutcome::pasted;
  Milliseconds pasteDelay{50};
  int restoresRun = 0;

 private:
  Dispatcher& d_;
};

// Records every HUD call as one short line.
class FakeTurnWindows final : public TurnWindows {
 public:
  std::optional<Rect> mainScreen() override { return Rect{0, 0, 1512, 982}; }
  void placeOverlay(const Rect& f) override { lastOverlayFrame = f; }
  void showRecording(const RecordingMode& m) override { add("recording " + std::string(m.metricValue())); }
  void updateRecordingMode(const RecordingMode& m) override { add("mode " + std::string(m.metricValue())); }
  void showProcessing(const RecordingMode& m) override { add("processing " + std::string(m.metricValue())); }
  void hideOverlay() override { add("hideOverlay"); }
  std::optional<std::string> showBadge(const InputContext&, const std::optional<Rect>&) override {
    add("badge");
    return std::string("caret");
  }
  void hideBadge() override {}
  void showCopyPanel(const std::string& text) override { add("copyPanel " + text); }
  void showModePalette(const std::optional<Rect>&) override { add("palette"); }
  void hideModePalette() override { add("hidePalette"); }
  void highlightPreset(std::optional<VoiceStylePreset> p) override {
    add("highlight " + (p ? std::string(p->key()) : std::string("none")));
  }
  void refreshDashboard() override { ++dashboardRefreshes; }
  void rebuildStatusMenu(const StatusMenuState& s) override { lastMenu = s; }
  void beep() override { add("beep"); }
  void showLearningNotice(const std::string& title, const std::string& message, const std::optional<Rect>&) override {
    add("notice " + title + " " + message);
  }
  void askLearningConfirmation(const std::string& title, const std::string& message, std::function<void()> confirm,
                               const std::optional<Rect>&) override {
    add("ask " + title + " " + message);
    confirmAction = std::move(confirm);
  }
  int count(const std::string& event) const {
    int n = 0;
    for (const auto& e : events) n += e == event;
    return n;
  }

  std::vector<std::string> events;
  std::optional<Rect> lastOverlayFrame;
  StatusMenuState lastMenu;
  std::function<void()> confirmAction;
  int dashboardRefreshes = 0;

 private:
  void add(std::string e) { events.push_back(std::move(e)); }
};

class FakeTurnStore final : public TurnStore {
 public:
  void recordTurn(const MirlaTurnRecord& turn, const TurnMetrics&) override { turns.push_back(turn); }
  std::vector<std::string> dictionaryTermTexts() override { return terms; }
  std::vector<std::string> newDictionaryTerms(std::span<const std::string> candidates) override {
    std::vector<std::string> fresh;
    for (const auto& c : candidates) {
      if (std::find(terms.begin(), terms.end(), c) == terms.end()) fresh.push_back(c);
    }
    return fresh;
  }
  std::optional<LearningResult> learnFromEdit(std::string_view raw, std::string_view fin, std::string_view edited,
                                              const InputContext&, std::optional<std::string>,
                                              std::optional<std::string>, std::string_view trigger,
                                              const std::optional<MirlaFeedbackAnalysis>& analysis) override {
    learnCalls.push_back({std::string(edited), std::string(trigger), analysis.has_value()});
    return learnResult;
  }
  std::optional<LearningResult> confirmPassiveDictionaryTerms(std::span<const std::string> t, std::string_view,
                                                              std::string_view, const InputContext&,
                                                              std::optional<std::string>, std::optional<std::string>,
                                                              const MirlaFeedbackAnalysis&) override {
    confirmed.assign(t.begin(), t.end());
    return confirmResult;
  }
  struct LearnCall {
    std::string edited;
    std::string trigger;
    bool withAnalysis;
  };
  std::vector<MirlaTurnRecord> turns;
  std::vector<std::string> terms;
  std::vector<LearnCall> learnCalls;
  std::optional<LearningResult> learnResult;
  std::vector<std::string> confirmed;
  std::optional<LearningResult> confirmResult;
};

class FakeTurnFollowUp final : public TurnFollowUp {
 public:
  void startObservation(const std::string& turnID, const std::string&, const std::string& finalText,
                        const InputContext&, const std::optional<std::string>&,
                        std::shared_ptr<TurnMetrics> metrics) override {
    events.push_back("observe " + finalText);
    observedMetrics = std::move(metrics);
    observedTurn = turnID;
  }
  void cancelObservation() override { events.push_back("cancel"); }
  void runPassiveAudit(const std::string&, const std::string&, const std::string& finalText, const InputContext&,
                       const std::optional<std::string>&, const std::string& source) override {
    events.push_back("audit " + source + " " + finalText);
  }
  std::vector<std::string> events;
  std::shared_ptr<TurnMetrics> observedMetrics;
  std::string observedTurn;
};

class FakeTurnAnalyzer final : public TurnFeedbackAnalyzer {
 public:
  explicit FakeTurnAnalyzer(Dispatcher& d) : d_(d) {}
  void analyzeEdit(const std::string&, const std::string&, const std::string& edited, const InputContext&,
                   Completion done) override {
    editCalls.push_back(edited);
    d_.mainQueue().post([done, a = editAnswer] { done(a); });
  }
  void auditPassive(const std::string&, const std::string& finalText, const InputContext&, Completion done) override {
    auditCalls.push_back(finalText);
    d_.mainQueue().post([done, a = auditAnswer] { done(a); });
  }
  std::vector<std::string> editCalls, auditCalls;
  std::optional<MirlaFeedbackAnalysis> editAnswer, auditAnswer;

 private:
  Dispatcher& d_;
};

}  // namespace sorvane::testing
