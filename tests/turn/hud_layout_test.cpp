#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "core/unicode_text.h"
#include "turn/hud_layout.h"

namespace sorvane {
namespace {

constexpr Rect kScreen{0, 0, 1440, 900};

// A context with a paste target (a settable text field) and the given frames.
InputContext fieldContext(std::optional<Rect> focused, std::optional<Rect> caret) {
  InputContext context;
  context.appName = "Editor";
  context.focusedRole = "AXTextArea";
  context.focusedValueSettable = true;
  context.source = "accessibility";
  context.focusedFrame = focused;
  context.caretFrame = caret;
  return context;
}

TEST(BadgePlacement, RulesInOrderWithClamping) {
  struct Row {
    const char* name;
    std::optional<Rect> focused;
    std::optional<Rect> caret;
    std::optional<Point> mouse;
    const char* anchor;
    Point origin;
  };
  const Row rows[] = {
      // Caret 16 high: h = 18, y = mid-y − 15 + (18 − 16) / 2.
      {"caret", Rect{100, 100, 300, 40}, Rect{200, 500, 2, 16}, std::nullopt, "caret", {210, 494}},
      // A tall caret counts as 42.
      {"tall caret", std::nullopt, Rect{200, 500, 2, 60}, std::nullopt, "caret", {210, 515 - 9}},
      {"no caret, field 300x40", Rect{100, 100, 300, 40}, std::nullopt, std::nullopt, "focused-input", {118, 105}},
      {"empty caret falls to the field", Rect{100, 100, 300, 40}, Rect{200, 500, 0, 0}, std::nullopt,
       "focused-input", {118, 105}},
      {"field 600 wide", Rect{100, 100, 600, 40}, std::nullopt, std::nullopt, "focused-large-surface", {128, 78}},
      {"field 181 high", Rect{100, 100, 300, 181}, std::nullopt, std::nullopt, "focused-large-surface", {128, 219}},
      {"frames far off screen use the mouse", Rect{5000, 5000, 300, 40}, Rect{5000, 5000, 2, 16}, Point{700, 400},
       "mouse-fallback", {714, 414}},
      {"mouse within 84 of the edge", std::nullopt, std::nullopt, Point{1500, 400}, "mouse-fallback",
       {1440 - 132 - 12, 414}},
      {"mouse far away", std::nullopt, std::nullopt, Point{3000, 400}, "screen-fallback", {720 - 66, 92}},
      {"no mouse", std::nullopt, std::nullopt, std::nullopt, "screen-fallback", {654, 92}},
      // Off-screen but within 160 points: usable, then clamped into the screen.
      {"caret just off the right edge", std::nullopt, Rect{1500, 880, 2, 18}, std::nullopt, "caret",
       {1440 - 144, 900 - 42}},
      {"field at the bottom-left corner", Rect{-50, -50, 200, 40}, std::nullopt, std::nullopt, "focused-input",
       {12, 12}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto placement = placeInputBadge(fieldContext(row.focused, row.caret), kScreen, std::nullopt, row.mouse);
    ASSERT_TRUE(placement.has_value());
    EXPECT_EQ(placement->anchor, row.anchor);
    EXPECT_DOUBLE_EQ(placement->frame.x, row.origin.x);
    EXPECT_DOUBLE_EQ(placement->frame.y, row.origin.y);
    EXPECT_EQ(placement->frame.width, 132);
    EXPECT_EQ(placement->frame.height, 30);
  }
}

TEST(BadgePlacement, NoPasteTargetNoBadgeAndScreenFallbacks) {
  InputContext noTarget;  // nothing focused: the empty context
  noTarget.source = "none";
  ASSERT_FALSE(noTarget.pasteTargetReason());
  EXPECT_FALSE(placeInputBadge(noTarget, kScreen, std::nullopt, Point{10, 10}).has_value());

  // Without a target screen the main screen is used, without either the 1200x800 frame.
  auto onMain = placeInputBadge(fieldContext(std::nullopt, std::nullopt), std::nullopt, Rect{0, 0, 2000, 1000},
                                std::nullopt);
  ASSERT_TRUE(onMain);
  EXPECT_EQ(onMain->frame.x, 1000 - 66);
  auto onNothing = placeInputBadge(fieldContext(std::nullopt, std::nullopt), std::nullopt, std::nullopt, std::nullopt);
  ASSERT_TRUE(onNothing);
  EXPECT_EQ(onNothing->frame.x, 600 - 66);
  EXPECT_EQ(onNothing->frame.y, 92);
}

TEST(BadgePlacement, LogLineNamesAnchorAndTruncatedFrames) {
  const auto context = fieldContext(Rect{100.9, 100.2, 300.7, 40}, std::nullopt);
  auto placement = placeInputBadge(context, kScreen, std::nullopt, std::nullopt);
  ASSERT_TRUE(placement);
  EXPECT_EQ(inputBadgeLogLine(*placement, context),
            "input badge shown anchor=focused-input frame=118,105,132x30 caret=nil focused=100,100,300x40");
  EXPECT_EQ(frameText(Rect{-0.5, 1.9, 1512, 982.6}), "0,1,1512x982");
}

TEST(Capsule, BarHeightsStayBetween3And20) {
  for (int64_t tick = 0; tick < 200; ++tick) {
    for (int bar = 0; bar < kCapsuleBarCount; ++bar) {
      const double quiet = capsuleBarHeight(0, bar, tick);
      const double loud = capsuleBarHeight(1, bar, tick);
      EXPECT_GE(quiet, 3);
      EXPECT_LE(quiet, 3 + 0.05 * 18 * 1.18 + 1e-9);  // silence still moves a little
      EXPECT_LE(loud, 20);
      EXPECT_GE(loud, 3);
    }
  }
  // Level 1 at the crest of the wave: 18 × 1.18 + 3 = 24.24, clamped to 20; at its
  // trough 18 × 0.32 + 3 = 8.76.
  EXPECT_DOUBLE_EQ(capsuleBarHeight(1, 0, 0), std::clamp(18 * (0.5 * 0.86 + 0.32) + 3, 3.0, 20.0));
  EXPECT_DOUBLE_EQ(capsuleBarHeight(std::nan(""), 0, 0), 3);
  EXPECT_DOUBLE_EQ(smoothAudioLevel(1, 0), 0.66);
  EXPECT_DOUBLE_EQ(smoothAudioLevel(0, 1), 0.34);
}

TEST(Capsule, ProcessingProgressEasesToOneAndTitlesByMode) {
  EXPECT_DOUBLE_EQ(processingProgress(0), 0);
  EXPECT_DOUBLE_EQ(processingProgress(11), 0.5);
  EXPECT_DOUBLE_EQ(processingProgress(22), 1);
  EXPECT_DOUBLE_EQ(processingProgress(500), 1);
  EXPECT_DOUBLE_EQ(processingLabelOpacity(0), 0.8);
  EXPECT_DOUBLE_EQ(processingLabelOpacity(22), 0.88);
  EXPECT_EQ(processingTitle(RecordingMode::dictation()), "Processing");
  EXPECT_EQ(processingTitle(RecordingMode::englishTranslation()), "Translating");
  EXPECT_EQ(processingTitle(RecordingMode::morseCipher()), "Encoding");
  EXPECT_EQ(processingTitle(RecordingMode::styled(VoiceStylePreset::doubao)), "Rewriting");
  EXPECT_EQ(recordingTitle(RecordingMode::styled(VoiceStylePreset::doubao)), "豆包语气");
  EXPECT_EQ(paletteSubtitleFor(VoiceStylePreset::highEQ), "高情商 · 松开 Ctrl 开始");
}

TEST(Capsule, FrameCentredBelowTheTopEdge) {
  // y grows upward: the top edge is max-y.
  const Rect frame = capsuleFrame(Rect{0, 0, 1512, 982});
  EXPECT_EQ(frame.x, 756 - 83);
  EXPECT_EQ(frame.y, 982 - 38 - 18);
  EXPECT_EQ(frame.width, 166);
  EXPECT_EQ(frame.height, 38);
  EXPECT_EQ(capsuleFrame(visibleFrameOr(std::nullopt, std::nullopt)).x, 600 - 83);
}

TEST(CopyPanel, PreviewCutsAfter120Characters) {
  const std::string han120 = [] {
    std::string s;
    for (int i = 0; i < 120; ++i) s += "字";
    return s;
  }();
  EXPECT_EQ(copyPanelPreview(han120), han120);
  EXPECT_EQ(copyPanelPreview(han120 + "尾"), han120 + "...");
  EXPECT_EQ(copyPanelPreview("第一行\n第二行"), "第一行 第二行");
  // An emoji with a modifier is one character.
  std::string emoji119 = text::graphemePrefix(han120, 119) + "👍🏽";
  EXPECT_EQ(copyPanelPreview(emoji119), emoji119);
}

TEST(LearningPanel, CentredOnTheScreenOrTheFallbackFrame) {
  const Rect onScreen = centredFrame(360, 120, Rect{100, 0, 1000, 800});
  EXPECT_EQ(onScreen.x, 420);
  EXPECT_EQ(onScreen.y, 340);
  const Rect fallback = centredFrame(360, 120, std::nullopt);
  EXPECT_EQ(fallback.x, 420);
  EXPECT_EQ(fallback.y, 340);
}

}  // namespace
}  // namespace sorvane
