// Feeds arbitrary bytes to the HLS playlist reader; any crash, overflow, undefined behaviour or
// unbounded growth is a finding, and so is an answer that depends on how the network split the
// bytes, or a result that breaks the limits and the http(s)-only rule.
//
// Input: one byte choosing the chunk size, one choosing the bandwidth cap, then the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "audio/m3u8.h"

namespace {

using namespace vornel::audio;

// Schemes are case-insensitive, and absolute URLs keep their spelling.
bool IsHttp(std::string url) {
  for (char& c : url) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

bool Same(const HlsPlaylist& a, const HlsPlaylist& b) {
  if (a.master != b.master || a.targetDuration != b.targetDuration || a.mediaSequence != b.mediaSequence ||
      a.endList != b.endList || a.mapUri != b.mapUri || a.encrypted != b.encrypted ||
      a.variants.size() != b.variants.size() || a.renditions.size() != b.renditions.size() ||
      a.segments.size() != b.segments.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.variants.size(); ++i) {
    const HlsVariant &x = a.variants[i], &y = b.variants[i];
    if (x.uri != y.uri || x.bandwidth != y.bandwidth || x.codecs != y.codecs ||
        x.audioGroup != y.audioGroup) {
      return false;
    }
  }
  for (std::size_t i = 0; i < a.renditions.size(); ++i) {
    const HlsRendition &x = a.renditions[i], &y = b.renditions[i];
    if (x.type != y.type || x.groupId != y.groupId || x.uri != y.uri || x.isDefault != y.isDefault)
      return false;
  }
  for (std::size_t i = 0; i < a.segments.size(); ++i) {
    const HlsSegment &x = a.segments[i], &y = b.segments[i];
    if (x.sequence != y.sequence || x.duration != y.duration || x.uri != y.uri ||
        x.discontinuity != y.discontinuity || x.byteRangeLength != y.byteRangeLength ||
        x.byteRangeOffset != y.byteRangeOffset) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = data[0] % 64 + 1;
  const long maxBandwidth = static_cast<long>(data[1]) * 4000 - 1;
  const char* body = reinterpret_cast<const char*>(data) + 2;
  size -= 2;

  M3u8Reader whole("https://h.example/live/index.m3u8");
  const bool wholeFed = whole.feed(body, size);
  const std::optional<HlsPlaylist> once = whole.finish();
  if (!wholeFed && once) std::abort();

  M3u8Reader pieces("https://h.example/live/index.m3u8");
  for (std::size_t at = 0; at < size; at += chunk) {
    if (!pieces.feed(body + at, std::min(chunk, size - at))) break;
  }
  const std::optional<HlsPlaylist> piecewise = pieces.finish();
  if (once.has_value() != piecewise.has_value() || (once && !Same(*once, *piecewise))) std::abort();
  if (pieces.feed(body, size) || piecewise.has_value() != pieces.finish().has_value()) std::abort();

  if (!once) return 0;
  if (once->segments.size() > kMaxHlsSegments || once->variants.size() > kMaxHlsSegments) std::abort();
  for (const HlsSegment& segment : once->segments) {
    if (!IsHttp(segment.uri) || segment.duration < 0) std::abort();
    if ((segment.byteRangeLength < 0) != (segment.byteRangeOffset < 0)) std::abort();
  }
  for (const HlsVariant& variant : once->variants) {
    if (!IsHttp(variant.uri) || variant.bandwidth < 0) std::abort();
  }
  if (!once->mapUri.empty() && !IsHttp(once->mapUri)) std::abort();
  for (long cap : {maxBandwidth, 0L, 320000L}) {
    const HlsVariant* chosen = ChooseVariant(once->variants, cap);
    if ((chosen == nullptr) != once->variants.empty()) std::abort();
    if (chosen != nullptr &&
        (chosen < once->variants.data() || chosen >= once->variants.data() + once->variants.size())) {
      std::abort();
    }
  }
  return 0;
}
