// The audio conditioning self-checks: the speech enhancer on synthetic 16 kHz buffers,
// the delay queue's stop cutoff on the real dispatcher, and the ffmpeg normaliser run
// for real. Each prints its one line (or its failure lines) and returns 0 on success,
// 1 otherwise. The queue and ffmpeg checks run the main event loop while they wait.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace sorvane {

int runAudioEnhancerCheck(std::ostream& out);
int runCutoffQueueCheck(std::ostream& out);
// `candidates`: where ffmpeg is looked for (the usual places unless a test says).
int runFfmpegSpeechnormCheck(std::ostream& out);
int runFfmpegSpeechnormCheck(std::ostream& out, std::span<const std::string> candidates);

}  // namespace sorvane
