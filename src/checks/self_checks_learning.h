// Self-checks of the learning layer: --self-test-learning-terms (the local candidate
// extractor and the dictionary term filter) and --self-test-feedback-analyzer (the
// reading of a model's analysis). Pure logic over built-in samples, no files or network;
// run on the main thread before any window exists.
#pragma once

#include <ostream>

namespace sorvane {

// "learning terms ok" or "learning terms failed"; 0 or 1.
int runLearningTermsCheck(std::ostream& out);
// "feedback analyzer parser ok" or "feedback analyzer parser failed"; 0 or 1.
int runFeedbackAnalyzerCheck(std::ostream& out);

}  // namespace sorvane
