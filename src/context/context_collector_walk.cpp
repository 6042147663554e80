// The context collector's walk through a window for its visible text: the values and
// titles of text-bearing elements, leaving out control words, the window title, what the
// focused field holds, and repeats or fragments of what was already kept.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "context/context_collector_session.h"
#include "context/visible_text.h"
#include "core/regex.h"
#include "core/unicode_text.h"

namespace sorvane::collector_detail {
namespace {

// Longer texts are kept without the control-word, title, letter and field-length filters.
constexpr std::size_t kVisibleSnippetFilterLimit = 1600;
constexpr std::size_t kMinimumSnippetLength = 2;
// Text fields show labels and placeholders; only longer values say something.
constexpr std::size_t kMinimumTextFieldSnippetLength = 5;
constexpr int kWalkDepthLimit = 10;
constexpr std::size_t kWalkElementLimit = 700;
constexpr std::size_t kWalkSnippetLimit = 120;

constexpr std::array<std::string_view, 16> kControlWords{
    "close", "minimize", "zoom", "fullscreen", "search", "send",   "cancel", "ok",
    "copy",  "paste",    "edit", "view",       "window", "help", "new chat", "settings"};

constexpr std::array<std::string_view, 9> kTextBearingRoles{
    "AXStaticText", "AXTextArea", "AXTextField", "AXWebArea", "AXGroup",
    "AXScrollArea", "AXList",     "AXRow",       "AXCell"};

constexpr std::array<AXStringAttribute, 4> kSnippetAttributes{
    AXStringAttribute::value, AXStringAttribute::title, AXStringAttribute::description, AXStringAttribute::help};

std::string compactKey(std::string_view textValue) {
  static const Regex kWhiteSpace("\\s+");
  return text::trim(kWhiteSpace.replaceAll(text::toLower(textValue), ""));
}

bool hasLetterOrDigit(std::string_view textValue) {
  static const Regex kLetterOrDigit("[A-Za-z\\p{Han}\\d]");
  return kLetterOrDigit.search(textValue);
}

std::string compactVisibleSnippets(const std::vector<std::string>& snippets) {
  std::vector<std::string> kept;
  std::vector<std::string> keptKeys;
  for (const auto& snippet : snippets) {
    const std::string key = compactKey(snippet);
    const std::size_t length = text::graphemeCount(snippet);
    bool fragment = false;
    for (std::size_t i = 0; i < kept.size() && !fragment; ++i) {
      fragment = text::contains(keptKeys[i], key) && length < text::graphemeCount(kept[i]);
    }
    if (fragment) continue;
    kept.push_back(snippet);
    keptKeys.push_back(key);
  }
  return InputContext::truncateTail(text::joinLines(kept), kVisibleTextLimit);
}

}  // namespace

void Session::walk(const AXElement& element, int depth, Walk& state) {
  if (depth >= kWalkDepthLimit || state.visited >= kWalkElementLimit || state.snippets.size() >= kWalkSnippetLimit) {
    return;
  }
  ++state.visited;
  const std::string role = copyString(element, AXStringAttribute::role).value_or("");
  bool textBearing = std::find(kTextBearingRoles.begin(), kTextBearingRoles.end(), role) != kTextBearingRoles.end();
  if (!textBearing) textBearing = text::contains(copyString(element, AXStringAttribute::subrole).value_or(""), "Text");
  if (textBearing) {
    for (auto attribute : kSnippetAttributes) {
      const auto raw = copyString(element, attribute);
      if (!raw) continue;
      const std::string snippet = normalizeVisibleText(*raw);
      const std::size_t length = text::graphemeCount(snippet);
      if (length < kMinimumSnippetLength) continue;
      if (length <= kVisibleSnippetFilterLimit) {
        const std::string lower = text::toLower(snippet);
        if (std::find(kControlWords.begin(), kControlWords.end(), lower) != kControlWords.end()) continue;
        if (snippet == state.windowTitle) continue;
        if (!hasLetterOrDigit(snippet)) continue;
        if (role == "AXTextField" && length < kMinimumTextFieldSnippetLength) continue;
      }
      std::string key = compactKey(snippet);
      if (key.empty() || key == state.valueKey || key == state.selectedKey || state.taken.contains(key)) continue;
      state.taken.insert(std::move(key));
      state.snippets.push_back(snippet);
    }
  }
  // No child beyond the element limit would be visited, so none is fetched.
  const std::size_t room = kWalkElementLimit - state.visited;
  auto children = copyElements(element, AXListAttribute::visibleChildren, room);
  if (children.empty()) children = copyElements(element, AXListAttribute::children, room);
  for (const auto& child : children) walk(child, depth + 1, state);
}

std::string Session::visibleWindowText(const AXElement& root, const std::string& value, const std::string& selected,
                                       const std::string& windowTitle) {
  if (!root) return {};
  Walk state{compactKey(value), compactKey(selected), windowTitle, 0, {}, {}};
  walk(root, 0, state);
  return compactVisibleSnippets(state.snippets);
}

}  // namespace sorvane::collector_detail
