// What the refiner adds on top of the model's own latency: one refinement through the
// Qt HTTP client against a loopback chat-completions server that answers after 200 ms.
// The reported time per iteration is the whole turn minus those 200 ms (request
// building, the exchange on loopback, parsing, the guard chain, the hops between
// queues); "p50_ms" and "p90_ms" are its percentiles. Goal: at most 5 ms at the median.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "net/qt/qt_http_client.h"
#include "postprocess/transcript_refiner.h"
#include "postprocess/worker_circuit_breaker.h"
#include "support/loopback_llm_servers.h"
#include "support/test_support.h"

namespace {

using namespace sorvane;
using namespace std::chrono_literals;

constexpr auto kServerLatency = 200ms;
constexpr const char* kRaw = "我想问一下现在到底有没有接大模型，还有 speechMs 和 refineMs 的数字对不对";

void BM_RefinerOverheadAbove200msServer(benchmark::State& state) {
  int argc = 1;
  char name[] = "bench";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  sorvane::testing::TempDir home;
  home.write("dashscope-api-key", "sk-bench");
  sorvane::testing::LoopbackChatServer server;
  server.script({sorvane::testing::ScriptedReply::answer(kRaw).after(kServerLatency)});
  ProviderSettings providers;
  providers.dashscopeBaseURL = server.baseURL();
  providers.deepseekBaseURL = server.baseURL();
  auto dispatcher = makeQtDispatcher(SystemClock::instance());
  auto http = std::make_unique<QtHttpClient>(dispatcher->queue("app.sorvane.http"));
  {
    TranscriptRefiner refiner(*dispatcher, *http, ConfigFolder(home.path()), providers,
                              std::make_shared<WorkerCircuitBreaker>(dispatcher->clock()));
    std::vector<double> overheads;
    for (auto _ : state) {
      QEventLoop loop;
      std::optional<TranscriptRefiner::Result> result;
      const auto started = std::chrono::steady_clock::now();
      refiner.refine(kRaw, {}, RefineProfile::named(), [&](TranscriptRefiner::Result r) {
        result = std::move(r);
        loop.quit();
      });
      if (!result) loop.exec();
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
      const double overhead = std::max(0.0, elapsed.count() - std::chrono::duration<double>(kServerLatency).count());
      if (result->provider != "qwen-llm-direct") state.SkipWithError("unexpected provider");
      overheads.push_back(overhead * 1000.0);
      state.SetIterationTime(overhead);
    }
    std::sort(overheads.begin(), overheads.end());
    if (!overheads.empty()) {
      state.counters["p50_ms"] = overheads[overheads.size() / 2];
      state.counters["p90_ms"] = overheads[overheads.size() * 9 / 10];
    }
  }
  http.reset();
  dispatcher.reset();
}
BENCHMARK(BM_RefinerOverheadAbove200msServer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(25);

}  // namespace
