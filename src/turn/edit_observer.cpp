#include "turn/edit_observer.h"

#include <charconv>

#include "context/context_collector.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/turn_metrics.h"
#include "core/unicode_text.h"
#include "learning/edit_observation.h"

namespace sorvane {
namespace {

std::string count(std::string_view s) { return std::to_string(text::graphemeCount(s)); }

}  // namespace

std::string confidenceText(double value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

EditObserver::EditObserver(Dispatcher& dispatcher, Parts parts) : dispatcher_(dispatcher), parts_(std::move(parts)) {}

EditObserver::~EditObserver() = default;

void EditObserver::startObservation(const std::string& turnID, const std::string& rawText,
                                    const std::string& finalText, const InputContext& context,
                                    const std::optional<std::string>& audioPath,
                                    std::shared_ptr<TurnMetrics> metrics) {
  if (text::graphemeCount(finalText) < kEditObservationMinChars) return;
  cancelObservation();
  const uint64_t id = nextID_++;
  observation_ = Observation{id,      turnID,        rawText, finalText, context, audioPath, context.inputBoxIdentifier(),
                             dispatcher_.clock().monotonicNow(), std::move(metrics)};
  lastCandidate_.reset();
  lastContext_ = context;
  if (parts_.keyboard) {
    keys_ = parts_.keyboard->observe(KeyboardEventSource::Scope::outsideOwnWindows,
                                     [this, id, weak = alive_.weak()](const KeyboardEvent& event) {
                                       if (weak.lock()) onKey(id, event);
                                     });
  }
  tickTimer_.start(dispatcher_.mainQueue(), kEditObservationTick, alive_.guard([this, id] { tick(id); }));
  requestScan(id);
  appLog("post paste edit observer started turn=" + turnID);
}

void EditObserver::cancelObservation() {
  tickTimer_.cancel();
  keys_.reset();
  observation_.reset();
  lastCandidate_.reset();
  scanning_ = false;
  scanPending_ = false;
}

void EditObserver::after(Milliseconds delay, uint64_t id, std::function<void()> work) {
  dispatcher_.mainQueue().postAfter(delay, alive_.guard([this, id, work = std::move(work)] {
    if (current(id)) work();
  }));
}

void EditObserver::onKey(uint64_t id, const KeyboardEvent& event) {
  if (!current(id) || event.type != KeyboardEvent::Type::keyDown) return;
  switch (event.key) {
    case Key::returnKey:
    case Key::keypadEnter:
      after(Milliseconds(0), id, [this, id] { requestScan(id); });
      after(kEditScanAfterReturn, id, [this, id] { requestScan(id); });
      after(kEditFinishAfterReturn, id, [this, id] { finish(id, "return-key"); });
      break;
    case Key::escape:
      after(Milliseconds(0), id, [this] { cancelObservation(); });
      break;
    default:
      after(kEditScanAfterKey, id, [this, id] { requestScan(id); });
      break;
  }
}

void EditObserver::tick(uint64_t id) {
  if (!current(id)) return;
  if (dispatcher_.clock().monotonicNow() - observation_->startedAt > kEditObservationLimit) {
    finish(id, "timeout");
    return;
  }
  tickTimer_.start(dispatcher_.mainQueue(), kEditObservationTick, alive_.guard([this, id] { tick(id); }));
  requestScan(id);
}

void EditObserver::requestScan(uint64_t id) {
  if (!current(id)) return;
  if (scanning_) {
    scanPending_ = true;
    return;
  }
  scanning_ = true;
  dispatcher_.queue(kContextQueueLabel)
      .post([source = parts_.context, &main = dispatcher_.mainQueue(), weak = alive_.weak(), this, id,
             finalText = observation_->finalText] {
        InputContext context = source->collect();
        std::optional<std::string> candidate = editedTextCandidate(context, finalText);
        main.post([weak, this, id, context = std::move(context), candidate = std::move(candidate)]() mutable {
          if (weak.lock()) scanDone(id, std::move(context), std::move(candidate));
        });
      });
}

void EditObserver::scanDone(uint64_t id, InputContext context, std::optional<std::string> candidate) {
  if (!current(id)) return;
  scanning_ = false;
  if (candidate && isSameEditObservationSurface(context, observation_->baselineInput, observation_->originalContext)) {
    if (observation_->metrics) {
      observation_->metrics->setValue("editObserverCandidateChars",
                                      static_cast<int64_t>(text::graphemeCount(*candidate)));
    }
    appLog("post paste edit candidate observed chars=" + count(*candidate) + " app=" + context.appName);
    lastCandidate_ = std::move(candidate);
    lastContext_ = std::move(context);
  }
  if (std::exchange(scanPending_, false)) requestScan(id);
}

void EditObserver::finish(uint64_t id, const std::string& trigger) {
  if (!current(id)) return;
  const Observation o = *observation_;
  const std::optional<std::string> candidate = lastCandidate_;
  const InputContext scanned = lastContext_;
  cancelObservation();
  if (!candidate) {
    appLog("post paste edit observer finished no-change trigger=" + trigger);
    runPassiveAudit(o.turnID, o.rawText, o.finalText, o.originalContext, o.audioPath, trigger);
    return;
  }
  const InputContext context = scanned.hasMeaningfulContext() ? scanned : o.originalContext;
  appLog("post paste edit observer analyzing turn=" + o.turnID + " trigger=" + trigger);
  parts_.analyzer->analyzeEdit(
      o.rawText, o.finalText, *candidate, context,
      [this, weak = alive_.weak(), o, candidate = *candidate, context,
       trigger](std::optional<MirlaFeedbackAnalysis> analysis) {
        if (!weak.lock()) return;
        auto result = parts_.store->learnFromEdit(o.rawText, o.finalText, candidate, context, o.turnID, o.audioPath,
                                                  trigger, analysis);
        if (!result) {
          appLog("post paste edit observer finished ignored trigger=" + trigger);
          return;
        }
        parts_.hud->refreshDashboard();
        if (result->learnedTerms.empty()) {
          appLog("post paste edit observer analyzed turn=" + o.turnID + " trigger=" + trigger +
                 " no-term llm=" + (analysis ? analysis->provider : std::string("none")));
          return;
        }
        const bool several = result->learnedTerms.find(',') != std::string::npos;
        parts_.hud->showLearningNotice(several ? "已学习多个词" : "已学习一个词", result->message,
                                       parts_.targetScreen ? parts_.targetScreen() : std::nullopt);
        appLog("post paste edit observer learned turn=" + o.turnID + " trigger=" + trigger +
               " term=" + result->learnedTerms + " llm=" + (analysis ? analysis->provider : std::string("fallback")));
      });
}

void EditObserver::runPassiveAudit(const std::string& turnID, const std::string& rawText,
                                   const std::string& finalText, const InputContext& context,
                                   const std::optional<std::string>& audioPath, const std::string& source) {
  const std::string trimmed = text::trim(finalText);
  if (text::graphemeCount(trimmed) < kPassiveAuditMinChars) return;
  appLog("passive dictionary audit start turn=" + turnID + " source=" + source + " raw=" + count(rawText) +
         " final=" + count(trimmed));
  parts_.analyzer->auditPassive(
      rawText, finalText, context,
      [this, weak = alive_.weak(), turnID, rawText, finalText, context,
       audioPath](std::optional<MirlaFeedbackAnalysis> analysis) {
        if (!weak.lock()) return;
        if (!analysis) {
          appLog("passive dictionary audit skipped turn=" + turnID + " no-analysis");
          return;
        }
        const std::vector<std::string> fresh = parts_.store->newDictionaryTerms(analysis->dictionaryTerms);
        if (analysis->confidence < kPassiveSuggestionConfidence || fresh.empty()) {
          appLog("passive dictionary audit no-suggestion turn=" + turnID + " confidence=" +
                 confidenceText(analysis->confidence) + " terms=" + text::join(fresh, ",") +
                 " provider=" + analysis->provider);
          return;
        }
        const std::string listed = text::join(fresh, ", ");
        auto confirm = [this, weak, fresh, listed, turnID, rawText, finalText, context, audioPath,
                        analysis = *analysis] {
          if (!weak.lock()) return;
          auto result = parts_.store->confirmPassiveDictionaryTerms(fresh, rawText, finalText, context, turnID,
                                                                    audioPath, analysis);
          if (!result) {
            appLog("passive dictionary audit confirm ignored turn=" + turnID + " terms=" + listed);
            return;
          }
          parts_.hud->refreshDashboard();
          const bool several = result->learnedTerms.find(',') != std::string::npos;
          parts_.hud->showLearningNotice(several ? "已加入多个词" : "已加入词典", result->message,
                                         parts_.targetScreen ? parts_.targetScreen() : std::nullopt);
          appLog("passive dictionary audit confirmed turn=" + turnID + " terms=" + result->learnedTerms +
                 " provider=" + analysis.provider);
        };
        parts_.hud->askLearningConfirmation(fresh.size() == 1 ? "建议加入一个词" : "建议加入这些词",
                                            "Mirla 觉得“" + listed + "”可能值得加入你的个人词典。确认后才会生效。",
                                            std::move(confirm),
                                            parts_.targetScreen ? parts_.targetScreen() : std::nullopt);
        appLog("passive dictionary audit suggested turn=" + turnID + " terms=" + listed +
               " confidence=" + confidenceText(analysis->confidence) + " provider=" + analysis->provider);
      });
}

}  // namespace sorvane
