// The collaborators of the recording turn controller and the edit observer, as the small
// interfaces those two need. The application hands in adapters over the real components
// (turn_adapters.h: the capture engine, context collector, refiner, text inserter, data
// store and feedback analyzer) and the desktop HUD; the tests hand in fakes, so every turn
// runs in virtual time.
//
// Queues: every operation is called on the main queue, except `TurnContextSource::collect`
// and `targetScreenForFrontmostWindow`, which are called on "app.sorvane.context". Every
// completion must run on the main queue, at most once.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/keyboard_events.h"
#include "turn/status_menu_model.h"
#include "turn/text_inserter.h"
#include "context/input_context.h"
#include "learning/mirla_data_store.h"
#include "learning/mirla_feedback_analysis.h"
#include "postprocess/recording_mode.h"
#include "postprocess/transcript_refiner.h"

namespace sorvane {

class TurnMetrics;

class TurnSpeech {
 public:
  virtual ~TurnSpeech() = default;
  virtual void requestPermissions(std::function<void(bool granted)> completion) = 0;
  // The error's description when the capture could not start.
  virtual std::optional<std::string> start() = 0;
  virtual void stop(std::function<void(std::string rawText)> completion) = 0;
  virtual void cancelCapture() = 0;
  virtual std::optional<std::string> saveLastAudio(const std::string& turnID) = 0;
  // The recogniser whose text the last stop returned.
  virtual std::string provider() const = 0;
};

class TurnContextSource {
 public:
  virtual ~TurnContextSource() = default;
  // On the context queue.
  virtual InputContext collect() = 0;
  // The look again when the turn's collection ran out of time without finding a field: the
  // same collection with a longer budget.
  virtual InputContext collectAgain() = 0;
  virtual std::optional<Rect> targetScreenForFrontmostWindow() = 0;
  // On the main queue.
  virtual std::optional<Rect> screenContainingMouse() = 0;
};

class TurnRefiner {
 public:
  using Completion = TranscriptRefiner::Completion;
  virtual ~TurnRefiner() = default;
  virtual void refine(const std::string& raw, const InputContext& context, Completion completion) = 0;
  virtual void translateToEnglish(const std::string& raw, const InputContext& context, Completion completion) = 0;
  virtual void stylize(const std::string& raw, VoiceStylePreset preset, const InputContext& context,
                       Completion completion) = 0;
};

class TurnInserter {
 public:
  virtual ~TurnInserter() = default;
  virtual void paste(const std::string& text, std::function<void(PasteOutcome)> completion) = 0;
  virtual bool hasPendingRestore() const = 0;
  virtual void finishPendingRestore() = 0;
};

// The windows of a turn: capsule, listening badge, copy panel, mode palette, learning
// panel, dashboard and the tray menu. Frames are desktop points, y growing upward.
class TurnWindows {
 public:
  virtual ~TurnWindows() = default;
  // The visible frame of the main screen, if there is one.
  virtual std::optional<Rect> mainScreen() = 0;
  virtual void placeOverlay(const Rect& frame) = 0;
  virtual void showRecording(const RecordingMode& mode) = 0;
  virtual void updateRecordingMode(const RecordingMode& mode) = 0;
  virtual void showProcessing(const RecordingMode& mode) = 0;
  virtual void hideOverlay() = 0;
  // The anchor source of the badge when it is shown ("caret", ...), else nothing.
  virtual std::optional<std::string> showBadge(const InputContext& context, const std::optional<Rect>& screen) = 0;
  virtual void hideBadge() = 0;
  virtual void showCopyPanel(const std::string& text) = 0;
  virtual void showModePalette(const std::optional<Rect>& screen) = 0;
  virtual void hideModePalette() = 0;
  virtual void highlightPreset(std::optional<VoiceStylePreset> preset) = 0;
  virtual void refreshDashboard() = 0;
  virtual void rebuildStatusMenu(const StatusMenuState& state) = 0;
  virtual void beep() = 0;
  // Learning panel: a short notice, or a question with "加入" / "忽略" whose primary
  // button runs `confirm`.
  virtual void showLearningNotice(const std::string& title, const std::string& message,
                                  const std::optional<Rect>& screen) = 0;
  virtual void askLearningConfirmation(const std::string& title, const std::string& message,
                                       std::function<void()> confirm, const std::optional<Rect>& screen) = 0;
};

// The data store operations of a turn and of learning (MirlaDataStore).
class TurnStore {
 public:
  virtual ~TurnStore() = default;
  virtual void recordTurn(const MirlaTurnRecord& turn, const TurnMetrics& metrics) = 0;
  virtual std::vector<std::string> dictionaryTermTexts() = 0;
  virtual std::vector<std::string> newDictionaryTerms(std::span<const std::string> candidates) = 0;
  virtual std::optional<LearningResult> learnFromEdit(std::string_view rawText, std::string_view finalText,
                                                      std::string_view editedText, const InputContext& context,
                                                      std::optional<std::string> turnID,
                                                      std::optional<std::string> audioPath, std::string_view trigger,
                                                      const std::optional<MirlaFeedbackAnalysis>& analysis) = 0;
  virtual std::optional<LearningResult> confirmPassiveDictionaryTerms(
      std::span<const std::string> terms, std::string_view rawText, std::string_view finalText,
      const InputContext& context, std::optional<std::string> turnID, std::optional<std::string> audioPath,
      const MirlaFeedbackAnalysis& analysis) = 0;
};

class TurnFeedbackAnalyzer {
 public:
  using Completion = std::function<void(std::optional<MirlaFeedbackAnalysis>)>;
  virtual ~TurnFeedbackAnalyzer() = default;
  virtual void analyzeEdit(const std::string& rawText, const std::string& finalText, const std::string& editedText,
                           const InputContext& context, Completion completion) = 0;
  virtual void auditPassive(const std::string& rawText, const std::string& finalText, const InputContext& context,
                            Completion completion) = 0;
};

// The passive dictionary audit runs only from this many characters (trimmed).
inline constexpr std::size_t kPassiveAuditMinChars = 6;

// What the controller hands over after a delivery (the edit observer).
class TurnFollowUp {
 public:
  virtual ~TurnFollowUp() = default;
  // `metrics` is the delivered turn's own record.
  virtual void startObservation(const std::string& turnID, const std::string& rawText, const std::string& finalText,
                                const InputContext& context, const std::optional<std::string>& audioPath,
                                std::shared_ptr<TurnMetrics> metrics) = 0;
  virtual void cancelObservation() = 0;
  virtual void runPassiveAudit(const std::string& turnID, const std::string& rawText, const std::string& finalText,
                               const InputContext& context, const std::optional<std::string>& audioPath,
                               const std::string& source) = 0;
};

}  // namespace sorvane
