#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QWindow>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"
#include "support/virtual_time.h"
#include "ui/floating_panels.h"
#include "ui/floating_window.h"
#include "ui/overlay_window.h"
#include "ui/qt_update_ports.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;

void click(QWidget& widget, QPointF at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, widget.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&widget, &press);
}

InputContext fieldContext() {
  InputContext context;
  context.focusedRole = "AXTextField";
  context.focusedValueSettable = true;
  context.source = "accessibility";
  context.focusedFrame = Rect{100, 500, 300, 40};
  return context;
}

class FloatingWindowsTest : public ::testing::Test {
 protected:
  testing::VirtualDispatcher dispatcher_;
};

TEST_F(FloatingWindowsTest, NoneAcceptsFocusAndOnlyTheOverlaysBypassTheWindowManager) {
  OverlayWindow capsule(dispatcher_);
  ModePaletteWindow palette;
  InputListeningBadgeWindow badge(dispatcher_);
  ResultCopyPanel copyPanel(dispatcher_, {});
  MirlaLearningPanel learning(dispatcher_);
  struct Row {
    const char* name;
    QWidget* window;
    bool bypass;
  };
  const Row rows[] = {{"capsule", &capsule, true},
                      {"palette", &palette, true},
                      {"badge", &badge, true},
                      {"copy panel", &copyPanel, false},
                      {"learning panel", &learning, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Qt::WindowFlags flags = row.window->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(flags.testFlag(Qt::X11BypassWindowManagerHint), row.bypass);
    EXPECT_TRUE(row.window->testAttribute(Qt::WA_ShowWithoutActivating));
  }
}

// The X server's input focus, as xdotool reads it; empty when it cannot be read.
std::string xFocus() {
  QProcess xdotool;
  xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
  if (!xdotool.waitForFinished(5000) || xdotool.exitCode() != 0) return {};
  return xdotool.readAllStandardOutput().trimmed().toStdString();
}

TEST_F(FloatingWindowsTest, ShowingEachLeavesTheFocusWhereItWas) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  QLineEdit editor;
  editor.setWindowTitle(QStringLiteral("sorvane focus target"));
  editor.show();
  editor.activateWindow();
  ASSERT_TRUE(testing::waitUntil([&] { return QGuiApplication::focusWindow() == editor.windowHandle(); }, 5s));
  const std::string focusBefore = xFocus();

  OverlayWindow capsule(dispatcher_);
  ModePaletteWindow palette;
  InputListeningBadgeWindow badge(dispatcher_);
  ResultCopyPanel copyPanel(dispatcher_, {});
  MirlaLearningPanel learning(dispatcher_);
  const std::vector<std::pair<const char*, std::function<void()>>> shows = {
      {"capsule", [&] { capsule.place(Rect{0, 0, 1280, 800}); capsule.showRecording(RecordingMode::dictation()); }},
      {"capsule processing", [&] { capsule.showProcessing(RecordingMode::dictation()); }},
      {"palette", [&] { palette.show(std::nullopt); palette.select(VoiceStylePreset::rage); }},
      {"badge", [&] { badge.show(fieldContext(), std::nullopt); }},
      {"copy panel", [&] { copyPanel.show("复制我"); }},
      {"learning notice", [&] { learning.showNotification("已记录到本机反馈", "这条样本会出现在 Mirla 看板的反馈页。", std::nullopt); }},
      {"learning confirmation", [&] { learning.showConfirmation("要记住这个词吗？", "Codex", std::nullopt, [] {}); }},
  };
  for (const auto& [name, show] : shows) {
    SCOPED_TRACE(name);
    show();
    // Give the server and a window manager, if any, time to react.
    testing::waitUntil([] { return false; }, 150ms);
    EXPECT_EQ(QGuiApplication::focusWindow(), editor.windowHandle());
    if (!focusBefore.empty()) {
      EXPECT_EQ(xFocus(), focusBefore);
    }
  }
  EXPECT_TRUE(capsule.isVisible() && badge.isVisible() && copyPanel.isVisible() && learning.isVisible());
}

TEST_F(FloatingWindowsTest, CapsuleAnimatesOnTheTickAndRaisesItsButtons) {
  OverlayWindow capsule(dispatcher_);
  int cancels = 0;
  int confirms = 0;
  capsule.onCancel = [&] { ++cancels; };
  capsule.onConfirm = [&] { ++confirms; };
  capsule.showRecording(RecordingMode::styled(VoiceStylePreset::rage));
  EXPECT_EQ(capsule.recordingModeTitle(), "暴躁开喷");
  EXPECT_TRUE(capsule.isAnimating());
  capsule.setAudioLevel(1);
  dispatcher_.advance(54ms);
  EXPECT_EQ(capsule.tick(), 0);
  dispatcher_.advance(1ms);
  EXPECT_EQ(capsule.tick(), 1);
  EXPECT_DOUBLE_EQ(capsule.smoothedAudioLevel(), 0.34);
  dispatcher_.advance(55ms * 9);
  EXPECT_EQ(capsule.tick(), 10);

  capsule.showProcessing(RecordingMode::englishTranslation());
  EXPECT_TRUE(capsule.isProcessingAnimation());
  EXPECT_EQ(capsule.tick(), 0);
  dispatcher_.advance(55ms);
  EXPECT_EQ(capsule.tick(), 1);

  click(capsule, QPointF(10, capsule.height() / 2.0));
  click(capsule, QPointF(capsule.width() - 10, capsule.height() / 2.0));
  click(capsule, QPointF(capsule.width() / 2.0, capsule.height() / 2.0));
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(confirms, 1);

  capsule.hideOverlay();
  EXPECT_FALSE(capsule.isAnimating());
  EXPECT_FALSE(capsule.isVisible());
  dispatcher_.advance(1s);
  EXPECT_EQ(capsule.tick(), 0);  // the tick stopped with the capsule
}

TEST_F(FloatingWindowsTest, CopyPanelCopiesTheWholeTextAndClosesAfter850ms) {
  std::vector<std::string> copied;
  ResultCopyPanel panel(dispatcher_, [&](const std::string& text) { copied.push_back(text); });
  std::string text;
  for (int i = 0; i < 121; ++i) text += (i == 60 ? "\n" : "字");
  panel.show(text);
  EXPECT_TRUE(panel.isVisible());
  EXPECT_TRUE(panel.previewText().endsWith(QStringLiteral("...")));
  EXPECT_FALSE(panel.previewText().contains('\n'));
  EXPECT_EQ(panel.previewText().size(), 123);
  panel.copyButton().click();
  EXPECT_EQ(copied, std::vector<std::string>{text});
  EXPECT_EQ(panel.copyButton().text(), QStringLiteral("已复制"));
  dispatcher_.advance(849ms);
  EXPECT_TRUE(panel.isVisible());
  dispatcher_.advance(1ms);
  EXPECT_FALSE(panel.isVisible());
  // Markup in a result is text.
  panel.show("<b>粗体</b>");
  EXPECT_EQ(panel.previewText(), QStringLiteral("<b>粗体</b>"));
  EXPECT_EQ(panel.findChild<QLabel*>(QStringLiteral("preview"))->textFormat(), Qt::PlainText);
  EXPECT_EQ(panel.copyButton().text(), QStringLiteral("复制"));
}

TEST_F(FloatingWindowsTest, LearningPanelNoticeClosesItselfConfirmationRunsItsActionOnce) {
  MirlaLearningPanel panel(dispatcher_);
  panel.showNotification("已记录到本机反馈", "这条样本会出现在 Mirla 看板的反馈页。", Rect{0, 0, 1280, 800});
  EXPECT_TRUE(panel.isVisible());
  EXPECT_FALSE(panel.primaryButton().isVisible());
  EXPECT_FALSE(panel.secondaryButton().isVisible());
  dispatcher_.advance(2399ms);
  EXPECT_TRUE(panel.isVisible());
  dispatcher_.advance(1ms);
  EXPECT_FALSE(panel.isVisible());

  int confirmed = 0;
  panel.setButtonTitles("加入词典", "不用");
  panel.showConfirmation("要记住这些词吗？", "Codex、Sorvane", std::nullopt, [&] {
    EXPECT_FALSE(panel.isVisible());  // closed before the action runs
    ++confirmed;
  });
  EXPECT_TRUE(panel.primaryButton().isVisible());
  EXPECT_EQ(panel.primaryButton().text(), QStringLiteral("加入词典"));
  dispatcher_.advance(10s);
  EXPECT_TRUE(panel.isVisible());  // a confirmation waits
  panel.primaryButton().click();
  panel.primaryButton().click();
  EXPECT_EQ(confirmed, 1);

  panel.showConfirmation("要记住这些词吗？", "x", std::nullopt, [&] { ++confirmed; });
  panel.secondaryButton().click();
  EXPECT_FALSE(panel.isVisible());
  EXPECT_EQ(confirmed, 1);
}

TEST_F(FloatingWindowsTest, PaletteSubtitleAndBadgeRules) {
  ModePaletteWindow palette;
  palette.show(Rect{0, 0, 1280, 800});
  EXPECT_EQ(palette.subtitle(), "按住 Ctrl 选 1-8，松手开始");
  palette.select(VoiceStylePreset::kalovStatement);
  EXPECT_EQ(palette.subtitle(), "卡式新闻稿 · 松开 Ctrl 开始");
  palette.show(std::nullopt);
  EXPECT_FALSE(palette.selected().has_value());

  InputListeningBadgeWindow badge(dispatcher_);
  testing::LogCapture log;
  badge.show(fieldContext(), Rect{0, 0, 1280, 800});
  EXPECT_TRUE(badge.isVisible());
  EXPECT_EQ(badge.lastAnchorSource(), "focused-input");
  EXPECT_TRUE(log.contains("input badge shown anchor=focused-input frame=118,505,132x30 caret=nil focused=100,500,300x40"));
  InputContext none;
  none.source = "none";
  badge.show(none, Rect{0, 0, 1280, 800});
  EXPECT_FALSE(badge.isVisible());
  EXPECT_EQ(log.count("input badge shown"), 1u);
}

TEST_F(FloatingWindowsTest, UpdateAlertShowsManifestTextsAsPlainText) {
  QWidget parent;
  DialogUpdatePresenter presenter([&] { return &parent; });
  std::vector<bool> answers;
  UpdateAlert alert{"<a href='file:///etc'>点我</a>", "当前版本 1.0，最新版本 2.0。\n\n• <img src=x>", "https://e.test"};
  presenter.present(alert, [&](bool download) { answers.push_back(download); });
  UpdateAlertDialog* dialog = presenter.current();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->messageLabel().textFormat(), Qt::PlainText);
  EXPECT_EQ(dialog->informativeLabel().textFormat(), Qt::PlainText);
  EXPECT_FALSE(dialog->messageLabel().openExternalLinks());
  EXPECT_EQ(dialog->messageLabel().text(), QStringLiteral("<a href='file:///etc'>点我</a>"));
  EXPECT_EQ(dialog->downloadButton().text(), QStringLiteral("下载更新"));
  EXPECT_TRUE(dialog->downloadButton().isDefault());
  dialog->downloadButton().click();
  EXPECT_EQ(answers, std::vector<bool>{true});

  presenter.present(alert, [&](bool download) { answers.push_back(download); });
  presenter.current()->laterButton().click();
  EXPECT_EQ(answers, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace sorvane
