#include "ui/screen_geometry.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace sorvane {

double desktopFlipHeight() {
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (!primary) return kFallbackScreenFrame.height;
  const QRect geometry = primary->geometry();
  return geometry.y() + geometry.height();
}

Rect toDesktopRect(const QRect& r) {
  const double flip = desktopFlipHeight();
  return {static_cast<double>(r.x()), flip - r.y() - r.height(), static_cast<double>(r.width()),
          static_cast<double>(r.height())};
}

QRect toQtRect(const Rect& r) {
  const double flip = desktopFlipHeight();
  return QRect(static_cast<int>(std::lround(r.x)), static_cast<int>(std::lround(flip - r.y - r.height)),
               static_cast<int>(std::lround(r.width)), static_cast<int>(std::lround(r.height)));
}

std::optional<Rect> visibleFrameOf(const QScreen* screen) {
  if (!screen) return std::nullopt;
  return toDesktopRect(screen->availableGeometry());
}

std::optional<Rect> mainScreenVisibleFrame() { return visibleFrameOf(QGuiApplication::primaryScreen()); }

QScreen* screenUnderMouse() {
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  return screen ? screen : QGuiApplication::primaryScreen();
}

std::optional<Point> mouseLocation() {
  if (!QGuiApplication::primaryScreen()) return std::nullopt;
  const QPoint pos = QCursor::pos();
  return Point{static_cast<double>(pos.x()), desktopFlipHeight() - pos.y()};
}

}  // namespace sorvane
