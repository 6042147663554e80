// The store on its real serial queue, called from several threads at once.
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/paths.h"
#include "core/qt/qt_dispatcher.h"
#include "core/turn_metrics.h"
#include "learning/mirla_data_store.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

TEST(MirlaDataStoreThreads, ConcurrentWritersLoseNoRecordAndReadersSeeOnlyWholeLines) {
  testing::TempDir home;
  testing::LogCapture log;
  const Paths paths = Paths::underHome(home.path(), home.file("sorvane.log"));
  auto dispatcher = makeQtDispatcher(SystemClock::instance());
  MirlaDataStore store(*dispatcher, paths);

  constexpr int kWriters = 4;
  constexpr int kRecordsEach = 100;
  std::atomic<bool> writing{true};
  std::atomic<int> badReads{0};
  std::thread reader([&] {
    while (writing) {
      // Every record read must be whole and its own: a torn or interleaved line would
      // decode to nothing (and be logged) or to another writer's text.
      for (const auto& entry : store.recentHistory(50)) {
        const int w = std::stoi(entry.id);
        if (entry.finalText != std::string(2000 + w, static_cast<char>('a' + w))) ++badReads;
      }
      store.dashboardStats();
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      TurnMetrics metrics(SystemClock::instance(), paths.metricsFolder);
      for (int i = 0; i < kRecordsEach; ++i) {
        MirlaTurnRecord turn;
        turn.id = std::to_string(w) + "-" + std::to_string(i);
        turn.finalText = std::string(2000 + w, static_cast<char>('a' + w));
        turn.status = "pasted";
        store.recordTurn(turn, metrics);
        if (i % 50 == 0) store.addDictionaryTerm("Term" + std::to_string(w) + "x" + std::to_string(i), "manual");
      }
    });
  }
  for (auto& writer : writers) writer.join();
  writing = false;
  reader.join();

  const auto all = store.recentHistory(kWriters * kRecordsEach + 10);
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kWriters * kRecordsEach));
  std::set<std::string> ids;
  for (const auto& entry : all) {
    ids.insert(entry.id);
    const int w = std::stoi(entry.id);
    EXPECT_EQ(entry.finalText, std::string(2000 + w, static_cast<char>('a' + w)));
  }
  EXPECT_EQ(ids.size(), all.size());
  EXPECT_EQ(badReads.load(), 0);
  EXPECT_EQ(log.count("mirla data skipped undecodable lines"), 0u);
  EXPECT_EQ(store.dictionaryTerms().size(), static_cast<std::size_t>(kWriters * (kRecordsEach / 50)));
}

}  // namespace
}  // namespace sorvane
