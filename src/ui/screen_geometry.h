// Screens in desktop coordinates: points with y growing upward from the bottom edge of
// the primary screen, the convention of every placement formula (hud_layout.h) and of
// the context collector's frames. Qt's coordinates grow downward from the top-left of
// the virtual desktop; these helpers convert both ways. Main thread (QScreen).
#pragma once

#include <optional>

#include <QRect>

#include "turn/hud_layout.h"

class QScreen;

namespace sorvane {

// The flip axis: the bottom edge of the primary screen in Qt coordinates.
double desktopFlipHeight();
Rect toDesktopRect(const QRect& qtRect);
QRect toQtRect(const Rect& desktopRect);

// The screen's available geometry (work area) in desktop coordinates.
std::optional<Rect> visibleFrameOf(const QScreen* screen);
std::optional<Rect> mainScreenVisibleFrame();
QScreen* screenUnderMouse();
std::optional<Point> mouseLocation();

}  // namespace sorvane
