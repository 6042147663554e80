#include "ui/floating_panels.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>

#include "core/log.h"
#include "ui/floating_window.h"
#include "ui/interface_style.h"
#include "ui/screen_geometry.h"

namespace sorvane {
namespace {

QLabel* plainLabel(const QString& text, int pixels, bool bold, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setOpenExternalLinks(false);
  label->setTextInteractionFlags(Qt::NoTextInteraction);
  QFont font = label->font();
  font.setPixelSize(pixels);
  if (bold) font.setWeight(QFont::DemiBold);
  label->setFont(font);
  return label;
}

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

void moveToDesktopFrame(QWidget& window, const Rect& frame) { window.move(toQtRect(frame).topLeft()); }

constexpr double kPaletteWidth = 420;
constexpr double kPaletteHeight = 176;
constexpr std::chrono::milliseconds kBadgePulseInterval{120};

}  // namespace

// --- palette ---

ModePaletteWindow::ModePaletteWindow() : QWidget(nullptr) {
  makeFloating(*this, FloatingKind::overlay);
  setObjectName(QStringLiteral("sorvane-style-palette"));
  setFixedSize(static_cast<int>(kPaletteWidth), static_cast<int>(kPaletteHeight));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 14, 18, 16);
  layout->setSpacing(6);
  auto* title = plainLabel(qs(kPaletteTitle), style::kPanelTitlePixels, true, this);
  subtitle_ = plainLabel(qs(kPaletteSubtitle), 12, false, this);
  QPalette onGlass = palette();
  onGlass.setColor(QPalette::WindowText, style::glassText());
  title->setPalette(onGlass);
  onGlass.setColor(QPalette::WindowText, style::glassSecondaryText());
  subtitle_->setPalette(onGlass);
  layout->addWidget(title);
  layout->addWidget(subtitle_);
  auto* grid = new QGridLayout();
  grid->setSpacing(6);
  for (VoiceStylePreset preset : VoiceStylePreset::all()) {
    auto* cell = plainLabel(QString::number(preset.rawValue()) + "  " + qs(preset.hudTitle()), 13, false, this);
    cell->setAlignment(Qt::AlignCenter);
    cell->setMinimumHeight(40);
    cell->setAutoFillBackground(false);
    cell->setStyleSheet(QStringLiteral("color: #f5f5f7; background: rgba(255,255,255,24); border-radius: 8px;"));
    const int index = preset.rawValue() - 1;
    grid->addWidget(cell, index / 4, index % 4);
    modeCells_.push_back(cell);
  }
  layout->addLayout(grid);
}

void ModePaletteWindow::show(const std::optional<Rect>& visibleFrame) {
  selected_.reset();
  subtitle_->setText(qs(kPaletteSubtitle));
  for (QLabel* cell : modeCells_) {
    cell->setStyleSheet(QStringLiteral("color: #f5f5f7; background: rgba(255,255,255,24); border-radius: 8px;"));
  }
  const Rect v = visibleFrameOr(visibleFrame, mainScreenVisibleFrame());
  const Rect frame{v.x + (v.width - kPaletteWidth) / 2, v.y + v.height * 0.28, kPaletteWidth, kPaletteHeight};
  moveToDesktopFrame(*this, frame);
  QWidget::show();
  raise();
}

void ModePaletteWindow::select(VoiceStylePreset preset) {
  selected_ = preset;
  subtitle_->setText(QString::fromStdString(paletteSubtitleFor(preset)));
  for (std::size_t i = 0; i < modeCells_.size(); ++i) {
    const bool on = static_cast<int>(i) == preset.rawValue() - 1;
    modeCells_[i]->setStyleSheet(on ? QStringLiteral("color: white; background: rgba(64,156,255,210); border-radius: 8px;")
                                    : QStringLiteral("color: #f5f5f7; background: rgba(255,255,255,24); border-radius: 8px;"));
  }
}

void ModePaletteWindow::hide() { QWidget::hide(); }

std::string ModePaletteWindow::subtitle() const { return subtitle_->text().toStdString(); }

void ModePaletteWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(style::glassBorder(), 1));
  painter.setBrush(style::glassFill());
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
}

// --- badge ---

InputListeningBadgeWindow::InputListeningBadgeWindow(Dispatcher& dispatcher) : QWidget(nullptr), dispatcher_(dispatcher) {
  makeFloating(*this, FloatingKind::overlay);
  setObjectName(QStringLiteral("sorvane-listening-badge"));
  setFixedSize(static_cast<int>(kBadgeWidth), static_cast<int>(kBadgeHeight));
}

void InputListeningBadgeWindow::show(const InputContext& context, const std::optional<Rect>& screen) {
  auto placement = placeInputBadge(context, screen, mainScreenVisibleFrame(), mouseLocation());
  if (!placement) {
    hide();
    return;
  }
  lastAnchorSource_ = std::string(placement->anchor);
  moveToDesktopFrame(*this, placement->frame);
  appLog(inputBadgeLogLine(*placement, context));
  setWindowOpacity(1.0);
  QWidget::show();
  raise();
  pulseTick_ = 0;
  if (!pulseTimer_.isRunning()) pulse();
}

void InputListeningBadgeWindow::hide() {
  pulseTimer_.cancel();
  QWidget::hide();
}

void InputListeningBadgeWindow::pulse() {
  ++pulseTick_;
  update();
  pulseTimer_.start(dispatcher_.mainQueue(), kBadgePulseInterval, [this] { pulse(); });
}

void InputListeningBadgeWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF pill = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(style::glassBorder(), 1));
  painter.setBrush(style::glassFill());
  painter.drawRoundedRect(pill, pill.height() / 2, pill.height() / 2);
  const double glow = (std::sin(pulseTick_ * 0.5) + 1) / 2;
  QColor dot = style::recordingAccent();
  dot.setAlphaF(0.55 + 0.45 * glow);
  painter.setPen(Qt::NoPen);
  painter.setBrush(dot);
  painter.drawEllipse(QPointF(15, pill.center().y()), 4, 4);
  QFont font = painter.font();
  font.setPixelSize(12);
  font.setWeight(QFont::DemiBold);
  painter.setFont(font);
  painter.setPen(style::glassText());
  painter.drawText(QRectF(26, 0, width() - 30, height()), Qt::AlignVCenter | Qt::AlignLeft, qs(kBadgeText));
}

// --- panels ---

RoundedPanel::RoundedPanel() : QWidget(nullptr) { makeFloating(*this, FloatingKind::panel); }

void RoundedPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor border = palette().color(QPalette::WindowText);
  border.setAlpha(40);
  painter.setPen(QPen(border, 1));
  painter.setBrush(palette().color(QPalette::Window));
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
}

ResultCopyPanel::ResultCopyPanel(Dispatcher& dispatcher, std::function<void(const std::string&)> copy)
    : dispatcher_(dispatcher), copy_(std::move(copy)) {
  setObjectName(QStringLiteral("sorvane-copy-panel"));
  setWindowTitle(qs(kCopyPanelTitle));
  setFixedWidth(420);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 14, 14, 16);
  layout->setSpacing(8);
  auto* header = new QHBoxLayout();
  header->addWidget(plainLabel(qs(kCopyPanelTitle), style::kPanelTitlePixels, true, this), 1);
  auto* close = new QPushButton(QStringLiteral("✕"), this);
  close->setObjectName(QStringLiteral("close"));
  close->setFlat(true);
  close->setFocusPolicy(Qt::NoFocus);
  close->setFixedSize(26, 26);
  header->addWidget(close);
  layout->addLayout(header);
  layout->addWidget(plainLabel(qs(kCopyPanelMessage), style::kPanelTextPixels, false, this));
  preview_ = plainLabel(QString(), style::kPanelTextPixels, false, this);
  preview_->setWordWrap(true);
  preview_->setObjectName(QStringLiteral("preview"));
  layout->addWidget(preview_);
  copyButton_ = new QPushButton(qs(kCopyButtonTitle), this);
  copyButton_->setObjectName(QStringLiteral("copy"));
  copyButton_->setFocusPolicy(Qt::NoFocus);
  copyButton_->setDefault(true);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(copyButton_);
  layout->addLayout(buttons);
  QObject::connect(copyButton_, &QPushButton::clicked, this, [this] { copyPressed(); });
  QObject::connect(close, &QPushButton::clicked, this, [this] {
    closeTimer_.cancel();
    QWidget::hide();
  });
}

void ResultCopyPanel::show(const std::string& text, const std::optional<Rect>& visibleFrame) {
  closeTimer_.cancel();
  text_ = text;
  preview_->setText(QString::fromStdString(copyPanelPreview(text)));
  copyButton_->setText(qs(kCopyButtonTitle));
  copyButton_->setEnabled(true);
  adjustSize();
  const Rect v = visibleFrameOr(visibleFrame, mainScreenVisibleFrame());
  const Rect frame{v.x + (v.width - width()) / 2, v.y + v.height * 0.62, static_cast<double>(width()),
                   static_cast<double>(height())};
  moveToDesktopFrame(*this, frame);
  QWidget::show();
  raise();
}

QString ResultCopyPanel::previewText() const { return preview_->text(); }

void ResultCopyPanel::copyPressed() {
  if (copy_) copy_(text_);
  copyButton_->setText(qs(kCopiedButtonTitle));
  closeTimer_.start(dispatcher_.mainQueue(), kCopyPanelCloseDelay, [this] { QWidget::hide(); });
}

MirlaLearningPanel::MirlaLearningPanel(Dispatcher& dispatcher) : dispatcher_(dispatcher) {
  setObjectName(QStringLiteral("sorvane-learning-panel"));
  setWindowTitle(QStringLiteral("Mirla"));
  setFixedWidth(380);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 14, 18, 16);
  layout->setSpacing(6);
  title_ = plainLabel(QString(), style::kPanelTitlePixels, true, this);
  message_ = plainLabel(QString(), style::kPanelTextPixels, false, this);
  message_->setWordWrap(true);
  layout->addWidget(title_);
  layout->addWidget(message_);
  primary_ = new QPushButton(qs(kLearningPrimaryTitle), this);
  secondary_ = new QPushButton(qs(kLearningSecondaryTitle), this);
  primary_->setObjectName(QStringLiteral("primary"));
  secondary_->setObjectName(QStringLiteral("secondary"));
  for (QPushButton* button : {primary_, secondary_}) button->setFocusPolicy(Qt::NoFocus);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(secondary_);
  buttons->addWidget(primary_);
  layout->addLayout(buttons);
  QObject::connect(primary_, &QPushButton::clicked, this, [this] {
    auto action = std::move(confirmAction_);
    confirmAction_ = nullptr;
    QWidget::hide();
    if (action) action();
  });
  QObject::connect(secondary_, &QPushButton::clicked, this, [this] {
    confirmAction_ = nullptr;
    QWidget::hide();
  });
}

void MirlaLearningPanel::fill(const std::string& title, const std::string& message,
                              const std::optional<Rect>& visibleFrame) {
  closeTimer_.cancel();
  title_->setText(QString::fromStdString(title));
  message_->setText(QString::fromStdString(message));
  adjustSize();
  moveToDesktopFrame(*this, centredFrame(width(), height(), visibleFrame ? visibleFrame : mainScreenVisibleFrame()));
}

void MirlaLearningPanel::showNotification(const std::string& title, const std::string& message,
                                          const std::optional<Rect>& visibleFrame) {
  confirmAction_ = nullptr;
  primary_->hide();
  secondary_->hide();
  fill(title, message, visibleFrame);
  QWidget::show();
  raise();
  closeTimer_.start(dispatcher_.mainQueue(), kLearningNoticeDuration, [this] { QWidget::hide(); });
}

void MirlaLearningPanel::setButtonTitles(const std::string& primary, const std::string& secondary) {
  primary_->setText(QString::fromStdString(primary));
  secondary_->setText(QString::fromStdString(secondary));
}

void MirlaLearningPanel::showConfirmation(const std::string& title, const std::string& message,
                                          const std::optional<Rect>& visibleFrame,
                                          std::function<void()> confirmAction) {
  confirmAction_ = std::move(confirmAction);
  primary_->show();
  secondary_->show();
  fill(title, message, visibleFrame);
  QWidget::show();
  raise();
}

QString MirlaLearningPanel::titleText() const { return title_->text(); }
QString MirlaLearningPanel::messageText() const { return message_->text(); }

}  // namespace sorvane
