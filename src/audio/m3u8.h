#pragma once

// Reads an HLS playlist (RFC 8216): the master's variants and renditions, or a media playlist's
// segments. A push parser with no I/O, so that a body can be read as it downloads and dropped as
// soon as it cannot be a playlist. Real servers bend the rules (lower-case tags, spaces around
// values, CRLF, a BOM, no EXT-X-VERSION), so everything not needed to play audio is ignored
// rather than refused. Memory stays bounded whatever arrives.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::audio {

struct HlsVariant {
  std::string uri;
  long bandwidth = 0;  // bits/s; 0 when the tag had none
  std::string codecs;
  std::string audioGroup;  // the AUDIO attribute: GROUP-ID of the renditions that carry its sound
};

struct HlsRendition {  // EXT-X-MEDIA
  std::string type;    // upper case: AUDIO, VIDEO, SUBTITLES, CLOSED-CAPTIONS
  std::string groupId;
  std::string uri;  // resolved; empty when the rendition lives in the variant's own stream
  bool isDefault = false;
};

struct HlsSegment {
  std::uint64_t sequence = 0;
  double duration = 0;  // seconds
  std::string uri;      // resolved
  bool discontinuity = false;
  std::int64_t byteRangeLength = -1, byteRangeOffset = -1;  // -1: the whole resource
};

struct HlsPlaylist {
  bool master = false;               // has EXT-X-STREAM-INF
  std::vector<HlsVariant> variants;  // master only, uris resolved
  std::vector<HlsRendition> renditions;
  double targetDuration = 0;  // seconds
  std::uint64_t mediaSequence = 0;
  std::vector<HlsSegment> segments;  // uris resolved
  bool endList = false;
  std::string mapUri;      // EXT-X-MAP (fMP4/CMAF init section) resolved; non-empty means fMP4 segments
  bool encrypted = false;  // any EXT-X-KEY with METHOD other than NONE
};

// Every URI is resolved against the base URL; entries whose address is not http(s) once resolved
// are dropped, since a remote playlist must not reach local files or other protocols.
class M3u8Reader {
 public:
  explicit M3u8Reader(std::string baseUrl);

  // Bytes as they arrive; false once the input can no longer be a playlist (no #EXTM3U first line,
  // over the byte/line/segment limits). The header is checked as soon as its bytes are there, so
  // audio sent in place of a playlist is refused at its first chunk.
  bool feed(const char* data, std::size_t size);

  // The playlist read so far (the last line may lack its line end); nullopt when it was not a valid
  // playlist. Ends the input: later feeds return false, later calls give the same answer.
  std::optional<HlsPlaylist> finish();

 private:
  void readLine(std::string_view line);
  void readTag(std::string_view name, std::string_view value);
  void readUri(std::string_view uri);
  bool fail();
  bool headerStillPossible() const;

  std::string baseUrl_;
  std::string line_;  // the incomplete last line, at most kMaxM3u8LineBytes
  std::size_t bytes_ = 0;
  bool failed_ = false;
  bool finished_ = false;
  bool sawHeader_ = false;
  HlsPlaylist playlist_;
  std::uint64_t uriLines_ = 0;  // segment lines read, kept or not: the next segment's sequence offset
  // What the tags before the next URI line said about it.
  std::optional<HlsVariant> pendingVariant_;
  std::optional<double> pendingDuration_;
  bool pendingDiscontinuity_ = false;
  std::int64_t pendingRangeLength_ = -1, pendingRangeOffset_ = -1;
};

// The variant to play: the highest BANDWIDTH at or below maxBandwidth (bits/s); if all are above, the lowest.
// Prefer audio-only variants (CODECS without avc1/avc3/hvc1/hev1/vp08/vp09/av01/dvh1/dvhe/mp4v) when there
// are any; a variant without CODECS counts as audio-only, since audio-only streams are the ones that tend
// to leave it out.
// Null when there are none.
const HlsVariant* ChooseVariant(const std::vector<HlsVariant>& variants, long maxBandwidth = 320000);

inline constexpr std::size_t kMaxM3u8Bytes = 1024 * 1024;
inline constexpr std::size_t kMaxHlsSegments = 10000;  // also the limit on variants and on renditions
inline constexpr std::size_t kMaxM3u8LineBytes = 16 * 1024;

}  // namespace vornel::audio
