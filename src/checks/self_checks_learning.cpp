#include "checks/self_checks_learning.h"

#include "learning/mirla_feedback_analysis.h"
#include "learning/term_learning.h"

namespace sorvane {

int runLearningTermsCheck(std::ostream& out) {
  const bool ok = selfTestLearnableTerms();
  out << (ok ? "learning terms ok" : "learning terms failed") << "\n";
  return ok ? 0 : 1;
}

int runFeedbackAnalyzerCheck(std::ostream& out) {
  const bool ok = selfTestParser();
  out << (ok ? "feedback analyzer parser ok" : "feedback analyzer parser failed") << "\n";
  return ok ? 0 : 1;
}

}  // namespace sorvane
