// The context collector's collection steps: the frontmost application, its focused
// element and window, the text around the cursor, the browser page and the log line of a
// collection; and the collector itself, which runs each collection on the context queue.
// The caret, frames and screens are in context_collector_geometry.cpp, the walk for the
// visible text in context_collector_walk.cpp.
#include "context/context_collector.h"

#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <utility>

#include "context/context_collector_session.h"
#include "context/visible_text.h"
#include "core/log.h"
#include "core/regex.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace collector_detail {
namespace {

// Slices around the cursor count UTF-16 units of the raw value.
constexpr int64_t kCursorSliceUnits = 900;
// The page's text is searched for an editing cue in its first characters only.
constexpr std::size_t kEditingCueSampleLength = 2400;

// The browsers whose page is read: the macOS identifiers and the Linux desktop-file ids
// and window classes of Chromium, Chrome and Firefox. Compared exactly.
constexpr std::array<std::string_view, 11> kBrowserIdentifiers{
    "com.google.Chrome", "company.thebrowser.Browser", "com.apple.Safari",
    "chromium",          "chromium-browser",           "org.chromium.chromium",
    "google-chrome",     "com.google.chrome",          "firefox",
    "firefox-esr",       "org.mozilla.firefox"};

bool showsEditingCue(std::string_view pageText) {
  static const Regex kEditingCue(
      "请输入(正文|标题)|点击输入|输入正文|输入标题|开始输入|写点什么|添加评论|发表评论|写评论|add comment|"
      "leave a comment|write a comment|write a reply|type here|start writing",
      Regex::kCaseInsensitive);
  return kEditingCue.search(text::graphemePrefix(pageText, kEditingCueSampleLength));
}

// The UTF-16 units [start, start + length) of `value` as UTF-8.
std::string utf16Slice(const icu::UnicodeString& value, int64_t start, int64_t length) {
  return text::toUtf8(value.tempSubString(static_cast<int32_t>(start), static_cast<int32_t>(length)));
}

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

}  // namespace

InputContext Session::collect() {
  InputContext context;
  const auto frontmost = allowCall() ? port_.frontmostApplication() : std::nullopt;
  if (!frontmost) {
    context.source = "none";
    return context;
  }
  context.appName = frontmost->name;
  context.bundleIdentifier = frontmost->identifier;

  // A search cut short by a slow application is not the same as an application without
  // a tree.
  const bool askedForApplication = allowCall();
  const AXElement application = askedForApplication ? port_.applicationElement(*frontmost) : nullptr;
  context.accessibilityTreeMissing = askedForApplication && !application && !stats_.budgetExhausted;
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
  if (context.windowTitle.empty()) context.windowTitle = frontmost->windowTitle;

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
  context.visibleText = normalizeVisibleText(
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
  context.source = context.accessibilityTreeMissing ? "window" : "accessibility";

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
           " budgetMs=" + std::to_string(budget_.count()));
  }
  return context;
}

}  // namespace collector_detail

using collector_detail::Session;

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

InputContext ContextCollector::collect(ContextCollectionStats* stats, Milliseconds budget) {
  return onContextQueue<InputContext>([&] {
    Session session(*accessibility_, dispatcher_.clock(), budget);
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

// Screens are matched by their whole frames (a window or the mouse may sit over a panel);
// the windows are then placed inside the chosen screen's work area.
std::optional<Rect> ContextCollector::targetScreenForFrontmostWindow() {
  return onContextQueue<std::optional<Rect>>([&] {
    Session session(*accessibility_, dispatcher_.clock());
    return workAreaOf(session.targetScreenForFrontmostWindow());
  });
}

std::optional<Rect> ContextCollector::screenContainingMouse() {
  return onContextQueue<std::optional<Rect>>([&] {
    Session session(*accessibility_, dispatcher_.clock());
    return workAreaOf(session.screenContainingMouse());
  });
}

std::optional<Rect> ContextCollector::workAreaOf(const std::optional<Rect>& screen) {
  if (!screen) return std::nullopt;
  const auto area = accessibility_->workArea(*screen);
  // A work area that is empty or reaches outside its screen is a desktop's mistake.
  if (!area || !(area->width > 0) || !(area->height > 0) || area->x < screen->x || area->y < screen->y ||
      area->x + area->width > screen->x + screen->width || area->y + area->height > screen->y + screen->height) {
    return screen;
  }
  return area;
}

}  // namespace sorvane
