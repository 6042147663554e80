#include "checks/self_checks_edit.h"

#include "learning/edit_observation.h"

namespace sorvane {

int runEditObserverCheck(std::ostream& out) {
  if (selfTestEditObservationCandidate()) {
    out << "edit observer ok\n";
    return 0;
  }
  out << "edit observer failed\n";
  return 1;
}

}  // namespace sorvane
