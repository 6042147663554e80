// The per-user configuration folder (~/.sorvane): API key files, feature switch files,
// the tap-key choice and the optional providers.json.
//
// Key files are read again at every use (the user may add or rotate a key while the app
// runs): the whole file trimmed of white space and newlines is the key; a missing,
// unreadable or blank file means no key. Switch files matter only by existence.
// providers.json names the base URLs and models of the outside services; a missing or
// malformed file gives the built-in defaults and one log line. Safe on any queue.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

inline constexpr std::string_view kDashScopeKeyFile = "dashscope-api-key";
inline constexpr std::string_view kDeepSeekKeyFile = "deepseek-api-key";
inline constexpr std::string_view kDeepgramKeyFile = "deepgram-api-key";

inline constexpr std::string_view kVoiceProcessingSwitch = "enable-voice-processing-io";
inline constexpr std::string_view kFfmpegSpeechNormSwitch = "enable-ffmpeg-speechnorm";
inline constexpr std::string_view kQwenCorpusHintSwitch = "enable-qwen-corpus-hint";

inline constexpr std::string_view kProvidersFile = "providers.json";
// One word naming the dictation tap key (input/tap_key.h), read once at start.
inline constexpr std::string_view kTapKeyFile = "tap-key";

// Endpoints and models of the outside services.
struct ProviderSettings {
  std::string deepseekBaseURL = "https://api.deepseek.com";
  // The service retired "deepseek-chat"; requests to DeepSeek also switch its thinking off.
  std::string deepseekModel = "deepseek-v4-flash";
  std::string dashscopeBaseURL = "https://dashscope.aliyuncs.com";
  std::string qwenModel = "qwen-plus";
  std::string dashscopeRealtimeURL = "wss://dashscope.aliyuncs.com/api-ws/v1/realtime";
  std::string qwenRealtimeModel = "qwen3-asr-flash-realtime";
  std::string deepgramListenURL = "wss://api.deepgram.com/v1/listen";
  std::string deepgramModel = "nova-3";
  // No worker or website host is built in: empty means not configured.
  std::string workerBaseURL;
  std::string websiteURL;

  // Chat-completions endpoints derived from the base URLs.
  std::string deepseekChatURL() const;
  std::string qwenChatURL() const;
  // Empty when no worker host is configured.
  std::string workerInterpretURL() const;
};

class ConfigFolder {
 public:
  explicit ConfigFolder(std::string folder);

  const std::string& folder() const { return folder_; }
  std::optional<std::string> key(std::string_view fileName) const;
  bool isEnabled(std::string_view switchFile) const;
  // Reads providers.json now; each field missing from the file keeps its default.
  ProviderSettings providers() const;

 private:
  std::string folder_;
};

}  // namespace sorvane
