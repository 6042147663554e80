// The adapter tests need a QApplication (clipboard, screens, windows). Under the test
// command they run inside a virtual X server; without a display they fall back to Qt's
// offscreen platform so the logic that needs no X server still runs.
#include <QApplication>

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/linux/atspi_accessibility.h"

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // As the app does, so the accessibility adapter runs here as it does there.
  sorvane::platform::QtOffGlibDefaultContext offGlib;
  QApplication application(argc, argv);
  offGlib.restore();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
