// Command-line dispatch: which single mode this process runs.
//
// The arguments are searched as a whole list (position does not matter) and the first
// present switch in precedence order wins: "--enhance-wav", the self-check switches in
// table order, "--bench", "--list-audio-sources", "--renderer-accessibility", then "--help"
// and "--version"; with none of them the desktop
// application starts. Switches whose component is not in this build are not recognised.
// Unknown arguments are ignored. Pure; runs on the main thread before anything else.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "checks/self_checks.h"

namespace sorvane {

enum class ModeKind { enhanceWav, selfCheck, bench, listAudioSources, rendererAccessibility, help, version, application };

struct ModeChoice {
  ModeKind kind = ModeKind::application;
  const SelfCheckEntry* check = nullptr;  // for selfCheck
};

struct AvailableTools {
  bool enhanceWav = false;
  bool bench = false;
};

ModeChoice chooseMode(std::span<const std::string> arguments, std::span<const SelfCheckEntry> checks,
                      AvailableTools tools);

// The text printed by --help for the modes of this build.
std::string helpText(std::span<const SelfCheckEntry> checks, AvailableTools tools);

}  // namespace sorvane
