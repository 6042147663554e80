// The process entry: chooses the single mode from the command line and runs it.
#pragma once

namespace sorvane {

int runMain(int argc, char** argv);

}  // namespace sorvane
