// The tap key: which modifier's bare tap toggles dictation (double tap: translation,
// triple tap: the cipher), chosen by the user in the configuration folder's "tap-key" file.
//
// Either Alt is the default. On Linux a bare Alt also opens the menu bar of many
// applications, and Right Alt is AltGr on many layouts, so the user may pick one key that
// their desktop leaves alone: the right Alt key only (also when the layout makes it
// AltGr), Right Control, or Super. The style palette stays on left Control with every
// choice (the Control monitor), so no choice takes the palette's key.
//
// The file holds one word: "alt", "right-alt", "right-control" or "super" (case and
// surrounding white space do not matter). No file means the default; any other content
// also gives the default, with one log line when it is read (once, at start). Pure values;
// any queue.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

enum class TapKey : uint8_t { eitherAlt, rightAlt, rightControl, super };

inline constexpr TapKey kDefaultTapKey = TapKey::eitherAlt;
inline constexpr std::array<TapKey, 4> kTapKeys{TapKey::eitherAlt, TapKey::rightAlt, TapKey::rightControl,
                                                TapKey::super};

// The word of the file: "alt", "right-alt", "right-control", "super".
std::string_view tapKeyWord(TapKey key);
// The key as the menu names it: "Alt", "Right Alt", "Right Ctrl", "Super".
std::string_view tapKeyName(TapKey key);
std::optional<TapKey> tapKeyFromWord(std::string_view word);
// The choice from the file's content (nullopt: no file, or an empty one).
TapKey tapKeyFromFile(const std::optional<std::string>& content);

// Whether the modifiers (`KeyboardEvent::modifiers`) hold the tap key.
bool tapKeyHeld(TapKey key, uint8_t modifiers);
// The held modifiers other than the tap key; any of them makes a press no bare tap.
uint8_t otherModifiers(TapKey key, uint8_t modifiers);
// Whether a bare tap of this key does something of its own on a Linux desktop: a bare Alt
// moves the focus to the menu bar in Firefox, LibreOffice and Qt applications, a bare
// Super opens the desktop's launcher. A bare Right Control does nothing anywhere.
bool bareTapHasSideEffects(TapKey key);

}  // namespace sorvane
