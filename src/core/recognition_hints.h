// The built-in vocabulary hint that the realtime recogniser may be primed with (when the
// user's switch file asks for it). One home for it: a recogniser that heard nothing can
// return the hint verbatim, so the hallucination guard compares transcripts against the
// same text.
#pragma once

#include <string_view>

namespace sorvane {

inline constexpr std::string_view kBuiltInRecognitionHints =
    "Murmly, Codex, DeepSeek API, Deepgram, Qwen3-ASR, Cloudflare Worker, raw transcript, "
    "JSONL, CSV, Markdown, OpenAI API, product roadmap, speechMs, refineMs, paste";

}  // namespace sorvane
