// The context collector's geometry: the frames of elements, the caret rectangle (from the
// focused element's text bounds, else a descendant's), the screen of the frontmost window
// or under the mouse, and the conversion from accessibility space (y down) to desktop
// space (y up).
#include <algorithm>
#include <cstddef>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "context/context_collector.h"
#include "context/context_collector_session.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

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

}  // namespace

namespace collector_detail {

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

}  // namespace collector_detail

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

}  // namespace sorvane
