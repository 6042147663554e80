#include "platform/linux/atspi_status_switch.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <utility>

#include "core/log.h"

namespace sorvane::platform {
namespace {

const QString kService = QStringLiteral("org.a11y.Bus");
const QString kPath = QStringLiteral("/org/a11y/bus");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kStatus = QStringLiteral("org.a11y.Status");
const QString kEnabled = QStringLiteral("IsEnabled");

QDBusConnection busAt(const std::string& address) {
  if (address.empty()) {
    // Without a session bus libdbus would try to autolaunch one (as the accessibility
    // adapter avoids too); the bus launcher is reached through the session bus only.
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) return QDBusConnection(QStringLiteral("sorvane-no-session-bus"));
    return QDBusConnection::sessionBus();
  }
  static std::atomic<int> serial{0};
  return QDBusConnection::connectToBus(QString::fromStdString(address),
                                       QStringLiteral("sorvane-a11y-status-%1").arg(serial++));
}

std::string describe(const QDBusError& error) {
  std::string text = error.name().toStdString();
  if (!error.message().isEmpty()) text += ": " + error.message().toStdString();
  return text;
}

// One run of the switch: read, set when off, read back. Deletes itself when done.
class SwitchRun final : public QObject {
 public:
  SwitchRun(QDBusConnection bus, bool ownConnection, std::function<void(const AccessibilitySwitchResult&)> done)
      : bus_(std::move(bus)), ownConnection_(ownConnection), done_(std::move(done)) {}
  ~SwitchRun() override {
    if (ownConnection_) QDBusConnection::disconnectFromBus(bus_.name());
  }

  void start() {
    if (!bus_.isConnected()) {
      // Answered from the event loop as every other outcome is, never inside the call.
      QTimer::singleShot(0, this, [this] { finish({AccessibilitySwitchResult::Outcome::failed, "no-session-bus"}); });
      return;
    }
    read([this](bool on) {
      if (on) return finish({AccessibilitySwitchResult::Outcome::alreadyOn, {}});
      QDBusMessage set = QDBusMessage::createMethodCall(kService, kPath, kProperties, QStringLiteral("Set"));
      set << kStatus << kEnabled << QVariant::fromValue(QDBusVariant(true));
      call(set, "set", [this](const QDBusMessage&) {
        read([this](bool nowOn) {
          if (!nowOn) return finish({AccessibilitySwitchResult::Outcome::failed, "read-back: still off"});
          finish({AccessibilitySwitchResult::Outcome::enabled, {}});
        }, "read-back");
      });
    }, "read");
  }

 private:
  template <typename Then>
  void call(const QDBusMessage& message, const char* step, Then then) {
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(message, int(kAccessibilitySwitchReplyLimit.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, step, then] {
      watcher->deleteLater();
      const QDBusMessage reply = watcher->reply();
      if (reply.type() != QDBusMessage::ReplyMessage) {
        return finish({AccessibilitySwitchResult::Outcome::failed, std::string(step) + ": " + describe(watcher->error())});
      }
      then(reply);
    });
  }

  template <typename Then>
  void read(Then then, const char* step) {
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, kProperties, QStringLiteral("Get"));
    get << kStatus << kEnabled;
    call(get, step, [this, then, step](const QDBusMessage& reply) {
      const QVariant value =
          reply.arguments().isEmpty() ? QVariant() : reply.arguments().front().value<QDBusVariant>().variant();
      if (value.typeId() != QMetaType::Bool) {
        return finish({AccessibilitySwitchResult::Outcome::failed, std::string(step) + ": not a boolean"});
      }
      then(value.toBool());
    });
  }

  void finish(AccessibilitySwitchResult result) {
    appLog(accessibilitySwitchLogLine(result));
    if (done_) done_(result);
    deleteLater();
  }

  QDBusConnection bus_;
  bool ownConnection_;
  std::function<void(const AccessibilitySwitchResult&)> done_;
};

}  // namespace

std::string accessibilitySwitchLogLine(const AccessibilitySwitchResult& result) {
  switch (result.outcome) {
    case AccessibilitySwitchResult::Outcome::alreadyOn:
      return "accessibility already on";
    case AccessibilitySwitchResult::Outcome::enabled:
      return "accessibility enabled org.a11y.Status IsEnabled=true; Qt applications already running expose "
             "their fields after a restart, Chromium and Electron ones when started with "
             "--force-renderer-accessibility";
    case AccessibilitySwitchResult::Outcome::failed:
      break;
  }
  return "accessibility switch failed reason=" + result.reason;
}

void switchAccessibilityOn(std::function<void(const AccessibilitySwitchResult&)> done, const std::string& busAddress) {
  (new SwitchRun(busAt(busAddress), !busAddress.empty(), std::move(done)))->start();
}

}  // namespace sorvane::platform
