#include "support/played_audio.h"

#include <algorithm>
#include <cmath>
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
  // Zero crossings placed between samples by linear interpolation; the half periods between
  // them tell the pitch. Those far from the median (a dropout on a loaded machine, the phase
  // jump where a looped tone starts again) are left out, so only the stream's pitch counts.
  std::vector<double> crossings;
  for (std::size_t i = fromFrame + 1; i < fromFrame + frames && 2 * i < pcm.size(); ++i) {
    const double a = pcm[2 * (i - 1)];
    const double b = pcm[2 * i];
    if ((a < 0) != (b < 0)) crossings.push_back(static_cast<double>(i - 1) + a / (a - b));
    tone.peak = std::max(tone.peak, std::abs(pcm[2 * i]));
  }
  if (crossings.size() < 3) return tone;
  std::vector<double> halves;
  for (std::size_t i = 1; i < crossings.size(); ++i) halves.push_back(crossings[i] - crossings[i - 1]);
  std::vector<double> sorted = halves;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
  const double median = sorted[sorted.size() / 2];
  double sum = 0;
  int count = 0;
  for (double half : halves) {
    if (std::abs(half - median) > 0.2 * median) continue;
    sum += half;
    ++count;
  }
  tone.hertz = 44100.0 / (2.0 * sum / count);
  return tone;
}

std::size_t FirstSound(const std::vector<std::int16_t>& pcm) {
  std::size_t first = 0;
  while (first < pcm.size() / 2 && pcm[2 * first] == 0) ++first;
  return first;
}

}  // namespace vornel::test
