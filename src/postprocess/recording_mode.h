// The mode of one recording turn and the eight one-shot voice style presets.
//
// The left-Control monitor picks a mode when a turn starts: plain dictation, English
// translation, the Morse cipher, or a style preset chosen with digits 1-8. The turn
// controller carries the `RecordingMode` through the turn, writes its `metricValue` to
// the metrics and history, and dispatches the transcript by it; the HUD shows the
// preset's `hudTitle`. Plain values, usable on any queue.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace sorvane {

class VoiceStylePreset {
 public:
  // The raw value is the digit that selects the preset.
  enum Case : int {
    flirt = 1,
    highEQ = 2,
    mouthpiece = 3,
    wicked = 4,
    rage = 5,
    meltdown = 6,
    doubao = 7,
    kalovStatement = 8,
  };

  constexpr VoiceStylePreset(Case value) : value_(value) {}  // NOLINT: implicit by design
  // Digits 1-8 only.
  static std::optional<VoiceStylePreset> fromDigit(int digit);
  static const std::array<VoiceStylePreset, 8>& all();

  Case value() const { return value_; }
  int rawValue() const { return static_cast<int>(value_); }
  // The metric and request value, e.g. "style_flirt".
  std::string_view key() const;
  std::string_view hudTitle() const;
  std::string_view styleName() const;
  // The one-line core style of the shared prompt; empty for `doubao`, which has a role
  // prompt of its own.
  std::string_view instruction() const;

  friend bool operator==(VoiceStylePreset a, VoiceStylePreset b) { return a.value_ == b.value_; }

 private:
  Case value_;
};

class RecordingMode {
 public:
  enum class Kind { dictation, englishTranslation, morseCipher, styled };

  static RecordingMode dictation() { return RecordingMode(Kind::dictation, std::nullopt); }
  static RecordingMode englishTranslation() { return RecordingMode(Kind::englishTranslation, std::nullopt); }
  static RecordingMode morseCipher() { return RecordingMode(Kind::morseCipher, std::nullopt); }
  static RecordingMode styled(VoiceStylePreset preset) { return RecordingMode(Kind::styled, preset); }

  Kind kind() const { return kind_; }
  std::optional<VoiceStylePreset> stylePreset() const { return preset_; }
  // "dictation", "english_translation", "morse_cipher" or the preset's key.
  std::string_view metricValue() const;

  friend bool operator==(const RecordingMode&, const RecordingMode&) = default;

 private:
  RecordingMode(Kind kind, std::optional<VoiceStylePreset> preset) : kind_(kind), preset_(preset) {}
  Kind kind_;
  std::optional<VoiceStylePreset> preset_;
};

}  // namespace sorvane
