#pragma once

// What the output played, as SDL's disk driver wrote it: interleaved 16-bit stereo at 44100 Hz,
// in real time like a sound card. Tests tell a stream by its tone's pitch and level.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vornel::test {

struct Tone {
  double hertz = 0;
  int peak = 0;
};

// The samples in `path` (empty when there is no such file).
std::vector<std::int16_t> ReadPlayedAudio(const std::string& path);

// Frequency of the left channel from its zero crossings, and its peak, over `frames` frames from
// `fromFrame`. A short dropout in the window does not change the frequency it finds.
Tone MeasureTone(const std::vector<std::int16_t>& pcm, std::size_t fromFrame, std::size_t frames);

// The first frame that is not silence (the device plays silence before a stream starts).
std::size_t FirstSound(const std::vector<std::int16_t>& pcm);

}  // namespace vornel::test
