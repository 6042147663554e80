// The window flags of the floating windows, which must never take keyboard focus from
// the application the user types into.
//
// The capsule, the badge and the palette are override-redirect windows
// (X11BypassWindowManagerHint): placed exactly, above everything, and never hidden by a
// window manager that hides an inactive application's tool windows (ours is always
// inactive). The copy panel and the learning panel stay ordinary tool windows, so the
// window manager still stacks and decorates them as dialogs of the desktop, but they do
// not accept focus either and show without activating. Main thread.
#pragma once

#include <Qt>

class QWidget;

namespace sorvane {

enum class FloatingKind { overlay, panel };

Qt::WindowFlags floatingWindowFlags(FloatingKind kind);
// Sets the flags and the attributes (show without activating; a translucent background
// for the rounded overlays).
void makeFloating(QWidget& window, FloatingKind kind);

}  // namespace sorvane
