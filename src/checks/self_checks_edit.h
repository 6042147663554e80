// The edit-observation self-check (--self-test-edit-observer): the candidate selection on
// its two fixed samples. Prints one line; returns the exit status.
#pragma once

#include <ostream>

namespace sorvane {

int runEditObserverCheck(std::ostream& out);

}  // namespace sorvane
