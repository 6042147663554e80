// The dashboard's statistics read only the last 2000 records of each file, so their cost
// must follow that number and not the history's length: the same call over a
// 100,000-line and a 2,000-line history should cost about the same.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "core/paths.h"
#include "learning/mirla_data_store.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

namespace sorvane {
namespace {

struct Fixture {
  testing::TempDir home;
  testing::VirtualDispatcher dispatcher;
  Paths paths;
  std::unique_ptr<MirlaDataStore> store;

  explicit Fixture(int historyLines) : paths(Paths::underHome(home.path(), home.file("sorvane.log"))) {
    store = std::make_unique<MirlaDataStore>(dispatcher, paths);
    std::string history;
    for (int i = 0; i < historyLines; ++i) {
      MirlaHistoryEntry entry;
      entry.id = "7D3F0C2A-1B4E-4C8D-9A6F-" + std::to_string(100000000000 + i);
      entry.createdAtMs = dispatcher.clock().wallMilliseconds() - int64_t{historyLines - i} * 60'000;
      entry.rawText = "嗯我想问一下，这个方案能不能今天下午三点之前发给 Orrin 看一下";
      entry.finalText = "我想问一下，这个方案能不能今天下午三点之前发给 Orrin 看一下？";
      entry.audioPath = paths.audioFolder + "/" + entry.id + ".wav";
      entry.appName = "微信";
      entry.bundleIdentifier = "com.tencent.xinWeChat";
      entry.scene = "chat";
      entry.inputBoxIdentifier = "com.tencent.xinWeChat|微信";
      entry.mode = "dictation";
      entry.asrProvider = "qwen3-asr-flash-realtime";
      entry.refineProvider = "deepseek-direct";
      entry.status = "pasted";
      entry.recordingMs = 3200;
      entry.stopToPasteMs = 900;
      entry.refineMs = 700;
      entry.totalMs = 4300;
      entry.finalChars = 33;
      history += encodeRecordLine(entry) + "\n";
    }
    const int fd = ::open(store->historyPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      (void)!::write(fd, history.data(), history.size());
      ::close(fd);
    }
    for (int i = 0; i < 50; ++i) store->recordManualFeedback("原始", "最终", "修改", {}, "note", std::nullopt, std::nullopt);
    for (int i = 0; i < 40; ++i) store->addDictionaryTerm("Term" + std::to_string(i), "manual");
  }
};

void BM_DashboardStats(benchmark::State& state) {
  Fixture fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MirlaDashboardStats stats = fixture.store->dashboardStats();
    benchmark::DoNotOptimize(stats);
  }
}
BENCHMARK(BM_DashboardStats)->Arg(2'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_RecentHistory50(benchmark::State& state) {
  Fixture fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(fixture.store->recentHistory(50));
}
BENCHMARK(BM_RecentHistory50)->Arg(2'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace sorvane
