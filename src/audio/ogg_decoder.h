#pragma once

// Ogg Vorbis and Ogg Opus, as Icecast sends them: pages framed by libogg, Vorbis decoded by
// libvorbis, Opus by libopus (always at 48 kHz). A chained stream begins a new logical stream
// for every track, each with its own headers and comments; the decoder follows the chain and
// reports each track's ARTIST and TITLE. Other logical streams (a video track, a skeleton) are
// passed over.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <ogg/ogg.h>

#include "codecs.h"
#include "vorbis_comments.h"

namespace vornel::audio {

enum class OggCodec { None, Vorbis, Opus };

// The codec whose identification header `packet` is.
OggCodec IdentifyOggCodec(const std::uint8_t* packet, std::size_t size);

class OggDecoder {
 public:
  class Events {
   public:
    virtual ~Events() = default;
    // Every whole page, in order, as its bytes came.
    virtual void page(const std::uint8_t* header, std::size_t headerSize, const std::uint8_t* body,
                      std::size_t bodySize) = 0;
    // Bytes between pages (junk the page search passed over, a cut page at the end), in their place.
    virtual void other(const std::uint8_t* data, std::size_t size) = 0;
    // A track's comments, once its comment header is read.
    virtual void tags(const TrackTags& tags) = 0;
  };

  // One logical stream's decoder (Vorbis or Opus); defined beside the decoder.
  class Track;

  OggDecoder(Events& events, PcmOut& out);
  ~OggDecoder();
  OggDecoder(const OggDecoder&) = delete;
  OggDecoder& operator=(const OggDecoder&) = delete;

  // False when decoding cannot go on (the receiver of the audio wants no more).
  bool feed(const std::uint8_t* data, std::size_t size);
  // The end of the stream: bytes of a page never completed go to Events::other.
  void finish();

  OggCodec codec() const { return codec_; }

 private:
  bool page(ogg_page& page);
  void startTrack(ogg_page& page, OggCodec codec);

  Events& events_;
  PcmOut& out_;
  ogg_sync_state sync_{};
  ogg_stream_state stream_{};
  bool streamOpen_ = false;
  OggCodec codec_ = OggCodec::None;
  std::unique_ptr<Track> track_;
};

}  // namespace vornel::audio
