// The snapshot of where the user is typing, taken once per recording turn.
//
// The context collector fills an `InputContext` on the "app.sorvane.context" queue and
// hands the value to the main thread; everything downstream only reads copies of it.
// Three uses:
//   - classification: `scene`, `appType`, `inputAreaType`, `outputStyle` pick prompt
//     wording and local rules and are stored with every history record;
//   - the paste decision: `pasteTargetReason` says why we believe there is a text input
//     to paste into (absent: show the copy panel instead);
//   - serialisation: `promptBlock` (Chinese text for prompts), `apiObject` and its nested
//     objects (JSON for model requests), `workerContextItems` (flat list for the worker);
//     these output forms live in input_context_forms.cpp.
// Every derived property is recomputed on each read. Lengths and limits count extended
// grapheme clusters. Pure value type: no platform calls, no I/O; safe on any queue.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.h"

namespace sorvane {

// A frame on screen in desktop points, in the collector's coordinate convention.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Where the user is typing, as the classification sees it. `sceneName` gives the stored
// and prompted word ("email", "work-chat", "chat", "browser", "ai-chat", "developer",
// "general").
enum class InputScene { email, workChat, chat, browser, aiChat, developer, general };
std::string_view sceneName(InputScene scene);
// The three chat scenes: a messenger, a work messenger or an AI assistant.
constexpr bool isChatScene(InputScene scene) {
  return scene == InputScene::chat || scene == InputScene::workChat || scene == InputScene::aiChat;
}

inline constexpr std::string_view kContextSchemaVersion = "sorvane-context-v7-murmly-like";

struct InputContext {
  std::string appName;
  std::string bundleIdentifier;
  std::string windowTitle;
  std::string focusedRole;
  std::string focusedTitle;
  bool focusedValueSettable = false;
  std::string selectedText;
  std::string textBeforeCursor;
  std::string textAfterCursor;
  std::string visibleText;
  std::string browserURL;
  std::string browserTitle;
  bool browserEditableFocused = false;
  // "accessibility", "window" (see `accessibilityTreeMissing`), "none", "benchmark" or a
  // caller-given word.
  std::string source;
  // The window system names a focused window, but its application exposes no
  // accessibility tree (xterm and most terminals, applications started before
  // accessibility was on): the keys still reach that window, so it is a paste target,
  // and a paste it never fetches ends in the copy panel.
  bool accessibilityTreeMissing = false;
  std::optional<Rect> focusedFrame;
  std::optional<Rect> caretFrame;
  // The collection ran out of its time budget: a focused field may be there even though
  // none was found (a busy application answered too slowly).
  bool collectionCutShort = false;

  // --- classification ---
  InputScene sceneKind() const;
  // sceneName(sceneKind()).
  std::string_view scene() const;
  std::string_view appType() const;
  std::string_view inputAreaType() const;
  std::string_view outputStyle() const;

  // --- paste decision ---
  std::optional<std::string_view> pasteTargetReason() const;
  bool isClaudePromptSurface() const;
  bool isCodexPromptSurface() const;
  bool isKnownEditableWebApp() const;
  bool isFocusedEditingSurfaceHint() const;

  bool hasMeaningfulContext() const;
  std::string fullFieldContent() const;
  std::string inputBoxIdentifier() const;
  // Host of `browserURL`, lower-cased; empty when the URL does not parse.
  std::string browserHost() const;
  // Up to 24 latin-script tokens near the caret and on screen, longest first (ties keep
  // the order of first appearance).
  std::vector<std::string> keywordCandidates() const;

  // --- serialisation ---
  std::string promptBlock(std::size_t maxChars) const;
  Json murmlyLikeAudioContext() const;
  Json modeMetadata() const;
  Json clientMetadata() const;
  Json apiObject() const;
  // Array of {"type", "text"} objects.
  Json workerContextItems() const;

  // --- text utilities ---
  static std::string truncateMiddle(std::string_view text, std::size_t max);
  static std::string truncateTail(std::string_view text, std::size_t max);
  static std::string clean(const std::optional<std::string>& text);

  // Builds a context from a loosely typed JSON object (the benchmark manifest and the
  // self-checks). No object at all gives an empty context whose source is "none"; a value
  // that is not a JSON object counts as no object.
  static InputContext synthetic(const std::optional<Json>& from);
};

}  // namespace sorvane
