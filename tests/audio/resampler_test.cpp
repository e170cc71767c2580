#include "resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace vornel::audio {
namespace {

std::vector<std::int16_t> Sine(double hertz, int rate, int channels, double seconds) {
  std::vector<std::int16_t> samples;
  const auto frames = static_cast<std::size_t>(rate * seconds);
  for (std::size_t i = 0; i < frames; ++i) {
    const auto value =
        static_cast<std::int16_t>(std::lround(16000.0 * std::sin(2.0 * M_PI * hertz * i / rate)));
    samples.insert(samples.end(), static_cast<std::size_t>(channels), value);
  }
  return samples;
}

// Frequency (from interpolated zero crossings of the left channel) and peak of the middle part.
void Measure(const std::vector<std::int16_t>& stereo, double& hertz, int& peak) {
  const std::size_t frames = stereo.size() / 2;
  double first = -1;
  double last = 0;
  int halves = -1;
  peak = 0;
  for (std::size_t i = frames / 4 + 1; i < frames * 3 / 4; ++i) {
    const double a = stereo[2 * (i - 1)];
    const double b = stereo[2 * i];
    peak = std::max(peak, static_cast<int>(std::abs(b)));
    if ((a < 0) == (b < 0)) continue;
    last = static_cast<double>(i - 1) + a / (a - b);
    if (first < 0) first = last;
    ++halves;
  }
  hertz = halves / 2.0 / ((last - first) / 44100.0);
}

struct RateCase {
  int rate;
  int channels;
};

class ResamplerTest : public ::testing::TestWithParam<RateCase> {};

// Every rate a station may send comes out at 44.1 kHz stereo with its pitch, level and length.
TEST_P(ResamplerTest, KeepsPitchLevelAndLength) {
  const RateCase c = GetParam();
  const double hertz = 1000.0;
  const std::vector<std::int16_t> in = Sine(hertz, c.rate, c.channels, 1.0);
  Resampler resampler(44100, 2);
  std::vector<std::int16_t> out;
  ASSERT_TRUE(resampler.convert(in.data(), in.size(), c.rate, c.channels, out));
  // A converter may hold back a few milliseconds; a wrong ratio is off by far more.
  EXPECT_NEAR(static_cast<double>(out.size() / 2), 44100.0, 44100.0 * 0.015);
  double measured = 0;
  int peak = 0;
  Measure(out, measured, peak);
  EXPECT_NEAR(measured, hertz, 0.5) << c.rate;
  EXPECT_NEAR(peak, 16000, 16000 * 0.02) << c.rate;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2)
    ASSERT_EQ(out[i], out[i + 1]) << "channels differ at " << i;
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerTest,
                         ::testing::Values(RateCase{48000, 2}, RateCase{48000, 1}, RateCase{44100, 1},
                                           RateCase{44100, 2}, RateCase{22050, 1}, RateCase{24000, 2},
                                           RateCase{32000, 2}, RateCase{16000, 1}, RateCase{8000, 1},
                                           RateCase{96000, 2}, RateCase{11025, 2}, RateCase{44056, 2},
                                           RateCase{48000, 6}));

// The network splits the audio anywhere: the output does not depend on the pieces.
TEST(Resampler, SameOutputWhateverThePieces) {
  const std::vector<std::int16_t> in = Sine(440.0, 48000, 2, 0.5);
  Resampler whole(44100, 2);
  std::vector<std::int16_t> once;
  ASSERT_TRUE(whole.convert(in.data(), in.size(), 48000, 2, once));
  Resampler pieces(44100, 2);
  std::vector<std::int16_t> split;
  std::size_t at = 0;
  for (std::size_t frames = 1; at < in.size(); frames = frames * 7 % 1000 + 1) {
    const std::size_t n = std::min(frames * 2, in.size() - at);
    ASSERT_TRUE(pieces.convert(in.data() + at, n, 48000, 2, split));
    at += n;
  }
  EXPECT_EQ(split, once);
}

// A tone above the output's Nyquist frequency must not fold back into the band (30 kHz would
// sound at 14.1 kHz).
TEST(Resampler, RejectsWhatTheOutputCannotHold) {
  const std::vector<std::int16_t> in = Sine(30000.0, 96000, 2, 0.5);
  Resampler resampler(44100, 2);
  std::vector<std::int16_t> out;
  ASSERT_TRUE(resampler.convert(in.data(), in.size(), 96000, 2, out));
  int peak = 0;
  for (std::size_t i = out.size() / 4; i < out.size() * 3 / 4; ++i)
    peak = std::max(peak, std::abs(int{out[i]}));
  EXPECT_LT(peak, 16000 / 300) << "an alias at about 21 kHz";
}

}  // namespace
}  // namespace vornel::audio
