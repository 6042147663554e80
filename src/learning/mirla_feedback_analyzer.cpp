#include "learning/mirla_feedback_analyzer.h"

#include <variant>

#include "context/input_context.h"
#include "core/dispatch.h"
#include "core/log.h"
#include "core/unicode_text.h"
#include "net/http_client.h"
#include "postprocess/chat_completions.h"

namespace sorvane {
namespace {

std::string lengthText(std::string_view text) { return std::to_string(text::graphemeCount(text)); }

}  // namespace

MirlaFeedbackAnalyzer::MirlaFeedbackAnalyzer(Dispatcher& dispatcher, HttpClient& http, ConfigFolder config,
                                             ProviderSettings providers, std::chrono::milliseconds requestTimeout)
    : dispatcher_(dispatcher),
      http_(http),
      config_(std::move(config)),
      providers_(std::move(providers)),
      requestTimeout_(requestTimeout) {}

std::optional<FeedbackProvider> MirlaFeedbackAnalyzer::chooseProvider(bool passiveAudit) const {
  if (auto key = config_.key(kDeepSeekKeyFile)) {
    return FeedbackProvider{std::string(passiveAudit ? kDeepSeekPassiveLabel : kDeepSeekFeedbackLabel),
                            providers_.deepseekChatURL(), providers_.deepseekModel, std::move(*key), true};
  }
  if (auto key = config_.key(kDashScopeKeyFile)) {
    return FeedbackProvider{std::string(passiveAudit ? kQwenPassiveLabel : kQwenFeedbackLabel),
                            providers_.qwenChatURL(), providers_.qwenModel, std::move(*key), false};
  }
  return std::nullopt;
}

void MirlaFeedbackAnalyzer::analyzeEdit(std::string_view rawText, std::string_view finalText,
                                        std::string_view editedText, const InputContext& context,
                                        Completion completion) {
  auto provider = chooseProvider(false);
  if (!provider) {
    if (completion) completion(std::nullopt);
    return;
  }
  runRequest(*provider, rawText, finalText, editedText, context, false, std::move(completion));
}

void MirlaFeedbackAnalyzer::auditPassive(std::string_view rawText, std::string_view finalText,
                                         const InputContext& context, Completion completion) {
  auto provider = chooseProvider(true);
  if (!provider) {
    if (completion) completion(std::nullopt);
    return;
  }
  runRequest(*provider, rawText, finalText, finalText, context, true, std::move(completion));
}

void MirlaFeedbackAnalyzer::runRequest(const FeedbackProvider& provider, std::string_view rawText,
                                       std::string_view finalText, std::string_view editedText,
                                       const InputContext& context, bool passiveAudit, Completion completion) {
  const std::string_view userVersion = passiveAudit ? finalText : editedText;
  Json body = feedbackRequestBody(provider.model, rawText, finalText, userVersion, context, passiveAudit);
  // The model that replaced "deepseek-chat" thinks by default; an analysis does not need it.
  if (provider.isDeepSeek) body["thinking"] = Json{{"type", "disabled"}};
  HttpRequest request =
      jsonPost(provider.url, toJsonLine(body), requestTimeout_, {{"Authorization", "Bearer " + provider.apiKey}});
  appLog("feedback analyzer start provider=" + provider.label + " raw=" + lengthText(rawText) +
         " final=" + lengthText(finalText) + " edited=" + lengthText(userVersion));
  http_.send(std::move(request), dispatcher_.mainQueue(),
             [label = provider.label, completion = std::move(completion)](HttpOutcome outcome) {
               auto deliver = [&](std::optional<MirlaFeedbackAnalysis> analysis) {
                 if (completion) completion(std::move(analysis));
               };
               if (const auto* error = std::get_if<HttpError>(&outcome)) {
                 appLog("feedback analyzer error " + error->description);
                 deliver(std::nullopt);
                 return;
               }
               const auto& response = std::get<HttpResponse>(outcome);
               std::optional<std::string> content;
               if (response.isSuccess()) content = chatCompletionContent(response.body);
               if (!content) {
                 appLog("feedback analyzer bad response status=" + std::to_string(response.status));
                 deliver(std::nullopt);
                 return;
               }
               auto analysis = parseAnalysis(*content, label);
               appLog("feedback analyzer done provider=" + label +
                      " terms=" + (analysis ? text::join(analysis->dictionaryTerms, ",") : std::string()));
               deliver(std::move(analysis));
             });
}

}  // namespace sorvane
