// One collection of the context collector: the accessibility port behind the collection's
// time budget, and the steps that read the focused element, its caret and frame, the
// window's visible text and the screens. Made for one call on the context queue and used
// only there, then dropped (nothing is kept between collections).
//
// Internal to the context layer. The collection steps are in context_collector.cpp, the
// caret, frames and screens in context_collector_geometry.cpp, and the walk for the
// visible text in context_collector_walk.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "context/accessibility.h"
#include "context/context_collector.h"
#include "context/input_context.h"
#include "context/input_context_limits.h"
#include "core/clock.h"
#include "core/unicode_text.h"

namespace sorvane::collector_detail {

// The visible text a collection keeps (its end) is the input context's own limit.
using context_limits::kVisibleTextLimit;

// One collection: the port behind the time budget, and the steps of a collection.
class Session {
 public:
  Session(Accessibility& port, const Clock& clock, Milliseconds budget = kContextCollectionBudget)
      : port_(port), clock_(clock), budget_(budget), deadline_(clock.monotonicNow() + budget) {}

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
  const Milliseconds budget_;
  const std::chrono::steady_clock::time_point deadline_;
  ContextCollectionStats stats_;
  std::optional<std::vector<Rect>> screens_;
  std::optional<Rect> mainScreen_;
};

}  // namespace sorvane::collector_detail
