#pragma once

// Elementary audio that arrives in pieces of a known kind (the audio of MPEG-TS packets, the
// frames behind an HLS segment's ID3 tag) fed into one pipeline that lasts across the pieces, so
// that the decoder keeps its state from one segment to the next. Titles from ID3 tags, in a
// segment's head or in a transport stream's timed metadata, go to the sink as ICY metadata text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "format_probe.h"
#include "pipeline.h"
#include "ts_demuxer.h"

namespace vornel::audio {

// The pipeline format of a body that proved to be elementary audio; nothing for the other kinds.
std::optional<AudioFormat> AudioFormatOf(BodyKind kind);

class ElementaryAudio final : public TsDemuxer::Sink {
 public:
  ElementaryAudio(AudioPipeline::Sink& sink, int outputRate) : sink_(sink), outputRate_(outputRate) {}

  // Audio bytes of `format`; a change of format starts a new pipeline. False once the stream
  // cannot go on.
  bool feed(AudioFormat format, const std::uint8_t* data, std::size_t size);

  // A whole ID3v2 tag; its title, if it names one, becomes the current title.
  void id3(const std::uint8_t* data, std::size_t size);

  // Stream bytes that are not audio, handed on undecoded (see AudioPipeline::passOn).
  void passOn(AudioFormat format, const std::uint8_t* data, std::size_t size);
  // The end of the stream.
  void finish();

  bool failed() const { return failed_; }

  void onAudio(TsAudioCodec codec, const std::uint8_t* data, std::size_t size) override;
  void onTimedMetadata(const std::uint8_t* data, std::size_t size) override { id3(data, size); }

 private:
  bool ensurePipeline(AudioFormat format);

  AudioPipeline::Sink& sink_;
  const int outputRate_;
  std::unique_ptr<AudioPipeline> pipeline_;
  bool failed_ = false;
};

}  // namespace vornel::audio
