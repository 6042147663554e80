// The work the main thread does around one refinement answer: building the request
// (context JSON and prompt block) and running the guard chain over the answer; plus the
// local Morse encoder. Regexes are compiled before timing starts.
#include <benchmark/benchmark.h>

#include <string>

#include "context/input_context.h"
#include "postprocess/chat_completions.h"
#include "postprocess/morse_cipher.h"
#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"

namespace {

using namespace sorvane;

InputContext richContext() {
  InputContext context;
  context.appName = "Chrome";
  context.bundleIdentifier = "com.google.Chrome";
  context.windowTitle = "RAG 方案评审 - Docs";
  context.focusedRole = "AXTextArea";
  context.textBeforeCursor = "我们先用 RAG，然后看 embedding 和 DeepSeek 的效果。";
  for (int i = 0; i < 60; ++i) context.visibleText += "User: 第" + std::to_string(i) + "轮讨论 Deepgram Nova-3 的延迟\n";
  context.browserURL = "https://docs.google.com/document/d/1";
  context.browserTitle = "RAG 方案评审";
  return context;
}

const std::string kRaw = TextNormalizer::normalizeInput(
    "其实我觉得 DeepSeek 的方案差不多了吧，第一步先把 speechMs 和 refineMs 打出来，第二步下午三点半再对一下 2500 条样本，"
    "可以上线了吧");
const std::string kCandidate =
    "我觉得 DeepSeek 的方案差不多了吧：\n1. 先把 speechMs 和 refineMs 打出来\n2. 下午 3:30 再对一下 2500 条样本\n可以上线了吧？";

void BM_GuardChain(benchmark::State& state) {
  const InputContext context = richContext();
  const RefineProfile profile = RefineProfile::named();
  (void)runGuardChain(kRaw, kCandidate, context, profile);
  for (auto _ : state) benchmark::DoNotOptimize(runGuardChain(kRaw, kCandidate, context, profile));
}
BENCHMARK(BM_GuardChain)->Unit(benchmark::kMicrosecond);

void BM_RefinementUserMessage(benchmark::State& state) {
  const InputContext context = richContext();
  const RefineProfile profile = RefineProfile::named();
  for (auto _ : state) benchmark::DoNotOptimize(refinementUserMessage(kRaw, context, profile));
}
BENCHMARK(BM_RefinementUserMessage)->Unit(benchmark::kMicrosecond);

void BM_MorseEncode(benchmark::State& state) {
  (void)MorseCipher::encode(kRaw);
  for (auto _ : state) benchmark::DoNotOptimize(MorseCipher::encode(kRaw));
}
BENCHMARK(BM_MorseEncode)->Unit(benchmark::kMicrosecond);

}  // namespace
