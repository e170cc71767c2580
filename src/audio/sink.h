#pragma once

// Where the mixed audio goes: the sound system's playback, 16-bit stereo at one rate. A sink is
// checked once, when the library starts, and then opened while streams play and closed when the
// last one stops, so that an idle player holds no device and no audio thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vornel::audio {

class Sink {
 public:
  // Called on the sink's own thread for `frames` frames, which it must fill entirely.
  using Fill = void (*)(void* context, std::int16_t* out, std::size_t frames);

  virtual ~Sink() = default;
  // The sound system plays at `rate` Hz here; false when it cannot.
  virtual bool check(int rate) = 0;
  // Starts playback that holds about `frames` frames. False when it cannot start. A sink that
  // scales by `volume` (per cent) itself is given unscaled audio; it may be read at any time.
  virtual bool open(int rate, std::uint32_t frames, Fill fill, void* context,
                    const std::atomic<int>& volume) = 0;
  // Whether the sink applies the volume itself (see open).
  virtual bool scalesVolume() const = 0;
  // Stops playback; once it returns, `fill` is not running and will not be called again.
  virtual void close() = 0;
};

// A PulseAudio server (or PipeWire's), talked to directly.
std::unique_ptr<Sink> MakePulseSink();
// SDL's audio output, whichever driver SDL picks (ALSA, or the one SDL_AUDIODRIVER names).
std::unique_ptr<Sink> MakeSdlSink();

}  // namespace vornel::audio
