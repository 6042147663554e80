#include "checks/live_refiner.h"

#include "core/clock.h"
#include "core/config_folder.h"
#include "core/paths.h"
#include "core/qt/qt_dispatcher.h"

namespace sorvane {

LiveRefiner::LiveRefiner(const Paths& paths)
    : dispatcher(makeQtDispatcher(SystemClock::instance())),
      http(std::make_unique<QtHttpClient>(dispatcher->queue("app.sorvane.http"))),
      breaker(std::make_shared<WorkerCircuitBreaker>(dispatcher->clock())) {
  ConfigFolder config(paths.configFolder);
  ProviderSettings providers = config.providers();
  refiner = std::make_unique<TranscriptRefiner>(*dispatcher, *http, std::move(config), std::move(providers), breaker);
}

LiveRefiner::~LiveRefiner() {
  refiner.reset();
  QCoreApplication::processEvents();  // lets the refiner's last main-queue task run
  http.reset();
  dispatcher.reset();
}

std::unique_ptr<QCoreApplication> ensureCoreApplication() {
  if (QCoreApplication::instance()) return nullptr;
  static int argc = 1;
  static char name[] = "sorvane";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QCoreApplication>(argc, argv);
}

}  // namespace sorvane
