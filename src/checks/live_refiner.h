// The refiner with its real collaborators, for the headless modes that call the language
// models (--bench and the live self-checks): the Qt dispatcher, the Qt HTTP client on
// its own network queue, the process's worker breaker, and the providers and keys of
// the configuration folder in `paths`.
//
// Needs a QCoreApplication (use `ensureCoreApplication` first); lives on the main
// thread and is torn down in reverse order, the HTTP client before the dispatcher.
#pragma once

#include <QCoreApplication>

#include <memory>

#include "core/dispatch.h"
#include "net/qt/qt_http_client.h"
#include "postprocess/transcript_refiner.h"
#include "postprocess/worker_circuit_breaker.h"

namespace sorvane {

struct Paths;

struct LiveRefiner {
  explicit LiveRefiner(const Paths& paths);
  ~LiveRefiner();
  LiveRefiner(const LiveRefiner&) = delete;
  LiveRefiner& operator=(const LiveRefiner&) = delete;

  std::unique_ptr<Dispatcher> dispatcher;
  std::unique_ptr<QtHttpClient> http;
  std::shared_ptr<WorkerCircuitBreaker> breaker;
  std::unique_ptr<TranscriptRefiner> refiner;
};

// The running QCoreApplication, or a new one owned by the returned pointer.
std::unique_ptr<QCoreApplication> ensureCoreApplication();

}  // namespace sorvane
