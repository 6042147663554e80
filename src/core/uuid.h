// Random (version 4) UUIDs in canonical upper-case form, e.g. turn and record ids.
#pragma once

#include <string>

namespace sorvane {

std::string makeUuid();

}  // namespace sorvane
