// The accessibility port over AT-SPI 2 and the X server, for the context collector.
//
// Frontmost application: the active window (_NET_ACTIVE_WINDOW, else the X input focus),
// its _NET_WM_PID matched to an AT-SPI application; its identifier is the window's
// desktop-file id (_GTK_APPLICATION_ID, _KDE_NET_WM_DESKTOP_FILE) or window class, lower
// case. AT-SPI roles become AX role names and character offsets UTF-16 ranges
// (atspi_mapping.h); rectangles come in X root coordinates (the port's accessibility
// space), brought from X's device pixels into Qt's logical ones on a scaled desktop, so
// they meet the screens and our windows in one unit; screens (followed through Qt on the
// main thread) and the mouse are given in desktop space, flipped about the primary
// screen's bottom. Browser pages are read from the tree: the document's "DocURL"
// (Firefox) or "URI" (Chromium) and the editable state of the focused node.
//
// Made on the main thread; every other call on the context queue given here (libatspi is
// single-threaded; its D-Bus traffic is dispatched inside its own calls, on that queue;
// see `QtOffGlibDefaultContext`). Each
// request is bounded by the timeout last set, and none is made once it has run out. Without
// a session bus or accessibility bus every call answers absent (logged once).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "context/accessibility.h"
#include "core/dispatch.h"

namespace sorvane::platform {

std::unique_ptr<Accessibility> makeAtspiAccessibility(SerialQueue& contextQueue);

// Call before the QApplication is made, in every process that reads the tree. libatspi
// attaches the direct connection it opens to each application to GLib's default main
// context, whatever context it was told to use, and Qt on GLib iterates that context on
// the main thread: the main thread then dispatched those connections (and updated
// libatspi's object cache) while the context queue was calling through them, a crash
// inside libdbus under heavy tree traffic. With this, Qt runs its own event dispatcher,
// nothing iterates the default context, and libatspi dispatches its connections within
// its own calls on the context queue. Qt picks the main thread's dispatcher when the
// QApplication is made; once it is, `restore` puts the environment back, so programs the
// app starts run as they would anyway.
class QtOffGlibDefaultContext {
 public:
  QtOffGlibDefaultContext();
  ~QtOffGlibDefaultContext() { restore(); }
  QtOffGlibDefaultContext(const QtOffGlibDefaultContext&) = delete;
  QtOffGlibDefaultContext& operator=(const QtOffGlibDefaultContext&) = delete;
  void restore();

 private:
  bool restored_ = false;
  bool hadValue_ = false;
  std::string value_;
};

// AT-SPI requests made by every adapter of the process so far (for the benchmark).
std::size_t atspiRequestCount();

}  // namespace sorvane::platform
