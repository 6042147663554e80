#include <gtest/gtest.h>

#include <algorithm>

#include "core/unicode_text.h"
#include "postprocess/chat_completions.h"
#include "postprocess/mode_prompts.h"
#include "postprocess/morse_cipher.h"
#include "postprocess/recording_mode.h"

namespace sorvane {
namespace {

TEST(RecordingMode, DigitsKeysAndMetricValues) {
  struct Case {
    int digit;
    const char* key;
    const char* hudTitle;
    const char* styleName;
  } cases[] = {
      {1, "style_flirt", "调情上头", "调情上头模式"},
      {2, "style_high_eq", "高情商", "高情商模式"},
      {3, "style_mouthpiece", "嘴替开麦", "嘴替开麦模式"},
      {4, "style_wicked", "贱兮兮", "贱兮兮模式"},
      {5, "style_rage", "暴躁开喷", "暴躁开喷模式"},
      {6, "style_meltdown", "发疯文学", "发疯文学模式"},
      {7, "style_doubao", "豆包语气", "豆包语气模式"},
      {8, "style_kalov_statement", "卡式新闻稿", "卡洛维转会新闻稿模式"},
  };
  for (const auto& c : cases) {
    const auto preset = VoiceStylePreset::fromDigit(c.digit);
    ASSERT_TRUE(preset.has_value()) << c.digit;
    EXPECT_EQ(preset->rawValue(), c.digit);
    EXPECT_EQ(preset->key(), c.key);
    EXPECT_EQ(preset->hudTitle(), c.hudTitle);
    EXPECT_EQ(preset->styleName(), c.styleName);
    EXPECT_EQ(RecordingMode::styled(*preset).metricValue(), c.key);
    EXPECT_EQ(preset->instruction().empty(), c.digit == 7) << c.digit;
  }
  for (int digit : {0, 9, -1, 100}) EXPECT_FALSE(VoiceStylePreset::fromDigit(digit).has_value()) << digit;
  EXPECT_EQ(RecordingMode::dictation().metricValue(), "dictation");
  EXPECT_EQ(RecordingMode::englishTranslation().metricValue(), "english_translation");
  EXPECT_EQ(RecordingMode::morseCipher().metricValue(), "morse_cipher");
}

TEST(ModePrompts, StylePromptShapes) {
  InputContext chat;
  chat.bundleIdentifier = "com.tencent.wechat";
  const std::string rage = styleSystemPrompt(VoiceStylePreset::rage, chat);
  EXPECT_TRUE(rage.starts_with("你是 Mirla 的一次性语气变身模式。\n任务：把用户刚说的 rawTranscript 改写成“暴躁开喷模式”的可直接发送文本。\n核心风格：把用户原意改写成暴躁、火大"));
  EXPECT_TRUE(rage.ends_with("输出只返回 JSON：{\"text\":\"最终文本\"}。\n当前场景：chat。输出形态：direct_chat_reply。"));
  EXPECT_EQ(std::count(rage.begin(), rage.end(), '\n'), 14);  // 15 lines

  const std::string doubao = styleSystemPrompt(VoiceStylePreset::doubao, chat);
  EXPECT_TRUE(doubao.starts_with("你是 Mirla 的一次性语气变身模式，现在启用“油滑豆包角色”。\n"));
  EXPECT_TRUE(text::contains(doubao, "耍剑"));
  EXPECT_FALSE(text::contains(doubao, "核心风格："));
  EXPECT_TRUE(doubao.ends_with("不能把上下文里的内容擅自加入输出。\n输出只返回 JSON：{\"text\":\"最终文本\"}。\n当前场景：chat。输出形态：direct_chat_reply。"));
  EXPECT_EQ(std::count(doubao.begin(), doubao.end(), '\n'), 12);

  const std::string translation = translationSystemPrompt(InputContext{});
  EXPECT_TRUE(translation.starts_with("You are Mirla's English translation mode for a Linux voice input app.\n"));
  EXPECT_TRUE(translation.ends_with("Output only JSON: {\"text\":\"final English text\"}.\nCurrent scene: general. Output style: dictation_text."));
}

TEST(ModePrompts, RequestBodies) {
  InputContext context;
  context.appName = "Gedit";
  const RefineProfile profile = RefineProfile::named();

  const Json style = styleRequestBody("qwen-plus", "今天不加班", VoiceStylePreset::wicked, context, profile);
  EXPECT_EQ(style["model"], "qwen-plus");
  EXPECT_DOUBLE_EQ(style["temperature"].get<double>(), 0.88);
  EXPECT_EQ(style["max_tokens"], 360);
  EXPECT_EQ(style["messages"][0]["content"], styleSystemPrompt(VoiceStylePreset::wicked, context));
  const auto styleUser = parseJsonObject(style["messages"][1]["content"].get<std::string>());
  ASSERT_TRUE(styleUser.has_value());
  Json expectedStyle = contextRequestFields(context, profile);
  expectedStyle.update(Json{{"task", "one_shot_style_transform"},
                            {"stylePreset", "style_wicked"},
                            {"styleName", "贱兮兮模式"},
                            {"rawTranscript", "今天不加班"},
                            {"contextSchemaVersion", "sorvane-context-v9-one-shot-style"},
                            {"profile", "context-policy-v7-murmly-structured"}});
  EXPECT_EQ(*styleUser, expectedStyle);
  EXPECT_EQ((*styleUser)["contextText"], context.promptBlock(4200));

  const Json translation = translationRequestBody("deepseek-chat", "明天见", context, profile);
  EXPECT_EQ(translation["temperature"], 0);
  EXPECT_EQ(translation["max_tokens"], 760);
  EXPECT_EQ(translationRequestBody("deepseek-chat", "x", context, RefineProfile::named("baseline"))["max_tokens"], 760);
  RefineProfile generous = profile;
  generous.maxTokens = 900;
  EXPECT_EQ(translationRequestBody("deepseek-chat", "x", context, generous)["max_tokens"], 900);
  const auto translationUser = parseJsonObject(translation["messages"][1]["content"].get<std::string>());
  ASSERT_TRUE(translationUser.has_value());
  EXPECT_EQ((*translationUser)["task"], "translate_to_english");
  EXPECT_EQ((*translationUser)["contextSchemaVersion"], "sorvane-context-v8-translation-mode");
  EXPECT_EQ(translationUser->size(), 10u);
}

TEST(ModePrompts, OutputNormalisers) {
  struct Case {
    const char* answer;
    const char* cleaned;
  } translations[] = {
      {"Translation: \"I'll book the meeting for nine.\"", "I'll book the meeting for nine."},
      {"  english：“See you tomorrow.”  ", "See you tomorrow."},
      {"Translated Text: Ship it", "Ship it"},
      {"Translation is hard", "Translation is hard"},
      {"\"unbalanced", "\"unbalanced"},
  };
  for (const auto& c : translations) EXPECT_EQ(normalizeEnglishTranslationOutput(c.answer), c.cleaned) << c.answer;

  EXPECT_EQ(normalizeStyleOutput("结果：“今天不加班”"), normalizeStyleOutput("今天不加班"));
  EXPECT_EQ(normalizeStyleOutput("Final Text: 今天不加班"), normalizeStyleOutput("今天不加班"));
  EXPECT_FALSE(text::contains(normalizeStyleOutput("改写：“今天不加班”"), "改写"));
}

TEST(MorseCipher, LatinBytesAndSpaces) {
  EXPECT_EQ(MorseCipher::encode("SOS"), "··· / --- / ···");
  EXPECT_EQ(MorseCipher::encode("sos!"), "··· / --- / ··· / -·-·--");
  EXPECT_EQ(MorseCipher::encode(""), "");
  EXPECT_EQ(MorseCipher::encode("  "), "");
  // U+5F00 is E5 BC 80 in UTF-8.
  EXPECT_EQ(MorseCipher::encode("开"), "---··-·- -·----·· -·······");
  const std::string meeting = MorseCipher::encode("开会 9 点");
  EXPECT_TRUE(text::contains(meeting, "----·")) << meeting;
  EXPECT_TRUE(text::contains(meeting, " / / / ----· / / / ")) << meeting;
  EXPECT_TRUE(meeting.starts_with("---··-·- -·----·· -······· / ")) << meeting;
}

// A token per user-perceived character: an emoji with its skin-tone modifier and a letter
// with a combining accent are one token each, their bytes joined by spaces.
TEST(MorseCipher, OneTokenPerCharacter) {
  auto tokens = [](const std::string& encoded) { return text::graphemeCount(encoded) == 0 ? 0 : 1 + std::count(encoded.begin(), encoded.end(), '/'); };
  const std::string thumb = MorseCipher::encode("👍🏽");  // 4 + 4 bytes
  EXPECT_EQ(tokens(thumb), 1) << thumb;
  EXPECT_EQ(std::count(thumb.begin(), thumb.end(), ' '), 7) << thumb;
  const std::string accented = MorseCipher::encode("e\u0301");  // 1 + 2 bytes, not the letter E
  EXPECT_EQ(std::count(accented.begin(), accented.end(), ' '), 2) << accented;
  EXPECT_FALSE(text::contains(accented, "/")) << accented;
  EXPECT_EQ(tokens(MorseCipher::encode("a👍🏽b")), 3);
  EXPECT_TRUE(MorseCipher::encode("a👍🏽b").starts_with("·- / ")) << MorseCipher::encode("a👍🏽b");
}

}  // namespace
}  // namespace sorvane
