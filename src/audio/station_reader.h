#pragma once

// The download thread's work for one station address: what the address answers with decides
// what happens. An audio stream (MP3, AAC, Ogg, MPEG-TS) is demultiplexed and played; a playlist
// of addresses is read and its entries are tried in order until one plays, nesting up to
// kMaxPlaylistDepth lists; an HLS playlist is played segment by segment (HlsReader).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "http_client.h"
#include "pipeline.h"

namespace vornel::audio {

// What the reader hands its results to: the stream that the player holds.
class StationReceiver : public AudioPipeline::Sink {
 public:
  // The response whose body proved to be audio: its header lines (status line first) and
  // whether ICY metadata blocks come with it.
  virtual void audioResponse(const std::vector<std::string>& headerLines, bool icyMetadata) = 0;
  // Before another address is tried: whatever the previous one left behind is dropped, and that
  // address gets its own time to start.
  virtual void newAttempt() = 0;
  // True once audio has been decoded: the station is then committed to this address.
  virtual bool audioFound() const = 0;
};

inline constexpr int kMaxPlaylistDepth = 3;

class StationReader {
 public:
  StationReader(StationReceiver& receiver, int outputRate, const std::atomic<bool>& abort)
      : receiver_(receiver), outputRate_(outputRate), abort_(abort), http_(abort) {}

  // Returns when the station has ended, failed, or the abort flag was set.
  void run(const std::string& url) { tryAddress(url, 0); }

 private:
  // True when the address played.
  bool tryAddress(const std::string& url, int depth);

  StationReceiver& receiver_;
  const int outputRate_;
  const std::atomic<bool>& abort_;
  HttpClient http_;
};

}  // namespace vornel::audio
