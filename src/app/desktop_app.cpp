#include "app/desktop_app.h"

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "core/log.h"
#include "core/paths.h"
#include "platform/linux/single_instance.h"

namespace sorvane {
namespace {

// The tray icon is drawn at start: a rounded badge with the corner mark U+231E that the
// status item shows when no image asset is available.
QIcon makeTrayIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(32, 32, 36));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
  painter.setPen(QColor(240, 240, 240));
  QFont font = painter.font();
  font.setPixelSize(44);
  painter.setFont(font);
  painter.drawText(QRectF(0, 0, 64, 64), Qt::AlignCenter, QString(QChar(0x231E)));
  painter.end();
  return QIcon(pixmap);
}

}  // namespace

StatusItem::StatusItem() : menu_(std::make_unique<QMenu>()), tray_(std::make_unique<QSystemTrayIcon>()) {
  quit_ = menu_->addAction(QStringLiteral("Quit Mirla"));
  QObject::connect(quit_, &QAction::triggered, [] { QApplication::quit(); });
  tray_->setIcon(makeTrayIcon());
  tray_->setToolTip(QStringLiteral("Mirla"));
  tray_->setContextMenu(menu_.get());
  // A left click opens the same menu, as a status-bar item does.
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, menu_.get(),
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
                   });
}

StatusItem::~StatusItem() = default;

int runDesktopApplication(int argc, char** argv, const Paths& paths) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Sorvane"));
  QApplication::setOrganizationName(QStringLiteral("Sorvane"));
  QApplication::setQuitOnLastWindowClosed(false);
  appLog("app launched");

  if (!paths.ensureRuntimeFolder()) {
    appLog("runtime folder unusable path=" + paths.runtimeFolder + "; single-instance lock may fail");
  }
  platform::SingleInstanceLock lock(platform::SingleInstanceLock::lockPathIn(paths.runtimeFolder));
  if (!lock.tryAcquire()) {
    appLog("another instance exists; terminating this instance");
    return 0;
  }

  StatusItem statusItem;
  statusItem.trayIcon().show();
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    appLog("status item shown without a system tray host; the menu stays reachable once a tray appears");
  }
  return QApplication::exec();
}

}  // namespace sorvane
