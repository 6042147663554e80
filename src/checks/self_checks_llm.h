// The live language-model self-checks: one refinement and one style transform through
// the real refiner, with the providers and keys of the configuration folder in `paths`
// (so a test points them at a loopback server through providers.json in a temporary
// home). Each waits on the main event loop for at most `limit` and prints one line:
// "... ok provider=<p> ms=<elapsed> text=<text>", "... failed provider=...", or
// "... timed out". Returns 0 on success, 1 otherwise.
#pragma once

#include <chrono>
#include <ostream>

namespace sorvane {

struct Paths;

inline constexpr std::chrono::milliseconds kLiveCheckLimit{8000};

int runRefineLlmCheck(std::ostream& out, const Paths& paths, std::chrono::milliseconds limit = kLiveCheckLimit);
int runStyleLlmCheck(std::ostream& out, const Paths& paths, std::chrono::milliseconds limit = kLiveCheckLimit);

}  // namespace sorvane
