// Placement and animation formulas of the floating windows: the recording capsule, the
// listening badge, the copy panel and the learning panel.
//
// The widgets (overlay_window.h, input_listening_badge_window.h, ...) and the turn
// controller call these with desktop coordinates in points, y growing upward (the
// convention of the context collector's frames); `screen_geometry.h` converts to and
// from Qt's coordinates. Pure functions, any queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "context/input_context.h"
#include "postprocess/recording_mode.h"

namespace sorvane {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// The frame used when neither the target nor the main screen is known.
inline constexpr Rect kFallbackScreenFrame{0, 0, 1200, 800};

// "x,y,WxH" with each value truncated toward zero, "nil" for no rectangle
// (e.g. "0,0,1512x982").
std::string frameText(const std::optional<Rect>& frame);

// The visible frame of the target screen, else of the main screen, else the fallback.
Rect visibleFrameOr(const std::optional<Rect>& screen, const std::optional<Rect>& mainScreen);

// --- recording capsule ---
inline constexpr double kCapsuleWidth = 166;
inline constexpr double kCapsuleHeight = 38;
inline constexpr double kCapsuleTopGap = 18;
inline constexpr std::chrono::milliseconds kCapsuleTickInterval{55};
inline constexpr int kCapsuleBarCount = 7;
inline constexpr double kCapsuleMinBarHeight = 3;
inline constexpr double kCapsuleMaxBarHeight = 20;

// Centred at the top of the visible frame, 18 points below its top edge.
Rect capsuleFrame(const Rect& visibleFrame);
// One animation tick of the level: 0.66 of the old value and 0.34 of the new.
double smoothAudioLevel(double smoothed, double level);
// Height of bar `index` at `tick`, between 3 and 20 points.
double capsuleBarHeight(double smoothedLevel, int index, int64_t tick);
// Processing state: the eased progress (0..1) and the label's opacity at `tick`.
double processingProgress(int64_t tick);
double processingLabelOpacity(int64_t tick);
// 0..1, modulates the shimmer.
double shimmerPulse(int64_t tick);
// "Processing", "Translating", "Encoding" or "Rewriting".
std::string_view processingTitle(const RecordingMode& mode);
// The capsule's short title while recording: the preset's title for a style.
std::string_view recordingTitle(const RecordingMode& mode);

// --- style palette ---
inline constexpr std::string_view kPaletteTitle = "选本次语气";
inline constexpr std::string_view kPaletteSubtitle = "按住 Ctrl 选 1-8，松手开始";
std::string paletteSubtitleFor(VoiceStylePreset preset);

// --- listening badge ---
inline constexpr std::string_view kBadgeText = "mirla 正在听";
inline constexpr double kBadgeWidth = 132;
inline constexpr double kBadgeHeight = 30;

struct BadgePlacement {
  Rect frame;
  std::string_view anchor;  // "caret", "focused-input", "focused-large-surface", "mouse-fallback", "screen-fallback"
};

// Nothing when the context has no paste target. `mouse` is the pointer, when known.
std::optional<BadgePlacement> placeInputBadge(const InputContext& context, const std::optional<Rect>& screen,
                                              const std::optional<Rect>& mainScreen,
                                              const std::optional<Point>& mouse);
// "input badge shown anchor=... frame=... caret=... focused=..."
std::string inputBadgeLogLine(const BadgePlacement& placement, const InputContext& context);

// --- copy panel ---
inline constexpr std::string_view kCopyPanelTitle = "未找到输入框";
inline constexpr std::string_view kCopyPanelMessage = "已生成文本，可复制后手动粘贴。";
inline constexpr std::string_view kCopyButtonTitle = "复制";
inline constexpr std::string_view kCopiedButtonTitle = "已复制";
inline constexpr std::chrono::milliseconds kCopyPanelCloseDelay{850};
inline constexpr std::size_t kCopyPreviewChars = 120;
// Line feeds become spaces; longer than 120 characters: the first 120 and "...".
std::string copyPanelPreview(std::string_view text);

// --- learning panel ---
inline constexpr std::string_view kLearningPrimaryTitle = "记录";
inline constexpr std::string_view kLearningSecondaryTitle = "忽略";
inline constexpr std::chrono::milliseconds kLearningNoticeDuration{2400};

// A frame of `width` × `height` centred on the visible frame (or the fallback frame).
Rect centredFrame(double width, double height, const std::optional<Rect>& visibleFrame);

}  // namespace sorvane
