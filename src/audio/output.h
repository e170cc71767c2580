#pragma once

// The audio output device: one SDL2 playback device at a fixed rate, 16-bit stereo. On SDL's
// audio thread it mixes the decoded audio of every playing stream at the global volume.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace vornel::audio {

class Stream;

class Output {
 public:
  static constexpr int kChannels = 2;

  // Opens the system's default output at `frequency` Hz. False when no device can be opened.
  bool open(int frequency);
  void close();
  bool isOpen() const;
  int frequency() const { return frequency_; }

  // Global stream volume in per cent, read by the mixer on every buffer.
  void setVolume(int percent) { volume_.store(percent, std::memory_order_relaxed); }
  int volume() const { return volume_.load(std::memory_order_relaxed); }

  // Streams the mixer reads from. After remove() returns, the mixer no longer touches the stream.
  void add(const std::shared_ptr<Stream>& stream);
  void remove(const Stream* stream);

 private:
  static void fill(void* self, std::uint8_t* stream, int length);
  void mix(std::int16_t* out, std::size_t frames);

  mutable std::mutex deviceMutex_;  // guards device_ against open/close from two threads
  std::uint32_t device_ = 0;        // SDL_AudioDeviceID; 0 = closed
  int frequency_ = 0;
  std::atomic<int> volume_{100};

  std::mutex sourcesMutex_;                       // held by the mixer while it reads
  std::vector<std::shared_ptr<Stream>> sources_;  // guarded by sourcesMutex_
  std::vector<std::int16_t> scratch_;             // audio thread only: a second stream's audio
};

}  // namespace vornel::audio
