// Feeds arbitrary bytes to the frame splitter of both kinds and to the body sniffer. Besides any
// crash, overflow or undefined behaviour, a finding is: a byte lost, doubled or moved; a frame
// that does not begin with a header the splitter's own reader accepts, or whose length is not the
// header's; an answer that depends on where the network cut the bytes; "undecided" for a body
// that has ended; an audio start past the body.
//
// Input: one byte choosing where the body is cut in two, then the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "format_probe.h"
#include "frame_splitter.h"

namespace {

using namespace vornel::audio;

struct Output {
  std::vector<std::uint8_t> bytes;   // everything handed out, in order
  std::vector<std::size_t> frames;   // where each frame began in `bytes`
  std::uint64_t other = 0;
};

Output Split(FrameKind kind, const std::uint8_t* data, std::size_t size, std::size_t cut) {
  FrameSplitter splitter(kind);
  Output out;
  const auto onFrame = [&](const std::uint8_t* p, std::size_t n) {
    FrameInfo info;
    if (n < HeaderBytes(kind) || !ReadFrame(kind, p, info) || info.length != n) std::abort();
    out.frames.push_back(out.bytes.size());
    out.bytes.insert(out.bytes.end(), p, p + n);
  };
  const auto onOther = [&](const std::uint8_t* p, std::size_t n) {
    out.other += n;
    out.bytes.insert(out.bytes.end(), p, p + n);
  };
  splitter.feed(data, cut, onFrame, onOther);
  splitter.feed(data + cut, size - cut, onFrame, onOther);
  splitter.finish(onOther);
  if (out.bytes.size() != size || (size > 0 && !std::equal(out.bytes.begin(), out.bytes.end(), data))) std::abort();
  if (splitter.droppedBytes() != out.other || splitter.inStep()) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t cut = (size - 1) * data[0] / 255;
  const std::uint8_t* body = data + 1;
  size -= 1;

  for (FrameKind kind : {FrameKind::Adts, FrameKind::Mpeg}) {
    const Output pieces = Split(kind, body, size, cut);
    const Output whole = Split(kind, body, size, size);
    if (pieces.frames != whole.frames) std::abort();
  }

  static constexpr std::string_view kTypes[] = {"", "audio/mpeg", "text/html", "audio/x-mpegurl"};
  const std::string_view type = kTypes[data[0] & 3];
  for (bool complete : {false, true}) {
    const BodySniff sniff = SniffBody(body, size, type, complete);
    if (complete && sniff.kind == BodyKind::NeedMore) std::abort();
    if (sniff.audioStart > size) std::abort();
    if ((sniff.kind == BodyKind::Playlist) != (sniff.playlist != PlaylistKind::None)) std::abort();
  }
  return 0;
}
