#include "app/self_checks.h"

#include <array>

namespace sorvane {

std::span<const SelfCheckEntry> selfCheckTable() {
  // Order is precedence: when several switches are given, the earliest here runs.
  static constexpr std::array<SelfCheckEntry, 20> kTable{{
      {"--self-test-asr-guard", runAsrGuardCheck},
      {"--self-test-qwen-stash", nullptr},
      {"--self-test-disfluency-cleanup", runDisfluencyCleanupCheck},
      {"--self-test-semantic-structure", runSemanticStructureCheck},
      {"--self-test-self-correction", runSelfCorrectionCheck},
      {"--self-test-refine-fastpath", runRefineFastpathCheck},
      {"--self-test-speech-act-guard", runSpeechActGuardCheck},
      {"--self-test-recording-mode", runRecordingModeCheck},
      {"--self-test-morse-cipher", runMorseCipherCheck},
      {"--self-test-gentle-paragraphs", runGentleParagraphsCheck},
      {"--self-test-murmly-format", runMurmlyFormatCheck},
      {"--self-test-audio-enhancer", nullptr},
      {"--self-test-ffmpeg-speechnorm", nullptr},
      {"--self-test-cutoff-queue", nullptr},
      {"--self-test-refine-llm", nullptr},
      {"--self-test-style-llm", nullptr},
      {"--self-test-paste-target", runPasteTargetCheck},
      {"--self-test-learning-terms", nullptr},
      {"--self-test-feedback-analyzer", nullptr},
      {"--self-test-edit-observer", nullptr},
  }};
  return kTable;
}

}  // namespace sorvane
