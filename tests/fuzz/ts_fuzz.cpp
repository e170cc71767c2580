// Feeds arbitrary bytes to the transport stream demuxer; any crash, overflow or undefined behaviour
// is a finding. Checked besides: the output does not depend on where the network cut the bytes,
// and nothing handed out is larger than the demuxer's bounds. Build with
// -DFUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION so that table checksums do not stop the fuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "audio/ts_demuxer.h"

namespace {

using vornel::audio::TsAudioCodec;
using vornel::audio::TsDemuxer;

// What came out, folded into hashes: holding it all would cost as much memory as the input.
struct Digest : TsDemuxer::Sink {
  std::uint64_t audio = 1469598103934665603u;
  std::uint64_t metadata = 1469598103934665603u;
  static void Mix(std::uint64_t& hash, const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211u;
  }
  void onAudio(TsAudioCodec codec, const std::uint8_t* data, std::size_t size) override {
    if (size == 0 || size > TsDemuxer::kMaxAudioHeld || codec == TsAudioCodec::None) std::abort();
    Mix(audio, data, size);  // where one call ends and the next begins may differ; the bytes may not
  }
  void onTimedMetadata(const std::uint8_t* data, std::size_t size) override {
    if (size == 0 || size > TsDemuxer::kMaxMetadataPes) std::abort();
    const std::uint8_t length[] = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                                   static_cast<std::uint8_t>(size >> 16)};
    Mix(metadata, length, sizeof length);
    Mix(metadata, data, size);
  }
};

struct Outcome {
  std::uint64_t audio, metadata;
  bool accepted;
  TsAudioCodec codec;
  bool operator==(const Outcome&) const = default;
};

Outcome Run(const std::uint8_t* data, std::size_t size, std::size_t cut1, std::size_t cut2) {
  Digest digest;
  TsDemuxer demuxer(digest);
  bool accepted = demuxer.feed(data, cut1);
  accepted = demuxer.feed(data + cut1, cut2 - cut1) && accepted;
  accepted = demuxer.feed(data + cut2, size - cut2) && accepted;
  demuxer.flush();
  return {digest.audio, digest.metadata, accepted, demuxer.audioCodec()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The cut points come from the input itself, so the fuzzer can steer them too.
  std::size_t a = size >= 2 ? (data[0] | data[1] << 8) % (size + 1) : 0;
  std::size_t b = size >= 4 ? (data[2] | data[3] << 8) % (size + 1) : size;
  if (a > b) std::swap(a, b);
  const Outcome whole = Run(data, size, 0, 0);
  if (!(Run(data, size, a, b) == whole)) std::abort();
  if (!(Run(data, size, std::min<std::size_t>(size, 1), std::min<std::size_t>(size, 189)) == whole))
    std::abort();

  // A discontinuity in the middle: no invariant, just no crash.
  Digest digest;
  TsDemuxer demuxer(digest);
  demuxer.feed(data, a);
  demuxer.reset();
  demuxer.feed(data + a, size - a);
  demuxer.flush();
  return 0;
}
