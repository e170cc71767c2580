#pragma once

// HLS live audio: a master playlist's variant (the highest bandwidth up to 320 kbit/s, audio-only
// variants first), its media playlist reloaded on the target duration, and its segments played in
// order: MPEG-TS with ADTS AAC or MPEG audio, or packed audio (ADTS or MPEG audio frames behind an
// ID3 tag). Titles come from the segments' ID3 tags. A gap in the sequence is skipped; segments of
// fMP4/CMAF and encrypted segments are refused.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "elementary.h"
#include "http_client.h"
#include "m3u8.h"
#include "station_reader.h"

namespace vornel::audio {

struct HlsLimits {
  static constexpr long kMaxBandwidth = 320000;  // bits/s
  static constexpr std::size_t kMaxSegmentBytes = 16 * 1024 * 1024;
  static constexpr std::size_t kLiveStartSegments = 3;       // from the live edge
  static constexpr int kMaxReloadFailures = 5;               // in a row, then the stream ends
  static constexpr int kMaxSegmentFailures = 10;             // in a row, then the stream ends
  static constexpr std::chrono::seconds kMinStallLimit{15};  // no new segment for this long ends it
};

class HlsReader {
 public:
  HlsReader(HttpClient& http, StationReceiver& receiver, int outputRate, const std::atomic<bool>& abort)
      : http_(http), receiver_(receiver), abort_(abort), audio_(receiver, outputRate) {}

  // Plays the playlist `text` that `url` answered with; returns when the stream ends. True when
  // it played.
  bool run(const std::string& url, std::string_view text, const std::vector<std::string>& headerLines);

 private:
  std::optional<HlsPlaylist> load(const std::string& url);
  bool playSegment(const HlsSegment& segment);
  bool playSegmentBytes(const std::vector<std::uint8_t>& bytes, const std::string& url);
  // Sleeps until `until`, waking at once on abort. False when aborted.
  bool sleepUntil(std::chrono::steady_clock::time_point until) const;

  HttpClient& http_;
  StationReceiver& receiver_;
  const std::atomic<bool>& abort_;
  ElementaryAudio audio_;
  bool announced_ = false;
  int segmentFailures_ = 0;  // segments in a row that could not be had
  std::vector<std::string> headerLines_;
  std::vector<std::uint8_t> segment_;  // the segment being played
  // Where the last byte range of a file ended: a range without an offset continues it.
  std::string rangeUri_;
  std::int64_t rangeEnd_ = 0;
};

}  // namespace vornel::audio
