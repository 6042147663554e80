// File recognition for the benchmark runner through a realtime recogniser client: the
// WAV file's PCM is streamed in 100 ms chunks, one every 50 ms (twice real time, which
// keeps the audio held before the session is configured well under its 1 s cap), then
// the client is finished and its final text ends the recognition.
//
// Lives on the main queue (the runner's update queue): `start` reads the file there,
// makes one client through the factory, and paces the chunks with timers of that queue.
// Destroying the returned task cancels and drops the client; no update follows.
// `recognizerFactoryForKeys` picks the client by the key files, as the capture engine
// does: a DashScope key gives the Qwen realtime client (16 kHz files only), else a
// Deepgram key gives the Deepgram client at the file's rate, else none.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "asr/streaming_recognizer.h"
#include "tools/file_recognizer.h"

namespace sorvane {

class ConfigFolder;
class Dispatcher;
class WebSocketClient;

class StreamingFileRecognizer final : public FileRecognizer {
 public:
  // Null when no recogniser serves audio at this rate; `error` then says why.
  using ClientFactory = std::function<std::unique_ptr<StreamingRecognizer>(int sampleRate, std::string& error)>;

  static constexpr std::chrono::milliseconds kChunkDuration{100};
  static constexpr std::chrono::milliseconds kChunkInterval{50};

  StreamingFileRecognizer(Dispatcher& dispatcher, ClientFactory factory);

  std::unique_ptr<FileRecognitionTask> start(const std::string& path, const std::string& locale,
                                             SerialQueue& updateQueue,
                                             std::function<void(FileRecognitionUpdate)> onUpdate) override;

 private:
  Dispatcher& dispatcher_;
  ClientFactory factory_;
};

// The factory by the key files of `config` (read at each call) and its providers.json.
StreamingFileRecognizer::ClientFactory recognizerFactoryForKeys(Dispatcher& dispatcher, WebSocketClient& sockets,
                                                                const ConfigFolder& config);

}  // namespace sorvane
