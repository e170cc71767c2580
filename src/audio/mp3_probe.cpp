#include "mp3_probe.h"

namespace vornel::audio {

namespace {

// Bit rates in kbit/s by index 1..14: MPEG-1 Layer III, and MPEG-2/2.5 Layer III.
constexpr int kBitratesV1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kBitratesV2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int kRatesV1[3] = {44100, 48000, 32000};

}  // namespace

bool ReadMp3FrameHeader(const std::uint8_t* p, Mp3FrameHeader& header) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int versionBits = (p[1] >> 3) & 3;  // 0: 2.5, 1: reserved, 2: 2, 3: 1
  const int layerBits = (p[1] >> 1) & 3;    // 1: Layer III
  const int bitrateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return false;

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

}  // namespace vornel::audio
