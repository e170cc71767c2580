#pragma once

// 16-bit PCM of whatever rate and channel count a decoder gives, converted to the output's rate
// and channel count by SDL's audio stream, so that pitch and speed stay right whatever the station
// sends. A change of format mid-stream (a new track of a chained Ogg stream, HE-AAC found after
// the first frames) starts a new conversion.

#include <cstddef>
#include <cstdint>
#include <vector>

struct _SDL_AudioStream;

namespace vornel::audio {

class Resampler {
 public:
  Resampler(int outputRate, int outputChannels) : outputRate_(outputRate), outputChannels_(outputChannels) {}
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Appends the converted form of `samples` (interleaved, `channels` per frame) to `out`. False
  // when the format cannot be converted.
  bool convert(const std::int16_t* samples, std::size_t count, int rate, int channels,
               std::vector<std::int16_t>& out);

 private:
  bool setFormat(int rate, int channels);

  const int outputRate_;
  const int outputChannels_;
  _SDL_AudioStream* stream_ = nullptr;
  int rate_ = 0;
  int channels_ = 0;
  bool passThrough_ = false;  // the source's format is the output's: no conversion
};

}  // namespace vornel::audio
