#include "app/command_line.h"

#include <algorithm>

namespace sorvane {
namespace {

bool present(std::span<const std::string> arguments, std::string_view flag) {
  return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& a) { return a == flag; });
}

}  // namespace

ModeChoice chooseMode(std::span<const std::string> arguments, std::span<const SelfCheckEntry> checks,
                      AvailableTools tools) {
  if (tools.enhanceWav && present(arguments, "--enhance-wav")) return {ModeKind::enhanceWav, nullptr};
  for (const SelfCheckEntry& check : checks) {
    if (check.run && present(arguments, check.flag)) return {ModeKind::selfCheck, &check};
  }
  if (tools.bench && present(arguments, "--bench")) return {ModeKind::bench, nullptr};
  if (present(arguments, "--list-audio-sources")) return {ModeKind::listAudioSources, nullptr};
  if (present(arguments, "--renderer-accessibility")) return {ModeKind::rendererAccessibility, nullptr};
  if (present(arguments, "--help") || present(arguments, "-h")) return {ModeKind::help, nullptr};
  if (present(arguments, "--version")) return {ModeKind::version, nullptr};
  return {ModeKind::application, nullptr};
}

std::string helpText(std::span<const SelfCheckEntry> checks, AvailableTools tools) {
  std::string text =
      "Sorvane: voice input for the Linux desktop.\n"
      "\n"
      "Usage:\n"
      "  sorvane                 start the desktop app (tray icon; tap Alt to dictate)\n"
      "  sorvane --background    start it without showing the dashboard (start at login)\n";
  if (tools.enhanceWav) text += "  Sorvane --enhance-wav input.wav --out output.wav [--chunk-ms 64]\n";
  if (tools.bench) text += "  Sorvane --bench manifest.json --out results.jsonl [--profile context-guarded-v4]\n";
  text += "  sorvane --list-audio-sources  list the microphones (name it in ~/.sorvane/audio-source)\n";
  text += "  sorvane --renderer-accessibility on|off\n"
          "                          start Chromium and Electron applications from your menu with\n"
          "                          their fields exposed (--force-renderer-accessibility), or not\n";
  text += "  sorvane --help          show this text\n";
  text += "  sorvane --version       show the version\n";
  bool any = false;
  for (const SelfCheckEntry& check : checks) {
    if (!check.run) continue;
    if (!any) text += "\nSelf-checks (print one result line; exit 0 on success, 1 on failure):\n";
    any = true;
    text += "  sorvane " + std::string(check.flag) + "\n";
  }
  text +=
      "\nFiles:\n"
      "  ~/.sorvane/dashscope-api-key, deepseek-api-key, deepgram-api-key\n"
      "                          API keys, one per file (DashScope: Qwen realtime recogniser;\n"
      "                          else Deepgram)\n"
      "  ~/.sorvane/enable-voice-processing-io, enable-ffmpeg-speechnorm, enable-qwen-corpus-hint\n"
      "                          switch files: present (even empty) turns the feature on\n"
      "  ~/.sorvane/providers.json  optional service URLs and models:\n"
      "                          {\"deepseek\":{\"baseURL\",\"model\"}, \"dashscope\":{\"baseURL\",\"model\",\n"
      "                          \"realtimeURL\",\"realtimeModel\"}, \"deepgram\":{\"listenURL\",\"model\"},\n"
      "                          \"worker\":{\"baseURL\"}, \"website\":{\"baseURL\"}}; missing or invalid:\n"
      "                          the built-in defaults\n"
      "  $XDG_DATA_HOME/Mirla/   history.jsonl, feedback.jsonl, dictionary.json, audio/\n"
      "  $XDG_STATE_HOME/Sorvane/turns.jsonl  one metrics line per turn\n"
      "  /tmp/sorvane.log        the application log\n"
      "  $XDG_CONFIG_HOME/autostart/sorvane.desktop  the start-at-login entry\n";
  return text;
}

}  // namespace sorvane
