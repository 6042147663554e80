// The clipboard port of text insertion: a bounded snapshot of every format a selection
// offers, an offer of our own text that tells when another program fetched it, an
// ownership check confirmed with the display server, and a restore. Two selections:
// the clipboard (what Control+V pastes) and PRIMARY (what xterm's Shift+Insert pastes).
//
// The Linux adapter is platform/linux/qt_clipboard.h; tests use a fake. Used on the main
// queue only; `onFetched` is called there.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sorvane {

struct ClipboardFormat {
  std::string type;  // a MIME type such as "text/plain" or "text/html"
  std::string data;
  bool operator==(const ClipboardFormat&) const = default;
};

// What the clipboard held: its formats in the order the owner listed them. `complete`
// is false when a format was left out because it could not be read within the bounds.
struct ClipboardSnapshot {
  std::vector<ClipboardFormat> formats;
  bool complete = true;
  bool empty() const { return formats.empty(); }
};

enum class ClipboardSelection { clipboard, primary };

class Clipboard {
 public:
  using OfferId = uint64_t;  // 0 is never a valid offer; ids are unique across selections
  virtual ~Clipboard() = default;

  // Every readable format of the selection's current contents, bounded in time and size;
  // housekeeping targets of the display server (TARGETS, TIMESTAMP, ...) are left out.
  virtual ClipboardSnapshot snapshot(ClipboardSelection selection) = 0;
  // Replaces the selection with `text` as plain text. `onFetched` runs each time another
  // program reads the text. Returns 0 when the selection could not be set.
  virtual OfferId offerText(ClipboardSelection selection, const std::string& text,
                            std::function<void()> onFetched) = 0;
  // True only while this very offer owns its selection, confirmed with the display
  // server; a later copy of the same text by anyone (ourselves included) ends it.
  virtual bool ownsOffer(OfferId offer) = 0;
  // Replaces the selection with the snapshot's formats.
  virtual void restore(ClipboardSelection selection, const ClipboardSnapshot& snapshot) = 0;
};

}  // namespace sorvane
