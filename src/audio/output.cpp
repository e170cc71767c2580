#include "output.h"

#include <algorithm>
#include <cstring>

#include <SDL.h>

#include "stream.h"

namespace vornel::audio {

namespace {

// SDL keeps global state (hints, driver lists) until SDL_Quit; the library may be unloaded after
// BASS_Free, so it lets go of everything once no SDL subsystem is in use any more.
void QuitAudio() {
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

constexpr std::size_t kMixChunkFrames = 1024;
// Frames the device asks for at a time while streams play: about 186 ms at 44100 Hz, so a sound
// server wakes the player a few times a second rather than dozens.
constexpr std::uint16_t kPlayingFrames = 8192;
// Closing a device waits for its thread to finish a period, so the start-up check uses a short one.
constexpr std::uint16_t kCheckFrames = 256;

}  // namespace

bool Output::open(int frequency) {
  std::lock_guard lock(deviceMutex_);
  if (frequency_ != 0) return true;
  // SDL would otherwise take SIGINT and SIGTERM for itself and turn them into events no one here
  // reads: the program could then no longer be ended by a signal (a logout, `kill`).
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    QuitAudio();
    return false;
  }
  scratch_.assign(kMixChunkFrames * kChannels, 0);
  frequency_ = frequency;
  // The device is tried now, so that a player without one learns it at start-up.
  if (!openDevice(kCheckFrames)) {
    frequency_ = 0;
    QuitAudio();
    return false;
  }
  closeDevice();
  return true;
}

void Output::close() {
  {
    std::lock_guard lock(deviceMutex_);
    if (frequency_ == 0) return;
    closeDevice();
    frequency_ = 0;
    QuitAudio();
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
  return device_ != 0;
}

bool Output::openDevice(std::uint16_t frames) {
  if (device_ != 0) return true;
  SDL_AudioSpec want{};
  want.freq = frequency_;
  want.format = AUDIO_S16SYS;
  want.channels = kChannels;
  want.samples = frames;
  want.callback = [](void* self, Uint8* stream, int length) { fill(self, stream, length); };
  want.userdata = this;
  // No allowed changes: SDL converts to whatever the hardware takes, so the mixer always works
  // at the rate the player asked for.
  SDL_AudioSpec have{};
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) return false;
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

void Output::closeDevice() {
  if (device_ == 0) return;
  SDL_CloseAudioDevice(device_);  // waits for the audio thread, which never takes deviceMutex_
  device_ = 0;
}

bool Output::add(const std::shared_ptr<Stream>& stream) {
  std::lock_guard device(deviceMutex_);
  if (frequency_ == 0 || !openDevice(kPlayingFrames)) return false;
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

void Output::fill(void* self, std::uint8_t* stream, int length) {
  auto* output = static_cast<Output*>(self);
  auto* out = reinterpret_cast<std::int16_t*>(stream);
  std::size_t frames = static_cast<std::size_t>(length) / (sizeof(std::int16_t) * kChannels);
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
  if (volume >= 100) return;
  // Volume as a 16.16 fixed-point gain; |sample| * 65536 still fits 32 bits.
  const std::int32_t gain = volume * 65536 / 100;
  for (std::size_t i = 0; i < filled; ++i) out[i] = static_cast<std::int16_t>((out[i] * gain) >> 16);
}

}  // namespace vornel::audio
