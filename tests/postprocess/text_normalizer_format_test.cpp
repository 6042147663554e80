// Final formatting: the whole pipeline on dictated samples, the list and section steps,
// paragraph breaks, question and terminal marks, and robustness on hostile input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/unicode_text.h"
#include "postprocess/text_normalizer.h"
#include "support/text_pairs.h"

namespace sorvane {
namespace {

namespace tn = TextNormalizer;
using testing::expectPairs;
using testing::Pair;

std::string withoutBlankLines(std::string text) { return text::replaceLiteral(text, "\n\n", ""); }

TEST(TextNormalizerFinal, CleansDictatedSentences) {
  expectPairs(tn::normalizeFinal, {
      {"嗯我想问一下，呃这个方案啊，能不能快一点？", "我想问一下，这个方案，能不能快一点？"},
      {"这个不是要改原原意，呃只是清理嗯停顿。", "这个不是要改原意，只是清理停顿。"},
      // Profanity is the user's wording: only the filler goes.
      {"你妈了个逼，嗯这个不要删。", "你妈了个逼，这个不要删。"},
      {"呃说错了，它千万不能改变原意，只是修饰停顿。", "它千万不能改变原意，只是修饰停顿。"},
      {"我想把这个会订到八点，不对，是九点", "我把会议订到九点。"},
      {"今天下午改到周三，不对，改成周五", "今天下午改到周五。"},
      {"发给 Edvin 的版本先写 2000 块，不对，是 2500 块", "发给 Edvin 的版本先写 2500块。"},
      {"嗯嗯", "嗯嗯"},
      {"有两个风险：\n1. 公司电脑数据不能外泄\n2. 不要推到 GitHub",
       "有两个风险：\n1. 公司电脑数据不能外泄\n2. 不要推到 GitHub"},
      {"这个方案可以，但今天先别发版。", "这个方案可以，但今天先别发版。"},
      {"", ""},
      {"  \r\n ", ""},
  });
}

TEST(TextNormalizerFinal, NumbersSpacingAndSampleRepairs) {
  expectPairs(tn::normalizeFinal, {
      {"下午三点半开会，讨论两千块预算", "下午3:30 开会，讨论2000块预算。"},
      // ICU word boundaries: a Han character counts as a word character, so "codex" glued
      // to Chinese is not a word of its own and stays as written.
      {"用 codex 写一个demo给大家看", "用 Codex 写一个 demo 给大家看。"},
      {"用codex写", "用 codex 写。"},
      {"这个东西其实不是不行，就是现在表达有点绕", "我觉得这个东西不是不行，而是现在表达有点绕。"},
      {"我们 2026 年 3 月 5 日见面聊一下", "我们 2026年 3月 5日见面聊一下。"},
      {"延迟 300 毫秒，等了 5 秒", "延迟 300毫秒，等了 5秒。"},
      {"你直接帮我改 不要再问了", "你直接帮我改，不要再问了。"},
      {"我想确认一下 是不是今天", "我想确认一下，是不是今天？"},
      {"这个成本会不会太高。", "这个成本会不会太高？"},
      {"二十点之前给我", "二10:00 之前给我。"},
  });
}

TEST(TextNormalizerFinal, TerminalMarkNeedsEnoughCharacters) {
  expectPairs(tn::normalizeFinal, {
      {"今天天气很好呀", "今天天气很好呀"},
      {"今天天气真的很好", "今天天气真的很好。"},
      {"今天天气真的好吗", "今天天气真的好吗？"},
      {"This line has exactly 25c", "This line has exactly 25c."},
      {"This line has exactly 24", "This line has exactly 24"},
      {"lowercase sentence that is long enough", "lowercase sentence that is long enough"},
      // Accented capitals start an English sentence too.
      {"Ångström units appear in the second chart", "Ångström units appear in the second chart."},
      {"Élan is what the second chart is missing", "Élan is what the second chart is missing."},
      {"Ökonomie and the second chart agree here", "Ökonomie and the second chart agree here."},
      // A capital of another script is not a Latin sentence start.
      {"Ωmega is the last letter in that alphabet", "Ωmega is the last letter in that alphabet"},
  });
  EXPECT_EQ(text::graphemeCount("This line has exactly 25c"), 25u);
}

TEST(TextNormalizerFinal, DictatedListsBecomeNumbered) {
  expectPairs(tn::normalizeFinal, {
      {"首先要把识别做准，其次要降低延迟，最后要稳定", "1. 要把识别做准\n2. 要降低延迟\n3. 要稳定"},
      {"流程如下，先录音，然后识别，再修正，最后粘贴", "流程如下：\n1. 录音\n2. 识别\n3. 修正\n4. 粘贴"},
      {"第一，先把识别做准；第二，再把延迟降下来。", "1. 先把识别做准\n2. 再把延迟降下来"},
      // The ordinal step and the inline-list step each put a colon after the heading;
      // the pipeline keeps one.
      {"我有两个问题，第一个点击结束录制以后不要吞掉最后几个字，第二个把这段话整理得更有结构。",
       "我有两个问题：\n1. 点击结束录制以后不要吞掉最后几个字\n2. 把这段话整理得更有结构"},
      {"我们要做到三点 准确、快速、稳定。", "我们要做到三点：\n1. 准确\n2. 快速\n3. 稳定"},
      // Ordinal words that are not list markers stay words.
      {"我第一次来北京，第二次是去年。", "我第一次来北京，第二次是去年。"},
      {"第一天很顺利，第二天下雨了。", "第一天很顺利，第二天下雨了。"},
      {"他考了第一名，我是第二名。", "他考了第一名，我是第二名。"},
      // Ordinals that a question refers to, or compares, are not a list.
      {"我每次都说，其实你那个第一和第二的区分的不是很明显。",
       "我每次都说，其实你那个第一和第二的区分不是很明显。"},
      {"所以是不是第一步和第二步你能帮我做，然后第三步，我是自己准备。呃，等等，是不是第一步、第二步、第三步都能帮我做？",
       "所以是不是第一步和第二步你能帮我做，然后第三步，我是自己准备。等等，是不是第一步、第二步、第三步都能帮我做？"},
      // A single ordinal is no list.
      {"第一件事是先吃饭吧。", "第一件事是先吃饭吧。"},
  });
}

TEST(TextNormalizerFinal, SpokenSectionsBecomeLabelled) {
  expectPairs(tn::normalizeFinal, {
      {"我们先说背景，用户反馈粘贴慢。再说问题，识别有延迟，而且经常吞字。最后说下一步，先优化延迟。",
       "我们先说背景，用户反馈粘贴慢\n\n问题：识别有延迟，而且经常吞字。\n\n下一步：先优化延迟。"},
      {"先说背景，上周有三个客户反馈粘贴失败。风险是下周发版可能赶不上，方案是先修粘贴再发版。",
       "背景：上周有三个客户反馈粘贴失败。\n\n风险：下周发版可能赶不上。\n\n方案：先修粘贴再发版。"},
  });
}

TEST(TextNormalizerFinal, TextWithNewlineSkipsWholeTextSteps) {
  // No repeated-sentence removal, no paragraph breaks, no process list.
  expectPairs(tn::normalizeFinal, {
      {"好的。好的\n明天见", "好的。好的\n明天见"},
      {"流程如下，先录音，然后识别\n最后粘贴", "流程如下，先录音，然后识别\n最后粘贴"},
      // A line break after a Chinese mark, or before a connective, is not kept: the
      // whole-text steps then apply.
      {"好的。好的。\n明天见", "好的。好的。明天见。"},
  });
}

TEST(TextNormalizerParagraphs, BreaksOnlyAtConnectivesAndKeepsEveryCharacter) {
  struct Case {
    const char* input;
    std::vector<const char*> paragraphStarts;  // what each paragraph after the first begins with
  };
  const std::vector<Case> cases{
      {"这个方案可以，但今天先别发版。", {}},
      {"这个需求是合理的，但是我们不能为了好看去改用户原意。所以更好的方式是只做换行，让同一段话里不同的意思自然分开。",
       {"所以更好的方式"}},
      {"我觉得这个事情可以先这么做。我们先保持轻量，不要做得太重，先把用户真实说的话处理干净。所以这里最重要的不是把它改成报告，而是让它读起来更轻松。另外如果用户一口气说了很多内容，我们可以在自然转折处换段，但是不要强行加标题，也不要每一句都换行。再加上这个能力本质上只是视觉呈现，去掉换行以后，文字顺序和原意应该完全一致。",
       {"所以这里", "再加上"}},
      {"这个事情。现在它最麻烦的地方不是某一个按钮不好用，而是用户一路说下来以后，内容会堆在一起，看起来很累。所以最终文本需要像正常写出来的一样，有自然的停顿和呼吸。另一方面，我们不能为了格式好看就改掉用户真正表达的意思，尤其是数字、否定、情绪和专有名词都要保留。另外，如果用户中途补充了一个条件，后面的内容应该另起一段承接，而不是继续挤在同一行里。最后，整体效果应该轻一点，像输入法自动帮忙排版，而不是变成报告。",
       {"所以最终", "另外，"}},
  };
  for (const Case& c : cases) {
    for (auto function : {tn::addGentleSemanticParagraphBreaks, tn::normalizeFinal}) {
      const std::string out = function(c.input);
      EXPECT_EQ(withoutBlankLines(out), c.input) << out;
      std::vector<std::string> paragraphs;
      std::size_t begin = 0;
      for (std::size_t at = out.find("\n\n"); at != std::string::npos; at = out.find("\n\n", begin)) {
        paragraphs.push_back(out.substr(begin, at - begin));
        begin = at + 2;
      }
      paragraphs.push_back(out.substr(begin));
      ASSERT_EQ(paragraphs.size(), c.paragraphStarts.size() + 1) << out;
      for (std::size_t i = 0; i < c.paragraphStarts.size(); ++i) {
        EXPECT_TRUE(text::startsWith(paragraphs[i + 1], c.paragraphStarts[i])) << out;
        EXPECT_TRUE(text::endsWith(paragraphs[i], "。")) << out;
      }
    }
  }
}

TEST(TextNormalizerParagraphs, CommaBreakBecomesFullStopInFinalText) {
  // 50+ characters whose only connective follows a comma: the break keeps the comma at
  // the paragraph end, which the final pipeline turns into a full stop.
  const std::string input =
      "我们这周一直在处理输入法里面的各种细节问题和用户反馈的内容，另外下周还要继续跟进剩下的几个体验问题和稳定性问题";
  const std::string broken = tn::addGentleSemanticParagraphBreaks(input);
  EXPECT_NE(broken.find("，\n\n另外"), std::string::npos) << broken;
  EXPECT_NE(tn::normalizeFinal(input).find("。\n\n另外"), std::string::npos);
}

TEST(TextNormalizerStructure, CompactTriples) {
  expectPairs(tn::structureCompactChineseTriples, {
      {"我们要做到三点 准确、快速、稳定。", "我们要做到三点：\n1. 准确\n2. 快速\n3. 稳定"},
      {"有三个点：快，准，稳", "有三个点：\n1. 快\n2. 准\n3. 稳"},
      {"我们要做到三点 准确、快速、稳定、便宜。", "我们要做到三点 准确、快速、稳定、便宜。"},
      {"我们要做到三点 准确、快速、九个字的一个长条目。", "我们要做到三点 准确、快速、九个字的一个长条目。"},
      {"八个字的条目可以：三点 一二三四五六七八、快速、稳定", "八个字的条目可以：三点：\n1. 一二三四五六七八\n2. 快速\n3. 稳定"},
      {"没有提示词", "没有提示词"},
  });
}

TEST(TextNormalizerStructure, InlineListsDedupeAndPolish) {
  expectPairs(tn::normalizeInlineNumberedList, {
      {"有三件事，1. 录音，2. 识别；3. 粘贴。", "有三件事：\n1. 录音\n2. 识别\n3. 粘贴"},
      {"版本 1. 2 很好", "版本 1. 2 很好"},
  });
  expectPairs(tn::dedupeNumberedList, {
      {"要做：\n1. 准确\n2. 准确。\n3. 稳定", "要做：\n1. 准确\n2. 稳定"},
      {"1. A\n2. a!\n3. B", "1. A\n2. B"},
      {"没有列表\n2. 准确", "没有列表\n2. 准确"},
  });
  expectPairs(tn::polishStructuredChineseSections, {
      {"背景：用户反馈慢\n\n\n结论：先优化", "背景：用户反馈慢。\n\n结论：先优化。"},
      {"第一段。\n\n第二段。", "第一段。\n第二段。"},
      {"背景：慢。结论：先优化", "背景：慢。\n\n结论：先优化。"},
      {"只有一个结论：先优化", "只有一个结论：先优化"},
  });
  expectPairs(tn::trimFinalLines, {
      {"\n\n 第一行；\n\n\n\n第二行;;\n\n", "第一行\n\n第二行"},
  });
}

TEST(TextNormalizerStructure, QuestionsAndEnumeratedReferences) {
  for (const char* question : {"你来吗", "这样行不行。", "为什么呢？", "是不是这样的。", "能 不 能"}) {
    EXPECT_TRUE(tn::isLikelyQuestion(question)) << question;
  }
  for (const char* statement : {"好的", "我吃饭了。", ""}) {
    EXPECT_FALSE(tn::isLikelyQuestion(statement)) << statement;
  }
  EXPECT_EQ(tn::normalizeQuestionPunctuation("这样行不行。"), "这样行不行？");
  EXPECT_EQ(tn::normalizeQuestionPunctuation("行不行。\n好"), "行不行。\n好");

  EXPECT_TRUE(tn::shouldPreserveEnumeratedReference("第一步和第二步你能帮我做吗"));
  EXPECT_TRUE(tn::shouldPreserveEnumeratedReference("第一和第二的区别"));
  EXPECT_FALSE(tn::shouldPreserveEnumeratedReference("第一步录音，第二步识别"));
  EXPECT_FALSE(tn::shouldPreserveEnumeratedReference("帮我列一下第一步和第二步"));
  EXPECT_FALSE(tn::shouldPreserveEnumeratedReference("第一步你能帮我做吗"));
  EXPECT_FALSE(tn::shouldPreserveEnumeratedReference("第一步和第二步\n你能帮我做吗"));
}

// Hostile input: long runs of what the rules look for. Each call must finish and give
// valid UTF-8; a rule that hits the match time limit leaves its input unchanged.
TEST(TextNormalizerRobustness, LongRepetitiveInputFinishes) {
  std::string input;
  while (text::graphemeCount(input) < 20000) {
    input += "嗯嗯呃，额，不对，是九点，说错了，第一第二。。。，，：：  首先其次最后 呃呀 deep seek ";
  }
  for (auto function : {tn::normalizeInput, tn::normalizeFinal}) {
    const std::string out = function(input);
    EXPECT_EQ(text::sanitizeUtf8(out), out);
    EXPECT_LE(text::graphemeCount(out), text::graphemeCount(input) * 2);
  }
}

TEST(TextNormalizerRobustness, RandomMixesFinish) {
  const std::vector<std::string> alphabet{
      "嗯", "呃", "额", "啊", "第", "一", "二", "三", "十", "点", "块", "不对", "是", "改成", "周",
      "，", "。", "？", "！", "；", "：", "、", ",", ".", "!", "?", ";", ":", " ", "\n", "\t",
      "a", "Z", "x", "0", "1", "9", "+", "#", "-", "_", "“", "”", "\"", "1. ", "\r\n", "首先", "最后",
      "然后", "流程如下", "三点 ", "背景是", "风险：", "😀", "é", "\xC3", "\xFF"};
  std::mt19937 random(20261210);
  for (int round = 0; round < 200; ++round) {
    std::string input;
    const int length = 1 + static_cast<int>(random() % 400);
    for (int i = 0; i < length; ++i) input += alphabet[random() % alphabet.size()];
    const std::string clean = text::sanitizeUtf8(input);
    const std::string basic = tn::normalizeInput(clean);
    const std::string final = tn::normalizeFinal(input);
    EXPECT_EQ(text::sanitizeUtf8(final), final);
    // The basic cleanup gives one trimmed line of valid text.
    EXPECT_EQ(text::sanitizeUtf8(basic), basic);
    EXPECT_EQ(text::trim(basic), basic);
    EXPECT_EQ(basic.find_first_of("\r\n"), std::string::npos) << basic;
    // Pure: the same input gives the same output, whatever ran in between.
    EXPECT_EQ(tn::normalizeFinal(input), final);
    EXPECT_EQ(tn::normalizeInput(clean), basic);
  }
}

}  // namespace
}  // namespace sorvane
