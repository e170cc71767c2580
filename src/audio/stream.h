#pragma once

// One internet-radio stream: its download thread (libcurl), the ICY demultiplexer, the decoder
// and the buffer of decoded audio the output device plays from.

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
#include "decoder.h"
#include "icy_demuxer.h"
#include "pcm_ring.h"

struct curl_slist;

namespace vornel::audio {

class MetaDispatcher;

// Limits that keep a stream's memory bounded and its connect short, whatever the server does.
struct StreamLimits {
  static constexpr std::chrono::seconds kConnectTimeout{5};        // TCP (and TLS) connect
  static constexpr std::chrono::seconds kFirstAudioTimeout{8};     // from the call to playable audio
  static constexpr std::chrono::milliseconds kFirstTitleWait{500}; // for a title that comes with the burst
  static constexpr long kStallSeconds = 10;                        // no data for this long ends the download
  static constexpr long kMaxRedirects = 5;
  static constexpr std::size_t kMaxHeaderLines = 100;
  static constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
  static constexpr std::size_t kBufferFrames = 44100 * 3;          // 3 s of decoded audio
  static constexpr std::size_t kResumeFrames = 44100 / 2;          // refill after running dry
  static constexpr std::size_t kMetadataHistory = 16;              // old texts kept valid
};

class Stream {
 public:
  Stream(std::string url, DOWNLOADPROC* proc, void* user, std::shared_ptr<MetaDispatcher> dispatcher,
         int outputRate);
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Starts the download and waits until audio can start (true) or the station turned out
  // unreachable or not an MP3 stream (false; the download has then ended).
  bool connect();

  // BASS_TAGS_HEADERS: valid for the stream's life.
  const char* headerTags() const { return headers_.data(); }
  // BASS_TAGS_META: null before any metadata.
  const char* metadataTag() const;

  void addSync(HSYNC sync, SYNCPROC* proc, void* user, DWORD channel);

  void play() { playing_ = true; }
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
  void configure(void* curl, curl_slist* aliases, curl_slist* headers);
  bool onHeaderLine(const char* data, std::size_t size);
  bool onBody(const std::uint8_t* data, std::size_t size);
  bool startBody(void* curl);
  bool onAudio(const std::uint8_t* data, std::size_t size);
  void onMetadata(std::string_view text);
  void deliver(const std::uint8_t* data, std::size_t size);

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
  std::vector<std::string> headerLines_;
  std::size_t headerBytes_ = 0;
  void* curlForBody_ = nullptr;
  bool bodyStarted_ = false;
  bool probed_ = false;
  std::unique_ptr<IcyDemuxer> demuxer_;
  Decoder decoder_;
  std::vector<std::uint8_t> probe_;        // audio bytes until they prove to be MP3
  std::vector<std::uint8_t> undelivered_;  // audio bytes not yet handed to the download callback
  std::vector<std::int16_t> pcm_;          // scratch
  std::string lastTitleBlock_;

  std::mutex threadMutex_;  // guards starting and joining thread_: stop() may come from two threads
  std::thread thread_;
};

}  // namespace vornel::audio
