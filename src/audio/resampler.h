#pragma once

// 16-bit PCM of whatever rate and channel count a decoder gives, converted to the output's rate
// in stereo, so that pitch and speed stay right whatever the station sends. Mono and stereo at
// the common rates go through our own polyphase filter (a Kaiser-windowed sinc, precomputed per
// rate pair): a fraction of the processor time of a general converter, which matters for the many
// stations at 48 kHz (Opus always is). Other channel counts and odd rate pairs go through SDL's
// converter. A change of format mid-stream (a new track of a chained Ogg stream, HE-AAC found
// after the first frames) starts a new conversion.

#include <cstddef>
#include <cstdint>
#include <vector>

struct _SDL_AudioStream;

namespace vornel::audio {

// A sample in 16-bit units, clamped and rounded half away from zero (without a call into the
// maths library: this runs for every sample of every stream that is not 16-bit already).
inline std::int16_t ClampToSample(float value) {
  const float clamped = value < -32768.0f ? -32768.0f : value > 32767.0f ? 32767.0f : value;
  return static_cast<std::int16_t>(clamped + (clamped >= 0.0f ? 0.5f : -0.5f));
}

class Resampler {
 public:
  // `outputChannels` is 2: the output is interleaved stereo.
  Resampler(int outputRate, int outputChannels) : outputRate_(outputRate), outputChannels_(outputChannels) {}
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Appends the converted form of `samples` (interleaved, `channels` per frame) to `out`. False
  // when the format cannot be converted.
  bool convert(const std::int16_t* samples, std::size_t count, int rate, int channels,
               std::vector<std::int16_t>& out);

 private:
  enum class Path { None, PassThrough, Duplicate, Polyphase, Sdl };

  bool setFormat(int rate, int channels);
  bool designFilter(int rate);
  void polyphase(const std::int16_t* samples, std::size_t frames, std::vector<std::int16_t>& out);
  bool sdl(const std::int16_t* samples, std::size_t count, std::vector<std::int16_t>& out);

  const int outputRate_;
  const int outputChannels_;
  int rate_ = 0;
  int channels_ = 0;
  Path path_ = Path::None;

  // The polyphase filter: output sample n lies at n * down_ in a grid of up_ points per input
  // sample; its `taps_` coefficients for the phase it falls on weigh the last `taps_` inputs.
  int up_ = 1;
  int down_ = 1;
  std::size_t taps_ = 0;
  std::vector<float> coefficients_;  // phase-major: up_ rows of taps_, each twice (left, right)
  std::vector<float> input_;         // stereo frames, the oldest still needed first
  std::size_t index_ = 0;            // the newest input frame under the filter
  int phase_ = 0;

  _SDL_AudioStream* stream_ = nullptr;
};

}  // namespace vornel::audio
