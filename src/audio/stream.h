#pragma once

// One internet-radio stream as the player holds it: its download thread (which reads the station
// through a StationReader), the buffer of decoded audio the output device plays from, the
// metadata texts and syncs, and the hand-over of the stream's bytes to the download callback.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bass.h"
#include "pcm_ring.h"
#include "station_reader.h"

namespace vornel::audio {

class MetaDispatcher;

// Limits that keep a stream's memory bounded and its connect short, whatever the server does.
struct StreamLimits {
  static constexpr std::chrono::seconds kFirstAudioTimeout{8};     // from an address to playable audio
  static constexpr std::chrono::seconds kConnectLimit{20};         // the whole connect, playlists included
  static constexpr std::chrono::milliseconds kFirstTitleWait{500}; // for a title that comes with the burst
  static constexpr std::size_t kMaxHeldBack = 2 * 1024 * 1024;     // stream bytes held before hand-out
  static constexpr std::size_t kBufferFrames = 44100 * 3;          // 3 s of decoded audio
  static constexpr std::size_t kResumeFrames = 44100 / 2;          // refill after running dry
  static constexpr std::size_t kMetadataHistory = 16;              // old texts kept valid
};

class Stream final : private StationReceiver {
 public:
  Stream(std::string url, DOWNLOADPROC* proc, void* user, std::shared_ptr<MetaDispatcher> dispatcher,
         int outputRate);
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Starts the download and waits until audio can start (true) or the station turned out
  // unreachable or not audio we play (false; the download has then ended).
  bool connect();

  // BASS_TAGS_HEADERS: valid for the stream's life.
  const char* headerTags() const { return headers_.data(); }
  // BASS_TAGS_META: null before any metadata.
  const char* metadataTag() const;

  void addSync(HSYNC sync, SYNCPROC* proc, void* user, DWORD channel);

  void play() { playing_ = true; }
  // Stopped, or downloaded and played out: playing it again would play nothing.
  bool finished() const { return abort_ || (ended_ && ring_.bufferedFrames() == 0); }
  // Stops playback and the download; returns once the download thread has ended.
  void stop();

  DWORD state() const;

  // When the output first took audio of this stream (for measurements); epoch until then.
  std::chrono::steady_clock::time_point firstSoundAt() const { return firstSoundAt_.load(); }

  // Output thread: up to `frames` frames of decoded audio, 0 while stopped or refilling.
  std::size_t readPcm(std::int16_t* out, std::size_t frames);

 private:
  enum class Phase { Connecting, Ready, Failed };

  void download();
  void deliver(const std::uint8_t* data, std::size_t size);

  // StationReceiver, on the download thread.
  void block(const std::uint8_t* data, std::size_t size) override;
  bool pcm(const std::int16_t* samples, std::size_t frames) override;
  void title(const std::string& text) override;
  void audioResponse(const std::vector<std::string>& headerLines, bool icyMetadata) override;
  void newAttempt() override;
  bool audioFound() const override;

  // Fixed at construction.
  const std::string url_;
  DOWNLOADPROC* const proc_;
  void* const user_;
  const std::shared_ptr<MetaDispatcher> dispatcher_;  // outlives the stream whatever the order of release
  const int outputRate_;

  // Shared between the caller's thread, the download thread and the output thread.
  std::atomic<bool> abort_{false};
  std::atomic<bool> playing_{false};
  std::atomic<bool> stalled_{false};      // output thread only writes it
  std::atomic<bool> ended_{false};        // the download has finished
  std::atomic<bool> ready_{false};        // mirrors phase_ == Ready for the download thread's fast path
  std::atomic<std::chrono::steady_clock::time_point> firstSoundAt_{};  // output thread writes it once
  PcmRing ring_;

  mutable std::mutex mutex_;
  std::condition_variable phaseChanged_;
  Phase phase_ = Phase::Connecting;                        // guarded by mutex_
  bool audioFound_ = false;                                // guarded by mutex_
  bool hasMetadata_ = false;                               // guarded by mutex_
  bool titleSeen_ = false;                                 // guarded by mutex_
  std::chrono::steady_clock::time_point audioFoundAt_;     // guarded by mutex_
  std::chrono::steady_clock::time_point connectStart_;     // guarded by mutex_
  std::chrono::steady_clock::time_point deadline_;         // for audio; guarded by mutex_
  std::deque<std::shared_ptr<const std::string>> metadata_;  // newest last; guarded by mutex_
  struct Sync {
    HSYNC handle;
    SYNCPROC* proc;
    void* user;
    DWORD channel;
  };
  std::vector<Sync> syncs_;                                // guarded by mutex_

  // Download thread only until Ready; read-only for every thread afterwards.
  std::vector<char> headers_{'\0'};

  // Download thread only.
  std::vector<std::uint8_t> undelivered_;  // stream bytes not yet handed to the download callback
  std::string lastTitleBlock_;

  std::mutex threadMutex_;  // guards starting and joining thread_: stop() may come from two threads
  std::thread thread_;
};

}  // namespace vornel::audio
