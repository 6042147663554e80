#include "app/entry_point.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/bench_mode.h"
#include "app/command_line.h"
#include "app/desktop_app.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/clock.h"
#include "platform/linux/display.h"
#include "platform/linux/pulse_audio_input.h"
#include "tools/wav_enhance_runner.h"
#include "ui/renderer_accessibility_launchers.h"

namespace sorvane {
namespace {

// The settings page's launcher choice from a terminal: "on" or "off" after the switch.
int runRendererAccessibilityMode(const std::vector<std::string>& arguments, const Paths& paths) {
  const auto at = std::find(arguments.begin(), arguments.end(), "--renderer-accessibility");
  const std::string word = at + 1 < arguments.end() ? *(at + 1) : std::string();
  if (word != "on" && word != "off") {
    std::cerr << "sorvane: --renderer-accessibility takes on or off\n";
    return 2;
  }
  if (const std::string failure = setRendererAccessibility(paths, word == "on"); !failure.empty()) {
    std::cerr << "sorvane: " << failure << "\n";
    return 1;
  }
  const auto launchers = rendererAccessibilityLaunchers(paths);
  if (launchers.empty()) std::cout << "no Chromium or Electron launchers found\n";
  for (const auto& launcher : launchers)
    std::cout << (launcher.exposed ? "exposed  " : "default  ") << launcher.name << "\t" << launcher.path << "\n";
  return 0;
}

}  // namespace

int runMain(int argc, char** argv) {
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const Paths paths = Paths::fromProcessEnvironment();
  ScopedLogTarget log(paths.logPath);
  AvailableTools tools{};
  tools.bench = true;
  tools.enhanceWav = true;
  const ModeChoice choice = chooseMode(arguments, selfCheckTable(), tools);
  switch (choice.kind) {
    case ModeKind::selfCheck: {
      int status = choice.check->run(SelfCheckContext{std::cout, paths});
      std::cout.flush();
      return status;
    }
    case ModeKind::listAudioSources: {
      // Names and descriptions, the default marked with "*".
      platform::PulseAudioInput input(SystemClock::instance());
      std::vector<AudioSourceInfo> sources;
      if (auto error = input.listSources(sources)) {
        std::cerr << "sorvane: " << error->description << "\n";
        return 1;
      }
      for (const AudioSourceInfo& source : sources) {
        std::cout << (source.isDefault ? "* " : "  ") << source.name << "\t" << source.description << "\n";
      }
      return 0;
    }
    case ModeKind::rendererAccessibility:
      return runRendererAccessibilityMode(arguments, paths);
    case ModeKind::help:
      std::cout << helpText(selfCheckTable(), tools);
      return 0;
    case ModeKind::version:
      std::cout << "sorvane " << SORVANE_VERSION << "\n";
      return 0;
    case ModeKind::bench:
      return runBenchMode(arguments, paths);
    case ModeKind::enhanceWav:
      return WavEnhanceRunner::run(arguments, std::cerr);
    case ModeKind::application:
      break;
  }
  if (!platform::desktopSessionAvailable()) {
    std::cerr << "sorvane: no desktop session: DISPLAY is not set or the X server refuses the connection.\n"
                 "The desktop app needs an X11 session; tools and self-checks run without one (see --help).\n";
    return 3;
  }
  return runDesktopApplication(argc, argv, paths);
}

}  // namespace sorvane
