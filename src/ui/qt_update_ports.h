// Qt adapters of the update checker's ports: preferences in the settings file of
// `Paths` (QSettings, INI form, synced after each write) and the alert as a small
// dialog attached to the dashboard.
//
// The alert is our own dialog rather than a QMessageBox: a message box's informative
// label guesses rich text and opens links, and the manifest's title and notes are
// untrusted, so both labels here are plain text with links off. Main thread.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

#include "ui/mirla_update_checker.h"

class QLabel;
class QPushButton;
class QSettings;
class QWidget;

namespace sorvane {

class QSettingsPreferenceStore final : public PreferenceStore {
 public:
  explicit QSettingsPreferenceStore(const std::string& settingsFile);
  ~QSettingsPreferenceStore() override;
  bool boolValue(const std::string& key) const override;
  void setBool(const std::string& key, bool value) override;

 private:
  std::unique_ptr<QSettings> settings_;
};

class UpdateAlertDialog final : public QDialog {
 public:
  UpdateAlertDialog(const UpdateAlert& alert, QWidget* parent);
  QLabel& messageLabel() { return *message_; }
  QLabel& informativeLabel() { return *informative_; }
  QPushButton& downloadButton() { return *download_; }
  QPushButton& laterButton() { return *later_; }

 private:
  QLabel* message_;
  QLabel* informative_;
  QPushButton* download_;
  QPushButton* later_;
};

// Shows the dialog window-modal on the window `parent()` returns (the dashboard when it
// exists), application-modal otherwise; never blocks the event loop.
class DialogUpdatePresenter final : public UpdateAlertPresenter {
 public:
  explicit DialogUpdatePresenter(std::function<QWidget*()> parent);
  void present(const UpdateAlert& alert, std::function<void(bool download)> done) override;
  // The dialog on screen, if any (tests press its buttons).
  UpdateAlertDialog* current() const;

 private:
  std::function<QWidget*()> parent_;
  struct Tracker;
  std::shared_ptr<Tracker> tracker_;
};

}  // namespace sorvane
