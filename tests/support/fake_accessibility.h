// A fake accessibility tree behind the `Accessibility` port, for the collector's logic.
//
// A test builds elements (`FakeElement::make("AXTextArea")->value(...)`), hangs them under
// an application and names the focused element and window; the fake answers the port's
// calls from them and counts each call. An element marked `hung` answers nothing and,
// when a virtual clock is attached, takes the whole call timeout in virtual time, like an
// application that stopped answering. Pure; runs on the test's thread.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "context/accessibility.h"

namespace sorvane::testing {

class VirtualClock;

struct FakeElement : AXObject, std::enable_shared_from_this<FakeElement> {
  std::map<AXStringAttribute, std::string> strings;
  std::optional<AXTextRange> selectedRange;
  std::optional<AXPoint> position;
  std::optional<AXSize> size;
  std::vector<std::shared_ptr<FakeElement>> children;
  std::vector<std::shared_ptr<FakeElement>> contents;
  std::vector<std::shared_ptr<FakeElement>> visibleChildren;
  // Absent: the settable query fails.
  std::optional<bool> settable = false;
  // Answers of "AXBoundsForRange", by (location, length).
  std::map<std::pair<int64_t, int64_t>, Rect> bounds;
  bool hung = false;
  // Each call to it advances the fake's clock by this much and then answers, or times out
  // when the call may not wait that long (a busy browser rebuilding its tree).
  Milliseconds slow{0};

  static std::shared_ptr<FakeElement> make(std::string role = {});
  std::shared_ptr<FakeElement> set(AXStringAttribute attribute, std::string text);
  std::shared_ptr<FakeElement> value(std::string text) { return set(AXStringAttribute::value, std::move(text)); }
  std::shared_ptr<FakeElement> title(std::string text) { return set(AXStringAttribute::title, std::move(text)); }
  std::shared_ptr<FakeElement> range(int64_t location, int64_t length);
  std::shared_ptr<FakeElement> frame(Rect axFrame);
  std::shared_ptr<FakeElement> boundsAt(int64_t location, int64_t length, Rect axFrame);
  std::shared_ptr<FakeElement> add(std::shared_ptr<FakeElement> child);
};

class FakeAccessibility final : public Accessibility {
 public:
  std::optional<FrontmostApplication> frontmost = FrontmostApplication{"Editor", "org.example.editor", 42, ""};
  std::shared_ptr<FakeElement> application = FakeElement::make("AXApplication");
  std::shared_ptr<FakeElement> focused;
  std::shared_ptr<FakeElement> window;
  std::optional<BrowserPage> page;
  std::vector<Rect> screenFrames{{0, 0, 1440, 900}};
  std::optional<Rect> main = Rect{0, 0, 1440, 900};
  std::optional<AXPoint> mouse = AXPoint{100, 100};
  // {screen, its work area}; a screen not listed has none.
  std::vector<std::pair<Rect, Rect>> workAreas;
  // When set, a call to a hung element advances this clock by the call timeout.
  VirtualClock* clock = nullptr;
  // When set, calls made while this queue is not current are counted in offQueueCalls.
  const SerialQueue* requiredQueue = nullptr;
  std::size_t offQueueCalls = 0;

  std::size_t calls = 0;
  std::size_t browserPageCalls = 0;
  Milliseconds lastTimeout{0};

  std::optional<FrontmostApplication> frontmostApplication() override;
  AXElement applicationElement(const FrontmostApplication& app) override;
  AXElement copyElement(const AXElement& element, AXElementAttribute attribute) override;
  std::optional<std::string> copyString(const AXElement& element, AXStringAttribute attribute) override;
  std::optional<AXTextRange> copySelectedTextRange(const AXElement& element) override;
  std::optional<AXPoint> copyPosition(const AXElement& element) override;
  std::optional<AXSize> copySize(const AXElement& element) override;
  std::vector<AXElement> copyElements(const AXElement& element, AXListAttribute attribute, std::size_t limit) override;
  std::optional<bool> isValueSettable(const AXElement& element) override;
  std::optional<Rect> boundsForRange(const AXElement& element, AXTextRange range) override;
  std::optional<BrowserPage> browserPage(const AXElement& app, const AXElement& window,
                                         const AXElement& focused) override;
  std::vector<Rect> screens() override { return screenFrames; }
  std::optional<Rect> mainScreen() override { return main; }
  std::optional<Rect> workArea(const Rect& screen) override;
  std::optional<AXPoint> mouseLocation() override;
  void setCallTimeout(Milliseconds timeout) override { lastTimeout = timeout; }

 private:
  void count();
  // The element behind a handle, or null (after counting the call) when it is hung.
  const FakeElement* reach(const AXElement& element);
};

}  // namespace sorvane::testing
