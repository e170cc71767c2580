#include "pipeline.h"

#include "id3.h"
#include "log.h"

namespace vornel::audio {

namespace {

constexpr int kOutputChannels = 2;

}  // namespace

const char* FormatName(AudioFormat format) {
  switch (format) {
    case AudioFormat::Mpeg:
      return "MPEG audio";
    case AudioFormat::Adts:
      return "AAC (ADTS)";
    case AudioFormat::Ogg:
      return "Ogg";
  }
  return "?";
}

AudioPipeline::AudioPipeline(AudioFormat format, int outputRate, Sink& sink)
    : format_(format),
      kind_(format == AudioFormat::Adts ? FrameKind::Adts : FrameKind::Mpeg),
      sink_(sink),
      resampler_(outputRate, kOutputChannels) {
  if (format == AudioFormat::Ogg) {
    ogg_ = std::make_unique<OggDecoder>(static_cast<OggDecoder::Events&>(*this), static_cast<PcmOut&>(*this));
  } else {
    splitter_ = std::make_unique<FrameSplitter>(kind_);
    codec_ = MakeFrameCodec(kind_);
  }
}

AudioPipeline::~AudioPipeline() = default;

bool AudioPipeline::valid() const { return ogg_ != nullptr || (codec_ != nullptr && codec_->valid()); }

bool AudioPipeline::feed(const std::uint8_t* data, std::size_t size) {
  if (stopped_ || unconvertible_) return false;
  if (ogg_ != nullptr) return ogg_->feed(data, size) && !stopped_ && !unconvertible_;

  block_.clear();
  bool ok = true;
  splitter_->feed(
      data, size,
      [&](const std::uint8_t* frame, std::size_t length) {
        block_.insert(block_.end(), frame, frame + length);
        // A stream that changes its format (another rate or channel layout after an HLS
        // discontinuity, a station that restarts its encoder) gets a decoder set up for it.
        if (signature_ != 0 && splitter_->signature() != signature_) codec_ = MakeFrameCodec(kind_);
        signature_ = splitter_->signature();
        ok = ok && codec_->decode(frame, length, *this);
      },
      [&](const std::uint8_t* other, std::size_t length) {
        block_.insert(block_.end(), other, other + length);
      });
  if (!block_.empty()) sink_.block(block_.data(), block_.size());
  return ok && !stopped_ && !unconvertible_;
}

void AudioPipeline::passOn(const std::uint8_t* data, std::size_t size) {
  if (size > 0) sink_.block(data, size);
}

void AudioPipeline::finish() {
  if (ogg_ != nullptr) ogg_->finish();
  if (splitter_ == nullptr) return;
  splitter_->finish([&](const std::uint8_t* rest, std::size_t length) { sink_.block(rest, length); });
}

bool AudioPipeline::pcm(const std::int16_t* samples, std::size_t count, int rate, int channels) {
  converted_.clear();
  if (!resampler_.convert(samples, count, rate, channels, converted_)) {
    if (!unconvertible_)
      LogLine("%s: cannot play %d Hz with %d channels", FormatName(format_), rate, channels);
    unconvertible_ = true;
    return false;
  }
  if (converted_.empty()) return true;
  if (!sink_.pcm(converted_.data(), converted_.size() / kOutputChannels)) stopped_ = true;
  return !stopped_;
}

void AudioPipeline::page(const std::uint8_t* header, std::size_t headerSize, const std::uint8_t* body,
                         std::size_t bodySize) {
  // One block per page, handed on at once: a recorder that starts a new file on the title of a
  // new track must already have seen that track's header pages.
  block_.assign(header, header + headerSize);
  block_.insert(block_.end(), body, body + bodySize);
  sink_.block(block_.data(), block_.size());
}

void AudioPipeline::tags(const TrackTags& tags) {
  if (const auto text = IcyTitleText(tags.artist, tags.title)) sink_.title(*text);
}

}  // namespace vornel::audio
