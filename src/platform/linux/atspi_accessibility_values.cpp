// The AT-SPI accessibility adapter's answers in the values of the accessibility port
// (context/accessibility.h): the focused element and window, AX role names and strings,
// the selection and text bounds as UTF-16 ranges, element geometry and child lists.
#include "platform/linux/atspi_accessibility_detail.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "core/unicode_text.h"

namespace sorvane::platform::atspi_detail {

AXElement AtspiAccessibility::copyElement(const AXElement& element, AXElementAttribute attribute) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return nullptr;
  const AXElement window = findWindow(*node);
  if (attribute == AXElementAttribute::focusedWindow) return window;
  if (!node->focusSearched) {
    node->focusSearched = true;
    node->focused = findFocused(window ? *native(window) : *node);
  }
  return node->focused;
}

std::optional<std::string> AtspiAccessibility::copyString(const AXElement& element, AXStringAttribute attribute) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  ErrorSlot error;
  switch (attribute) {
    case AXStringAttribute::role:
    case AXStringAttribute::subrole: {
      const auto r = role(*node);
      if (!r) return std::nullopt;
      const std::string name = takeString(atspi_role_get_name(*r));
      const bool multiLine = *r == ATSPI_ROLE_TEXT && hasState(*node, ATSPI_STATE_MULTI_LINE);
      const AXRoleNames names = axRoleFor(name, multiLine);
      const std::string_view value = attribute == AXStringAttribute::role ? names.role : names.subrole;
      if (value.empty()) return std::nullopt;
      return std::string(value);
    }
    case AXStringAttribute::title: {
      if (!request()) return std::nullopt;
      std::string name = takeString(atspi_accessible_get_name(node->object, error.out()));
      if (error.failed()) return std::nullopt;
      return name;
    }
    case AXStringAttribute::description: {
      if (!request()) return std::nullopt;
      std::string description = takeString(atspi_accessible_get_description(node->object, error.out()));
      if (error.failed()) return std::nullopt;
      return description;
    }
    case AXStringAttribute::value: {
      const auto& text = textOf(*node);
      if (!text) return std::nullopt;
      return text->text();
    }
    case AXStringAttribute::selectedText: {
      const auto& text = textOf(*node);
      const auto range = copySelectedTextRange(element);
      if (!text || !range) return std::nullopt;
      return text::toUtf8(text::toUnicode(text->text()).tempSubString(static_cast<int32_t>(range->location),
                                                                      static_cast<int32_t>(range->length)));
    }
    case AXStringAttribute::help: return std::nullopt;
  }
  return std::nullopt;
}

std::optional<AXTextRange> AtspiAccessibility::copySelectedTextRange(const AXElement& element) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  const auto& map = textOf(*node);
  if (!map || !request()) return std::nullopt;
  AtspiText* text = atspi_accessible_get_text_iface(node->object);
  if (!text) return std::nullopt;
  std::optional<AXTextRange> result;
  ErrorSlot error;
  const gint selections = request() ? atspi_text_get_n_selections(text, error.out()) : -1;
  if (!error.failed() && selections > 0 && request()) {
    AtspiRange* range = atspi_text_get_selection(text, 0, error.out());
    if (range && !error.failed()) {
      const int64_t start = map->utf16Offset(std::min(range->start_offset, range->end_offset));
      const int64_t end = map->utf16Offset(std::max(range->start_offset, range->end_offset));
      result = AXTextRange{start, end - start};
    }
    g_free(range);
  }
  if (!result && !error.failed() && selections >= 0 && request()) {
    const gint caret = atspi_text_get_caret_offset(text, error.out());
    if (!error.failed() && caret >= 0) result = AXTextRange{map->utf16Offset(caret), 0};
  }
  g_object_unref(text);
  return result;
}

std::optional<AXPoint> AtspiAccessibility::copyPosition(const AXElement& element) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  const auto& r = extentsOf(*node);
  if (!r) return std::nullopt;
  return AXPoint{r->x, r->y};
}

std::optional<AXSize> AtspiAccessibility::copySize(const AXElement& element) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  const auto& r = extentsOf(*node);
  if (!r) return std::nullopt;
  return AXSize{r->width, r->height};
}

std::vector<AXElement> AtspiAccessibility::copyElements(const AXElement& element, AXListAttribute attribute,
                                                        std::size_t limit) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node || attribute == AXListAttribute::contents) return {};
  auto list = children(*node, limit);
  if (attribute == AXListAttribute::visibleChildren) {
    std::erase_if(list, [&](const AXElement& child) {
      const auto& set = states(*native(child));
      return set && !set->test(ATSPI_STATE_SHOWING);
    });
  }
  return list;
}

std::optional<bool> AtspiAccessibility::isValueSettable(const AXElement& element) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node || !request()) return std::nullopt;
  AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(node->object);
  if (!editable) return false;
  g_object_unref(editable);
  const auto& set = states(*node);
  if (!set) return std::nullopt;
  return set->test(ATSPI_STATE_EDITABLE);
}

std::optional<Rect> AtspiAccessibility::boundsForRange(const AXElement& element, AXTextRange range) {
  const AtspiElement* node = native(element);
  if (!onQueue() || !node) return std::nullopt;
  const auto& map = textOf(*node);
  if (!map || range.location < 0 || range.length < 0 || !request()) return std::nullopt;
  AtspiText* text = atspi_accessible_get_text_iface(node->object);
  if (!text) return std::nullopt;
  const gint start = static_cast<gint>(map->characterOffset(range.location));
  const gint end = static_cast<gint>(map->characterOffset(range.location + range.length));
  ErrorSlot error;
  AtspiRect* r = nullptr;
  if (request()) {
    // An empty range is the caret before character `start`: the left edge of that
    // character's box.
    r = range.length == 0 ? atspi_text_get_character_extents(text, start, ATSPI_COORD_TYPE_SCREEN, error.out())
                          : atspi_text_get_range_extents(text, start, std::max(end, start + 1),
                                                         ATSPI_COORD_TYPE_SCREEN, error.out());
  }
  std::optional<Rect> bounds;
  // Toolkits answer offsets they cannot place with an empty box at the origin.
  if (r && !error.failed() && !(r->x == 0 && r->y == 0 && r->width <= 0 && r->height <= 0)) {
    bounds = deviceToLogical(
        Rect{double(r->x), double(r->y), range.length == 0 ? 0.0 : double(r->width), double(r->height)},
        screens_.read().scales);
  }
  g_free(r);
  g_object_unref(text);
  return bounds;
}

}  // namespace sorvane::platform::atspi_detail
