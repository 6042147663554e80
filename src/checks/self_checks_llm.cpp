#include "checks/self_checks_llm.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "checks/live_refiner.h"
#include "context/input_context.h"
#include "core/json.h"
#include "core/unicode_text.h"
#include "postprocess/recording_mode.h"

namespace sorvane {
namespace {

using Result = TranscriptRefiner::Result;
using Start = std::function<void(TranscriptRefiner&, TranscriptRefiner::Completion)>;

constexpr std::string_view kRefineSample =
    "我有两个问题，第一个是点击结束录制以后不要吞掉最后几个字，第二个是帮我把这段话整理得更有结构，但是不要改变原来的意思。";
constexpr std::string_view kStyleSample = "这个需求今天必须改完，别再拖了，我们周五就要上线。";
constexpr VoiceStylePreset kStylePreset = VoiceStylePreset::highEQ;

InputContext sampleContext() {
  return InputContext::synthetic(Json{{"appName", "Notes"},
                                      {"windowTitle", "录音反馈"},
                                      {"textBeforeCursor", "今天收集到的反馈："},
                                      {"focusedRole", "AXTextArea"}});
}

struct Outcome {
  std::optional<Result> result;
  int64_t elapsedMs = 0;
};

// Runs one call on the main event loop until it completes or `limit` passes.
Outcome runLive(const Paths& paths, std::chrono::milliseconds limit, const Start& start) {
  auto application = ensureCoreApplication();
  Outcome outcome;
  QEventLoop loop;
  const auto began = std::chrono::steady_clock::now();
  // Declared before the refiner: a completion that arrives while it is torn down must
  // still find them.
  bool timedOut = false;
  QTimer timer;
  {
    LiveRefiner live(paths);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
      timedOut = true;
      loop.quit();
    });
    start(*live.refiner, [&](Result result) {
      if (timedOut || outcome.result) return;
      outcome.result = std::move(result);
      outcome.elapsedMs =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
      loop.quit();
    });
    if (!outcome.result) {
      timer.start(limit);
      loop.exec();
    }
    timedOut = true;  // a completion during teardown no longer counts
  }
  return outcome;
}

int report(std::ostream& out, std::string_view name, const Outcome& outcome, bool passed) {
  if (!outcome.result) {
    out << name << " timed out\n";
    return 1;
  }
  out << name << (passed ? " ok" : " failed") << " provider=" << outcome.result->provider
      << " ms=" << outcome.elapsedMs << " text=" << outcome.result->text << "\n";
  return passed ? 0 : 1;
}

}  // namespace

int runRefineLlmCheck(std::ostream& out, const Paths& paths, std::chrono::milliseconds limit) {
  const Outcome outcome = runLive(paths, limit, [](TranscriptRefiner& refiner, TranscriptRefiner::Completion done) {
    refiner.refine(kRefineSample, sampleContext(), RefineProfile::named(), std::move(done));
  });
  bool passed = false;
  if (outcome.result) {
    const std::string& text = outcome.result->text;
    const bool known = std::any_of(std::begin(kRefineProviders), std::end(kRefineProviders),
                                   [&](std::string_view p) { return p == outcome.result->provider; });
    passed = known && text::contains(text, "两个问题") && text::contains(text, "不要吞") &&
             text::contains(text, "不要改变");
  }
  return report(out, "refine llm", outcome, passed);
}

int runStyleLlmCheck(std::ostream& out, const Paths& paths, std::chrono::milliseconds limit) {
  const Outcome outcome = runLive(paths, limit, [](TranscriptRefiner& refiner, TranscriptRefiner::Completion done) {
    refiner.stylize(kStyleSample, kStylePreset, sampleContext(), RefineProfile::named(), std::move(done));
  });
  bool passed = false;
  if (outcome.result) {
    const std::string key(kStylePreset.key());
    const std::string& provider = outcome.result->provider;
    const bool known = provider == "deepseek-direct-" + key || provider == "qwen-llm-direct-" + key ||
                       provider == "style-raw-fallback";
    passed = known && !text::isBlank(outcome.result->text);
  }
  return report(out, "style llm", outcome, passed);
}

}  // namespace sorvane
