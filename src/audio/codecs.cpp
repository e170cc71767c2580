#include "codecs.h"

#include <mutex>

#include <mpg123.h>
#include <neaacdec.h>

#include "adts.h"
#include "log.h"

namespace vornel::audio {

namespace {

class Mp3Codec final : public FrameCodec {
 public:
  Mp3Codec() : decoded_(16384) {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    int error = MPG123_OK;
    handle_ = mpg123_new(nullptr, &error);
    if (handle_ == nullptr) return;
    mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    // 16-bit output at whatever rate and channel count the stream has; conversion is ours.
    mpg123_format_none(handle_);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i) {
      mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    if (mpg123_open_feed(handle_) != MPG123_OK) {
      mpg123_delete(handle_);
      handle_ = nullptr;
    }
  }
  ~Mp3Codec() override {
    if (handle_ != nullptr) mpg123_delete(handle_);
  }

  bool valid() const override { return handle_ != nullptr; }

  bool decode(const std::uint8_t* frame, std::size_t size, PcmOut& out) override {
    if (mpg123_feed(handle_, frame, size) != MPG123_OK) return false;
    for (;;) {
      std::size_t done = 0;
      const int result = mpg123_read(handle_, decoded_.data(), decoded_.size(), &done);
      if (done > 0 && rate_ != 0 &&
          !out.pcm(reinterpret_cast<const std::int16_t*>(decoded_.data()), done / sizeof(std::int16_t), rate_,
                   channels_)) {
        return false;
      }
      if (result == MPG123_NEW_FORMAT) {
        long rate = 0;
        int encoding = 0;
        if (mpg123_getformat(handle_, &rate, &channels_, &encoding) != MPG123_OK) return false;
        rate_ = static_cast<int>(rate);
      } else if (result == MPG123_NEED_MORE) {
        return true;
      } else if (result != MPG123_OK && result != MPG123_DONE) {
        // Whatever broke, a fresh feed starts again at the next frame; what was buffered is lost.
        mpg123_close(handle_);
        return mpg123_open_feed(handle_) == MPG123_OK;
      }
    }
  }

 private:
  mpg123_handle_struct* handle_ = nullptr;
  std::vector<unsigned char> decoded_;  // one read from the decoder
  int rate_ = 0;
  int channels_ = 0;
};

class AacCodec final : public FrameCodec {
 public:
  ~AacCodec() override { close(); }

  bool valid() const override { return true; }

  bool decode(const std::uint8_t* frame, std::size_t size, PcmOut& out) override {
    AdtsHeader header;
    if (size < kAdtsHeaderBytes || !ReadAdtsHeader(frame, header)) return true;
    // Some encoders mark plain LC frames as SSR, which the decoder refuses outright; the payload
    // is LC, so the decoder is told so. Only its copy changes: the stream's bytes stay as they are.
    const std::uint8_t* input = frame;
    if (header.profile == 2) {
      patched_.assign(frame, frame + size);
      patched_[2] = static_cast<std::uint8_t>((patched_[2] & 0x3F) | (1 << 6));
      input = patched_.data();
    }
    if (decoder_ == nullptr && !open(input, size)) return true;

    NeAACDecFrameInfo info{};
    auto* samples = static_cast<std::int16_t*>(
        NeAACDecDecode(decoder_, &info, const_cast<unsigned char*>(input), static_cast<unsigned long>(size)));
    if (info.error != 0 || samples == nullptr) {
      if (info.error != 0 && ++errorsInARow_ == kErrorsBeforeReopen) {
        LogLine("aac: %d damaged frames in a row (%s); starting the decoder again", errorsInARow_,
                NeAACDecGetErrorMessage(info.error));
        close();
      }
      return true;
    }
    errorsInARow_ = 0;
    if (info.samples == 0 || info.channels == 0) return true;
    return out.pcm(samples, info.samples, static_cast<int>(info.samplerate), info.channels);
  }

 private:
  static constexpr int kErrorsBeforeReopen = 50;

  bool open(const std::uint8_t* frame, std::size_t size) {
    decoder_ = NeAACDecOpen();
    if (decoder_ == nullptr) return false;
    NeAACDecConfigurationPtr config = NeAACDecGetCurrentConfiguration(decoder_);
    config->outputFormat = FAAD_FMT_16BIT;
    config->downMatrix = 1;  // 5.1 stations come out as stereo
    config->dontUpSampleImplicitSBR = 0;
    NeAACDecSetConfiguration(decoder_, config);
    unsigned long rate = 0;
    unsigned char channels = 0;
    if (NeAACDecInit(decoder_, const_cast<unsigned char*>(frame), static_cast<unsigned long>(size), &rate,
                     &channels) < 0) {
      close();
      return false;
    }
    return true;
  }

  void close() {
    if (decoder_ != nullptr) NeAACDecClose(decoder_);
    decoder_ = nullptr;
    errorsInARow_ = 0;
  }

  NeAACDecHandle decoder_ = nullptr;
  int errorsInARow_ = 0;
  std::vector<std::uint8_t> patched_;
};

}  // namespace

std::unique_ptr<FrameCodec> MakeFrameCodec(FrameKind kind) {
  if (kind == FrameKind::Adts) return std::make_unique<AacCodec>();
  return std::make_unique<Mp3Codec>();
}

}  // namespace vornel::audio
