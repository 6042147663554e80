#include "input/tap_key.h"

#include "core/log.h"
#include "core/unicode_text.h"
#include "input/keyboard_events.h"

namespace sorvane {

std::string_view tapKeyWord(TapKey key) {
  switch (key) {
    case TapKey::eitherAlt: return "alt";
    case TapKey::rightAlt: return "right-alt";
    case TapKey::rightControl: return "right-control";
    case TapKey::super: return "super";
  }
  return "alt";
}

std::string_view tapKeyName(TapKey key) {
  switch (key) {
    case TapKey::eitherAlt: return "Alt";
    case TapKey::rightAlt: return "Right Alt";
    case TapKey::rightControl: return "Right Ctrl";
    case TapKey::super: return "Super";
  }
  return "Alt";
}

std::optional<TapKey> tapKeyFromWord(std::string_view word) {
  const std::string lower = text::toLower(text::trim(word));
  for (TapKey key : kTapKeys) {
    if (tapKeyWord(key) == lower) return key;
  }
  return std::nullopt;
}

TapKey tapKeyFromFile(const std::optional<std::string>& content) {
  if (!content) return kDefaultTapKey;
  if (auto key = tapKeyFromWord(*content)) return *key;
  // The content is the user's own word, shortened so a pasted paragraph stays one line.
  appLog("tap key unknown; using alt value=" + text::graphemePrefix(*content, 32));
  return kDefaultTapKey;
}

namespace {

uint8_t tapKeyBits(TapKey key) {
  switch (key) {
    case TapKey::eitherAlt: return modifier::alt | modifier::leftAlt | modifier::rightAlt;
    // The right Alt key is Alt_R on some layouts and AltGr (level-3 shift) on others.
    case TapKey::rightAlt: return modifier::rightAlt | modifier::level3Shift;
    case TapKey::rightControl: return modifier::rightControl;
    case TapKey::super: return modifier::super;
  }
  return 0;
}

}  // namespace

bool tapKeyHeld(TapKey key, uint8_t modifiers) { return (modifiers & tapKeyBits(key)) != 0; }

uint8_t otherModifiers(TapKey key, uint8_t modifiers) {
  uint8_t rest = modifiers & ~tapKeyBits(key);
  // The plain Alt bit comes with the right Alt key too; a held left Alt shows as its own bit.
  if (key == TapKey::rightAlt) rest &= ~modifier::alt;
  return rest;
}

bool bareTapHasSideEffects(TapKey key) { return key != TapKey::rightControl; }

}  // namespace sorvane
