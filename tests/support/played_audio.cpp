#include "support/played_audio.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vornel::test {

std::vector<std::int16_t> ReadPlayedAudio(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::int16_t> pcm(bytes.size() / 2);
  std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
  return pcm;
}

Tone MeasureTone(const std::vector<std::int16_t>& pcm, std::size_t fromFrame, std::size_t frames) {
  Tone tone;
  int crossings = 0;
  for (std::size_t i = fromFrame + 1; i < fromFrame + frames && 2 * i < pcm.size(); ++i) {
    const int a = pcm[2 * (i - 1)];
    const int b = pcm[2 * i];
    if ((a < 0) != (b < 0)) ++crossings;
    tone.peak = std::max(tone.peak, std::abs(b));
  }
  tone.hertz = crossings / 2.0 / (static_cast<double>(frames) / 44100.0);
  return tone;
}

std::size_t FirstSound(const std::vector<std::int16_t>& pcm) {
  std::size_t first = 0;
  while (first < pcm.size() / 2 && pcm[2 * first] == 0) ++first;
  return first;
}

}  // namespace vornel::test
