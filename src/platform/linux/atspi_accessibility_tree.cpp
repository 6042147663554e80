// The AT-SPI accessibility adapter's walk through the tree: the reads remembered on an
// element for one collection (role, states, text, extents), children and parent, the
// application's window and focused element, and the browser page around the focus.
#include "platform/linux/atspi_accessibility_detail.h"

#include <algorithm>
#include <deque>
#include <string>
#include <string_view>

namespace sorvane::platform::atspi_detail {
namespace {

// The most elements looked at while searching the focused element without the
// Collection interface, the window among an application's children, and a browser's
// document when the focus is outside it.
constexpr std::size_t kFocusSearchLimit = 2000;
// Once an element marked focused is met, the most elements looked at for a better one,
// and the most focused elements taken from the Collection interface.
constexpr std::size_t kFocusSearchAfterFirstLimit = 400;
constexpr gint kFocusedMatchLimit = 8;
constexpr std::size_t kWindowSearchLimit = 64;
constexpr std::size_t kDocumentSearchLimit = 400;
constexpr int kAncestorLimit = 64;

}  // namespace

std::optional<AtspiRole> AtspiAccessibility::role(const AtspiElement& element) {
  if (!element.role && request()) {
    ErrorSlot error;
    const AtspiRole value = atspi_accessible_get_role(element.object, error.out());
    if (!error.failed()) element.role = value;
  }
  return element.role;
}

const std::optional<std::bitset<ATSPI_STATE_LAST_DEFINED>>& AtspiAccessibility::states(const AtspiElement& element) {
  if (!element.states && request()) {
    AtspiStateSet* set = atspi_accessible_get_state_set(element.object);
    if (set) {
      std::bitset<ATSPI_STATE_LAST_DEFINED> bits;
      if (GArray* list = atspi_state_set_get_states(set)) {
        for (guint i = 0; i < list->len; ++i) {
          const auto state = g_array_index(list, AtspiStateType, i);
          if (state >= 0 && state < ATSPI_STATE_LAST_DEFINED) bits.set(state);
        }
        g_array_free(list, TRUE);
      }
      g_object_unref(set);
      // An element that is gone answers with the DEFUNCT state only.
      if (!bits.test(ATSPI_STATE_DEFUNCT)) element.states = bits;
    }
  }
  return element.states;
}

const std::optional<AtspiTextMap>& AtspiAccessibility::textOf(const AtspiElement& element) {
  if (element.textRead) return element.text;
  if (!request()) return element.text;  // not remembered: a later collection may try
  element.textRead = true;
  AtspiText* text = atspi_accessible_get_text_iface(element.object);
  if (!text) return element.text;
  ErrorSlot error;
  gint count = 0;
  if (request()) count = atspi_text_get_character_count(text, error.out());
  if (!error.failed() && count >= 0 && request()) {
    std::string value = takeString(atspi_text_get_text(text, 0, count, error.out()));
    if (!error.failed()) element.text.emplace(value, utf16Offsets_);
  }
  g_object_unref(text);
  return element.text;
}

const std::optional<Rect>& AtspiAccessibility::extentsOf(const AtspiElement& element) {
  if (element.extentsRead || !request()) return element.extents;
  element.extentsRead = true;
  AtspiComponent* component = atspi_accessible_get_component_iface(element.object);
  if (!component || !request()) {
    if (component) g_object_unref(component);
    return element.extents;
  }
  ErrorSlot error;
  AtspiRect* r = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, error.out());
  if (r && !error.failed())
    element.extents = deviceToLogical(Rect{double(r->x), double(r->y), double(r->width), double(r->height)},
                                      screens_.read().scales);
  g_free(r);
  g_object_unref(component);
  return element.extents;
}

std::vector<AXElement> AtspiAccessibility::children(const AtspiElement& element, std::size_t limit) {
  std::vector<AXElement> out;
  if (!request()) return out;
  ErrorSlot error;
  const gint count = atspi_accessible_get_child_count(element.object, error.out());
  if (error.failed() || count <= 0) return out;
  for (gint i = 0; i < count && out.size() < limit && request(); ++i) {
    AtspiAccessible* child = atspi_accessible_get_child_at_index(element.object, i, error.out());
    if (error.failed()) {
      if (child) g_object_unref(child);
      continue;
    }
    if (auto wrapped = wrap(child)) out.push_back(std::move(wrapped));
  }
  return out;
}

AXElement AtspiAccessibility::parent(const AtspiElement& element) {
  if (!request()) return nullptr;
  ErrorSlot error;
  AtspiAccessible* up = atspi_accessible_get_parent(element.object, error.out());
  if (error.failed()) {
    if (up) g_object_unref(up);
    return nullptr;
  }
  return wrap(up);
}

AXElement AtspiAccessibility::findWindow(const AtspiElement& application) {
  if (application.windowSearched) return application.window;
  application.windowSearched = true;
  // Top-level windows are the application's children (a Qt top-level widget shows as a
  // filler, not a frame, so any child counts). The active one, else the one titled as the
  // X window, else the first that shows.
  const auto windows = children(application, kWindowSearchLimit);
  auto pick = [&](auto&& test) -> AXElement {
    for (const auto& window : windows) {
      if (test(*native(window))) return window;
    }
    return nullptr;
  };
  AXElement window = pick([&](const AtspiElement& w) { return hasState(w, ATSPI_STATE_ACTIVE); });
  if (!window && !lastWindowTitle_.empty()) {
    window = pick([&](const AtspiElement& w) {
      if (!request()) return false;
      return takeString(atspi_accessible_get_name(w.object, nullptr)) == lastWindowTitle_;
    });
  }
  if (!window) window = pick([&](const AtspiElement& w) { return hasState(w, ATSPI_STATE_SHOWING); });
  if (!window && windows.size() == 1) window = windows.front();
  application.window = window;
  return window;
}

bool AtspiAccessibility::isEditableOrText(const AtspiElement& element) {
  if (hasState(element, ATSPI_STATE_EDITABLE)) return true;
  const auto r = role(element);
  if (!r) return false;
  const std::string_view ax = axRoleFor(takeString(atspi_role_get_name(*r)), false).role;
  return ax == "AXTextField" || ax == "AXTextArea";
}

int AtspiAccessibility::depthBelow(const AXElement& element, const AtspiElement& root) {
  AXElement current = element;
  for (int depth = 0; depth < kAncestorLimit && current; ++depth) {
    if (native(current)->object == root.object) return depth;
    current = parent(*native(current));
  }
  return kAncestorLimit;
}

AXElement AtspiAccessibility::findFocusedByCollection(const AtspiElement& root) {
  if (!request()) return nullptr;
  AtspiCollection* collection = atspi_accessible_get_collection_iface(root.object);
  if (!collection) return nullptr;
  std::vector<AXElement> found;
  AtspiStateSet* focused = atspi_state_set_new(nullptr);
  atspi_state_set_add(focused, ATSPI_STATE_FOCUSED);
  AtspiMatchRule* rule = atspi_match_rule_new(focused, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL,
                                              nullptr, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL,
                                              FALSE);
  if (request()) {
    ErrorSlot error;
    GArray* matches = atspi_collection_get_matches(collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL,
                                                   kFocusedMatchLimit, TRUE, error.out());
    if (matches) {
      for (guint i = 0; i < matches->len; ++i) {
        AtspiAccessible* match = g_array_index(matches, AtspiAccessible*, i);
        if (!error.failed()) {
          if (auto wrapped = wrap(match)) found.push_back(std::move(wrapped));
        } else if (match) {
          g_object_unref(match);
        }
      }
      g_array_free(matches, TRUE);
    }
  }
  g_object_unref(rule);
  g_object_unref(focused);
  g_object_unref(collection);
  if (found.size() <= 1) return found.empty() ? nullptr : found.front();
  std::vector<FocusedCandidate> candidates;
  for (const auto& element : found) candidates.push_back({0, isEditableOrText(*native(element))});
  // Depths only matter between editable ones.
  if (std::count_if(candidates.begin(), candidates.end(), [](const auto& c) { return c.editable; }) > 1) {
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (candidates[i].editable) candidates[i].depth = depthBelow(found[i], root);
    }
  }
  return found[*preferredFocused(candidates)];
}

AXElement AtspiAccessibility::findFocused(const AtspiElement& root) {
  if (auto found = findFocusedByCollection(root)) return found;
  // Toolkits without the Collection interface (Qt): a breadth-first search through what
  // is showing. Qt marks several elements focused (the current page tab, nearer the
  // window, before the text), so the search goes on past the first one met, for a
  // bounded number of elements, and `preferredFocused` chooses.
  struct Queued {
    AXElement element;
    int depth;
  };
  std::deque<Queued> queue;
  for (auto& child : children(root, kFocusSearchLimit)) queue.push_back({std::move(child), 1});
  std::vector<AXElement> found;
  std::vector<FocusedCandidate> candidates;
  std::size_t seenAfterFirst = 0;
  for (std::size_t seen = 0; seen < kFocusSearchLimit && !queue.empty(); ++seen) {
    if (!found.empty() && ++seenAfterFirst > kFocusSearchAfterFirstLimit) break;
    Queued next = std::move(queue.front());
    queue.pop_front();
    const AtspiElement& node = *native(next.element);
    const auto& set = states(node);
    if (!set) continue;
    if (set->test(ATSPI_STATE_FOCUSED)) {
      const bool editable = isEditableOrText(node);
      found.push_back(next.element);
      candidates.push_back({next.depth, editable});
      // Past an editable one, only focused elements inside it can be preferred to it.
      if (editable) queue.clear();
    }
    if (!set->test(ATSPI_STATE_SHOWING)) continue;
    const std::size_t room = kFocusSearchLimit - seen;
    if (queue.size() >= room) continue;
    for (auto& child : children(node, room - queue.size())) queue.push_back({std::move(child), next.depth + 1});
  }
  const auto best = preferredFocused(candidates);
  return best ? found[*best] : nullptr;
}

bool AtspiAccessibility::isDocument(const AtspiElement& element) {
  const auto r = role(element);
  return r && (*r == ATSPI_ROLE_DOCUMENT_WEB || *r == ATSPI_ROLE_DOCUMENT_FRAME);
}

// ---------------------------------------------------------------------------
// The browser page

std::optional<BrowserPage> AtspiAccessibility::browserPage(const AXElement& application, const AXElement& window,
                                                           const AXElement& focused) {
  if (!onQueue() || !native(application)) return std::nullopt;
  BrowserPage page;
  // The outermost document around the focus (frames inside a page are documents too).
  AXElement document;
  if (const AtspiElement* node = native(focused)) {
    AXElement current = focused;
    for (int level = 0; level < kAncestorLimit && current; ++level) {
      if (isDocument(*native(current))) document = current;
      if (current.get() != focused.get() && native(current)->object == native(application)->object) break;
      current = parent(*native(current));
    }
    page.documentFocused = document != nullptr;
    page.editableFocused = document && hasState(*node, ATSPI_STATE_EDITABLE);
  }
  if (!document && native(window)) {
    std::deque<AXElement> queue{window};
    for (std::size_t seen = 0; seen < kDocumentSearchLimit && !queue.empty() && !document; ++seen) {
      AXElement element = std::move(queue.front());
      queue.pop_front();
      if (isDocument(*native(element)) && hasState(*native(element), ATSPI_STATE_SHOWING)) {
        document = element;
        break;
      }
      for (auto& child : children(*native(element), kDocumentSearchLimit - seen)) queue.push_back(std::move(child));
    }
  }
  if (!document) return std::nullopt;
  const AtspiElement& doc = *native(document);
  if (page.documentFocused && hasState(doc, ATSPI_STATE_EDITABLE)) page.editableFocused = true;
  if (AtspiDocument* iface = atspi_accessible_get_document_iface(doc.object)) {
    for (const char* attribute : {"DocURL", "URI"}) {
      if (!page.url.empty() || !request()) break;
      page.url = takeString(
          atspi_document_get_document_attribute_value(iface, const_cast<gchar*>(attribute), nullptr));
    }
    g_object_unref(iface);
  }
  if (request()) page.title = takeString(atspi_accessible_get_name(doc.object, nullptr));
  return page;
}

}  // namespace sorvane::platform::atspi_detail
