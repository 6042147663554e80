#include "context/context_collector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/log.h"
#include "core/regex.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

// Slices around the cursor count UTF-16 units of the raw value.
constexpr int64_t kCursorSliceUnits = 900;
constexpr std::size_t kVisibleTextLimit = 3600;
// Longer texts are kept without the control-word, title, letter and field-length filters.
constexpr std::size_t kVisibleSnippetFilterLimit = 1600;
constexpr std::size_t kMinimumSnippetLength = 2;
// Text fields show labels and placeholders; only longer values say something.
constexpr std::size_t kMinimumTextFieldSnippetLength = 5;
constexpr int kWalkDepthLimit = 10;
constexpr std::size_t kWalkElementLimit = 700;
constexpr std::size_t kWalkSnippetLimit = 120;
constexpr std::size_t kCaretSearchLimit = 240;
// Usable "AXBoundsForRange" answers.
constexpr double kMaximumRangeBoundsWidth = 4000;
constexpr double kMaximumRangeBoundsHeight = 400;
// A caret rectangle is normalised to this size range.
constexpr double kCaretMinWidth = 2, kCaretMaxWidth = 12;
constexpr double kCaretMinHeight = 16, kCaretMaxHeight = 48;
// A caret found in a descendant must look like one.
constexpr double kDescendantCaretMinWidth = 1, kDescendantCaretMaxWidth = 24;
constexpr double kDescendantCaretMinHeight = 8, kDescendantCaretMaxHeight = 80;
constexpr double kDescendantCaretScreenMargin = 120;
constexpr double kScreenMatchMargin = 240;
// The page's text is searched for an editing cue in its first characters only.
constexpr std::size_t kEditingCueSampleLength = 2400;

constexpr std::array<std::string_view, 16> kControlWords{
    "close", "minimize", "zoom", "fullscreen", "search", "send",   "cancel", "ok",
    "copy",  "paste",    "edit", "view",       "window", "help", "new chat", "settings"};

constexpr std::array<std::string_view, 9> kTextBearingRoles{
    "AXStaticText", "AXTextArea", "AXTextField", "AXWebArea", "AXGroup",
    "AXScrollArea", "AXList",     "AXRow",       "AXCell"};

constexpr std::array<AXStringAttribute, 4> kSnippetAttributes{
    AXStringAttribute::value, AXStringAttribute::title, AXStringAttribute::description, AXStringAttribute::help};

// The browsers whose page is read: the macOS identifiers and the Linux desktop-file ids
// and window classes of Chromium, Chrome and Firefox. Compared exactly.
constexpr std::array<std::string_view, 11> kBrowserIdentifiers{
    "com.google.Chrome", "company.thebrowser.Browser", "com.apple.Safari",
    "chromium",          "chromium-browser",           "org.chromium.chromium",
    "google-chrome",     "com.google.chrome",          "firefox",
    "firefox-esr",       "org.mozilla.firefox"};

const RuleTable& whitespaceRules() {
  static const RuleTable rules{std::array<ReplaceRule, 3>{{
      {"\\r\\n", "\n"},
      {"[\\t ]+", " "},
      {"\\n{3,}", "\n\n"},
  }}};
  return rules;
}

std::string normalizeWhitespace(std::string_view textValue) {
  return text::trim(whitespaceRules().apply(textValue));
}

std::string compactKey(std::string_view textValue) {
  static const Regex kWhiteSpace("\\s+");
  return text::trim(kWhiteSpace.replaceAll(text::toLower(textValue), ""));
}

bool hasLetterOrDigit(std::string_view textValue) {
  static const Regex kLetterOrDigit("[A-Za-z\\p{Han}\\d]");
  return kLetterOrDigit.search(textValue);
}

bool showsEditingCue(std::string_view pageText) {
  static const Regex kEditingCue(
      "请输入(正文|标题)|点击输入|输入正文|输入标题|开始输入|写点什么|添加评论|发表评论|写评论|add comment|"
      "leave a comment|write a comment|write a reply|type here|start writing",
      Regex::kCaseInsensitive);
  return kEditingCue.search(text::graphemePrefix(pageText, kEditingCueSampleLength));
}

double maxX(const Rect& r) { return r.x + r.width; }
double maxY(const Rect& r) { return r.y + r.height; }

Rect inset(const Rect& r, double margin) {
  return {r.x - margin, r.y - margin, r.width + 2 * margin, r.height + 2 * margin};
}

bool intersects(const Rect& a, const Rect& b) {
  return std::max(a.x, b.x) <= std::min(maxX(a), maxX(b)) && std::max(a.y, b.y) <= std::min(maxY(a), maxY(b));
}

double intersectionArea(const Rect& a, const Rect& b) {
  const double width = std::min(maxX(a), maxX(b)) - std::max(a.x, b.x);
  const double height = std::min(maxY(a), maxY(b)) - std::max(a.y, b.y);
  return width > 0 && height > 0 ? width * height : 0;
}

bool containsPoint(const Rect& r, AXPoint p) { return p.x >= r.x && p.x < maxX(r) && p.y >= r.y && p.y < maxY(r); }

// The UTF-16 units [start, start + length) of `value` as UTF-8.
std::string utf16Slice(const icu::UnicodeString& value, int64_t start, int64_t length) {
  return text::toUtf8(value.tempSubString(static_cast<int32_t>(start), static_cast<int32_t>(length)));
}

// One collection: the port behind the time budget, and the steps of a collection.
class Session {
 public:
  Session(Accessibility& port, const Clock& clock)
      : port_(port), clock_(clock), deadline_(clock.monotonicNow() + kContextCollectionBudget) {}

  InputContext collect();
  std::optional<Rect> targetScreenForFrontmostWindow();
  std::optional<Rect> screenContainingMouse();
  const ContextCollectionStats& stats() const { return stats_; }

 private:
  // Every port call passes here: none once the budget is spent, and each bounded by what
  // is left of it.
  bool allowCall() {
    if (stats_.budgetExhausted) return false;
    const auto left = std::chrono::ceil<Milliseconds>(deadline_ - clock_.monotonicNow());
    if (left <= Milliseconds::zero()) {
      stats_.budgetExhausted = true;
      return false;
    }
    port_.setCallTimeout(left);
    ++stats_.accessibilityCalls;
    return true;
  }

  std::optional<std::string> copyString(const AXElement& element, AXStringAttribute attribute) {
    if (!element || !allowCall()) return std::nullopt;
    return port_.copyString(element, attribute);
  }
  AXElement copyElement(const AXElement& element, AXElementAttribute attribute) {
    if (!element || !allowCall()) return nullptr;
    return port_.copyElement(element, attribute);
  }
  std::optional<AXTextRange> copyRange(const AXElement& element) {
    if (!element || !allowCall()) return std::nullopt;
    return port_.copySelectedTextRange(element);
  }
  std::optional<AXPoint> copyPosition(const AXElement& element) {
    if (!element || !allowCall()) return std::nullopt;
    return port_.copyPosition(element);
  }
  std::optional<AXSize> copySize(const AXElement& element) {
    if (!element || !allowCall()) return std::nullopt;
    return port_.copySize(element);
  }
  std::vector<AXElement> copyElements(const AXElement& element, AXListAttribute attribute, std::size_t limit) {
    if (!element || limit == 0 || !allowCall()) return {};
    auto list = port_.copyElements(element, attribute, limit);
    if (list.size() > limit) list.resize(limit);
    return list;
  }
  std::optional<bool> isValueSettable(const AXElement& element) {
    if (!element || !allowCall()) return std::nullopt;
    return port_.isValueSettable(element);
  }
  const std::vector<Rect>& screens() {
    if (!screens_) {
      screens_ = port_.screens();
      mainScreen_ = port_.mainScreen();
    }
    return *screens_;
  }
  const std::optional<Rect>& mainScreen() {
    screens();
    return mainScreen_;
  }

  std::optional<Rect> frameOf(const AXElement& element);
  std::optional<Rect> boundsForRange(int64_t location, int64_t length, const AXElement& element);
  std::optional<Rect> caretFrame(const AXElement& element, const std::optional<AXTextRange>& range,
                                 const icu::UnicodeString& value);
  std::optional<Rect> descendantCaretFrame(const AXElement& root);
  Rect appKitFrame(const Rect& r) { return ContextCollector::appKitFrame(r, screens(), mainScreen()); }

  struct Walk {
    std::string valueKey;
    std::string selectedKey;
    std::string windowTitle;
    std::size_t visited = 0;
    std::vector<std::string> snippets;
    std::unordered_set<std::string> taken;
  };
  void walk(const AXElement& element, int depth, Walk& state);
  std::string visibleWindowText(const AXElement& root, const std::string& value, const std::string& selected,
                                const std::string& windowTitle);

  Accessibility& port_;
  const Clock& clock_;
  const std::chrono::steady_clock::time_point deadline_;
  ContextCollectionStats stats_;
  std::optional<std::vector<Rect>> screens_;
  std::optional<Rect> mainScreen_;
};

std::pair<std::string, std::string> sliceAroundCursor(const icu::UnicodeString& value,
                                                      const std::optional<AXTextRange>& range) {
  if (value.isEmpty()) return {};
  const int64_t length = value.length();
  const int64_t location = range ? range->location : length;
  const int64_t start = std::clamp<int64_t>(location, 0, length);
  const int64_t end = start + (range ? std::clamp<int64_t>(range->length, 0, length - start) : 0);
  const int64_t beforeStart = std::max<int64_t>(0, start - kCursorSliceUnits);
  std::string before = utf16Slice(value, beforeStart, start - beforeStart);
  std::string after = utf16Slice(value, end, std::min<int64_t>(kCursorSliceUnits, length - end));
  return {InputContext::clean(before), InputContext::clean(after)};
}

std::optional<Rect> Session::frameOf(const AXElement& element) {
  const auto position = copyPosition(element);
  if (!position) return std::nullopt;
  const auto size = copySize(element);
  if (!size || !(size->width > 1) || !(size->height > 1)) return std::nullopt;
  return Rect{position->x, position->y, size->width, size->height};
}

std::optional<Rect> Session::boundsForRange(int64_t location, int64_t length, const AXElement& element) {
  if (!element || !allowCall()) return std::nullopt;
  const auto bounds = port_.boundsForRange(element, {location, length});
  if (!bounds) return std::nullopt;
  const bool usable = bounds->height > 0 && bounds->width >= 0 && bounds->width < kMaximumRangeBoundsWidth &&
                      bounds->height < kMaximumRangeBoundsHeight;
  if (!usable) return std::nullopt;
  return bounds;
}

std::optional<Rect> Session::caretFrame(const AXElement& element, const std::optional<AXTextRange>& range,
                                        const icu::UnicodeString& value) {
  const int64_t length = value.length();
  const int64_t caret = range ? range->location : length;
  if (caret < 0 || caret > length) return std::nullopt;

  std::optional<Rect> frame;
  if (auto hit = boundsForRange(caret, 0, element)) {
    frame = appKitFrame(*hit);
  } else if (range && range->location >= 0 && range->length >= 1) {
    if (auto selection = boundsForRange(range->location, range->length, element)) frame = appKitFrame(*selection);
  }
  if (!frame) {
    if (caret == 0) return std::nullopt;
    const auto previous = boundsForRange(caret - 1, 1, element);
    if (!previous) return std::nullopt;
    const Rect character = appKitFrame(*previous);
    frame = Rect{maxX(character), character.y, 2, character.height};
  }
  return Rect{frame->x, frame->y, std::clamp(frame->width, kCaretMinWidth, kCaretMaxWidth),
              std::clamp(frame->height, kCaretMinHeight, kCaretMaxHeight)};
}

std::optional<Rect> Session::descendantCaretFrame(const AXElement& root) {
  std::deque<AXElement> queue;
  auto enqueueChildrenOf = [&](const AXElement& element, std::size_t taken) {
    // Elements beyond what can still be examined are never looked at.
    const std::size_t room = kCaretSearchLimit - taken;
    for (auto attribute : {AXListAttribute::children, AXListAttribute::contents}) {
      if (queue.size() >= room) return;
      for (auto& child : copyElements(element, attribute, room - queue.size())) queue.push_back(std::move(child));
    }
  };
  enqueueChildrenOf(root, 0);
  for (std::size_t taken = 0; taken < kCaretSearchLimit && !queue.empty(); ++taken) {
    const AXElement element = std::move(queue.front());
    queue.pop_front();
    const std::string role = text::toLower(copyString(element, AXStringAttribute::role).value_or(""));
    const icu::UnicodeString value = text::toUnicode(copyString(element, AXStringAttribute::value).value_or(""));
    const auto range = copyRange(element);
    bool candidate = text::containsAny(role, {"text", "combo", "search"});
    if (!candidate) candidate = isValueSettable(element).value_or(false) || range.has_value();
    if (candidate) {
      if (auto frame = caretFrame(element, range, value)) {
        const bool shaped = frame->width >= kDescendantCaretMinWidth && frame->width <= kDescendantCaretMaxWidth &&
                            frame->height >= kDescendantCaretMinHeight &&
                            frame->height <= kDescendantCaretMaxHeight;
        const bool onScreen = std::any_of(screens().begin(), screens().end(), [&](const Rect& screen) {
          return intersects(*frame, inset(screen, kDescendantCaretScreenMargin));
        });
        if (shaped && onScreen) return frame;
      }
    }
    enqueueChildrenOf(element, taken + 1);
  }
  return std::nullopt;
}

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
      const std::string snippet = normalizeWhitespace(*raw);
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

std::string Session::visibleWindowText(const AXElement& root, const std::string& value, const std::string& selected,
                                       const std::string& windowTitle) {
  if (!root) return {};
  Walk state{compactKey(value), compactKey(selected), windowTitle, 0, {}, {}};
  walk(root, 0, state);
  return compactVisibleSnippets(state.snippets);
}

InputContext Session::collect() {
  InputContext context;
  const auto frontmost = allowCall() ? port_.frontmostApplication() : std::nullopt;
  if (!frontmost) {
    context.source = "none";
    return context;
  }
  context.appName = frontmost->name;
  context.bundleIdentifier = frontmost->identifier;

  const AXElement application = allowCall() ? port_.applicationElement(*frontmost) : nullptr;
  const AXElement focused = copyElement(application, AXElementAttribute::focusedUIElement);
  const AXElement window = copyElement(application, AXElementAttribute::focusedWindow);

  std::string rawValue;
  std::string rawSelected;
  std::optional<AXTextRange> range;
  if (focused) {
    context.focusedRole = copyString(focused, AXStringAttribute::role).value_or("");
    context.focusedTitle = copyString(focused, AXStringAttribute::title).value_or("");
    rawValue = copyString(focused, AXStringAttribute::value).value_or("");
    context.focusedValueSettable = isValueSettable(focused).value_or(false);
    rawSelected = copyString(focused, AXStringAttribute::selectedText).value_or("");
    range = copyRange(focused);
  }
  const icu::UnicodeString value = text::toUnicode(rawValue);
  std::tie(context.textBeforeCursor, context.textAfterCursor) = sliceAroundCursor(value, range);
  if (window) context.windowTitle = copyString(window, AXStringAttribute::title).value_or("");

  if (focused) context.caretFrame = caretFrame(focused, range, value);
  if (!context.caretFrame && focused) context.caretFrame = descendantCaretFrame(focused);
  if (!context.caretFrame && window) context.caretFrame = descendantCaretFrame(window);

  auto focusedFrame = frameOf(focused);
  if (!focusedFrame) focusedFrame = frameOf(window);
  if (focusedFrame) context.focusedFrame = appKitFrame(*focusedFrame);

  std::optional<BrowserPage> page;
  const bool browser = std::find(kBrowserIdentifiers.begin(), kBrowserIdentifiers.end(), frontmost->identifier) !=
                       kBrowserIdentifiers.end();
  if (browser && application && allowCall()) page = port_.browserPage(application, window, focused);

  // The window title is compared before trimming, as the walk sees it.
  context.visibleText = normalizeWhitespace(
      visibleWindowText(window ? window : application, rawValue, rawSelected, context.windowTitle));
  context.visibleText = InputContext::truncateTail(context.visibleText, kVisibleTextLimit);

  if (page) {
    context.browserURL = page->url;
    context.browserTitle = page->title;
  }
  for (std::string* field : {&context.appName, &context.bundleIdentifier, &context.windowTitle, &context.focusedRole,
                             &context.focusedTitle, &context.browserURL, &context.browserTitle}) {
    *field = InputContext::clean(*field);
  }
  context.selectedText = InputContext::clean(rawSelected);
  if (page) {
    // The page's own editing cues stand in for a script run inside it: a focused page of
    // a known online editor, or one whose text invites typing, counts as editable.
    context.browserEditableFocused =
        page->editableFocused ||
        (page->documentFocused && (context.isKnownEditableWebApp() || showsEditingCue(context.visibleText)));
  }
  context.source = "accessibility";

  const std::size_t characters =
      text::graphemeCount(context.selectedText) + text::graphemeCount(context.textBeforeCursor) +
      text::graphemeCount(context.textAfterCursor) + text::graphemeCount(context.visibleText) +
      text::graphemeCount(context.windowTitle) + text::graphemeCount(context.browserURL) +
      text::graphemeCount(context.browserTitle);
  const auto reason = context.pasteTargetReason();
  std::string line = "context collected app=" + context.appName;
  line += " scene=" + std::string(context.scene());
  line += " role=" + context.focusedRole;
  line += std::string(" settable=") + (context.focusedValueSettable ? "true" : "false");
  line += std::string(" webEditable=") + (context.browserEditableFocused ? "true" : "false");
  line += " pasteReason=" + std::string(reason ? *reason : "none");
  line += " chars=" + std::to_string(characters);
  line += " visibleChars=" + std::to_string(text::graphemeCount(context.visibleText));
  appLog(line);
  if (stats_.budgetExhausted) {
    context.collectionCutShort = true;
    appLog("context budget exhausted app=" + context.appName + " calls=" + std::to_string(stats_.accessibilityCalls) +
           " budgetMs=" + std::to_string(kContextCollectionBudget.count()));
  }
  return context;
}

std::optional<Rect> Session::screenContainingMouse() {
  const auto mouse = allowCall() ? port_.mouseLocation() : std::nullopt;
  if (mouse) {
    for (const auto& screen : screens()) {
      if (containsPoint(screen, *mouse)) return screen;
    }
  }
  if (mainScreen()) return mainScreen();
  if (!screens().empty()) return screens().front();
  return std::nullopt;
}

std::optional<Rect> Session::targetScreenForFrontmostWindow() {
  const auto frontmost = allowCall() ? port_.frontmostApplication() : std::nullopt;
  const AXElement application = frontmost && allowCall() ? port_.applicationElement(*frontmost) : nullptr;
  const AXElement window = copyElement(application, AXElementAttribute::focusedWindow);
  const auto frame = frameOf(window);
  if (!frame) return screenContainingMouse();
  const Rect desktopFrame = appKitFrame(*frame);
  const Rect* best = nullptr;
  double bestArea = 0;
  for (const auto& screen : screens()) {
    const double area = intersectionArea(desktopFrame, screen);
    if (area > bestArea) {
      best = &screen;
      bestArea = area;
    }
  }
  if (best && bestArea > 1) return *best;
  return screenContainingMouse();
}

}  // namespace

Rect ContextCollector::appKitFrame(const Rect& r, const std::vector<Rect>& screens,
                                   const std::optional<Rect>& mainScreen) {
  if (!(r.width >= 0) || !(r.height >= 0) || screens.empty()) return r;
  auto horizontallyNear = [&](const Rect& screen) {
    return screen.x - kScreenMatchMargin <= maxX(r) && r.x <= maxX(screen) + kScreenMatchMargin;
  };
  for (const auto& screen : screens) {
    const Rect candidate{r.x, maxY(screen) - r.y - r.height, r.width, r.height};
    if (horizontallyNear(screen) && intersects(candidate, inset(screen, kScreenMatchMargin))) return candidate;
  }
  const auto near = std::find_if(screens.begin(), screens.end(), horizontallyNear);
  const Rect reference = near != screens.end() ? *near : mainScreen ? *mainScreen : screens.front();
  return {r.x, maxY(reference) - r.y - r.height, r.width, r.height};
}

ContextCollector::ContextCollector(std::unique_ptr<Accessibility> accessibility, Dispatcher& dispatcher)
    : accessibility_(std::move(accessibility)),
      dispatcher_(dispatcher),
      contextQueue_(dispatcher.queue(kContextQueueLabel)) {}

ContextCollector::~ContextCollector() = default;

template <typename Result>
Result ContextCollector::onContextQueue(const std::function<Result()>& work) {
  if (contextQueue_.isCurrent()) return work();
  Result result{};
  contextQueue_.runSync([&] { result = work(); });
  return result;
}

InputContext ContextCollector::collect(ContextCollectionStats* stats) {
  return onContextQueue<InputContext>([&] {
    Session session(*accessibility_, dispatcher_.clock());
    InputContext context = session.collect();
    if (stats) *stats = session.stats();
    return context;
  });
}

void ContextCollector::collectAsync(std::function<void(InputContext)> done) {
  contextQueue_.post([port = accessibility_, &clock = dispatcher_.clock(), &main = dispatcher_.mainQueue(),
                      alive = liveness_.weak(), done = std::move(done)]() mutable {
    Session session(*port, clock);
    auto context = std::make_shared<InputContext>(session.collect());
    main.post([alive, done = std::move(done), context] {
      if (alive.lock()) done(std::move(*context));
    });
  });
}

std::optional<Rect> ContextCollector::targetScreenForFrontmostWindow() {
  return onContextQueue<std::optional<Rect>>([&] {
    Session session(*accessibility_, dispatcher_.clock());
    return session.targetScreenForFrontmostWindow();
  });
}

std::optional<Rect> ContextCollector::screenContainingMouse() {
  return onContextQueue<std::optional<Rect>>([&] {
    Session session(*accessibility_, dispatcher_.clock());
    return session.screenContainingMouse();
  });
}

}  // namespace sorvane
