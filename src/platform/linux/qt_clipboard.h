// The clipboard adapter of text insertion over Qt's clipboard, with reads of another
// program's clipboard done on our own X connection so that they are bounded.
//
// - `snapshot`: when our process owns the clipboard, every format of Qt's data; otherwise
//   every target the owner lists, read with ConvertSelection (INCR transfers included)
//   within 400 ms and 64 MiB in all. A format that does not fit is left out and the
//   snapshot marked incomplete; a stalled owner costs the time bound, never more. The X
//   housekeeping targets (TARGETS, MULTIPLE, TIMESTAMP, SAVE_TARGETS, ...) and Qt's
//   "application/x-qt-image" are dropped; the text targets become one "text/plain".
// - `offerText`: a QMimeData subclass whose data reads tell that a program fetched it.
// - `ownsOffer`: that offer is Qt's clipboard data and the X selection owner is a window
//   of Qt's connection (a server round trip: Qt only warns when ownership is refused).
// - `restore`: the snapshot's formats as new Qt clipboard data; Qt serves it from then
//   on and hands it to a clipboard manager when the application quits.
//
// Needs a QGuiApplication; without an X server only the Qt part works. Main queue only.
#pragma once

#include <QPointer>

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

  ClipboardSnapshot snapshot() override;
  OfferId offerText(const std::string& text, std::function<void()> onFetched) override;
  bool ownsOffer(OfferId offer) override;
  void restore(const ClipboardSnapshot& snapshot) override;

  static constexpr std::chrono::milliseconds kSnapshotTimeLimit{400};
  static constexpr std::size_t kSnapshotByteLimit = 64u << 20;

 private:
  // True when the X selection owner is a window of Qt's own connection (or there is no X).
  bool qtOwnsSelection();

  std::unique_ptr<XSelectionReader> reader_;
  QPointer<ClipboardOffer> offer_;
  OfferId offerId_ = 0;
  OfferId nextOfferId_ = 1;
};

}  // namespace sorvane::platform
