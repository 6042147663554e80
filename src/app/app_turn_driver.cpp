#include "app/app_turn_driver.h"

#include <QApplication>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "input/control_style_key_monitor.h"
#include "app/desktop_app.h"
#include "input/desktop_session_choice.h"
#include "input/desktop_session_notice.h"
#include "turn/edit_observer.h"
#include "input/hot_key_manager.h"
#include "input/option_key_toggle_monitor.h"
#include "input/tap_key.h"
#include "turn/text_inserter.h"
#include "app/turn_adapters.h"
#include "turn/turn_controller.h"
#include "context/context_collector.h"
#include "core/atomic_file.h"
#include "core/config_folder.h"
#include "core/log.h"
#include "core/paths.h"
#include "learning/mirla_data_store.h"
#include "learning/mirla_feedback_analyzer.h"
#include "net/qt/qt_web_socket_client.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/atspi_status_switch.h"
#include "platform/linux/pulse_audio_input.h"
#include "platform/linux/qt_clipboard.h"
#include "platform/linux/restart_candidates.h"
#include "platform/linux/wayland_desktop.h"
#include "platform/linux/x11_hot_key_grabber.h"
#include "platform/linux/x11_key_synthesis.h"
#include "platform/linux/x11_keyboard_event_source.h"
#include "platform/linux/x11_synthetic_keys.h"
#include "postprocess/transcript_refiner.h"
#include "postprocess/worker_circuit_breaker.h"
#include "speech/cloud_recognizer_factory.h"
#include "speech/speech_engine.h"
#include "ui/mirla_dashboard_window.h"
#include "ui/floating_panels.h"
#include "ui/renderer_accessibility_launchers.h"
#include "ui/overlay_window.h"
#include "ui/screen_geometry.h"

namespace sorvane {
namespace {

// The personal dictionary's share of the Qwen hints.
constexpr std::size_t kHintDictionaryTerms = 90;

std::optional<Rect> screenUnderMouseFrame() { return visibleFrameOf(screenUnderMouse()); }

// Under Wayland the kernel's keyboards and the virtual paste keyboard are used where the
// choice names them; everything else (and every X11 or unknown session) stays on X11,
// which under Wayland still reaches X11 windows through XWayland.
std::unique_ptr<KeySynthesis> pasteKeys(platform::WaylandDesktop& wayland, const DesktopBackends& backends,
                                        std::shared_ptr<platform::X11SyntheticKeys> synthetic) {
  if (backends.paste == PasteBackend::virtualKeyboard && wayland.paste) return std::move(wayland.paste);
  return std::make_unique<platform::X11KeySynthesis>(std::move(synthetic));
}

// The X11 key source only when the kernel's keyboards do not serve the taps: it holds an X
// connection and an XInput2 selection of its own.
std::unique_ptr<platform::X11KeyboardEventSource> x11Taps(platform::WaylandDesktop& wayland,
                                                          const DesktopBackends& backends,
                                                          std::shared_ptr<platform::X11SyntheticKeys> synthetic) {
  if (backends.keyTaps == KeyTapBackend::inputDevices && wayland.keyboards) return nullptr;
  return std::make_unique<platform::X11KeyboardEventSource>(std::move(synthetic));
}

// The key that keeps a bare tap of the tap key from reaching the application in front
// goes through XTest, so only X11 sessions get it; Wayland compositors see our taps as
// their own devices' keys.
std::unique_ptr<platform::X11KeySynthesis> tapMask(DesktopSessionType session,
                                                   std::shared_ptr<platform::X11SyntheticKeys> synthetic) {
  if (session == DesktopSessionType::wayland) return nullptr;
  auto keys = std::make_unique<platform::X11KeySynthesis>(std::move(synthetic));
  if (!keys->available()) return nullptr;
  return keys;
}

std::unique_ptr<HotKeyGrabber> chordGrabber(platform::WaylandDesktop& wayland, const DesktopBackends& backends) {
  if (auto grabber = platform::makeHotKeyGrabber(wayland, backends.hotKeys)) return grabber;
  return std::make_unique<platform::X11HotKeyGrabber>();
}

}  // namespace

// The windows of a turn over the app's windows; the badge and the palette are its own.
class AppTurnDriver::Windows final : public TurnWindows {
 public:
  Windows(AppTurnDriver& driver, DesktopApp& app, Dispatcher& dispatcher)
      : driver_(driver), app_(app), badge_(dispatcher) {}

  std::optional<Rect> mainScreen() override { return mainScreenVisibleFrame(); }
  void placeOverlay(const Rect& frame) override { app_.ensureOverlay().place(frame); }
  void showRecording(const RecordingMode& mode) override { app_.ensureOverlay().showRecording(mode); }
  void updateRecordingMode(const RecordingMode& mode) override { app_.ensureOverlay().updateRecordingMode(mode); }
  void showProcessing(const RecordingMode& mode) override { app_.ensureOverlay().showProcessing(mode); }
  void hideOverlay() override {
    if (app_.overlay()) app_.overlay()->hideOverlay();
  }
  std::optional<std::string> showBadge(const InputContext& context, const std::optional<Rect>& screen) override {
    badge_.show(context, screen);
    if (!badge_.isVisible()) return std::nullopt;
    return badge_.lastAnchorSource();
  }
  void hideBadge() override { badge_.hide(); }
  void showCopyPanel(const std::string& text) override { app_.ensureCopyPanel().show(text, screenUnderMouseFrame()); }
  void showModePalette(const std::optional<Rect>& screen) override { palette_.show(screen); }
  void hideModePalette() override { palette_.hide(); }
  void highlightPreset(std::optional<VoiceStylePreset> preset) override {
    if (preset) palette_.select(*preset);
  }
  void refreshDashboard() override {
    if (app_.dashboard()) app_.dashboard()->refreshIfShown();
  }
  void rebuildStatusMenu(const StatusMenuState& state) override { driver_.stateChanged(state); }
  void beep() override { QApplication::beep(); }
  void showLearningNotice(const std::string& title, const std::string& message,
                          const std::optional<Rect>& screen) override {
    app_.ensureLearningPanel().showNotification(title, message, screen);
  }
  void askLearningConfirmation(const std::string& title, const std::string& message, std::function<void()> confirm,
                               const std::optional<Rect>& screen) override {
    MirlaLearningPanel& panel = app_.ensureLearningPanel();
    panel.setButtonTitles("加入", "忽略");
    panel.showConfirmation(title, message, screen, std::move(confirm));
  }

 private:
  AppTurnDriver& driver_;
  DesktopApp& app_;
  InputListeningBadgeWindow badge_;
  ModePaletteWindow palette_;
};

// Declared so that everything is torn down before what it uses: the monitors before the
// keyboard sources (the Wayland devices outlive the inserter and the chord grabber), the
// controller before the observer and the components its adapters hold, the recogniser
// clients' sockets last.
struct AppTurnDriver::Parts {
  Parts(AppTurnDriver& driver, DesktopApp& app, const Paths& paths, Dispatcher& dispatcher, HttpClient& http)
      : app(app),
        restartNoticeFile(paths.runtimeFolder + "/restart-notice"),
        session(platform::detectDesktopSessionType()),
        wayland(platform::openWaylandDesktop(session)),
        backends(chooseDesktopBackends(wayland.facts)),
        config(paths.configFolder),
        providers(app.providers()),
        synthetic(std::make_shared<platform::X11SyntheticKeys>(dispatcher.clock())),
        sockets(dispatcher.queue("app.sorvane.websocket")),
        breaker(std::make_shared<WorkerCircuitBreaker>(dispatcher.clock())),
        refiner(dispatcher, http, config, providers, breaker),
        analyzer(dispatcher, http, config, providers),
        engine(dispatcher, paths, engineParts(dispatcher, paths, app)),
        collector(std::make_shared<ContextCollector>(
            platform::makeAtspiAccessibility(dispatcher.queue(kContextQueueLabel)), dispatcher)),
        inserter(dispatcher, std::make_unique<platform::QtClipboard>(),
                 pasteKeys(wayland, backends, synthetic)),
        mask(tapMask(session, synthetic)),
        keyboard(x11Taps(wayland, backends, synthetic)),
        taps(keyboard ? static_cast<KeyboardEventSource*>(keyboard.get()) : wayland.keyboards.get()),
        store(makeTurnStore(app.store())),
        feedback(makeTurnFeedbackAnalyzer(analyzer)),
        context(makeTurnContextSource(collector)),
        option(dispatcher, tapKeyFromFile(config.key(kTapKeyFile))),
        control(dispatcher),
        hotKeys(dispatcher, chordGrabber(wayland, backends)),
        notice(session) {
    if (session == DesktopSessionType::wayland) appLog(desktopBackendsLogLine(session, backends));
    app.setDesktopNotice(desktopBackendsUserMessage(backends));
    auto windows = std::make_unique<Windows>(driver, app, dispatcher);
    TurnWindows* hud = windows.get();
    observer = std::make_unique<EditObserver>(
        dispatcher, EditObserver::Parts{context, taps, feedback.get(), store.get(), hud, [this] {
                                          return controller ? controller->currentTargetScreen() : std::nullopt;
                                        }});
    TurnCollaborators c;
    c.speech = makeTurnSpeech(engine);
    c.context = context;
    c.refiner = makeTurnRefiner(refiner);
    c.inserter = makeTurnInserter(inserter);
    c.hud = std::move(windows);
    c.store = store.get();
    c.followUp = observer.get();
    controller = std::make_unique<TurnController>(dispatcher, paths.metricsFolder, std::move(c));

    if (mask) option.onTapKeyDownAlone = [this] { mask->sendTapMask(); };

    engine.onMark = [this](std::string name) { controller->reportMark(std::move(name)); };
    engine.onValue = [this](std::string key, Json value) { controller->reportValue(std::move(key), std::move(value)); };
    engine.onLevel = [&app](double level) {
      if (app.overlay()) app.overlay()->setAudioLevel(level);
    };
    engine.onCaptureError = [this](std::string description) { controller->captureFailed(std::move(description)); };
    refiner.onMark = [this](std::string_view name) { controller->reportMark(std::string(name)); };
    refiner.onValue = [this](std::string_view key, Json value) {
      controller->reportValue(std::string(key), std::move(value));
    };
  }

  ~Parts() {
    engine.onMark = nullptr;
    engine.onValue = nullptr;
    engine.onLevel = nullptr;
    engine.onCaptureError = nullptr;
    refiner.onMark = nullptr;
    refiner.onValue = nullptr;
  }

  SpeechEngineParts engineParts(Dispatcher& dispatcher, const Paths& paths, DesktopApp& app) {
    SpeechEngineParts p;
    p.audioInput = std::make_unique<platform::PulseAudioInput>(dispatcher.clock());
    p.makeRecognizer = cloudRecognizerFactory(dispatcher, sockets, ConfigFolder(paths.configFolder));
    p.makeSpeechNormalizer = [&dispatcher] { return makeFFmpegSpeechNormalizerStage(dispatcher); };
    MirlaDataStore& data = app.store();
    p.dictionaryHints = [&data] {
      RecognitionHints hints;
      hints.dictionaryCorpusText = data.dictionaryCorpusText(kHintDictionaryTerms);
      hints.dictionaryTermCount = static_cast<int>(data.dictionaryCorpusCount(kHintDictionaryTerms));
      return hints;
    };
    return p;
  }

  DesktopApp& app;
  std::string restartNoticeFile;
  DesktopSessionType session;
  platform::WaylandDesktop wayland;
  DesktopBackends backends;
  ConfigFolder config;
  ProviderSettings providers;
  std::shared_ptr<platform::X11SyntheticKeys> synthetic;
  QtWebSocketClient sockets;
  std::shared_ptr<WorkerCircuitBreaker> breaker;
  TranscriptRefiner refiner;
  MirlaFeedbackAnalyzer analyzer;
  SpeechEngine engine;
  std::shared_ptr<ContextCollector> collector;
  TextInserter inserter;
  std::unique_ptr<platform::X11KeySynthesis> mask;  // null outside X11
  std::unique_ptr<platform::X11KeyboardEventSource> keyboard;  // null when the Wayland keyboards serve the taps
  KeyboardEventSource* taps;  // `keyboard` or the Wayland keyboards
  std::unique_ptr<TurnStore> store;
  std::unique_ptr<TurnFeedbackAnalyzer> feedback;
  std::shared_ptr<TurnContextSource> context;
  std::unique_ptr<EditObserver> observer;
  std::unique_ptr<TurnController> controller;
  OptionKeyToggleMonitor option;
  ControlStyleKeyMonitor control;
  HotKeyManager hotKeys;
  DesktopSessionNotice notice;
  LivenessToken alive;
};

namespace {

// Tells the user which running applications hide their fields until they are restarted,
// once for each set of them: the names told are kept in the runtime folder, which the
// session clears at logout, so the next login tells again what is still true then.
void tellAboutRestarts(DesktopApp& app, const std::string& markerPath, bool switchedOnNow) {
  std::vector<std::string> qt, chromium;
  for (const auto& candidate : platform::runningApplicationsNeedingRestart(switchedOnNow, ::getpid()))
    (candidate.reason == platform::RestartReason::qtStartedBeforeTheSwitch ? qt : chromium).push_back(candidate.name);
  if (qt.empty() && chromium.empty()) return;
  std::vector<std::string> all = qt;
  all.insert(all.end(), chromium.begin(), chromium.end());
  std::sort(all.begin(), all.end());
  std::string names;
  for (const std::string& name : all) names += name + "\n";
  std::ostringstream told;
  told << std::ifstream(markerPath).rdbuf();
  if (told.str() == names) {
    appLog("restart notice already shown");
    return;
  }
  if (std::string failure = writeFileAtomically(markerPath, std::span<const char>(names.data(), names.size()));
      !failure.empty())
    appLog("restart notice marker failed " + failure);
  auto joined = [](const std::vector<std::string>& list) {
    std::string out;
    for (const std::string& name : list) out += (out.empty() ? "" : ",") + name;
    return out;
  };
  appLog("restart notice shown qt=" + joined(qt) + " chromium=" + joined(chromium));
  MirlaLearningPanel& panel = app.ensureLearningPanel();
  panel.setButtonTitles("打开设置", "知道了");
  panel.showConfirmation(std::string(kRestartNoticeTitle), restartNoticeText(qt, chromium), std::nullopt,
                         [&app] {
                           app.showDashboard();
                           if (app.dashboard()) app.dashboard()->showSection(MirlaDashboardSection::settings);
                         });
}

}  // namespace

AppTurnDriver::AppTurnDriver(DesktopApp& app, const Paths& paths, Dispatcher& dispatcher, HttpClient& http)
    : parts_(std::make_unique<Parts>(*this, app, paths, dispatcher, http)) {
  state_ = parts_->controller->menuState();
  state_.tapKey = parts_->option.tapKey();
}

AppTurnDriver::~AppTurnDriver() = default;

void AppTurnDriver::start() {
  Parts& p = *parts_;
  p.notice.report();
  // The accessibility step: asked for, logged, never waited for; then the applications
  // that will not show their fields until restarted.
  platform::switchAccessibilityOn([this, weak = p.alive.weak()](const platform::AccessibilitySwitchResult& result) {
    if (!weak.lock() || result.outcome == platform::AccessibilitySwitchResult::Outcome::failed) return;
    tellAboutRestarts(parts_->app, parts_->restartNoticeFile,
                      result.outcome == platform::AccessibilitySwitchResult::Outcome::enabled);
  });
  wireTurnInputs(*p.controller, p.option, p.control, &p.hotKeys);
  if (p.keyboard && !p.keyboard->available())
    appLog("keyboard events unavailable; Alt and Control taps are off");
  p.option.start(*p.taps);
  p.control.start(*p.taps);
  p.hotKeys.registerAll();
  p.engine.requestPermissions([this, weak = p.alive.weak()](bool granted) {
    if (weak.lock()) parts_->controller->setReady(granted);
  });
}

void AppTurnDriver::applyTapKey(TapKey key) {
  parts_->option.setTapKey(key);
  state_.tapKey = key;
  if (onStateChanged) onStateChanged();
}

void AppTurnDriver::prepareForQuit() {
  parts_->controller->prepareForQuit();
  parts_->inserter.finishPendingRestore();
}

void AppTurnDriver::toggleRecording(const RecordingMode& mode) { parts_->controller->toggleRecording(mode); }
void AppTurnDriver::stopRecording() { parts_->controller->stopRecording(); }
void AppTurnDriver::cancelRecording() { parts_->controller->cancelRecording(); }
const InputContext& AppTurnDriver::lastContext() const { return parts_->controller->lastContext(); }
std::optional<std::string> AppTurnDriver::lastAudioPath() const { return parts_->controller->lastAudioPath(); }

void AppTurnDriver::stateChanged(const StatusMenuState& state) {
  state_ = state;
  if (parts_) state_.tapKey = parts_->option.tapKey();
  if (onStateChanged) onStateChanged();
}

}  // namespace sorvane
