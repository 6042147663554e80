// Data of the basic cleanup (text_normalizer_cleanup.cpp): the mis-recognition tables,
// the disfluency rows and the self-correction patterns, in their order of application.
// Data only; included by the cleanup file alone. The row order is behaviour.
#pragma once

#include <array>
#include <string_view>

#include "core/regex.h"
#include "postprocess/guarded_rule_table.h"
#include "postprocess/spoken_patterns.h"

namespace sorvane::TextNormalizer::tables {

// Words the recogniser regularly mishears, matched as plain text without regard to case.
// The order matters: "raw fall back" must be fixed before the bare "fall back".
inline constexpr std::array<ReplaceRule, 58> kLiteralCorrections{{
    {"Caplen", "Murmly"},
    {"mur mly", "Murmly"},
    {"mer mly", "Murmly"},
    {"DC API", "DeepSeek API"},
    {"D C API", "DeepSeek API"},
    {"deep API", "DeepSeek API"},
    {"deep seek API", "DeepSeek API"},
    {"deep seek", "DeepSeek"},
    {"dp gram", "Deepgram"},
    {"d p gram", "Deepgram"},
    {"deep gram", "Deepgram"},
    {"no but three", "Nova-3"},
    {"nova three", "Nova-3"},
    {"no va three", "Nova-3"},
    {"multi lingual", "multilingual"},
    {"mono lingual", "monolingual"},
    {"watch cheap", "raw transcript"},
    {"watching craft", "raw transcript"},
    {"raw trans cript", "raw transcript"},
    {"raw fall back", "raw fallback"},
    {"fall back", "fallback"},
    {"Open API", "OpenAI API"},
    {"open ai", "OpenAI"},
    {"Open AI", "OpenAI"},
    {"worker 超时", "Worker 超时"},
    {"IC API", "DeepSeek API"},
    {"cloud work", "Cloudflare Worker"},
    {"cloud flower", "Cloudflare Worker"},
    {"Cloud Fair Worker", "Cloudflare Worker"},
    {"JSON A3", "JSONL"},
    {"JSON L", "JSONL"},
    {"Jayson L", "JSONL"},
    {"CS V", "CSV"},
    {"Apple shape", "Apple Speech"},
    {"Apple Speech去", "Apple Speech 做"},
    {"Mata列表", "Markdown 列表"},
    {"Mata 列表", "Markdown 列表"},
    {"wiper streaming", "Whisper streaming"},
    {"bench Mark Pronger", "benchmark runner"},
    {"rap里面", "repo 里面"},
    {"rap 里面", "repo 里面"},
    {"timeless code X", "Murmly, Codex"},
    {"product name such as", "product names such as"},
    {"DeepSeek APIraw", "DeepSeek API，把 raw"},
    {"把我 transcript", "把 raw transcript"},
    {"第2:00", "第二点"},
    {"第3:00", "第三点"},
    // The recogniser hears 骂 for 妈 in this phrase; the user's wording is restored.
    {"你骂了个逼", "你妈了个逼"},
    {"骂了个逼", "妈了个逼"},
    {"contact", "Codex"},
    {"co dex", "Codex"},
    {"code x", "Codex"},
    {"asr provider", "asrProvider"},
    {"ASR provider", "asrProvider"},
    {"p 九五", "P95"},
    {"P 九五", "P95"},
    {"api key", "API key"},
    {"edvin，", "Edvin，"},
}};

// The same mis-hearings with flexible spacing, then repairs of whole phrases that the
// recogniser garbles in typical product dictation. Word-bounded English rows come first.
inline constexpr std::array<ReplaceRule, 98> kPatternCorrections{{
    {R"((?i)\bcaplen\b)", "Murmly"},
    {R"((?i)\bm[eu]r\s*mly\b)", "Murmly"},
    {"相差的怎样", "像 Murmly 一样"},
    {R"((?i)\bD\s*C\s*API\b)", "DeepSeek API"},
    {R"((?i)\bdeep\s+API\b)", "DeepSeek API"},
    {R"((?i)\bdeep\s*seek\b)", "DeepSeek"},
    {R"((?i)\bd\s*p\s*gram\b)", "Deepgram"},
    {R"((?i)\bdp\s*gram\b)", "Deepgram"},
    {R"((?i)\bdeep\s+gram\b)", "Deepgram"},
    {R"((?i)\bno\s+but\s+three\b)", "Nova-3"},
    {R"((?i)\bnova\s+three\b)", "Nova-3"},
    {R"((?i)\bmulti\s+lingual\b)", "multilingual"},
    {R"((?i)\bmono\s+lingual\b)", "monolingual"},
    {R"((?i)\bNova-3\s+mono\b)", "Nova-3 monolingual"},
    {R"((?i)\bwatch\s+cheap\b)", "raw transcript"},
    {R"((?i)\bwatching\s+craft\b)", "raw transcript"},
    {R"((?i)\braw\s+trans\s*cript\b)", "raw transcript"},
    {R"((?i)\braw\s+fall\s*back\b)", "raw fallback"},
    {R"((?i)\bopen\s+API\b)", "OpenAI API"},
    {R"((?i)\bopen\s+ai\b)", "OpenAI"},
    {R"((?i)\bIC\s+API\b)", "DeepSeek API"},
    {R"((?i)\bcloud\s+work\b)", "Cloudflare Worker"},
    {R"((?i)\bcloud\s+flower\b)", "Cloudflare Worker"},
    {R"((?i)\bJSON\s*A\s*3\b)", "JSONL"},
    {R"((?i)\bJSON\s+L\b)", "JSONL"},
    {R"((?i)\bCS\s+V\b)", "CSV"},
    {R"((?i)\bApple\s+shape\b)", "Apple Speech"},
    {R"((?i)\bMata\s*列表\b)", "Markdown 列表"},
    {R"((?i)\bwiper\s+streaming\b)", "Whisper streaming"},
    {R"((?i)\bthat\s+road\s+map\b)", "product roadmap"},
    {R"((?i)\bbench\s*Mark\s*Pronger\b)", "benchmark runner"},
    {R"((?i)\brap\s*里面\b)", "repo 里面"},
    {R"((?i)\bcontact\b)", "Codex"},
    {R"((?i)\bcodex\b)", "Codex"},
    {R"((?i)\bco\s+dex\b)", "Codex"},
    {R"((?i)\bcode\s+x\b)", "Codex"},
    {R"((?i)\basr\s+provider\b)", "asrProvider"},
    {R"((?i)\bspeech\s*m\b)", "speechMs"},
    {R"((?i)\bref\s*in\s*m\b)", "refineMs"},
    {R"((?i)\bpast\s+最终文本\b)", "paste 最终文本"},
    {R"((?i)\bp\s+九五\b)", "P95"},
    {R"((?i)\bgithub\b)", "GitHub"},
    {R"((?i)\boption\b)", "Option"},
    {"情调用", "请调用"},
    {"录音符窗", "录音浮窗"},
    {R"(敌己\s*DPI)", "DeepSeek API"},
    {R"(敌己\s*API)", "DeepSeek API"},
    {R"(把握权\s*cheat)", "raw transcript"},
    {R"(平均号\s*10\s*1200毫秒)", "平均耗时1200毫秒"},
    {"买点", "埋点"},
    {"美一轮", "每一轮"},
    {"switch", "speechMs"},
    {R"(raving\s*A)", "refineMs"},
    {"看对话框", "Codex 对话框"},
    {"拍最终文本", "paste 最终文本"},
    {"推到之后因为", "推到 GitHub，因为"},
    {"之后因为这是公司的电脑", "GitHub，因为这是公司的电脑"},
    {R"(发给\s*Edvin\s*的中文)", "发给 Codex 的中文"},
    {R"(和\s*mac\s*里面)", "和 Codex 里面"},
    {"味儿可能", "Worker"},
    {R"(Cycles\s*的优势)", "Murmly 的优势"},
    {R"(如果后面\s*diagram\s*或)", "如果后面接 Deepgram 或"},
    {"粘贴作文", "粘贴做稳"},
    {"录音识别修正和粘贴", "录音、识别、修正和粘贴"},
    {"微信飞书浏览器和", "微信、飞书、浏览器和"},
    {"不要总结也不要", "不要总结，也不要"},
    {"快一点的时候也希望", "快一点的时候，也希望"},
    {"希望他", "希望它"},
    {"这个方案可以做 这个方案可以做", "这个方案可以做"},
    {"这个方案可以做，这个方案可以做", "这个方案可以做"},
    {"回撤风险，是如果", "回撤。风险：如果"},
    {"制作提醒和分级", "只做提醒和分级"},
    {"之后看提醒", "只看提醒"},
    {"选题未知，看热点没有复盘", "选题会只看热点，没有复盘"},
    {"用户为什么停留风险是", "用户为什么停留。风险："},
    {"这个软件用户感知不到", "这个软件让用户感知不到"},
    {"说白了我们", "说白了，我们"},
    {"界面 是", "界面，是"},
    {"毫秒 P95", "毫秒， P95"},
    {"看一下他能", "看一下它能"},
    {"标点段的", "标点断得"},
    {"不要太淑敏", "不要太书面"},
    {"中文不要", "中文，不要"},
    {"指标准确率延迟和稳定性", "指标，准确率、延迟和稳定性"},
    {"开会先", "开会，先"},
    {"反馈再", "反馈，再"},
    {"不准用户", "不准，用户"},
    {"信任所以", "信任，所以"},
    {"界面而是", "界面，而是"},
    {"压缩上下文", "压缩、上下文"},
    {"7日版本号", "7日，版本号"},
    {"翻译工具而是", "翻译工具，而是"},
    {"2000块所以", "2000块，所以"},
    {"直接粘贴最终文本", "直接 paste 最终文本"},
    {"做做", "做"},
    {"号时", "耗时"},
    {R"(零点\s*(\d+(?:\.\d+)*))", "0.$1"},
    {"Latency matters but accuracy matters more for a voice input$",
     "Latency matters, but accuracy matters more for a voice input method."},
}};

// Repairs of what the two tables above can produce, in this order: a missing comma, the
// repeated expansion of "lingual", and spacing between Latin words and Chinese.
inline constexpr std::array<ReplaceRule, 9> kCorrectionRepairs{{
    {"DeepSeek API把", "DeepSeek API，把"},
    {"monolinguallinguallinguallinguallingual", "monolingual"},
    {"monolinguallinguallinguallingual", "monolingual"},
    {"monolinguallinguallingual", "monolingual"},
    {"monolinguallingual", "monolingual"},
    {"raw transcript改成", "raw transcript 改成"},
    {"发给Codex", "发给 Codex"},
    {"Murmly一样", "Murmly 一样"},
    {"Codex的", "Codex 的"},
}};

// Punctuation tidying at the end of the basic cleanup.
inline constexpr std::array<ReplaceRule, 5> kInputPunctuation{{
    {"。。+", "。"},
    {"，，+", "，"},
    {R"(\s+([，。！？；：,.!?;:]))", "$1"},
    {R"(([，。！？；：])\s+)", "$1"},
    {R"(\s{2,})", " "},
}};

// Filler syllables and spoken repair markers. Each row sees the output of the row before.
// Each row names the characters it needs, so a text without fillers skips it.
inline constexpr std::array<GuardedRule, 11> kDisfluencyRules{{
    // A filler at the start or after a separator, with the separators that follow it.
    {R"((?:(?<=^)|(?<=[\s，。！？；：、,.!?;:]))(?:嗯+|呃+|唔+|呣+|呃呀|嗯呀|啊呀)[\s，,、]*)", "",
     "嗯|呃|唔|呣|啊呀"},
    // 额 is also the first character of 额外, 额度 and the second of 金额: it is a filler
    // only where it stands alone between separators.
    {R"((?:(?<=^)|(?<=[\s，。！？；：、,.!?;:]))额+(?=$|[\s，。！？；：、,.!?;:])[\s，,、]*)", "", "额"},
    // A filler glued to the following word.
    {R"((?:嗯+|呃+|唔+|呣+)(?=[\p{Han}A-Za-z0-9]))", "", "嗯|呃|唔|呣"},
    // A particle standing alone between separators.
    {R"((?<=[\s，。！？；：、,.!?;:])(?:啊+|呀+|呐+)(?=$|[\s，。！？；：、,.!?;:]))", "", "啊|呀|呐"},
    // A particle trailing a word just before a comma.
    {R"((?<=[\p{Han}A-Za-z0-9])(?:啊+|呀+|呐+)(?=[，,、]))", "", "啊|呀|呐"},
    // "I misspoke" followed by a restart: the restart stays, the marker becomes a comma.
    {R"((?:^|[，,、\s])(?:不对|说错了|不是这个意思|我说错了)[，,、\s]*(?=(?:它|这个|那个|我|你|我们|应该|千万|不能|不是|只是|其实|就是说|就是)))",
     "，", "不对|说错了|不是这个意思"},
    {R"(怎么说呢[，,、\s]*)", "", ""},
    {"原原意", "原意", ""},
    {R"(([，。！？；：、,.!?;:]){2,})", "$1", ""},
    {R"(^[，。！？；：、,.!?;:]+)", "", ""},
    {R"(([，,、]){2,})", "$1", ""},
}};

// A spoken quantity: a number with an optional clock minute and unit.
#define SORVANE_QUANTITY \
  R"((?:[零一二三四五六七八九十两百千万0-9]+(?:[:：][0-9]{1,2})?\s*(?:点半?|点|分钟|分|小时|块|元|毫秒|秒|天|号|日|月|年|个|条|次|人|页|%|％)?))"
#define SORVANE_WEEKDAY R"((?:周|星期|礼拜)[一二三四五六日天])"

// Whole-sentence retractions; the first that changes the text wins.
// Every correction below needs one of the correction words (spoken::kCorrectionWords).
inline constexpr std::array<ReplaceRule, 2> kSentenceRetractions{{
    // A corrected recipient restarts the sentence.
    {R"(^发给\s*[^，,、]+)" SORVANE_CORRECTION_MARKER R"((发给\s*[^，,、]+.*)$)", "$1"},
    {R"(^.*?)" SORVANE_CORRECTION_MARKER R"((完全不要[^。！？\n]+.*)$)", "$1"},
}};

inline constexpr std::array<GuardedRule, 2> kValueCorrections{{
    // Quantity: the old value and the marker vanish, the new value stays.
    {"(" SORVANE_QUANTITY ")(" SORVANE_CORRECTION_MARKER ")(" SORVANE_QUANTITY ")", "$3", spoken::kCorrectionWords},
    {"^(.{0,80}?)(" SORVANE_WEEKDAY ")(" SORVANE_CORRECTION_MARKER ")(" SORVANE_WEEKDAY ")(.*)$", "$1$4$5",
     spoken::kCorrectionWords},
}};

// A short token corrected with an explicit verb ("用 React，不对，应该是 Vue"): the marker
// and the new token. The old token before the marker is found by `correctedTokenStart`.
inline constexpr std::string_view kTokenCorrection =
    "(" SORVANE_CORRECTION_MARKER_WITH_VERB ")" R"(([“"]?[\p{Han}A-Za-z0-9+.#_\-]{1,16}[”"]?))";
inline constexpr std::size_t kTokenMaxChars = 16;
inline constexpr std::size_t kTokenMaxOffset = 80;

inline constexpr std::array<ReplaceRule, 7> kMeetingPhraseAndTidy{{
    // One meeting phrase said in several ways.
    {"我想把这个会订到", "我把会议订到"},
    {"我想把会议订到", "我把会议订到"},
    {"把这个会订到", "把会议订到"},
    {"这个会订到", "会议订到"},
    {"把会订到", "把会议订到"},
    {R"(([，,、]){2,})", "$1"},
    {R"(^[，,、\s]+)", ""},
}};

// A spoken instruction to phrase the message more politely, then the message after 就说.
inline constexpr std::array<ReplaceRule, 3> kRewriteInstructions{{
    {R"(^这句话帮我(?:变得|弄得|整理得)?[^，,。]{0,24}[，,]\s*就说\s*)", ""},
    {R"(^你帮我说得客气一点.{0,40}?就说\s*)", ""},
    {R"(^帮我说得客气一点.{0,40}?就说\s*)", ""},
}};

#undef SORVANE_QUANTITY
#undef SORVANE_WEEKDAY

}  // namespace sorvane::TextNormalizer::tables
