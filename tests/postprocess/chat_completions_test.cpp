#include <gtest/gtest.h>

#include "postprocess/chat_completions.h"

namespace sorvane {
namespace {

InputContext richContext() {
  return InputContext::synthetic(parseJsonObject(R"({"appName":"Gedit","bundleIdentifier":"org.gnome.gedit",
      "focusedRole":"AXTextArea","focusedValueSettable":true,"textBeforeCursor":"前文","source":"accessibility"})"));
}

constexpr const char* kRichPromptBlock =
    "上下文 schema：sorvane-context-v7-murmly-like\n"
    "输出目标：technical_note\n"
    "场景：developer，应用类型：developer_tool，输入区：text_area\n"
    "上下文优先级：1. 选中文本和光标附近；2. 当前输入框完整片段；3. 当前窗口可见文本；4. "
    "App/浏览器元信息。上下文只用于消歧和承接，不能替用户新增没说出口的内容。\n"
    "当前应用：Gedit (org.gnome.gedit)\n"
    "焦点控件：AXTextArea value-settable\n"
    "输入框标识：org.gnome.gedit|Gedit|AXTextArea\n"
    "光标前文本：前文\n"
    "完整输入框片段：前文";

TEST(ChatCompletions, RefinementUserMessageGolden) {
  const InputContext context = richContext();
  const RefineProfile profile = RefineProfile::named("context-lite");
  const auto message = parseJsonObject(refinementUserMessage("我想问一下 DeepSeek", context, profile));
  ASSERT_TRUE(message.has_value());
  Json expected = {
      {"rawTranscript", "我想问一下 DeepSeek"},
      {"context", context.apiObject()},
      {"contextText", kRichPromptBlock},
      {"audioContext", context.murmlyLikeAudioContext()},
      {"modeMetadata", Json::parse(R"({"mode":"VOICE_TRANSCRIPT","source_mode":"dictation",
          "output_style":"technical_note","structure_policy":"intent_preserving","scene":"developer"})")},
      {"clientMetadata", context.clientMetadata()},
      {"inputBoxIdentifier", "org.gnome.gedit|Gedit|AXTextArea"},
      {"contextSchemaVersion", "sorvane-context-v7-murmly-like"},
      {"profile", "context-lite"},
  };
  EXPECT_EQ(*message, expected) << message->dump(2);

  // Without context the nine keys stay, with empty values.
  const auto bare = parseJsonObject(refinementUserMessage("好的", context, RefineProfile::named("baseline")));
  ASSERT_TRUE(bare.has_value());
  EXPECT_EQ(*bare, Json::parse(R"({"rawTranscript":"好的","context":{},"contextText":"","audioContext":{},
      "modeMetadata":{},"clientMetadata":{},"inputBoxIdentifier":"",
      "contextSchemaVersion":"sorvane-context-v7-murmly-like","profile":"baseline"})"));
}

TEST(ChatCompletions, UserMessageSurvivesInvalidUtf8) {
  InputContext context = richContext();
  context.visibleText = "bad \xff byte";
  const std::string message = refinementUserMessage("raw \xfe", context, RefineProfile::named());
  const auto parsed = parseJsonObject(message);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ((*parsed)["rawTranscript"], "raw \xEF\xBF\xBD");
}

TEST(ChatCompletions, WorkerBodyGolden) {
  const InputContext context = richContext();
  const RefineProfile profile = RefineProfile::named("context-lite");
  Json expected = {
      {"speaker", "me"},
      {"sourceLanguage", "zh-CN"},
      {"targetLanguage", "zh-CN"},
      {"sourceMode", "cleaned"},
      {"rawTranscript", "我想问一下 DeepSeek"},
      {"preserveVerbatim", true},
      {"preserveProfanity", true},
      {"instruction", profile.workerInstruction(context)},
      {"profile", "context-lite"},
      {"postProcessMode", "conservative"},
      {"context", Json::parse(R"([{"type":"active_app","text":"Gedit org.gnome.gedit"},
          {"type":"focused_role","text":"AXTextArea"},{"type":"focused_value_settable","text":"true"},
          {"type":"text_before_cursor","text":"前文"},{"type":"scene","text":"developer"},
          {"type":"app_type","text":"developer_tool"},{"type":"input_area_type","text":"text_area"},
          {"type":"output_style","text":"technical_note"},
          {"type":"input_box_identifier","text":"org.gnome.gedit|Gedit|AXTextArea"},
          {"type":"full_field_content","text":"前文"}])")},
      {"appContext", context.apiObject()},
      {"audioContext", context.murmlyLikeAudioContext()},
      {"modeMetadata", context.modeMetadata()},
      {"clientMetadata", context.clientMetadata()},
      {"inputBoxIdentifier", "org.gnome.gedit|Gedit|AXTextArea"},
      {"contextSchemaVersion", "sorvane-context-v7-murmly-like"},
  };
  EXPECT_EQ(workerRequestBody("我想问一下 DeepSeek", context, profile), expected);

  const Json bare = workerRequestBody("please ship the build 今天", InputContext{}, RefineProfile::named("baseline"));
  EXPECT_EQ(bare, (Json{{"speaker", "me"},
                        {"sourceLanguage", "en-US"},
                        {"targetLanguage", "en-US"},
                        {"sourceMode", "cleaned"},
                        {"rawTranscript", "please ship the build 今天"},
                        {"preserveVerbatim", true},
                        {"preserveProfanity", true},
                        {"instruction", RefineProfile::named("baseline").workerInstruction(InputContext{})},
                        {"profile", "baseline"},
                        {"postProcessMode", "legacy"},
                        {"context", Json::array()}}));
}

TEST(ChatCompletions, RequestBodyAndReplyContent) {
  const Json body = chatCompletionsBody("deepseek-chat", 0, 620, "系统", "用户");
  EXPECT_EQ(body, Json::parse(R"({"model":"deepseek-chat","temperature":0,"max_tokens":620,
      "messages":[{"role":"system","content":"系统"},{"role":"user","content":"用户"}]})"));
  EXPECT_TRUE(body["temperature"].is_number_integer());
  EXPECT_DOUBLE_EQ(chatCompletionsBody("qwen-plus", 0.88, 360, "", "")["temperature"].get<double>(), 0.88);

  struct Case {
    const char* body;
    std::optional<std::string> content;
  } cases[] = {
      {R"({"choices":[{"message":{"content":"{\"text\":\"好\"}"}}]})", "{\"text\":\"好\"}"},
      {R"({"choices":[{"message":{"content":7}}]})", std::nullopt},
      {R"({"choices":[]})", std::nullopt},
      {R"({"choices":[{"delta":{}}]})", std::nullopt},
      {R"({"choices":{"message":{"content":"x"}}})", std::nullopt},
      {R"(["choices"])", std::nullopt},
      {"not json", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(chatCompletionContent(c.body), c.content) << c.body;
}

TEST(ChatCompletions, ParseDirectModelText) {
  struct Case {
    const char* content;
    const char* text;
  } cases[] = {
      {"```json\n{\"text\":\"好的\"}\n```", "好的"},
      {"```JSON {\"text\":\" 好的 \"}```", "好的"},
      {"好的", "好的"},
      {"  {\"text\":\"  有两个问题：\\n1. 甲\\n2. 乙 \"}  ", "有两个问题：\n1. 甲\n2. 乙"},
      {"{\"text\":5}", "{\"text\":5}"},
      {"```\n普通文本\n```", "普通文本"},
      {"<think>先想一想 {\"text\":\"错\"}</think>\n{\"text\":\"对\"}", "对"},
      {"<think>only thinking, cut off", ""},
      {"答案 <think>x</think>", "答案 <think>x</think>"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(parseDirectModelText(c.content), c.text) << c.content;
  EXPECT_EQ(parseJSONTextField("{\"text\":\" a \"}"), "a");
  EXPECT_EQ(parseJSONTextField("[\"text\"]"), std::nullopt);
}

}  // namespace
}  // namespace sorvane
