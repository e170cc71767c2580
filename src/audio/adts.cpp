#include "adts.h"

namespace vornel::audio {

namespace {

constexpr int kAdtsRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};

}  // namespace

bool ReadAdtsHeader(const std::uint8_t* p, AdtsHeader& header) {
  if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return false;  // 12 sync bits, layer 00
  const int rateIndex = (p[2] >> 2) & 0x0F;
  if (rateIndex > 12) return false;
  header.mpegVersion = (p[1] & 0x08) != 0 ? 2 : 4;
  header.profile = p[2] >> 6;
  header.sampleRateIndex = rateIndex;
  header.sampleRate = kAdtsRates[rateIndex];
  header.channelConfig = ((p[2] & 0x01) << 2) | (p[3] >> 6);
  header.headerLength = (p[1] & 0x01) != 0 ? 7 : 9;
  header.frameLength = (std::size_t{p[3] & 0x03u} << 11) | (std::size_t{p[4]} << 3) | (p[5] >> 5);
  return header.frameLength > header.headerLength;
}

}  // namespace vornel::audio
