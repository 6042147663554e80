// Helpers of the X11 adapter tests: tools run while the main event loop keeps serving
// (our clipboard must answer while xclip reads it), fixture windows and clipboard owners
// from x11_fixture.py, and focusing a window by its title.
#pragma once

#include <QProcess>
#include <QStringList>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "support/qt/main_loop_wait.h"

namespace sorvane::testing {

// The X11 tests own the clipboard, move the focus and press keys, so they run only in the
// private X server of x11_desktop_tests.sh (the ctest entry x11_desktop_adapters); the
// copies ctest discovers skip.
inline bool haveX11() {
  return std::getenv("SORVANE_PRIVATE_X_SERVER") != nullptr && std::getenv("DISPLAY") != nullptr &&
         std::getenv("QT_QPA_PLATFORM") == nullptr;
}
inline constexpr const char* kNeedsPrivateX = "runs in x11_desktop_adapters (a private X server)";

// Runs a program to its end (at most 10 s) with the event loop running; its stdout.
inline std::string runTool(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
  QProcess process;
  process.start(program, arguments);
  if (!input.isEmpty()) process.write(input);
  process.closeWriteChannel();
  waitUntil([&] { return process.state() == QProcess::NotRunning; });
  return process.readAllStandardOutput().toStdString();
}

inline std::string clipboardAs(const QString& target) {
  return runTool("xclip", {"-selection", "clipboard", "-o", "-t", target});
}

// Waits for the window to be viewable first: focusing a window that is mapped but not yet
// viewable fails, and the keys would then go elsewhere.
inline void focusWindow(const QString& title) {
  runTool("xdotool", {"search", "--sync", "--onlyvisible", "--name", title, "windowfocus", "--sync"});
}

// A running x11_fixture.py (or another fixture program); its output lines collect in
// `output`; it ends with the test.
class Fixture {
 public:
  explicit Fixture(const QStringList& arguments)
      : Fixture("/usr/bin/python3", QStringList{QString::fromLocal8Bit(std::getenv("SORVANE_X11_FIXTURE"))} + arguments) {}
  Fixture(const QString& program, const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&process_, &QProcess::readyReadStandardOutput,
                     [this] { output += process_.readAllStandardOutput().toStdString(); });
    process_.start(program, arguments);
  }
  ~Fixture() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(2000)) process_.kill();
    process_.waitForFinished(1000);
  }
  bool waitFor(const std::string& fragment, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return waitUntil([&] { return output.find(fragment) != std::string::npos; }, limit);
  }
  std::size_t count(const std::string& fragment) const {
    std::size_t n = 0;
    for (auto at = output.find(fragment); at != std::string::npos; at = output.find(fragment, at + 1)) ++n;
    return n;
  }
  void send(const std::string& line) { process_.write(QByteArray::fromStdString(line + "\n")); }
  void stop() {
    process_.closeWriteChannel();
    waitUntil([&] { return process_.state() == QProcess::NotRunning; });
  }
  std::string output;

 private:
  QProcess process_;
};

}  // namespace sorvane::testing
