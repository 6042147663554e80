// The refinement pipeline: one raw transcript plus the input context in, the final text
// of the turn out, and the network side of the translation and style modes.
//
// `refine` decides between the local text and a language model: an empty transcript
// ends at once ("empty"); a profile without remote calls gives the local pipeline
// ("local-guard"); a short plain utterance takes the local fast path ("local-fastpath");
// otherwise DeepSeek and Qwen chat completions are tried in the order
// `shouldPreferDeepSeek` picks (a missing key file skips a provider), then the worker
// endpoint, and finally the raw-preserving local text ("raw-fallback"). Every model
// answer passes the guard chain before it is used. `translateToEnglish` and `stylize`
// use the same provider order without fast path, guards or worker.
//
// Keys are read from the configuration folder at every call; base URLs and models come
// from the `ProviderSettings` handed in (providers.json), read once by the owner. With
// no worker host configured the worker step fails at once, as a transport error, and
// opens the breaker like any other failure; no request is made.
//
// Threads: call from any queue. All decisions, the breaker, the guard chain and the
// completion run on the main queue of the dispatcher; each completion runs exactly once
// there (the empty and local paths run it before the call returns when called on the
// main queue). HTTP replies are delivered to the main queue by the client. A refiner
// destroyed while a call is in flight does not lose the completion: the call ends with
// the local text. Marks and values go to `onMark` / `onValue` (the turn metrics) on the
// main queue; set them before the first call.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "context/input_context.h"
#include "core/config_folder.h"
#include "core/dispatch.h"
#include "core/json.h"
#include "postprocess/recording_mode.h"
#include "postprocess/refine_profile.h"

namespace sorvane {

class HttpClient;
class WorkerCircuitBreaker;

// Every provider value a refinement can report.
inline constexpr std::string_view kRefineProviders[] = {
    "empty",           "local-guard",     "local-fastpath", "deepseek-direct", "qwen-llm-direct",
    "timeline-worker", "local-worker-circuit-breaker", "raw-fallback"};

class TranscriptRefiner {
 public:
  struct Result {
    std::string text;
    std::string provider;
    std::string profileID;
    friend bool operator==(const Result&, const Result&) = default;
  };
  using Completion = std::function<void(Result)>;

  // `http` and `dispatcher` outlive the refiner; `breaker` is the process's one breaker.
  TranscriptRefiner(Dispatcher& dispatcher, HttpClient& http, ConfigFolder config, ProviderSettings providers,
                    std::shared_ptr<WorkerCircuitBreaker> breaker);
  ~TranscriptRefiner();
  TranscriptRefiner(const TranscriptRefiner&) = delete;
  TranscriptRefiner& operator=(const TranscriptRefiner&) = delete;

  std::function<void(std::string_view name)> onMark;
  std::function<void(std::string_view key, Json value)> onValue;

  // The worker endpoint (".../api/interpret"); empty when none is configured.
  const std::string& workerURL() const { return workerURL_; }

  void refine(std::string_view text, const InputContext& context, const RefineProfile& profile,
              Completion completion);
  void translateToEnglish(std::string_view raw, const InputContext& context, const RefineProfile& profile,
                          Completion completion);
  void stylize(std::string_view raw, VoiceStylePreset preset, const InputContext& context,
               const RefineProfile& profile, Completion completion);

  struct Call;  // one call's captured input, callbacks and completion (transcript_refiner.cpp)
  struct Shared;

 private:
  void onMain(Task task);
  // A call's state with this refiner's callbacks captured at the call.
  std::shared_ptr<Call> newCall(std::string raw, const InputContext& context, const RefineProfile& profile,
                                Completion completion) const;

  Dispatcher& dispatcher_;
  std::string workerURL_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace sorvane
