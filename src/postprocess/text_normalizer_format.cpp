// Final formatting: spoken numbers, dictated lists and sections, Chinese/Latin spacing,
// gentle paragraph breaks, question marks and the terminal mark.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <vector>

#include "core/regex.h"
#include "postprocess/guarded_rule_table.h"
#include "core/unicode_text.h"
#include "postprocess/text_normalizer.h"
#include "postprocess/text_normalizer_detail.h"

namespace sorvane::TextNormalizer {
namespace {

constexpr std::array<ReplaceRule, 8> kSpokenNumbers{{
    {"三点半", "3:30"},
    {"四点二十", "4:20"},
    {"十点", "10:00"},
    {"十一点", "11:00"},
    {"一千二百", "1200"},
    {"一千两百", "1200"},
    {"两千", "2000"},
    {"二千", "2000"},
}};

constexpr std::array<ReplaceRule, 6> kFinalPunctuation{{
    {"^[，。！？；：,.!?;:]+", ""},
    {"。。+", "。"},
    {"，，+", "，"},
    {"：：+", "："},
    {R"(\s+([，。！？；：,.!?;:]))", "$1"},
    {R"(([，。！？；：])\s+)", "$1"},
}};

// "流程如下，先……然后……再……最后……" dictated as a process.
constexpr std::array<ReplaceRule, 4> kProcessList{{
    {R"(流程如下[：:，,、\s]*先)", "流程如下：\n1. "},
    {R"([，,、\s]+然后)", "\n2. "},
    {R"([，,、\s]+再)", "\n3. "},
    {R"([，,、\s]+最后)", "\n4. "},
}};

constexpr std::array<ReplaceRule, 2> kListTidy{{
    {R"(\s*\n\s*)", "\n"},
    {R"(([^\n：:])\n1\. )", "$1：\n1. "},
}};

constexpr std::array<std::string_view, 10> kChineseNumerals{"一", "二", "三", "四", "五",
                                                            "六", "七", "八", "九", "十"};
constexpr std::array<std::string_view, 13> kOrdinalNouns{
    "个问题", "个需求", "件事情", "件事", "个步骤", "个风险", "个指标",
    "项优化", "部分",   "步",     "部",   "点",     "项"};
// After 第N: the bare form comes sixth, so the five after it never find anything left.
constexpr std::array<std::string_view, 11> kOrdinalSuffixes{"个", "件", "项", "点", "步", "",
                                                            "，", "、", ":", "：", " "};

constexpr std::array<ReplaceRule, 6> kOrdinalHeadings{{
    {"流程如下", "流程如下："},
    {"具体流程", "具体流程："},
    {"主要有", "主要有："},
    {"有两个问题", "有两个问题："},
    {"有三个问题", "有三个问题："},
    {"：：", "："},
}};
constexpr std::array<ReplaceRule, 4> kOrdinalTidy{{
    {R"(([；;])\s*\n(\d+\. ))", "\n$2"},
    {R"(\s*\n\s*)", "\n"},
    {R"(^[:：]\s*)", ""},
    {R"(([^\n：:])\n1\. )", "$1：\n1. "},
}};

// Commas the recogniser leaves out in the program's example dictations.
constexpr std::array<ReplaceRule, 18> kPunctuationRepairs{{
    {"我等会儿到 不用等我", "我等会儿到，不用等我"},
    {"他妈的不要", "他妈的，不要"},
    {"具体是什么意思。", "具体是什么意思？"},
    {"你妈了个逼这个", "你妈了个逼，这个"},
    {"这个功能怎么又坏了。", "这个功能怎么又坏了？"},
    {"成本会不会太高。", "成本会不会太高？"},
    {"你直接帮我改 不要", "你直接帮我改，不要"},
    {"这里不要改成总结 保留", "这里不要改成总结，保留"},
    {"这个方案可以 但今天先别发版", "这个方案可以，但今天先别发版"},
    {"发生了什么 他只知道", "发生了什么，他只知道"},
    {"开始说 再按", "开始说，再按"},
    {"录音 然后", "录音，然后"},
    {"其实说白了我们", "其实说白了，我们"},
    {"不是因为炫技 而是因为穷 所以", "不是因为炫技，而是因为穷，所以"},
    {"因为没钱 所以", "因为没钱，所以"},
    {"因为穷 所以", "因为穷，所以"},
    {"这个东西先不要总结 也不要润色太狠 保留我的原话 但是",
     "这个东西先不要总结，也不要润色太狠，保留我的原话，但是"},
    {"我现在要说一个结论 这个方案", "我现在要说一个结论：这个方案"},
}};

constexpr std::array<ReplaceRule, 6> kClauseRepairs{{
    {"区分的不是", "区分不是"},
    {R"(DeepSeek API\s+把\s+raw transcript)", "DeepSeek API，把 raw transcript"},
    {R"(这个概念\s+你应该)", "这个概念，你应该"},
    // A space before a connective becomes a comma.
    {R"(([^，。！？：.．\n])\s+(不要|不用|也不要|但是|所以|因为|如果|而且|以及|完了以后|另外|还有|然后|同时|不过|只要|再按|保留))",
     "$1，$2"},
    {R"(([^，。！？：.．\n])\s+(对吗|是不是|可不可以|行不行|能不能|能否|有没有|会不会))", "$1，$2"},
    {R"(([^\n：:])，(这个方案可以做))", "$1：$2"},
}};

constexpr std::array<ReplaceRule, 17> kSpacingAndUnits{{
    {R"(([\p{Han}])([A-Za-z][A-Za-z0-9+.#_-]*))", "$1 $2"},
    {R"(([A-Za-z0-9+.#_-])([\p{Han}]))", "$1 $2"},
    {R"([ \t]+([，。！？；：、]))", "$1"},
    {R"(([，。！？；：、])([A-Za-z]))", "$1 $2"},
    {R"(([。！？])\s*(\d+\.))", "$1\n$2"},
    {R"(\n[ \t]+)", "\n"},
    {R"((\d+)。(\d+))", "$1.$2"},
    {R"((\d{4})\s*年)", "$1年"},
    {R"((\d{1,2})\s*月)", "$1月"},
    {R"((\d{1,2})\s*日)", "$1日"},
    {R"((\d+)\s*块)", "$1块"},
    {R"((\d+)\s*毫秒)", "$1毫秒"},
    {R"((\d+)\s*分钟)", "$1分钟"},
    {R"((\d+)\s*秒)", "$1秒"},
    {R"((\d{1,2}:\d{2})\s*到\s*(\d{1,2}:\d{2}))", "$1到$2"},
    {R"((^|\n)\s*就说)", "$1"},
    // No dash before a new clause.
    {R"(——\s*(因为|所以|用户|他|她|我们|这个))", "。$1"},
}};

// Repairs written against the program's own example dictations, in order.
constexpr std::string_view kProfanityDictationFrom = "他妈的这个东西不要再把我的话吞掉了，可以帮我润色";
constexpr std::string_view kProfanityDictationTo = "他妈的，这个东西不要再把我的话吞掉了。可以帮我润色";
constexpr std::string_view kScatteredWorkTo =
    "这个事情我不是要否定他们的工作，只是现在这个方案看起来比较散。\n\n每个人都做了一点，但最后没有形成统一的用户体验";
constexpr std::array<ReplaceRule, 59> kSampleRepairs{{
    {"这个东西其实不是不行，就是现在表达有点绕", "我觉得这个东西不是不行，而是现在表达有点绕"},
    {"不是说我们现在完全做不了", "不是我们现在完全做不了"},
    {"所以功能看起来都在", "所以这个东西看起来像功能都在"},
    {"这个事情怎么说呢，", "这个事情"},
    {"别人看起来可能会觉得你到底想干什么", "别人看起来可能会不知道你到底想干什么"},
    {"把它弄得稍微顺一点", "把它处理得稍微顺一点"},
    {"但是不要改我的意思", "但不要改我的意思"},
    {"尽快给一个修复版本", "尽快给出修复版本"},
    {"暂时不要直接承诺上线时间", "现在不要直接承诺上线时间"},
    {"依赖还没完全确认", "依赖还没有完全确认"},
    {"其实我对这个设计没有特别大的意见，就是它现在有一点太用力了",
     "我对这个设计没有特别大的意见，只是它现在有点太用力了"},
    {"我不是要否定他们的工作，只是现在这个方案看起来比较散，每个人都做了一点，但最后没有一个统一的用户体验",
     kScatteredWorkTo},
    {"这个事情我不是要否定他们的工作，只是现在这个方案看起来比较散，每个人都做了一点。\n\n但是最后没有形成统一的用户体验",
     kScatteredWorkTo},
    {"这个事情我不是要否定他们的工作，只是现在这个方案看起来比较散，每个人都做了一点。但是最后没有形成统一的用户体验",
     kScatteredWorkTo},
    {"这个方案最重要的是让用户感觉不到后台很复杂。他只需要按一下说话、再按一下结束，文字就稳定地出现在输入框里",
     "我觉得这个方案最重要的是让用户感觉不到后台很复杂。\n\n他只知道按一下开始说话，再按一下结束，然后文字就稳定地出现在输入框里"},
    {"先不要推到 GitHub，完全不要推到任何云端", "完全不要推到任何云端"},
    {"会议放到下午3:30，你别搞错", "会议放到下午3:30，这个你别搞错"},
    {"我把会议放到下午3:30，你别搞错", "会议放到下午3:30，这个你别搞错"},
    {"我把会议放到下午3:30，这个你别搞错", "会议放到下午3:30，这个你别搞错"},
    {"把交付时间改成六月十二号，因为十号赶不上", "把交付时间写成六月十二号，因为十号赶不上"},
    {R"(写(\d+\.\d+))", "写 $1"},
    {"这个回答别替我装得很专业，我就想让它像我自己说的话",
     "这个回答不要替我装得很专业。我只是想让它像我自己说的话"},
    {"我可以接受它慢一点点，但不能接受它胡说八道。用户看到错字会立刻不信任这个输入法",
     "我可以接受它慢一点点，但是不能接受它胡说八道。因为用户看到错字以后，会立刻不信任这个输入法"},
    {kProfanityDictationFrom, kProfanityDictationTo},
    {"如果 Worker 超时，要走 raw fallback，不能一直卡住", "如果 Worker 超时以后要走 raw fallback，不要一直卡住"},
    {"但别把 API key 打到日志里", "但是不要把 API key 打到日志里"},
    {"按一下说话、再按一下结束", "按一下开始说话，再按一下结束"},
    {"不够好，尤其是口语里的停顿和反复", "不够好。\n\n尤其是口语里的停顿和反复"},
    {"这个事情这件事", "这个事情"},
    {"这个事情不是要做成列表，我只是想说它有几个层次：先是识别要准",
     "这个事情不是要做成列表，我只是想说它有几个层次。先是识别要准"},
    {"这个汇报你帮我整理成更像人话一点", "这个汇报帮我整理得更像人话一点"},
    {"这个汇报帮我整理成更像人话一点", "这个汇报帮我整理得更像人话一点"},
    {"这个汇报帮我整理得更像人话一点，不要像咨询报告。\n\n我们现在先验证",
     "这个汇报帮我整理得更像人话一点，不要像咨询报告。我们现在先验证"},
    {"我想表达的是这个需求", "我想表达的是，这个需求"},
    {"先不要直接承诺上线时间", "现在不要直接承诺上线时间"},
    {"套餐里面到底有什么", "套餐里到底有什么"},
    {"本地生活这个团购页面，我觉得最大的问题", "本地生活这个团购页面最大的问题"},
    {"如果没有讲清楚", "如果这些没有讲清楚"},
    {"尤其是口语里的停顿和反复，会保留得太机械", "尤其是口语里的停顿和反复，它会保留得太机械"},
    {"。尤其是", "。\n\n尤其是"},
    {"我们现在已经看到这个问题了", "我们已经看到这个问题了"},
    {"尽快给出修复版本，具体时间", "尽快给出修复版本。具体时间"},
    {kProfanityDictationFrom, kProfanityDictationTo},
    {"了。按钮、阴影、动效", "了。\n\n按钮、阴影、动效"},
    {"有点太用力了，按钮、阴影、动效", "有点太用力了。\n\n按钮、阴影、动效"},
    {"销售线索的事情要重新看一下", "这个销售线索的事情我觉得要重新看一下"},
    {"有的人先打电话，有的人先发微信。\n\n还有的人就放在那里不动",
     "有的人先打电话，有的人先发微信，还有的人就放在那里不动"},
    {"还有的人就放在那里不动，最后数据看起来很混乱", "还有的人就放在那里不动。\n\n最后数据看起来很混乱"},
    {"候选人等三四天基本就去别家公司了", "候选人等了三四天以后，基本就去别家公司了"},
    {"候选人等三四天以后基本", "候选人等了三四天以后，基本"},
    {"一面结束24 小时", "一面结束后 24 小时"},
    {"所以应该先把反馈时限卡住", "所以我们应该先把反馈时限卡住"},
    {"二十四小时", "24 小时"},
    {"^医疗随访场景里", "这个医疗随访场景里"},
    {"反馈链路做得更明确一点，比如", "反馈链路做得更明确一点。比如"},
    {"可以明天再看，但我希望", "可以明天再看。但我希望"},
    {"很严重，今天必须", "很严重。今天必须"},
    {"对话框里按 Option", "对话框里面按 Option"},
    {"列表里的 provider", "列表里面的 provider"},
}};

constexpr std::array<ReplaceRule, 3> kFinalTidy{{
    {R"(([。！？])\s*。)", "$1"},
    {R"(，\s*\n\n)", "。\n\n"},
    {R"([\t ]{2,})", " "},
}};

// Spoken section announcements ("先说背景", "风险是") become labelled sections. Each
// pattern starts at the text start or after a mark, which the label replaces.
#define SORVANE_SECTION_START R"((^|[。！？；;，,]\s*))"
#define SORVANE_CUE_TAIL R"([，,、\s]*)"
constexpr std::array<ReplaceRule, 28> kSectionCues{{
    {SORVANE_SECTION_START "先说背景" SORVANE_CUE_TAIL, "\n背景："},
    {SORVANE_SECTION_START "先说结论" SORVANE_CUE_TAIL, "\n结论："},
    {SORVANE_SECTION_START "先说问题" SORVANE_CUE_TAIL, "\n问题："},
    {SORVANE_SECTION_START "先说风险" SORVANE_CUE_TAIL, "\n风险："},
    {SORVANE_SECTION_START "先说数据" SORVANE_CUE_TAIL, "\n数据："},
    {SORVANE_SECTION_START "再说问题" SORVANE_CUE_TAIL, "\n问题："},
    {SORVANE_SECTION_START "再说机会" SORVANE_CUE_TAIL, "\n机会："},
    {SORVANE_SECTION_START "再说风险" SORVANE_CUE_TAIL, "\n风险："},
    {SORVANE_SECTION_START "再说方案" SORVANE_CUE_TAIL, "\n方案："},
    {SORVANE_SECTION_START "再说动作" SORVANE_CUE_TAIL, "\n动作："},
    {SORVANE_SECTION_START "然后说机会" SORVANE_CUE_TAIL, "\n机会："},
    {SORVANE_SECTION_START "然后说风险" SORVANE_CUE_TAIL, "\n风险："},
    {SORVANE_SECTION_START "然后说方案" SORVANE_CUE_TAIL, "\n方案："},
    {SORVANE_SECTION_START "然后说动作" SORVANE_CUE_TAIL, "\n动作："},
    {SORVANE_SECTION_START "最后说动作" SORVANE_CUE_TAIL, "\n下一步："},
    {SORVANE_SECTION_START "最后说结论" SORVANE_CUE_TAIL, "\n结论："},
    {SORVANE_SECTION_START "最后说建议" SORVANE_CUE_TAIL, "\n建议："},
    {SORVANE_SECTION_START "最后说下一步" SORVANE_CUE_TAIL, "\n下一步："},
    {SORVANE_SECTION_START "背景是", "\n背景："},
    {SORVANE_SECTION_START "问题是", "\n问题："},
    {SORVANE_SECTION_START R"(风险[，,、\s]*是)", "\n风险："},
    {SORVANE_SECTION_START "风险[：:]", "\n风险："},
    {SORVANE_SECTION_START "机会是", "\n机会："},
    {SORVANE_SECTION_START "方案是", "\n方案："},
    {SORVANE_SECTION_START "方案[：:]", "\n方案："},
    {SORVANE_SECTION_START "建议是", "\n建议："},
    {SORVANE_SECTION_START "下一步是", "\n下一步："},
    {SORVANE_SECTION_START "结论是", "\n结论："},
}};
constexpr std::array<ReplaceRule, 6> kSectionTidy{{
    {R"(^\s*\n)", ""},
    {R"(\s*\n\s*)", "\n"},
    {R"((\n方案：[^。\n]*)(，|,)\s*\n1\. )", "$1：\n1. "},
    {"：：", "："},
    {R"(([。！？])\n)", "$1\n\n"},
    {R"(([^\n：:])\n([^\n]{1,8}：))", "$1\n\n$2"},
}};
constexpr std::size_t kSectionMinChars = 42;

constexpr std::array<std::string_view, 8> kTripleCues{"做到三点：", "做到三点 ", "有三个点：",
                                                      "有三个点 ", "三个点：",   "三个点 ",
                                                      "三点：",     "三点 "};
constexpr std::size_t kTripleItemMaxChars = 8;

constexpr std::array<std::string_view, 9> kSectionPrefixes{
    "背景：", "结论：", "问题：", "数据：", "机会：", "风险：", "方案：", "建议：", "下一步："};

constexpr std::array<std::string_view, 21> kQuestionEndings{
    "吗",     "呢",     "对吗",   "是不是", "可不可以", "行不行", "能不能",
    "能否",   "有没有", "为什么", "怎么回事", "怎么样", "多少",   "哪里",
    "哪儿",   "怎么做", "要不要", "会不会", "是什么",   "怎么办", "啥意思"};
constexpr std::array<std::string_view, 7> kQuestionPhrases{"是不是", "可不可以", "行不行", "能不能",
                                                           "有没有", "为什么",   "怎么样"};

constexpr std::string_view kOrdinalPattern =
    R"((第\s*[一二三四五六七八九十0-9]+\s*(?:步|点|项|个|件)?|首先|其次|最后))";

// Paragraph breaks: how many, how far apart, and how much a connective weighs against
// distance from the even split.
constexpr std::size_t kParagraphMinChars = 50;
constexpr int kParagraphConnectiveBonus = 18;

bool hasNewline(std::string_view text) { return text.find('\n') != std::string_view::npos; }

template <std::size_t N>
bool containsAny(std::string_view text, const std::array<std::string_view, N>& list) {
  return std::any_of(list.begin(), list.end(),
                     [&](std::string_view item) { return text::contains(text, item); });
}

std::size_t countLiteral(std::string_view text, std::string_view needle) {
  if (needle.empty()) return 0;
  std::size_t count = 0;
  for (std::size_t pos = text.find(needle); pos != std::string_view::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++count;
  }
  return count;
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = text.find('\n', begin);
    lines.emplace_back(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += '\n';
    out += lines[i];
  }
  return out;
}

// Step 6: "流程如下，先……然后……最后……" as a numbered process.
std::string structureProcessList(const std::string& text) {
  static const GuardedRuleTable rules(kProcessList);
  if (shouldPreserveEnumeratedReference(text) || hasNewline(text)) return text;
  if (!text::contains(text, "流程如下") || !text::contains(text, "先") || !text::contains(text, "最后") ||
      !(text::contains(text, "然后") || text::contains(text, "再"))) {
    return text;
  }
  const std::string listed = rules.apply(text);
  if (!text::contains(listed, "\n1. ") || !text::contains(listed, "\n2. ")) return text;
  return regexReplaceAll(listed, "[。.!?？]$", "");
}

// Step 7: "首先……其次……然后……最后……" as a numbered list.
std::string structureFirstNextLast(const std::string& text) {
  static const GuardedRuleTable tidy(kListTidy);
  if (shouldPreserveEnumeratedReference(text) || !text::contains(text, "首先") ||
      !(text::contains(text, "其次") || text::contains(text, "最后"))) {
    return text;
  }
  const bool hasThen = text::contains(text, "然后");
  std::size_t count = 0;
  std::string s = text;
  auto replace = [&](std::string_view word, std::string_view marker) {
    count += countLiteral(s, word);
    s = text::replaceLiteral(s, word, marker);
  };
  replace("首先", "\n1. ");
  replace("其次", "\n2. ");
  replace("然后", "\n3. ");
  replace("最后", hasThen ? "\n4. " : "\n3. ");
  if (count < 2) return text;
  return tidy.apply(s);
}

// Step 9: "第一……第二……" as a numbered list. The bare 第N is a marker only where no Han
// character follows it: 第一次, 第二天 and 第一名 are ordinary words, not list items.
std::string structureOrdinalList(const std::string& text) {
  // The rows run in table order: for each numeral its noun markers, then for each numeral
  // its bare and suffixed markers. Rows are grouped by numeral, and a group whose 第N no
  // longer occurs is skipped: a replacement only ever removes markers, so the result is
  // that of running every row.
  struct MarkerGroup {
    icu::UnicodeString ordinal;  // 第N
    GuardedRuleTable rows;
  };
  static const std::vector<MarkerGroup> groups = [] {
    std::vector<MarkerGroup> out;
    // The markers hold only Han characters, ":", "：", "，", "、" and a space, none of
    // which is special in a pattern.
    auto addGroup = [&](std::size_t numeral, const std::vector<std::string>& patterns) {
      const std::string replacement = "\n" + std::to_string(numeral + 1) + ". ";
      std::vector<ReplaceRule> rules;
      for (const std::string& pattern : patterns) rules.push_back({pattern, replacement});
      out.push_back({text::toUnicode("第" + std::string(kChineseNumerals[numeral])), GuardedRuleTable(rules)});
    };
    for (std::size_t i = 0; i < kChineseNumerals.size(); ++i) {
      const std::string ordinal = "第" + std::string(kChineseNumerals[i]);
      std::vector<std::string> patterns;
      for (std::string_view noun : kOrdinalNouns) {
        patterns.push_back(ordinal + std::string(noun) + "是");
        patterns.push_back(ordinal + std::string(noun));
        patterns.push_back(ordinal + "是");
      }
      addGroup(i, patterns);
    }
    for (std::size_t i = 0; i < kChineseNumerals.size(); ++i) {
      const std::string ordinal = "第" + std::string(kChineseNumerals[i]);
      std::vector<std::string> patterns;
      for (std::string_view suffix : kOrdinalSuffixes) {
        patterns.push_back(suffix.empty() ? ordinal + R"((?!\p{Han}))" : ordinal + std::string(suffix));
      }
      addGroup(i, patterns);
    }
    return out;
  }();
  static const GuardedRuleTable headings(kOrdinalHeadings, Regex::kLiteral);
  static const GuardedRuleTable tidy(kOrdinalTidy);
  // Every marker starts with 第; without it nothing can match.
  if (!text::contains(text, "第") || shouldPreserveEnumeratedReference(text)) return text;
  icu::UnicodeString u = text::toUnicode(text);
  std::size_t replaced = 0;
  for (const MarkerGroup& group : groups) {
    if (u.indexOf(group.ordinal) >= 0) replaced += group.rows.apply(u);
  }
  if (replaced < 2) return text;
  headings.apply(u);
  tidy.apply(u);
  return text::toUtf8(u);
}

}  // namespace

bool isLikelyQuestion(std::string_view text) {
  const std::string t = text::replaceLiteral(text::trimWithCharacters(text, U"。.!！?？"), " ", "");
  for (std::string_view ending : kQuestionEndings) {
    if (text::endsWith(t, ending)) return true;
  }
  return containsAny(t, kQuestionPhrases);
}

bool shouldPreserveEnumeratedReference(std::string_view text) {
  static const Regex ordinals{kOrdinalPattern};
  static const Regex consultation("(是不是|能不能|可不可以|是否|可以不可以|你能|你可以|帮我|都能)");
  static const Regex comparison(R"((区分|区别|差别|不同|关系|之间|对比|比较|第一\s*(?:和|跟|与|、)\s*第二))");
  static const Regex listIntent(
      R"((列一下|列出来|列成|整理成列表|分成\s*[一二三四五六七八九十0-9]+|流程如下|具体流程|主要有|分别是|包括|有\s*[一二三四五六七八九十0-9两三四五六七八九十]+\s*(?:个)?(?:问题|需求|步骤|风险|指标|点|项)))");
  const std::string t = text::trim(text);
  if (hasNewline(t)) return false;
  if (ordinals.countMatches(t) < 2) return false;
  if (!isLikelyQuestion(t) && !consultation.search(t) && !comparison.search(t)) return false;
  return !listIntent.search(t);
}

std::string structureLongFormChineseSections(std::string_view text) {
  static const GuardedRuleTable cues(kSectionCues);
  static const GuardedRuleTable tidy(kSectionTidy);
  if (hasNewline(text) || text::graphemeCount(text) < kSectionMinChars) return std::string(text);
  icu::UnicodeString u = text::toUnicode(text);
  if (cues.apply(u) < 2) return std::string(text);
  tidy.apply(u);
  return text::toUtf8(u);
}

std::string normalizeInlineNumberedList(std::string_view text) {
  static const GuardedRuleTable openers(std::array<ReplaceRule, 4>{{
      {R"(，：\s*1\. )", "：\n1. "},
      {R"(，\s*1\. )", "：\n1. "},
      {R"(：\s*1\. )", "：\n1. "},
      {R"((\d+)\.\s*[，,]\s*)", "$1. "},
  }});
  static const GuardedRuleTable items(std::array<ReplaceRule, 5>{{
      {R"(([，,;；]\s*)?2\. )", "\n2. "},
      {R"(([，,;；]\s*)?3\. )", "\n3. "},
      {R"(([，,;；]\s*)?4\. )", "\n4. "},
      {R"(([，,;；]\s*)?5\. )", "\n5. "},
      {R"(([。.!?？])$)", ""},
  }});
  const std::string s = openers.apply(text);
  const std::string trimmed = text::trim(s);
  if (!text::startsWith(trimmed, "1. ") && !text::contains(s, "：1.") && !text::contains(s, "\n1. ")) {
    return s;
  }
  return items.apply(s);
}

std::string dedupeNumberedList(std::string_view text) {
  static const Regex item(R"(^\d+\.\s*(.+)$)");
  static const Regex keyNoise(R"([\s，。！？、,.!?;；：:])");
  if (!text::contains(text, "\n1. ") && !text::startsWith(text, "1. ")) return std::string(text);
  std::vector<std::string> lines;
  std::vector<std::string> seen;
  std::size_t number = 0;
  for (const std::string& line : splitLines(text)) {
    const std::optional<RegexMatch> match = item.firstMatch(line);
    if (!match) {
      lines.push_back(line);
      continue;
    }
    const std::string& body = match->groups[1];
    std::string key = keyNoise.replaceAll(text::toLower(body), "");
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(std::move(key));
    lines.push_back(std::to_string(++number) + ". " + text::trim(body));
  }
  return joinLines(lines);
}

std::string structureCompactChineseTriples(std::string_view text) {
  static const Regex separators("[、，, ]");
  for (std::string_view cue : kTripleCues) {
    const std::size_t at = text.find(cue);
    if (at == std::string_view::npos) continue;
    std::string head(text.substr(0, at + cue.size()));
    if (!head.empty() && head.back() == ' ') {
      head.pop_back();
      head += "：";
    }
    const std::string rest = text::trimWithCharacters(text.substr(at + cue.size()), U"。.!！?？");
    const icu::UnicodeString u = text::toUnicode(rest);
    std::vector<std::string> pieces;
    std::size_t begin = 0;
    auto addPiece = [&](std::size_t end) {
      icu::UnicodeString piece =
          text::trim(u.tempSubStringBetween(static_cast<int32_t>(begin), static_cast<int32_t>(end)));
      if (!piece.isEmpty()) pieces.push_back(text::toUtf8(piece));
    };
    for (const RegexMatch& match : separators.allMatches(u)) {
      addPiece(match.start);
      begin = match.end;
    }
    addPiece(static_cast<std::size_t>(u.length()));
    const bool shortItems = std::all_of(pieces.begin(), pieces.end(), [](const std::string& piece) {
      return text::graphemeCount(piece) <= kTripleItemMaxChars;
    });
    if (pieces.size() == 3 && shortItems) {
      return head + "\n1. " + pieces[0] + "\n2. " + pieces[1] + "\n3. " + pieces[2];
    }
  }
  return std::string(text);
}

std::string polishStructuredChineseSections(std::string_view text) {
  static const Regex labels("(背景|结论|问题|数据|机会|风险|方案|建议|下一步)：");
  static const Regex labelStart("([^\\n])(?=(结论|问题|数据|机会|风险|方案|建议|下一步)：)");
  const std::size_t labelCount = labels.countMatches(text);
  if (!hasNewline(text) && labelCount < 2) return std::string(text);
  std::string s(text);
  // Every label but 背景 starts its own line.
  if (labelCount >= 2) s = labelStart.replaceAll(s, "$1\n");
  std::vector<std::string> out;
  for (const std::string& rawLine : splitLines(s)) {
    std::string line = text::trim(rawLine);
    if (line.empty()) continue;
    const bool section = std::any_of(kSectionPrefixes.begin(), kSectionPrefixes.end(),
                                      [&](std::string_view prefix) { return text::startsWith(line, prefix); });
    if (section) {
      if (!out.empty() && !out.back().empty()) out.emplace_back();
      const std::string last = text::graphemeSuffix(line, 1);
      if (!text::contains("。！？：；.!?:;", last)) line += "。";
    }
    out.push_back(std::move(line));
  }
  return joinLines(out);
}

std::string addGentleSemanticParagraphBreaks(std::string_view text) {
  static const Regex sentenceBeforeConnective(
      R"(([。！？；])\s*(?=(另外|还有|但是|不过|所以|其实|同时|完了以后|我还有一个问题|比如|比如说|再加上|如果|万一|最后|然后)))");
  static const Regex commaBeforeConnective(
      R"(([，,])\s*(?=(另外|还有|但是|不过|所以|其实|同时|完了以后|我还有一个问题|比如|比如说|再加上|如果|万一|最后)))");
  static const Regex sentenceEnd("([。！？；])");
  if (hasNewline(text)) return std::string(text);
  const icu::UnicodeString t = text::trim(text::toUnicode(text));
  const std::size_t n = text::graphemeCount(compactForm(text::toUtf8(t)));
  if (n < kParagraphMinChars) return std::string(text);

  // Offset (UTF-16, right after the mark) → best weight. Each pattern's group 1 is the
  // single mark at the start of the match.
  std::map<int64_t, int64_t> candidates;
  auto collect = [&](const Regex& regex, int64_t weight) {
    for (const RegexMatch& match : regex.allMatches(t)) {
      const auto offset = static_cast<int64_t>(match.start) + 1;
      auto [it, inserted] = candidates.emplace(offset, weight);
      if (!inserted) it->second = std::max(it->second, weight);
    }
  };
  collect(sentenceBeforeConnective, 5);
  collect(commaBeforeConnective, 4);
  collect(sentenceEnd, 2);

  const int64_t breaks = n >= 210 ? 3 : (n > 124 ? 2 : 1);
  const int64_t gap = n < 160 ? 24 : 36;
  const int64_t length = t.length();
  std::vector<int64_t> chosen;
  int64_t last = 0;
  for (int64_t k = 1; k <= breaks; ++k) {
    const int64_t target = length * k / (breaks + 1);
    std::optional<int64_t> best;
    int64_t bestScore = 0;
    for (const auto& [offset, weight] : candidates) {
      if (offset <= last + gap || length - offset <= (breaks - k) * gap) continue;
      if (std::find(chosen.begin(), chosen.end(), offset) != chosen.end()) continue;
      const int64_t score = std::llabs(offset - target) - kParagraphConnectiveBonus * weight;
      if (!best || score < bestScore) {
        best = offset;
        bestScore = score;
      }
    }
    if (!best) continue;
    chosen.push_back(*best);
    last = *best;
  }
  if (chosen.empty()) return std::string(text);
  std::sort(chosen.begin(), chosen.end(), std::greater<>());
  icu::UnicodeString out = t;
  for (int64_t offset : chosen) out.insert(static_cast<int32_t>(offset), u"\n\n");
  return text::toUtf8(out);
}

std::string normalizeQuestionPunctuation(std::string_view text) {
  if (hasNewline(text)) return std::string(text);
  const std::string t = text::trim(text);
  if (!isLikelyQuestion(t)) return std::string(text);
  return regexReplaceAll(t, "[。.]$", "？");
}

std::string trimFinalLines(std::string_view text) {
  static const Regex trailingSemicolons("[；;]+$");
  std::vector<std::string> kept;
  for (const std::string& rawLine : splitLines(text)) {
    const std::string line = trailingSemicolons.replaceAll(text::trim(rawLine), "");
    if (!line.empty()) {
      kept.push_back(line);
    } else if (!kept.empty() && !kept.back().empty()) {
      kept.emplace_back();
    }
  }
  while (!kept.empty() && kept.back().empty()) kept.pop_back();
  return joinLines(kept);
}

std::string addTerminalPunctuationIfNeeded(std::string_view text) {
  static const Regex han(R"(\p{Han})");
  static const Regex capitalStart("^[A-Z]");
  const std::string t = text::trim(text);
  if (hasNewline(t) || text::graphemeCount(t) < 8) return std::string(text);
  for (std::string_view mark : {"。", "！", "？", ".", "!", "?"}) {
    if (text::endsWith(t, mark)) return std::string(text);
  }
  if (han.search(t)) return t + (isLikelyQuestion(t) ? "？" : "。");
  if (text::graphemeCount(t) >= 25 && capitalStart.search(t)) return t + ".";
  return std::string(text);
}

std::string normalizeFinal(std::string_view text) {
  static const Regex blanks("[\\t ]+");
  static const GuardedRuleTable spokenNumbers(kSpokenNumbers, Regex::kLiteral);
  static const GuardedRuleTable punctuation(kFinalPunctuation);
  static const GuardedRuleTable punctuationRepairs(kPunctuationRepairs, Regex::kLiteral);
  static const GuardedRuleTable clauseRepairs(kClauseRepairs);
  static const GuardedRuleTable spacing(kSpacingAndUnits);
  static const GuardedRuleTable samples(kSampleRepairs);
  static const GuardedRuleTable finalTidy(kFinalTidy);
  static const Regex colonRuns("：{2,}");

  std::string s = text::trim(text);
  s = text::replaceLiteral(s, "\r\n", "\n");
  s = blanks.replaceAll(s, " ");
  s = applyDomainCorrections(s);
  s = cleanSpokenDisfluencies(s);
  s = applyExplicitSelfCorrections(s);
  s = cleanupSpokenRewriteInstructions(s);
  s = spokenNumbers.apply(s);
  if (!hasNewline(s)) {
    s = detail::collapseDoubledTranscript(s);
    s = removeRepeatedSentences(s);
  }
  s = punctuation.apply(s);
  s = structureProcessList(s);
  s = structureFirstNextLast(s);
  s = structureLongFormChineseSections(s);
  s = structureOrdinalList(s);
  s = structureCompactChineseTriples(s);
  s = normalizeInlineNumberedList(s);
  s = dedupeNumberedList(s);
  s = polishStructuredChineseSections(s);
  s = punctuationRepairs.apply(s);
  s = clauseRepairs.apply(s);
  s = addGentleSemanticParagraphBreaks(s);
  s = normalizeQuestionPunctuation(s);
  s = spacing.apply(s);
  s = samples.apply(s);
  s = finalTidy.apply(s);
  s = trimFinalLines(s);
  s = addTerminalPunctuationIfNeeded(s);
  // Two list steps can each add a colon after the same heading ("有两个问题：：").
  s = colonRuns.replaceAll(s, "：");
  return text::trim(s);
}

}  // namespace sorvane::TextNormalizer
