// The front of the "--bench" tool: builds the live refiner, runs the benchmark runner on
// the main event loop and returns its exit status once the runner has finished and the
// loop has been left (network threads are stopped before the process ends).
#pragma once

#include <string>
#include <vector>

namespace sorvane {

struct Paths;

int runBenchMode(const std::vector<std::string>& arguments, const Paths& paths);

}  // namespace sorvane
