#include "ui/provider_summary.h"

namespace sorvane {

ProviderChoice describeProviderChoice(const ConfigFolder& config, const ProviderSettings& providers) {
  const bool dashscope = config.key(kDashScopeKeyFile).has_value();
  const bool deepseek = config.key(kDeepSeekKeyFile).has_value();
  const bool deepgram = config.key(kDeepgramKeyFile).has_value();
  ProviderChoice choice;
  if (dashscope) {
    choice.recogniser = "qwen3-asr-flash-realtime";
    choice.recogniserReason = "找到 DashScope 密钥，使用 Qwen 实时识别（" + providers.qwenRealtimeModel + "）。";
  } else if (deepgram) {
    choice.recogniser = "deepgram-streaming";
    choice.recogniserReason = "没有 DashScope 密钥，找到 Deepgram 密钥，使用 Deepgram 流式识别（" +
                              providers.deepgramModel + "）。";
  } else {
    choice.recogniser = "on-device";
    choice.recogniserReason = "没有云端识别密钥，只能使用本机识别。";
  }
  const std::string fastPath = "短句直接走本机快速整理，不调用模型。";
  if (deepseek && dashscope) {
    choice.languageModel = "deepseek-direct + qwen-llm-direct";
    choice.languageModelReason = "两个密钥都在：长句或上下文多时先用 DeepSeek（" + providers.deepseekModel +
                                 "），其余先用 Qwen（" + providers.qwenModel + "），失败时互为备用。" + fastPath;
  } else if (deepseek) {
    choice.languageModel = "deepseek-direct";
    choice.languageModelReason = "只有 DeepSeek 密钥：整理都用 DeepSeek（" + providers.deepseekModel + "）。" + fastPath;
  } else if (dashscope) {
    choice.languageModel = "qwen-llm-direct";
    choice.languageModelReason = "只有 DashScope 密钥：整理都用 Qwen（" + providers.qwenModel + "）。" + fastPath;
  } else if (!providers.workerBaseURL.empty()) {
    choice.languageModel = "timeline-worker";
    choice.languageModelReason = "没有模型密钥：交给配置的 worker 整理，失败时保留本机整理的文本。";
  } else {
    choice.languageModel = "raw-fallback";
    choice.languageModelReason = "没有模型密钥，也没有配置 worker：只用本机规则整理原始识别。";
  }
  return choice;
}

}  // namespace sorvane
