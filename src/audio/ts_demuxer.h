#pragma once

// Pulls the audio and the timed metadata out of an MPEG transport stream, the container of most
// HLS segments. A push parser with no I/O: bytes go in however the network splits them, elementary
// audio and whole ID3 tags come out through a Sink. Video and every other stream are skipped
// without being buffered, so a video rendition costs no more memory than an audio-only one.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornel::audio {

enum class TsAudioCodec { None, Adts, Mpeg };  // stream_type 0x0F (ADTS AAC); 0x03/0x04 (MPEG-1/2 audio)

class TsDemuxer {
 public:
  static constexpr std::size_t kPacketSize = 188;
  // Bytes searched for a packet boundary before the input is given up as not a transport stream.
  static constexpr std::size_t kMaxSyncSearch = 64 * 1024;
  // A timed-metadata tag larger than this is dropped rather than held.
  static constexpr std::size_t kMaxMetadataPes = 256 * 1024;
  // Audio is handed on at latest when this much is held, even mid-PES (an unbounded PES can run
  // for a whole segment).
  static constexpr std::size_t kMaxAudioHeld = 64 * 1024;

  struct Sink {
    virtual ~Sink() = default;
    // Elementary audio bytes of the first supported audio stream in the PMT, in order, never PES
    // headers. Normally one call per complete PES payload, so a decoder sees whole frames; a
    // payload longer than kMaxAudioHeld comes in several calls. A PES cut by a continuity gap is
    // dropped as a whole, as far as it has not been handed on already.
    virtual void onAudio(TsAudioCodec codec, const std::uint8_t* data, std::size_t size) = 0;
    // One complete PES payload of a timed-metadata stream (stream_type 0x15, "ID3 " metadata),
    // i.e. an ID3v2 tag. Incomplete or oversized payloads are never reported.
    virtual void onTimedMetadata(const std::uint8_t* data, std::size_t size) = 0;
  };

  // The sink must outlive the demuxer and must not call back into it.
  explicit TsDemuxer(Sink& sink);

  // False once the input cannot be a transport stream: kMaxSyncSearch bytes passed without a
  // packet boundary that sync bytes 188 bytes apart confirm. Stays false until reset().
  bool feed(const std::uint8_t* data, std::size_t size);

  // End of a segment: reports a pending unbounded PES (the last one has no following unit start)
  // and the packets held while a sync point waited for confirmation. The next segment is
  // reassembled on its own; sync and what the tables said carry over.
  void flush();

  // Forgets stream state across a discontinuity: buffered bytes, sync, continuity counters,
  // partial PES and sections, and a failure. What the PAT and PMT said is kept, since the next
  // segment repeats them and a newer version replaces them.
  void reset();

  TsAudioCodec audioCodec() const { return audio_.pid == kNoPid ? TsAudioCodec::None : audioCodec_; }
  // For a caller that wants to know "a transport stream, but no audio" and refuse it.
  bool sawPat() const { return sawPat_; }
  bool sawPmt() const { return sawPmt_; }

 private:
  static constexpr std::uint16_t kNoPid = 0xFFFF;
  static constexpr std::size_t kMaxMetadataStreams = 4;

  // A table (PAT or PMT) being gathered from packet payloads; a section can span packets.
  struct Section {
    std::uint16_t pid = kNoPid;
    int lastCc = -1;
    bool active = false;  // a section has started and is not complete
    std::vector<std::uint8_t> bytes;
  };

  // One elementary stream reassembled from its packets.
  struct Pes {
    enum class State { Waiting, Header, Payload };  // Waiting: for the next unit start
    std::uint16_t pid = kNoPid;
    int lastCc = -1;
    State state = State::Waiting;
    std::vector<std::uint8_t> header;   // at most 9 + 255 bytes
    std::vector<std::uint8_t> payload;  // bounded by kMaxAudioHeld / kMaxMetadataPes
    std::size_t remaining = 0;          // payload bytes still due when `bounded`
    bool bounded = false;               // PES_packet_length was not 0
  };

  enum class SyncCheck { Yes, No, NeedMore };

  std::size_t consume(const std::uint8_t* data, std::size_t size, bool atEnd);
  SyncCheck confirmSync(const std::uint8_t* data, std::size_t size, std::size_t at, bool atEnd) const;
  void handlePacket(const std::uint8_t* packet);
  void handleSectionPayload(Section& section, const std::uint8_t* data, std::size_t size, bool unitStart);
  void appendSectionBytes(Section& section, const std::uint8_t*& data, std::size_t& size);
  void handleSection(const Section& section);
  void handlePat(const std::uint8_t* section, std::size_t size);
  void handlePmt(const std::uint8_t* section, std::size_t size);
  void handlePesPayload(Pes& pes, bool isAudio, const std::uint8_t* data, std::size_t size, bool unitStart);
  void startPesPayload(Pes& pes, bool isAudio);
  void appendPesPayload(Pes& pes, bool isAudio, const std::uint8_t* data, std::size_t size);
  void finishPes(Pes& pes, bool isAudio);
  void deliverAudio();
  void forgetPartialState();
  static void dropPes(Pes& pes);

  Sink& sink_;
  std::vector<std::uint8_t> held_;  // bytes not yet parsed: under one packet, or a sync candidate
  bool synced_ = false;
  bool failed_ = false;
  std::size_t searched_ = 0;  // bytes discarded since sync was last held

  bool sawPat_ = false;
  bool sawPmt_ = false;
  int programNumber_ = -1;
  Section pat_;
  Section pmt_;
  TsAudioCodec audioCodec_ = TsAudioCodec::None;
  Pes audio_;
  std::array<Pes, kMaxMetadataStreams> metadata_;
};

// True when data begins a transport stream: 0x47 at 0, 188 and 376, as far as `size` allows, and
// at least at 0 and 188.
bool LooksLikeTransportStream(const std::uint8_t* data, std::size_t size);

}  // namespace vornel::audio
