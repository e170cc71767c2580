#pragma once

// Tells an MP3 stream from anything else (an HTML error page, garbage) before it is played: the
// body must hold a run of consecutive, consistent MPEG audio Layer III frames, after an optional
// ID3v2 tag.

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

enum class ProbeResult { Mp3, NeedMore, NotMp3 };

// Looks at the first `size` bytes of a body. Mp3 once `kFramesInARow` frames chain up;
// NotMp3 when none can be found within the allowance below (after any ID3v2 tag).
ProbeResult ProbeMp3(const std::uint8_t* data, std::size_t size);

inline constexpr int kFramesInARow = 3;
inline constexpr std::size_t kProbeAllowance = 64 * 1024;  // bytes searched after the tag
inline constexpr std::size_t kMaxId3Tag = 1024 * 1024;     // larger tags are not waited for

}  // namespace vornel::audio
