// Sample data and inner forms of the self-checks for the context model, the guard chain
// and the recording modes (--self-test-semantic-structure, --self-test-speech-act-guard,
// --self-test-recording-mode, --self-test-morse-cipher, --self-test-paste-target).
//
// Each `runXxxCheck(out)` of self_checks.h calls the inner form here with its built-in
// cases; tests pass their own cases (including deliberately wrong expectations) to see
// the failure lines. Runs on the main thread before any window exists; pure logic only.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace sorvane {

// One guard-chain sample: the raw transcript, the model's candidate and the final text
// the chain must produce.
struct GuardChainCase {
  std::string raw;
  std::string candidate;
  std::string expected;
};

struct SemanticStructureCases {
  GuardChainCase enumerationQuestion;  // reported as "guarded="
  GuardChainCase ordinalComparison;    // reported as "guardedComparison="
  std::string listRequest;             // must format to a numbered list ("actualList=")
};
int runSemanticStructureCheck(std::ostream& out, const SemanticStructureCases& cases);
SemanticStructureCases defaultSemanticStructureCases();

struct SpeechActCase {
  std::string raw;
  std::string candidate;
  std::vector<std::string> mustContain;
  std::vector<std::string> mustNotContain;
};
int runSpeechActGuardCheck(std::ostream& out, std::span<const SpeechActCase> cases);
std::vector<SpeechActCase> defaultSpeechActCases();

struct RecordingModeCase {
  int digit;
  std::optional<std::string> presetKey;  // absent: the digit selects no preset
  std::string hudTitle;
  std::string promptPhrase;  // must appear in the preset's style prompt
};
int runRecordingModeCheck(std::ostream& out, std::span<const RecordingModeCase> cases);
std::vector<RecordingModeCase> defaultRecordingModeCases();

struct MorseCase {
  std::string text;
  std::optional<std::string> exact;
  std::vector<std::string> mustContain;
};
int runMorseCipherCheck(std::ostream& out, std::span<const MorseCase> cases);
std::vector<MorseCase> defaultMorseCases();

struct PasteTargetCase {
  std::string name;
  std::string contextJson;             // read with InputContext::synthetic
  std::optional<std::string> reason;   // absent: no paste target (copy panel)
  std::string scene;
};
int runPasteTargetCheck(std::ostream& out, std::span<const PasteTargetCase> cases);
std::vector<PasteTargetCase> defaultPasteTargetCases();

}  // namespace sorvane
