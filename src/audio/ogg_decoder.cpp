#include "ogg_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opus/opus_multistream.h>
#include <vorbis/codec.h>

#include "log.h"
#include "resampler.h"

namespace vornel::audio {

namespace {

// A packet larger than this (a comment header full of pictures, or a hostile stream) is dropped
// rather than collected.
constexpr long kMaxPacketBytes = 4 * 1024 * 1024;
constexpr int kOpusRate = 48000;
constexpr int kMaxOpusFrame = 5760;  // 120 ms at 48 kHz, the longest Opus packet

std::int16_t ToSample(float value) {
  // A damaged Vorbis packet can decode to NaN, which no conversion to an integer takes.
  return std::isnan(value) ? 0 : ClampToSample(value * 32767.0f);
}

}  // namespace

OggCodec IdentifyOggCodec(const std::uint8_t* packet, std::size_t size) {
  if (size >= 7 && std::memcmp(packet, "\x01vorbis", 7) == 0) return OggCodec::Vorbis;
  if (size >= 19 && std::memcmp(packet, "OpusHead", 8) == 0) return OggCodec::Opus;
  return OggCodec::None;
}

// One logical stream's decoder: its headers, then its audio packets.
class OggDecoder::Track {
 public:
  enum class Result { Ok, Undecodable, Stop };
  virtual ~Track() = default;
  virtual Result packet(ogg_packet& packet, PcmOut& out, Events& events) = 0;
};

namespace {

class VorbisTrack final : public OggDecoder::Track {
 public:
  VorbisTrack() {
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
  }
  ~VorbisTrack() override {
    if (synthesis_) {
      vorbis_block_clear(&block_);
      vorbis_dsp_clear(&dsp_);
    }
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
  }

  Result packet(ogg_packet& packet, PcmOut& out, OggDecoder::Events& events) override {
    if (headers_ < 3) {
      if (vorbis_synthesis_headerin(&info_, &comment_, &packet) != 0) return Result::Undecodable;
      if (headers_ == 1) {
        if (const auto tags = ParseCommentPacket(packet.packet, static_cast<std::size_t>(packet.bytes))) {
          events.tags(*tags);
        }
      }
      if (++headers_ == 3) {
        if (vorbis_synthesis_init(&dsp_, &info_) != 0) return Result::Undecodable;
        vorbis_block_init(&dsp_, &block_);
        synthesis_ = true;
      }
      return Result::Ok;
    }
    if (vorbis_synthesis(&block_, &packet) == 0) vorbis_synthesis_blockin(&dsp_, &block_);
    float** pcm = nullptr;
    int frames = 0;
    while ((frames = vorbis_synthesis_pcmout(&dsp_, &pcm)) > 0) {
      const int channels = info_.channels;
      interleaved_.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels));
      for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < frames; ++i)
          interleaved_[static_cast<std::size_t>(i * channels + c)] = ToSample(pcm[c][i]);
      }
      vorbis_synthesis_read(&dsp_, frames);
      if (!out.pcm(interleaved_.data(), interleaved_.size(), static_cast<int>(info_.rate), channels)) {
        return Result::Stop;
      }
    }
    return Result::Ok;
  }

 private:
  vorbis_info info_{};
  vorbis_comment comment_{};
  vorbis_dsp_state dsp_{};
  vorbis_block block_{};
  bool synthesis_ = false;
  int headers_ = 0;
  std::vector<std::int16_t> interleaved_;
};

class OpusTrack final : public OggDecoder::Track {
 public:
  ~OpusTrack() override {
    if (decoder_ != nullptr) opus_multistream_decoder_destroy(decoder_);
  }

  Result packet(ogg_packet& packet, PcmOut& out, OggDecoder::Events& events) override {
    const auto* data = packet.packet;
    const auto size = static_cast<std::size_t>(packet.bytes);
    if (headers_ == 0) {
      ++headers_;
      return open(data, size) ? Result::Ok : Result::Undecodable;
    }
    if (headers_ == 1) {
      ++headers_;
      if (const auto tags = ParseCommentPacket(data, size)) events.tags(*tags);
      return Result::Ok;
    }
    // The float decode and our plain conversion: the 16-bit decode adds a soft clipper that costs
    // a twentieth of the decoding and that a tone at -6 dBFS never needs.
    const int frames = opus_multistream_decode_float(decoder_, data, static_cast<opus_int32>(size),
                                                     floats_.data(), kMaxOpusFrame, 0);
    if (frames <= 0) return Result::Ok;  // a damaged packet: skipped
    const std::size_t decoded = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels_);
    for (std::size_t i = 0; i < decoded; ++i) pcm_[i] = ToSample(floats_[i]);
    const std::size_t skip = std::min<std::size_t>(preSkip_, static_cast<std::size_t>(frames));
    preSkip_ -= skip;
    const std::size_t count = (static_cast<std::size_t>(frames) - skip) * static_cast<std::size_t>(channels_);
    if (count == 0) return Result::Ok;
    return out.pcm(pcm_.data() + skip * static_cast<std::size_t>(channels_), count, kOpusRate, channels_)
               ? Result::Ok
               : Result::Stop;
  }

 private:
  // The identification header: version, channels, pre-skip, gain and the channel mapping.
  bool open(const std::uint8_t* data, std::size_t size) {
    if (size < 19 || (data[8] & 0xF0) != 0) return false;  // a major version we do not know
    channels_ = data[9];
    preSkip_ = static_cast<std::size_t>(data[10] | data[11] << 8);
    const auto gain = static_cast<std::int16_t>(data[16] | data[17] << 8);
    const int family = data[18];
    int streams = 1;
    int coupled = channels_ == 2 ? 1 : 0;
    unsigned char mapping[255] = {0, 1};
    if (family == 0) {
      if (channels_ < 1 || channels_ > 2) return false;
    } else {
      if (channels_ < 1 || size < 21 + static_cast<std::size_t>(channels_)) return false;
      streams = data[19];
      coupled = data[20];
      if (streams < 1 || coupled > streams || streams + coupled > 255) return false;
      std::memcpy(mapping, data + 21, static_cast<std::size_t>(channels_));
    }
    int error = OPUS_OK;
    decoder_ = opus_multistream_decoder_create(kOpusRate, channels_, streams, coupled, mapping, &error);
    if (decoder_ == nullptr || error != OPUS_OK) return false;
    opus_multistream_decoder_ctl(decoder_, OPUS_SET_GAIN(gain));
    pcm_.resize(static_cast<std::size_t>(kMaxOpusFrame) * static_cast<std::size_t>(channels_));
    floats_.resize(pcm_.size());
    return true;
  }

  OpusMSDecoder* decoder_ = nullptr;
  int headers_ = 0;
  int channels_ = 0;
  std::size_t preSkip_ = 0;
  std::vector<float> floats_;
  std::vector<std::int16_t> pcm_;
};

}  // namespace

OggDecoder::OggDecoder(Events& events, PcmOut& out) : events_(events), out_(out) { ogg_sync_init(&sync_); }

OggDecoder::~OggDecoder() {
  track_.reset();
  if (streamOpen_) ogg_stream_clear(&stream_);
  ogg_sync_clear(&sync_);
}

bool OggDecoder::feed(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    // The sync buffer grows to what it is given at once; taking bounded bites keeps it small.
    const std::size_t bite = std::min<std::size_t>(size, 65536);
    char* buffer = ogg_sync_buffer(&sync_, static_cast<long>(bite));
    if (buffer == nullptr) return false;
    std::memcpy(buffer, data, bite);
    ogg_sync_wrote(&sync_, static_cast<long>(bite));
    data += bite;
    size -= bite;
    ogg_page page;
    for (;;) {
      const long before = sync_.returned;
      const int result = ogg_sync_pageout(&sync_, &page);
      // Bytes passed over on the way to the next page: still the stream's own. Only the first
      // stretch passed over is reported as -1; later ones are passed over silently, before a page
      // (result 1) or before running out of bytes (result 0).
      const long skipped = sync_.returned - before - (result > 0 ? page.header_len + page.body_len : 0);
      if (skipped > 0) events_.other(sync_.data + before, static_cast<std::size_t>(skipped));
      if (result == 0) break;
      if (result < 0) continue;
      if (!this->page(page)) return false;
    }
  }
  return true;
}

void OggDecoder::finish() {
  if (sync_.fill > sync_.returned) {
    events_.other(sync_.data + sync_.returned, static_cast<std::size_t>(sync_.fill - sync_.returned));
  }
  ogg_sync_reset(&sync_);
}

void OggDecoder::startTrack(ogg_page& page, OggCodec codec) {
  track_.reset();
  if (streamOpen_) ogg_stream_clear(&stream_);
  ogg_stream_init(&stream_, ogg_page_serialno(&page));
  streamOpen_ = true;
  codec_ = codec;
  if (codec == OggCodec::Vorbis) {
    track_ = std::make_unique<VorbisTrack>();
  } else {
    track_ = std::make_unique<OpusTrack>();
  }
}

bool OggDecoder::page(ogg_page& page) {
  events_.page(page.header, static_cast<std::size_t>(page.header_len), page.body,
               static_cast<std::size_t>(page.body_len));
  if (ogg_page_bos(&page) != 0) {
    // The first packet of a logical stream sits alone on its first page.
    ogg_stream_state probe;
    ogg_stream_init(&probe, ogg_page_serialno(&page));
    ogg_packet packet;
    OggCodec codec = OggCodec::None;
    if (ogg_stream_pagein(&probe, &page) == 0 && ogg_stream_packetpeek(&probe, &packet) == 1) {
      codec = IdentifyOggCodec(packet.packet, static_cast<std::size_t>(packet.bytes));
    }
    ogg_stream_clear(&probe);
    if (codec != OggCodec::None) startTrack(page, codec);
  }
  if (!streamOpen_ || ogg_page_serialno(&page) != stream_.serialno) return true;
  if (ogg_stream_pagein(&stream_, &page) != 0) return true;
  if (stream_.body_fill > kMaxPacketBytes) {
    LogLine("ogg: a packet over %ld bytes, dropped", kMaxPacketBytes);
    ogg_stream_reset(&stream_);
    return true;
  }
  ogg_packet packet;
  int result = 0;
  // -1 is a hole in the data (a lost page): the packets after it still decode.
  while ((result = ogg_stream_packetout(&stream_, &packet)) != 0) {
    if (result != 1 || track_ == nullptr) continue;
    const Track::Result done = track_->packet(packet, out_, events_);
    if (done == Track::Result::Stop) return false;
    if (done == Track::Result::Undecodable) {
      // Passed over until the next track of the chain begins.
      LogLine("ogg: logical stream %ld cannot be decoded; waiting for the next", stream_.serialno);
      track_.reset();
    }
  }
  return true;
}

}  // namespace vornel::audio
