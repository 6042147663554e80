// The character limits of the input context, shared by its classification, its
// construction and its output forms. Internal to the context layer.
#pragma once

#include <cstddef>

namespace sorvane::context_limits {

// Every text field read from outside (`InputContext::clean`).
inline constexpr std::size_t kCleanLimit = 1200;
// The visible text kept on construction (its end) and sent in the audio context.
inline constexpr std::size_t kVisibleTextLimit = 3600;
inline constexpr std::size_t kFullFieldLimit = 2400;
inline constexpr std::size_t kInputBoxIdentifierLimit = 420;
inline constexpr std::size_t kKeywordLimit = 24;
// The end of the text before the cursor that the audio context carries.
inline constexpr std::size_t kTextBeforeCursorLimit = 1200;
// The selection, the start of the text after the cursor, and every short worker item.
inline constexpr std::size_t kShortTextLimit = 900;
// The visible text and the whole field among the worker items.
inline constexpr std::size_t kWorkerLongTextLimit = 2600;

}  // namespace sorvane::context_limits
