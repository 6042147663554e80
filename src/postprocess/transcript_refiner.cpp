#include "postprocess/transcript_refiner.h"

#include <cmath>
#include <utility>
#include <variant>

#include "core/log.h"
#include "core/unicode_text.h"
#include "net/http_client.h"
#include "postprocess/chat_completions.h"
#include "postprocess/mode_prompts.h"
#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/worker_circuit_breaker.h"

namespace sorvane {
namespace {

enum class Provider { deepseek, qwen };

// What differs between the two chat providers.
struct ProviderTraits {
  std::string_view name;           // provider value and log name
  std::string_view shortName;      // "primary=" value
  std::string_view keyFile;
  std::string_view missingReason;  // llmFallbackFrom / fallbackFrom when the key is absent
  std::string_view refineErrorLog;
  std::string_view refineBadResponseLog;
};

constexpr ProviderTraits kDeepSeek{"deepseek-direct", "deepseek", kDeepSeekKeyFile, "missing-deepseek-key",
                                   "refine direct error ", "refine direct bad response"};
constexpr ProviderTraits kQwen{"qwen-llm-direct", "qwen", kDashScopeKeyFile, "missing-qwen-key",
                               "refine qwen llm error ", "refine qwen llm bad response"};

const ProviderTraits& traits(Provider provider) { return provider == Provider::deepseek ? kDeepSeek : kQwen; }
Provider other(Provider provider) { return provider == Provider::deepseek ? Provider::qwen : Provider::deepseek; }

std::string count(std::size_t n) { return std::to_string(n); }
std::size_t chars(std::string_view text) { return text::graphemeCount(text); }

Milliseconds timeoutOf(const RefineProfile& profile) {
  return Milliseconds(static_cast<int64_t>(std::llround(profile.remoteTimeout * 1000.0)));
}

// The answer of a direct model call, or why there is none.
struct ModelAnswer {
  std::optional<std::string> content;  // present on success
  std::optional<std::string> error;    // transport error description
  std::optional<int> status;           // bad response status
};

ModelAnswer readChatOutcome(const HttpOutcome& outcome) {
  if (const auto* error = std::get_if<HttpError>(&outcome)) return {std::nullopt, error->description, std::nullopt};
  const auto& response = std::get<HttpResponse>(outcome);
  if (!response.isSuccess() || response.body.empty()) return {std::nullopt, std::nullopt, response.status};
  auto content = chatCompletionContent(response.body);
  if (!content) return {std::nullopt, std::nullopt, response.status};
  return {std::move(content), std::nullopt, std::nullopt};
}

enum class Transform { translation, style };

}  // namespace

struct TranscriptRefiner::Shared {
  Shared(Dispatcher& dispatcher, HttpClient& http, ConfigFolder config, ProviderSettings providers,
         std::shared_ptr<WorkerCircuitBreaker> breaker)
      : dispatcher(dispatcher),
        http(http),
        config(std::move(config)),
        providers(std::move(providers)),
        breaker(std::move(breaker)) {}

  Dispatcher& dispatcher;
  HttpClient& http;  // used only while `alive`
  ConfigFolder config;
  ProviderSettings providers;
  std::shared_ptr<WorkerCircuitBreaker> breaker;
  bool alive = true;  // main queue; false once the refiner is gone

  std::string url(Provider provider) const {
    return provider == Provider::deepseek ? providers.deepseekChatURL() : providers.qwenChatURL();
  }
  const std::string& model(Provider provider) const {
    return provider == Provider::deepseek ? providers.deepseekModel : providers.qwenModel;
  }

  // POSTs a chat-completions body with the key; the outcome arrives on the main queue.
  void sendChat(Provider provider, Json body, const std::string& key, Milliseconds timeout,
                HttpCompletion completion) {
    // Thinking would only add latency and tokens to a rewrite.
    if (provider == Provider::deepseek) body["thinking"] = Json{{"type", "disabled"}};
    HttpRequest request =
        jsonPost(url(provider), toJsonLine(body), timeout, {{"Authorization", "Bearer " + key}});
    http.send(std::move(request), dispatcher.mainQueue(), std::move(completion));
  }
};

struct TranscriptRefiner::Call {
  std::string raw;  // refine: normalizeInput(text); transforms: the text as given
  InputContext context;
  RefineProfile profile;
  std::optional<VoiceStylePreset> preset;
  std::function<void(std::string_view)> onMark;
  std::function<void(std::string_view, Json)> onValue;
  Completion completion;
  std::size_t rawChars = 0;
  std::size_t contextChars = 0;

  void mark(std::string_view name) const {
    if (onMark) onMark(name);
  }
  void value(std::string_view key, Json v) const {
    if (onValue) onValue(key, std::move(v));
  }
  void complete(std::string text, std::string_view provider) {
    if (!completion) return;
    Completion done = std::move(completion);
    completion = nullptr;
    done(Result{std::move(text), std::string(provider), profile.id});
  }
  void completeLocally(std::string_view provider) { complete(localPipeline(raw, context, profile), provider); }

  void recordAttempt(std::string_view provider) const {
    mark("llmRequestStart");
    value("llmProviderAttempt", std::string(provider));
    value("llmTimeoutMs", static_cast<int64_t>(profile.remoteTimeout * 1000.0));
  }
  void recordError(const std::string& description) const {
    mark("llmRequestDone");
    value("llmResult", "error");
    value("llmError", description);
  }
  void recordBadResponse(std::optional<int> status) const {
    mark("llmRequestDone");
    value("llmResult", "bad-response");
    if (status) value("llmStatus", *status);
  }
  void recordSuccess() const {
    mark("llmRequestDone");
    value("llmResult", "success");
  }
};

namespace {

using CallPtr = std::shared_ptr<TranscriptRefiner::Call>;
using SharedPtr = std::shared_ptr<TranscriptRefiner::Shared>;

// --- refinement ---

void workerFallback(const SharedPtr& shared, const CallPtr& call);

// One direct model call of a refinement; `next` runs when it delivers no text.
void refineDirect(const SharedPtr& shared, const CallPtr& call, Provider provider, const std::string& key,
                  std::function<void()> next) {
  const ProviderTraits& t = traits(provider);
  call->recordAttempt(t.name);
  Json body = chatCompletionsBody(shared->model(provider), 0, call->profile.maxTokens,
                                  call->profile.systemPrompt(call->context),
                                  refinementUserMessage(call->raw, call->context, call->profile));
  shared->sendChat(provider, std::move(body), key, timeoutOf(call->profile),
                   [call, provider, next = std::move(next)](HttpOutcome outcome) {
                     const ProviderTraits& t = traits(provider);
                     ModelAnswer answer = readChatOutcome(outcome);
                     if (answer.error) {
                       appLog(std::string(t.refineErrorLog) + *answer.error);
                       call->recordError(*answer.error);
                       next();
                       return;
                     }
                     if (!answer.content) {
                       appLog(std::string(t.refineBadResponseLog));
                       call->recordBadResponse(answer.status);
                       next();
                       return;
                     }
                     const std::string candidate = parseDirectModelText(*answer.content);
                     appLog("refine done provider=" + std::string(t.name) + " profile=" + call->profile.id +
                            " raw=" + count(call->rawChars) + " final=" + count(chars(candidate)));
                     call->recordSuccess();
                     std::string final = runGuardChain(call->raw, candidate, call->context, call->profile);
                     if (final.empty()) {
                       next();
                       return;
                     }
                     call->complete(std::move(final), t.name);
                   });
}

void refineSecondary(const SharedPtr& shared, const CallPtr& call, Provider provider, const std::string& reason) {
  if (!shared->alive) return call->completeLocally("raw-fallback");
  const ProviderTraits& t = traits(provider);
  auto key = shared->config.key(t.keyFile);
  if (!key) {
    appLog("refine skip provider=" + std::string(t.name) + " reason=missing-key fallbackFrom=" + reason);
    return workerFallback(shared, call);
  }
  appLog("refine start provider=" + std::string(t.name) + " profile=" + call->profile.id + " fallbackFrom=" +
         reason + " chars=" + count(call->rawChars) + " contextChars=" + count(call->contextChars));
  refineDirect(shared, call, provider, *key, [shared, call] { workerFallback(shared, call); });
}

void workerFallback(const SharedPtr& shared, const CallPtr& call) {
  if (!shared->alive) return call->completeLocally("raw-fallback");
  WorkerCircuitBreaker& breaker = *shared->breaker;
  if (breaker.isOpen()) {
    call->value("refinePath", "local-worker-circuit-breaker");
    call->value("workerCircuitBreakerHit", true);
    return call->completeLocally("local-worker-circuit-breaker");
  }
  appLog("refine start provider=timeline-worker profile=" + call->profile.id + " chars=" + count(call->rawChars) +
         " contextChars=" + count(call->contextChars));
  call->recordAttempt("timeline-worker");

  auto onOutcome = [shared, call](HttpOutcome outcome) {
    WorkerCircuitBreaker& breaker = *shared->breaker;
    if (const auto* error = std::get_if<HttpError>(&outcome)) {
      appLog("refine worker error " + error->description);
      call->recordError(error->description);
      breaker.registerFailure(kWorkerTransportErrorCooldown);
      return call->completeLocally("raw-fallback");
    }
    const auto& response = std::get<HttpResponse>(outcome);
    std::optional<std::string> text;
    if (response.isSuccess()) {
      if (auto reply = parseJsonObject(response.body)) {
        text = jsonString(*reply, "cleanedSourceText");
        if (!text) text = jsonString(*reply, "translatedText");
      }
    }
    if (!text) {
      appLog("refine worker bad response");
      call->recordBadResponse(response.status);
      breaker.registerFailure(kWorkerBadResponseCooldown);
      return call->completeLocally("raw-fallback");
    }
    breaker.reset();
    appLog("refine done provider=timeline-worker profile=" + call->profile.id + " raw=" + count(call->rawChars) +
           " final=" + count(chars(*text)));
    call->recordSuccess();
    call->complete(runGuardChain(call->raw, *text, call->context, call->profile), "timeline-worker");
  };

  const std::string& url = shared->providers.workerInterpretURL();
  if (url.empty()) {
    // Nothing to call: the same path as a refused connection, without a request.
    onOutcome(HttpError{HttpError::Kind::other, "worker not configured"});
    return;
  }
  HttpRequest request =
      jsonPost(url, toJsonLine(workerRequestBody(call->raw, call->context, call->profile)), timeoutOf(call->profile));
  shared->http.send(std::move(request), shared->dispatcher.mainQueue(), std::move(onOutcome));
}

void runRefine(const SharedPtr& shared, const CallPtr& call) {
  if (call->raw.empty()) return call->complete("", "empty");
  if (!call->profile.allowWorker) {
    call->value("refinePath", "local-guard");
    call->value("localFastpathHit", true);
    return call->completeLocally("local-guard");
  }
  if (TextNormalizer::shouldSkipRemoteRefine(call->raw)) {
    call->value("refinePath", "local-fastpath");
    call->value("localFastpathHit", true);
    return call->completeLocally("local-fastpath");
  }
  auto deepseekKey = shared->config.key(kDeepSeekKeyFile);
  auto qwenKey = shared->config.key(kDashScopeKeyFile);
  call->value("deepseekDirectKeyPresent", deepseekKey.has_value());
  call->value("dashscopeLLMKeyPresent", qwenKey.has_value());
  const bool preferDeepSeek = shouldPreferDeepSeek(call->raw, call->context);
  call->value("llmRoute", preferDeepSeek ? "deepseek-primary" : "qwen-primary");

  const Provider primary = preferDeepSeek ? Provider::deepseek : Provider::qwen;
  const ProviderTraits& t = traits(primary);
  const auto& key = primary == Provider::deepseek ? deepseekKey : qwenKey;
  if (!key) {
    appLog("refine skip provider=" + std::string(t.name) + " reason=missing-key primary=" + std::string(t.shortName));
    call->value("llmFallbackFrom", std::string(t.missingReason));
    return refineSecondary(shared, call, other(primary), std::string(t.missingReason));
  }
  appLog("refine start provider=" + std::string(t.name) + " profile=" + call->profile.id + " primary=" +
         std::string(t.shortName) + " chars=" + count(call->rawChars) + " contextChars=" + count(call->contextChars));
  call->value("llmFallbackFrom", "primary-" + std::string(t.shortName));
  refineDirect(shared, call, primary, *key, [shared, call, primary] {
    const std::string reason(traits(primary).name);
    call->value("llmFallbackFrom", reason);
    refineSecondary(shared, call, other(primary), reason);
  });
}

// --- translation and style ---

struct TransformTraits {
  std::string_view verb;          // log prefix: "translate" / "style"
  std::string_view routeInfix;    // "translation" / "style" in llmRoute
  std::string_view rawFallback;   // provider when every model failed
};

constexpr TransformTraits kTranslationTraits{"translate", "translation", "translation-raw-fallback"};
constexpr TransformTraits kStyleTraits{"style", "style", "style-raw-fallback"};

const TransformTraits& traits(const TranscriptRefiner::Call& call) {
  return call.preset ? kStyleTraits : kTranslationTraits;
}

std::string transformProvider(const TranscriptRefiner::Call& call, Provider provider) {
  const std::string name(traits(provider).name);
  return call.preset ? name + "-" + std::string(call.preset->key()) : name + "-translate-en";
}

// "translate start provider=deepseek-direct primary=deepseek chars=12" or
// "style start provider=deepseek-direct preset=style_rage", with "fallbackFrom=" for the
// secondary provider.
std::string transformStartLine(const TranscriptRefiner::Call& call, Provider provider, const std::string& position) {
  std::string line = std::string(traits(call).verb) + " start provider=" + std::string(traits(provider).name);
  if (call.preset) return line + " preset=" + std::string(call.preset->key()) + (position.empty() ? "" : " " + position);
  return line + " " + position + " chars=" + count(call.rawChars);
}

void transformDirect(const SharedPtr& shared, const CallPtr& call, Provider provider, const std::string& key,
                     std::function<void()> next) {
  const ProviderTraits& t = traits(provider);
  call->recordAttempt(t.name);
  Json body = call->preset ? styleRequestBody(shared->model(provider), call->raw, *call->preset, call->context,
                                              call->profile)
                           : translationRequestBody(shared->model(provider), call->raw, call->context, call->profile);
  shared->sendChat(provider, std::move(body), key, timeoutOf(call->profile),
                   [call, provider, next = std::move(next)](HttpOutcome outcome) {
                     const std::string verb(traits(*call).verb);
                     const std::string name(traits(provider).name);
                     ModelAnswer answer = readChatOutcome(outcome);
                     if (answer.error) {
                       appLog(verb + " error provider=" + name + " error=" + *answer.error);
                       call->recordError(*answer.error);
                       return next();
                     }
                     std::string text;
                     if (answer.content) {
                       const std::string parsed = parseDirectModelText(*answer.content);
                       text = call->preset ? normalizeStyleOutput(parsed) : normalizeEnglishTranslationOutput(parsed);
                     }
                     if (text.empty()) {
                       appLog(verb + " bad response provider=" + name +
                              (answer.status ? " status=" + std::to_string(*answer.status) : " empty=true"));
                       call->recordBadResponse(answer.status);
                       return next();
                     }
                     const std::string resultProvider = transformProvider(*call, provider);
                     appLog(verb + " done provider=" + resultProvider + " chars=" + count(chars(text)));
                     call->recordSuccess();
                     call->complete(std::move(text), resultProvider);
                   });
}

void completeTransformRaw(const CallPtr& call) {
  call->complete(TextNormalizer::normalizeInput(call->raw), traits(*call).rawFallback);
}

void transformSecondary(const SharedPtr& shared, const CallPtr& call, Provider provider, const std::string& reason) {
  if (!shared->alive) return completeTransformRaw(call);
  const ProviderTraits& t = traits(provider);
  auto key = shared->config.key(t.keyFile);
  if (!key) {
    appLog(std::string(traits(*call).verb) + " skip provider=" + std::string(t.name) +
           " reason=missing-key fallbackFrom=" + reason);
    return completeTransformRaw(call);
  }
  appLog(transformStartLine(*call, provider, "fallbackFrom=" + reason));
  transformDirect(shared, call, provider, *key, [call] { completeTransformRaw(call); });
}

void runTransform(const SharedPtr& shared, const CallPtr& call) {
  auto deepseekKey = shared->config.key(kDeepSeekKeyFile);
  auto qwenKey = shared->config.key(kDashScopeKeyFile);
  call->value("deepseekDirectKeyPresent", deepseekKey.has_value());
  call->value("dashscopeLLMKeyPresent", qwenKey.has_value());
  const bool preferDeepSeek = shouldPreferDeepSeek(call->raw, call->context);
  const std::string infix(traits(*call).routeInfix);
  call->value("llmRoute", (preferDeepSeek ? "deepseek-" : "qwen-") + infix + "-primary");

  const Provider primary = preferDeepSeek ? Provider::deepseek : Provider::qwen;
  const ProviderTraits& t = traits(primary);
  const auto& key = primary == Provider::deepseek ? deepseekKey : qwenKey;
  if (!key) {
    appLog(std::string(traits(*call).verb) + " skip provider=" + std::string(t.name) +
           " reason=missing-key primary=" + std::string(t.shortName));
    call->value("llmFallbackFrom", std::string(t.missingReason));
    return transformSecondary(shared, call, other(primary), std::string(t.missingReason));
  }
  appLog(transformStartLine(*call, primary, call->preset ? "" : "primary=" + std::string(t.shortName)));
  call->value("llmFallbackFrom", "primary-" + std::string(t.shortName));
  transformDirect(shared, call, primary, *key, [shared, call, primary] {
    const std::string reason(traits(primary).name);
    call->value("llmFallbackFrom", reason);
    transformSecondary(shared, call, other(primary), reason);
  });
}

}  // namespace

TranscriptRefiner::TranscriptRefiner(Dispatcher& dispatcher, HttpClient& http, ConfigFolder config,
                                     ProviderSettings providers, std::shared_ptr<WorkerCircuitBreaker> breaker)
    : dispatcher_(dispatcher),
      workerURL_(providers.workerInterpretURL()),
      shared_(std::make_shared<Shared>(dispatcher, http, std::move(config), std::move(providers),
                                       std::move(breaker))) {}

TranscriptRefiner::~TranscriptRefiner() {
  // Calls in flight finish locally from here on; `alive` is read on the main queue only.
  onMain([shared = shared_] { shared->alive = false; });
}

void TranscriptRefiner::onMain(Task task) {
  SerialQueue& main = dispatcher_.mainQueue();
  if (main.isCurrent()) {
    task();
  } else {
    main.post(std::move(task));
  }
}

std::shared_ptr<TranscriptRefiner::Call> TranscriptRefiner::newCall(std::string raw, const InputContext& context,
                                                                  const RefineProfile& profile,
                                                                  Completion completion) const {
  auto call = std::make_shared<Call>();
  call->raw = std::move(raw);
  call->context = context;
  call->profile = profile;
  call->onMark = onMark;
  call->onValue = onValue;
  call->completion = std::move(completion);
  call->rawChars = chars(call->raw);
  call->contextChars = contextChars(context);
  return call;
}

void TranscriptRefiner::refine(std::string_view text, const InputContext& context, const RefineProfile& profile,
                               Completion completion) {
  auto call = newCall(TextNormalizer::normalizeInput(text), context, profile, std::move(completion));
  onMain([shared = shared_, call] { runRefine(shared, call); });
}

void TranscriptRefiner::translateToEnglish(std::string_view raw, const InputContext& context,
                                           const RefineProfile& profile, Completion completion) {
  auto call = newCall(std::string(raw), context, profile, std::move(completion));
  onMain([shared = shared_, call] { runTransform(shared, call); });
}

void TranscriptRefiner::stylize(std::string_view raw, VoiceStylePreset preset, const InputContext& context,
                                const RefineProfile& profile, Completion completion) {
  auto call = newCall(std::string(raw), context, profile, std::move(completion));
  call->preset = preset;
  onMain([shared = shared_, call] { runTransform(shared, call); });
}

}  // namespace sorvane
