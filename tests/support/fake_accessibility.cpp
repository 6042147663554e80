#include "support/fake_accessibility.h"

#include "support/virtual_time.h"

namespace sorvane::testing {

std::shared_ptr<FakeElement> FakeElement::make(std::string role) {
  auto element = std::make_shared<FakeElement>();
  if (!role.empty()) element->strings[AXStringAttribute::role] = std::move(role);
  return element;
}

std::shared_ptr<FakeElement> FakeElement::set(AXStringAttribute attribute, std::string text) {
  strings[attribute] = std::move(text);
  return shared_from_this();
}

std::shared_ptr<FakeElement> FakeElement::range(int64_t location, int64_t length) {
  selectedRange = AXTextRange{location, length};
  return shared_from_this();
}

std::shared_ptr<FakeElement> FakeElement::frame(Rect axFrame) {
  position = AXPoint{axFrame.x, axFrame.y};
  size = AXSize{axFrame.width, axFrame.height};
  return shared_from_this();
}

std::shared_ptr<FakeElement> FakeElement::boundsAt(int64_t location, int64_t length, Rect axFrame) {
  bounds[{location, length}] = axFrame;
  return shared_from_this();
}

std::shared_ptr<FakeElement> FakeElement::add(std::shared_ptr<FakeElement> child) {
  children.push_back(std::move(child));
  return shared_from_this();
}

void FakeAccessibility::count() {
  ++calls;
  if (requiredQueue && !requiredQueue->isCurrent()) ++offQueueCalls;
}

const FakeElement* FakeAccessibility::reach(const AXElement& element) {
  count();
  const auto* fake = dynamic_cast<const FakeElement*>(element.get());
  if (fake && fake->hung) {
    if (clock) clock->setElapsed(clock->elapsedMs() + lastTimeout.count());
    return nullptr;
  }
  if (fake && fake->slow.count() > 0 && clock) {
    // Slower than the call may wait: the call times out like a hung one.
    const bool timesOut = fake->slow > lastTimeout;
    clock->setElapsed(clock->elapsedMs() + (timesOut ? lastTimeout : fake->slow).count());
    if (timesOut) return nullptr;
  }
  return fake;
}

std::optional<FrontmostApplication> FakeAccessibility::frontmostApplication() {
  count();
  return frontmost;
}

AXElement FakeAccessibility::applicationElement(const FrontmostApplication&) {
  count();
  return application;
}

AXElement FakeAccessibility::copyElement(const AXElement& element, AXElementAttribute attribute) {
  if (!reach(element)) return nullptr;
  return attribute == AXElementAttribute::focusedUIElement ? AXElement(focused) : AXElement(window);
}

std::optional<std::string> FakeAccessibility::copyString(const AXElement& element, AXStringAttribute attribute) {
  const auto* fake = reach(element);
  if (!fake) return std::nullopt;
  auto it = fake->strings.find(attribute);
  if (it == fake->strings.end()) return std::nullopt;
  return it->second;
}

std::optional<AXTextRange> FakeAccessibility::copySelectedTextRange(const AXElement& element) {
  const auto* fake = reach(element);
  return fake ? fake->selectedRange : std::nullopt;
}

std::optional<AXPoint> FakeAccessibility::copyPosition(const AXElement& element) {
  const auto* fake = reach(element);
  return fake ? fake->position : std::nullopt;
}

std::optional<AXSize> FakeAccessibility::copySize(const AXElement& element) {
  const auto* fake = reach(element);
  return fake ? fake->size : std::nullopt;
}

std::vector<AXElement> FakeAccessibility::copyElements(const AXElement& element, AXListAttribute attribute,
                                                       std::size_t limit) {
  const auto* fake = reach(element);
  if (!fake) return {};
  const auto& list = attribute == AXListAttribute::children   ? fake->children
                     : attribute == AXListAttribute::contents ? fake->contents
                                                              : fake->visibleChildren;
  std::vector<AXElement> out;
  for (std::size_t i = 0; i < list.size() && i < limit; ++i) out.push_back(list[i]);
  return out;
}

std::optional<bool> FakeAccessibility::isValueSettable(const AXElement& element) {
  const auto* fake = reach(element);
  return fake ? fake->settable : std::nullopt;
}

std::optional<Rect> FakeAccessibility::boundsForRange(const AXElement& element, AXTextRange range) {
  const auto* fake = reach(element);
  if (!fake) return std::nullopt;
  auto it = fake->bounds.find({range.location, range.length});
  if (it == fake->bounds.end()) return std::nullopt;
  return it->second;
}

std::optional<BrowserPage> FakeAccessibility::browserPage(const AXElement& app, const AXElement&, const AXElement&) {
  ++browserPageCalls;
  if (!reach(app)) return std::nullopt;
  return page;
}

std::optional<AXPoint> FakeAccessibility::mouseLocation() {
  count();
  return mouse;
}

std::optional<Rect> FakeAccessibility::workArea(const Rect& screen) {
  for (const auto& [frame, area] : workAreas) {
    if (frame == screen) return area;
  }
  return std::nullopt;
}

}  // namespace sorvane::testing
