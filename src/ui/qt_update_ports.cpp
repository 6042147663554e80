#include "ui/qt_update_ports.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace sorvane {

QSettingsPreferenceStore::QSettingsPreferenceStore(const std::string& settingsFile)
    : settings_(std::make_unique<QSettings>(QString::fromStdString(settingsFile), QSettings::IniFormat)) {}

QSettingsPreferenceStore::~QSettingsPreferenceStore() = default;

bool QSettingsPreferenceStore::boolValue(const std::string& key) const {
  return settings_->value(QString::fromStdString(key), false).toBool();
}

void QSettingsPreferenceStore::setBool(const std::string& key, bool value) {
  settings_->setValue(QString::fromStdString(key), value);
  settings_->sync();
}

namespace {

QLabel* plainTextLabel(const std::string& text, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setOpenExternalLinks(false);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  label->setText(QString::fromStdString(text));
  return label;
}

}  // namespace

UpdateAlertDialog::UpdateAlertDialog(const UpdateAlert& alert, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Mirla"));
  setObjectName(QStringLiteral("sorvane-update-alert"));
  auto* layout = new QVBoxLayout(this);
  message_ = plainTextLabel(alert.messageText, this);
  QFont font = message_->font();
  font.setPixelSize(15);
  font.setWeight(QFont::DemiBold);
  message_->setFont(font);
  informative_ = plainTextLabel(alert.informativeText, this);
  layout->addWidget(message_);
  layout->addWidget(informative_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  later_ = new QPushButton(QString::fromUtf8(kUpdateLaterButton.data(), kUpdateLaterButton.size()), this);
  download_ = new QPushButton(QString::fromUtf8(kUpdateDownloadButton.data(), kUpdateDownloadButton.size()), this);
  download_->setDefault(true);
  buttons->addWidget(later_);
  buttons->addWidget(download_);
  layout->addLayout(buttons);
  connect(download_, &QPushButton::clicked, this, &QDialog::accept);
  connect(later_, &QPushButton::clicked, this, &QDialog::reject);
  setMinimumWidth(360);
}

struct DialogUpdatePresenter::Tracker {
  QPointer<UpdateAlertDialog> dialog;
};

DialogUpdatePresenter::DialogUpdatePresenter(std::function<QWidget*()> parent)
    : parent_(std::move(parent)), tracker_(std::make_shared<Tracker>()) {}

void DialogUpdatePresenter::present(const UpdateAlert& alert, std::function<void(bool)> done) {
  QWidget* parent = parent_ ? parent_() : nullptr;
  auto* dialog = new UpdateAlertDialog(alert, parent && parent->isVisible() ? parent : nullptr);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(dialog->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
  tracker_->dialog = dialog;
  QObject::connect(dialog, &QDialog::finished, dialog, [done = std::move(done)](int result) {
    if (done) done(result == QDialog::Accepted);
  });
  dialog->open();
}

UpdateAlertDialog* DialogUpdatePresenter::current() const { return tracker_->dialog.data(); }

}  // namespace sorvane
