#include "ts_demuxer.h"

#include <algorithm>

namespace vornel::audio {

namespace {

constexpr std::uint8_t kSyncByte = 0x47;
constexpr std::uint16_t kNullPid = 0x1FFF;
// A sync point is trusted once the starts of the next two packets agree with it: a lone 0x47 is
// common in compressed audio.
constexpr std::size_t kSyncsToTrust = 3;
// PAT and PMT sections: at least the fixed header and CRC, at most 1021 bytes after the length.
constexpr std::size_t kMinSectionLength = 9;
constexpr std::size_t kMaxSectionLength = 1021;
constexpr std::size_t kCrcSize = 4;

// The table checksum (polynomial 0x04C11DB7, no reflection); over a whole section including its
// CRC field it comes out 0.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= std::uint32_t{data[i]} << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

bool SectionChecksumHolds(const std::uint8_t* section, std::size_t size) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  // A fuzzer cannot forge checksums; without this it would never reach the table parsers.
  if (size > 0) return true;
#endif
  return Crc32(section, size) == 0;
}

// PIDs 0x0000-0x000F are reserved for tables, 0x1FFF is stuffing: no elementary stream uses them.
bool IsStreamPid(std::uint16_t pid) { return pid >= 0x10 && pid < kNullPid; }

TsAudioCodec AudioCodecOf(std::uint8_t streamType) {
  switch (streamType) {
    case 0x0F:
      return TsAudioCodec::Adts;
    case 0x03:
    case 0x04:
      return TsAudioCodec::Mpeg;
    default:
      return TsAudioCodec::None;
  }
}

// Timed ID3 is normally stream_type 0x15 (metadata in PES); some packagers use a private PES
// (0x06) and say what it is only in a registration descriptor.
bool IsId3Metadata(std::uint8_t streamType, const std::uint8_t* descriptors, std::size_t size) {
  if (streamType == 0x15) return true;
  if (streamType != 0x06) return false;
  for (std::size_t pos = 0; pos + 2 <= size;) {
    const std::uint8_t tag = descriptors[pos];
    const std::size_t length = descriptors[pos + 1];
    if (pos + 2 + length > size) return false;
    const std::uint8_t* body = descriptors + pos + 2;
    if (tag == 0x05 && length >= 4 && body[0] == 'I' && body[1] == 'D' && body[2] == '3' && body[3] == ' ') {
      return true;
    }
    pos += 2 + length;
  }
  return false;
}

// Stream ids whose PES has no optional header: the payload follows the length field directly.
bool HasOptionalPesHeader(std::uint8_t streamId) {
  switch (streamId) {
    case 0xBC:  // program_stream_map
    case 0xBE:  // padding_stream
    case 0xBF:  // private_stream_2
    case 0xF0:  // ECM
    case 0xF1:  // EMM
    case 0xF2:  // DSMCC
    case 0xF8:  // H.222.1 type E
    case 0xFF:  // program_stream_directory
      return false;
    default:
      return true;
  }
}

// How many header bytes the PES needs, as far as the bytes so far tell.
std::size_t PesHeaderLength(const std::vector<std::uint8_t>& header) {
  if (header.size() < 6) return 6;
  if (!HasOptionalPesHeader(header[3])) return 6;
  if (header.size() < 9) return 9;
  return 9 + std::size_t{header[8]};
}

enum class Continuity { InOrder, Duplicate, Gap };

// The counter advances with every packet that carries payload; one repeat of a packet is allowed
// and is a copy to be dropped.
Continuity CheckContinuity(int& lastCc, int cc, bool discontinuityFlagged) {
  if (lastCc < 0 || discontinuityFlagged) {
    lastCc = cc;
    return Continuity::InOrder;
  }
  if (cc == lastCc) return Continuity::Duplicate;
  const bool inOrder = cc == ((lastCc + 1) & 0x0F);
  lastCc = cc;
  return inOrder ? Continuity::InOrder : Continuity::Gap;
}

}  // namespace

TsDemuxer::TsDemuxer(Sink& sink) : sink_(sink) { pat_.pid = 0; }

bool TsDemuxer::feed(const std::uint8_t* data, std::size_t size) {
  while (size > 0 && !failed_) {
    if (held_.empty()) {
      // Whole packets straight from the caller's buffer; only a short remainder is copied.
      const std::size_t used = consume(data, size, false);
      if (!failed_) held_.assign(data + used, data + size);
      break;
    }
    // Top up what is held a little at a time, so that it never grows past a few packets.
    const std::size_t take = std::min(size, kSyncsToTrust * kPacketSize);
    held_.insert(held_.end(), data, data + take);
    data += take;
    size -= take;
    const std::size_t used = consume(held_.data(), held_.size(), false);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(used));
  }
  return !failed_;
}

void TsDemuxer::flush() {
  if (!failed_ && !held_.empty()) consume(held_.data(), held_.size(), true);
  held_.clear();
  finishPes(audio_, true);
  for (Pes& pes : metadata_) finishPes(pes, false);
  // Packagers differ in whether counters run on into the next segment; a fresh start cannot
  // mistake a restarted counter for a repeated packet.
  forgetPartialState();
}

void TsDemuxer::reset() {
  held_.clear();
  synced_ = false;
  failed_ = false;
  searched_ = 0;
  forgetPartialState();
}

void TsDemuxer::forgetPartialState() {
  for (Section* section : {&pat_, &pmt_}) {
    section->lastCc = -1;
    section->active = false;
    section->bytes.clear();
  }
  audio_.lastCc = -1;
  dropPes(audio_);
  for (Pes& pes : metadata_) {
    pes.lastCc = -1;
    dropPes(pes);
  }
}

void TsDemuxer::dropPes(Pes& pes) {
  pes.state = Pes::State::Waiting;
  pes.header.clear();
  pes.payload.clear();
}

// Parses what it can of data; returns how many bytes it is done with. The rest (under a packet,
// or a sync point that later bytes must confirm) is for the next call.
std::size_t TsDemuxer::consume(const std::uint8_t* data, std::size_t size, bool atEnd) {
  std::size_t pos = 0;
  while (pos < size) {
    if (synced_) {
      if (size - pos < kPacketSize) break;
      if (data[pos] == kSyncByte) {
        handlePacket(data + pos);
        pos += kPacketSize;
        continue;
      }
      // Bytes were lost or inserted: whatever was being reassembled is broken.
      synced_ = false;
      forgetPartialState();
    }
    SyncCheck check = SyncCheck::No;
    if (data[pos] == kSyncByte) check = confirmSync(data, size, pos, atEnd);
    if (check == SyncCheck::NeedMore) break;
    if (check == SyncCheck::Yes) {
      synced_ = true;
      searched_ = 0;
      continue;
    }
    ++pos;
    if (++searched_ > kMaxSyncSearch) {
      failed_ = true;
      return size;
    }
  }
  return pos;
}

TsDemuxer::SyncCheck TsDemuxer::confirmSync(const std::uint8_t* data, std::size_t size, std::size_t at,
                                            bool atEnd) const {
  for (std::size_t k = 1; k < kSyncsToTrust; ++k) {
    const std::size_t next = at + k * kPacketSize;
    if (next >= size) {
      if (!atEnd) return SyncCheck::NeedMore;
      // The input ends here: what can be checked agrees, and a whole packet is there.
      return size - at >= kPacketSize ? SyncCheck::Yes : SyncCheck::No;
    }
    if (data[next] != kSyncByte) return SyncCheck::No;
  }
  return SyncCheck::Yes;
}

void TsDemuxer::handlePacket(const std::uint8_t* packet) {
  if (packet[1] & 0x80) return;  // transport_error_indicator: damaged on the way
  const bool unitStart = (packet[1] & 0x40) != 0;
  const auto pid = static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
  const int control = (packet[3] >> 4) & 0x03;
  const int cc = packet[3] & 0x0F;
  // Packets without payload (adaptation field only) carry nothing for us and leave the counter.
  if ((control & 0x01) == 0 || pid == kNullPid) return;

  std::size_t offset = 4;
  bool discontinuity = false;
  if (control & 0x02) {
    const std::size_t length = packet[4];
    if (5 + length > kPacketSize) return;
    discontinuity = length > 0 && (packet[5] & 0x80) != 0;
    offset = 5 + length;
  }
  const std::uint8_t* payload = packet + offset;
  const std::size_t payloadSize = kPacketSize - offset;

  Section* section = pid == pat_.pid ? &pat_ : pid == pmt_.pid ? &pmt_ : nullptr;
  if (section != nullptr) {
    const Continuity continuity = CheckContinuity(section->lastCc, cc, discontinuity);
    if (continuity == Continuity::Duplicate) return;
    if (continuity == Continuity::Gap) {
      section->active = false;
      section->bytes.clear();
    }
    handleSectionPayload(*section, payload, payloadSize, unitStart);
    return;
  }

  Pes* pes = nullptr;
  bool isAudio = false;
  if (pid == audio_.pid) {
    pes = &audio_;
    isAudio = true;
  } else {
    for (Pes& candidate : metadata_) {
      if (candidate.pid == pid) pes = &candidate;
    }
  }
  if (pes == nullptr) return;  // video and everything else
  const Continuity continuity = CheckContinuity(pes->lastCc, cc, discontinuity);
  if (continuity == Continuity::Duplicate) return;
  if (continuity == Continuity::Gap) dropPes(*pes);
  handlePesPayload(*pes, isAudio, payload, payloadSize, unitStart);
}

void TsDemuxer::handleSectionPayload(Section& section, const std::uint8_t* data, std::size_t size,
                                     bool unitStart) {
  if (!unitStart) {
    // Whatever follows the end of a section in such a packet is stuffing.
    if (section.active) appendSectionBytes(section, data, size);
    return;
  }
  if (size == 0) return;
  const std::size_t pointer = data[0];
  ++data;
  --size;
  if (pointer > size) {
    section.active = false;
    section.bytes.clear();
    return;
  }
  // The bytes before the pointed-to start end the section begun in earlier packets.
  const std::uint8_t* tail = data;
  std::size_t tailSize = pointer;
  if (section.active) appendSectionBytes(section, tail, tailSize);
  section.active = false;  // not complete by now: it never will be
  section.bytes.clear();
  data += pointer;
  size -= pointer;
  // Several sections may follow one another; 0xFF fills the rest of the packet.
  while (size > 0 && data[0] != 0xFF) {
    section.active = true;
    appendSectionBytes(section, data, size);
  }
}

// Takes bytes until the section is complete (then parses it) or the input runs out.
void TsDemuxer::appendSectionBytes(Section& section, const std::uint8_t*& data, std::size_t& size) {
  while (size > 0 && section.active) {
    std::size_t total = 3;
    if (section.bytes.size() >= 3) {
      const std::size_t length = (std::size_t{section.bytes[1] & 0x0Fu} << 8) | section.bytes[2];
      if (length < kMinSectionLength || length > kMaxSectionLength) {
        // Without a believable length the following bytes cannot be placed either.
        section.active = false;
        section.bytes.clear();
        data += size;
        size = 0;
        return;
      }
      total = 3 + length;
    }
    const std::size_t take = std::min(total - section.bytes.size(), size);
    section.bytes.insert(section.bytes.end(), data, data + take);
    data += take;
    size -= take;
    if (total > 3 && section.bytes.size() == total) {
      section.active = false;
      handleSection(section);
      section.bytes.clear();
    }
  }
}

void TsDemuxer::handleSection(const Section& from) {
  const std::uint8_t* section = from.bytes.data();
  const std::size_t size = from.bytes.size();
  // Only long-form sections that apply now (current_next_indicator), intact, on their own PID (a
  // PAT parsed from the PMT PID would replace the very buffer it is read from).
  if ((section[1] & 0x80) == 0 || (section[5] & 0x01) == 0) return;
  if (!SectionChecksumHolds(section, size)) return;
  if (section[0] == 0x00 && &from == &pat_) {
    handlePat(section, size);
  } else if (section[0] == 0x02 && &from == &pmt_) {
    handlePmt(section, size);
  }
}

void TsDemuxer::handlePat(const std::uint8_t* section, std::size_t size) {
  sawPat_ = true;
  const std::size_t end = size - kCrcSize;
  for (std::size_t pos = 8; pos + 4 <= end; pos += 4) {
    const int program = (section[pos] << 8) | section[pos + 1];
    const auto pid = static_cast<std::uint16_t>(((section[pos + 2] & 0x1F) << 8) | section[pos + 3]);
    if (program == 0 || !IsStreamPid(pid)) continue;  // program 0 names the network PID
    // HLS carries one program; with more, the first is played.
    if (program != programNumber_ || pid != pmt_.pid) {
      programNumber_ = program;
      pmt_ = Section{};
      pmt_.pid = pid;
    }
    return;
  }
}

void TsDemuxer::handlePmt(const std::uint8_t* section, std::size_t size) {
  const int program = (section[3] << 8) | section[4];
  if (program != programNumber_ || section[6] != 0 || section[7] != 0) return;
  const std::size_t end = size - kCrcSize;
  if (end < 12) return;
  const std::size_t programInfoLength = (std::size_t{section[10] & 0x0Fu} << 8) | section[11];
  std::size_t pos = 12 + programInfoLength;
  if (pos > end) return;

  std::uint16_t audioPid = kNoPid;
  TsAudioCodec codec = TsAudioCodec::None;
  std::array<std::uint16_t, kMaxMetadataStreams> metadataPids;
  metadataPids.fill(kNoPid);
  std::size_t metadataCount = 0;
  while (pos + 5 <= end) {
    const std::uint8_t streamType = section[pos];
    const auto pid = static_cast<std::uint16_t>(((section[pos + 1] & 0x1F) << 8) | section[pos + 2]);
    const std::size_t infoLength = (std::size_t{section[pos + 3] & 0x0Fu} << 8) | section[pos + 4];
    pos += 5;
    if (pos + infoLength > end) return;  // a damaged table changes nothing
    const std::uint8_t* descriptors = section + pos;
    pos += infoLength;
    if (!IsStreamPid(pid) || pid == pmt_.pid) continue;
    const TsAudioCodec streamCodec = AudioCodecOf(streamType);
    if (streamCodec != TsAudioCodec::None) {
      if (audioPid == kNoPid) {
        audioPid = pid;
        codec = streamCodec;
      }
    } else if (IsId3Metadata(streamType, descriptors, infoLength) && metadataCount < kMaxMetadataStreams &&
               std::find(metadataPids.begin(), metadataPids.end(), pid) == metadataPids.end()) {
      metadataPids[metadataCount++] = pid;
    }
  }

  sawPmt_ = true;
  // A repeated table must not disturb what is being reassembled.
  if (audioPid != audio_.pid || codec != audioCodec_) {
    audio_ = Pes{};
    audio_.pid = audioPid;
    audioCodec_ = codec;
  }
  std::array<Pes, kMaxMetadataStreams> metadata;
  for (std::size_t i = 0; i < metadataCount; ++i) {
    if (metadataPids[i] == audioPid) continue;
    metadata[i].pid = metadataPids[i];
    for (Pes& old : metadata_) {
      if (old.pid == metadataPids[i]) metadata[i] = std::move(old);
    }
  }
  metadata_ = std::move(metadata);
}

void TsDemuxer::handlePesPayload(Pes& pes, bool isAudio, const std::uint8_t* data, std::size_t size,
                                 bool unitStart) {
  if (unitStart) {
    finishPes(pes, isAudio);
    pes.state = Pes::State::Header;
  }
  while (size > 0) {
    switch (pes.state) {
      case Pes::State::Waiting:
        return;
      case Pes::State::Header: {
        const std::size_t take = std::min(PesHeaderLength(pes.header) - pes.header.size(), size);
        pes.header.insert(pes.header.end(), data, data + take);
        data += take;
        size -= take;
        // The length needed grows as the fixed fields arrive; once they agree the header is whole.
        if (pes.header.size() == PesHeaderLength(pes.header)) startPesPayload(pes, isAudio);
        break;
      }
      case Pes::State::Payload:
        appendPesPayload(pes, isAudio, data, size);
        return;
    }
  }
}

void TsDemuxer::startPesPayload(Pes& pes, bool isAudio) {
  const std::vector<std::uint8_t>& header = pes.header;
  pes.state = Pes::State::Waiting;
  if (header[0] != 0 || header[1] != 0 || header[2] != 1 || header[3] == 0xBE) return;
  if (HasOptionalPesHeader(header[3]) && (header[6] & 0xC0) != 0x80) return;
  const std::size_t packetLength = (std::size_t{header[4]} << 8) | header[5];
  const std::size_t afterLength = header.size() - 6;
  pes.bounded = packetLength != 0;
  if (pes.bounded && packetLength < afterLength) return;
  pes.remaining = pes.bounded ? packetLength - afterLength : 0;
  pes.payload.clear();
  pes.state = Pes::State::Payload;
  if (pes.bounded && pes.remaining == 0) finishPes(pes, isAudio);
}

void TsDemuxer::appendPesPayload(Pes& pes, bool isAudio, const std::uint8_t* data, std::size_t size) {
  // Bytes past a bounded PES are stuffing until the next unit start.
  const std::size_t take = pes.bounded ? std::min(pes.remaining, size) : size;
  if (isAudio) {
    for (std::size_t done = 0; done < take;) {
      const std::size_t n = std::min(kMaxAudioHeld - pes.payload.size(), take - done);
      pes.payload.insert(pes.payload.end(), data + done, data + done + n);
      done += n;
      if (pes.payload.size() == kMaxAudioHeld) deliverAudio();
    }
  } else {
    if (pes.payload.size() + take > kMaxMetadataPes) {
      pes.payload.clear();
      pes.state = Pes::State::Waiting;
      return;
    }
    pes.payload.insert(pes.payload.end(), data, data + take);
  }
  if (pes.bounded) {
    pes.remaining -= take;
    if (pes.remaining == 0) finishPes(pes, isAudio);
  }
}

void TsDemuxer::finishPes(Pes& pes, bool isAudio) {
  if (pes.state == Pes::State::Payload) {
    if (isAudio) {
      // A PES shorter than its length field says is still whole frames, as far as it goes.
      deliverAudio();
    } else if ((!pes.bounded || pes.remaining == 0) && !pes.payload.empty()) {
      sink_.onTimedMetadata(pes.payload.data(), pes.payload.size());
    }
  }
  pes.state = Pes::State::Waiting;
  pes.payload.clear();
  pes.header.clear();
}

void TsDemuxer::deliverAudio() {
  if (audio_.payload.empty()) return;
  sink_.onAudio(audioCodec_, audio_.payload.data(), audio_.payload.size());
  audio_.payload.clear();
}

bool LooksLikeTransportStream(const std::uint8_t* data, std::size_t size) {
  if (size <= TsDemuxer::kPacketSize) return false;
  for (std::size_t at = 0; at < size && at <= 2 * TsDemuxer::kPacketSize; at += TsDemuxer::kPacketSize) {
    if (data[at] != kSyncByte) return false;
  }
  return true;
}

}  // namespace vornel::audio
