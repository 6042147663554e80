// Arbitrary server frames into both recogniser clients: each line of the input is one
// frame (text for even lines, binary for odd ones; the twelfth takes the rest) delivered to a Qwen realtime and a
// Deepgram live client in virtual time, around a finish. Nothing may crash, and each
// finish must complete exactly once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "asr/deepgram_streaming_client.h"
#include "asr/qwen_streaming_client.h"
#include "core/config_folder.h"
#include "support/fake_web_socket.h"
#include "support/virtual_time.h"

namespace {

using namespace sorvane;
using namespace std::chrono_literals;

constexpr std::size_t kMaxFrames = 12;

template <typename Client>
void feed(testing::VirtualDispatcher& dispatcher, testing::FakeWebSocketClient& sockets, Client& client,
          std::string_view bytes) {
  int completions = 0;
  client.onTranscript = [](const std::string&, bool) {};
  client.start({true, "术语一, 术语二", 2});
  dispatcher.advance(200ms);
  std::size_t line = 0;
  bool finished = false;
  while (!bytes.empty()) {
    const std::size_t end = line + 1 < kMaxFrames ? bytes.find('\n') : std::string_view::npos;
    const std::string_view frame = bytes.substr(0, end);
    bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    if (line % 2 == 0) {
      sockets.receiveText(std::string(frame));
    } else {
      sockets.receiveBinary(std::string(frame));
    }
    if (++line == 3) {
      client.finish([&completions](std::string) { ++completions; });
      finished = true;
    }
    dispatcher.advance(50ms);
  }
  if (!finished) client.finish([&completions](std::string) { ++completions; });
  dispatcher.advance(2000ms);
  if (completions != 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)parseQwenServerEvent(bytes);
  (void)parseDeepgramResult(bytes);

  testing::VirtualDispatcher dispatcher;
  testing::FakeWebSocketClient sockets;
  ProviderSettings providers;
  {
    QwenStreamingClient qwen(dispatcher, sockets, "sk-fuzz", providers);
    feed(dispatcher, sockets, qwen, bytes);
  }
  {
    DeepgramStreamingClient deepgram(dispatcher, sockets, "dg-fuzz", 16000, providers);
    feed(dispatcher, sockets, deepgram, bytes);
  }
  dispatcher.runUntilIdle();
  return 0;
}
