#include "context/input_context.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <unordered_set>

#include "context/url_host.h"
#include "core/regex.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

using text::contains;

bool containsAny(std::string_view haystack, std::initializer_list<std::string_view> needles) {
  for (auto needle : needles) {
    if (contains(haystack, needle)) return true;
  }
  return false;
}

template <std::size_t N>
bool containsAny(std::string_view haystack, const std::array<std::string_view, N>& needles) {
  for (auto needle : needles) {
    if (contains(haystack, needle)) return true;
  }
  return false;
}

std::string joinNonBlank(std::initializer_list<std::string_view> parts, std::string_view separator) {
  std::string out;
  for (auto part : parts) {
    std::string trimmed = text::trim(part);
    if (trimmed.empty()) continue;
    if (!out.empty()) out += separator;
    out += trimmed;
  }
  return out;
}

std::string joinWithSpace(std::initializer_list<std::string_view> parts) {
  std::string out;
  bool first = true;
  for (auto part : parts) {
    if (!first) out += ' ';
    out += part;
    first = false;
  }
  return out;
}

// Online document editors whose editing surface is not exposed with a text role. Group A
// is one service (its main site and the two sites of its variant inside the enterprise
// messenger); group B holds one host of each of four further document and wiki services.
struct KnownEditableHosts {
  std::array<std::string_view, 3> groupA;
  std::array<std::string_view, 4> groupB;
};
constexpr KnownEditableHosts kKnownEditableHosts{
    {"docs.qq.com", "doc.weixin.qq.com", "drive.weixin.qq.com"},
    {"docs.google.com", "notion.so", "shimo.im", "yuque.com"},
};

bool hostMatches(std::string_view host, std::string_view name) {
  if (host.empty()) return false;
  if (host == name) return true;
  return host.size() > name.size() && text::endsWith(host, name) &&
         host[host.size() - name.size() - 1] == '.';
}

constexpr std::array<std::string_view, 11> kClaudeSurfaceWords{
    "write a message", "message claude", "new chat", "chat",     "sonnet", "opus",
    "haiku",           "projects",       "artifacts", "cowork", "code"};

constexpr std::array<std::string_view, 26> kEditorPlaceholders{
    "请输入正文",  "请输入标题",  "点击输入",       "输入正文",        "输入标题",
    "开始输入",    "写点什么",    "添加评论",       "发表评论",        "写评论",
    "输入消息",    "发送消息",    "说点什么",       "问我任何问题",    "add comment",
    "leave a comment", "write a comment", "write a reply", "write a message", "type a message",
    "message...",  "ask anything", "type here",     "start writing",   "send a message",
    "prompt"};

constexpr std::array<std::array<std::string_view, 3>, 5> kEditorToolbarSets{{
    {"字体", "字号", "正文"},
    {"标题 1", "标题 2", "正文"},
    {"标题1", "标题2", "正文"},
    {"bold", "italic", "underline"},
    {"format", "paragraph", "heading"},
}};

constexpr std::size_t kCleanLimit = 1200;
constexpr std::size_t kVisibleTextLimit = 3600;
constexpr std::size_t kFullFieldLimit = 2400;
constexpr std::size_t kInputBoxIdentifierLimit = 420;
constexpr std::size_t kKeywordLimit = 24;

}  // namespace

// ---------------------------------------------------------------------------
// Text utilities

std::string InputContext::truncateMiddle(std::string_view value, std::size_t max) {
  if (text::graphemeCount(value) <= max) return std::string(value);
  const std::size_t head = max / 3;
  const std::size_t tail = max > head + 16 ? max - head - 16 : 0;
  std::string out = text::graphemePrefix(value, head);
  out += "\n...\n";
  if (tail > 0) out += text::graphemeSuffix(value, tail);
  return out;
}

std::string InputContext::truncateTail(std::string_view value, std::size_t max) {
  if (text::graphemeCount(value) <= max) return std::string(value);
  return text::graphemeSuffix(value, max);
}

std::string InputContext::clean(const std::optional<std::string>& value) {
  if (!value) return {};
  return text::graphemePrefix(text::trim(*value), kCleanLimit);
}

// ---------------------------------------------------------------------------
// Classification

std::string_view InputContext::scene() const {
  const std::string bundle = text::toLower(bundleIdentifier);
  const std::string app = text::toLower(appName);
  if (contains(bundle, "com.apple.mail")) return "email";
  if (contains(app, "mail")) return "email";
  if (contains(bundle, "feishu") || contains(bundle, "lark") || contains(app, "飞书")) return "work-chat";
  if (contains(bundle, "wechat") || contains(app, "微信")) return "chat";
  if (containsAny(bundle, {"chrome", "safari", "arc"})) return "browser";
  if (contains(bundle, "codex") || contains(app, "codex") || contains(bundle, "anthropic") ||
      contains(bundle, "claude") || contains(app, "claude")) {
    return "ai-chat";
  }
  if (containsAny(bundle, {"xcode", "terminal", "iterm"})) return "developer";
  return "general";
}

std::string_view InputContext::appType() const {
  const std::string bundle = text::toLower(bundleIdentifier);
  const std::string app = text::toLower(appName);
  if (containsAny(bundle, {"chrome", "safari", "arc"})) return "web_browser";
  if (!browserURL.empty()) return "web_browser";
  if (contains(bundle, "codex") || contains(app, "codex")) return "ai_assistant";
  if (contains(bundle, "mail") || contains(app, "mail")) return "email_client";
  if (containsAny(bundle, {"feishu", "lark", "wechat"}) || contains(app, "微信")) return "messaging";
  if (containsAny(bundle, {"xcode", "terminal", "iterm"})) return "developer_tool";
  return "native_app";
}

std::string_view InputContext::inputAreaType() const {
  const std::string_view currentScene = scene();
  const std::string role = text::toLower(focusedRole);
  const std::string title = text::toLower(focusedTitle);
  if (currentScene == "email") return "email_body";
  if (contains(title, "message body")) return "email_body";
  if (currentScene == "chat" || currentScene == "work-chat" || currentScene == "ai-chat") return "chat_input";
  if (contains(role, "textarea") || contains(role, "text area")) return "text_area";
  if (contains(role, "textfield") || contains(role, "text field")) return "text_field";
  if (currentScene == "developer") return "developer_input";
  return "unknown_input";
}

std::string_view InputContext::outputStyle() const {
  const std::string_view currentScene = scene();
  if (currentScene == "chat" || currentScene == "work-chat") return "direct_chat_reply";
  if (currentScene == "ai-chat") return "ai_prompt";
  if (currentScene == "email") return "email_body";
  if (currentScene == "developer") return "technical_note";
  return "dictation_text";
}

bool InputContext::hasMeaningfulContext() const {
  for (const std::string* field : {&appName, &windowTitle, &focusedRole, &focusedTitle, &selectedText,
                                   &textBeforeCursor, &textAfterCursor, &visibleText, &browserURL,
                                   &browserTitle}) {
    if (!text::isBlank(*field)) return true;
  }
  return false;
}

std::string InputContext::fullFieldContent() const {
  return truncateMiddle(joinNonBlank({textBeforeCursor, selectedText, textAfterCursor}, " "),
                        kFullFieldLimit);
}

std::string InputContext::browserHost() const { return urlHost(browserURL); }

std::string InputContext::inputBoxIdentifier() const {
  const std::string host = browserHost();
  std::string id = joinNonBlank({bundleIdentifier, appName, windowTitle, focusedRole, focusedTitle, host}, "|");
  if (id.empty()) return "unknown-input";
  return text::graphemePrefix(id, kInputBoxIdentifierLimit);
}

bool InputContext::isCodexPromptSurface() const {
  if (scene() != "ai-chat") return false;
  return contains(text::toLower(bundleIdentifier), "codex") || contains(text::toLower(appName), "codex");
}

bool InputContext::isClaudePromptSurface() const {
  if (scene() != "ai-chat") return false;
  const std::string bundle = text::toLower(bundleIdentifier);
  const std::string app = text::toLower(appName);
  if (!(contains(bundle, "anthropic") || contains(bundle, "claude") || contains(app, "claude"))) return false;
  const std::string hay = text::toLower(joinWithSpace({visibleText, windowTitle, focusedTitle, focusedRole}));
  if (text::isBlank(hay)) return true;
  return containsAny(hay, kClaudeSurfaceWords);
}

bool InputContext::isKnownEditableWebApp() const {
  const std::string host = browserHost();
  const std::string url = text::toLower(browserURL);
  const std::string titles = text::toLower(browserTitle + " " + windowTitle);
  for (auto name : kKnownEditableHosts.groupA) {
    if (hostMatches(host, name)) return true;
  }
  for (auto name : kKnownEditableHosts.groupA) {
    if (contains(url, name)) return true;
  }
  if (contains(titles, "腾讯文档") || contains(titles, "tencent docs")) return true;
  for (auto name : kKnownEditableHosts.groupB) {
    if (hostMatches(host, name)) return true;
  }
  return false;
}

bool InputContext::isFocusedEditingSurfaceHint() const {
  const std::string role = text::toLower(focusedRole);
  if (!containsAny(role, {"webarea", "group", "scroll", "application"})) return false;
  const std::string hay = text::toLower(joinWithSpace({visibleText, windowTitle, browserTitle, browserURL}));
  if (text::isBlank(hay)) return false;
  if (containsAny(hay, kEditorPlaceholders)) return true;
  for (const auto& set : kEditorToolbarSets) {
    if (std::all_of(set.begin(), set.end(), [&](std::string_view word) { return contains(hay, word); })) {
      return true;
    }
  }
  return false;
}

std::optional<std::string_view> InputContext::pasteTargetReason() const {
  const std::string role = text::toLower(focusedRole);
  if (containsAny(role, {"text", "edit", "textarea", "textfield", "search", "combo"})) return "focused-text-role";
  if (focusedValueSettable) return "focused-value-settable";
  if (browserEditableFocused) return "browser-dom-editable";
  if (caretFrame) return "focused-caret";
  if (!fullFieldContent().empty()) return "field-or-selection-context";
  if (!selectedText.empty()) return "field-or-selection-context";
  const std::string_view currentScene = scene();
  const std::string bundle = text::toLower(bundleIdentifier);
  const std::string app = text::toLower(appName);
  if (currentScene == "chat" && (contains(bundle, "wechat") || contains(app, "微信") || contains(app, "wechat"))) {
    return "wechat-chat";
  }
  if (currentScene == "work-chat" && (contains(bundle, "feishu") || contains(bundle, "lark") ||
                                      contains(app, "飞书") || contains(app, "lark"))) {
    return "work-chat";
  }
  if (isClaudePromptSurface()) return "claude-ai-chat";
  if (isCodexPromptSurface()) return "codex-ai-chat";
  if (isKnownEditableWebApp()) return "known-editable-webapp";
  const bool editingHint = isFocusedEditingSurfaceHint();
  if (currentScene == "browser" && editingHint) return "browser-editing-surface-hint";
  if (currentScene != "browser" && editingHint) return "focused-editing-surface-hint";
  return std::nullopt;
}

std::vector<std::string> InputContext::keywordCandidates() const {
  const Regex& pattern = cachedRegex("[A-Za-z][A-Za-z0-9+.#_-]{1,}");
  if (!pattern.valid()) return {};
  const std::string hay = joinWithSpace({selectedText, textBeforeCursor, textAfterCursor, visibleText,
                                         windowTitle, browserTitle});
  std::vector<std::string> tokens;
  std::unordered_set<std::string> seen;
  for (const auto& match : pattern.allMatches(hay)) {
    const std::string& token = match.groups[0];
    // The pattern is ASCII-only, so bytes are characters here.
    if (token.size() < 2 || token.size() > 40) continue;
    if (seen.insert(token).second) tokens.push_back(token);
  }
  std::stable_sort(tokens.begin(), tokens.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  if (tokens.size() > kKeywordLimit) tokens.resize(kKeywordLimit);
  return tokens;
}

// ---------------------------------------------------------------------------
// Serialisation

std::string InputContext::promptBlock(std::size_t maxChars) const {
  if (!hasMeaningfulContext()) return "无可用上下文。";
  std::vector<std::string> lines;
  lines.push_back("上下文 schema：" + std::string(kContextSchemaVersion));
  lines.push_back("输出目标：" + std::string(outputStyle()));
  lines.push_back("场景：" + std::string(scene()) + "，应用类型：" + std::string(appType()) + "，输入区：" +
                  std::string(inputAreaType()));
  lines.push_back(
      "上下文优先级：1. 选中文本和光标附近；2. 当前输入框完整片段；3. 当前窗口可见文本；4. "
      "App/浏览器元信息。上下文只用于消歧和承接，不能替用户新增没说出口的内容。");

  std::string focusDescription;
  for (std::string_view part : {std::string_view(focusedRole), std::string_view(focusedTitle),
                                focusedValueSettable ? std::string_view("value-settable") : std::string_view()}) {
    if (part.empty()) continue;
    if (!focusDescription.empty()) focusDescription += ' ';
    focusDescription += part;
  }
  const std::pair<std::string_view, std::string> labelled[] = {
      {"当前应用", appName + " (" + bundleIdentifier + ")"},
      {"窗口标题", windowTitle},
      {"焦点控件", focusDescription},
      {"输入框标识", inputBoxIdentifier()},
      {"浏览器标题", browserTitle},
      {"浏览器 URL", browserURL},
      {"选中文本", selectedText},
      {"光标前文本", textBeforeCursor},
      {"光标后文本", textAfterCursor},
      {"完整输入框片段", fullFieldContent()},
      {"当前窗口最近可见文本", visibleText},
  };
  for (const auto& [label, value] : labelled) {
    std::string trimmed = text::trim(value);
    if (trimmed.empty()) continue;
    lines.push_back(std::string(label) + "：" + trimmed);
  }
  std::string block;
  for (const auto& line : lines) {
    if (!block.empty()) block += '\n';
    block += line;
  }
  return truncateMiddle(block, maxChars);
}

Json InputContext::murmlyLikeAudioContext() const {
  const std::string before = truncateTail(textBeforeCursor, 1200);
  const std::string after = text::graphemePrefix(textAfterCursor, 900);
  const std::string host = browserHost();

  Json focusedInput = {
      {"input_box_identifier", inputBoxIdentifier()},
      {"input_area_type", inputAreaType()},
      {"accessibility_role", focusedRole},
      {"accessibility_title", focusedTitle},
      {"input_capabilities",
       {{"supports_plain_text", true},
        {"has_selection_api", true},
        {"has_settable_value", focusedValueSettable},
        {"has_browser_editable_focus", browserEditableFocused},
        {"has_cursor_context", !textBeforeCursor.empty() || !textAfterCursor.empty()},
        {"has_visible_context", !visibleText.empty()}}},
      {"cursor_state",
       {{"cursor_position", static_cast<int64_t>(text::graphemeCount(textBeforeCursor))},
        {"has_text_selected", !selectedText.empty()},
        {"selected_text", truncateMiddle(selectedText, 900)},
        {"text_before_cursor", before},
        {"text_after_cursor", after},
        {"full_field_content", fullFieldContent()}}},
      {"surrounding_context", {{"text_before_input_area", before}, {"text_after_input_area", after}}},
  };
  Json browserContext = Json::object();
  if (!browserURL.empty() || !browserTitle.empty()) {
    browserContext = {{"url", browserURL}, {"title", browserTitle}, {"host", host}};
  }
  Json appInfo = {
      {"app_name", appName},
      {"app_identifier", bundleIdentifier},
      {"app_type", appType()},
      {"window_title", windowTitle},
      {"app_metadata", {{"scene", scene()}, {"output_style", outputStyle()}, {"source", source}}},
      {"browser_context", browserContext},
      {"visible_screen_content", truncateMiddle(visibleText, 3600)},
  };
  return Json{
      {"schema_version", kContextSchemaVersion},
      {"focusedInput", focusedInput},
      {"appInfo", appInfo},
      {"context_priority",
       Json::array({"focusedInput.cursor_state", "focusedInput.surrounding_context",
                    "appInfo.visible_screen_content", "appInfo.browser_context", "appInfo.window_title"})},
  };
}

Json InputContext::modeMetadata() const {
  Json meta = {
      {"mode", "VOICE_TRANSCRIPT"},
      {"source_mode", "dictation"},
      {"output_style", outputStyle()},
      {"structure_policy", "intent_preserving"},
      {"scene", scene()},
  };
  if (!selectedText.empty()) meta["selected_text"] = truncateMiddle(selectedText, 900);
  return meta;
}

Json InputContext::clientMetadata() const {
  return Json{
      {"client", "mirla"},
      {"platform", "linux"},
      {"context_schema", kContextSchemaVersion},
      {"context_collector", "linux-atspi"},
      {"source", source},
      {"has_focused_input", pasteTargetReason().has_value()},
      {"focused_value_settable", focusedValueSettable},
      {"browser_editable_focused", browserEditableFocused},
      {"has_visible_screen_content", !visibleText.empty()},
      {"has_browser_context", !browserURL.empty() || !browserTitle.empty()},
  };
}

Json InputContext::apiObject() const {
  const Json audio = murmlyLikeAudioContext();
  return Json{
      {"appName", appName},
      {"bundleIdentifier", bundleIdentifier},
      {"windowTitle", windowTitle},
      {"focusedRole", focusedRole},
      {"focusedTitle", focusedTitle},
      {"focusedValueSettable", focusedValueSettable},
      {"selectedText", selectedText},
      {"textBeforeCursor", textBeforeCursor},
      {"textAfterCursor", textAfterCursor},
      {"visibleText", visibleText},
      {"browserURL", browserURL},
      {"browserTitle", browserTitle},
      {"browserEditableFocused", browserEditableFocused},
      {"scene", scene()},
      {"source", source},
      {"appType", appType()},
      {"inputAreaType", inputAreaType()},
      {"outputStyle", outputStyle()},
      {"inputBoxIdentifier", inputBoxIdentifier()},
      {"browserHost", browserHost()},
      {"fullFieldContent", fullFieldContent()},
      {"audioContext", audio},
      {"murmlyContext", audio},
      {"modeMetadata", modeMetadata()},
      {"clientMetadata", clientMetadata()},
  };
}

Json InputContext::workerContextItems() const {
  const std::pair<std::string_view, std::string> rows[] = {
      {"active_app", appName + " " + bundleIdentifier},
      {"window_title", windowTitle},
      {"focused_role", focusedRole},
      {"focused_title", focusedTitle},
      {"focused_value_settable", focusedValueSettable ? "true" : ""},
      {"selected_text", selectedText},
      {"text_before_cursor", textBeforeCursor},
      {"text_after_cursor", textAfterCursor},
      {"visible_window_text", visibleText},
      {"browser_url", browserURL},
      {"browser_title", browserTitle},
      {"browser_editable_focused", browserEditableFocused ? "true" : ""},
      {"scene", std::string(scene())},
      {"app_type", std::string(appType())},
      {"input_area_type", std::string(inputAreaType())},
      {"output_style", std::string(outputStyle())},
      {"input_box_identifier", inputBoxIdentifier()},
      {"full_field_content", fullFieldContent()},
  };
  Json items = Json::array();
  for (const auto& [type, value] : rows) {
    std::string trimmed = text::trim(value);
    if (trimmed.empty()) continue;
    const std::size_t limit = (type == "visible_window_text" || type == "full_field_content") ? 2600 : 900;
    items.push_back({{"type", type}, {"text", truncateMiddle(trimmed, limit)}});
  }
  return items;
}

// ---------------------------------------------------------------------------
// Construction from loosely typed data

InputContext InputContext::synthetic(const std::optional<Json>& from) {
  InputContext context;
  if (!from || !from->is_object()) {
    context.source = "none";
    return context;
  }
  const Json& object = *from;
  const std::pair<std::string_view, std::string InputContext::*> textFields[] = {
      {"appName", &InputContext::appName},
      {"bundleIdentifier", &InputContext::bundleIdentifier},
      {"windowTitle", &InputContext::windowTitle},
      {"focusedRole", &InputContext::focusedRole},
      {"focusedTitle", &InputContext::focusedTitle},
      {"selectedText", &InputContext::selectedText},
      {"textBeforeCursor", &InputContext::textBeforeCursor},
      {"textAfterCursor", &InputContext::textAfterCursor},
      {"browserURL", &InputContext::browserURL},
      {"browserTitle", &InputContext::browserTitle},
      {"source", &InputContext::source},
  };
  for (const auto& [key, field] : textFields) {
    context.*field = clean(jsonString(object, key));
  }

  static const RuleTable kVisibleTextRules{std::array<ReplaceRule, 3>{{
      {"\\r\\n", "\n"},
      {"[\\t ]+", " "},
      {"\\n{3,}", "\n\n"},
  }}};
  if (auto visible = jsonString(object, "visibleText")) {
    context.visibleText = truncateTail(text::trim(kVisibleTextRules.apply(*visible)), kVisibleTextLimit);
  }

  context.focusedValueSettable = jsonBool(object, "focusedValueSettable").value_or(false);
  context.browserEditableFocused = jsonBool(object, "browserEditableFocused").value_or(false);
  if (text::isBlank(context.source)) context.source = "benchmark";
  return context;
}

}  // namespace sorvane
