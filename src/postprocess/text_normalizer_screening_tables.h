// Data of the hallucination, echo and fast-path predicates (text_normalizer_screening.cpp):
// the recognition hint, the thresholds and the word lists. Data only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sorvane::TextNormalizer::tables {

// The vocabulary hint some recognisers are primed with; a recogniser that heard nothing
// may return it verbatim.
inline constexpr std::string_view kAsrHintPhrase =
    "Murmly, Codex, DeepSeek API, Deepgram, Qwen3-ASR, Cloudflare Worker, raw transcript, "
    "JSONL, CSV, Markdown, OpenAI API, product roadmap, speechMs, refineMs, paste";
inline constexpr std::array<std::string_view, 15> kAsrHintTerms{
    "murmly",   "codex",        "deepseekapi", "deepgram",       "qwen3asr",
    "cloudflareworker", "rawtranscript", "jsonl", "csv",        "markdown",
    "openaiapi", "productroadmap", "speechms",  "refinems",       "paste"};
inline constexpr std::size_t kHintEchoMinKeyLength = 30;
inline constexpr std::size_t kHintEchoMinTerms = 8;

inline constexpr std::size_t kDictionaryEchoMinKeyLength = 12;
inline constexpr double kDictionaryEchoMinCoverage = 0.72;

// Hallucination thresholds: a few fillers from a short, nearly silent recording; a long
// text from almost no audio; or a long text from a very short recording.
inline constexpr int64_t kFillerMaxRecordingMs = 2800;
inline constexpr int64_t kFillerMaxFlushedBytes = 6500;
inline constexpr int64_t kLongTextMaxFlushedBytes = 4000;
inline constexpr std::size_t kLongTextMinChars = 80;
inline constexpr int64_t kShortRecordingMaxMs = 1500;
inline constexpr std::size_t kShortRecordingMinChars = 60;

inline constexpr std::array<std::string_view, 21> kContextOrStructureMarkers{
    "这个概念", "这个方案", "刚才", "上面", "第二点",   "第三点", "第一",
    "第二",     "第三",     "首先", "其次", "最后",     "几个问题", "几个需求",
    "流程如下", "背景",     "问题", "风险", "方案",     "下一步", "结构化"};

inline constexpr std::array<std::string_view, 19> kProtectedTerms{
    "Murmly",  "Codex",    "DeepSeek", "OpenAI",   "Cloudflare",       "Worker", "Apple Speech",
    "Deepgram", "Whisper", "Markdown", "JSONL",    "CSV",              "benchmark runner",
    "repo",    "speechMs", "refineMs", "raw transcript", "paste",      "GitHub"};
inline constexpr std::array<std::string_view, 11> kSuspiciousFragments{
    "shape", "diagram", "wiper", "Mata", "Pronger", "rap ", "Cycles", "味儿", "作文",
    "cloud flower", "that road map"};
inline constexpr std::size_t kFastPathMaxCompactChars = 6;  // exclusive

}  // namespace sorvane::TextNormalizer::tables
