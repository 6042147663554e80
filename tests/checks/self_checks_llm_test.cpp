// The live model self-checks against loopback servers configured through providers.json
// in a temporary home: their success lines, a guarded answer, and the time-out line when
// the server stalls (with a short limit instead of the 8 s of the switch).
#include "checks/self_checks_llm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "core/json.h"
#include "core/paths.h"
#include "support/loopback_llm_servers.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackChatServer;
using testing::ScriptedReply;
using testing::TempDir;

class LiveSelfCheckTest : public ::testing::Test {
 protected:
  LiveSelfCheckTest() : paths_(Paths::underHome(home_.path(), home_.file("sorvane.log"))) {
    const std::string config = home_.path() + "/.sorvane";
    std::filesystem::create_directories(config);
    const Json providers = {{"deepseek", {{"baseURL", chat_.baseURL()}}}, {"dashscope", {{"baseURL", chat_.baseURL()}}}};
    home_.write(".sorvane/providers.json", providers.dump());
    home_.write(".sorvane/deepseek-api-key", "sk-1");
    home_.write(".sorvane/dashscope-api-key", "sk-2");
  }

  TempDir home_;
  LoopbackChatServer chat_;
  Paths paths_;
};

TEST_F(LiveSelfCheckTest, SuccessGuardedAnswerAndTimeOutLines) {
  struct Case {
    const char* name;
    std::vector<ScriptedReply> script;
    bool style;
    const char* line;
    int status;
  };
  const Case cases[] = {
      {"refine echo", {}, false, "refine llm ok provider=qwen-llm-direct ms=", 0},
      {"style answer", {ScriptedReply::answer("这个需求我们今天尽量改完好不好？周五要上线啦。")}, true,
       "style llm ok provider=qwen-llm-direct-style_high_eq ms=", 0},
      // An answer that drops the request's key phrases is replaced by the guards.
      {"refine short answer", {ScriptedReply::answer("好的。")}, false, "refine llm ok provider=qwen-llm-direct", 0},
      {"refine stall", {ScriptedReply::stall()}, false, "refine llm timed out\n", 1},
      {"style stall", {ScriptedReply::stall()}, true, "style llm timed out\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    chat_.script(c.script);
    std::ostringstream out;
    const int status = c.style ? runStyleLlmCheck(out, paths_, 1500ms) : runRefineLlmCheck(out, paths_, 1500ms);
    EXPECT_EQ(out.str().rfind(c.line, 0), 0u) << out.str();
    EXPECT_EQ(status, c.status) << out.str();
  }
}

}  // namespace
}  // namespace sorvane
