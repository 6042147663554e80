#include "turn/turn_controller.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "input/control_style_key_monitor.h"
#include "input/option_key_toggle_monitor.h"
#include "core/json.h"
#include "core/paths.h"
#include "core/unicode_text.h"
#include "learning/mirla_data_store.h"
#include "support/test_support.h"
#include "turn_fakes.h"
#include "support/virtual_time.h"

namespace sorvane::testing {
namespace {

using namespace std::chrono_literals;

// A dispatcher whose wall clock can jump while the monotonic clock runs on evenly.
class SteppedClock final : public Clock {
 public:
  explicit SteppedClock(const Clock& base) : base_(base) {}
  int64_t wallMilliseconds() const override { return base_.wallMilliseconds() + stepMs; }
  std::chrono::steady_clock::time_point monotonicNow() const override { return base_.monotonicNow(); }
  int64_t stepMs = 0;

 private:
  const Clock& base_;
};

class SteppedDispatcher final : public Dispatcher {
 public:
  explicit SteppedDispatcher(VirtualDispatcher& inner) : inner_(inner), clock_(inner.clock()) {}
  SerialQueue& mainQueue() override { return inner_.mainQueue(); }
  SerialQueue& queue(std::string_view label) override { return inner_.queue(label); }
  const Clock& clock() const override { return clock_; }
  SteppedClock& stepped() { return clock_; }

 private:
  VirtualDispatcher& inner_;
  SteppedClock clock_;
};

InputContext editorContext() {
  InputContext c;
  c.appName = "gedit";
  c.bundleIdentifier = "org.gnome.gedit";
  c.focusedRole = "AXTextArea";
  c.focusedValueSettable = true;
  c.textBeforeCursor = "会议纪要：";
  c.visibleText = "会议纪要：";
  c.windowTitle = "notes";
  c.source = "accessibility";
  c.caretFrame = Rect{100, 200, 2, 18};
  return c;
}

InputContext noFieldContext() {
  InputContext c;
  c.appName = "Files";
  c.bundleIdentifier = "org.gnome.Nautilus";
  c.source = "accessibility";
  return c;
}

class TurnControllerTest : public ::testing::Test {
 protected:
  TurnControllerTest() : stepped(d) {}

  void SetUp() override { build(nullptr); }

  void build(TurnStore* realStore) {
    auto s = std::make_unique<FakeTurnSpeech>(d);
    auto ctx = std::make_shared<FakeTurnContext>();
    auto r = std::make_unique<FakeTurnRefiner>(d);
    auto i = std::make_unique<FakeTurnInserter>(d);
    auto h = std::make_unique<FakeTurnWindows>();
    speech = s.get();
    context = ctx.get();
    refiner = r.get();
    inserter = i.get();
    hud = h.get();
    context->context = editorContext();
    controller.reset();
    controller = std::make_unique<TurnController>(
        stepped, tmp.path() + "/metrics",
        TurnCollaborators{std::move(s), std::move(ctx), std::move(r), std::move(i), std::move(h),
                          realStore ? realStore : &store, &followUp});
    controller->setReady(true);
  }

  void toggle() {
    controller->toggleRecording(RecordingMode::dictation());
    d.runUntilIdle();
  }
  // Starts a turn, records for `recordMs`, stops and delivers `raw` after 300 ms.
  void recordTurn(const std::string& raw, Milliseconds recordMs = 1000ms) {
    toggle();
    d.advance(recordMs);
    toggle();
    d.advance(300ms);
    speech->finish(raw);
    d.runUntilIdle();
  }
  std::vector<Json> metricsLines() const {
    std::vector<Json> lines;
    std::ifstream in(tmp.path() + "/metrics/turns.jsonl");
    for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
    return lines;
  }
  std::string lastStatus() const {
    auto lines = metricsLines();
    return lines.empty() ? "" : lines.back()["values"]["status"].get<std::string>();
  }

  VirtualDispatcher d;
  SteppedDispatcher stepped;
  TempDir tmp;
  LogCapture log;
  FakeTurnStore store;
  FakeTurnFollowUp followUp;
  FakeTurnSpeech* speech = nullptr;
  FakeTurnContext* context = nullptr;
  FakeTurnRefiner* refiner = nullptr;
  FakeTurnInserter* inserter = nullptr;
  FakeTurnWindows* hud = nullptr;
  std::unique_ptr<TurnController> controller;
};

TEST_F(TurnControllerTest, DebounceCountsOnlyMonotonicIntervals) {
  struct Case {
    Milliseconds gap;
    int64_t wallStepMs;
    bool secondHandled;
  };
  const Case cases[] = {{100ms, 0, false}, {119ms, 0, false}, {120ms, 0, true},
                        {50ms, 3'600'000, false}, {50ms, -3'600'000, false}};
  for (const Case& c : cases) {
    build(nullptr);
    stepped.stepped().stepMs = 0;
    d.advance(1000ms);  // every case starts well past the previous toggle
    toggle();
    ASSERT_TRUE(controller->isRecording());
    stepped.stepped().stepMs = c.wallStepMs;
    d.advance(c.gap);
    const auto before = log.count("hotkey ignored debounce");
    toggle();
    EXPECT_EQ(controller->isProcessing(), c.secondHandled) << c.gap.count() << " step " << c.wallStepMs;
    EXPECT_EQ(log.count("hotkey ignored debounce") - before, c.secondHandled ? 0u : 1u);
  }
}

TEST_F(TurnControllerTest, ToggleWhileProcessingChangesNothing) {
  toggle();
  d.advance(500ms);
  toggle();
  ASSERT_TRUE(controller->isProcessing());
  d.advance(500ms);
  toggle();
  EXPECT_TRUE(log.contains("hotkey ignored processing"));
  EXPECT_TRUE(controller->isProcessing());
  EXPECT_EQ(speech->starts, 1);
  EXPECT_EQ(speech->stopCompletions.size(), 1u);
}

TEST_F(TurnControllerTest, CancelDuringRecordingMakesTheLateTranscriptStale) {
  toggle();
  d.advance(400ms);
  toggle();  // stop: the transcript is pending
  controller->cancelRecording();
  speech->finish("今天下午三点开会");
  d.runUntilIdle();
  EXPECT_TRUE(log.contains("recording cancelled"));
  EXPECT_TRUE(log.contains("stale stop ignored"));
  EXPECT_EQ(speech->cancels, 1);
  EXPECT_TRUE(refiner->calls.empty());
  EXPECT_EQ(lastStatus(), "cancelled");
  EXPECT_FALSE(controller->isProcessing());
}

TEST_F(TurnControllerTest, CancelDuringRefinementEndsTheTurnAndDropsTheLateResult) {
  recordTurn("今天下午三点开会讨论发布计划");
  ASSERT_EQ(refiner->calls.size(), 1u);
  ASSERT_TRUE(controller->isProcessing());
  controller->cancelRecording();
  EXPECT_FALSE(controller->isProcessing());
  EXPECT_EQ(lastStatus(), "cancelled");
  refiner->complete(0, "今天下午三点开会讨论发布计划。");
  d.runUntilIdle();
  EXPECT_TRUE(log.contains("stale refine ignored"));
  EXPECT_TRUE(inserter->pasted.empty());
  EXPECT_TRUE(store.turns.empty());
  EXPECT_EQ(metricsLines().size(), 1u);
  // Nothing left to cancel.
  controller->cancelRecording();
  EXPECT_TRUE(log.contains("cancel ignored not recording"));
}

TEST_F(TurnControllerTest, NewTurnWhileThePreviousRefinementRunsKeepsOnlyTheNewResult) {
  recordTurn("第一段话的内容比较长一些");
  controller->cancelRecording();
  d.advance(200ms);
  recordTurn("第二段话也需要整理一下");
  ASSERT_EQ(refiner->calls.size(), 2u);
  refiner->complete(0, "第一段。");
  d.runUntilIdle();
  EXPECT_TRUE(log.contains("stale refine ignored"));
  EXPECT_TRUE(controller->isProcessing());
  refiner->complete(1, "第二段话也需要整理一下。");
  d.advance(100ms);
  ASSERT_EQ(inserter->pasted, std::vector<std::string>{"第二段话也需要整理一下。"});
  EXPECT_EQ(lastStatus(), "pasted");
}

TEST_F(TurnControllerTest, TurnsThatEndWithoutText) {
  struct Case {
    std::string raw;
    int64_t flushedBytes;  // -1: not reported
    Milliseconds recordMs;
    std::optional<std::string> refined;  // the refiner's answer, when it is asked
    std::string status;
  };
  const Case cases[] = {
      {"", -1, 1000ms, std::nullopt, "empty-transcript"},
      {"嗯。", 5440, 2500ms, std::nullopt, "suppressed-asr-hallucination"},
      {"好的。", 5440, 2500ms, std::string(" \n \n"), "empty-final"},
  };
  for (const Case& c : cases) {
    build(nullptr);
    d.advance(1000ms);
    toggle();
    d.advance(c.recordMs);
    toggle();
    if (c.flushedBytes >= 0) controller->reportValue("qwenCutoffFlushBytes", c.flushedBytes);
    speech->finish(c.raw);
    d.runUntilIdle();
    if (c.refined) {
      ASSERT_EQ(refiner->calls.size(), 1u) << c.raw;
      refiner->complete(0, *c.refined);
      d.runUntilIdle();
    } else {
      EXPECT_TRUE(refiner->calls.empty()) << c.raw;
    }
    EXPECT_EQ(lastStatus(), c.status) << c.raw;
    EXPECT_FALSE(controller->isProcessing());
    EXPECT_EQ(hud->count("beep"), 1) << c.raw;
    EXPECT_TRUE(inserter->pasted.empty());
    EXPECT_TRUE(store.turns.empty());
    EXPECT_EQ(controller->currentRecordingMode(), RecordingMode::dictation());
  }
  EXPECT_TRUE(log.contains("asr hallucination suppressed chars=2 flushedBytes=5440 recordingMs=2500"));
}

TEST_F(TurnControllerTest, PastedTurnWritesTheGoldenMetricsLine) {
  toggle();
  controller->reportValue("qwenCutoffFlushBytes", 16000);
  controller->reportMark("qwenFinishStart");
  d.advance(1000ms);
  toggle();
  d.advance(300ms);
  speech->finish("今天下午三点开会");
  d.runUntilIdle();
  d.advance(200ms);
  refiner->complete(0, "今天下午三点开会。\n");
  d.runUntilIdle();
  d.advance(50ms);  // the paste reports after 50 ms
  ASSERT_EQ(inserter->pasted, std::vector<std::string>{"今天下午三点开会。"});

  auto lines = metricsLines();
  ASSERT_EQ(lines.size(), 1u);
  Json line = lines[0];
  const std::string id = line["id"];
  EXPECT_EQ(line["values"]["audioPath"], "/audio/" + id + ".wav");
  line["id"] = "ID";
  line["values"]["audioPath"] = "AUDIO";
  const int64_t t0 = 1'765'000'000'000;
  const std::string golden = R"({"createdAtMs":)" + std::to_string(t0) +
      R"(,"durationsMs":{"contextCollectMs":0,"pasteMs":50,"processingOverlayMs":0,"recordingMs":1000,)"
      R"("refineMs":200,"speechFinalizeMs":300,"speechStartMs":0,"startupMs":0,"stopToPasteMs":550,)"
      R"("totalMs":1550},"id":"ID","marks":{"contextCollectStart":T0,"contextCollected":T0,"created":T0,)"
      R"("hotkey":T0,"metricsWritten":T1550,"pasteDone":T1550,"pasteStart":T1500,"processingShown":T1000,)"
      R"("qwenFinishStart":T0,"recordingShown":T0,"refineDone":T1500,"refineStart":T1300,)"
      R"("speechStarted":T0,"speechStopped":T1300,"startRequested":T0,"stopRequested":T1000},)"
      R"("values":{"asrProvider":"qwen3-asr-flash-realtime","audioPath":"AUDIO","browserEditableFocused":false,)"
      R"("caretFrame":"100,200,2x18","contextApp":"gedit","contextChars":15,"contextScene":"developer",)"
      R"("finalChars":9,"hasPasteTarget":true,"hudScreen":"0,0,1512x982","hudScreenInitial":"0,0,1512x982",)"
      R"("inputBadgeAnchor":"caret","pasteTargetReason":"focused-text-role","provider":"deepseek-direct",)"
      R"("qwenCutoffFlushBytes":16000,"rawChars":8,"recordingMode":"dictation",)"
      R"("refineProfile":"context-policy-v7-murmly-structured","status":"pasted","tailCaptureMs":0,)"
      R"("visibleContextChars":5}})";
  std::string expected = golden;
  for (int offset : {1550, 1500, 1300, 1000, 0}) {
    const std::string token = "T" + std::to_string(offset);
    for (std::size_t at; (at = expected.find(token)) != std::string::npos;) {
      expected.replace(at, token.size(), std::to_string(t0 + offset));
    }
  }
  EXPECT_EQ(toJsonLine(line), expected);

  ASSERT_EQ(store.turns.size(), 1u);
  EXPECT_EQ(store.turns[0].status, "pasted");
  EXPECT_EQ(store.turns[0].id, id);
  EXPECT_EQ(store.turns[0].refineProvider, "deepseek-direct");
  EXPECT_EQ(followUp.events.back(), "observe 今天下午三点开会。");
  EXPECT_EQ(followUp.observedMetrics->id(), id);
  EXPECT_EQ(controller->lastFinalText(), "今天下午三点开会。");
  EXPECT_EQ(controller->currentMetrics(), nullptr);
  // The capsule sits centred 18 points below the top of the screen.
  EXPECT_EQ(hud->lastOverlayFrame, (Rect{756 - 83, 982 - 38 - 18, 166, 38}));
  const auto lines2 = log.lines();
  auto at = [&](const std::string& fragment) {
    return std::find_if(lines2.begin(), lines2.end(), [&](const std::string& l) { return l.find(fragment) == 0; });
  };
  EXPECT_LT(at("start requested ready=true mode=dictation"), at("recording shown mode=dictation"));
  EXPECT_LT(at("recording shown"), at("stop requested"));
  EXPECT_LT(at("stop requested"), at("final text provider=deepseek-direct chars=9"));
  EXPECT_LT(at("final text"), at("paste target=true reason=focused-text-role app=gedit scene=developer role=AXTextArea "
                                 "settable=true webEditable=false fieldChars=5"));
  EXPECT_NE(at("metrics wrote"), lines2.end());
}

TEST_F(TurnControllerTest, CopyPanelAuditStartsFromSixCharacters) {
  context->context = noFieldContext();
  struct Case {
    std::string result;
    bool audited;
  };
  for (const Case& c : {Case{"  五个字好了 ", false}, Case{" 六个字正好了\n", true}}) {
    followUp.events.clear();
    store.turns.clear();
    d.advance(1000ms);
    recordTurn("随便说了几个字");
    refiner->complete(refiner->calls.size() - 1, c.result);
    d.runUntilIdle();
    EXPECT_EQ(lastStatus(), "copy-panel");
    ASSERT_EQ(store.turns.size(), 1u);
    EXPECT_EQ(store.turns[0].status, "copy-panel");
    EXPECT_TRUE(inserter->pasted.empty());
    const std::string trimmed = text::trim(c.result);
    EXPECT_EQ(hud->events.back(), "copyPanel " + trimmed);
    std::vector<std::string> expected{"cancel"};
    if (c.audited) expected.push_back("audit copy-panel " + trimmed);
    EXPECT_EQ(followUp.events, expected);
    EXPECT_EQ(metricsLines().back()["values"]["pasteFallback"], "copy-panel");
  }
}

TEST_F(TurnControllerTest, ContextArrivingAfterTheTranscriptLeavesTheTurnWithTheEmptyContext) {
  controller->toggleRecording(RecordingMode::dictation());  // the context task has not run yet
  // Stop 200 ms later without letting the context queue run.
  d.virtualClock().setElapsed(d.virtualClock().elapsedMs() + 200);
  controller->toggleRecording(RecordingMode::dictation());
  ASSERT_TRUE(controller->isProcessing());
  speech->stopCompletions.front()("今天下午三点开会");
  ASSERT_EQ(refiner->calls.size(), 1u);
  EXPECT_EQ(refiner->calls[0].context.source, "none");
  refiner->calls[0].completion({"今天下午三点开会。", "local-fastpath", "p"});
  EXPECT_EQ(lastStatus(), "copy-panel");
  d.runUntilIdle();  // the collection now runs and changes nothing
  EXPECT_TRUE(inserter->pasted.empty());
  EXPECT_EQ(metricsLines().size(), 1u);
}

// A start collection that ran out of its budget without finding a field is no proof
// that there is none: the turn looks once more before it settles on the copy panel.
TEST_F(TurnControllerTest, CutShortContextWithoutAFieldIsCollectedOnceMoreAtDelivery) {
  InputContext cutShort = noFieldContext();
  cutShort.collectionCutShort = true;
  struct Case {
    const char* name;
    InputContext again;
    const char* status;
  };
  const Case cases[] = {
      {"the field is found the second time", editorContext(), "pasted"},
      {"still nothing: one more look only", cutShort, "copy-panel"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    build(nullptr);
    context->script = {cutShort, c.again};
    recordTurn("今天下午三点开会");
    refiner->complete(0, "今天下午三点开会。");
    d.runUntilIdle();
    d.advance(50ms);
    EXPECT_EQ(context->collects, 2);
    EXPECT_EQ(context->collectsAgain, 1);  // the second look has the longer budget
    EXPECT_EQ(lastStatus(), c.status);
    EXPECT_EQ(metricsLines().back()["values"]["contextCollectedAgain"], true);
    EXPECT_EQ(inserter->pasted.size(), std::string(c.status) == "pasted" ? 1u : 0u);
  }
  EXPECT_EQ(log.count("paste target unknown; collecting context again"), 2u);

  // A field found at the start is used as it is, even from a collection cut short.
  build(nullptr);
  InputContext partial = editorContext();
  partial.collectionCutShort = true;
  context->script = {partial};
  recordTurn("今天下午三点开会");
  refiner->complete(0, "今天下午三点开会。");
  d.runUntilIdle();
  d.advance(50ms);
  EXPECT_EQ(context->collects, 1);
  EXPECT_EQ(lastStatus(), "pasted");
}

// Cancel while the second look runs: the turn ends cancelled and the late context is stale.
TEST_F(TurnControllerTest, CancelDuringTheSecondLookDropsTheDelivery) {
  InputContext cutShort = noFieldContext();
  cutShort.collectionCutShort = true;
  context->script = {cutShort, editorContext()};
  recordTurn("今天下午三点开会");
  refiner->calls[0].completion({"今天下午三点开会。", "deepseek-direct", "p"});
  ASSERT_TRUE(controller->isProcessing());  // the second collection has not run yet
  controller->cancelRecording();
  d.runUntilIdle();
  EXPECT_EQ(lastStatus(), "cancelled");
  EXPECT_TRUE(inserter->pasted.empty());
  EXPECT_TRUE(log.contains("stale refine ignored"));
}

TEST_F(TurnControllerTest, PasteThatFallsBackShowsTheCopyPanel) {
  inserter->autoOutcome = PasteOutcome::fellBack;
  recordTurn("这段话没有被目标程序读走");
  refiner->complete(0, "这段话没有被目标程序读走。");
  d.runUntilIdle();
  EXPECT_TRUE(controller->isProcessing());  // still delivering until the inserter reports
  d.advance(50ms);
  EXPECT_FALSE(controller->isProcessing());
  EXPECT_EQ(lastStatus(), "copy-panel");
  EXPECT_TRUE(log.contains("paste fell back; showing copy panel chars=13"));
  EXPECT_EQ(hud->events.back(), "copyPanel 这段话没有被目标程序读走。");
  EXPECT_FALSE(metricsLines().back()["marks"].contains("pasteDone"));
}

TEST_F(TurnControllerTest, ModesDecideThePipelineAtStopTime) {
  OptionKeyToggleMonitor option(d);
  ControlStyleKeyMonitor control(d);
  wireTurnInputs(*controller, option, control, nullptr);
  auto altTap = [&] {
    option.handle({KeyboardEvent::Type::modifierChanged, Key::alt, -1, false, modifier::alt});
    option.handle({KeyboardEvent::Type::modifierChanged, Key::alt, -1, false, 0});
    d.runUntilIdle();
  };
  // A double Alt tap: the first tap starts dictation, the second switches the running turn.
  altTap();
  d.advance(150ms);
  altTap();
  EXPECT_EQ(speech->starts, 1);
  EXPECT_EQ(hud->events.back(), "mode english_translation");
  EXPECT_TRUE(log.contains("recording mode switched to english translation"));
  d.advance(1000ms);
  altTap();
  d.advance(100ms);
  speech->finish("今天下午开会");
  d.runUntilIdle();
  ASSERT_EQ(refiner->calls.size(), 1u);
  EXPECT_EQ(refiner->calls[0].kind, "translate");
  refiner->complete(0, "Meeting this afternoon.");
  d.advance(100ms);
  const Json first = metricsLines().back();
  EXPECT_EQ(first["values"]["recordingMode"], "english_translation");
  EXPECT_TRUE(first["marks"].contains("translationModeSelected"));

  // Triple tap while idle reaches the cipher, which is encoded locally.
  d.advance(1000ms);
  altTap();
  d.advance(100ms);
  altTap();
  d.advance(100ms);
  altTap();
  EXPECT_EQ(controller->currentRecordingMode(), RecordingMode::morseCipher());
  d.advance(1000ms);
  controller->stopRecording();
  speech->finish("SOS");
  d.advance(100ms);
  EXPECT_EQ(refiner->calls.size(), 1u);
  EXPECT_EQ(inserter->pasted.back(), "··· / --- / ···");
  EXPECT_EQ(metricsLines().back()["values"]["refineProfile"], "context-policy-v7-murmly-structured-morse_cipher");
  EXPECT_EQ(metricsLines().back()["values"]["llmRoute"], "local-morse-cipher");

  // Ctrl+2 typed quickly is the application's: no palette, no turn, the digit not taken.
  d.advance(1000ms);
  const std::size_t eventsBefore = hud->events.size();
  control.handle({KeyboardEvent::Type::modifierChanged, Key::leftControl, -1, false, modifier::leftControl});
  d.advance(50ms);
  EXPECT_FALSE(control.handle({KeyboardEvent::Type::keyDown, Key::digit, 2, false, modifier::leftControl}));
  d.advance(ControlStyleKeyMonitor::kPaletteHold);
  control.handle({KeyboardEvent::Type::modifierChanged, Key::leftControl, -1, false, 0});
  d.runUntilIdle();
  EXPECT_FALSE(controller->isRecording());
  EXPECT_EQ(hud->events.size(), eventsBefore);

  // Hold left Control alone until the palette shows, press 3, release: a turn in the
  // mouthpiece style; a digit while recording is refused.
  d.advance(1000ms);
  control.handle({KeyboardEvent::Type::modifierChanged, Key::leftControl, -1, false, modifier::leftControl});
  d.advance(ControlStyleKeyMonitor::kPaletteHold);
  EXPECT_EQ(hud->events.back(), "palette");
  EXPECT_TRUE(control.handle({KeyboardEvent::Type::keyDown, Key::digit, 3, false, modifier::leftControl}));
  EXPECT_EQ(hud->events.back(), "highlight style_mouthpiece");
  control.handle({KeyboardEvent::Type::modifierChanged, Key::leftControl, -1, false, 0});
  d.runUntilIdle();
  EXPECT_TRUE(controller->isRecording());
  EXPECT_TRUE(log.contains("style mode selected digit=3 preset=style_mouthpiece"));
  controller->commitStyleDigit(4);
  EXPECT_TRUE(log.contains("style digit ignored recording=true processing=false"));
  d.advance(500ms);
  control.handle({KeyboardEvent::Type::modifierChanged, Key::leftControl, -1, false, modifier::leftControl});
  control.handle({KeyboardEvent::Type::modifierChanged, Key::leftControl, -1, false, 0});
  EXPECT_TRUE(log.contains("left control single tap stops recording"));
  speech->finish("帮我回复他");
  d.runUntilIdle();
  EXPECT_EQ(refiner->calls.back().kind, "stylize:style_mouthpiece");
}

TEST_F(TurnControllerTest, StartFailureAndPermissions) {
  speech->startError = "The microphone could not be opened";
  toggle();
  EXPECT_TRUE(log.contains("start error The microphone could not be opened"));
  EXPECT_FALSE(controller->isRecording());
  EXPECT_EQ(hud->events.back(), "beep");
  EXPECT_EQ(hud->count("hideOverlay"), 1);

  speech->startError.reset();
  controller->setReady(false);
  speech->permissionAnswer = false;
  d.advance(200ms);
  toggle();
  EXPECT_EQ(speech->permissionRequests, 1);
  EXPECT_EQ(hud->count("beep"), 2);
  EXPECT_FALSE(controller->isRecording());

  speech->permissionAnswer = true;
  d.advance(200ms);
  toggle();
  EXPECT_TRUE(controller->isReady());
  EXPECT_TRUE(controller->isRecording());
}

TEST_F(TurnControllerTest, MicrophoneFailureWhileRecordingStopsAndDeliversWhatWasCaptured) {
  toggle();
  d.advance(800ms);
  controller->captureFailed("stream ended by the sound server");
  EXPECT_FALSE(controller->isRecording());
  EXPECT_TRUE(controller->isProcessing());
  ASSERT_EQ(speech->stopCompletions.size(), 1u);
  EXPECT_EQ(speech->cancels, 0);
  EXPECT_EQ(hud->events.back(), "processing dictation");
  EXPECT_EQ(log.count("capture failed while recording; stopping stream ended by the sound server"), 1u);
  // The engine reports once per turn, but a second report or a tap now must not start
  // or stop anything.
  controller->captureFailed("again");
  d.advance(200ms);
  toggle();
  EXPECT_EQ(speech->starts, 1);
  EXPECT_EQ(speech->stopCompletions.size(), 1u);
  EXPECT_TRUE(log.contains("capture failed while not recording; ignored again"));

  speech->finish("麦克风断开之前说的话");
  d.runUntilIdle();
  ASSERT_EQ(refiner->calls.size(), 1u);
  refiner->complete(0, "麦克风断开之前说的话。");
  d.advance(100ms);
  EXPECT_EQ(inserter->pasted, std::vector<std::string>{"麦克风断开之前说的话。"});
  const auto lines = metricsLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["values"]["captureError"], "stream ended by the sound server");
  EXPECT_EQ(lines[0]["values"]["status"], "pasted");
  EXPECT_EQ(lines[0]["durationsMs"]["recordingMs"], 800);
  EXPECT_FALSE(controller->isProcessing());
}

TEST_F(TurnControllerTest, MicrophoneFailureOutsideRecordingIsOnlyLogged) {
  // Waiting for the refinement.
  recordTurn("整理中的这段话不受影响");
  ASSERT_TRUE(controller->isProcessing());
  controller->captureFailed("late report");
  EXPECT_TRUE(controller->isProcessing());
  EXPECT_EQ(speech->stopCompletions.size(), 0u);
  EXPECT_EQ(speech->cancels, 0);
  refiner->complete(0, "整理中的这段话不受影响。");
  d.advance(100ms);
  ASSERT_EQ(metricsLines().size(), 1u);
  EXPECT_EQ(lastStatus(), "pasted");
  EXPECT_FALSE(metricsLines()[0]["values"].contains("captureError"));

  // Idle, after the turn ended.
  const auto hudEvents = hud->events.size();
  controller->captureFailed("after the turn");
  d.runUntilIdle();
  EXPECT_FALSE(controller->isRecording());
  EXPECT_FALSE(controller->isProcessing());
  EXPECT_EQ(hud->events.size(), hudEvents);
  EXPECT_EQ(metricsLines().size(), 1u);
  EXPECT_EQ(log.count("capture failed while not recording; ignored"), 2u);
  EXPECT_EQ(log.count("capture failed while recording"), 0u);
}

TEST_F(TurnControllerTest, QuitCancelsTheWaitingTurnAndRunsThePendingRestore) {
  recordTurn("退出前还在整理这段话");
  controller->prepareForQuit();
  EXPECT_EQ(lastStatus(), "cancelled");
  EXPECT_EQ(followUp.events.back(), "cancel");

  // Quitting during a paste: the paste reports its fallback and the turn is still recorded.
  d.advance(1000ms);
  inserter->autoOutcome.reset();
  recordTurn("第二段话正在粘贴");
  refiner->complete(1, "第二段话正在粘贴。");
  d.runUntilIdle();
  ASSERT_TRUE(inserter->hasPendingRestore());
  controller->cancelRecording();
  EXPECT_TRUE(log.contains("cancel ignored delivering"));
  controller->prepareForQuit();
  d.runUntilIdle();
  d.advance(50ms);
  EXPECT_EQ(inserter->restoresRun, 1);
  EXPECT_EQ(lastStatus(), "copy-panel");
}

// The history keeps raw texts up to 2600 characters whole and shortens longer ones to
// head, "...", tail, through the real data store.
class TurnHistoryTest : public TurnControllerTest {
 protected:
  void SetUp() override {
    paths = Paths::underHome(tmp.path(), tmp.path() + "/sorvane.log");
    realStore = std::make_unique<MirlaDataStore>(d, paths);
    adapter = std::make_unique<StoreAdapter>(*realStore);
    build(adapter.get());
  }
  struct StoreAdapter final : TurnStore {
    explicit StoreAdapter(MirlaDataStore& s) : s(s) {}
    void recordTurn(const MirlaTurnRecord& t, const TurnMetrics& m) override { s.recordTurn(t, m); }
    std::vector<std::string> dictionaryTermTexts() override { return s.dictionaryTermTexts(); }
    std::vector<std::string> newDictionaryTerms(std::span<const std::string> c) override {
      return s.newDictionaryTerms(c);
    }
    std::optional<LearningResult> learnFromEdit(std::string_view, std::string_view, std::string_view,
                                                const InputContext&, std::optional<std::string>,
                                                std::optional<std::string>, std::string_view,
                                                const std::optional<MirlaFeedbackAnalysis>&) override {
      return std::nullopt;
    }
    std::optional<LearningResult> confirmPassiveDictionaryTerms(std::span<const std::string>, std::string_view,
                                                                std::string_view, const InputContext&,
                                                                std::optional<std::string>, std::optional<std::string>,
                                                                const MirlaFeedbackAnalysis&) override {
      return std::nullopt;
    }
    MirlaDataStore& s;
  };
  Paths paths;
  std::unique_ptr<MirlaDataStore> realStore;
  std::unique_ptr<StoreAdapter> adapter;
};

TEST_F(TurnHistoryTest, RawTextIsShortenedFrom2601Characters) {
  // Distinct ideographs, so no guard takes the text for a repeated echo.
  auto ideographs = [](char32_t first, int count) {
    icu::UnicodeString text;
    for (int i = 0; i < count; ++i) text.append(static_cast<UChar32>(first + i));
    return text::toUtf8(text);
  };
  const std::string head = ideographs(0x4E00, 1300);
  const std::string tail = ideographs(0x5600, 1297);
  const std::string raw2600 = head + "中间" + ideographs(0x55FF, 1298);  // 1300 + 2 + 1298
  const std::string raw2601 = head + "中间部" + ideographs(0x55FF, 1298);
  for (const std::string& raw : {raw2600, raw2601}) {
    d.advance(1000ms);
    recordTurn(raw, 600'000ms);  // ten minutes of speech, so no guard doubts the length
    refiner->complete(refiner->calls.size() - 1, "整理好的文本");
    d.advance(100ms);
  }
  auto history = realStore->recentHistory(2);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[1].rawText, raw2600);
  EXPECT_EQ(history[0].rawText, head + "..." + tail);
  EXPECT_EQ(history[0].status, "pasted");
}

}  // namespace
}  // namespace sorvane::testing
