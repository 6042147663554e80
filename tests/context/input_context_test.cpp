#include <gtest/gtest.h>

#include <string>

#include "context/input_context.h"
#include "context/url_host.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

InputContext make(const char* json) { return InputContext::synthetic(parseJsonObject(json)); }

std::string repeat(std::string_view unit, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += unit;
  return out;
}

TEST(UrlHost, ParsesHostsHonestly) {
  struct Case {
    const char* url;
    const char* host;
  } cases[] = {
      {"https://Docs.QQ.com/doc/DV2", "docs.qq.com"},
      {"  http://user:p@ss@example.org:8080/a?b#c  ", "example.org"},
      {"https://example.org?q=1", "example.org"},
      {"http://[::1]:8080/x", "[::1]"},
      {"http://[FE80::1%eth0]/", ""},  // zone ids are not valid in URLs
      {"http://[::1/", ""},
      {"https://example.org:port/", ""},
      {"https://exa mple.org/", ""},
      {"example.org/path", ""},
      {"file:///tmp/notes.txt", ""},
      {"mailto:someone@example.org", ""},
      {"", ""},
      {"1http://example.org", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(urlHost(c.url), c.host) << c.url;
}

TEST(InputContext, ClassificationFollowsFirstMatchingRow) {
  struct Case {
    const char* json;
    const char* scene;
    const char* appType;
    const char* inputArea;
    const char* outputStyle;
  } cases[] = {
      {R"({"bundleIdentifier":"com.apple.mail"})", "email", "email_client", "email_body", "email_body"},
      // Mail beats chat, and a name test is a substring test.
      {R"({"appName":"WeMail","bundleIdentifier":"com.tencent.wechat"})", "email", "email_client", "email_body",
       "email_body"},
      {R"({"bundleIdentifier":"com.tencent.xinWeChat","focusedRole":"AXTextArea"})", "chat", "messaging",
       "chat_input", "direct_chat_reply"},
      {R"({"appName":"微信"})", "chat", "messaging", "chat_input", "direct_chat_reply"},
      {R"({"bundleIdentifier":"com.electron.lark"})", "work-chat", "messaging", "chat_input", "direct_chat_reply"},
      {R"({"appName":"飞书"})", "work-chat", "native_app", "chat_input", "direct_chat_reply"},
      // "arc" inside "search" is a browser.
      {R"({"bundleIdentifier":"org.example.search","focusedRole":"AXTextField"})", "browser", "web_browser",
       "text_field", "dictation_text"},
      {R"({"bundleIdentifier":"com.openai.codex"})", "ai-chat", "ai_assistant", "chat_input", "ai_prompt"},
      {R"({"appName":"Claude","bundleIdentifier":"com.anthropic.claudefordesktop"})", "ai-chat", "native_app",
       "chat_input", "ai_prompt"},
      {R"({"bundleIdentifier":"org.gnome.Terminal"})", "developer", "developer_tool", "developer_input",
       "technical_note"},
      {R"({"bundleIdentifier":"org.gnome.Terminal","focusedRole":"AXTextArea"})", "developer", "developer_tool",
       "text_area", "technical_note"},
      {R"({"appName":"Notes","browserURL":"https://x.org","focusedTitle":"Message Body"})", "general",
       "web_browser", "email_body", "dictation_text"},
      {R"({"appName":"Notes","focusedRole":"text area"})", "general", "native_app", "text_area", "dictation_text"},
      {R"({})", "general", "native_app", "unknown_input", "dictation_text"},
  };
  for (const auto& c : cases) {
    const InputContext context = make(c.json);
    EXPECT_EQ(context.scene(), c.scene) << c.json;
    EXPECT_EQ(context.appType(), c.appType) << c.json;
    EXPECT_EQ(context.inputAreaType(), c.inputArea) << c.json;
    EXPECT_EQ(context.outputStyle(), c.outputStyle) << c.json;
  }
}

// Linux identities beside the other platform's rows.
TEST(InputContext, LinuxApplicationsAreClassified) {
  struct Case {
    const char* id;
    const char* scene;
    const char* appType;
  } cases[] = {
      {"firefox", "browser", "web_browser"},
      {"chromium", "browser", "web_browser"},
      {"google-chrome", "browser", "web_browser"},
      {"gnome-terminal", "developer", "developer_tool"},
      {"org.gnome.Terminal", "developer", "developer_tool"},
      {"konsole", "developer", "developer_tool"},
      {"org.kde.konsole", "developer", "developer_tool"},
      {"xterm", "developer", "developer_tool"},
      {"kitty", "developer", "developer_tool"},
      {"Alacritty", "developer", "developer_tool"},
      {"wezterm", "developer", "developer_tool"},
      {"tilix", "developer", "developer_tool"},
      {"code", "developer", "developer_tool"},
      {"jetbrains-idea", "developer", "developer_tool"},
      {"kate", "developer", "developer_tool"},
      {"gedit", "developer", "developer_tool"},
      {"emacs", "developer", "developer_tool"},
      {"telegram-desktop", "chat", "messaging"},
      {"discord", "chat", "messaging"},
      {"element", "chat", "messaging"},
      {"wechat", "chat", "messaging"},
      {"slack", "work-chat", "messaging"},
      {"dingtalk", "work-chat", "messaging"},
      {"feishu", "work-chat", "messaging"},
      {"lark", "work-chat", "messaging"},
      // Whole ids only: a short Linux id inside another identifier is no match.
      {"org.example.decoder", "general", "native_app"},
      {"org.example.kitty-litter", "general", "native_app"},
      // The other platform's rows stay.
      {"com.apple.Safari", "browser", "web_browser"},
      {"com.googlecode.iterm2", "developer", "developer_tool"},
  };
  for (const auto& c : cases) {
    InputContext context;
    context.bundleIdentifier = c.id;
    EXPECT_EQ(context.scene(), c.scene) << c.id;
    EXPECT_EQ(context.appType(), c.appType) << c.id;
  }
}

TEST(InputContext, PasteTargetReasonTable) {
  struct Case {
    const char* json;
    const char* reason;  // nullptr: no paste target
  } cases[] = {
      {R"({"appName":"Gedit","focusedRole":"AXStaticText"})", "focused-text-role"},
      {R"({"focusedRole":"AXComboBox"})", "focused-text-role"},
      {R"({"focusedRole":"AXGroup","focusedValueSettable":true})", "focused-value-settable"},
      {R"({"focusedRole":"AXWebArea","browserEditableFocused":true})", "browser-dom-editable"},
      {R"({"focusedRole":"AXGroup","selectedText":"  hello "})", "field-or-selection-context"},
      {R"({"focusedRole":"AXGroup","textAfterCursor":"tail"})", "field-or-selection-context"},
      {R"({"appName":"WeChat","bundleIdentifier":"com.tencent.wechat"})", "wechat-chat"},
      {R"({"appName":"Lark","bundleIdentifier":"com.electron.lark"})", "work-chat"},
      {R"({"appName":"Claude","bundleIdentifier":"com.anthropic.claude"})", "claude-ai-chat"},
      {R"({"appName":"Claude","visibleText":"Write a message to Sonnet"})", "claude-ai-chat"},
      {R"({"appName":"Claude","visibleText":"Settings and billing"})", nullptr},
      {R"({"appName":"Codex","bundleIdentifier":"com.openai.codex"})", "codex-ai-chat"},
      {R"({"bundleIdentifier":"com.google.Chrome","browserURL":"https://DOCS.qq.com/doc/1"})",
       "known-editable-webapp"},
      {R"({"bundleIdentifier":"com.google.Chrome","browserURL":"https://sheet.docs.qq.com/x"})",
       "known-editable-webapp"},
      {R"({"bundleIdentifier":"com.google.Chrome","browserURL":"docs.qq.com/doc/1"})", "known-editable-webapp"},
      {R"({"bundleIdentifier":"com.google.Chrome","browserTitle":"周报 - 腾讯文档"})", "known-editable-webapp"},
      {R"({"bundleIdentifier":"com.google.Chrome","browserURL":"https://www.notion.so/page"})",
       "known-editable-webapp"},
      // The service named only in a query or fragment is another page.
      {R"({"bundleIdentifier":"com.google.Chrome","browserURL":"https://login.example.com/?next=docs.qq.com/doc/1"})",
       nullptr},
      {R"({"bundleIdentifier":"com.google.Chrome","browserURL":"https://blog.example.com/a#doc.weixin.qq.com"})",
       nullptr},
      {R"({"bundleIdentifier":"com.google.Chrome","browserURL":"https://example.com/open/docs.qq.com/x"})",
       "known-editable-webapp"},
      // A look-alike host is not the service itself.
      {R"({"bundleIdentifier":"com.google.Chrome","browserURL":"https://notion.so.example.com/"})", nullptr},
      {R"({"bundleIdentifier":"com.google.Chrome","focusedRole":"AXWebArea","browserURL":"https://blog.example.com/post","browserTitle":"Why RAG","visibleText":"Long article body"})",
       nullptr},
      {R"({"bundleIdentifier":"com.google.Chrome","focusedRole":"AXWebArea","visibleText":"Leave a comment below"})",
       "browser-editing-surface-hint"},
      {R"({"bundleIdentifier":"com.google.Chrome","focusedRole":"AXGroup","visibleText":"Bold Italic Underline"})",
       "browser-editing-surface-hint"},
      {R"({"appName":"Board","focusedRole":"AXScrollArea","windowTitle":"标题 1 标题 2 正文"})",
       "focused-editing-surface-hint"},
      // Two words of a toolbar set are not enough.
      {R"({"appName":"Board","focusedRole":"AXScrollArea","windowTitle":"字体 字号"})", nullptr},
      {R"({"appName":"Board","focusedRole":"AXButton","visibleText":"type here"})", nullptr},
      // A terminal's window takes the keys whatever its tree names as focused.
      {R"({"appName":"qterminal","bundleIdentifier":"qterminal","focusedRole":"AXRadioButton"})", "terminal-window"},
      {R"({"appName":"Konsole","bundleIdentifier":"org.kde.konsole","focusedRole":"AXGroup"})", "terminal-window"},
      {R"({"appName":"kitty","focusedRole":"AXGroup"})", "terminal-window"},
      {R"({"appName":"Terminology Notes","focusedRole":"AXGroup"})", nullptr},  // names are matched whole
      {nullptr, nullptr},
  };
  for (const auto& c : cases) {
    const InputContext context = c.json ? make(c.json) : InputContext::synthetic(std::nullopt);
    const auto reason = context.pasteTargetReason();
    if (c.reason == nullptr) {
      EXPECT_FALSE(reason.has_value()) << (c.json ? c.json : "absent") << " -> " << *reason;
    } else {
      EXPECT_EQ(reason.value_or("<none>"), c.reason) << c.json;
    }
  }
  InputContext withCaret;
  withCaret.focusedRole = "AXGroup";
  withCaret.caretFrame = Rect{10, 20, 1, 16};
  EXPECT_EQ(withCaret.pasteTargetReason().value_or(""), "focused-caret");
}

TEST(InputContext, TruncationBounds) {
  const std::string text = repeat("字", 2000) + repeat("b", 3000);
  const std::string cut = InputContext::truncateMiddle(text, 2400);
  EXPECT_EQ(cut, repeat("字", 800) + "\n...\n" + repeat("b", 1584));

  EXPECT_EQ(InputContext::truncateMiddle(repeat("a", 30), 24), repeat("a", 8) + "\n...\n");
  EXPECT_EQ(InputContext::truncateMiddle(repeat("a", 5), 0), "\n...\n");
  EXPECT_EQ(InputContext::truncateMiddle(repeat("👍🏽", 10), 10), repeat("👍🏽", 10));

  EXPECT_EQ(InputContext::truncateTail("一二三四五", 2), "四五");
  EXPECT_EQ(InputContext::truncateTail("一二", 2), "一二");

  EXPECT_EQ(InputContext::clean(std::nullopt), "");
  EXPECT_EQ(InputContext::clean(std::string(" \n你好 ")), "你好");
  EXPECT_EQ(InputContext::clean(" " + repeat("好", 1300)), repeat("好", 1200));
}

TEST(InputContext, InputBoxIdentifier) {
  EXPECT_EQ(InputContext{}.inputBoxIdentifier(), "unknown-input");
  EXPECT_EQ(make(R"({"bundleIdentifier":"org.gnome.gedit","windowTitle":"  ","focusedRole":"AXTextArea",
                     "browserURL":"not a url"})")
                .inputBoxIdentifier(),
            "org.gnome.gedit|AXTextArea");
  EXPECT_EQ(make(R"({"appName":"Chrome","focusedTitle":"Search","browserURL":"https://Mail.Example.com/u/0"})")
                .inputBoxIdentifier(),
            "Chrome|Search|mail.example.com");
  InputContext longTitle;
  longTitle.windowTitle = repeat("题", 500);
  EXPECT_EQ(longTitle.inputBoxIdentifier(), repeat("题", 420));
}

TEST(InputContext, SyntheticFromLooseData) {
  const InputContext absent = InputContext::synthetic(std::nullopt);
  EXPECT_EQ(absent.source, "none");
  EXPECT_FALSE(absent.hasMeaningfulContext());
  EXPECT_EQ(InputContext::synthetic(parseJson("[1,2]")).source, "none");

  const InputContext empty = make("{}");
  EXPECT_EQ(empty.source, "benchmark");
  EXPECT_EQ(empty.appName, "");
  EXPECT_FALSE(empty.focusedFrame.has_value());

  const InputContext loose = make(R"({"appName":42,"windowTitle":" 标题 ","focusedValueSettable":"yes",
      "browserEditableFocused":true,"source":"  ","visibleText":"a\t \tb\r\n\r\n\r\n\r\nc  "})");
  EXPECT_EQ(loose.appName, "");
  EXPECT_EQ(loose.windowTitle, "标题");
  EXPECT_FALSE(loose.focusedValueSettable);
  EXPECT_TRUE(loose.browserEditableFocused);
  EXPECT_EQ(loose.source, "benchmark");
  EXPECT_EQ(loose.visibleText, "a b\n\nc");

  const InputContext longVisible = make(("{\"visibleText\":\"" + repeat("x", 100) + repeat("y", 3600) + "\"}").c_str());
  EXPECT_EQ(longVisible.visibleText, repeat("y", 3600));
  EXPECT_EQ(make(R"({"source":"self-check"})").source, "self-check");
}

TEST(InputContext, MeaningfulContextAndPromptBlock) {
  // Only the bundle identifier is not meaningful.
  EXPECT_EQ(make(R"({"bundleIdentifier":"com.example.app"})").promptBlock(1800), "无可用上下文。");

  const InputContext context = make(R"({"appName":"Gedit","focusedRole":"AXTextArea","focusedValueSettable":true,
      "textBeforeCursor":"前文","visibleText":"  "})");
  EXPECT_EQ(context.promptBlock(4200),
            "上下文 schema：sorvane-context-v7-murmly-like\n"
            "输出目标：dictation_text\n"
            "场景：general，应用类型：native_app，输入区：text_area\n"
            "上下文优先级：1. 选中文本和光标附近；2. 当前输入框完整片段；3. 当前窗口可见文本；4. "
            "App/浏览器元信息。上下文只用于消歧和承接，不能替用户新增没说出口的内容。\n"
            "当前应用：Gedit ()\n"
            "焦点控件：AXTextArea value-settable\n"
            "输入框标识：Gedit|AXTextArea\n"
            "光标前文本：前文\n"
            "完整输入框片段：前文");
  const std::string shortBlock = context.promptBlock(60);
  EXPECT_LT(text::graphemeCount(shortBlock), 60u);
  EXPECT_TRUE(text::contains(shortBlock, "\n...\n"));
}

TEST(InputContext, KeywordCandidatesLongestFirstAndDeduplicated) {
  InputContext context;
  context.selectedText = "API api";
  context.textBeforeCursor = "use DeepSeek with speechMs";
  context.visibleText = "DeepSeek x Qwen3-ASR " + repeat("a", 41) + " C++";
  const auto keywords = context.keywordCandidates();
  const std::vector<std::string> expected{"Qwen3-ASR", "DeepSeek", "speechMs", "with", "API", "api", "use",
                                          "C++"};
  EXPECT_EQ(keywords, expected);

  InputContext many;
  for (int i = 0; i < 40; ++i) many.visibleText += "w" + std::to_string(100 + i) + " ";
  EXPECT_EQ(many.keywordCandidates().size(), 24u);
}

TEST(InputContext, WorkerItemsCarryOnlyTrueFlagsAndBoundedText) {
  InputContext context;
  context.appName = "Gedit";
  context.visibleText = repeat("v", 3000);
  context.selectedText = repeat("s", 1000);
  Json items = context.workerContextItems();
  bool sawSettable = false;
  for (const auto& item : items) {
    const std::string type = item["type"];
    const std::string value = item["text"];
    if (type == "focused_value_settable" || type == "browser_editable_focused") sawSettable = true;
    if (type == "visible_window_text") {
      EXPECT_LT(value.size(), 2600u);
    }
    if (type == "selected_text") {
      EXPECT_EQ(value, repeat("s", 300) + "\n...\n" + repeat("s", 584));
    }
    if (type == "active_app") {
      EXPECT_EQ(value, "Gedit");
    }
  }
  EXPECT_FALSE(sawSettable);

  context.focusedValueSettable = true;
  items = context.workerContextItems();
  EXPECT_TRUE(std::any_of(items.begin(), items.end(), [](const Json& item) {
    return item["type"] == "focused_value_settable" && item["text"] == "true";
  }));
}

// The JSON object sent to models, for a rich and for an empty context.
TEST(InputContext, ApiObjectGolden) {
  const InputContext rich = make(R"({
      "appName":"Chrome","bundleIdentifier":"com.google.Chrome","windowTitle":"RAG 方案评审 - Docs",
      "focusedRole":"AXTextArea","focusedTitle":"正文","focusedValueSettable":true,
      "selectedText":"向量检索","textBeforeCursor":"我们先用 RAG，","textAfterCursor":"然后再看 embedding。",
      "visibleText":"User: 向量检索是一类检索方法\nAssistant: 好的",
      "browserURL":"https://docs.google.com/document/d/1","browserTitle":"RAG 方案评审",
      "browserEditableFocused":true,"source":"accessibility"})");
  const Json expectedAudio = Json::parse(R"({
    "schema_version":"sorvane-context-v7-murmly-like",
    "focusedInput":{
      "input_box_identifier":"com.google.Chrome|Chrome|RAG 方案评审 - Docs|AXTextArea|正文|docs.google.com",
      "input_area_type":"text_area","accessibility_role":"AXTextArea","accessibility_title":"正文",
      "input_capabilities":{"supports_plain_text":true,"has_selection_api":true,"has_settable_value":true,
        "has_browser_editable_focus":true,"has_cursor_context":true,"has_visible_context":true},
      "cursor_state":{"cursor_position":9,"has_text_selected":true,"selected_text":"向量检索",
        "text_before_cursor":"我们先用 RAG，","text_after_cursor":"然后再看 embedding。",
        "full_field_content":"我们先用 RAG， 向量检索 然后再看 embedding。"},
      "surrounding_context":{"text_before_input_area":"我们先用 RAG，","text_after_input_area":"然后再看 embedding。"}},
    "appInfo":{"app_name":"Chrome","app_identifier":"com.google.Chrome","app_type":"web_browser",
      "window_title":"RAG 方案评审 - Docs",
      "app_metadata":{"scene":"browser","output_style":"dictation_text","source":"accessibility"},
      "browser_context":{"url":"https://docs.google.com/document/d/1","title":"RAG 方案评审","host":"docs.google.com"},
      "visible_screen_content":"User: 向量检索是一类检索方法\nAssistant: 好的"},
    "context_priority":["focusedInput.cursor_state","focusedInput.surrounding_context",
      "appInfo.visible_screen_content","appInfo.browser_context","appInfo.window_title"]})");
  Json expected = Json::parse(R"({
    "appName":"Chrome","bundleIdentifier":"com.google.Chrome","windowTitle":"RAG 方案评审 - Docs",
    "focusedRole":"AXTextArea","focusedTitle":"正文","focusedValueSettable":true,"selectedText":"向量检索",
    "textBeforeCursor":"我们先用 RAG，","textAfterCursor":"然后再看 embedding。",
    "visibleText":"User: 向量检索是一类检索方法\nAssistant: 好的",
    "browserURL":"https://docs.google.com/document/d/1","browserTitle":"RAG 方案评审","browserEditableFocused":true,
    "scene":"browser","source":"accessibility","appType":"web_browser","inputAreaType":"text_area",
    "outputStyle":"dictation_text",
    "inputBoxIdentifier":"com.google.Chrome|Chrome|RAG 方案评审 - Docs|AXTextArea|正文|docs.google.com",
    "browserHost":"docs.google.com","fullFieldContent":"我们先用 RAG， 向量检索 然后再看 embedding。",
    "modeMetadata":{"mode":"VOICE_TRANSCRIPT","source_mode":"dictation","output_style":"dictation_text",
      "structure_policy":"intent_preserving","scene":"browser","selected_text":"向量检索"},
    "clientMetadata":{"client":"mirla","platform":"linux","context_schema":"sorvane-context-v7-murmly-like",
      "context_collector":"linux-atspi","source":"accessibility","has_focused_input":true,
      "focused_value_settable":true,"browser_editable_focused":true,"has_visible_screen_content":true,
      "has_browser_context":true}})");
  expected["audioContext"] = expectedAudio;
  expected["murmlyContext"] = expectedAudio;
  EXPECT_EQ(rich.apiObject(), expected) << rich.apiObject().dump(2);

  const InputContext empty = InputContext::synthetic(std::nullopt);
  const Json emptyAudio = Json::parse(R"({
    "schema_version":"sorvane-context-v7-murmly-like",
    "focusedInput":{"input_box_identifier":"unknown-input","input_area_type":"unknown_input",
      "accessibility_role":"","accessibility_title":"",
      "input_capabilities":{"supports_plain_text":true,"has_selection_api":true,"has_settable_value":false,
        "has_browser_editable_focus":false,"has_cursor_context":false,"has_visible_context":false},
      "cursor_state":{"cursor_position":0,"has_text_selected":false,"selected_text":"","text_before_cursor":"",
        "text_after_cursor":"","full_field_content":""},
      "surrounding_context":{"text_before_input_area":"","text_after_input_area":""}},
    "appInfo":{"app_name":"","app_identifier":"","app_type":"native_app","window_title":"",
      "app_metadata":{"scene":"general","output_style":"dictation_text","source":"none"},
      "browser_context":{},"visible_screen_content":""},
    "context_priority":["focusedInput.cursor_state","focusedInput.surrounding_context",
      "appInfo.visible_screen_content","appInfo.browser_context","appInfo.window_title"]})");
  Json expectedEmpty = Json::parse(R"({
    "appName":"","bundleIdentifier":"","windowTitle":"","focusedRole":"","focusedTitle":"",
    "focusedValueSettable":false,"selectedText":"","textBeforeCursor":"","textAfterCursor":"","visibleText":"",
    "browserURL":"","browserTitle":"","browserEditableFocused":false,"scene":"general","source":"none",
    "appType":"native_app","inputAreaType":"unknown_input","outputStyle":"dictation_text",
    "inputBoxIdentifier":"unknown-input","browserHost":"","fullFieldContent":"",
    "modeMetadata":{"mode":"VOICE_TRANSCRIPT","source_mode":"dictation","output_style":"dictation_text",
      "structure_policy":"intent_preserving","scene":"general"},
    "clientMetadata":{"client":"mirla","platform":"linux","context_schema":"sorvane-context-v7-murmly-like",
      "context_collector":"linux-atspi","source":"none","has_focused_input":false,"focused_value_settable":false,
      "browser_editable_focused":false,"has_visible_screen_content":false,"has_browser_context":false}})");
  expectedEmpty["audioContext"] = emptyAudio;
  expectedEmpty["murmlyContext"] = emptyAudio;
  EXPECT_EQ(empty.apiObject(), expectedEmpty) << empty.apiObject().dump(2);
}

}  // namespace
}  // namespace sorvane
