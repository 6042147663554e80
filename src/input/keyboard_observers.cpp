#include "input/keyboard_observers.h"

#include <utility>
#include <vector>

namespace sorvane {

std::optional<KeyboardEvent> keyTransition(bool wasDown, bool press, Key key, int digit, bool rightAlt) {
  // Some injectors send a release for a key that was never pressed; it means nothing.
  if (!press && !wasDown) return std::nullopt;
  const bool repeat = press && wasDown;
  KeyboardEvent event;
  event.key = key;
  event.digit = digit;
  event.isRepeat = repeat;
  event.rightAlt = key == Key::alt && rightAlt;
  if (modifierBit(key)) {
    if (repeat) return std::nullopt;
    event.type = KeyboardEvent::Type::modifierChanged;
  } else {
    event.type = press ? KeyboardEvent::Type::keyDown : KeyboardEvent::Type::keyUp;
  }
  return event;
}

Subscription KeyboardObservers::add(KeyboardEventSource::Scope scope, KeyboardObserver observer) {
  const uint64_t id = registry_->next++;
  registry_->entries.emplace(id, Registry::Entry{scope, std::move(observer)});
  return Subscription([weak = std::weak_ptr<Registry>(registry_), id] {
    if (auto registry = weak.lock()) registry->entries.erase(id);
  });
}

void KeyboardObservers::deliver(const KeyboardEvent& event, bool ownWindowFocused) const {
  // An observer may unsubscribe (itself or another) while we deliver: walk by id.
  std::vector<uint64_t> ids;
  for (const auto& [id, entry] : registry_->entries) ids.push_back(id);
  for (uint64_t id : ids) {
    auto it = registry_->entries.find(id);
    if (it == registry_->entries.end()) continue;
    if (ownWindowFocused && it->second.scope == KeyboardEventSource::Scope::outsideOwnWindows) continue;
    KeyboardObserver observer = it->second.observer;  // survives its own unsubscription
    observer(event);
  }
}

}  // namespace sorvane
