// normalizeFinal on dictations of typical lengths: a short utterance, a paragraph and a
// long dictation. The rule tables are compiled before timing starts.
#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <string_view>

#include "core/unicode_text.h"
#include "postprocess/text_normalizer.h"

namespace {

using sorvane::TextNormalizer::normalizeFinal;

constexpr std::array<std::string_view, 10> kSentences{
    "嗯我觉得这个方案可以先这么做，呃不要做得太重",
    "所以这里最重要的是先把用户真实说的话处理干净",
    "另外如果用户一口气说了很多内容，我们可以在自然转折处换段",
    "然后用 deep seek API 跑一遍，看一下 speech m 和 refine m 的耗时",
    "我想把这个会订到八点，不对，是九点，大家记得带电脑",
    "但是不要强行加标题，也不要每一句都换行",
    "这个金额大概是三千多块，预算先按两千块走",
    "再加上这个能力本质上只是视觉呈现，去掉换行以后文字顺序不变",
    "如果 Worker 超时，要走 raw fallback，不能一直卡住",
    "最后整体效果应该轻一点，像输入法自动帮忙排版",
};

// Distinct sentences (a running number keeps repeats from being dropped as duplicates)
// until the text has `chars` characters.
std::string dictation(std::size_t chars) {
  std::string text;
  for (std::size_t i = 0; sorvane::text::graphemeCount(text) < chars; ++i) {
    text += kSentences[i % kSentences.size()];
    text += "，编号" + std::to_string(i) + "。";
  }
  return sorvane::text::graphemePrefix(text, chars);
}

void runFinal(benchmark::State& state, const std::string& input) {
  benchmark::DoNotOptimize(normalizeFinal(input));  // compiles every table once
  for (auto _ : state) benchmark::DoNotOptimize(normalizeFinal(input));
  state.SetLabel(std::to_string(sorvane::text::graphemeCount(input)) + " chars");
}

void BM_NormalizeFinalUtterance(benchmark::State& state) {
  static const std::string input = dictation(60);
  runFinal(state, input);
}
void BM_NormalizeFinalParagraph(benchmark::State& state) {
  static const std::string input = dictation(400);
  runFinal(state, input);
}
void BM_NormalizeFinalLongDictation(benchmark::State& state) {
  static const std::string input = dictation(3000);
  runFinal(state, input);
}

BENCHMARK(BM_NormalizeFinalUtterance)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NormalizeFinalParagraph)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NormalizeFinalLongDictation)->Unit(benchmark::kMicrosecond);

}  // namespace
