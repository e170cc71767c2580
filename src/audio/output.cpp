#include "output.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "stream.h"

namespace vornel::audio {

namespace {

constexpr std::size_t kMixChunkFrames = 1024;
// About 186 ms at 44100 Hz: SDL's period, or the base of what a PulseAudio server holds of ours
// (see pulse_sink.cpp), so that the sound system wakes the player a few times a second rather
// than dozens.
constexpr std::uint32_t kPlayingFrames = 8192;

// A driver named in SDL_AUDIODRIVER is a choice of SDL's output (the tests use its dummy and disk
// outputs). Otherwise a sound server is talked to directly, and SDL serves machines without one.
std::unique_ptr<Sink> FindSink(int frequency) {
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  if (driver == nullptr || *driver == '\0') {
    std::unique_ptr<Sink> pulse = MakePulseSink();
    if (pulse->check(frequency)) return pulse;
  }
  std::unique_ptr<Sink> sdl = MakeSdlSink();
  if (sdl->check(frequency)) return sdl;
  return nullptr;
}

}  // namespace

bool Output::open(int frequency) {
  std::lock_guard lock(deviceMutex_);
  if (frequency_ != 0) return true;
  // The sink is tried now, so that a player without one learns it at start-up.
  sink_ = FindSink(frequency);
  if (sink_ == nullptr) return false;
  mixerScales_ = !sink_->scalesVolume();
  scratch_.assign(kMixChunkFrames * kChannels, 0);
  frequency_ = frequency;
  return true;
}

void Output::close() {
  {
    std::lock_guard lock(deviceMutex_);
    if (frequency_ == 0) return;
    closeDevice();
    sink_.reset();
    frequency_ = 0;
  }
  std::lock_guard lock(sourcesMutex_);
  sources_.clear();
}

bool Output::isOpen() const {
  std::lock_guard lock(deviceMutex_);
  return frequency_ != 0;
}

bool Output::deviceOpen() const {
  std::lock_guard lock(deviceMutex_);
  return deviceOpen_;
}

bool Output::openDevice() {
  if (!deviceOpen_) deviceOpen_ = sink_->open(frequency_, kPlayingFrames, fill, this, volume_);
  return deviceOpen_;
}

void Output::closeDevice() {
  if (!deviceOpen_) return;
  sink_->close();  // waits for the audio thread, which never takes deviceMutex_
  deviceOpen_ = false;
}

bool Output::add(const std::shared_ptr<Stream>& stream) {
  std::lock_guard device(deviceMutex_);
  if (frequency_ == 0 || !openDevice()) return false;
  std::lock_guard lock(sourcesMutex_);
  if (std::find(sources_.begin(), sources_.end(), stream) == sources_.end()) sources_.push_back(stream);
  return true;
}

void Output::remove(const Stream* stream) {
  std::lock_guard device(deviceMutex_);
  bool none = false;
  {
    std::lock_guard lock(sourcesMutex_);
    std::erase_if(sources_, [stream](const std::shared_ptr<Stream>& s) { return s.get() == stream; });
    none = sources_.empty();
  }
  if (none) closeDevice();
}

void Output::fill(void* self, std::int16_t* out, std::size_t frames) {
  auto* output = static_cast<Output*>(self);
  while (frames > 0) {
    const std::size_t run = std::min(frames, kMixChunkFrames);
    output->mix(out, run);
    out += run * kChannels;
    frames -= run;
  }
}

void Output::mix(std::int16_t* out, std::size_t frames) {
  const std::size_t samples = frames * kChannels;
  std::size_t filled = 0;
  {
    std::lock_guard lock(sourcesMutex_);
    bool first = true;
    for (const std::shared_ptr<Stream>& source : sources_) {
      if (first) {
        // The usual case, one stream: it decodes straight into the device's buffer.
        filled = source->readPcm(out, frames) * kChannels;
        first = false;
        continue;
      }
      const std::size_t got = source->readPcm(scratch_.data(), frames) * kChannels;
      for (std::size_t i = 0; i < got; ++i) {
        const std::int32_t sum = (i < filled ? out[i] : 0) + scratch_[i];
        out[i] = static_cast<std::int16_t>(std::clamp<std::int32_t>(sum, -32768, 32767));
      }
      if (got > filled) filled = got;
    }
  }
  std::fill(out + filled, out + samples, std::int16_t{0});
  const std::int32_t volume = this->volume();
  if (!mixerScales_ || volume >= 100) return;
  // Volume as a 16.16 fixed-point gain; |sample| * 65536 still fits 32 bits.
  const std::int32_t gain = volume * 65536 / 100;
  for (std::size_t i = 0; i < filled; ++i) out[i] = static_cast<std::int16_t>((out[i] * gain) >> 16);
}

}  // namespace vornel::audio
