#include "ui/floating_window.h"

#include <QWidget>

namespace sorvane {

Qt::WindowFlags floatingWindowFlags(FloatingKind kind) {
  Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                          Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint;
  if (kind == FloatingKind::overlay) flags |= Qt::X11BypassWindowManagerHint;
  return flags;
}

void makeFloating(QWidget& window, FloatingKind kind) {
  window.setWindowFlags(floatingWindowFlags(kind));
  window.setAttribute(Qt::WA_ShowWithoutActivating);
  window.setAttribute(Qt::WA_TranslucentBackground);
  window.setFocusPolicy(Qt::NoFocus);
}

}  // namespace sorvane
