#pragma once

// The audio output: one playback stream of the sound system (see sink.h) at a fixed rate, 16-bit
// stereo. On the sink's thread it mixes the decoded audio of every playing stream at the global
// volume. The sink is open only while a stream plays: an open one runs an audio thread, and it
// would wake the process several times a second with nothing to play.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sink.h"

namespace vornel::audio {

class Stream;

class Output {
 public:
  static constexpr int kChannels = 2;

  // Makes sure the system's default output opens at `frequency` Hz, and lets it go again until a
  // stream plays. False when no device can be opened.
  bool open(int frequency);
  void close();
  bool isOpen() const;
  // The device itself is open: a stream is playing.
  bool deviceOpen() const;
  int frequency() const { return frequency_; }

  // Global stream volume in per cent, applied by the mixer on every buffer or by the sink.
  void setVolume(int percent) { volume_.store(percent, std::memory_order_relaxed); }
  int volume() const { return volume_.load(std::memory_order_relaxed); }

  // Streams the mixer reads from. The first one opens the device (false when it will not open);
  // after remove() returns, the mixer no longer touches the stream, and the last one closes it.
  bool add(const std::shared_ptr<Stream>& stream);
  void remove(const Stream* stream);

 private:
  // With deviceMutex_ held.
  bool openDevice();
  void closeDevice();
  static void fill(void* self, std::int16_t* out, std::size_t frames);
  void mix(std::int16_t* out, std::size_t frames);

  // Guards sink_, deviceOpen_ and frequency_, and orders every change of the sources with the
  // sink's opening and closing. Never taken on the audio thread, so closing may wait for that
  // thread.
  mutable std::mutex deviceMutex_;
  std::unique_ptr<Sink> sink_;  // null until open() found one
  bool deviceOpen_ = false;
  bool mixerScales_ = true;  // set before the audio thread starts; false where the sink scales
  int frequency_ = 0;        // 0 until open() found a device
  std::atomic<int> volume_{100};

  std::mutex sourcesMutex_;                       // held by the mixer while it reads
  std::vector<std::shared_ptr<Stream>> sources_;  // guarded by sourcesMutex_
  std::vector<std::int16_t> scratch_;             // audio thread only: a second stream's audio
};

}  // namespace vornel::audio
