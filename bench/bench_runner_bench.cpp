// Throughput of the --bench tool with the local-guard profile: 1,000 raw-override
// samples through the runner (manifest loading, the local pipeline, error rates and one
// result line each), in virtual time so only the work itself is measured. Goal: at
// least 200 samples per second.
#include <benchmark/benchmark.h>

#include <sstream>

#include "core/json.h"
#include "net/http_client.h"
#include "postprocess/transcript_refiner.h"
#include "postprocess/worker_circuit_breaker.h"
#include "support/test_support.h"
#include "support/virtual_time.h"
#include "tools/benchmark_runner.h"

namespace {

using namespace sorvane;

class NoNetwork final : public HttpClient {
 public:
  void send(HttpRequest, SerialQueue& queue, HttpCompletion completion) override {
    queue.post([completion] { completion(HttpError{HttpError::Kind::other, "no network in this benchmark"}); });
  }
};

const char* const kRaw[] = {
    "嗯我想问一下，呃这个方案啊，能不能快一点？",
    "我想把这个会订到八点，不对，是九点",
    "发给 Edvin 的版本先写 2000 块，不对，是 2500 块",
    "我有两个问题，第一个点击结束录制以后不要吞掉最后几个字，第二个把这段话整理得更有结构。",
    "其实我觉得功能都做差不多了吧，可以上线了吧。",
    "把 speechMs 和 refineMs 写进 JSONL 里面",
    "好的",
};

void BM_BenchLocalGuard1000(benchmark::State& state) {
  sorvane::testing::TempDir dir;
  Json samples = Json::array();
  for (int i = 0; i < 1000; ++i) {
    const char* raw = kRaw[i % std::size(kRaw)];
    samples.push_back({{"id", "s" + std::to_string(i)}, {"rawOverride", raw}, {"expected", raw},
                       {"context", {{"appName", "Slack"}, {"visibleText", "明天的评审改到几点？"}}}});
  }
  dir.write("manifest.json", Json{{"samples", samples}}.dump());
  const std::vector<std::string> arguments{"--bench", dir.file("manifest.json"), "--out", dir.file("results.jsonl"),
                                           "--profile", "local-guard"};
  sorvane::testing::VirtualDispatcher dispatcher;
  NoNetwork http;
  TranscriptRefiner refiner(dispatcher, http, ConfigFolder(dir.path()), ProviderSettings{},
                            std::make_shared<WorkerCircuitBreaker>(dispatcher.clock()));
  std::ostringstream out;
  std::ostringstream err;
  for (auto _ : state) {
    BenchmarkRunner runner(dispatcher, refiner, nullptr, out, err);
    int status = -1;
    dispatcher.mainQueue().post([&] { runner.start(arguments, [&](int s) { status = s; }); });
    while (status == -1 && dispatcher.runNext()) {
    }
    if (status != 0) state.SkipWithError("runner failed");
  }
  state.counters["samples/s"] =
      benchmark::Counter(1000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BenchLocalGuard1000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
