// The port through which the benchmark runner has a recorded audio file transcribed.
//
// A recogniser reports what it has heard so far as updates on the queue it is given:
// each carries the best text so far (empty when nothing new), and either an error or a
// final flag ends the recognition. The returned task is the recognition in progress;
// destroying it cancels the recognition, after which no update arrives. Until a
// streaming recogniser is connected the runner has none, and audio samples are written
// with the status "recognizer-unavailable".
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace sorvane {

class SerialQueue;

struct FileRecognitionUpdate {
  std::string text;                  // best transcription so far; empty: no new text
  bool isFinal = false;
  std::optional<std::string> error;  // description of a failure that ends the recognition
};

class FileRecognitionTask {
 public:
  virtual ~FileRecognitionTask() = default;  // cancels
};

class FileRecognizer {
 public:
  virtual ~FileRecognizer() = default;
  // Asks for the user's permission to recognise speech where the platform has one.
  virtual bool requestPermission() { return true; }
  // Starts recognising the file at `path` (relative to the working directory) in
  // `locale`; nullptr when no recogniser is available for it.
  virtual std::unique_ptr<FileRecognitionTask> start(const std::string& path, const std::string& locale,
                                                     SerialQueue& updateQueue,
                                                     std::function<void(FileRecognitionUpdate)> onUpdate) = 0;
};

}  // namespace sorvane
