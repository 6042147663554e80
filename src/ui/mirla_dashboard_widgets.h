// Small widget makers the dashboard's pages share: plain-text labels (nothing from a
// record or a server is ever read as rich text), page headers and read-only text views.
// Private to the dashboard's sources; main thread.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QString>

#include <string_view>

namespace sorvane::dashboard {

inline QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline QLabel* plain(const QString& text, QWidget* parent, int pixels = 0, bool bold = false) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setOpenExternalLinks(false);
  label->setWordWrap(true);
  if (pixels > 0 || bold) {
    QFont font = label->font();
    if (pixels > 0) font.setPixelSize(pixels);
    if (bold) font.setWeight(QFont::DemiBold);
    label->setFont(font);
  }
  return label;
}

inline QLabel* header(const QString& text, QWidget* parent) { return plain(text, parent, 20, true); }

inline QPlainTextEdit* readOnlyView(QWidget* parent) {
  auto* view = new QPlainTextEdit(parent);
  view->setReadOnly(true);
  view->setFrameShape(QFrame::NoFrame);
  view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  return view;
}

}  // namespace sorvane::dashboard
