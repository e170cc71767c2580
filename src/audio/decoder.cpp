#include "decoder.h"

#include <mutex>

#include <SDL.h>
#include <mpg123.h>

namespace vornel::audio {

namespace {

void InitDecoderLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
}

}  // namespace

Decoder::Decoder(int outputRate, int outputChannels)
    : outputRate_(outputRate), outputChannels_(outputChannels), decoded_(16384) {
  InitDecoderLibrary();
  int error = MPG123_OK;
  handle_ = mpg123_new(nullptr, &error);
  if (handle_ == nullptr) return;
  mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  // 16-bit output at whatever rate and channel count the stream has; conversion is ours.
  mpg123_format_none(handle_);
  const long* rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  for (std::size_t i = 0; i < count; ++i) mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(handle_) != MPG123_OK) {
    mpg123_delete(handle_);
    handle_ = nullptr;
  }
}

Decoder::~Decoder() {
  if (converter_ != nullptr) SDL_FreeAudioStream(converter_);
  if (handle_ != nullptr) mpg123_delete(handle_);
}

bool Decoder::newFormat() {
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_getformat(handle_, &rate, &channels, &encoding) != MPG123_OK) return false;
  if (sourceRate_ != 0 && rate == sourceRate_ && channels == sourceChannels_) return true;
  if (converter_ != nullptr) {
    SDL_FreeAudioStream(converter_);
    converter_ = nullptr;
  }
  sourceRate_ = static_cast<int>(rate);
  sourceChannels_ = channels;
  passThrough_ = rate == outputRate_ && channels == outputChannels_;
  if (passThrough_) return true;
  converter_ = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(channels), static_cast<int>(rate), AUDIO_S16SYS,
                                  static_cast<Uint8>(outputChannels_), outputRate_);
  return converter_ != nullptr;
}

void Decoder::convert(const unsigned char* samples, std::size_t bytes, std::vector<std::int16_t>& pcm) {
  if (bytes == 0 || !hasFormat()) return;
  if (passThrough_) {
    // Already at the output's rate and channel count, as most stations are.
    const auto* begin = reinterpret_cast<const std::int16_t*>(samples);
    pcm.insert(pcm.end(), begin, begin + bytes / sizeof(std::int16_t));
    return;
  }
  if (SDL_AudioStreamPut(converter_, samples, static_cast<int>(bytes)) != 0) return;
  const int available = SDL_AudioStreamAvailable(converter_);
  if (available <= 0) return;
  const std::size_t old = pcm.size();
  pcm.resize(old + static_cast<std::size_t>(available) / sizeof(std::int16_t));
  const int got = SDL_AudioStreamGet(converter_, pcm.data() + old, available);
  pcm.resize(old + static_cast<std::size_t>(got > 0 ? got : 0) / sizeof(std::int16_t));
}

bool Decoder::feed(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& pcm) {
  if (handle_ == nullptr) return false;
  if (size > 0 && mpg123_feed(handle_, data, size) != MPG123_OK) return false;
  for (;;) {
    std::size_t done = 0;
    const int result = mpg123_read(handle_, decoded_.data(), decoded_.size(), &done);
    convert(decoded_.data(), done, pcm);
    if (result == MPG123_NEW_FORMAT) {
      if (!newFormat()) return false;
    } else if (result == MPG123_NEED_MORE) {
      return true;
    } else if (result != MPG123_OK && result != MPG123_DONE) {
      // Whatever broke, a fresh feed finds the next good frame; what was buffered is lost.
      mpg123_close(handle_);
      return mpg123_open_feed(handle_) == MPG123_OK;
    }
  }
}

}  // namespace vornel::audio
