// Basic cleanup, mis-recognition tables, self-corrections and the hallucination, echo and
// fast-path predicates.
#include <gtest/gtest.h>

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

// `count` different Han characters.
std::string hanRun(int count) {
  icu::UnicodeString u;
  for (int i = 0; i < count; ++i) u.append(static_cast<UChar32>(0x4E00 + 7 * i));
  return text::toUtf8(u);
}

TEST(TextNormalizerInput, CleansWhitespaceDoublesAndRepeats) {
  expectPairs(tn::normalizeInput, {
      {"  今天\n开会  ", "今天 开会"},
      {"", ""},
      {" \n\t ", ""},
      // A transcript delivered twice collapses to one copy (spaces stay removed).
      {"今天开会今天开会", "今天开会"},
      {"今天 开会 今天 开会", "今天开会"},
      {"好的好的好的好的", "好的好的"},
      // Fewer than 8 characters or an odd count: left alone.
      {"开会开会", "开会开会"},
      {"好的。好的。明天见", "好的。明天见"},
      {"好好学习。", "好好学习。"},
      // Punctuation runs and spaces around punctuation.
      {"好的。。。明天见，，再说", "好的。明天见，再说"},
      {"我们 ， 明天 。 再说", "我们，明天。再说"},
      {"hello , world", "hello, world"},
  });
}

TEST(TextNormalizerInput, RemovesRepeatedSentencesOnlyWhenOneRepeats) {
  expectPairs(tn::removeRepeatedSentences, {
      {"好的。好的。明天见", "好的。明天见"},
      {"一句话", "一句话"},
      // Nothing dropped: the input comes back with its punctuation.
      {"今天开会！明天见？", "今天开会！明天见？"},
      // Keys ignore spaces; kept pieces are joined with 。 and no terminal mark.
      {"开 会！开会？散会", "开 会。散会"},
      {"A!a?B", "A!a?B"},
  });
}

TEST(TextNormalizerInput, DomainCorrectionsFollowTableOrder) {
  expectPairs(tn::applyDomainCorrections, {
      {"deep seek api 挂了", "DeepSeek API 挂了"},
      {"用 dp gram 的 nova three", "用 Deepgram 的 Nova-3"},
      {"走 raw fall back", "走 raw fallback"},
      {"先 fall back 再说", "先 fallback 再说"},
      {"mur mly 很好用", "Murmly 很好用"},
      {"murmly", "Murmly"},
      {"Caplen", "Murmly"},
      {"上传到 github", "上传到 GitHub"},
      {"按 option 键", "按 Option 键"},
      {"这个 code x 的", "这个 Codex 的"},
      {"发给Codex", "发给 Codex"},
      {"零点 5 秒", "0.5 秒"},
      {"switch 多少", "speechMs 多少"},
      // The profane phrase the recogniser turns into 骂 is restored, not censored.
      {"你骂了个逼", "你妈了个逼"},
      {"把 DeepSeek API把", "把 DeepSeek API，把"},
      {"Latency matters but accuracy matters more for a voice input",
       "Latency matters, but accuracy matters more for a voice input method."},
      {"这个 mono lingual 模型", "这个 monolingual 模型"},
  });
}

TEST(TextNormalizerCleanup, RemovesFillersAndSpokenRepairs) {
  expectPairs(tn::cleanSpokenDisfluencies, {
      {"嗯我想问一下，呃这个方案啊，能不能快一点？", "我想问一下，这个方案，能不能快一点？"},
      {"这个不是要改原原意，呃只是清理嗯停顿。", "这个不是要改原意，只是清理停顿。"},
      {"呃说错了，它千万不能改变原意，只是修饰停顿。", "它千万不能改变原意，只是修饰停顿。"},
      {"这个事情怎么说呢，有点难", "这个事情有点难"},
      {"好，，，的", "好，的"},
      // Filler-only utterances and very short texts survive.
      {"嗯嗯", "嗯嗯"},
      {"嗯呃嗯", "嗯呃嗯"},
      {"  嗯 ", "嗯"},
      // 额 is a filler only where it stands alone.
      {"额，这个方案可以", "这个方案可以"},
      {"这个金额呃大概是三千多", "这个金额大概是三千多"},
      {"额外的工作不要做", "额外的工作不要做"},
      {"我的额度，额，不够", "我的额度，不够"},
  });
}

TEST(TextNormalizerCleanup, ResolvesExplicitSelfCorrections) {
  expectPairs(tn::applyExplicitSelfCorrections, {
      {"我想把这个会订到八点，不对，是九点", "我把会议订到九点"},
      {"今天下午改到周三，不对，改成周五", "今天下午改到周五"},
      {"发给 Edvin 的版本先写 2000 块，不对，是 2500 块", "发给 Edvin 的版本先写 2500 块"},
      {"预算先给三千块，说错了，应该是五千块", "预算先给五千块"},
      {"发给 Edvin，不对，发给 Tomas 吧", "发给 Tomas 吧"},
      {"先推到测试环境，不对，完全不要推到任何云端", "完全不要推到任何云端"},
      // Short-token corrections: quoted tokens, or standalone tokens with a Latin letter
      // or digit.
      {"发给 Edvin，不对，是 Tomas", "发给 Tomas"},
      {"把文件名改成 config.json，不对，是 settings.json", "把文件名改成 settings.json"},
      {"帮我把标题改成“季度总结”，不对，改成“年度总结”", "帮我把标题改成“年度总结”"},
      {"用 React 写，不对，应该是 Vue 写", "用 React 写，不对，应该是 Vue 写"},
      {"版本号写 v1.2，不对，应该是 v1.3 吧", "版本号写 v1.3 吧"},
      // A Han word glued to its sentence has no visible start: stays as spoken, intact.
      {"我说的是北京，不对，是上海的办公室", "我说的是北京，不对，是上海的办公室"},
      {"发给张三，不对，是李四", "发给张三，不对，是李四"},
      // Too short, or no correction verb after the marker.
      {"八点，不对", "八点，不对"},
      {"这不是我想要的结果吧", "这不是我想要的结果吧"},
      {"，，我把会订到明天", "我把会议订到明天"},
  });
}

TEST(TextNormalizerCleanup, DropsSpokenRewriteInstructions) {
  expectPairs(tn::cleanupSpokenRewriteInstructions, {
      {"这句话帮我变得客气一点，就说我明天来不了", "我明天来不了"},
      {"你帮我说得客气一点，跟老板就说方案要延期", "方案要延期"},
      {"帮我说得客气一点就说谢谢", "谢谢"},
      {"就说这句话帮我", "就说这句话帮我"},
  });
}

TEST(TextNormalizerGuards, HintEchoNeedsThirtyKeyCharacters) {
  const std::string hint =
      "Murmly, Codex, DeepSeek API, Deepgram, Qwen3-ASR, Cloudflare Worker, raw transcript, JSONL, "
      "CSV, Markdown, OpenAI API, product roadmap, speechMs, refineMs, paste.";
  EXPECT_TRUE(tn::isASRHintEcho(hint));
  // Key forms of 29 and 30 characters made of hint terms only.
  const std::string twentyNine = "Murmly Codex Deepgram JSONL CSV";  // 6+5+8+5+3 = 27
  ASSERT_EQ(tn::keyForm(twentyNine + " ab").size(), 29u);
  EXPECT_FALSE(tn::isASRHintEcho(twentyNine + " ab"));
  // 30 key characters contained in the hint phrase; one fewer is too short.
  EXPECT_TRUE(tn::isASRHintEcho("Murmly, Codex, DeepSeek API, Deepgram"));
  EXPECT_FALSE(tn::isASRHintEcho("murmlycodexdeepseekapideepgra"));
  // Eight distinct terms in any order, with other words around them.
  EXPECT_TRUE(tn::isASRHintEcho("paste csv jsonl markdown speechMs refineMs codex murmly 以及其他"));
  EXPECT_FALSE(tn::isASRHintEcho("paste csv jsonl markdown speechMs refineMs codex 以及其他内容"));
}

TEST(TextNormalizerGuards, DictionaryEchoNeedsEnoughDistinctTermsAndCoverage) {
  const std::vector<std::string> three{"Murmly", "Codex", "Deepgram"};
  EXPECT_TRUE(tn::isPersonalDictionaryEcho("Murmly, Codex, Deepgram", three));
  EXPECT_FALSE(tn::isPersonalDictionaryEcho("Murmly, Codex, Nova", three));

  const std::vector<std::string> ten{"Murmly", "Codex", "Deepgram", "Tomas", "Edvin",
                                     "Sorvane", "Qwen", "Mirla", "Vega", "Orbit"};
  EXPECT_TRUE(tn::isPersonalDictionaryEcho("Murmly Codex Deepgram Tomas", ten));
  EXPECT_FALSE(tn::isPersonalDictionaryEcho("Murmly Codex Deepgram 还有其他", ten));
  // Four matches, but under 72 % of the text.
  EXPECT_FALSE(tn::isPersonalDictionaryEcho("Murmly Codex Deepgram Tomas 今天下午我们一起开个会", ten));
  // Terms shorter than 2 key characters and duplicates do not count.
  EXPECT_FALSE(tn::isPersonalDictionaryEcho("Murmly Codex Deepgram",
                                           std::vector<std::string>{"Murmly", "murmly", "Codex", "x"}));
  // Short texts never count.
  EXPECT_FALSE(tn::isPersonalDictionaryEcho("Qwen Vega", ten));
}

TEST(TextNormalizerGuards, HallucinationGuardUsesTheDictionaryHandedIn) {
  const std::vector<std::string> terms{"Murmly", "Codex", "Deepgram"};
  EXPECT_TRUE(tn::isLikelyEmptySpeechHallucination("Murmly, Codex, Deepgram", 64000, 9000, terms));
  EXPECT_FALSE(tn::isLikelyEmptySpeechHallucination("Murmly, Codex, Deepgram", 64000, 9000));
}

TEST(TextNormalizerGuards, EmptySpeechHallucinationThresholds) {
  struct Case {
    const char* text;
    std::optional<int64_t> flushedBytes;
    std::optional<int64_t> recordingMs;
    bool expected;
  };
  // Distinct characters, so that no doubled-transcript collapse shortens them.
  const std::string longChinese = hanRun(80);
  const std::string sixtyChinese = hanRun(60);
  const std::vector<Case> cases{
      {"嗯", 6500, 2800, true},
      {"嗯", 6501, 2800, false},
      {"嗯", 6500, 2801, false},
      {"嗯嗯呃", 100, 500, true},
      {"嗯嗯嗯嗯", 100, 2000, false},  // four fillers are not "a few"
      {"嗯", std::nullopt, 2000, false},
      {"嗯", 100, std::nullopt, false},
      {"", 0, 0, false},
      {longChinese.c_str(), 4000, 9000, true},
      {longChinese.c_str(), 4001, 9000, false},
      {sixtyChinese.c_str(), 4000, 9000, false},
      {sixtyChinese.c_str(), 90000, 1500, true},
      {sixtyChinese.c_str(), 90000, 1501, false},
      // A filler from a short recording with too much audio still meets the short-recording rule.
      {"嗯", 9000, 1000, false},
      {"好的。", 5440, 2500, false},
      {"今天下午三点半开会，先看用户反馈。", 16000, 3000, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tn::isLikelyEmptySpeechHallucination(c.text, c.flushedBytes, c.recordingMs), c.expected)
        << c.text << " bytes=" << c.flushedBytes.value_or(-1) << " ms=" << c.recordingMs.value_or(-1);
  }
}

TEST(TextNormalizerGuards, FastPathSkipsOnlyShortPlainUtterances) {
  struct Case {
    const char* text;
    bool skip;
  };
  for (const Case& c : std::vector<Case>{
           {"好的", true},
           {"谢谢你", true},
           {"可以了谢谢", true},
           {"好的，谢谢。", true},
           {"我想问一下现在到底有没有接大模型", false},
           {"好的方案", false},
           {"这个概念", false},
           {"第一点", false},
           {"用 Codex", false},
           {"DeepSeek", false},
           {"github", false},  // corrected to GitHub first
           {"rap 好", false},
           {"六个字的句子", false},
       }) {
    EXPECT_EQ(tn::shouldSkipRemoteRefine(c.text), c.skip) << c.text;
  }
  EXPECT_TRUE(tn::needsContextOrStructure("刚才说的"));
  EXPECT_FALSE(tn::needsContextOrStructure("好的"));
}

TEST(TextNormalizerForms, CompactAndKeyForms) {
  EXPECT_EQ(tn::compactForm("你好， world! 再见。"), "你好world再见");
  EXPECT_EQ(tn::keyForm("Qwen3-ASR，你好!"), "qwen3asr你好");
}

}  // namespace
}  // namespace sorvane
