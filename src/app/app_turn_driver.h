// The turn driver of the running desktop app: the recording turn controller with its real
// collaborators, plugged into `DesktopApp::setTurnDriver`.
//
// It builds the capture engine (PulseAudio input, the cloud recognisers over the Qt
// WebSocket client, the ffmpeg normaliser), the context collector over AT-SPI on
// "app.sorvane.context", the refiner and feedback analyzer with one shared worker breaker,
// the text inserter over the Qt clipboard and XTest keys, and the edit observer. The
// session type is detected once: under Wayland the kernel's keyboards, the portal or
// evdev chord grabber and the virtual paste keyboard replace the X11 adapters wherever
// `chooseDesktopBackends` names them, and the choice's user message goes to the app. The
// windows of a turn are the app's capsule, copy panel, learning panel and dashboard plus
// the badge and mode palette it owns. `start` runs the rest of the start sequence: the
// session notice, the Alt and left-Control monitors and the global chords, then the
// permission request whose answer makes the controller ready. `prepareForQuit` is for the
// way out (menu or SIGTERM), while the event loop still runs. Main queue only.
#pragma once

#include <memory>

#include "turn/turn_driver.h"

namespace sorvane {

class DesktopApp;
class Dispatcher;
class HttpClient;
struct Paths;

class AppTurnDriver final : public TurnDriver {
 public:
  // `app`, `dispatcher` and `http` outlive the driver (the app owns it).
  AppTurnDriver(DesktopApp& app, const Paths& paths, Dispatcher& dispatcher, HttpClient& http);
  ~AppTurnDriver() override;
  AppTurnDriver(const AppTurnDriver&) = delete;
  AppTurnDriver& operator=(const AppTurnDriver&) = delete;

  // Call once, after the app holds the driver.
  void start();
  // Ends or cancels the running turn and runs a pending clipboard restore.
  void prepareForQuit();

  void toggleRecording(const RecordingMode& mode) override;
  void stopRecording() override;
  void cancelRecording() override;
  const StatusMenuState& menuState() const override { return state_; }
  const InputContext& lastContext() const override;
  std::optional<std::string> lastAudioPath() const override;
  void applyTapKey(TapKey key) override;

 private:
  class Windows;
  struct Parts;
  void stateChanged(const StatusMenuState& state);

  StatusMenuState state_;
  std::unique_ptr<Parts> parts_;
};

}  // namespace sorvane
