// The production recogniser factory: the Qwen realtime and Deepgram live clients over the
// WebSocket port, with the service addresses and models of providers.json read at each
// turn. Lives on the main queue with the engine.
#pragma once

#include "core/config_folder.h"
#include "speech/speech_engine_ports.h"

namespace sorvane {

class Dispatcher;
class WebSocketClient;

RecognizerFactory cloudRecognizerFactory(Dispatcher& dispatcher, WebSocketClient& sockets, ConfigFolder config);

}  // namespace sorvane
