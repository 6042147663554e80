// The context collector: takes the `InputContext` snapshot of the application the user is
// typing into, from the desktop's accessibility tree.
//
// It reads the frontmost application, its focused element (value, selection, caret
// geometry), the window title, the visible text of the window and, for the browsers,
// the page's URL, title and whether an editable node has focus, all through the
// `Accessibility` port. It keeps nothing between calls: every collection starts from
// scratch.
//
// The turn controller collects once per recording turn and asks for the screen of the
// frontmost window (to place the HUD); the edit observer collects repeatedly to re-read
// the field after a paste. Every accessibility call runs on the "app.sorvane.context"
// queue: `collect` called from another queue runs there and waits for it, and
// `collectAsync` hands the result to the main queue. One collection spends at most
// `kContextCollectionBudget` waiting on the accessibility tree (an application that does
// not answer costs that much once); what was not read by then is absent.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "context/accessibility.h"
#include "context/input_context.h"
#include "core/dispatch.h"

namespace sorvane {

inline constexpr std::string_view kContextQueueLabel = "app.sorvane.context";
inline constexpr Milliseconds kContextCollectionBudget{400};
// The look again after a collection ran out of time and found no field: the transcript is
// final and the user waits for the paste anyway, so a busy application (a browser
// rebuilding its tree after the last paste) gets longer to answer.
inline constexpr Milliseconds kContextRetryBudget{1500};

// What one collection cost (for the benchmark and the budget log line).
struct ContextCollectionStats {
  std::size_t accessibilityCalls = 0;
  bool budgetExhausted = false;
};

class ContextCollector {
 public:
  ContextCollector(std::unique_ptr<Accessibility> accessibility, Dispatcher& dispatcher);
  ~ContextCollector();
  ContextCollector(const ContextCollector&) = delete;
  ContextCollector& operator=(const ContextCollector&) = delete;

  // Synchronous; never fails (a context whose source is "none" when no application is in
  // front). Runs on the context queue, waiting for it when called from elsewhere.
  InputContext collect(ContextCollectionStats* stats = nullptr, Milliseconds budget = kContextCollectionBudget);
  // Collects on the context queue; `done` runs on the main queue, and not at all once the
  // collector is gone.
  void collectAsync(std::function<void(InputContext)> done);

  // Where the turn's windows go: the work area (the screen less its panels and docks, in
  // desktop space) of the screen with the largest share of the frontmost window, else of
  // the screen under the mouse; absent only without screens.
  std::optional<Rect> targetScreenForFrontmostWindow();
  // The work area of the screen whose frame contains the mouse, else of the main screen.
  std::optional<Rect> screenContainingMouse();

  // Accessibility space (y down) to desktop space (y up), choosing the screen the frame
  // lies on; exposed for the placement tests.
  static Rect appKitFrame(const Rect& axFrame, const std::vector<Rect>& screens,
                          const std::optional<Rect>& mainScreen);

 private:
  template <typename Result>
  Result onContextQueue(const std::function<Result()>& work);
  // The screen's work area as the port gives it, or the screen itself. Context queue.
  std::optional<Rect> workAreaOf(const std::optional<Rect>& screen);

  // Shared with tasks still queued on the context queue, so a collector destroyed on the
  // main queue never leaves them a dangling port.
  std::shared_ptr<Accessibility> accessibility_;
  Dispatcher& dispatcher_;
  SerialQueue& contextQueue_;
  LivenessToken liveness_;
};

}  // namespace sorvane
