// The output forms of the input context: the Chinese prompt block, the JSON objects of
// model requests and the flat item list of the worker. Every form reads the
// classification afresh (input_context.cpp), so a changed field shows in the next form.
#include <string>
#include <utility>
#include <vector>

#include "context/input_context.h"
#include "context/input_context_limits.h"
#include "core/unicode_text.h"

namespace sorvane {

using namespace context_limits;

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
  return truncateMiddle(text::joinLines(lines), maxChars);
}

Json InputContext::murmlyLikeAudioContext() const {
  const std::string before = truncateTail(textBeforeCursor, kTextBeforeCursorLimit);
  const std::string after = text::graphemePrefix(textAfterCursor, kShortTextLimit);
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
        {"selected_text", truncateMiddle(selectedText, kShortTextLimit)},
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
      {"visible_screen_content", truncateMiddle(visibleText, kVisibleTextLimit)},
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
  if (!selectedText.empty()) meta["selected_text"] = truncateMiddle(selectedText, kShortTextLimit);
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
    const std::size_t limit =
        (type == "visible_window_text" || type == "full_field_content") ? kWorkerLongTextLimit : kShortTextLimit;
    items.push_back({{"type", type}, {"text", truncateMiddle(trimmed, limit)}});
  }
  return items;
}

}  // namespace sorvane
