#include "platform/linux/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "core/log.h"

namespace sorvane::platform {

// Our text on the clipboard; a read of its data means a program fetched it.
class ClipboardOffer final : public QMimeData {
 public:
  explicit ClipboardOffer(std::function<void()> onFetched) : onFetched_(std::move(onFetched)) {}
  void forget() { onFetched_ = nullptr; }

 protected:
  QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
    if (onFetched_) onFetched_();
    return QMimeData::retrieveData(mimeType, type);
  }

 private:
  std::function<void()> onFetched_;
};

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

// Targets that describe the transfer rather than the contents, and Qt's image pseudo-format.
bool isHousekeeping(std::string_view type) {
  return type.find('/') == std::string_view::npos || type == "application/x-qt-image";
}

bool isPlainTextTarget(std::string_view type) {
  return type == "UTF8_STRING" || type == "text/plain;charset=utf-8" || type == "text/plain" || type == "STRING" ||
         type == "TEXT";
}

// Preference among the text targets for the one "text/plain" of the snapshot.
int textRank(std::string_view type) {
  if (type == "UTF8_STRING") return 0;
  if (type == "text/plain;charset=utf-8") return 1;
  if (type == "text/plain") return 2;
  return 3;
}

}  // namespace

// Reads another program's CLIPBOARD or PRIMARY selection on a connection of our own, with
// deadlines.
class XSelectionReader {
 public:
  XSelectionReader() {
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_)) {
      xcb_disconnect(connection_);
      connection_ = nullptr;
      return;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &mask);
    clipboard_ = atom("CLIPBOARD");
    primary_ = XCB_ATOM_PRIMARY;
    targets_ = atom("TARGETS");
    incr_ = atom("INCR");
    property_ = atom("SORVANE_SELECTION");
    xcb_flush(connection_);
  }
  ~XSelectionReader() {
    if (connection_) xcb_disconnect(connection_);
  }
  bool usable() const { return connection_ != nullptr; }

  xcb_window_t owner(ClipboardSelection which) {
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, atomOf(which)), nullptr);
    const xcb_window_t owner = reply ? reply->owner : XCB_NONE;
    free(reply);
    return owner;
  }

  ClipboardSnapshot read(ClipboardSelection which, std::chrono::milliseconds timeLimit, std::size_t byteLimit) {
    ClipboardSnapshot snapshot;
    const xcb_atom_t selection = atomOf(which);
    drainEvents();
    const SteadyTime deadline = std::chrono::steady_clock::now() + timeLimit;
    std::size_t budget = byteLimit;
    std::optional<std::string> targetList = convert(selection, targets_, deadline, budget);
    if (!targetList) {
      // Nobody owns the selection (empty), or the owner did not answer in time.
      snapshot.complete = owner(which) == xcb_window_t{XCB_NONE};
      return snapshot;
    }
    std::vector<std::pair<std::string, xcb_atom_t>> targets;
    for (std::size_t i = 0; i + 4 <= targetList->size(); i += 4) {
      xcb_atom_t a = 0;
      std::copy_n(targetList->data() + i, 4, reinterpret_cast<char*>(&a));
      std::string name = atomName(a);
      if (!name.empty()) targets.emplace_back(std::move(name), a);
    }
    // The text comes once, as "text/plain", from its best target; other types as listed.
    const auto text = std::min_element(targets.begin(), targets.end(), [](const auto& l, const auto& r) {
      return textRank(l.first) < textRank(r.first);
    });
    bool textDone = false;
    for (const auto& [name, target] : targets) {
      const bool plain = isPlainTextTarget(name);
      if (plain ? textDone || name != text->first : isHousekeeping(name)) continue;
      std::optional<std::string> data = convert(selection, target, deadline, budget);
      if (!data) {
        snapshot.complete = false;
        appLog("clipboard format left out type=" + name);
        continue;
      }
      if (plain) {
        textDone = true;
        snapshot.formats.push_back({"text/plain", std::move(*data)});
      } else {
        snapshot.formats.push_back({name, std::move(*data)});
      }
    }
    return snapshot;
  }

 private:
  xcb_atom_t atomOf(ClipboardSelection which) const {
    return which == ClipboardSelection::primary ? primary_ : clipboard_;
  }

  xcb_atom_t atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::string_view(name).size()), name),
        nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return value;
  }

  std::string atomName(xcb_atom_t a) {
    xcb_get_atom_name_reply_t* reply = xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, a), nullptr);
    std::string name;
    if (reply) name.assign(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
    free(reply);
    return name;
  }

  void drainEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) free(event);
  }

  // The next event, waiting no later than `deadline`.
  xcb_generic_event_t* waitEvent(SteadyTime deadline) {
    for (;;) {
      if (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) return event;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || xcb_connection_has_error(connection_)) return nullptr;
      pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
      poll(&fd, 1, static_cast<int>(left.count()) + 1);
    }
  }

  // Reads and deletes our property; nullopt when it is missing.
  struct Property {
    xcb_atom_t type;
    std::string data;
  };
  std::optional<Property> takeProperty() {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 1, window_, property_, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1fffffff),
        nullptr);
    if (!reply) return std::nullopt;
    Property property{reply->type, std::string(static_cast<const char*>(xcb_get_property_value(reply)),
                                               static_cast<std::size_t>(xcb_get_property_value_length(reply)))};
    free(reply);
    if (property.type == XCB_ATOM_NONE) return std::nullopt;
    return property;
  }

  std::optional<std::string> convert(xcb_atom_t selection, xcb_atom_t target, SteadyTime deadline,
                                     std::size_t& budget) {
    xcb_convert_selection(connection_, window_, selection, target, property_, XCB_CURRENT_TIME);
    xcb_flush(connection_);
    for (;;) {
      xcb_generic_event_t* event = waitEvent(deadline);
      if (!event) return std::nullopt;
      const bool notify = (event->response_type & 0x7f) == XCB_SELECTION_NOTIFY;
      const auto* selection = reinterpret_cast<xcb_selection_notify_event_t*>(event);
      const bool ours = notify && selection->requestor == window_ && selection->target == target;
      const bool refused = ours && selection->property == XCB_ATOM_NONE;
      free(event);
      if (refused) return std::nullopt;
      if (ours) break;
    }
    std::optional<Property> property = takeProperty();
    if (!property) return std::nullopt;
    if (property->type != incr_) {
      if (property->data.size() > budget) return std::nullopt;
      budget -= property->data.size();
      return std::move(property->data);
    }
    // Incremental transfer: deleting the property (done) asks for each next chunk; a
    // zero-length chunk ends it. The size hint lets us refuse a huge one at once.
    uint32_t hint = 0;
    if (property->data.size() >= 4) std::copy_n(property->data.data(), 4, reinterpret_cast<char*>(&hint));
    if (hint > budget) return std::nullopt;
    std::string data;
    for (;;) {
      xcb_generic_event_t* event = waitEvent(deadline);
      if (!event) return std::nullopt;
      const bool newValue = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                            reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == property_ &&
                            reinterpret_cast<xcb_property_notify_event_t*>(event)->state == XCB_PROPERTY_NEW_VALUE;
      free(event);
      if (!newValue) continue;
      std::optional<Property> chunk = takeProperty();
      if (!chunk) return std::nullopt;
      if (chunk->data.empty()) break;
      if (data.size() + chunk->data.size() > budget) return std::nullopt;
      data += chunk->data;
    }
    budget -= data.size();
    return data;
  }

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t window_ = 0;
  xcb_atom_t clipboard_ = 0, primary_ = 0, targets_ = 0, incr_ = 0, property_ = 0;
};

namespace {

ClipboardSnapshot copyOf(const QMimeData* data) {
  ClipboardSnapshot snapshot;
  if (!data) return snapshot;
  for (const QString& format : data->formats()) {
    const std::string type = format.toStdString();
    if (isHousekeeping(type)) continue;
    const QByteArray bytes = data->data(format);
    snapshot.formats.push_back({type, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()))});
  }
  return snapshot;
}

}  // namespace

QtClipboard::QtClipboard() {
  if (qGuiApp && qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
    reader_ = std::make_unique<XSelectionReader>();
    if (!reader_->usable()) reader_.reset();
  }
}

QtClipboard::~QtClipboard() {
  for (Slot& slot : slots_) {
    if (slot.offer) slot.offer->forget();
  }
}

QClipboard::Mode QtClipboard::modeOf(ClipboardSelection selection) {
  return selection == ClipboardSelection::primary ? QClipboard::Selection : QClipboard::Clipboard;
}

bool QtClipboard::qtOwnsSelection(ClipboardSelection selection) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!reader_ || !x11) return true;
  const xcb_window_t owner = reader_->owner(selection);
  const xcb_setup_t* setup = xcb_get_setup(x11->connection());
  return owner != XCB_NONE && (owner & ~setup->resource_id_mask) == setup->resource_id_base;
}

ClipboardSnapshot QtClipboard::snapshot(ClipboardSelection selection) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (selection == ClipboardSelection::primary && !clipboard->supportsSelection()) return {};
  if (!reader_ || qtOwnsSelection(selection)) {
    // Our own data (an earlier restore, a copy from our menu): Qt has it in memory.
    return copyOf(clipboard->mimeData(modeOf(selection)));
  }
  return reader_->read(selection, kSnapshotTimeLimit, kSnapshotByteLimit);
}

Clipboard::OfferId QtClipboard::offerText(ClipboardSelection selection, const std::string& text,
                                          std::function<void()> onFetched) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (selection == ClipboardSelection::primary && !clipboard->supportsSelection()) return 0;
  Slot& slot = slotOf(selection);
  if (slot.offer) slot.offer->forget();
  auto* offer = new ClipboardOffer(std::move(onFetched));
  offer->setText(QString::fromStdString(text));
  slot.offer = offer;
  slot.id = nextOfferId_++;
  clipboard->setMimeData(offer, modeOf(selection));  // Qt owns the data from here on
  return slot.id;
}

bool QtClipboard::ownsOffer(OfferId offer) {
  if (offer == 0) return false;
  for (ClipboardSelection selection : {ClipboardSelection::clipboard, ClipboardSelection::primary}) {
    const Slot& slot = slotOf(selection);
    if (slot.id != offer) continue;
    if (!slot.offer || QGuiApplication::clipboard()->mimeData(modeOf(selection)) != slot.offer.data()) return false;
    return qtOwnsSelection(selection);
  }
  return false;
}

void QtClipboard::restore(ClipboardSelection selection, const ClipboardSnapshot& snapshot) {
  Slot& slot = slotOf(selection);
  if (slot.offer) slot.offer->forget();
  auto* data = new QMimeData;
  for (const ClipboardFormat& format : snapshot.formats) {
    data->setData(QString::fromStdString(format.type), QByteArray(format.data.data(), qsizetype(format.data.size())));
  }
  QGuiApplication::clipboard()->setMimeData(data, modeOf(selection));
}

}  // namespace sorvane::platform
