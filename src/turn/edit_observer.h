// The post-paste edit observer: after a pasted turn it watches the field for up to 60 s to
// see whether the user corrects the text, and learns dictionary terms from the correction;
// a turn left alone (and a copy-panel turn) gets a passive dictionary audit instead.
//
// An observation re-reads the field through the context collector on
// "app.sorvane.context" every 0.24 s and after key presses in other applications (the
// keyboard source's `outsideOwnWindows` scope): any key asks for a scan 0.08 s later,
// Return or keypad Enter asks for one at once and one 0.18 s later and finishes 0.42 s
// later ("return-key"), Escape ends the observation without analysis; the first tick
// after 60 s (monotonic clock) finishes it with "timeout". A collection takes longer than
// a tick over AT-SPI, so at most one scan is in flight and a scan asked for meanwhile is
// kept as one pending scan, which runs when the running one ends: edits typed just before
// Return are read. The candidate (learning/edit_observation.h) of a scan on the same
// surface replaces the previous one. At the finish a candidate goes to the feedback
// analyzer and to term learning, announced in the learning panel; without one the passive
// audit runs, which may ask the user to confirm suggested terms.
//
// One observation at a time: a new one, the next turn's start and Escape end the running
// one silently. Its values go only into its own turn's metrics record. Learning and audit
// completions outlive the observation (not the observer). Lives on the main queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "input/keyboard_events.h"
#include "turn/turn_ports.h"
#include "core/dispatch.h"

namespace sorvane {

inline constexpr std::size_t kEditObservationMinChars = 6;  // more than 5, untrimmed
inline constexpr Milliseconds kEditObservationTick{240};
inline constexpr Milliseconds kEditObservationLimit{60'000};
inline constexpr Milliseconds kEditScanAfterKey{80};
inline constexpr Milliseconds kEditScanAfterReturn{180};
inline constexpr Milliseconds kEditFinishAfterReturn{420};
inline constexpr double kPassiveSuggestionConfidence = 0.74;

// Shortest decimal that reads back as the same double ("0.8", "0.74").
std::string confidenceText(double value);

class EditObserver final : public TurnFollowUp {
 public:
  struct Parts {
    std::shared_ptr<TurnContextSource> context;  // shared with scans on the context queue
    KeyboardEventSource* keyboard = nullptr;     // no key handling when absent
    TurnFeedbackAnalyzer* analyzer = nullptr;
    TurnStore* store = nullptr;
    TurnWindows* hud = nullptr;
    std::function<std::optional<Rect>()> targetScreen;  // the turn's screen, for the panel
  };

  EditObserver(Dispatcher& dispatcher, Parts parts);
  ~EditObserver() override;
  EditObserver(const EditObserver&) = delete;
  EditObserver& operator=(const EditObserver&) = delete;

  void startObservation(const std::string& turnID, const std::string& rawText, const std::string& finalText,
                        const InputContext& context, const std::optional<std::string>& audioPath,
                        std::shared_ptr<TurnMetrics> metrics) override;
  void cancelObservation() override;
  void runPassiveAudit(const std::string& turnID, const std::string& rawText, const std::string& finalText,
                       const InputContext& context, const std::optional<std::string>& audioPath,
                       const std::string& source) override;

  bool isObserving() const { return observation_.has_value(); }
  const std::optional<std::string>& lastCandidate() const { return lastCandidate_; }

 private:
  struct Observation {
    uint64_t id = 0;
    std::string turnID;
    std::string rawText;
    std::string finalText;
    InputContext originalContext;
    std::optional<std::string> audioPath;
    std::string baselineInput;
    std::chrono::steady_clock::time_point startedAt;
    std::shared_ptr<TurnMetrics> metrics;
  };

  void onKey(uint64_t id, const KeyboardEvent& event);
  void tick(uint64_t id);
  void after(Milliseconds delay, uint64_t id, std::function<void()> work);
  void requestScan(uint64_t id);
  void scanDone(uint64_t id, InputContext context, std::optional<std::string> candidate);
  void finish(uint64_t id, const std::string& trigger);
  bool current(uint64_t id) const { return observation_ && observation_->id == id; }

  Dispatcher& dispatcher_;
  Parts parts_;
  std::optional<Observation> observation_;
  std::optional<std::string> lastCandidate_;
  InputContext lastContext_;
  bool scanning_ = false;
  bool scanPending_ = false;
  uint64_t nextID_ = 1;
  OneShotTimer tickTimer_;
  Subscription keys_;
  LivenessToken alive_;
};

}  // namespace sorvane
