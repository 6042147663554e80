// Records read back from the data files and model answers read by the feedback analyzer
// are outside input: neither may crash, and a record that decodes must encode to a line
// that decodes to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "learning/mirla_feedback_analysis.h"
#include "learning/mirla_records.h"

using namespace sorvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // One parse for the record readers; their own line decoders are the same calls on it.
  if (auto object = parseJsonObject(input)) {
    if (auto history = historyEntryFromJson(*object)) {
      if (decodeHistoryLine(encodeRecordLine(*history)) != history) std::abort();
    }
    if (auto feedback = feedbackEntryFromJson(*object)) {
      if (decodeFeedbackLine(encodeRecordLine(*feedback)) != feedback) std::abort();
    }
    if (object->contains("terms") || object->contains("candidates")) {
      const DictionaryDecoding dictionary = decodeDictionaryFile(input);
      if (!dictionary.damaged) {
        const DictionaryDecoding again = decodeDictionaryFile(toJsonLine(toJson(dictionary.file)));
        if (again.damaged || !(again.file == dictionary.file)) std::abort();
      }
    }
  }
  if (auto analysis = parseAnalysis(input, "fuzz")) {
    if (!(analysis->confidence >= 0 && analysis->confidence <= kMaxAnalysisConfidence)) std::abort();
    (void)analysis->suggestionText();
  }
  return 0;
}
