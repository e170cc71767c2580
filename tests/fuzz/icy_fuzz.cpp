// Feeds arbitrary bytes to the ICY metadata demultiplexer, cut into pieces of the input's choosing.
// Besides any crash, overflow or undefined behaviour, a finding is: an audio byte lost, doubled or
// moved, or a metadata byte taken for audio (the decoder would get garbage and the title would be
// wrong); a title that is not its block's text up to the first NUL; an empty title reported; an
// answer that depends on where the network cut the bytes; a wrong answer to insideMetadata(),
// which decides whether a stream that ends there ended cleanly.
//
// Input: two bytes for the metadata interval (0 to 4095), the piece plan (pieces.h), the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "icy_demuxer.h"
#include "pieces.h"

namespace {

using vornel::audio::IcyDemuxer;

struct Demuxed {
  std::string audio;
  std::vector<std::string> titles;
  std::size_t titleBytes = 0;
};

// The wire format read the plain way, a block at a time over the whole body, as the reference the
// demultiplexer's byte-at-a-time state machine must agree with wherever its input is cut.
// insideAt[k] tells whether the first k bytes leave the reader inside a metadata block.
struct Expected {
  Demuxed out;
  std::vector<bool> insideAt;
  bool accountsForEveryByte = true;  // no padding and no cut block, so texts + audio + lengths = all
};

Expected Reference(std::size_t metaint, const std::uint8_t* data, std::size_t size) {
  Expected expected;
  expected.insideAt.assign(size + 1, false);
  if (metaint == 0) {
    expected.out.audio.assign(reinterpret_cast<const char*>(data), size);
    return expected;
  }
  std::size_t pos = 0;
  std::size_t lengthBytes = 0;
  for (;;) {
    const std::size_t audio = metaint < size - pos ? metaint : size - pos;
    expected.out.audio.append(reinterpret_cast<const char*>(data + pos), audio);
    pos += audio;
    if (audio < metaint) break;
    // A length byte is due: the block has begun.
    expected.insideAt[pos] = true;
    if (pos == size) break;
    const std::size_t textBytes = std::size_t{data[pos]} * 16;
    ++pos;
    ++lengthBytes;
    const std::size_t have = textBytes < size - pos ? textBytes : size - pos;
    for (std::size_t k = pos; k <= pos + have; ++k) expected.insideAt[k] = true;
    if (have < textBytes) {
      expected.accountsForEveryByte = false;
      break;
    }
    // The last byte of a whole block, or an empty block's length byte, puts the reader back into audio.
    expected.insideAt[pos + textBytes] = false;
    const std::string_view block(reinterpret_cast<const char*>(data + pos), textBytes);
    const std::string_view text = block.substr(0, block.find('\0'));
    if (text.size() != block.size()) expected.accountsForEveryByte = false;
    if (!text.empty()) {
      expected.out.titles.emplace_back(text);
      expected.out.titleBytes += text.size();
    }
    pos += textBytes;
  }
  if (expected.accountsForEveryByte &&
      expected.out.audio.size() + expected.out.titleBytes + lengthBytes != size) {
    std::abort();
  }
  return expected;
}

void CheckSame(const Demuxed& got, const Demuxed& expected) {
  if (got.audio != expected.audio || got.titles != expected.titles) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t metaint = std::size_t{data[0]} | std::size_t{data[1] & 0x0Fu} << 8;
  data += 2;
  size -= 2;
  const vornel::fuzz::Pieces pieces(data, size);
  const Expected expected = Reference(metaint, data, size);

  Demuxed got;
  IcyDemuxer demuxer(metaint);
  std::size_t fed = 0;
  pieces.split(data, size, [&](const std::uint8_t* piece, std::size_t n) {
    demuxer.feed(
        piece, n,
        [&](const std::uint8_t* audio, std::size_t count) {
          got.audio.append(reinterpret_cast<const char*>(audio), count);
        },
        [&](std::string_view text) {
          if (text.empty() || text.size() > IcyDemuxer::kMaxMetadataBytes ||
              text.find('\0') != std::string_view::npos) {
            std::abort();
          }
          got.titles.emplace_back(text);
          got.titleBytes += text.size();
        });
    fed += n;
    if (demuxer.insideMetadata() != expected.insideAt[fed]) std::abort();
    // What has come out so far is exactly what the bytes so far hold.
    if (got.audio.size() > expected.out.audio.size() || got.audio.size() + got.titleBytes > fed) std::abort();
  });
  CheckSame(got, expected.out);

  // The same bytes in one piece.
  Demuxed whole;
  IcyDemuxer once(metaint);
  once.feed(
      data, size,
      [&](const std::uint8_t* audio, std::size_t count) {
        whole.audio.append(reinterpret_cast<const char*>(audio), count);
      },
      [&](std::string_view text) { whole.titles.emplace_back(text); });
  CheckSame(whole, expected.out);
  if (once.insideMetadata() != expected.insideAt[size]) std::abort();
  return 0;
}
