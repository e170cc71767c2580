#pragma once

// MP3 to PCM at the output's rate and channel count: libmpg123's feed interface decodes (it
// finds frame sync and skips ID3 tags by itself), SDL's audio stream converts rate and channels
// so that pitch and speed stay right whatever the station sends.

#include <cstddef>
#include <cstdint>
#include <vector>

struct mpg123_handle_struct;
struct _SDL_AudioStream;

namespace vornel::audio {

class Decoder {
 public:
  Decoder(int outputRate, int outputChannels);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  bool valid() const { return handle_ != nullptr; }

  // Decodes what `data` completes; the converted PCM is appended to `pcm` (interleaved).
  // False on a decoder failure it cannot get past.
  bool feed(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& pcm);

  // True once the decoder found the stream's format.
  bool hasFormat() const { return sourceRate_ != 0; }
  int sourceRate() const { return sourceRate_; }
  int sourceChannels() const { return sourceChannels_; }

 private:
  bool newFormat();
  void convert(const unsigned char* samples, std::size_t bytes, std::vector<std::int16_t>& pcm);

  int outputRate_;
  int outputChannels_;
  mpg123_handle_struct* handle_ = nullptr;
  _SDL_AudioStream* converter_ = nullptr;
  int sourceRate_ = 0;
  int sourceChannels_ = 0;
  bool passThrough_ = false;  // the source's format is the output's: no conversion
  std::vector<unsigned char> decoded_;  // scratch for one read from the decoder
};

}  // namespace vornel::audio
