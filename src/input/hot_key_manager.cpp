#include "input/hot_key_manager.h"

#include "core/log.h"

namespace sorvane {

HotKeyManager::HotKeyManager(Dispatcher& dispatcher, std::unique_ptr<HotKeyGrabber> grabber)
    : dispatcher_(dispatcher), grabber_(std::move(grabber)) {
  grabber_->setPressedHandler([this](int) {
    dispatcher_.mainQueue().post(liveness_.guard([this] {
      if (onHotKey) onHotKey();
    }));
  });
}

void HotKeyManager::registerAll() {
  for (const HotKeyChord& chord : kHotKeyChords) {
    const std::string status = grabber_->grab(chord);
    if (status.empty()) {
      registered_.push_back(chord.id);
      appLog("hotkey registered id=" + std::to_string(chord.id) + " key=space modifiers=" + std::string(chord.name));
    } else {
      appLog("hotkey failed id=" + std::to_string(chord.id) + " status=" + status);
    }
  }
}

}  // namespace sorvane
