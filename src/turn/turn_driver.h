// What the tray menu and the recording capsule ask of the turn controller, and the HUD
// operations the controller drives.
//
// The desktop app (desktop_app.h) talks to a `TurnDriver`: the menu's toggle, cancel and
// translation entries and the capsule's buttons call it, and it calls `onStateChanged`
// after every change of its recording and processing flags or mode, whereupon the app
// applies a fresh menu model in place. `menuState()` is the whole state the menu is a
// function of. `StandaloneTurnDriver` runs the turn states with no recogniser behind
// them, so the menu, the capsule and their lifecycle work before the turn controller is
// built; the controller replaces it. Main queue only.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "turn/status_menu_model.h"
#include "context/input_context.h"
#include "core/dispatch.h"
#include "input/tap_key.h"
#include "postprocess/recording_mode.h"

namespace sorvane {

class TurnHud {
 public:
  virtual ~TurnHud() = default;
  virtual void showRecording(const RecordingMode& mode) = 0;
  virtual void updateRecordingMode(const RecordingMode& mode) = 0;
  virtual void showProcessing(const RecordingMode& mode) = 0;
  virtual void hideOverlay() = 0;
};

class TurnDriver {
 public:
  virtual ~TurnDriver() = default;
  virtual void toggleRecording(const RecordingMode& mode) = 0;
  virtual void stopRecording() = 0;
  virtual void cancelRecording() = 0;
  virtual const StatusMenuState& menuState() const = 0;
  // Of the last delivered turn, for the manual feedback action.
  virtual const InputContext& lastContext() const = 0;
  virtual std::optional<std::string> lastAudioPath() const = 0;
  // The tap key chosen in the settings, from now on; drivers without a keyboard ignore it.
  virtual void applyTapKey(TapKey) {}

  std::function<void()> onStateChanged;
};

// Idle → recording → processing → idle, with the capsule shown accordingly and no text
// delivered; a toggle within 0.12 s of the last accepted one is ignored.
class StandaloneTurnDriver final : public TurnDriver {
 public:
  static constexpr Milliseconds kDebounce{120};
  static constexpr Milliseconds kProcessingTime{400};

  StandaloneTurnDriver(Dispatcher& dispatcher, TurnHud& hud);
  void toggleRecording(const RecordingMode& mode) override;
  void stopRecording() override;
  void cancelRecording() override;
  const StatusMenuState& menuState() const override { return state_; }
  const InputContext& lastContext() const override { return lastContext_; }
  std::optional<std::string> lastAudioPath() const override { return std::nullopt; }

 private:
  void changed();
  Dispatcher& dispatcher_;
  TurnHud& hud_;
  StatusMenuState state_;
  InputContext lastContext_;
  std::optional<int64_t> lastToggleMs_;
  OneShotTimer finish_;
};

}  // namespace sorvane
