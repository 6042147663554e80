#include "checks/self_checks_asr.h"

#include "checks/self_checks.h"
#include "asr/transcript_merge.h"

namespace sorvane {

std::vector<QwenStashCase> defaultQwenStashCases() {
  return {
      {"我今天一口气说了一百个字", "最后五个字", "", "", "我今天一口气说了一百个字最后五个字"},
      {"我今天一口气说了一百个字最后五个字", "五个字", "", "", "我今天一口气说了一百个字最后五个字"},
      {"今天要讨论实时语音", "语音输入法", "", "", "今天要讨论实时语音输入法"},
      {"", "别把尾巴吞掉", "", "", "别把尾巴吞掉"},
      {"OpenAI", "API", "", "", "OpenAI API"},
      {"", "", "继续补上最后几个字", "前面已经识别", "前面已经识别继续补上最后几个字"},
  };
}

int runQwenStashCheck(std::ostream& out, std::span<const QwenStashCase> cases) {
  for (const auto& c : cases) {
    if (bestTranscriptCandidate(c.text, c.stash, c.delta, c.previous) != c.expected) {
      out << "qwen stash failed\n";
      return 1;
    }
  }
  out << "qwen stash ok\n";
  return 0;
}

int runQwenStashCheck(std::ostream& out) {
  const auto cases = defaultQwenStashCases();
  return runQwenStashCheck(out, cases);
}

}  // namespace sorvane
