// The production dispatcher over Qt: the main queue runs on the Qt event loop of the
// thread that created it (a QCoreApplication must exist), every other labelled queue on
// its own thread with a Qt event loop, so network objects can live on it. Destroying the
// dispatcher joins those threads completely, thread-exit handlers included.
//
// Built once by the entry point (or a test that needs real threads) and handed down as a
// `Dispatcher`; nothing else in the system names Qt's event loop.
#pragma once

#include <memory>

#include "core/dispatch.h"

namespace sorvane {

std::unique_ptr<Dispatcher> makeQtDispatcher(const Clock& clock);

}  // namespace sorvane
