// The small floating windows besides the capsule: the style palette shown while left
// Control is held, the listening badge at the caret, the copy panel for a result with
// no input field to paste into, and the learning panel (notices and confirmations).
//
// Each is made lazily by its owner on the main thread and lives for the process. None
// takes keyboard focus: the palette and badge are override-redirect windows; the panels
// are tool windows that show without activating (a click on their buttons still works,
// focus stays in the user's application). Texts from elsewhere (dictated text, model
// output, learnt terms) are shown as plain text. Timers (the copy panel's close, the
// notice's close, the badge's pulse) run on the dispatcher's main queue.
#pragma once

#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/input_context.h"
#include "core/dispatch.h"
#include "postprocess/recording_mode.h"
#include "turn/hud_layout.h"

class QLabel;
class QPushButton;

namespace sorvane {

class ModePaletteWindow final : public QWidget {
 public:
  ModePaletteWindow();
  // Centred in the lower half of `visibleFrame` (desktop coordinates), nothing selected.
  void show(const std::optional<Rect>& visibleFrame);
  void select(VoiceStylePreset preset);
  void hide();
  std::string subtitle() const;
  std::optional<VoiceStylePreset> selected() const { return selected_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* subtitle_;
  std::vector<QLabel*> modeCells_;
  std::optional<VoiceStylePreset> selected_;
};

class InputListeningBadgeWindow final : public QWidget {
 public:
  explicit InputListeningBadgeWindow(Dispatcher& dispatcher);
  // Places the badge by the context's caret or field (or a fallback) and logs the rule;
  // hides it when the context has no paste target.
  void show(const InputContext& context, const std::optional<Rect>& screen);
  void hide();
  const std::string& lastAnchorSource() const { return lastAnchorSource_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void pulse();
  Dispatcher& dispatcher_;
  OneShotTimer pulseTimer_;
  int pulseTick_ = 0;
  std::string lastAnchorSource_;
};

// A rounded panel following the desktop palette, shared by the two panels below.
class RoundedPanel : public QWidget {
 public:
  RoundedPanel();

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class ResultCopyPanel final : public RoundedPanel {
 public:
  // `copy` puts plain text on the clipboard (QClipboard in the app).
  ResultCopyPanel(Dispatcher& dispatcher, std::function<void(const std::string&)> copy);
  void show(const std::string& text, const std::optional<Rect>& visibleFrame = std::nullopt);
  const std::string& text() const { return text_; }
  QPushButton& copyButton() { return *copyButton_; }
  QString previewText() const;

 private:
  void copyPressed();
  Dispatcher& dispatcher_;
  std::function<void(const std::string&)> copy_;
  OneShotTimer closeTimer_;
  std::string text_;
  QLabel* preview_;
  QPushButton* copyButton_;
};

class MirlaLearningPanel final : public RoundedPanel {
 public:
  explicit MirlaLearningPanel(Dispatcher& dispatcher);
  // A plain notice: no buttons, closes by itself after 2.4 s.
  void showNotification(const std::string& title, const std::string& message,
                        const std::optional<Rect>& visibleFrame);
  void setButtonTitles(const std::string& primary, const std::string& secondary);
  // A confirmation: both buttons, waits for one; the primary closes the panel, then runs
  // `confirmAction` once.
  void showConfirmation(const std::string& title, const std::string& message,
                        const std::optional<Rect>& visibleFrame, std::function<void()> confirmAction);
  QPushButton& primaryButton() { return *primary_; }
  QPushButton& secondaryButton() { return *secondary_; }
  QString titleText() const;
  QString messageText() const;

 private:
  void fill(const std::string& title, const std::string& message, const std::optional<Rect>& visibleFrame);
  Dispatcher& dispatcher_;
  OneShotTimer closeTimer_;
  std::function<void()> confirmAction_;
  QLabel* title_;
  QLabel* message_;
  QPushButton* primary_;
  QPushButton* secondary_;
};

}  // namespace sorvane
