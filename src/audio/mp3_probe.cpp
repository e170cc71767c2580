#include "mp3_probe.h"

namespace vornel::audio {

namespace {

// Bit rates in kbit/s by index 1..14: MPEG-1 Layer III, and MPEG-2/2.5 Layer III.
constexpr int kBitratesV1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kBitratesV2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int kRatesV1[3] = {44100, 48000, 32000};

// Size of a leading ID3v2 tag (header, body and footer), or 0 when there is none.
std::size_t Id3v2Size(const std::uint8_t* data, std::size_t size) {
  if (size < 10 || data[0] != 'I' || data[1] != 'D' || data[2] != '3') return 0;
  for (int i = 6; i < 10; ++i) {
    if (data[i] & 0x80) return 0;  // not a syncsafe size: no tag
  }
  const std::size_t body = (std::size_t{data[6]} << 21) | (std::size_t{data[7]} << 14) |
                           (std::size_t{data[8]} << 7) | std::size_t{data[9]};
  const bool footer = (data[5] & 0x10) != 0;
  return 10 + body + (footer ? 10 : 0);
}

}  // namespace

bool ReadMp3FrameHeader(const std::uint8_t* p, Mp3FrameHeader& header) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int versionBits = (p[1] >> 3) & 3;  // 0: 2.5, 1: reserved, 2: 2, 3: 1
  const int layerBits = (p[1] >> 1) & 3;    // 1: Layer III
  const int bitrateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return false;

  header.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
  header.bitrate = header.version == 1 ? kBitratesV1[bitrateIndex] : kBitratesV2[bitrateIndex];
  header.sampleRate = kRatesV1[rateIndex] / (header.version == 1 ? 1 : header.version == 2 ? 2 : 4);
  header.channels = (p[3] >> 6) == 3 ? 1 : 2;
  const int padding = (p[2] >> 1) & 1;
  // Layer III: 1152 samples per frame in MPEG-1, 576 in MPEG-2 and 2.5.
  const int coefficient = header.version == 1 ? 144 : 72;
  header.length = static_cast<std::size_t>(coefficient * header.bitrate * 1000 / header.sampleRate + padding);
  return true;
}

ProbeResult ProbeMp3(const std::uint8_t* data, std::size_t size) {
  const std::size_t tag = Id3v2Size(data, size);
  if (tag > kMaxId3Tag) return ProbeResult::NotMp3;
  if (size < 10 && size >= 3 && data[0] == 'I' && data[1] == 'D' && data[2] == '3') return ProbeResult::NeedMore;
  const std::size_t limit = tag + kProbeAllowance;

  for (std::size_t start = tag; start < limit; ++start) {
    if (start + 4 > size) return ProbeResult::NeedMore;
    std::size_t pos = start;
    Mp3FrameHeader first;
    int frames = 0;
    while (frames < kFramesInARow) {
      if (pos + 4 > size) return ProbeResult::NeedMore;
      Mp3FrameHeader next;
      if (!ReadMp3FrameHeader(data + pos, next)) break;
      // Frames of one stream agree on version, rate and channels.
      if (frames == 0) {
        first = next;
      } else if (next.version != first.version || next.sampleRate != first.sampleRate ||
                 next.channels != first.channels) {
        break;
      }
      ++frames;
      pos += next.length;
    }
    if (frames == kFramesInARow) return ProbeResult::Mp3;
  }
  return ProbeResult::NotMp3;
}

}  // namespace vornel::audio
