#include "platform/linux/display.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace sorvane::platform {

bool desktopSessionAvailable() {
  const char* forced = std::getenv("QT_QPA_PLATFORM");
  if (forced && *forced) return true;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  bool ok = connection && xcb_connection_has_error(connection) == 0;
  if (connection) xcb_disconnect(connection);
  return ok;
}

}  // namespace sorvane::platform
