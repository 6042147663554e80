#include "app/bench_mode.h"

#include <unistd.h>

#include <iostream>

#include "checks/live_refiner.h"
#include "core/config_folder.h"
#include "core/paths.h"
#include "net/qt/qt_web_socket_client.h"
#include "tools/benchmark_runner.h"
#include "tools/streaming_file_recognizer.h"

namespace sorvane {

int runBenchMode(const std::vector<std::string>& arguments, const Paths& paths) {
  auto application = ensureCoreApplication();
  int status = 1;
  {
    LiveRefiner live(paths);
    BenchmarkRunner::Options options;
    options.showProgress = ::isatty(STDERR_FILENO) == 1;
    // Audio samples go through the realtime recogniser that the key files choose.
    QtWebSocketClient sockets(live.dispatcher->queue("app.sorvane.websocket"));
    StreamingFileRecognizer recognizer(*live.dispatcher,
                                       recognizerFactoryForKeys(*live.dispatcher, sockets, ConfigFolder(paths.configFolder)));
    BenchmarkRunner runner(*live.dispatcher, *live.refiner, &recognizer, std::cout, std::cerr, options);
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
