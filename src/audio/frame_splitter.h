#pragma once

// Cuts a byte stream of MPEG audio or ADTS frames into whole, checked frames: a push parser with no
// I/O. Until it is in step it looks for a run of consecutive frames that agree on their format, so
// that a stray sync pattern in a tag or in damaged data is not taken for a frame; once in step,
// each frame must begin where the previous one ended and agree with it, or the search starts
// again. Bytes that belong to no frame (tags, junk, a cut frame) are handed out apart from the
// frames, in their place in the stream, so that the decoder can be given whole frames only while
// the stream's own bytes all stay accounted for.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornel::audio {

enum class FrameKind { Mpeg, Adts };

struct FrameInfo {
  std::size_t length = 0;       // bytes, header included
  std::uint32_t signature = 0;  // the fields every frame of one stream shares
};

// Reads a frame header of `kind` at `p` (HeaderBytes(kind) readable).
bool ReadFrame(FrameKind kind, const std::uint8_t* p, FrameInfo& info);
std::size_t HeaderBytes(FrameKind kind);

// Where a run of `framesInARow` consistent frames of `kind` begins in `data`, searching from the
// start; `size` when there is none. `needMore` tells whether a candidate was cut off by the end.
std::size_t FindFrameRun(FrameKind kind, const std::uint8_t* data, std::size_t size, int framesInARow,
                         bool& needMore);

class FrameSplitter {
 public:
  static constexpr int kFramesInARow = 3;

  explicit FrameSplitter(FrameKind kind) : kind_(kind) {}

  // Calls onFrame(const uint8_t*, size_t) for every whole frame that `data` completes and
  // onOther(const uint8_t*, size_t) for the bytes between frames, in stream order.
  template <typename OnFrame, typename OnOther>
  void feed(const std::uint8_t* data, std::size_t size, OnFrame&& onFrame, OnOther&& onOther) {
    buffer_.insert(buffer_.end(), data, data + size);
    std::size_t pos = 0;
    for (;;) {
      if (!synced_) {
        const std::size_t from = pos;
        const bool found = resync(pos);
        if (pos > from) onOther(buffer_.data() + from, pos - from);
        if (!found) break;
      }
      FrameInfo info;
      if (buffer_.size() - pos < HeaderBytes(kind_)) break;
      if (!ReadFrame(kind_, buffer_.data() + pos, info) || info.signature != signature_) {
        synced_ = false;  // lost step: what follows is searched again
        continue;
      }
      if (buffer_.size() - pos < info.length) break;
      onFrame(buffer_.data() + pos, info.length);
      pos += info.length;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos));
  }

  // The end of the stream: what is left (a cut frame) goes to onOther(const uint8_t*, size_t).
  template <typename OnOther>
  void finish(OnOther&& onOther) {
    if (!buffer_.empty()) onOther(buffer_.data(), buffer_.size());
    dropped_ += buffer_.size();
    buffer_.clear();
    synced_ = false;
  }

  bool inStep() const { return synced_; }
  // The format of the run the frames now handed out belong to (valid inside onFrame).
  std::uint32_t signature() const { return signature_; }
  // Bytes that were not part of any frame.
  std::uint64_t droppedBytes() const { return dropped_; }

 private:
  // Moves `pos` to the start of a run of frames and returns true, or past what cannot start one
  // and returns false to wait for more bytes.
  bool resync(std::size_t& pos);

  const FrameKind kind_;
  std::vector<std::uint8_t> buffer_;  // at most one frame run plus one read's bytes
  bool synced_ = false;
  std::uint32_t signature_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace vornel::audio
