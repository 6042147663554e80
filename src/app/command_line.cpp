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
  if (present(arguments, "--help") || present(arguments, "-h")) return {ModeKind::help, nullptr};
  if (present(arguments, "--version")) return {ModeKind::version, nullptr};
  return {ModeKind::application, nullptr};
}

std::string helpText(std::span<const SelfCheckEntry> checks, AvailableTools tools) {
  std::string text =
      "Sorvane: voice input for the Linux desktop.\n"
      "\n"
      "Usage:\n"
      "  sorvane                 start the desktop app (tray icon; tap Alt to dictate)\n";
  if (tools.enhanceWav) text += "  Sorvane --enhance-wav input.wav --out output.wav [--chunk-ms 64]\n";
  if (tools.bench) text += "  Sorvane --bench manifest.json --out results.jsonl [--profile context-guarded-v4]\n";
  text += "  sorvane --list-audio-sources  list the microphones (name it in ~/.sorvane/audio-source)\n";
  text += "  sorvane --help          show this text\n";
  text += "  sorvane --version       show the version\n";
  bool any = false;
  for (const SelfCheckEntry& check : checks) {
    if (!check.run) continue;
    if (!any) text += "\nSelf-checks (print one result line; exit 0 on success, 1 on failure):\n";
    any = true;
    text += "  sorvane " + std::string(check.flag) + "\n";
  }
  text += "\nFiles: keys and switches in ~/.sorvane/, log in /tmp/sorvane.log.\n";
  return text;
}

}  // namespace sorvane
