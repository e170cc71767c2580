#include "frame_splitter.h"

#include "adts.h"
#include "mp3_probe.h"

namespace vornel::audio {

std::size_t HeaderBytes(FrameKind kind) { return kind == FrameKind::Adts ? kAdtsHeaderBytes : 4; }

bool ReadFrame(FrameKind kind, const std::uint8_t* p, FrameInfo& info) {
  if (kind == FrameKind::Adts) {
    AdtsHeader header;
    if (!ReadAdtsHeader(p, header)) return false;
    info.length = header.frameLength;
    info.signature = static_cast<std::uint32_t>(header.mpegVersion << 16 | header.profile << 12 |
                                                header.sampleRateIndex << 4 | header.channelConfig);
    return true;
  }
  Mp3FrameHeader header;
  if (!ReadMp3FrameHeader(p, header)) return false;
  info.length = header.length;
  info.signature =
      static_cast<std::uint32_t>(header.version << 24 | header.sampleRate << 2 | header.channels);
  return true;
}

std::size_t FindFrameRun(FrameKind kind, const std::uint8_t* data, std::size_t size, int framesInARow,
                         bool& needMore) {
  needMore = false;
  const std::size_t headerBytes = HeaderBytes(kind);
  for (std::size_t start = 0; start + headerBytes <= size; ++start) {
    std::size_t pos = start;
    FrameInfo first;
    int frames = 0;
    bool cut = false;
    while (frames < framesInARow) {
      if (pos + headerBytes > size) {
        cut = true;
        break;
      }
      FrameInfo next;
      if (!ReadFrame(kind, data + pos, next) || (frames > 0 && next.signature != first.signature)) break;
      if (frames == 0) first = next;
      ++frames;
      pos += next.length;
    }
    if (frames == framesInARow) return start;
    if (cut) {
      // Cannot tell yet: the caller waits for more bytes from here on.
      needMore = true;
      return start;
    }
  }
  needMore = true;
  return size;
}

bool FrameSplitter::resync(std::size_t& pos) {
  bool needMore = false;
  const std::size_t from = pos;
  const std::size_t found =
      from + FindFrameRun(kind_, buffer_.data() + from, buffer_.size() - from, kFramesInARow, needMore);
  // Without a candidate only the last bytes can still begin a header.
  const std::size_t keepFrom =
      found < buffer_.size()
          ? found
          : (buffer_.size() - from >= HeaderBytes(kind_) ? buffer_.size() - HeaderBytes(kind_) + 1 : from);
  dropped_ += keepFrom - from;
  pos = keepFrom;
  if (needMore) return false;
  FrameInfo info;
  ReadFrame(kind_, buffer_.data() + pos, info);
  signature_ = info.signature;
  synced_ = true;
  return true;
}

}  // namespace vornel::audio
