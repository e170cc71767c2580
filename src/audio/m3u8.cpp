#include "m3u8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "playlist.h"
#include "text.h"

namespace vornel::audio {

namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kHeader = "#EXTM3U";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Resolved, and only when the result may be fetched. An empty reference would resolve to the
// playlist itself, which is never what an empty URI attribute means.
std::string HttpUrl(const std::string& base, std::string_view reference) {
  if (TrimBlanks(reference).empty()) return {};
  std::string url = ResolveUrl(base, reference);
  if (!StartsWithIgnoreCase(url, "http://") && !StartsWithIgnoreCase(url, "https://")) url.clear();
  return url;
}

// The value of one attribute of an RFC 8216 attribute list, without its quotes; quoted values may
// hold commas. Names match without regard to case, and spaces around names and values are allowed.
std::optional<std::string_view> FindAttribute(std::string_view list, std::string_view wanted) {
  std::size_t p = 0;
  while (p < list.size()) {
    const std::size_t eq = list.find_first_of("=,", p);
    if (eq == npos) break;
    const std::string_view name = TrimBlanks(list.substr(p, eq - p));
    if (list[eq] == ',') {  // a name without a value
      p = eq + 1;
      continue;
    }
    std::size_t q = eq + 1;
    while (q < list.size() && IsBlank(list[q])) ++q;
    std::string_view value;
    std::size_t next;
    if (q < list.size() && list[q] == '"') {
      const std::size_t close = std::min(list.find('"', q + 1), list.size());
      value = list.substr(q + 1, close - q - 1);
      next = close < list.size() ? list.find(',', close + 1) : npos;
    } else {
      next = list.find(',', q);
      value = TrimBlanks(list.substr(q, next == npos ? npos : next - q));
    }
    if (EqualsIgnoreCase(name, wanted)) return value;
    p = next == npos ? list.size() : next + 1;
  }
  return std::nullopt;
}

std::string AttributeString(std::string_view list, std::string_view name) {
  return std::string(FindAttribute(list, name).value_or(std::string_view()));
}

// A finite number at the start of `text`; what follows it is ignored.
std::optional<double> ParseDouble(std::string_view text) {
  text = TrimBlanks(text);
  if (text.starts_with('+')) text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// A decimal integer at the start of `text`, clamped to T's range when it is too large.
template <typename T>
std::optional<T> ParseInteger(std::string_view text) {
  text = TrimBlanks(text);
  if (text.starts_with('+')) text.remove_prefix(1);
  T value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    return text.starts_with('-') ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
  }
  if (ec != std::errc()) return std::nullopt;
  return value;
}

bool IsVideoCodec(std::string_view codec) {
  static constexpr std::string_view kVideo[] = {"avc1", "avc3", "hvc1", "hev1", "vp09",
                                                "vp08", "av01", "dvh1", "dvhe", "mp4v"};
  codec = TrimBlanks(codec.substr(0, codec.find('.')));
  return std::any_of(std::begin(kVideo), std::end(kVideo),
                     [&](std::string_view v) { return EqualsIgnoreCase(codec, v); });
}

bool IsAudioOnly(const HlsVariant& variant) {
  std::string_view codecs = variant.codecs;
  while (true) {
    const std::size_t comma = codecs.find(',');
    if (IsVideoCodec(codecs.substr(0, comma))) return false;
    if (comma == npos) return true;
    codecs.remove_prefix(comma + 1);
  }
}

}  // namespace

M3u8Reader::M3u8Reader(std::string baseUrl) : baseUrl_(std::move(baseUrl)) {}

bool M3u8Reader::fail() {
  failed_ = true;
  std::string().swap(line_);
  playlist_ = HlsPlaylist();
  return false;
}

bool M3u8Reader::headerStillPossible() const {
  std::string_view line = line_;
  if (line.size() < kBom.size() && kBom.starts_with(line)) return true;
  if (line.starts_with(kBom)) line.remove_prefix(kBom.size());
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  const std::size_t n = std::min(line.size(), kHeader.size());
  return EqualsIgnoreCase(line.substr(0, n), kHeader.substr(0, n));
}

bool M3u8Reader::feed(const char* data, std::size_t size) {
  if (failed_ || finished_) return false;
  if (size > kMaxM3u8Bytes - bytes_) return fail();
  bytes_ += size;
  const std::string_view input(data, size);
  std::size_t pos = 0;
  while (pos < input.size()) {
    const std::size_t end = input.find_first_of("\r\n", pos);
    const std::size_t stop = end == npos ? input.size() : end;
    if (line_.size() + (stop - pos) > kMaxM3u8LineBytes) return fail();
    line_.append(input.substr(pos, stop - pos));
    if (end == npos) break;
    // A CRLF pair gives an empty line in between, and empty lines mean nothing.
    readLine(line_);
    line_.clear();
    if (failed_) return false;
    pos = end + 1;
  }
  if (!sawHeader_ && !headerStillPossible()) return fail();
  return true;
}

std::optional<HlsPlaylist> M3u8Reader::finish() {
  if (!finished_) {
    finished_ = true;
    if (!failed_ && !line_.empty()) readLine(line_);
    std::string().swap(line_);
    if (!failed_ && !sawHeader_) fail();
    // The media sequence may come after the first segments in a sloppy playlist.
    for (HlsSegment& segment : playlist_.segments) segment.sequence += playlist_.mediaSequence;
  }
  if (failed_) return std::nullopt;
  return playlist_;
}

void M3u8Reader::readLine(std::string_view line) {
  if (!sawHeader_) {
    if (line.starts_with(kBom)) line.remove_prefix(kBom.size());
    line = TrimBlanks(line);
    if (line.empty()) return;
    if (!StartsWithIgnoreCase(line, kHeader)) {
      fail();
      return;
    }
    sawHeader_ = true;
    return;
  }
  line = TrimBlanks(line);
  if (line.empty()) return;
  if (!line.starts_with('#')) {
    readUri(line);
    return;
  }
  if (!StartsWithIgnoreCase(line, "#EXT")) return;  // a comment
  const std::size_t colon = line.find(':');
  const std::string_view name = TrimBlanks(line.substr(1, colon == npos ? npos : colon - 1));
  readTag(name, colon == npos ? std::string_view() : TrimBlanks(line.substr(colon + 1)));
}

void M3u8Reader::readTag(std::string_view name, std::string_view value) {
  const auto is = [&](std::string_view tag) { return EqualsIgnoreCase(name, tag); };
  if (is("EXTINF")) {
    pendingDuration_ = std::max(0.0, ParseDouble(value.substr(0, value.find(','))).value_or(0));
  } else if (is("EXT-X-TARGETDURATION")) {
    playlist_.targetDuration = std::max(0.0, ParseDouble(value).value_or(0));
  } else if (is("EXT-X-MEDIA-SEQUENCE")) {
    playlist_.mediaSequence = ParseInteger<std::uint64_t>(value).value_or(0);
  } else if (is("EXT-X-ENDLIST")) {
    playlist_.endList = true;
  } else if (is("EXT-X-DISCONTINUITY")) {
    pendingDiscontinuity_ = true;
  } else if (is("EXT-X-BYTERANGE")) {
    const std::size_t at = value.find('@');
    const auto length = ParseInteger<std::int64_t>(value.substr(0, at));
    const auto offset =
        at == npos ? std::optional<std::int64_t>(0) : ParseInteger<std::int64_t>(value.substr(at + 1));
    if (length && offset && *length >= 0 && *offset >= 0) {
      pendingRangeLength_ = *length;
      pendingRangeOffset_ = at == npos ? -1 : *offset;  // -1: after the previous range
    }
  } else if (is("EXT-X-KEY")) {
    const std::string_view method = TrimBlanks(FindAttribute(value, "METHOD").value_or(std::string_view()));
    if (!method.empty() && !EqualsIgnoreCase(method, "NONE")) playlist_.encrypted = true;
  } else if (is("EXT-X-MAP")) {
    if (std::string uri = HttpUrl(baseUrl_, FindAttribute(value, "URI").value_or("")); !uri.empty()) {
      playlist_.mapUri = std::move(uri);
    }
  } else if (is("EXT-X-STREAM-INF")) {
    playlist_.master = true;
    HlsVariant variant;
    variant.bandwidth =
        std::max(0L, ParseInteger<long>(FindAttribute(value, "BANDWIDTH").value_or("")).value_or(0));
    variant.codecs = AttributeString(value, "CODECS");
    variant.audioGroup = AttributeString(value, "AUDIO");
    pendingVariant_ = std::move(variant);
  } else if (is("EXT-X-MEDIA")) {
    if (playlist_.renditions.size() >= kMaxHlsSegments) {
      fail();
      return;
    }
    HlsRendition rendition;
    rendition.type = AttributeString(value, "TYPE");
    std::transform(rendition.type.begin(), rendition.type.end(), rendition.type.begin(), Upper);
    rendition.groupId = AttributeString(value, "GROUP-ID");
    rendition.isDefault = EqualsIgnoreCase(TrimBlanks(FindAttribute(value, "DEFAULT").value_or("")), "YES");
    if (const auto uri = FindAttribute(value, "URI")) {
      rendition.uri = HttpUrl(baseUrl_, *uri);
      if (rendition.uri.empty()) return;
    }
    playlist_.renditions.push_back(std::move(rendition));
  }
}

void M3u8Reader::readUri(std::string_view uri) {
  if (pendingVariant_) {
    if (playlist_.variants.size() >= kMaxHlsSegments) {
      fail();
      return;
    }
    pendingVariant_->uri = HttpUrl(baseUrl_, uri);
    if (!pendingVariant_->uri.empty()) playlist_.variants.push_back(std::move(*pendingVariant_));
    pendingVariant_.reset();
    return;
  }
  if (uriLines_ >= kMaxHlsSegments) {
    fail();
    return;
  }
  HlsSegment segment;
  segment.sequence = uriLines_++;
  segment.duration = pendingDuration_.value_or(0);
  segment.uri = HttpUrl(baseUrl_, uri);
  segment.discontinuity = pendingDiscontinuity_;
  if (pendingRangeLength_ >= 0) {
    segment.byteRangeLength = pendingRangeLength_;
    segment.byteRangeOffset = pendingRangeOffset_;
    if (segment.byteRangeOffset < 0) {
      // Without an offset the range follows the previous one in the same resource.
      segment.byteRangeOffset = 0;
      if (!playlist_.segments.empty()) {
        const HlsSegment& previous = playlist_.segments.back();
        if (previous.uri == segment.uri && previous.byteRangeLength >= 0 &&
            previous.byteRangeLength <= std::numeric_limits<std::int64_t>::max() - previous.byteRangeOffset) {
          segment.byteRangeOffset = previous.byteRangeOffset + previous.byteRangeLength;
        }
      }
    }
  }
  pendingDuration_.reset();
  pendingRangeLength_ = pendingRangeOffset_ = -1;
  // A segment that cannot be fetched leaves a gap, which the player must treat like a discontinuity.
  pendingDiscontinuity_ = segment.uri.empty();
  if (!segment.uri.empty()) playlist_.segments.push_back(std::move(segment));
}

const HlsVariant* ChooseVariant(const std::vector<HlsVariant>& variants, long maxBandwidth) {
  const bool audioOnlyExists = std::any_of(variants.begin(), variants.end(), IsAudioOnly);
  const HlsVariant* best = nullptr;
  const HlsVariant* lowest = nullptr;
  for (const HlsVariant& variant : variants) {
    if (audioOnlyExists && !IsAudioOnly(variant)) continue;
    if (variant.bandwidth <= maxBandwidth && (best == nullptr || variant.bandwidth > best->bandwidth)) {
      best = &variant;
    }
    if (lowest == nullptr || variant.bandwidth < lowest->bandwidth) lowest = &variant;
  }
  return best != nullptr ? best : lowest;
}

}  // namespace vornel::audio
