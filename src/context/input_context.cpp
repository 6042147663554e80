// Classification, the paste decision and construction of the input context. The
// output forms are in input_context_forms.cpp.
#include "context/input_context.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>
#include <unordered_set>

#include "context/terminal_windows.h"
#include "context/input_context_limits.h"
#include "context/url_host.h"
#include "context/visible_text.h"
#include "core/regex.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

using namespace context_limits;
using text::contains;
using text::containsAny;

std::string joinNonBlank(std::initializer_list<std::string_view> parts, std::string_view separator) {
  std::vector<std::string> kept;
  for (auto part : parts) {
    std::string trimmed = text::trim(part);
    if (!trimmed.empty()) kept.push_back(std::move(trimmed));
  }
  return text::join(kept, separator);
}

std::string joinWithSpace(std::initializer_list<std::string_view> parts) {
  const std::vector<std::string> all(parts.begin(), parts.end());
  return text::join(all, " ");
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

// The URL without its scheme, query and fragment.
std::string hostAndPath(std::string_view url) {
  if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  return std::string(url.substr(0, url.find_first_of("?#")));
}

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

// Linux identities (lower-case desktop-file ids or WM_CLASS values), compared whole: short
// names such as "code" or "kate" would match unrelated identifiers as substrings. They
// stand beside the substring rows, which keep recognising the other platform's bundle ids.
constexpr std::array<std::string_view, 7> kLinuxBrowserIds{
    "firefox", "org.mozilla.firefox", "firefox-esr", "chromium", "chromium-browser", "org.chromium.chromium",
    "google-chrome"};
constexpr std::array<std::string_view, 7> kLinuxChatIds{
    "telegram-desktop", "org.telegram.desktop", "discord", "com.discordapp.discord", "element", "element-desktop",
    "im.riot.riot"};
constexpr std::array<std::string_view, 5> kLinuxWorkChatIds{"slack", "com.slack.slack", "dingtalk",
                                                            "com.alibabainc.dingtalk", "bytedance-feishu"};
constexpr std::array<std::string_view, 19> kLinuxDeveloperIds{
    "gnome-terminal", "gnome-terminal-server", "org.gnome.terminal", "konsole", "org.kde.konsole", "xterm",
    "kitty", "alacritty", "org.alacritty.alacritty", "wezterm", "org.wezfurlong.wezterm", "tilix",
    "com.gexperts.tilix", "code", "kate", "org.kde.kate", "gedit", "org.gnome.gedit", "emacs"};
// JetBrains IDEs are "jetbrains-idea", "jetbrains-pycharm" and so on.
constexpr std::string_view kJetBrainsIdPrefix = "jetbrains-";

bool isOneOf(std::string_view id, std::span<const std::string_view> ids) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The focused application's identity, lower-cased once for all the questions of one call.
struct AppIdentity {
  explicit AppIdentity(const InputContext& context)
      : bundle(text::toLower(context.bundleIdentifier)), app(text::toLower(context.appName)) {}
  std::string bundle;
  std::string app;

  bool isLinuxBrowser() const { return isOneOf(bundle, kLinuxBrowserIds); }
  bool isLinuxChat() const { return isOneOf(bundle, kLinuxChatIds); }
  bool isLinuxWorkChat() const { return isOneOf(bundle, kLinuxWorkChatIds); }
  bool isLinuxDeveloperTool() const {
    return isOneOf(bundle, kLinuxDeveloperIds) || text::startsWith(bundle, kJetBrainsIdPrefix);
  }
};

InputScene sceneOf(const AppIdentity& id) {
  const std::string& bundle = id.bundle;
  const std::string& app = id.app;
  if (contains(bundle, "com.apple.mail")) return InputScene::email;
  if (contains(app, "mail")) return InputScene::email;
  if (contains(bundle, "feishu") || contains(bundle, "lark") || contains(app, "飞书")) return InputScene::workChat;
  if (id.isLinuxWorkChat()) return InputScene::workChat;
  if (contains(bundle, "wechat") || contains(app, "微信")) return InputScene::chat;
  if (id.isLinuxChat()) return InputScene::chat;
  if (containsAny(bundle, {"chrome", "safari", "arc"}) || id.isLinuxBrowser()) return InputScene::browser;
  if (contains(bundle, "codex") || contains(app, "codex") || contains(bundle, "anthropic") ||
      contains(bundle, "claude") || contains(app, "claude")) {
    return InputScene::aiChat;
  }
  if (containsAny(bundle, {"xcode", "terminal", "iterm"}) || id.isLinuxDeveloperTool()) return InputScene::developer;
  return InputScene::general;
}

bool isCodexSurface(const AppIdentity& id, InputScene scene) {
  if (scene != InputScene::aiChat) return false;
  return contains(id.bundle, "codex") || contains(id.app, "codex");
}

bool isClaudeSurface(const AppIdentity& id, InputScene scene, const InputContext& context) {
  if (scene != InputScene::aiChat) return false;
  if (!(contains(id.bundle, "anthropic") || contains(id.bundle, "claude") || contains(id.app, "claude"))) return false;
  const std::string hay = text::toLower(
      joinWithSpace({context.visibleText, context.windowTitle, context.focusedTitle, context.focusedRole}));
  if (text::isBlank(hay)) return true;
  return containsAny(hay, kClaudeSurfaceWords);
}

}  // namespace

std::string_view sceneName(InputScene scene) {
  switch (scene) {
    case InputScene::email: return "email";
    case InputScene::workChat: return "work-chat";
    case InputScene::chat: return "chat";
    case InputScene::browser: return "browser";
    case InputScene::aiChat: return "ai-chat";
    case InputScene::developer: return "developer";
    case InputScene::general: break;
  }
  return "general";
}

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

InputScene InputContext::sceneKind() const { return sceneOf(AppIdentity(*this)); }

std::string_view InputContext::scene() const { return sceneName(sceneKind()); }

std::string_view InputContext::appType() const {
  const AppIdentity id(*this);
  if (containsAny(id.bundle, {"chrome", "safari", "arc"}) || id.isLinuxBrowser()) return "web_browser";
  if (!browserURL.empty()) return "web_browser";
  if (contains(id.bundle, "codex") || contains(id.app, "codex")) return "ai_assistant";
  if (contains(id.bundle, "mail") || contains(id.app, "mail")) return "email_client";
  if (containsAny(id.bundle, {"feishu", "lark", "wechat"}) || contains(id.app, "微信")) return "messaging";
  if (id.isLinuxChat() || id.isLinuxWorkChat()) return "messaging";
  if (containsAny(id.bundle, {"xcode", "terminal", "iterm"}) || id.isLinuxDeveloperTool()) return "developer_tool";
  return "native_app";
}

std::string_view InputContext::inputAreaType() const {
  const InputScene currentScene = sceneKind();
  const std::string role = text::toLower(focusedRole);
  const std::string title = text::toLower(focusedTitle);
  if (currentScene == InputScene::email) return "email_body";
  if (contains(title, "message body")) return "email_body";
  if (isChatScene(currentScene)) return "chat_input";
  if (contains(role, "textarea") || contains(role, "text area")) return "text_area";
  if (contains(role, "textfield") || contains(role, "text field")) return "text_field";
  if (currentScene == InputScene::developer) return "developer_input";
  return "unknown_input";
}

std::string_view InputContext::outputStyle() const {
  switch (sceneKind()) {
    case InputScene::chat:
    case InputScene::workChat: return "direct_chat_reply";
    case InputScene::aiChat: return "ai_prompt";
    case InputScene::email: return "email_body";
    case InputScene::developer: return "technical_note";
    case InputScene::browser:
    case InputScene::general: break;
  }
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
  const AppIdentity id(*this);
  return isCodexSurface(id, sceneOf(id));
}

bool InputContext::isClaudePromptSurface() const {
  const AppIdentity id(*this);
  return isClaudeSurface(id, sceneOf(id), *this);
}

bool InputContext::isKnownEditableWebApp() const {
  const std::string host = browserHost();
  const std::string url = hostAndPath(text::toLower(browserURL));
  const std::string titles = text::toLower(browserTitle + " " + windowTitle);
  for (auto name : kKnownEditableHosts.groupA) {
    if (hostMatches(host, name)) return true;
  }
  // Also a scheme-less address ("docs.qq.com/doc/1"); a query or fragment that merely
  // names the service ("?next=docs.qq.com") is not the service.
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
  const AppIdentity id(*this);
  const InputScene currentScene = sceneOf(id);
  if (currentScene == InputScene::chat &&
      (contains(id.bundle, "wechat") || contains(id.app, "微信") || contains(id.app, "wechat"))) {
    return "wechat-chat";
  }
  if (currentScene == InputScene::workChat && (contains(id.bundle, "feishu") || contains(id.bundle, "lark") ||
                                               contains(id.app, "飞书") || contains(id.app, "lark"))) {
    return "work-chat";
  }
  if (isClaudeSurface(id, currentScene, *this)) return "claude-ai-chat";
  if (isCodexSurface(id, currentScene)) return "codex-ai-chat";
  if (isKnownEditableWebApp()) return "known-editable-webapp";
  const bool editingHint = isFocusedEditingSurfaceHint();
  if (currentScene == InputScene::browser && editingHint) return "browser-editing-surface-hint";
  if (currentScene != InputScene::browser && editingHint) return "focused-editing-surface-hint";
  if (accessibilityTreeMissing) return "window-without-accessibility";
  // A terminal takes the keys in its window whatever its tree reports as focused (a Qt
  // terminal names its tab bar).
  if (isTerminalWindowClass(id.bundle) || isTerminalWindowClass(id.app)) return "terminal-window";
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

  if (auto visible = jsonString(object, "visibleText")) {
    context.visibleText = truncateTail(normalizeVisibleText(*visible), kVisibleTextLimit);
  }

  context.focusedValueSettable = jsonBool(object, "focusedValueSettable").value_or(false);
  context.browserEditableFocused = jsonBool(object, "browserEditableFocused").value_or(false);
  if (text::isBlank(context.source)) context.source = "benchmark";
  return context;
}

}  // namespace sorvane
