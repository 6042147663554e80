#include "app/bench_mode.h"

#include <unistd.h>

#include <iostream>

#include "app/live_refiner.h"
#include "tools/benchmark_runner.h"

namespace sorvane {

int runBenchMode(const std::vector<std::string>& arguments, const Paths& paths) {
  auto application = ensureCoreApplication();
  int status = 1;
  {
    LiveRefiner live(paths);
    BenchmarkRunner::Options options;
    options.showProgress = ::isatty(STDERR_FILENO) == 1;
    // No streaming recogniser is connected to file recognition yet.
    BenchmarkRunner runner(*live.dispatcher, *live.refiner, nullptr, std::cout, std::cerr, options);
    bool done = false;
    live.dispatcher->mainQueue().post([&] {
      runner.start(arguments, [&](int result) {
        status = result;
        done = true;
        QCoreApplication::exit(result);
      });
    });
    if (!done) QCoreApplication::exec();
  }
  return status;
}

}  // namespace sorvane
