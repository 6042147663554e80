// The capture engine: owns the microphone for one recording turn at a time, conditions
// every captured buffer for exactly one realtime recogniser (Qwen at 16 kHz through the
// 80 ms delay queue and the optional ffmpeg stage, or Deepgram at the source's rate),
// keeps the turn's unenhanced 16 kHz audio for the archive, meters the input level, and
// on stop cuts the tail at the stop time + 90 ms, finalises the recogniser and chooses
// the transcript (cloud, or the on-device text when that is much longer).
//
// The controller calls everything on the main queue. Buffers arrive on the audio input's
// capture thread, where conversion, resampling, voice processing, enhancement, the
// delay-queue append and the archive append run inline and only enqueue onward; the
// archive lives on "app.sorvane.audio-archive". Between turns no stream is open and no
// thread runs; once `cancelCapture` returns, or the stop's drain has ended, no capture
// callback runs (the input is stopped and its thread joined). A new `start` first tears
// down whatever a previous turn left. Every delayed step and client callback holds the
// engine weakly and belongs to one turn: a result of an older turn is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "asr/on_device_recognizer.h"
#include "audio/audio_enhancer.h"
#include "audio/audio_input.h"
#include "audio/pcm_bytes.h"
#include "audio/timestamped_pcm_delay_queue.h"
#include "core/config_folder.h"
#include "core/dispatch.h"
#include "core/json.h"
#include "core/paths.h"
#include "speech/speech_engine_ports.h"
#include "speech/voice_processor.h"

namespace sorvane {

inline constexpr const char* kAudioArchiveLabel = "app.sorvane.audio-archive";

inline constexpr std::string_view kProviderQwen = "qwen3-asr-flash-realtime";
inline constexpr std::string_view kProviderDeepgram = "deepgram-streaming";
inline constexpr std::string_view kProviderOnDevice = "apple-speech";
inline constexpr std::string_view kProviderOnDeviceFallback = "apple-speech-fallback";

inline constexpr int kQwenSampleRate = 16000;
inline constexpr int kArchiveSampleRate = 16000;
inline constexpr int64_t kQwenPCMDelayMs = 80;
inline constexpr int64_t kQwenCutoffSafetyMs = 90;
// The drain after the stop lasts at least this long, and then until a buffer whose end
// reaches the flush cutoff has arrived, at most `kCutoffDrainMaxMs` (a slow source, such
// as a Bluetooth headset, delivers its last buffers late).
inline constexpr int64_t kCutoffDrainMinMs = 120;
inline constexpr int64_t kCutoffDrainMaxMs = 500;
inline constexpr int64_t kCutoffDrainPollMs = 10;
inline constexpr int64_t kOnDeviceFinalizeWaitMs = 450;
inline constexpr const char* kOnDeviceLocale = "zh-CN";

inline constexpr std::string_view kEnhancementName = "cautious-blended-tail-safe-enhancer";
inline constexpr std::string_view kVoiceProcessingPrefix = "apple-vpio-plus-";
inline constexpr std::string_view kSpeechNormSuffix = "-plus-ffmpeg-speechnorm";
// The "audioEnhancement" value for a turn's audio path.
std::string audioEnhancementName(bool voiceProcessing, bool speechNormalizer);

// A failed start: domain "Sorvane"; code 1 no recogniser, 2 the microphone.
struct SpeechEngineError {
  std::string domain = "Sorvane";
  int code = 0;
  std::string description;
};
inline constexpr const char* kRecognizerUnavailable = "Speech recognizer is unavailable";

// The final choice between the cloud texts and the on-device text (already normalised).
struct TranscriptChoice {
  std::string text;
  std::string provider;
  std::optional<std::string> logLine;  // the fallback line, when one is due
};
TranscriptChoice chooseTranscript(const std::string& qwen, const std::string& deepgram, const std::string& onDevice,
                                  bool hadQwen, bool hadDeepgram);

struct SpeechEngineParts {
  std::unique_ptr<AudioInput> audioInput;
  std::unique_ptr<OnDeviceRecognizer> onDeviceRecognizer;  // none yet on Linux
  RecognizerFactory makeRecognizer;
  SpeechNormalizerFactory makeSpeechNormalizer;
  VoiceProcessorFactory makeVoiceProcessor = makeWebRtcVoiceProcessor;
  // The personal-dictionary part of the Qwen hints, read at each start (the owner reads
  // the data store); the built-in list follows the "enable-qwen-corpus-hint" switch.
  std::function<RecognitionHints()> dictionaryHints;
};

class SpeechEngine {
 public:
  SpeechEngine(Dispatcher& dispatcher, Paths paths, SpeechEngineParts parts);
  ~SpeechEngine();
  SpeechEngine(const SpeechEngine&) = delete;
  SpeechEngine& operator=(const SpeechEngine&) = delete;

  // The microphone counts as granted when a source can be opened; the completion runs on
  // the main queue.
  void requestPermissions(std::function<void(bool)> completion);
  std::optional<SpeechEngineError> start();
  // The completion runs once on the main queue with the chosen text, after `provider`
  // has been set. The tail delay is only reported.
  void stop(double tailCaptureDelaySeconds, std::function<void(std::string)> completion);
  void cancelCapture();
  // Writes the turn's archived audio as <audioFolder>/<turnID>.wav (folder 0700, file
  // 0600) and returns the path; nothing when there is no audio or the write failed.
  std::optional<std::string> saveLastAudio(const std::string& turnID);

  const std::string& transcript() const { return transcript_; }
  const std::string& provider() const { return provider_; }
  bool speechAuthorized() const { return speechAuthorized_; }
  bool isCapturing() const;

  std::function<void(double level)> onLevel;
  std::function<void(std::string name)> onMark;
  std::function<void(std::string key, Json value)> onValue;
  // The microphone failed mid-turn (on the main queue, once per turn); the turn still
  // ends through `stop` or `cancelCapture`.
  std::function<void(std::string description)> onCaptureError;

  // The per-buffer work of the capture thread, public for the benchmark.
  struct CaptureTurn;

 private:
  enum class Phase { idle, capturing, draining, finalising };

  // The turn itself (speech_engine.cpp).
  void teardownTurn();
  void mark(const std::string& name);
  void value(const std::string& key, Json v);
  void checkDrain(uint64_t turn, int64_t flushCutoffMs, std::chrono::steady_clock::time_point began,
                  std::function<void(std::string)> completion);
  void finishCapture(uint64_t turn, int64_t cutoffMs, std::function<void(std::string)> completion);

  // Capture (speech_engine_capture.cpp): builds the turn's capture half and starts the
  // input; then the resampler and the voice processor for the input's format (true when
  // voice processing runs).
  std::optional<SpeechEngineError> openCapture(uint64_t turn);
  bool prepareConditioning(const AudioInputFormat& format, bool voiceProcessingWanted);

  // Recognisers (speech_engine_recognizers.cpp).
  void startOnDevice(uint64_t turn);
  // The Qwen client when there is a DashScope key, else the Deepgram client.
  void startRecognizers(uint64_t turn, const std::optional<std::string>& dashscopeKey,
                        const std::optional<std::string>& deepgramKey, const AudioInputFormat& format,
                        bool voiceProcessing);
  void wireRecognizer(StreamingRecognizer& client, bool isQwen);
  void handleTranscript(bool isQwen, const std::string& text, bool isFinal);
  void handleOnDeviceResult(uint64_t turn, OnDeviceRecognitionResult result);
  // After the input stopped: flushes the delay queue and finishes the recogniser.
  void finalizeRecognizers(uint64_t turn, int64_t cutoffMs, std::function<void(std::string)> completion);
  void finishQwen(uint64_t turn, std::function<void(std::string)> completion);
  void finishStop(uint64_t turn, const std::function<void(std::string)>& completion);
  bool isCurrent(uint64_t turn) const { return turn == turnGeneration_ && phase_ != Phase::idle; }

  Dispatcher& dispatcher_;
  Paths paths_;
  ConfigFolder config_;
  SpeechEngineParts parts_;
  SerialQueue& archiveQueue_;
  std::shared_ptr<PcmBytes> archivedPCM_;  // only touched on archiveQueue_
  TimestampedPCMDelayQueue qwenPCMDelay_;
  AudioEnhancer qwenEnhancer_;
  AudioEnhancer deepgramEnhancer_;

  std::shared_ptr<CaptureTurn> turn_;
  std::unique_ptr<OnDeviceRecognitionTask> onDeviceTask_;
  std::shared_ptr<StreamingRecognizer> qwen_;
  std::shared_ptr<StreamingRecognizer> deepgram_;
  std::unique_ptr<SpeechNormalizerStage> qwenSpeechNormalizer_;

  std::string onDeviceTranscript_;
  std::string qwenTranscript_;
  std::string deepgramTranscript_;
  std::string transcript_;
  std::string provider_ = std::string(kProviderOnDevice);
  bool speechAuthorized_ = false;
  Phase phase_ = Phase::idle;
  uint64_t turnGeneration_ = 0;
  LivenessToken alive_;
};

// The capture-thread half of one turn: everything a buffer touches, built at start and
// dropped once the input has stopped.
struct SpeechEngine::CaptureTurn {
  CaptureTurn(SerialQueue& archiveQueue, std::shared_ptr<PcmBytes> archive, TimestampedPCMDelayQueue& delay,
              AudioEnhancer& qwenEnhancer, AudioEnhancer& deepgramEnhancer);
  ~CaptureTurn();

  // One captured buffer through every path.
  void process(const CapturedAudio& audio);
  // After the input stopped: what the resampler still holds, through the Qwen path.
  void drainResampler();
  // Builds the resampler the engine builds at start, for a benchmark of `process`.
  static void prepareForBenchmark(CaptureTurn& turn, double sourceRate);

  SerialQueue& archiveQueue;
  std::shared_ptr<PcmBytes> archive;
  TimestampedPCMDelayQueue& delay;
  AudioEnhancer& qwenEnhancer;
  AudioEnhancer& deepgramEnhancer;
  std::unique_ptr<VoiceProcessor> voiceProcessor;
  OnDeviceRecognitionTask* onDeviceTask = nullptr;
  std::shared_ptr<StreamingRecognizer> deepgram;
  std::function<void(double)> publishLevel;
  // Set once the turn is wired; buffers before that are dropped.
  std::atomic<bool> active{false};
  // End time of the newest buffer taken in (wall ms), for the stop's drain.
  std::atomic<int64_t> lastCapturedEndMs{0};

  struct Scratch;
  std::unique_ptr<Scratch> scratch;
};

}  // namespace sorvane
