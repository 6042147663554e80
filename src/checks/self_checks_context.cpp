#include "checks/self_checks_context.h"

#include "checks/self_checks.h"
#include "context/input_context.h"
#include "core/json.h"
#include "core/unicode_text.h"
#include "postprocess/contextual_rules.h"
#include "postprocess/mode_prompts.h"
#include "postprocess/morse_cipher.h"
#include "postprocess/recording_mode.h"
#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"

namespace sorvane {
namespace {

// The chain as a refinement answer meets it: raw text basic-cleaned, the default
// profile, no context.
std::string guarded(const GuardChainCase& sample) {
  return runGuardChain(TextNormalizer::normalizeInput(sample.raw), sample.candidate, InputContext{},
                       RefineProfile::named());
}

}  // namespace

SemanticStructureCases defaultSemanticStructureCases() {
  return {
      {"所以是不是第一步和第二步你能帮我做，然后第三步，我是自己准备。呃，等等，是不是第一步、第二步、第三步都能帮我做？",
       "所以：\n1. 第一步和第二步你能帮我做\n2. 第三步我是自己准备\n3. 是不是第一步、第二步、第三步都能帮我做？",
       "所以是不是第一步、第二步、第三步都能帮我做？"},
      {"我每次都说，其实你那个第一和第二的区分的不是很明显。", "我每次都说，其实你那个：\n1. 和\n2. 的区分不是很明显",
       "我每次都说，其实你那个第一和第二的区分不是很明显。"},
      "我有两个问题，第一个点击结束录制以后不要吞掉最后几个字，第二个把这段话整理得更有结构。",
  };
}

int runSemanticStructureCheck(std::ostream& out, const SemanticStructureCases& cases) {
  const std::string enumeration = guarded(cases.enumerationQuestion);
  const std::string comparison = guarded(cases.ordinalComparison);
  const std::string list = TextNormalizer::normalizeFinal(cases.listRequest);
  const bool ok = enumeration == cases.enumerationQuestion.expected &&
                  comparison == cases.ordinalComparison.expected && candidateContainsNumberedList(list);
  if (ok) {
    out << "semantic structure ok\n";
    return 0;
  }
  out << "semantic structure failed\n"
      << "guarded=" << enumeration << "\n"
      << "guardedComparison=" << comparison << "\n"
      << "actualList=" << list << "\n";
  return 1;
}

int runSemanticStructureCheck(std::ostream& out) {
  return runSemanticStructureCheck(out, defaultSemanticStructureCases());
}

std::vector<SpeechActCase> defaultSpeechActCases() {
  const std::string raw = "其实我觉得功能都做差不多了吧，可以上线了吧。";
  return {
      {raw, "功能都做差不多了，可以上线了。", {"我觉得", "吧", "？"}, {}},
      {raw, "我觉得功能都做差不多了，可以上线了。", {"吧", "？"}, {"可以上线了。"}},
  };
}

int runSpeechActGuardCheck(std::ostream& out, std::span<const SpeechActCase> cases) {
  std::vector<std::string> results;
  bool ok = true;
  for (const auto& sample : cases) {
    std::string result = guarded({sample.raw, sample.candidate, ""});
    for (const auto& part : sample.mustContain) ok = ok && text::contains(result, part);
    for (const auto& part : sample.mustNotContain) ok = ok && !text::contains(result, part);
    results.push_back(std::move(result));
  }
  if (ok) {
    out << "speech act guard ok\n";
    return 0;
  }
  out << "speech act guard failed\n";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    out << "candidate=" << cases[i].candidate << "\n"
        << "result=" << results[i] << "\n";
  }
  return 1;
}

int runSpeechActGuardCheck(std::ostream& out) { return runSpeechActGuardCheck(out, defaultSpeechActCases()); }

std::vector<RecordingModeCase> defaultRecordingModeCases() {
  return {
      {1, "style_flirt", "调情上头", "暧昧、上头、会拉扯"},
      {4, "style_wicked", "贱兮兮", "阴阳怪气"},
      {6, "style_meltdown", "发疯文学", "戏剧化、崩溃、疯感强"},
      {7, "style_doubao", "豆包语气", "耍剑"},
      {8, "style_kalov_statement", "卡式新闻稿", "新闻稿/声明口吻"},
      {0, std::nullopt, "", ""},
      {9, std::nullopt, "", ""},
  };
}

int runRecordingModeCheck(std::ostream& out, std::span<const RecordingModeCase> cases) {
  bool ok = RecordingMode::dictation().metricValue() == "dictation" &&
            RecordingMode::englishTranslation().metricValue() == "english_translation" &&
            RecordingMode::morseCipher().metricValue() == "morse_cipher";
  for (const auto& sample : cases) {
    const auto preset = VoiceStylePreset::fromDigit(sample.digit);
    if (!sample.presetKey) {
      ok = ok && !preset.has_value();
      continue;
    }
    ok = ok && preset.has_value() && preset->key() == *sample.presetKey &&
         RecordingMode::styled(*preset).metricValue() == *sample.presetKey && preset->hudTitle() == sample.hudTitle &&
         text::contains(styleSystemPrompt(*preset, InputContext{}), sample.promptPhrase);
  }
  out << (ok ? "recording mode ok\n" : "recording mode failed\n");
  return ok ? 0 : 1;
}

int runRecordingModeCheck(std::ostream& out) { return runRecordingModeCheck(out, defaultRecordingModeCases()); }

std::vector<MorseCase> defaultMorseCases() {
  return {
      {"SOS", "··· / --- / ···", {}},
      {"开会 9", std::nullopt, {"-", "·", "----·", "/"}},
  };
}

int runMorseCipherCheck(std::ostream& out, std::span<const MorseCase> cases) {
  std::vector<std::string> encodings;
  bool ok = true;
  for (const auto& sample : cases) {
    std::string encoded = MorseCipher::encode(sample.text);
    if (sample.exact) ok = ok && encoded == *sample.exact;
    for (const auto& part : sample.mustContain) ok = ok && text::contains(encoded, part);
    encodings.push_back(std::move(encoded));
  }
  if (ok) {
    out << "morse cipher ok\n";
    return 0;
  }
  out << "morse cipher failed\n";
  for (const auto& encoded : encodings) out << encoded << "\n";
  return 1;
}

int runMorseCipherCheck(std::ostream& out) { return runMorseCipherCheck(out, defaultMorseCases()); }

std::vector<PasteTargetCase> defaultPasteTargetCases() {
  return {
      {"codex desktop", R"({"appName":"Codex","bundleIdentifier":"com.openai.codex"})", "codex-ai-chat", "ai-chat"},
      {"codex composer", R"({"appName":"Codex","bundleIdentifier":"com.openai.codex","focusedRole":"AXTextArea"})",
       "focused-text-role", "ai-chat"},
      {"claude desktop, nothing readable",
       R"({"appName":"Claude","bundleIdentifier":"com.anthropic.claudefordesktop"})", "claude-ai-chat", "ai-chat"},
      {"claude new chat", R"({"appName":"Claude","windowTitle":"Claude","visibleText":"New chat\nHow can I help?"})",
       "claude-ai-chat", "ai-chat"},
      {"claude settings", R"({"appName":"Claude","visibleText":"Account\nBilling\nPrivacy"})", std::nullopt,
       "ai-chat"},
      {"agent in terminal",
       R"({"appName":"Terminal","bundleIdentifier":"org.gnome.Terminal","focusedRole":"AXTextArea"})",
       "focused-text-role", "developer"},
      {"terminal prompt line",
       R"({"appName":"Terminal","bundleIdentifier":"org.gnome.Terminal","textBeforeCursor":"$ claude"})",
       "field-or-selection-context", "developer"},
      {"chat assistant page",
       R"({"appName":"Chrome","bundleIdentifier":"com.google.Chrome","focusedRole":"AXWebArea",
           "browserURL":"https://chat.example.com/","browserTitle":"Assistant","visibleText":"Ask anything"})",
       "browser-editing-surface-hint", "browser"},
      {"chat assistant page, editable focus",
       R"({"appName":"Chrome","bundleIdentifier":"com.google.Chrome","focusedRole":"AXWebArea",
           "browserEditableFocused":true,"browserURL":"https://chat.example.com/c/1"})",
       "browser-dom-editable", "browser"},
      {"messenger", R"({"appName":"WeChat","bundleIdentifier":"com.tencent.wechat"})", "wechat-chat", "chat"},
      {"messenger input", R"({"appName":"微信","focusedRole":"AXTextArea","focusedValueSettable":true})",
       "focused-text-role", "chat"},
      {"work messenger", R"({"appName":"Lark","bundleIdentifier":"com.electron.lark"})", "work-chat", "work-chat"},
      {"work messenger by name", R"({"appName":"飞书"})", "work-chat", "work-chat"},
      {"browser article page",
       R"({"appName":"Chrome","bundleIdentifier":"com.google.Chrome","focusedRole":"AXWebArea",
           "browserURL":"https://blog.example.com/posts/rag","browserTitle":"What RAG is",
           "visibleText":"RAG combines retrieval with generation."})",
       std::nullopt, "browser"},
      {"browser form field",
       R"({"appName":"Chrome","bundleIdentifier":"com.google.Chrome","focusedRole":"AXTextField",
           "focusedTitle":"Email","browserURL":"https://shop.example.com/checkout"})",
       "focused-text-role", "browser"},
      {"other browser search box",
       R"({"appName":"Firefox","bundleIdentifier":"org.mozilla.firefox","focusedRole":"AXSearchField",
           "browserURL":"https://www.example.org/"})",
       "focused-text-role", "browser"},
      {"online document", R"({"bundleIdentifier":"com.google.Chrome","focusedRole":"AXGroup",
           "browserURL":"https://docs.qq.com/doc/DV2"})",
       "known-editable-webapp", "browser"},
      {"online document in messenger", R"({"bundleIdentifier":"com.google.Chrome","focusedRole":"AXGroup",
           "browserURL":"https://doc.weixin.qq.com/doc/w3"})",
       "known-editable-webapp", "browser"},
      {"online document by title", R"({"bundleIdentifier":"com.google.Chrome","browserTitle":"周报 - 腾讯文档"})",
       "known-editable-webapp", "browser"},
      {"wiki page", R"({"bundleIdentifier":"com.google.Chrome","browserURL":"https://www.notion.so/Team-Wiki"})",
       "known-editable-webapp", "browser"},
      {"document editor", R"({"bundleIdentifier":"com.google.Chrome","focusedRole":"AXWebArea",
           "browserURL":"https://docs.google.com/document/d/1"})",
       "known-editable-webapp", "browser"},
      {"desktop office canvas", R"({"appName":"Writer","focusedRole":"AXScrollArea","visibleText":"字体 字号 正文"})",
       "focused-editing-surface-hint", "general"},
      {"mail composer", R"({"appName":"Thunderbird Mail","focusedRole":"AXTextArea"})", "focused-text-role", "email"},
  };
}

int runPasteTargetCheck(std::ostream& out, std::span<const PasteTargetCase> cases) {
  bool ok = true;
  for (const auto& sample : cases) {
    const InputContext context = InputContext::synthetic(parseJsonObject(sample.contextJson));
    const auto reason = context.pasteTargetReason();
    const std::optional<std::string> actual = reason ? std::optional<std::string>(*reason) : std::nullopt;
    ok = ok && actual == sample.reason && context.scene() == sample.scene;
  }
  out << (ok ? "paste target ok\n" : "paste target failed\n");
  return ok ? 0 : 1;
}

int runPasteTargetCheck(std::ostream& out) { return runPasteTargetCheck(out, defaultPasteTargetCases()); }

}  // namespace sorvane
