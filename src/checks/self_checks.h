// The built-in self-check switches ("--self-test-..."), in their fixed order of
// precedence. Each check exercises one component with fixed sample data, prints its
// success line (or its failure lines) to `out` and returns the exit status: 0 on
// success, 1 on failure. A check whose component has not been built yet has no run
// function, and its switch is not recognised.
//
// Checks run on the main thread before any window exists. A check that needs files or
// services (the live model checks, the data store) reads them through `paths`, so a test
// runs it against a temporary home.
#pragma once

#include <ostream>
#include <span>
#include <string_view>

namespace sorvane {

struct Paths;

struct SelfCheckContext {
  std::ostream& out;
  const Paths& paths;
};

using SelfCheckFunction = int (*)(const SelfCheckContext& context);

struct SelfCheckEntry {
  std::string_view flag;
  SelfCheckFunction run;  // null: not available in this build
};

std::span<const SelfCheckEntry> selfCheckTable();

// Text rules.
int runAsrGuardCheck(std::ostream& out);
int runDisfluencyCleanupCheck(std::ostream& out);
int runSelfCorrectionCheck(std::ostream& out);
int runRefineFastpathCheck(std::ostream& out);
int runGentleParagraphsCheck(std::ostream& out);
int runMurmlyFormatCheck(std::ostream& out);

// Recognisers.
int runQwenStashCheck(std::ostream& out);

// Context model, guards and recording modes.
int runSemanticStructureCheck(std::ostream& out);
int runSpeechActGuardCheck(std::ostream& out);
int runRecordingModeCheck(std::ostream& out);
int runMorseCipherCheck(std::ostream& out);
int runPasteTargetCheck(std::ostream& out);

}  // namespace sorvane
