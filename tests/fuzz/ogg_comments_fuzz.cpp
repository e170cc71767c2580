// Feeds arbitrary bytes to the comment reader (as a bare list and as a comment packet) and to the
// Ogg decoder (pages, Vorbis and Opus headers and audio). Besides any crash, overflow or undefined
// behaviour, a finding is: tags larger than their input, a byte of the stream lost, doubled or
// moved between pages and the bytes between them, or pages that depend on where the network cut
// the bytes.
//
// Input: one byte choosing where the stream is cut in two, then the bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "ogg_decoder.h"
#include "vorbis_comments.h"

namespace {

using namespace vornel::audio;

struct Recorder final : OggDecoder::Events, PcmOut {
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> pages;  // where each page began in `bytes`
  void page(const std::uint8_t* header, std::size_t headerSize, const std::uint8_t* body,
            std::size_t bodySize) override {
    pages.push_back(bytes.size());
    bytes.insert(bytes.end(), header, header + headerSize);
    bytes.insert(bytes.end(), body, body + bodySize);
  }
  void other(const std::uint8_t* data, std::size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  void tags(const TrackTags&) override {}
  bool pcm(const std::int16_t*, std::size_t, int, int channels) override {
    if (channels < 1) std::abort();
    return true;
  }
};

std::vector<std::size_t> Decode(const std::uint8_t* data, std::size_t size, std::size_t cut) {
  Recorder recorder;
  OggDecoder decoder(recorder, recorder);
  if (!decoder.feed(data, cut) || !decoder.feed(data + cut, size - cut)) std::abort();
  decoder.finish();
  if (recorder.bytes.size() != size || (size > 0 && !std::equal(recorder.bytes.begin(), recorder.bytes.end(), data))) {
    std::abort();
  }
  return recorder.pages;
}

// Mutated pages almost never keep a valid checksum: a copy with every page's checksum set again
// lets the codecs see mutated packets.
std::vector<std::uint8_t> WithChecksums(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out(data, data + size);
  for (std::size_t at = 0; at + 27 <= size;) {
    if (std::memcmp(out.data() + at, "OggS", 4) != 0) {
      ++at;
      continue;
    }
    const std::size_t segments = out[at + 26];
    if (at + 27 + segments > size) break;
    std::size_t bodySize = 0;
    for (std::size_t i = 0; i < segments; ++i) bodySize += out[at + 27 + i];
    if (at + 27 + segments + bodySize > size) break;
    ogg_page page{out.data() + at, static_cast<long>(27 + segments), out.data() + at + 27 + segments,
                  static_cast<long>(bodySize)};
    ogg_page_checksum_set(&page);
    at += 27 + segments + bodySize;
  }
  return out;
}

void CheckTags(const std::optional<TrackTags>& tags, std::size_t size) {
  // Every value comes from the input; only the " / " between values is added.
  if (tags && tags->artist.size() + tags->title.size() > 2 * size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("VORNEL_AUDIO_LOG", "0", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t cut = (size - 1) * data[0] / 255;
  const std::uint8_t* body = data + 1;
  size -= 1;

  CheckTags(ParseVorbisComments(body, size), size);
  CheckTags(ParseCommentPacket(body, size), size);
  if (Decode(body, size, cut) != Decode(body, size, size)) std::abort();
  const std::vector<std::uint8_t> fixed = WithChecksums(body, size);
  Decode(fixed.data(), size, cut);
  return 0;
}
