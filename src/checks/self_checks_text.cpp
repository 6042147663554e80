#include "checks/self_checks_text.h"

#include <array>

#include "checks/self_checks.h"
#include "core/regex.h"
#include "core/unicode_text.h"
#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"

namespace sorvane {
namespace {

namespace tn = TextNormalizer;

// The recognition hint, as a recogniser that heard nothing returns it.
constexpr std::string_view kHintSentence =
    "Murmly, Codex, DeepSeek API, Deepgram, Qwen3-ASR, Cloudflare Worker, raw transcript, JSONL, CSV, "
    "Markdown, OpenAI API, product roadmap, speechMs, refineMs, paste.";

constexpr std::array<std::string_view, 9> kSampleDictionary{
    "Murmly", "Codex", "DeepSeek", "Deepgram", "Cloudflare", "Edvin", "Tomas", "Sorvane", "Mirla"};

const std::array<AsrGuardCase, 5> kAsrGuardCases{{
    {kHintSentence, 2720, 848, true, std::nullopt, true},
    {"Murmly, Codex, DeepSeek, Deepgram, Cloudflare, Edvin, Tomas, Sorvane, Mirla", 2960, 2466, std::nullopt,
     true, true},
    {"嗯。", 5440, 2500, std::nullopt, std::nullopt, true},
    {"好的。", 5440, 2500, std::nullopt, std::nullopt, false},
    {"今天下午三点半开会，先看用户反馈。", 16000, 3000, false, false, false},
}};

constexpr std::array<CleanupCase, 8> kCleanupCases{{
    {"嗯我想问一下，呃这个方案啊，能不能快一点？", "我想问一下，这个方案，能不能快一点？"},
    {"这个不是要改原原意，呃只是清理嗯停顿。", "这个不是要改原意，只是清理停顿。"},
    {"呃说错了，它千万不能改变原意，只是修饰停顿。", "它千万不能改变原意，只是修饰停顿。"},
    {"今天下午改到周三，不对，改成周五", "今天下午改到周五。"},
    {"我想把这个会订到八点，不对，是九点", "我把会议订到九点。"},
    // The expletive is the user's wording; only the filler after it goes.
    {"你妈了个逼，嗯这个不要删。", "你妈了个逼，这个不要删。"},
    {"嗯嗯", "嗯嗯"},
    {"有两个风险：\n1. 公司电脑数据不能外泄\n2. 不要推到 GitHub",
     "有两个风险：\n1. 公司电脑数据不能外泄\n2. 不要推到 GitHub"},
}};

const std::array<SelfCorrectionCase, 2> kSelfCorrectionCases{{
    {"我想把这个会订到八点，不对，是九点", "我把会议订到九点。", {"八点"}, {"九点"}},
    {"发给 Edvin 的版本先写 2000 块，不对，是 2500 块", "发给 Edvin 的版本先写 2500块。", {"2000"}, {"2500"}},
}};

constexpr std::array<FastpathCase, 7> kFastpathCases{{
    {"好的", true},
    {"谢谢你", true},
    {"可以了谢谢", true},
    {"我想问一下现在到底有没有接大模型", false},
    {"这个概念", false},
    {"第一点", false},
    {"DeepSeek", false},
}};

const std::array<ParagraphCase, 4> kParagraphCases{{
    {"这个方案可以，但今天先别发版。", {}},
    {"这个需求是合理的，但是我们不能为了好看去改用户原意。所以更好的方式是只做换行，让同一段话里不同的意思自然分开。",
     {"所以"}},
    {"我觉得这个事情可以先这么做。我们先保持轻量，不要做得太重，先把用户真实说的话处理干净。所以这里最重要的不是把它改成报告，而是让它读起来更轻松。另外如果用户一口气说了很多内容，我们可以在自然转折处换段，但是不要强行加标题，也不要每一句都换行。再加上这个能力本质上只是视觉呈现，去掉换行以后，文字顺序和原意应该完全一致。",
     {"所以", "再加"}},
    {"这个事情。现在它最麻烦的地方不是某一个按钮不好用，而是用户一路说下来以后，内容会堆在一起，看起来很累。所以最终文本需要像正常写出来的一样，有自然的停顿和呼吸。另一方面，我们不能为了格式好看就改掉用户真正表达的意思，尤其是数字、否定、情绪和专有名词都要保留。另外，如果用户中途补充了一个条件，后面的内容应该另起一段承接，而不是继续挤在同一行里。最后，整体效果应该轻一点，像输入法自动帮忙排版，而不是变成报告。",
     {"所以", "另外"}},
}};

// References are written as a person would lay them out; only the comparison key counts.
constexpr std::array<FormatCase, 12> kFormatCases{{
    {"嗯我想问一下，呃这个方案啊，能不能快一点？", "我想问一下，这个方案，能不能快一点？"},
    {"下午三点半开会，讨论两千块预算", "下午3:30开会，讨论2000块预算。"},
    {"用 codex 写一个demo给大家看", "用Codex写一个demo给大家看。"},
    {"我想确认一下 是不是今天", "我想确认一下，是不是今天？"},
    {"这个东西其实不是不行，就是现在表达有点绕", "我觉得这个东西不是不行，而是现在表达有点绕。"},
    {"把文件名改成 config.json，不对，是 settings.json", "把文件名改成 settings.json。"},
    {"我第一次来北京，第二次是去年。", "我第一次来北京，第二次是去年。"},
    {"首先要把识别做准，其次要降低延迟，最后要稳定", "1. 要把识别做准\n2. 要降低延迟\n3. 要稳定"},
    {"流程如下，先录音，然后识别，再修正，最后粘贴", "流程如下：\n1. 录音\n2. 识别\n3. 修正\n4. 粘贴"},
    {"我们要做到三点 准确、快速、稳定。", "我们要做到三点：\n1. 准确\n2. 快速\n3. 稳定"},
    {"先说背景，上周有三个客户反馈粘贴失败。风险是下周发版可能赶不上，方案是先修粘贴再发版。",
     "背景：上周有三个客户反馈粘贴失败。\n\n风险：下周发版可能赶不上。\n\n方案：先修粘贴再发版。"},
    {"这个需求是合理的，但是我们不能为了好看去改用户原意。所以更好的方式是只做换行，让同一段话里不同的意思自然分开。",
     "这个需求是合理的，但是我们不能为了好看去改用户原意。\n\n所以更好的方式是只做换行，让同一段话里不同的意思自然分开。"},
}};

std::vector<std::string> paragraphsOf(const std::string& text) {
  std::vector<std::string> paragraphs;
  std::size_t begin = 0;
  for (std::size_t at = text.find("\n\n"); at != std::string::npos; at = text.find("\n\n", begin)) {
    paragraphs.push_back(text.substr(begin, at - begin));
    begin = at + 2;
  }
  paragraphs.push_back(text.substr(begin));
  return paragraphs;
}

bool paragraphsAsExpected(const ParagraphCase& sample) {
  const std::string broken = tn::addGentleSemanticParagraphBreaks(sample.input);
  if (text::replaceLiteral(broken, "\n\n", "") != sample.input) return false;
  const std::vector<std::string> paragraphs = paragraphsOf(broken);
  if (paragraphs.size() != sample.paragraphStarts.size() + 1) return false;
  for (std::size_t i = 0; i < sample.paragraphStarts.size(); ++i) {
    if (!text::startsWith(paragraphs[i + 1], sample.paragraphStarts[i])) return false;
  }
  return true;
}

}  // namespace

std::string formatComparisonKey(std::string_view text) {
  static const Regex whiteSpace(R"(\s+)");
  return whiteSpace.replaceAll(text, "");
}

int runAsrGuardCheck(std::ostream& out, std::span<const AsrGuardCase> cases,
                     std::span<const std::string_view> dictionaryTerms) {
  // The sample dictionary stands in for the user's.
  const std::vector<std::string> terms(dictionaryTerms.begin(), dictionaryTerms.end());
  bool ok = true;
  for (const AsrGuardCase& sample : cases) {
    if (sample.hintEcho && tn::isASRHintEcho(sample.text) != *sample.hintEcho) ok = false;
    if (sample.dictionaryEcho && tn::isPersonalDictionaryEcho(sample.text, terms) != *sample.dictionaryEcho) ok = false;
    if (tn::isLikelyEmptySpeechHallucination(sample.text, sample.flushedBytes, sample.recordingMs, terms) !=
        sample.hallucination) {
      ok = false;
    }
  }
  out << (ok ? "asr guard ok" : "asr guard failed") << "\n";
  return ok ? 0 : 1;
}

int runAsrGuardCheck(std::ostream& out) { return runAsrGuardCheck(out, kAsrGuardCases, kSampleDictionary); }

int runDisfluencyCleanupCheck(std::ostream& out, std::span<const CleanupCase> cases) {
  std::vector<std::string> failures;
  for (const CleanupCase& sample : cases) {
    const std::string actual = tn::normalizeFinal(sample.input);
    if (actual == sample.expected) continue;
    failures.push_back("input=" + std::string(sample.input));
    failures.push_back("expected=" + std::string(sample.expected));
    failures.push_back("actual=" + actual);
  }
  if (failures.empty()) {
    out << "disfluency cleanup ok\n";
    return 0;
  }
  out << "disfluency cleanup failed\n";
  for (const std::string& line : failures) out << line << "\n";
  return 1;
}

int runDisfluencyCleanupCheck(std::ostream& out) { return runDisfluencyCleanupCheck(out, kCleanupCases); }

int runSelfCorrectionCheck(std::ostream& out, std::span<const SelfCorrectionCase> cases) {
  bool ok = true;
  for (const SelfCorrectionCase& sample : cases) {
    if (tn::normalizeFinal(sample.input) != sample.expected) ok = false;
    for (std::string_view token : sample.supersededTokens) {
      if (!isSupersededByExplicitCorrection(token, sample.input)) ok = false;
    }
    for (std::string_view token : sample.keptTokens) {
      if (isSupersededByExplicitCorrection(token, sample.input)) ok = false;
    }
  }
  if (ok) {
    out << "self correction ok\n";
    return 0;
  }
  out << "self correction failed\n";
  if (!cases.empty()) out << tn::normalizeFinal(cases.front().input) << "\n";
  return 1;
}

int runSelfCorrectionCheck(std::ostream& out) { return runSelfCorrectionCheck(out, kSelfCorrectionCases); }

int runRefineFastpathCheck(std::ostream& out, std::span<const FastpathCase> cases) {
  bool ok = true;
  for (const FastpathCase& sample : cases) {
    if (tn::shouldSkipRemoteRefine(sample.text) != sample.skipsRemote) ok = false;
  }
  out << (ok ? "refine fastpath ok" : "refine fastpath failed") << "\n";
  return ok ? 0 : 1;
}

int runRefineFastpathCheck(std::ostream& out) { return runRefineFastpathCheck(out, kFastpathCases); }

int runGentleParagraphsCheck(std::ostream& out, std::span<const ParagraphCase> cases) {
  bool ok = true;
  for (const ParagraphCase& sample : cases) {
    if (!paragraphsAsExpected(sample)) ok = false;
  }
  out << (ok ? "gentle paragraphs ok" : "gentle paragraphs failed") << "\n";
  return ok ? 0 : 1;
}

int runGentleParagraphsCheck(std::ostream& out) { return runGentleParagraphsCheck(out, kParagraphCases); }

int runMurmlyFormatCheck(std::ostream& out, std::span<const FormatCase> cases) {
  std::vector<std::string> failures;
  for (const FormatCase& sample : cases) {
    const std::string actual = tn::normalizeFinal(sample.input);
    if (formatComparisonKey(actual) == formatComparisonKey(sample.reference)) continue;
    failures.push_back("input=" + std::string(sample.input));
    failures.push_back("expected=" + std::string(sample.reference));
    failures.push_back("actual=" + actual);
  }
  if (failures.empty()) {
    out << "murmly format ok\n";
    return 0;
  }
  out << "murmly format failed\n";
  for (const std::string& line : failures) out << line << "\n";
  return 1;
}

int runMurmlyFormatCheck(std::ostream& out) { return runMurmlyFormatCheck(out, kFormatCases); }

}  // namespace sorvane
