#pragma once

// MPEG audio Layer III frame headers, for telling an MP3 stream from anything else and for
// cutting it into frames.

#include <cstddef>
#include <cstdint>

namespace vornel::audio {

struct Mp3FrameHeader {
  int version = 0;     // 1, 2 or 25 (MPEG 2.5)
  int sampleRate = 0;  // Hz
  int channels = 0;
  int bitrate = 0;     // kbit/s
  std::size_t length = 0;  // bytes, header included
};

// Reads a Layer III frame header at `p` (4 bytes); false when it is not one.
bool ReadMp3FrameHeader(const std::uint8_t* p, Mp3FrameHeader& header);

}  // namespace vornel::audio
