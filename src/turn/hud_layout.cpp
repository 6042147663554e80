#include "turn/hud_layout.h"

#include <algorithm>
#include <cmath>

#include "core/unicode_text.h"

namespace sorvane {
namespace {

double minX(const Rect& r) { return r.x; }
double maxX(const Rect& r) { return r.x + r.width; }
double minY(const Rect& r) { return r.y; }
double maxY(const Rect& r) { return r.y + r.height; }
double midX(const Rect& r) { return r.x + r.width / 2; }
double midY(const Rect& r) { return r.y + r.height / 2; }

Rect grown(const Rect& r, double by) { return {r.x - by, r.y - by, r.width + 2 * by, r.height + 2 * by}; }

bool intersects(const Rect& a, const Rect& b) {
  return minX(a) < maxX(b) && minX(b) < maxX(a) && minY(a) < maxY(b) && minY(b) < maxY(a);
}

bool containsPoint(const Rect& r, const Point& p) {
  return p.x >= minX(r) && p.x < maxX(r) && p.y >= minY(r) && p.y < maxY(r);
}

std::string truncatedInteger(double value) {
  if (!std::isfinite(value)) return "0";
  return std::to_string(static_cast<long long>(std::trunc(std::clamp(value, -1e15, 1e15))));
}

// Candidate frames must have an area and lie on (or near) the screen: 160 points of slack
// keep a caret just off a screen edge usable.
constexpr double kBadgeScreenSlack = 160;
constexpr double kBadgeMouseSlack = 84;
constexpr double kBadgeEdgeInset = 12;
constexpr double kSmallFieldMaxWidth = 520;
constexpr double kSmallFieldMaxHeight = 180;

bool usable(const std::optional<Rect>& candidate, const Rect& visible) {
  return candidate && candidate->width >= 1 && candidate->height >= 1 &&
         intersects(*candidate, grown(visible, kBadgeScreenSlack));
}

}  // namespace

std::string frameText(const std::optional<Rect>& frame) {
  if (!frame) return "nil";
  return truncatedInteger(frame->x) + "," + truncatedInteger(frame->y) + "," + truncatedInteger(frame->width) + "x" +
         truncatedInteger(frame->height);
}

Rect visibleFrameOr(const std::optional<Rect>& screen, const std::optional<Rect>& mainScreen) {
  if (screen) return *screen;
  if (mainScreen) return *mainScreen;
  return kFallbackScreenFrame;
}

Rect capsuleFrame(const Rect& visible) {
  return {midX(visible) - kCapsuleWidth / 2, maxY(visible) - kCapsuleHeight - kCapsuleTopGap, kCapsuleWidth,
          kCapsuleHeight};
}

double smoothAudioLevel(double smoothed, double level) { return smoothed * 0.66 + level * 0.34; }

double capsuleBarHeight(double smoothedLevel, int index, int64_t tick) {
  const double w = (std::sin(index * 0.58 + static_cast<double>(tick) * 0.32) + 1) / 2;
  const double height = std::max(smoothedLevel, 0.05) * 18 * (w * 0.86 + 0.32) + 3;
  if (!std::isfinite(height)) return kCapsuleMinBarHeight;
  return std::clamp(height, kCapsuleMinBarHeight, kCapsuleMaxBarHeight);
}

double processingProgress(int64_t tick) {
  const double p = std::clamp(static_cast<double>(tick) / 22.0, 0.0, 1.0);
  return p * p * (3 - 2 * p);
}

double processingLabelOpacity(int64_t tick) { return 0.8 + 0.08 * processingProgress(tick); }

double shimmerPulse(int64_t tick) { return (std::sin(static_cast<double>(tick) * 0.13) + 1) / 2; }

std::string_view processingTitle(const RecordingMode& mode) {
  switch (mode.kind()) {
    case RecordingMode::Kind::dictation:
      return "Processing";
    case RecordingMode::Kind::englishTranslation:
      return "Translating";
    case RecordingMode::Kind::morseCipher:
      return "Encoding";
    case RecordingMode::Kind::styled:
      return "Rewriting";
  }
  return "Processing";
}

std::string_view recordingTitle(const RecordingMode& mode) {
  switch (mode.kind()) {
    case RecordingMode::Kind::dictation:
      return "正在听写";
    case RecordingMode::Kind::englishTranslation:
      return "英文翻译";
    case RecordingMode::Kind::morseCipher:
      return "摩斯密码";
    case RecordingMode::Kind::styled:
      return mode.stylePreset() ? mode.stylePreset()->hudTitle() : std::string_view("语气变身");
  }
  return "正在听写";
}

std::string paletteSubtitleFor(VoiceStylePreset preset) {
  return std::string(preset.hudTitle()) + " · 松开 Ctrl 开始";
}

std::optional<BadgePlacement> placeInputBadge(const InputContext& context, const std::optional<Rect>& screen,
                                              const std::optional<Rect>& mainScreen,
                                              const std::optional<Point>& mouse) {
  if (!context.pasteTargetReason()) return std::nullopt;
  const Rect visible = visibleFrameOr(screen, mainScreen);
  Point origin;
  std::string_view anchor;
  if (usable(context.caretFrame, visible)) {
    const Rect& k = *context.caretFrame;
    const double h = std::min(std::max(k.height, 18.0), 42.0);
    origin = {maxX(k) + 8, midY(k) - 15 + (h - k.height) / 2};
    anchor = "caret";
  } else if (usable(context.focusedFrame, visible)) {
    const Rect& f = *context.focusedFrame;
    if (f.width <= kSmallFieldMaxWidth && f.height <= kSmallFieldMaxHeight) {
      origin = {minX(f) + 18, midY(f) - 15};
      anchor = "focused-input";
    } else {
      origin = {minX(f) + 28, maxY(f) - 62};
      anchor = "focused-large-surface";
    }
  } else if (mouse && containsPoint(grown(visible, kBadgeMouseSlack), *mouse)) {
    origin = {mouse->x + 14, mouse->y + 14};
    anchor = "mouse-fallback";
  } else {
    origin = {midX(visible) - kBadgeWidth / 2, minY(visible) + 92};
    anchor = "screen-fallback";
  }
  // Lower bound first, then the upper one: on a screen narrower than the badge the
  // badge sticks to the right (top) edge, as the frame formula has it.
  origin.x = std::max(origin.x, minX(visible) + kBadgeEdgeInset);
  origin.x = std::min(origin.x, maxX(visible) - kBadgeWidth - kBadgeEdgeInset);
  origin.y = std::max(origin.y, minY(visible) + kBadgeEdgeInset);
  origin.y = std::min(origin.y, maxY(visible) - kBadgeHeight - kBadgeEdgeInset);
  return BadgePlacement{{origin.x, origin.y, kBadgeWidth, kBadgeHeight}, anchor};
}

std::string inputBadgeLogLine(const BadgePlacement& placement, const InputContext& context) {
  return "input badge shown anchor=" + std::string(placement.anchor) + " frame=" + frameText(placement.frame) +
         " caret=" + frameText(context.caretFrame) + " focused=" + frameText(context.focusedFrame);
}

std::string copyPanelPreview(std::string_view text) {
  const std::string flat = text::replaceLiteral(text, "\n", " ");
  if (text::graphemeCount(flat) <= kCopyPreviewChars) return flat;
  return text::graphemePrefix(flat, kCopyPreviewChars) + "...";
}

Rect centredFrame(double width, double height, const std::optional<Rect>& visibleFrame) {
  const Rect v = visibleFrame.value_or(kFallbackScreenFrame);
  return {midX(v) - width / 2, midY(v) - height / 2, width, height};
}

}  // namespace sorvane
