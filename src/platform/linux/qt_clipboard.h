// The clipboard adapter of text insertion over Qt's clipboard (CLIPBOARD) and selection
// (PRIMARY), with reads of another program's data done on our own X connection so that
// they are bounded. Each selection has its own current offer.
//
// - `snapshot`: when our process owns the selection, every format of Qt's data; otherwise
//   every target the owner lists, read with ConvertSelection (INCR transfers included)
//   within 400 ms and 64 MiB in all. A format that does not fit is left out and the
//   snapshot marked incomplete; a stalled owner costs the time bound, never more. The X
//   housekeeping targets (TARGETS, MULTIPLE, TIMESTAMP, SAVE_TARGETS, ...) and Qt's
//   "application/x-qt-image" are dropped; the text targets become one "text/plain".
// - `offerText`: a QMimeData subclass whose data reads tell that a program fetched it.
// - `ownsOffer`: that offer is Qt's data for its selection and the X selection owner is a
//   window of Qt's connection (a server round trip: Qt only warns when ownership is refused).
// - PRIMARY where Qt has no selection (`supportsSelection()` false): an empty snapshot and
//   no offer (0).
// - `restore`: the snapshot's formats as new Qt clipboard data; Qt serves it from then
//   on and hands it to a clipboard manager when the application quits.
//
// Needs a QGuiApplication; without an X server only the Qt part works. Main queue only.
#pragma once

#include <QClipboard>
#include <QPointer>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "turn/clipboard.h"

namespace sorvane::platform {

class ClipboardOffer;
class XSelectionReader;

class QtClipboard final : public Clipboard {
 public:
  QtClipboard();
  ~QtClipboard() override;
  QtClipboard(const QtClipboard&) = delete;
  QtClipboard& operator=(const QtClipboard&) = delete;

  ClipboardSnapshot snapshot(ClipboardSelection selection) override;
  OfferId offerText(ClipboardSelection selection, const std::string& text, std::function<void()> onFetched) override;
  bool ownsOffer(OfferId offer) override;
  void restore(ClipboardSelection selection, const ClipboardSnapshot& snapshot) override;

  static constexpr std::chrono::milliseconds kSnapshotTimeLimit{400};
  static constexpr std::size_t kSnapshotByteLimit = 64u << 20;

 private:
  struct Slot {
    QPointer<ClipboardOffer> offer;  // Qt deletes it when the selection's data is replaced
    OfferId id = 0;
  };
  static QClipboard::Mode modeOf(ClipboardSelection selection);
  Slot& slotOf(ClipboardSelection selection) { return slots_[selection == ClipboardSelection::primary]; }
  // True when the X selection owner is a window of Qt's own connection (or there is no X).
  bool qtOwnsSelection(ClipboardSelection selection);

  std::unique_ptr<XSelectionReader> reader_;
  std::array<Slot, 2> slots_;
  OfferId nextOfferId_ = 1;
};

}  // namespace sorvane::platform
