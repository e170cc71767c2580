#include "resampler.h"

#include <SDL.h>

namespace vornel::audio {

Resampler::~Resampler() {
  if (stream_ != nullptr) SDL_FreeAudioStream(stream_);
}

bool Resampler::setFormat(int rate, int channels) {
  if (rate == rate_ && channels == channels_) return passThrough_ || stream_ != nullptr;
  if (stream_ != nullptr) {
    // What the old format still holds is a few samples of the old track: not worth a flush.
    SDL_FreeAudioStream(stream_);
    stream_ = nullptr;
  }
  rate_ = rate;
  channels_ = channels;
  passThrough_ = rate == outputRate_ && channels == outputChannels_;
  if (passThrough_) return true;
  if (rate < 1000 || rate > 384000 || channels < 1 || channels > 8) return false;
  stream_ = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(channels), rate, AUDIO_S16SYS,
                               static_cast<Uint8>(outputChannels_), outputRate_);
  return stream_ != nullptr;
}

bool Resampler::convert(const std::int16_t* samples, std::size_t count, int rate, int channels,
                        std::vector<std::int16_t>& out) {
  if (!setFormat(rate, channels)) return false;
  if (count == 0) return true;
  if (passThrough_) {
    // Already at the output's rate and channel count, as most stations are.
    out.insert(out.end(), samples, samples + count);
    return true;
  }
  if (SDL_AudioStreamPut(stream_, samples, static_cast<int>(count * sizeof(std::int16_t))) != 0) return false;
  const int available = SDL_AudioStreamAvailable(stream_);
  if (available <= 0) return true;
  const std::size_t old = out.size();
  out.resize(old + static_cast<std::size_t>(available) / sizeof(std::int16_t));
  const int got = SDL_AudioStreamGet(stream_, out.data() + old, available);
  out.resize(old + static_cast<std::size_t>(got > 0 ? got : 0) / sizeof(std::int16_t));
  return true;
}

}  // namespace vornel::audio
