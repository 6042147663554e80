#include "checks/self_checks_audio.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(AudioSelfChecks, FfmpegCheckSaysUnavailableWhenNoCandidateExists) {
  std::ostringstream out;
  const std::vector<std::string> none{"/nonexistent/bin/ffmpeg", "/nonexistent/usr/bin/ffmpeg"};
  EXPECT_EQ(runFfmpegSpeechnormCheck(out, none), 1);
  EXPECT_EQ(out.str(), "ffmpeg speechnorm unavailable\n");
}

TEST(AudioSelfChecks, EnhancerAndCutoffChecksPass) {
  std::ostringstream out;
  EXPECT_EQ(runAudioEnhancerCheck(out), 0);
  EXPECT_EQ(runCutoffQueueCheck(out), 0);
  EXPECT_EQ(out.str(), "audio enhancer ok\ncutoff queue ok\n");
}

}  // namespace
}  // namespace sorvane
