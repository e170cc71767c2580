#include "hls_reader.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "format_probe.h"
#include "id3.h"
#include "log.h"
#include "ts_demuxer.h"

namespace vornel::audio {

namespace {

using Clock = std::chrono::steady_clock;

// The boxes an fMP4/CMAF segment or init section begins with.
bool LooksLikeIsoMedia(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 8) return false;
  for (const char* box : {"ftyp", "styp", "moof", "sidx", "moov"}) {
    if (std::memcmp(bytes.data() + 4, box, 4) == 0) return true;
  }
  return false;
}

// Where a live stream is joined: kLiveStartSegments from the end of its playlist.
std::uint64_t LiveEdge(const HlsPlaylist& playlist) {
  const std::size_t count = playlist.segments.size();
  const std::size_t back = HlsLimits::kLiveStartSegments;
  return count > back ? playlist.segments[count - back].sequence : playlist.mediaSequence;
}

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The separate audio rendition a variant names, where its audio is not inside its own segments.
std::string AudioRenditionOf(const HlsPlaylist& master, const HlsVariant& variant) {
  std::string uri;
  for (const HlsRendition& rendition : master.renditions) {
    if (rendition.type != "AUDIO" || rendition.groupId != variant.audioGroup || rendition.uri.empty())
      continue;
    if (uri.empty() || rendition.isDefault) uri = rendition.uri;
  }
  return uri;
}

}  // namespace

std::optional<HlsPlaylist> HlsReader::load(const std::string& url) {
  std::vector<std::uint8_t> body;
  HttpClient::Response response;
  if (http_.fetch(url, kMaxM3u8Bytes, body, response) != HttpClient::Result::Done) {
    if (!abort_) LogLine("hls: cannot load %s: %s", url.c_str(), http_.lastError().c_str());
    return std::nullopt;
  }
  M3u8Reader reader(response.effectiveUrl.empty() ? url : response.effectiveUrl);
  if (!reader.feed(reinterpret_cast<const char*>(body.data()), body.size())) return std::nullopt;
  return reader.finish();
}

bool HlsReader::sleepUntil(Clock::time_point until) const {
  while (!abort_ && Clock::now() < until) {
    std::this_thread::sleep_for(
        std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
  }
  return !abort_;
}

bool HlsReader::run(const std::string& url, std::string_view text,
                    const std::vector<std::string>& headerLines) {
  M3u8Reader reader(url);
  std::optional<HlsPlaylist> playlist;
  if (reader.feed(text.data(), text.size())) playlist = reader.finish();
  if (!playlist) {
    LogLine("hls: not a playlist: %s", url.c_str());
    return false;
  }
  std::string mediaUrl = url;
  if (playlist->master) {
    const HlsVariant* variant = ChooseVariant(playlist->variants, HlsLimits::kMaxBandwidth);
    if (variant == nullptr) {
      LogLine("hls: no variant to play in %s", url.c_str());
      return false;
    }
    const std::string rendition = AudioRenditionOf(*playlist, *variant);
    mediaUrl = rendition.empty() ? variant->uri : rendition;
    playlist = load(mediaUrl);
    if (!playlist || playlist->master) return false;
  }
  if (!playlist->mapUri.empty()) {
    LogLine("hls: fMP4/CMAF segments are not played: %s", mediaUrl.c_str());
    return false;
  }
  if (playlist->encrypted) {
    LogLine("hls: encrypted segments are not played: %s", mediaUrl.c_str());
    return false;
  }
  if (playlist->segments.empty() && playlist->endList) return false;

  headerLines_ = headerLines;
  const double target = std::max(playlist->targetDuration, 1.0);
  const auto stallLimit = std::max<Clock::duration>(Seconds(3 * target), HlsLimits::kMinStallLimit);
  const bool live = !playlist->endList;
  std::uint64_t next = live ? LiveEdge(*playlist) : playlist->mediaSequence;
  bool started = false;
  auto loadedAt = Clock::now();
  auto newSegmentAt = loadedAt;
  int failures = 0;

  for (;;) {
    bool changed = false;
    for (const HlsSegment& segment : playlist->segments) {
      if (segment.sequence < next) continue;
      if (abort_) return receiver_.audioFound();
      if (started && segment.sequence > next) {
        LogLine("hls: segments %llu to %llu missing, skipped", static_cast<unsigned long long>(next),
                static_cast<unsigned long long>(segment.sequence - 1));
      }
      changed = true;
      started = true;
      next = segment.sequence + 1;
      newSegmentAt = Clock::now();
      if (!playSegment(segment)) return receiver_.audioFound();
    }
    if (playlist->endList) return receiver_.audioFound();
    if (!changed && Clock::now() - newSegmentAt > stallLimit) {
      LogLine("hls: no new segment for %lld s, the stream has ended: %s",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(stallLimit).count()),
              mediaUrl.c_str());
      return receiver_.audioFound();
    }
    if (!sleepUntil(loadedAt + Seconds(changed ? target : target / 2))) return receiver_.audioFound();
    loadedAt = Clock::now();
    std::optional<HlsPlaylist> reloaded = load(mediaUrl);
    if (!reloaded || reloaded->master) {
      if (abort_ || ++failures >= HlsLimits::kMaxReloadFailures) return receiver_.audioFound();
      continue;
    }
    failures = 0;
    // A sequence that went backwards means the server started again: join its live edge anew.
    if (!reloaded->segments.empty() && reloaded->segments.back().sequence + 1 < next) {
      LogLine("hls: media sequence went back from %llu; starting again at the live edge",
              static_cast<unsigned long long>(next));
      next = LiveEdge(*reloaded);
    }
    playlist = std::move(reloaded);
  }
}

bool HlsReader::playSegment(const HlsSegment& segment) {
  std::string range;
  if (segment.byteRangeLength > 0) {
    const std::int64_t offset =
        segment.byteRangeOffset >= 0 ? segment.byteRangeOffset : (segment.uri == rangeUri_ ? rangeEnd_ : 0);
    range = std::to_string(offset) + "-" + std::to_string(offset + segment.byteRangeLength - 1);
    rangeUri_ = segment.uri;
    rangeEnd_ = offset + segment.byteRangeLength;
  }
  HttpClient::Response response;
  const HttpClient::Result result =
      http_.fetch(segment.uri, HlsLimits::kMaxSegmentBytes, segment_, response, range);
  if (result == HttpClient::Result::Aborted) return false;
  if (result != HttpClient::Result::Done) {
    // A segment that cannot be had is skipped, as a gap is: the next one may well come. When
    // none comes, the station has gone.
    LogLine("hls: segment %llu skipped: %s", static_cast<unsigned long long>(segment.sequence),
            http_.lastError().c_str());
    return ++segmentFailures_ < HlsLimits::kMaxSegmentFailures;
  }
  segmentFailures_ = 0;
  if (!announced_) {
    announced_ = true;
    receiver_.audioResponse(headerLines_, false);
  }
  return playSegmentBytes(segment_, segment.uri);
}

bool HlsReader::playSegmentBytes(const std::vector<std::uint8_t>& bytes, const std::string& url) {
  if (LooksLikeIsoMedia(bytes)) {
    LogLine("hls: fMP4/CMAF segments are not played: %s", url.c_str());
    return false;
  }
  if (LooksLikeTransportStream(bytes.data(), bytes.size())) {
    TsDemuxer demuxer(audio_);
    demuxer.feed(bytes.data(), bytes.size());
    demuxer.flush();
    if (demuxer.audioCodec() == TsAudioCodec::None) LogLine("hls: no audio we play in %s", url.c_str());
    return !audio_.failed();
  }
  // Packed audio: an ID3 tag with the segment's timestamp (and perhaps a title), then frames.
  std::size_t start = 0;
  const std::size_t tag = Id3TagSize(bytes.data(), bytes.size());
  if (tag > 0 && tag <= bytes.size()) {
    audio_.id3(bytes.data(), tag);
    start = tag;
  }
  const BodySniff sniff = SniffBody(bytes.data() + start, bytes.size() - start, {}, true);
  const std::optional<AudioFormat> format = AudioFormatOf(sniff.kind);
  // HLS carries ADTS or MPEG audio behind the tag; Ogg has no place in a segment.
  if (!format || *format == AudioFormat::Ogg) {
    LogLine("hls: segment of %s skipped: %s", BodyKindName(sniff.kind), url.c_str());
    return true;
  }
  start += sniff.audioStart;
  return audio_.feed(*format, bytes.data() + start, bytes.size() - start);
}

}  // namespace vornel::audio
