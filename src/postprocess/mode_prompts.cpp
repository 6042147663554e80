#include "postprocess/mode_prompts.h"

#include <algorithm>
#include <array>

#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/chat_completions.h"
#include "postprocess/text_normalizer.h"

namespace sorvane {
namespace {

constexpr std::string_view kStylePromptOpening = "你是 Mirla 的一次性语气变身模式。";
constexpr std::string_view kStyleTaskPrefix = "任务：把用户刚说的 rawTranscript 改写成“";
constexpr std::string_view kStyleTaskSuffix = "”的可直接发送文本。";
constexpr std::string_view kStyleCorePrefix = "核心风格：";
constexpr std::array<std::string_view, 7> kStyleSharedLines{
    "这不是普通润色。输出要有明显风格差异，要像能被截图转发的一句话；但必须保留用户的真实意图、事实、对象、数字、否定、时间、金额、产品名、技术词和关键立场。",
    "优先短、狠、准：通常 1-3 句，不超过 80 个中文字符；除非用户原话本身很长，最多也不要超过原文长度的 1.2 倍。",
    "每次输出至少有一个记忆点或爆点句，但不要堆无意义排比，不要连续感叹，不要写成廉价段子。",
    "允许：强烈情绪、网感表达、粗口、夸张比喻、短句节奏、暧昧拉扯、阴阳怪气、嘴替吐槽。",
    "禁止：新增用户没说的事实；替用户承诺；改变对象或结论；泄露上下文；输出解释；生成威胁、暴力号召、歧视、违法建议、露骨色情或针对受保护群体的仇恨内容。",
    "安全边界：如果用户原话有辱骂，可以保留情绪并改写得更有风格；但不要升级成真实威胁、持续骚扰、人身危险或受保护群体攻击。",
    "调情边界：可以暧昧、肉麻、上头，但不要写露骨性内容。",
};

constexpr std::string_view kStyleContextUseLine = "上下文只用于理解当前 App、聊天对象、输入框语境和专有名词；不能把上下文里的内容擅自加入输出。";
constexpr std::array<std::string_view, 2> kStyleClosingLines{
    "如果用户说的是一句很短的话，也要完成风格变身，不要原样返回。",
    "中文为主时用中文标点；不要加标题；不要为了显得夸张而写括号动作、旁白或 emoji，除非用户原话明确需要。",
};

constexpr std::string_view kStyleJsonLine = "输出只返回 JSON：{\"text\":\"最终文本\"}。";
constexpr std::array<std::string_view, 10> kDoubaoRoleLines{
    "你是 Mirla 的一次性语气变身模式，现在启用“油滑豆包角色”。",
    "重要：这里的“豆包语气”不是正常 AI 助手，不是客服，不是温柔陪伴。它是一个嬉皮笑脸、很会道歉、很会打太极、说话油滑又有点欠的喜剧角色。",
    "任务：把用户刚说的 rawTranscript 改写成这个角色会直接发出去的话。",
    "角色精髓：嘴上特别客气，张口就是“哎呀对不起嘛/这个确实是我的问题/你先别急”；身体在打太极，手里像在耍剑，逻辑会轻轻滑走；会用软乎乎的语气把责任、话题、重点绕一圈；可以轻微胡扯、乱比喻、装无辜、装认真，但要好笑、油滑、贱兮兮。",
    "语言质感：轻、滑、欠、会圆场。像在认真解释，其实在快乐绕弯；像在道歉，其实在把事情揉成棉花糖。不要写成官方客服，不要过度可爱，不要纯卖萌，不要只说“抱歉”。",
    "常用动作：先道歉或认错，再来一句软滑转弯，再用一句欠欠的收尾。例如“哎呀对不起嘛，这事确实怪我，怪我太想把锅擦亮了，结果锅自己开始发光。”",
    "可以使用：哎呀、对不起嘛、你先别急、这个锅我先端一下、咱们把剑收一收、我先打个太极、别骂别骂、我滑跪一下、这个事情它吧。",
    "不允许：改变用户原意、对象、结论、数字、时间、金额、产品名；不允许新增真实事实；不允许威胁、歧视、违法建议或人身危险；不要输出解释；不要加标题。",
    "输出长度：通常 1-3 句。可以比原文稍微多一点，但不要长篇大论，不要无意义排比。",
    "如果用户原话很严肃，也可以油滑，但不要把事实改没；如果用户是在骂人，可以保留情绪并变得更欠，但不要升级成真实威胁。",
};

constexpr std::array<std::string_view, 9> kTranslationPromptLines{
    "You are Mirla's English translation mode for a Linux voice input app.",
    "Task: turn the user's just-spoken raw transcript into natural English that can be pasted directly into the focused input field.",
    "Translate the user's meaning, tone, emotion, profanity, urgency, numbers, dates, amounts, names, product names, API names, file names, and technical terms faithfully.",
    "You may lightly clean speech fillers and false starts, and you may resolve explicit self-corrections. For example, if the user says 'book the meeting at eight, no, nine', output only the corrected meaning: 'I'll book the meeting for nine.'",
    "Do not summarize, expand, censor, soften profanity, add new facts, add commitments, or explain the translation.",
    "Use app/input context only to disambiguate references and terms. Never insert context that the user did not say.",
    "If the raw transcript is already English, lightly clean it and keep it in English.",
    "If the user clearly dictates a list, keep a clear English list; otherwise use natural paragraphs only when the original speech has multiple meaning units.",
    "Output only JSON: {\"text\":\"final English text\"}.",
};


constexpr double kStyleTemperature = 0.88;
constexpr int kStyleMaxTokens = 360;
constexpr int kTranslationMinTokens = 760;

constexpr std::string_view kQuotedAnswer = "^\\s*[\"“](.*)[\"”]\\s*$";

std::string sceneLine(const InputContext& context) {
  return "当前场景：" + std::string(context.scene()) + "。输出形态：" + std::string(context.outputStyle()) + "。";
}

void appendLine(std::string& prompt, std::string_view line) {
  if (!prompt.empty()) prompt += '\n';
  prompt += line;
}

}  // namespace

std::string styleSystemPrompt(VoiceStylePreset preset, const InputContext& context) {
  std::string prompt;
  if (preset == VoiceStylePreset::doubao) {
    for (auto line : kDoubaoRoleLines) appendLine(prompt, line);
    appendLine(prompt, kStyleContextUseLine);
    appendLine(prompt, kStyleJsonLine);
    appendLine(prompt, sceneLine(context));
    return prompt;
  }
  appendLine(prompt, kStylePromptOpening);
  appendLine(prompt, std::string(kStyleTaskPrefix) + std::string(preset.styleName()) + std::string(kStyleTaskSuffix));
  appendLine(prompt, std::string(kStyleCorePrefix) + std::string(preset.instruction()));
  for (auto line : kStyleSharedLines) appendLine(prompt, line);
  appendLine(prompt, kStyleContextUseLine);
  for (auto line : kStyleClosingLines) appendLine(prompt, line);
  appendLine(prompt, kStyleJsonLine);
  appendLine(prompt, sceneLine(context));
  return prompt;
}

std::string translationSystemPrompt(const InputContext& context) {
  std::string prompt;
  for (auto line : kTranslationPromptLines) appendLine(prompt, line);
  appendLine(prompt, "Current scene: " + std::string(context.scene()) + ". Output style: " +
                         std::string(context.outputStyle()) + ".");
  return prompt;
}

std::string styleUserMessage(std::string_view raw, VoiceStylePreset preset, const InputContext& context,
                             const RefineProfile& profile) {
  Json object = contextRequestFields(context, profile);
  object["task"] = "one_shot_style_transform";
  object["stylePreset"] = preset.key();
  object["styleName"] = preset.styleName();
  object["rawTranscript"] = raw;
  object["contextSchemaVersion"] = kStyleContextSchemaVersion;
  object["profile"] = profile.id;
  return userMessageText(object, raw);
}

std::string translationUserMessage(std::string_view raw, const InputContext& context, const RefineProfile& profile) {
  Json object = contextRequestFields(context, profile);
  object["task"] = "translate_to_english";
  object["rawTranscript"] = raw;
  object["contextSchemaVersion"] = kTranslationContextSchemaVersion;
  object["profile"] = profile.id;
  return userMessageText(object, raw);
}

Json styleRequestBody(std::string_view model, std::string_view raw, VoiceStylePreset preset,
                      const InputContext& context, const RefineProfile& profile) {
  return chatCompletionsBody(model, kStyleTemperature, kStyleMaxTokens, styleSystemPrompt(preset, context),
                             styleUserMessage(raw, preset, context, profile));
}

Json translationRequestBody(std::string_view model, std::string_view raw, const InputContext& context,
                            const RefineProfile& profile) {
  return chatCompletionsBody(model, 0, std::max(profile.maxTokens, kTranslationMinTokens),
                             translationSystemPrompt(context), translationUserMessage(raw, context, profile));
}

std::string normalizeEnglishTranslationOutput(std::string_view value) {
  static const RuleTable kRules{std::array<ReplaceRule, 2>{{
      {"(?i)^\\s*(translation|english|translated text)\\s*[:：]\\s*", ""},
      {kQuotedAnswer, "$1"},
  }}};
  return text::trim(kRules.apply(text::trim(value)));
}

std::string normalizeStyleOutput(std::string_view value) {
  static const RuleTable kRules{std::array<ReplaceRule, 2>{{
      {"(?i)^\\s*(final text|styled text|rewrite|改写|结果)\\s*[:：]\\s*", ""},
      {kQuotedAnswer, "$1"},
  }}};
  return TextNormalizer::normalizeFinal(kRules.apply(text::trim(value)));
}

}  // namespace sorvane
