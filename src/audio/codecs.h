#pragma once

// Decoders of whole frames: MPEG audio through libmpg123 and ADTS AAC (LC, HE-AAC v1 and v2)
// through libfaad2. Each hands out 16-bit PCM at the stream's own rate and channel count; the
// caller converts it. Both take only frames that the frame splitter checked.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "frame_splitter.h"

struct mpg123_handle_struct;

namespace vornel::audio {

// Where decoded audio goes: interleaved samples (`count` in all) of `channels` channels at `rate`.
class PcmOut {
 public:
  virtual ~PcmOut() = default;
  // False when the receiver wants no more (the stream is ending).
  virtual bool pcm(const std::int16_t* samples, std::size_t count, int rate, int channels) = 0;
};

class FrameCodec {
 public:
  virtual ~FrameCodec() = default;
  virtual bool valid() const = 0;
  // One whole frame. False only when decoding cannot go on; a damaged frame is skipped.
  virtual bool decode(const std::uint8_t* frame, std::size_t size, PcmOut& out) = 0;
};

std::unique_ptr<FrameCodec> MakeFrameCodec(FrameKind kind);

}  // namespace vornel::audio
