// The dashboard's overview page: the three metric cards of today and the 7-day
// character chart.
#include "ui/mirla_dashboard_window.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/dashboard_text.h"
#include "ui/mirla_dashboard_widgets.h"

namespace sorvane {

using dashboard::header;
using dashboard::plain;

// --- chart ---

MirlaTrendChartView::MirlaTrendChartView(QWidget* parent) : QWidget(parent) { setMinimumHeight(180); }

void MirlaTrendChartView::setPoints(std::vector<std::pair<std::string, int64_t>> points) {
  points_ = std::move(points);
  update();
}

void MirlaTrendChartView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& pal = palette();
  QColor card = pal.color(QPalette::Base);
  painter.setPen(Qt::NoPen);
  painter.setBrush(card);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
  QFont font = painter.font();
  font.setPixelSize(13);
  font.setWeight(QFont::DemiBold);
  painter.setFont(font);
  painter.setPen(pal.color(QPalette::Text));
  painter.drawText(QRectF(16, 10, width() - 32, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("近 7 天输入趋势"));
  if (points_.empty()) return;
  const QRectF plot(24, 42, width() - 48, height() - 42 - 30);
  int64_t top = 1;
  for (const auto& point : points_) top = std::max(top, point.second);
  const double slot = plot.width() / static_cast<double>(points_.size());
  const double barWidth = std::min(36.0, slot * 0.56);
  QColor accent = pal.color(QPalette::Highlight);
  font.setPixelSize(11);
  font.setWeight(QFont::Normal);
  painter.setFont(font);
  QColor muted = pal.color(QPalette::Text);
  muted.setAlpha(150);
  for (std::size_t i = 0; i < points_.size(); ++i) {
    const double value = static_cast<double>(std::max<int64_t>(points_[i].second, 0));
    const double h = std::max(2.0, plot.height() * value / static_cast<double>(top));
    const double x = plot.left() + slot * static_cast<double>(i) + (slot - barWidth) / 2;
    QColor fill = accent;
    fill.setAlpha(i + 1 == points_.size() ? 255 : 150);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(x, plot.bottom() - h, barWidth, h), 5, 5);
    painter.setPen(muted);
    painter.drawText(QRectF(x - 14, plot.bottom() + 6, barWidth + 28, 16), Qt::AlignCenter,
                     QString::fromStdString(points_[i].first));
    if (points_[i].second > 0) {
      painter.drawText(QRectF(x - 20, plot.bottom() - h - 18, barWidth + 40, 16), Qt::AlignCenter,
                       QString::fromStdString(formatCount(points_[i].second)));
    }
  }
}

// --- page ---

QWidget* MirlaDashboardWindow::buildOverview() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(16);
  auto* top = new QHBoxLayout();
  top->addWidget(header(QStringLiteral("使用概览"), page), 1);
  auto* refreshButton = new QPushButton(QStringLiteral("刷新"), page);
  QObject::connect(refreshButton, &QPushButton::clicked, this, [this] { refresh(); });
  top->addWidget(refreshButton);
  layout->addLayout(top);
  auto* cards = new QHBoxLayout();
  cards->setSpacing(12);
  const char* cardTitles[3] = {"今日说话", "今日字数", "今日节省"};
  for (const char* title : cardTitles) {
    auto* card = new QFrame(page);
    card->setAutoFillBackground(true);
    QPalette cardPalette = card->palette();
    cardPalette.setColor(QPalette::Window, palette().color(QPalette::Base));
    card->setPalette(cardPalette);
    card->setFrameShape(QFrame::StyledPanel);
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(16, 12, 16, 14);
    cardLayout->addWidget(plain(QString::fromUtf8(title), card, 13));
    auto* value = plain(QStringLiteral("-"), card, 26, true);
    auto* detail = plain(QString(), card, 12);
    cardLayout->addWidget(value);
    cardLayout->addWidget(detail);
    metricValues_.push_back(value);
    metricDetails_.push_back(detail);
    cards->addWidget(card, 1);
  }
  layout->addLayout(cards);
  chart_ = new MirlaTrendChartView(page);
  layout->addWidget(chart_, 1);
  return page;
}

QString MirlaDashboardWindow::metricValueText(int card) const {
  return metricValues_[static_cast<std::size_t>(card)]->text();
}

}  // namespace sorvane
