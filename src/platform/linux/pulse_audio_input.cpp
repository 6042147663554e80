#include "platform/linux/pulse_audio_input.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstring>
#include <utility>

#include "audio/audio_input_reblocker.h"
#include "core/clock.h"

namespace sorvane::platform {
namespace {

constexpr pa_usec_t kConnectTimeoutUsec = 3'000'000;
constexpr const char* kApplicationName = "Sorvane";
constexpr const char* kStreamName = "Sorvane dictation";

AudioInputError makeError(AudioInputErrorKind kind, std::string what, int paError) {
  std::string description = std::move(what);
  if (paError != 0) description += std::string(": ") + pa_strerror(paError);
  return {kind, std::move(description)};
}

// A main loop with a connected context. Everything below runs with the loop locked.
struct Connection {
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  bool timedOut = false;

  ~Connection() { close(); }

  static void onContextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<Connection*>(self)->loop, 0);
  }
  static void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* connection = static_cast<Connection*>(self);
    connection->timedOut = true;
    pa_threaded_mainloop_signal(connection->loop, 0);
  }

  // Returns with the loop locked on success and on failure (when a loop exists).
  std::optional<AudioInputError> open(const std::string& server) {
    loop = pa_threaded_mainloop_new();
    if (!loop) return makeError(AudioInputErrorKind::failed, "pulseaudio main loop unavailable", 0);
    pa_threaded_mainloop_lock(loop);
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, kApplicationName);
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "sorvane");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "phone");
    context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), kApplicationName, props);
    pa_proplist_free(props);
    if (!context) return makeError(AudioInputErrorKind::failed, "pulseaudio context unavailable", 0);
    pa_context_set_state_callback(context, &Connection::onContextState, this);
    if (pa_threaded_mainloop_start(loop) < 0) {
      return makeError(AudioInputErrorKind::failed, "pulseaudio main loop did not start", 0);
    }
    if (pa_context_connect(context, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                           nullptr) < 0) {
      return makeError(AudioInputErrorKind::noServer, "no pulseaudio server", pa_context_errno(context));
    }
    pa_time_event* timer = pa_context_rttime_new(context, pa_rtclock_now() + kConnectTimeoutUsec,
                                                 &Connection::onTimeout, this);
    for (;;) {
      const pa_context_state_t state = pa_context_get_state(context);
      if (state == PA_CONTEXT_READY) break;
      if (!PA_CONTEXT_IS_GOOD(state) || timedOut) {
        const int error = timedOut ? PA_ERR_TIMEOUT : pa_context_errno(context);
        if (timer) pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return makeError(AudioInputErrorKind::noServer, "no pulseaudio server", error);
      }
      pa_threaded_mainloop_wait(loop);
    }
    if (timer) pa_threaded_mainloop_get_api(loop)->time_free(timer);
    return std::nullopt;
  }

  // Waits (loop locked) until `op` is done; false when the connection failed meanwhile.
  bool wait(pa_operation* op) {
    if (!op) return false;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
      if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) break;
      pa_threaded_mainloop_wait(loop);
    }
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return done;
  }

  // Unlocks and joins the loop's thread; safe on a partly opened connection.
  void close() {
    if (!loop) return;
    if (context) {
      pa_context_set_state_callback(context, nullptr, nullptr);
      pa_context_disconnect(context);
      pa_context_unref(context);
      context = nullptr;
    }
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
  }
};

struct SourceLookup {
  Connection* connection = nullptr;
  std::string defaultName;
  std::vector<AudioSourceInfo> sources;
  bool found = false;
  pa_sample_spec spec{};
  std::string name;

  static void onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* lookup = static_cast<SourceLookup*>(self);
    if (info && info->default_source_name) lookup->defaultName = info->default_source_name;
    pa_threaded_mainloop_signal(lookup->connection->loop, 0);
  }
  static void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self) {
    auto* lookup = static_cast<SourceLookup*>(self);
    if (eol == 0 && info) {
      if (!lookup->found) {
        lookup->found = true;
        lookup->spec = info->sample_spec;
        lookup->name = info->name ? info->name : "";
      }
    }
    if (eol != 0) pa_threaded_mainloop_signal(lookup->connection->loop, 0);
  }
  static void onSourceList(pa_context*, const pa_source_info* info, int eol, void* self) {
    auto* lookup = static_cast<SourceLookup*>(self);
    // Monitors of outputs are not microphones.
    if (eol == 0 && info && info->monitor_of_sink == PA_INVALID_INDEX) {
      AudioSourceInfo source;
      source.name = info->name ? info->name : "";
      source.description = info->description ? info->description : "";
      lookup->sources.push_back(std::move(source));
    }
    if (eol != 0) pa_threaded_mainloop_signal(lookup->connection->loop, 0);
  }

  bool readDefault() {
    return connection->wait(pa_context_get_server_info(connection->context, &SourceLookup::onServerInfo, this));
  }
  // Finds the named source, or the server's default one when `requested` is empty.
  std::optional<AudioInputError> find(const std::string& requested) {
    std::string target = requested;
    if (target.empty()) {
      if (!readDefault()) return makeError(AudioInputErrorKind::noServer, "pulseaudio server info unavailable", 0);
      target = defaultName;
      if (target.empty()) return makeError(AudioInputErrorKind::noSource, "no default audio source", 0);
    }
    if (!connection->wait(pa_context_get_source_info_by_name(connection->context, target.c_str(),
                                                             &SourceLookup::onSourceInfo, this)) ||
        !found) {
      return makeError(AudioInputErrorKind::noSource, "no audio source " + target, 0);
    }
    return std::nullopt;
  }
};

}  // namespace

struct PulseAudioInput::Session {
  const Clock* clock = nullptr;
  Connection connection;
  pa_stream* stream = nullptr;
  BufferHandler onBuffer;
  ErrorHandler onError;
  std::unique_ptr<AudioInputReblocker> reblocker;
  AudioInputFormat format;
  std::size_t frameBytes = 0;
  bool streaming = false;  // start has returned successfully
  bool reported = false;   // an error went out (once)
  std::atomic<bool> running{false};

  void reportOnce(AudioInputError error) {
    if (reported || !streaming) return;
    reported = true;
    running = false;
    if (stream) pa_stream_set_read_callback(stream, nullptr, nullptr);
    if (onError) onError(error);
  }

  static void onStreamState(pa_stream* s, void* self) {
    auto* session = static_cast<Session*>(self);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
      session->reportOnce(makeError(AudioInputErrorKind::sourceVanished, "audio source vanished",
                                    pa_context_errno(session->connection.context)));
    }
    pa_threaded_mainloop_signal(session->connection.loop, 0);
  }
  static void onContextState(pa_context* c, void* self) {
    auto* session = static_cast<Session*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) {
      session->reportOnce(makeError(AudioInputErrorKind::sourceVanished, "pulseaudio server went away",
                                    pa_context_errno(c)));
    }
    pa_threaded_mainloop_signal(session->connection.loop, 0);
  }
  static void onRead(pa_stream* s, size_t, void* self) {
    auto* session = static_cast<Session*>(self);
    for (;;) {
      const void* data = nullptr;
      size_t bytes = 0;
      if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) break;
      // A hole (no data for this stretch) is skipped, never read.
      if (data && session->running && session->reblocker) session->deliver(static_cast<const float*>(data), bytes);
      pa_stream_drop(s);
    }
  }

  void deliver(const float* samples, size_t bytes) {
    if (!reblocker->isAnchored()) {
      pa_usec_t latency = 0;
      int negative = 0;
      double latencyMs = 0;
      if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
        latencyMs = static_cast<double>(latency) / 1000.0 * (negative ? -1.0 : 1.0);
      } else {
        // No timing yet: at least the chunk itself is behind us.
        latencyMs = static_cast<double>(bytes / frameBytes) * 1000.0 / format.sampleRate;
      }
      reblocker->anchor(static_cast<double>(clock->wallMilliseconds()) - latencyMs);
    }
    reblocker->push(samples, bytes / frameBytes, onBuffer);
  }

  ~Session() {
    if (!connection.loop) return;
    // The loop is locked here (open leaves it locked); detach and join its thread.
    if (stream) {
      pa_stream_set_read_callback(stream, nullptr, nullptr);
      pa_stream_set_state_callback(stream, nullptr, nullptr);
      pa_stream_disconnect(stream);
      pa_stream_unref(stream);
      stream = nullptr;
    }
    if (connection.context) pa_context_set_state_callback(connection.context, nullptr, nullptr);
    connection.close();
  }
};

PulseAudioInput::PulseAudioInput(const Clock& clock, std::string server) : clock_(clock), server_(std::move(server)) {}

PulseAudioInput::~PulseAudioInput() { stop(); }

std::optional<AudioInputError> PulseAudioInput::start(const std::string& sourceName, BufferHandler onBuffer,
                                                      ErrorHandler onError) {
  stop();
  auto session = std::make_unique<Session>();
  session->clock = &clock_;
  session->onBuffer = std::move(onBuffer);
  session->onError = std::move(onError);
  if (auto error = session->connection.open(server_)) return error;

  SourceLookup lookup;
  lookup.connection = &session->connection;
  if (auto error = lookup.find(sourceName)) return error;

  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_FLOAT32NE;
  spec.rate = lookup.spec.rate;
  spec.channels = lookup.spec.channels;
  if (!pa_sample_spec_valid(&spec)) {
    return makeError(AudioInputErrorKind::noSource, "audio source " + lookup.name + " has no usable format", 0);
  }
  session->format = {static_cast<double>(spec.rate), spec.channels};
  session->frameBytes = pa_frame_size(&spec);
  session->reblocker = std::make_unique<AudioInputReblocker>(spec.rate, spec.channels);

  Connection& connection = session->connection;
  session->stream = pa_stream_new(connection.context, kStreamName, &spec, nullptr);
  if (!session->stream) {
    return makeError(AudioInputErrorKind::failed, "pulseaudio stream unavailable", pa_context_errno(connection.context));
  }
  pa_stream_set_state_callback(session->stream, &Session::onStreamState, session.get());
  pa_stream_set_read_callback(session->stream, &Session::onRead, session.get());

  pa_buffer_attr attr{};
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(kCaptureBufferFrames * session->frameBytes);
  attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
  auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                              PA_STREAM_AUTO_TIMING_UPDATE);
  // A source the user named must not be silently replaced by another when it goes.
  if (!sourceName.empty()) flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
  session->running = true;
  if (pa_stream_connect_record(session->stream, lookup.name.c_str(), &attr, flags) < 0) {
    return makeError(AudioInputErrorKind::noSource, "audio source " + lookup.name + " cannot be opened",
                     pa_context_errno(connection.context));
  }
  for (;;) {
    const pa_stream_state_t state = pa_stream_get_state(session->stream);
    if (state == PA_STREAM_READY) break;
    if (!PA_STREAM_IS_GOOD(state)) {
      const int error = pa_context_errno(connection.context);
      const auto kind = error == PA_ERR_NOENTITY ? AudioInputErrorKind::noSource : AudioInputErrorKind::failed;
      return makeError(kind, "audio source " + lookup.name + " cannot be opened", error);
    }
    pa_threaded_mainloop_wait(connection.loop);
  }
  pa_context_set_state_callback(connection.context, &Session::onContextState, session.get());
  session->streaming = true;
  pa_threaded_mainloop_unlock(connection.loop);
  session_ = std::move(session);
  return std::nullopt;
}

void PulseAudioInput::stop() {
  if (!session_) return;
  pa_threaded_mainloop_lock(session_->connection.loop);
  session_->running = false;
  session_.reset();  // joins the loop's thread: no callback runs after this
}

bool PulseAudioInput::isRunning() const { return session_ && session_->running; }

AudioInputFormat PulseAudioInput::format() const { return session_ ? session_->format : AudioInputFormat{}; }

std::optional<AudioInputError> PulseAudioInput::probe(const std::string& sourceName) {
  Connection connection;
  if (auto error = connection.open(server_)) return error;
  SourceLookup lookup;
  lookup.connection = &connection;
  return lookup.find(sourceName);
}

std::optional<AudioInputError> PulseAudioInput::listSources(std::vector<AudioSourceInfo>& out) {
  Connection connection;
  if (auto error = connection.open(server_)) return error;
  SourceLookup lookup;
  lookup.connection = &connection;
  lookup.readDefault();
  if (!connection.wait(pa_context_get_source_info_list(connection.context, &SourceLookup::onSourceList, &lookup))) {
    return makeError(AudioInputErrorKind::noServer, "pulseaudio source list unavailable",
                     pa_context_errno(connection.context));
  }
  for (AudioSourceInfo& source : lookup.sources) source.isDefault = source.name == lookup.defaultName;
  out = std::move(lookup.sources);
  return std::nullopt;
}

}  // namespace sorvane::platform
