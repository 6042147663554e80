// One context collection against a real GTK 3 text view, through the AT-SPI adapter: its
// time and how many accessibility calls (port calls and AT-SPI requests) it makes.
//
// Needs an X server and an AT-SPI bus with the fixture window, so it is run by hand, not
// in CI (see docs/context_collector.md):
//   tests/platform/atspi_session.sh tests/platform/fixtures/atspi_gtk_fixture.py
//       build/<dir>/tests/platform/sorvane_atspi_qt_fixture
//       build/<dir>/bench/bench_context_collector_bench
// (one command line: the script, then its three arguments).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QProcess>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "context/context_collector.h"
#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "platform/linux/atspi_accessibility.h"

namespace sorvane {
namespace {

QString runTool(const QStringList& arguments) {
  QProcess process;
  process.start("xdotool", arguments);
  process.waitForFinished(15'000);
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed().section('\n', 0, 0);
}

// The application, the fixture window (focused) and a collector over AT-SPI; made once.
struct Desktop {
  Desktop() {
    static int argc = 1;
    static char name[] = "context_collector_bench";
    static char* argv[] = {name, nullptr};
    application = std::make_unique<QGuiApplication>(argc, argv);
    const char* fixturePath = std::getenv("SORVANE_ATSPI_GTK_FIXTURE");
    if (!fixturePath) return;
    const QString title = "Sorvane collection benchmark";
    fixture.start("/usr/bin/python3", {QString::fromUtf8(fixturePath), title});
    fixture.waitForStarted();
    fixture.waitForReadyRead(10'000);
    const QString window = runTool({"search", "--sync", "--name", "^" + title + "$"});
    runTool({"windowfocus", "--sync", window});
    dispatcher = makeQtDispatcher(SystemClock::instance());
    collector = std::make_unique<ContextCollector>(
        platform::makeAtspiAccessibility(dispatcher->queue(kContextQueueLabel)), *dispatcher);
    for (int attempt = 0; attempt < 75 && !ready; ++attempt) {
      ready = collector->collect().focusedRole == "AXTextArea";
      if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  ~Desktop() {
    collector.reset();
    dispatcher.reset();
    fixture.closeWriteChannel();
    if (!fixture.waitForFinished(5'000)) fixture.kill();
  }

  std::unique_ptr<QGuiApplication> application;
  QProcess fixture;
  std::unique_ptr<Dispatcher> dispatcher;
  std::unique_ptr<ContextCollector> collector;
  bool ready = false;
};

void BM_CollectFromGtkTextView(benchmark::State& state) {
  static Desktop desktop;
  if (!desktop.ready) {
    state.SkipWithError("no fixture window on an AT-SPI bus: run through tests/platform/atspi_session.sh");
    return;
  }
  ContextCollectionStats stats;
  std::size_t requests = 0;
  for (auto _ : state) {
    const std::size_t before = platform::atspiRequestCount();
    benchmark::DoNotOptimize(desktop.collector->collect(&stats));
    requests = platform::atspiRequestCount() - before;
  }
  state.counters["portCalls"] = static_cast<double>(stats.accessibilityCalls);
  state.counters["atspiRequests"] = static_cast<double>(requests);
  state.counters["budgetExhausted"] = stats.budgetExhausted ? 1 : 0;
}
BENCHMARK(BM_CollectFromGtkTextView)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });

}  // namespace
}  // namespace sorvane
