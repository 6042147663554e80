// Text insertion: puts a turn's final text into the focused field of the application in
// front the way a user would, through the clipboard and a synthetic paste chord, and
// gives the user's own clipboard back afterwards.
//
// `paste` takes a snapshot of the clipboard, offers the text, waits (at most 0.5 s) until
// the user has released their modifier keys, confirms that the clipboard is still ours,
// picks the chord from the window focused at that moment (`pasteChordForWindowClasses`:
// Control+Shift+V for terminals, Shift+Insert for xterm, Control+V otherwise) and sends
// it. For Shift+Insert, which pastes the PRIMARY selection, PRIMARY is snapshotted and
// offered our text too, just before the keys, and restored with the clipboard.
//
// Once the keys are sent the target may read the text at any time, so the user's data
// goes back only when it can no longer be pasted by mistake: 150 ms after the target
// fetched the text (targets read several formats in a row), or, when it never did, at
// `kRestoreBound` after the keys. Until then our text stays offered. Each selection is
// written back only while our offer still owns it: a copy the user made meanwhile stays.
// An empty snapshot is not restored (the dictated text stays on the clipboard).
//
// `kRestoreBound` is 3 s: a slow target (an office suite or an Electron application on a
// busy machine) reads within a second or two of the keys, and a target that has not read
// by then is a window that never will (a menu that took the focus, a non-text widget).
// Much longer would keep the user's clipboard away while they move on and paste
// elsewhere; shorter would hand the old clipboard, possibly a password, to a slow target.
//
// The completion reports once, on the main queue: `pasted` when the target fetched the
// text within `kFetchLimit` (0.8 s) of the keys, `fellBack` when no keys were sent or
// nothing was fetched by then (the caller shows the copy panel; a later fetch still only
// moves the restore), `nothingToPaste` for empty text.
//
// A paste that starts while an earlier one is pending (fetched or not, before its restore)
// takes the earlier snapshots over for each selection our offer still owns and cancels
// the earlier restore, so the user's own data comes back at the end of the last paste.
// Quitting must call `finishPendingRestore` while the event loop still runs, so a clipboard
// manager can take the restored data: at quit the user's data is restored at once, even
// before the bound, since afterwards nobody could restore it, and a paste still waiting
// reports before the call returns. The destructor restores too, but reports nothing.
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

// The paste chord for a window with these class names: xterm takes Shift+Insert, other
// terminals Control+Shift+V, everything else Control+V.
PasteChord pasteChordForWindowClasses(const std::vector<std::string>& classes);

class TextInserter {
 public:
  using Completion = std::function<void(PasteOutcome)>;

  TextInserter(Dispatcher& dispatcher, std::unique_ptr<Clipboard> clipboard, std::unique_ptr<KeySynthesis> keys);
  ~TextInserter();
  TextInserter(const TextInserter&) = delete;
  TextInserter& operator=(const TextInserter&) = delete;

  void paste(const std::string& text, Completion completion = {});
  // Runs a pending restore now (quit); a paste still waiting reports `fellBack` from
  // within this call.
  void finishPendingRestore();
  bool hasPendingRestore() const { return pending_.has_value(); }

  static constexpr Milliseconds kModifierWaitLimit{500};
  static constexpr Milliseconds kModifierPollInterval{20};
  static constexpr Milliseconds kFetchLimit{800};       // after the keys: `fellBack` when not fetched
  static constexpr Milliseconds kRestoreBound{3000};    // after the keys: restore when never fetched
  static constexpr Milliseconds kRestoreAfterFetch{150};

 private:
  enum class Phase { waitingForModifiers, waitingForFetch, fetched };
  // The user's data of one selection while our offer holds it.
  struct Held {
    Clipboard::OfferId offer = 0;
    ClipboardSnapshot snapshot;
  };
  struct Pending {
    uint64_t serial = 0;
    std::string text;
    Held clipboard;
    std::optional<Held> primary;  // PRIMARY is ours too (a Shift+Insert paste)
    Phase phase = Phase::waitingForModifiers;
    std::chrono::steady_clock::time_point startedAt;
    Completion completion;
  };

  void checkModifiers();
  void inject();
  bool holdPrimary();
  void notFetchedInTime();
  void fetched(uint64_t serial);
  void report(PasteOutcome outcome);
  void fallBack(std::string_view reason);
  void restoreNow();
  void restore(ClipboardSelection selection, const Held& held);

  Dispatcher& dispatcher_;
  std::unique_ptr<Clipboard> clipboard_;
  std::unique_ptr<KeySynthesis> keys_;
  std::optional<Pending> pending_;
  OneShotTimer timer_;
  uint64_t nextSerial_ = 1;
  LivenessToken liveness_;
};

}  // namespace sorvane
