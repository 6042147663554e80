#include "turn/text_inserter.h"

#include <array>

#include "core/clock.h"
#include "core/log.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

// WM_CLASS names of terminal emulators, matched exactly; any class name containing
// "terminal" (gnome-terminal, xfce4-terminal, io.elementary.terminal, ...) counts too.
constexpr std::array<std::string_view, 24> kTerminalWindowClasses = {
    "xterm",      "uxterm",   "konsole",      "kitty",        "alacritty",     "org.wezfurlong.wezterm",
    "wezterm",    "tilix",    "terminator",   "urxvt",        "rxvt",          "st",
    "st-256color", "foot",    "footclient",   "terminology",  "guake",         "yakuake",
    "sakura",     "kgx",      "org.gnome.console", "ptyxis",  "org.gnome.ptyxis", "cool-retro-term"};

const char* chordName(PasteChord chord) {
  return chord == PasteChord::controlShiftV ? "control+shift+v" : "control+v";
}

}  // namespace

PasteChord pasteChordForWindowClasses(const std::vector<std::string>& classes) {
  for (const std::string& raw : classes) {
    const std::string name = text::toLower(raw);
    if (name.find("terminal") != std::string::npos) return PasteChord::controlShiftV;
    for (std::string_view terminal : kTerminalWindowClasses) {
      if (name == terminal) return PasteChord::controlShiftV;
    }
  }
  return PasteChord::controlV;
}

TextInserter::TextInserter(Dispatcher& dispatcher, std::unique_ptr<Clipboard> clipboard,
                           std::unique_ptr<KeySynthesis> keys)
    : dispatcher_(dispatcher), clipboard_(std::move(clipboard)), keys_(std::move(keys)) {}

TextInserter::~TextInserter() { finishPendingRestore(); }

void TextInserter::paste(const std::string& text, Completion completion) {
  if (text.empty()) {
    if (completion) dispatcher_.mainQueue().post([completion] { completion(PasteOutcome::nothingToPaste); });
    return;
  }

  ClipboardSnapshot snapshot;
  bool tookOver = false;
  if (pending_) {
    // An earlier paste not yet fetched is not reported as done.
    report(PasteOutcome::fellBack);
    timer_.cancel();
    Pending previous = std::move(*pending_);
    pending_.reset();
    if (clipboard_->ownsOffer(previous.offer)) {
      // The clipboard still holds our earlier text: the user's data is the earlier snapshot.
      snapshot = std::move(previous.snapshot);
      tookOver = true;
      appLog("paste takes over pending restore formats=" + std::to_string(snapshot.formats.size()));
    } else {
      snapshot = clipboard_->snapshot();
    }
  } else {
    snapshot = clipboard_->snapshot();
  }
  if (!snapshot.complete) {
    appLog("clipboard snapshot incomplete formats=" + std::to_string(snapshot.formats.size()));
  }

  const uint64_t serial = nextSerial_++;
  const Clipboard::OfferId offer =
      clipboard_->offerText(text, liveness_.guard([this, serial] { fetched(serial); }));
  if (offer == 0) {
    appLog("paste fell back reason=clipboard-not-set");
    // A taken-over snapshot belongs back on the clipboard our earlier text still holds.
    if (tookOver && !snapshot.empty()) clipboard_->restore(snapshot);
    if (completion) dispatcher_.mainQueue().post([completion] { completion(PasteOutcome::fellBack); });
    return;
  }
  pending_ = Pending{serial, offer, std::move(snapshot), Phase::waitingForModifiers,
                     dispatcher_.clock().monotonicNow(), std::move(completion)};
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
  if (!clipboard_->ownsOffer(pending_->offer)) {
    // The clipboard is someone else's now: pasting would insert their data.
    appLog("paste fell back reason=clipboard-not-owned");
    report(PasteOutcome::fellBack);
    pending_.reset();
    return;
  }
  const PasteChord chord = pasteChordForWindowClasses(keys_->focusedWindowClasses());
  if (!keys_->sendPasteChord(chord)) {
    fallBack("keys-not-sent");
    return;
  }
  appLog(std::string("paste keys sent chord=") + chordName(chord));
  pending_->phase = Phase::waitingForFetch;
  timer_.start(dispatcher_.mainQueue(), kFetchLimit, liveness_.guard([this] {
    if (!pending_ || pending_->phase != Phase::waitingForFetch) return;
    fallBack("not-fetched");
  }));
}

void TextInserter::fetched(uint64_t serial) {
  // Reads before the keys were sent (a clipboard manager, say) do not mean the target got it.
  if (!pending_ || pending_->serial != serial || pending_->phase != Phase::waitingForFetch) return;
  pending_->phase = Phase::fetched;
  appLog("paste fetched by target");
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
  if (pending.snapshot.empty()) {
    appLog("clipboard restore skipped empty snapshot");
  } else if (!clipboard_->ownsOffer(pending.offer)) {
    appLog("clipboard restore skipped clipboard changed");
  } else {
    clipboard_->restore(pending.snapshot);
    appLog("clipboard restored formats=" + std::to_string(pending.snapshot.formats.size()));
  }
}

void TextInserter::finishPendingRestore() {
  if (!pending_) return;
  report(PasteOutcome::fellBack);
  restoreNow();
}

}  // namespace sorvane
