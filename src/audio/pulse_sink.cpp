#include <pulse/pulseaudio.h>

#include <cstdint>

#include "log.h"
#include "sink.h"

namespace vornel::audio {

namespace {

constexpr std::size_t kFrameBytes = 2 * sizeof(std::int16_t);
// How long a server may take to answer a connection or a new stream: a local one answers in
// milliseconds, so only a hung or unreachable one (PULSE_SERVER on another machine) reaches it.
constexpr pa_usec_t kAnswerTimeout = 3 * PA_USEC_PER_SEC;
// Between tries to reach a server that went away while playing.
constexpr pa_usec_t kRetryDelay = PA_USEC_PER_SEC;

// One connection to the server, with its own event thread, for as long as streams play; the
// start-up check makes one and lets it go at once. Should the server go away while playing (a
// crash, a restart of the desktop's sound service), the event thread connects anew every second
// and playback resumes once a server answers. No flag asks the server to fit its device's
// latency to ours: that made the server itself wake for every period of a short one.
class PulseSink final : public Sink {
 public:
  ~PulseSink() override { close(); }

  bool check(int /*rate*/) override {
    // A server that answers plays any rate (it converts to its device's), so a connection tells
    // all a check needs to know.
    const bool ok = connect();
    if (!ok) LogLine("no PulseAudio server answers");
    close();
    return ok;
  }

  // The server scales our stream: it applies a change to what it already holds, so the long
  // buffer below delays no volume change, and desktop mixers show the player's level.
  bool scalesVolume() const override { return true; }

  bool open(int rate, std::uint32_t frames, Fill fill, void* context,
            const std::atomic<int>& volume) override {
    if (loop_ != nullptr) return true;
    fill_ = fill;
    fillContext_ = context;
    volume_ = &volume;
    bool ok = connect();
    if (ok) {
      pa_threaded_mainloop_lock(loop_);
      // In one step with the start, so that no loss of the server between the two goes unseen.
      ok = playing_ = startStream(rate, frames);
      pa_threaded_mainloop_unlock(loop_);
    }
    if (!ok) {
      LogLine("PulseAudio would not open a playback stream");
      close();
    }
    return ok;
  }

  void close() override {
    if (loop_ == nullptr) return;
    pa_threaded_mainloop_lock(loop_);
    playing_ = false;
    if (retry_ != nullptr) {
      pa_threaded_mainloop_get_api(loop_)->time_free(retry_);
      retry_ = nullptr;
    }
    releaseConnection();
    pa_threaded_mainloop_unlock(loop_);
    // Joins the event thread, after which no callback of ours runs.
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
  }

 private:
  bool connect() {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return false;
    pa_threaded_mainloop_lock(loop_);
    bool ready = newContext() && pa_threaded_mainloop_start(loop_) >= 0;
    if (ready) {
      ready = waitFor([this] {
                const pa_context_state_t state = pa_context_get_state(context_);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
              }) &&
              pa_context_get_state(context_) == PA_CONTEXT_READY;
    }
    pa_threaded_mainloop_unlock(loop_);
    return ready;
  }

  // With the loop locked: a context that starts connecting. False when it cannot even start.
  bool newContext() {
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Vornel");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "vornel");
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Vornel", properties);
    pa_proplist_free(properties);
    if (context_ == nullptr) return false;
    pa_context_set_state_callback(context_, ContextState, this);
    // A player must not start a sound server of its own where none runs.
    return pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
  }

  // With the loop locked.
  void releaseConnection() {
    if (stream_ != nullptr) {
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      // Drops what the server still holds of ours, so a stop is heard at once.
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (context_ != nullptr) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
      context_ = nullptr;
    }
  }

  // Event thread. While open() waits, a change only wakes it; once playing, a lost connection
  // is made anew, and a new one gets its stream.
  static void ContextState(pa_context* context, void* self) {
    auto* sink = static_cast<PulseSink*>(self);
    pa_threaded_mainloop_signal(sink->loop_, 0);
    if (!sink->playing_) return;
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state)) {
      sink->retryLater();
    } else if (state == PA_CONTEXT_READY && sink->stream_ == nullptr) {
      if (!sink->newStream()) sink->retryLater();
    }
  }

  static void StreamState(pa_stream* stream, void* self) {
    auto* sink = static_cast<PulseSink*>(self);
    pa_threaded_mainloop_signal(sink->loop_, 0);
    if (!sink->playing_) return;
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY && sink->lost_) {
      sink->lost_ = false;
      LogLine("PulseAudio plays again");
    } else if (!PA_STREAM_IS_GOOD(state)) {
      sink->retryLater();
    }
  }

  // Event thread: the connection is let go of and made anew in a second (the callbacks that see
  // it fail must not free it). A server that keeps failing is tried once a second.
  void retryLater() {
    if (retry_ != nullptr) return;
    if (!lost_) LogLine("the PulseAudio server went away; connecting again every second");
    lost_ = true;
    timeval at{};
    pa_gettimeofday(&at);
    pa_timeval_add(&at, kRetryDelay);
    retry_ = pa_threaded_mainloop_get_api(loop_)->time_new(
        pa_threaded_mainloop_get_api(loop_), &at,
        [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self) {
          auto* sink = static_cast<PulseSink*>(self);
          api->time_free(event);
          sink->retry_ = nullptr;
          sink->releaseConnection();
          if (!sink->newContext()) sink->retryLater();
        },
        this);
  }

  // With the loop locked.
  bool startStream(int rate, std::uint32_t frames) {
    rate_ = rate;
    frames_ = frames;
    if (!newStream()) return false;
    return waitFor([this] {
             const pa_stream_state_t state = pa_stream_get_state(stream_);
             return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
           }) &&
           pa_stream_get_state(stream_) == PA_STREAM_READY;
  }

  // With the loop locked: a playback stream that starts connecting.
  bool newStream() {
    const pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(rate_), 2};
    stream_ = pa_stream_new(context_, "Vornel", &format, nullptr);
    if (stream_ == nullptr) return false;
    pa_stream_set_state_callback(stream_, StreamState, this);
    pa_stream_set_write_callback(stream_, Write, this);
    // The server holds twice `frames` of ours and asks for a quarter of that at a time. It keeps
    // its device's latency at half of what is left after two requests, here a request's worth:
    // neither it nor the player then wakes more than about ten times a second. (With the request
    // half the buffer, the server ran its device at its shortest latency and spent twenty times
    // the processor time.) A stop drops what is held, and the volume is applied by the server.
    const auto held = static_cast<std::uint32_t>(frames_ * kFrameBytes);
    pa_buffer_attr attributes{};
    attributes.maxlength = UINT32_MAX;
    attributes.tlength = 2 * held;
    attributes.prebuf = UINT32_MAX;
    attributes.minreq = held / 2;
    attributes.fragsize = UINT32_MAX;
    appliedVolume_ = volume_->load(std::memory_order_relaxed);
    const pa_cvolume level = Level(appliedVolume_);
    return pa_stream_connect_playback(stream_, nullptr, &attributes, PA_STREAM_NOFLAGS, &level, nullptr) >= 0;
  }

  // With the loop locked and running: waits until `done` or the answer timeout. True when done.
  template <typename Done>
  bool waitFor(Done done) {
    timedOut_ = false;
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + kAnswerTimeout,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
          auto* sink = static_cast<PulseSink*>(self);
          sink->timedOut_ = true;
          pa_threaded_mainloop_signal(sink->loop_, 0);
        },
        this);
    while (!done() && !timedOut_) pa_threaded_mainloop_wait(loop_);
    if (timer != nullptr) pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    return done();
  }

  // Both channels at `percent` of full amplitude, as the mixer of SDL's output scales it.
  static pa_cvolume Level(int percent) {
    pa_cvolume level;
    pa_cvolume_set(&level, 2, pa_sw_volume_from_linear(percent / 100.0));
    return level;
  }

  // On the event thread, with the loop locked.
  void followVolume() {
    const int wanted = volume_->load(std::memory_order_relaxed);
    if (wanted == appliedVolume_) return;
    appliedVolume_ = wanted;
    const pa_cvolume level = Level(wanted);
    pa_operation* operation =
        pa_context_set_sink_input_volume(context_, pa_stream_get_index(stream_), &level, nullptr, nullptr);
    if (operation != nullptr) pa_operation_unref(operation);
  }

  // On the event thread: the server has room for `bytes` more. A volume change is passed on
  // here, so it reaches the server within a request's time without a lock shared with callers.
  static void Write(pa_stream* stream, std::size_t bytes, void* self) {
    auto* sink = static_cast<PulseSink*>(self);
    sink->followVolume();
    while (bytes >= kFrameBytes) {
      void* data = nullptr;
      std::size_t size = bytes;
      if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) return;
      size -= size % kFrameBytes;
      if (size == 0) {
        pa_stream_cancel_write(stream);
        return;
      }
      sink->fill_(sink->fillContext_, static_cast<std::int16_t*>(data), size / kFrameBytes);
      if (pa_stream_write(stream, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
      bytes -= size < bytes ? size : bytes;
    }
  }

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool timedOut_ = false;  // under the loop's lock
  // Under the loop's lock: set once open() succeeded, so that losing the server means retrying.
  bool playing_ = false;
  bool lost_ = false;               // the connection went away and is not back yet
  pa_time_event* retry_ = nullptr;  // the next try, while one is due
  int rate_ = 0;
  std::uint32_t frames_ = 0;
  Fill fill_ = nullptr;
  void* fillContext_ = nullptr;
  const std::atomic<int>* volume_ = nullptr;
  int appliedVolume_ = -1;  // event thread
};

}  // namespace

std::unique_ptr<Sink> MakePulseSink() { return std::make_unique<PulseSink>(); }

}  // namespace vornel::audio
