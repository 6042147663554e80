// Arbitrary bytes as a model's answer and as a loosely typed context object: neither may
// crash, and every form of the resulting context must serialise.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "context/input_context.h"
#include "core/json.h"
#include "postprocess/chat_completions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sorvane;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  (void)parseDirectModelText(bytes);
  (void)chatCompletionContent(bytes);

  const InputContext context = InputContext::synthetic(parseJson(bytes));
  (void)context.pasteTargetReason();
  (void)context.keywordCandidates();
  (void)context.promptBlock(60);
  (void)toJsonLine(context.workerContextItems());
  // The user message carries the prompt block and every JSON form of the context.
  (void)refinementUserMessage(bytes, context, RefineProfile::named());
  return 0;
}
