#include "turn/text_inserter.h"

#include <algorithm>
#include <array>
#include <span>

#include "context/terminal_windows.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

const char* chordName(PasteChord chord) {
  switch (chord) {
    case PasteChord::controlV: return "control+v";
    case PasteChord::controlShiftV: return "control+shift+v";
    case PasteChord::shiftInsert: return "shift+insert";
  }
  return "?";
}

}  // namespace

PasteChord pasteChordForWindowClasses(const std::vector<std::string>& classes) {
  for (const std::string& raw : classes) {
    if (pastesWithShiftInsert(raw)) return PasteChord::shiftInsert;
    if (isTerminalWindowClass(raw)) return PasteChord::controlShiftV;
  }
  return PasteChord::controlV;
}

TextInserter::TextInserter(Dispatcher& dispatcher, std::unique_ptr<Clipboard> clipboard,
                           std::unique_ptr<KeySynthesis> keys)
    : dispatcher_(dispatcher), clipboard_(std::move(clipboard)), keys_(std::move(keys)) {}

TextInserter::~TextInserter() {
  if (!pending_) return;
  pending_->completion = nullptr;  // its turn is gone with the app
  restoreNow();
}

void TextInserter::paste(const std::string& text, Completion completion) {
  if (text.empty()) {
    if (completion) dispatcher_.mainQueue().post([completion] { completion(PasteOutcome::nothingToPaste); });
    return;
  }

  ClipboardSnapshot snapshot;
  std::optional<Held> primary;
  bool tookOver = false;
  if (pending_) {
    // An earlier paste not yet fetched is not reported as done.
    report(PasteOutcome::fellBack);
    timer_.cancel();
    Pending previous = std::move(*pending_);
    pending_.reset();
    if (clipboard_->ownsOffer(previous.clipboard.offer)) {
      // The clipboard still holds our earlier text: the user's data is the earlier snapshot.
      snapshot = std::move(previous.clipboard.snapshot);
      tookOver = true;
      appLog("paste takes over pending restore formats=" + std::to_string(snapshot.formats.size()));
    } else {
      snapshot = clipboard_->snapshot(ClipboardSelection::clipboard);
    }
    // PRIMARY the same way; it stays as it is until this paste restores it.
    if (previous.primary && clipboard_->ownsOffer(previous.primary->offer)) primary = std::move(previous.primary);
  } else {
    snapshot = clipboard_->snapshot(ClipboardSelection::clipboard);
  }
  if (!snapshot.complete) {
    appLog("clipboard snapshot incomplete formats=" + std::to_string(snapshot.formats.size()));
  }

  const uint64_t serial = nextSerial_++;
  const Clipboard::OfferId offer = clipboard_->offerText(ClipboardSelection::clipboard, text,
                                                         liveness_.guard([this, serial] { fetched(serial); }));
  if (offer == 0) {
    appLog("paste fell back reason=clipboard-not-set");
    // A taken-over snapshot belongs back on the clipboard our earlier text still holds.
    if (tookOver && !snapshot.empty()) clipboard_->restore(ClipboardSelection::clipboard, snapshot);
    if (primary) restore(ClipboardSelection::primary, *primary);
    if (completion) dispatcher_.mainQueue().post([completion] { completion(PasteOutcome::fellBack); });
    return;
  }
  pending_ = Pending{serial,           text, Held{offer, std::move(snapshot)}, std::move(primary),
                     Phase::waitingForModifiers, dispatcher_.clock().monotonicNow(), std::move(completion)};
  checkModifiers();
}

void TextInserter::checkModifiers() {
  if (!pending_ || pending_->phase != Phase::waitingForModifiers) return;
  if (keys_->userModifiersHeld()) {
    if (dispatcher_.clock().monotonicNow() - pending_->startedAt >= kModifierWaitLimit) {
      // Injecting now would combine our chord with the user's keys (Alt+Control+V ...).
      fallBack("modifiers-held");
      return;
    }
    timer_.start(dispatcher_.mainQueue(), kModifierPollInterval, liveness_.guard([this] { checkModifiers(); }));
    return;
  }
  inject();
}

void TextInserter::inject() {
  if (!clipboard_->ownsOffer(pending_->clipboard.offer)) {
    // The clipboard is someone else's now: pasting would insert their data.
    appLog("paste fell back reason=clipboard-not-owned");
    report(PasteOutcome::fellBack);
    if (pending_->primary) restore(ClipboardSelection::primary, *pending_->primary);
    pending_.reset();
    return;
  }
  const PasteChord chord = pasteChordForWindowClasses(keys_->focusedWindowClasses());
  if (chord == PasteChord::shiftInsert && !holdPrimary()) {
    fallBack("primary-not-owned");
    return;
  }
  if (!keys_->sendPasteChord(chord)) {
    fallBack("keys-not-sent");
    return;
  }
  appLog(std::string("paste keys sent chord=") + chordName(chord));
  pending_->phase = Phase::waitingForFetch;
  timer_.start(dispatcher_.mainQueue(), kFetchLimit, liveness_.guard([this] { notFetchedInTime(); }));
}

bool TextInserter::holdPrimary() {
  Pending& pending = *pending_;
  std::optional<Held> earlier = std::move(pending.primary);
  pending.primary.reset();
  // PRIMARY still holding an earlier paste's text: the user's data is that paste's snapshot.
  const bool carried = earlier && clipboard_->ownsOffer(earlier->offer);
  ClipboardSnapshot snapshot =
      carried ? std::move(earlier->snapshot) : clipboard_->snapshot(ClipboardSelection::primary);
  const uint64_t serial = pending.serial;
  const Clipboard::OfferId offer = clipboard_->offerText(ClipboardSelection::primary, pending.text,
                                                         liveness_.guard([this, serial] { fetched(serial); }));
  if (offer == 0) {
    if (carried) pending.primary = Held{earlier->offer, std::move(snapshot)};
    return false;
  }
  pending.primary = Held{offer, std::move(snapshot)};
  return clipboard_->ownsOffer(offer);
}

void TextInserter::notFetchedInTime() {
  if (!pending_ || pending_->phase != Phase::waitingForFetch) return;
  appLog("paste fell back reason=not-fetched");
  report(PasteOutcome::fellBack);
  // The keys are out: a slow target may still read, and it must read our text, not the
  // user's old clipboard. A fetch from here on restores 150 ms later; otherwise the bound.
  timer_.start(dispatcher_.mainQueue(), kRestoreBound - kFetchLimit, liveness_.guard([this] {
    if (!pending_ || pending_->phase != Phase::waitingForFetch) return;
    appLog("paste not fetched by the restore bound");
    restoreNow();
  }));
}

void TextInserter::fetched(uint64_t serial) {
  // Reads before the keys were sent (a clipboard manager, say) do not mean the target got it.
  if (!pending_ || pending_->serial != serial || pending_->phase != Phase::waitingForFetch) return;
  pending_->phase = Phase::fetched;
  appLog(pending_->completion ? "paste fetched by target" : "paste fetched by target after fallback");
  report(PasteOutcome::pasted);
  // Targets often read several formats in a row; the restore waits until they are done.
  timer_.start(dispatcher_.mainQueue(), kRestoreAfterFetch, liveness_.guard([this] { restoreNow(); }));
}

void TextInserter::report(PasteOutcome outcome) {
  if (!pending_ || !pending_->completion) return;
  dispatcher_.mainQueue().post([completion = std::move(pending_->completion), outcome] { completion(outcome); });
  pending_->completion = nullptr;
}

void TextInserter::fallBack(std::string_view reason) {
  appLog("paste fell back reason=" + std::string(reason));
  report(PasteOutcome::fellBack);
  restoreNow();
}

void TextInserter::restoreNow() {
  if (!pending_) return;
  timer_.cancel();
  Pending pending = std::move(*pending_);
  pending_.reset();
  restore(ClipboardSelection::clipboard, pending.clipboard);
  if (pending.primary) restore(ClipboardSelection::primary, *pending.primary);
}

void TextInserter::restore(ClipboardSelection selection, const Held& held) {
  const bool main = selection == ClipboardSelection::clipboard;
  const std::string name = main ? "clipboard" : "primary selection";
  if (held.snapshot.empty()) {
    appLog(name + " restore skipped empty snapshot");
  } else if (!clipboard_->ownsOffer(held.offer)) {
    appLog(name + (main ? " restore skipped clipboard changed" : " restore skipped selection changed"));
  } else {
    clipboard_->restore(selection, held.snapshot);
    appLog(name + " restored formats=" + std::to_string(held.snapshot.formats.size()));
  }
}

void TextInserter::finishPendingRestore() {
  if (!pending_) return;
  // Called as the app quits: the event loop may never run again, so the turn hears of
  // the fallback now, not through the main queue, and can still record itself.
  auto completion = std::move(pending_->completion);
  pending_->completion = nullptr;
  restoreNow();
  if (completion) completion(PasteOutcome::fellBack);
}

}  // namespace sorvane
