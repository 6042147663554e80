// Text insertion: puts a turn's final text into the focused field of the application in
// front the way a user would, through the clipboard and a synthetic paste chord, and
// gives the user's own clipboard back afterwards.
//
// `paste` takes a snapshot of the clipboard, offers the text, waits (at most 0.5 s) until
// the user has released their modifier keys, confirms that the clipboard is still ours,
// picks the chord from the window focused at that moment (Control+Shift+V for terminals,
// Control+V otherwise) and sends it. The snapshot is written back 150 ms after the target
// fetched the text, or 0.8 s after the keys when it never did, and only while our offer
// still owns the clipboard: a copy the user made meanwhile stays. An empty snapshot is not
// restored (the dictated text stays on the clipboard).
//
// A paste that starts while an earlier one is pending takes the earlier snapshot over
// (when our offer still owns the clipboard) and cancels its restore, so the user's own
// clipboard comes back at the end. The completion reports once, on the main queue:
// `pasted` when the target fetched the text, `fellBack` when no keys were sent or the
// text was never fetched (the caller shows the copy panel), `nothingToPaste` for empty
// text. Quitting must call `finishPendingRestore` (the destructor does too) while the
// event loop still runs, so a clipboard manager can take the restored data.
//
// Lives on the main queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "turn/clipboard.h"
#include "turn/key_synthesis.h"
#include "core/dispatch.h"

namespace sorvane {

enum class PasteOutcome { pasted, fellBack, nothingToPaste };

// The paste chord for a window with these class names: terminals take Control+Shift+V.
PasteChord pasteChordForWindowClasses(const std::vector<std::string>& classes);

class TextInserter {
 public:
  using Completion = std::function<void(PasteOutcome)>;

  TextInserter(Dispatcher& dispatcher, std::unique_ptr<Clipboard> clipboard, std::unique_ptr<KeySynthesis> keys);
  ~TextInserter();
  TextInserter(const TextInserter&) = delete;
  TextInserter& operator=(const TextInserter&) = delete;

  void paste(const std::string& text, Completion completion = {});
  // Runs a pending restore now (quit); a paste still waiting reports `fellBack`.
  void finishPendingRestore();
  bool hasPendingRestore() const { return pending_.has_value(); }

  static constexpr Milliseconds kModifierWaitLimit{500};
  static constexpr Milliseconds kModifierPollInterval{20};
  static constexpr Milliseconds kFetchLimit{800};
  static constexpr Milliseconds kRestoreAfterFetch{150};

 private:
  enum class Phase { waitingForModifiers, waitingForFetch, fetched };
  struct Pending {
    uint64_t serial = 0;
    Clipboard::OfferId offer = 0;
    ClipboardSnapshot snapshot;
    Phase phase = Phase::waitingForModifiers;
    std::chrono::steady_clock::time_point startedAt;
    Completion completion;
  };

  void checkModifiers();
  void inject();
  void fetched(uint64_t serial);
  void report(PasteOutcome outcome);
  void fallBack(std::string_view reason);
  void restoreNow();

  Dispatcher& dispatcher_;
  std::unique_ptr<Clipboard> clipboard_;
  std::unique_ptr<KeySynthesis> keys_;
  std::optional<Pending> pending_;
  OneShotTimer timer_;
  uint64_t nextSerial_ = 1;
  LivenessToken liveness_;
};

}  // namespace sorvane
