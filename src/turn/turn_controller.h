// The recording turn controller: exactly one dictation turn at a time, from the start
// request to the delivered text.
//
// A toggle (Alt tap, hotkey, menu) starts a turn: a new turn id and metrics record, the
// capsule at the top of the target screen, the capture engine, and the input context
// collected on "app.sorvane.context". The next toggle stops: the capsule turns to its
// processing state, the engine cuts the tail and returns the raw transcript, which is
// screened (empty, recogniser hallucination), archived as a WAV file, and handed to the
// pipeline of the turn's mode (refine, translate, style, or the local Morse encoder). The
// final text is pasted into the focused field, or shown in the copy panel when the context
// has no paste target or the paste fell back; the turn goes to the history, its metrics
// line is written with the turn's status word, and a pasted turn is handed to the edit
// observer. Every asynchronous result carries its turn id; a result for a turn that is no
// longer current is dropped ("stale stop ignored", "stale refine ignored").
//
// When the microphone fails mid-recording (`captureFailed`), the turn stops as if the user
// had tapped stop, so what was captured up to then is still recognised and delivered.
//
// Intervals (the 0.12 s debounce) use the monotonic clock. Cancel works while recording
// and while waiting for the transcript or the refinement; once the paste has begun the
// turn is delivered as it stands. The turn stays "processing" until its delivery ends, so
// a toggle during the paste's clipboard wait does not start a new turn under it.
//
// Lives on the main queue; all state is confined there. Collaborators' completions must
// arrive on the main queue; late ones hold the controller weakly.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "turn/turn_ports.h"
#include "core/dispatch.h"
#include "core/json.h"
#include "core/turn_metrics.h"

namespace sorvane {

inline constexpr std::chrono::milliseconds kToggleDebounce{120};

struct TurnCollaborators {
  std::unique_ptr<TurnSpeech> speech;
  std::shared_ptr<TurnContextSource> context;  // shared with tasks on the context queue
  std::unique_ptr<TurnRefiner> refiner;
  std::unique_ptr<TurnInserter> inserter;
  std::unique_ptr<TurnWindows> hud;
  TurnStore* store = nullptr;          // the process's data store; outlives the controller
  TurnFollowUp* followUp = nullptr;    // the edit observer; may be absent
};

class TurnController {
 public:
  TurnController(Dispatcher& dispatcher, std::string metricsFolder, TurnCollaborators collaborators);
  ~TurnController();
  TurnController(const TurnController&) = delete;
  TurnController& operator=(const TurnController&) = delete;

  void toggleRecording(const RecordingMode& mode);
  void startRecording(const RecordingMode& mode);
  void stopRecording();
  void cancelRecording();
  // The capture engine's report that the microphone failed (main queue). While recording
  // the turn stops and its record keeps "captureError"; at any other time (waiting for the
  // text, idle, a turn already ended) it is only logged.
  void captureFailed(std::string description);
  void handleOptionDoubleTap();
  void handleOptionTripleTap();

  // Left-Control and hotkey wiring.
  void handleHotKey();
  void handleControlSingleTap();
  void handleControlDoubleTap();
  void handleControlTripleTap();
  bool shouldHandleControl() const { return !isRecording_ && !isProcessing_; }
  void showModePalette();
  void hideModePalette();
  void previewStyleDigit(std::optional<int> digit);
  void commitStyleDigit(int digit);

  // Quit: cancels a recording, abandons a turn still waiting for its text (status
  // "cancelled") and runs a pending clipboard restore now.
  void prepareForQuit();

  // Marks and values from the engine and the refiner, for the current turn's record; safe
  // to call from any queue (re-dispatched to the main queue).
  void reportMark(std::string name);
  void reportValue(std::string key, Json value);

  // The permission answer of the start sequence.
  void setReady(bool ready) { isReady_ = ready; }

  bool isRecording() const { return isRecording_; }
  bool isProcessing() const { return isProcessing_; }
  bool isReady() const { return isReady_; }
  const RecordingMode& currentRecordingMode() const { return currentRecordingMode_; }
  const std::string& sessionID() const { return sessionID_; }
  const std::optional<Rect>& currentTargetScreen() const { return currentTargetScreen_; }
  const std::shared_ptr<TurnMetrics>& currentMetrics() const { return currentMetrics_; }
  const std::string& lastFinalText() const { return lastFinalText_; }
  const std::string& lastRawText() const { return lastRawText_; }
  const InputContext& lastContext() const { return lastContext_; }
  const std::optional<std::string>& lastAudioPath() const { return lastAudioPath_; }
  StatusMenuState menuState() const;

  TurnWindows& hud() { return *c_.hud; }
  TurnInserter& inserter() { return *c_.inserter; }

 private:
  void collectContextAsync(const std::string& turnID);
  void contextArrived(const std::string& turnID, InputContext context, std::optional<Rect> screen);
  void transcriptArrived(const std::string& turnID, const RecordingMode& mode, std::string raw);
  // Pastes or shows the copy panel. A start context cut short without a paste target is
  // collected once more first, since the field may well be there.
  void deliverFinal(const std::string& turnID, const std::string& finalText, const std::string& raw,
                    const InputContext& context, const std::optional<std::string>& audioPath,
                    const std::string& provider, bool mayCollectAgain);
  void resultArrived(const std::string& turnID, const std::string& raw, const InputContext& context,
                     const std::optional<std::string>& audioPath, TranscriptRefiner::Result result);
  void deliverPasted(const std::string& finalText, const std::string& raw, const InputContext& context,
                     const std::optional<std::string>& audioPath, const std::string& provider,
                     const RecordingMode& mode, const std::shared_ptr<TurnMetrics>& metrics);
  void deliverToCopyPanel(const std::string& finalText, const std::string& raw, const InputContext& context,
                          const std::optional<std::string>& audioPath, const std::string& provider,
                          const RecordingMode& mode, const std::shared_ptr<TurnMetrics>& metrics);
  void recordHistory(const std::string& status, const std::string& finalText, const std::string& raw,
                     const InputContext& context, const std::optional<std::string>& audioPath,
                     const std::string& provider, const RecordingMode& mode, const TurnMetrics& metrics);
  // Ends a turn that produced nothing to deliver.
  void endQuietly(std::string_view status);
  void finishMetrics(const std::shared_ptr<TurnMetrics>& metrics, std::string_view status);
  void placeOverlay();
  void mark(std::string_view name);
  void value(std::string_view key, Json v);
  void rebuildMenu();
  std::chrono::steady_clock::time_point now() const;

  Dispatcher& dispatcher_;
  std::string metricsFolder_;
  TurnCollaborators c_;
  SerialQueue& contextQueue_;

  bool isRecording_ = false;
  bool isProcessing_ = false;
  bool isDelivering_ = false;
  bool isReady_ = false;
  std::optional<std::chrono::steady_clock::time_point> lastToggleAt_;
  std::string sessionID_;
  std::shared_ptr<TurnMetrics> currentMetrics_;
  InputContext currentContext_;
  std::optional<Rect> currentTargetScreen_;
  RecordingMode currentRecordingMode_ = RecordingMode::dictation();
  std::string lastFinalText_;
  std::string lastRawText_;
  InputContext lastContext_;
  std::optional<std::string> lastAudioPath_;
  LivenessToken alive_;
};

class OptionKeyToggleMonitor;
class ControlStyleKeyMonitor;
class HotKeyManager;

// Connects the Alt and left-Control monitors and the global chords to the controller's
// turn actions; the monitors and the manager must not outlive the controller.
void wireTurnInputs(TurnController& controller, OptionKeyToggleMonitor& option, ControlStyleKeyMonitor& control,
                    HotKeyManager* hotKeys);

// The empty context of a fresh turn: every text empty, source "none".
InputContext emptyTurnContext();

}  // namespace sorvane
