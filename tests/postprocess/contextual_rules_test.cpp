#include <gtest/gtest.h>

#include "postprocess/contextual_rules.h"
#include "postprocess/refinement_guards.h"
#include "postprocess/text_normalizer.h"
#include "core/unicode_text.h"
#include "support/test_support.h"

namespace sorvane {
namespace {

using testing::LogCapture;

const RefineProfile kWithContext = RefineProfile::named();
const RefineProfile kWithoutContext = RefineProfile::named("baseline");

InputContext inScene(const char* bundle, const char* visible = "") {
  InputContext context;
  context.bundleIdentifier = bundle;
  context.visibleText = visible;
  return context;
}

TEST(ContextualLocalRules, ChatInstructionsEmailsAndQuestionCounts) {
  struct Case {
    const char* bundle;
    const char* raw;
    const char* candidate;
    const char* expected;
  } cases[] = {
      {"com.tencent.wechat", "跟他说，我晚点到", "跟他说，我晚点到。", "我晚点到。"},
      {"com.electron.lark", "帮我回复他 收到", "帮我回复他 收到", "收到"},
      {"com.example.notes", "跟他说，我晚点到", "跟他说，我晚点到。", "跟他说，我晚点到。"},
      {"com.example.notes", "发一封邮件给 edvin 感谢今天时间 我今晚给方案 明天下午再同步",
       "发一封邮件给 edvin 感谢今天时间 我今晚给方案 明天下午再同步。",
       "Edvin，感谢你今天的时间。我今晚会给方案，明天下午我们再同步。"},
      {"com.example.notes", "我有几个问题", "1. 登录慢\n2. 按钮小", "有两个问题：\n1. 登录慢\n2. 按钮小"},
      {"com.example.notes", "我有几个问题", "1. 登录慢\n2. 按钮小\n3. 太贵", "有三个问题：\n1. 登录慢\n2. 按钮小\n3. 太贵"},
      {"com.example.notes", "我有几个问题", "有这些问题：\n1. 登录慢\n2. 按钮小", "有这些问题：\n1. 登录慢\n2. 按钮小"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(applyContextualLocalRules(c.raw, c.candidate, inScene(c.bundle), kWithContext), c.expected) << c.raw;
  }
  // Without context the candidate is returned as given.
  EXPECT_EQ(applyContextualLocalRules("跟他说", " 跟他说，好 ", inScene("com.tencent.wechat"), kWithoutContext),
            " 跟他说，好 ");
}

TEST(VisibleTextReferences, ConceptPointAndPlan) {
  const InputContext conceptContext = inScene("com.openai.codex", "User: 向量检索是一类检索方法\nAssistant: 好的");
  {
    LogCapture log;
    EXPECT_EQ(resolveVisibleTextReferences("这个概念再讲讲", "这个概念再讲讲", conceptContext, kWithContext),
              "向量检索这个概念再讲讲");
    EXPECT_TRUE(log.contains("visible reference resolved concept=向量检索"));
  }
  // Without visible text, or without context in the profile, nothing changes.
  EXPECT_EQ(resolveVisibleTextReferences("这个概念", "这个概念", inScene("com.openai.codex"), kWithContext), "这个概念");
  EXPECT_EQ(resolveVisibleTextReferences("这个概念", "这个概念", conceptContext, kWithoutContext), "这个概念");

  const InputContext list = inScene("com.openai.codex", "1. 做登录\n2. 支持离线模式\n聊天\n2. 优化启动速度");
  EXPECT_EQ(resolveVisibleTextReferences("第二点再做一下", "第二点再做一下", list, kWithContext),
            "第二点，也就是启动速度，再做一下");

  const InputContext plans =
      inScene("com.openai.codex", "方案 A：Deepgram Nova-3 monolingual。方案 B：Deepgram Nova-3 multilingual.");
  EXPECT_EQ(resolveVisibleTextReferences("就用刚才那个方案", "就用刚才那个方案", plans, kWithContext),
            "就用刚才那个 Deepgram Nova-3 multilingual 方案");
}

TEST(VisibleTextReferences, ExtractorsFollowTheirOrder) {
  struct Case {
    const char* visible;
    std::optional<std::string> term;
  } cases[] = {
      {"embedding 是一种表示。RAG 是检索增强", "RAG"},
      {"User: 向量检索是一类检索方法\nAssistant: 好的", "向量检索"},
      {"Assistant: 方案是这样\n", std::nullopt},  // stop word
      {"我们叫它“语义切分”吧", "语义切分"},
      {"没有定义", std::nullopt},
      // The longer marker wins over the 是 inside it.
      {"HNSW指的是一种向量索引", "HNSW"},
      {"Assistant: 语义切分这个概念是说按意思断开", "语义切分"},
  };
  for (const auto& c : cases) EXPECT_EQ(extractRecentConcept(c.visible), c.term) << c.visible;

  EXPECT_EQ(extractEnumeratedItem(2, "1. 甲乙\n2) 接入 语音"), "语音");
  EXPECT_EQ(extractEnumeratedItem(2, "2.支持"), std::nullopt);  // only the verb
  EXPECT_EQ(extractEnumeratedItem(3, "1. 甲乙"), std::nullopt);
  EXPECT_EQ(extractEnumeratedItem(2, "说明\n\t 2、接入语音"), "语音");
  EXPECT_EQ(extractRecentPlanName("nova-3 multilingual。"), "nova-3 multilingual");
  EXPECT_EQ(extractRecentPlanName("Nova-2"), std::nullopt);
}

// `unit` repeated until the text has at least `chars` characters (units are clusters of
// their own).
std::string repeated(std::string_view unit, std::size_t chars) {
  const std::size_t unitChars = text::graphemeCount(unit);
  std::string out;
  for (std::size_t have = 0; have < chars; have += unitChars) out += unit;
  return out;
}

// The costly extractor patterns on the longest visible text a context carries (3600
// characters) and on four times that: each finds its answer within the match time limit.
TEST(VisibleTextReferences, LongScreenTextStaysWithinTheMatchLimit) {
  for (std::size_t chars : {std::size_t{3600}, std::size_t{14400}}) {
    LogCapture log;
    // Blank lines before the item: "^\s*" would retry every run of them.
    EXPECT_EQ(extractEnumeratedItem(2, repeated("\n ", chars) + "\n2. 支持上下文注入"), "上下文注入") << chars;
    EXPECT_EQ(extractEnumeratedItem(2, repeated("\n", chars) + "2) 接入 语音"), "语音") << chars;
    // A definition after a long run of term characters, which no line rule can take.
    EXPECT_EQ(extractRecentConcept(repeated("abcdefghij", chars) + " Milvus是开源库"), "Milvus") << chars;
    EXPECT_EQ(extractRecentConcept(repeated("字", chars) + "，语义切分这个概念"), "语义切分") << chars;
    EXPECT_EQ(log.count("match time limit"), 0u) << chars;
  }
}

TEST(StanceAndStyle, OpenersAndRepairs) {
  struct Case {
    const char* raw;
    const char* candidate;
    const char* expected;
  } cases[] = {
      {"我觉得这样可以", "这样可以。", "我觉得这样可以。"},
      {"我觉得这样可以", "我觉得这样可以。", "我觉得这样可以。"},
      {"这个事情先放一放", "这件事先放一放。", "这个事情先放一放。"},
      {"我不是要你删掉", "别删掉。", "我不是要别删掉。"},
      {"随便说说", "但是不要改我的意思", "但不要改我的意思"},
  };
  for (const auto& c : cases) EXPECT_EQ(preserveStanceAndStyle(c.raw, c.candidate), c.expected) << c.raw;
}

TEST(SpeechAct, TentativeAndSoftConsultationReverts) {
  const char* hedged = "其实我觉得功能都做差不多了吧，可以上线了吧。";
  {
    LogCapture log;
    const std::string result = preserveSpeechAct(hedged, "功能都做差不多了，可以上线了。");
    EXPECT_EQ(result, conservativeSpeechActFallback(hedged));
    EXPECT_TRUE(text::startsWith(result, "我觉得")) << result;
    EXPECT_TRUE(text::endsWith(result, "吧？")) << result;
    EXPECT_TRUE(log.contains("speech act guard reverted tentative raw="));
  }
  {
    // A hedged but not consulting answer to a request for consent: still tentative, so
    // only the soft-consultation test catches it.
    LogCapture log;
    EXPECT_EQ(preserveSpeechAct("能不能快一点", "我觉得快一点。"), conservativeSpeechActFallback("能不能快一点"));
    EXPECT_TRUE(log.contains("speech act guard reverted soft consultation"));
  }
  EXPECT_EQ(preserveSpeechAct("能不能快一点", " 能不能快一点？ "), "能不能快一点？");
  EXPECT_EQ(preserveSpeechAct("今天开会", "今天开会。"), "今天开会。");
  EXPECT_EQ(preserveSpeechAct("", "x"), "x");

  struct Marker {
    const char* text;
    bool tentative;
    bool soft;
  } markers[] = {
      {"可以上线了吧", true, true},   {"先这样了吧", true, true},  {"你看行吗", true, true},
      {"我感觉一般", true, false},    {"真的?", true, true},       {"上线了。", false, false},
      {"", false, false},             {"好不好，", true, true},
  };
  for (const auto& m : markers) {
    EXPECT_EQ(isTentativeOrQuestion(m.text), m.tentative) << m.text;
    EXPECT_EQ(hasSoftConsultationMarker(m.text), m.soft) << m.text;
  }
}

TEST(EnumerationIntent, ReferencesToStepsStaySentences) {
  const std::string raw =
      "所以是不是第一步和第二步你能帮我做，然后第三步，我是自己准备。呃，等等，是不是第一步、第二步、第三步都能帮我做？";
  const std::string list = "1. 第一步和第二步你能帮我做\n2. 第三步我自己准备";
  {
    LogCapture log;
    EXPECT_EQ(preserveSemanticEnumerationIntent(raw, list), "所以是不是第一步、第二步、第三步都能帮我做");
    EXPECT_TRUE(log.contains("semantic enumeration guard applied raw="));
  }
  // A real enumeration keeps its list.
  const std::string dictated = "具体流程是第一步建分支，第二步提交";
  EXPECT_EQ(preserveSemanticEnumerationIntent(dictated, "1. 建分支\n2. 提交"), "1. 建分支\n2. 提交");
  // Comparison without a revision question falls back to the raw text.
  EXPECT_EQ(preserveSemanticEnumerationIntent("第一和第二的区分不明显", "1. 和\n2. 的区分不明显"),
            "第一和第二的区分不明显");
  // A sentence candidate is left alone.
  EXPECT_EQ(preserveSemanticEnumerationIntent(raw, "好的"), "好的");

  EXPECT_TRUE(candidateContainsNumberedList("前言\n1. 甲 2. 乙"));
  EXPECT_TRUE(candidateContainsNumberedList("1、甲\n\n\n2、乙"));
  EXPECT_FALSE(candidateContainsNumberedList("版本 1.2 和 2.0"));
  EXPECT_FALSE(rawLooksLikeEnumerationReference("第一步是不是你来"));
  EXPECT_EQ(extractLatestRevisionQuestion("第一步第二步，等等，第三步呢"), std::nullopt);
  // With several revisions, the question after the last one is the one the speaker kept.
  EXPECT_EQ(extractLatestRevisionQuestion(
                "第一步你来做吧，等等，是不是第一步和第二步都你来？等等，是不是第一步、第二步、第三步都能帮我做"),
            "是不是第一步、第二步、第三步都能帮我做");
}

TEST(GuardChain, SemanticStructureAndSpeechActSamples) {
  const InputContext context;
  const RefineProfile profile = RefineProfile::named();
  auto guarded = [&](const char* raw, const char* candidate) {
    return runGuardChain(TextNormalizer::normalizeInput(raw), candidate, context, profile);
  };
  EXPECT_EQ(guarded("所以是不是第一步和第二步你能帮我做，然后第三步，我是自己准备。呃，等等，是不是第一步、第二步、第三步都能帮我做？",
                    "所以：\n1. 第一步和第二步你能帮我做\n2. 第三步我自己准备\n3. 是不是第一步、第二步、第三步都能帮我做？"),
            "所以是不是第一步、第二步、第三步都能帮我做？");
  EXPECT_EQ(guarded("我每次都说，其实你那个第一和第二的区分的不是很明显。", "我每次都说，其实你那个：\n1. 和\n2. 的区分不是很明显"),
            "我每次都说，其实你那个第一和第二的区分不是很明显。");
  const std::string reverted = guarded("其实我觉得功能都做差不多了吧，可以上线了吧。", "我觉得功能都做差不多了，可以上线了。");
  EXPECT_TRUE(text::contains(reverted, "吧") && text::contains(reverted, "？")) << reverted;
  EXPECT_FALSE(text::contains(reverted, "可以上线了。")) << reverted;
}

}  // namespace
}  // namespace sorvane
