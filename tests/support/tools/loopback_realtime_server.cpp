// A loopback realtime recogniser server to run by hand or from a script test.
//
//   sorvane_loopback_realtime_server --transcript TEXT [--final-delay-ms MS] [--seconds S]
//
// Prints one line, the providers.json that points the realtime recogniser at it, then
// serves until standard input closes or S seconds (default 60) have passed. Every turn
// gets a partial with the first half of TEXT once audio arrives and TEXT as its
// completed transcript after the commit, MS milliseconds after it with --final-delay-ms
// (a recogniser's finalisation time, for the latency benchmark). An empty TEXT gives an
// empty completed transcript: a recogniser that heard nothing.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/json.h"
#include "core/unicode_text.h"
#include "support/loopback_asr_servers.h"
#include "support/tools/serve_until_stdin_closes.h"

int main(int argc, char** argv) {
  std::string transcript;
  int seconds = 60;
  int finalDelayMs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--transcript" && i + 1 < argc) {
      transcript = argv[++i];
    } else if (arg == "--final-delay-ms" && i + 1 < argc) {
      finalDelayMs = std::atoi(argv[++i]);
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else {
      std::cerr << "usage: sorvane_loopback_realtime_server --transcript TEXT [--final-delay-ms MS] [--seconds S]\n";
      return 2;
    }
  }
  sorvane::testing::RealtimeServerScript script;
  const std::size_t half = sorvane::text::graphemeCount(transcript) / 2;
  if (half > 0) script.partials = {{1, sorvane::text::graphemePrefix(transcript, half), ""}};
  script.completedTranscript = transcript;
  script.completedDelay = std::chrono::milliseconds(finalDelayMs);
  sorvane::testing::LoopbackRealtimeServer server(script);
  const sorvane::Json providers = {{"dashscope", {{"realtimeURL", server.realtimeURL()}}}};
  std::cout << providers.dump() << std::endl;

  sorvane::testing::serveUntilStdinCloses(seconds);
  return 0;
}
