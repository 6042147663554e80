#include "learning/mirla_feedback_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "context/input_context.h"
#include "core/unicode_text.h"
#include "learning/term_learning.h"
#include "postprocess/chat_completions.h"

namespace sorvane {
namespace {

constexpr std::size_t kContextPromptChars = 1800;

constexpr std::array<std::string_view, 15> kFeedbackPrompt{
    "你是 Mirla 的语音输入质量分析器。",
    "用户确认反馈时，你会看到 raw ASR、Mirla 后处理输出、用户最终修改版。",
    "目标：判断这次修改是否暴露出可学习的语音识别问题，尤其是人名、品牌、产品、项目、专业术语、英文缩写、业务词、数字时间或自我纠错。",
    "如果用户只是换了措辞、删了口水话、调整语气、改标点或补充新信息，不要建议加词典。",
    "必须以 diffHint 为准：只有 newSegment 替换了 oldSegment 中一个明确的错误词/错片段，才允许返回 dictionary_terms。",
    "如果 diffHint.isInsertionOnly=true，说明用户只是新增内容；即使 newSegment 里有专有名词，也必须返回空 dictionary_terms，因为这不是 ASR 识别错误。",
    "如果候选词只出现在 userEditedOutput/newSegment，而 rawTranscript 和 mirlaOutput 中没有可对应的误识别片段，不要加入词典。",
    "不要把用户追加、补充、改写出来的新内容当作 ASR 漏识别。",
    "如果用户把 ASR/Mirla 输出里的错词修成明确的新词，dictionary_terms 返回所有应该加入个人词典的正确词。",
    "例：Mirla='你觉得 Cloud 好还是 Kodak 好？' user='你觉得 Claude 好还是 Codex 好？'，应返回 dictionary_terms ['Claude','Codex']。",
    "反例：Mirla='我看了一下，为什么没说话却反出热词？' user='orrin, Codex, OK, mirla。 我看了一下，为什么没说话却反出热词？'，这是纯新增内容，必须返回空数组。",
    "例：raw='我叫林晓，树林的林，春晓的晓'，用户或 Mirla 输出指的是人名，应返回 dictionary_terms ['林晓']。",
    "词典只收正确写法，不收错误写法；不要收普通虚词、整句话、太长短语、情绪词或标点。",
    R"json(只输出 JSON：{"summary":"一句话结论","likely_issue":"asr_proper_noun|asr_number|postprocess_error|self_correction|punctuation_format|user_rephrase|other","dictionary_terms":["值得加入词典的正确词"],"confidence":0.0,"strategy":"下一步策略建议"}。)json",
    "不要输出解释性前后缀。",
};

constexpr std::array<std::string_view, 12> kPassivePrompt{
    "你是 Mirla 的被动词典审计器。",
    "本次没有用户主动编辑；你只能根据 raw ASR、Mirla 后处理输出、上下文，保守判断是否存在值得询问用户确认的新词。",
    "目标：发现可能应该加入个人词典的人名、品牌、产品、项目、专业术语、英文缩写、业务词、中文夹英文概念词。",
    "只有在正确写法非常明确时才返回 dictionary_terms；不确定就返回空数组。",
    "如果 raw 和 Mirla 都只是普通表达、语气词、句子润色、标点格式、泛词、整句话或太长短语，不要建议加词。",
    "如果 finalText 里已经是清楚的专有名词，也可以建议加入词典，但必须是后续 ASR 明显值得保留的词。",
    "例：Mirla 输出包含 'Claude'、'Codex'、'Mirla'、'Qwen3-ASR' 这类稳定专名，可以建议加入。",
    "例：用户说'我叫林晓，树林的林，春晓的晓'，这是在拼读人名，dictionary_terms 应建议 '林晓'。",
    "例：只是 '帮我看一下日志'、'这个方案挺好'，必须返回空数组。",
    "confidence 表示你对“值得弹窗询问用户”的置信度；没有强证据时不要超过 0.70。",
    R"json(只输出 JSON：{"summary":"一句话结论","likely_issue":"asr_proper_noun|asr_number|postprocess_error|self_correction|punctuation_format|user_rephrase|other","dictionary_terms":["建议用户确认加入词典的正确词"],"confidence":0.0,"strategy":"下一步策略建议"}。)json",
    "不要输出解释性前后缀。",
};

constexpr std::array<std::string_view, 3> kCodeFences{"```json", "```JSON", "```"};

std::string joinLines(std::span<const std::string_view> lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out.push_back('\n');
    out.append(lines[i]);
  }
  return out;
}

std::string trimmedText(const Json& object, std::string_view key) {
  return text::trim(jsonString(object, key).value_or(std::string()));
}

double clampConfidence(double value) {
  return std::min(kMaxAnalysisConfidence, std::clamp(value, 0.0, 1.0));
}

}  // namespace

std::string MirlaFeedbackAnalysis::suggestionText() const {
  std::vector<std::string> parts;
  if (!summary.empty()) parts.push_back("结论：" + summary);
  if (!likelyIssue.empty()) parts.push_back("类型：" + likelyIssue);
  if (!dictionaryTerms.empty()) parts.push_back("词典：" + text::join(dictionaryTerms, ", "));
  if (!strategy.empty()) parts.push_back("策略：" + strategy);
  return text::join(parts, "；");
}

std::optional<MirlaFeedbackAnalysis> parseAnalysis(std::string_view answer, std::string_view provider) {
  std::string cleaned(answer);
  for (std::string_view fence : kCodeFences) cleaned = text::replaceLiteral(cleaned, fence, "");
  cleaned = text::trim(cleaned);

  MirlaFeedbackAnalysis analysis;
  analysis.provider = std::string(provider);
  if (auto object = parseJsonObject(cleaned)) {
    analysis.summary = trimmedText(*object, "summary");
    analysis.likelyIssue = trimmedText(*object, "likely_issue");
    analysis.strategy = trimmedText(*object, "strategy");
    const auto array = object->find("dictionary_terms");
    const bool hasArray = array != object->end() && array->is_array();
    if (hasArray && std::all_of(array->begin(), array->end(), [](const Json& v) { return v.is_string(); })) {
      for (const Json& item : *array) {
        std::string term = text::trim(item.get<std::string>());
        if (!term.empty()) analysis.dictionaryTerms.push_back(std::move(term));
      }
    }
    const auto single = jsonString(*object, "dictionary_term");
    if (single) {
      std::string term = text::trim(*single);
      if (!term.empty()) analysis.dictionaryTerms.push_back(std::move(term));
    }
    const auto confidence = object->find("confidence");
    if (confidence != object->end() && confidence->is_number()) {
      analysis.confidence = clampConfidence(confidence->get<double>());
    } else if (confidence == object->end() && jsonString(*object, "summary") && (hasArray || single)) {
      analysis.confidence = kDefaultAnalysisConfidence;
    } else {
      analysis.confidence = kUnsureAnalysisConfidence;
    }
    return analysis;
  }
  if (cleaned.empty()) return std::nullopt;
  analysis.summary = cleaned;
  analysis.likelyIssue = "other";
  analysis.confidence = kUnsureAnalysisConfidence;
  return analysis;
}

bool selfTestParser() {
  const auto analysis = parseAnalysis(
      R"({"summary":"用户把两个英文产品名纠正为常见 AI/开发产品名。","likely_issue":"asr_proper_noun","dictionary_terms":["Claude","Codex"],"confidence":0.93,"strategy":"后续在 AI/开发语境中优先保留这些专有名词。"})",
      "self-test");
  if (!analysis) return false;
  const auto& terms = analysis->dictionaryTerms;
  return analysis->provider == "self-test" && analysis->likelyIssue == "asr_proper_noun" &&
         analysis->confidence == 0.93 && std::find(terms.begin(), terms.end(), "Claude") != terms.end() &&
         std::find(terms.begin(), terms.end(), "Codex") != terms.end();
}

std::span<const std::string_view> feedbackAnalysisPromptLines() { return kFeedbackPrompt; }
std::span<const std::string_view> passiveAuditPromptLines() { return kPassivePrompt; }

std::string feedbackUserMessage(std::string_view rawText, std::string_view finalText, std::string_view editedText,
                                const InputContext& context, bool passiveAudit) {
  const std::string_view userVersion = passiveAudit ? finalText : editedText;
  const std::string raw = text::sanitizeUtf8(rawText);
  const std::string mirla = text::sanitizeUtf8(finalText);
  const std::string user = text::sanitizeUtf8(userVersion);
  const SegmentChange hint = changedSegmentUnclipped(mirla, user);
  Json payload = {
      {"task", passiveAudit ? "mirla_passive_dictionary_audit" : "mirla_feedback_analysis"},
      {"rawTranscript", raw},
      {"mirlaOutput", mirla},
      {"userEditedOutput", user},
      {"diffHint",
       {{"oldSegment", hint.oldSegment},
        {"newSegment", hint.newSegment},
        {"isInsertionOnly", isInsertionOnly(hint)},
        {"mirlaOutput", mirla},
        {"userEditedOutput", user}}},
      {"contextText", context.promptBlock(kContextPromptChars)},
      {"scene", context.scene()},
      {"appName", context.appName},
  };
  return userMessageText(payload, "raw=" + raw + "\nmirla=" + mirla + "\nuser=" + user);
}

Json feedbackRequestBody(std::string_view model, std::string_view rawText, std::string_view finalText,
                         std::string_view editedText, const InputContext& context, bool passiveAudit) {
  const std::string system = joinLines(passiveAudit ? passiveAuditPromptLines() : feedbackAnalysisPromptLines());
  return chatCompletionsBody(model, 0, kFeedbackMaxTokens, system,
                             feedbackUserMessage(rawText, finalText, editedText, context, passiveAudit));
}

}  // namespace sorvane
