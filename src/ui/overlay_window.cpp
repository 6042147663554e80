#include "ui/overlay_window.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "ui/floating_window.h"
#include "ui/interface_style.h"
#include "ui/screen_geometry.h"

namespace sorvane {
namespace {

constexpr double kButtonDiameter = 26;
constexpr double kButtonInset = 6;
constexpr double kBarWidth = 2.5;
constexpr double kBarGap = 2;

void drawCross(QPainter& painter, const QRectF& r) {
  const QPointF c = r.center();
  const double d = r.width() * 0.18;
  painter.drawLine(QPointF(c.x() - d, c.y() - d), QPointF(c.x() + d, c.y() + d));
  painter.drawLine(QPointF(c.x() - d, c.y() + d), QPointF(c.x() + d, c.y() - d));
}

void drawCheck(QPainter& painter, const QRectF& r) {
  const QPointF c = r.center();
  const double d = r.width() * 0.2;
  QPainterPath path;
  path.moveTo(c.x() - d, c.y());
  path.lineTo(c.x() - d * 0.25, c.y() + d * 0.8);
  path.lineTo(c.x() + d * 1.1, c.y() - d * 0.8);
  painter.drawPath(path);
}

}  // namespace

OverlayWindow::OverlayWindow(Dispatcher& dispatcher) : QWidget(nullptr), dispatcher_(dispatcher) {
  makeFloating(*this, FloatingKind::overlay);
  setObjectName(QStringLiteral("sorvane-recording-capsule"));
  setWindowTitle(QStringLiteral("Mirla recording"));
  setFixedSize(static_cast<int>(kCapsuleWidth), static_cast<int>(kCapsuleHeight));
}

OverlayWindow::~OverlayWindow() = default;

void OverlayWindow::place(const Rect& visibleFrame) { move(toQtRect(capsuleFrame(visibleFrame)).topLeft()); }

void OverlayWindow::showRecording(const RecordingMode& mode) {
  processing_ = false;
  modeTitle_ = std::string(recordingTitle(mode));
  if (!isVisible()) show();
  raise();
  scheduleTick();
  update();
}

void OverlayWindow::updateRecordingMode(const RecordingMode& mode) {
  modeTitle_ = std::string(recordingTitle(mode));
  update();
}

void OverlayWindow::showProcessing(const RecordingMode& mode) {
  // The progress starts again from zero in the processing state.
  processing_ = true;
  tick_ = 0;
  processingTitle_ = std::string(processingTitle(mode));
  if (!isVisible()) show();
  raise();
  scheduleTick();
  update();
}

void OverlayWindow::hideOverlay() {
  timer_.cancel();
  hide();
  processing_ = false;
  tick_ = 0;
  smoothedAudioLevel_ = 0;
  audioLevel_ = 0;
}

void OverlayWindow::setAudioLevel(double level) {
  audioLevel_ = std::isfinite(level) ? std::clamp(level, 0.0, 1.0) : 0.0;
}

void OverlayWindow::advanceAnimation() {
  ++tick_;
  smoothedAudioLevel_ = smoothAudioLevel(smoothedAudioLevel_, audioLevel_);
  update();
}

void OverlayWindow::scheduleTick() {
  if (timer_.isRunning()) return;
  timer_.start(dispatcher_.mainQueue(), kCapsuleTickInterval, [this] {
    advanceAnimation();
    scheduleTick();
  });
}

QRectF OverlayWindow::cancelButtonRect() const {
  return QRectF(kButtonInset, (height() - kButtonDiameter) / 2, kButtonDiameter, kButtonDiameter);
}

QRectF OverlayWindow::confirmButtonRect() const {
  return QRectF(width() - kButtonInset - kButtonDiameter, (height() - kButtonDiameter) / 2, kButtonDiameter,
                kButtonDiameter);
}

void OverlayWindow::mousePressEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (cancelButtonRect().contains(at)) {
    if (onCancel) onCancel();
  } else if (confirmButtonRect().contains(at)) {
    if (onConfirm) onConfirm();
  }
  event->accept();
}

void OverlayWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF pill = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const double radius = pill.height() / 2;
  painter.setPen(QPen(style::glassBorder(), 1));
  painter.setBrush(style::glassFill());
  painter.drawRoundedRect(pill, radius, radius);

  // Buttons.
  painter.setPen(Qt::NoPen);
  painter.setBrush(style::glassButton());
  painter.drawEllipse(cancelButtonRect());
  painter.setBrush(processing_ ? style::glassButton() : style::recordingAccent());
  painter.drawEllipse(confirmButtonRect());
  QPen stroke(style::glassText(), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(stroke);
  painter.setBrush(Qt::NoBrush);
  drawCross(painter, cancelButtonRect());
  drawCheck(painter, confirmButtonRect());

  const QRectF middle(cancelButtonRect().right() + 6, 0, confirmButtonRect().left() - cancelButtonRect().right() - 12,
                      height());
  QFont font = painter.font();
  font.setPixelSize(style::kOverlayTitlePixels);
  font.setWeight(QFont::DemiBold);
  painter.setFont(font);

  if (!processing_) {
    const double barsWidth = kCapsuleBarCount * kBarWidth + (kCapsuleBarCount - 1) * kBarGap;
    const QRectF titleRect(middle.left(), 0, middle.width() - barsWidth - 4, height());
    painter.setPen(style::glassText());
    painter.drawText(titleRect, Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(QString::fromStdString(modeTitle_), Qt::ElideRight,
                                                      static_cast<int>(titleRect.width())));
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::glassText());
    double x = middle.right() - barsWidth;
    for (int i = 0; i < kCapsuleBarCount; ++i) {
      const double h = capsuleBarHeight(smoothedAudioLevel_, i, tick_);
      painter.drawRoundedRect(QRectF(x, (height() - h) / 2, kBarWidth, h), kBarWidth / 2, kBarWidth / 2);
      x += kBarWidth + kBarGap;
    }
    return;
  }

  // Processing: the label, a thin progress bar under it and a shimmer sweeping the pill.
  const double eased = processingProgress(tick_);
  painter.setOpacity(processingLabelOpacity(tick_));
  painter.setPen(style::glassText());
  painter.drawText(QRectF(middle.left(), 4, middle.width(), height() - 14), Qt::AlignCenter,
                   QString::fromStdString(processingTitle_));
  painter.setOpacity(1);
  const QRectF track(middle.left() + 4, height() - 11, middle.width() - 8, 3);
  painter.setPen(Qt::NoPen);
  painter.setBrush(style::glassButton());
  painter.drawRoundedRect(track, 1.5, 1.5);
  painter.setBrush(style::processingAccent());
  painter.drawRoundedRect(QRectF(track.left(), track.top(), track.width() * eased, track.height()), 1.5, 1.5);

  const double pulse = shimmerPulse(tick_);
  const double sweep = std::fmod(static_cast<double>(tick_) * 4.0, pill.width() + 60) - 30;
  QLinearGradient shimmer(sweep - 30, 0, sweep + 30, 0);
  shimmer.setColorAt(0, QColor(255, 255, 255, 0));
  shimmer.setColorAt(0.5, QColor(255, 255, 255, static_cast<int>(18 + 26 * pulse)));
  shimmer.setColorAt(1, QColor(255, 255, 255, 0));
  QPainterPath clip;
  clip.addRoundedRect(pill, radius, radius);
  painter.setClipPath(clip);
  painter.fillRect(pill, shimmer);
}

}  // namespace sorvane
