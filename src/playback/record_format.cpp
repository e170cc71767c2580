#include "playback/record_format.h"

#include <cstring>

namespace vornel::playback {

namespace {

constexpr std::size_t kOggHeader = 27;

bool IsLayer3Header(const std::uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int version = (p[1] >> 3) & 3;  // 1 is reserved
  const int layer = (p[1] >> 1) & 3;    // 1 is Layer III
  const int bitrate = p[2] >> 4;        // 0 (free) and 15 (bad) are not taken
  const int rate = (p[2] >> 2) & 3;     // 3 is reserved
  return version != 1 && layer == 1 && bitrate != 0 && bitrate != 15 && rate != 3;
}

// An ADTS header (7 bytes readable): 12 sync bits, layer 0, a real rate, a length past the header.
bool IsAdtsHeader(const std::uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || ((p[2] >> 2) & 0x0F) > 12) return false;
  const std::size_t length = (std::size_t{p[3] & 0x03u} << 11) | (std::size_t{p[4]} << 3) | (p[5] >> 5);
  return length > ((p[1] & 0x01) != 0 ? 7u : 9u);
}

// Size of a whole Ogg page at `data`, 0 when no whole page is there.
std::size_t OggPageSize(const std::uint8_t* data, std::size_t size) {
  if (size < kOggHeader || std::memcmp(data, "OggS", 4) != 0 || data[4] != 0) return 0;
  const std::size_t segments = data[26];
  if (size < kOggHeader + segments) return 0;
  std::size_t body = 0;
  for (std::size_t i = 0; i < segments; ++i) body += data[kOggHeader + i];
  const std::size_t total = kOggHeader + segments + body;
  return total <= size ? total : 0;
}

// The codec of a first page's packet.
RecordFormat OggCodecOf(const std::uint8_t* page, std::size_t size) {
  if (size < kOggHeader + 1) return RecordFormat::Unknown;
  const std::size_t segments = page[26];
  const std::uint8_t* packet = page + kOggHeader + segments;
  const std::size_t left = size - kOggHeader - segments;
  if (left >= 7 && std::memcmp(packet, "\x01vorbis", 7) == 0) return RecordFormat::Vorbis;
  if (left >= 8 && std::memcmp(packet, "OpusHead", 8) == 0) return RecordFormat::Opus;
  return RecordFormat::Unknown;
}

std::uint32_t OggSerial(const std::uint8_t* page) {
  return std::uint32_t{page[14]} | std::uint32_t{page[15]} << 8 | std::uint32_t{page[16]} << 16 |
         std::uint32_t{page[17]} << 24;
}

// Packets that end on this page: every lacing value below 255 closes one.
int PacketsEnding(const std::uint8_t* page) {
  int count = 0;
  for (std::size_t i = 0; i < page[26]; ++i) count += page[kOggHeader + i] < 255 ? 1 : 0;
  return count;
}

}  // namespace

const char* RecordExtension(RecordFormat format) {
  switch (format) {
    case RecordFormat::Aac:
      return ".aac";
    case RecordFormat::Vorbis:
      return ".ogg";
    case RecordFormat::Opus:
      return ".opus";
    case RecordFormat::Mp3:
    case RecordFormat::Unknown:
      break;
  }
  return ".mp3";
}

std::size_t FindFrameHeader(const std::uint8_t* data, std::size_t size) {
  // The third header byte may lie beyond the block; then only the first two can be checked, and
  // a pair that could start a header counts, as the block's last bytes.
  for (std::size_t i = 0; i + 1 < size; ++i) {
    if (i + 2 < size) {
      if (IsLayer3Header(data + i)) return i;
    } else if (data[i] == 0xFF && (data[i + 1] & 0xE0) == 0xE0 && ((data[i + 1] >> 1) & 3) == 1 &&
               ((data[i + 1] >> 3) & 3) != 1) {
      return i;
    }
  }
  return size;
}

bool IsOggStreamStart(const std::uint8_t* data, std::size_t size) {
  return OggPageSize(data, size) > 0 && (data[5] & 0x02) != 0;
}

RecordFormat DetectRecordFormat(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i + 4 <= size; ++i) {
    if (data[i] == 'O' && IsOggStreamStart(data + i, size - i)) {
      const RecordFormat codec = OggCodecOf(data + i, size - i);
      if (codec != RecordFormat::Unknown) return codec;
    }
    if (data[i] != 0xFF) continue;
    if (i + 7 <= size && IsAdtsHeader(data + i)) return RecordFormat::Aac;
    if (IsLayer3Header(data + i)) return RecordFormat::Mp3;
  }
  return RecordFormat::Unknown;
}

std::size_t FindRecordStart(RecordFormat format, const std::uint8_t* data, std::size_t size) {
  switch (format) {
    case RecordFormat::Unknown:
    case RecordFormat::Mp3:
      return FindFrameHeader(data, size);
    case RecordFormat::Aac:
      for (std::size_t i = 0; i + 7 <= size; ++i) {
        if (IsAdtsHeader(data + i)) return i;
      }
      return size;
    case RecordFormat::Vorbis:
    case RecordFormat::Opus:
      for (std::size_t i = 0; i < size; ++i) {
        if (OggPageSize(data + i, size - i) > 0) return i;
      }
      return size;
  }
  return size;
}

void OggHeaderPages::clear() {
  pages_.clear();
  packetsLeft_ = 0;
  complete_ = false;
}

void OggHeaderPages::observe(const std::uint8_t* data, std::size_t size) {
  for (std::size_t pos = 0; pos < size;) {
    const std::size_t page = OggPageSize(data + pos, size - pos);
    if (page == 0) return;
    this->page(data + pos, page);
    pos += page;
  }
}

void OggHeaderPages::page(const std::uint8_t* data, std::size_t size) {
  if ((data[5] & 0x02) != 0) {
    const RecordFormat codec = OggCodecOf(data, size);
    if (codec == RecordFormat::Unknown) return;  // another kind of logical stream
    pages_.assign(data, data + size);
    serial_ = OggSerial(data);
    // Vorbis has three header packets, Opus two; both put the first alone on its page and let
    // the last one end a page, so the headers are whole pages.
    packetsLeft_ = (codec == RecordFormat::Vorbis ? 3 : 2) - PacketsEnding(data);
    complete_ = packetsLeft_ <= 0;
    return;
  }
  if (complete_ || pages_.empty() || OggSerial(data) != serial_) return;
  pages_.insert(pages_.end(), data, data + size);
  packetsLeft_ -= PacketsEnding(data);
  complete_ = packetsLeft_ <= 0;
}

}  // namespace vornel::playback
