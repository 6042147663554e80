// Whether a desktop session is reachable, checked before Qt is started (Qt aborts the
// process when its platform plugin cannot connect).
#pragma once

namespace sorvane::platform {

// True when the X server named by $DISPLAY accepts a connection, or when the Qt
// platform is forced by $QT_QPA_PLATFORM (offscreen, wayland...), which Qt then handles.
bool desktopSessionAvailable();

}  // namespace sorvane::platform
