#include "resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "sdl_api.h"

namespace vornel::audio {

namespace {

// Zero crossings of the sinc on each side of the filter's centre, at the lower of the two rates;
// with the window below the alias and image rejection is about 70 dB.
constexpr int kZeroCrossings = 12;
constexpr double kKaiserBeta = 7.0;
// The pass band ends a little below the lower rate's Nyquist frequency (20.3 kHz at 44.1 kHz).
constexpr double kPassBand = 0.92;
// Rate pairs with more phases than this (odd rates) go to SDL's converter.
constexpr int kMaxPhases = 1024;

// Modified Bessel function of the first kind, order 0, by its series.
double BesselI0(double x) {
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1; k < 50; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
    if (term < sum * 1e-12) break;
  }
  return sum;
}

// Left and right of one output frame: the dot product of `taps` stereo input frames with their
// coefficients, each coefficient stored twice (once per channel), both in time order. Four lanes
// at a time where the compiler offers vectors: this loop is most of the cost of a 48 kHz station.
void Dot(const float* coefficients, const float* input, std::size_t taps, float& left, float& right) {
  std::size_t j = 0;
#if defined(__GNUC__)
  typedef float Lanes __attribute__((vector_size(16)));
  Lanes sum = {0.0f, 0.0f, 0.0f, 0.0f};
  for (; j + 2 <= taps; j += 2) {
    Lanes c;
    Lanes x;
    std::memcpy(&c, coefficients + 2 * j, sizeof c);
    std::memcpy(&x, input + 2 * j, sizeof x);
    sum += c * x;
  }
  left = sum[0] + sum[2];
  right = sum[1] + sum[3];
#else
  left = right = 0.0f;
#endif
  for (; j < taps; ++j) {
    left += coefficients[2 * j] * input[2 * j];
    right += coefficients[2 * j + 1] * input[2 * j + 1];
  }
}

}  // namespace

Resampler::~Resampler() {
  if (stream_ != nullptr) Sdl()->FreeAudioStream(stream_);
}

bool Resampler::designFilter(int rate) {
  const int common = std::gcd(rate, outputRate_);
  up_ = outputRate_ / common;
  down_ = rate / common;
  if (up_ > kMaxPhases) return false;
  // Down-sampling narrows the pass band in input samples: the filter spans more of them.
  const double widest = std::max(up_, down_);
  taps_ = static_cast<std::size_t>(std::ceil(2.0 * kZeroCrossings * std::max(1.0, double(down_) / up_)));
  taps_ += taps_ % 2;  // whole pairs for the four-lane dot product
  const std::size_t length = taps_ * static_cast<std::size_t>(up_);
  const double centre = (static_cast<double>(length) - 1.0) / 2.0;
  const double cutoff = kPassBand * 0.5 / widest;  // cycles per point of the fine grid
  coefficients_.assign(2 * length, 0.0f);
  for (int phase = 0; phase < up_; ++phase) {
    for (std::size_t k = 0; k < taps_; ++k) {
      const double m = phase + static_cast<double>(k) * up_;
      const double t = m - centre;
      const double sinc = t == 0.0 ? 1.0 : std::sin(2.0 * M_PI * cutoff * t) / (2.0 * M_PI * cutoff * t);
      const double r = 2.0 * m / (static_cast<double>(length) - 1.0) - 1.0;
      const double window =
          BesselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / BesselI0(kKaiserBeta);
      // Times up_: the fine grid holds one input sample in up_ points. Tap k weighs the input k
      // frames before the newest; stored in time order, oldest first, once per channel.
      const auto value = static_cast<float>(2.0 * cutoff * sinc * window * up_);
      const std::size_t at = 2 * (static_cast<std::size_t>(phase) * taps_ + (taps_ - 1 - k));
      coefficients_[at] = value;
      coefficients_[at + 1] = value;
    }
  }
  // The window starts on zeros, so the first output needs no earlier input.
  input_.assign((taps_ - 1) * 2, 0.0f);
  index_ = taps_ - 1;
  phase_ = 0;
  return true;
}

bool Resampler::setFormat(int rate, int channels) {
  if (rate == rate_ && channels == channels_) return path_ != Path::None;
  rate_ = rate;
  channels_ = channels;
  if (stream_ != nullptr) {
    // What the old format still holds is a few samples of the old track: not worth a flush.
    Sdl()->FreeAudioStream(stream_);
    stream_ = nullptr;
  }
  path_ = Path::None;
  if (rate < 1000 || rate > 384000 || channels < 1 || channels > 8) return false;
  const bool monoOrStereo = channels <= 2 && outputChannels_ == 2;
  if (monoOrStereo && rate == outputRate_) {
    path_ = channels == 2 ? Path::PassThrough : Path::Duplicate;
  } else if (monoOrStereo && designFilter(rate)) {
    path_ = Path::Polyphase;
  } else if (const SdlApi* api = Sdl(); api != nullptr) {
    stream_ = api->NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(channels), rate, AUDIO_S16SYS,
                                  static_cast<Uint8>(outputChannels_), outputRate_);
    if (stream_ != nullptr) path_ = Path::Sdl;
  }
  return path_ != Path::None;
}

bool Resampler::convert(const std::int16_t* samples, std::size_t count, int rate, int channels,
                        std::vector<std::int16_t>& out) {
  if (!setFormat(rate, channels)) return false;
  if (count == 0) return true;
  switch (path_) {
    case Path::PassThrough:
      // Already at the output's rate and channel count, as most stations are.
      out.insert(out.end(), samples, samples + count);
      return true;
    case Path::Duplicate:
      for (std::size_t i = 0; i < count; ++i) out.insert(out.end(), 2, samples[i]);
      return true;
    case Path::Polyphase:
      polyphase(samples, count / static_cast<std::size_t>(channels_), out);
      return true;
    case Path::Sdl:
      return sdl(samples, count, out);
    case Path::None:
      break;
  }
  return false;
}

void Resampler::polyphase(const std::int16_t* samples, std::size_t frames, std::vector<std::int16_t>& out) {
  for (std::size_t i = 0; i < frames; ++i) {
    const float left = samples[i * static_cast<std::size_t>(channels_)];
    const float right = channels_ == 2 ? samples[i * 2 + 1] : left;
    input_.push_back(left);
    input_.push_back(right);
  }
  const std::size_t available = input_.size() / 2;
  out.reserve(out.size() +
              2 * (frames * static_cast<std::size_t>(up_) / static_cast<std::size_t>(down_) + 2));
  while (index_ < available) {
    float left = 0.0f;
    float right = 0.0f;
    Dot(coefficients_.data() + 2 * static_cast<std::size_t>(phase_) * taps_,
        input_.data() + 2 * (index_ + 1 - taps_), taps_, left, right);
    out.push_back(ClampToSample(left));
    out.push_back(ClampToSample(right));
    phase_ += down_;
    index_ += static_cast<std::size_t>(phase_ / up_);
    phase_ %= up_;
  }
  // Only the frames the next outputs reach back to are kept.
  const std::size_t keepFrom = std::min(index_ + 1 - taps_, available);
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(2 * keepFrom));
  index_ -= keepFrom;
}

bool Resampler::sdl(const std::int16_t* samples, std::size_t count, std::vector<std::int16_t>& out) {
  const SdlApi* api = Sdl();
  if (api->AudioStreamPut(stream_, samples, static_cast<int>(count * sizeof(std::int16_t))) != 0)
    return false;
  const int available = api->AudioStreamAvailable(stream_);
  if (available <= 0) return true;
  const std::size_t old = out.size();
  out.resize(old + static_cast<std::size_t>(available) / sizeof(std::int16_t));
  const int got = api->AudioStreamGet(stream_, out.data() + old, available);
  out.resize(old + static_cast<std::size_t>(got > 0 ? got : 0) / sizeof(std::int16_t));
  return true;
}

}  // namespace vornel::audio
