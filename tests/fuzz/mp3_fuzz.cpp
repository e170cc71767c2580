// Feeds arbitrary bytes to the MPEG audio header reader, to the frame splitter in MPEG mode (cut
// into pieces of the input's choosing) and to the recorder's search for where a file may begin.
// Besides any crash, overflow or undefined behaviour, a finding is:
// - a header whose fields are outside what Layer III allows, or whose frame length is too short to
//   move the splitter on, or too long for any real frame;
// - the recorder and the library disagreeing on what a header is: the recorder would start a file
//   on bytes the library's decoder refuses, or miss a frame the library plays;
// - a recording start that is out of the block, not at a header, or not at the first one;
// - a frame handed out that does not begin with a header of its run's format, or a run that did
//   not begin with kFramesInARow consistent headers (a stray sync pattern taken for audio);
// - a byte lost, doubled or moved, or an answer that depends on where the network cut the bytes.
//
// Input: the piece plan (pieces.h), then the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "frame_splitter.h"
#include "mp3_probe.h"
#include "pieces.h"
#include "playback/record_format.h"

namespace {

using namespace vornel::audio;
using vornel::playback::DetectRecordFormat;
using vornel::playback::FindRecordStart;
using vornel::playback::RecordFormat;

// Shortest Layer III frame: MPEG-2 at 8 kbit/s and 24 kHz; longest: 320 kbit/s at 32 kHz, or
// MPEG-2.5 at 160 kbit/s and 8 kHz, with padding.
constexpr std::size_t kShortestFrame = 24;
constexpr std::size_t kLongestFrame = 1441;

bool IsLayer3Rate(int rate) {
  for (int allowed : {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000}) {
    if (rate == allowed) return true;
  }
  return false;
}

// The header reader given only the bytes that exist: missing ones read as zero, which no check of
// the first three bytes depends on.
bool HeaderAt(const std::uint8_t* data, std::size_t size, std::size_t at, Mp3FrameHeader& header) {
  std::uint8_t bytes[4] = {};
  std::copy(data + at, data + std::min(size, at + 4), bytes);
  return ReadMp3FrameHeader(bytes, header);
}

void CheckHeaders(const std::uint8_t* data, std::size_t size) {
  bool any = false;
  for (std::size_t i = 0; i + 4 <= size; ++i) {
    Mp3FrameHeader header;
    const bool read = ReadMp3FrameHeader(data + i, header);
    if (read) {
      any = true;
      if (header.version != 1 && header.version != 2 && header.version != 25) std::abort();
      if (!IsLayer3Rate(header.sampleRate) || (header.channels != 1 && header.channels != 2)) std::abort();
      if (header.bitrate < 8 || header.bitrate > 320) std::abort();
      if (header.length < kShortestFrame || header.length > kLongestFrame) std::abort();
    }
    // The recorder's own test of the same four bytes.
    if ((FindRecordStart(RecordFormat::Mp3, data + i, 4) == 0) != read) std::abort();
  }
  // Whatever else the format guess finds first, "nothing" means no frame header anywhere.
  const RecordFormat guess = DetectRecordFormat(data, size);
  if ((guess == RecordFormat::Unknown && any) || (guess == RecordFormat::Mp3 && !any)) std::abort();
}

void CheckRecordStart(const std::uint8_t* data, std::size_t size) {
  for (RecordFormat format : {RecordFormat::Unknown, RecordFormat::Mp3}) {
    const std::size_t start = FindRecordStart(format, data, size);
    if (start > size) std::abort();
    // No header before the start, judged on the bytes there are.
    for (std::size_t i = 0; i < start && i + 3 <= size; ++i) {
      Mp3FrameHeader header;
      if (HeaderAt(data, size, i, header)) std::abort();
    }
    // The block's last two bytes count when a third byte from the next block can complete them.
    Mp3FrameHeader header;
    const auto completable = [&](std::size_t at) {
      const std::uint8_t completed[4] = {data[at], data[at + 1], 0x10, 0};
      return ReadMp3FrameHeader(completed, header);
    };
    if (start == size) {
      if (size >= 2 && completable(size - 2)) std::abort();
    } else if (start + 3 <= size) {
      if (!HeaderAt(data, size, start, header)) std::abort();
    } else if (start + 2 != size || !completable(start)) {
      std::abort();
    }
  }
  // The other formats' searches: in the block, and at the thing they look for.
  const std::size_t aac = FindRecordStart(RecordFormat::Aac, data, size);
  if (aac > size || (aac < size && (aac + 7 > size || data[aac] != 0xFF))) std::abort();
  for (RecordFormat ogg : {RecordFormat::Vorbis, RecordFormat::Opus}) {
    const std::size_t page = FindRecordStart(ogg, data, size);
    if (page > size ||
        (page < size && (page + 27 > size || !std::equal(data + page, data + page + 4, "OggS")))) {
      std::abort();
    }
  }
}

struct Split {
  std::vector<std::uint8_t> bytes;  // everything handed out, in order
  std::vector<std::size_t> frames;  // where each frame began in `bytes`
  std::uint64_t other = 0;
};

// Runs of frames must each begin where the body holds kFramesInARow headers of one format, one
// frame after the other.
void CheckRunStart(const std::uint8_t* body, std::size_t size, std::size_t at) {
  FrameInfo first;
  std::size_t pos = at;
  for (int k = 0; k < FrameSplitter::kFramesInARow; ++k) {
    FrameInfo info;
    if (pos + HeaderBytes(FrameKind::Mpeg) > size || !ReadFrame(FrameKind::Mpeg, body + pos, info))
      std::abort();
    if (k == 0) first = info;
    if (info.signature != first.signature) std::abort();
    pos += info.length;
  }
}

Split Run(const std::uint8_t* body, std::size_t size, const vornel::fuzz::Pieces* pieces) {
  FrameSplitter splitter(FrameKind::Mpeg);
  Split out;
  bool afterOther = true;
  std::uint32_t lastSignature = 0;
  const auto onFrame = [&](const std::uint8_t* p, std::size_t n) {
    FrameInfo info;
    if (n < HeaderBytes(FrameKind::Mpeg) || !ReadFrame(FrameKind::Mpeg, p, info) || info.length != n)
      std::abort();
    if (info.signature != splitter.signature()) std::abort();
    if (afterOther || info.signature != lastSignature) CheckRunStart(body, size, out.bytes.size());
    afterOther = false;
    lastSignature = info.signature;
    out.frames.push_back(out.bytes.size());
    out.bytes.insert(out.bytes.end(), p, p + n);
  };
  const auto onOther = [&](const std::uint8_t* p, std::size_t n) {
    if (n > 0) afterOther = true;
    out.other += n;
    out.bytes.insert(out.bytes.end(), p, p + n);
  };
  if (pieces != nullptr) {
    pieces->split(body, size,
                  [&](const std::uint8_t* p, std::size_t n) { splitter.feed(p, n, onFrame, onOther); });
  } else {
    splitter.feed(body, size, onFrame, onOther);
  }
  splitter.finish(onOther);
  if (out.bytes.size() != size || !std::equal(out.bytes.begin(), out.bytes.end(), body)) std::abort();
  if (splitter.droppedBytes() != out.other || splitter.inStep()) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vornel::fuzz::Pieces pieces(data, size);
  // The body in an allocation of its own, so that reading past it is caught.
  const std::vector<std::uint8_t> body(data, data + size);
  const std::uint8_t* p = body.data();

  CheckHeaders(p, size);
  CheckRecordStart(p, size);
  const Split cut = Run(p, size, &pieces);
  const Split whole = Run(p, size, nullptr);
  if (cut.frames != whole.frames) std::abort();
  return 0;
}
