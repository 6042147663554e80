#include <gtest/gtest.h>

#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using testing::LogCapture;

const RefineProfile kGuarded = RefineProfile::named();

TEST(PreserveUserIntent, RejectsLostProfanityAndOverShortAnswers) {
  struct Case {
    const char* raw;
    const char* candidate;
    bool keepsCandidate;
    const char* logLine;  // expected when the raw text wins
  } cases[] = {
      {"这个破需求他妈的又改了", "这个需求又改了。", false, "model output dropped sensitive/verbatim text"},
      {"这个破需求他妈的又改了", "这个破需求他妈的又改了。", true, nullptr},
      {"傻逼才这么设计", "SHABI 才这么设计", false, "model output dropped sensitive/verbatim text"},
      // Under a third of a raw text of six or more characters.
      {"今天下午三点半我们开会讨论一下上线的事情", "开会。", false, "model output too short relative to raw"},
      {"今天下午三点半我们开会讨论一下上线的事情", "三点半开会讨论上线。", true, nullptr},
      // A numbered list may be short.
      {"第一个是登录慢然后第二个是注册页面的按钮不好点", "两点：\n1. 登录\n2. 注册", true, nullptr},
      // One-character terms inside common words are no profanity to keep...
      {"把这个操作再滚动一下，草稿先留着，画面要逼真一点", "把这个步骤再滑动一下，初稿先留着，画面要真实一点", true,
       nullptr},
      // ...and such a word in the answer does not stand in for the term itself.
      {"操，这个操作又坏了，滚", "这个操作又坏了，滚动一下", false, "model output dropped sensitive/verbatim text"},
      {"草，草稿又没保存", "草，草稿又没保存。", true, nullptr},
      // Five characters are too few for the length rule.
      {"好的好的呀", "好。", true, nullptr},
  };
  for (const auto& c : cases) {
    LogCapture log;
    const std::string result = preserveUserIntent(c.raw, c.candidate);
    if (c.keepsCandidate) {
      EXPECT_EQ(result, TextNormalizer::normalizeFinal(c.candidate)) << c.raw;
    } else {
      EXPECT_EQ(result, TextNormalizer::normalizeFinal(c.raw)) << c.raw;
      EXPECT_TRUE(log.contains(c.logLine)) << c.raw;
    }
  }
  // An answer that formats to nothing gives the raw text.
  EXPECT_EQ(preserveUserIntent("今天开会", "   "), TextNormalizer::normalizeFinal("今天开会"));
}

TEST(ExplicitCorrection, SupersededTokens) {
  struct Case {
    const char* token;
    const char* text;
    bool superseded;
  } cases[] = {
      {"八点", "我想把这个会订到八点，不对，是九点", true},
      {"九点", "我想把这个会订到八点，不对，是九点", false},
      {"2000", "发给 Edvin 的版本先写 2000 块，不对，是 2500 块", true},
      {"2500", "发给 Edvin 的版本先写 2000 块，不对，是 2500 块", false},
      // A sentence end stops the reach of the correction.
      {"八点", "会订到八点。不对的地方明天再说", false},
      {"3.5", "版本 3.5 说错了应该是 3.6", true},
      {"3.5", "版本 345 说错了应该是 3.6", false},  // the dot is literal
      {"", "不对", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isSupersededByExplicitCorrection(c.token, c.text), c.superseded) << c.token << " in " << c.text;
  }
}

TEST(ProtectCriticalTokens, NumbersAndKeyTerms) {
  struct Case {
    const char* raw;
    const char* candidate;
    bool keepsCandidate;
    const char* logLine;
  } cases[] = {
      {"发给 Edvin 的版本先写 2500 块", "发给 Edvin 的版本先写块。", false,
       "postprocess lost numbers; using raw-preserving fallback count=1"},
      {"我想把这个会订到八点，不对，是九点", "我把会议订到九点。", true, nullptr},
      {"下午三点半和十点各开一次会", "下午 3:30 和 10 点各开一次会。", true, nullptr},
      {"买三个苹果和两件衣服", "买苹果和衣服。", false, "postprocess lost numbers; using raw-preserving fallback count=1"},
      {"把 DeepSeek 和 Deepgram 都接上", "把 deepseek 和 DEEPGRAM 都接上。", true, nullptr},
      {"把 DeepSeek 和 Deepgram 和 Qwen 都接上", "把 DeepSeek 都接上。", false,
       "postprocess lost keyterms; using raw-preserving fallback lost=Deepgram,Qwen"},
      // One loss out of three terms is tolerated.
      {"把 DeepSeek 和 Deepgram 和 Qwen 都接上", "把 DeepSeek 和 Deepgram 都接上。", true, nullptr},
      // A single term must not be lost.
      {"这个 paste 的逻辑有问题", "这个粘贴的逻辑有问题。", false, "postprocess lost keyterms"},
  };
  for (const auto& c : cases) {
    LogCapture log;
    const std::string result = protectCriticalTokens(c.raw, c.candidate, InputContext{}, kGuarded);
    if (c.keepsCandidate) {
      EXPECT_EQ(result, c.candidate) << c.raw;
    } else {
      EXPECT_EQ(result, preserveUserIntent(c.raw, c.raw)) << c.raw;
      EXPECT_TRUE(log.contains(c.logLine)) << c.raw << " log: " << (log.lines().empty() ? "" : log.lines().back());
    }
  }
  // Without key-term protection the candidate passes untouched.
  EXPECT_EQ(protectCriticalTokens("写 2500 块", "写块", InputContext{}, RefineProfile::named("baseline")), "写块");
}

TEST(ProtectCriticalTokens, ContextKeywordsSpokenInOtherCaseCount) {
  InputContext context;
  context.visibleText = "speechMs refineMs";
  // "speechms" is matched case-insensitively against the screen's "speechMs".
  LogCapture log;
  const std::string result = protectCriticalTokens("看一下 speechms 这个指标", "看一下这个指标。", context, kGuarded);
  EXPECT_EQ(result, preserveUserIntent("看一下 speechms 这个指标", "看一下 speechms 这个指标"));
  EXPECT_TRUE(log.contains("lost=speechms"));
}

TEST(NumberEquivalents, DigitFormsCount) {
  EXPECT_TRUE(candidateContainsNumberEquivalent("三点半", "3:30 开会"));
  EXPECT_TRUE(candidateContainsNumberEquivalent("十一点", "11 点"));
  EXPECT_TRUE(candidateContainsNumberEquivalent("两个", "两个人"));
  EXPECT_FALSE(candidateContainsNumberEquivalent("五点", "5 点"));
  EXPECT_FALSE(candidateContainsNumberEquivalent("2500", "2000"));
}

TEST(RawGuidedCorrections, RetractedPhrasesGo) {
  EXPECT_EQ(applyRawGuidedCorrections("先不要推到 GitHub，不对，完全不要推到任何云端",
                                      " 先不要推到 GitHub，完全不要推到任何云端。 "),
            "完全不要推到任何云端。");
  EXPECT_EQ(applyRawGuidedCorrections("会议放到上午十点", "我把会议放到上午十点。"), "会议放到上午十点。");
  EXPECT_EQ(applyRawGuidedCorrections("发给 Edvin，不对，发给 Tomas", "发给 Edvin，发给 Tomas。"), "发给 Tomas。");
  EXPECT_EQ(applyRawGuidedCorrections("发给 Tomas", "我把会议放到上午。"), "我把会议放到上午。");
}

TEST(ShouldPreferDeepSeek, LengthContextAndReferences) {
  InputContext small;
  small.windowTitle = "短";
  InputContext medium;
  medium.visibleText = std::string(50, 'v');
  InputContext large;
  large.visibleText = std::string(1200, 'v');
  std::string longRaw;
  for (int i = 0; i < 60; ++i) longRaw += "字";

  EXPECT_TRUE(shouldPreferDeepSeek(longRaw, small));
  EXPECT_TRUE(shouldPreferDeepSeek("好的", large));
  EXPECT_FALSE(shouldPreferDeepSeek("第二点再说一下", small));
  EXPECT_TRUE(shouldPreferDeepSeek("第 2 项再说一下", medium));
  EXPECT_TRUE(shouldPreferDeepSeek("上一点没听懂", medium));
  EXPECT_FALSE(shouldPreferDeepSeek("这个方案再说一下", medium));
}

TEST(GuardChain, LocalPipelineAndEmptyCandidate) {
  const InputContext context;
  const std::string raw = TextNormalizer::normalizeInput("我想把这个会订到八点，不对，是九点");
  EXPECT_EQ(localPipeline(raw, context, kGuarded), "我把会议订到九点。");
  // A candidate that formats to nothing falls back to the formatted raw text.
  EXPECT_EQ(runGuardChain("今天开会", "", context, kGuarded), TextNormalizer::normalizeFinal("今天开会"));
}

}  // namespace
}  // namespace sorvane
