#pragma once

// The elementary audio of one stream, whatever its format, turned into what the library needs:
// blocks of the stream's own bytes that each begin at a frame or page (for the download callback,
// so that a recording can begin at any block), decoded audio at the output's rate in stereo, and
// the titles a format carries inside (Ogg comments).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs.h"
#include "frame_splitter.h"
#include "ogg_decoder.h"
#include "resampler.h"

namespace vornel::audio {

enum class AudioFormat { Mpeg, Adts, Ogg };

const char* FormatName(AudioFormat format);

class AudioPipeline final : private PcmOut, private OggDecoder::Events {
 public:
  class Sink {
   public:
    virtual ~Sink() = default;
    // Stream bytes, beginning at a frame (MPEG audio, ADTS) or a page (Ogg).
    virtual void block(const std::uint8_t* data, std::size_t size) = 0;
    // Interleaved stereo at the output rate. False when no more is wanted.
    virtual bool pcm(const std::int16_t* samples, std::size_t frames) = 0;
    // A title in the form ICY metadata has ("StreamTitle='Artist - Title';").
    virtual void title(const std::string& text) = 0;
  };

  AudioPipeline(AudioFormat format, int outputRate, Sink& sink);
  ~AudioPipeline() override;

  bool valid() const;
  AudioFormat format() const { return format_; }

  // False when the stream cannot go on (the sink wants no more, or a decoder failed for good).
  bool feed(const std::uint8_t* data, std::size_t size);
  // Stream bytes that are not audio (a leading tag): handed on as they are, never decoded.
  void passOn(const std::uint8_t* data, std::size_t size);
  // The end of the stream: bytes still held (a cut frame) are handed on.
  void finish();

 private:
  bool pcm(const std::int16_t* samples, std::size_t count, int rate, int channels) override;
  void page(const std::uint8_t* header, std::size_t headerSize, const std::uint8_t* body,
            std::size_t bodySize) override;
  void other(const std::uint8_t* data, std::size_t size) override { passOn(data, size); }
  void tags(const TrackTags& tags) override;

  const AudioFormat format_;
  const FrameKind kind_;  // for MPEG audio and ADTS
  Sink& sink_;
  Resampler resampler_;
  std::unique_ptr<FrameSplitter> splitter_;  // MPEG audio and ADTS
  std::unique_ptr<FrameCodec> codec_;        // MPEG audio and ADTS
  std::uint32_t signature_ = 0;              // of the frames the codec was set up for
  std::unique_ptr<OggDecoder> ogg_;          // Ogg
  bool stopped_ = false;                     // the sink wanted no more
  bool unconvertible_ = false;               // a format the resampler cannot take
  std::vector<std::uint8_t> block_;          // frames of one feed
  std::vector<std::int16_t> converted_;      // scratch
};

}  // namespace vornel::audio
