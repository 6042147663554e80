// Colours and type sizes of the floating windows, in one place.
//
// The capsule, badge and palette are dark glass with light text: they sit over any
// application in a light or a dark theme and stay legible over both. The panels and the
// dashboard follow the desktop's palette (QPalette), so they match the user's theme.
#pragma once

#include <QColor>

namespace sorvane::style {

inline QColor glassFill() { return QColor(28, 28, 32, 236); }
inline QColor glassBorder() { return QColor(255, 255, 255, 34); }
inline QColor glassText() { return QColor(245, 245, 247); }
inline QColor glassSecondaryText() { return QColor(245, 245, 247, 170); }
inline QColor glassButton() { return QColor(255, 255, 255, 30); }
inline QColor recordingAccent() { return QColor(255, 69, 58); }
inline QColor processingAccent() { return QColor(64, 156, 255); }
inline QColor selectionFill() { return QColor(64, 156, 255, 200); }

inline constexpr int kOverlayTitlePixels = 12;
inline constexpr int kPanelTitlePixels = 15;
inline constexpr int kPanelTextPixels = 13;

}  // namespace sorvane::style
