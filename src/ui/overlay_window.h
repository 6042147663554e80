// The recording capsule: a small pill at the top of the screen while a turn records
// (level bars and the mode's title) and processes (title, progress bar and shimmer).
//
// The controller (or, until it exists, the standalone turn driver of the app) calls
// `place` with the target screen's visible frame, `showRecording` / `updateRecordingMode`
// / `showProcessing` / `hideOverlay`, and feeds `setAudioLevel` from the capture engine.
// A 55 ms tick on the dispatcher's main queue drives the animation while the capsule is
// shown; the cancel and confirm circles raise `onCancel` and `onConfirm`. An
// override-redirect tool window that never takes focus. Main thread only.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/dispatch.h"
#include "postprocess/recording_mode.h"
#include "turn/hud_layout.h"

namespace sorvane {

class OverlayWindow final : public QWidget {
 public:
  explicit OverlayWindow(Dispatcher& dispatcher);
  ~OverlayWindow() override;

  std::function<void()> onCancel;
  std::function<void()> onConfirm;

  // Moves the capsule to the top centre of `visibleFrame` (desktop coordinates).
  void place(const Rect& visibleFrame);
  void showRecording(const RecordingMode& mode);
  void updateRecordingMode(const RecordingMode& mode);
  void showProcessing(const RecordingMode& mode);
  void hideOverlay();
  void setAudioLevel(double level);

  // State, for tests and the picture renderer.
  bool isProcessingAnimation() const { return processing_; }
  int64_t tick() const { return tick_; }
  double smoothedAudioLevel() const { return smoothedAudioLevel_; }
  const std::string& recordingModeTitle() const { return modeTitle_; }
  bool isAnimating() const { return timer_.isRunning(); }
  // Runs one animation tick now (the renderer uses it to draw a settled frame).
  void advanceAnimation();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void scheduleTick();
  QRectF cancelButtonRect() const;
  QRectF confirmButtonRect() const;

  Dispatcher& dispatcher_;
  OneShotTimer timer_;
  double audioLevel_ = 0;
  double smoothedAudioLevel_ = 0;
  int64_t tick_ = 0;
  bool processing_ = false;
  std::string modeTitle_;
  std::string processingTitle_;
};

}  // namespace sorvane
