// Adapters from the turn controller's and edit observer's ports (turn_ports.h) to the
// real components: the capture engine, the context collector, the refiner with the
// default profile, the text inserter, the data store and the feedback analyzer. Each
// holds a reference to its component, which outlives it (the desktop app owns both).
// Main queue, except the context calls that the ports place on the context queue.
#pragma once

#include <memory>

#include "turn/turn_ports.h"

namespace sorvane {

class ContextCollector;
class MirlaFeedbackAnalyzer;
class SpeechEngine;

std::unique_ptr<TurnSpeech> makeTurnSpeech(SpeechEngine& engine);
std::shared_ptr<TurnContextSource> makeTurnContextSource(std::shared_ptr<ContextCollector> collector);
std::unique_ptr<TurnRefiner> makeTurnRefiner(TranscriptRefiner& refiner);
std::unique_ptr<TurnInserter> makeTurnInserter(TextInserter& inserter);
std::unique_ptr<TurnStore> makeTurnStore(MirlaDataStore& store);
std::unique_ptr<TurnFeedbackAnalyzer> makeTurnFeedbackAnalyzer(MirlaFeedbackAnalyzer& analyzer);

}  // namespace sorvane
