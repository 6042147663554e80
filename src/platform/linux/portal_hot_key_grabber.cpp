#include "platform/linux/portal_hot_key_grabber.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <map>

#include "core/log.h"

namespace {

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut {
  QString id;
  QVariantMap properties;
};

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.id << shortcut.properties;
  argument.endStructure();
  return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.id >> shortcut.properties;
  argument.endStructure();
  return argument;
}

namespace sorvane::platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kIdPrefix = QStringLiteral("sorvane-chord-");
constexpr int kPropertyReadLimitMs = 2000;

void registerTypes() {
  static const bool once = [] {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    return true;
  }();
  (void)once;
}

QDBusConnection busAt(const std::string& address) {
  if (address.empty()) return QDBusConnection::sessionBus();
  static std::atomic<int> serial{0};
  return QDBusConnection::connectToBus(QString::fromStdString(address),
                                       QStringLiteral("sorvane-portal-%1").arg(serial++));
}

// The trigger the desktop should propose, in the shortcut notation of the portal.
QString preferredTrigger(uint8_t modifiers) {
  QString trigger;
  if (modifiers & hotkey::control) trigger += "CTRL+";
  if (modifiers & hotkey::alt) trigger += "ALT+";
  if (modifiers & hotkey::super) trigger += "LOGO+";
  if (modifiers & hotkey::shift) trigger += "SHIFT+";
  return trigger + "space";
}

}  // namespace

bool globalShortcutsPortalAvailable(const std::string& busAddress) {
  QDBusConnection bus = busAt(busAddress);
  if (!bus.isConnected()) return false;
  QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
  get << kInterface << QStringLiteral("version");
  const QDBusMessage reply = bus.call(get, QDBus::Block, kPropertyReadLimitMs);
  return reply.type() == QDBusMessage::ReplyMessage;
}

class PortalHotKeyGrabber::Impl : public QObject {
  Q_OBJECT
 public:
  explicit Impl(const std::string& address) : bus_(busAt(address)) { registerTypes(); }

  std::vector<HotKeyChord> chords;
  std::function<void(int)> handler;
  std::vector<int> bound;
  bool settled = false;
  bool scheduled = false;

  void start() {
    if (!bus_.isConnected()) return fail("no-portal");
    bus_.connect(kService, kPath, kInterface, "Activated", this, SLOT(onActivated(QDBusMessage)));
    const QString token = nextToken();
    QVariantMap options{{"handle_token", token}, {"session_handle_token", token}};
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "CreateSession");
    call << options;
    request(call, token, [this](uint response, const QVariantMap& results) {
      const QVariant handle = results.value("session_handle");
      // A string by the portal's documentation, an object path in some implementations.
      const QString session =
          handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path() : handle.toString();
      if (response != 0 || session.isEmpty()) return fail("portal-refused");
      session_ = session;
      bind();
    });
  }

 public slots:
  void onActivated(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2 || args[0].value<QDBusObjectPath>().path() != session_) return;
    const QString id = args[1].toString();
    if (!id.startsWith(kIdPrefix) || !handler) return;
    bool ok = false;
    const int chord = id.mid(kIdPrefix.size()).toInt(&ok);
    if (ok) handler(chord);
  }
  void onResponse(const QDBusMessage& message) {
    const QString path = message.path();
    auto it = pending_.find(path);
    if (it == pending_.end()) return;
    auto done = std::move(it->second);
    pending_.erase(it);
    bus_.disconnect(kService, path, kRequestInterface, "Response", this, SLOT(onResponse(QDBusMessage)));
    const QList<QVariant> args = message.arguments();
    const uint response = args.size() > 0 ? args[0].toUInt() : 2;
    QVariantMap results;
    if (args.size() > 1) results = qdbus_cast<QVariantMap>(args[1]);
    done(response, results);
  }

 private:
  using Done = std::function<void(uint, const QVariantMap&)>;

  QString nextToken() { return QStringLiteral("sorvane%1").arg(++tokens_); }

  // The portal answers on a Request object whose path it derives from our unique name and
  // the token; listening there before calling closes the race with a fast answer.
  void request(const QDBusMessage& call, const QString& token, Done done) {
    QString sender = bus_.baseService().mid(1);
    sender.replace('.', '_');
    const QString path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
    pending_[path] = std::move(done);
    bus_.connect(kService, path, kRequestInterface, "Response", this, SLOT(onResponse(QDBusMessage)));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, static_cast<int>(kPortalReplyLimit.count())), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path](QDBusPendingCallWatcher* w) {
      w->deleteLater();
      QDBusPendingReply<QDBusObjectPath> reply = *w;
      if (reply.isError()) {
        pending_.erase(path);
        return fail(reply.error().type() == QDBusError::ServiceUnknown ? "no-portal" : "portal-refused");
      }
      // An older portal may answer on a path of its own choosing.
      const QString actual = reply.value().path();
      if (actual != path) {
        auto it = pending_.find(path);
        if (it == pending_.end()) return;
        pending_[actual] = std::move(it->second);
        pending_.erase(path);
        bus_.connect(kService, actual, kRequestInterface, "Response", this, SLOT(onResponse(QDBusMessage)));
      }
    });
    QTimer::singleShot(kPortalReplyLimit, this, [this, path] {
      if (pending_.erase(path)) fail("portal-timeout");
    });
  }

  void bind() {
    QList<PortalShortcut> shortcuts;
    for (const HotKeyChord& chord : chords) {
      shortcuts.push_back({kIdPrefix + QString::number(chord.id),
                           {{"description", QString::fromUtf8(chord.name.data(), chord.name.size())},
                            {"preferred_trigger", preferredTrigger(chord.modifiers)}}});
    }
    const QString token = nextToken();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "BindShortcuts");
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(shortcuts) << QString()
         << QVariantMap{{"handle_token", token}};
    request(call, token, [this](uint response, const QVariantMap& results) {
      if (response != 0) return fail("portal-refused");
      QList<PortalShortcut> granted;
      if (results.contains("shortcuts")) granted = qdbus_cast<QList<PortalShortcut>>(results.value("shortcuts"));
      std::string ids;
      for (const PortalShortcut& shortcut : granted) {
        if (!shortcut.id.startsWith(kIdPrefix)) continue;
        bound.push_back(shortcut.id.mid(kIdPrefix.size()).toInt());
        ids += (ids.empty() ? "" : ",") + std::to_string(bound.back());
      }
      for (const HotKeyChord& chord : chords) {
        if (std::find(bound.begin(), bound.end(), chord.id) == bound.end()) {
          appLog("hotkey failed id=" + std::to_string(chord.id) + " status=portal-refused");
        }
      }
      appLog("hotkey portal bound ids=" + ids);
      settled = true;
    });
  }

  void fail(const std::string& status) {
    if (settled) return;
    for (const HotKeyChord& chord : chords) {
      appLog("hotkey failed id=" + std::to_string(chord.id) + " status=" + status);
    }
    settled = true;
  }

  QDBusConnection bus_;
  QString session_;
  int tokens_ = 0;
  std::map<QString, Done> pending_;
};

PortalHotKeyGrabber::PortalHotKeyGrabber(const std::string& busAddress) : impl_(std::make_unique<Impl>(busAddress)) {}

PortalHotKeyGrabber::~PortalHotKeyGrabber() = default;

std::string PortalHotKeyGrabber::grab(const HotKeyChord& chord) {
  impl_->chords.push_back(chord);
  if (!impl_->scheduled) {
    impl_->scheduled = true;
    QTimer::singleShot(0, impl_.get(), [impl = impl_.get()] { impl->start(); });
  }
  return {};
}

void PortalHotKeyGrabber::setPressedHandler(std::function<void(int id)> handler) {
  impl_->handler = std::move(handler);
}

const std::vector<int>& PortalHotKeyGrabber::boundIds() const { return impl_->bound; }
bool PortalHotKeyGrabber::settled() const { return impl_->settled; }

}  // namespace sorvane::platform

#include "portal_hot_key_grabber.moc"
