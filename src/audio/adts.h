#pragma once

// ADTS, the framing of AAC that radio stations send: a 7-byte header (9 with a checksum) before
// every raw AAC frame. HE-AAC travels in it implicitly: the header names the AAC-LC core at half
// the output rate, and only the decoder finds the SBR and PS extensions.

#include <cstddef>
#include <cstdint>

namespace vornel::audio {

struct AdtsHeader {
  int mpegVersion = 4;           // 4, or 2 when the ID bit is set
  int profile = 1;               // audio object type minus one: 0 Main, 1 LC, 2 SSR, 3 LTP
  int sampleRateIndex = 0;       // 0..12
  int sampleRate = 0;            // Hz, as the header says (the core rate for HE-AAC)
  int channelConfig = 0;         // 0: given by a program config element inside the frame
  std::size_t headerLength = 7;  // 9 with a CRC
  std::size_t frameLength = 0;   // header included
};

inline constexpr std::size_t kAdtsHeaderBytes = 7;
inline constexpr std::size_t kMaxAdtsFrame = 8191;  // the 13-bit length field

// Reads an ADTS header at `p` (kAdtsHeaderBytes readable); false when it is not a usable one: no
// sync, a layer other than 0, a reserved or escape rate index, or a length that cannot hold the
// header.
bool ReadAdtsHeader(const std::uint8_t* p, AdtsHeader& header);

}  // namespace vornel::audio
