#include "checks/self_checks.h"

#include <array>

#include "checks/self_checks_audio.h"
#include "checks/self_checks_edit.h"
#include "checks/self_checks_learning.h"
#include "checks/self_checks_llm.h"

namespace sorvane {

std::span<const SelfCheckEntry> selfCheckTable() {
  // Order is precedence: when several switches are given, the earliest here runs.
  static constexpr std::array<SelfCheckEntry, 20> kTable{{
      {"--self-test-asr-guard", [](const SelfCheckContext& c) { return runAsrGuardCheck(c.out); }},
      {"--self-test-qwen-stash", [](const SelfCheckContext& c) { return runQwenStashCheck(c.out); }},
      {"--self-test-disfluency-cleanup", [](const SelfCheckContext& c) { return runDisfluencyCleanupCheck(c.out); }},
      {"--self-test-semantic-structure", [](const SelfCheckContext& c) { return runSemanticStructureCheck(c.out); }},
      {"--self-test-self-correction", [](const SelfCheckContext& c) { return runSelfCorrectionCheck(c.out); }},
      {"--self-test-refine-fastpath", [](const SelfCheckContext& c) { return runRefineFastpathCheck(c.out); }},
      {"--self-test-speech-act-guard", [](const SelfCheckContext& c) { return runSpeechActGuardCheck(c.out); }},
      {"--self-test-recording-mode", [](const SelfCheckContext& c) { return runRecordingModeCheck(c.out); }},
      {"--self-test-morse-cipher", [](const SelfCheckContext& c) { return runMorseCipherCheck(c.out); }},
      {"--self-test-gentle-paragraphs", [](const SelfCheckContext& c) { return runGentleParagraphsCheck(c.out); }},
      {"--self-test-murmly-format", [](const SelfCheckContext& c) { return runMurmlyFormatCheck(c.out); }},
      {"--self-test-audio-enhancer", [](const SelfCheckContext& c) { return runAudioEnhancerCheck(c.out); }},
      {"--self-test-ffmpeg-speechnorm", [](const SelfCheckContext& c) { return runFfmpegSpeechnormCheck(c.out); }},
      {"--self-test-cutoff-queue", [](const SelfCheckContext& c) { return runCutoffQueueCheck(c.out); }},
      {"--self-test-refine-llm", [](const SelfCheckContext& c) { return runRefineLlmCheck(c.out, c.paths); }},
      {"--self-test-style-llm", [](const SelfCheckContext& c) { return runStyleLlmCheck(c.out, c.paths); }},
      {"--self-test-paste-target", [](const SelfCheckContext& c) { return runPasteTargetCheck(c.out); }},
      {"--self-test-learning-terms", [](const SelfCheckContext& c) { return runLearningTermsCheck(c.out); }},
      {"--self-test-feedback-analyzer", [](const SelfCheckContext& c) { return runFeedbackAnalyzerCheck(c.out); }},
      {"--self-test-edit-observer", [](const SelfCheckContext& c) { return runEditObserverCheck(c.out); }},
  }};
  return kTable;
}

}  // namespace sorvane
