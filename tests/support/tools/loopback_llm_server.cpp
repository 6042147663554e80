// A loopback chat-completions and worker server to run by hand or from a script test.
//
//   sorvane_loopback_llm_server [--stall] [--status N] [--answer TEXT] [--delay-ms MS] [--seconds S]
//
// Prints one line, the providers.json that points every model service and the worker at
// it, then serves until standard input closes or S seconds (default 60) have passed.
// Without options every request is answered with its own raw transcript; --answer gives
// a fixed answer, --status a fixed error status, --stall never answers; --delay-ms holds
// every answer back that long (a model's think time, for the latency benchmark).
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "core/json.h"
#include "support/loopback_llm_servers.h"
#include "support/tools/serve_until_stdin_closes.h"

using sorvane::Json;
using sorvane::testing::LoopbackChatServer;
using sorvane::testing::LoopbackWorkerServer;
using sorvane::testing::ScriptedReply;

int main(int argc, char** argv) {
  std::vector<ScriptedReply> script = {ScriptedReply::echo()};
  int seconds = 60;
  int delayMs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--stall") {
      script = {ScriptedReply::stall()};
    } else if (arg == "--status" && hasValue) {
      script = {ScriptedReply::status(std::atoi(argv[++i]))};
    } else if (arg == "--answer" && hasValue) {
      script = {ScriptedReply::answer(argv[++i])};
    } else if (arg == "--delay-ms" && hasValue) {
      delayMs = std::atoi(argv[++i]);
    } else if (arg == "--seconds" && hasValue) {
      seconds = std::atoi(argv[++i]);
    } else {
      std::cerr << "usage: sorvane_loopback_llm_server [--stall] [--status N] [--answer TEXT] [--delay-ms MS] [--seconds S]\n";
      return 2;
    }
  }
  if (delayMs > 0) {
    for (auto& reply : script) reply = std::move(reply).after(std::chrono::milliseconds(delayMs));
  }
  LoopbackChatServer chat;
  LoopbackWorkerServer worker;
  chat.script(script);
  worker.script(script);
  const Json providers = {{"deepseek", {{"baseURL", chat.baseURL()}}},
                          {"dashscope", {{"baseURL", chat.baseURL()}}},
                          {"worker", {{"baseURL", worker.baseURL()}}}};
  std::cout << providers.dump() << std::endl;

  sorvane::testing::serveUntilStdinCloses(seconds);
  return 0;
}
