#include "elementary.h"

#include "id3.h"
#include "log.h"

namespace vornel::audio {

std::optional<AudioFormat> AudioFormatOf(BodyKind kind) {
  switch (kind) {
    case BodyKind::Mpeg:
      return AudioFormat::Mpeg;
    case BodyKind::Adts:
      return AudioFormat::Adts;
    case BodyKind::Ogg:
      return AudioFormat::Ogg;
    case BodyKind::NeedMore:
    case BodyKind::TransportStream:
    case BodyKind::Playlist:
    case BodyKind::NotAudio:
      break;
  }
  return std::nullopt;
}

bool ElementaryAudio::ensurePipeline(AudioFormat format) {
  if (failed_) return false;
  if (pipeline_ != nullptr && pipeline_->format() == format) return true;
  if (pipeline_ != nullptr) pipeline_->finish();
  pipeline_ = std::make_unique<AudioPipeline>(format, outputRate_, sink_);
  if (!pipeline_->valid()) {
    LogLine("%s: no decoder", FormatName(format));
    failed_ = true;
  }
  return !failed_;
}

bool ElementaryAudio::feed(AudioFormat format, const std::uint8_t* data, std::size_t size) {
  if (!ensurePipeline(format)) return false;
  if (!pipeline_->feed(data, size)) failed_ = true;
  return !failed_;
}

void ElementaryAudio::passOn(AudioFormat format, const std::uint8_t* data, std::size_t size) {
  if (ensurePipeline(format)) pipeline_->passOn(data, size);
}

void ElementaryAudio::finish() {
  if (pipeline_ != nullptr) pipeline_->finish();
}

void ElementaryAudio::id3(const std::uint8_t* data, std::size_t size) {
  const auto info = ParseId3(data, size);
  if (!info) return;
  if (const auto text = IcyTitleText(info->artist, info->title)) sink_.title(*text);
}

void ElementaryAudio::onAudio(TsAudioCodec codec, const std::uint8_t* data, std::size_t size) {
  if (codec == TsAudioCodec::Adts) {
    feed(AudioFormat::Adts, data, size);
  } else if (codec == TsAudioCodec::Mpeg) {
    feed(AudioFormat::Mpeg, data, size);
  }
}

}  // namespace vornel::audio
